#pragma once

#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>

// Helpers the desktop-integration tests share: the desktop's own tools run on
// what the program and the run command write.
namespace desktoptest {

struct ToolResult {
    bool ok = false;
    QString output;
};

// desktop-file-validate on an entry file: ok when it reports nothing at all
// (hints included, so a sloppy entry fails too).
inline ToolResult Validate(const QString& entryPath) {
    QProcess tool;
    tool.setProcessChannelMode(QProcess::MergedChannels);
    tool.start(QStringLiteral("desktop-file-validate"), {entryPath});
    if (!tool.waitForFinished(30000))
        return {false,
                QStringLiteral("desktop-file-validate did not run (is desktop-file-utils installed?)")};
    const QString output = QString::fromUtf8(tool.readAll()).trimmed();
    return {tool.exitStatus() == QProcess::NormalExit && tool.exitCode() == 0 && output.isEmpty(), output};
}

// Starts an entry as a desktop does, through GLib's launcher (gio launch). The
// session bus it would announce the start on is one that is not there: never
// the machine's, and none started on the display's behalf either.
inline ToolResult Launch(const QString& entryPath, QProcessEnvironment env) {
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("unix:path=/nonexistent/bus"));
    QProcess tool;
    tool.setProcessEnvironment(env);
    // Not a pipe: the started program inherits it, and would die writing to it
    // once this end is closed.
    tool.setStandardOutputFile(QProcess::nullDevice());
    tool.setStandardErrorFile(QProcess::nullDevice());
    tool.start(QStringLiteral("gio"), {QStringLiteral("launch"), entryPath});
    if (!tool.waitForFinished(30000))
        return {false, QStringLiteral("gio launch did not end (is libglib2.0-bin installed?)")};
    return {tool.exitStatus() == QProcess::NormalExit && tool.exitCode() == 0,
            QStringLiteral("gio launch ended with %1").arg(tool.exitCode())};
}

inline bool WriteFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

} // namespace desktoptest
