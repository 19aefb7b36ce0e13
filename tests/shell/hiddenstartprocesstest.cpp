// The log-in start as its own process on an X server with a window manager:
// --hidden puts the window into the tray when there is one and minimises it
// when there is none, never out of reach; with no account yet the window shows
// for the wizard. And the Options box, ticked with the keyboard in the running
// program, writes an entry that the desktop's launcher starts into the tray.
#include "desktop/autostartentry.h"
#include "desktop/desktoptestsupport.h"
#include "shelltestsupport.h"
#include "store/accountstore.h"
#include "support/xdotool.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <optional>

using shelltest::In;

namespace {

const QString kMainTitle = QStringLiteral("QUILLORE Tidemarsh");

using xdotool::Tool;
using xdotool::Windows;

bool Shown(qint64 pid, const QString& title) {
    return !Windows(pid, title, true).isEmpty();
}

// The window manager's record of a window: "Iconic" when minimised.
QString WmState(const QString& window) {
    const QString state =
        Tool(QStringLiteral("xprop"), {QStringLiteral("-id"), window, QStringLiteral("WM_STATE")})
            .value_or(QString());
    return state.section(QStringLiteral("window state: "), 1).section(QLatin1Char('\n'), 0, 0).trimmed();
}

// The tray icon: the process's small window on screen (the tray host holds it).
QString TrayIcon(qint64 pid) {
    for (const QString& window : Windows(pid, {}, true)) {
        const QString shell =
            xdotool::Run({QStringLiteral("getwindowgeometry"), QStringLiteral("--shell"), window})
                .value_or(QString());
        const int width = shell.section(QStringLiteral("WIDTH="), 1).section(QLatin1Char('\n'), 0, 0).toInt();
        if (width > 0 && width <= 64)
            return window;
    }
    return {};
}

// A slow click, as a hand makes it: a tray host may miss one that is all at once.
bool Click(const QString& window) {
    return xdotool::Run({QStringLiteral("mousemove"), QStringLiteral("--sync"), QStringLiteral("--window"),
                         window, QStringLiteral("8"), QStringLiteral("8")})
               .has_value() &&
           xdotool::Run({QStringLiteral("mousedown"), QStringLiteral("1")}).has_value() &&
           (QTest::qWait(200), xdotool::Run({QStringLiteral("mouseup"), QStringLiteral("1")}).has_value());
}

bool KeysTo(const QString& window, const QStringList& keys) {
    return xdotool::Run({QStringLiteral("windowactivate"), QStringLiteral("--sync"), window}).has_value() &&
           xdotool::Run(QStringList{QStringLiteral("key"), QStringLiteral("--clearmodifiers"),
                                    QStringLiteral("--delay"), QStringLiteral("100")} +
                        keys)
               .has_value();
}

qint64 LockOwner(const QString& folder) {
    return shelltest::ReadAll(In(folder, "Tidemarsh.lock")).split('\n').value(0).toLongLong();
}

bool Terminate(qint64 pid, const QString& folder) {
    return ::kill(static_cast<pid_t>(pid), SIGTERM) == 0 &&
           QTest::qWaitFor([&] { return !QFileInfo::exists(In(folder, "Tidemarsh.lock")); }, 20000);
}

} // namespace

class HiddenStartProcessTest : public QObject {
    Q_OBJECT

    QProcess m_trayer;
    std::unique_ptr<QTemporaryDir> m_dir;
    QProcess m_program;
    QString program() const { return In(m_dir->path(), "tidemarsh"); }

