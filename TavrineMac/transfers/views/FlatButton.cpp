#include "FlatButton.h"

#include "FocusMark.h"

FlatButton::FlatButton(QWidget *parent) : FlatButton(QString(), parent) {}

FlatButton::FlatButton(const QString &text, QWidget *parent) : QPushButton(text, parent)
{
    setFlat(true);
}

void FlatButton::paintEvent(QPaintEvent *event)
{
    QPushButton::paintEvent(event);
    if (isFlat() || isDefault()) {
        FocusMark::paint(this);
    }
}
