#include "ManagedMediaGallery.h"

#include "DeviceManagementStore.h"
#include "JustifiedGalleryRows.h"
#include "ManagedContentCategory.h"
#include "ManagedMediaGalleryAccessible.h"
#include "SymbolIcon.h"

#include <QAccessible>
#include <QContextMenuEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QToolTip>
#include <QtMath>

#include <algorithm>
#include <chrono>
#include <cmath>

namespace {

using namespace std::chrono_literals;

constexpr auto spinnerInterval = 80ms;
constexpr qreal gridMinimumCell = 156;
constexpr qreal gridMaximumCell = 220;
constexpr qreal gridColumnSpacing = 14;
constexpr qreal gridRowSpacing = 18;
constexpr qreal gridPadding = 24;
constexpr qreal focusRingWidth = 3;

QIcon menuIcon(QStringView symbolName, const QPalette &palette)
{
    return SymbolIcon::icon(symbolName, palette.color(QPalette::Text));
}

} // namespace

ManagedMediaGallery::ManagedMediaGallery(DeviceManagementStore &store, QWidget *parent)
    : QAbstractScrollArea(parent), m_store(&store)
{
    ManagedMediaGalleryAccessible::install();
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setFocusPolicy(Qt::StrongFocus);
    verticalScrollBar()->setSingleStep(40);
    viewport()->setMouseTracking(true);
    m_spinnerTimer.setInterval(spinnerInterval);
    connect(&m_spinnerTimer, &QTimer::timeout, this, [this] {
        m_spinnerAngle = (m_spinnerAngle + 30) % 360;
        viewport()->update();
    });
    connect(&store, &DeviceManagementStore::mediaItemsChanged, this, &ManagedMediaGallery::takeItems);
    connect(&store, &DeviceManagementStore::loadedMediaKindChanged, this, &ManagedMediaGallery::takeItems);
    connect(&store, &DeviceManagementStore::thumbnailRevisionChanged, this, [this] {
        updateOnScreenTiles();
        viewport()->update();
    });
    takeItems();
}

void ManagedMediaGallery::takeItems()
{
    const std::optional<qsizetype> previous = std::exchange(m_currentIndex, std::nullopt);
    const QString currentID = previous ? m_items.at(*previous).id : QString();
    m_items =
        m_store ? galleryMediaItems(m_store->mediaItems(), m_store->loadedMediaKind()) : QList<ManagedMediaItem>();
    // The keyboard stays on its item, or near where it was when the item is gone.
    if (previous && !m_items.isEmpty()) {
        const auto same = std::find_if(m_items.cbegin(), m_items.cend(),
                                       [&currentID](const ManagedMediaItem &item) { return item.id == currentID; });
        m_currentIndex = same != m_items.cend() ? same - m_items.cbegin() : std::min(*previous, m_items.size() - 1);
    }
    // A screen reader names the list by what it holds: "照片" or "视频".
    viewport()->setAccessibleName(rawValue(m_store && m_store->loadedMediaKind() == ManagedMediaKind::video
                                               ? ManagedContentCategory::videos
                                               : ManagedContentCategory::photos));
    setHoveredIndex(std::nullopt);
    relayout();
}

void ManagedMediaGallery::setLayoutRawValue(const QString &rawValue)
{
    const MediaGalleryLayoutStyle style =
        isCompactMediaLayout(rawValue) ? MediaGalleryLayoutStyle::compact : MediaGalleryLayoutStyle::original;
    if (style == m_style) {
        return;
    }
    m_style = style;
    relayout();
}

QRectF ManagedMediaGallery::tileRect(qsizetype index) const
{
    return index >= 0 && index < m_tileRects.size() ? m_tileRects.at(index) : QRectF();
}

std::optional<qsizetype> ManagedMediaGallery::indexAt(const QPoint &viewportPoint) const
{
    const QPointF point(viewportPoint.x(), viewportPoint.y() + verticalScrollBar()->value());
    for (const qsizetype index : onScreenIndices()) {
        if (m_tileRects.at(index).contains(point)) {
            return index;
        }
    }
    return std::nullopt;
}

