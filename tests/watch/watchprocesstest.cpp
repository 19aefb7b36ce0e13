// The watch as the user meets it: the real program as its own process, started
// for the log-in (--hidden), with two accounts on the fixture's Dovecot and a
// notification service the test registers on a private session bus of its own.
// Mail that arrives is told in one notification (count, senders, friends); a
// look with nothing new tells nothing; the server saw login, UIDL, TOP n 0 for
// the new messages only, and logout, never RETR or DELE. "Review" brings the
// window back and checks that account; while its review holds the session, the
// other account is still looked at, that one is not.
#include "store/accountstore.h"
#include "store/friendsstore.h"
#include "support/mailserver/testmailserver.h"
#include "support/programfolder.h"
#include "support/xdotool.h"
#include "watch/core/watchengine.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

namespace {

QByteArray Mail(const char* from, const char* subject, int size) {
    return QByteArray("From: ") + from + "\r\nTo: me@home.example\r\nSubject: " + subject +
           "\r\nDate: Tue, 8 Dec 2026 09:10:00 +0100\r\n\r\n" + QByteArray(size, 'x') + "\r\n";
}

} // namespace

// What the desktop's notification daemon would be, on the test's own bus.
class NotificationService : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct Shown {
        uint id = 0;
        uint replaces = 0;
        QString summary;
        QString body;
        QStringList actions;
    };
    QList<Shown> shown;

public Q_SLOTS:
    uint Notify(const QString& /*app*/, uint replaces, const QString& /*icon*/, const QString& summary,
                const QString& body, const QStringList& actions, const QVariantMap& /*hints*/,
                int /*timeout*/) {
        const uint id = replaces != 0 ? replaces : uint(shown.size() + 1);
        shown.append({id, replaces, summary, body, actions});
        return id;
    }
    void CloseNotification(uint id) { Q_EMIT NotificationClosed(id, 3); }
    QStringList GetCapabilities() { return {QStringLiteral("actions"), QStringLiteral("body")}; }

Q_SIGNALS:
    void ActionInvoked(uint id, const QString& action);
    void NotificationClosed(uint id, uint reason);
};

class WatchProcessTest : public QObject {
    Q_OBJECT
    std::unique_ptr<TestMailServer> m_server;
    QProcess m_bus;
    QString m_busAddress;

private Q_SLOTS:
    void initTestCase() {
        m_server = std::make_unique<TestMailServer>();
        TIDEMARSH_REQUIRE_MAILSERVER(*m_server);
        m_bus.start(QStringLiteral("dbus-daemon"), {QStringLiteral("--session"), QStringLiteral("--nofork"),
                                                    QStringLiteral("--print-address=1")});
        QVERIFY(m_bus.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(m_bus.canReadLine(), 10000);
        m_busAddress = QString::fromUtf8(m_bus.readLine()).trimmed();
        QVERIFY(!m_busAddress.isEmpty());
    }

    void cleanupTestCase() {
        QDBusConnection::disconnectFromBus(QStringLiteral("watchtest"));
        m_bus.kill();
        m_bus.waitForFinished();
    }

    void newMailIsToldAndReviewChecksThatAccount() {
        QList<TestMailbox> boxes = m_server->createMailboxes(2);
        QCOMPARE(boxes.size(), 2);
        TestMailbox& home = boxes[0];
        TestMailbox& work = boxes[1];
        QVERIFY(home.addMessages({Mail("Old Friend <old@example.org>", "Already here", 400),
                                  Mail("Someone <someone@example.org>", "Also here", 500)}));
        QVERIFY(work.addMessages({Mail("Boss <boss@work.example>", "Report", 300)}));

        QDBusConnection bus = QDBusConnection::connectToBus(m_busAddress, QStringLiteral("watchtest"));
        QVERIFY(bus.isConnected());
        NotificationService service;
        QVERIFY(bus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &service,
                                   QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals));
        QVERIFY(bus.registerService(QStringLiteral("org.freedesktop.Notifications")));

        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString folder = dir.path() + QLatin1Char('/');
        const QString exe = folder + QStringLiteral("tidemarsh");
        QVERIFY(testsupport::MakeProgramFolder(folder, m_server->caFile()));
        const QList<QPair<QString, TestMailbox*>> accounts{{QStringLiteral("Home"), &home},
                                                           {QStringLiteral("Work"), &work}};
        for (const auto& [name, box] : accounts) {
            AccountRecord account;
            account.AccountName = name;
            account.LoginName = box->user();
            account.LoginPassword = box->password();
            account.ServerAddress =
                m_server->host() + QLatin1Char(':') + QString::number(m_server->pop3Port());
            AccountStore(folder).AppendAccount(account);
        }
        FriendsStore(folder).Append(QStringLiteral("anna@example.org"));
        watch::WatchSettings on;
        on.enabled = true;
        QVERIFY(on.save(folder));

        QProcess program;
        program.setProcessChannelMode(QProcess::ForwardedChannels);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_busAddress);
        env.insert(QStringLiteral("TIDEMARSH_WATCH_INTERVAL_MS"), QStringLiteral("1000"));
        program.setProcessEnvironment(env);
        program.start(exe, {QStringLiteral("--hidden")});
        QVERIFY(program.waitForStarted());
        const qint64 pid = program.processId();

