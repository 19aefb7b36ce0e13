#pragma once

#include "pop3/pop3types.h"

#include <QList>
#include <QObject>
#include <QSslCertificate>
#include <QString>
#include <QVector>
#include <memory>

namespace pop3 {

class Session; // the asynchronous state machine
class StreamFactory;

// The POP3 component. Calls block the caller but not the event loop: each one
// waits in a local event loop, so ConnectLog/StatusMessage and a Cancel button
// are delivered while it runs. A second call while one runs returns Busy.
// One instance per check.
class Client : public QObject {
    Q_OBJECT
public:
    explicit Client(QObject* parent = nullptr);
    // Test seam: the streams come from the factory instead of real sockets.
    Client(std::shared_ptr<StreamFactory> factory, QObject* parent = nullptr);
    ~Client() override;

    // Properties, set before Connect.
    void setUserName(const QString& user);
    void setPassword(const QString& password);
    void setHostName(const QString& address);     // see Endpoint::Parse
    void setDefaultPort(quint16 port);            // the settings port, 110 unless changed
    void setTimeoutSeconds(int seconds);          // response and connect time-out
    void setImplicitTlsProbeSeconds(int seconds); // bare host: how long 995 gets before STLS
    void addCaCertificates(const QList<QSslCertificate>& certificates); // trusted besides the system CAs
    void setCertificateExceptions(const QList<CertificateException>& exceptions);

    Result Connect();
    Result GetHeaders();
    // STAT: how many messages wait, without listing or downloading any. Ok when
    // the server answered; the number is then in *count.
    Result Stat(int* count);
    // Sends QUIT. Ok only when the server confirmed it: marked messages are gone
    // then, and only then. A session that an error already ended returns that
    // error (Cancelled, ConnectionLost, HeadersUnparsable after an oversized reply).
    Result Disconnect();
    // NOOP, only in the transaction state, only after a quiet spell, never while
    // another call runs (Busy). Ok when nothing needed doing.
    Result KeepAlive();
    // Makes the running call return promptly with Cancelled; the connection is dropped.
    void CancelOperation();

    // Messages, 1-based.
    int Count() const;
    const Message& Item(int n) const;
    // Marks one message (DELE). Ok = marked.
    Result DeleteFromServer(int n);
    // Marks many, pipelined when the server allows it; one result per number, in order.
    QVector<Result> DeleteFromServer(const QVector<int>& numbers);

    bool isConnected() const; // a session is open (transaction state)
    bool isBusy() const;      // a call is running

    // How the open session was reached (read it before Disconnect).
    struct ConnectionInfo {
        QString host;
        quint16 port = 0;
        Security security = Security::Auto; // Auto: the port-995 probe answered, so implicit TLS
        bool encrypted = false;
        QString tlsProtocol; // "TLS 1.3"; empty without TLS
        LoginMethod login = LoginMethod::None;
    };
    ConnectionInfo connectionInfo() const;
    QString lastServerReply() const; // the last -ERR text, for diagnostics (never holds the password)
    // Our own words for a failure caused by the server's data (a broken message
    // list, an oversized reply); empty otherwise.
    QString failureDetail() const;
    // Why the last Connect returned CertificateInvalid.
    TlsProblem lastTlsProblem() const;

    // Tuning, mostly for tests: NOOP only after this much silence (30 s by default),
    // and the pipelining window (1000 commands by default).
    void setKeepAliveIdleSeconds(int seconds);
    void setMaxCommandsInFlight(int commands);
    // Raw header bytes kept for one listing (512 MiB by default); rows past it
    // keep their parsed fields and are flagged 1.
    void setMaxKeptHeaderBytes(qint64 bytes);

Q_SIGNALS:
    void ConnectLog(const QString& text, int code);
    void StatusMessage(const QString& text, int nMin, int nMax, pop3::StatusCode code);

private:
    struct Wait;
    Result wait(Result started);
    void onFinished(pop3::Result result);

    std::unique_ptr<Session> m_session;
    Wait* m_wait = nullptr; // the running call's local event loop
    QString m_user;
    QString m_password;
    QString m_hostName;
    quint16 m_defaultPort = 110;
    int m_timeoutSeconds = 60;
    int m_probeSeconds = 3;
    QList<QSslCertificate> m_caCertificates;
    QList<CertificateException> m_certificateExceptions;
};

} // namespace pop3