QList<qsizetype> ManagedMediaGallery::onScreenIndices() const
{
    QList<qsizetype> indices;
    if (!isVisible()) {
        return indices;
    }
    const qreal top = verticalScrollBar()->value() - onScreenMargin;
    const qreal bottom = verticalScrollBar()->value() + viewport()->height() + onScreenMargin;
    // Tiles are laid out row by row, so their bottoms never decrease along the list.
    const auto first = std::lower_bound(m_tileRects.cbegin(), m_tileRects.cend(), top,
                                        [](const QRectF &rect, qreal edge) { return rect.bottom() < edge; });
    for (auto rect = first; rect != m_tileRects.cend() && rect->top() <= bottom; ++rect) {
        indices.append(rect - m_tileRects.cbegin());
    }
    return indices;
}

ManagedMediaTile ManagedMediaGallery::tile(qsizetype index) const
{
    ManagedMediaTile tile;
    if (!m_store || index < 0 || index >= m_items.size()) {
        return tile;
    }
    tile.item = m_items.at(index);
    tile.image = m_store->cachedMediaImage(tile.item);
    tile.isLoading = m_store->loadingThumbnailKeys().contains(m_store->mediaCacheKey(tile.item));
    tile.style = m_style;
    tile.isHovering = m_hoveredIndex == index;
    tile.spinnerAngle = m_spinnerAngle;
    return tile;
}

QMenu *ManagedMediaGallery::makeContextMenu(qsizetype index, QWidget *parent)
{
    auto *menu = new QMenu(parent);
    menu->addAction(menuIcon(u"eye", palette()), QStringLiteral("预览"), this, [this, index] { preview(index); });
    menu->addAction(menuIcon(u"arrow.down.circle", palette()), QStringLiteral("下载到电脑"), this,
                    [this, index] { download(index); });
    return menu;
}

void ManagedMediaGallery::preview(qsizetype index)
{
    if (m_store && index >= 0 && index < m_items.size()) {
        emit previewRequested(m_items.at(index).id);
    }
}

void ManagedMediaGallery::download(qsizetype index)
{
    if (m_store && index >= 0 && index < m_items.size()) {
        // Started, not awaited: the outcome comes back through the store's message.
        m_store->downloadMedia(m_items.at(index));
    }
}

void ManagedMediaGallery::setCurrentIndex(std::optional<qsizetype> index)
{
    if (index && (*index < 0 || *index >= m_items.size())) {
        return;
    }
    if (index == m_currentIndex) {
        return;
    }
    m_currentIndex = index;
    if (index) {
        scrollToTile(*index);
    }
    viewport()->update();
    announceCurrentTile();
}

std::optional<qsizetype> ManagedMediaGallery::neighbour(int key) const
{
    if (!m_currentIndex || *m_currentIndex >= m_tileRects.size()) {
        return std::nullopt;
    }
    const qsizetype current = *m_currentIndex;
    const QRectF from = m_tileRects.at(current);
    // Tiles are laid out row by row: a row is the run of tiles that share its top edge.
    const auto sameRow = [](const QRectF &a, const QRectF &b) {
        return std::abs(a.top() - b.top()) < 0.5;
    };
    qsizetype first = -1;
    qsizetype step = 0;
    switch (key) {
    case Qt::Key_Left:
        return current > 0 ? std::optional(current - 1) : std::nullopt;
    case Qt::Key_Right:
        return current + 1 < m_tileRects.size() ? std::optional(current + 1) : std::nullopt;
    case Qt::Key_Down:
        first = current;
        while (first < m_tileRects.size() && sameRow(m_tileRects.at(first), from)) {
            ++first;
        }
        step = 1;
        break;
    case Qt::Key_Up:
        first = current;
        while (first >= 0 && sameRow(m_tileRects.at(first), from)) {
            --first;
        }
        step = -1;
        break;
    default:
        return std::nullopt;
    }
    if (first < 0 || first >= m_tileRects.size()) {
        return std::nullopt;
    }
    qsizetype nearest = first;
    for (qsizetype index = first;
         index >= 0 && index < m_tileRects.size() && sameRow(m_tileRects.at(index), m_tileRects.at(first));
         index += step) {
        if (std::abs(m_tileRects.at(index).center().x() - from.center().x()) <
            std::abs(m_tileRects.at(nearest).center().x() - from.center().x())) {
            nearest = index;
        }
    }
    return nearest;
}

std::optional<qsizetype> ManagedMediaGallery::firstShownIndex() const
{
    if (m_items.isEmpty()) {
        return std::nullopt;
    }
    const QList<qsizetype> onScreen = onScreenIndices();
    const QRectF shown(0, verticalScrollBar()->value(), viewport()->width(), viewport()->height());
    const auto visible = std::find_if(onScreen.cbegin(), onScreen.cend(),
                                      [&](qsizetype index) { return m_tileRects.at(index).intersects(shown); });
    return visible != onScreen.cend() ? *visible : 0;
}

