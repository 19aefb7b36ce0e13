#include "common/messagebox.h"

namespace ui {
namespace {
MessageBoxHandler& handler() {
    static MessageBoxHandler h;
    return h;
}

QMessageBox::Icon toQt(MessageIcon icon) {
    switch (icon) {
    case MessageIcon::Information:
        return QMessageBox::Information;
    case MessageIcon::Warning:
        return QMessageBox::Warning;
    case MessageIcon::Question:
        return QMessageBox::Question;
    case MessageIcon::Critical:
        return QMessageBox::Critical;
    }
    return QMessageBox::NoIcon;
}
} // namespace

QMessageBox::StandardButton ShowMessage(const MessageRequest& request) {
    if (handler())
        return handler()(request);
    QMessageBox box(toQt(request.icon), request.title, request.text, request.buttons, request.parent);
    box.setDefaultButton(request.defaultButton);
    box.setTextFormat(Qt::PlainText); // texts may carry header data from the server
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

void SetMessageBoxHandler(MessageBoxHandler h) {
    handler() = std::move(h);
}

} // namespace ui
