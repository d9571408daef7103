#pragma once

#include <QPushButton>

// A push button drawn flat, as a link or a row. The style draws no focus of its own on a flat button, so one reached
// with Tab would not show that it has the keyboard: it draws the style's focus frame around itself then.
class FlatButton : public QPushButton
{
    Q_OBJECT

public:
    explicit FlatButton(QWidget *parent = nullptr);
    explicit FlatButton(const QString &text, QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;
};
