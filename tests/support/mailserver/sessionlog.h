#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <memory>
#include <optional>

// One POP3 session of a mailbox as the server itself recorded it. Each server
// records different things; what it does not record is -1 or nullopt, and a
// test checks only what is known.
struct ServerSession {
    qint64 pid = -1;         // the process serving it, where the record names one
    std::optional<bool> tls; // logged in inside TLS
    bool ended = false;      // closed, by QUIT or by a cut
    bool quit = false;       // ended by QUIT, so marked messages went
    int tops = -1;           // TOP commands
    qint64 topBytes = -1;    // stored header bytes read for TOP (Courier counts bytes, not commands)
    int retrs = -1;          // RETR commands
    qint64 retrBytes = -1;
    int deletions = -1; // messages removed at the end of the session
    // The commands the client sent after login, as the server received them
    // ("TOP 3 40"), where the server records its traffic (Cyrus always; Dovecot
    // for a mailbox made with MailboxOptions::recordTraffic).
    std::optional<QStringList> commands;

    bool fetchedNoBodies() const { return retrs == 0 || (retrs < 0 && retrBytes == 0); }
};

// Reads one server kind's own records (a log file, or Cyrus's per-session
// telemetry) into ServerSession values, so tests never match log text themselves.
class SessionLog {
public:
    virtual ~SessionLog() = default;

    // kind: dovecot, courier or cyrus; logFile: the server's log; trafficDir: where
    // each user's traffic is recorded, in DIR/<user>/ (Cyrus's telemetry folder;
    // for Dovecot the mail root, whose homes may hold a rawlog folder). Null for
    // an unknown kind.
    static std::shared_ptr<const SessionLog> make(const QString& kind, const QString& logFile,
                                                  const QString& trafficDir);

    // The user's sessions that got past login, oldest first.
    virtual QList<ServerSession> sessions(const QString& user) const = 0;
    // Refused logins of the user, or nullopt when the server does not record them.
    virtual std::optional<int> refusedLogins(const QString& user) const = 0;
    // The raw records about the user, for failure messages.
    virtual QStringList lines(const QString& user) const = 0;
};
