#include "store/friendsstore.h"
#include "store/friendaddress.h"
#include "storetestutil.h"

#include <QFile>
#include <QFileInfo>
#include <QObject>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;
using namespace StoreTestUtil;

class FriendsStoreTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void goldenBytes();
    void missingFileReadsEmpty();
    void appendOverPartialRecord();
    void readAllTrimsOnlySpaces();
    void containsAndRemove_data();
    void containsAndRemove();
    void duplicatesRemovedTogether();
    void longAddressIsCut();
    void removeOnlyRecordLeavesEmptyFile();
    void recoversFromTempFileAlone();
    void replaceKeepsOthers();
    void recordLimit();
    void addressOfNameAndAddress_data();
    void addressOfNameAndAddress();

private:
    QString folder() const { return m_dir->path() + u'/'; }
    std::unique_ptr<QTemporaryDir> m_dir;
};

namespace {

QByteArray record(const QByteArray& text) {
    return text + QByteArray(60 - text.size(), ' ');
}

QStringList addresses(const FriendsStore& store) {
    QStringList list;
    int expectedNumber = 1;
    for (const auto& [number, address] : store.ReadAll()) {
        if (number != expectedNumber++)
            return {u"<gap>"_s};
        list << address;
    }
    return list;
}

} // namespace

