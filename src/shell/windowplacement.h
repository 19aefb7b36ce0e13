#pragma once

#include "store/records.h"

#include <QList>
#include <QRect>
#include <QSizeF>

// The settings record keeps the main window's placement in twips (1/1440 inch);
// the window works in device-independent pixels at the screen's logical DPI.
namespace WindowPlacement {

constexpr double TwipsPerInch = 1440.0;

bool HasPlacement(const SettingsRecord& settings);
void ClearPlacement(SettingsRecord& settings);

// Left, top, width and height of the record, in pixels.
QRect ToPixels(const SettingsRecord& settings, QSizeF logicalDpi);
// Stores left, top, width and height; a value that does not fit in 16 bits
// leaves its field as it was.
void StoreFromPixels(SettingsRecord& settings, const QRect& pixels, QSizeF logicalDpi);

// A stored placement is applied only when the window would be usable there:
// a real size, and enough of it on one of the screens to grab it.
bool IsUsable(const QRect& window, const QList<QRect>& screens);

} // namespace WindowPlacement
