#pragma once

#include <QMessageBox>
#include <QString>
#include <functional>

class QWidget;

// Every message box goes through here, so tests can see and answer them.
namespace ui {

enum class MessageIcon { Information, Warning, Question, Critical };

struct MessageRequest {
    QWidget* parent = nullptr;
    MessageIcon icon = MessageIcon::Information;
    QString title;
    QString text;
    QMessageBox::StandardButtons buttons = QMessageBox::Ok;
    QMessageBox::StandardButton defaultButton = QMessageBox::Ok;
};

using MessageBoxHandler = std::function<QMessageBox::StandardButton(const MessageRequest&)>;

// Shows a modal box (or asks the installed handler) and returns the button pressed.
QMessageBox::StandardButton ShowMessage(const MessageRequest& request);
// Tests install a handler; pass {} to restore real boxes.
void SetMessageBoxHandler(MessageBoxHandler handler);

} // namespace ui
