// The session against scripted servers, written as the server would log it.
#include "fakestream.h"
#include "support/blockingclient.h"

#include <QElapsedTimer>

#include <QPointer>
#include <QTest>
#include <QTimer>
#include <algorithm>

using namespace pop3;

namespace {

const char kPassword[] = "s3cret-pw";

// Implicit TLS, USER/PASS, then the capabilities the transaction state gets.
QByteArray loginLog(const QByteArray& transactionCaps) {
    QByteArray log = R"(
S: +OK ready
C: CAPA
S: +OK
S: USER
S: .
C: USER bob
S: +OK
C: PASS s3cret-pw
S: +OK maildrop ready
C: CAPA
S: +OK
)";
    for (const QByteArray& cap : transactionCaps.split(' '))
        if (!cap.isEmpty())
            log += "S: " + cap + "\n";
    return log + "S: .\n";
}

struct Harness {
    std::shared_ptr<FakeStreamFactory> factory;
    std::unique_ptr<BlockingClient> client;

    explicit Harness(const QByteArray& log, const QString& address = QStringLiteral("pop3s://mail.example"))
        : Harness(Transcript::parse(log), address) {}
    Harness(Transcript script, const QString& address) {
        factory = std::make_shared<FakeStreamFactory>(std::move(script));
        client = std::make_unique<BlockingClient>(factory);
        client->setHostName(address);
        client->setUserName(QStringLiteral("bob"));
        client->setPassword(QString::fromLatin1(kPassword));
        client->setTimeoutSeconds(5);
    }
    QString errors() const { return factory->record->errors.join(QLatin1Char('\n')); }
    bool scriptDone() const { return factory->scriptDone(); }
};

QByteArray topReply(int n) {
    return "S: +OK\nS: From: Sender " + QByteArray::number(n) + " <s" + QByteArray::number(n) +
           "@example.com>\nS: Subject: message " + QByteArray::number(n) + "\nS: \nS: .\n";
}

} // namespace

class TranscriptTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void connect_data();
    void connect();
    void autoFallsBackToStartTls();
    void connectTimeout();
    void tlsOnlyExplicitPort_data();
    void tlsOnlyExplicitPort();
    void apopRefused_data();
    void apopRefused();
    void saslPlainWaitsForContinuationWhenLong();
    void tokenLogin_data();
    void tokenLogin();
    void lineBreaksInCredentialsAreRefused_data();
    void lineBreaksInCredentialsAreRefused();
    void headers_data();
    void headers();
    void pipelinedRepliesSplitAtEveryByte();
    void getHeadersFailures_data();
    void getHeadersFailures();
    void cancelDuringConnect();
    void cancelDuringGetHeaders();
    void jobsRunInTurn();
    void cancelEndsQueuedJobsWithoutQuit();
    void sessionDeletedFromAJobSignal();
    void keepAlive();
    void disconnect_data();
    void disconnect();
    void batchDelete_data();
    void batchDelete();
};

