#include "ManagedMediaGalleryAccessible.h"

#include "ManagedMediaGallery.h"
#include "PaintedListAccessible.h"

#include <QScrollBar>

namespace {

const QString previewAction = QStringLiteral("预览");
const QString downloadAction = QStringLiteral("下载到电脑");
// A screen reader's user mostly drives the gallery by keys: the hint names the key beside the double click.
const QString previewHint = QStringLiteral("双击或按空格键预览");

// The viewport: a list of the tiles drawn, each a button named "照片，name" or "视频，name".
class MediaGalleryViewportAccessible : public PaintedListAccessible
{
public:
    explicit MediaGalleryViewportAccessible(QWidget *viewport) : PaintedListAccessible(viewport, QAccessible::Button) {}

    qsizetype itemCount() const override
    {
        const ManagedMediaGallery *shown = gallery();
        return shown ? shown->items().size() : 0;
    }
    QString itemKey(qsizetype index) const override { return gallery()->items().at(index).id; }
    QString itemText(qsizetype index, QAccessible::Text type) const override
    {
        switch (type) {
        case QAccessible::Name:
            return mediaAccessibilityLabel(gallery()->items().at(index));
        case QAccessible::Description:
        case QAccessible::Help:
            return previewHint;
        default:
            return {};
        }
    }
    QRect itemScreenRect(qsizetype index) const override
    {
        const ManagedMediaGallery *shown = gallery();
        const QRect tile = shown->tileRect(index).translated(0, -shown->verticalScrollBar()->value()).toAlignedRect();
        return QRect(shown->viewport()->mapToGlobal(tile.topLeft()), tile.size());
    }
    std::optional<qsizetype> itemAtScreenPoint(const QPoint &point) const override
    {
        const ManagedMediaGallery *shown = gallery();
        return shown ? shown->indexAt(shown->viewport()->mapFromGlobal(point)) : std::nullopt;
    }
    QStringList itemActionNames(qsizetype) const override { return {previewAction, downloadAction}; }
    void doItemAction(qsizetype index, const QString &name) override
    {
        if (name == previewAction) {
            gallery()->preview(index);
        } else if (name == downloadAction) {
            gallery()->download(index);
        }
    }
    std::optional<qsizetype> focusedItem() const override
    {
        const ManagedMediaGallery *shown = gallery();
        return shown && shown->hasFocus() ? shown->currentIndex() : std::nullopt;
    }

private:
    ManagedMediaGallery *gallery() const { return qobject_cast<ManagedMediaGallery *>(widget()->parentWidget()); }
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
