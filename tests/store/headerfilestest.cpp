#include "store/headerfiles.h"
#include "storetestutil.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QObject>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <memory>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace StoreTestUtil;

class HeaderFilesTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void ensureDataFolder();
    void clearWithoutFolderDoesNothing();
    void clearRemovesEveryFile();
    void writeKeepsRawBytes();
    void readLineByLine_data();
    void readLineByLine();
    void missingHeaderFile();
    void unreadableHeaderFile();
    void clearReportsWhatStays();
    void writeFailureNamesTheFile();
    void backgroundWritesReachTheReader();
    void clearDropsQueuedWrites();
    void backgroundFailureIsReportedOnce();

private:
    QString folder() const { return m_dir->path() + u'/'; }
    std::unique_ptr<QTemporaryDir> m_dir;
};

void HeaderFilesTest::init() {
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void HeaderFilesTest::ensureDataFolder() {
    const QString data = HeaderFiles::DataFolder(folder());
    QCOMPARE(data, folder() + u"Data"_s);
    HeaderFiles::EnsureDataFolder(folder());
    QVERIFY(QFileInfo(data).isDir());
    // A second call keeps what is there.
    QVERIFY(writeBytes(data + u"/1.dat"_s, "x"));
    HeaderFiles::EnsureDataFolder(folder());
    QVERIFY(QFile::exists(data + u"/1.dat"_s));

    try {
        HeaderFiles::EnsureDataFolder(folder() + u"missing/"_s);
        QFAIL("no error");
    } catch (const StoreError& e) {
        QCOMPARE(e.message(), u"Could not create the Data folder: No such file or directory"_s);
    }
}

void HeaderFilesTest::clearWithoutFolderDoesNothing() {
    HeaderFiles::ClearHeaderFiles(folder());
    QVERIFY(QDir(folder()).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot));
}

void HeaderFilesTest::clearRemovesEveryFile() {
    HeaderFiles::EnsureDataFolder(folder());
    const QString data = HeaderFiles::DataFolder(folder()) + u'/';
    QVERIFY(writeBytes(data + u"1.dat"_s, "a"));
    QVERIFY(writeBytes(data + u"readonly.dat"_s, "b"));
    QVERIFY(QFile::setPermissions(data + u"readonly.dat"_s, QFileDevice::ReadOwner));
    QVERIFY(writeBytes(data + u".hidden"_s, "c"));
    QVERIFY(QDir(data).mkdir(u"sub"_s));
    QVERIFY(writeBytes(data + u"sub/inner.dat"_s, "d"));
    // A link out of the folder goes, its target stays.
    const QString outside = folder() + u"outside.txt"_s;
    QVERIFY(writeBytes(outside, "keep"));
    QVERIFY(QFile::link(outside, data + u"link.dat"_s));
    QVERIFY(QFile::link(folder() + u"gone"_s, data + u"dangling"_s));
    // A name that is not valid UTF-8.
    const QByteArray oddName = QFile::encodeName(data) + "bad\xff\xfe.dat";
    const int fd = ::open(oddName.constData(), O_CREAT | O_WRONLY, 0644);
    QVERIFY(fd >= 0);
    ::close(fd);

    HeaderFiles::ClearHeaderFiles(folder());

    QCOMPARE(QDir(data).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
             QStringList{u"sub"_s});
    QVERIFY(::access(oddName.constData(), F_OK) != 0);
    QCOMPARE(readBytes(data + u"sub/inner.dat"_s), QByteArray("d"));
    QCOMPARE(readBytes(outside), QByteArray("keep"));
}

void HeaderFilesTest::writeKeepsRawBytes() {
    HeaderFiles::EnsureDataFolder(folder());
    const QString path = HeaderFiles::DataFolder(folder()) + u"/12.dat"_s;
    const QByteArray raw("Subject: =?utf-8?q?x?=\r\nFrom: J\xfcrgen <j@x>\r\nX-Null: a\0b\r\n", 57);
    HeaderFiles::WriteHeaderFile(folder(), 12, raw);
    QCOMPARE(readBytes(path), raw);
    // Overwriting truncates.
    HeaderFiles::WriteHeaderFile(folder(), 12, "To: a\r\n");
    QCOMPARE(readBytes(path), QByteArray("To: a\r\n"));
}

void HeaderFilesTest::readLineByLine_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("expected");

    QTest::newRow("crlf") << QByteArray("A: 1\r\nB: 2\r\n") << u"A: 1\r\nB: 2\r\n"_s;
    QTest::newRow("no final break") << QByteArray("A: 1\r\nB: 2") << u"A: 1\r\nB: 2\r\n"_s;
    QTest::newRow("bare lf") << QByteArray("A: 1\nB: 2\n") << u"A: 1\r\nB: 2\r\n"_s;
    QTest::newRow("bare cr") << QByteArray("A: 1\rB: 2") << u"A: 1\r\nB: 2\r\n"_s;
    QTest::newRow("folded and blank lines") << QByteArray("S: a\r\n\tb\r\n\r\n") << u"S: a\r\n\tb\r\n\r\n"_s;
    QTest::newRow("empty") << QByteArray() << QString();
    QTest::newRow("utf-8") << QByteArray("From: J\xc3\xbcrgen\r\n") << u"From: Jürgen\r\n"_s;
    QTest::newRow("8-bit") << QByteArray("From: J\xfcrgen\r\n") << u"From: Jürgen\r\n"_s;
}

