#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>

#include <optional>

// The desktop's entry-file format (INI-like "[Desktop Entry]" groups), as far as
// the program writes and reads it: one quoted argument of an Exec key and the
// keys of one group.
namespace desktopentry {

// One argument for an Exec value, as it is written in the file: always in double
// quotes, with the quoting escapes, "%%" for a percent sign, and the string
// escape of every backslash on top (so one backslash is written as four).
// nullopt for text that no entry can carry (control characters).
std::optional<QString> execArgument(const QString& argument);

// A value with its string escapes (\s \n \t \r \\) resolved.
QString unescapeValue(const QString& value);

// The first argument of an Exec value as it stands in the file, unquoted and
// unescaped: the program it starts. nullopt when it does not parse.
std::optional<QString> execProgram(const QString& execValue);

// The keys of one group of an entry file, with their values as written (not
// unescaped). Keys of other groups, comments and blank lines are skipped; the
// first occurrence of a key counts.
QHash<QString, QString> readGroup(const QByteArray& fileText,
                                  const QString& group = QStringLiteral("Desktop Entry"));

} // namespace desktopentry
