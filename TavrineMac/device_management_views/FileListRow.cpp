#include "FileListRow.h"

#include "CardStyle.h"
#include "FileSelectionRules.h"
#include "FocusMark.h"
#include "ManagedFileListModel.h"
#include "PaintedTextLine.h"
#include "SymbolIcon.h"
#include "ViewColors.h"
#include "ViewFonts.h"

#include <QApplication>
#include <QPainter>
#include <QPainterPath>

namespace {

constexpr int iconBoxSide = 38;
constexpr int spacing = 14;
constexpr int verticalPadding = 4;
constexpr int trailingWidth = 22;
constexpr int horizontalPadding = 8;

} // namespace

void paintNamedSymbol(QPainter *painter, const QRect &rect, const QString &symbolName, const QColor &color, int pixels,
                      bool documentFallback)
{
    const bool drawn = SymbolIcon::named(symbolName).has_value();
    SymbolIcon::paint(*painter, drawn || !documentFallback ? QStringView(symbolName) : QStringView(u"doc"),
                      QRectF(rect).center(), pixels, color);
}

void FileListRow::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    const auto *model = qobject_cast<const ManagedFileListModel *>(index.model());
    const ManagedFileEntry *entry = model ? model->entryAt(index) : nullptr;
    if (!entry) {
        return;
    }
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    const QWidget *widget = option.widget;
    QStyle *style = widget ? widget->style() : QApplication::style();
    // The selection and hover background of the platform's list.
    QStyleOptionViewItem background = option;
    background.text.clear();
    background.icon = {};
    style->drawPrimitive(QStyle::PE_PanelItemViewItem, &background, painter, widget);

    const QRect content =
        option.rect.adjusted(horizontalPadding, verticalPadding, -horizontalPadding, -verticalPadding);
    const QRect iconBox(content.left(), content.center().y() - iconBoxSide / 2, iconBoxSide, iconBoxSide);
    QPainterPath box;
    box.addRoundedRect(iconBox, 9, 9);
    painter->fillPath(box, entry->directory ? CardStyle::withOpacity(ViewColors::blue(), 0.08)
                                            : CardStyle::controlBackground(widget));
    const QColor iconColor = entry->directory ? ViewColors::blue() : ViewColors::secondary();
    paintNamedSymbol(painter, iconBox, fileEntrySymbolName(*entry), iconColor, 22);

    const QRect trailing(content.right() - trailingWidth + 1, content.top(), trailingWidth, content.height());
    paintNamedSymbol(painter, trailing,
                     entry->directory ? QStringLiteral("chevron.right") : QStringLiteral("arrow.down"),
                     ViewColors::tertiary(), 12, false);

    const bool selected = option.state.testFlag(QStyle::State_Selected);
    const QColor primaryText = option.palette.color(selected ? QPalette::HighlightedText : QPalette::Text);
    const QColor secondaryText = selected ? primaryText : ViewColors::secondary();
    int textRight = trailing.left() - spacing;
    const QFont caption = ViewFonts::caption();
    if (const std::optional<QString> size = fileRowSizeText(*entry)) {
        const int width = QFontMetrics(caption).horizontalAdvance(*size);
        painter->setFont(caption);
        painter->setPen(secondaryText);
        painter->drawText(QRect(textRight - width, content.top(), width, content.height()),
                          Qt::AlignVCenter | Qt::AlignRight, *size);
        textRight -= width + spacing;
    }

    const int textLeft = iconBox.right() + 1 + spacing;
    const QFont nameFont = ViewFonts::body(QFont::Medium);
    const int width = std::max(0, textRight - textLeft);
    const QString name = QFontMetrics(nameFont).elidedText(entry->name, Qt::ElideMiddle, width);
    const QString subtitle = QFontMetrics(caption).elidedText(fileRowSubtitle(*entry), Qt::ElideRight, width);
    const qreal nameHeight = PaintedTextLine::height(nameFont, name);
    const qreal subtitleHeight = PaintedTextLine::height(caption, subtitle);
    const qreal top = QRectF(content).center().y() - (nameHeight + 3 + subtitleHeight) / 2;
    painter->setFont(nameFont);
    painter->setPen(primaryText);
    PaintedTextLine::draw(*painter, QRectF(textLeft, top, width, nameHeight), Qt::AlignLeft, name);
    painter->setFont(caption);
    painter->setPen(secondaryText);
    PaintedTextLine::draw(*painter, QRectF(textLeft, top + nameHeight + 3, width, subtitleHeight), Qt::AlignLeft,
                          subtitle);
    FocusMark::paint(*painter, option, option.rect, widget, selected);
    painter->restore();
}

QSize FileListRow::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &) const
{
    // Every row is as tall as the first (the list's rows are uniform): tall enough for names of either font.
    const int textHeight = qCeil(PaintedTextLine::nameHeight(ViewFonts::body(QFont::Medium)) + 3 +
                                 PaintedTextLine::nameHeight(ViewFonts::caption()));
    return {option.rect.width(), std::max(iconBoxSide, textHeight) + 2 * verticalPadding + 4};
}
