// The client against a real TLS server of our own, for faults no real server
// produces on demand: drops at every command, hostile sizes, STLS attacks and
// certificates that must be refused before any credential leaves.
#include "scriptedserver.h"
#include "support/blockingclient.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QSslSocket>
#include <QTest>

using namespace pop3;
using Tls = ScriptedPop3Server::Tls;
using Action = ScriptedPop3Server::Action;

namespace {

QString address(const ScriptedPop3Server& server, Tls tls,
                const QString& host = QStringLiteral("localhost")) {
    const QString hostPort = host + u':' + QString::number(server.serverPort());
    return tls == Tls::Implicit ? QStringLiteral("pop3s://") + hostPort : hostPort;
}

std::unique_ptr<BlockingClient> makeClient(const ScriptedPop3Server& server, Tls tls,
                                           const QString& host = QStringLiteral("localhost")) {
    auto client = std::make_unique<BlockingClient>();
    client->setHostName(address(server, tls, host));
    client->setUserName(QStringLiteral("bob"));
    client->setPassword(QString::fromLatin1(server.password));
    client->setTimeoutSeconds(5);
    client->addCaCertificates(ScriptedPop3Server::testCa());
    return client;
}

QList<QByteArray> sampleHeaders(int n) {
    QList<QByteArray> headers;
    for (int i = 1; i <= n; ++i)
        headers << "From: Sender " + QByteArray::number(i) + " <s" + QByteArray::number(i) +
                       "@example.com>\r\nSubject: message " + QByteArray::number(i) + "\r\n";
    return headers;
}

} // namespace

class TlsServerTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void fullSession_data();
    void fullSession();
    void refusedCertificate_data();
    void refusedCertificate();
    void explicitPort_data();
    void explicitPort();
    void stlsRefused();
    void bytesInjectedAfterStls();
    void dropAtEveryCommand_data();
    void dropAtEveryCommand();
    void hugeHeaderLine();
    void refusalSaysWhy_data();
    void refusalSaysWhy();
    void tlsToPlainPortIsAHandshakeFailure();
    void exceptionAcceptsExactlyItsCertificate_data();
    void exceptionAcceptsExactlyItsCertificate();
};

void TlsServerTest::initTestCase() {
    if (!QSslSocket::supportsSsl())
        QSKIP("no TLS backend");
    QVERIFY(!ScriptedPop3Server::testCa().isEmpty());
}

void TlsServerTest::fullSession_data() {
    QTest::addColumn<int>("tls");
    QTest::newRow("implicit TLS") << int(Tls::Implicit);
    QTest::newRow("STLS") << int(Tls::StartTls);
}

void TlsServerTest::fullSession() {
    QFETCH(int, tls);
    ScriptedPop3Server server(Tls(tls), QStringLiteral("server"));
    server.headers = sampleHeaders(5);
    auto client = makeClient(server, Tls(tls));
    QCOMPARE(client->Connect(), Result::Ok);
    QCOMPARE(client->GetHeaders(), Result::Ok);
    QCOMPARE(client->Count(), 5);
    QCOMPARE(client->Item(3).Subject, QStringLiteral("message 3"));
    QCOMPARE(client->Item(3).Uidl, QByteArray("uid3"));
    QCOMPARE(client->DeleteFromServer(QVector<int>{2, 4}), (QVector<Result>{Result::Ok, Result::Ok}));
    QVERIFY(server.deleted.isEmpty()); // marked only
    QCOMPARE(client->Disconnect(), Result::Ok);
    QCOMPARE(server.deleted, (QSet<int>{2, 4}));
}

void TlsServerTest::refusedCertificate_data() {
    QTest::addColumn<int>("tls");
    QTest::addColumn<QString>("cert");
    QTest::addColumn<QString>("host");
    for (Tls tls : {Tls::Implicit, Tls::StartTls}) {
        const char* mode = tls == Tls::Implicit ? "implicit" : "STLS";
        QTest::addRow("%s, self-signed", mode) << int(tls) << "selfsigned"
                                               << "localhost";
        QTest::addRow("%s, wrong host", mode) << int(tls) << "wronghost"
                                              << "localhost";
        QTest::addRow("%s, expired", mode) << int(tls) << "expired"
                                           << "localhost";
        QTest::addRow("%s, good certificate for another name", mode) << int(tls) << "server"
                                                                     << "127.0.0.2";
    }
}

