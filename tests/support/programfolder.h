#pragma once

#include <QFile>
#include <QString>

namespace testsupport {

// Fills folder (ending in '/') as the program folder of a process test: a copy
// of the program under test (TIDEMARSH_EXE), and caFile as Certificates.pem,
// trusted there like a company CA and nowhere else (never for the whole process).
inline bool MakeProgramFolder(const QString& folder, const QString& caFile) {
    const QString exe = folder + QStringLiteral("tidemarsh");
    return QFile::copy(qEnvironmentVariable("TIDEMARSH_EXE"), exe) &&
           QFile::setPermissions(exe, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner) &&
           QFile::copy(caFile, folder + QStringLiteral("Certificates.pem"));
}

} // namespace testsupport
