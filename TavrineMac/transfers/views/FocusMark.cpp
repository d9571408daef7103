#include "FocusMark.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QPainter>
#include <QPen>
#include <QStyleOptionFocusRect>
#include <QWidget>

namespace {

constexpr qreal ringWidth = 2;
constexpr qreal ringRadius = 4;

} // namespace

bool FocusMark::showsOn(const QWidget &widget)
{
    return widget.hasFocus() && widget.window()->testAttribute(Qt::WA_KeyboardFocusChange);
}

void FocusMark::paint(QPainter &painter, const QStyleOption &option, const QRect &rect, const QWidget *widget,
                      bool onHighlight)
{
    if (!option.state.testFlag(QStyle::State_HasFocus) || !option.state.testFlag(QStyle::State_KeyboardFocusChange)) {
        return;
    }
    painter.save();
    if (onHighlight) {
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(option.palette.color(QPalette::HighlightedText), ringWidth));
        painter.setBrush(Qt::NoBrush);
        const qreal inset = ringWidth / 2;
        painter.drawRoundedRect(QRectF(rect).adjusted(inset, inset, -inset, -inset), ringRadius, ringRadius);
    } else {
        QStyleOptionFocusRect frame;
        frame.QStyleOption::operator=(option);
        frame.rect = rect;
        (widget ? widget->style() : QApplication::style())
            ->drawPrimitive(QStyle::PE_FrameFocusRect, &frame, &painter, widget);
    }
    painter.restore();
}

void FocusMark::paint(QWidget *widget)
{
    QPainter painter(widget);
    QStyleOption option;
    option.initFrom(widget);
    paint(painter, option, widget->rect().adjusted(1, 1, -1, -1), widget);
}

void FocusMark::paint(QAbstractItemView &view)
{
    if (view.currentIndex().isValid() || !view.hasFocus()) {
        return;
    }
    QPainter painter(view.viewport());
    QStyleOption option;
    option.initFrom(&view);
    option.state |= QStyle::State_KeyboardFocusChange;
    paint(painter, option, view.viewport()->rect().adjusted(1, 1, -1, -1), &view);
}

void FocusMark::currentItemChanged(QAbstractItemView &view, const QModelIndex &current, const QModelIndex &previous)
{
    if (current.isValid() != previous.isValid()) {
        view.viewport()->update();
    }
}