    // A program folder with its own copy of the executable, with an account or without.
    bool install(bool withAccount) {
        m_dir = std::make_unique<QTemporaryDir>();
        if (withAccount) {
            AccountRecord account;
            account.AccountName = QStringLiteral("Home");
            AccountStore(m_dir->path()).AppendAccount(account);
        }
        return QFile::copy(qEnvironmentVariable("TIDEMARSH_EXE"), program()) &&
               QFile::setPermissions(program(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    // Started and past its start-up: it holds the lock and has a window, shown or not.
    bool launch(const QStringList& arguments,
                const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment()) {
        m_program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_program.setProcessEnvironment(env);
        m_program.start(program(), arguments);
        return m_program.waitForStarted() &&
               QTest::qWaitFor(
                   [&] {
                       return LockOwner(m_dir->path()) == m_program.processId() &&
                              !Windows(m_program.processId(), {}, false).isEmpty();
                   },
                   60000);
    }
    bool startTrayHost() {
        m_trayer.start(QStringLiteral("trayer"), {QStringLiteral("--edge"), QStringLiteral("top"),
                                                  QStringLiteral("--align"), QStringLiteral("right")});
        return m_trayer.waitForStarted() &&
               QTest::qWaitFor([] { return QSystemTrayIcon::isSystemTrayAvailable(); }, 10000);
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
        for (QProcess* process : {&m_program, &m_trayer}) {
            if (process->state() != QProcess::NotRunning) {
                process->kill();
                process->waitForFinished();
            }
        }
        m_dir.reset();
    }

    // A desktop without a tray (first: no tray host has run yet): minimised, in
    // the window manager's list, and back when activated.
    void minimisedWithoutATray() {
        QVERIFY(!QSystemTrayIcon::isSystemTrayAvailable());
        QVERIFY(install(true));
        QVERIFY(launch({QStringLiteral("--hidden")}));
        const qint64 pid = m_program.processId();
        QStringList main;
        QVERIFY(QTest::qWaitFor([&] { return !(main = Windows(pid, kMainTitle, false)).isEmpty(); }, 20000));
        QTRY_COMPARE_WITH_TIMEOUT(WmState(main.first()), QStringLiteral("Iconic"), 10000);
        QTest::qWait(1000); // and it stays so
        QCOMPARE(WmState(main.first()), QStringLiteral("Iconic"));
        QVERIFY(!Shown(pid, kMainTitle));

        QVERIFY(xdotool::Run({QStringLiteral("windowactivate"), QStringLiteral("--sync"), main.first()}));
        QTRY_VERIFY_WITH_TIMEOUT(Shown(pid, kMainTitle), 10000);
        QCOMPARE(WmState(main.first()), QStringLiteral("Normal"));
        QVERIFY(terminate());
    }

    // With a tray host: only the icon, no window; a second hidden start changes
    // nothing; the icon brings the window back.
    void inTheTrayWithATrayHost() {
        QVERIFY2(startTrayHost(), "no tray host (is trayer installed?)");
        QVERIFY(install(true));
        QVERIFY(launch({QStringLiteral("--hidden")}));
        const qint64 pid = m_program.processId();
        QString icon;
        QVERIFY2(QTest::qWaitFor([&] { return !(icon = TrayIcon(pid)).isEmpty(); }, 20000), "no tray icon");
        QTest::qWait(1000);
        QVERIFY(!Shown(pid, kMainTitle));

        QProcess second;
        second.start(program(), {QStringLiteral("--hidden")});
        QVERIFY(second.waitForFinished(20000));
        QCOMPARE(second.exitCode(), 0);
        QCOMPARE(LockOwner(m_dir->path()), pid);
        QVERIFY(!Shown(pid, kMainTitle));

        QElapsedTimer back;
        back.start();
        QVERIFY(Click(icon));
        QVERIFY2(QTest::qWaitFor([&] { return Shown(pid, kMainTitle); }, 10000),
                 "the tray icon did not bring the window back");
        qInfo("the window was back %lld ms after the click", back.elapsed());
        QVERIFY(terminate());
    }

    // Nothing to check yet: the window and the new account wizard show, tray or not.
    void noAccountShowsTheWizard() {
        QVERIFY(startTrayHost());
        QVERIFY(install(false));
        QVERIFY(launch({QStringLiteral("--hidden")}));
        const qint64 pid = m_program.processId();
        QTRY_VERIFY_WITH_TIMEOUT(Shown(pid, QStringLiteral("New Account Wizard")), 20000);
        QVERIFY(Shown(pid, kMainTitle));
        QVERIFY(terminate());
    }

    // The whole way: the box ticked with the keyboard in the running program
    // writes the entry; the desktop's launcher starts that entry into the tray.
    void optionsEntryStartsItInTheTray() {
        QVERIFY(startTrayHost());
        QVERIFY(install(true));
        QTemporaryDir config;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path());
        QVERIFY(launch({}, env));
        const qint64 pid = m_program.processId();
        QStringList main;
        QVERIFY(QTest::qWaitFor([&] { return !(main = Windows(pid, kMainTitle, true)).isEmpty(); }, 20000));
        QVERIFY(KeysTo(main.first(), {QStringLiteral("alt+f"), QStringLiteral("o")}));
        QStringList dialog;
        QVERIFY2(
            QTest::qWaitFor(
                [&] { return !(dialog = Windows(pid, QStringLiteral("Default Options"), true)).isEmpty(); },
                10000),
            "Options did not open");
        // From OK (the focus at opening): Help, the theme colours, the log-in start.
        QVERIFY(KeysTo(dialog.first(), {QStringLiteral("Tab"), QStringLiteral("Tab"), QStringLiteral("Tab"),
                                        QStringLiteral("space"), QStringLiteral("Return")}));
        const QString entry = config.path() + QStringLiteral("/autostart/tidemarsh.desktop");
        QVERIFY2(QTest::qWaitFor([&] { return QFileInfo::exists(entry); }, 10000), "no autostart entry");
        QVERIFY(QTest::qWaitFor([&] { return !Shown(pid, QStringLiteral("Default Options")); }, 10000));
        const auto valid = desktoptest::Validate(entry);
        QVERIFY2(valid.ok, qPrintable(valid.output));
        QVERIFY(terminate());

        // The log-in: the session starts the entry.
        const auto launched = desktoptest::Launch(entry, env);
        QVERIFY2(launched.ok, qPrintable(launched.output));
        qint64 started = 0;
        QVERIFY(QTest::qWaitFor(
            [&] {
                started = LockOwner(m_dir->path());
                return started > 0 && !TrayIcon(started).isEmpty();
            },
            30000));
        QTest::qWait(1000);
        QVERIFY(!Shown(started, kMainTitle));
        QVERIFY(Terminate(started, m_dir->path()));
    }
};

QTEST_MAIN(HiddenStartProcessTest)
#include "hiddenstartprocesstest.moc"
