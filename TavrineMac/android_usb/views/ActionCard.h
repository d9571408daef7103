#pragma once

#include "DeviceDashboardPresentation.h"

#include <QWidget>

class QLabel;
class QLayout;
class QVBoxLayout;

// The frame of the dashboard's quick actions: an icon tile in the card's tint, a title, a subtitle that wraps
// and is never cut, and the card's own controls at the bottom. At least 210 pixels high, as wide as it is given.
class ActionCard : public QWidget
{
    Q_OBJECT

public:
    ActionCard(const DeviceDashboardPresentation::ActionCardStyle &style, QWidget *parent = nullptr);

    QString title() const;
    QString subtitle() const;
    Symbol icon() const { return m_icon; }

    static constexpr int minimumCardHeight = 210;

protected:
    void setSubtitle(const QString &subtitle);
    // Puts the card's controls under the titles; called once by each card.
    void setControls(QLayout *controls);
    void paintEvent(QPaintEvent *event) override;

private:
    Symbol m_icon;
    QLabel *m_titleLabel = nullptr;
    QLabel *m_subtitleLabel = nullptr;
    QVBoxLayout *m_layout = nullptr;
};