void TranscriptTest::connect_data() {
    QTest::addColumn<QString>("address");
    QTest::addColumn<QByteArray>("log");
    QTest::addColumn<bool>("bareLf");
    QTest::addColumn<bool>("tlsFails");
    QTest::addColumn<bool>("passwordMayBeSent");
    QTest::addColumn<Result>("expected");

    const QByteArray stls = R"(
S: +OK Server ready.
C: CAPA
S: +OK
S: STLS
S: USER
S: .
C: STLS
)";
    QTest::newRow("STLS, SASL PLAIN inside TLS, CAPA at every stage") << "mail.example:110" << QByteArray(R"(
S: +OK Server ready.
C: CAPA
S: +OK
S: STLS
S: .
C: STLS
S: +OK Begin TLS negotiation now.
C: CAPA
S: +OK
S: SASL PLAIN LOGIN
S: PIPELINING
S: .
C: AUTH PLAIN AGJvYgBzM2NyZXQtcHc=
S: +OK Logged in.
C: CAPA
S: +OK
S: PIPELINING
S: .
)") << false << false << true << Result::Ok;
    QTest::newRow("STLS refused: no credentials")
        << "mail.example:110" << stls + "S: -ERR TLS not available\n"
        << false << false << false << Result::NoSecureConnection;
    QTest::newRow("STLS +OK with injected command: no handshake, no credentials")
        << "mail.example:110" << stls + "S: +OK Begin TLS\nS: +OK injected\n"
        << false << false << false << Result::CertificateInvalid;
    QTest::newRow("STLS handshake fails") << "mail.example:110" << stls + "S: +OK Begin TLS\n"
                                          << false << true << false << Result::CertificateInvalid;
    QTest::newRow("STLS even when CAPA is not supported") << "mail.example:143" << QByteArray(R"(
S: +OK hi
C: CAPA
S: -ERR unknown command
C: STLS
S: -ERR unknown command
)") << false << false << false << Result::NoSecureConnection;
    QTest::newRow("minimal greeting, bare LF everywhere")
        << "pop3s://mail.example"
        << QByteArray(
               "S: +OK\nC: CAPA\nS: -ERR\nC: USER bob\nS: +OK\nC: PASS s3cret-pw\nS: +OK\nC: CAPA\nS: -ERR\n")
        << true << false << true << Result::Ok;
    QTest::newRow("greeting -ERR") << "pop3s://mail.example" << QByteArray("S: -ERR go away\n") << false
                                   << false << false << Result::ConnectionProblem;
    QTest::newRow("greeting [SYS/TEMP]")
        << "pop3s://mail.example" << QByteArray("S: -ERR [SYS/TEMP] try later\n") << false << false << false
        << Result::ServerTemporaryFailure;
    QTest::newRow("not a POP3 server") << "pop3s://mail.example" << QByteArray("S: SSH-2.0-OpenSSH_9.2\n")
                                       << false << false << false << Result::ConnectionProblem;
    const QByteArray userPass = "S: +OK\nC: CAPA\nS: +OK\nS: USER\nS: .\nC: USER bob\n";
    QTest::newRow("-ERR on USER") << "pop3s://mail.example" << userPass + "S: -ERR no such mailbox\n"
                                  << false << false << false << Result::UserRejected;
    QTest::newRow("-ERR on PASS") << "pop3s://mail.example"
                                  << userPass + "S: +OK\nC: PASS s3cret-pw\nS: -ERR invalid password\n"
                                  << false << false << true << Result::LoginRejected;
    QTest::newRow("[AUTH] on PASS")
        << "pop3s://mail.example"
        << userPass + "S: +OK\nC: PASS s3cret-pw\nS: -ERR [AUTH] Authentication failed.\n"
        << false << false << true << Result::LoginRejected;
    QTest::newRow("[IN-USE] is not a wrong password")
        << "pop3s://mail.example"
        << userPass +
               "S: +OK\nC: PASS s3cret-pw\nS: -ERR [IN-USE] Mailbox is locked by another POP3 session.\n"
        << false << false << true << Result::MailboxInUse;
    QTest::newRow("[LOGIN-DELAY]") << "pop3s://mail.example"
                                   << userPass +
                                          "S: +OK\nC: PASS s3cret-pw\nS: -ERR [LOGIN-DELAY] wait 10 minutes\n"
                                   << false << false << true << Result::LoginDelay;
    QTest::newRow("[SYS/TEMP] on PASS")
        << "pop3s://mail.example" << userPass + "S: +OK\nC: PASS s3cret-pw\nS: -ERR [SYS/TEMP] disk full\n"
        << false << false << true << Result::ServerTemporaryFailure;
    QTest::newRow("server closes during login") << "pop3s://mail.example" << userPass + "S: <close>\n"
                                                << false << false << false << Result::ConnectionProblem;
    QTest::newRow("pop3:// plain text when STLS is not offered")
        << "pop3://mail.example"
        << QByteArray("S: +OK\nC: CAPA\nS: +OK\nS: USER\nS: .\nC: USER bob\nS: +OK\nC: PASS s3cret-pw\nS: "
                      "+OK\nC: CAPA\nS: +OK\nS: .\n")
        << false << false << true << Result::Ok;
    QTest::newRow("pop3:// APOP with the greeting's timestamp")
        << "pop3://mail.example"
        << QByteArray("S: +OK POP3 server ready <1896.697170952@dbc.mtview.ca.us>\nC: CAPA\nS: -ERR\n"
                      "C: APOP bob a00d98c10fe245ff6a37b53b2fcc91e9\nS: +OK\nC: CAPA\nS: -ERR\n")
        << false << false << false << Result::Ok;
    QTest::newRow("pop3:// with a timestamp but STLS offered: TLS, no APOP")
        << "pop3://mail.example"
        << QByteArray(
               "S: +OK ready <1.2@host>\nC: CAPA\nS: +OK\nS: STLS\nS: .\nC: STLS\nS: +OK\nC: CAPA\nS: -ERR\n"
               "C: USER bob\nS: +OK\nC: PASS s3cret-pw\nS: +OK\nC: CAPA\nS: -ERR\n")
        << false << false << true << Result::Ok;
    QTest::newRow("timestamp ignored without pop3://")
        << "pop3s://mail.example"
        << QByteArray("S: +OK ready <1.2@host>\nC: CAPA\nS: -ERR\nC: USER bob\nS: +OK\nC: PASS s3cret-pw\nS: "
                      "+OK\nC: CAPA\nS: -ERR\n")
        << false << false << true << Result::Ok;
}

void TranscriptTest::connect() {
    QFETCH(QString, address);
    QFETCH(QByteArray, log);
    QFETCH(bool, bareLf);
    QFETCH(bool, tlsFails);
    QFETCH(bool, passwordMayBeSent);
    QFETCH(Result, expected);

    Transcript script = Transcript::parse(log);
    script.bareLf = bareLf;
    script.tlsFails = tlsFails;
    Harness h(std::move(script), address);
    QCOMPARE(h.client->Connect(), expected);
    QVERIFY2(h.factory->record->errors.isEmpty(), qPrintable(h.errors()));
    QVERIFY2(h.scriptDone(), "the client stopped before the end of the transcript");
    QCOMPARE(h.client->isConnected(), expected == Result::Ok);
    if (!passwordMayBeSent)
        QVERIFY(!h.factory->record->written.contains(kPassword));
    QVERIFY(!h.client->lastServerReply().contains(QLatin1String(kPassword)));
}

void TranscriptTest::autoFallsBackToStartTls() {
    Harness h(QByteArray(R"(
S: +OK
C: CAPA
S: +OK
S: STLS
S: .
C: STLS
S: +OK
C: CAPA
S: +OK
S: .
C: USER bob
S: +OK
C: PASS s3cret-pw
S: +OK
C: CAPA
S: +OK
S: .
)"),
              QStringLiteral("mail.example"));
    h.factory->refusedPorts = {995};
    h.client->setDefaultPort(110);
    QCOMPARE(h.client->Connect(), Result::Ok);
    QCOMPARE(h.factory->record->ports, (QList<quint16>{995, 110}));
    QVERIFY2(h.factory->record->errors.isEmpty(), qPrintable(h.errors()));
}

