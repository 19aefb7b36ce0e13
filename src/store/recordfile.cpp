#include "store/recordfile.h"

#include "store/storeerror.h"

#include <QFileInfo>
#include <QLocale>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QFileDevice::Permissions permissionsFor(RecordFile::Creation creation) {
    if (creation == RecordFile::Creation::OwnerOnly)
        return QFileDevice::ReadOwner | QFileDevice::WriteOwner;
    // The usual mode for new files; the umask still applies.
    return QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup |
           QFileDevice::WriteGroup | QFileDevice::ReadOther | QFileDevice::WriteOther;
}

QString nameOf(const QString& path) {
    return QFileInfo(path).fileName();
}

// Makes a finished rename durable; some file systems refuse fsync on a folder,
// which costs nothing but durability, so its result is not an error.
void syncFolderOf(const QString& path) {
    const QByteArray folder = QFile::encodeName(QFileInfo(path).absolutePath());
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}

} // namespace

RecordFile::RecordFile(const QString& path, const QString& tempPath, int recordLength, Creation creation)
    : m_file(path), m_tempPath(tempPath), m_length(recordLength), m_creation(creation) {}

void RecordFile::recoverInterruptedRewrite() {
    if (m_file.exists() || !QFileInfo(m_tempPath).isFile())
        return;
    if (::rename(QFile::encodeName(m_tempPath).constData(),
                 QFile::encodeName(m_file.fileName()).constData()) != 0)
        throw StoreError(QStringLiteral("Could not restore %1 from %2: %3")
                             .arg(fileName(), nameOf(m_tempPath), qt_error_string(errno)));
    syncFolderOf(m_file.fileName());
}

void RecordFile::open(QIODevice::OpenMode mode) {
    // Unbuffered: a failed write is reported by write() itself, not lost in a flush.
    if (!m_file.open(mode | QIODevice::Unbuffered, permissionsFor(m_creation)))
        fail(QStringLiteral("open"));
}

void RecordFile::openForReading() {
    recoverInterruptedRewrite();
    if (!m_file.exists()) {
        // NewOnly: never truncate a file that appeared in the meantime.
        if (!m_file.open(QIODevice::WriteOnly | QIODevice::NewOnly, permissionsFor(m_creation)) &&
            !m_file.exists())
            fail(QStringLiteral("create"));
        m_file.close();
    }
    open(QIODevice::ReadOnly);
}

void RecordFile::openForWriting() {
    recoverInterruptedRewrite();
    open(QIODevice::ReadWrite);
}

void RecordFile::close() {
    m_file.close();
}

std::optional<QByteArray> ReadFileIfExists(const QString& path, const QString& shownName, qint64 limit) {
    QFile file(path);
    if (!file.exists())
        return std::nullopt;
    if (!file.open(QIODevice::ReadOnly))
        throw StoreError(QStringLiteral("Could not read %1: %2").arg(shownName, file.errorString()));
    const QByteArray bytes = limit < 0 ? file.readAll() : file.read(limit);
    if (file.error() != QFileDevice::NoError)
        throw StoreError(QStringLiteral("Could not read %1: %2").arg(shownName, file.errorString()));
    return bytes;
}

QString RecordFile::MaxRecordsText() {
    return QLocale(QLocale::English).toString(MaxRecords);
}

QString RecordFile::fileName() const {
    return nameOf(m_file.fileName());
}

void RecordFile::fail(const QString& verb) const {
    throw StoreError(QStringLiteral("Could not %1 %2: %3").arg(verb, fileName(), m_file.errorString()));
}

int RecordFile::count() const {
    const qint64 records = m_file.size() / m_length;
    if (records > MaxRecords)
        throw StoreError(QStringLiteral("%1 is too long: it holds more than %2 records.")
                             .arg(fileName(), MaxRecordsText()));
    return int(records);
}

QByteArray RecordFile::read(int recordNumber) {
    if (recordNumber < 1 || recordNumber > count())
        throw StoreError(
            QStringLiteral("Could not read %1: there is no record %2.").arg(fileName()).arg(recordNumber));
    if (!m_file.seek(qint64(recordNumber - 1) * m_length))
        fail(QStringLiteral("read"));
    const QByteArray bytes = m_file.read(m_length);
    if (bytes.size() != m_length)
        fail(QStringLiteral("read"));
    return bytes;
}

QByteArray RecordFile::readAll() {
    const qint64 wanted = qint64(count()) * m_length;
    if (!m_file.seek(0))
        fail(QStringLiteral("read"));
    const QByteArray bytes = m_file.read(wanted);
    if (bytes.size() != wanted)
        fail(QStringLiteral("read"));
    return bytes;
}

void RecordFile::write(int recordNumber, const QByteArray& record) {
    Q_ASSERT(record.size() == m_length);
    if (recordNumber > MaxRecords)
        throw StoreError(
            QStringLiteral("%1 is full: it can hold at most %2 records.").arg(fileName(), MaxRecordsText()));
    // Writing further out would leave a gap of records that were never written.
    if (recordNumber < 1 || recordNumber > count() + 1)
        throw StoreError(
            QStringLiteral("Could not write %1: there is no record %2.").arg(fileName()).arg(recordNumber));
    if (!m_file.seek(qint64(recordNumber - 1) * m_length))
        fail(QStringLiteral("write"));
    if (m_file.write(record) != record.size())
        fail(QStringLiteral("write"));
}

void RecordFile::replace(const QByteArray& records) {
    m_file.close();
    QFile tmp(m_tempPath);
    // Drops the half-written temporary file; the store itself is untouched.
    const auto abandon = [&tmp](const QString& verb, const QString& reason) {
        tmp.close();
        QFile::remove(tmp.fileName());
        throw StoreError(QStringLiteral("Could not %1 %2: %3").arg(verb, nameOf(tmp.fileName()), reason));
    };
    if (!tmp.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered,
                  permissionsFor(m_creation)))
        throw StoreError(
            QStringLiteral("Could not create %1: %2").arg(nameOf(m_tempPath), tmp.errorString()));
    // A leftover from an interrupted rewrite keeps its old mode when truncated.
    if (m_creation == Creation::OwnerOnly && ::fchmod(tmp.handle(), S_IRUSR | S_IWUSR) != 0)
        abandon(QStringLiteral("protect"), qt_error_string(errno));
    if (tmp.write(records) != records.size())
        abandon(QStringLiteral("write"), tmp.errorString());
    if (::fsync(tmp.handle()) != 0)
        abandon(QStringLiteral("write"), qt_error_string(errno));
    tmp.close();
    // rename(2) replaces the old file in one step; QFile::rename refuses an existing target.
    const QString path = m_file.fileName();
    if (::rename(QFile::encodeName(m_tempPath).constData(), QFile::encodeName(path).constData()) != 0) {
        const QString reason = qt_error_string(errno);
        QFile::remove(m_tempPath);
        throw StoreError(QStringLiteral("Could not replace %1: %2").arg(fileName(), reason));
    }
    syncFolderOf(path);
}
