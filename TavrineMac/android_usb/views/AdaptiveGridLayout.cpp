#include "AdaptiveGridLayout.h"

#include <QWidget>

#include <algorithm>

AdaptiveGridLayout::AdaptiveGridLayout(int minimumColumnWidth, int horizontalSpacing, int verticalSpacing,
                                       QWidget *parent)
    : QLayout(parent), m_minimumColumnWidth(minimumColumnWidth), m_horizontalSpacing(horizontalSpacing),
      m_verticalSpacing(verticalSpacing)
{}

AdaptiveGridLayout::~AdaptiveGridLayout()
{
    qDeleteAll(m_items);
}

int AdaptiveGridLayout::columnCount(int width) const
{
    const QMargins margins = contentsMargins();
    const int inner = width - margins.left() - margins.right();
    return std::max(1, (inner + m_horizontalSpacing) / (m_minimumColumnWidth + m_horizontalSpacing));
}

void AdaptiveGridLayout::addItem(QLayoutItem *item)
{
    m_items.append(item);
}

int AdaptiveGridLayout::count() const
{
    return int(m_items.size());
}

QLayoutItem *AdaptiveGridLayout::itemAt(int index) const
{
    return index >= 0 && index < m_items.size() ? m_items[index] : nullptr;
}

QLayoutItem *AdaptiveGridLayout::takeAt(int index)
{
    if (index < 0 || index >= m_items.size()) {
        return nullptr;
    }
    QLayoutItem *item = m_items.takeAt(index);
    invalidate(); // as the toolkit's own layouts do: what is left is arranged anew
    return item;
}

Qt::Orientations AdaptiveGridLayout::expandingDirections() const
{
    return Qt::Horizontal;
}

bool AdaptiveGridLayout::hasHeightForWidth() const
{
    return true;
}

int AdaptiveGridLayout::heightForWidth(int width) const
{
    if (width != m_heightCacheWidth) {
        m_heightCacheHeight = arrange(QRect(0, 0, width, 0), false);
        m_heightCacheWidth = width;
    }
    return m_heightCacheHeight;
}

void AdaptiveGridLayout::invalidate()
{
    m_heightCacheWidth = -1;
    QLayout::invalidate();
}

QSize AdaptiveGridLayout::minimumSize() const
{
    // One column wide and one row high: the height at a given width comes from heightForWidth, so that a
    // narrow minimum does not make the layout as tall as a single column everywhere.
    const QMargins margins = contentsMargins();
    int rowHeight = 0;
    for (const QLayoutItem *item : visibleItems()) {
        rowHeight = std::max(rowHeight, item->minimumSize().height());
    }
    return QSize(m_minimumColumnWidth, rowHeight) +
           QSize(margins.left() + margins.right(), margins.top() + margins.bottom());
}

QSize AdaptiveGridLayout::sizeHint() const
{
    // Every item side by side at the narrowest column width.
    const QMargins margins = contentsMargins();
    const qsizetype columns = std::max<qsizetype>(1, visibleItems().size());
    const int width = int(columns) * (m_minimumColumnWidth + m_horizontalSpacing) - m_horizontalSpacing +
                      margins.left() + margins.right();
    return QSize(width, heightForWidth(width));
}

void AdaptiveGridLayout::setGeometry(const QRect &rect)
{
    QLayout::setGeometry(rect);
    arrange(rect, true);
}

QList<QLayoutItem *> AdaptiveGridLayout::visibleItems() const
{
    QList<QLayoutItem *> visible;
    for (QLayoutItem *item : m_items) {
        if (!item->isEmpty()) {
            visible.append(item);
        }
    }
    return visible;
}

int AdaptiveGridLayout::arrange(const QRect &rect, bool apply) const
{
    const QRect area = rect.marginsRemoved(contentsMargins());
    const QList<QLayoutItem *> items = visibleItems();
    const int columns = columnCount(rect.width());
    const int columnWidth = std::max(0, (area.width() - (columns - 1) * m_horizontalSpacing) / columns);
    int top = area.top();
    for (qsizetype rowStart = 0; rowStart < items.size(); rowStart += columns) {
        const qsizetype rowEnd = std::min(rowStart + columns, items.size());
        int rowHeight = 0;
        for (qsizetype index = rowStart; index < rowEnd; ++index) {
            QLayoutItem *item = items[index];
            const int height =
                item->hasHeightForWidth() ? item->heightForWidth(columnWidth) : item->sizeHint().height();
            rowHeight = std::max(rowHeight, std::max(height, item->minimumSize().height()));
        }
        if (apply) {
            for (qsizetype index = rowStart; index < rowEnd; ++index) {
                const int left = area.left() + int(index - rowStart) * (columnWidth + m_horizontalSpacing);
                items[index]->setGeometry(QRect(left, top, columnWidth, rowHeight));
            }
        }
        top += rowHeight + m_verticalSpacing;
    }
    const int used = items.isEmpty() ? 0 : top - m_verticalSpacing - area.top();
    return used + contentsMargins().top() + contentsMargins().bottom();
}