void TlsServerTest::refusedCertificate() {
    QFETCH(int, tls);
    QFETCH(QString, cert);
    QFETCH(QString, host);
    // 127.0.0.2 is loopback too, but the good certificate names only localhost and 127.0.0.1.
    ScriptedPop3Server server(
        Tls(tls), cert,
        QHostAddress(host == QLatin1String("localhost") ? QStringLiteral("127.0.0.1") : host));
    if (!server.isListening())
        QSKIP("this loopback address is not usable here");
    ScriptedPop3Server* target = &server;
    auto client = makeClient(*target, Tls(tls), host);
    QCOMPARE(client->Connect(), Result::CertificateInvalid);
    QVERIFY(!target->received.contains(target->password));
    QVERIFY(!target->received.contains("USER"));
}

void TlsServerTest::explicitPort_data() {
    QTest::addColumn<int>("tls");
    QTest::addColumn<int>("greetingDelayMs");
    QTest::addColumn<int>("probeSeconds");
    QTest::addColumn<int>("security");
    QTest::addColumn<int>("maxMs");
    QTest::newRow("TLS from the first byte: implicit TLS after the probe")
        << int(Tls::Implicit) << 0 << 3 << int(Security::ImplicitTls) << 6000;
    QTest::newRow("STLS server: STLS at once")
        << int(Tls::StartTls) << 0 << 3 << int(Security::StartTls) << 1500;
    QTest::newRow("greeting later than the probe: no TLS there, STLS after all")
        << int(Tls::StartTls) << 1500 << 1 << int(Security::StartTls) << 6000;
}

// "host:port" with a port other than 995, time-out 30 s: whatever the port
// speaks, the session gets in well within the time-out, and never sends a
// credential before TLS.
void TlsServerTest::explicitPort() {
    QFETCH(int, tls);
    QFETCH(int, greetingDelayMs);
    QFETCH(int, probeSeconds);
    QFETCH(int, security);
    QFETCH(int, maxMs);
    ScriptedPop3Server server(Tls(tls), QStringLiteral("server"));
    server.headers = sampleHeaders(2);
    server.greetingDelayMs = greetingDelayMs;
    auto client = makeClient(server, Tls::StartTls);
    client->setTimeoutSeconds(30);
    client->setImplicitTlsProbeSeconds(probeSeconds);
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(client->Connect(), Result::Ok);
    const qint64 elapsed = timer.elapsed();
    qInfo("logged in after %lld ms", elapsed);
    QVERIFY2(elapsed < maxMs, QByteArray::number(elapsed));
    const pop3::ConnectionInfo info = client->connectionInfo();
    QCOMPARE(int(info.security), security);
    QVERIFY(info.encrypted);
    QCOMPARE(info.port, server.serverPort());
    QCOMPARE(client->GetHeaders(), Result::Ok);
    QCOMPARE(client->Count(), 2);
    QCOMPARE(client->Disconnect(), Result::Ok);
    // What the server read before any STLS (all of it, without STLS) held no credential.
    const qsizetype stls = server.received.indexOf("STLS");
    const QByteArray beforeTls = tls == int(Tls::Implicit) ? QByteArray() : server.received.left(stls);
    QVERIFY(tls == int(Tls::Implicit) || stls >= 0);
    QVERIFY(!beforeTls.contains("USER") && !beforeTls.contains(server.password));
    QVERIFY(server.received.contains("PASS " + server.password));
}

void TlsServerTest::stlsRefused() {
    ScriptedPop3Server server(Tls::StartTls, QStringLiteral("server"));
    server.hook = [](ScriptedPop3Server::Connection& c, const QByteArray& command, int) {
        if (command != "STLS")
            return Action::Default;
        c.send("-ERR TLS is not available today\r\n");
        return Action::Handled;
    };
    auto client = makeClient(server, Tls::StartTls);
    QCOMPARE(client->Connect(), Result::NoSecureConnection);
    QTest::qWait(50);
    QVERIFY(!server.received.contains(server.password));
    QVERIFY(!server.received.contains("USER"));
}

