#pragma once

#include "FlatButton.h"

#include <QListWidget>

// The sidebar's list. Its rows mix phones, which can be selected, with a header, a label, a button and a note, which
// cannot: the keyboard moves between the phones only, and a click on any other row keeps the phone selected.
class SidebarList : public QListWidget
{
    Q_OBJECT

public:
    // What a row selects: its kind and the value that names it (a trusted phone's id, a USB phone's id).
    static constexpr int selectionKindRole = Qt::UserRole;
    static constexpr int selectionValueRole = Qt::UserRole + 1;

    explicit SidebarList(QWidget *parent = nullptr);

    // The rows a selection may stop on.
    static bool isSelectableRow(const QListWidgetItem *item);

protected:
    QModelIndex moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers) override;
    void currentChanged(const QModelIndex &current, const QModelIndex &previous) override;
    void paintEvent(QPaintEvent *event) override;

private:
    // The nearest selectable row from `row` on in `step`'s direction (`row` itself included); -1 when none.
    int selectableRowFrom(int row, int step) const;
};

// The flat button of a sidebar row, with the style's focus frame around the row while it has the keyboard. A screen
// reader reads it as the row it fills.
class SidebarRowButton : public FlatButton
{
    Q_OBJECT

public:
    using FlatButton::FlatButton;
};
