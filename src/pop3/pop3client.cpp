#include "pop3/pop3client.h"

#include "pop3/session.h"

#include <QEventLoop>
#include <QPointer>
#include <QTimer>

namespace pop3 {

namespace {
// The watchdog's margin over the session's own time-outs: it only fires when the
// state machine failed to end an operation itself.
constexpr int kWatchdogSlackMs = 5000;
} // namespace

struct Client::Wait {
    QEventLoop loop;
    Result result = Result::Pending;
};

Client::Client(QObject* parent) : Client(defaultStreamFactory(), parent) {}

Client::Client(std::shared_ptr<StreamFactory> factory, QObject* parent)
    : QObject(parent), m_session(std::make_unique<Session>(std::move(factory))) {
    // Queued: a receiver may delete this client; the session must not be on the stack then.
    connect(m_session.get(), &Session::finished, this, &Client::onFinished, Qt::QueuedConnection);
    connect(m_session.get(), &Session::log, this, &Client::ConnectLog, Qt::QueuedConnection);
    connect(m_session.get(), &Session::status, this, &Client::StatusMessage, Qt::QueuedConnection);
}

Client::~Client() {
    if (m_wait) {
        if (m_wait->result == Result::Pending)
            m_wait->result = Result::Cancelled;
        m_wait->loop.quit();
    }
}

void Client::setUserName(const QString& user) {
    m_user = user;
}
void Client::setPassword(const QString& password) {
    m_password = password;
}
void Client::setHostName(const QString& address) {
    m_hostName = address;
}
void Client::setDefaultPort(quint16 port) {
    m_defaultPort = port;
}
void Client::setTimeoutSeconds(int seconds) {
    m_timeoutSeconds = qMax(1, seconds);
}
void Client::setImplicitTlsProbeSeconds(int seconds) {
    m_probeSeconds = qMax(1, seconds);
}
void Client::addCaCertificates(const QList<QSslCertificate>& certificates) {
    m_caCertificates += certificates;
}
void Client::setCertificateExceptions(const QList<CertificateException>& exceptions) {
    m_certificateExceptions = exceptions;
}
void Client::setKeepAliveIdleSeconds(int seconds) {
    m_session->setKeepAliveIdleSeconds(seconds);
}
void Client::setMaxKeptHeaderBytes(qint64 bytes) {
    m_session->setMaxKeptHeaderBytes(bytes);
}
void Client::setMaxCommandsInFlight(int commands) {
    m_session->setMaxInFlight(commands);
}

Result Client::Connect() {
    if (m_wait)
        return Result::Busy;
    SessionSettings settings;
    settings.user = m_user;
    settings.password = m_password;
    if (!Endpoint::Parse(m_hostName, m_defaultPort, settings.endpoint))
        return Result::HostNotFound;
    settings.timeoutSeconds = m_timeoutSeconds;
    settings.probeSeconds = m_probeSeconds;
    settings.caCertificates = m_caCertificates;
    settings.certificateExceptions = m_certificateExceptions;
    return wait(m_session->startConnect(settings));
}

Result Client::GetHeaders() {
    return m_wait ? Result::Busy : wait(m_session->startGetHeaders());
}

Result Client::Stat(int* count) {
    if (m_wait)
        return Result::Busy;
    const Result result = wait(m_session->startStat());
    if (result == Result::Ok && count)
        *count = m_session->statCount();
    return result;
}

Result Client::Disconnect() {
    return m_wait ? Result::Busy : wait(m_session->startDisconnect());
}

Result Client::KeepAlive() {
    return m_wait ? Result::Busy : wait(m_session->startKeepAlive());
}

void Client::CancelOperation() {
    m_session->cancel();
}

int Client::Count() const {
    return m_session->count();
}

const Message& Client::Item(int n) const {
    return m_session->item(n);
}

Result Client::DeleteFromServer(int n) {
    return DeleteFromServer(QVector<int>{n}).value(0, Result::ConnectionProblem);
}

QVector<Result> Client::DeleteFromServer(const QVector<int>& numbers) {
    if (m_wait)
        return QVector<Result>(numbers.size(), Result::Busy);
    QPointer<Client> self(this);
    const Result result = wait(m_session->startDelete(numbers));
    if (!self)
        return QVector<Result>(numbers.size(), result);
    return m_session->deleteResults();
}

bool Client::isConnected() const {
    return m_session->state() == Session::State::Transaction;
}
bool Client::isBusy() const {
    return m_wait != nullptr;
}

Client::ConnectionInfo Client::connectionInfo() const {
    ConnectionInfo info;
    info.host = m_session->endpoint().host;
    info.port = m_session->connectedPort();
    info.security = m_session->security();
    info.encrypted = m_session->isEncrypted();
    info.login = m_session->loginMethod();
    switch (m_session->tlsProtocol()) {
    case QSsl::TlsV1_2:
        info.tlsProtocol = QStringLiteral("TLS 1.2");
        break;
    case QSsl::TlsV1_3:
        info.tlsProtocol = QStringLiteral("TLS 1.3");
        break;
    default: // older versions are refused by the TLS library's defaults
        if (info.encrypted)
            info.tlsProtocol = QStringLiteral("TLS");
        break;
    }
    return info;
}
QString Client::failureDetail() const {
    return m_session->failureDetail();
}

TlsProblem Client::lastTlsProblem() const {
    return m_session->lastTlsProblem();
}

QString Client::lastServerReply() const {
    return m_session->lastServerReply();
}

void Client::onFinished(Result result) {
    if (m_wait && m_wait->result == Result::Pending) {
        m_wait->result = result;
        m_wait->loop.quit();
    }
}

Result Client::wait(Result started) {
    if (started != Result::Pending)
        return started;
    QPointer<Client> self(this);
    Wait wait;
    m_wait = &wait;
    // Hard limit on the wait, measured from the last traffic: a stalled state
    // machine must not hang the caller.
    QTimer watchdog;
    const qint64 limitMs = qint64(m_timeoutSeconds) * 1000 + kWatchdogSlackMs + (m_probeSeconds * 1000);
    // The client (and its session) may be deleted by a slot during the wait.
    const QPointer<Session> session(m_session.get());
    connect(&watchdog, &QTimer::timeout, &wait.loop, [session, limitMs] {
        if (session && session->msSinceActivity() > limitMs)
            session->abortOperation(Result::ResponseTimeout);
    });
    watchdog.start(500);
    if (wait.result == Result::Pending)
        wait.loop.exec();
    if (!self)
        return wait.result; // deleted by a slot during the wait; set by the destructor
    m_wait = nullptr;
    return wait.result;
}

} // namespace pop3
