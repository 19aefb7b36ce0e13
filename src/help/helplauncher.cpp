#include "help/helplauncher.h"

#include "common/messagebox.h"
#include "help/helpwindow.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QPointer>

namespace help {
namespace {

QPointer<HelpWindow>& Window() {
    static QPointer<HelpWindow> window;
    return window;
}

QString HelpFilePath(const QString& programFolder) {
    return programFolder + HelpFileName();
}

// One window for the whole run, made at the first request; a request for
// another folder's help file (only tests do that) starts a fresh one.
HelpWindow* EnsureWindow(const QString& helpFile) {
    QPointer<HelpWindow>& window = Window();
    if (window && window->helpFile() != helpFile)
        CloseHelpWindow();
    if (!window) {
        window = new HelpWindow(helpFile);
        // Parentless, so nothing else deletes it: it must go while the
        // application still exists.
        static const bool hooked = [] {
            QObject::connect(qApp, &QCoreApplication::aboutToQuit, qApp, &CloseHelpWindow);
            return true;
        }();
        Q_UNUSED(hooked)
    }
    return window;
}

} // namespace

QString HelpFileName() {
    return QStringLiteral("Tidemarsh.qch");
}

bool HelpFileExists(const QString& programFolder, QWidget* parent) {
    if (QFileInfo(HelpFilePath(programFolder)).isFile())
        return true;
    ui::ShowMessage({parent, ui::MessageIcon::Warning,
                     QCoreApplication::translate("help", "QUILLORE Tidemarsh Help"),
                     QCoreApplication::translate("help", "Unable to find the QUILLORE Tidemarsh Help file.  "
                                                         "Please reinstall QUILLORE Tidemarsh to replace the "
                                                         "Help system."),
                     QMessageBox::Ok, QMessageBox::Ok});
    return false;
}

void ShowContents(const QString& programFolder, QWidget* parent) {
    if (!HelpFileExists(programFolder, parent))
        return;
    EnsureWindow(HelpFilePath(programFolder))->ShowContents();
}

void ShowTopic(const QString& programFolder, int topic, QWidget* parent) {
    if (!HelpFileExists(programFolder, parent))
        return;
    EnsureWindow(HelpFilePath(programFolder))->ShowTopic(topic);
}

QWidget* CurrentHelpWindow() {
    return Window();
}

void CloseHelpWindow() {
    delete Window().data();
}

} // namespace help
