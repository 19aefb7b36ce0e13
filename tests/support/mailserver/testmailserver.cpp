#include "support/mailserver/testmailserver.h"

#include <QAtomicInt>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QSaveFile>
#include <QSettings>
#include <QThread>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QAtomicInt g_mailboxCounter;

QString randomHex(int bytes) {
    QByteArray raw(bytes, Qt::Uninitialized);
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32*>(raw.data()), bytes / 4);
    return QString::fromLatin1(raw.toHex());
}

bool makeOwnedDir(const QString& path, int uid, int gid, QString& error) {
    if (!QDir().mkpath(path)) {
        error = QStringLiteral("cannot create %1").arg(path);
        return false;
    }
    if (uid >= 0 && ::chown(QFile::encodeName(path).constData(), uid_t(uid), gid_t(gid)) != 0) {
        error = QStringLiteral("cannot hand %1 to uid %2").arg(path).arg(uid);
        return false;
    }
    return true;
}

} // namespace

QString TestMailServer::defaultDescriptionPath() {
    const QString fromEnv = qEnvironmentVariable("TIDEMARSH_MAILSERVER_INI");
    return fromEnv.isEmpty() ? QStringLiteral(TIDEMARSH_MAILSERVER_INI) : fromEnv;
}

TestMailServer::TestMailServer(const QString& descriptionPath) {
    if (!QFileInfo::exists(descriptionPath)) {
        m_error = QStringLiteral("%1 is missing: is the CTest fixture 'mailserver_<kind>' running?")
                      .arg(descriptionPath);
        return;
    }
    QSettings ini(descriptionPath, QSettings::IniFormat);
    ini.beginGroup(QStringLiteral("server"));
    m_kind = ini.value(QStringLiteral("kind")).toString();
    m_unavailable = ini.value(QStringLiteral("unavailable")).toString();
    if (!m_unavailable.isEmpty()) {
        m_error = QStringLiteral("%1 cannot run here: %2").arg(m_kind, m_unavailable);
        return;
    }
    m_host = ini.value(QStringLiteral("host")).toString();
    m_pop3Port = quint16(ini.value(QStringLiteral("pop3_port")).toUInt());
    m_pop3sPort = quint16(ini.value(QStringLiteral("pop3s_port")).toUInt());
    m_caFile = ini.value(QStringLiteral("ca_file")).toString();
    m_serverCert = ini.value(QStringLiteral("server_cert")).toString();
    m_serverKey = ini.value(QStringLiteral("server_key")).toString();
    m_passwdFile = ini.value(QStringLiteral("passwd_file")).toString();
    m_mailRoot = ini.value(QStringLiteral("mail_root")).toString();
    m_logFile = ini.value(QStringLiteral("log_file")).toString();
    m_stateDir = ini.value(QStringLiteral("state_dir")).toString();
    m_helper = ini.value(QStringLiteral("helper")).toString();
    m_imapSocket = ini.value(QStringLiteral("imap_socket")).toString();
    m_sessionLog = SessionLog::make(m_kind, m_logFile,
                                    m_kind == QLatin1String("dovecot")
                                        ? m_mailRoot
                                        : ini.value(QStringLiteral("telemetry_dir")).toString());
    m_mailUid = ini.value(QStringLiteral("mail_uid"), -1).toInt();
    m_mailGid = ini.value(QStringLiteral("mail_gid"), -1).toInt();
    m_passwdGid = ini.value(QStringLiteral("passwd_gid"), -1).toInt();
    m_canLock = ini.value(QStringLiteral("lock_session")).toInt() == 1;
    const int pid = ini.value(QStringLiteral("pid")).toInt();

    if (ini.status() != QSettings::NoError || m_kind.isEmpty() || m_host.isEmpty() || m_pop3Port == 0 ||
        m_pop3sPort == 0 || m_mailRoot.isEmpty()) {
        m_error = QStringLiteral("%1 does not describe a server").arg(descriptionPath);
    } else if (pid <= 0 || ::kill(pid, 0) != 0) {
        m_error = QStringLiteral("the server of %1 (pid %2) is not running").arg(descriptionPath).arg(pid);
    } else if (!QFileInfo(m_mailRoot).isDir()) {
        m_error = QStringLiteral("mail folder %1 is missing").arg(m_mailRoot);
    } else if (!m_sessionLog) {
        m_error = QStringLiteral("no support for server kind '%1'").arg(m_kind);
    }
}

TestMailbox TestMailServer::createMailbox(const MailboxOptions& options) {
    const QList<TestMailbox> boxes = createMailboxes(1, options);
    return boxes.isEmpty() ? TestMailbox() : boxes.first();
}

QList<TestMailbox> TestMailServer::createMailboxes(int count, const MailboxOptions& options) {
    QList<TestMailbox> boxes;
    QList<Login> logins;
    for (int i = 0; i < count; ++i) {
        boxes << prepareMailbox(options);
        if (boxes.last().isValid())
            logins << Login{boxes.last().m_user, boxes.last().m_password,
                            QFileInfo(boxes.last().m_maildir).path(), options.lockSession};
    }
    QString error;
    if (!logins.isEmpty() && !registerLogins(logins, error)) {
        for (TestMailbox& box : boxes)
            box.m_error = error;
    }
    return boxes;
}

