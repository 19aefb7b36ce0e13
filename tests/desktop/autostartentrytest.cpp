// The autostart entry without a screen: the Exec quoting the desktop reads back,
// the paths of the base-directory convention, which entries count as this
// program's, and writing and removing the entry — checked with the desktop's
// own validator and launcher.
#include "desktop/autostartentry.h"
#include "desktop/desktopentry.h"
#include "desktoptestsupport.h"
#include "support/testdata.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

namespace {

const QString kOurs = QStringLiteral("/opt/Tide marsh/tidemarsh");

// An entry file's text around one Exec line (and whatever else is given).
QByteArray Entry(const QString& exec, const QByteArray& more = {}) {
    return "[Desktop Entry]\nType=Application\nName=Tidemarsh\nExec=" + exec.toUtf8() + '\n' + more;
}

} // namespace

class AutostartEntryTest : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_home;
    QString config() const { return m_home->filePath(QStringLiteral("config")); }
    QString entryPath() const { return config() + QStringLiteral("/autostart/tidemarsh.desktop"); }

private Q_SLOTS:
    void init() {
        m_home = std::make_unique<QTemporaryDir>();
        QVERIFY(m_home->isValid());
        qputenv("HOME", QFile::encodeName(m_home->path()));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(config()));
    }

    void execArgument_data() {
        QTest::addColumn<QString>("argument");
        QTest::addColumn<QString>("written");
        QTest::newRow("plain") << QStringLiteral("/opt/t/tidemarsh")
                               << QStringLiteral("\"/opt/t/tidemarsh\"");
        QTest::newRow("blank") << QStringLiteral("/a b/t") << QStringLiteral("\"/a b/t\"");
        QTest::newRow("double quote") << QStringLiteral("/a\"b") << QStringLiteral("\"/a\\\\\"b\"");
        QTest::newRow("dollar and backtick")
            << QStringLiteral("/$HOME/`x`") << QStringLiteral("\"/\\\\$HOME/\\\\`x\\\\`\"");
        QTest::newRow("backslash: four") << QStringLiteral("/a\\b") << QStringLiteral("\"/a\\\\\\\\b\"");
        QTest::newRow("percent: a field code otherwise")
            << QStringLiteral("/50%u") << QStringLiteral("\"/50%%u\"");
        QTest::newRow("single quote, semicolon, non-ASCII")
            << QStringLiteral("/it's;Ærø") << QStringLiteral("\"/it's;Ærø\"");
    }
    void execArgument() {
        QFETCH(QString, argument);
        QFETCH(QString, written);
        QCOMPARE(desktopentry::execArgument(argument), std::optional<QString>(written));
        // Read back as the program it starts, also with arguments after it.
        QCOMPARE(desktopentry::execProgram(written + QStringLiteral(" --hidden")),
                 std::optional<QString>(argument));
    }
    void controlCharactersAreRefused() {
        QCOMPARE(desktopentry::execArgument(QStringLiteral("/a\nb")), std::nullopt);
        QCOMPARE(desktopentry::execArgument(QStringLiteral("/a\tb")), std::nullopt);
        QVERIFY(AutostartEntry(QStringLiteral("/a\nb/tidemarsh")).text().isEmpty());
        QVERIFY(AutostartEntry(QStringLiteral("relative/tidemarsh")).text().isEmpty());
        QVERIFY(!AutostartEntry(QStringLiteral("/a\nb/tidemarsh")).switchOn().isEmpty());
        QVERIFY(!QFileInfo::exists(entryPath()));
    }

    // Entries others wrote: what program each one starts.
    void execProgramOfOtherEntries_data() {
        QTest::addColumn<QString>("exec");
        QTest::addColumn<QString>("program"); // empty: does not parse
        QTest::newRow("unquoted, with arguments")
            << QStringLiteral("/usr/bin/foo --x %U") << QStringLiteral("/usr/bin/foo");
        // The string escape is resolved first: a blank written as \s still separates.
        QTest::newRow("string escape \\s") << QStringLiteral("/opt/a\\sb") << QStringLiteral("/opt/a");
        QTest::newRow("quoted, escaped quote")
            << QStringLiteral("\"/opt/a \\\\\"b\\\\\"\" -x") << QStringLiteral("/opt/a \"b\"");
        QTest::newRow("no closing quote") << QStringLiteral("\"/opt/a b") << QString();
        QTest::newRow("empty") << QString() << QString();
        QTest::newRow("blanks only") << QStringLiteral("   ") << QString();
    }
    void execProgramOfOtherEntries() {
        QFETCH(QString, exec);
        QFETCH(QString, program);
        const auto read = desktopentry::execProgram(exec);
        QCOMPARE(read.value_or(QString()), program);
        QCOMPARE(read.has_value(), !program.isEmpty());
    }

    void folderFollowsTheEnvironment_data() {
        QTest::addColumn<QByteArray>("value"); // of XDG_CONFIG_HOME; "-" unsets it
        QTest::addColumn<QString>("folder");   // below the temporary home
        QTest::newRow("set") << QByteArray("/elsewhere/cfg") << QStringLiteral("/elsewhere/cfg/autostart");
        QTest::newRow("unset") << QByteArray("-") << QStringLiteral("~/.config/autostart");
        QTest::newRow("empty") << QByteArray("") << QStringLiteral("~/.config/autostart");
        QTest::newRow("relative does not count")
            << QByteArray("cfg") << QStringLiteral("~/.config/autostart");
    }
    void folderFollowsTheEnvironment() {
        QFETCH(QByteArray, value);
        QFETCH(QString, folder);
        if (value == "-")
            qunsetenv("XDG_CONFIG_HOME");
        else
            qputenv("XDG_CONFIG_HOME", value);
        folder.replace(QStringLiteral("~"), QDir(m_home->path()).absolutePath());
        QCOMPARE(AutostartEntry::folder(), folder);
        QCOMPARE(AutostartEntry(kOurs).filePath(), folder + QStringLiteral("/tidemarsh.desktop"));
    }

    // What the box shows for an entry found there.
    void whoseEntry_data() {
        QTest::addColumn<QByteArray>("text"); // empty: no file
        QTest::addColumn<bool>("startsThis");
        QTest::addColumn<bool>("on");
        QTest::newRow("none") << QByteArray() << false << false;
        QTest::newRow("ours") << AutostartEntry(kOurs).text() << true << true;
        QTest::newRow("another copy's")
            << AutostartEntry(QStringLiteral("/home/u/Tidemarsh/tidemarsh")).text() << false << false;
        QTest::newRow("switched off: Hidden")
            << Entry(QStringLiteral("\"/opt/Tide marsh/tidemarsh\""), "Hidden=true\n") << true << false;
        QTest::newRow("switched off: disabled flag")
            << Entry(QStringLiteral("\"/opt/Tide marsh/tidemarsh\""), "X-GNOME-Autostart-enabled=false\n")
            << true << false;
        QTest::newRow("ours only in an action")
            << QByteArray("[Desktop Entry]\nExec=/bin/true\n[Desktop Action a]\nExec=\"/opt/Tide "
                          "marsh/tidemarsh\"\n")
            << false << false;
        QTest::newRow("broken quoting")
            << Entry(QStringLiteral("\"/opt/Tide marsh/tidemarsh")) << false << false;
    }
    void whoseEntry() {
        QFETCH(QByteArray, text);
        QFETCH(bool, startsThis);
        QFETCH(bool, on);
        if (!text.isEmpty()) {
            QVERIFY(QDir().mkpath(AutostartEntry::folder()));
            QVERIFY(desktoptest::WriteFile(entryPath(), text));
        }
        const AutostartEntry entry(kOurs);
        QCOMPARE(entry.startsThisProgram(), startsThis);
        QCOMPARE(entry.isOn(), on);
    }

    // The program reached through another path (a link to its folder) is the same program.
    void samePathOrNotByTheFile() {
        QTemporaryDir place;
        const QString real = place.filePath(QStringLiteral("real"));
        QVERIFY(QDir().mkpath(real));
        QVERIFY(desktoptest::WriteFile(real + QStringLiteral("/tidemarsh"), "x"));
        QVERIFY(QFile::link(real, place.filePath(QStringLiteral("link"))));
        QVERIFY(AutostartEntry(place.filePath(QStringLiteral("link/tidemarsh"))).switchOn().isEmpty());
        QVERIFY(AutostartEntry(real + QStringLiteral("/tidemarsh")).isOn());
        QVERIFY(!AutostartEntry(real + QStringLiteral("/other")).isOn());
    }

    void switchOnAndOff() {
        const AutostartEntry entry(kOurs);
        QVERIFY(!QFileInfo::exists(AutostartEntry::folder()));
        QCOMPARE(entry.switchOn(), QString()); // the folder is made
        QVERIFY(entry.isOn());
        QCOMPARE(QDir(AutostartEntry::folder()).entryList(QDir::Files | QDir::Hidden),
                 QStringList{QStringLiteral("tidemarsh.desktop")}); // no temporary file left
        const auto keys = desktopentry::readGroup(testsupport::ReadAll(entryPath()));
        QCOMPARE(keys.value(QStringLiteral("Exec")),
                 QStringLiteral("\"/opt/Tide marsh/tidemarsh\" --hidden"));
        QCOMPARE(keys.value(QStringLiteral("TryExec")), kOurs);
        QCOMPARE(keys.value(QStringLiteral("Icon")), QStringLiteral("tidemarsh"));
        const auto valid = desktoptest::Validate(entryPath());
        QVERIFY2(valid.ok, qPrintable(valid.output));

        // Another copy's entry is not this one's to remove.
        const AutostartEntry other(QStringLiteral("/home/u/Tidemarsh/tidemarsh"));
        QCOMPARE(other.switchOff(), QString());
        QVERIFY(entry.isOn());

        QCOMPARE(entry.switchOff(), QString());
        QVERIFY(!QFileInfo::exists(entryPath()));
        QCOMPARE(entry.switchOff(), QString()); // already gone: nothing to do
    }

    // The entry as the desktop session starts it: GLib's launcher reads the
    // quoting back to the same program path, and --hidden arrives.
    void launchedAsTheDesktopDoes_data() {
        QTest::addColumn<QString>("folderName");
        QTest::newRow("plain") << QStringLiteral("Tidemarsh");
        QTest::newRow("awkward") << QStringLiteral("Tide marsh $HOME \"q\" `b` it's \\x");
    }
    void launchedAsTheDesktopDoes() {
        QFETCH(QString, folderName);
        const QString folder = m_home->filePath(folderName);
        const QString program = folder + QStringLiteral("/tidemarsh");
        const QString record = m_home->filePath(QStringLiteral("started"));
        QVERIFY(QDir().mkpath(folder));
        // Stands in for the program: writes down how it was started.
        QVERIFY(desktoptest::WriteFile(program, "#!/bin/sh\nprintf '%s\\n' \"$0\" \"$@\" > \"$RECORD.tmp\"\n"
                                                "mv \"$RECORD.tmp\" \"$RECORD\"\n"));
        QVERIFY(QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        const AutostartEntry entry(program);
        QCOMPARE(entry.switchOn(), QString());
        const auto valid = desktoptest::Validate(entryPath());
        QVERIFY2(valid.ok, qPrintable(valid.output));

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("RECORD"), record);
        const auto launched = desktoptest::Launch(entryPath(), env);
        QVERIFY2(launched.ok, qPrintable(launched.output));
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(record), 10000);
        QFile file(record);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(file.readAll()), program + QStringLiteral("\n--hidden\n"));
    }
};

QTEST_GUILESS_MAIN(AutostartEntryTest)
#include "autostartentrytest.moc"
