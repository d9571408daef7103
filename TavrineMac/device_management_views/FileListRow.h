#pragma once

#include <QStyledItemDelegate>

// Paints one row of the file list from a ManagedFileListModel row: the icon in its rounded box, the name and the
// subtitle, the size when known and the trailing chevron (folder) or arrow (file).
class FileListRow : public QStyledItemDelegate
{
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
};

class QPainter;

// Draws the symbol of system name `symbolName` centred in `rect`, `pixels` wide, in `color`; a name drawn nowhere
// shows the generic document symbol when `documentFallback`, else nothing.
void paintNamedSymbol(QPainter *painter, const QRect &rect, const QString &symbolName, const QColor &color,
                      int pixels, bool documentFallback = true);
