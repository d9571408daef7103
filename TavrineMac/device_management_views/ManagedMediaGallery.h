#pragma once

#include "ManagedMediaTile.h"

#include <QAbstractScrollArea>
#include <QHash>
#include <QList>
#include <QPointer>
#include <QRectF>
#include <QTimer>

#include <optional>

class DeviceManagementStore;
class QMenu;

// The gallery of the store's `mediaItems`: justified rows that keep each item's aspect ratio, or a grid of square
// cells when the stored media layout is "compact". It paints only the tiles near the visible area and asks the
// store for the thumbnails of those tiles only, so a list of thousands of items builds no widget per item.
class ManagedMediaGallery : public QAbstractScrollArea
{
    Q_OBJECT

public:
    static constexpr int thumbnailDimension = 1024;
    static constexpr qreal verticalPadding = 18;
    // Tiles this far beyond the visible area count as on screen, so a slow scroll finds them loaded.
    static constexpr qreal onScreenMargin = 160;

    explicit ManagedMediaGallery(DeviceManagementStore &store, QWidget *parent = nullptr);

    // The stored media layout, "compact" or any other text.
    void setLayoutRawValue(const QString &rawValue);
    MediaGalleryLayoutStyle style() const { return m_style; }

    // The items drawn, in list order: those of the store's list that are of the kind loaded. Every index of the
    // gallery counts in this list.
    const QList<ManagedMediaItem> &items() const { return m_items; }
    // The frame of item `index` in content coordinates (before scrolling); empty for an unknown index.
    QRectF tileRect(qsizetype index) const;
    // The item under a point of the viewport.
    std::optional<qsizetype> indexAt(const QPoint &viewportPoint) const;
    // The items whose tiles are on screen, in list order; their thumbnail tasks are the ones running.
    QList<qsizetype> onScreenIndices() const;
    // The tile of item `index` as it would be drawn now.
    ManagedMediaTile tile(qsizetype index) const;
    // The menu of a tile: "预览" and "下载到 Mac". The caller owns it.
    QMenu *makeContextMenu(qsizetype index, QWidget *parent = nullptr);

    // Opens the preview of item `index` / downloads it to this computer.
    void preview(qsizetype index);
    void download(qsizetype index);

    // The tile that the keyboard acts on, drawn with a focus ring while the gallery has the focus: the arrow keys
    // move it, Home and End take it to the first and the last tile, Return and Space open its preview. It follows
    // its item when the list changes.
    std::optional<qsizetype> currentIndex() const { return m_currentIndex; }
    void setCurrentIndex(std::optional<qsizetype> index);
    // The tile that the arrow key `key` leads to from the current one: the next or previous item, or the item of
    // the row above or below whose centre is nearest across.
    std::optional<qsizetype> neighbour(int key) const;

signals:
    // A tile asked for its large preview (double click, menu or accessibility action).
    void previewRequested(const QString &mediaID);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void changeEvent(QEvent *event) override;
    bool viewportEvent(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;

private:
    void takeItems();
    void relayout();
    void layOutRows(qreal width);
    void layOutGrid(qreal width);
    // Starts the thumbnail task of every tile that came on screen and forgets those that left.
    void updateOnScreenTiles();
    void setHoveredIndex(std::optional<qsizetype> index);
    // The first tile in view, where the keyboard starts.
    std::optional<qsizetype> firstShownIndex() const;
    // Scrolls the least that shows tile `index` whole.
    void scrollToTile(qsizetype index);
    // Tells assistive tools that the current tile has the focus.
    void announceCurrentTile();
    // The tile as drawn at `size`, kept while it stays on screen and looks the same.
    const QImage &renderedTile(const ManagedMediaTile &tile, const QSizeF &size, qreal pixelRatio);

    struct RenderedTile
    {
        QString signature; // the content shown and the size drawn at
        QImage image;
    };

    QPointer<DeviceManagementStore> m_store;
    MediaGalleryLayoutStyle m_style = MediaGalleryLayoutStyle::original;
    QList<ManagedMediaItem> m_items;
    QList<QRectF> m_tileRects; // per item, in list order, rows top to bottom
    qreal m_contentHeight = 0;
    QHash<QString, ManagedMediaItem> m_onScreenTiles; // by mediaTaskKey
    QHash<QString, RenderedTile> m_renderedTiles;     // by mediaTaskKey, for tiles on screen only
    std::optional<qsizetype> m_hoveredIndex;
    std::optional<qsizetype> m_currentIndex;
    QTimer m_spinnerTimer;
    int m_spinnerAngle = 0;
};
