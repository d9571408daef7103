#pragma once

class QAbstractItemView;
class QModelIndex;
class QPainter;
class QRect;
class QStyleOption;
class QWidget;

// The one way the views show where the keyboard is, on a control the style draws and on a row a view paints. It shows
// while the place has the focus and the keyboard brought it there (Tab, Backtab or a shortcut, as the style tells
// it), not for a click alone: as the style's focus frame, or on a place filled with the highlight colour, where that
// frame hardly shows, as a ring in the colour of highlighted text.
namespace FocusMark {

// Whether the mark shows on `widget`: it has the keyboard, and the keyboard brought it there.
bool showsOn(const QWidget &widget);
// Marks `rect` of the place `option` describes, painted by `painter` on `widget`'s behalf.
void paint(QPainter &painter, const QStyleOption &option, const QRect &rect, const QWidget *widget,
           bool onHighlight = false);
// Marks `widget` itself, one pixel inside its edges: for a widget that paints the mark over what its class drew.
void paint(QWidget *widget);
// Marks the whole of a list view that has the keyboard but no current item: one without rows, or with none the
// keyboard is on yet, where nothing else would show where the keyboard is. It shows whatever brought the keyboard
// there, the window opening or a click too. For the view's paintEvent, after the view has painted.
void paint(QAbstractItemView &view);
// For the view's currentChanged: the whole view is drawn again as its current item comes or goes, and the mark with it.
void currentItemChanged(QAbstractItemView &view, const QModelIndex &current, const QModelIndex &previous);

} // namespace FocusMark
