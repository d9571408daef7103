#include "TintedProgressBar.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

namespace {

constexpr int resolution = 10'000;
constexpr int barHeight = 6;

} // namespace

TintedProgressBar::TintedProgressBar(QWidget *parent) : QProgressBar(parent)
{
    setRange(0, resolution);
    setTextVisible(false);
    setFixedHeight(barHeight);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void TintedProgressBar::setTint(const QColor &tint)
{
    if (tint == m_tint) {
        return;
    }
    m_tint = tint;
    update();
}

void TintedProgressBar::setFraction(double fraction)
{
    const double clamped = std::isfinite(fraction) ? std::clamp(fraction, 0.0, 1.0) : 0.0;
    setValue(int(std::lround(clamped * resolution)));
}

double TintedProgressBar::fraction() const
{
    return double(value()) / resolution;
}

void TintedProgressBar::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    const QRectF track = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    const qreal radius = track.height() / 2;
    QColor trackColor = palette().color(QPalette::WindowText);
    trackColor.setAlphaF(0.12);
    painter.setBrush(trackColor);
    painter.drawRoundedRect(track, radius, radius);
    const qreal filled = track.width() * fraction();
    if (filled > 0) {
        painter.setBrush(m_tint.isValid() ? m_tint : palette().color(QPalette::Highlight));
        painter.drawRoundedRect(QRectF(track.topLeft(), QSizeF(std::max(filled, track.height()), track.height())),
                                radius, radius);
    }
}