void ManagedMediaGallery::scrollToTile(qsizetype index)
{
    const QRectF rect = tileRect(index);
    QScrollBar *scroll = verticalScrollBar();
    if (rect.top() - verticalPadding < scroll->value()) {
        scroll->setValue(qFloor(rect.top() - verticalPadding));
    } else if (rect.bottom() + verticalPadding > scroll->value() + viewport()->height()) {
        scroll->setValue(qCeil(rect.bottom() + verticalPadding - viewport()->height()));
    }
}

void ManagedMediaGallery::announceCurrentTile()
{
    if (!QAccessible::isActive() || !m_currentIndex || !hasFocus() ||
        *m_currentIndex > std::numeric_limits<int>::max()) {
        return;
    }
    QAccessibleEvent event(viewport(), QAccessible::Focus);
    event.setChild(int(*m_currentIndex));
    QAccessible::updateAccessibility(&event);
}

void ManagedMediaGallery::keyPressEvent(QKeyEvent *event)
{
    if ((event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        switch (event->key()) {
        case Qt::Key_Left:
        case Qt::Key_Right:
        case Qt::Key_Up:
        case Qt::Key_Down:
            // At an edge the key does nothing rather than scroll away from the current tile.
            // Items that arrived while the gallery had the focus have no current tile yet: a key starts at the first.
            if (const std::optional<qsizetype> next = m_currentIndex ? neighbour(event->key()) : firstShownIndex()) {
                setCurrentIndex(next);
            }
            event->accept();
            return;
        case Qt::Key_Home:
        case Qt::Key_End:
            if (!m_items.isEmpty()) {
                setCurrentIndex(event->key() == Qt::Key_Home ? 0 : m_items.size() - 1);
            }
            event->accept();
            return;
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Space:
            if (m_currentIndex) {
                preview(*m_currentIndex);
                event->accept();
                return;
            }
            break;
        default:
            break;
        }
    }
    QAbstractScrollArea::keyPressEvent(event);
}

void ManagedMediaGallery::focusInEvent(QFocusEvent *event)
{
    QAbstractScrollArea::focusInEvent(event);
    if (!m_currentIndex) {
        m_currentIndex = firstShownIndex();
    }
    viewport()->update();
    // The toolkit tells assistive tools of the gallery's own focus once this returns; the tile's focus comes after.
    QMetaObject::invokeMethod(
        this, [this] { announceCurrentTile(); }, Qt::QueuedConnection);
}

void ManagedMediaGallery::focusOutEvent(QFocusEvent *event)
{
    QAbstractScrollArea::focusOutEvent(event);
    viewport()->update();
}

void ManagedMediaGallery::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton) {
        if (const std::optional<qsizetype> index = indexAt(event->position().toPoint())) {
            setCurrentIndex(index);
        }
    }
    QAbstractScrollArea::mousePressEvent(event);
}

void ManagedMediaGallery::paintEvent(QPaintEvent *)
{
    QPainter painter(viewport());
    const qreal offset = verticalScrollBar()->value();
    const qreal pixelRatio = viewport()->devicePixelRatioF();
    const QRectF visible(0, offset, viewport()->width(), viewport()->height());
    for (const qsizetype index : onScreenIndices()) {
        const QRectF rect = m_tileRects.at(index);
        if (!rect.intersects(visible)) {
            continue;
        }
        const ManagedMediaTile shown = tile(index);
        const QRectF target = rect.translated(0, -offset);
        if (shown.isLoading || shown.isHovering) {
            // Both change from frame to frame: the turning indicator, the caption over the hovered tile.
            shown.paint(painter, target, palette());
            continue;
        }
        // Whole device pixels, so the tile is copied rather than resampled.
        const QPointF corner(std::round(target.left() * pixelRatio) / pixelRatio,
                             std::round(target.top() * pixelRatio) / pixelRatio);
        painter.drawImage(corner, renderedTile(shown, rect.size(), pixelRatio));
    }
    if (hasFocus() && m_currentIndex && *m_currentIndex < m_tileRects.size()) {
        // The focus ring follows the rounded frame of the tile's picture.
        const QRectF rect = m_tileRects.at(*m_currentIndex).translated(0, -offset);
        const QRectF cell = m_style == MediaGalleryLayoutStyle::compact
                                ? QRectF(rect.topLeft(), QSizeF(rect.width(), rect.width()))
                                : rect;
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(palette().color(QPalette::Highlight), focusRingWidth));
        painter.setBrush(Qt::NoBrush);
        const qreal inset = focusRingWidth / 2;
        painter.drawRoundedRect(cell.adjusted(inset, inset, -inset, -inset), ManagedMediaTile::cornerRadius - inset,
                                ManagedMediaTile::cornerRadius - inset);
    }
}

