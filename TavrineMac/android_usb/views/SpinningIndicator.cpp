#include "SpinningIndicator.h"

#include <QPainter>

namespace {

constexpr auto frameInterval = std::chrono::milliseconds(50);
constexpr int degreesPerFrame = 30;

} // namespace

SpinningIndicator::SpinningIndicator(int pixels, QWidget *parent) : QWidget(parent)
{
    setFixedSize(pixels, pixels);
    m_timer.setInterval(frameInterval);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        m_angle = (m_angle + degreesPerFrame) % 360;
        update();
    });
}

void SpinningIndicator::setColor(const QColor &color)
{
    m_color = color;
    update();
}

void SpinningIndicator::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal stroke = std::max(1.5, width() / 8.0);
    const QRectF ring = QRectF(rect()).adjusted(stroke, stroke, -stroke, -stroke);
    QColor track = m_color.isValid() ? m_color : palette().color(QPalette::Highlight);
    QColor arc = track;
    track.setAlphaF(0.2);
    painter.setPen(QPen(track, stroke));
    painter.drawEllipse(ring);
    QPen arcPen(arc, stroke);
    arcPen.setCapStyle(Qt::RoundCap);
    painter.setPen(arcPen);
    painter.drawArc(ring, -m_angle * 16, 100 * 16);
}

void SpinningIndicator::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    m_timer.start();
}

void SpinningIndicator::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    m_timer.stop();
}
