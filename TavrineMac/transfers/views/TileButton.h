#pragma once

#include <QAbstractButton>

// A button that draws itself whole, as a tile or a capsule. Return and Enter press it as Space does, and while it
// has the keyboard focus a ring along its rounded outline shows where the keyboard is.
class TileButton : public QAbstractButton
{
    Q_OBJECT

public:
    explicit TileButton(QWidget *parent = nullptr);

    static constexpr int focusRingWidth = 2;

protected:
    void keyPressEvent(QKeyEvent *event) override;
    // Strokes the ring inside the widget's rectangle rounded by `radius`, while the button has the focus.
    void paintFocusRing(qreal radius);
};
