#include "CardStyle.h"

#include "PlainLabel.h"

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

void paintPanel(QWidget *widget, qreal radius, const QColor &fill, const std::optional<QColor> &outline)
{
    QPainter painter(widget);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(widget->rect()).adjusted(0.5, 0.5, -0.5, -0.5), radius, radius);
    painter.fillPath(shape, fill);
    if (outline) {
        painter.setPen(QPen(*outline, 1));
        painter.drawPath(shape);
    }
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
