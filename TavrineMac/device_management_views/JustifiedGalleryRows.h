#pragma once

#include <QList>
#include <QtGlobal>

// One row of the photo and video gallery's justified layout: every item keeps its aspect ratio, all items of a
// row share one height, and a full row spans the available width exactly.
struct MediaGalleryRow
{
    struct Item
    {
        qsizetype index = 0; // position in the gallery's media list
        qreal width = 0;

        bool operator==(const Item &) const = default;
    };

    QList<Item> items; // left to right, consecutive ascending indices
    qreal height = 0;
    bool fillsWidth = false;

    bool operator==(const MediaGalleryRow &) const = default;

    // The rows for items of `aspectRatios` (width ÷ height, in display order), at most `maximumItemsPerRow` to a
    // row, spanning `availableWidth` with `spacing` between cells near `targetHeight`. Rows cover every index
    // once, in order; no rows for an empty list or an unusable width, height, spacing or maximum. Linear in the
    // number of items.
    static QList<MediaGalleryRow> makeRows(const QList<qreal> &aspectRatios, int maximumItemsPerRow,
                                           qreal availableWidth, qreal targetHeight, qreal spacing);
};

// What the gallery passes: 8 to a row, its width less 48 (at least 1), rows near 160 points, 8 between cells.
namespace MediaGalleryLayout {
inline constexpr int maximumItemsPerRow = 8;
inline constexpr qreal horizontalInset = 48;
inline constexpr qreal targetRowHeight = 160;
inline constexpr qreal spacing = 8;
} // namespace MediaGalleryLayout