void FriendsStoreTest::init() {
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void FriendsStoreTest::goldenBytes() {
    FriendsStore store(folder());
    QCOMPARE(store.Append(u"  Bob@Example.com "_s), 1);
    QCOMPARE(store.Append(u"jürgen@example.de"_s), 2);
    QCOMPARE(readBytes(store.filePath()), QByteArray("Bob@Example.com") + QByteArray(45, ' ') +
                                              QByteArray("j\xc3\xbcrgen@example.de") + QByteArray(42, ' '));
}

void FriendsStoreTest::missingFileReadsEmpty() {
    FriendsStore store(folder());
    QVERIFY(store.ReadAll().isEmpty());
    QVERIFY(QFile::exists(store.filePath()));
    QCOMPARE(QFileInfo(store.filePath()).size(), 0);
    QCOMPARE(store.Count(), 0);
    QVERIFY(!store.Contains(QString()));
}

void FriendsStoreTest::appendOverPartialRecord() {
    FriendsStore store(folder());
    QVERIFY(writeBytes(store.filePath(), record("a@x") + record("b@x") + "0123456789"));
    QCOMPARE(store.Count(), 2);
    QCOMPARE(addresses(store), (QStringList{u"a@x"_s, u"b@x"_s}));
    QCOMPARE(store.Append(u"c@x"_s), 3);
    const QByteArray bytes = readBytes(store.filePath());
    QCOMPARE(bytes.size(), 180);
    QCOMPARE(bytes.mid(120), record("c@x"));
}

void FriendsStoreTest::readAllTrimsOnlySpaces() {
    FriendsStore store(folder());
    QVERIFY(writeBytes(store.filePath(), record("   lead@x") + record("\ttab@x\t") + QByteArray(60, ' ') +
                                             record("caf\xe9@x")));
    QCOMPARE(addresses(store), (QStringList{u"lead@x"_s, u"\ttab@x\t"_s, QString(), u"café@x"_s}));
    QVERIFY(store.Contains(u"lead@x"_s));
    QVERIFY(!store.Contains(u"tab@x"_s));
    QVERIFY(store.Contains(u"CAFÉ@X"_s));

    // Found and removed by its trimmed text.
    store.RemoveAddress(u"lead@x"_s);
    QCOMPARE(addresses(store), (QStringList{u"\ttab@x\t"_s, QString(), u"café@x"_s}));
    // Kept records are copied byte for byte, 8-bit text included.
    QCOMPARE(readBytes(store.filePath()).mid(120), record("caf\xe9@x"));
}

void FriendsStoreTest::containsAndRemove_data() {
    QTest::addColumn<QString>("given");
    QTest::addColumn<bool>("contains");
    QTest::addColumn<bool>("removes");

    // Stored: "Ann.Lee@Example.COM".
    QTest::newRow("same") << u"Ann.Lee@Example.COM"_s << true << true;
    QTest::newRow("lower case") << u"ann.lee@example.com"_s << true << false;
    QTest::newRow("blanks around") << u"  Ann.Lee@Example.COM "_s << true << false;
    QTest::newRow("prefix only") << u"Ann.Lee@Example.CO"_s << false << false;
    QTest::newRow("other") << u"bob@example.com"_s << false << false;
}

void FriendsStoreTest::containsAndRemove() {
    QFETCH(QString, given);
    QFETCH(bool, contains);
    QFETCH(bool, removes);
    FriendsStore store(folder());
    store.Append(u"first@x"_s);
    store.Append(u"Ann.Lee@Example.COM"_s);
    store.Append(u"last@x"_s);

    QCOMPARE(store.Contains(given), contains);
    store.RemoveAddress(given);
    QCOMPARE(store.Count(), removes ? 2 : 3);
    QCOMPARE(store.Contains(u"ann.lee@example.com"_s), !removes);
    QVERIFY(!QFile::exists(store.tempPath()));
}

void FriendsStoreTest::duplicatesRemovedTogether() {
    FriendsStore store(folder());
    for (const auto& a : {u"dup@x"_s, u"one@x"_s, u"dup@x"_s, u"two@x"_s, u"dup@x"_s})
        store.Append(a);
    store.RemoveAddress(u"dup@x"_s);
    QCOMPARE(addresses(store), (QStringList{u"one@x"_s, u"two@x"_s}));
    QCOMPARE(QFileInfo(store.filePath()).size(), 120);
}

void FriendsStoreTest::longAddressIsCut() {
    FriendsStore store(folder());
    const QString address = QString(49, u'a') + u"@example.com"_s; // 61 characters
    QCOMPARE(address.size(), 61);
    store.Append(address);
    QCOMPARE(addresses(store), QStringList{address.left(60)});
    QVERIFY(!store.Contains(address));
    QVERIFY(store.Contains(address.left(60)));
    QCOMPARE(QFileInfo(store.filePath()).size(), 60);
}

void FriendsStoreTest::removeOnlyRecordLeavesEmptyFile() {
    FriendsStore store(folder());
    store.Append(u"solo@x"_s);
    store.RemoveAddress(u"solo@x"_s);
    QVERIFY(QFile::exists(store.filePath()));
    QCOMPARE(QFileInfo(store.filePath()).size(), 0);
    QVERIFY(!QFile::exists(store.tempPath()));
}

void FriendsStoreTest::recoversFromTempFileAlone() {
    FriendsStore store(folder());
    QVERIFY(writeBytes(store.tempPath(), record("kept@x")));
    QCOMPARE(store.Append(u"new@x"_s), 2);
    QCOMPARE(addresses(store), (QStringList{u"kept@x"_s, u"new@x"_s}));
    QVERIFY(!QFile::exists(store.tempPath()));
}

void FriendsStoreTest::replaceKeepsOthers() {
    FriendsStore store(folder());
    store.Append(u"a@x"_s);
    store.Append(u"b@x"_s);
    store.Append(u"c@x"_s);
    store.Replace(2, u" B@y "_s);
    QCOMPARE(readBytes(store.filePath()), record("a@x") + record("B@y") + record("c@x"));
    QVERIFY_THROWS_EXCEPTION(StoreError, store.Replace(4, u"d@x"_s));
    QVERIFY_THROWS_EXCEPTION(StoreError, store.Replace(0, u"d@x"_s));
    QCOMPARE(store.Count(), 3);
}

void FriendsStoreTest::recordLimit() {
    FriendsStore store(folder());
    QVERIFY(writeBytes(store.filePath(), {}));
    QVERIFY(QFile::resize(store.filePath(), qint64(32767) * 60));
    QCOMPARE(store.Count(), 32767);
    try {
        store.Append(u"one too many@x"_s);
        QFAIL("no error");
    } catch (const StoreError& e) {
        QCOMPARE(e.message(), u"Friends.dat is full: it can hold at most 32,767 records."_s);
    }
    // The import's batch meets the same limit before anything is written.
    QVERIFY(QFile::resize(store.filePath(), qint64(32766) * 60));
    try {
        store.AppendMany({u"a@x"_s, u"b@x"_s, u"c@x"_s});
        QFAIL("no error");
    } catch (const StoreError& e) {
        QCOMPARE(e.message(),
                 u"Could not write Friends.dat: it holds at most 32,767 addresses, and 2 more do not fit."_s);
    }
    QCOMPARE(QFileInfo(store.filePath()).size(), qint64(32766) * 60);
    QCOMPARE(store.AppendMany({u"last@x"_s}), 32767);
    QCOMPARE(QFileInfo(store.filePath()).size(), qint64(32767) * 60);

    // One more record than the limit (a partial one does not count).
    QVERIFY(QFile::resize(store.filePath(), qint64(32767) * 60 + 59));
    QCOMPARE(store.Count(), 32767);
    QVERIFY(QFile::resize(store.filePath(), qint64(32768) * 60));
    try {
        store.Count();
        QFAIL("no error");
    } catch (const StoreError& e) {
        QCOMPARE(e.message(), u"Friends.dat is too long: it holds more than 32,767 records."_s);
    }
    QVERIFY_THROWS_EXCEPTION(StoreError, store.ReadAll());
    QVERIFY_THROWS_EXCEPTION(StoreError, store.Contains(u"a@x"_s));
    QVERIFY_THROWS_EXCEPTION(StoreError, store.RemoveAddress(u"a@x"_s));
    QCOMPARE(QFileInfo(store.filePath()).size(), qint64(32768) * 60);
}

void FriendsStoreTest::addressOfNameAndAddress_data() {
    QTest::addColumn<QString>("entered");
    QTest::addColumn<QString>("stored"); // what the entry keeps
    QTest::newRow("name-addr") << u"Mum <mum@family.test>"_s << u"mum@family.test"_s;
    QTest::newRow("blanks around and inside the brackets")
        << u"  Mum < Mum@Family.test >  "_s << u"Mum@Family.test"_s;
    QTest::newRow("quoted name with a comma and brackets")
        << u"\"Lee, Ann <home>\" <ann@example.org>"_s << u"ann@example.org"_s;
    QTest::newRow("name that is an address") << u"mum@home <mum@family.test>"_s << u"mum@family.test"_s;
    QTest::newRow("brackets alone") << u"<ann@example.org>"_s << u"ann@example.org"_s;
    QTest::newRow("plain address") << u" ann@example.org "_s << u"ann@example.org"_s;
    QTest::newRow("no @ inside: as typed") << u"Team <postmaster>"_s << u"Team <postmaster>"_s;
    QTest::newRow("a list: as typed") << u"A <a@x.org>, B <b@x.org>"_s << u"A <a@x.org>, B <b@x.org>"_s;
    QTest::newRow("text after the brackets: as typed") << u"<a@x.org> home"_s << u"<a@x.org> home"_s;
    QTest::newRow("unclosed quote hides the bracket")
        << u"\"Mum <mum@family.test>"_s << u"\"Mum <mum@family.test>"_s;
}

void FriendsStoreTest::addressOfNameAndAddress() {
    QFETCH(QString, entered);
    QFETCH(QString, stored);
    QCOMPARE(friendaddress::ToStore(entered), stored);
    // An entry stored whole before is still the friend its address names.
    QVERIFY(FriendsStore::SameAddress(entered, stored));
}

int runFriendsStoreTest(int argc, char** argv) {
    FriendsStoreTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "friendsstoretest.moc"
