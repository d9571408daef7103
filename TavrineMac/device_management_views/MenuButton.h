#pragma once

#include <QPushButton>
#include <QToolButton>

// A tool button that opens its menu as soon as it is pressed. The toolkit's accessible tool button offers such a
// button's show-menu action but does nothing when asked; this one's show-menu (and press) action opens the menu.
class MenuButton : public QToolButton
{
    Q_OBJECT

public:
    explicit MenuButton(QWidget *parent = nullptr);
};

// A push button with a menu whose show-menu (and press) action opens the menu without keeping the assistive tool
// that asked waiting until the menu closes.
class MenuPushButton : public QPushButton
{
    Q_OBJECT

public:
    explicit MenuPushButton(const QString &text, QWidget *parent = nullptr);
};
