#pragma once

#include "pop3/pop3types.h"
#include "pop3/replyreader.h"
#include "pop3/stream.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

namespace pop3 {

// text with every trace of secret hidden: the secret in any case, and words
// whose base64 decodes to something holding it (a SASL PLAIN token).
QString MaskSecret(const QString& text, const QString& secret);

struct SessionSettings {
    QString user;
    QString password;
    Endpoint endpoint;
    int timeoutSeconds = 60;
    int probeSeconds = 3;
    QList<QSslCertificate> caCertificates;
    QList<CertificateException> certificateExceptions;
};

// The asynchronous POP3 state machine behind Client. Every start* call either
// returns a result at once or returns Pending and later emits finished(result)
// exactly once. Signals are meant to be received through queued connections, so
// a receiver may delete the session's owner without pulling the stack from under it.
class Session : public QObject {
    Q_OBJECT
public:
    // Connection states and their transitions:
    //
    //   Idle --Connect--> Connecting --opened--> Greeting --+OK--> Capabilities
    //   Connecting: a bare host first tries implicit TLS on 995; refused or silent
    //     for the probe time -> Connecting again, plain TCP on the settings port.
    //   Greeting on an explicit STLS port: no byte within the probe time, or a close
    //     before any -> Connecting with implicit TLS on that port (a port that speaks
    //     TLS from the first byte waits for our ClientHello); a handshake that meets
    //     no TLS at all -> Connecting in plain text again, for a server that greets late.
    //   Capabilities --(TLS needed or offered)--> StartingTls --+OK, nothing
    //     buffered--> TlsHandshake --encrypted--> TlsCapabilities --> Authenticating
    //   Capabilities --(already TLS, or pop3:// without STLS)--> Authenticating
    //   Authenticating (APOP | AUTH PLAIN | USER+PASS) --+OK--> LoginCapabilities
    //   Authenticating, APOP refused (not [IN-USE], [LOGIN-DELAY], [SYS/TEMP]) -->
    //     Authenticating without APOP; closed before the next reply -> Connecting
    //     again, once, to log in without APOP
    //     --> Transaction                                (Connect returns 0)
    //   Transaction --GetHeaders--> Listing (LIST, UIDL) --> Fetching (TOP n 0
    //     window) --> Transaction
    //   Transaction --DELE batch / NOOP--> Transaction
    //   Transaction --Disconnect--> Quitting --+OK--> Idle (deletions happened)
    //   any state --error, time-out, drop, cancel--> Closed (closeReason says why;
    //     nothing was deleted)
    enum class State {
        Idle,
        Connecting,
        Greeting,
        Capabilities,
        StartingTls,
        TlsHandshake,
        TlsCapabilities,
        Authenticating,
        LoginCapabilities,
        Transaction,
        Listing,
        Fetching,
        Deleting,
        Noop,
        Quitting,
        Closed,
    };
    Q_ENUM(State)

    explicit Session(std::shared_ptr<StreamFactory> factory, QObject* parent = nullptr);
    ~Session() override;

    // Each returns Result::Pending when the operation runs on, else its result at once.
    Result startConnect(const SessionSettings& settings);
    Result startGetHeaders();
    Result startDisconnect();
    Result startKeepAlive();
    Result startDelete(const QVector<int>& numbers);
    // STAT: counts the waiting messages without listing them (statCount()).
    Result startStat();
    // Ends the running operation at once with Cancelled; the connection is dropped.
    void cancel();
    // Ends the running operation with the given result (the caller's watchdog).
    void abortOperation(Result result);

    State state() const { return m_state; }
    bool operationRunning() const { return m_opActive; }
    qint64 msSinceActivity() const { return m_activity.elapsed(); }
    int count() const { return static_cast<int>(m_messages.size()); }
    const Message& item(int n) const;
    QVector<Result> deleteResults() const { return m_deleteResults; }
    QString lastServerReply() const { return m_lastReply; }
    // Our own words for why the last operation failed on the server's data
    // (a broken message list, say); empty when there is nothing to add.
    QString failureDetail() const { return m_failureDetail; }
    TlsProblem lastTlsProblem() const { return m_tlsProblem; }
    // The security in use once connected: ImplicitTls, StartTls or Plain.
    Security security() const { return m_security; }
    // How the last login was made (or tried).
    LoginMethod loginMethod() const { return m_loginMethod; }
    quint16 connectedPort() const { return m_connectedPort; }
    const Endpoint& endpoint() const { return m_settings.endpoint; }
    bool isEncrypted() const { return m_stream && m_stream->isEncrypted(); }
    QSsl::SslProtocol tlsProtocol() const {
        return m_stream ? m_stream->tlsProtocol() : QSsl::UnknownProtocol;
    }
    int statCount() const { return m_statCount; }
    void setKeepAliveIdleSeconds(int seconds) { m_keepAliveIdleMs = qint64(seconds) * 1000; }
    void setMaxInFlight(int commands) { m_maxInFlight = qMax(1, commands); }
    void setMaxHeaderBytes(qsizetype bytes) { m_maxHeaderBytes = bytes; }
    // Raw header bytes kept for one listing; past it rows keep their parsed fields only.
    void setMaxKeptHeaderBytes(qint64 bytes) { m_maxKeptHeaderBytes = bytes; }
    void setMaxLineBytes(qsizetype bytes) { m_reader.setMaxLine(bytes); }

Q_SIGNALS:
    void finished(pop3::Result result);
    void log(const QString& text, int code);
    void status(const QString& text, int nMin, int nMax, pop3::StatusCode code);

private:
    using Handler = std::function<void(Reply&)>;
    struct Command {
        int bytes = 0;
        bool multiLine = false;
        qsizetype maxBody = 0;
        Handler onReply;
        // An oversized reply costs only its own message (TOP); for any other
        // command it makes the session unusable.
        bool perMessage = false;
    };
    enum class Op { None, Connect, Headers, Delete, KeepAlive, Quit, Stat };
    // Where a connection to an explicit STLS port stands in finding out whether
    // the port speaks TLS from the first byte.
    enum class PortProbe { Off, PlainGreeting, ImplicitTls, PlainAgain };

