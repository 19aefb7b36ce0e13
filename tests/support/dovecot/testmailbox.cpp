#include "testmailbox.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QThread>

#include <algorithm>
#include <unistd.h>

namespace {

// Maildir names of our deliveries: <time>.M<number>P<pid>.tidemarsh,S=<size>,W=<CRLF size>:2,
// The time grows with the number, so the server sorts new mail in delivery order.
const QRegularExpression& deliveryName()
{
    static const QRegularExpression re(QStringLiteral("^\\d+\\.M(\\d+)P\\d+\\.tidemarsh,"));
    return re;
}

QStringList filesIn(const QString& maildir)
{
    QStringList files;
    for (const char* sub : {"/cur", "/new"}) {
        const QDir dir(maildir + QLatin1String(sub));
        for (const QString& name : dir.entryList(QDir::Files, QDir::Name))
            files << dir.filePath(name);
    }
    std::sort(files.begin(), files.end());
    return files;
}

} // namespace

int TestMailbox::addMessage(const QByteArray& raw)
{
    if (!isValid())
        return 0;
    QByteArray data = raw;
    data.replace("\r\n", "\n");
    const qsizetype crlfSize = data.size() + data.count('\n');
    const int number = m_delivered + 1;
    const QString name = QStringLiteral("%1.M%2P%3.tidemarsh,S=%4,W=%5:2,")
                             .arg(1600000000 + number)
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
    file.close();
    if (!QFile::rename(tmpPath, m_maildir + QStringLiteral("/cur/") + name)) {
        m_error = QStringLiteral("cannot move %1 into cur/").arg(name);
        return 0;
    }
    m_delivered = number;
    return number;
}

bool TestMailbox::addMessages(const QList<QByteArray>& raws)
{
    for (const QByteArray& raw : raws) {
        if (addMessage(raw) == 0)
            return false;
    }
    return true;
}

QList<int> TestMailbox::remainingMessages() const
{
    QList<int> numbers;
    for (const QString& path : filesIn(m_maildir)) {
        const auto match = deliveryName().match(path.section(QLatin1Char('/'), -1));
        if (match.hasMatch())
            numbers << match.captured(1).toInt();
    }
    std::sort(numbers.begin(), numbers.end());
    return numbers;
}

QStringList TestMailbox::messageFiles() const
{
    return filesIn(m_maildir);
}

QStringList TestMailbox::serverLog() const
{
    QFile log(m_logFile);
    if (m_user.isEmpty() || !log.open(QIODevice::ReadOnly))
        return {};
    // Dovecot names the user as user=<name>, pop3(name) and passwd-file(name,...).
    const QRegularExpression aboutUs(QStringLiteral("[<(]%1[>),]").arg(QRegularExpression::escape(m_user)));
    QStringList lines;
    while (!log.atEnd()) {
        const QString line = QString::fromUtf8(log.readLine()).trimmed();
        if (aboutUs.match(line).hasMatch())
            lines << line;
    }
    return lines;
}

QString TestMailbox::waitForServerLog(const QString& text, int timeoutMs) const
{
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        for (const QString& line : serverLog()) {
            if (line.contains(text))
                return line;
        }
        if (deadline.hasExpired())
            return {};
        QThread::msleep(50);
    }
}
