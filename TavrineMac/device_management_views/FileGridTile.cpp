#include "FileGridTile.h"

#include "CardStyle.h"
#include "FileListRow.h"
#include "FileSelectionRules.h"
#include "FocusMark.h"
#include "ManagedFileListModel.h"
#include "PaintedTextLine.h"
#include "ViewColors.h"
#include "ViewFonts.h"

#include <QPainter>
#include <QPainterPath>
#include <QTextLayout>

namespace {

constexpr int tilePadding = 9;
constexpr int iconBoxHeight = 82;
constexpr int stackSpacing = 10;
constexpr int textSpacing = 3;
constexpr int symbolPixels = 38;

// `text` broken into at most `lines` lines of `width`, the last one elided.
QStringList wrappedLines(const QString &text, const QFont &font, int width, int lines)
{
    const QFontMetrics metrics(font);
    QTextLayout layout(text, font);
    QTextOption option(Qt::AlignHCenter);
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    QStringList result;
    while (result.size() < lines) {
        QTextLine line = layout.createLine();
        if (!line.isValid()) {
            break;
        }
        line.setLineWidth(width);
        if (result.size() == lines - 1) {
            result.append(metrics.elidedText(text.mid(line.textStart()), Qt::ElideMiddle, width));
        } else {
            result.append(text.mid(line.textStart(), line.textLength()));
        }
    }
    layout.endLayout();
    return result;
}

} // namespace

int FileGridTile::tileWidth(int viewportWidth)
{
    const int available = std::max(minimumWidth, viewportWidth - 2 * gridPadding);
    const int columns = std::max(1, (available + columnSpacing) / (minimumWidth + columnSpacing));
    return std::clamp((available - (columns - 1) * columnSpacing) / columns, minimumWidth, maximumWidth);
}

void FileGridTile::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    const auto *model = qobject_cast<const ManagedFileListModel *>(index.model());
    const ManagedFileEntry *entry = model ? model->entryAt(index) : nullptr;
    if (!entry) {
        return;
    }
    // The grid cell holds the tile and half the spacing on each side.
    const QRect tile(option.rect.center().x() - (option.rect.width() - columnSpacing) / 2,
                     option.rect.top() + rowSpacing / 2, option.rect.width() - columnSpacing, tileHeight());
    const bool selected = option.state.testFlag(QStyle::State_Selected);
    const QColor accent = option.palette.color(QPalette::Highlight);
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    QPainterPath outline;
    outline.addRoundedRect(QRectF(tile).adjusted(1, 1, -1, -1), 14, 14);
    if (selected) {
        painter->fillPath(outline, CardStyle::withOpacity(accent, 0.12));
        painter->setPen(QPen(accent, 2));
        painter->drawPath(outline);
    }

    const QRect inner = tile.adjusted(tilePadding, tilePadding, -tilePadding, -tilePadding);
    const QRect iconBox(inner.left(), inner.top(), inner.width(), iconBoxHeight);
    QPainterPath box;
    box.addRoundedRect(iconBox, 12, 12);
    const QColor boxFill = entry->directory ? CardStyle::withOpacity(ViewColors::blue(), selected ? 0.16 : 0.07)
                                            : CardStyle::controlBackground(option.widget);
    painter->fillPath(box, boxFill);
    paintNamedSymbol(painter, iconBox, fileEntrySymbolName(*entry),
                     entry->directory ? ViewColors::blue() : ViewColors::secondary(), symbolPixels);

    const QFont nameFont = ViewFonts::callout(QFont::Medium);
    const QFont caption = ViewFonts::caption();
    qreal top = iconBox.bottom() + 1 + stackSpacing;
    painter->setFont(nameFont);
    painter->setPen(option.palette.color(QPalette::Text));
    for (const QString &line : wrappedLines(entry->name, nameFont, inner.width(), 2)) {
        const qreal height = PaintedTextLine::height(nameFont, line);
        PaintedTextLine::draw(*painter, QRectF(inner.left(), top, inner.width(), height), Qt::AlignHCenter, line);
        top += height;
    }
    const QString subtitle = fileTileSubtitle(*entry);
    painter->setFont(caption);
    painter->setPen(ViewColors::secondary());
    PaintedTextLine::draw(
        *painter, QRectF(inner.left(), top + textSpacing, inner.width(), PaintedTextLine::height(caption, subtitle)),
        Qt::AlignHCenter, subtitle);
    FocusMark::paint(*painter, option, tile, option.widget);
    painter->restore();
}

QSize FileGridTile::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &) const
{
    const int width = option.widget ? tileWidth(option.widget->width()) : minimumWidth;
    return {width + columnSpacing, tileHeight() + rowSpacing};
}

int FileGridTile::tileHeight()
{
    // The icon box, two lines of the name and the subtitle, tall enough for names of either font.
    return qCeil(2 * tilePadding + iconBoxHeight + stackSpacing +
                 2 * PaintedTextLine::nameHeight(ViewFonts::callout(QFont::Medium)) + textSpacing +
                 PaintedTextLine::nameHeight(ViewFonts::caption()));
}
