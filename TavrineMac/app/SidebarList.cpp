#include "SidebarList.h"

#include "FocusMark.h"
#include "SidebarListAccessible.h"

#include <QStyledItemDelegate>

namespace {

// Draws a row as the list does, and the focus mark on the row the keyboard is on: the selected phone's row is filled
// with the highlight, on which the style's own focus frame hardly shows.
class SidebarRowDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        QStyledItemDelegate::paint(painter, option, index);
        FocusMark::paint(*painter, option, option.rect, option.widget, option.state.testFlag(QStyle::State_Selected));
    }
};

} // namespace

SidebarList::SidebarList(QWidget *parent) : QListWidget(parent)
{
    SidebarListAccessible::install();
    setItemDelegate(new SidebarRowDelegate(this));
}

bool SidebarList::isSelectableRow(const QListWidgetItem *item)
{
    return item && item->flags().testFlag(Qt::ItemIsSelectable) && item->flags().testFlag(Qt::ItemIsEnabled);
}

int SidebarList::selectableRowFrom(int row, int step) const
{
    for (; row >= 0 && row < count(); row += step) {
        if (isSelectableRow(item(row)))
            return row;
    }
    return -1;
}

void SidebarList::currentChanged(const QModelIndex &current, const QModelIndex &previous)
{
    // The list view tells a screen reader that its current row has the keyboard. The rows are made again and the
    // selected phone's row made current while the keyboard is elsewhere, too: that is no news of the keyboard.
    if (hasFocus()) {
        QListWidget::currentChanged(current, previous);
    } else {
        QAbstractItemView::currentChanged(current, previous);
    }
    FocusMark::currentItemChanged(*this, current, previous);
}

void SidebarList::paintEvent(QPaintEvent *event)
{
    QListWidget::paintEvent(event);
    // Without a phone there is no row the keyboard stops on.
    FocusMark::paint(*this);
}

QModelIndex SidebarList::moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers)
{
    const int current = currentRow();
    int row = -1;
    switch (cursorAction) {
    case MoveUp:
    case MovePrevious:
        row = current < 0 ? selectableRowFrom(0, 1) : selectableRowFrom(current - 1, -1);
        break;
    case MoveDown:
    case MoveNext:
        row = selectableRowFrom(current < 0 ? 0 : current + 1, 1);
        break;
    case MoveHome:
        row = selectableRowFrom(0, 1);
        break;
    case MoveEnd:
        row = selectableRowFrom(count() - 1, -1);
        break;
    case MovePageUp:
    case MovePageDown: {
        // A page's step lands on the nearest phone in its direction, else on the nearest one back.
        const QModelIndex paged = QListWidget::moveCursor(cursorAction, modifiers);
        const int target = paged.isValid() ? paged.row() : current;
        const int step = cursorAction == MovePageUp ? -1 : 1;
        row = selectableRowFrom(target, step);
        if (row < 0)
            row = selectableRowFrom(target, -step);
        break;
    }
    case MoveLeft:
    case MoveRight:
        break;
    }
    // With no phone in the direction asked for, the cursor stays where it is.
    if (row < 0)
        return isSelectableRow(currentItem()) ? currentIndex() : QModelIndex();
    return indexFromItem(item(row));
}