void TranscriptTest::connectTimeout() {
    Harness h(QByteArray("S: +OK\n"), QStringLiteral("pop3s://mail.example"));
    h.factory->silentPorts = {995};
    h.client->setTimeoutSeconds(1);
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(h.client->Connect(), Result::ConnectTimeout);
    QVERIFY(timer.elapsed() >= 900 && timer.elapsed() < 3000);

    // A bare host whose port 995 stays silent gets STLS on the settings port after the probe time.
    Harness probe(QByteArray("S: +OK\nC: CAPA\nS: -ERR\nC: STLS\nS: -ERR\n"), QStringLiteral("mail.example"));
    probe.factory->silentPorts = {995};
    probe.client->setImplicitTlsProbeSeconds(1);
    timer.restart();
    QCOMPARE(probe.client->Connect(), Result::NoSecureConnection);
    QVERIFY(timer.elapsed() >= 900 && timer.elapsed() < 3000);
    QCOMPARE(probe.factory->record->ports, (QList<quint16>{995, 110}));
}

void TranscriptTest::tlsOnlyExplicitPort_data() {
    QTest::addColumn<bool>("closes");    // the port closes a plain connection at once
    QTest::addColumn<bool>("tlsSilent"); // ... and answers no TLS either
    QTest::addColumn<Result>("expected");
    QTest::addColumn<int>("minMs");
    QTest::addColumn<int>("maxMs");
    // Probe 1 s, time-out 4 s.
    QTest::newRow("silent to plain text: implicit TLS after the probe time")
        << false << false << Result::Ok << 900 << 2500;
    QTest::newRow("closed at once: implicit TLS without waiting") << true << false << Result::Ok << 0 << 800;
    QTest::newRow("no TLS either: one time-out for both")
        << false << true << Result::ConnectTimeout << 3800 << 5000;
}

// An explicit port other than 995 whose server speaks TLS from the first byte.
void TranscriptTest::tlsOnlyExplicitPort() {
    QFETCH(bool, closes);
    QFETCH(bool, tlsSilent);
    QFETCH(Result, expected);
    QFETCH(int, minMs);
    QFETCH(int, maxMs);
    Harness h(loginLog(""), QStringLiteral("mail.example:2995"));
    h.factory->tlsOnly = {{2995}, closes};
    if (tlsSilent)
        h.factory->silentPorts = {2995};
    h.client->setImplicitTlsProbeSeconds(1);
    h.client->setTimeoutSeconds(4);
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(h.client->Connect(), expected);
    QVERIFY2(timer.elapsed() >= minMs && timer.elapsed() <= maxMs, QByteArray::number(timer.elapsed()));
    QCOMPARE(h.factory->record->ports, (QList<quint16>{2995, 2995}));
    QVERIFY2(h.factory->record->errors.isEmpty(), qPrintable(h.errors()));
    if (expected == Result::Ok) {
        QVERIFY(h.scriptDone());
        QCOMPARE(h.client->connectionInfo().security, Security::ImplicitTls);
        QVERIFY(h.client->connectionInfo().encrypted);
    }
}

namespace {
// RFC 1939's example timestamp; the digest is MD5(timestamp + kPassword).
const QByteArray kApopGreeting = "S: +OK POP3 server ready <1896.697170952@dbc.mtview.ca.us>\n";
const QByteArray kApop = "C: APOP bob a00d98c10fe245ff6a37b53b2fcc91e9\n";
const QByteArray kUserPass = "C: USER bob\nS: +OK\nC: PASS s3cret-pw\n";
const QByteArray kLoggedIn = "S: +OK\nC: CAPA\nS: -ERR\n";
} // namespace

void TranscriptTest::apopRefused_data() {
    QTest::addColumn<QByteArray>("log");
    QTest::addColumn<Result>("expected");
    QTest::addColumn<LoginMethod>("method");
    QTest::addColumn<int>("connections");

    const QByteArray start = kApopGreeting + "C: CAPA\nS: -ERR\n" + kApop;
    const QByteArray again = "--- next connection\nS: +OK ready <2.2@host>\nC: CAPA\nS: -ERR\n";
    QTest::newRow("APOP accepted") << start + kLoggedIn << Result::Ok << LoginMethod::Apop << 1;
    QTest::newRow("APOP refused: USER/PASS on the same connection")
        << start + "S: -ERR [AUTH] Bad login\n" + kUserPass + kLoggedIn << Result::Ok << LoginMethod::UserPass
        << 1;
    QTest::newRow("APOP refused: SASL PLAIN when offered")
        << kApopGreeting + "C: CAPA\nS: +OK\nS: SASL PLAIN\nS: .\n" + kApop + "S: -ERR no APOP secret\n" +
               "C: AUTH PLAIN AGJvYgBzM2NyZXQtcHc=\n" + kLoggedIn
        << Result::Ok << LoginMethod::SaslPlain << 1;
    QTest::newRow("APOP and the password refused")
        << start + "S: -ERR [AUTH] Bad login\n" + kUserPass + "S: -ERR [AUTH] Bad login\n"
        << Result::LoginRejected << LoginMethod::UserPass << 1;
    QTest::newRow("APOP refused with [IN-USE]: no retry") << start + "S: -ERR [IN-USE] Mailbox in use\n"
                                                          << Result::MailboxInUse << LoginMethod::Apop << 1;
    QTest::newRow("APOP refused with [LOGIN-DELAY]: no retry")
        << start + "S: -ERR [LOGIN-DELAY] wait\n"
        << Result::LoginDelay << LoginMethod::Apop << 1;
    QTest::newRow("APOP refused with [SYS/TEMP]: no retry")
        << start + "S: -ERR [SYS/TEMP] disk full\n"
        << Result::ServerTemporaryFailure << LoginMethod::Apop << 1;
    QTest::newRow("refused and closed: once more, with USER/PASS")
        << start + "S: -ERR authentication failed\nS: <close>\n" + again + kUserPass + kLoggedIn << Result::Ok
        << LoginMethod::UserPass << 2;
    QTest::newRow("closed instead of an answer: once more, with USER/PASS")
        << start + "S: <close>\n" + again + kUserPass + kLoggedIn << Result::Ok << LoginMethod::UserPass << 2;
    QTest::newRow("closed again after the password: no third connection")
        << start + "S: -ERR authentication failed\nS: <close>\n" + again + kUserPass + "S: <close>\n"
        << Result::ConnectionProblem << LoginMethod::UserPass << 2;
}

