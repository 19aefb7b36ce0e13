#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QSslCertificate>
#include <QString>
#include <QVariant>
#include <QtGlobal>

#include <functional>
#include <vector>

namespace pop3 {
Q_NAMESPACE

// Result codes of the component's operations. The numbers are what users see
// ("Code 4") and are fixed: 0..13 keep their historic meanings; the codes above
// 13 tell apart failures that used to be lumped together (a locked mailbox is
// not a wrong password).
enum class Result : int {
    Pending = -1, // the session's own marker for a running operation; never returned by Client
    Ok = 0,
    ConnectionProblem = 1,
    UserRejected = 2,
    LoginRejected = 4,
    HeadersUnparsable = 5,
    Cancelled = 7,
    ConnectionLost = 8,
    HostNotFound = 11,
    ConnectTimeout = 12,
    ResponseTimeout = 13,
    CertificateInvalid = 14,     // certificate could not be verified, or the TLS handshake failed
    NoSecureConnection = 15,     // the server offers no TLS and the address did not allow plain text
    MailboxInUse = 16,           // [IN-USE]
    LoginDelay = 17,             // [LOGIN-DELAY]
    ServerTemporaryFailure = 18, // [SYS/TEMP]
    NotConnected = 19,           // operation needs an open session
    Busy = 20,                   // another call of this component is still running
    NoSuchMessage = 21,          // the message number is not in the session's list
    CommandRefused = 22,         // the server answered -ERR (DELE, NOOP, QUIT)
};
Q_ENUM_NS(Result)

// The number shown to the user for a result.
constexpr int ResultCode(Result result) {
    return static_cast<int>(result);
}

// What a StatusMessage's nMin of nMax counts.
enum class StatusCode : int {
    Header = 4,  // headers downloaded
    Marking = 6, // messages marked for deletion (DELE answered)
};
Q_ENUM_NS(StatusCode)

// How far a listed message's header got.
enum class MessageStatus : int {
    Listed = 0,     // in the listing, header not (yet) downloaded
    TopFailed = 1,  // TOP refused or over a limit: listed from LIST alone, no raw header kept
    Downloaded = 2, // header downloaded and kept
};
Q_ENUM_NS(MessageStatus)

enum class Security {
    Auto,        // bare host: implicit TLS on 995, else STLS on the default port
    ImplicitTls, // pop3s:// or port 995
    StartTls,    // any other port: STLS required
    Plain,       // pop3:// : STLS when offered, plain text allowed otherwise
};

// How a session logged in. APOP is tried only without TLS (pop3://), and only
// when the greeting carries a timestamp. XOAuth2 and OAuthBearer send an OAuth2
// access token instead of a password.
enum class LoginMethod { None, Apop, UserPass, SaslPlain, XOAuth2, OAuthBearer };
Q_ENUM_NS(LoginMethod)

struct Endpoint {
    QString host;
    quint16 port = 0;
    Security security = Security::Auto;

    // Parses "host", "host:port", "[v6]:port", "pop3s://host[:port]", "pop3://host[:port]".
    // defaultPort is the settings port (110 unless changed). Returns false on garbage.
    static bool Parse(const QString& address, quint16 defaultPort, Endpoint& out);
};

// A certificate the user chose to trust for one server although it could not be
// verified. It applies to exactly that host and port, and only to the certificate
// whose SHA-256 digest it names.
struct CertificateException {
    QString host;
    quint16 port = 0;
    QByteArray sha256; // raw digest of the DER certificate
};

// Why the last TLS connection failed, in terms a user can act on.
struct TlsProblem {
    enum class Reason {
        SelfSigned,
        Expired,
        NotYetValid,
        HostNameMismatch,
        UnknownIssuer,
        Revoked,
        OtherVerificationError,
        HandshakeFailed, // no certificate was judged: TLS spoken to a plain port, no common protocol, ...
    };
    QString host;
    quint16 port = 0;
    QList<Reason> reasons;       // empty when there was no problem
    QSslCertificate certificate; // the server's certificate; null when none was received
    QString detail;              // the TLS library's own words

    bool isEmpty() const { return reasons.isEmpty(); }
    // True when the user could trust this certificate for this server.
    bool canBeExcepted() const { return !certificate.isNull() && !reasons.contains(Reason::HandshakeFailed); }
};

// One message of the open session. Texts are decoded for display; Headers keeps
// the raw header bytes exactly as received (after dot-unstuffing).
struct Message {
    QString From; // display name (decoded), or the address when there is none
    QString FromAddr;
    QString ReplyToAddr;
    QString Subject;
    QString Date;    // as received
    qint64 Size = 0; // from LIST
    QString ContentType = QStringLiteral("text");
    QString ContentSubType = QStringLiteral("plain");
    int Recipients = 0; // addresses in To and Cc, group members counted
    MessageStatus MessageStatusFlag = MessageStatus::Listed;
    QByteArray Headers;
    QByteArray Uidl; // empty when the server has no UIDL
};

// How a POP3 job ended: success (code Ok), or the user-visible code with what
// we know of the cause, so the caller never has to ask the session afterwards.
struct Failure {
    Result code = Result::Ok;
    QString words;       // our own words for the cause (a broken listing, say); may be empty
    TlsProblem tls;      // why TLS failed, when code is CertificateInvalid
    QString serverReply; // the server's last refusal (-ERR text), never holding the password

    bool isOk() const { return code == Result::Ok; }
    static Failure of(Result result) {
        Failure failure;
        failure.code = result;
        return failure;
    }
};

// A listed message once its header has been parsed, with what the receiver's
// row maker made of it on the parser thread.
struct ParsedMessage {
    int number = 0; // 1-based position in the session's listing
    Message message;
    QVariant row;
};
using RowMaker = std::function<QVariant(const Message& message, int number)>;
// Which listed messages get their header downloaded: 0-based positions in the
// listing (sizes and UIDLs known, nothing parsed yet), ascending.
using FetchChooser = std::function<std::vector<int>(const std::vector<Message>& listing)>;

// Fills the parsed fields of message from a raw header block (no size, flag or
// uidl). Never fails on hostile input: unparsable parts are left empty.
void ParseHeaderBlock(const QByteArray& rawHeaders, Message& message);

} // namespace pop3

Q_DECLARE_METATYPE(pop3::Failure)
Q_DECLARE_METATYPE(pop3::ParsedMessage)
