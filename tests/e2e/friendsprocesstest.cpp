// The real program as its own process on a private X server, against the
// fixture's Dovecot, driven by the keyboard alone: a friend typed as her mail
// shows her and one added from the review list keep their mail through Delete
// Unchecked.
#include "store/accountstore.h"
#include "store/friendsstore.h"
#include "support/mailserver/testmailserver.h"
#include "support/programfolder.h"
#include "support/xdotool.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <optional>

namespace {

using xdotool::Focus;
using xdotool::Keys;
using xdotool::Type;
using xdotool::WaitForClosed;
using xdotool::WaitForWindow;

QStringList Friends(const QString& folder) {
    QStringList addresses;
    for (const auto& entry : FriendsStore(folder).ReadAll())
        addresses.append(entry.second);
    return addresses;
}

} // namespace

class FriendsProcessTest : public QObject {
    Q_OBJECT
    std::unique_ptr<TestMailServer> m_server;

private Q_SLOTS:
    void initTestCase() {
        m_server = std::make_unique<TestMailServer>();
        TIDEMARSH_REQUIRE_MAILSERVER(*m_server);
    }

    void friendsKeepTheirMail() {
        TestMailbox box = m_server->createMailbox();
        QVERIFY2(box.isValid(), qPrintable(box.errorString()));
        QVERIFY(box.addMessages({"From: Big Bug bb@bug.com\r\nSubject: Bugs\r\n\r\nSee attached.\r\n",
                                 "From: Mum <mum@family.test>\r\nSubject: Sunday\r\n\r\nLunch?\r\n",
                                 "From: Offers <offer@spam.example>\r\nSubject: Offer\r\n\r\nBuy.\r\n"}));

        // A program folder of its own: the program, its account, the test CA as a company CA.
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

        // File > Friends Management (the third entry from the bottom), New, her name and address.
        QVERIFY(Focus(main));
        QVERIFY(Keys({QStringLiteral("alt+f"), QStringLiteral("Up"), QStringLiteral("Up"),
                      QStringLiteral("Up"), QStringLiteral("Return")}));
        const QString friends = WaitForWindow(pid, QStringLiteral("Email Friends"));
        QVERIFY(Focus(friends));
        QVERIFY(Keys({QStringLiteral("alt+n")}));
        QVERIFY(Focus(WaitForWindow(pid, QStringLiteral("Email Friend"))));
        QVERIFY(Type(QStringLiteral("Mum <mum@family.test>")));
        QVERIFY(Keys({QStringLiteral("Return")}));
        QVERIFY(WaitForClosed(pid, QStringLiteral("Email Friend")));
        QCOMPARE(Friends(folder), QStringList{QStringLiteral("mum@family.test")});
        QVERIFY(Focus(friends));
        QVERIFY(Keys({QStringLiteral("Escape")}));
        QVERIFY(WaitForClosed(pid, QStringLiteral("Email Friends")));

        // Check; the first row (Big Bug, written without angle brackets) is selected: Add to Friends.
        QVERIFY(Focus(main));
        QVERIFY(Keys({QStringLiteral("F5")}));
        QVERIFY(Focus(WaitForWindow(pid, QStringLiteral("Check Complete (Work)"))));
        QVERIFY(Keys({QStringLiteral("Return")}));
        QVERIFY(WaitForClosed(pid, QStringLiteral("Check Complete (Work)")));
        QVERIFY(Focus(main));
        QVERIFY(Keys({QStringLiteral("alt+a"), QStringLiteral("f")}));
        QVERIFY(Focus(WaitForWindow(pid, QStringLiteral("Address Added"))));
        QVERIFY(Keys({QStringLiteral("Return")}));
        QCOMPARE(Friends(folder),
                 (QStringList{QStringLiteral("mum@family.test"), QStringLiteral("bb@bug.com")}));

        // The next check ticks both; Delete Unchecked, confirmed, removes only the offer.
        QVERIFY(Focus(main));
        QVERIFY(Keys({QStringLiteral("F5")}));
        QVERIFY(Focus(WaitForWindow(pid, QStringLiteral("Check Complete (Work)"))));
        QVERIFY(Keys({QStringLiteral("Return")}));
        QVERIFY(WaitForClosed(pid, QStringLiteral("Check Complete (Work)")));
        QVERIFY(Focus(main));
        QVERIFY(Keys({QStringLiteral("alt+a"), QStringLiteral("d")}));
        QVERIFY(Focus(WaitForWindow(pid, QStringLiteral("Confirm Deletion"))));
        QVERIFY(Keys({QStringLiteral("Return")}));
        QTRY_COMPARE_WITH_TIMEOUT(box.remainingMessages(), (QList<int>{1, 2}), 30000);

        ::kill(static_cast<pid_t>(pid), SIGTERM);
        QVERIFY(program.waitForFinished(20000));
        QCOMPARE(program.exitCode(), 0);
    }
};

QTEST_GUILESS_MAIN(FriendsProcessTest)
#include "friendsprocesstest.moc"
