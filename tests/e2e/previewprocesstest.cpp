// The real program as its own process on a private X server, against the
// fixture's Dovecot, driven by xdotool and read through the accessibility bus
// as a screen reader reads it: the preview of the selected message, F8 to hide
// the pane (nothing is fetched while it is hidden) and to show it again, and the
// pane's state kept for the next run.
#include "store/accountstore.h"
#include "support/mailserver/testmailserver.h"
#include "support/programfolder.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <optional>

namespace {

std::optional<QString> Run(const QString& program, const QStringList& arguments, int timeoutMs = 20000) {
    QProcess tool;
    tool.start(program, arguments);
    if (!tool.waitForFinished(timeoutMs)) {
        tool.kill();
        tool.waitForFinished();
        return std::nullopt;
    }
    if (tool.exitStatus() != QProcess::NormalExit || tool.exitCode() != 0)
        return std::nullopt;
    return QString::fromUtf8(tool.readAllStandardOutput());
}

std::optional<QString> Xdotool(const QStringList& arguments) {
    const auto out = Run(QStringLiteral("xdotool"), arguments);
    return out ? std::optional<QString>(out->trimmed()) : std::nullopt;
}

QString WaitForWindow(qint64 pid, const QString& title) {
    QString id;
    (void)QTest::qWaitFor(
        [&] {
            id = Xdotool({QStringLiteral("search"), QStringLiteral("--all"), QStringLiteral("--onlyvisible"),
                          QStringLiteral("--pid"), QString::number(pid), QStringLiteral("--name"),
                          QLatin1Char('^') + QRegularExpression::escape(title) + QLatin1Char('$')})
                     .value_or(QString())
                     .section(QLatin1Char('\n'), 0, 0);
            return !id.isEmpty();
        },
        90000);
    return id;
}

bool Focus(const QString& window) {
    return !window.isEmpty() &&
           QTest::qWaitFor(
               [&] {
                   return Xdotool({QStringLiteral("windowfocus"), QStringLiteral("--sync"), window})
                       .has_value();
               },
               20000);
}

bool Key(const QString& key) {
    return Xdotool({QStringLiteral("key"), key}).has_value();
}

// What readaccessible.py says of a control.
QString Read(const QStringList& arguments) {
    return Run(QStringLiteral("/usr/bin/python3"),
               QStringList{QStringLiteral(TIDEMARSH_READ_ACCESSIBLE)} + arguments)
        .value_or(QString())
        .trimmed();
}

// The preview as the accessibility bus reads it: "showing" or "hidden", then the text.
QString PaneAsRead() {
    return Read({QStringLiteral("Message preview")});
}

bool WaitForPane(const QString& expected, int timeoutMs = 30000) {
    return QTest::qWaitFor([&] { return PaneAsRead() == expected; }, timeoutMs);
}

bool WaitForPaneGone() {
    return QTest::qWaitFor(
        [] {
            const QString read = PaneAsRead();
            return read.startsWith(QLatin1String("hidden")) || read == QLatin1String("absent");
        },
        10000);
}

} // namespace

class PreviewProcessTest : public QObject {
    Q_OBJECT
    std::unique_ptr<TestMailServer> m_server;

private Q_SLOTS:
    void initTestCase() {
        m_server = std::make_unique<TestMailServer>();
        TIDEMARSH_REQUIRE_MAILSERVER(*m_server);
        if (!Run(QStringLiteral("/usr/bin/python3"),
                 {QStringLiteral("-c"), QStringLiteral("import pyatspi")}))
            QSKIP("python3-pyatspi is needed to read the pane as a screen reader does");
    }