void HeaderFilesTest::readLineByLine() {
    QFETCH(QByteArray, bytes);
    QFETCH(QString, expected);
    HeaderFiles::EnsureDataFolder(folder());
    HeaderFiles::WriteHeaderFile(folder(), 3, bytes);
    const std::optional<QString> text = HeaderFiles::ReadHeaderFile(folder(), 3);
    QVERIFY(text.has_value());
    QCOMPARE(*text, expected);
}

void HeaderFilesTest::missingHeaderFile() {
    HeaderFiles::EnsureDataFolder(folder());
    HeaderFiles::WriteHeaderFile(folder(), 1, "A: 1\r\n");
    HeaderFiles::WriteHeaderFile(folder(), 3, "C: 3\r\n");
    QVERIFY(HeaderFiles::ReadHeaderFile(folder(), 1).has_value());
    QVERIFY(!HeaderFiles::ReadHeaderFile(folder(), 2).has_value());
    QVERIFY(!HeaderFiles::ReadHeaderFile(folder(), 0).has_value());
    HeaderFiles::ClearHeaderFiles(folder());
    QVERIFY(!HeaderFiles::ReadHeaderFile(folder(), 1).has_value());
    QVERIFY(!HeaderFiles::ReadHeaderFile(folder(), 3).has_value());
}

void HeaderFilesTest::unreadableHeaderFile() {
    // There but not readable is a failure, unlike no file at all.
    HeaderFiles::EnsureDataFolder(folder());
    QVERIFY(QDir(HeaderFiles::DataFolder(folder())).mkdir(u"5.dat"_s));
    try {
        HeaderFiles::ReadHeaderFile(folder(), 5);
        QFAIL("no error");
    } catch (const StoreError& e) {
        QVERIFY2(e.message().startsWith(u"Could not read Data/5.dat: "_s), qPrintable(e.message()));
    }
}

void HeaderFilesTest::clearReportsWhatStays() {
    // Temp.dat cannot be created (a folder holds its name): the files still go,
    // and the failure is thrown afterwards.
    HeaderFiles::EnsureDataFolder(folder());
    const QString data = HeaderFiles::DataFolder(folder()) + u'/';
    QVERIFY(QDir(data).mkdir(u"Temp.dat"_s));
    QVERIFY(writeBytes(data + u"1.dat"_s, "a"));
    try {
        HeaderFiles::ClearHeaderFiles(folder());
        QFAIL("no error");
    } catch (const StoreError& e) {
        QVERIFY2(e.message().startsWith(u"Could not write Data/Temp.dat: "_s), qPrintable(e.message()));
    }
    QVERIFY(!QFile::exists(data + u"1.dat"_s));
}

void HeaderFilesTest::writeFailureNamesTheFile() {
    // No Data folder.
    try {
        HeaderFiles::WriteHeaderFile(folder(), 4, "A: 1\r\n");
        QFAIL("no error");
    } catch (const StoreError& e) {
        QCOMPARE(e.message(), u"Could not write Data/4.dat: No such file or directory"_s);
    }
    QVERIFY_THROWS_EXCEPTION(StoreError, HeaderFiles::WriteHeaderFile(folder(), 0, "A"));
}

void HeaderFilesTest::backgroundWritesReachTheReader() {
    HeaderFiles::EnsureDataFolder(folder());
    HeaderFiles::HeaderFileList files;
    for (int n = 1; n <= 2000; ++n)
        files.emplace_back(n, QByteArray("Subject: ") + QByteArray::number(n) + "\r\n");
    HeaderFiles::WriteHeaderFilesInBackground(folder(), std::move(files));
    // A reader never sees a missing file for a message still in the queue.
    QCOMPARE(HeaderFiles::ReadHeaderFile(folder(), 1999).value_or(QString()), u"Subject: 1999\r\n"_s);
    HeaderFiles::WaitForPendingWrites();
    const QStringList written = QDir(HeaderFiles::DataFolder(folder())).entryList(QDir::Files);
    QCOMPARE(written.size(), 2000);
    QCOMPARE(HeaderFiles::ReadHeaderFile(folder(), 2000).value_or(QString()), u"Subject: 2000\r\n"_s);
}

void HeaderFilesTest::clearDropsQueuedWrites() {
    HeaderFiles::EnsureDataFolder(folder());
    HeaderFiles::HeaderFileList files;
    for (int n = 1; n <= 5000; ++n)
        files.emplace_back(n, QByteArray(200, 'h'));
    HeaderFiles::WriteHeaderFilesInBackground(folder(), std::move(files));
    HeaderFiles::ClearHeaderFiles(folder());
    // Nothing queued before the clear may appear after it.
    HeaderFiles::WaitForPendingWrites();
    QVERIFY(QDir(HeaderFiles::DataFolder(folder())).entryList(QDir::Files).isEmpty());
}

void HeaderFilesTest::backgroundFailureIsReportedOnce() {
    // No Data folder: every write fails, and the caller hears of it once, on this thread.
    QStringList reports;
    HeaderFiles::HeaderFileList files;
    for (int n = 1; n <= 5; ++n)
        files.emplace_back(n, QByteArray("x"));
    HeaderFiles::WriteHeaderFilesInBackground(folder(), std::move(files),
                                              [&reports](const StoreError& e) { reports << e.message(); });
    HeaderFiles::WaitForPendingWrites();
    QTRY_COMPARE(reports.size(), 1);
    QVERIFY2(reports.front().contains(u"Data/"_s), qPrintable(reports.front()));
    QTest::qWait(50);
    QCOMPARE(reports.size(), 1);
}

int runHeaderFilesTest(int argc, char** argv) {
    HeaderFilesTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "headerfilestest.moc"
