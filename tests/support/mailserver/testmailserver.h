#pragma once

#include "support/mailserver/sessionlog.h"
#include "support/mailserver/testmailbox.h"

#include <QList>
#include <QString>
#include <QtGlobal>

#include <memory>

// The private POP3 server of a CTest fixture "mailserver_<kind>", as described by
// the file its start wrote (mailserver.sh). Every test makes its own mailboxes on
// it, so tests run in parallel against one server.
//
//   TestMailServer server;
//   TIDEMARSH_REQUIRE_MAILSERVER(server); // in initTestCase
//   TestMailbox box = server.createMailbox();
//   box.addMessage("From: a@example.org\r\nSubject: hi\r\n\r\nbody\r\n");
//   ... log in as box.user() / box.password() on server.host():server.pop3Port() ...
//   QCOMPARE(box.remainingMessages(), QList<int>{});
class TestMailServer {
public:
    struct MailboxOptions {
        bool lockSession = false; // a second session gets -ERR [IN-USE] (Dovecot only: after ~10 s)
        QString password;         // empty: a random one
        QString userPrefix = QStringLiteral("t");
        // The commands of each session in ServerSession::commands (Dovecot; Cyrus records them anyway).
        bool recordTraffic = false;
    };

    // $TIDEMARSH_MAILSERVER_INI when set, else the file in this build tree.
    static QString defaultDescriptionPath();

    explicit TestMailServer(const QString& descriptionPath = defaultDescriptionPath());

    bool isValid() const { return m_error.isEmpty(); }
    QString errorString() const { return m_error; }
    // Why the fixture could not run this server here (not root, not installed); empty when it runs.
    QString unavailableReason() const { return m_unavailable; }

    QString kind() const { return m_kind; }                        // "dovecot", "courier" or "cyrus"
    QString host() const { return m_host; }                        // numeric loopback address
    quint16 pop3Port() const { return m_pop3Port; }                // plain POP3, offers STLS
    quint16 pop3sPort() const { return m_pop3sPort; }              // implicit TLS
    QString caFile() const { return m_caFile; }                    // the test CA (PEM) that signed the server
    QString serverCertificateFile() const { return m_serverCert; } // for localhost/127.0.0.1
    QString serverKeyFile() const { return m_serverKey; }
    QString logFile() const { return m_logFile; }
    bool canLockSessions() const { return m_canLock; }
    // Where the server keeps the mail: files in a Maildir a test may inspect, or
    // (Cyrus) a store of its own reached over IMAP.
    bool storesMaildir() const { return m_imapSocket.isEmpty(); }

    // A new, empty mailbox with a login of its own, which the server accepts
    // when this returns (up to a second later: the server looks for new logins
    // once a second). Check isValid() on the result.
    TestMailbox createMailbox(const MailboxOptions& options);
    TestMailbox createMailbox() { return createMailbox(MailboxOptions{}); }
    // Several at once, for the price of one wait.
    QList<TestMailbox> createMailboxes(int count, const MailboxOptions& options);
    QList<TestMailbox> createMailboxes(int count) { return createMailboxes(count, MailboxOptions{}); }

private:
    struct Login {
        QString user;
        QString password;
        QString home;
        bool lockSession = false;
    };
    TestMailbox prepareMailbox(const MailboxOptions& options) const;
    bool registerLogins(const QList<Login>& logins, QString& error) const;
    bool addPasswdFileLogins(const QList<Login>& logins, QString& error) const;
    bool runLoginHelper(const QList<Login>& logins, QString& error) const;

    QString m_error;
    QString m_unavailable;
    QString m_kind;
    QString m_host;
    quint16 m_pop3Port = 0;
    quint16 m_pop3sPort = 0;
    QString m_caFile;
    QString m_serverCert;
    QString m_serverKey;
    QString m_passwdFile;
    QString m_mailRoot;
    QString m_logFile;
    QString m_stateDir;
    QString m_helper;
    QString m_imapSocket;
    std::shared_ptr<const SessionLog> m_sessionLog;
    int m_mailUid = -1;
    int m_mailGid = -1;
    int m_passwdGid = -1;
    bool m_canLock = false;
};

// In initTestCase: skips the whole test, saying why, when the fixture could not
// run its server on this machine; fails when it should run but does not.
#define TIDEMARSH_REQUIRE_MAILSERVER(server)                                                                 \
    do {                                                                                                     \
        if (!(server).unavailableReason().isEmpty())                                                         \
            QSKIP(qPrintable(QStringLiteral("mail server unavailable: ") + (server).unavailableReason()));   \
        QVERIFY2((server).isValid(), qPrintable((server).errorString()));                                    \
    } while (false)