        // The first look remembers what waits; nothing is told about it.
        QVERIFY(home.waitForSession([](const ServerSession& s) { return s.ended; }, 30000));
        QVERIFY(work.waitForSession([](const ServerSession& s) { return s.ended; }, 30000));
        QTest::qWait(2500);
        QCOMPARE(service.shown.size(), 0);

        QVERIFY(home.addMessages({Mail("Anna <anna@example.org>", "Lunch on Friday?", 600),
                                  Mail("Daily Deals <deals@shop.example>", "Everything must go", 700)}));
        QTRY_COMPARE_WITH_TIMEOUT(service.shown.size(), 1, 20000);
        const NotificationService::Shown told = service.shown.first();
        QCOMPARE(told.summary, QStringLiteral("2 new messages in Home"));
        QVERIFY2(told.body.contains(QStringLiteral("Anna: Lunch on Friday?")), qPrintable(told.body));
        QVERIFY2(told.body.contains(QStringLiteral("Daily Deals: Everything must go")),
                 qPrintable(told.body));
        QVERIFY2(told.body.contains(QStringLiteral("1 from a friend")), qPrintable(told.body));
        QVERIFY(told.actions.contains(QStringLiteral("review")));
        // Nothing new since: nothing more is told.
        QTest::qWait(3000);
        QCOMPARE(service.shown.size(), 1);

        // Every look: login, listing, TOP for the two new messages once, logout.
        QVERIFY(home.waitForSession([](const ServerSession& s) { return s.ended && s.tops == 2; }, 5000));
        const QList<ServerSession> looks = home.sessions();
        QVERIFY(looks.size() >= 3);
        int tops = 0;
        for (const ServerSession& look : looks) {
            if (!look.ended)
                continue;
            QVERIFY2(look.quit, qPrintable(home.serverLog().join(QLatin1Char('\n'))));
            QCOMPARE(look.retrs, 0);
            QCOMPARE(look.deletions, 0);
            tops += look.tops;
        }
        QCOMPARE(tops, 2);

        // Review: the window comes back and Check Mail asks for Home, already chosen.
        Q_EMIT service.ActionInvoked(told.id, QStringLiteral("review"));
        QVERIFY(xdotool::Dismiss(pid, QStringLiteral("Select Account")));
        QVERIFY(xdotool::Dismiss(pid, QStringLiteral("Check Complete (Home)")));
        QVERIFY(home.waitForSession([](const ServerSession& s) { return !s.ended; }, 10000));
        const auto homeSessions = home.sessions().size();
        const auto workSessions = work.sessions().size();
        // Work is looked at as before (twice: a look under way may have begun before the review).
        QTRY_VERIFY2_WITH_TIMEOUT(
            work.sessions().size() >= workSessions + 2,
            qPrintable(QStringLiteral("%1 -> %2").arg(workSessions).arg(work.sessions().size())), 20000);
        // Home's session is the review's: no look at it all that time.
        QCOMPARE(home.sessions().size(), homeSessions);

        ::kill(static_cast<pid_t>(pid), SIGTERM);
        QVERIFY(program.waitForFinished(20000));
        QCOMPARE(program.exitCode(), 0);
        QCOMPARE(home.remainingMessages(), (QList<int>{1, 2, 3, 4}));
    }
};

QTEST_GUILESS_MAIN(WatchProcessTest)
#include "watchprocesstest.moc"
