#include "common/dialogimage.h"

#include "common/commandicons.h"

#include <QCoreApplication>
#include <QLabel>
#include <QStyle>

namespace ui {
namespace {

struct MessageImage {
    QStyle::StandardPixmap pixmap;
    const char* name;
};

MessageImage ImageFor(MessageIcon kind) {
    switch (kind) {
    case MessageIcon::Information:
        return {QStyle::SP_MessageBoxInformation, QT_TRANSLATE_NOOP("ui", "Information")};
    case MessageIcon::Warning:
        return {QStyle::SP_MessageBoxWarning, QT_TRANSLATE_NOOP("ui", "Warning")};
    case MessageIcon::Question:
        return {QStyle::SP_MessageBoxQuestion, QT_TRANSLATE_NOOP("ui", "Question")};
    case MessageIcon::Critical:
        break;
    }
    return {QStyle::SP_MessageBoxCritical, QT_TRANSLATE_NOOP("ui", "Error")};
}

} // namespace

void ShowMessageImage(QLabel* label, MessageIcon kind) {
    // Measured and drawn for the dialog, as a message box does for itself.
    const QWidget* dialog = label->window();
    QStyle* style = dialog->style();
    const MessageImage image = ImageFor(kind);
    const int size = style->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, dialog);
    label->setPixmap(style->standardIcon(image.pixmap, nullptr, dialog).pixmap(size));
    label->setAccessibleName(QCoreApplication::translate("ui", image.name));
}

void ShowProgramImage(QLabel* label, int size) {
    label->setPixmap(ApplicationIcon().pixmap(size, size));
    if (label->accessibleName().isEmpty())
        label->setAccessibleName(QCoreApplication::translate("ui", "QUILLORE Tidemarsh"));
}

} // namespace ui
