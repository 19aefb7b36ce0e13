#include "support/mailserver/testmailbox.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLocalSocket>
#include <QRegularExpression>
#include <QThread>

#include <algorithm>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Maildir names of our deliveries: <time>.M<number>P<pid>.tidemarsh,S=<size>,W=<CRLF size>:2,
// The time grows with the number, so the server sorts new mail in delivery order.
const QRegularExpression& deliveryName() {
    static const QRegularExpression re(QStringLiteral("^\\d+\\.M(\\d+)P\\d+\\.tidemarsh,"));
    return re;
}

QStringList filesIn(const QString& maildir) {
    QStringList files;
    for (const char* sub : {"/cur", "/new"}) {
        const QDir dir(maildir + QLatin1String(sub));
        for (const QString& name : dir.entryList(QDir::Files, QDir::Name))
            files << dir.filePath(name);
    }
    std::sort(files.begin(), files.end());
    return files;
}

// Just enough IMAP (RFC 9051) over a UNIX socket to deliver and count messages:
// LOGIN, APPEND with non-synchronising literals (LITERAL+), EXAMINE, UID SEARCH.
class ImapConnection {
public:
    bool open(const QString& path, const QString& user, const QString& password) {
        m_socket.connectToServer(path);
        if (!m_socket.waitForConnected(10000) || !line().startsWith("* OK")) {
            m_error = QStringLiteral("no IMAP greeting on %1").arg(path);
            return false;
        }
        return command("LOGIN " + quoted(user) + ' ' + quoted(password));
    }
    bool append(const QByteArray& message) {
        return command("APPEND INBOX {" + QByteArray::number(message.size()) + "+}\r\n" + message);
    }
    // UIDs of the INBOX's messages, ascending; nullopt when the INBOX cannot be read.
    std::optional<QList<int>> uids() {
        QList<QByteArray> untagged;
        if (!command("EXAMINE INBOX") || !command("UID SEARCH ALL", &untagged))
            return std::nullopt;
        QList<int> found;
        for (const QByteArray& reply : std::as_const(untagged)) {
            if (!reply.startsWith("* SEARCH"))
                continue;
            for (const QByteArray& word : reply.mid(8).trimmed().split(' '))
                if (!word.isEmpty())
                    found << word.toInt();
        }
        std::sort(found.begin(), found.end());
        return found;
    }
    void close() {
        if (m_socket.state() == QLocalSocket::ConnectedState)
            command("LOGOUT");
        m_socket.abort();
    }
    QString errorString() const { return m_error; }

private:
    static QByteArray quoted(const QString& text) {
        QByteArray bytes = text.toUtf8();
        bytes.replace('\\', "\\\\").replace('"', "\\\"");
        return '"' + bytes + '"';
    }
    QByteArray line() {
        while (!m_socket.canReadLine()) {
            if (!m_socket.waitForReadyRead(30000))
                return {};
        }
        return m_socket.readLine();
    }
    bool command(const QByteArray& text, QList<QByteArray>* untagged = nullptr) {
        const QByteArray tag = 'a' + QByteArray::number(++m_tag);
        m_socket.write(tag + ' ' + text + "\r\n");
        for (QByteArray reply = line(); !reply.isEmpty(); reply = line()) {
            if (!reply.startsWith(tag + ' ')) {
                if (untagged)
                    *untagged << reply.trimmed();
                continue;
            }
            if (reply.mid(tag.size() + 1).startsWith("OK"))
                return true;
            m_error =
                QStringLiteral("IMAP %1: %2")
                    .arg(QString::fromUtf8(text.left(text.indexOf(' '))), QString::fromUtf8(reply.trimmed()));
            return false;
        }
        m_error = QStringLiteral("IMAP connection lost");
        return false;
    }

    QLocalSocket m_socket;
    QString m_error;
    int m_tag = 0;
};

} // namespace

int TestMailbox::addMessage(const QByteArray& raw) {
    if (!isValid())
        return 0;
    if (!m_imapSocket.isEmpty())
        return appendOverImap({raw}) ? m_delivered : 0;
    return addToMaildir(raw);
}

bool TestMailbox::addMessages(const QList<QByteArray>& raws) {
    if (!isValid())
        return false;
    if (!m_imapSocket.isEmpty())
        return appendOverImap(raws);
    for (const QByteArray& raw : raws) {
        if (addToMaildir(raw) == 0)
            return false;
    }
    return true;
}

