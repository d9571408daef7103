#include "SymbolIcon.h"

#include <QPainter>
#include <QPainterPath>

namespace {

// Every symbol is drawn on a 24×24 grid and scaled to the requested size.
constexpr qreal gridSize = 24.0;

QPen strokePen(const QColor &color, qreal width)
{
    QPen pen(color, width);
    pen.setCapStyle(Qt::RoundCap);
    pen.setJoinStyle(Qt::RoundJoin);
    return pen;
}

// Paints `cutout` in the transparent colour, so a filled shape shows its inner glyph as a hole.
void punch(QPainter &painter, const QPainterPath &cutout, qreal strokeWidth)
{
    painter.save();
    painter.setCompositionMode(QPainter::CompositionMode_Clear);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(strokePen(Qt::black, strokeWidth));
    painter.drawPath(cutout);
    painter.restore();
}

void punchFilled(QPainter &painter, const QPainterPath &cutout)
{
    painter.save();
    painter.setCompositionMode(QPainter::CompositionMode_Clear);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::black);
    painter.drawPath(cutout);
    painter.restore();
}

void fillCircle(QPainter &painter, const QColor &color)
{
    painter.setPen(Qt::NoPen);
    painter.setBrush(color);
    painter.drawEllipse(QRectF(2, 2, 20, 20));
}

QPainterPath verticalArrow(bool up)
{
    QPainterPath path;
    const qreal tip = up ? 6.5 : 17.5;
    const qreal tail = up ? 17.5 : 6.5;
    const qreal wing = up ? 11.5 : 12.5;
    path.moveTo(12, tail);
    path.lineTo(12, tip);
    path.moveTo(7.5, wing);
    path.lineTo(12, tip);
    path.lineTo(16.5, wing);
    return path;
}

