#include "TileButton.h"

#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>

TileButton::TileButton(QWidget *parent) : QAbstractButton(parent)
{
    setFocusPolicy(Qt::StrongFocus);
}

void TileButton::keyPressEvent(QKeyEvent *event)
{
    const bool isReturn = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (isReturn && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        if (!event->isAutoRepeat()) {
            click();
        }
        event->accept();
        return;
    }
    QAbstractButton::keyPressEvent(event);
}

void TileButton::paintFocusRing(qreal radius)
{
    if (!hasFocus()) {
        return;
    }
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal inset = focusRingWidth / 2.0;
    QPainterPath ring;
    ring.addRoundedRect(QRectF(rect()).adjusted(inset, inset, -inset, -inset), std::max<qreal>(0, radius - inset),
                        std::max<qreal>(0, radius - inset));
    painter.setPen(QPen(palette().color(QPalette::Highlight), focusRingWidth));
    painter.drawPath(ring);
}
