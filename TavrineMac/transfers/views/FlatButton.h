#pragma once

#include <QPushButton>

// A push button drawn flat, as a link or a row. The style draws no focus of its own on a flat button, so one reached
// with Tab would not show that it has the keyboard: it draws the focus mark around itself then. A subclass that
// draws some of its buttons with the style's bevel (setFlat(false)) leaves their focus to the style, but for the
// default button of a dialog, whose frame the style draws as it draws the keyboard's: that one draws the mark too.
class FlatButton : public QPushButton
{
    Q_OBJECT

public:
    explicit FlatButton(QWidget *parent = nullptr);
    explicit FlatButton(const QString &text, QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;
};
