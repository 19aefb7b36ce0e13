// The client against a real server that offers APOP to everybody (GNU Mailutils
// pop3d run privately by the apopserver fixture): the timestamp means APOP may
// work, not that it will.
#include "support/mailserver/apopserver.h"
#include "support/blockingclient.h"

#include <QTest>

using namespace pop3;

class ApopServerTest : public QObject {
    Q_OBJECT
    ApopServer m_server;

private Q_SLOTS:
    void initTestCase() {
        m_server = ApopServer::Read();
        if (!m_server.unavailable.isEmpty())
            QSKIP(qPrintable(QStringLiteral("mail server unavailable: ") + m_server.unavailable));
    }

    void login_data() {
        QTest::addColumn<bool>("apopSecret"); // the user has an APOP secret on the server
        QTest::addColumn<bool>("rightPassword");
        QTest::addColumn<Result>("expected");
        QTest::addColumn<LoginMethod>("method");
        QTest::newRow("no APOP secret: USER/PASS") << false << true << Result::Ok << LoginMethod::UserPass;
        QTest::newRow("APOP secret: APOP") << true << true << Result::Ok << LoginMethod::Apop;
        QTest::newRow("wrong password: refused both ways")
            << false << false << Result::LoginRejected << LoginMethod::UserPass;
    }
    void login() {
        QFETCH(bool, apopSecret);
        QFETCH(bool, rightPassword);
        QFETCH(Result, expected);
        QFETCH(LoginMethod, method);
        BlockingClient client;
        client.setHostName(m_server.address());
        client.setUserName(apopSecret ? m_server.apopUser : m_server.plainUser);
        const QString password = apopSecret ? m_server.apopPassword : m_server.plainPassword;
        client.setPassword(rightPassword ? password : password + QStringLiteral("x"));
        client.setTimeoutSeconds(10);
        QStringList log;
        connect(&client, &BlockingClient::ConnectLog, this, [&](const QString& text) { log << text; });
        QCOMPARE(client.Connect(), expected);
        QCOMPARE(client.connectionInfo().login, method);
        // The server sent its timestamp, so APOP went first every time.
        QCOMPARE(log.contains(QStringLiteral("APOP refused, trying the password")), !apopSecret);
        if (expected != Result::Ok) {
            QVERIFY(!client.lastServerReply().contains(password));
            return;
        }
        QCOMPARE(client.connectionInfo().security, Security::Plain);
        int count = -1;
        QCOMPARE(client.Stat(&count), Result::Ok);
        QCOMPARE(count, 2);
        QCOMPARE(client.Disconnect(), Result::Ok);
    }
};

QTEST_GUILESS_MAIN(ApopServerTest)
#include "apopservertest.moc"
