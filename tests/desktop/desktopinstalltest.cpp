// The run command's install step: the build installed by CMake into a program
// folder, then run.sh's install_desktop_entry into a temporary home. The menu
// entry passes the desktop's validator and names the installed program, the
// hicolor icons are in place, and the entry started as a desktop starts it
// does start that program.
#include "desktop/desktopentry.h"
#include "desktoptestsupport.h"
#include "support/testdata.h"

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

namespace {

const QList<int> kSizes{16, 22, 24, 32, 48, 64, 128, 256};

QString SourceDir() {
    return qEnvironmentVariable("TIDEMARSH_SOURCE_DIR");
}

struct Run {
    int exitCode = -1;
    QString output;
};

Run RunTool(const QString& program, const QStringList& arguments, const QProcessEnvironment& env) {
    QProcess tool;
    tool.setProcessEnvironment(env);
    tool.setProcessChannelMode(QProcess::MergedChannels);
    tool.start(program, arguments);
    if (!tool.waitForFinished(120000)) {
        tool.kill();
        tool.waitForFinished();
        return {-1, QStringLiteral("%1 did not end").arg(program)};
    }
    return {tool.exitStatus() == QProcess::NormalExit ? tool.exitCode() : -1,
            QString::fromUtf8(tool.readAll())};
}

// run.sh sourced, so only its install step runs (not the packages, the build or the start).
Run InstallDesktopEntry(const QString& prefix, const QProcessEnvironment& env) {
    return RunTool(QStringLiteral("bash"),
                   {QStringLiteral("-c"), QStringLiteral("source \"$0\" && install_desktop_entry \"$1\""),
                    SourceDir() + QStringLiteral("/scripts/run.sh"), prefix},
                   env);
}

qint64 LockOwner(const QString& folder) {
    return testsupport::ReadAll(folder + QStringLiteral("/Tidemarsh.lock")).split('\n').value(0).toLongLong();
}

} // namespace

class DesktopInstallTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_prefix; // the program folder, with characters an entry must quote
    QString home() const { return m_dir.filePath(QStringLiteral("home")); }

    QProcessEnvironment env(const QString& dataHome) const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), home());
        if (dataHome == u"-")
            env.remove(QStringLiteral("XDG_DATA_HOME"));
        else
            env.insert(QStringLiteral("XDG_DATA_HOME"), dataHome);
        return env;
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        m_prefix = m_dir.filePath(QStringLiteral("Tide marsh $HOME \"q\" it's"));
        const Run install =
            RunTool(QStringLiteral(TIDEMARSH_CMAKE),
                    {QStringLiteral("--install"), qEnvironmentVariable("TIDEMARSH_BINARY_DIR"),
                     QStringLiteral("--prefix"), m_prefix},
                    QProcessEnvironment::systemEnvironment());
        QVERIFY2(install.exitCode == 0, qPrintable(install.output));
        QVERIFY(QFileInfo(m_prefix + QStringLiteral("/tidemarsh")).isExecutable());
    }
    void cleanup() { QDir(home()).removeRecursively(); }

    void entryAndIcons_data() {
        QTest::addColumn<QString>("dataHome"); // the variable's value, "-" for unset
        QTest::addColumn<QString>("folder");   // where the files go, below the home
        QTest::newRow("XDG_DATA_HOME") << QStringLiteral("~/data") << QStringLiteral("data");
        QTest::newRow("unset") << QStringLiteral("-") << QStringLiteral(".local/share");
        QTest::newRow("relative does not count") << QStringLiteral("data") << QStringLiteral(".local/share");
    }
    void entryAndIcons() {
        QFETCH(QString, dataHome);
        QFETCH(QString, folder);
        dataHome.replace(QStringLiteral("~"), home());
        const QString data = home() + u'/' + folder;
        // An icon another program installed stays.
        const QString foreign = data + QStringLiteral("/icons/hicolor/48x48/apps/other.png");
        QVERIFY(QDir().mkpath(QFileInfo(foreign).path()));
        QVERIFY(desktoptest::WriteFile(foreign, "other"));

        const Run run = InstallDesktopEntry(m_prefix, env(dataHome));
        QVERIFY2(run.exitCode == 0, qPrintable(run.output));
        const QString entry = data + QStringLiteral("/applications/tidemarsh.desktop");
        const auto valid = desktoptest::Validate(entry);
        QVERIFY2(valid.ok, qPrintable(valid.output));
        const auto keys = desktopentry::readGroup(testsupport::ReadAll(entry));
        QCOMPARE(desktopentry::execProgram(keys.value(QStringLiteral("Exec"))),
                 std::optional<QString>(m_prefix + QStringLiteral("/tidemarsh")));
        QCOMPARE(desktopentry::unescapeValue(keys.value(QStringLiteral("TryExec"))),
                 m_prefix + QStringLiteral("/tidemarsh"));
        QCOMPARE(keys.value(QStringLiteral("Icon")), QStringLiteral("tidemarsh"));
        QVERIFY(!QFileInfo::exists(entry + QStringLiteral(".tmp")));

        const QString icons = data + QStringLiteral("/icons/hicolor");
        QCOMPARE(testsupport::ReadAll(icons + QStringLiteral("/scalable/apps/tidemarsh.svg")),
                 testsupport::ReadAll(SourceDir() + QStringLiteral("/resources/icons/MainIconSmall.svg")));
        for (const int size : kSizes) {
            const QString path = QStringLiteral("%1/%2x%2/apps/tidemarsh.png").arg(icons).arg(size);
            const QImage image(path);
            QVERIFY2(image.size() == QSize(size, size), qPrintable(path));
            // Drawn, not blank: the middle is opaque, the rounded corner clear.
            QCOMPARE(qAlpha(image.pixel(size / 2, size / 2)), 255);
            QCOMPARE(qAlpha(image.pixel(0, 0)), 0);
        }
        QCOMPARE(testsupport::ReadAll(foreign), QByteArray("other"));
    }

    // The entry started the way a desktop's menu starts it (GLib's launcher)
    // starts the installed program from its folder.
    void entryStartsTheInstalledProgram() {
        const QString data = home() + QStringLiteral("/share");
        QProcessEnvironment environment = env(data);
        QVERIFY(InstallDesktopEntry(m_prefix, environment).exitCode == 0);
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        const auto launched =
            desktoptest::Launch(data + QStringLiteral("/applications/tidemarsh.desktop"), environment);
        QVERIFY2(launched.ok, qPrintable(launched.output));
        // Running from its program folder: the lock and the account file are made there.
        QVERIFY(QTest::qWaitFor(
            [&] {
                return LockOwner(m_prefix) > 0 && QFileInfo::exists(m_prefix + QStringLiteral("/Acc.dat"));
            },
            30000));
        const qint64 pid = LockOwner(m_prefix);
        QVERIFY(::kill(static_cast<pid_t>(pid), SIGTERM) == 0);
        QVERIFY(QTest::qWaitFor(
            [&] { return !QFileInfo::exists(m_prefix + QStringLiteral("/Tidemarsh.lock")); }, 20000));
    }
};

QTEST_MAIN(DesktopInstallTest)
#include "desktopinstalltest.moc"
