#include "pop3/session.h"

#include "pop3/job.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSet>
#include <QTimer>

#include <algorithm>
#include <cstring>
#include <utility>

namespace pop3 {

namespace {

constexpr qsizetype kMaxCapabilityBytes = 64 * 1024;
constexpr qsizetype kMaxListingBytes = 32 * 1024 * 1024; // LIST/UIDL of a huge mailbox
constexpr size_t kMaxMessages = 500000;             // each row costs a few hundred bytes before its header
constexpr int kRefillBatch = 125;                   // top the window up in batches, not one command per reply
constexpr int kMaxSaslLine = 255;                   // RFC 5034: longer initial responses wait for "+"
constexpr qint64 kMaxMessageSize = qint64(1) << 40; // a size past this is a server's lie; shown clamped
constexpr qint64 kWatchdogSlackMs = 5000; // the hard limit's margin over the session's own time-outs
constexpr qint64 kSliceMs = 10; // replies handled per turn of the event loop, so Cancel stays prompt

bool startsWithCi(const QByteArray& text, const char* prefix) {
    return text.startsWith(prefix) || text.toUpper().startsWith(prefix);
}

// RFC 2449/3206 response codes tell a locked mailbox or a server fault from bad credentials.
Result refusalCode(const QByteArray& text, Result fallback) {
    if (!text.startsWith('['))
        return fallback;
    if (startsWithCi(text, "[IN-USE"))
        return Result::MailboxInUse;
    if (startsWithCi(text, "[LOGIN-DELAY"))
        return Result::LoginDelay;
    if (startsWithCi(text, "[SYS/TEMP"))
        return Result::ServerTemporaryFailure;
    if (startsWithCi(text, "[AUTH"))
        return Result::LoginRejected;
    return fallback;
}

bool hasLineBreakOrNul(const QString& text) {
    return text.contains(QLatin1Char('\r')) || text.contains(QLatin1Char('\n')) ||
           text.contains(QChar(u'\0'));
}

} // namespace

QString MaskSecret(const QString& text, const QString& secret) {
    if (secret.isEmpty())
        return text;
    const QString mask = QStringLiteral("****");
    // A server may echo the password in any case, or the SASL PLAIN token (or any
    // base64 holding the password) it was sent: a word that hides it goes whole.
    QStringList words = text.split(QLatin1Char(' '));
    for (QString& word : words) {
        const QByteArray decoded = QByteArray::fromBase64(word.toLatin1());
        if (word.contains(secret, Qt::CaseInsensitive) ||
            (word.size() >= 4 && QString::fromUtf8(decoded).contains(secret, Qt::CaseInsensitive)))
            word = mask;
    }
    QString masked = words.join(QLatin1Char(' '));
    masked.replace(secret, mask, Qt::CaseInsensitive);
    return masked;
}

Session::Session(QObject* parent) : Session(defaultStreamFactory(), parent) {}

Session::Session(std::shared_ptr<StreamFactory> factory, QObject* parent)
    : QObject(parent), m_factory(std::move(factory)) {
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &Session::onTimeout);
    // The state machine's own time-outs end every operation; this is the hard
    // limit should one of them ever fail to: no job may hang its caller.
    m_watchdog.setInterval(500);
    connect(&m_watchdog, &QTimer::timeout, this, [this] {
        const qint64 limitMs = m_timeoutMs + qint64(m_settings.probeSeconds) * 1000 + kWatchdogSlackMs;
        if (m_opActive && m_activity.elapsed() > limitMs)
            fail(Result::ResponseTimeout);
    });
    m_activity.start();
}

Session::~Session() {
    m_opActive = false;
    closeStream();
    delete m_running;
    for (Job* job : m_jobs)
        delete job;
    // Stream signals reach the session directly, but never while it is being deleted.
    delete m_dying.data();
}

// ---------------------------------------------------------------- jobs

void Session::enqueue(Job* job) {
    job->setParent(this);
    job->m_session = this;
    m_jobs.push_back(job);
    if (!m_running && !m_startPosted) {
        // Started from the event loop, so that the caller has connected its slots
        // and a job's end never reaches a receiver from inside its own call.
        m_startPosted = true;
        QMetaObject::invokeMethod(this, &Session::startNextJob, Qt::QueuedConnection);
    }
}

void Session::startNextJob() {
    m_startPosted = false;
    if (m_running || m_jobs.empty())
        return;
    m_running = m_jobs.front();
    m_jobs.pop_front();
    const Result started = m_running->start(*this);
    if (started != Result::Pending)
        m_running->operationEnded(*this, started);
}

void Session::operationFinished(Result result) {
    if (m_running)
        m_running->operationEnded(*this, result);
}

// The job has its result: tell its receivers from the event loop, then go on.
void Session::jobCompleted(Job* job) {
    QMetaObject::invokeMethod(
        this,
        [this, job] {
            if (job != m_running)
                return;
            m_running = nullptr;
            // Out of the session's hands first: a receiver may delete the session.
            job->setParent(nullptr);
            job->m_session = nullptr;
            const QPointer<Session> self(this);
            Q_EMIT job->finished(job->failure());
            job->deleteLater();
            if (self)
                startNextJob();
        },
        Qt::QueuedConnection);
}

void Session::cancel() {
    if (m_opActive) {
        fail(Result::Cancelled);
    } else {
        m_closeReason = Result::Cancelled;
        closeStream();
        m_state = State::Closed;
        if (m_running)
            m_running->cancelled();
    }
}

