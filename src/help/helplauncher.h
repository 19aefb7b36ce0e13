#pragma once

#include <QString>

class QWidget;

// Opens the manual: its contents, or a topic by number, in the one help window.
namespace help {

// The help file's name in the program folder.
QString HelpFileName();

// True when the help file is in the program folder; otherwise shows the
// "QUILLORE Tidemarsh Help" message and returns false.
bool HelpFileExists(const QString& programFolder, QWidget* parent);
// Both check for the help file themselves (the message shows once per request);
// callers need not call HelpFileExists first. The window belongs to no caller,
// so it stays usable over modal dialogs and outlives the window that asked.
void ShowContents(const QString& programFolder, QWidget* parent);
// Topics 5 (new account wizard), 6 (account editor) and 12 (options) have pages
// of their own; any other number opens the contents.
void ShowTopic(const QString& programFolder, int topic, QWidget* parent);

// The help window once a request has opened it, else nullptr (for tests).
QWidget* CurrentHelpWindow();
// Destroys the help window; it is also destroyed when the application quits.
void CloseHelpWindow();

} // namespace help
