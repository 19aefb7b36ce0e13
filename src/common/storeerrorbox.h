#pragma once

#include <QString>

class QWidget;
class StoreError;

namespace ui {

// The one way a store failure reaches the user: a warning box titled title,
// with what could not be done (action, may be empty), a blank line, and the
// store's own message, which names the file and the cause.
void ShowStoreError(QWidget* parent, const QString& title, const QString& action, const StoreError& error);

} // namespace ui