int TestMailbox::addToMaildir(const QByteArray& raw) {
    QByteArray data = raw;
    data.replace("\r\n", "\n");
    const qsizetype crlfSize = data.size() + data.count('\n');
    const int number = m_delivered + 1;
    const qint64 time = 1600000000 + number;
    const QString name = QStringLiteral("%1.M%2P%3.tidemarsh,S=%4,W=%5:2,")
                             .arg(time)
                             .arg(number, 6, 10, QLatin1Char('0'))
                             .arg(::getpid())
                             .arg(data.size())
                             .arg(crlfSize);
    // Maildir delivery: write in tmp/, then rename into place, so the server never
    // sees a half-written message.
    const QString tmpPath = m_maildir + QStringLiteral("/tmp/") + name;
    QFile file(tmpPath);
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size() || !file.flush()) {
        m_error = QStringLiteral("cannot write %1").arg(tmpPath);
        return 0;
    }
    if (m_uid >= 0 && ::fchown(file.handle(), uid_t(m_uid), gid_t(m_gid)) != 0) {
        m_error = QStringLiteral("cannot hand %1 to uid %2").arg(tmpPath).arg(m_uid);
        return 0;
    }
    // Courier orders messages by modification time: give each the time in its name.
    const struct timespec times[2] = {{time, 0}, {time, 0}};
    ::futimens(file.handle(), times);
    file.close();
    if (!QFile::rename(tmpPath, m_maildir + QStringLiteral("/cur/") + name)) {
        m_error = QStringLiteral("cannot move %1 into cur/").arg(name);
        return 0;
    }
    m_delivered = number;
    return number;
}

// A fresh INBOX gives UIDs 1, 2, 3... in append order: a message's UID is its delivery number.
bool TestMailbox::appendOverImap(const QList<QByteArray>& raws) {
    ImapConnection imap;
    if (!imap.open(m_imapSocket, m_user, m_password)) {
        m_error = imap.errorString();
        return false;
    }
    for (const QByteArray& raw : raws) {
        QByteArray data = raw;
        data.replace("\r\n", "\n").replace("\n", "\r\n");
        if (!imap.append(data)) {
            m_error = imap.errorString();
            return false;
        }
        ++m_delivered;
    }
    imap.close();
    return true;
}

bool TestMailbox::openImapInbox(const QString& socket, const QString& user, const QString& password,
                                QString& error) {
    ImapConnection imap;
    if (!imap.open(socket, user, password) || !imap.uids()) {
        error = QStringLiteral("%1 cannot use its INBOX: %2").arg(user, imap.errorString());
        return false;
    }
    imap.close();
    return true;
}

QList<int> TestMailbox::remainingMessages() const {
    if (!m_imapSocket.isEmpty()) {
        ImapConnection imap;
        std::optional<QList<int>> uids;
        if (imap.open(m_imapSocket, m_user, m_password))
            uids = imap.uids();
        imap.close();
        if (!uids)
            m_error = imap.errorString();
        return uids.value_or(QList<int>{});
    }
    QList<int> numbers;
    for (const QString& path : filesIn(m_maildir)) {
        const auto match = deliveryName().match(path.section(QLatin1Char('/'), -1));
        if (match.hasMatch())
            numbers << match.captured(1).toInt();
    }
    std::sort(numbers.begin(), numbers.end());
    return numbers;
}

QStringList TestMailbox::messageFiles() const {
    return m_imapSocket.isEmpty() ? filesIn(m_maildir) : QStringList{};
}

QList<ServerSession> TestMailbox::sessions() const {
    return m_log && !m_user.isEmpty() ? m_log->sessions(m_user) : QList<ServerSession>{};
}

std::optional<ServerSession>
TestMailbox::waitForSession(const std::function<bool(const ServerSession&)>& condition, int timeoutMs) const {
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        for (const ServerSession& session : sessions()) {
            if (condition(session))
                return session;
        }
        if (deadline.hasExpired())
            return std::nullopt;
        QThread::msleep(50);
    }
}

std::optional<ServerSession> TestMailbox::waitForLogin(int timeoutMs) const {
    return waitForSession([](const ServerSession&) { return true; }, timeoutMs);
}

std::optional<ServerSession> TestMailbox::waitForSessionEnd(int timeoutMs) const {
    return waitForSession([](const ServerSession& session) { return session.ended; }, timeoutMs);
}

std::optional<int> TestMailbox::refusedLogins() const {
    return m_log ? m_log->refusedLogins(m_user) : std::nullopt;
}

QStringList TestMailbox::serverLog() const {
    return m_log && !m_user.isEmpty() ? m_log->lines(m_user) : QStringList{};
}
