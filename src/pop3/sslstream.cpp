#include "sslstream.h"

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
    QSslConfiguration config = m_socket.sslConfiguration();
    config.addCaCertificates(certificates);
    m_socket.setSslConfiguration(config);
}

void SslStream::open(const QString& host, quint16 port, bool implicitTls) {
    m_implicitTls = implicitTls;
    m_socket.setPeerVerifyMode(QSslSocket::VerifyPeer);
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

void SslStream::onSslErrors(const QList<QSslError>& errors) {
    // Never ignored: the handshake fails and errorOccurred follows.
    QStringList texts;
    for (const QSslError& e : errors)
        texts << e.errorString();
    m_sslErrorText = texts.join(QStringLiteral("; "));
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
        fail(Failure::Tls, m_sslErrorText.isEmpty() ? m_socket.errorString() : m_sslErrorText);
        break;
    case QAbstractSocket::RemoteHostClosedError:
        fail(m_handshaking ? Failure::Tls : Failure::RemoteClosed, m_socket.errorString());
        break;
    default:
        fail(m_handshaking ? Failure::Tls : Failure::Other, m_socket.errorString());
        break;
    }
}

void SslStream::onDisconnected() {
    fail(m_handshaking ? Failure::Tls : Failure::RemoteClosed, QStringLiteral("connection closed"));
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
