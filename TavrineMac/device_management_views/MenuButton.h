#pragma once

#include <QToolButton>

// A tool button that opens its menu as soon as it is pressed. The toolkit's accessible tool button offers such a
// button's show-menu action but does nothing when asked; this one's show-menu (and press) action opens the menu.
class MenuButton : public QToolButton
{
    Q_OBJECT

public:
    explicit MenuButton(QWidget *parent = nullptr);
};
