#include "common/storeerrorbox.h"

#include "common/messagebox.h"
#include "store/storeerror.h"

namespace ui {

void ShowStoreError(QWidget* parent, const QString& title, const QString& action, const StoreError& error) {
    const QString text =
        action.isEmpty() ? error.message() : action + QStringLiteral("\r\n\r\n") + error.message();
    ShowMessage({parent, MessageIcon::Warning, title, text, QMessageBox::Ok, QMessageBox::Ok});
}

} // namespace ui