    void openStream(quint16 port, bool implicitTls, int timeoutMs);
    void closeStream();
    QByteArray acceptedCertificate(const QString& host, quint16 port) const;
    void listingBroken(const QString& reason);
    void onOpened();
    void onEncrypted();
    void onReadyRead();
    void onStreamFailed(Stream::Failure failure, const QString& detail);
    void onTimeout();
    void fallBackToStartTls();
    void tryImplicitTls();
    void tryPlainAgain();
    bool reconnectWithoutApop();
    int connectMsLeft() const;

    void queue(const QByteArray& line, bool multiLine, qsizetype maxBody, Handler handler);
    void flush();
    void send(const QByteArray& line, bool multiLine, qsizetype maxBody, Handler handler);
    void processReplies();
    void armTimer();

    void onGreeting(Reply& reply);
    void requestCapabilities(State state, std::function<void()> then);
    void afterCapabilities();
    void startTls(bool required);
    void login();
    void loginUserPass();
    void loginSaslPlain();
    void loginApop();
    void onApopReply(Reply& reply);
    void onLoginReply(Reply& reply, Result fallback);
    void loggedIn();

    QString readListing(const QByteArray& body);
    void onList(Reply& reply);
    void onUidl(Reply& reply);
    void startFetching();
    void pumpTops();
    void onTop(int index, Reply& reply);
    void pumpDeletes();

    void begin(Op op);
    void finish(Result result);
    void fail(Result result);
    Result closedResult() const;
    void noteRefusal(const QByteArray& text);
    bool hasCapability(const char* name) const;
    bool offersSaslPlain() const;
    void emitLog(const QString& text);

    std::shared_ptr<StreamFactory> m_factory;
    std::unique_ptr<Stream> m_stream;
    QPointer<Stream> m_dying; // closed, waiting for deleteLater
    SessionSettings m_settings;
    ReplyReader m_reader;
    std::deque<Command> m_pending;
    QByteArray m_out;
    QTimer m_timer;
    QElapsedTimer m_activity; // last traffic or operation start
    State m_state = State::Idle;
    Op m_op = Op::None;
    bool m_opActive = false;
    bool m_probing = false;
    PortProbe m_portProbe = PortProbe::Off;
    QElapsedTimer m_connectClock; // since startConnect: bounds every attempt together
    Result m_closeReason = Result::Ok;
    int m_timeoutMs = 60000;
    qint64 m_keepAliveIdleMs = 30000;
    int m_maxInFlight = 1000;
    qsizetype m_maxInFlightBytes = 256 * 1024;
    qsizetype m_maxHeaderBytes = 4 * 1024 * 1024;
    qint64 m_maxKeptHeaderBytes = qint64(512) * 1024 * 1024;
    qsizetype m_inFlightBytes = 0;
    Security m_security = Security::Auto;
    QByteArray m_apopStamp;
    LoginMethod m_loginMethod = LoginMethod::None;
    bool m_apopRefused = false; // this connect: log in without APOP
    bool m_apopRetried = false; // the one new connection after a close is used
    int m_apopMark = -1;        // replies on this connection when APOP went out; -1: not sent
    int m_replyCount = 0;       // replies on this connection
    QList<QByteArray> m_capabilities;
    QString m_lastReply;
    QString m_failureDetail;
    qint64 m_keptHeaderBytes = 0;
    bool m_continuationPosted = false;
    TlsProblem m_tlsProblem;
    quint16 m_connectedPort = 0;
    int m_statCount = 0;

    std::vector<Message> m_messages;
    std::vector<int> m_numbers; // the server's message numbers, in LIST order
    int m_nextTop = 0;
    int m_topsDone = 0;
    bool m_uidlPending = false;

    QVector<int> m_deleteNumbers;
    QVector<Result> m_deleteResults;
    int m_nextDelete = 0;
    int m_deletesDone = 0;
};

} // namespace pop3
