#pragma once

#include <QIcon>
#include <QString>

namespace ui {

// A command's image by its name in the command tables ("CheckMailSmall", ...):
// the desktop theme's icon where a standard name fits, else the bundled drawing.
QIcon CommandIcon(const QString& imageName);
// The program's own icon (window, tray, About box).
QIcon ApplicationIcon();

} // namespace ui
