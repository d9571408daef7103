#include "CardStyle.h"

#include "KeptPixmap.h"
#include "PlainLabel.h"

#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>

namespace CardStyle {

QColor withOpacity(QColor color, qreal opacity)
{
    color.setAlphaF(color.alphaF() * opacity);
    return color;
}

QColor windowBackground(const QWidget *widget)
{
    return widget->palette().color(QPalette::Window);
}

QColor controlBackground(const QWidget *widget)
{
    return widget->palette().color(QPalette::Base);
}

QColor separator(const QWidget *widget)
{
    return withOpacity(widget->palette().color(QPalette::WindowText), 0.25);
}

namespace {

// Larger panels are drawn afresh each time rather than kept.
constexpr qint64 largestKeptPanelPixels = 640 * 480;

void drawPanel(QPainter &painter, const QRectF &rect, qreal radius, const QColor &fill,
               const std::optional<QColor> &outline)
{
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(rect.adjusted(0.5, 0.5, -0.5, -0.5), radius, radius);
    painter.fillPath(shape, fill);
    if (outline) {
        painter.setPen(QPen(*outline, 1));
        painter.drawPath(shape);
    }
}

} // namespace

void paintPanel(QWidget *widget, qreal radius, const QColor &fill, const std::optional<QColor> &outline)
{
    QPainter painter(widget);
    const qreal ratio = widget->devicePixelRatioF();
    const QSize pixels = widget->size() * ratio;
    if (pixels.isEmpty() || qint64(pixels.width()) * pixels.height() > largestKeptPanelPixels) {
        drawPanel(painter, QRectF(widget->rect()), radius, fill, outline);
        return;
    }
    // A screen repaints its panels whenever something on it moves: each look is drawn once and kept, as the
    // toolkit's rasteriser spreads a large rounded shape over worker threads every time it draws one.
    const QString key = QStringLiteral("tavrine-panel:%1x%2@%3:%4:%5:%6")
                            .arg(pixels.width())
                            .arg(pixels.height())
                            .arg(ratio)
                            .arg(radius)
                            .arg(quint64(fill.rgba64()), 0, 16)
                            .arg(outline ? QString::number(quint64(outline->rgba64()), 16) : QStringLiteral("none"));
    const QPixmap drawn = keptPixmap(key, [&] {
        QPixmap image(pixels);
        image.setDevicePixelRatio(ratio);
        image.fill(Qt::transparent);
        QPainter panelPainter(&image);
        drawPanel(panelPainter, QRectF(widget->rect()), radius, fill, outline);
        panelPainter.end();
        return image;
    });
    painter.drawPixmap(0, 0, drawn);
}

namespace {

// `top` drawn over the opaque `bottom`, by the raster engine itself on one pixel, so that filling with it gives the
// very pixels that drawing the two layers gives; none when `bottom` lets what lies beneath show through.
std::optional<QColor> layered(const QColor &bottom, const QColor &top)
{
    if (bottom.alpha() != 255)
        return std::nullopt;
    // Screens repaint with the colours of one palette: the last pair is kept.
    static QRgb lastBottom = 0;
    static QRgb lastTop = 0;
    static QRgb lastResult = 0;
    if (lastResult == 0 || lastBottom != bottom.rgba() || lastTop != top.rgba()) {
        QImage pixel(1, 1, QImage::Format_ARGB32_Premultiplied);
        QPainter painter(&pixel);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.fillRect(pixel.rect(), bottom);
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
        painter.fillRect(pixel.rect(), top);
        painter.end();
        lastBottom = bottom.rgba();
        lastTop = top.rgba();
        lastResult = pixel.pixel(0, 0);
    }
    return QColor::fromRgba(lastResult);
}

} // namespace

void paintScreenBackground(QWidget *widget, qreal opacity)
{
    QPainter painter(widget);
    const QColor bottom = windowBackground(widget);
    const QColor top = withOpacity(controlBackground(widget), opacity);
    if (const std::optional<QColor> colour = layered(bottom, top)) {
        painter.fillRect(widget->rect(), *colour);
        return;
    }
    painter.fillRect(widget->rect(), bottom);
    painter.fillRect(widget->rect(), top);
}

void setTextColor(QWidget *widget, const QColor &color)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, color);
    palette.setColor(QPalette::Text, color);
    palette.setColor(QPalette::ButtonText, color);
    widget->setPalette(palette);
}

void setSecondary(QWidget *widget)
{
    setTextColor(widget, withOpacity(widget->palette().color(QPalette::WindowText), 0.6));
}

QLabel *symbolLabel(Symbol symbol, const QColor &color, int pixels, QWidget *parent)
{
    auto *label = new PlainLabel(parent);
    label->setFixedSize(pixels, pixels);
    setSymbol(label, symbol, color, pixels);
    return label;
}

void setSymbol(QLabel *label, Symbol symbol, const QColor &color, int pixels)
{
    label->setPixmap(SymbolIcon::pixmap(symbol, color, pixels, label->devicePixelRatioF()));
}

} // namespace CardStyle