TestMailbox TestMailServer::prepareMailbox(const MailboxOptions& options) const {
    TestMailbox box;
    if (!isValid()) {
        box.m_error = m_error;
        return box;
    }
    if (options.lockSession && !m_canLock) {
        box.m_error = QStringLiteral("%1 cannot lock a mailbox per session").arg(m_kind);
        return box;
    }
    // Unique across the parallel test processes and across runs on one server.
    box.m_user = QStringLiteral("%1-%2-%3-%4")
                     .arg(options.userPrefix)
                     .arg(::getpid())
                     .arg(g_mailboxCounter.fetchAndAddRelaxed(1) + 1)
                     .arg(randomHex(4));
    box.m_password = options.password.isEmpty() ? randomHex(8) : options.password;
    box.m_log = m_sessionLog;
    box.m_imapSocket = m_imapSocket;
    if (::geteuid() == 0) {
        box.m_uid = m_mailUid;
        box.m_gid = m_mailGid;
    }
    const QString home = m_mailRoot + QLatin1Char('/') + box.m_user;
    box.m_maildir = home + QStringLiteral("/Maildir");

    QString error;
    bool ok = makeOwnedDir(home, box.m_uid, box.m_gid, error);
    for (const char* sub : {"", "/cur", "/new", "/tmp"})
        ok = ok && makeOwnedDir(box.m_maildir + QLatin1String(sub), box.m_uid, box.m_gid, error);
    // Dovecot records a session's traffic only where this folder exists.
    if (options.recordTraffic && m_kind == QLatin1String("dovecot"))
        ok = ok && makeOwnedDir(home + QStringLiteral("/rawlog"), box.m_uid, box.m_gid, error);
    if (!ok)
        box.m_error = error;
    return box;
}

bool TestMailServer::registerLogins(const QList<Login>& logins, QString& error) const {
    if (m_kind == QLatin1String("dovecot"))
        return addPasswdFileLogins(logins, error);
    if (!runLoginHelper(logins, error))
        return false;
    // Cyrus makes the INBOX at the first login; after it, mail can be delivered.
    if (!m_imapSocket.isEmpty()) {
        for (const Login& login : logins) {
            if (!TestMailbox::openImapInbox(m_imapSocket, login.user, login.password, error))
                return false;
        }
    }
    return true;
}

// The server's own part of mailserver.sh adds the logins (Courier: userdb, Cyrus: sasldb).
bool TestMailServer::runLoginHelper(const QList<Login>& logins, QString& error) const {
    QByteArray lines;
    for (const Login& login : logins) {
        for (const QString& field : {login.user, login.password, login.home}) {
            if (field.contains(QLatin1Char('\t')) || field.contains(QLatin1Char('\n'))) {
                error = QStringLiteral("a login field cannot hold a tab or a line break");
                return false;
            }
        }
        lines += QStringLiteral("%1\t%2\t%3\t%4\n")
                     .arg(login.user, login.password, login.home,
                          login.lockSession ? QStringLiteral("1") : QStringLiteral("0"))
                     .toUtf8();
    }
    QProcess helper;
    helper.setProcessChannelMode(QProcess::MergedChannels);
    helper.start(QStringLiteral("bash"), {m_helper, QStringLiteral("logins"), m_stateDir});
    if (!helper.waitForStarted(30000)) {
        error = QStringLiteral("cannot run %1").arg(m_helper);
        return false;
    }
    helper.write(lines);
    helper.closeWriteChannel();
    if (!helper.waitForFinished(120000) || helper.exitStatus() != QProcess::NormalExit ||
        helper.exitCode() != 0) {
        error = QStringLiteral("adding logins failed: %1").arg(QString::fromUtf8(helper.readAll()));
        return false;
    }
    return true;
}

// Dovecot: one passwd-file line per mailbox. The file is replaced, never edited
// in place, so the server (which re-reads it when it changes) never sees half a
// line; the lock serialises the test processes adding mailboxes at once.
bool TestMailServer::addPasswdFileLogins(const QList<Login>& logins, QString& error) const {
    QByteArray lines;
    for (const Login& login : logins) {
        if (login.password.contains(QLatin1Char(':')) || login.password.contains(QLatin1Char('\n'))) {
            error = QStringLiteral("a passwd-file password cannot hold ':' or a line break");
            return false;
        }
        // user:password:uid:gid:gecos:home:shell:extra fields
        lines += QStringLiteral("%1:{PLAIN}%2:%3:%4::%5::%6\n")
                     .arg(login.user, login.password)
                     .arg(m_mailUid)
                     .arg(m_mailGid)
                     .arg(login.home,
                          login.lockSession ? QStringLiteral("userdb_pop3_lock_session=yes") : QString())
                     .toUtf8();
    }
    QLockFile lock(m_passwdFile + QStringLiteral(".lock"));
    if (!lock.tryLock(30000)) {
        error = QStringLiteral("cannot lock %1").arg(m_passwdFile);
        return false;
    }
    QFile current(m_passwdFile);
    if (!current.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("cannot read %1").arg(m_passwdFile);
        return false;
    }
    const QByteArray content = current.readAll() + lines;
    current.close();

    QSaveFile next(m_passwdFile);
    if (!next.open(QIODevice::WriteOnly)) {
        error = QStringLiteral("cannot write %1").arg(m_passwdFile);
        return false;
    }
    // The auth process reads the file through its group; set that before it appears.
    if (::geteuid() == 0 && m_passwdGid >= 0 && ::fchown(next.handle(), uid_t(-1), gid_t(m_passwdGid)) != 0) {
        error = QStringLiteral("cannot set the group of %1").arg(m_passwdFile);
        return false;
    }
    ::fchmod(next.handle(), 0640);
    next.write(content);
    if (!next.commit()) {
        error = QStringLiteral("cannot replace %1").arg(m_passwdFile);
        return false;
    }
    // The auth process looks at the file at most once per second of its clock: a
    // login in the second of the change may not see it yet, one after it will.
    const qint64 changed = QDateTime::currentSecsSinceEpoch();
    while (QDateTime::currentSecsSinceEpoch() == changed)
        QThread::msleep(20);
    return true;
}
