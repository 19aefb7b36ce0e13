// The POP3 component against a real server (the fixture's private Dovecot):
// every address form logs in over TLS, failures get their own codes, a thousand
// headers arrive decoded, and deletions happen exactly when QUIT is confirmed.
#include "pop3client.h"
#include "samplemessages.h"
#include "testmailserver.h"

#include <QRegularExpression>
#include <QSet>
#include <QSslCertificate>
#include <QTcpSocket>
#include <QTest>

#include <memory>
#include <signal.h>

namespace {

// What the component said through its signals, to prove the password never shows.
struct SignalLog {
    QStringList texts;
    QList<std::pair<int, int>> headerProgress; // nMin, nMax of code 4

    void watch(pop3::Client& client)
    {
        QObject::connect(&client, &pop3::Client::ConnectLog, &client,
                         [this](const QString& text, int) { texts << text; });
        QObject::connect(&client, &pop3::Client::StatusMessage, &client,
                         [this](const QString& text, int nMin, int nMax, int code) {
                             texts << text;
                             if (code == 4)
                                 headerProgress.append({nMin, nMax});
                         });
    }
};

QByteArray chopBlankLines(QByteArray block)
{
    while (block.endsWith("\r\n"))
        block.chop(2);
    return block;
}

bool somethingListensOn(quint16 port)
{
    QTcpSocket probe;
    probe.connectToHost(QHostAddress::LocalHost, port);
    return probe.waitForConnected(1000);
}

} // namespace

