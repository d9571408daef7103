#include "SymbolIcon.h"

#include "KeptPixmap.h"

#include <QPainter>
#include <QPainterPath>

#include <array>
#include <initializer_list>

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

// Starts a subpath of `path` at the first of `points` and draws straight lines through the rest; closes it when
// `closed`.
void addLines(QPainterPath &path, std::initializer_list<QPointF> points, bool closed = false)
{
    auto point = points.begin();
    path.moveTo(*point);
    while (++point != points.end()) {
        path.lineTo(*point);
    }
    if (closed) {
        path.closeSubpath();
    }
}

QPainterPath verticalArrow(bool up)
{
    QPainterPath path;
    const qreal tip = up ? 6.5 : 17.5;
    const qreal tail = up ? 17.5 : 6.5;
    const qreal wing = up ? 11.5 : 12.5;
    path.moveTo(12, tail);
    path.lineTo(12, tip);
    addLines(path, {{7.5, wing}, {12, tip}, {16.5, wing}});
    return path;
}

QPainterPath shieldOutline()
{
    QPainterPath shield;
    addLines(shield, {{12, 2}, {20, 5}, {20, 11}});
    shield.cubicTo(20, 16.5, 16.5, 20.3, 12, 22);
    shield.cubicTo(7.5, 20.3, 4, 16.5, 4, 11);
    shield.lineTo(4, 5);
    shield.closeSubpath();
    return shield;
}