void draw(QPainter &painter, Symbol symbol, const QColor &color)
{
    switch (symbol) {
    case Symbol::arrowUpCircleFill:
    case Symbol::arrowDownCircleFill:
        fillCircle(painter, color);
        punch(painter, verticalArrow(symbol == Symbol::arrowUpCircleFill), 2.4);
        break;
    case Symbol::arrowUpArrowDownCircleFill: {
        fillCircle(painter, color);
        QPainterPath arrows;
        arrows.moveTo(9, 17);
        arrows.lineTo(9, 7);
        arrows.moveTo(6, 10);
        arrows.lineTo(9, 7);
        arrows.lineTo(12, 10);
        arrows.moveTo(15, 7);
        arrows.lineTo(15, 17);
        arrows.moveTo(12, 14);
        arrows.lineTo(15, 17);
        arrows.lineTo(18, 14);
        punch(painter, arrows, 2.0);
        break;
    }
    case Symbol::pauseCircleFill: {
        fillCircle(painter, color);
        QPainterPath bars;
        bars.addRoundedRect(QRectF(8.5, 7.5, 2.6, 9), 1, 1);
        bars.addRoundedRect(QRectF(12.9, 7.5, 2.6, 9), 1, 1);
        punchFilled(painter, bars);
        break;
    }
    case Symbol::checkmarkCircleFill: {
        fillCircle(painter, color);
        QPainterPath check;
        check.moveTo(7.5, 12.5);
        check.lineTo(10.7, 15.6);
        check.lineTo(16.5, 8.8);
        punch(painter, check, 2.4);
        break;
    }
    case Symbol::exclamationmarkTriangleFill: {
        QPainterPath triangle;
        triangle.moveTo(12, 2.5);
        triangle.lineTo(22.5, 20.5);
        triangle.lineTo(1.5, 20.5);
        triangle.closeSubpath();
        painter.setPen(strokePen(color, 1.5));
        painter.setBrush(color);
        painter.drawPath(triangle);
        QPainterPath mark;
        mark.moveTo(12, 8.5);
        mark.lineTo(12, 13.5);
        punch(painter, mark, 2.4);
        QPainterPath dot;
        dot.addEllipse(QPointF(12, 17.2), 1.4, 1.4);
        punchFilled(painter, dot);
        break;
    }
    case Symbol::xmarkCircleFill: {
        fillCircle(painter, color);
        QPainterPath cross;
        cross.moveTo(8.5, 8.5);
        cross.lineTo(15.5, 15.5);
        cross.moveTo(15.5, 8.5);
        cross.lineTo(8.5, 15.5);
        punch(painter, cross, 2.4);
        break;
    }
    case Symbol::circle:
        painter.setPen(strokePen(color, 1.8));
        painter.setBrush(Qt::NoBrush);
        painter.drawEllipse(QRectF(3, 3, 18, 18));
        break;
    case Symbol::pauseFill:
        painter.setPen(Qt::NoPen);
        painter.setBrush(color);
        painter.drawRoundedRect(QRectF(6, 4.5, 4, 15), 1.2, 1.2);
        painter.drawRoundedRect(QRectF(14, 4.5, 4, 15), 1.2, 1.2);
        break;
    case Symbol::playFill: {
        QPainterPath triangle;
        triangle.moveTo(7, 4.5);
        triangle.lineTo(19, 12);
        triangle.lineTo(7, 19.5);
        triangle.closeSubpath();
        painter.setPen(strokePen(color, 1.5));
        painter.setBrush(color);
        painter.drawPath(triangle);
        break;
    }
    case Symbol::arrowClockwise: {
        painter.setPen(strokePen(color, 2.0));
        painter.setBrush(Qt::NoBrush);
        // An open ring from the top, clockwise, with the arrow head at its start.
        painter.drawArc(QRectF(5, 5, 14, 14), 60 * 16, 300 * 16);
        QPainterPath head;
        head.moveTo(10.5, 2.2);
        head.lineTo(15.6, 5.0);
        head.lineTo(12.2, 9.6);
        painter.drawPath(head);
        break;
    }
    case Symbol::xmark:
        painter.setPen(strokePen(color, 2.2));
        painter.drawLine(QPointF(6.5, 6.5), QPointF(17.5, 17.5));
        painter.drawLine(QPointF(17.5, 6.5), QPointF(6.5, 17.5));
        break;
    case Symbol::trash: {
        painter.setPen(strokePen(color, 1.8));
        painter.setBrush(Qt::NoBrush);
        painter.drawLine(QPointF(4, 6.5), QPointF(20, 6.5));
        QPainterPath handle;
        handle.moveTo(9, 6.5);
        handle.lineTo(9.5, 3.5);
        handle.lineTo(14.5, 3.5);
        handle.lineTo(15, 6.5);
        painter.drawPath(handle);
        QPainterPath can;
        can.moveTo(6, 6.5);
        can.lineTo(7.2, 20.5);
        can.lineTo(16.8, 20.5);
        can.lineTo(18, 6.5);
        painter.drawPath(can);
        painter.drawLine(QPointF(10, 10), QPointF(10.4, 17));
        painter.drawLine(QPointF(14, 10), QPointF(13.6, 17));
        break;
    }
    case Symbol::plus:
        painter.setPen(strokePen(color, 2.2));
        painter.drawLine(QPointF(12, 4.5), QPointF(12, 19.5));
        painter.drawLine(QPointF(4.5, 12), QPointF(19.5, 12));
        break;
    case Symbol::folderFill: {
        QPainterPath folder;
        folder.moveTo(2, 6);
        folder.quadTo(2, 4, 4, 4);
        folder.lineTo(9, 4);
        folder.lineTo(11, 6.5);
        folder.lineTo(20, 6.5);
        folder.quadTo(22, 6.5, 22, 8.5);
        folder.lineTo(22, 18);
        folder.quadTo(22, 20, 20, 20);
        folder.lineTo(4, 20);
        folder.quadTo(2, 20, 2, 18);
        folder.closeSubpath();
        painter.setPen(Qt::NoPen);
        painter.setBrush(color);
        painter.drawPath(folder);
        painter.setBrush(color.lighter(125));
        painter.drawRoundedRect(QRectF(2, 9, 20, 11), 2, 2);
        break;
    }
    case Symbol::chevronLeft: {
        QPainterPath chevron;
        chevron.moveTo(15, 5);
        chevron.lineTo(8, 12);
        chevron.lineTo(15, 19);
        painter.setPen(strokePen(color, 2.4));
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(chevron);
        break;
    }
    case Symbol::chevronUp: {
        QPainterPath chevron;
        chevron.moveTo(5, 15.5);
        chevron.lineTo(12, 8.5);
        chevron.lineTo(19, 15.5);
        painter.setPen(strokePen(color, 2.6));
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(chevron);
        break;
    }
    }
}

} // namespace

namespace SymbolIcon {

QPixmap pixmap(Symbol symbol, const QColor &color, int pixels, qreal devicePixelRatio)
{
    QPixmap image(QSize(pixels, pixels) * devicePixelRatio);
    image.setDevicePixelRatio(devicePixelRatio);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(pixels / gridSize, pixels / gridSize);
    draw(painter, symbol, color);
    return image;
}

QIcon icon(Symbol symbol, const QColor &color, int pixels)
{
    QIcon result;
    for (const qreal ratio : {1.0, 2.0}) {
        result.addPixmap(pixmap(symbol, color, pixels, ratio), QIcon::Normal);
        QColor faded = color;
        faded.setAlphaF(color.alphaF() * 0.35);
        result.addPixmap(pixmap(symbol, faded, pixels, ratio), QIcon::Disabled);
    }
    return result;
}

} // namespace SymbolIcon
