#include "store/accountstore.h"
#include "storetestutil.h"

#include <QDir>
#include <QFile>
#include <QObject>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;
using namespace StoreTestUtil;

class AccountStoreTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void goldenBytes();
    void decodeGolden();
    void missingFileCountsZeroAndIsPrivate();
    void countIgnoresPartialRecord_data();
    void countIgnoresPartialRecord();
    void readAllInRecordOrder();
    void appendOverStrayBytes();
    void writeReplacesExactlyOneRecord();
    void writeOnePastTheEndAppends();
    void outOfRangeRecordsAreErrors();
    void deleteKeepsOrder();
    void deleteReplacesLeftoverTempFile();
    void failedRewriteLeavesStoreIntact();
    void recoversFromTempFileAlone();
    void resetStatistics();
    void findAccountByName_data();
    void findAccountByName();
    void recordLimit();
    void errorNamesTheFile();

private:
    QString folder() const { return m_dir->path() + u'/'; }
    std::unique_ptr<QTemporaryDir> m_dir;
};

namespace {

QByteArray blanks(int n) {
    return QByteArray(n, ' ');
}

AccountRecord account(const QString& name) {
    AccountRecord record;
    record.AccountName = name;
    record.LoginName = name + u"-login"_s;
    record.LoginPassword = name + u"-secret"_s;
    record.ServerAddress = u"pop."_s + name + u".example"_s;
    record.LastChecked = u"01/02/2026 10:11:12"_s;
    record.TotalMessages = 40;
    record.DeletedMessages = 7;
    return record;
}

QStringList namesIn(const AccountStore& store) {
    QStringList names;
    for (int n = 1; n <= store.CountAccounts(); ++n)
        names << store.ReadAccount(n).AccountName;
    return names;
}

} // namespace