const QImage &ManagedMediaGallery::renderedTile(const ManagedMediaTile &tile, const QSizeF &size, qreal pixelRatio)
{
    const MediaTileAppearance look = tile.appearance();
    const QString signature = QString::number(int(look.content)) + u'|' + QString::number(size.width()) + u'x' +
                              QString::number(size.height()) + u'@' + QString::number(pixelRatio);
    RenderedTile &rendered = m_renderedTiles[mediaTaskKey(tile.item)];
    if (rendered.signature != signature || rendered.image.isNull()) {
        // Drawn once at the tile's size: the thumbnail fitted to its cell, the rounded corners and the symbols.
        QImage image(QSize(qCeil(size.width() * pixelRatio), qCeil(size.height() * pixelRatio)),
                     QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(pixelRatio);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        tile.paint(painter, QRectF(QPointF(0, 0), size), palette());
        painter.end();
        rendered = {signature, std::move(image)};
    }
    return rendered.image;
}

void ManagedMediaGallery::resizeEvent(QResizeEvent *event)
{
    QAbstractScrollArea::resizeEvent(event);
    relayout();
}

void ManagedMediaGallery::scrollContentsBy(int, int)
{
    setHoveredIndex(std::nullopt);
    updateOnScreenTiles();
    viewport()->update();
}

void ManagedMediaGallery::showEvent(QShowEvent *event)
{
    QAbstractScrollArea::showEvent(event);
    relayout();
}

void ManagedMediaGallery::hideEvent(QHideEvent *event)
{
    QAbstractScrollArea::hideEvent(event);
    updateOnScreenTiles();
}

void ManagedMediaGallery::changeEvent(QEvent *event)
{
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::FontChange ||
        event->type() == QEvent::StyleChange) {
        m_renderedTiles.clear();
        viewport()->update();
    }
}

bool ManagedMediaGallery::viewportEvent(QEvent *event)
{
    if (event->type() == QEvent::ToolTip) {
        const auto *help = static_cast<QHelpEvent *>(event);
        if (indexAt(help->pos())) {
            QToolTip::showText(help->globalPos(), QStringLiteral("双击预览"), viewport());
        } else {
            QToolTip::hideText();
        }
        return true;
    }
    if (event->type() == QEvent::Leave) {
        setHoveredIndex(std::nullopt);
    }
    return QAbstractScrollArea::viewportEvent(event);
}

void ManagedMediaGallery::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton) {
        if (const std::optional<qsizetype> index = indexAt(event->position().toPoint())) {
            preview(*index);
            return;
        }
    }
    QAbstractScrollArea::mouseDoubleClickEvent(event);
}

void ManagedMediaGallery::mouseMoveEvent(QMouseEvent *event)
{
    setHoveredIndex(indexAt(event->position().toPoint()));
    QAbstractScrollArea::mouseMoveEvent(event);
}

