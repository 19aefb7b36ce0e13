#include "headerfiles.h"

#include "fixedtext.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace HeaderFiles {

namespace {

QString headerPath(const QString& programFolder, int messageNumber) {
    return QDir(DataFolder(programFolder)).filePath(QStringLiteral("%1.dat").arg(messageNumber));
}

// Unlinks every non-folder entry. Read by hand with readdir rather than QDir
// because a name that is not valid UTF-8 would not survive the round trip
// through QString, and such a file would never go. Unlinking needs no write
// permission on the file itself, so read-only files need no attribute change;
// symbolic links are removed, never followed.
void removeEveryFile(const QString& folder) {
    const QByteArray path = QFile::encodeName(folder);
    const int dirFd = ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0)
        return;
    // fdopendir owns dirFd from here on; closedir closes both.
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::fdopendir(dirFd), &::closedir);
    if (!dir) {
        ::close(dirFd);
        return;
    }
    while (const dirent* entry = ::readdir(dir.get())) {
        const char* name = entry->d_name;
        if (qstrcmp(name, ".") == 0 || qstrcmp(name, "..") == 0)
            continue;
        struct stat st {};
        if (::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0 || S_ISDIR(st.st_mode))
            continue;
        ::unlinkat(dirFd, name, 0);
    }
}

} // namespace

QString DataFolder(const QString& programFolder) {
    return QDir(programFolder).filePath(QStringLiteral("Data"));
}

void EnsureDataFolder(const QString& programFolder) {
    if (!QFileInfo(DataFolder(programFolder)).exists())
        QDir(programFolder).mkdir(QStringLiteral("Data"));
}

void ClearHeaderFiles(const QString& programFolder) {
    const QString folder = DataFolder(programFolder);
    if (!QFileInfo(folder).isDir())
        return;
    // Temp.dat is part of the folder's contract: created here and removed with the rest.
    QFile temp(QDir(folder).filePath(QStringLiteral("Temp.dat")));
    if (temp.open(QIODevice::WriteOnly | QIODevice::Truncate))
        temp.close();
    removeEveryFile(folder);
}

void WriteHeaderFile(const QString& programFolder, int messageNumber, const QByteArray& headers) {
    const QString path = headerPath(programFolder, messageNumber);
    const QString name = QStringLiteral("Data/%1.dat").arg(messageNumber);
    if (messageNumber < 1)
        throw StoreError(QStringLiteral("Could not write %1: not a message number.").arg(name));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered))
        throw StoreError(QStringLiteral("Could not write %1: %2").arg(name, file.errorString()));
    if (file.write(headers) != headers.size())
        throw StoreError(QStringLiteral("Could not write %1: %2").arg(name, file.errorString()));
}

std::optional<QString> ReadHeaderFile(const QString& programFolder, int messageNumber) {
    if (messageNumber < 1)
        return std::nullopt;
    QFile file(headerPath(programFolder, messageNumber));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QString text = FixedText::DecodeBytes(file.readAll());

    // Line by line: CR LF, a lone LF or a lone CR ends a line; every line,
    // the last one included, is given back ended by CR LF.
    QString lines;
    lines.reserve(text.size() + text.size() / 32);
    qsizetype start = 0;
    const qsizetype size = text.size();
    while (start < size) {
        qsizetype end = start;
        while (end < size && text.at(end) != u'\r' && text.at(end) != u'\n')
            ++end;
        lines += QStringView(text).mid(start, end - start);
        lines += u"\r\n";
        if (end < size && text.at(end) == u'\r' && end + 1 < size && text.at(end + 1) == u'\n')
            ++end;
        start = end + 1;
    }
    return lines;
}

} // namespace HeaderFiles
