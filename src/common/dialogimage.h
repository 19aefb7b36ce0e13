#pragma once

#include "common/messagebox.h"

class QLabel;

namespace ui {

// The picture beside a dialog's message: the desktop style's image for that
// kind of message at the size message boxes use, named after the kind so a
// screen reader says what it shows.
void ShowMessageImage(QLabel* label, MessageIcon kind);
// The program's own icon, size pixels square. A label without a name of its
// own is named after the program.
void ShowProgramImage(QLabel* label, int size);

} // namespace ui
