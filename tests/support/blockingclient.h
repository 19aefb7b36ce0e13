#pragma once

#include "pop3/job.h"
#include "pop3/session.h"
#include "pop3/stream.h"

#include <QObject>
#include <QVector>
#include <memory>
#include <vector>

// For tests of the POP3 component only: each call enqueues one job on a session
// and waits for its end in a local event loop, so a test reads as a sequence of
// calls. The program itself never waits like this.
class BlockingClient : public QObject {
    Q_OBJECT
public:
    explicit BlockingClient(std::shared_ptr<pop3::StreamFactory> factory = pop3::defaultStreamFactory(),
                            QObject* parent = nullptr);
    ~BlockingClient() override;

    void setUserName(const QString& user) { m_settings.user = user; }
    void setPassword(const QString& password) { m_settings.password = password; }
    void setHostName(const QString& address) { m_settings.address = address; }
    void setAccessToken(const QString& token, pop3::TokenMechanism mechanism = pop3::TokenMechanism::Auto) {
        m_settings.accessToken = token;
        m_settings.tokenMechanism = mechanism;
    }
    void setDefaultPort(quint16 port) { m_settings.defaultPort = port; }
    void setTimeoutSeconds(int seconds) { m_settings.timeoutSeconds = qMax(1, seconds); }
    void setImplicitTlsProbeSeconds(int seconds) { m_settings.probeSeconds = qMax(1, seconds); }
    void addCaCertificates(const QList<QSslCertificate>& certificates) {
        m_settings.caCertificates += certificates;
    }
    void setCertificateExceptions(const QList<pop3::CertificateException>& exceptions) {
        m_settings.certificateExceptions = exceptions;
    }
    void setKeepAliveIdleSeconds(int seconds) { m_session->setKeepAliveIdleSeconds(seconds); }
    void setMaxCommandsInFlight(int commands) { m_session->setMaxInFlight(commands); }
    void setMaxKeptHeaderBytes(qint64 bytes) { m_session->setMaxKeptHeaderBytes(bytes); }

    pop3::Result Connect();
    pop3::Result GetHeaders();
    pop3::Result Stat(int* count);
    pop3::Result Disconnect();
    // NOOP only when the session is due one (idle long enough); Ok otherwise.
    pop3::Result KeepAlive();
    void CancelOperation() { m_session->cancel(); }

    int Count() const { return static_cast<int>(m_messages.size()); }
    const pop3::Message& Item(int n) const;
    pop3::Result DeleteFromServer(int n) { return DeleteFromServer(QVector<int>{n}).value(0); }
    QVector<pop3::Result> DeleteFromServer(const QVector<int>& numbers);

    bool isConnected() const { return m_session->isConnected(); }
    bool isBusy() const { return m_waiting; }
    pop3::ConnectionInfo connectionInfo() const { return m_session->connectionInfo(); }
    // Of the last call that failed.
    const pop3::Failure& lastFailure() const { return m_failure; }
    QString lastServerReply() const { return m_failure.serverReply; }
    QString failureDetail() const { return m_failure.words; }
    pop3::TlsProblem lastTlsProblem() const { return m_failure.tls; }
    pop3::Session& session() { return *m_session; }

Q_SIGNALS:
    void ConnectLog(const QString& text, int code);
    void StatusMessage(const QString& text, int nMin, int nMax, pop3::StatusCode code);

private:
    pop3::Result run(pop3::Job* job);

    std::unique_ptr<pop3::Session> m_session;
    pop3::SessionSettings m_settings;
    std::vector<pop3::Message> m_messages;
    pop3::Failure m_failure;
    bool m_waiting = false;
};