void ManagedMediaGallery::contextMenuEvent(QContextMenuEvent *event)
{
    const std::optional<qsizetype> index = indexAt(event->pos());
    if (!index) {
        return;
    }
    QMenu *menu = makeContextMenu(*index, this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
}

void ManagedMediaGallery::relayout()
{
    m_tileRects.clear();
    m_renderedTiles.clear();
    const qreal width = viewport()->width();
    if (m_store) {
        m_style == MediaGalleryLayoutStyle::compact ? layOutGrid(width) : layOutRows(width);
    }
    const int viewportHeight = viewport()->height();
    verticalScrollBar()->setPageStep(viewportHeight);
    verticalScrollBar()->setRange(0, std::max(0, qCeil(m_contentHeight) - viewportHeight));
    updateOnScreenTiles();
    viewport()->update();
}

void ManagedMediaGallery::layOutRows(qreal width)
{
    const QList<ManagedMediaItem> &items = m_items;
    QList<qreal> ratios;
    ratios.reserve(items.size());
    for (const ManagedMediaItem &item : items) {
        ratios.append(mediaAspectRatio(item));
    }
    const QList<MediaGalleryRow> rows = MediaGalleryRow::makeRows(
        ratios, MediaGalleryLayout::maximumItemsPerRow, std::max<qreal>(width - MediaGalleryLayout::horizontalInset, 1),
        MediaGalleryLayout::targetRowHeight, MediaGalleryLayout::spacing);
    m_tileRects.reserve(items.size());
    qreal y = verticalPadding;
    for (const MediaGalleryRow &row : rows) {
        qreal x = MediaGalleryLayout::horizontalInset / 2;
        for (const MediaGalleryRow::Item &cell : row.items) {
            m_tileRects.append(QRectF(x, y, cell.width, row.height));
            x += cell.width + MediaGalleryLayout::spacing;
        }
        y += row.height + MediaGalleryLayout::spacing;
    }
    if (!rows.isEmpty()) {
        y -= MediaGalleryLayout::spacing;
    }
    m_contentHeight = y + verticalPadding;
}

void ManagedMediaGallery::layOutGrid(qreal width)
{
    const qsizetype count = m_items.size();
    const qreal available = std::max<qreal>(width - 2 * gridPadding, 1);
    const int columns = std::max(1, int((available + gridColumnSpacing) / (gridMinimumCell + gridColumnSpacing)));
    const qreal cellWidth =
        std::clamp((available - gridColumnSpacing * (columns - 1)) / columns, qreal(1), gridMaximumCell);
    const qreal cellHeight = ManagedMediaTile::compactHeight(cellWidth);
    const qreal gridWidth = columns * cellWidth + (columns - 1) * gridColumnSpacing;
    const qreal left = gridPadding + std::max<qreal>((available - gridWidth) / 2, 0);
    m_tileRects.reserve(count);
    for (qsizetype index = 0; index < count; ++index) {
        const qsizetype row = index / columns;
        const qsizetype column = index % columns;
        m_tileRects.append(QRectF(left + column * (cellWidth + gridColumnSpacing),
                                  gridPadding + row * (cellHeight + gridRowSpacing), cellWidth, cellHeight));
    }
    const qsizetype rows = (count + columns - 1) / columns;
    m_contentHeight = 2 * gridPadding + rows * cellHeight + std::max<qsizetype>(rows - 1, 0) * gridRowSpacing;
}

void ManagedMediaGallery::updateOnScreenTiles()
{
    QHash<QString, ManagedMediaItem> onScreen;
    QList<ManagedMediaItem> arrived;
    bool anyLoading = false;
    if (m_store) {
        const QList<ManagedMediaItem> &items = m_items;
        for (const qsizetype index : onScreenIndices()) {
            const ManagedMediaItem &item = items.at(index);
            const QString key = mediaTaskKey(item);
            onScreen.insert(key, item);
            if (!m_onScreenTiles.contains(key)) {
                arrived.append(item);
            }
            anyLoading = anyLoading || m_store->loadingThumbnailKeys().contains(m_store->mediaCacheKey(item));
        }
    }
    // Recorded before the requests go out or are withdrawn: each signals a new thumbnail revision, which comes
    // back here.
    const QHash<QString, ManagedMediaItem> before = std::exchange(m_onScreenTiles, onScreen);
    for (auto tile = before.cbegin(); tile != before.cend(); ++tile) {
        if (!onScreen.contains(tile.key())) {
            m_renderedTiles.remove(tile.key());
            // A tile that left the screen before its thumbnail request went out no longer asks for it.
            if (m_store) {
                m_store->withdrawThumbnail(tile.value());
            }
        }
    }
    for (const ManagedMediaItem &item : arrived) {
        // A tile that came on screen asks for its thumbnail; the store skips what it has, is loading or failed.
        m_store->loadThumbnail(item, thumbnailDimension);
    }
    if (!arrived.isEmpty() && m_store) {
        for (const qsizetype index : onScreenIndices()) {
            anyLoading =
                anyLoading || m_store->loadingThumbnailKeys().contains(m_store->mediaCacheKey(m_items.at(index)));
        }
    }
    if (anyLoading && !m_spinnerTimer.isActive()) {
        m_spinnerTimer.start();
    } else if (!anyLoading) {
        m_spinnerTimer.stop();
    }
}

void ManagedMediaGallery::setHoveredIndex(std::optional<qsizetype> index)
{
    if (index == m_hoveredIndex) {
        return;
    }
    m_hoveredIndex = index;
    viewport()->update();
}
