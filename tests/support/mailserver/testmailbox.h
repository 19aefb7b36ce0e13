#pragma once

#include "support/mailserver/sessionlog.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

class TestMailServer;

// One test's own mailbox on the fixture's server: a login of its own and a store
// the test fills with raw messages and inspects after a session (a Maildir, or
// Cyrus's own store over IMAP). Made by TestMailServer::createMailbox; cheap to copy.
class TestMailbox {
public:
    TestMailbox() = default;

    bool isValid() const { return m_error.isEmpty() && !m_user.isEmpty(); }
    QString errorString() const { return m_error; }

    QString user() const { return m_user; }
    QString password() const { return m_password; }
    QString maildir() const { return m_maildir; } // unused by Cyrus

    // Delivers one message (RFC 5322 bytes, CRLF or LF line ends; a Maildir stores
    // LF, Cyrus CRLF). Messages are served in delivery order, so the result is
    // the message's POP3 number as long as nothing was deleted. 0 on failure
    // (see errorString).
    int addMessage(const QByteArray& raw);
    // Delivers many (over one connection where the store is IMAP); false (see
    // errorString) at the first failure.
    bool addMessages(const QList<QByteArray>& raws);
    int deliveredCount() const { return m_delivered; }

    // Delivery numbers of the messages still in the store, ascending: after a
    // session, what the server really removed. Empty, with errorString set, when
    // the store cannot be read.
    QList<int> remainingMessages() const;
    // Full paths of the message files of a Maildir (cur/ and new/), sorted; empty for Cyrus.
    QStringList messageFiles() const;

    // What the server recorded about this mailbox's sessions (see SessionLog).
    QList<ServerSession> sessions() const;
    // Waits until a session fulfils `condition` and returns it; nullopt after
    // timeoutMs. Records reach the server's files a moment after the event.
    std::optional<ServerSession> waitForSession(const std::function<bool(const ServerSession&)>& condition,
                                                int timeoutMs = 15000) const;
    std::optional<ServerSession> waitForLogin(int timeoutMs = 15000) const;
    std::optional<ServerSession> waitForSessionEnd(int timeoutMs = 15000) const;
    // Refused logins so far; nullopt when the server does not record them.
    std::optional<int> refusedLogins() const;
    // The server's raw records about this mailbox, for failure messages.
    QStringList serverLog() const;

private:
    friend class TestMailServer;
    static bool openImapInbox(const QString& socket, const QString& user, const QString& password,
                              QString& error);
    bool appendOverImap(const QList<QByteArray>& raws);
    int addToMaildir(const QByteArray& raw);

    QString m_user;
    QString m_password;
    QString m_maildir;
    QString m_imapSocket; // Cyrus: deliveries and the store go through IMAP
    std::shared_ptr<const SessionLog> m_log;
    mutable QString m_error;
    int m_uid = -1; // owner of delivered files when we run as root, else -1
    int m_gid = -1;
    int m_delivered = 0;
};
