#include "ApplicationTile.h"

#include "ApplicationListModel.h"
#include "CardStyle.h"
#include "ManagedApplicationsPresentation.h"
#include "PaintedTextLine.h"
#include "SymbolIcon.h"
#include "ViewColors.h"
#include "ViewFonts.h"

#include <QDateTime>
#include <QListView>
#include <QPainter>
#include <QPainterPath>
#include <QtMath>

namespace {

constexpr int padding = 13;
constexpr int iconSide = 46;
constexpr int symbolPixels = 24;
constexpr int spacing = 13;
constexpr qreal tileRadius = 14;
constexpr qreal iconRadius = 12;

// The view lays the tiles out on its grid; the tile leaves the grid's spacing free around it.
constexpr int gridSpacing = 12;
constexpr int narrowestWidth = 200;
constexpr int textTrailingGap = 4;

// The tile inside its grid cell, on the half pixel so that its outline is sharp.
QRectF tileRect(const QRectF &cell)
{
    const qreal inset = gridSpacing / 2.0 + 0.5;
    return cell.adjusted(inset, inset, -inset, -inset);
}

qreal textLeft(const QRectF &tile)
{
    return tile.left() + padding + iconSide + spacing;
}

qreal textWidth(const QRectF &tile)
{
    return std::max<qreal>(0, tile.right() - padding - textTrailingGap - textLeft(tile));
}

} // namespace

int ApplicationTile::minimumWidth()
{
    // The date of a two-digit month and day, every digit written as the font's widest one.
    const QFontMetricsF metrics(ViewFonts::caption());
    QChar widest = u'0';
    for (char16_t digit = u'1'; digit <= u'9'; ++digit) {
        if (metrics.horizontalAdvance(QChar(digit)) > metrics.horizontalAdvance(widest)) {
            widest = QChar(digit);
        }
    }
    ManagedApplication longest;
    longest.updatedAtMillis = QDateTime(QDate(2000, 12, 28), QTime(12, 0)).toMSecsSinceEpoch();
    QString date = ManagedApplicationsPresentation::updatedText(longest);
    for (QChar &character : date) {
        if (character.isDigit()) {
            character = widest;
        }
    }
    // What a cell keeps beside its text: the grid's spacing, the padding, the icon and the gaps.
    constexpr qreal sampleCellWidth = 1000;
    const qreal besideText = sampleCellWidth - textWidth(tileRect(QRectF(0, 0, sampleCellWidth, height)));
    return std::max(narrowestWidth, qCeil(metrics.horizontalAdvance(date) + besideText) - gridSpacing);
}

ApplicationTile::ShownTexts ApplicationTile::shownTexts(const ManagedApplication &application, int cellWidth)
{
    const qreal width = textWidth(tileRect(QRectF(0, 0, cellWidth, height + gridSpacing)));
    return {QFontMetricsF(ViewFonts::body(QFont::Medium)).elidedText(application.name, Qt::ElideRight, width),
            QFontMetricsF(ViewFonts::caption())
                .elidedText(ManagedApplicationsPresentation::updatedText(application), Qt::ElideRight, width),
            width};
}

void ApplicationTile::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    const auto application = index.data(ApplicationListModel::applicationRole).value<ManagedApplication>();
    const bool isSelected = option.state.testFlag(QStyle::State_Selected);
    const QWidget *widget = option.widget;
    const QRectF tile = tileRect(option.rect);

    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(tile, tileRadius, tileRadius);
    const QColor fill =
        isSelected ? CardStyle::withOpacity(ViewColors::blue(), 0.09)
                   : CardStyle::withOpacity(
                         widget ? CardStyle::controlBackground(widget) : option.palette.color(QPalette::Base), 0.42);
    painter->fillPath(shape, fill);
    const QColor outline =
        isSelected ? ViewColors::blue() : (widget ? CardStyle::separator(widget) : option.palette.color(QPalette::Mid));
    painter->setPen(QPen(CardStyle::withOpacity(outline, 0.35), 1));
    painter->drawPath(shape);

    const QColor tint = application.system ? ViewColors::secondary() : ViewColors::blue();
    const QRectF icon(tile.left() + padding, tile.center().y() - iconSide / 2.0, iconSide, iconSide);
    QPainterPath iconShape;
    iconShape.addRoundedRect(icon, iconRadius, iconRadius);
    painter->fillPath(iconShape, CardStyle::withOpacity(tint, 0.08));
    const Symbol symbol =
        SymbolIcon::named(ManagedApplicationsPresentation::tileSymbolName(application)).value_or(Symbol::circle);
    const QPixmap symbolImage = SymbolIcon::pixmap(symbol, tint, symbolPixels, painter->device()->devicePixelRatioF());
    painter->drawPixmap(QPointF(icon.center().x() - symbolPixels / 2.0, icon.center().y() - symbolPixels / 2.0),
                        symbolImage);

    // Name and date keep their colours whether selected or not.
    const QFont nameFont = ViewFonts::body(QFont::Medium);
    const QFont dateFont = ViewFonts::caption();
    const auto [name, date, width] = shownTexts(application, option.rect.width());
    const qreal left = textLeft(tile);
    const qreal nameHeight = PaintedTextLine::height(nameFont, name);
    const qreal dateHeight = PaintedTextLine::height(dateFont, date);
    const qreal top = tile.center().y() - (nameHeight + 4 + dateHeight) / 2;
    painter->setFont(nameFont);
    painter->setPen(option.palette.color(QPalette::WindowText));
    PaintedTextLine::draw(*painter, QRectF(left, top, width, nameHeight), Qt::AlignLeft, name);
    painter->setFont(dateFont);
    painter->setPen(CardStyle::withOpacity(option.palette.color(QPalette::WindowText), 0.6));
    PaintedTextLine::draw(*painter, QRectF(left, top + nameHeight + 4, width, dateHeight), Qt::AlignLeft, date);
    painter->restore();
}

QSize ApplicationTile::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &) const
{
    // The tile fills its cell of the view's grid, whose columns share the whole width, rather than keeping to the
    // narrowest column and leaving the rest of the cell empty.
    if (const auto *view = qobject_cast<const QListView *>(option.widget); view && view->gridSize().isValid()) {
        return view->gridSize();
    }
    return {minimumWidth() + gridSpacing, height + gridSpacing};
}
