#pragma once

#include <QAccessibleApplication>

// The application's root in the accessibility tree. The toolkit's own root leaves popups (menus, popovers) out of
// the application's windows, so a screen reader walking the tree never finds one that is open; this root lists the
// open ones after the other windows.
class ApplicationAccessible : public QAccessibleApplication
{
public:
    // Makes this the application's root. Call it before the application object is made: the root once asked for
    // is kept.
    static void install();

    int childCount() const override;
    QAccessibleInterface *child(int index) const override;
    int indexOfChild(const QAccessibleInterface *child) const override;
};
