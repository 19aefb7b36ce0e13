// The program as its own process on an X server with a window manager
// (openbox) and a tray host (trayer), as on a desktop: a tray that goes away
// must not take the only way back to the window with it, and a web page that
// nothing can open is told.
#include "shelltestsupport.h"
#include "store/accountstore.h"
#include "store/extrasettings.h"
#include "support/xdotool.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QSettings>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <optional>

using shelltest::In;

using xdotool::KeysTo;
using xdotool::VisibleWindows;

class ShellTrayProcessTest : public QObject {
    Q_OBJECT

    QProcess m_trayer;
    std::unique_ptr<QTemporaryDir> m_dir;
    QProcess m_program;

    // A program folder with its own copy of the executable and one account (no wizard).
    bool install() {
        m_dir = std::make_unique<QTemporaryDir>();
        const QString target = In(m_dir->path(), "tidemarsh");
        AccountRecord account;
        account.AccountName = QStringLiteral("Home");
        AccountStore(m_dir->path()).AppendAccount(account);
        return QFile::copy(qEnvironmentVariable("TIDEMARSH_EXE"), target) &&
               QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    // Started, and its main window on screen; that window's id.
    QString launch(const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment()) {
        m_program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_program.setProcessEnvironment(env);
        m_program.start(In(m_dir->path(), "tidemarsh"), {});
        QStringList windows;
        if (m_program.waitForStarted())
            (void)QTest::qWaitFor(
                [&] {
                    windows = VisibleWindows(m_program.processId(), QStringLiteral("QUILLORE Tidemarsh"));
                    return !windows.isEmpty();
                },
                60000);
        return windows.value(0);
    }
    bool terminate() {
        ::kill(static_cast<pid_t>(m_program.processId()), SIGTERM);
        return m_program.waitForFinished(20000) && m_program.exitStatus() == QProcess::NormalExit &&
               m_program.exitCode() == 0;
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY2(QFileInfo(qEnvironmentVariable("TIDEMARSH_EXE")).isExecutable(), "TIDEMARSH_EXE not set");
    }
    void cleanup() {
        if (m_program.state() != QProcess::NotRunning) {
            m_program.kill();
            m_program.waitForFinished();
        }
        if (m_trayer.state() != QProcess::NotRunning) {
            m_trayer.kill();
            m_trayer.waitForFinished();
        }
        m_dir.reset();
    }

    void windowComesBackWhenTheTrayGoes() {
        m_trayer.start(QStringLiteral("trayer"), {QStringLiteral("--edge"), QStringLiteral("top"),
                                                  QStringLiteral("--align"), QStringLiteral("right")});
        QVERIFY2(m_trayer.waitForStarted(), "trayer is not installed");
        QTRY_VERIFY_WITH_TIMEOUT(QSystemTrayIcon::isSystemTrayAvailable(), 10000);
        QVERIFY(install());
        const QString window = launch();
        QVERIFY2(!window.isEmpty(), "the main window did not come up");

        // The close box, by the window manager's own key: to the tray, told once.
        // Sent again while the window stays: on a loaded machine the first may come before
        // the window manager has taken the window in.
        const auto hidden = [&] {
            return VisibleWindows(m_program.processId(), QStringLiteral("QUILLORE Tidemarsh")).isEmpty();
        };
        int attempts = 0;
        for (; attempts < 4 && !hidden(); ++attempts) {
            QVERIFY(KeysTo(window, {QStringLiteral("alt+F4")}));
            (void)QTest::qWaitFor(hidden, 5000);
        }
        const ExtraSettings extra(m_dir->path());
        QVERIFY2(hidden(),
                 qPrintable(QStringLiteral("the close box did not hide the window (%1 tries; told: %2)")
                                .arg(attempts)
                                .arg(QFileInfo::exists(extra.filePath()))));
        if (attempts > 1)
            qInfo("the close box needed %d tries", attempts);
        QVERIFY(QTest::qWaitFor(
            [&] { return extra.value(QStringLiteral("Shell"), QStringLiteral("TrayHintShown")).toBool(); },
            10000));
        QCOMPARE(m_program.state(), QProcess::Running);

        // The panel crashes.
        m_trayer.kill();
        QElapsedTimer back;
        back.start();
        QVERIFY(m_trayer.waitForFinished(5000));
        QVERIFY2(QTest::qWaitFor(
                     [&] {
                         return !VisibleWindows(m_program.processId(), QStringLiteral("QUILLORE Tidemarsh"))
                                     .isEmpty();
                     },
                     15000),
                 "the window stayed hidden with no tray to bring it back");
        qInfo("the window was back %lld ms after the tray host ended", back.elapsed());
        QVERIFY(terminate());
        // What was told is remembered beside the record files, not in them.
        QCOMPARE(QFileInfo(In(m_dir->path(), "Config.dat")).size(), 18);
        QSettings ini(In(m_dir->path(), "Tidemarsh.ini"), QSettings::IniFormat);
        // A new folder also gets the watch's settings.
        QCOMPARE(ini.childGroups(),
                 (QStringList{QStringLiteral("Layout"), QStringLiteral("Shell"), QStringLiteral("Watch")}));
        QCOMPARE(ini.value(QStringLiteral("Shell/TrayHintShown")).toBool(), true);
    }

    // No browser to be found: QUILLORE Online says so instead of doing nothing.
    void pageNothingCanOpenIsTold() {
        QVERIFY(install());
        QTemporaryDir empty;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("PATH"), empty.path());
        env.remove(QStringLiteral("BROWSER"));
        env.remove(QStringLiteral("DEFAULT_BROWSER"));
        const QString window = launch(env);
        QVERIFY2(!window.isEmpty(), "the main window did not come up");
        QVERIFY(KeysTo(window, {QStringLiteral("alt+h"), QStringLiteral("o")}));
        QStringList shown;
        QVERIFY2(QTest::qWaitFor(
                     [&] {
                         shown = VisibleWindows(m_program.processId());
                         return shown.size() >= 2;
                     },
                     15000),
                 "no message came up");
        shown.removeAll(window);
        QVERIFY(KeysTo(shown.first(), {QStringLiteral("Return")}));
        QVERIFY(QTest::qWaitFor([&] { return VisibleWindows(m_program.processId()).size() == 1; }, 15000));
        QVERIFY(terminate());
    }
};

QTEST_MAIN(ShellTrayProcessTest)
#include "shelltrayprocesstest.moc"
