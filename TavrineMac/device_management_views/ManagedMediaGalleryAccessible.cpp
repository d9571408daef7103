#include "ManagedMediaGalleryAccessible.h"

#include "ManagedMediaGallery.h"

#include <QAccessibleWidget>
#include <QHash>
#include <QPointer>
#include <QScrollBar>

namespace {

const QString previewAction = QStringLiteral("预览");
const QString downloadAction = QStringLiteral("下载到电脑");
const QString doubleClickHint = QStringLiteral("双击预览");

// Whether the keyboard is on the tile of item `index`: the gallery has the focus and that tile is its current one.
bool isFocused(const ManagedMediaGallery *gallery, qsizetype index)
{
    return gallery->hasFocus() && gallery->currentIndex() == index;
}

// One tile: the item at `index` of the gallery's drawn items, as long as that item keeps its id there.
class MediaTileAccessible : public QAccessibleInterface, public QAccessibleActionInterface
{
public:
    MediaTileAccessible(ManagedMediaGallery *gallery, qsizetype index, const QString &id)
        : m_gallery(gallery), m_index(index), m_id(id)
    {}

    const QString &id() const { return m_id; }

    bool isValid() const override
    {
        return m_gallery && m_index < m_gallery->items().size() && m_gallery->items().at(m_index).id == m_id;
    }
    QObject *object() const override { return nullptr; }
    QWindow *window() const override { return m_gallery ? m_gallery->window()->windowHandle() : nullptr; }
    QList<std::pair<QAccessibleInterface *, QAccessible::Relation>> relations(QAccessible::Relation) const override
    {
        return {};
    }
    QAccessibleInterface *focusChild() const override { return nullptr; }
    QAccessibleInterface *childAt(int, int) const override { return nullptr; }
    QAccessibleInterface *parent() const override
    {
        return m_gallery ? QAccessible::queryAccessibleInterface(m_gallery->viewport()) : nullptr;
    }
    QAccessibleInterface *child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface *) const override { return -1; }

    QString text(QAccessible::Text type) const override
    {
        if (!isValid()) {
            return {};
        }
        switch (type) {
        case QAccessible::Name:
            return mediaAccessibilityLabel(m_gallery->items().at(m_index));
        case QAccessible::Description:
        case QAccessible::Help:
            return doubleClickHint;
        default:
            return {};
        }
    }
    void setText(QAccessible::Text, const QString &) override {}

    QRect rect() const override
    {
        if (!isValid()) {
            return {};
        }
        const QWidget *viewport = m_gallery->viewport();
        const QRect tile =
            m_gallery->tileRect(m_index).translated(0, -m_gallery->verticalScrollBar()->value()).toAlignedRect();
        return QRect(viewport->mapToGlobal(tile.topLeft()), tile.size());
    }
    QAccessible::Role role() const override { return QAccessible::Button; }
    QAccessible::State state() const override
    {
        QAccessible::State state;
        if (!isValid()) {
            state.invalid = true;
            return state;
        }
        const QRectF shown(0, m_gallery->verticalScrollBar()->value(), m_gallery->viewport()->width(),
                           m_gallery->viewport()->height());
        if (!m_gallery->isVisible() || !m_gallery->tileRect(m_index).intersects(shown)) {
            state.invisible = true;
            state.offscreen = true;
        }
        state.focusable = true;
        state.focused = isFocused(m_gallery, m_index);
        return state;
    }

    void *interface_cast(QAccessible::InterfaceType type) override
    {
        return type == QAccessible::ActionInterface ? static_cast<QAccessibleActionInterface *>(this) : nullptr;
    }

    QStringList actionNames() const override { return {previewAction, downloadAction}; }
    QString localizedActionName(const QString &name) const override { return name; }
    QString localizedActionDescription(const QString &name) const override { return name; }
    void doAction(const QString &name) override
    {
        if (!isValid()) {
            return;
        }
        if (name == previewAction) {
            m_gallery->preview(m_index);
        } else if (name == downloadAction) {
            m_gallery->download(m_index);
        }
    }
    QStringList keyBindingsForAction(const QString &) const override { return {}; }

private:
    QPointer<ManagedMediaGallery> m_gallery;
    qsizetype m_index;
    QString m_id;
};

// The viewport: a list of the tiles, made as they are asked for and made again when another item takes a place.
class MediaGalleryViewportAccessible : public QAccessibleWidget
{
public:
    explicit MediaGalleryViewportAccessible(QWidget *viewport) : QAccessibleWidget(viewport, QAccessible::List) {}

    ~MediaGalleryViewportAccessible() override
    {
        for (const QAccessible::Id id : std::as_const(m_tiles)) {
            QAccessible::deleteAccessibleInterface(id);
        }
    }

    int childCount() const override
    {
        const ManagedMediaGallery *shown = gallery();
        return shown ? int(std::min<qsizetype>(shown->items().size(), std::numeric_limits<int>::max())) : 0;
    }

    QAccessibleInterface *child(int index) const override
    {
        ManagedMediaGallery *shown = gallery();
        if (!shown || index < 0 || index >= shown->items().size()) {
            return nullptr;
        }
        const QString &id = shown->items().at(index).id;
        if (const auto cached = m_tiles.constFind(index); cached != m_tiles.cend()) {
            auto *tile = static_cast<MediaTileAccessible *>(QAccessible::accessibleInterface(*cached));
            if (tile && tile->id() == id) {
                return tile;
            }
            QAccessible::deleteAccessibleInterface(*cached);
            m_tiles.erase(cached);
        }
        auto *tile = new MediaTileAccessible(shown, index, id);
        m_tiles.insert(index, QAccessible::registerAccessibleInterface(tile));
        return tile;
    }

    int indexOfChild(const QAccessibleInterface *child) const override
    {
        for (auto tile = m_tiles.cbegin(); tile != m_tiles.cend(); ++tile) {
            if (QAccessible::accessibleInterface(tile.value()) == child) {
                return child->isValid() ? tile.key() : -1;
            }
        }
        return -1;
    }

    QAccessibleInterface *focusChild() const override
    {
        const ManagedMediaGallery *shown = gallery();
        const std::optional<qsizetype> current = shown ? shown->currentIndex() : std::nullopt;
        return current && isFocused(shown, *current) && *current <= std::numeric_limits<int>::max()
                   ? child(int(*current))
                   : nullptr;
    }

    QAccessibleInterface *childAt(int x, int y) const override
    {
        const ManagedMediaGallery *shown = gallery();
        if (!shown) {
            return nullptr;
        }
        const std::optional<qsizetype> index = shown->indexAt(shown->viewport()->mapFromGlobal(QPoint(x, y)));
        return index && *index <= std::numeric_limits<int>::max() ? child(int(*index)) : nullptr;
    }

private:
    ManagedMediaGallery *gallery() const { return qobject_cast<ManagedMediaGallery *>(widget()->parentWidget()); }

    mutable QHash<int, QAccessible::Id> m_tiles;
};

QAccessibleInterface *galleryViewportAccessible(const QString &, QObject *object)
{
    auto *widget = qobject_cast<QWidget *>(object);
    auto *gallery = widget ? qobject_cast<ManagedMediaGallery *>(widget->parentWidget()) : nullptr;
    if (gallery && gallery->viewport() == widget) {
        return new MediaGalleryViewportAccessible(widget);
    }
    return nullptr;
}

} // namespace

namespace ManagedMediaGalleryAccessible {

void install()
{
    static const bool installed = (QAccessible::installFactory(galleryViewportAccessible), true);
    Q_UNUSED(installed);
}

} // namespace ManagedMediaGalleryAccessible
