#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>

// The symbols the transfer views show. They are drawn here rather than taken from the icon theme so
// that they look the same on every desktop, also where no theme is installed, and take any tint.
enum class Symbol
{
    arrowUpCircleFill,
    arrowDownCircleFill,
    arrowUpArrowDownCircleFill,
    pauseCircleFill,
    checkmarkCircleFill,
    exclamationmarkTriangleFill,
    xmarkCircleFill,
    circle,
    pauseFill,
    playFill,
    arrowClockwise,
    xmark,
    trash,
    plus,
    folderFill,
    chevronLeft,
    chevronUp,
};

namespace SymbolIcon {

// The symbol drawn in `color` on a transparent square of `pixels` device-independent pixels.
QPixmap pixmap(Symbol symbol, const QColor &color, int pixels, qreal devicePixelRatio = 1.0);
// The symbol as an icon; the disabled mode is drawn at reduced opacity.
QIcon icon(Symbol symbol, const QColor &color, int pixels = 16);

} // namespace SymbolIcon