    void previewAsAScreenReaderReadsIt() {
        TestMailServer::MailboxOptions options;
        options.recordTraffic = true;
        TestMailbox box = m_server->createMailbox(options);
        QVERIFY2(box.isValid(), qPrintable(box.errorString()));
        QVERIFY(box.addMessages(
            {"From: Ann <ann@example.org>\r\nSubject: One\r\n\r\nFirst message, plain.\r\n",
             "From: Bob <bob@example.org>\r\nSubject: Two\r\nContent-Type: text/plain; charset=utf-8\r\n"
             "Content-Transfer-Encoding: quoted-printable\r\n\r\nZweite Nachricht, gr=C3=BC=C3=9Fend.\r\n",
             "From: Cy <cy@example.org>\r\nSubject: Three\r\n\r\nPassed over while hidden.\r\n",
             "From: Di <di@example.org>\r\nSubject: Four\r\nContent-Type: text/html\r\n\r\n"
             "<p>Fourth, <b>from HTML</b>.</p>\r\n"}));

        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString folder = dir.path() + QLatin1Char('/');
        const QString exe = folder + QStringLiteral("tidemarsh");
        QVERIFY(testsupport::MakeProgramFolder(folder, m_server->caFile()));
        AccountRecord account;
        account.AccountName = QStringLiteral("Work");
        account.LoginName = box.user();
        account.LoginPassword = box.password();
        account.ServerAddress = m_server->host() + QLatin1Char(':') + QString::number(m_server->pop3Port());
        AccountStore(folder).AppendAccount(account);

        QProcess program;
        program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        program.start(exe, {});
        QVERIFY(program.waitForStarted());
        const qint64 pid = program.processId();
        const QString main = WaitForWindow(pid, QStringLiteral("QUILLORE Tidemarsh"));
        QVERIFY2(!main.isEmpty(), "the main window did not come up");

        // Check Mail is on once the first activation has counted the accounts.
        QVERIFY(QTest::qWaitFor(
            [] {
                return Read({QStringLiteral("--state"), QStringLiteral("Check Mail")}) ==
                       QLatin1String("enabled");
            },
            30000));
        QVERIFY(Focus(main));
        QVERIFY(Key(QStringLiteral("F5")));
        QVERIFY(Focus(WaitForWindow(pid, QStringLiteral("Check Complete (Work)"))));
        QVERIFY(Key(QStringLiteral("Return")));
        QVERIFY(Focus(main));
        // The first row is selected after the check; its preview follows.
        QVERIFY2(WaitForPane(QStringLiteral("showing\nFirst message, plain.")), qPrintable(PaneAsRead()));

        QElapsedTimer sinceKey;
        sinceKey.start();
        QVERIFY(Key(QStringLiteral("Down")));
        QVERIFY2(WaitForPane(QString::fromUtf8("showing\nZweite Nachricht, grüßend.")),
                 qPrintable(PaneAsRead()));
        qInfo("Down to the preview read over the accessibility bus: %lld ms (polled)", sinceKey.elapsed());

        // Hidden: the selection moves on and nothing is fetched; shown again, the selected one is.
        QVERIFY(Key(QStringLiteral("F8")));
        QVERIFY2(WaitForPaneGone(), qPrintable(PaneAsRead()));
        QVERIFY(Key(QStringLiteral("Down")));
        QTest::qWait(1000);
        QVERIFY(Key(QStringLiteral("Down")));
        QTest::qWait(1000);
        QVERIFY(Key(QStringLiteral("F8")));
        QVERIFY2(WaitForPane(QStringLiteral("showing\nFourth, from HTML.")), qPrintable(PaneAsRead()));
        // Hidden again, as the next run should find it.
        QVERIFY(Key(QStringLiteral("F8")));
        QVERIFY2(WaitForPaneGone(), qPrintable(PaneAsRead()));

        ::kill(static_cast<pid_t>(pid), SIGTERM);
        QVERIFY(program.waitForFinished(20000));
        QCOMPARE(program.exitCode(), 0);
        const QSettings ini(folder + QStringLiteral("Tidemarsh.ini"), QSettings::IniFormat);
        QCOMPARE(ini.value(QStringLiteral("Layout/PreviewPane")).toString(), QStringLiteral("false"));

        const auto session = box.waitForSessionEnd();
        QVERIFY2(session && session->commands, qPrintable(box.serverLog().join(QLatin1Char('\n'))));
        QStringList previews = session->commands->filter(QRegularExpression(QStringLiteral("^TOP \\d+ 40$")));
        QCOMPARE(previews, (QStringList{QStringLiteral("TOP 1 40"), QStringLiteral("TOP 2 40"),
                                        QStringLiteral("TOP 4 40")}));
        QVERIFY(session->fetchedNoBodies());
    }
};

QTEST_GUILESS_MAIN(PreviewProcessTest)
#include "previewprocesstest.moc"
