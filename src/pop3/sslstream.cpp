#include "pop3/sslstream.h"

#include "pop3/extratrust.h"

#include <QCryptographicHash>
#include <QSslConfiguration>

#ifdef Q_OS_LINUX
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#endif

namespace pop3 {

SslStream::SslStream(QObject* parent) : Stream(parent) {
    connect(&m_socket, &QSslSocket::connected, this, &SslStream::onConnected);
    connect(&m_socket, &QSslSocket::encrypted, this, &SslStream::onEncrypted);
    connect(&m_socket, &QSslSocket::readyRead, this, &SslStream::readyRead);
    connect(&m_socket, &QSslSocket::errorOccurred, this, &SslStream::onError);
    connect(&m_socket, &QSslSocket::disconnected, this, &SslStream::onDisconnected);
    connect(&m_socket, &QSslSocket::sslErrors, this, &SslStream::onSslErrors);
}

SslStream::~SslStream() {
    m_done = true;
    m_socket.abort();
}

void SslStream::setCaCertificates(const QList<QSslCertificate>& certificates) {
    m_extraCas = certificates;
}

void SslStream::setAcceptedCertificate(const QByteArray& sha256) {
    m_acceptedSha256 = sha256;
}

TlsProblem SslStream::tlsProblem() const {
    return m_problem;
}

void SslStream::open(const QString& host, quint16 port, bool implicitTls) {
    m_implicitTls = implicitTls;
    m_host = host;
    m_port = port;
    m_socket.setPeerVerifyMode(QSslSocket::VerifyPeer);
    // Bounded reads: a fast server otherwise hands over (and TLS decrypts) many
    // megabytes in one event, and the event loop stalls for that long.
    m_socket.setReadBufferSize(256 * 1024);
    m_socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    if (implicitTls) {
        m_handshaking = true;
        m_socket.connectToHostEncrypted(host, port);
    } else {
        m_socket.connectToHost(host, port);
    }
}

void SslStream::startTls() {
    m_handshaking = true;
    m_socket.startClientEncryption();
}

bool SslStream::isEncrypted() const {
    return m_socket.isEncrypted();
}

qint64 SslStream::bytesAvailable() const {
    return m_socket.bytesAvailable();
}

QByteArray SslStream::readAll() {
    QByteArray data = m_socket.readAll();
    quickAck();
    return data;
}

void SslStream::write(const QByteArray& data) {
    m_socket.write(data);
}

void SslStream::abort() {
    m_done = true;
    m_socket.abort();
}

void SslStream::onConnected() {
    m_socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    if (!m_implicitTls && !m_opened) {
        m_opened = true;
        Q_EMIT opened();
    }
}

void SslStream::onEncrypted() {
    m_handshaking = false;
    if (m_implicitTls && !m_opened) {
        m_opened = true;
        Q_EMIT opened();
    } else {
        Q_EMIT encrypted();
    }
}

namespace {
TlsProblem::Reason ReasonOf(QSslError::SslError error) {
    using R = TlsProblem::Reason;
    switch (error) {
    case QSslError::SelfSignedCertificate:
    case QSslError::SelfSignedCertificateInChain:
        return R::SelfSigned;
    case QSslError::CertificateExpired:
        return R::Expired;
    case QSslError::CertificateNotYetValid:
        return R::NotYetValid;
    case QSslError::HostNameMismatch:
        return R::HostNameMismatch;
    case QSslError::UnableToGetIssuerCertificate:
    case QSslError::UnableToGetLocalIssuerCertificate:
    case QSslError::UnableToVerifyFirstCertificate:
    case QSslError::CertificateUntrusted:
        return R::UnknownIssuer;
    case QSslError::CertificateRevoked:
        return R::Revoked;
    default:
        return R::OtherVerificationError;
    }
}
} // namespace

void SslStream::onSslErrors(const QList<QSslError>& errors) {
    const QSslCertificate peer = m_socket.peerCertificate();
    // A user's exception accepts exactly one certificate, whatever is wrong with it.
    if (!m_acceptedSha256.isEmpty() && !peer.isNull() &&
        peer.digest(QCryptographicHash::Sha256) == m_acceptedSha256) {
        m_socket.ignoreSslErrors(errors);
        return;
    }
    // The system's store (read on demand by the TLS library) did not vouch for
    // the chain; the CAs the user trusts besides it may.
    if (!m_extraCas.isEmpty() && VerifiesWithExtraCas(m_socket.peerCertificateChain(), m_host, m_extraCas)) {
        m_socket.ignoreSslErrors(errors);
        return;
    }
    // Otherwise never ignored: the handshake fails and errorOccurred follows.
    m_problem = TlsProblem();
    m_problem.host = m_host;
    m_problem.port = m_port;
    m_problem.certificate = peer;
    QStringList texts;
    for (const QSslError& e : errors) {
        const TlsProblem::Reason reason = ReasonOf(e.error());
        if (!m_problem.reasons.contains(reason))
            m_problem.reasons.append(reason);
        if (m_problem.certificate.isNull())
            m_problem.certificate = e.certificate();
        texts << e.errorString();
    }
    m_problem.detail = texts.join(QStringLiteral("; "));
}

void SslStream::failTls(const QString& fallbackDetail) {
    if (m_problem.isEmpty()) {
        m_problem.host = m_host;
        m_problem.port = m_port;
        m_problem.reasons = {TlsProblem::Reason::HandshakeFailed};
        m_problem.detail = fallbackDetail;
    }
    fail(Failure::Tls, m_problem.detail);
}

void SslStream::onError(QAbstractSocket::SocketError error) {
    switch (error) {
    case QAbstractSocket::HostNotFoundError:
        fail(Failure::HostNotFound, m_socket.errorString());
        break;
    case QAbstractSocket::ConnectionRefusedError:
        fail(Failure::Refused, m_socket.errorString());
        break;
    case QAbstractSocket::SslHandshakeFailedError:
    case QAbstractSocket::SslInternalError:
    case QAbstractSocket::SslInvalidUserDataError:
        failTls(m_socket.errorString());
        break;
    case QAbstractSocket::RemoteHostClosedError:
        if (m_handshaking)
            failTls(m_socket.errorString());
        else
            fail(Failure::RemoteClosed, m_socket.errorString());
        break;
    default:
        if (m_handshaking)
            failTls(m_socket.errorString());
        else
            fail(Failure::Other, m_socket.errorString());
        break;
    }
}

void SslStream::onDisconnected() {
    if (m_handshaking)
        failTls(QStringLiteral("connection closed during the TLS handshake"));
    else
        fail(Failure::RemoteClosed, QStringLiteral("connection closed"));
}

void SslStream::fail(Failure failure, const QString& detail) {
    if (m_done)
        return;
    m_done = true;
    Q_EMIT failed(failure, detail);
}

void SslStream::quickAck() {
#ifdef Q_OS_LINUX
    // The kernel falls back to delayed ACKs after a while; re-arm after every read.
    const qintptr fd = m_socket.socketDescriptor();
    if (fd >= 0) {
        int one = 1;
        ::setsockopt(static_cast<int>(fd), IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
    }
#endif
}

std::unique_ptr<Stream> SslStreamFactory::create() {
    return std::make_unique<SslStream>();
}

std::shared_ptr<StreamFactory> defaultStreamFactory() {
    return std::make_shared<SslStreamFactory>();
}

} // namespace pop3