void TlsServerTest::bytesInjectedAfterStls() {
    ScriptedPop3Server server(Tls::StartTls, QStringLiteral("server"));
    server.hook = [](ScriptedPop3Server::Connection& c, const QByteArray& command, int) {
        if (command != "STLS")
            return Action::Default;
        // A man in the middle appends a reply that the client would otherwise
        // take as having come through TLS.
        c.send("+OK begin TLS\r\n+OK\r\nSASL PLAIN\r\n.\r\n");
        return Action::Handled;
    };
    auto client = makeClient(server, Tls::StartTls);
    QCOMPARE(client->Connect(), Result::CertificateInvalid);
    QTest::qWait(50);
    QVERIFY(!server.received.contains(server.password));
    QVERIFY(!server.received.contains("AUTH"));
}

void TlsServerTest::dropAtEveryCommand_data() {
    QTest::addColumn<int>("dropAt");
    QTest::addColumn<bool>("afterReply");
    // CAPA, USER, PASS, CAPA, LIST, UIDL, TOP x3, DELE x2, QUIT
    for (int k = 1; k <= 12; ++k) {
        QTest::addRow("before reply %d", k) << k << false;
        QTest::addRow("after reply %d", k) << k << true;
    }
}

void TlsServerTest::dropAtEveryCommand() {
    QFETCH(int, dropAt);
    QFETCH(bool, afterReply);
    ScriptedPop3Server server(Tls::Implicit, QStringLiteral("server"));
    server.headers = sampleHeaders(3);
    server.hook = [&](ScriptedPop3Server::Connection& c, const QByteArray&, int index) {
        if (index != dropAt)
            return Action::Default;
        if (afterReply)
            return Action::DefaultThenDrop;
        c.drop();
        return Action::Handled;
    };
    auto client = makeClient(server, Tls::Implicit);
    const Result connected = client->Connect();
    Result headers = Result::Pending;
    QVector<Result> marks;
    Result quit = Result::Pending;
    if (connected == Result::Ok) {
        headers = client->GetHeaders();
        if (headers == Result::Ok)
            marks = client->DeleteFromServer(QVector<int>{1, 3});
        quit = client->Disconnect();
    } else {
        QCOMPARE(connected, Result::ConnectionProblem);
    }
    QVERIFY(headers == Result::Pending || headers == Result::Ok || headers == Result::ConnectionLost);
    for (Result m : marks)
        QVERIFY(m == Result::Ok || m == Result::ConnectionLost);
    QTest::qWait(20);
    // Deletions happen only when QUIT was confirmed, and the client says so truthfully.
    if (quit == Result::Ok) {
        QCOMPARE(server.deleted, (QSet<int>{1, 3}));
    } else {
        QVERIFY(server.deleted.isEmpty());
        if (connected == Result::Ok)
            QCOMPARE(quit, Result::ConnectionLost);
    }
    // Dropping after QUIT's reply is an ordinary end; anything earlier must fail.
    QCOMPARE(quit == Result::Ok, dropAt == 12 && afterReply);
}

void TlsServerTest::hugeHeaderLine() {
    ScriptedPop3Server server(Tls::Implicit, QStringLiteral("server"));
    server.headers = sampleHeaders(3);
    server.hook = [](ScriptedPop3Server::Connection& c, const QByteArray& command, int) {
        if (command != "TOP 2 0")
            return Action::Default;
        c.send("+OK\r\nSubject: " + QByteArray(10 * 1024 * 1024, 'x') + "\r\n\r\n.\r\n");
        return Action::Handled;
    };
    auto client = makeClient(server, Tls::Implicit);
    QCOMPARE(client->Connect(), Result::Ok);
    // Only that message pays: it is listed, flagged, and the others arrive whole.
    QCOMPARE(client->GetHeaders(), Result::Ok);
    QCOMPARE(client->Count(), 3);
    QCOMPARE(client->Item(2).MessageStatusFlag, MessageStatus::TopFailed);
    QVERIFY(client->Item(2).Headers.isEmpty());
    QCOMPARE(client->Item(1).Subject, QStringLiteral("message 1"));
    QCOMPARE(client->Item(3).Subject, QStringLiteral("message 3"));
    QVERIFY(client->isConnected());
    QCOMPARE(client->Disconnect(), Result::Ok);
}

namespace {
QByteArray digestOf(const QString& certName) {
    const QList<QSslCertificate> certs =
        QSslCertificate::fromPath(ScriptedPop3Server::dataPath(certName + QStringLiteral(".pem")));
    return certs.isEmpty() ? QByteArray() : certs.first().digest(QCryptographicHash::Sha256);
}
} // namespace

