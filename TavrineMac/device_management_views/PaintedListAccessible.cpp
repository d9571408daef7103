#include "PaintedListAccessible.h"

#include <QPointer>
#include <QWidget>

#include <limits>

namespace {

// One item: the one at `index` of its list, as long as the item there keeps its key.
class PaintedItemAccessible : public QAccessibleInterface, public QAccessibleActionInterface
{
public:
    PaintedItemAccessible(QWidget *list, qsizetype index, const QString &key) : m_list(list), m_index(index), m_key(key)
    {}

    const QString &key() const { return m_key; }

    bool isValid() const override
    {
        const PaintedListAccessible *owner = list();
        return owner && m_index < owner->itemCount() && owner->itemKey(m_index) == m_key;
    }
    QObject *object() const override { return nullptr; }
    QWindow *window() const override { return m_list ? m_list->window()->windowHandle() : nullptr; }
    QList<std::pair<QAccessibleInterface *, QAccessible::Relation>> relations(QAccessible::Relation) const override
    {
        return {};
    }
    QAccessibleInterface *focusChild() const override { return nullptr; }
    QAccessibleInterface *childAt(int, int) const override { return nullptr; }
    QAccessibleInterface *parent() const override { return list(); }
    QAccessibleInterface *child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface *) const override { return -1; }

    QString text(QAccessible::Text type) const override
    {
        return isValid() ? list()->itemText(m_index, type) : QString();
    }
    void setText(QAccessible::Text, const QString &) override {}
    QRect rect() const override { return isValid() ? list()->itemScreenRect(m_index) : QRect(); }
    QAccessible::Role role() const override
    {
        const PaintedListAccessible *owner = list();
        return owner ? owner->itemRole() : QAccessible::NoRole;
    }
    QAccessible::State state() const override
    {
        QAccessible::State state;
        if (!isValid()) {
            state.invalid = true;
            return state;
        }
        const PaintedListAccessible *owner = list();
        const QRect shown(m_list->mapToGlobal(QPoint(0, 0)), m_list->size());
        if (!m_list->isVisible() || !owner->itemScreenRect(m_index).intersects(shown)) {
            state.invisible = true;
            state.offscreen = true;
        }
        state.focusable = true;
        state.focused = owner->focusedItem() == m_index;
        owner->adjustItemState(m_index, state);
        return state;
    }

    void *interface_cast(QAccessible::InterfaceType type) override
    {
        return type == QAccessible::ActionInterface ? static_cast<QAccessibleActionInterface *>(this) : nullptr;
    }

    QStringList actionNames() const override { return isValid() ? list()->itemActionNames(m_index) : QStringList(); }
    QString localizedActionName(const QString &name) const override { return name; }
    QString localizedActionDescription(const QString &name) const override { return name; }
    void doAction(const QString &name) override
    {
        if (isValid() && list()->itemActionNames(m_index).contains(name)) {
            list()->doItemAction(m_index, name);
        }
    }
    QStringList keyBindingsForAction(const QString &) const override { return {}; }

private:
    PaintedListAccessible *list() const
    {
        // The factory that made the list's element makes it again for as long as the list lives.
        return m_list ? static_cast<PaintedListAccessible *>(QAccessible::queryAccessibleInterface(m_list)) : nullptr;
    }

    QPointer<QWidget> m_list;
    qsizetype m_index;
    QString m_key;
};

} // namespace

PaintedListAccessible::PaintedListAccessible(QWidget *list, QAccessible::Role itemRole)
    : QAccessibleWidget(list, QAccessible::List), m_itemRole(itemRole)
{}

PaintedListAccessible::~PaintedListAccessible()
{
    for (const QAccessible::Id id : std::as_const(m_items)) {
        QAccessible::deleteAccessibleInterface(id);
    }
}

int PaintedListAccessible::childCount() const
{
    return int(std::min<qsizetype>(itemCount(), std::numeric_limits<int>::max()));
}

QAccessibleInterface *PaintedListAccessible::child(int index) const
{
    if (index < 0 || index >= itemCount()) {
        return nullptr;
    }
    const QString key = itemKey(index);
    if (const auto cached = m_items.constFind(index); cached != m_items.cend()) {
        auto *item = static_cast<PaintedItemAccessible *>(QAccessible::accessibleInterface(*cached));
        if (item && item->key() == key) {
            return item;
        }
        QAccessible::deleteAccessibleInterface(*cached);
        m_items.erase(cached);
    }
    auto *item = new PaintedItemAccessible(widget(), index, key);
    m_items.insert(index, QAccessible::registerAccessibleInterface(item));
    return item;
}

int PaintedListAccessible::indexOfChild(const QAccessibleInterface *child) const
{
    for (auto item = m_items.cbegin(); item != m_items.cend(); ++item) {
        if (QAccessible::accessibleInterface(item.value()) == child) {
            return child->isValid() ? item.key() : -1;
        }
    }
    return -1;
}

QAccessibleInterface *PaintedListAccessible::childAt(std::optional<qsizetype> index) const
{
    return index && *index <= std::numeric_limits<int>::max() ? child(int(*index)) : nullptr;
}

QAccessibleInterface *PaintedListAccessible::childAt(int x, int y) const
{
    return childAt(itemAtScreenPoint(QPoint(x, y)));
}

QAccessibleInterface *PaintedListAccessible::focusChild() const
{
    return childAt(focusedItem());
}
