#include "desktop/autostartentry.h"

#include "desktop/desktopentry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace {

QByteArray readFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    // An entry is a few hundred bytes; anything far larger is not ours to parse.
    return file.read(64 * 1024);
}

bool sameFile(const QString& a, const QString& b) {
    const QString canonicalA = QFileInfo(a).canonicalFilePath();
    if (!canonicalA.isEmpty())
        return canonicalA == QFileInfo(b).canonicalFilePath();
    return QDir::cleanPath(a) == QDir::cleanPath(b); // the program is gone: compare the words
}

} // namespace

AutostartEntry::AutostartEntry(const QString& programPath) : m_program(programPath) {}

QString AutostartEntry::folder() {
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.config");
    return QDir::cleanPath(base + QStringLiteral("/autostart"));
}

QString AutostartEntry::FileName() {
    // The name of the menu entry too: desktops pair the two by it.
    return QStringLiteral("tidemarsh.desktop");
}

QString AutostartEntry::filePath() const {
    return folder() + u'/' + FileName();
}

bool AutostartEntry::startsThisProgram() const {
    const auto keys = desktopentry::readGroup(readFile(filePath()));
    const auto program = desktopentry::execProgram(keys.value(QStringLiteral("Exec")));
    return program && sameFile(*program, m_program);
}

bool AutostartEntry::isOn() const {
    const auto keys = desktopentry::readGroup(readFile(filePath()));
    if (keys.value(QStringLiteral("Hidden")) == u"true" ||
        keys.value(QStringLiteral("X-GNOME-Autostart-enabled")) == u"false")
        return false;
    const auto program = desktopentry::execProgram(keys.value(QStringLiteral("Exec")));
    return program && sameFile(*program, m_program);
}

QByteArray AutostartEntry::text() const {
    const auto exec = desktopentry::execArgument(m_program);
    if (!exec || !QDir::isAbsolutePath(m_program))
        return {};
    QString tryExec = m_program;
    tryExec.replace(QStringLiteral("\\"), QStringLiteral("\\\\"));
    const QString entry =
        QStringLiteral("[Desktop Entry]\n"
                       "Type=Application\n"
                       "Name=Tidemarsh\n"
                       "Comment=Screen a POP3 mailbox before your mail program downloads it\n"
                       "Exec=%1 --hidden\n"
                       "TryExec=%2\n"
                       "Icon=tidemarsh\n"
                       "Terminal=false\n")
            .arg(*exec, tryExec);
    return entry.toUtf8();
}

QString AutostartEntry::switchOn() const {
    const QByteArray content = text();
    if (content.isEmpty())
        return QObject::tr("The program's path cannot be written into a desktop entry:\n%1")
            .arg(QDir::toNativeSeparators(m_program));
    if (!QDir().mkpath(folder()))
        return QObject::tr("The folder %1 could not be created.").arg(QDir::toNativeSeparators(folder()));
    QSaveFile file(filePath());
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size() || !file.commit())
        return QObject::tr("%1 could not be written: %2")
            .arg(QDir::toNativeSeparators(filePath()), file.errorString());
    return {};
}

QString AutostartEntry::switchOff() const {
    if (!startsThisProgram())
        return {};
    QFile file(filePath());
    if (!file.remove())
        return QObject::tr("%1 could not be removed: %2")
            .arg(QDir::toNativeSeparators(filePath()), file.errorString());
    return {};
}