bool Session::isConnected() const {
    return m_state == State::Transaction || m_state == State::Listing || m_state == State::Fetching ||
           m_state == State::Deleting || m_state == State::Noop;
}

bool Session::keepAliveDue() const {
    return isIdle() && m_state == State::Transaction && m_activity.elapsed() >= m_keepAliveIdleMs;
}

Failure Session::failureFor(Result result) const {
    Failure failure = Failure::of(result);
    if (result == Result::Ok)
        return failure;
    failure.words = m_failureDetail;
    failure.serverReply = m_lastReply;
    if (result == Result::CertificateInvalid)
        failure.tls = m_tlsProblem;
    return failure;
}

ConnectionInfo Session::connectionInfo() const {
    ConnectionInfo info;
    info.host = m_endpoint.host;
    info.port = m_connectedPort;
    info.security = m_security;
    info.encrypted = m_stream && m_stream->isEncrypted();
    info.login = m_loginMethod;
    switch (m_stream ? m_stream->tlsProtocol() : QSsl::UnknownProtocol) {
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

// ---------------------------------------------------------------- operations

void Session::begin(Op op) {
    m_failureDetail.clear();
    m_lastReply.clear();
    m_op = op;
    m_opActive = true;
    m_activity.restart();
    m_watchdog.start();
}

void Session::finish(Result result) {
    if (!m_opActive)
        return;
    if (m_op == Op::Delete) {
        for (Result& r : m_deleteResults)
            if (r == Result::Pending)
                r = result == Result::Ok ? Result::ConnectionLost : result;
    }
    m_opActive = false;
    m_op = Op::None;
    m_watchdog.stop();
    operationFinished(result);
}

void Session::fail(Result result) {
    m_closeReason = result;
    closeStream();
    m_state = State::Closed;
    finish(result);
}

Result Session::closedResult() const {
    return m_state == State::Closed && m_closeReason != Result::Ok ? m_closeReason : Result::NotConnected;
}

Result Session::startConnect(const SessionSettings& settings) {
    closeStream();
    m_settings = settings;
    m_endpoint = Endpoint();
    if (!Endpoint::Parse(settings.address, settings.defaultPort, m_endpoint)) {
        m_state = State::Closed;
        m_closeReason = Result::HostNotFound;
        return Result::HostNotFound;
    }
    m_security = m_endpoint.security;
    m_timeoutMs = qMax(1, settings.timeoutSeconds) * 1000;
    m_closeReason = Result::Ok;
    m_messages.clear();
    m_numbers.clear();
    m_capabilities.clear();
    m_apopStamp.clear();
    m_loginMethod = LoginMethod::None;
    m_apopRefused = false;
    m_apopRetried = false;
    m_portProbe = PortProbe::Off;
    m_connectClock.start();
    m_lastReply.clear();
    m_tlsProblem = TlsProblem();
    // Credentials go out as protocol lines: a line break in them would inject commands.
    Result refused = Result::Ok;
    if (m_endpoint.host.isEmpty())
        refused = Result::HostNotFound;
    else if (hasLineBreakOrNul(m_settings.user))
        refused = Result::UserRejected;
    else if (hasLineBreakOrNul(m_settings.password) || hasLineBreakOrNul(m_settings.accessToken))
        refused = Result::LoginRejected;
    // The token logins separate their fields with ^A.
    else if (m_settings.tokenMechanism != TokenMechanism::None &&
             (m_settings.user.contains(QChar(u'\x01')) || m_settings.accessToken.contains(QChar(u'\x01'))))
        refused = Result::LoginRejected;
    if (refused != Result::Ok) {
        m_state = State::Closed;
        m_closeReason = refused;
        return refused;
    }
    begin(Op::Connect);
    if (m_security == Security::Auto) {
        m_probing = true;
        openStream(995, true, qMax(1, settings.probeSeconds) * 1000);
    } else {
        m_probing = false;
        openStream(m_endpoint.port, m_security == Security::ImplicitTls, m_timeoutMs);
    }
    return Result::Pending;
}

Result Session::startGetHeaders(HeaderSink sink, FetchChooser choose) {
    if (m_state != State::Transaction)
        return closedResult();
    m_headerSink = std::move(sink);
    m_chooseFetch = std::move(choose);
    begin(Op::Headers);
    m_messages.clear();
    m_numbers.clear();
    m_state = State::Listing;
    queue("LIST", true, kMaxListingBytes, [this](Reply& r) { onList(r); });
    m_uidlPending = hasCapability("UIDL");
    m_fetchAfterUidl = false;
    if (m_uidlPending && hasCapability("PIPELINING"))
        queue("UIDL", true, kMaxListingBytes, [this](Reply& r) {
            onUidl(r);
            if (std::exchange(m_fetchAfterUidl, false))
                startFetching();
        });
    flush();
    return Result::Pending;
}

Result Session::startQuit() {
    if (m_state != State::Transaction)
        return closedResult();
    begin(Op::Quit);
    m_state = State::Quitting;
    send("QUIT", false, 0, [this](Reply& r) {
        // RFC 1939: only a +OK to QUIT means the marked messages are gone.
        const bool confirmed = r.kind == Reply::Ok;
        if (!confirmed)
            noteRefusal(r.text);
        closeStream();
        m_state = State::Idle;
        m_closeReason = Result::Ok;
        finish(confirmed ? Result::Ok : Result::CommandRefused);
    });
    return Result::Pending;
}

Result Session::startNoop() {
    if (m_state != State::Transaction)
        return closedResult();
    begin(Op::KeepAlive);
    m_state = State::Noop;
    send("NOOP", false, 0, [this](Reply& r) {
        m_state = State::Transaction;
        if (r.kind != Reply::Ok)
            noteRefusal(r.text);
        finish(r.kind == Reply::Ok ? Result::Ok : Result::CommandRefused);
    });
    return Result::Pending;
}

Result Session::startStat() {
    if (m_state != State::Transaction)
        return closedResult();
    begin(Op::Stat);
    m_statCount = 0;
    // Transaction throughout: STAT changes nothing on the server.
    send("STAT", false, 0, [this](Reply& r) {
        if (r.kind != Reply::Ok) {
            noteRefusal(r.text);
            finish(Result::CommandRefused);
            return;
        }
        // "+OK nn mm": the count, then the size in octets.
        bool ok = false;
        const int count = r.text.split(' ').value(0).toInt(&ok);
        if (!ok || count < 0) {
            fail(Result::HeadersUnparsable);
            return;
        }
        m_statCount = count;
        finish(Result::Ok);
    });
    return Result::Pending;
}

Result Session::startDelete(const QVector<int>& numbers) {
    m_deleteNumbers = numbers;
    if (m_state != State::Transaction) {
        m_deleteResults = QVector<Result>(numbers.size(), closedResult());
        return closedResult();
    }
    m_deleteResults = QVector<Result>(numbers.size(), Result::Pending);
    bool any = false;
    for (int i = 0; i < numbers.size(); ++i) {
        if (numbers[i] < 1 || numbers[i] > count())
            m_deleteResults[i] = Result::NoSuchMessage;
        else
            any = true;
    }
    if (!any)
        return Result::Ok; // nothing to send; each number has its own result
    begin(Op::Delete);
    m_state = State::Deleting;
    m_nextDelete = 0;
    m_deletesDone = 0;
    pumpDeletes();
    return Result::Pending;
}

Result Session::startTop(int number, int lines) {
    if (m_state != State::Transaction)
        return closedResult();
    if (number < 1 || number > count())
        return Result::NoSuchMessage;
    begin(Op::Top);
    m_topText.clear();
    const QByteArray line =
        "TOP " + QByteArray::number(m_numbers[size_t(number - 1)]) + ' ' + QByteArray::number(qMax(0, lines));
    // The header cap bounds this reply too: a preview never needs more.
    send(line, true, m_maxHeaderBytes, [this](Reply& r) {
        if (r.kind != Reply::Ok || r.overLimit) {
            if (r.kind != Reply::Ok)
                noteRefusal(r.text);
            finish(r.overLimit ? Result::HeadersUnparsable : Result::CommandRefused);
            return;
        }
        m_topText = std::move(r.body);
        finish(Result::Ok);
    });
    m_pending.back().perMessage = true;
    return Result::Pending;
}

const Message& Session::item(int n) const {
    static const Message empty;
    if (n < 1 || n > count())
        return empty;
    return m_messages[static_cast<size_t>(n - 1)];
}

// ---------------------------------------------------------------- stream

void Session::openStream(quint16 port, bool implicitTls, int timeoutMs) {
    closeStream();
    m_reader.clear();
    m_replyCount = 0;
    m_apopMark = -1;
    m_state = State::Connecting;
    m_stream = m_factory->create();
    connect(m_stream.get(), &Stream::opened, this, &Session::onOpened);
    connect(m_stream.get(), &Stream::encrypted, this, &Session::onEncrypted);
    connect(m_stream.get(), &Stream::readyRead, this, &Session::onReadyRead);
    connect(m_stream.get(), &Stream::failed, this, &Session::onStreamFailed);
    m_stream->setCaCertificates(m_settings.caCertificates);
    m_stream->setAcceptedCertificate(acceptedCertificate(m_endpoint.host, port));
    m_connectedPort = port;
    m_timer.start(timeoutMs);
    m_stream->open(m_endpoint.host, port, implicitTls);
    // Last: a receiver may cancel from its slot.
    emitLog(QStringLiteral("Connecting to %1 port %2%3")
                .arg(m_endpoint.host)
                .arg(port)
                .arg(implicitTls ? QStringLiteral(" (TLS)") : QString()));
}

QByteArray Session::acceptedCertificate(const QString& host, quint16 port) const {
    for (const CertificateException& exception : m_settings.certificateExceptions)
        if (exception.port == port && exception.host.compare(host, Qt::CaseInsensitive) == 0)
            return exception.sha256;
    return {};
}

void Session::closeStream() {
    m_timer.stop();
    m_pending.clear();
    m_out.clear();
    m_inFlightBytes = 0;
    if (m_stream) {
        m_stream->disconnect(this);
        m_stream->abort();
        // The stream may be inside one of its own signals right now.
        m_dying = m_stream.release();
        m_dying->deleteLater();
    }
}

void Session::onOpened() {
    m_probing = false;
    m_state = State::Greeting;
    m_activity.restart();
    emitLog(QStringLiteral("Connected"));
    m_pending.push_back(Command{0, false, 0, [this](Reply& r) { onGreeting(r); }});
    armTimer();
    if (m_portProbe == PortProbe::Off && m_endpoint.security == Security::StartTls &&
        !m_stream->isEncrypted())
        m_portProbe = PortProbe::PlainGreeting;
    if (m_portProbe != PortProbe::Off) {
        // Half the time-out at most: the TLS attempt after a silence needs time too.
        const int left = connectMsLeft();
        m_timer.start(m_portProbe == PortProbe::PlainGreeting
                          ? qMax(1, qMin(qMax(1, m_settings.probeSeconds) * 1000, left / 2))
                          : left);
    }
    processReplies();
}

void Session::onEncrypted() {
    if (m_state != State::TlsHandshake)
        return;
    emitLog(QStringLiteral("Secure connection established"));
    // Anything learnt before the handshake may have been forged.
    m_capabilities.clear();
    requestCapabilities(State::TlsCapabilities, [this] { login(); });
}

void Session::onReadyRead() {
    if (!m_stream)
        return;
    const QByteArray data = m_stream->readAll();
    if (data.isEmpty())
        return;
    m_activity.restart();
    m_reader.append(data);
    processReplies();
}

void Session::onStreamFailed(Stream::Failure failure, const QString& detail) {
    Q_UNUSED(detail)
    // Replies that arrived before the close still count (a +OK to QUIT, say).
    if (m_stream && m_stream->bytesAvailable() > 0)
        onReadyRead();
    if (!m_stream)
        return;
    if (m_state == State::Connecting && m_probing && failure != Stream::Failure::HostNotFound &&
        failure != Stream::Failure::Tls) {
        fallBackToStartTls();
        return;
    }
    // Some TLS-only ports close a connection that sends no ClientHello: as silent as no answer.
    if (m_state == State::Greeting && m_portProbe == PortProbe::PlainGreeting && m_reader.buffered() == 0 &&
        (failure == Stream::Failure::RemoteClosed || failure == Stream::Failure::Other)) {
        tryImplicitTls();
        return;
    }
    // No certificate came back: the port does not speak TLS after all, its greeting was only late.
    if (m_state == State::Connecting && m_portProbe == PortProbe::ImplicitTls &&
        failure == Stream::Failure::Tls && m_stream->tlsProblem().certificate.isNull()) {
        tryPlainAgain();
        return;
    }
    if (reconnectWithoutApop())
        return;
    Result result = Result::ConnectionLost;
    switch (failure) {
    case Stream::Failure::HostNotFound:
        result = Result::HostNotFound;
        break;
    case Stream::Failure::Refused:
        result = Result::ConnectionProblem;
        break;
    case Stream::Failure::Tls:
        result = Result::CertificateInvalid;
        m_tlsProblem = m_stream->tlsProblem();
        break;
    case Stream::Failure::RemoteClosed:
    case Stream::Failure::Other:
        result = m_op == Op::Connect ? Result::ConnectionProblem : Result::ConnectionLost;
        break;
    }
    if (m_opActive) {
        fail(result);
    } else {
        // Dropped while idle (under review): remember it for the next call.
        closeStream();
        m_state = State::Closed;
        m_closeReason = Result::ConnectionLost;
    }
}

void Session::onTimeout() {
    if (m_state == State::Connecting && m_probing) {
        fallBackToStartTls();
        return;
    }
    if (m_state == State::Greeting && m_portProbe == PortProbe::PlainGreeting) {
        if (m_reader.buffered() == 0) {
            tryImplicitTls();
            return;
        }
        // Part of a greeting came: a plain server, only slow.
        m_portProbe = PortProbe::PlainAgain;
        m_timer.start(connectMsLeft());
        return;
    }
    if (m_state == State::Greeting && m_portProbe == PortProbe::PlainAgain && m_reader.buffered() == 0 &&
        !m_tlsProblem.isEmpty() && m_opActive) {
        // Silent in plain text, and TLS failed: the handshake's words say more than a time-out.
        fail(Result::CertificateInvalid);
        return;
    }
    if (!m_opActive)
        return;
    fail(m_state == State::Connecting ? Result::ConnectTimeout : Result::ResponseTimeout);
}

void Session::fallBackToStartTls() {
    m_probing = false;
    m_security = Security::StartTls;
    emitLog(QStringLiteral("No answer on port 995, trying STLS"));
    openStream(m_endpoint.port, false, m_timeoutMs);
}

// Never a downgrade: from plain text to TLS, and STLS stays required if plain text comes back.
void Session::tryImplicitTls() {
    m_portProbe = PortProbe::ImplicitTls;
    m_security = Security::ImplicitTls;
    emitLog(QStringLiteral("No greeting on port %1, trying TLS").arg(m_connectedPort));
    openStream(m_connectedPort, true, connectMsLeft());
}

void Session::tryPlainAgain() {
    m_portProbe = PortProbe::PlainAgain;
    m_security = Security::StartTls;
    m_tlsProblem = m_stream->tlsProblem();
    emitLog(QStringLiteral("No TLS on port %1 either, waiting for a greeting").arg(m_connectedPort));
    openStream(m_connectedPort, false, connectMsLeft());
}

int Session::connectMsLeft() const {
    return int(qBound(qint64(1), m_timeoutMs - m_connectClock.elapsed(), qint64(m_timeoutMs)));
}

// A server may hang up after a refused APOP, or instead of refusing it: one new
// connection, without APOP, when nothing was answered after the refusal.
bool Session::reconnectWithoutApop() {
    if (m_op != Op::Connect || m_state != State::Authenticating || m_apopMark < 0 || m_apopRetried ||
        m_replyCount > m_apopMark + 1)
        return false;
    m_apopRefused = true;
    m_apopRetried = true;
    emitLog(QStringLiteral("The server closed the connection after APOP, connecting again"));
    openStream(m_connectedPort, false, m_timeoutMs);
    return true;
}

// ---------------------------------------------------------------- commands

void Session::queue(const QByteArray& line, bool multiLine, qsizetype maxBody, Handler handler) {
    const int bytes = static_cast<int>(line.size()) + 2;
    m_out.append(line);
    m_out.append("\r\n", 2);
    m_inFlightBytes += bytes;
    m_pending.push_back(Command{bytes, multiLine, maxBody, std::move(handler)});
}

void Session::flush() {
    if (m_out.isEmpty() || !m_stream)
        return;
    m_stream->write(m_out);
    m_out.clear();
    m_activity.restart();
    if (!m_timer.isActive())
        m_timer.start(m_timeoutMs);
}

void Session::send(const QByteArray& line, bool multiLine, qsizetype maxBody, Handler handler) {
    queue(line, multiLine, maxBody, std::move(handler));
    flush();
}

void Session::armTimer() {
    if (!m_pending.empty() || m_state == State::TlsHandshake || m_state == State::Connecting)
        m_timer.start(m_timeoutMs);
    else
        m_timer.stop();
}

void Session::processReplies() {
    m_continuationPosted = false;
    QElapsedTimer slice;
    slice.start();
    bool progressed = false;
    while (!m_pending.empty() && m_stream) {
        if (progressed && slice.elapsed() >= kSliceMs) {
            // Let the event loop run (a Cancel click, a repaint), then go on.
            if (!m_continuationPosted) {
                m_continuationPosted = true;
                QTimer::singleShot(0, this, &Session::processReplies);
            }
            break;
        }
        Command& head = m_pending.front();
        Reply reply;
        if (m_reader.next(head.multiLine, head.maxBody, reply) == ReplyReader::Status::NeedMore)
            break;
        Command command = std::move(head);
        m_pending.pop_front();
        m_inFlightBytes -= command.bytes;
        progressed = true;
        ++m_replyCount;
        if (reply.overLimit && !command.perMessage) {
            emitLog(QStringLiteral("Reply too long"));
            m_failureDetail = QStringLiteral("The server sent a reply longer than any mail server should.");
            fail(Result::HeadersUnparsable);
            return;
        }
        command.onReply(reply);
    }
    if (progressed && m_stream)
        armTimer();
}

// ---------------------------------------------------------------- login

void Session::onGreeting(Reply& reply) {
    if (reply.kind != Reply::Ok) {
        noteRefusal(reply.text);
        fail(refusalCode(reply.text, Result::ConnectionProblem));
        return;
    }
    static const QRegularExpression stamp(QStringLiteral("<[^<>\\s@]+@[^<>\\s]+>"));
    const auto match = stamp.match(QString::fromLatin1(reply.text));
    if (match.hasMatch())
        m_apopStamp = match.captured(0).toLatin1();
    requestCapabilities(State::Capabilities, [this] { afterCapabilities(); });
}

void Session::requestCapabilities(State state, std::function<void()> then) {
    m_state = state;
    send("CAPA", true, kMaxCapabilityBytes, [this, then = std::move(then)](Reply& r) {
        if (r.kind == Reply::Ok) {
            m_capabilities.clear();
            for (const QByteArray& line : r.body.split('\n')) {
                const QByteArray cap = line.trimmed().toUpper();
                if (!cap.isEmpty())
                    m_capabilities.append(cap);
            }
        }
        then();
    });
}

bool Session::hasCapability(const char* name) const {
    const QByteArray n(name);
    for (const QByteArray& cap : m_capabilities)
        if (cap == n || cap.startsWith(n + ' '))
            return true;
    return false;
}

int Session::loginDelaySeconds() const {
    for (const QByteArray& cap : m_capabilities) {
        if (!cap.startsWith("LOGIN-DELAY "))
            continue;
        // "LOGIN-DELAY 900", or "LOGIN-DELAY 900 USER" before login.
        bool ok = false;
        const int seconds = cap.split(' ').value(1).toInt(&ok);
        return ok && seconds > 0 ? seconds : 0;
    }
    return 0;
}

bool Session::offersSasl(const QByteArray& mechanism) const {
    for (const QByteArray& cap : m_capabilities)
        if (cap.startsWith("SASL ") && cap.split(' ').contains(mechanism))
            return true;
    return false;
}

void Session::afterCapabilities() {
    if (m_stream->isEncrypted()) {
        login();
    } else if (m_security == Security::Plain) {
        if (hasCapability("STLS"))
            startTls(false);
        else
            login();
    } else {
        // Whatever CAPA said: the server may still support STLS without listing it.
        startTls(true);
    }
}

void Session::startTls(bool required) {
    m_state = State::StartingTls;
    send("STLS", false, 0, [this, required](Reply& r) {
        if (r.kind != Reply::Ok) {
            noteRefusal(r.text);
            if (required) {
                fail(Result::NoSecureConnection);
            } else {
                login();
            }
            return;
        }
        // Bytes after the +OK would be read as if they came through TLS: an injection.
        if (m_reader.buffered() > 0 || m_stream->bytesAvailable() > 0) {
            emitLog(QStringLiteral("Unexpected data before the TLS handshake"));
            fail(Result::CertificateInvalid);
            return;
        }
        m_state = State::TlsHandshake;
        m_timer.start(m_timeoutMs);
        m_stream->startTls();
    });
}

void Session::login() {
    if (!m_stream->isEncrypted() && m_security != Security::Plain) {
        fail(Result::NoSecureConnection);
        return;
    }
    m_state = State::Authenticating;
    emitLog(QStringLiteral("Logging in"));
    if (m_settings.tokenMechanism != TokenMechanism::None)
        loginWithToken();
    else if (!m_stream->isEncrypted() && !m_apopStamp.isEmpty() && !m_apopRefused)
        loginApop();
    else if (offersSasl("PLAIN"))
        loginSaslPlain();
    else
        loginUserPass();
}

void Session::loginUserPass() {
    m_loginMethod = LoginMethod::UserPass;
    send("USER " + m_settings.user.toUtf8(), false, 0, [this](Reply& r) {
        if (r.kind != Reply::Ok) {
            onLoginReply(r, Result::UserRejected);
            return;
        }
        // Never pipelined: some servers lose what follows PASS in the same write.
        send("PASS " + m_settings.password.toUtf8(), false, 0,
             [this](Reply& pass) { onLoginReply(pass, Result::LoginRejected); });
    });
}

void Session::loginSaslPlain() {
    m_loginMethod = LoginMethod::SaslPlain;
    QByteArray token;
    token.append('\0');
    token.append(m_settings.user.toUtf8());
    token.append('\0');
    token.append(m_settings.password.toUtf8());
    token = token.toBase64();
    const QByteArray line = "AUTH PLAIN " + token;
    if (line.size() + 2 <= kMaxSaslLine) {
        send(line, false, 0, [this](Reply& r) { onLoginReply(r, Result::LoginRejected); });
        return;
    }
    send("AUTH PLAIN", false, 0, [this, token](Reply& r) {
        if (r.kind != Reply::Continue) {
            onLoginReply(r, Result::LoginRejected);
            return;
        }
        send(token, false, 0, [this](Reply& done) { onLoginReply(done, Result::LoginRejected); });
    });
}

// RFC 7628 (OAUTHBEARER) where CAPA lists it, else the older XOAUTH2, which
// the big providers offer without always listing it.
void Session::loginWithToken() {
    const QByteArray user = m_settings.user.toUtf8();
    const QByteArray bearer = "auth=Bearer " + m_settings.accessToken.toUtf8() + "\x01\x01";
    const bool oauthBearer = m_settings.tokenMechanism == TokenMechanism::OAuthBearer ||
                             (m_settings.tokenMechanism == TokenMechanism::Auto && offersSasl("OAUTHBEARER"));
    if (!oauthBearer) {
        m_loginMethod = LoginMethod::XOAuth2;
        sendSaslResponse("XOAUTH2", "user=" + user + "\x01" + bearer);
        return;
    }
    m_loginMethod = LoginMethod::OAuthBearer;
    QByteArray authzid = user;
    authzid.replace('=', "=3D").replace(',', "=2C"); // RFC 5801 saslname
    sendSaslResponse("OAUTHBEARER", "n,a=" + authzid + ",\x01host=" + m_endpoint.host.toUtf8() +
                                        "\x01port=" + QByteArray::number(m_connectedPort) + "\x01" + bearer);
}

// RFC 5034: an initial response that would make the line longer than 255
// octets waits for the server's "+" (an OAuth2 token always does).
void Session::sendSaslResponse(const QByteArray& mechanism, const QByteArray& response) {
    const QByteArray encoded = response.toBase64();
    const QByteArray line = "AUTH " + mechanism + ' ' + encoded;
    if (line.size() + 2 <= kMaxSaslLine) {
        send(line, false, 0, [this](Reply& r) { onTokenReply(r); });
        return;
    }
    send("AUTH " + mechanism, false, 0, [this, encoded](Reply& r) {
        if (r.kind != Reply::Continue) {
            onLoginReply(r, Result::LoginRejected);
            return;
        }
        send(encoded, false, 0, [this](Reply& done) { onTokenReply(done); });
    });
}

// A refused token comes back as a "+" with a base64 JSON error (status, scope);
// the client must answer it (XOAUTH2: an empty line; OAUTHBEARER: ^A, RFC 7628
// 3.2.3) before the server sends its -ERR.
void Session::onTokenReply(Reply& reply) {
    if (reply.kind != Reply::Continue) {
        onLoginReply(reply, Result::LoginRejected);
        return;
    }
    const QJsonObject error = QJsonDocument::fromJson(QByteArray::fromBase64(reply.text.trimmed())).object();
    const QString status = error.value(QStringLiteral("status")).toVariant().toString();
    m_failureDetail =
        status.isEmpty()
            ? QStringLiteral("The server refused the OAuth2 access token.")
            : QStringLiteral("The server refused the OAuth2 access token (status %1).").arg(status);
    emitLog(m_failureDetail);
    const QByteArray answer = m_loginMethod == LoginMethod::OAuthBearer ? QByteArray("AQ==") : QByteArray();
    send(answer, false, 0, [this](Reply& done) { onLoginReply(done, Result::LoginRejected); });
}

void Session::loginApop() {
    m_loginMethod = LoginMethod::Apop;
    m_apopMark = m_replyCount;
    const QByteArray digest =
        QCryptographicHash::hash(m_apopStamp + m_settings.password.toUtf8(), QCryptographicHash::Md5).toHex();
    send("APOP " + m_settings.user.toUtf8() + ' ' + digest, false, 0, [this](Reply& r) { onApopReply(r); });
}

// A timestamp means APOP may work, not that the user has an APOP secret: many
// servers send one to everybody. pop3:// allows the password in plain text, so
// a refusal is followed by the other ways, unless the mailbox is locked or the
// server is in trouble (another login would meet the same).
void Session::onApopReply(Reply& reply) {
    const Result refused = refusalCode(reply.text, Result::LoginRejected);
    if (reply.kind == Reply::Ok || refused != Result::LoginRejected) {
        onLoginReply(reply, Result::LoginRejected);
        return;
    }
    noteRefusal(reply.text);
    m_apopRefused = true;
    emitLog(QStringLiteral("APOP refused, trying the password"));
    login();
}

void Session::onLoginReply(Reply& reply, Result fallback) {
    if (reply.kind == Reply::Ok) {
        loggedIn();
        return;
    }
    noteRefusal(reply.text);
    // A "+" here means the server wants more than PLAIN gives: not a login.
    fail(reply.kind == Reply::Continue ? Result::LoginRejected : refusalCode(reply.text, fallback));
}

void Session::loggedIn() {
    emitLog(QStringLiteral("Logged in"));
    // Some servers list TOP, UIDL or PIPELINING only now.
    requestCapabilities(State::LoginCapabilities, [this] {
        m_state = State::Transaction;
        finish(Result::Ok);
    });
}

// ---------------------------------------------------------------- headers

namespace {
// One "n size" line of LIST. Sizes past kMaxMessageSize (digits too many for 64
// bits included) are clamped, so totals cannot overflow.
bool ParseListLine(QByteArrayView line, int& number, qint64& size) {
    const qsizetype space = line.indexOf(' ');
    if (space <= 0)
        return false;
    bool okNumber = false;
    bool okSize = false;
    number = line.first(space).toInt(&okNumber);
    const QByteArrayView sizeText = line.sliced(space + 1).trimmed();
    const qulonglong value = sizeText.toULongLong(&okSize);
    // Digits too many for 64 bits are still a size, just an absurd one.
    const bool hugeSize =
        !okSize && !sizeText.isEmpty() &&
        std::all_of(sizeText.begin(), sizeText.end(), [](char c) { return c >= '0' && c <= '9'; });
    size = hugeSize || value > qulonglong(kMaxMessageSize) ? kMaxMessageSize : qint64(value);
    return okNumber && (okSize || hugeSize) && number >= 1;
}
} // namespace

// Fills the message list from a LIST body; returns why it cannot be used, or
// nothing when every line named one message.
QString Session::readListing(const QByteArray& body) {
    const char* p = body.constData();
    const char* end = p + body.size();
    QSet<int> seen;
    while (p < end) {
        const char* eol = static_cast<const char*>(std::memchr(p, '\n', size_t(end - p)));
        if (!eol)
            eol = end;
        const QByteArrayView line = QByteArrayView(p, eol - p).trimmed();
        p = eol + 1;
        if (line.isEmpty())
            continue;
        int number = 0;
        Message m;
        if (!ParseListLine(line, number, m.Size) || m_messages.size() >= kMaxMessages)
            return QStringLiteral("The server's list of messages could not be read.");
        // Each number must name one message: a repeated one would put two rows on
        // one message, and deleting either row would delete what the other shows.
        if (seen.contains(number))
            return QStringLiteral("The server listed message %1 twice.").arg(number);
        seen.insert(number);
        m_messages.push_back(std::move(m));
        m_numbers.push_back(number);
    }
    // RFC 1939: a new session numbers its messages 1..n.
    for (int number : m_numbers) {
        if (number > static_cast<int>(m_numbers.size()))
            return QStringLiteral("The server listed message %1 of only %2.")
                .arg(number)
                .arg(m_numbers.size());
    }
    return {};
}

void Session::onList(Reply& reply) {
    if (reply.kind != Reply::Ok) {
        noteRefusal(reply.text);
        m_failureDetail = QStringLiteral("The server refused to list the messages.");
        m_state = State::Transaction;
        finish(Result::CommandRefused);
        return;
    }
    if (const QString broken = readListing(reply.body); !broken.isEmpty()) {
        listingBroken(broken);
        return;
    }
    if (m_messages.empty()) {
        // A pipelined UIDL may still answer; its reply is matched and dropped.
        m_state = State::Transaction;
        finish(Result::Ok);
        return;
    }
    if (m_uidlPending && m_chooseFetch && hasCapability("PIPELINING")) {
        // The choice goes by UIDL: its answer is next in the pipeline.
        m_fetchAfterUidl = true;
        return;
    }
    if (m_uidlPending && !hasCapability("PIPELINING")) {
        send("UIDL", true, kMaxListingBytes, [this](Reply& r) {
            onUidl(r);
            startFetching();
        });
        return;
    }
    startFetching();
}

void Session::listingBroken(const QString& reason) {
    emitLog(QStringLiteral("Unreadable message list"));
    m_messages.clear();
    m_numbers.clear();
    m_failureDetail = reason;
    fail(Result::HeadersUnparsable);
}

void Session::onUidl(Reply& reply) {
    m_uidlPending = false;
    if (reply.kind != Reply::Ok || m_messages.empty())
        return;
    QHash<int, size_t> index;
    index.reserve(static_cast<qsizetype>(m_numbers.size()));
    for (size_t i = 0; i < m_numbers.size(); ++i)
        index.insert(m_numbers[i], i);
    for (const QByteArray& raw : reply.body.split('\n')) {
        const QByteArray line = raw.trimmed();
        const qsizetype space = line.indexOf(' ');
        if (space <= 0)
            continue;
        bool ok = false;
        const int number = line.left(space).toInt(&ok);
        const auto it = index.constFind(number);
        if (ok && it != index.cend())
            m_messages[it.value()].Uidl = line.mid(space + 1).trimmed();
    }
}

void Session::startFetching() {
    m_fetch.clear();
    if (m_chooseFetch) {
        for (int index : m_chooseFetch(m_messages))
            if (index >= 0 && index < count() && (m_fetch.empty() || index > m_fetch.back()))
                m_fetch.push_back(index);
    } else {
        m_fetch.resize(m_messages.size());
        for (size_t i = 0; i < m_fetch.size(); ++i)
            m_fetch[i] = static_cast<int>(i);
    }
    if (m_fetch.empty()) {
        m_state = State::Transaction;
        finish(Result::Ok);
        return;
    }
    m_state = State::Fetching;
    m_keptHeaderBytes = 0;
    m_nextTop = 0;
    m_topsDone = 0;
    pumpTops();
}

void Session::pumpTops() {
    const bool pipelining = hasCapability("PIPELINING");
    const int window = pipelining ? m_maxInFlight : 1;
    const int total = static_cast<int>(m_fetch.size());
    const int inFlight = m_nextTop - m_topsDone;
    // Top up in batches: a write per reply would cost a syscall and a packet each.
    if (m_nextTop >= total || (inFlight > 0 && inFlight > window - qMin(kRefillBatch, window)))
        return;
    while (m_nextTop < total && m_nextTop - m_topsDone < window && m_inFlightBytes < m_maxInFlightBytes) {
        const int index = m_fetch[size_t(m_nextTop++)];
        queue("TOP " + QByteArray::number(m_numbers[size_t(index)]) + " 0", true, m_maxHeaderBytes,
              [this, index](Reply& r) { onTop(index, r); });
        m_pending.back().perMessage = true;
    }
    flush();
}

void Session::onTop(int index, Reply& reply) {
    Message& m = m_messages[size_t(index)];
    QByteArray block;
    bool keep = false;
    if (reply.kind == Reply::Ok && !reply.overLimit) {
        keep = m_keptHeaderBytes + reply.body.size() <= m_maxKeptHeaderBytes;
        if (keep)
            m_keptHeaderBytes += reply.body.size();
        // Past the cap a row is listed from its fields; the raw header is not kept.
        m.MessageStatusFlag = keep ? MessageStatus::Downloaded : MessageStatus::TopFailed;
        block = std::move(reply.body);
    } else {
        // The row stays; only its header is missing (refused, or over its cap).
        m.MessageStatusFlag = MessageStatus::TopFailed;
    }
    // Parsed beside the socket while the next replies arrive.
    if (m_headerSink)
        m_headerSink(index + 1, m, std::move(block), keep);
    ++m_topsDone;
    const int total = static_cast<int>(m_fetch.size());
    reportProgress(StatusCode::Header, m_topsDone, total);
    if (m_topsDone == total) {
        m_state = State::Transaction;
        finish(Result::Ok);
        return;
    }
    pumpTops();
}

// ---------------------------------------------------------------- deletion

void Session::pumpDeletes() {
    const int window = hasCapability("PIPELINING") ? m_maxInFlight : 1;
    const int total = static_cast<int>(m_deleteNumbers.size());
    const int inFlight = static_cast<int>(m_pending.size());
    // Top up in batches, as for TOP: a write per reply costs a syscall and a packet.
    if (inFlight > 0 && inFlight > window - qMin(kRefillBatch, window)) {
        return;
    }
    while (m_nextDelete < total && static_cast<int>(m_pending.size()) < window) {
        const int i = m_nextDelete++;
        if (m_deleteResults[i] != Result::Pending) {
            ++m_deletesDone;
            continue;
        }
        const int number = m_numbers[size_t(m_deleteNumbers[i] - 1)];
        queue("DELE " + QByteArray::number(number), false, 0, [this, i, total](Reply& r) {
            if (r.kind != Reply::Ok)
                noteRefusal(r.text);
            m_deleteResults[i] = r.kind == Reply::Ok ? Result::Ok : Result::CommandRefused;
            ++m_deletesDone;
            reportProgress(StatusCode::Marking, m_deletesDone, total);
            pumpDeletes();
        });
    }
    flush();
    if (m_deletesDone == total && m_pending.empty()) {
        m_state = State::Transaction;
        finish(Result::Ok);
    }
}

// ---------------------------------------------------------------- helpers

// The first, the last, and at most one in between per few milliseconds: a text
// and two signals for each of ten thousand answers cost more than they tell.
void Session::reportProgress(StatusCode code, int done, int total) {
    constexpr qint64 kEveryMs = 15;
    if (done != 1 && done != total && m_progressClock.isValid() && m_progressClock.elapsed() < kEveryMs)
        return;
    m_progressClock.start();
    const QString text = code == StatusCode::Header ? QStringLiteral("Downloading header %1 of %2")
                                                    : QStringLiteral("Marking message %1 of %2");
    Q_EMIT status(text.arg(done).arg(total), done, total, code);
    if (m_running)
        Q_EMIT m_running->progress(done, total);
}

void Session::noteRefusal(const QByteArray& text) {
    m_lastReply =
        MaskSecret(MaskSecret(QString::fromUtf8(text), m_settings.password), m_settings.accessToken);
}

void Session::emitLog(const QString& text) {
    Q_EMIT log(text, static_cast<int>(m_state));
}

} // namespace pop3
