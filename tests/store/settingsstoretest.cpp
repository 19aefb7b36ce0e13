#include "store/settingsstore.h"
#include "store/storeerror.h"
#include "storetestutil.h"

#include <QDir>
#include <QFile>
#include <QObject>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <memory>

using namespace Qt::StringLiterals;
using namespace StoreTestUtil;

class SettingsStoreTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void firstLoadCreatesDefaults();
    void saveGoldenBytes();
    void portAndTimeoutAsUsed_data();
    void portAndTimeoutAsUsed();
    void loadExisting();
    void shortOrLongFile_data();
    void shortOrLongFile();
    void layoutRoundTrip();
    void failuresNameTheFile();

private:
    QString folder() const { return m_dir->path() + u'/'; }
    std::unique_ptr<QTemporaryDir> m_dir;
};

namespace {

SettingsRecord sample() {
    SettingsRecord r;
    r.DeletePromptOff = 1;
    r.CheckDonePromptOff = 2;
    r.ServerPort = 995;
    r.ServerTimeout = 300;
    r.WindowWidth = 15360;
    r.WindowHeight = 11520;
    r.WindowLeft = -120;
    r.WindowTop = 32767;
    r.ThemeColoursOff = -1;
    return r;
}

// sample() as nine little-endian 16-bit integers, written out by hand.
const QByteArray kSampleBytes("\x01\x00"
                              "\x02\x00"
                              "\xe3\x03"
                              "\x2c\x01"
                              "\x00\x3c"
                              "\x00\x2d"
                              "\x88\xff"
                              "\xff\x7f"
                              "\xff\xff",
                              18);

} // namespace

void SettingsStoreTest::init() {
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void SettingsStoreTest::firstLoadCreatesDefaults() {
    SettingsStore store(folder());
    SettingsRecord record = sample();
    QVERIFY(store.LoadSettings(record));
    QCOMPARE(record, SettingsRecord{});
    QCOMPARE(readBytes(store.settingsPath()),
             QByteArray("\x00\x00\x00\x00\x6e\x00\x1e\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00", 18));
    // The second start finds it.
    QVERIFY(!store.LoadSettings(record));
    QCOMPARE(record, SettingsRecord{});
}

void SettingsStoreTest::saveGoldenBytes() {
    SettingsStore store(folder());
    QCOMPARE(SettingsStore::Encode(sample()), kSampleBytes);
    // Whatever was there before, the file holds exactly the record afterwards.
    QVERIFY(writeBytes(store.settingsPath(), QByteArray(40, 'x')));
    store.SaveSettings(sample());
    QCOMPARE(readBytes(store.settingsPath()), kSampleBytes);
    QCOMPARE(QDir(folder()).entryList(QDir::Files | QDir::Hidden), QStringList{u"Config.dat"_s});
}

void SettingsStoreTest::loadExisting() {
    SettingsStore store(folder());
    QVERIFY(writeBytes(store.settingsPath(), kSampleBytes));
    SettingsRecord record;
    QVERIFY(!store.LoadSettings(record));
    QCOMPARE(record, sample());
}

void SettingsStoreTest::shortOrLongFile_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("fieldsRead");

    QTest::newRow("empty") << QByteArray() << 0;
    QTest::newRow("one byte") << kSampleBytes.left(1) << 0;
    QTest::newRow("two fields and a half") << kSampleBytes.left(5) << 2;
    QTest::newRow("eight fields") << kSampleBytes.left(16) << 8;
    QTest::newRow("whole") << kSampleBytes << 9;
    QTest::newRow("longer") << kSampleBytes + "garbage" << 9;
}

void SettingsStoreTest::shortOrLongFile() {
    QFETCH(QByteArray, bytes);
    QFETCH(int, fieldsRead);
    SettingsStore store(folder());
    QVERIFY(writeBytes(store.settingsPath(), bytes));

    // The fields present come from the file, the others keep what was in memory.
    const SettingsRecord previous{7, 7, 7, 7, 7, 7, 7, 7, 7};
    SettingsRecord record = previous;
    QVERIFY(!store.LoadSettings(record));
    const QByteArray expected =
        kSampleBytes.left(2 * fieldsRead) + SettingsStore::Encode(previous).mid(2 * fieldsRead);
    QCOMPARE(SettingsStore::Encode(record), expected);
    QCOMPARE(readBytes(store.settingsPath()), bytes);
}

void SettingsStoreTest::layoutRoundTrip() {
    SettingsStore store(folder());
    QVERIFY(!store.LoadLayout().has_value());
    const QByteArray state("\x00\xff layout \x01", 11);
    store.SaveLayout(state);
    QCOMPARE(store.LoadLayout(), std::optional<QByteArray>(state));
    store.SaveLayout("short");
    QCOMPARE(store.LoadLayout(), std::optional<QByteArray>("short"));
}

void SettingsStoreTest::failuresNameTheFile() {
    const auto messageOf = [](const std::function<void()>& action) {
        try {
            action();
        } catch (const StoreError& e) {
            return e.message();
        }
        return QString();
    };
    // A folder that is not there: nothing can be written, and a first start
    // still hands back the defaults.
    const SettingsStore nowhere(folder() + u"missing/"_s);
    QVERIFY(messageOf([&] { nowhere.SaveSettings(sample()); }).startsWith(u"Could not write Config.dat: "_s));
    QVERIFY(messageOf([&] { nowhere.SaveLayout("x"); }).startsWith(u"Could not write Tidemarsh.dsl: "_s));
    SettingsRecord record = sample();
    QVERIFY(messageOf([&] { nowhere.LoadSettings(record); }).startsWith(u"Could not write Config.dat: "_s));
    QCOMPARE(record, SettingsRecord{});

    // Files that are there but cannot be read (folders in their place: root reads
    // any file) are failures, not absence; the record keeps what it held.
    const SettingsStore store(folder());
    QVERIFY(QDir(folder()).mkdir(u"Config.dat"_s));
    QVERIFY(QDir(folder()).mkdir(u"Tidemarsh.dsl"_s));
    record = sample();
    QVERIFY(messageOf([&] { store.LoadSettings(record); }).startsWith(u"Could not read Config.dat: "_s));
    QCOMPARE(record, sample());
    QVERIFY(messageOf([&] { store.LoadLayout(); }).startsWith(u"Could not read Tidemarsh.dsl: "_s));
    QVERIFY(messageOf([&] { store.SaveSettings(sample()); }).startsWith(u"Could not write Config.dat: "_s));
}

void SettingsStoreTest::portAndTimeoutAsUsed_data() {
    QTest::addColumn<int>("stored");
    QTest::addColumn<int>("port");
    QTest::newRow("default") << 110 << 110;
    QTest::newRow("nothing stored") << 0 << 110;
    QTest::newRow("995") << 995 << 995;
    QTest::newRow("32768 as its 16-bit pattern") << -32768 << 32768;
    QTest::newRow("65535 as its 16-bit pattern") << -1 << 65535;
}

void SettingsStoreTest::portAndTimeoutAsUsed() {
    QFETCH(int, stored);
    QFETCH(int, port);
    SettingsRecord settings;
    settings.ServerPort = static_cast<qint16>(stored);
    QCOMPARE(int(settings.PopPort()), port);
    settings.ServerTimeout = 0;
    QCOMPARE(settings.TimeoutSeconds(), 30);
    settings.ServerTimeout = 45;
    QCOMPARE(settings.TimeoutSeconds(), 45);
}

int runSettingsStoreTest(int argc, char** argv) {
    SettingsStoreTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "settingsstoretest.moc"
