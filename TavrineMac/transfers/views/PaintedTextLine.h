#pragma once

#include <QFont>
#include <QRectF>
#include <QString>

class QPainter;

// One line of text that a view paints itself: a name or a caption. Its rectangle is as tall as the text as laid out,
// fallback fonts included, so a character drawn by a font taller than the desktop's (Chinese beside Latin) keeps
// what it has below the baseline, such as an underscore, instead of being cut at the primary font's height.
namespace PaintedTextLine {

// The height of `text` on one line in `font`, the fonts that draw each of its characters included, and never less
// than `nameHeight(font)`, so that lines of different names line up.
qreal height(const QFont &font, const QString &text);
// The height of a line of text in `font` beside text in the Chinese fallback font.
qreal nameHeight(const QFont &font);
// Draws `text` on one line in `rect`, placed by `alignment` (centred vertically unless it says otherwise); nothing of
// it is cut, even where it is taller than `rect`.
void draw(QPainter &painter, const QRectF &rect, Qt::Alignment alignment, const QString &text);

} // namespace PaintedTextLine
