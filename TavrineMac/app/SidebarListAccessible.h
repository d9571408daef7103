#pragma once

#include "PaintedListAccessible.h"

class SidebarList;

// The sidebar as a screen reader reads it: one list item per row, named by the row's text, and among them the row
// whose button opens the trusted phones, which takes the keyboard itself. Qt's own list would leave that button out
// of the tree, so that a screen reader would follow the keyboard to an element it cannot place.
class SidebarListAccessible : public PaintedListAccessible
{
public:
    explicit SidebarListAccessible(SidebarList *list);

    // Makes the elements of every sidebar and of the buttons in its rows.
    static void install();

    qsizetype itemCount() const override;
    QString itemKey(qsizetype index) const override;
    QString itemText(qsizetype index, QAccessible::Text type) const override;
    QRect itemScreenRect(qsizetype index) const override;
    std::optional<qsizetype> itemAtScreenPoint(const QPoint &point) const override;
    QStringList itemActionNames(qsizetype) const override { return {}; }
    void doItemAction(qsizetype, const QString &) override {}
    std::optional<qsizetype> focusedItem() const override;
    void adjustItemState(qsizetype index, QAccessible::State &state) const override;

    QAccessibleInterface *child(int index) const override;
    int indexOfChild(const QAccessibleInterface *child) const override;

private:
    SidebarList *list() const;
    // The button drawn in the row at `index`, if it has one.
    QWidget *rowButton(qsizetype index) const;
};