// pop3:// to a server whose greeting always carries an APOP timestamp.
void TranscriptTest::apopRefused() {
    QFETCH(QByteArray, log);
    QFETCH(Result, expected);
    QFETCH(LoginMethod, method);
    QFETCH(int, connections);
    Harness h(log, QStringLiteral("pop3://mail.example"));
    QCOMPARE(h.client->Connect(), expected);
    QVERIFY2(h.factory->record->errors.isEmpty(), qPrintable(h.errors()));
    QVERIFY2(h.scriptDone(), "the client stopped before the end of the transcript");
    QCOMPARE(h.factory->record->connections, connections);
    QCOMPARE(h.client->connectionInfo().login, method);
    // A refusal that is no wrong secret costs no password (plain, or in a SASL PLAIN token).
    const QByteArray& written = h.factory->record->written;
    QCOMPARE(written.contains(kPassword) || written.contains("AUTH PLAIN"), method != LoginMethod::Apop);
    QVERIFY(!h.client->lastServerReply().contains(QLatin1String(kPassword)));
}

void TranscriptTest::tokenLogin_data() {
    QTest::addColumn<QByteArray>("log");
    QTest::addColumn<QString>("token");
    QTest::addColumn<Result>("expected");
    QTest::addColumn<LoginMethod>("method");
    QTest::addColumn<QString>("words");

    const QString token = QStringLiteral("ya29.t0k3n");
    const auto caps = [](const QByteArray& sasl) {
        return "S: +OK\nC: CAPA\nS: +OK\nS: " + sasl + "\nS: .\n";
    };
    const QByteArray xoauth2 = "C: AUTH XOAUTH2 " +
                               QByteArray("user=bob\x01"
                                          "auth=Bearer ya29.t0k3n\x01\x01")
                                   .toBase64() +
                               "\n";
    const QByteArray bearer = "C: AUTH OAUTHBEARER " +
                              QByteArray("n,a=bob,\x01host=mail.example\x01port=995\x01"
                                         "auth=Bearer ya29.t0k3n\x01\x01")
                                  .toBase64() +
                              "\n";
    // What Dovecot and the big providers send for a refused token.
    const QByteArray challenge =
        "S: + " + QByteArray(R"({"status":"401","schemes":"bearer","scope":"mail"})").toBase64() + "\n";
    QTest::newRow("XOAUTH2 where CAPA lists no OAUTHBEARER")
        << caps("SASL PLAIN XOAUTH2") + xoauth2 + kLoggedIn << token << Result::Ok << LoginMethod::XOAuth2
        << QString();
    QTest::newRow("XOAUTH2 where CAPA lists no SASL at all")
        << caps("USER") + xoauth2 + kLoggedIn << token << Result::Ok << LoginMethod::XOAuth2 << QString();
    QTest::newRow("OAUTHBEARER where listed") << caps("SASL PLAIN XOAUTH2 OAUTHBEARER") + bearer + kLoggedIn
                                              << token << Result::Ok << LoginMethod::OAuthBearer << QString();
    QTest::newRow("XOAUTH2 refused: the error challenge gets an empty line")
        << caps("SASL XOAUTH2") + xoauth2 + challenge + "C: \nS: -ERR [AUTH] Authentication failed.\n"
        << token << Result::LoginRejected << LoginMethod::XOAuth2 << QStringLiteral("status 401");
    QTest::newRow("OAUTHBEARER refused: the error challenge gets ^A")
        << caps("SASL OAUTHBEARER") + bearer + challenge + "C: AQ==\nS: -ERR [AUTH] Authentication failed.\n"
        << token << Result::LoginRejected << LoginMethod::OAuthBearer << QStringLiteral("status 401");
    QTest::newRow("a server in trouble after the challenge is no refused token")
        << caps("SASL XOAUTH2") + xoauth2 + challenge + "C: \nS: -ERR [SYS/TEMP] try later\n"
        << token << Result::ServerTemporaryFailure << LoginMethod::XOAuth2 << QStringLiteral("status 401");
    QTest::newRow("the server echoes the token in its refusal")
        << caps("SASL XOAUTH2") + xoauth2 + "S: -ERR [AUTH] bad token ya29.t0k3n\n"
        << token << Result::LoginRejected << LoginMethod::XOAuth2 << QString();
    const QString longToken = QString(300, QLatin1Char('t'));
    QTest::newRow("a long token waits for the server's +")
        << caps("SASL XOAUTH2") + "C: AUTH XOAUTH2\nS: + \nC: " +
               ("user=bob\x01"
                "auth=Bearer " +
                longToken.toLatin1() + "\x01\x01")
                   .toBase64() +
               "\n" + kLoggedIn
        << longToken << Result::Ok << LoginMethod::XOAuth2 << QString();
}

