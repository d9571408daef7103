#include "ManagedMediaTile.h"

#include "PaintedTextLine.h"
#include "SymbolIcon.h"
#include "ViewFonts.h"

#include <QFontMetricsF>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace {

constexpr qreal compactSpacing = 8;
constexpr int placeholderPixels = 30;
constexpr int playSymbolPixels = 34;
constexpr qreal spinnerRadius = 8;

void drawSpinner(QPainter &painter, const QPointF &centre, int angle, const QColor &color)
{
    painter.save();
    QPen pen(color, 2.2);
    pen.setCapStyle(Qt::RoundCap);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    const QRectF circle(centre.x() - spinnerRadius, centre.y() - spinnerRadius, 2 * spinnerRadius, 2 * spinnerRadius);
    painter.drawArc(circle, -angle * 16, 270 * 16);
    painter.restore();
}

void drawPlaySymbol(QPainter &painter, const QPointF &centre)
{
    painter.save();
    const qreal radius = playSymbolPixels / 2.0;
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0, 0, 0, qRound(255 * 0.33)));
    painter.drawEllipse(centre + QPointF(0, 1), radius + 1, radius + 1); // the shadow
    painter.setBrush(QColor(0, 0, 0, qRound(255 * 0.38)));
    painter.drawEllipse(centre, radius, radius);
    painter.setBrush(Qt::white);
    const qreal side = radius * 0.75;
    const QPointF triangle[] = {centre + QPointF(-side * 0.4, -side * 0.55), centre + QPointF(-side * 0.4, side * 0.55),
                                centre + QPointF(side * 0.6, 0)};
    painter.drawPolygon(triangle, 3);
    painter.restore();
}

void drawDuration(QPainter &painter, const QRectF &cell, const QString &text)
{
    painter.save();
    painter.setFont(ViewFonts::caption2(QFont::DemiBold));
    const QFontMetricsF metrics(painter.font());
    const QSizeF size(metrics.horizontalAdvance(text) + 12, metrics.height() + 6);
    const QRectF capsule(cell.right() - 8 - size.width(), cell.bottom() - 8 - size.height(), size.width(),
                         size.height());
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0, 0, 0, qRound(255 * 0.62)));
    painter.drawRoundedRect(capsule, capsule.height() / 2, capsule.height() / 2);
    painter.setPen(Qt::white);
    painter.drawText(capsule, Qt::AlignCenter, text);
    painter.restore();
}

} // namespace

void ManagedMediaTile::paint(QPainter &painter, const QRectF &rect, const QPalette &palette) const
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const bool compact = style == MediaGalleryLayoutStyle::compact;
    const QRectF cell = compact ? QRectF(rect.topLeft(), QSizeF(rect.width(), rect.width())) : rect;
    QPainterPath outline;
    outline.addRoundedRect(cell, cornerRadius, cornerRadius);

    painter.save();
    painter.setClipPath(outline);
    painter.fillRect(cell, palette.color(QPalette::Base));
    const MediaTileAppearance look = appearance();
    QColor tertiary = palette.color(QPalette::Text);
    tertiary.setAlphaF(0.3);
    switch (look.content) {
    case MediaTileAppearance::Content::image: {
        const QSizeF imageSize = image->size();
        // Fitted inside the justified cell, filling (and cropped by) the square one.
        const QSizeF drawn =
            imageSize.scaled(cell.size(), compact ? Qt::KeepAspectRatioByExpanding : Qt::KeepAspectRatio);
        const QRectF target(cell.center().x() - drawn.width() / 2, cell.center().y() - drawn.height() / 2,
                            drawn.width(), drawn.height());
        painter.drawImage(target, *image);
        break;
    }
    case MediaTileAppearance::Content::loading:
        drawSpinner(painter, cell.center(), spinnerAngle, palette.color(QPalette::PlaceholderText));
        break;
    case MediaTileAppearance::Content::placeholder:
        SymbolIcon::paint(painter, mediaPlaceholderSymbol(item.kind), cell.center(), placeholderPixels, tertiary);
        break;
    }
    if (look.showsPlaySymbol) {
        drawPlaySymbol(painter, cell.center());
    }
    if (look.durationText) {
        drawDuration(painter, cell, *look.durationText);
    }
    if (!compact && isHovering) {
        QLinearGradient shade(cell.center(), QPointF(cell.center().x(), cell.bottom()));
        shade.setColorAt(0, Qt::transparent);
        shade.setColorAt(1, QColor(0, 0, 0, qRound(255 * 0.68)));
        painter.fillRect(cell, shade);
        const QRectF text = cell.adjusted(10, 10, -10, -10);
        const QFont nameFont = ViewFonts::caption(QFont::DemiBold);
        const QFont dateFont = ViewFonts::caption2();
        const QString name = QFontMetricsF(nameFont).elidedText(item.name, Qt::ElideRight, text.width());
        const QString date = mediaDateText(item);
        const qreal dateHeight = PaintedTextLine::height(dateFont, date);
        const qreal nameHeight = PaintedTextLine::height(nameFont, name);
        painter.setFont(dateFont);
        painter.setPen(QColor(255, 255, 255, qRound(255 * 0.82)));
        PaintedTextLine::draw(painter, QRectF(text.left(), text.bottom() - dateHeight, text.width(), dateHeight),
                              Qt::AlignLeft, date);
        painter.setFont(nameFont);
        painter.setPen(Qt::white);
        PaintedTextLine::draw(
            painter, QRectF(text.left(), text.bottom() - dateHeight - 2 - nameHeight, text.width(), nameHeight),
            Qt::AlignLeft, name);
    }
    painter.restore();

    QColor separator = palette.color(QPalette::Mid);
    separator.setAlphaF(0.35);
    painter.setPen(QPen(separator, 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(outline);

    if (compact) {
        const QFont nameFont = ViewFonts::callout(QFont::Medium);
        const QFont dateFont = ViewFonts::caption();
        const QString name = QFontMetricsF(nameFont).elidedText(item.name, Qt::ElideRight, rect.width());
        const QString date = mediaDateText(item);
        const QRectF nameRect(rect.left(), cell.bottom() + compactSpacing, rect.width(),
                              PaintedTextLine::height(nameFont, name));
        painter.setFont(nameFont);
        painter.setPen(palette.color(QPalette::Text));
        PaintedTextLine::draw(painter, nameRect, Qt::AlignLeft, name);
        painter.setFont(dateFont);
        painter.setPen(palette.color(QPalette::PlaceholderText));
        PaintedTextLine::draw(painter,
                              QRectF(rect.left(), nameRect.bottom() + compactSpacing, rect.width(),
                                     PaintedTextLine::height(dateFont, date)),
                              Qt::AlignLeft, date);
    }
    painter.restore();
}

qreal ManagedMediaTile::compactHeight(qreal width)
{
    // Tall enough for names of either font.
    return width + compactSpacing + PaintedTextLine::nameHeight(ViewFonts::callout(QFont::Medium)) + compactSpacing +
           PaintedTextLine::nameHeight(ViewFonts::caption());
}
