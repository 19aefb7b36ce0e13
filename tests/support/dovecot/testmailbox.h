#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

class TestMailServer;

// One test's own mailbox on the fixture's server: a login of its own and a
// Maildir the test fills with raw messages and inspects after a session.
// Made by TestMailServer::createMailbox; cheap to copy.
class TestMailbox {
public:
    TestMailbox() = default;

    bool isValid() const { return m_error.isEmpty() && !m_user.isEmpty(); }
    QString errorString() const { return m_error; }

    QString user() const { return m_user; }
    QString password() const { return m_password; }
    QString maildir() const { return m_maildir; }

    // Delivers one message (RFC 5322 bytes, CRLF or LF line ends; stored with LF
    // as Maildir wants). Messages are served in delivery order, so the result is
    // the message's POP3 number as long as nothing was deleted. 0 on failure
    // (see errorString).
    int addMessage(const QByteArray& raw);
    // Delivers many; false (see errorString) at the first failure.
    bool addMessages(const QList<QByteArray>& raws);
    int deliveredCount() const { return m_delivered; }

    // Delivery numbers of the messages whose files are still in the Maildir,
    // ascending: after a session, what the server really removed.
    QList<int> remainingMessages() const;
    // Full paths of the message files (cur/ and new/), sorted.
    QStringList messageFiles() const;

    // The server's log lines about this mailbox (logins, refused logins, session ends).
    QStringList serverLog() const;
    // Waits until a log line about this mailbox contains `text` and returns it;
    // an empty string after timeoutMs. Log lines reach the file a moment after the event.
    QString waitForServerLog(const QString& text, int timeoutMs = 5000) const;

private:
    friend class TestMailServer;
    QString m_user;
    QString m_password;
    QString m_maildir;
    QString m_logFile;
    QString m_error;
    int m_uid = -1; // owner of delivered files when we run as root, else -1
    int m_gid = -1;
    int m_delivered = 0;
};