// The token goes out instead of the password, never with it, and never comes back in a text.
void TranscriptTest::tokenLogin() {
    QFETCH(QByteArray, log);
    QFETCH(QString, token);
    QFETCH(Result, expected);
    QFETCH(LoginMethod, method);
    QFETCH(QString, words);
    Harness h(log);
    h.client->setAccessToken(token);
    const Result result = h.client->Connect();
    QVERIFY2(h.factory->record->errors.isEmpty(), qPrintable(h.errors()));
    QCOMPARE(result, expected);
    QVERIFY2(h.scriptDone(), "the client stopped before the end of the transcript");
    QCOMPARE(h.client->connectionInfo().login, method);
    QVERIFY(!h.factory->record->written.contains(kPassword));
    QVERIFY(!h.client->lastServerReply().contains(token));
    QVERIFY2(h.client->lastFailure().words.contains(words), qPrintable(h.client->lastFailure().words));
}

void TranscriptTest::saslPlainWaitsForContinuationWhenLong() {
    const QString user = QString(200, QLatin1Char('u'));
    QByteArray token = '\0' + user.toLatin1() + '\0' + kPassword;
    token = token.toBase64();
    Harness h("S: +OK\nC: CAPA\nS: +OK\nS: SASL PLAIN\nS: .\nC: AUTH PLAIN\nS: + \nC: " + token +
              "\nS: +OK\nC: CAPA\nS: -ERR\n");
    h.client->setUserName(user);
    QCOMPARE(h.client->Connect(), Result::Ok);
    QVERIFY2(h.factory->record->errors.isEmpty(), qPrintable(h.errors()));
}

void TranscriptTest::lineBreaksInCredentialsAreRefused_data() {
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::addColumn<Result>("expected");
    QTest::newRow("user") << "bob\r\nDELE 1"
                          << "pw" << Result::UserRejected;
    QTest::newRow("password") << "bob"
                              << "pw\nDELE 1" << Result::LoginRejected;
}

void TranscriptTest::lineBreaksInCredentialsAreRefused() {
    QFETCH(QString, user);
    QFETCH(QString, password);
    Harness h(QByteArray("S: +OK\n"));
    h.client->setUserName(user);
    h.client->setPassword(password);
    QTEST(h.client->Connect(), "expected");
    QVERIFY(h.factory->record->written.isEmpty());
}

void TranscriptTest::headers_data() {
    QTest::addColumn<QByteArray>("log");
    QTest::addColumn<QList<int>>("flags");
    QTest::addColumn<QList<QByteArray>>("headers");
    QTest::addColumn<QList<QByteArray>>("uidls");

    QTest::newRow("pipelined LIST, UIDL and TOPs") << loginLog("PIPELINING UIDL TOP") + R"(
C: LIST
C: UIDL
S: +OK 2 messages
S: 1 120
S: 2 200
S: .
S: +OK
S: 1 uid-one
S: 2 uid-two
S: .
C: TOP 1 0
C: TOP 2 0
S: +OK
S: Subject: one
S: 
S: .
S: +OK
S: Subject: two
S: 
S: .
)" << QList<int>{2, 2} << QList<QByteArray>{"Subject: one\r\n\r\n", "Subject: two\r\n\r\n"}
                                                   << QList<QByteArray>{"uid-one", "uid-two"};
    QTest::newRow("one at a time without PIPELINING") << loginLog("UIDL TOP") + R"(
C: LIST
S: +OK
S: 2 20
S: 1 10
S: .
C: UIDL
S: +OK
S: 1 a
S: 2 b
S: .
C: TOP 2 0
S: +OK
S: X: 2
S: .
C: TOP 1 0
S: +OK
S: X: 1
S: .
)" << QList<int>{2, 2} << QList<QByteArray>{"X: 2\r\n", "X: 1\r\n"}
                                                      << QList<QByteArray>{"b", "a"};
    QTest::newRow("dot-stuffed lines are unstuffed") << loginLog("") + R"(
C: LIST
S: +OK
S: 1 10
S: .
C: TOP 1 0
S: +OK
S: Subject: ..dots
S: X-A: .
S: ..
S: .
)" << QList<int>{2} << QList<QByteArray>{"Subject: ..dots\r\nX-A: .\r\n.\r\n"}
                                                     << QList<QByteArray>{""};
    QTest::newRow("TOP refused: the row stays, flagged 1") << loginLog("PIPELINING") + R"(