// A padlock centred on the shield's middle.
QPainterPath padlock()
{
    QPainterPath lock;
    lock.addRoundedRect(QRectF(8.5, 11, 7, 5.5), 1, 1);
    lock.moveTo(10, 11);
    lock.lineTo(10, 9.3);
    lock.arcTo(QRectF(10, 7.3, 4, 4), 180, -180);
    lock.lineTo(14, 11);
    return lock;
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
        addLines(arrows, {{6, 10}, {9, 7}, {12, 10}});
        arrows.moveTo(15, 7);
        arrows.lineTo(15, 17);
        addLines(arrows, {{12, 14}, {15, 17}, {18, 14}});
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
        addLines(check, {{7.5, 12.5}, {10.7, 15.6}, {16.5, 8.8}});
        punch(painter, check, 2.4);
        break;
    }
    case Symbol::exclamationmarkTriangleFill: {
        QPainterPath triangle;
        addLines(triangle, {{12, 2.5}, {22.5, 20.5}, {1.5, 20.5}}, true);
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
        addLines(triangle, {{7, 4.5}, {19, 12}, {7, 19.5}}, true);
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
        addLines(head, {{10.5, 2.2}, {15.6, 5.0}, {12.2, 9.6}});
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
        addLines(handle, {{9, 6.5}, {9.5, 3.5}, {14.5, 3.5}, {15, 6.5}});
        painter.drawPath(handle);
        QPainterPath can;
        addLines(can, {{6, 6.5}, {7.2, 20.5}, {16.8, 20.5}, {18, 6.5}});
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
        addLines(chevron, {{15, 5}, {8, 12}, {15, 19}});
        painter.setPen(strokePen(color, 2.4));
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(chevron);
        break;
    }
    case Symbol::chevronUp: {
        QPainterPath chevron;
        addLines(chevron, {{5, 15.5}, {12, 8.5}, {19, 15.5}});
        painter.setPen(strokePen(color, 2.6));
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(chevron);
        break;
    }
    case Symbol::smartphone:
        painter.setPen(strokePen(color, 1.3));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(QRectF(6, 2.5, 12, 19), 2.6, 2.6);
        painter.drawLine(QPointF(10.5, 5), QPointF(13.5, 5));
        painter.drawLine(QPointF(10.5, 19), QPointF(13.5, 19));
        break;
    case Symbol::iphoneAndArrowForward: {
        painter.setPen(strokePen(color, 1.8));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(QRectF(3, 3, 9.5, 18), 2.4, 2.4);
        painter.drawLine(QPointF(6.5, 5.8), QPointF(9, 5.8));
        QPainterPath arrow;
        arrow.moveTo(15, 12);
        arrow.lineTo(22, 12);
        addLines(arrow, {{19, 9}, {22, 12}, {19, 15}});
        painter.drawPath(arrow);
        break;
    }
    case Symbol::shippingboxFill: {
        QPainterPath lid;
        addLines(lid, {{4.5, 3.5}, {19.5, 3.5}, {21.5, 7.8}, {2.5, 7.8}}, true);
        painter.setPen(strokePen(color, 1.0));
        painter.setBrush(color);
        painter.drawPath(lid);
        painter.setPen(Qt::NoPen);
        painter.drawRoundedRect(QRectF(3, 9.2, 18, 11.8), 1.6, 1.6);
        QPainterPath slot;
        slot.addRoundedRect(QRectF(9, 11.6, 6, 2.2), 1.1, 1.1);
        punchFilled(painter, slot);
        break;
    }
    case Symbol::arrowLeftArrowRight: {
        QPainterPath arrows;
        arrows.moveTo(4, 8);
        arrows.lineTo(20, 8);
        addLines(arrows, {{16, 4}, {20, 8}, {16, 12}});
        arrows.moveTo(20, 16);
        arrows.lineTo(4, 16);
        addLines(arrows, {{8, 12}, {4, 16}, {8, 20}});
        painter.setPen(strokePen(color, 2.0));
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(arrows);
        break;
    }
    case Symbol::arrowLeftArrowRightCircleFill: {
        fillCircle(painter, color);
        QPainterPath arrows;
        arrows.moveTo(7, 9.5);
        arrows.lineTo(17, 9.5);
        addLines(arrows, {{14.5, 7}, {17, 9.5}, {14.5, 12}});
        arrows.moveTo(17, 14.5);
        arrows.lineTo(7, 14.5);
        addLines(arrows, {{9.5, 12}, {7, 14.5}, {9.5, 17}});
        punch(painter, arrows, 1.9);
        break;
    }
    case Symbol::clockFill: {
        fillCircle(painter, color);
        QPainterPath hands;
        addLines(hands, {{12, 6.5}, {12, 12}, {16, 14.5}});
        punch(painter, hands, 2.2);
        break;
    }
    case Symbol::checkmarkShieldFill: {
        painter.setPen(Qt::NoPen);
        painter.setBrush(color);
        painter.drawPath(shieldOutline());
        QPainterPath check;
        addLines(check, {{8.3, 12}, {11, 14.7}, {15.8, 9.3}});
        punch(painter, check, 2.2);
        break;
    }
    case Symbol::gearshape: {
        painter.setPen(strokePen(color, 1.8));
        painter.setBrush(Qt::NoBrush);
        for (int tooth = 0; tooth < 8; ++tooth) {
            painter.save();
            painter.translate(12, 12);
            painter.rotate(tooth * 45.0);
            painter.drawLine(QPointF(0, -7.5), QPointF(0, -10));
            painter.restore();
        }
        painter.drawEllipse(QPointF(12, 12), 7, 7);
        painter.drawEllipse(QPointF(12, 12), 2.8, 2.8);
        break;
    }
    case Symbol::app:
        painter.setPen(strokePen(color, 1.8));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(QRectF(3.5, 3.5, 17, 17), 4.5, 4.5);
        break;
    case Symbol::photoOnRectangle: {
        painter.setPen(strokePen(color, 1.6));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(QRectF(6, 3, 16, 13), 2, 2);
        QPainterPath back;
        back.moveTo(2.5, 7.5);
        back.lineTo(2.5, 19);
        back.quadTo(2.5, 20.5, 4, 20.5);
        back.lineTo(17.5, 20.5);
        painter.drawPath(back);
        QPainterPath hills;
        addLines(hills, {{8, 14.5}, {12, 10}, {15, 13}, {17, 11}, {20.5, 14.5}});
        painter.drawPath(hills);
        painter.setBrush(color);
        painter.drawEllipse(QPointF(17.5, 6.8), 1.2, 1.2);
        break;
    }
    case Symbol::map: {
        QPainterPath folds;
        addLines(
            folds,
            {{2.5, 5.5}, {8.5, 3.5}, {15.5, 5.5}, {21.5, 3.5}, {21.5, 18.5}, {15.5, 20.5}, {8.5, 18.5}, {2.5, 20.5}},
            true);
        folds.moveTo(8.5, 3.5);
        folds.lineTo(8.5, 18.5);
        folds.moveTo(15.5, 5.5);
        folds.lineTo(15.5, 20.5);
        painter.setPen(strokePen(color, 1.6));
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(folds);
        break;
    }
    case Symbol::musicNote:
        painter.setPen(strokePen(color, 2.0));
        painter.drawLine(QPointF(15, 17), QPointF(15, 3.5));
        painter.drawLine(QPointF(15, 3.5), QPointF(19.5, 6));
        painter.setPen(Qt::NoPen);
        painter.setBrush(color);
        painter.drawEllipse(QPointF(11.5, 17.5), 3.6, 3);
        break;
    case Symbol::folder: {
        QPainterPath folder;
        folder.moveTo(2.5, 6);
        folder.quadTo(2.5, 4.5, 4, 4.5);
        folder.lineTo(9, 4.5);
        folder.lineTo(11, 7);
        folder.lineTo(20, 7);
        folder.quadTo(21.5, 7, 21.5, 8.5);
        folder.lineTo(21.5, 18);
        folder.quadTo(21.5, 19.5, 20, 19.5);
        folder.lineTo(4, 19.5);
        folder.quadTo(2.5, 19.5, 2.5, 18);
        folder.closeSubpath();
        painter.setPen(strokePen(color, 1.6));
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(folder);
        painter.drawLine(QPointF(2.5, 10), QPointF(21.5, 10));
        break;
    }
    case Symbol::calendar:
        painter.setPen(strokePen(color, 1.6));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(QRectF(3, 4.5, 18, 16), 2.5, 2.5);
        painter.drawLine(QPointF(3, 9), QPointF(21, 9));
        painter.drawLine(QPointF(8, 2.5), QPointF(8, 6));
        painter.drawLine(QPointF(16, 2.5), QPointF(16, 6));
        painter.setPen(Qt::NoPen);
        painter.setBrush(color);
        for (int row = 0; row < 2; ++row) {
            for (int column = 0; column < 3; ++column) {
                painter.drawEllipse(QPointF(7.5 + column * 4.5, 12.8 + row * 4), 1.1, 1.1);
            }
        }
        break;
    case Symbol::globe:
        painter.setPen(strokePen(color, 1.5));
        painter.setBrush(Qt::NoBrush);
        painter.drawEllipse(QRectF(3, 3, 18, 18));
        painter.drawEllipse(QRectF(8, 3, 8, 18));
        painter.drawLine(QPointF(3, 12), QPointF(21, 12));
        painter.drawLine(QPointF(12, 3), QPointF(12, 21));
        break;
    case Symbol::ellipsisCircle:
        painter.setPen(strokePen(color, 1.6));
        painter.setBrush(Qt::NoBrush);
        painter.drawEllipse(QRectF(2.5, 2.5, 19, 19));
        painter.setPen(Qt::NoPen);
        painter.setBrush(color);
        for (const qreal x : {7.5, 12.0, 16.5}) {
            painter.drawEllipse(QPointF(x, 12), 1.4, 1.4);
        }
        break;
    case Symbol::wifiSlash:
        painter.setPen(strokePen(color, 1.9));
        painter.setBrush(Qt::NoBrush);
        painter.drawArc(QRectF(2.5, 6, 19, 19), 45 * 16, 90 * 16);
        painter.drawArc(QRectF(6.5, 10, 11, 11), 45 * 16, 90 * 16);
        painter.setPen(Qt::NoPen);
        painter.setBrush(color);
        painter.drawEllipse(QPointF(12, 18.5), 1.6, 1.6);
        painter.setPen(strokePen(color, 1.9));
        painter.drawLine(QPointF(4, 3.5), QPointF(20, 20.5));
        break;
    case Symbol::squareGrid3x3:
        painter.setPen(Qt::NoPen);
        painter.setBrush(color);
        for (int row = 0; row < 3; ++row) {
            for (int column = 0; column < 3; ++column) {
                painter.drawRoundedRect(QRectF(3 + column * 6.5, 3 + row * 6.5, 5, 5), 1.2, 1.2);
            }
        }
        break;
    case Symbol::doc: {
        QPainterPath page;
        addLines(page, {{6, 2.5}, {14, 2.5}, {19, 7.5}, {19, 21.5}, {6, 21.5}}, true);
        addLines(page, {{14, 2.5}, {14, 7.5}, {19, 7.5}});
        painter.setPen(strokePen(color, 1.6));
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(page);
        break;
    }
    case Symbol::docRichtext: {
        QPainterPath page;
        addLines(page, {{6, 2.5}, {14, 2.5}, {19, 7.5}, {19, 21.5}, {6, 21.5}}, true);
        addLines(page, {{14, 2.5}, {14, 7.5}, {19, 7.5}});
        for (const qreal line : {12.0, 15.0, 18.0}) {
            page.moveTo(9, line);
            page.lineTo(16, line);
        }
        painter.setPen(strokePen(color, 1.6));
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(page);
        break;
    }
    case Symbol::arrowDownDocFill: {
        QPainterPath page;
        addLines(page, {{6, 2.5}, {14, 2.5}, {19, 7.5}, {19, 21.5}, {6, 21.5}}, true);
        painter.setPen(Qt::NoPen);
        painter.setBrush(color);
        painter.drawPath(page);
        QPainterPath arrow;
        arrow.moveTo(12.5, 9);
        arrow.lineTo(12.5, 17);
        addLines(arrow, {{9.5, 14}, {12.5, 17}, {15.5, 14}});
        punch(painter, arrow, 1.9);
        break;
    }
    case Symbol::photo: {
        painter.setPen(strokePen(color, 1.6));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(QRectF(2.5, 4.5, 19, 15), 2.5, 2.5);
        painter.drawPolyline(
            QPolygonF({QPointF(5, 17), QPointF(10, 11), QPointF(13.5, 14.5), QPointF(15.5, 12.5), QPointF(19, 17)}));
        painter.setPen(Qt::NoPen);
        painter.setBrush(color);
        painter.drawEllipse(QPointF(16, 8.5), 1.5, 1.5);
        break;
    }
    case Symbol::photoStack: {
        painter.setPen(strokePen(color, 1.6));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(QRectF(5.5, 7.5, 16, 13), 2.2, 2.2);
        painter.drawPolyline(QPolygonF({QPointF(2.5, 17), QPointF(2.5, 5.5), QPointF(3.5, 4.5), QPointF(18, 4.5)}));
        painter.drawPolyline(
            QPolygonF({QPointF(8, 18), QPointF(12, 13), QPointF(15, 16), QPointF(16.5, 14.5), QPointF(19, 18)}));
        break;
    }
    case Symbol::film: {
        painter.setPen(strokePen(color, 1.6));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(QRectF(3, 3, 18, 18), 2.5, 2.5);
        painter.drawLine(QPointF(7.5, 3), QPointF(7.5, 21));
        painter.drawLine(QPointF(16.5, 3), QPointF(16.5, 21));
        for (const qreal row : {7.5, 12.0, 16.5}) {
            painter.drawLine(QPointF(3, row), QPointF(7.5, row));
            painter.drawLine(QPointF(16.5, row), QPointF(21, row));
        }
        break;
    }
    case Symbol::eye: {
        painter.setPen(strokePen(color, 1.6));
        painter.setBrush(Qt::NoBrush);
        QPainterPath lids;
        lids.moveTo(2.5, 12);
        lids.quadTo(12, 2, 21.5, 12);
        lids.quadTo(12, 22, 2.5, 12);
        painter.drawPath(lids);
        painter.setPen(Qt::NoPen);
        painter.setBrush(color);
        painter.drawEllipse(QPointF(12, 12), 3.2, 3.2);
        break;
    }
    case Symbol::arrowDownCircle: {
        painter.setPen(strokePen(color, 1.6));
        painter.setBrush(Qt::NoBrush);
        painter.drawEllipse(QPointF(12, 12), 9.5, 9.5);
        painter.drawLine(QPointF(12, 7), QPointF(12, 16.5));
        painter.drawPolyline(QPolygonF({QPointF(8.2, 12.8), QPointF(12, 16.6), QPointF(15.8, 12.8)}));
        break;
    }
    case Symbol::photoBadgeExclamationmark: {
        painter.setPen(strokePen(color, 1.6));
        painter.setBrush(Qt::NoBrush);
        painter.drawPolyline(
            QPolygonF({QPointF(13, 19), QPointF(3, 19), QPointF(3, 5), QPointF(19, 5), QPointF(19, 11)}));
        painter.drawPolyline(QPolygonF({QPointF(3, 16), QPointF(8, 11), QPointF(12, 15)}));
        painter.drawLine(QPointF(19.5, 13.5), QPointF(19.5, 18.5));
        painter.setPen(Qt::NoPen);
        painter.setBrush(color);
        painter.drawEllipse(QPointF(19.5, 21.2), 1.1, 1.1);
        break;
    }
    case Symbol::archivebox: {
        painter.setPen(strokePen(color, 1.6));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(QRectF(2.5, 4, 19, 4.5), 1.2, 1.2);
        painter.drawPolyline(QPolygonF({QPointF(4, 8.5), QPointF(4, 20.5), QPointF(20, 20.5), QPointF(20, 8.5)}));
        painter.drawLine(QPointF(10, 12.5), QPointF(14, 12.5));
        break;
    }
    case Symbol::shippingbox: {
        painter.setPen(strokePen(color, 1.5));
        painter.setBrush(Qt::NoBrush);
        painter.drawPolygon(QPolygonF({QPointF(4.5, 3.5), QPointF(19.5, 3.5), QPointF(21, 8), QPointF(3, 8)}));
        painter.drawRoundedRect(QRectF(3, 8, 18, 13), 1.6, 1.6);
        painter.drawLine(QPointF(12, 3.5), QPointF(12, 8));
        break;
    }
    case Symbol::paperplaneFill: {
        painter.setPen(strokePen(color, 1.0));
        painter.setBrush(color);
        painter.drawPolygon(QPolygonF({QPointF(2.5, 11), QPointF(21.5, 2.5), QPointF(14, 21.5), QPointF(11, 13)}));
        break;
    }
    case Symbol::squareAndArrowDown: {
        painter.setPen(strokePen(color, 1.7));
        painter.setBrush(Qt::NoBrush);
        painter.drawPolyline(
            QPolygonF({QPointF(8, 9), QPointF(5, 9), QPointF(5, 21), QPointF(19, 21), QPointF(19, 9), QPointF(16, 9)}));
        painter.drawLine(QPointF(12, 2.5), QPointF(12, 15));
        painter.drawPolyline(QPolygonF({QPointF(8.5, 11.5), QPointF(12, 15), QPointF(15.5, 11.5)}));
        break;
    }
    case Symbol::chevronRight: {
        painter.setPen(strokePen(color, 2.2));
        painter.setBrush(Qt::NoBrush);
        painter.drawPolyline(QPolygonF({QPointF(9, 5), QPointF(16, 12), QPointF(9, 19)}));
        break;
    }
    case Symbol::battery100percentBolt: {
        painter.setPen(strokePen(color, 1.5));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(QRectF(2, 7.5, 18, 9), 2.2, 2.2);
        painter.setPen(Qt::NoPen);
        painter.setBrush(color);
        painter.drawRoundedRect(QRectF(20.5, 10.5, 1.8, 3), 0.8, 0.8);
        painter.drawRoundedRect(QRectF(4, 9.5, 14, 5), 1, 1);
        punchFilled(painter, QPainterPath([] {
                        QPainterPath bolt;
                        bolt.addPolygon(QPolygonF({QPointF(12, 8.5), QPointF(8.5, 12.8), QPointF(11.5, 12.8),
                                                   QPointF(10.5, 15.5), QPointF(14.5, 11), QPointF(11.5, 11)}));
                        bolt.closeSubpath();
                        return bolt;
                    }()));
        break;
    }
    case Symbol::battery75percent: {
        painter.setPen(strokePen(color, 1.5));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(QRectF(2, 7.5, 18, 9), 2.2, 2.2);
        painter.setPen(Qt::NoPen);
        painter.setBrush(color);
        painter.drawRoundedRect(QRectF(20.5, 10.5, 1.8, 3), 0.8, 0.8);
        painter.drawRoundedRect(QRectF(4, 9.5, 10.5, 5), 1, 1);
        break;
    }
    case Symbol::internaldrive: {
        painter.setPen(strokePen(color, 1.6));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(QRectF(2.5, 7, 19, 10), 2.5, 2.5);
        painter.drawLine(QPointF(5.5, 12), QPointF(11, 12));
        painter.setPen(Qt::NoPen);
        painter.setBrush(color);
        painter.drawEllipse(QPointF(17.5, 12), 1.2, 1.2);
        break;
    }
    case Symbol::docOnDoc:
        painter.setPen(strokePen(color, 1.6));
        painter.setBrush(Qt::NoBrush);
        painter.drawPolyline(
            QPolygonF({QPointF(5, 17.5), QPointF(3.5, 17.5), QPointF(3.5, 2.5), QPointF(14, 2.5), QPointF(14, 4.5)}));
        painter.drawRoundedRect(QRectF(8.5, 6.5, 12, 15), 1.5, 1.5);
        break;
    case Symbol::docOnClipboard:
        painter.setPen(strokePen(color, 1.6));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(QRectF(4, 4, 16, 18), 2, 2);
        painter.drawRoundedRect(QRectF(8.5, 2.5, 7, 3.5), 1, 1);
        for (const qreal line : {11.0, 14.5, 18.0}) {
            painter.drawLine(QPointF(8, line), QPointF(16, line));
        }
        break;
    case Symbol::docBadgePlus:
    case Symbol::folderBadgePlus:
    case Symbol::folderBadgeQuestionmark: {
        // The base symbol drawn smaller in the upper left, the badge in the lower right.
        painter.save();
        painter.scale(0.8, 0.8);
        draw(painter, symbol == Symbol::docBadgePlus ? Symbol::doc : Symbol::folder, color);
        painter.restore();
        painter.setPen(strokePen(color, 1.9));
        painter.setBrush(Qt::NoBrush);
        if (symbol == Symbol::folderBadgeQuestionmark) {
            QPainterPath mark;
            mark.moveTo(15.5, 15);
            mark.cubicTo(15.5, 12.5, 21, 12.5, 21, 15);
            mark.cubicTo(21, 17, 18.3, 17, 18.3, 19);
            painter.drawPath(mark);
            painter.setPen(Qt::NoPen);
            painter.setBrush(color);
            painter.drawEllipse(QPointF(18.3, 22), 1.1, 1.1);
        } else {
            painter.drawLine(QPointF(18.5, 13.5), QPointF(18.5, 22.5));
            painter.drawLine(QPointF(14, 18), QPointF(23, 18));
        }
        break;
    }
    case Symbol::arrowDown:
        painter.setPen(strokePen(color, 2.0));
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(verticalArrow(false).translated(0, 1));
        break;
    case Symbol::arrowUpArrowDown:
    case Symbol::arrowDownArrowUp: {
        const bool upFirst = symbol == Symbol::arrowUpArrowDown;
        QPainterPath arrows;
        const auto arrow = [&arrows](qreal x, bool up) {
            const qreal tip = up ? 4 : 20;
            const qreal wing = up ? 8 : 16;
            arrows.moveTo(x, up ? 20 : 4);
            arrows.lineTo(x, tip);
            addLines(arrows, {{x - 3.5, wing}, {x, tip}, {x + 3.5, wing}});
        };
        arrow(8, upFirst);
        arrow(16, !upFirst);
        painter.setPen(strokePen(color, 1.9));
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(arrows);
        break;
    }
    case Symbol::trashSlash:
        draw(painter, Symbol::trash, color);
        painter.setPen(strokePen(color, 1.8));
        painter.drawLine(QPointF(3.5, 3), QPointF(20.5, 21.5));
        break;
    case Symbol::rectangle3Group:
        painter.setPen(strokePen(color, 1.6));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(QRectF(2.5, 3, 19, 8), 1.8, 1.8);
        painter.drawRoundedRect(QRectF(2.5, 13.5, 8.5, 7.5), 1.8, 1.8);
        painter.drawRoundedRect(QRectF(13, 13.5, 8.5, 7.5), 1.8, 1.8);
        break;
    case Symbol::listBullet:
        painter.setPen(strokePen(color, 1.8));
        for (const qreal row : {6.0, 12.0, 18.0}) {
            painter.drawLine(QPointF(9, row), QPointF(21, row));
        }
        painter.setPen(Qt::NoPen);
        painter.setBrush(color);
        for (const qreal row : {6.0, 12.0, 18.0}) {
            painter.drawEllipse(QPointF(4.5, row), 1.5, 1.5);
        }
        break;
    case Symbol::filmStack:
        painter.setPen(strokePen(color, 1.6));
        painter.setBrush(Qt::NoBrush);
        painter.drawLine(QPointF(6, 3), QPointF(18, 3));
        painter.drawRoundedRect(QRectF(3, 6, 18, 15), 2.2, 2.2);
        painter.drawLine(QPointF(7.5, 6), QPointF(7.5, 21));
        painter.drawLine(QPointF(16.5, 6), QPointF(16.5, 21));
        painter.drawLine(QPointF(3, 13.5), QPointF(7.5, 13.5));
        painter.drawLine(QPointF(16.5, 13.5), QPointF(21, 13.5));
        break;
    case Symbol::photoOnRectangleAngled:
        painter.save();
        painter.translate(12, 12);
        painter.rotate(-8);
        painter.translate(-12, -12);
        draw(painter, Symbol::photoOnRectangle, color);
        painter.restore();
        break;
    case Symbol::qrcodeViewfinder: {
        painter.setPen(strokePen(color, 1.8));
        painter.setBrush(Qt::NoBrush);
        QPainterPath corners;
        for (const QPointF &corner : {QPointF(2.5, 2.5), QPointF(21.5, 2.5), QPointF(21.5, 21.5), QPointF(2.5, 21.5)}) {
            const qreal dx = corner.x() < 12 ? 5 : -5;
            const qreal dy = corner.y() < 12 ? 5 : -5;
            corners.moveTo(corner.x(), corner.y() + dy);
            corners.lineTo(corner);
            corners.lineTo(corner.x() + dx, corner.y());
        }
        painter.drawPath(corners);
        painter.setPen(Qt::NoPen);
        painter.setBrush(color);
        for (const QPointF &origin : {QPointF(6.5, 6.5), QPointF(12.5, 6.5), QPointF(6.5, 12.5)})
            painter.drawRect(QRectF(origin, QSizeF(5, 5)));
        painter.drawRect(QRectF(13.5, 13.5, 2, 2));
        painter.drawRect(QRectF(15.5, 15.5, 2, 2));
        break;
    }
    case Symbol::cableConnectorHorizontal: {
        painter.setPen(strokePen(color, 1.7));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(QRectF(7, 8, 10, 8), 1.5, 1.5);
        painter.drawLine(QPointF(2, 12), QPointF(7, 12));
        painter.drawLine(QPointF(17, 10), QPointF(21.5, 10));
        painter.drawLine(QPointF(17, 14), QPointF(21.5, 14));
        break;
    }
    case Symbol::lockShield:
        painter.setPen(strokePen(color, 1.6));
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(shieldOutline());
        painter.setPen(strokePen(color, 1.4));
        painter.drawPath(padlock());
        break;
    case Symbol::lockShieldFill:
        painter.setPen(Qt::NoPen);
        painter.setBrush(color);
        painter.drawPath(shieldOutline());
        punch(painter, padlock(), 1.6);
        break;
    case Symbol::wifiExclamationmark:
        painter.setPen(strokePen(color, 1.9));
        painter.setBrush(Qt::NoBrush);
        painter.drawArc(QRectF(1, 6, 17, 17), 45 * 16, 90 * 16);
        painter.drawArc(QRectF(4.5, 9.5, 10, 10), 45 * 16, 90 * 16);
        painter.drawLine(QPointF(20, 5), QPointF(20, 15));
        painter.setPen(Qt::NoPen);
        painter.setBrush(color);
        painter.drawEllipse(QPointF(9.5, 18.5), 1.6, 1.6);
        painter.drawEllipse(QPointF(20, 19.5), 1.4, 1.4);
        break;
    case Symbol::iphone:
        painter.setPen(strokePen(color, 1.5));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(QRectF(6.5, 2, 11, 20), 2.8, 2.8);
        painter.drawLine(QPointF(10.5, 4.5), QPointF(13.5, 4.5));
        break;
    case Symbol::person2:
        painter.setPen(strokePen(color, 1.6));
        painter.setBrush(Qt::NoBrush);
        painter.drawEllipse(QPointF(9, 8), 3.2, 3.2);
        painter.drawArc(QRectF(3, 13.5, 12, 11), 0, 180 * 16);
        painter.drawArc(QRectF(13.6, 4.2, 5.6, 5.6), -80 * 16, 250 * 16);
        painter.drawArc(QRectF(14, 13, 8, 9), 0, 110 * 16);
        break;
    }
}

