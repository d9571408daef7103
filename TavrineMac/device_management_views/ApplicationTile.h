#pragma once

#include "ManagedContentModel.h"

#include <QStyledItemDelegate>

// The card of one phone application in the pane's grid: its icon, its name on one line and the date of its last
// update, on a panel that turns blue when selected. It paints the rows of ApplicationListModel, so a list of
// thousands of applications builds no widget per application.
class ApplicationTile : public QStyledItemDelegate
{
    Q_OBJECT

public:
    static constexpr int height = 72;

    // The narrowest tile: 200 pixels, or wider where the longest date of the caption font needs it, so that the
    // date always shows whole; only the name is shortened, and its tool tip holds it whole.
    static int minimumWidth();

    // The name and the date as a tile in a grid cell `cellWidth` wide draws them, and the width they have.
    struct ShownTexts
    {
        QString name;
        QString date;
        qreal width = 0;
    };
    static ShownTexts shownTexts(const ManagedApplication &application, int cellWidth);

    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
};