C: LIST
S: +OK
S: 1 10
S: 2 10
S: 3 10
S: .
C: TOP 1 0
C: TOP 2 0
C: TOP 3 0
S: +OK
S: A: 1
S: .
S: -ERR no such message
S: +OK
S: A: 3
S: .
)" << QList<int>{2, 1, 2} << QList<QByteArray>{"A: 1\r\n", "", "A: 3\r\n"}
                                                           << QList<QByteArray>{"", "", ""};
    QTest::newRow("empty mailbox") << loginLog("PIPELINING UIDL") +
                                          "C: LIST\nC: UIDL\nS: +OK\nS: .\nS: +OK\nS: .\n"
                                   << QList<int>{} << QList<QByteArray>{} << QList<QByteArray>{};
}

void TranscriptTest::headers() {
    QFETCH(QByteArray, log);
    QFETCH(QList<int>, flags);
    QFETCH(QList<QByteArray>, headers);
    QFETCH(QList<QByteArray>, uidls);

    Harness h(log);
    QList<int> progress;
    QObject::connect(h.client.get(), &BlockingClient::StatusMessage, this,
                     [&](const QString&, int nMin, int nMax, StatusCode code) {
                         QCOMPARE(code, StatusCode::Header);
                         QCOMPARE(nMax, int(flags.size()));
                         progress << nMin;
                     });
    QCOMPARE(h.client->Connect(), Result::Ok);
    QCOMPARE(h.client->GetHeaders(), Result::Ok);
    QVERIFY2(h.factory->record->errors.isEmpty(), qPrintable(h.errors()));
    QCOMPARE(h.client->Count(), int(flags.size()));
    for (int i = 0; i < flags.size(); ++i) {
        const Message& m = h.client->Item(i + 1);
        QCOMPARE(int(m.MessageStatusFlag), flags[i]);
        QCOMPARE(m.Headers, headers[i]);
        QCOMPARE(m.Uidl, uidls[i]);
    }
    // Progress is told at the first and the last answer, and at most every few ms
    // in between, always counting up.
    if (!flags.isEmpty()) {
        QCOMPARE(progress.value(0), 1);
        QCOMPARE(progress.value(progress.size() - 1), int(flags.size()));
        QVERIFY(std::is_sorted(progress.begin(), progress.end()));
    } else {
        QVERIFY(progress.isEmpty());
    }
}

// Every possible read boundary inside the replies to pipelined commands.
void TranscriptTest::pipelinedRepliesSplitAtEveryByte() {
    const QByteArray login = loginLog("PIPELINING");
    const QByteArray body = "C: LIST\nS: +OK\nS: 1 5\nS: 2 7\nS: .\nC: TOP 1 0\nC: TOP 2 0\n" + topReply(1) +
                            "S: -ERR gone\n" + "C: QUIT\nS: +OK bye\n";
    const qsizetype loginBytes = Transcript::parse(login).serverBytes().size();
    const qsizetype totalBytes = Transcript::parse(login + body).serverBytes().size();
    for (qsizetype cut = loginBytes + 1; cut < totalBytes; ++cut) {
        Transcript script = Transcript::parse(login + body);
        script.cuts = {cut};
        Harness h(std::move(script), QStringLiteral("pop3s://mail.example"));
        QCOMPARE(h.client->Connect(), Result::Ok);
        QCOMPARE(h.client->GetHeaders(), Result::Ok);
        QCOMPARE(h.client->Count(), 2);
        QCOMPARE(h.client->Item(1).Subject, QStringLiteral("message 1"));
        QCOMPARE(h.client->Item(1).From, QStringLiteral("Sender 1"));
        QCOMPARE(h.client->Item(1).Size, qint64(5));
        QCOMPARE(h.client->Item(2).MessageStatusFlag, MessageStatus::TopFailed);
        QCOMPARE(h.client->Item(2).Size, qint64(7));
        QCOMPARE(h.client->Disconnect(), Result::Ok);
        QVERIFY2(h.factory->record->errors.isEmpty(), qPrintable(h.errors()));
    }
}

void TranscriptTest::getHeadersFailures_data() {
    QTest::addColumn<QByteArray>("log");
    QTest::addColumn<Result>("expected");
    const QByteArray list =
        loginLog("PIPELINING") + "C: LIST\nS: +OK\nS: 1 5\nS: 2 7\nS: .\nC: TOP 1 0\nC: TOP 2 0\n";
    QTest::newRow("server closes in the middle of a header") << list + "S: +OK\nS: Subject: cut\nS: <close>\n"
                                                             << Result::ConnectionLost;
    QTest::newRow("server closes between replies") << list + topReply(1) + "S: <close>\n"
                                                   << Result::ConnectionLost;
    QTest::newRow("server stalls") << list + topReply(1) + "S: <stall>\n" << Result::ResponseTimeout;
    QTest::newRow("garbage in LIST") << loginLog("") + "C: LIST\nS: +OK\nS: one two\nS: .\n"
                                     << Result::HeadersUnparsable;
}

void TranscriptTest::getHeadersFailures() {
    QFETCH(QByteArray, log);
    QFETCH(Result, expected);
    Harness h(log);
    h.client->setTimeoutSeconds(1);
    QCOMPARE(h.client->Connect(), Result::Ok);
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(h.client->GetHeaders(), expected);
    QVERIFY(timer.elapsed() < 4000);
    QVERIFY(!h.client->isConnected());
    // Nothing was confirmed: Disconnect says why the session ended, never 0.
    QCOMPARE(h.client->Disconnect(), expected);
}

