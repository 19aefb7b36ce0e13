#pragma once

#include <QList>
#include <QModelIndex>
#include <functional>

class QAbstractItemView;
class QMainWindow;
class QTreeView;

namespace ui {

// One notion of "the row" in a list: single selection, and the selected row
// and the current row always agree, whichever of them moved (keyboard, a
// click with a modifier, an assistive tool selecting a row). Call after the
// view's model is set; a later setModel needs another call.
void KeepSelectionOnCurrent(QAbstractItemView* view);

// Enter or Return on the view, while it has a current row, runs act (what a
// double click on the row does) instead of reaching the dialog's default
// button: a keyboard user who chose a row with the arrows means that row.
void EnterActsOnRow(QAbstractItemView* view, std::function<void()> act);

// Makes a flat QTreeView whose rows carry a user-checkable cell speak of
// those cells as check boxes: role CheckBox, states checkable and checked,
// a toggle action that flips the tick in the model, and focus on request.
// Must run before anything asks for the view's accessible interface, so
// call it first in the view's constructor.
void ExposeTicksAsCheckBoxes(QTreeView* view);

// Tells assistive technology that the ticks in topLeft..bottomRight changed
// (for a view's dataChanged). Cheap when no assistive technology listens.
void AnnounceTickChanges(QTreeView* view, const QModelIndex& topLeft, const QModelIndex& bottomRight,
                         const QList<int>& roles);

// Names for the parts of a main window that Qt leaves nameless: the menu
// bar and every menu, and what NameUnnamedParts names.
void NameWindowBars(QMainWindow* window);

// Names for the parts Qt builds inside a window without names: toolbars and
// their overflow buttons, size grips, splitter handles, the lists of combo
// boxes and the clear buttons of line edits. Names already given stay.
void NameUnnamedParts(QWidget* window);

} // namespace ui
