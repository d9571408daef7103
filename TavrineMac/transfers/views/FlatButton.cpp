#include "FlatButton.h"

#include <QStyleOptionFocusRect>
#include <QStylePainter>

FlatButton::FlatButton(QWidget *parent) : FlatButton(QString(), parent) {}

FlatButton::FlatButton(const QString &text, QWidget *parent) : QPushButton(text, parent)
{
    setFlat(true);
}

void FlatButton::paintEvent(QPaintEvent *event)
{
    QPushButton::paintEvent(event);
    if (!hasFocus()) {
        return;
    }
    QStylePainter painter(this);
    QStyleOptionFocusRect frame;
    frame.initFrom(this);
    frame.rect = rect().adjusted(1, 1, -1, -1);
    painter.drawPrimitive(QStyle::PE_FrameFocusRect, frame);
}
