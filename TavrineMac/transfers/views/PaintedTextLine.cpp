#include "PaintedTextLine.h"

#include <QFontMetricsF>
#include <QHash>
#include <QPainter>
#include <QTextLayout>

#include <limits>

namespace {

qreal laidOutHeight(const QFont &font, const QString &text)
{
    QTextLayout layout(text, font);
    layout.beginLayout();
    QTextLine line = layout.createLine();
    if (line.isValid()) {
        line.setNumColumns(int(std::min<qsizetype>(text.size(), std::numeric_limits<int>::max())));
    }
    layout.endLayout();
    return std::max(QFontMetricsF(font).height(), line.isValid() ? line.height() : 0);
}

} // namespace

namespace PaintedTextLine {

qreal height(const QFont &font, const QString &text)
{
    return std::max(nameHeight(font), laidOutHeight(font, text));
}

qreal nameHeight(const QFont &font)
{
    // Asked for at every row drawn, with a handful of fonts.
    static QHash<QString, qreal> heights;
    const QString key = font.key();
    if (const auto known = heights.constFind(key); known != heights.cend()) {
        return *known;
    }
    const qreal measured = laidOutHeight(font, QStringLiteral("Ag_文件"));
    heights.insert(key, measured);
    return measured;
}

void draw(QPainter &painter, const QRectF &rect, Qt::Alignment alignment, const QString &text)
{
    const Qt::Alignment vertical = alignment & Qt::AlignVertical_Mask ? Qt::Alignment() : Qt::AlignVCenter;
    painter.drawText(rect, int(alignment | vertical) | Qt::TextSingleLine | Qt::TextDontClip, text);
}

} // namespace PaintedTextLine
