#include "MenuButton.h"

#include <QAccessibleWidget>
#include <QMenu>

namespace {

class MenuButtonAccessible : public QAccessibleWidget
{
public:
    explicit MenuButtonAccessible(QAbstractButton *button) : QAccessibleWidget(button, QAccessible::ButtonMenu) {}

    QString text(QAccessible::Text kind) const override
    {
        // Named by its title unless it has a name of its own, as the toolkit's buttons are.
        if (kind == QAccessible::Name && widget()->accessibleName().isEmpty())
            return button()->text();
        return QAccessibleWidget::text(kind);
    }

    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.hasPopup = true;
        state.pressed = button()->isDown();
        return state;
    }

    QStringList actionNames() const override
    {
        QStringList names = QAccessibleWidget::actionNames();
        if (opensMenu())
            names.prepend(showMenuAction());
        return names;
    }

    void doAction(const QString &actionName) override
    {
        if (actionName != showMenuAction() && actionName != pressAction()) {
            QAccessibleWidget::doAction(actionName);
            return;
        }
        // On the next turn of the event loop: the open menu runs a loop of its own until it closes, and the
        // assistive tool that asked waits for the answer to its call.
        if (opensMenu())
            QMetaObject::invokeMethod(button(), "showMenu", Qt::QueuedConnection);
    }

private:
    QAbstractButton *button() const { return static_cast<QAbstractButton *>(widget()); }
    QMenu *menu() const
    {
        if (auto *toolButton = qobject_cast<QToolButton *>(widget()))
            return toolButton->menu();
        return static_cast<QPushButton *>(widget())->menu();
    }
    bool opensMenu() const { return widget()->isEnabled() && menu(); }
};

QAccessibleInterface *menuButtonAccessible(const QString &className, QObject *object)
{
    if (className != QLatin1String(MenuButton::staticMetaObject.className()) &&
        className != QLatin1String(MenuPushButton::staticMetaObject.className()))
        return nullptr;
    return new MenuButtonAccessible(static_cast<QAbstractButton *>(object));
}

void installMenuButtonAccessible()
{
    static const bool installed = (QAccessible::installFactory(menuButtonAccessible), true);
    Q_UNUSED(installed)
}

} // namespace

MenuButton::MenuButton(QWidget *parent) : QToolButton(parent)
{
    installMenuButtonAccessible();
    setPopupMode(QToolButton::InstantPopup);
}

MenuPushButton::MenuPushButton(const QString &text, QWidget *parent) : QPushButton(text, parent)
{
    installMenuButtonAccessible();
}