// The one list of system names, in the order of the enumeration.
struct NamedSymbol
{
    Symbol symbol;
    const char *name;
};

constexpr std::array namedSymbols{
    NamedSymbol{Symbol::arrowUpCircleFill, "arrow.up.circle.fill"},
    NamedSymbol{Symbol::arrowDownCircleFill, "arrow.down.circle.fill"},
    NamedSymbol{Symbol::arrowUpArrowDownCircleFill, "arrow.up.arrow.down.circle.fill"},
    NamedSymbol{Symbol::pauseCircleFill, "pause.circle.fill"},
    NamedSymbol{Symbol::checkmarkCircleFill, "checkmark.circle.fill"},
    NamedSymbol{Symbol::exclamationmarkTriangleFill, "exclamationmark.triangle.fill"},
    NamedSymbol{Symbol::xmarkCircleFill, "xmark.circle.fill"},
    NamedSymbol{Symbol::circle, "circle"},
    NamedSymbol{Symbol::pauseFill, "pause.fill"},
    NamedSymbol{Symbol::playFill, "play.fill"},
    NamedSymbol{Symbol::arrowClockwise, "arrow.clockwise"},
    NamedSymbol{Symbol::xmark, "xmark"},
    NamedSymbol{Symbol::trash, "trash"},
    NamedSymbol{Symbol::plus, "plus"},
    NamedSymbol{Symbol::folderFill, "folder.fill"},
    NamedSymbol{Symbol::chevronLeft, "chevron.left"},
    NamedSymbol{Symbol::chevronUp, "chevron.up"},
    NamedSymbol{Symbol::smartphone, "smartphone"},
    NamedSymbol{Symbol::iphoneAndArrowForward, "iphone.and.arrow.forward"},
    NamedSymbol{Symbol::shippingboxFill, "shippingbox.fill"},
    NamedSymbol{Symbol::arrowLeftArrowRight, "arrow.left.arrow.right"},
    NamedSymbol{Symbol::arrowLeftArrowRightCircleFill, "arrow.left.arrow.right.circle.fill"},
    NamedSymbol{Symbol::clockFill, "clock.fill"},
    NamedSymbol{Symbol::checkmarkShieldFill, "checkmark.shield.fill"},
    NamedSymbol{Symbol::gearshape, "gearshape"},
    NamedSymbol{Symbol::app, "app"},
    NamedSymbol{Symbol::photoOnRectangle, "photo.on.rectangle"},
    NamedSymbol{Symbol::map, "map"},
    NamedSymbol{Symbol::musicNote, "music.note"},
    NamedSymbol{Symbol::folder, "folder"},
    NamedSymbol{Symbol::calendar, "calendar"},
    NamedSymbol{Symbol::globe, "globe"},
    NamedSymbol{Symbol::ellipsisCircle, "ellipsis.circle"},
    NamedSymbol{Symbol::wifiSlash, "wifi.slash"},
    NamedSymbol{Symbol::squareGrid3x3, "square.grid.3x3"},
    NamedSymbol{Symbol::doc, "doc"},
    NamedSymbol{Symbol::docRichtext, "doc.richtext"},
    NamedSymbol{Symbol::arrowDownDocFill, "arrow.down.doc.fill"},
    NamedSymbol{Symbol::photo, "photo"},
    NamedSymbol{Symbol::photoStack, "photo.stack"},
    NamedSymbol{Symbol::film, "film"},
    NamedSymbol{Symbol::archivebox, "archivebox"},
    NamedSymbol{Symbol::shippingbox, "shippingbox"},
    NamedSymbol{Symbol::paperplaneFill, "paperplane.fill"},
    NamedSymbol{Symbol::squareAndArrowDown, "square.and.arrow.down"},
    NamedSymbol{Symbol::chevronRight, "chevron.right"},
    NamedSymbol{Symbol::battery100percentBolt, "battery.100percent.bolt"},
    NamedSymbol{Symbol::battery75percent, "battery.75percent"},
    NamedSymbol{Symbol::internaldrive, "internaldrive"},
    NamedSymbol{Symbol::eye, "eye"},
    NamedSymbol{Symbol::arrowDownCircle, "arrow.down.circle"},
    NamedSymbol{Symbol::photoBadgeExclamationmark, "photo.badge.exclamationmark"},
    NamedSymbol{Symbol::docOnDoc, "doc.on.doc"},
    NamedSymbol{Symbol::docOnClipboard, "doc.on.clipboard"},
    NamedSymbol{Symbol::docBadgePlus, "doc.badge.plus"},
    NamedSymbol{Symbol::folderBadgePlus, "folder.badge.plus"},
    NamedSymbol{Symbol::folderBadgeQuestionmark, "folder.badge.questionmark"},
    NamedSymbol{Symbol::arrowDown, "arrow.down"},
    NamedSymbol{Symbol::arrowUpArrowDown, "arrow.up.arrow.down"},
    NamedSymbol{Symbol::arrowDownArrowUp, "arrow.down.arrow.up"},
    NamedSymbol{Symbol::trashSlash, "trash.slash"},
    NamedSymbol{Symbol::rectangle3Group, "rectangle.3.group"},
    NamedSymbol{Symbol::listBullet, "list.bullet"},
    NamedSymbol{Symbol::filmStack, "film.stack"},
    NamedSymbol{Symbol::photoOnRectangleAngled, "photo.on.rectangle.angled"},
    NamedSymbol{Symbol::qrcodeViewfinder, "qrcode.viewfinder"},
    NamedSymbol{Symbol::cableConnectorHorizontal, "cable.connector.horizontal"},
    NamedSymbol{Symbol::lockShield, "lock.shield"},
    NamedSymbol{Symbol::lockShieldFill, "lock.shield.fill"},
    NamedSymbol{Symbol::wifiExclamationmark, "wifi.exclamationmark"},
    NamedSymbol{Symbol::iphone, "iphone"},
    NamedSymbol{Symbol::person2, "person.2"},
};

