#pragma once

#include <QString>

class QWidget;

// Opens the manual: its contents, or a topic by number, in the one help window.
namespace help {

// True when the help file is in the program folder; otherwise shows the
// "QUILLORE Tidemarsh Help" message and returns false.
bool HelpFileExists(const QString& programFolder, QWidget* parent);
void ShowContents(const QString& programFolder, QWidget* parent);
void ShowTopic(const QString& programFolder, int topic, QWidget* parent);

} // namespace help
