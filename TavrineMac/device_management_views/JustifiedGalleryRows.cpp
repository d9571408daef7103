#include "JustifiedGalleryRows.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr qreal narrowestRatio = 0.45;
constexpr qreal widestRatio = 3.2;
// A filling row may grow this much taller than the target when that brings it nearer the target.
constexpr qreal tallestRowFactor = 1.28;

// A ratio that cannot be drawn (zero, negative, infinite, not a number) counts as a square; extreme panoramas and
// slivers are clamped so that one item neither fills a row alone nor shrinks to a line.
qreal normalisedRatio(qreal ratio)
{
    if (!std::isfinite(ratio) || !(ratio > 0)) {
        return 1.0;
    }
    return std::clamp(ratio, narrowestRatio, widestRatio);
}

} // namespace

QList<MediaGalleryRow> MediaGalleryRow::makeRows(const QList<qreal> &aspectRatios, int maximumItemsPerRow,
                                                 qreal availableWidth, qreal targetHeight, qreal spacing)
{
    const qsizetype count = aspectRatios.size();
    if (count == 0 || !(availableWidth > 0) || !(targetHeight > 0) || !(spacing >= 0) || maximumItemsPerRow < 1) {
        return {};
    }
    QList<qreal> ratios;
    ratios.reserve(count);
    for (const qreal ratio : aspectRatios) {
        ratios.append(normalisedRatio(ratio));
    }
    const qreal tallestRow = tallestRowFactor * targetHeight;
    // The height at which cells of `ratioSum` and `gaps` gaps span the width.
    const auto spanningHeight = [&](qsizetype gaps, qreal ratioSum) {
        const qreal cellsWidth = gaps == 0 ? availableWidth : availableWidth - spacing * qreal(gaps);
        return std::max(cellsWidth, qreal(1)) / ratioSum;
    };

    QList<MediaGalleryRow> rows;
    qsizetype start = 0;
    while (start < count) {
        qsizetype end = start; // one past the row's last item
        qreal height = targetHeight;
        bool fills = false;
        qreal ratioSum = 0;
        for (qsizetype offset = 0;; ++offset) {
            const qsizetype index = start + offset;
            ratioSum += ratios[index];
            const qreal candidate = spanningHeight(offset, ratioSum);
            if (candidate <= targetHeight) {
                end = index + 1;
                height = candidate;
                fills = true;
                if (offset >= 1) {
                    const qreal shorterHeight = spanningHeight(offset - 1, ratioSum - ratios[index]);
                    if (shorterHeight <= tallestRow &&
                        std::abs(shorterHeight - targetHeight) < std::abs(candidate - targetHeight)) {
                        end = index;
                        height = shorterHeight;
                    }
                }
                break;
            }
            if (index == count - 1 || offset + 1 == maximumItemsPerRow) {
                end = index + 1;
                break;
            }
        }

        MediaGalleryRow row;
        row.height = height;
        row.fillsWidth = fills;
        row.items.reserve(end - start);
        qreal widthsBeforeLast = 0;
        for (qsizetype index = start; index < end; ++index) {
            const qreal width = height * ratios[index];
            if (index + 1 < end) {
                widthsBeforeLast += width;
            }
            row.items.append(Item{index, width});
        }
        if (fills) {
            // Rounding must not leave a sliver at the right edge: the last cell takes up what is left.
            const qsizetype cells = row.items.size();
            const qreal gapsWidth = cells > 1 ? spacing * qreal(cells - 1) : 0;
            row.items.last().width = std::max(availableWidth - gapsWidth - widthsBeforeLast, qreal(1));
        }
        rows.append(std::move(row));
        start = end;
    }
    return rows;
}
