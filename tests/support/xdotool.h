#pragma once

#include <QProcess>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <QTest>

#include <optional>

// Driving another process's windows through the X server, as a user's keys would.
namespace xdotool {

// A tool (xdotool, xprop) with a hard limit; its output, or nothing when it failed.
inline std::optional<QString> Tool(const QString& program, const QStringList& arguments,
                                   int timeoutMs = 20000) {
    QProcess tool;
    tool.start(program, arguments);
    if (!tool.waitForFinished(timeoutMs)) {
        tool.kill();
        tool.waitForFinished();
        return std::nullopt;
    }
    if (tool.exitStatus() != QProcess::NormalExit || tool.exitCode() != 0)
        return std::nullopt;
    return QString::fromUtf8(tool.readAllStandardOutput()).trimmed();
}

inline std::optional<QString> Run(const QStringList& arguments, int timeoutMs = 20000) {
    return Tool(QStringLiteral("xdotool"), arguments, timeoutMs);
}

// The process's windows by exact title (or all of them); only those on screen when visibleOnly.
inline QStringList Windows(qint64 pid, const QString& title, bool visibleOnly) {
    QStringList arguments{QStringLiteral("search"), QStringLiteral("--all"), QStringLiteral("--pid"),
                          QString::number(pid)};
    if (visibleOnly)
        arguments << QStringLiteral("--onlyvisible");
    if (!title.isEmpty())
        arguments << QStringLiteral("--name")
                  << QLatin1Char('^') + QRegularExpression::escape(title) + QLatin1Char('$');
    const QString found = Run(arguments).value_or(QString());
    return found.isEmpty() ? QStringList() : found.split(QLatin1Char('\n'));
}

inline QStringList VisibleWindows(qint64 pid, const QString& title = {}) {
    return Windows(pid, title, true);
}

// The first of the process's windows with that title, once it is on screen; empty
// when none came. A loaded machine can take long to start a program: the limit
// only guards a hang.
inline QString WaitForWindow(qint64 pid, const QString& title, int timeoutMs = 90000) {
    QString id;
    (void)QTest::qWaitFor([&] { return !(id = VisibleWindows(pid, title).value(0)).isEmpty(); }, timeoutMs);
    return id;
}

// Presses keys in the window, once the window manager has made it the active one.
inline bool KeysTo(const QString& window, const QStringList& keys) {
    return Run({QStringLiteral("windowactivate"), QStringLiteral("--sync"), window}).has_value() &&
           Run(QStringList{QStringLiteral("key"), QStringLiteral("--clearmodifiers")} + keys).has_value();
}

inline bool WaitForClosed(qint64 pid, const QString& title, int timeoutMs = 30000) {
    return QTest::qWaitFor([&] { return VisibleWindows(pid, title).isEmpty(); }, timeoutMs);
}

// Gives the window the keyboard directly (with no window manager nothing else
// would); retried, as a window may be mapped a moment before it can take it.
inline bool Focus(const QString& window) {
    return !window.isEmpty() &&
           QTest::qWaitFor(
               [&] {
                   return Run({QStringLiteral("windowfocus"), QStringLiteral("--sync"), window}, 5000)
                       .has_value();
               },
               20000);
}

// Presses keys one after another in the focused window; menus open and close between them.
inline bool Keys(const QStringList& keys) {
    for (const QString& key : keys) {
        if (!Run({QStringLiteral("key"), key}))
            return false;
        QTest::qWait(150);
    }
    return true;
}

inline bool Type(const QString& text) {
    return Run({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("20"), text}).has_value();
}

// Answers the process's window of that title with Enter, and waits for it to go.
inline bool Dismiss(qint64 pid, const QString& title) {
    return Focus(WaitForWindow(pid, title)) && Keys({QStringLiteral("Return")}) && WaitForClosed(pid, title);
}

} // namespace xdotool
