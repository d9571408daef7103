#include "ApplicationAccessible.h"

#include <QGuiApplication>
#include <QWindow>

#include <algorithm>

namespace {

QAccessibleInterface *applicationAccessible(const QString &, QObject *object)
{
    return object && object == QCoreApplication::instance() ? new ApplicationAccessible : nullptr;
}

// The popup windows on screen, in the order they were made.
QList<QAccessibleInterface *> openPopups()
{
    QList<QAccessibleInterface *> popups;
    for (QWindow *window : QGuiApplication::topLevelWindows()) {
        if (window->type() != Qt::Popup || !window->isVisible())
            continue;
        if (QAccessibleInterface *root = window->accessibleRoot())
            popups.append(root);
    }
    return popups;
}

} // namespace

void ApplicationAccessible::install()
{
    QAccessible::installFactory(applicationAccessible);
}

int ApplicationAccessible::childCount() const
{
    return QAccessibleApplication::childCount() + int(openPopups().size());
}

QAccessibleInterface *ApplicationAccessible::child(int index) const
{
    const int windowCount = QAccessibleApplication::childCount();
    return index < windowCount ? QAccessibleApplication::child(index) : openPopups().value(index - windowCount);
}

int ApplicationAccessible::indexOfChild(const QAccessibleInterface *child) const
{
    const int index = QAccessibleApplication::indexOfChild(child);
    if (index >= 0 || !child)
        return index;
    const QList<QAccessibleInterface *> popups = openPopups();
    const auto popup = std::find(popups.begin(), popups.end(), child);
    return popup == popups.end() ? -1 : QAccessibleApplication::childCount() + int(popup - popups.begin());
}
