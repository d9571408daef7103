#pragma once

#include <QLayout>
#include <QList>

// Rows of as many equal columns as fit, each column at least `minimumColumnWidth` wide and sharing the rest of
// the width; items fill their column and, row by row, take the height of the row's tallest item. Hidden widgets
// take no place.
class AdaptiveGridLayout : public QLayout
{
    Q_OBJECT

public:
    AdaptiveGridLayout(int minimumColumnWidth, int horizontalSpacing, int verticalSpacing, QWidget *parent = nullptr);
    ~AdaptiveGridLayout() override;

    // The number of columns at `width`, the layout's margins included.
    int columnCount(int width) const;

    void addItem(QLayoutItem *item) override;
    int count() const override;
    QLayoutItem *itemAt(int index) const override;
    QLayoutItem *takeAt(int index) override;
    Qt::Orientations expandingDirections() const override;
    bool hasHeightForWidth() const override;
    int heightForWidth(int width) const override;
    void invalidate() override;
    QSize minimumSize() const override;
    QSize sizeHint() const override;
    void setGeometry(const QRect &rect) override;

private:
    // Places the items in `rect` (or only measures when `apply` is false) and returns the height used.
    int arrange(const QRect &rect, bool apply) const;
    QList<QLayoutItem *> visibleItems() const;

    QList<QLayoutItem *> m_items;
    int m_minimumColumnWidth;
    int m_horizontalSpacing;
    int m_verticalSpacing;
    // The layout asks for the same width's height many times in one pass; a change of any item clears it.
    mutable int m_heightCacheWidth = -1;
    mutable int m_heightCacheHeight = 0;
};
