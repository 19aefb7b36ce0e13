// The program as its own process, ended while its POP3 work runs: by the
// system (SIGTERM, as at the end of a desktop session) and by the user's Exit.
// Nothing may be deleted, the settings must be saved, and the process must end
// through its normal path with status 0.
#include "../pop3/scriptedserver.h"
#include "shelltestsupport.h"
#include "store/accountstore.h"
#include "support/xdotool.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <memory>

using shelltest::In;

namespace {
QByteArray Header(int n) {
    return "From: s" + QByteArray::number(n) + "@example.org\r\nSubject: message " + QByteArray::number(n) +
           "\r\n";
}
} // namespace

class ExitProcessTest : public QObject {
    Q_OBJECT

    std::unique_ptr<ScriptedPop3Server> m_server;
    std::unique_ptr<QTemporaryDir> m_dir;
    QProcess m_program;
    int m_tops = 0;
    int m_deles = 0;
    bool m_quit = false;

    // A program folder with its own copy of the executable, one account on the
    // scripted server, and no prompts in the way.
    bool install(int messages) {
        m_server =
            std::make_unique<ScriptedPop3Server>(ScriptedPop3Server::Tls::None, QStringLiteral("server"));
        for (int n = 1; n <= messages; ++n)
            m_server->headers.append(Header(n));
        m_dir = std::make_unique<QTemporaryDir>();
        const QString target = In(m_dir->path(), "tidemarsh");
        AccountRecord account;
        account.AccountName = QStringLiteral("Home");
        account.LoginName = QStringLiteral("home");
        account.LoginPassword = QString::fromLatin1(m_server->password);
        account.ServerAddress = QStringLiteral("pop3://127.0.0.1:%1").arg(m_server->serverPort());
        AccountStore(m_dir->path()).AppendAccount(account);
        SettingsRecord settings;
        settings.CheckDonePromptOff = 1;
        settings.DeletePromptOff = 1;
        return shelltest::WriteConfig(m_dir->path(), settings) &&
               QFile::copy(qEnvironmentVariable("TIDEMARSH_EXE"), target) &&
               QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    // Started, and its main window on screen; that window's id.
    QString launch() {
        m_program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_program.start(In(m_dir->path(), "tidemarsh"), {});
        QStringList windows;
        if (m_program.waitForStarted())
            (void)QTest::qWaitFor(
                [&] {
                    windows =
                        xdotool::VisibleWindows(m_program.processId(), QStringLiteral("QUILLORE Tidemarsh"));
                    return !windows.isEmpty();
                },
                60000);
        return windows.value(0);
    }
    // Counts what the server is asked; from the stall-th of `stallOn`, it answers nothing more.
    void countCommands(const QByteArray& stallOn, int stall) {
        m_server->hook = [this, stallOn, stall](ScriptedPop3Server::Connection&, const QByteArray& command,
                                                int) {
            int& count = command.startsWith("TOP") ? m_tops : m_deles;
            if (command.startsWith("TOP") || command.startsWith("DELE"))
                ++count;
            m_quit = m_quit || command == "QUIT";
            if (command.startsWith(stallOn) && count >= stall)
                return ScriptedPop3Server::Action::Handled;
            return ScriptedPop3Server::Action::Default;
        };
    }
    qint64 configWritten() const {
        return QFileInfo(In(m_dir->path(), "Config.dat")).lastModified().toMSecsSinceEpoch();
    }
    // Ended by how, the status, and the settings written at the end.
    void endAndCheck(const QString& how, const QString& window) {
        const qint64 configBefore = configWritten();
        QTest::qWait(20); // a later write shows in the time stamp
        QElapsedTimer ending;
        ending.start();
        if (how == QLatin1String("SIGTERM"))
            ::kill(static_cast<pid_t>(m_program.processId()), SIGTERM);
        else // File > Exit, by its keys; the menu bar stays usable while the program works
            QVERIFY(xdotool::KeysTo(window, {QStringLiteral("alt+f"), QStringLiteral("x")}));
        QVERIFY2(QTest::qWaitFor([&] { return m_program.state() == QProcess::NotRunning; }, 20000),
                 "the program did not end");
        qInfo("%s: ended %lld ms after the request", qPrintable(how), ending.elapsed());
        QCOMPARE(m_program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(m_program.exitCode(), 0);
        QVERIFY2(configWritten() > configBefore, "Config.dat was not saved at the end");
        QTest::qWait(200); // the server sees the connection go
        QVERIFY2(!m_quit, "QUIT was sent: marked messages would have been deleted");
        QVERIFY(m_server->deleted.isEmpty());
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
        m_server.reset();
        m_dir.reset();
        m_tops = m_deles = 0;
        m_quit = false;
    }

    // With nothing running the end is immediate; the figure is printed, the bound only catches a hang.
    void exitWithNothingRunning() {
        QVERIFY(install(3));
        countCommands("NONE", 1);
        const QString window = launch();
        QVERIFY2(!window.isEmpty(), "the main window did not come up");
        QTest::qWait(500); // past the first activation
        endAndCheck(QStringLiteral("Exit"), window);
    }

    void endedDuringTheDownload_data() {
        QTest::addColumn<QString>("how");
        QTest::newRow("SIGTERM") << QStringLiteral("SIGTERM");
        QTest::newRow("File > Exit") << QStringLiteral("Exit");
    }
    void endedDuringTheDownload() {
        QFETCH(QString, how);
        QVERIFY(install(2000));
        countCommands("TOP", 300); // the server goes quiet in the middle of the headers
        const QString window = launch();
        QVERIFY2(!window.isEmpty(), "the main window did not come up");
        QVERIFY(xdotool::KeysTo(window, {QStringLiteral("F5")}));
        QVERIFY2(QTest::qWaitFor([&] { return m_tops >= 300; }, 30000), "the download did not start");
        endAndCheck(how, window);
        QCOMPARE(m_deles, 0);
    }

    void endedDuringTheDeletion_data() {
        QTest::addColumn<QString>("how");
        QTest::newRow("SIGTERM") << QStringLiteral("SIGTERM");
        QTest::newRow("File > Exit") << QStringLiteral("Exit");
    }
    void endedDuringTheDeletion() {
        QFETCH(QString, how);
        QVERIFY(install(6));
        countCommands("DELE", 3); // two marks answered, then nothing
        const QString window = launch();
        QVERIFY2(!window.isEmpty(), "the main window did not come up");
        QVERIFY(xdotool::KeysTo(window, {QStringLiteral("F5")}));
        QVERIFY2(QTest::qWaitFor([&] { return m_tops == 6; }, 30000), "the check did not list the mailbox");
        QTest::qWait(300); // the list is filled once the last header is in
        // Actions > Delete Unchecked: no tick, so every message is to go.
        QVERIFY(xdotool::KeysTo(window, {QStringLiteral("alt+a"), QStringLiteral("d")}));
        QVERIFY2(QTest::qWaitFor([&] { return m_deles >= 3; }, 30000), "the deletion did not start");
        endAndCheck(how, window);
    }
};

QTEST_MAIN(ExitProcessTest)
#include "exitprocesstest.moc"
