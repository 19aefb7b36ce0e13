#pragma once

#include "help/helplauncher.h"

#include <QFile>
#include <QTemporaryDir>

// What the help tests share: the help file the build made, and a private cache.
namespace testsupport {

// The built help file (the help tests get its path from CMake).
inline QString BuiltHelpFile() {
    return qEnvironmentVariable("TIDEMARSH_HELP_FILE");
}

// Copies the built help file into a program folder, as the installer puts it.
inline bool InstallHelpFile(const QString& programFolder) {
    return QFile::copy(BuiltHelpFile(), QDir(programFolder).filePath(help::HelpFileName()));
}

// The help collection is a cache: the tests keep theirs away from the user's.
// Construct before the first help window opens.
class PrivateHelpCache {
public:
    PrivateHelpCache() { qputenv("XDG_CACHE_HOME", m_dir.path().toUtf8()); }
    QString filePath(const QString& name) const { return m_dir.filePath(name); }

private:
    QTemporaryDir m_dir;
};

} // namespace testsupport
