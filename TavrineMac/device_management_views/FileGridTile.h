#pragma once

#include <QStyledItemDelegate>

// Paints one tile of the file grid from a ManagedFileListModel row: the icon box, the name on at most two lines,
// the subtitle, and the accent background and outline while the tile is selected.
class FileGridTile : public QStyledItemDelegate
{
    Q_OBJECT

public:
    static constexpr int minimumWidth = 132;
    static constexpr int maximumWidth = 180;
    static constexpr int columnSpacing = 14;
    static constexpr int rowSpacing = 16;
    static constexpr int gridPadding = 22;

    using QStyledItemDelegate::QStyledItemDelegate;

    // The tile width that fills `viewportWidth` with as many columns of 132 to 180 as fit.
    static int tileWidth(int viewportWidth);
    // The height of a tile, from the fonts of its texts.
    static int tileHeight();

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
};
