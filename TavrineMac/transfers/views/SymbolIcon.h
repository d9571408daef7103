#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QString>

#include <optional>

// The symbols the views show, each known by its system symbol name. They are drawn here rather than taken from
// the icon theme so that they look the same on every desktop, also where no theme is installed, and take any tint.
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
    smartphone,
    iphoneAndArrowForward,
    shippingboxFill,
    arrowLeftArrowRight,
    arrowLeftArrowRightCircleFill,
    clockFill,
    checkmarkShieldFill,
    gearshape,
    app,
    photoOnRectangle,
    map,
    musicNote,
    folder,
    calendar,
    globe,
    ellipsisCircle,
    wifiSlash,
    squareGrid3x3,
    doc,
    docRichtext,
    arrowDownDocFill,
    photo,
    photoStack,
    film,
    archivebox,
    shippingbox,
    paperplaneFill,
    squareAndArrowDown,
    chevronRight,
    battery100percentBolt,
    battery75percent,
    internaldrive,
    eye,
    arrowDownCircle,
    photoBadgeExclamationmark,
    docOnDoc,
    docOnClipboard,
    docBadgePlus,
    folderBadgePlus,
    folderBadgeQuestionmark,
    arrowDown,
    arrowUpArrowDown,
    arrowDownArrowUp,
    trashSlash,
    rectangle3Group,
    listBullet,
    filmStack,
    photoOnRectangleAngled,
    qrcodeViewfinder,
    cableConnectorHorizontal,
    lockShield,
    lockShieldFill,
    wifiExclamationmark,
    iphone,
    person2,
};

class QPainter;

namespace SymbolIcon {

// The symbol drawn in `color` on a transparent square of `pixels` device-independent pixels.
QPixmap pixmap(Symbol symbol, const QColor &color, int pixels, qreal devicePixelRatio = 1.0);
// The symbol as an icon; the disabled mode is drawn at reduced opacity.
QIcon icon(Symbol symbol, const QColor &color, int pixels = 16);

// The system symbol name of `symbol`, such as "checkmark.circle.fill".
QString name(Symbol symbol);
// The symbol of that system name, when it is one drawn here.
std::optional<Symbol> named(QStringView name);
// The icon of a system name; an empty icon when the name is not one drawn here.
QIcon icon(QStringView name, const QColor &color, int pixels = 16);
// Paints the symbol of a system name centred on `centre`; nothing when the name is not one drawn here.
void paint(QPainter &painter, QStringView name, const QPointF &centre, int pixels, const QColor &color);

} // namespace SymbolIcon
