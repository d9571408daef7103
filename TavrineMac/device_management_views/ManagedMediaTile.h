#pragma once

#include "FileBrowserPreferences.h"
#include "MediaGalleryPresentation.h"

#include <QImage>
#include <QPalette>
#include <QRectF>

#include <optional>

class QPainter;

// One photo or video of the gallery. The gallery draws its tiles itself, only those on screen, so a tile is a value
// that paints into the rectangle the gallery's layout gives it rather than a widget of its own.
struct ManagedMediaTile
{
    static constexpr qreal cornerRadius = 12; // of the picture's frame
    ManagedMediaItem item;
    std::optional<QImage> image; // the thumbnail, or none yet
    bool isLoading = false;      // a thumbnail request for this item is in flight
    // original: a cell of the justified rows, the name and date shown on hover; compact: a square cell with the
    // name and date below it.
    MediaGalleryLayoutStyle style = MediaGalleryLayoutStyle::original;
    bool isHovering = false;
    int spinnerAngle = 0; // the turn of the progress indicator while loading, in degrees

    MediaTileAppearance appearance() const { return mediaTileAppearance(item, image.has_value(), isLoading); }
    void paint(QPainter &painter, const QRectF &rect, const QPalette &palette) const;

    // The height of a compact cell `width` wide: the square and the two text lines below it.
    static qreal compactHeight(qreal width);
};
