#pragma once

#include "pop3/pop3types.h"
#include "pop3/replyreader.h"
#include "pop3/stream.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QSslCertificate>
#include <QTimer>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

namespace pop3 {

// text with every trace of secret hidden: the secret in any case, and words
// whose base64 decodes to something holding it (a SASL PLAIN token).
QString MaskSecret(const QString& text, const QString& secret);

// How a token login is made: OAUTHBEARER (RFC 7628) where CAPA lists it, else
// XOAUTH2; or the one named.
enum class TokenMechanism { None, Auto, XOAuth2, OAuthBearer };

struct SessionSettings {
    QString user;
    QString password;
    // With a mechanism other than None the login sends this OAuth2 access token
    // (never the password); it is hidden from every text the session gives out.
    TokenMechanism tokenMechanism = TokenMechanism::None;
    QString accessToken;
    QString secretOrigin; // for the user: where the secret came from ("the system keyring"), never the secret
    QString address;      // see Endpoint::Parse
    quint16 defaultPort = 110; // the settings port, for a bare host
    int timeoutSeconds = 60;
    int probeSeconds = 3;                  // a bare host: how long port 995 gets before STLS
    QList<QSslCertificate> caCertificates; // trusted besides the system's store
    QList<CertificateException> certificateExceptions;
};

// How an open session was reached.
struct ConnectionInfo {
    QString host;
    quint16 port = 0;
    Security security = Security::Auto; // Auto: the port-995 probe answered, so implicit TLS
    bool encrypted = false;
    QString tlsProtocol; // "TLS 1.3"; empty without TLS
    LoginMethod login = LoginMethod::None;
};

class Job;

// One POP3 connection, driven by a queue of jobs (connect, headers, STAT, marks,
// NOOP, QUIT, TOP). Jobs run one at a time in the order they were enqueued;
// nothing is refused as busy. Inside is the state machine below, driven by the
// stream's signals: nothing here ever waits.
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
    //     --> Transaction                                (ConnectJob ends Ok)
    //   Transaction --HeadersJob--> Listing (LIST, UIDL) --> Fetching (TOP n 0
    //     window) --> Transaction
    //   Transaction --MarkJob / NoopJob / StatJob / TopJob--> Transaction
    //   Transaction --QuitJob--> Quitting --+OK--> Idle (deletions happened)
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

    explicit Session(QObject* parent = nullptr);
    // Test seam: the streams come from the factory instead of real sockets.
    explicit Session(std::shared_ptr<StreamFactory> factory, QObject* parent = nullptr);
    // Drops the connection without QUIT (nothing marked is deleted); jobs still
    // queued are deleted without finishing.
    ~Session() override;

    // Takes the job over and runs it after the jobs enqueued before it.
    void enqueue(Job* job);
    // Ends the running job at once with Cancelled and drops the connection
    // without QUIT, so nothing is deleted; every queued job then ends Cancelled too.
    void cancel();
    // No job running or waiting.
    bool isIdle() const { return !m_running && m_jobs.empty(); }
    // Open and logged in, whatever jobs wait.
    bool isConnected() const;
    // Idle and quiet for the keep-alive's idle time: a NOOP would be useful now.
    bool keepAliveDue() const;

    State state() const { return m_state; }
    qint64 msSinceActivity() const { return m_activity.elapsed(); }
    // The listing of the last HeadersJob: count and, per message (1-based), its
    // size, UIDL and how far its header got; the parsed fields travel with the job.
    int count() const { return static_cast<int>(m_messages.size()); }
    const Message& item(int n) const;
    // How the session was reached; read it while connected.
    ConnectionInfo connectionInfo() const;
    // The security in use once connected: ImplicitTls, StartTls or Plain.
    Security security() const { return m_security; }
    // How the last login was made (or tried).
    LoginMethod loginMethod() const { return m_loginMethod; }
    void setKeepAliveIdleSeconds(int seconds) { m_keepAliveIdleMs = qint64(seconds) * 1000; }
    void setMaxInFlight(int commands) { m_maxInFlight = qMax(1, commands); }
    void setMaxHeaderBytes(qsizetype bytes) { m_maxHeaderBytes = bytes; }
    // Raw header bytes kept for one listing; past it rows keep their parsed fields only.
    void setMaxKeptHeaderBytes(qint64 bytes) { m_maxKeptHeaderBytes = bytes; }
    void setMaxLineBytes(qsizetype bytes) { m_reader.setMaxLine(bytes); }
    // The least time between two logins the server asks for (RFC 2449
    // LOGIN-DELAY, as announced after login); 0 when it names none.
    int loginDelaySeconds() const;

Q_SIGNALS:
    void log(const QString& text, int code);
    void status(const QString& text, int nMin, int nMax, pop3::StatusCode code);

private:
    friend class Job;
    friend class ConnectJob;
    friend class HeadersJob;
    friend class StatJob;
    friend class MarkJob;
    friend class NoopJob;
    friend class QuitJob;
    friend class TopJob;

    // The operations behind the jobs: each returns Result::Pending when it runs
    // on (operationEnded follows), else its result at once.
    Result startConnect(const SessionSettings& settings);
    // sink gets every listed message's header block, in order, as its TOP answers.
    using HeaderSink =
        std::function<void(int number, const Message& listing, QByteArray block, bool keepRaw)>;
    // choose, when set, picks which listed messages get TOP; the rest stay Listed.
    Result startGetHeaders(HeaderSink sink, FetchChooser choose = {});
    Result startQuit();
    Result startNoop();
    Result startDelete(const QVector<int>& numbers);
    Result startStat();
    Result startTop(int number, int lines);
    int statCount() const { return m_statCount; }
    QVector<Result> deleteResults() const { return m_deleteResults; }
    QByteArray topText() const { return m_topText; }
    Failure failureFor(Result result) const;

    void startNextJob();
    void operationFinished(Result result);
    void jobCompleted(Job* job);

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
    enum class Op { None, Connect, Headers, Delete, KeepAlive, Quit, Stat, Top };
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
    void loginWithToken();
    void sendSaslResponse(const QByteArray& mechanism, const QByteArray& response);
    void onTokenReply(Reply& reply);
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
    void reportProgress(StatusCode code, int done, int total);
    void noteRefusal(const QByteArray& text);
    bool hasCapability(const char* name) const;
    bool offersSasl(const QByteArray& mechanism) const;
    void emitLog(const QString& text);

    std::shared_ptr<StreamFactory> m_factory;
    std::deque<Job*> m_jobs; // waiting, owned
    Job* m_running = nullptr;
    bool m_startPosted = false;
    Endpoint m_endpoint;
    HeaderSink m_headerSink;
    FetchChooser m_chooseFetch;
    std::vector<int> m_fetch; // listing positions that get TOP, in order
    QByteArray m_topText;
    std::unique_ptr<Stream> m_stream;
    QPointer<Stream> m_dying; // closed, waiting for deleteLater
    SessionSettings m_settings;
    ReplyReader m_reader;
    std::deque<Command> m_pending;
    QByteArray m_out;
    QTimer m_timer;
    QTimer m_watchdog;
    QElapsedTimer m_activity; // last traffic or operation start
    QElapsedTimer m_progressClock;
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
    bool m_fetchAfterUidl = false; // a chooser waits for the pipelined UIDL

    QVector<int> m_deleteNumbers;
    QVector<Result> m_deleteResults;
    int m_nextDelete = 0;
    int m_deletesDone = 0;
};

} // namespace pop3
