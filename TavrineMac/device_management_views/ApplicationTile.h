#pragma once

#include <QStyledItemDelegate>

// The card of one phone application in the pane's grid: its icon, its name on one line and the date of its last
// update, on a panel that turns blue when selected. It paints the rows of ApplicationListModel, so a list of
// thousands of applications builds no widget per application.
class ApplicationTile : public QStyledItemDelegate
{
    Q_OBJECT

public:
    static constexpr int height = 72;
    static constexpr int minimumWidth = 200;

    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
};