void AccountStoreTest::init() {
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void AccountStoreTest::goldenBytes() {
    AccountRecord record;
    record.AccountName = u"Home"_s;
    record.LoginName = u"bob"_s;
    record.LoginPassword = u"  s3cret  "_s;
    record.ServerAddress = u"pop.example.org"_s;
    record.LastChecked = u"07/12/2026 23:40:01"_s;
    record.TotalMessages = 0x01020304;
    record.DeletedMessages = -2;

    // Offsets 0, 20, 95, 170, 245, 320, 324; blanks up to each width; LE counters.
    const QByteArray expected = "Home" + blanks(16) + "bob" + blanks(72) + "s3cret" + blanks(69) +
                                "pop.example.org" + blanks(60) + "07/12/2026 23:40:01" + blanks(56) +
                                QByteArray("\x04\x03\x02\x01\xfe\xff\xff\xff", 8);
    QCOMPARE(expected.size(), 328);
    QCOMPARE(AccountStore::Encode(record), expected);

    AccountStore store(folder());
    QCOMPARE(store.AppendAccount(record), 1);
    QCOMPARE(readBytes(store.filePath()), expected);

    // A name longer than 20 bytes is cut between characters: ten Ä are 20 bytes.
    record.AccountName = QString(11, u'Ä');
    QCOMPARE(AccountStore::Encode(record).left(20), QString(10, u'Ä').toUtf8());
    record.AccountName = u"x"_s + QString(10, u'Ä');
    QCOMPARE(AccountStore::Encode(record).left(20), (u"x"_s + QString(9, u'Ä')).toUtf8() + ' ');
}

void AccountStoreTest::decodeGolden() {
    // Written by another program in an 8-bit code page: reads as Latin-1.
    const QByteArray bytes = "  M\xfcller " + blanks(11) + "anna" + blanks(71) + " pw with blanks " +
                             blanks(59) + "mail.example.net" + blanks(59) + "N/A" + blanks(72) +
                             QByteArray("\xff\xff\xff\x7f\x00\x00\x00\x80", 8);
    QCOMPARE(bytes.size(), 328);
    const AccountRecord record = AccountStore::Decode(bytes);
    QCOMPARE(record.AccountName, u"Müller"_s);
    QCOMPARE(record.LoginName, u"anna"_s);
    QCOMPARE(record.LoginPassword, u"pw with blanks"_s);
    QCOMPARE(record.ServerAddress, u"mail.example.net"_s);
    QCOMPARE(record.LastChecked, u"N/A"_s);
    QCOMPARE(record.TotalMessages, 2147483647);
    QCOMPARE(record.DeletedMessages, qint32(-2147483647 - 1));

    // A new account stores N/A and zeros.
    const QByteArray fresh = AccountStore::Encode(AccountRecord{});
    QCOMPARE(fresh.mid(245, 75), "N/A" + blanks(72));
    QCOMPARE(fresh.mid(320), QByteArray(8, '\0'));
}

void AccountStoreTest::missingFileCountsZeroAndIsPrivate() {
    AccountStore store(folder());
    QVERIFY(!QFile::exists(store.filePath()));
    QCOMPARE(store.CountAccounts(), 0);
    QVERIFY(QFile::exists(store.filePath()));
    QCOMPARE(QFileInfo(store.filePath()).size(), 0);
    QCOMPARE(modeOf(store.filePath()), 0600);
}

void AccountStoreTest::countIgnoresPartialRecord_data() {
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("count");
    QTest::newRow("empty") << 0 << 0;
    QTest::newRow("short of one") << 327 << 0;
    QTest::newRow("one") << 328 << 1;
    QTest::newRow("one and a bit") << 330 << 1;
    QTest::newRow("three short") << 3 * 328 - 1 << 2;
}

void AccountStoreTest::countIgnoresPartialRecord() {
    QFETCH(int, size);
    QFETCH(int, count);
    AccountStore store(folder());
    QVERIFY(writeBytes(store.filePath(), QByteArray(size, 'x')));
    QCOMPARE(store.CountAccounts(), count);
}

void AccountStoreTest::readAllInRecordOrder() {
    AccountStore store(folder());
    // Missing: created empty, which is no failure.
    QVERIFY(store.ReadAll().isEmpty());
    QVERIFY(QFile::exists(store.filePath()));
    store.AppendAccount(account(u"First"_s));
    store.AppendAccount(account(u"Second"_s));
    QFile file(store.filePath());
    QVERIFY(file.open(QIODevice::Append));
    file.write("partial"); // a trailing partial record is no account
    file.close();
    QCOMPARE(store.ReadAll(), (QList<AccountRecord>{account(u"First"_s), account(u"Second"_s)}));
}

void AccountStoreTest::appendOverStrayBytes() {
    AccountStore store(folder());
    QVERIFY(writeBytes(store.filePath(), AccountStore::Encode(account(u"one"_s)) + "\x01\x02"));
    QCOMPARE(store.AppendAccount(account(u"two"_s)), 2);
    QCOMPARE(QFileInfo(store.filePath()).size(), 656);
    QCOMPARE(store.ReadAccount(2), account(u"two"_s));
    QCOMPARE(store.ReadAccount(1), account(u"one"_s));
}

void AccountStoreTest::writeReplacesExactlyOneRecord() {
    AccountStore store(folder());
    for (const auto& name : {u"a"_s, u"b"_s, u"c"_s})
        store.AppendAccount(account(name));
    const QByteArray before = readBytes(store.filePath());

    AccountRecord changed = account(u"B2"_s);
    changed.TotalMessages = 99;
    store.WriteAccount(2, changed);

    const QByteArray after = readBytes(store.filePath());
    QCOMPARE(after.size(), before.size());
    QCOMPARE(after.left(328), before.left(328));
    QCOMPARE(after.mid(328, 328), AccountStore::Encode(changed));
    QCOMPARE(after.mid(656), before.mid(656));
    QCOMPARE(store.ReadAccount(2), changed);
}

void AccountStoreTest::writeOnePastTheEndAppends() {
    AccountStore store(folder());
    store.WriteAccount(1, account(u"first"_s)); // creates the file
    store.WriteAccount(2, account(u"second"_s));
    QCOMPARE(store.CountAccounts(), 2);
    QCOMPARE(namesIn(store), (QStringList{u"first"_s, u"second"_s}));
    QCOMPARE(modeOf(store.filePath()), 0600);
}

void AccountStoreTest::outOfRangeRecordsAreErrors() {
    AccountStore store(folder());
    store.AppendAccount(account(u"only"_s));
    QVERIFY_THROWS_EXCEPTION(StoreError, store.ReadAccount(0));
    QVERIFY_THROWS_EXCEPTION(StoreError, store.ReadAccount(2));
    // Further out than one past the end would leave a hole of unwritten records.
    QVERIFY_THROWS_EXCEPTION(StoreError, store.WriteAccount(3, account(u"far"_s)));
    QVERIFY_THROWS_EXCEPTION(StoreError, store.DeleteAccount(2));
    QCOMPARE(QFileInfo(store.filePath()).size(), 328);
}

void AccountStoreTest::deleteKeepsOrder() {
    AccountStore store(folder());
    for (const auto& name : {u"one"_s, u"two"_s, u"three"_s, u"four"_s})
        store.AppendAccount(account(name));
    // A stray partial record does not survive the rewrite.
    QFile file(store.filePath());
    QVERIFY(file.open(QIODevice::Append));
    file.write("zz");
    file.close();

    store.DeleteAccount(2);
    QCOMPARE(namesIn(store), (QStringList{u"one"_s, u"three"_s, u"four"_s}));
    QCOMPARE(store.ReadAccount(2), account(u"three"_s));
    QCOMPARE(QFileInfo(store.filePath()).size(), 3 * 328);
    QVERIFY(!QFile::exists(store.tempPath()));
    QCOMPARE(modeOf(store.filePath()), 0600);

    store.DeleteAccount(3);
    store.DeleteAccount(1);
    store.DeleteAccount(1);
    QCOMPARE(store.CountAccounts(), 0);
    QCOMPARE(QFileInfo(store.filePath()).size(), 0);
}

void AccountStoreTest::deleteReplacesLeftoverTempFile() {
    AccountStore store(folder());
    store.AppendAccount(account(u"keep"_s));
    store.AppendAccount(account(u"drop"_s));
    // Left by an interrupted rewrite, readable by everyone, full of old data.
    QVERIFY(writeBytes(store.tempPath(), QByteArray(5000, 'j')));
    QVERIFY(QFile::setPermissions(store.tempPath(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                        QFileDevice::ReadGroup | QFileDevice::ReadOther));

    store.DeleteAccount(2);
    QCOMPARE(namesIn(store), QStringList{u"keep"_s});
    QCOMPARE(QFileInfo(store.filePath()).size(), 328);
    QCOMPARE(modeOf(store.filePath()), 0600);
    QVERIFY(!QFile::exists(store.tempPath()));
}

void AccountStoreTest::failedRewriteLeavesStoreIntact() {
    AccountStore store(folder());
    store.AppendAccount(account(u"a"_s));
    store.AppendAccount(account(u"b"_s));
    const QByteArray before = readBytes(store.filePath());
    // Acc.tmp cannot be created where a folder of that name stands.
    QVERIFY(QDir(folder()).mkdir(u"Acc.tmp"_s));

    try {
        store.DeleteAccount(1);
        QFAIL("no error");
    } catch (const StoreError& e) {
        QVERIFY2(e.message().startsWith(u"Could not create Acc.tmp: "), qPrintable(e.message()));
    }
    QVERIFY_THROWS_EXCEPTION(StoreError, store.ResetStatistics());
    QCOMPARE(readBytes(store.filePath()), before);
}

void AccountStoreTest::recoversFromTempFileAlone() {
    // What a writer that deletes before it renames leaves after a crash.
    AccountStore store(folder());
    const QByteArray records = AccountStore::Encode(account(u"a"_s)) + AccountStore::Encode(account(u"b"_s));
    QVERIFY(writeBytes(store.tempPath(), records));
    QCOMPARE(store.CountAccounts(), 2);
    QCOMPARE(readBytes(store.filePath()), records);
    QVERIFY(!QFile::exists(store.tempPath()));
    // With Acc.dat present a leftover Acc.tmp is only debris.
    QVERIFY(writeBytes(store.tempPath(), QByteArray(328, 'x')));
    QCOMPARE(store.CountAccounts(), 2);
    store.DeleteAccount(1);
    QCOMPARE(namesIn(store), QStringList{u"b"_s});
}

void AccountStoreTest::resetStatistics() {
    AccountStore store(folder());
    store.AppendAccount(account(u"a"_s));
    // A record from an 8-bit code page keeps its exact bytes through the reset.
    const QByteArray latin =
        "M\xfcller" + blanks(14) + QByteArray(300, 'l') + QByteArray("\x05\0\0\0\x06\0\0\0", 8);
    QFile file(store.filePath());
    QVERIFY(file.open(QIODevice::Append));
    file.write(latin);
    file.close();
    store.AppendAccount(account(u"c"_s));

    store.ResetStatistics();
    QCOMPARE(store.CountAccounts(), 3);
    for (int n = 1; n <= 3; ++n) {
        const AccountRecord record = store.ReadAccount(n);
        QCOMPARE(record.LastChecked, u"N/A"_s);
        QCOMPARE(record.TotalMessages, 0);
        QCOMPARE(record.DeletedMessages, 0);
    }
    AccountRecord expected = account(u"c"_s);
    expected.LastChecked = u"N/A"_s;
    expected.TotalMessages = expected.DeletedMessages = 0;
    QCOMPARE(store.ReadAccount(3), expected);
    const QByteArray second = readBytes(store.filePath()).mid(328, 328);
    QCOMPARE(second.left(245), latin.left(245));
    QCOMPARE(second.mid(245), "N/A" + blanks(72) + QByteArray(8, '\0'));
    QCOMPARE(modeOf(store.filePath()), 0600);
    QVERIFY(!QFile::exists(store.tempPath()));
}

void AccountStoreTest::findAccountByName_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("number");
    QTest::newRow("first") << u"Work"_s << 1;
    QTest::newRow("first of two equal") << u"Twin"_s << 2;
    QTest::newRow("case counts") << u"work"_s << 0;
    QTest::newRow("stored blanks trimmed") << u"Padded"_s << 4;
    QTest::newRow("given blanks not trimmed") << u" Work"_s << 0;
    QTest::newRow("missing") << u"None"_s << 0;
}

void AccountStoreTest::findAccountByName() {
    QFETCH(QString, name);
    QFETCH(int, number);
    AccountStore store(folder());
    store.AppendAccount(account(u"Work"_s));
    AccountRecord twin = account(u"Twin"_s);
    store.AppendAccount(twin);
    twin.TotalMessages = 1234;
    store.AppendAccount(twin);
    QByteArray padded = AccountStore::Encode(account(u"x"_s));
    padded.replace(0, 20, "  Padded" + blanks(12));
    QFile file(store.filePath());
    QVERIFY(file.open(QIODevice::Append));
    file.write(padded);
    file.close();

    AccountRecord found;
    QCOMPARE(store.FindAccountByName(name, &found), number);
    if (number > 0) {
        QCOMPARE(found.AccountName, name);
        QCOMPARE(found, store.ReadAccount(number));
    }
}

void AccountStoreTest::recordLimit() {
    AccountStore store(folder());
    QFile file(store.filePath());
    QVERIFY(file.open(QIODevice::WriteOnly));
    QVERIFY(file.resize(qint64(32767) * 328));
    file.close();
    QCOMPARE(store.CountAccounts(), 32767);
    try {
        store.AppendAccount(account(u"one too many"_s));
        QFAIL("no error");
    } catch (const StoreError& e) {
        QVERIFY2(e.message().contains(u"32,767"), qPrintable(e.message()));
    }
    QCOMPARE(QFileInfo(store.filePath()).size(), qint64(32767) * 328);

    QVERIFY(QFile::resize(store.filePath(), qint64(32768) * 328));
    QVERIFY_THROWS_EXCEPTION(StoreError, store.CountAccounts());
    QVERIFY_THROWS_EXCEPTION(StoreError, store.FindAccountByName(u"x"_s));
}

void AccountStoreTest::errorNamesTheFile() {
    AccountStore store(folder() + u"no-such-folder/"_s);
    try {
        store.CountAccounts();
        QFAIL("no error");
    } catch (const StoreError& e) {
        QCOMPARE(e.message(), u"Could not create Acc.dat: No such file or directory"_s);
    }
    // A folder where the file should be cannot be opened either.
    QVERIFY(QDir(folder()).mkdir(u"Acc.dat"_s));
    AccountStore blocked(folder());
    try {
        blocked.AppendAccount(account(u"a"_s));
        QFAIL("no error");
    } catch (const StoreError& e) {
        QVERIFY2(e.message().startsWith(u"Could not open Acc.dat: "), qPrintable(e.message()));
    }
}

int runAccountStoreTest(int argc, char** argv) {
    AccountStoreTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "accountstoretest.moc"
