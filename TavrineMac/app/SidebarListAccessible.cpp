#include "SidebarListAccessible.h"

#include "SidebarList.h"

#include <QAccessibleWidget>

namespace {

// The button of a sidebar row: read as the row it fills, inside the list, and pressed by its action.
class SidebarRowButtonAccessible : public QAccessibleWidget
{
public:
    explicit SidebarRowButtonAccessible(SidebarRowButton *button) : QAccessibleWidget(button, QAccessible::ListItem) {}

    QAccessibleInterface *parent() const override
    {
        // Made with the list as its parent, the button is moved into the list's rows.
        for (QWidget *ancestor = widget()->parentWidget(); ancestor; ancestor = ancestor->parentWidget()) {
            if (auto *list = qobject_cast<SidebarList *>(ancestor)) {
                return QAccessible::queryAccessibleInterface(list);
            }
        }
        return QAccessibleWidget::parent();
    }
    QStringList actionNames() const override { return {pressAction()}; }
    void doAction(const QString &name) override
    {
        if (name == pressAction() && widget()->isEnabled()) {
            static_cast<SidebarRowButton *>(widget())->click();
        }
    }
};

QAccessibleInterface *sidebarAccessible(const QString &, QObject *object)
{
    if (auto *list = qobject_cast<SidebarList *>(object)) {
        return new SidebarListAccessible(list);
    }
    if (auto *button = qobject_cast<SidebarRowButton *>(object)) {
        return new SidebarRowButtonAccessible(button);
    }
    return nullptr;
}

} // namespace

SidebarListAccessible::SidebarListAccessible(SidebarList *list) : PaintedListAccessible(list, QAccessible::ListItem) {}

void SidebarListAccessible::install()
{
    static const bool installed = (QAccessible::installFactory(sidebarAccessible), true);
    Q_UNUSED(installed)
}

SidebarList *SidebarListAccessible::list() const
{
    return static_cast<SidebarList *>(widget());
}

QWidget *SidebarListAccessible::rowButton(qsizetype index) const
{
    return qobject_cast<SidebarRowButton *>(list()->itemWidget(list()->item(int(index))));
}

qsizetype SidebarListAccessible::itemCount() const
{
    return list()->count();
}

QString SidebarListAccessible::itemKey(qsizetype index) const
{
    const QListWidgetItem *item = list()->item(int(index));
    return item ? item->data(Qt::AccessibleTextRole).toString() + QChar(u'\n') +
                      item->data(SidebarList::selectionValueRole).toString()
                : QString();
}

QString SidebarListAccessible::itemText(qsizetype index, QAccessible::Text type) const
{
    const QListWidgetItem *item = list()->item(int(index));
    return item && type == QAccessible::Name ? item->data(Qt::AccessibleTextRole).toString() : QString();
}

QRect SidebarListAccessible::itemScreenRect(qsizetype index) const
{
    const QRect shown = list()->visualItemRect(list()->item(int(index)));
    return QRect(list()->viewport()->mapToGlobal(shown.topLeft()), shown.size());
}

std::optional<qsizetype> SidebarListAccessible::itemAtScreenPoint(const QPoint &point) const
{
    const QListWidgetItem *item = list()->itemAt(list()->viewport()->mapFromGlobal(point));
    return item ? std::optional<qsizetype>(list()->row(item)) : std::nullopt;
}

std::optional<qsizetype> SidebarListAccessible::focusedItem() const
{
    const int current = list()->currentRow();
    return list()->hasFocus() && current >= 0 ? std::optional<qsizetype>(current) : std::nullopt;
}

void SidebarListAccessible::adjustItemState(qsizetype index, QAccessible::State &state) const
{
    const QListWidgetItem *item = list()->item(int(index));
    const bool selectable = SidebarList::isSelectableRow(item);
    // Only the phones are reached by the keyboard within the list.
    state.focusable = selectable;
    state.selectable = selectable;
    state.selected = selectable && item->isSelected();
}

QAccessibleInterface *SidebarListAccessible::child(int index) const
{
    if (QWidget *button = index >= 0 ? rowButton(index) : nullptr) {
        return QAccessible::queryAccessibleInterface(button);
    }
    return PaintedListAccessible::child(index);
}

int SidebarListAccessible::indexOfChild(const QAccessibleInterface *child) const
{
    for (qsizetype row = 0; child && child->object() && row < itemCount(); ++row) {
        if (rowButton(row) == child->object()) {
            return int(row);
        }
    }
    return PaintedListAccessible::indexOfChild(child);
}
