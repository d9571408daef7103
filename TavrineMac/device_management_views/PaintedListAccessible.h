#pragma once

#include <QAccessibleWidget>
#include <QHash>

#include <optional>

// A list that paints its items instead of making a widget for each gives screen readers what a list of widgets
// would: one element per item, named, placed on screen, with its actions, and the item under the keyboard as the
// focused one. A list's own interface says what its items are; the elements are made as they are asked for and made
// again when another item takes a place.
class PaintedListAccessible : public QAccessibleWidget
{
public:
    PaintedListAccessible(QWidget *list, QAccessible::Role itemRole);
    ~PaintedListAccessible() override;

    // The items, asked for each time an element is read: how many, what tells one from another at the same place,
    // their texts, their frames on screen, their actions.
    virtual qsizetype itemCount() const = 0;
    virtual QString itemKey(qsizetype index) const = 0;
    virtual QString itemText(qsizetype index, QAccessible::Text type) const = 0;
    virtual QRect itemScreenRect(qsizetype index) const = 0;
    virtual std::optional<qsizetype> itemAtScreenPoint(const QPoint &point) const = 0;
    virtual QStringList itemActionNames(qsizetype index) const = 0;
    virtual void doItemAction(qsizetype index, const QString &name) = 0;
    // The item under the keyboard while the list has the focus.
    virtual std::optional<qsizetype> focusedItem() const { return std::nullopt; }
    // What a list knows of an item's state beyond where it is and whether it has the keyboard.
    virtual void adjustItemState(qsizetype, QAccessible::State &) const {}

    QAccessible::Role itemRole() const { return m_itemRole; }

    int childCount() const override;
    QAccessibleInterface *child(int index) const override;
    int indexOfChild(const QAccessibleInterface *child) const override;
    QAccessibleInterface *childAt(int x, int y) const override;
    QAccessibleInterface *focusChild() const override;

private:
    QAccessibleInterface *childAt(std::optional<qsizetype> index) const;

    QAccessible::Role m_itemRole;
    mutable QHash<int, QAccessible::Id> m_items;
};