void TlsServerTest::refusalSaysWhy_data() {
    QTest::addColumn<QString>("cert");
    QTest::addColumn<int>("reason");
    using R = TlsProblem::Reason;
    QTest::newRow("self-signed") << "selfsigned" << int(R::SelfSigned);
    QTest::newRow("expired") << "expired" << int(R::Expired);
    QTest::newRow("another host") << "wronghost" << int(R::HostNameMismatch);
}

void TlsServerTest::refusalSaysWhy() {
    QFETCH(QString, cert);
    QFETCH(int, reason);
    ScriptedPop3Server server(Tls::Implicit, cert);
    auto client = makeClient(server, Tls::Implicit);
    QCOMPARE(client->Connect(), Result::CertificateInvalid);
    const TlsProblem problem = client->lastTlsProblem();
    QVERIFY2(problem.reasons.contains(TlsProblem::Reason(reason)), qPrintable(problem.detail));
    QCOMPARE(problem.host, QStringLiteral("localhost"));
    QCOMPARE(problem.port, server.serverPort());
    QCOMPARE(problem.certificate.digest(QCryptographicHash::Sha256), digestOf(cert));
    QVERIFY(problem.canBeExcepted());
    QVERIFY(!server.received.contains("USER"));
}

void TlsServerTest::tlsToPlainPortIsAHandshakeFailure() {
    ScriptedPop3Server server(Tls::None, QStringLiteral("server"));
    auto client = makeClient(server, Tls::Implicit);
    QCOMPARE(client->Connect(), Result::CertificateInvalid);
    const TlsProblem problem = client->lastTlsProblem();
    QCOMPARE(problem.reasons, QList<TlsProblem::Reason>{TlsProblem::Reason::HandshakeFailed});
    QVERIFY(problem.certificate.isNull());
    QVERIFY(!problem.canBeExcepted());
}

void TlsServerTest::exceptionAcceptsExactlyItsCertificate_data() {
    QTest::addColumn<int>("tls");
    QTest::addColumn<QString>("serverCert");
    QTest::addColumn<QString>("trustedCert");
    QTest::addColumn<int>("portOffset");
    QTest::addColumn<QString>("exceptionHost");
    QTest::addColumn<bool>("accepted");
    for (Tls tls : {Tls::Implicit, Tls::StartTls}) {
        const char* mode = tls == Tls::Implicit ? "implicit" : "STLS";
        QTest::addRow("%s, self-signed trusted", mode) << int(tls) << "selfsigned"
                                                       << "selfsigned" << 0 << "localhost" << true;
        QTest::addRow("%s, expired trusted", mode) << int(tls) << "expired"
                                                   << "expired" << 0 << "LOCALHOST" << true;
        QTest::addRow("%s, another certificate on that server", mode)
            << int(tls) << "expired"
            << "selfsigned" << 0 << "localhost" << false;
        QTest::addRow("%s, trusted for another port", mode) << int(tls) << "selfsigned"
                                                            << "selfsigned" << 1 << "localhost" << false;
        QTest::addRow("%s, trusted for another host", mode) << int(tls) << "selfsigned"
                                                            << "selfsigned" << 0 << "127.0.0.1" << false;
    }
}

void TlsServerTest::exceptionAcceptsExactlyItsCertificate() {
    QFETCH(int, tls);
    QFETCH(QString, serverCert);
    QFETCH(QString, trustedCert);
    QFETCH(int, portOffset);
    QFETCH(QString, exceptionHost);
    QFETCH(bool, accepted);
    ScriptedPop3Server server(Tls(tls), serverCert);
    server.headers = sampleHeaders(2);
    auto client = makeClient(server, Tls(tls));
    const auto port = static_cast<quint16>(server.serverPort() + portOffset);
    client->setCertificateExceptions({{exceptionHost, port, digestOf(trustedCert)}});
    if (!accepted) {
        QCOMPARE(client->Connect(), Result::CertificateInvalid);
        QVERIFY(!client->lastTlsProblem().isEmpty());
        QTest::qWait(20);
        QVERIFY(!server.received.contains(server.password));
        QVERIFY(!server.received.contains("USER"));
        return;
    }
    QCOMPARE(client->Connect(), Result::Ok);
    QCOMPARE(client->GetHeaders(), Result::Ok);
    QCOMPARE(client->Count(), 2);
    QCOMPARE(client->Disconnect(), Result::Ok);
}

QTEST_GUILESS_MAIN(TlsServerTest)
#include "tlsservertest.moc"
