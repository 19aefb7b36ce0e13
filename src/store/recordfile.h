#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

#include <optional>

// The bytes of a whole file the stores keep, at most limit of them (-1: all);
// nullopt when there is no such file. A file that is there but cannot be read
// throws StoreError naming it as shownName ("Config.dat", "Data/3.dat").
std::optional<QByteArray> ReadFileIfExists(const QString& path, const QString& shownName, qint64 limit = -1);

// Fixed-length record I/O shared by the stores. Records are numbered from 1;
// the count is the file length divided by the record length, rounded down, so
// a trailing partial record is never read and the next append writes over it.
// Record numbers are 16-bit in the callers, hence the limit. Every failure
// throws StoreError with a message that names the file.
class RecordFile {
public:
    static constexpr int MaxRecords = 32767;
    // MaxRecords as the messages write it ("32,767").
    static QString MaxRecordsText();

    // OwnerOnly files (they hold passwords) are created with mode 0600.
    enum class Creation { Shared, OwnerOnly };

    // tempPath is the file's fixed temporary name, used by replace().
    RecordFile(const QString& path, const QString& tempPath, int recordLength,
               Creation creation = Creation::Shared);

    // Both create an empty file when none exists. When only the temporary file
    // exists, a rewrite was cut short after the old file had gone (as a
    // delete-then-rename writer leaves it): the temporary file holds the
    // records and becomes the file again.
    void openForReading();
    void openForWriting();
    void close();

    // Throws when the file holds more than MaxRecords records.
    int count() const;
    // recordNumber in 1..count.
    QByteArray read(int recordNumber);
    // Records 1..count, without a trailing partial record.
    QByteArray readAll();
    // recordNumber in 1..count + 1; record must be exactly one record long.
    void write(int recordNumber, const QByteArray& record);

    QString fileName() const;

    // Replaces the file by one holding exactly records (closing it first):
    // they go to the temporary file (truncated first), which is fsynced and
    // renamed over the file, then the folder is fsynced. Until the rename the
    // old file is untouched, so a crash leaves either the old or the new
    // content, never neither.
    void replace(const QByteArray& records);

private:
    void open(QIODevice::OpenMode mode);
    void recoverInterruptedRewrite();
    [[noreturn]] void fail(const QString& verb) const;

    QFile m_file;
    QString m_tempPath;
    int m_length;
    Creation m_creation;
};