constexpr bool listsEverySymbolInOrder()
{
    for (std::size_t index = 0; index < namedSymbols.size(); ++index) {
        if (std::size_t(namedSymbols[index].symbol) != index) {
            return false;
        }
    }
    return namedSymbols.size() == std::size_t(Symbol::person2) + 1;
}
static_assert(listsEverySymbolInOrder(), "every symbol needs its system name, in the order of the enumeration");

} // namespace

namespace SymbolIcon {

QPixmap pixmap(Symbol symbol, const QColor &color, int pixels, qreal devicePixelRatio)
{
    // Views ask for the same few symbols whenever they refresh (a row or a tile for each task, the dock at each
    // change of the list): each look is drawn once and kept.
    const QString key = QStringLiteral("tavrine-symbol:%1:%2:%3@%4")
                            .arg(int(symbol))
                            .arg(quint64(color.rgba64()), 0, 16)
                            .arg(pixels)
                            .arg(devicePixelRatio);
    return keptPixmap(key, [&] {
        QPixmap image(QSize(pixels, pixels) * devicePixelRatio);
        image.setDevicePixelRatio(devicePixelRatio);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.scale(pixels / gridSize, pixels / gridSize);
        draw(painter, symbol, color);
        painter.end();
        return image;
    });
}

QString name(Symbol symbol)
{
    const NamedSymbol &entry = namedSymbols[std::size_t(symbol)];
    Q_ASSERT(entry.symbol == symbol);
    return QString::fromLatin1(entry.name);
}

std::optional<Symbol> named(QStringView name)
{
    for (const NamedSymbol &entry : namedSymbols) {
        if (name == QLatin1String(entry.name)) {
            return entry.symbol;
        }
    }
    return std::nullopt;
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

QIcon icon(QStringView name, const QColor &color, int pixels)
{
    const std::optional<Symbol> symbol = named(name);
    return symbol ? icon(*symbol, color, pixels) : QIcon();
}

void paint(QPainter &painter, QStringView name, const QPointF &centre, int pixels, const QColor &color)
{
    const std::optional<Symbol> symbol = named(name);
    if (!symbol) {
        return;
    }
    const QPixmap drawn = pixmap(*symbol, color, pixels, painter.device()->devicePixelRatioF());
    painter.drawPixmap(QRectF(centre.x() - pixels / 2.0, centre.y() - pixels / 2.0, pixels, pixels), drawn,
                       QRectF(drawn.rect()));
}

} // namespace SymbolIcon
