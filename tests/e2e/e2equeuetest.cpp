// The main window against a scripted server that is slow where real providers
// are slow: the user's commands wait their turn behind the program's own traffic.
#include "../pop3/scriptedserver.h"
#include "e2eharness.h"
#include "pop3/session.h"
#include "review/core/reviewmodel.h"
#include "review/reviewcontroller.h"

#include <QElapsedTimer>
#include <QSet>
#include <QTest>
#include <QTimer>

namespace {
QByteArray Header(int n) {
    return "From: Sender " + QByteArray::number(n) + " <s" + QByteArray::number(n) +
           "@example.org>\r\nSubject: message " + QByteArray::number(n) +
           "\r\nDate: Mon, 7 Dec 2026 10:00:0" + QByteArray::number(n % 10) + " +0000\r\n";
}
} // namespace

class E2eQueueTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void deleteDuringASlowKeepAlive() {
        ScriptedPop3Server server(ScriptedPop3Server::Tls::None, QStringLiteral("server"));
        QVERIFY(server.isListening());
        for (int n = 1; n <= 6; ++n)
            server.headers.append(Header(n));
        // A busy provider: the idle NOOP is answered after three seconds.
        QElapsedTimer noopAt;
        QElapsedTimer deleAt;
        server.hook = [&](ScriptedPop3Server::Connection& c, const QByteArray& command, int) {
            if (command == "NOOP" && !noopAt.isValid()) {
                noopAt.start();
                QTimer::singleShot(3000, &server, [&c] { c.send("+OK\r\n"); });
                return ScriptedPop3Server::Action::Handled;
            }
            if (command.startsWith("DELE") && !deleAt.isValid())
                deleAt.start();
            return ScriptedPop3Server::Action::Default;
        };

        E2eHarness app;
        AccountRecord account;
        account.AccountName = QStringLiteral("Busy");
        account.LoginName = QStringLiteral("bob");
        account.LoginPassword = QString::fromLatin1(server.password);
        account.ServerAddress = QStringLiteral("pop3://127.0.0.1:%1").arg(server.serverPort());
        QVERIFY(app.start(account));
        app.state().Settings.CheckDonePromptOff = 1;
        app.state().Settings.DeletePromptOff = 1;
        app.trigger(Command::CheckMail);
        QVERIFY2(app.boxes.isEmpty(), qPrintable(app.boxes.isEmpty() ? QString() : app.boxes.first().text));
        ReviewController& review = app.window().review();
        QCOMPARE(review.rowCount(), 6);
        for (int row : {0, 3, 4})
            review.model()->setKeep(row, true);
        QSet<int> unticked;
        for (const ReviewItem& item : review.model()->items())
            if (!item.keep)
                unticked.insert(item.MessageNumber);

        review.session()->setKeepAliveIdleSeconds(1);
        QTRY_VERIFY_WITH_TIMEOUT(noopAt.isValid(), 5000);
        // Pressed while the keep-alive waits for its answer.
        app.trigger(Command::DeleteUnchecked);

        QVERIFY2(app.boxes.isEmpty(), qPrintable(app.boxes.isEmpty() ? QString() : app.boxes.first().text));
        QCOMPARE(server.deleted, unticked);
        QVERIFY(deleAt.isValid());
        QVERIFY2(noopAt.elapsed() - deleAt.elapsed() >= 2900, "a mark went out before the NOOP was answered");
        QCOMPARE(review.rowCount(), 0);
        QCOMPARE(app.panel1(), QStringLiteral("Deleted 3 messages; 3 kept on the server."));
        QCOMPARE(app.account().DeletedMessages, 3);
        QVERIFY(!app.state().BusyFlag);
    }
};

QTEST_MAIN(E2eQueueTest)
#include "e2equeuetest.moc"
