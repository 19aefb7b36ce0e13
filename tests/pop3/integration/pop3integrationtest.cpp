// The POP3 component against a real server (each of the fixture's servers in
// turn): every address form logs in, over TLS unless it says pop3:// to a server
// without STLS, failures get their own codes, a thousand headers arrive decoded,
// and deletions happen exactly when QUIT is confirmed.
#include "samplemessages.h"
#include "support/blockingclient.h"
#include "support/mailserver/testmailserver.h"
#include "support/pop3proxy.h"

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

    void watch(BlockingClient& client) {
        QObject::connect(&client, &BlockingClient::ConnectLog, &client,
                         [this](const QString& text, int) { texts << text; });
        QObject::connect(&client, &BlockingClient::StatusMessage, &client,
                         [this](const QString& text, int nMin, int nMax, pop3::StatusCode code) {
                             texts << text;
                             if (code == pop3::StatusCode::Header)
                                 headerProgress.append({nMin, nMax});
                         });
    }
};

QByteArray chopBlankLines(QByteArray block) {
    while (block.endsWith("\r\n"))
        block.chop(2);
    return block;
}

bool hasEightBitText(const QByteArray& bytes) {
    return std::any_of(bytes.begin(), bytes.end(),
                       [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
}

bool somethingListensOn(quint16 port) {
    QTcpSocket probe;
    probe.connectToHost(QHostAddress::LocalHost, port);
    return probe.waitForConnected(1000);
}

} // namespace

class Pop3IntegrationTest : public QObject {
    Q_OBJECT
private:
    std::unique_ptr<BlockingClient> makeClient(const TestMailbox& box, const QString& address,
                                               bool trustTestCa = true) {
        auto client = std::make_unique<BlockingClient>();
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
    void initTestCase() {
        TIDEMARSH_REQUIRE_MAILSERVER(m_server);
        QVERIFY(!QSslCertificate::fromPath(m_server.caFile()).isEmpty());
        qInfo("server: %s", qPrintable(m_server.kind()));
    }

    void logsIn_data() {
        QTest::addColumn<QString>("address");
        QTest::addColumn<bool>("plain"); // through a proxy that hides STLS
        const QString port = QString::number(m_server.pop3Port());
        const QString tlsPort = QString::number(m_server.pop3sPort());
        QTest::newRow("host:port, STLS required") << QStringLiteral("127.0.0.1:") + port << false;
        QTest::newRow("localhost:port, name checked") << QStringLiteral("localhost:") + port << false;
        QTest::newRow("bare host: 995 unanswered, STLS on the settings port")
            << QStringLiteral("127.0.0.1") << false;
        QTest::newRow("pop3s://") << QStringLiteral("pop3s://127.0.0.1:") + tlsPort << false;
        QTest::newRow("pop3://, STLS offered so taken")
            << QStringLiteral("pop3://127.0.0.1:") + port << false;
        QTest::newRow("pop3://, no STLS: plain login") << QStringLiteral("pop3://127.0.0.1:%1") << true;
    }
    void logsIn() {
        QFETCH(QString, address);
        QFETCH(bool, plain);
        if (address == QLatin1String("127.0.0.1") && somethingListensOn(995))
            QSKIP("something listens on port 995 here");
        TestMailbox box = m_server.createMailbox();
        QVERIFY2(box.isValid(), qPrintable(box.errorString()));
        QVERIFY(box.addMessages({MakeSampleMessage(1).raw, MakeSampleMessage(2).raw}));
        Pop3Proxy proxy(m_server.host(), m_server.pop3Port());
        if (plain) {
            proxy.setHideStls(true);
            QVERIFY(proxy.listen());
            address = address.arg(proxy.port());
        }

        auto client = makeClient(box, address);
        SignalLog signalLog;
        signalLog.watch(*client);
        QCOMPARE(client->Connect(), pop3::Result::Ok);
        QVERIFY(client->isConnected());
        QCOMPARE(client->GetHeaders(), pop3::Result::Ok);
        QCOMPARE(client->Count(), 2);
        QCOMPARE(client->Item(2).Subject, MakeSampleMessage(2).subject);
        QCOMPARE(client->Disconnect(), pop3::Result::Ok);

        // The server saw the login (inside TLS or not, where it records that) and the QUIT.
        const auto session = box.waitForSessionEnd();
        QVERIFY2(session, qPrintable(box.serverLog().join(QLatin1Char('\n'))));
        QCOMPARE(session->tls.value_or(!plain), !plain);
        QVERIFY(session->quit);
        QVERIFY(session->fetchedNoBodies());
        QCOMPARE(session->deletions, 0);
        for (const QString& text : std::as_const(signalLog.texts))
            QVERIFY2(!text.contains(box.password()), qPrintable(text));
    }

    void wrongPasswordIsCodeFour() {
        TestMailServer::MailboxOptions options;
        options.password = QStringLiteral("Right-Horse-Battery-Staple");
        TestMailbox box = m_server.createMailbox(options);
        QVERIFY2(box.isValid(), qPrintable(box.errorString()));
        auto client = makeClient(box, stls());
        const QString wrong = QStringLiteral("Wrong-Horse-Battery-Staple");
        client->setPassword(wrong);
        SignalLog signalLog;
        signalLog.watch(*client);
        QCOMPARE(client->Connect(), pop3::Result::LoginRejected);
        QVERIFY(!client->isConnected());
        if (box.refusedLogins()) // where the server records refusals, it recorded this one
            QVERIFY(QTest::qWaitFor([&] { return box.refusedLogins().value_or(0) == 1; }, 15000));
        QVERIFY(box.sessions().isEmpty());
        signalLog.texts << client->lastServerReply();
        for (const QString& text : std::as_const(signalLog.texts))
            QVERIFY2(!text.contains(wrong) && !text.contains(box.password()), qPrintable(text));
    }

    void untrustedCertificateSendsNoCredentials_data() {
        QTest::addColumn<bool>("implicitTls");
        QTest::newRow("STLS") << false;
        QTest::newRow("POP3S") << true;
    }
    void untrustedCertificateSendsNoCredentials() {
        QFETCH(bool, implicitTls);
        TestMailbox box = m_server.createMailbox();
        QVERIFY2(box.isValid(), qPrintable(box.errorString()));
        const QString address =
            implicitTls ? QStringLiteral("pop3s://127.0.0.1:%1").arg(m_server.pop3sPort()) : stls();
        auto client = makeClient(box, address, false);
        QCOMPARE(client->Connect(), pop3::Result::CertificateInvalid);
        client.reset();
        // Give the server time to log whatever it saw: a login attempt would name the user.
        QTest::qWait(500);
        QVERIFY2(box.serverLog().isEmpty(), qPrintable(box.serverLog().join(QLatin1Char('\n'))));
        QCOMPARE(box.refusedLogins().value_or(0), 0);
    }

    void lockedMailboxIsCodeSixteen() {
        if (!m_server.canLockSessions())
            QSKIP("this server cannot lock a mailbox per session");
        TestMailServer::MailboxOptions options;
        options.lockSession = true;
        TestMailbox box = m_server.createMailbox(options);
        QVERIFY2(box.isValid(), qPrintable(box.errorString()));
        QVERIFY(box.addMessage(MakeSampleMessage(1).raw));

        auto first = makeClient(box, stls());
        QCOMPARE(first->Connect(), pop3::Result::Ok);
        auto second = makeClient(box, stls());
        // Dovecot waits about ten seconds for the lock before it answers [IN-USE].
        QCOMPARE(second->Connect(), pop3::Result::MailboxInUse);
        QCOMPARE(first->GetHeaders(), pop3::Result::Ok);
        QCOMPARE(first->Count(), 1);
        QCOMPARE(first->Disconnect(), pop3::Result::Ok);
    }

    void thousandHeadersDecoded() {
        const int count = 1000;
        TestMailbox box = m_server.createMailbox();
        QVERIFY2(box.isValid(), qPrintable(box.errorString()));
        QList<SampleMessage> samples;
        QList<QByteArray> raws;
        qint64 storedHeaderBytes = 0; // what TOP n 0 reads of LF-stored mail: header and blank line
        for (int n = 1; n <= count; ++n) {
            samples << MakeSampleMessage(n);
            raws << samples.last().raw;
            storedHeaderBytes += QByteArray(samples.last().header).replace("\r\n", "\n").size() + 2;
        }
        QVERIFY2(box.addMessages(raws), qPrintable(box.errorString()));
        QCOMPARE(box.deliveredCount(), count);

        auto client = makeClient(box, stls());
        SignalLog signalLog;
        signalLog.watch(*client);
        QCOMPARE(client->Connect(), pop3::Result::Ok);
        QCOMPARE(client->GetHeaders(), pop3::Result::Ok);
        QCOMPARE(client->Count(), count);

        // Courier (UTF8 capability, RFC 6856) serves a notice in place of a message whose
        // header holds raw 8-bit text unless the client sent UTF8 first.
        const bool substitutesEightBit = m_server.kind() == QLatin1String("courier");
        int substituted = 0;
        QSet<QByteArray> uidls;
        for (int n = 1; n <= count; ++n) {
            const pop3::Message& m = client->Item(n);
            const SampleMessage& want = samples[n - 1];
            const QByteArray where = "message " + QByteArray::number(n);
            QVERIFY2(m.MessageStatusFlag == pop3::MessageStatus::Downloaded, where.constData());
            QVERIFY2(!m.Uidl.isEmpty(), where.constData());
            uidls.insert(m.Uidl);
            if (substitutesEightBit && hasEightBitText(want.header)) {
                ++substituted;
                continue;
            }
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
        }
        QCOMPARE(uidls.size(), count);
        if (substituted > 0)
            qInfo("%d messages with raw 8-bit headers were served as the server's notice", substituted);

        QVERIFY(!signalLog.headerProgress.isEmpty());
        QCOMPARE(signalLog.headerProgress.last(), std::make_pair(count, count));
        for (qsizetype i = 1; i < signalLog.headerProgress.size(); ++i)
            QVERIFY(signalLog.headerProgress[i].first >= signalLog.headerProgress[i - 1].first);

        QCOMPARE(client->Disconnect(), pop3::Result::Ok);
        // Headers only: one TOP per message, no RETR, nothing deleted.
        const auto session = box.waitForSessionEnd();
        QVERIFY2(session, qPrintable(box.serverLog().join(QLatin1Char('\n'))));
        QVERIFY(session->quit);
        if (session->tops >= 0)
            QCOMPARE(session->tops, count);
        else if (substituted == 0)
            QCOMPARE(session->topBytes, storedHeaderBytes);
        else // the notices have sizes of their own
            QVERIFY(session->topBytes >= storedHeaderBytes);
        QVERIFY(session->fetchedNoBodies());
        QCOMPARE(session->deletions, 0);
    }

    void deletionRemovesFilesAtDisconnect() {
        TestMailbox box = m_server.createMailbox();
        QVERIFY2(box.isValid(), qPrintable(box.errorString()));
        for (int n = 1; n <= 6; ++n)
            QVERIFY(box.addMessage(MakeSampleMessage(n).raw));

        auto client = makeClient(box, stls());
        QCOMPARE(client->Connect(), pop3::Result::Ok);
        QCOMPARE(client->GetHeaders(), pop3::Result::Ok);
        QCOMPARE(client->DeleteFromServer(2), pop3::Result::Ok);
        QCOMPARE(client->DeleteFromServer(QVector<int>{4, 6}),
                 (QVector<pop3::Result>{pop3::Result::Ok, pop3::Result::Ok}));
        // Marked, not gone: the files stay until the server confirms QUIT.
        QCOMPARE(box.remainingMessages(), (QList<int>{1, 2, 3, 4, 5, 6}));
        QCOMPARE(client->Disconnect(), pop3::Result::Ok);
        const auto session = box.waitForSessionEnd();
        QVERIFY2(session, qPrintable(box.serverLog().join(QLatin1Char('\n'))));
        QVERIFY(session->quit);
        QCOMPARE(session->deletions, 3);
        QCOMPARE(box.remainingMessages(), (QList<int>{1, 3, 5}));
    }

    void sessionCutBeforeQuitDeletesNothing_data() {
        QTest::addColumn<bool>("killServerSide");
        QTest::newRow("client released without Disconnect") << false;
        QTest::newRow("server process killed") << true;
    }
    void sessionCutBeforeQuitDeletesNothing() {
        QFETCH(bool, killServerSide);
        TestMailbox box = m_server.createMailbox();
        QVERIFY2(box.isValid(), qPrintable(box.errorString()));
        for (int n = 1; n <= 3; ++n)
            QVERIFY(box.addMessage(MakeSampleMessage(n).raw));

        auto client = makeClient(box, stls());
        QCOMPARE(client->Connect(), pop3::Result::Ok);
        QCOMPARE(client->GetHeaders(), pop3::Result::Ok);
        QCOMPARE(client->DeleteFromServer(QVector<int>{1, 3}),
                 (QVector<pop3::Result>{pop3::Result::Ok, pop3::Result::Ok}));
        if (killServerSide) {
            // The mail process that serves this session, as the server's record names it.
            const auto login = box.waitForLogin();
            QVERIFY2(login, qPrintable(box.serverLog().join(QLatin1Char('\n'))));
            if (login->pid <= 0)
                QSKIP("this server's records do not name the process serving a session");
            QCOMPARE(::kill(pid_t(login->pid), SIGKILL), 0);
            // The session is gone: Disconnect must not claim the deletions happened.
            QVERIFY(client->Disconnect() != pop3::Result::Ok);
        } else {
            client.reset();
            const auto session = box.waitForSessionEnd();
            QVERIFY2(session, qPrintable(box.serverLog().join(QLatin1Char('\n'))));
            QVERIFY(!session->quit);
        }
        QCOMPARE(box.remainingMessages(), (QList<int>{1, 2, 3}));
    }

private:
    TestMailServer m_server;
};

QTEST_GUILESS_MAIN(Pop3IntegrationTest)
#include "pop3integrationtest.moc"
