#pragma once

#include "pop3/pop3types.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QSslCertificate>
#include <QString>
#include <memory>

namespace pop3 {

// The byte stream under a session: a TLS-capable socket in production, a scripted
// fake in tests. The session sees nothing else of the network.
class Stream : public QObject {
    Q_OBJECT
public:
    enum class Failure {
        HostNotFound,
        Refused,
        RemoteClosed,
        Tls, // handshake failed or the certificate could not be verified
        Other,
    };
    Q_ENUM(Failure)

    using QObject::QObject;
    ~Stream() override = default;

    // Trusted in addition to the system CAs. Verification is never switched off.
    virtual void setCaCertificates(const QList<QSslCertificate>& certificates) = 0;
    // The one certificate to accept for this connection whatever its verification
    // errors (a user's exception for this host and port); empty: none.
    virtual void setAcceptedCertificate(const QByteArray& sha256) { Q_UNUSED(sha256) }
    // What went wrong with TLS when failed() reported Failure::Tls.
    virtual TlsProblem tlsProblem() const { return TlsProblem(); }
    // Opens the connection. With implicitTls the handshake runs first, and opened()
    // comes only once it has succeeded.
    virtual void open(const QString& host, quint16 port, bool implicitTls) = 0;
    // STLS: the handshake on the open connection; encrypted() when done.
    virtual void startTls() = 0;
    virtual bool isEncrypted() const = 0;
    // The TLS version in use; UnknownProtocol before or without TLS.
    virtual QSsl::SslProtocol tlsProtocol() const { return QSsl::UnknownProtocol; }
    virtual qint64 bytesAvailable() const = 0;
    virtual QByteArray readAll() = 0;
    virtual void write(const QByteArray& data) = 0;
    // Drops the connection at once; no signal follows.
    virtual void abort() = 0;

Q_SIGNALS:
    void opened();
    void encrypted();
    void readyRead();
    void failed(pop3::Stream::Failure failure, const QString& detail);
};

class StreamFactory {
public:
    virtual ~StreamFactory() = default;
    virtual std::unique_ptr<Stream> create() = 0;
};

// Streams on QSslSocket.
std::shared_ptr<StreamFactory> defaultStreamFactory();

} // namespace pop3