class Pop3IntegrationTest : public QObject {
    Q_OBJECT
private:
    std::unique_ptr<pop3::Client> makeClient(const TestMailbox& box, const QString& address, bool trustTestCa = true)
    {
        auto client = std::make_unique<pop3::Client>();
        client->setUserName(box.user());
        client->setPassword(box.password());
        client->setHostName(address);
        client->setDefaultPort(m_server.pop3Port());
        client->setTimeoutSeconds(30);
        if (trustTestCa)
            client->addCaCertificates(QSslCertificate::fromPath(m_server.caFile()));
        return client;
    }
    QString stls() const { return QStringLiteral("127.0.0.1:%1").arg(m_server.pop3Port()); }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(m_server.isValid(), qPrintable(m_server.errorString()));
        QVERIFY(!QSslCertificate::fromPath(m_server.caFile()).isEmpty());
    }

    void logsInOverTls_data()
    {
        QTest::addColumn<QString>("address");
        const QString port = QString::number(m_server.pop3Port());
        const QString tlsPort = QString::number(m_server.pop3sPort());
        QTest::newRow("host:port, STLS required") << QStringLiteral("127.0.0.1:") + port;
        QTest::newRow("localhost:port, name checked") << QStringLiteral("localhost:") + port;
        QTest::newRow("bare host: 995 unanswered, STLS on the settings port") << QStringLiteral("127.0.0.1");
        QTest::newRow("pop3s://") << QStringLiteral("pop3s://127.0.0.1:") + tlsPort;
        QTest::newRow("pop3://, STLS offered so taken") << QStringLiteral("pop3://127.0.0.1:") + port;
    }
    void logsInOverTls()
    {
        QFETCH(QString, address);
        if (address == QLatin1String("127.0.0.1") && somethingListensOn(995))
            QSKIP("something listens on port 995 here");
        TestMailbox box = m_server.createMailbox();
        QVERIFY2(box.isValid(), qPrintable(box.errorString()));
        QVERIFY(box.addMessages({MakeSampleMessage(1).raw, MakeSampleMessage(2).raw}));

        auto client = makeClient(box, address);
        SignalLog signalLog;
        signalLog.watch(*client);
        QCOMPARE(client->Connect(), int(pop3::Ok));
        QVERIFY(client->isConnected());
        QCOMPARE(client->GetHeaders(), int(pop3::Ok));
        QCOMPARE(client->Count(), 2);
        QCOMPARE(client->Item(2).Subject, MakeSampleMessage(2).subject);
        QCOMPARE(client->Disconnect(), int(pop3::Ok));

        // The server saw the login inside TLS, and the session end.
        const QString login = box.waitForServerLog(QStringLiteral("Login:"));
        QVERIFY2(login.contains(QLatin1String(", TLS")), qPrintable(login));
        QVERIFY(!box.waitForServerLog(QStringLiteral("Logged out")).isEmpty());
        for (const QString& text : std::as_const(signalLog.texts))
            QVERIFY2(!text.contains(box.password()), qPrintable(text));
    }

    void wrongPasswordIsCodeFour()
    {
        TestMailServer::MailboxOptions options;
        options.password = QStringLiteral("Right-Horse-Battery-Staple");
        TestMailbox box = m_server.createMailbox(options);
        QVERIFY2(box.isValid(), qPrintable(box.errorString()));
        auto client = makeClient(box, stls());
        const QString wrong = QStringLiteral("Wrong-Horse-Battery-Staple");
        client->setPassword(wrong);
        SignalLog signalLog;
        signalLog.watch(*client);
        QCOMPARE(client->Connect(), int(pop3::LoginRejected));
        QVERIFY(!client->isConnected());
        QVERIFY(!box.waitForServerLog(QStringLiteral("Password mismatch")).isEmpty());
        signalLog.texts << client->lastServerReply();
        for (const QString& text : std::as_const(signalLog.texts))
            QVERIFY2(!text.contains(wrong) && !text.contains(box.password()), qPrintable(text));
    }

    void untrustedCertificateSendsNoCredentials_data()
    {
        QTest::addColumn<bool>("implicitTls");
        QTest::newRow("STLS") << false;
        QTest::newRow("POP3S") << true;
    }
    void untrustedCertificateSendsNoCredentials()
    {
        QFETCH(bool, implicitTls);
        TestMailbox box = m_server.createMailbox();
        QVERIFY2(box.isValid(), qPrintable(box.errorString()));
        const QString address =
            implicitTls ? QStringLiteral("pop3s://127.0.0.1:%1").arg(m_server.pop3sPort()) : stls();
        auto client = makeClient(box, address, false);
        QCOMPARE(client->Connect(), int(pop3::CertificateInvalid));
        client.reset();
        // Give the server time to log whatever it saw: a login attempt would name the user.
        QTest::qWait(500);
        QVERIFY2(box.serverLog().isEmpty(), qPrintable(box.serverLog().join(QLatin1Char('\n'))));
    }

    void lockedMailboxIsCodeSixteen()
    {
        if (!m_server.canLockSessions())
            QSKIP("this server cannot lock a mailbox per session");
        TestMailServer::MailboxOptions options;
        options.lockSession = true;
        TestMailbox box = m_server.createMailbox(options);
        QVERIFY2(box.isValid(), qPrintable(box.errorString()));
        QVERIFY(box.addMessage(MakeSampleMessage(1).raw));

        auto first = makeClient(box, stls());
        QCOMPARE(first->Connect(), int(pop3::Ok));
        auto second = makeClient(box, stls());
        // Dovecot waits about ten seconds for the lock before it answers [IN-USE].
        QCOMPARE(second->Connect(), int(pop3::MailboxInUse));
        QCOMPARE(first->GetHeaders(), int(pop3::Ok));
        QCOMPARE(first->Count(), 1);
        QCOMPARE(first->Disconnect(), int(pop3::Ok));
    }

    void thousandHeadersDecoded()
    {
        const int count = 1000;
        TestMailbox box = m_server.createMailbox();
        QVERIFY2(box.isValid(), qPrintable(box.errorString()));
        QList<SampleMessage> samples;
        for (int n = 1; n <= count; ++n) {
            samples << MakeSampleMessage(n);
            QCOMPARE(box.addMessage(samples.last().raw), n);
        }

        auto client = makeClient(box, stls());
        SignalLog signalLog;
        signalLog.watch(*client);
        QCOMPARE(client->Connect(), int(pop3::Ok));
        QCOMPARE(client->GetHeaders(), int(pop3::Ok));
        QCOMPARE(client->Count(), count);

        QSet<QByteArray> uidls;
        for (int n = 1; n <= count; ++n) {
            const pop3::Message& m = client->Item(n);
            const SampleMessage& want = samples[n - 1];
            const QByteArray where = "message " + QByteArray::number(n);
            QVERIFY2(m.MessageStatusFlag > 1, where.constData());
            if (want.checkFrom)
                QCOMPARE(m.From, want.from);
            QCOMPARE(m.FromAddr, want.fromAddr);
            QCOMPARE(m.ReplyToAddr, want.replyToAddr);
            QCOMPARE(m.Subject, want.subject);
            QCOMPARE(m.Date, want.date);
            QCOMPARE(m.ContentType, want.contentType);
            QCOMPARE(m.ContentSubType, want.contentSubType);
            QCOMPARE(m.Recipients, want.recipients);
            // LIST counts the message as sent: CRLF line ends.
            QCOMPARE(m.Size, qint64(want.raw.size()));
            QCOMPARE(chopBlankLines(m.Headers), want.header);
            QVERIFY2(!m.Uidl.isEmpty(), where.constData());
            uidls.insert(m.Uidl);
        }
        QCOMPARE(uidls.size(), count);

        QVERIFY(!signalLog.headerProgress.isEmpty());
        QCOMPARE(signalLog.headerProgress.last(), std::make_pair(count, count));
        for (qsizetype i = 1; i < signalLog.headerProgress.size(); ++i)
            QVERIFY(signalLog.headerProgress[i].first >= signalLog.headerProgress[i - 1].first);

        QCOMPARE(client->Disconnect(), int(pop3::Ok));
        // Headers only: one TOP per message, no RETR, nothing deleted.
        const QString end = box.waitForServerLog(QStringLiteral("Logged out"));
        QVERIFY2(end.contains(QStringLiteral("top=%1/").arg(count)), qPrintable(end));
        QVERIFY2(end.contains(QLatin1String("retr=0/0")), qPrintable(end));
        QVERIFY2(end.contains(QStringLiteral("del=0/%1").arg(count)), qPrintable(end));
    }

    void deletionRemovesFilesAtDisconnect()
    {
        TestMailbox box = m_server.createMailbox();
        QVERIFY2(box.isValid(), qPrintable(box.errorString()));
        for (int n = 1; n <= 6; ++n)
            QVERIFY(box.addMessage(MakeSampleMessage(n).raw));

        auto client = makeClient(box, stls());
        QCOMPARE(client->Connect(), int(pop3::Ok));
        QCOMPARE(client->GetHeaders(), int(pop3::Ok));
        QCOMPARE(client->DeleteFromServer(2), int(pop3::Ok));
        QCOMPARE(client->DeleteFromServer(QVector<int>{4, 6}), (QVector<int>{pop3::Ok, pop3::Ok}));
        // Marked, not gone: the files stay until the server confirms QUIT.
        QCOMPARE(box.remainingMessages(), (QList<int>{1, 2, 3, 4, 5, 6}));
        QCOMPARE(client->Disconnect(), int(pop3::Ok));
        QVERIFY(!box.waitForServerLog(QStringLiteral("del=3/6")).isEmpty());
        QCOMPARE(box.remainingMessages(), (QList<int>{1, 3, 5}));
    }

    void sessionCutBeforeQuitDeletesNothing_data()
    {
        QTest::addColumn<bool>("killServerSide");
        QTest::newRow("client released without Disconnect") << false;
        QTest::newRow("server process killed") << true;
    }
    void sessionCutBeforeQuitDeletesNothing()
    {
        QFETCH(bool, killServerSide);
        TestMailbox box = m_server.createMailbox();
        QVERIFY2(box.isValid(), qPrintable(box.errorString()));
        for (int n = 1; n <= 3; ++n)
            QVERIFY(box.addMessage(MakeSampleMessage(n).raw));

        auto client = makeClient(box, stls());
        QCOMPARE(client->Connect(), int(pop3::Ok));
        QCOMPARE(client->GetHeaders(), int(pop3::Ok));
        QCOMPARE(client->DeleteFromServer(QVector<int>{1, 3}), (QVector<int>{pop3::Ok, pop3::Ok}));
        if (killServerSide) {
            // The mail process that serves this session, as the login line names it.
            const QString login = box.waitForServerLog(QStringLiteral("Login:"));
            const auto mpid = QRegularExpression(QStringLiteral("mpid=(\\d+)")).match(login);
            QVERIFY2(mpid.hasMatch(), qPrintable(login));
            QCOMPARE(::kill(mpid.captured(1).toInt(), SIGKILL), 0);
            // The session is gone: Disconnect must not claim the deletions happened.
            QVERIFY(client->Disconnect() != int(pop3::Ok));
        } else {
            client.reset();
            QVERIFY(!box.waitForServerLog(QStringLiteral("Disconnected")).isEmpty());
        }
        QCOMPARE(box.remainingMessages(), (QList<int>{1, 2, 3}));
    }

private:
    TestMailServer m_server;
};

QTEST_GUILESS_MAIN(Pop3IntegrationTest)
#include "pop3integrationtest.moc"
