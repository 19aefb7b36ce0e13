#pragma once

#include "pop3/stream.h"

#include <QSslSocket>

namespace pop3 {

// Stream on a real QSslSocket: peer verification always on, Nagle off, and
// delayed ACKs switched off after every read (servers that split replies with
// Nagle on otherwise stall ~40 ms per reply).
class SslStream : public Stream {
    Q_OBJECT
public:
    explicit SslStream(QObject* parent = nullptr);
    ~SslStream() override;

    void setCaCertificates(const QList<QSslCertificate>& certificates) override;
    void setAcceptedCertificate(const QByteArray& sha256) override;
    TlsProblem tlsProblem() const override;
    void open(const QString& host, quint16 port, bool implicitTls) override;
    void startTls() override;
    bool isEncrypted() const override;
    QSsl::SslProtocol tlsProtocol() const override { return m_socket.sessionProtocol(); }
    qint64 bytesAvailable() const override;
    QByteArray readAll() override;
    void write(const QByteArray& data) override;
    void abort() override;

private:
    void onConnected();
    void onEncrypted();
    void onError(QAbstractSocket::SocketError error);
    void onDisconnected();
    void onSslErrors(const QList<QSslError>& errors);
    void fail(Failure failure, const QString& detail);
    void failTls(const QString& fallbackDetail);
    void quickAck();

    QSslSocket m_socket;
    bool m_implicitTls = false;
    bool m_opened = false;
    bool m_handshaking = false;
    bool m_done = false; // failed or aborted: no more signals
    QString m_host;
    quint16 m_port = 0;
    QByteArray m_acceptedSha256;
    QList<QSslCertificate> m_extraCas; // trusted besides the system's store
    TlsProblem m_problem;
};

class SslStreamFactory : public StreamFactory {
public:
    std::unique_ptr<Stream> create() override;
};

} // namespace pop3
