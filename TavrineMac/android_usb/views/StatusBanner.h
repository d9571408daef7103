#pragma once

#include "DeviceDashboardPresentation.h"

#include <QColor>
#include <QWidget>

#include <optional>

class QLabel;
class SpinningIndicator;

// A tinted banner: a symbol (or a spinner while something runs), a title and a text under it; nothing without a
// style.
class StatusBanner : public QWidget
{
    Q_OBJECT

public:
    explicit StatusBanner(QWidget *parent = nullptr);

    void setStyle(const std::optional<DeviceDashboardPresentation::BannerStyle> &style);

    SpinningIndicator *spinner() const { return m_spinner; }
    QLabel *symbolLabel() const { return m_symbolLabel; }
    QLabel *titleLabel() const { return m_titleLabel; }
    QLabel *textLabel() const { return m_textLabel; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QColor m_tint;
    SpinningIndicator *m_spinner = nullptr;
    QLabel *m_symbolLabel = nullptr;
    QLabel *m_titleLabel = nullptr;
    QLabel *m_textLabel = nullptr;
};
