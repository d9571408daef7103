#pragma once

#include "TileButton.h"

#include <functional>

class QLabel;

// One quick action of the overview: a whole-tile button with a symbol, a title and a chevron; the primary tile
// is drawn in the accent blue.
class HomeQuickAction : public TileButton
{
    Q_OBJECT

public:
    static constexpr int minimumTileHeight = 64;

    HomeQuickAction(const QString &title, const QString &icon, bool isPrimary, std::function<void()> action,
                    QWidget *parent = nullptr);

    bool isPrimary() const { return m_isPrimary; }
    QString iconName() const { return m_icon; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_icon;
    bool m_isPrimary;
};
