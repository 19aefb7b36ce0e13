// Check All Accounts as the user meets it: the real program as its own process
// on a private X server, three accounts on the fixture's Dovecot (one with a
// wrong password), driven by the keyboard alone. Shift+F5 lists both good
// mailboxes, one summary names the third; Delete Unchecked leaves exactly the
// friends' mail on each server. With TIDEMARSH_SCREENSHOT_DIR set, the list is
// saved there as all-accounts.png.
#include "store/accountstore.h"
#include "store/friendsstore.h"
#include "support/mailserver/testmailserver.h"
#include "support/programfolder.h"
#include "support/xdotool.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

namespace {

using xdotool::Dismiss;
using xdotool::Focus;
using xdotool::Keys;
using xdotool::WaitForWindow;

QByteArray Mail(int i, const char* to) {
    static const char* const senders[] = {"Anna Lindqvist <anna@example.org>",
                                          "Daily Deals <deals@shop.example>",
                                          "Priya Raman <priya@example.net>",
                                          "Newsletter <news@lists.example>", "Tom O'Neill <tom@example.com>"};
    static const char* const subjects[] = {"Minutes of Tuesday's meeting", "50% off everything - today only!",
                                           "Invoice 2026-1187", "Your weekly digest",
                                           "Photos from the weekend"};
    return QByteArray("From: ") + senders[i % 5] + "\r\nTo: " + to + "\r\nSubject: " + subjects[i % 5] +
           "\r\nDate: Mon, " + QByteArray::number(7 + i) + " Dec 2026 09:" + QByteArray::number(10 + i) +
           ":00 +0100\r\n\r\n" + QByteArray(300 + 700 * i, 'x') + "\r\n";
}

} // namespace

class AllAccountsProcessTest : public QObject {
    Q_OBJECT
    std::unique_ptr<TestMailServer> m_server;

private Q_SLOTS:
    void initTestCase() {
        m_server = std::make_unique<TestMailServer>();
        TIDEMARSH_REQUIRE_MAILSERVER(*m_server);
    }

    void shiftF5ChecksEveryAccount() {
        QList<TestMailbox> boxes = m_server->createMailboxes(3);
        QCOMPARE(boxes.size(), 3);
        QVERIFY(boxes[0].addMessages(
            {Mail(0, "me@home.example"), Mail(1, "me@home.example"), Mail(2, "me@home.example")}));
        QVERIFY(boxes[1].addMessages({Mail(3, "old@example.org")}));
        QVERIFY(boxes[2].addMessages({Mail(4, "me@work.example"), Mail(0, "me@work.example"),
                                      Mail(3, "me@work.example"), Mail(1, "me@work.example")}));

        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString folder = dir.path() + QLatin1Char('/');
        const QString exe = folder + QStringLiteral("tidemarsh");
        QVERIFY(testsupport::MakeProgramFolder(folder, m_server->caFile()));
        const QStringList names{QStringLiteral("Home"), QStringLiteral("Old"), QStringLiteral("Work")};
        for (int k = 0; k < 3; ++k) {
            AccountRecord account;
            account.AccountName = names[k];
            account.LoginName = boxes[k].user();
            account.LoginPassword = k == 1 ? QStringLiteral("wrong") : boxes[k].password();
            account.ServerAddress =
                m_server->host() + QLatin1Char(':') + QString::number(m_server->pop3Port());
            AccountStore(folder).AppendAccount(account);
        }
        // Anna and Tom are friends: their mail arrives ticked.
        FriendsStore(folder).Append(QStringLiteral("anna@example.org"));
        FriendsStore(folder).Append(QStringLiteral("tom@example.com"));

        QProcess program;
        program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        program.start(exe, {});
        QVERIFY(program.waitForStarted());
        const qint64 pid = program.processId();
        const QString main = WaitForWindow(pid, QStringLiteral("QUILLORE Tidemarsh"));
        QVERIFY2(!main.isEmpty(), "the main window did not come up");

        QVERIFY(Focus(main));
        QVERIFY(Keys({QStringLiteral("shift+F5")}));
        // The list is filled; then one summary for Old, then the usual check summary.
        QVERIFY(Dismiss(pid, QStringLiteral("Check All Accounts")));
        QVERIFY(Dismiss(pid, QStringLiteral("Check Complete (All accounts)")));
        QCOMPARE(AccountStore(folder).ReadAccount(1).TotalMessages, 3);
        QCOMPARE(AccountStore(folder).ReadAccount(2).LastChecked, QStringLiteral("N/A"));
        QCOMPARE(AccountStore(folder).ReadAccount(3).TotalMessages, 4);

        const QString shots = qEnvironmentVariable("TIDEMARSH_SCREENSHOT_DIR");
        if (!shots.isEmpty()) {
            QVERIFY(Focus(main));
            QTest::qWait(500);
            QCOMPARE(QProcess::execute(QStringLiteral("import"),
                                       {QStringLiteral("-window"), main,
                                        QDir(shots).filePath(QStringLiteral("all-accounts.png"))}),
                     0);
        }

        // Actions > Delete Unchecked, confirmed; the outcome per account, then the list is empty.
        QVERIFY(Focus(main));
        QVERIFY(Keys({QStringLiteral("alt+a"), QStringLiteral("d")}));
        QVERIFY(Dismiss(pid, QStringLiteral("Confirm Deletion")));
        QVERIFY(Dismiss(pid, QStringLiteral("Message Deletion")));
        QTRY_COMPARE_WITH_TIMEOUT(boxes[0].remainingMessages(), (QList<int>{1}), 30000);
        QTRY_COMPARE_WITH_TIMEOUT(boxes[2].remainingMessages(), (QList<int>{1, 2}), 30000);
        QCOMPARE(boxes[1].remainingMessages(), QList<int>{1});
        QCOMPARE(AccountStore(folder).ReadAccount(1).DeletedMessages, 2);
        QCOMPARE(AccountStore(folder).ReadAccount(2).DeletedMessages, 0);
        QCOMPARE(AccountStore(folder).ReadAccount(3).DeletedMessages, 2);

        ::kill(static_cast<pid_t>(pid), SIGTERM);
        QVERIFY(program.waitForFinished(20000));
        QCOMPARE(program.exitCode(), 0);
    }
};

QTEST_GUILESS_MAIN(AllAccountsProcessTest)
#include "allaccountsprocesstest.moc"
