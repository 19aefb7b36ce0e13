#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

// Runs a user's password command: the program and its arguments split as a
// shell would split them, but no shell (the user writes "sh -c '...'" to get
// one). Its first line of output is the secret; stderr goes into the failure
// text; a command still running at the time-out is killed.
namespace signin::PasswordCommand {

// secret is empty exactly when failure is not. done runs later, from the event
// loop, and never after context is gone (the command is then killed).
using Done = std::function<void(const QString& secret, const QString& failure)>;
// Words as a POSIX shell splits them: blanks separate, '...' is literal, "..."
// keeps blanks (backslash escapes " \\ $ `), a backslash outside quotes escapes
// the next character. nullopt for an unterminated quote. Nothing is expanded.
std::optional<QStringList> SplitCommand(const QString& command);
void Run(const QString& command, int timeoutSeconds, QObject* context, Done done);

} // namespace signin::PasswordCommand