void TranscriptTest::cancelDuringConnect() {
    Harness h(QByteArray("S: <stall>\n"));
    h.client->setTimeoutSeconds(30);
    QObject::connect(h.client.get(), &BlockingClient::ConnectLog, this, [&] { h.client->CancelOperation(); });
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(h.client->Connect(), Result::Cancelled);
    QVERIFY(timer.elapsed() < 2000);
    QVERIFY(!h.client->isConnected());
}

void TranscriptTest::cancelDuringGetHeaders() {
    const QByteArray log = loginLog("PIPELINING") + "C: LIST\nS: +OK\nS: 1 5\nS: 2 7\nS: 3 9\nS: .\n" +
                           "C: TOP 1 0\nC: TOP 2 0\nC: TOP 3 0\n" + topReply(1) + "S: <stall>\n";
    Harness h(log);
    h.client->setTimeoutSeconds(30);
    QCOMPARE(h.client->Connect(), Result::Ok);
    QObject::connect(h.client.get(), &BlockingClient::StatusMessage, this, [&](const QString&, int nMin) {
        if (nMin == 1)
            h.client->CancelOperation();
    });
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(h.client->GetHeaders(), Result::Cancelled);
    QVERIFY(timer.elapsed() < 2000);
    QCOMPARE(h.client->Disconnect(), Result::Cancelled);
}

namespace {
// A session on the transcript, logged in, and a record of how its jobs ended.
struct QueueHarness {
    std::shared_ptr<FakeStreamFactory> factory;
    std::unique_ptr<Session> session;
    QStringList ended; // "<name> <code>", in the order the jobs finished

    explicit QueueHarness(const QByteArray& log)
        : factory(std::make_shared<FakeStreamFactory>(Transcript::parse(log))),
          session(std::make_unique<Session>(factory)) {}

    void add(Job* job, const QString& name) {
        QObject::connect(job, &Job::finished, session.get(), [this, name](const Failure& failure) {
            ended << name + QLatin1Char(' ') + QString::number(ResultCode(failure.code));
        });
        session->enqueue(job);
    }
    SessionSettings settings() const {
        SessionSettings s;
        s.address = QStringLiteral("pop3s://mail.example");
        s.user = QStringLiteral("bob");
        s.password = QString::fromLatin1(kPassword);
        s.timeoutSeconds = 30;
        return s;
    }
};
} // namespace

void TranscriptTest::jobsRunInTurn() {
    // A user's marks enqueued while a keep-alive waits for its answer: nothing is
    // refused, the marks go out after the NOOP's answer and the QUIT after theirs.
    const QByteArray log = loginLog("PIPELINING") + "C: LIST\nS: +OK\nS: 1 5\nS: 2 7\nS: .\n" +
                           "C: TOP 1 0\nC: TOP 2 0\n" + topReply(1) + topReply(2) +
                           "C: NOOP\nS: +OK\nC: DELE 2\nS: +OK\nC: QUIT\nS: +OK bye\n";
    QueueHarness h(log);
    h.add(new ConnectJob(h.settings()), QStringLiteral("connect"));
    h.add(new HeadersJob, QStringLiteral("headers"));
    h.add(new NoopJob, QStringLiteral("noop"));
    auto* mark = new MarkJob({2});
    QVector<Result> marks;
    QObject::connect(mark, &Job::finished, this, [&marks, mark] { marks = mark->results(); });
    h.add(mark, QStringLiteral("mark"));
    h.add(new QuitJob, QStringLiteral("quit"));
    QTRY_COMPARE(h.ended.size(), 5);
    QCOMPARE(h.ended,
             (QStringList{QStringLiteral("connect 0"), QStringLiteral("headers 0"), QStringLiteral("noop 0"),
                          QStringLiteral("mark 0"), QStringLiteral("quit 0")}));
    QCOMPARE(marks, QVector<Result>{Result::Ok});
    QVERIFY2(h.factory->record->errors.isEmpty(), qPrintable(h.factory->record->errors.join(u'\n')));
    QVERIFY(h.factory->scriptDone());
}

void TranscriptTest::cancelEndsQueuedJobsWithoutQuit() {
    const QByteArray log = loginLog("PIPELINING") + "C: NOOP\nS: <stall>\n";
    QueueHarness h(log);
    h.add(new ConnectJob(h.settings()), QStringLiteral("connect"));
    h.add(new NoopJob, QStringLiteral("noop"));
    h.add(new MarkJob({1}), QStringLiteral("mark"));
    h.add(new QuitJob, QStringLiteral("quit"));
    QTRY_VERIFY(h.factory->record->written.contains("NOOP"));
    h.session->cancel();
    QTRY_COMPARE(h.ended.size(), 4);
    QCOMPARE(h.ended.mid(1),
             (QStringList{QStringLiteral("noop 7"), QStringLiteral("mark 7"), QStringLiteral("quit 7")}));
    // Nothing after the stalled NOOP reached the server: no mark, and no QUIT to make one count.
    QVERIFY(!h.factory->record->written.contains("DELE"));
    QVERIFY(!h.factory->record->written.contains("QUIT"));
}

void TranscriptTest::sessionDeletedFromAJobSignal() {
    const QByteArray log = loginLog("PIPELINING") + "C: LIST\nS: +OK\nS: 1 5\nS: 2 7\nS: .\n" +
                           "C: TOP 1 0\nC: TOP 2 0\n" + topReply(1) + "S: <stall>\n";
    QueueHarness h(log);
    h.add(new ConnectJob(h.settings()), QStringLiteral("connect"));
    auto* headers = new HeadersJob;
    QPointer<HeadersJob> guard(headers);
    bool progressed = false;
    QObject::connect(headers, &Job::progress, this, [&] {
        progressed = true;
        // The owner lets go while the job runs: the job and its parser thread go with it, unfinished.
        h.session.release()->deleteLater();
    });
    h.add(headers, QStringLiteral("headers"));
    QTRY_VERIFY(progressed);
    QVERIFY(guard.isNull());
    QTest::qWait(50);
    QCOMPARE(h.ended, QStringList{QStringLiteral("connect 0")});
}

