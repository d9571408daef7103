#pragma once

#include <QListWidget>

// The sidebar's list. Its rows mix phones, which can be selected, with a header, a label, a button and a note, which
// cannot: the keyboard moves between the phones only, and a click on any other row keeps the phone selected.
class SidebarList : public QListWidget
{
    Q_OBJECT

public:
    explicit SidebarList(QWidget *parent = nullptr);

    // The rows a selection may stop on.
    static bool isSelectableRow(const QListWidgetItem *item);

protected:
    QModelIndex moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers) override;

private:
    // The nearest selectable row from `row` on in `step`'s direction (`row` itself included); -1 when none.
    int selectableRowFrom(int row, int step) const;
};