void TranscriptTest::keepAlive() {
    Harness h(loginLog("") + "C: NOOP\nS: +OK\n");
    h.client->setKeepAliveIdleSeconds(1);
    QCOMPARE(h.client->Connect(), Result::Ok);
    // Right after traffic: nothing is sent (the transcript would break otherwise).
    QCOMPARE(h.client->KeepAlive(), Result::Ok);
    QCOMPARE(h.client->KeepAlive(), Result::Ok);
    QVERIFY2(!h.scriptDone(), "NOOP sent although the session was not idle");
    QTest::qWait(1100);
    QCOMPARE(h.client->KeepAlive(), Result::Ok);
    QVERIFY(h.scriptDone());
    QCOMPARE(h.client->KeepAlive(), Result::Ok); // idle time starts again
    QVERIFY2(h.factory->record->errors.isEmpty(), qPrintable(h.errors()));

    BlockingClient notConnected(std::make_shared<FakeStreamFactory>(Transcript()));
    QCOMPARE(notConnected.KeepAlive(), Result::NotConnected);
}

void TranscriptTest::disconnect_data() {
    QTest::addColumn<QByteArray>("log");
    QTest::addColumn<Result>("expected");
    QTest::newRow("QUIT confirmed") << loginLog("") + "C: QUIT\nS: +OK bye\nS: <close>\n" << Result::Ok;
    QTest::newRow("QUIT refused") << loginLog("") + "C: QUIT\nS: -ERR some deleted messages not removed\n"
                                  << Result::CommandRefused;
    QTest::newRow("closed instead of confirming") << loginLog("") + "C: QUIT\nS: <close>\n"
                                                  << Result::ConnectionLost;
    QTest::newRow("no answer") << loginLog("") + "C: QUIT\nS: <stall>\n" << Result::ResponseTimeout;
    QTest::newRow("dropped before QUIT") << loginLog("") + "S: <close>\n" << Result::ConnectionLost;
}

void TranscriptTest::disconnect() {
    QFETCH(QByteArray, log);
    QFETCH(Result, expected);
    Harness h(log);
    h.client->setTimeoutSeconds(1);
    QCOMPARE(h.client->Connect(), Result::Ok);
    QTest::qWait(20); // lets an idle drop arrive
    QCOMPARE(h.client->Disconnect(), expected);
    QVERIFY(!h.client->isConnected());
    QVERIFY2(h.factory->record->errors.isEmpty(), qPrintable(h.errors()));
}

void TranscriptTest::batchDelete_data() {
    QTest::addColumn<QByteArray>("log");
    QTest::addColumn<QVector<int>>("numbers");
    QTest::addColumn<QVector<Result>>("results");
    // Rows in the server's order: row 2 is message 3, row 3 is message 2.
    const QByteArray list = "C: LIST\nS: +OK\nS: 1 5\nS: 3 7\nS: 2 9\nS: .\n";
    const QByteArray tops = topReply(1) + topReply(3) + topReply(2);
    QTest::newRow("pipelined, one refused")
        << loginLog("PIPELINING") + list + "C: TOP 1 0\nC: TOP 3 0\nC: TOP 2 0\n" + tops +
               "C: DELE 1\nC: DELE 2\nC: DELE 3\nS: +OK\nS: -ERR locked\nS: +OK\n"
        << QVector<int>{1, 3, 2} << QVector<Result>{Result::Ok, Result::CommandRefused, Result::Ok};
    QTest::newRow("one at a time, numbers outside the list")
        << loginLog("") + list + "C: TOP 1 0\n" + topReply(1) + "C: TOP 3 0\n" + topReply(3) +
               "C: TOP 2 0\n" + topReply(2) + "C: DELE 3\nS: +OK\nC: DELE 2\nS: +OK\n"
        << QVector<int>{0, 2, 4, 3}
        << QVector<Result>{Result::NoSuchMessage, Result::Ok, Result::NoSuchMessage, Result::Ok};
    QTest::newRow("connection lost mid-batch")
        << loginLog("PIPELINING") + list + "C: TOP 1 0\nC: TOP 3 0\nC: TOP 2 0\n" + tops +
               "C: DELE 1\nC: DELE 3\nS: +OK\nS: <close>\n"
        << QVector<int>{1, 2} << QVector<Result>{Result::Ok, Result::ConnectionLost};
}

void TranscriptTest::batchDelete() {
    QFETCH(QByteArray, log);
    QFETCH(QVector<int>, numbers);
    QFETCH(QVector<Result>, results);
    Harness h(log);
    QCOMPARE(h.client->Connect(), Result::Ok);
    QCOMPARE(h.client->GetHeaders(), Result::Ok);
    QCOMPARE(h.client->DeleteFromServer(numbers), results);
    QVERIFY2(h.factory->record->errors.isEmpty(), qPrintable(h.errors()));
}

QTEST_GUILESS_MAIN(TranscriptTest)
#include "transcripttest.moc"
