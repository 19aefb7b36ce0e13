#include "support/mailserver/sessionlog.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QRegularExpression>

#include <algorithm>

namespace {

QStringList readLines(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList lines;
    while (!file.atEnd())
        lines << QString::fromUtf8(file.readLine()).trimmed();
    return lines;
}

// Dovecot: "Login: user=<u>, ..., mpid=P, TLS|secured, session=<S>" when a login
// succeeds, "pop3(u)<P><S>: Info: Disconnected: Logged out|Connection closed ...
// top=N/B, retr=N/B, del=N/M" when the session ends, and "passwd-file(u,...):
// Password mismatch" for a refused password. Where the home holds a rawlog
// folder, the pop3 process P writes what the client sent after login to
// "<date>-<time>.P.<n>.in", one "<seconds.micro> <command>" line each.
class DovecotLog : public SessionLog {
public:
    DovecotLog(QString logFile, QString mailRoot)
        : m_logFile(std::move(logFile)), m_mailRoot(std::move(mailRoot)) {}

    QList<ServerSession> sessions(const QString& user) const override {
        static const QRegularExpression login(
            QStringLiteral("Login: user=<([^>]*)>.*, mpid=(\\d+), (TLS|secured)?.*session=<([^>]+)>"));
        static const QRegularExpression end(
            QStringLiteral("pop3\\(([^)]*)\\)<\\d+><([^>]+)>: Info: Disconnected: (.*) top=(\\d+)/(\\d+), "
                           "retr=(\\d+)/(\\d+), "
                           "del=(\\d+)/"));
        QList<ServerSession> found;
        QHash<QString, qsizetype> bySessionId;
        for (const QString& line : readLines(m_logFile)) {
            if (const auto m = login.match(line); m.hasMatch() && m.captured(1) == user) {
                ServerSession session;
                session.pid = m.captured(2).toLongLong();
                session.tls = m.captured(3) == QLatin1String("TLS");
                session.commands = rawlogCommands(user, session.pid);
                bySessionId.insert(m.captured(4), found.size());
                found << session;
            } else if (const auto e = end.match(line); e.hasMatch() && e.captured(1) == user) {
                const auto at = bySessionId.constFind(e.captured(2));
                if (at == bySessionId.constEnd())
                    continue;
                ServerSession& session = found[*at];
                session.ended = true;
                session.quit = e.captured(3).startsWith(QLatin1String("Logged out"));
                session.tops = e.captured(4).toInt();
                session.topBytes = e.captured(5).toLongLong();
                session.retrs = e.captured(6).toInt();
                session.retrBytes = e.captured(7).toLongLong();
                // Marked messages go only at QUIT; a cut session's count is what was marked.
                session.deletions = session.quit ? e.captured(8).toInt() : 0;
            }
        }
        return found;
    }

    std::optional<int> refusedLogins(const QString& user) const override {
        const QString tag = QStringLiteral("passwd-file(%1,").arg(user);
        const QStringList all = readLines(m_logFile);
        return int(std::count_if(all.begin(), all.end(), [&](const QString& line) {
            return line.contains(tag) && line.endsWith(QLatin1String("Password mismatch"));
        }));
    }

    QStringList lines(const QString& user) const override {
        const QRegularExpression aboutUser(
            QStringLiteral("[<(]%1[>),]").arg(QRegularExpression::escape(user)));
        QStringList mine;
        for (const QString& line : readLines(m_logFile))
            if (aboutUser.match(line).hasMatch())
                mine << line;
        return mine;
    }

private:
    std::optional<QStringList> rawlogCommands(const QString& user, qint64 pid) const {
        const QDir dir(m_mailRoot + QLatin1Char('/') + user + QStringLiteral("/rawlog"));
        if (m_mailRoot.isEmpty() || !dir.exists())
            return std::nullopt;
        QStringList commands;
        const QString pattern = QStringLiteral("*.%1.*.in").arg(pid);
        for (const QString& name : dir.entryList({pattern}, QDir::Files, QDir::Name))
            for (const QString& line : readLines(dir.filePath(name)))
                if (!line.isEmpty())
                    commands << line.section(QLatin1Char(' '), 1);
        return commands;
    }

    QString m_logFile;
    QString m_mailRoot;
};

// Courier: "LOGIN, user=u, ip=[...], port=[P]" when a login succeeds, one
// "DELETED, user=u, ..., port=[P], filename=..." per message removed at QUIT, then
// "LOGOUT" (QUIT) or "DISCONNECTED"/"TIMEOUT" (cut) with "top=B, retr=B": bytes of
// the stored messages read, not command counts. "LOGIN FAILED, user=u" for a refusal.
// The client's port tells concurrent sessions apart.
class CourierLog : public SessionLog {
public:
    explicit CourierLog(QString logFile) : m_logFile(std::move(logFile)) {}

    QList<ServerSession> sessions(const QString& user) const override {
        static const QRegularExpression record(QStringLiteral(
            "^INFO: (LOGIN|DELETED|LOGOUT|DISCONNECTED|TIMEOUT), user=([^,]*), .*port=\\[(\\d+)\\]"));
        static const QRegularExpression counts(QStringLiteral("top=(\\d+), retr=(\\d+)"));
        QList<ServerSession> found;
        QHash<QString, qsizetype> open; // client port -> session not yet ended
        for (const QString& line : readLines(m_logFile)) {
            const auto m = record.match(line);
            if (!m.hasMatch() || m.captured(2) != user)
                continue;
            const QString what = m.captured(1);
            const QString port = m.captured(3);
            if (what == QLatin1String("LOGIN")) {
                ServerSession session;
                session.deletions = 0;
                open.insert(port, found.size());
                found << session;
                continue;
            }
            const auto at = open.constFind(port);
            if (at == open.constEnd())
                continue;
            ServerSession& session = found[*at];
            if (what == QLatin1String("DELETED")) {
                ++session.deletions;
                continue;
            }
            session.ended = true;
            session.quit = what == QLatin1String("LOGOUT");
            if (const auto c = counts.match(line); c.hasMatch()) {
                session.topBytes = c.captured(1).toLongLong();
                session.retrBytes = c.captured(2).toLongLong();
            }
            open.remove(port);
        }
        return found;
    }

    std::optional<int> refusedLogins(const QString& user) const override {
        const QString tag = QStringLiteral("INFO: LOGIN FAILED, user=%1,").arg(user);
        const QStringList all = readLines(m_logFile);
        return int(
            std::count_if(all.begin(), all.end(), [&](const QString& line) { return line.startsWith(tag); }));
    }

    QStringList lines(const QString& user) const override {
        const QString tag = QStringLiteral(", user=%1,").arg(user);
        QStringList mine;
        for (const QString& line : readLines(m_logFile))
            if (line.contains(tag))
                mine << line;
        return mine;
    }

private:
    QString m_logFile;
};

// Cyrus logs only to syslog; its telemetry records each session after login in
// DIR/<user>/<service>-<pid> (pop3-, pop3s-): a "---------- <user> <date>" line,
// then the traffic as "<time<client bytes" and ">time>server bytes" chunks. A pop3d process serves
// one session after another, so a session is over when a later one follows it in
// the file, when it quit, or when its process holds no open connection any more.
// Refused logins are not recorded.
class CyrusLog : public SessionLog {
public:
    explicit CyrusLog(QString telemetryDir) : m_dir(std::move(telemetryDir)) {}

    QList<ServerSession> sessions(const QString& user) const override {
        QList<std::pair<qint64, ServerSession>> found; // start time, session
        const QDir dir(m_dir + QLatin1Char('/') + user);
        for (const QString& name : dir.entryList({QStringLiteral("pop3*-*")}, QDir::Files)) {
            const qint64 pid = name.section(QLatin1Char('-'), -1).toLongLong();
            QFile file(dir.filePath(name));
            if (!file.open(QIODevice::ReadOnly))
                continue;
            QList<std::pair<qint64, ServerSession>> inFile = parse(QString::fromUtf8(file.readAll()), pid);
            if (!inFile.isEmpty() && !inFile.last().second.ended && !holdsConnection(pid))
                inFile.last().second.ended = true;
            found << inFile;
        }
        std::stable_sort(found.begin(), found.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        QList<ServerSession> sessions;
        for (const auto& [start, session] : found)
            sessions << session;
        return sessions;
    }

    std::optional<int> refusedLogins(const QString&) const override { return std::nullopt; }

    QStringList lines(const QString& user) const override {
        QStringList all;
        const QDir dir(m_dir + QLatin1Char('/') + user);
        for (const QString& name : dir.entryList({QStringLiteral("pop3*-*")}, QDir::Files))
            all << name + QLatin1Char(':') << readLines(dir.filePath(name));
        return all;
    }

private:
    // A marker may fall mid-line (Cyrus writes one whenever the direction turns), so
    // each direction's bytes are joined into one stream before it is cut into lines.
    static QList<std::pair<qint64, ServerSession>> parse(const QString& text, qint64 pid) {
        static const QRegularExpression header(QStringLiteral("(?:^|\n)---------- [^\n]*\n"));
        static const QRegularExpression marker(QStringLiteral("([<>])(\\d+)\\1"));
        QList<std::pair<qint64, ServerSession>> found;
        const QStringList parts = text.split(header);
        for (qsizetype i = 1; i < parts.size(); ++i) {
            QString client;
            QString server;
            qint64 start = 0;
            QString* into = nullptr;
            qsizetype from = 0;
            for (auto it = marker.globalMatch(parts[i]); it.hasNext();) {
                const auto m = it.next();
                if (into)
                    *into += parts[i].mid(from, m.capturedStart() - from);
                into = m.captured(1) == QLatin1String("<") ? &client : &server;
                if (start == 0)
                    start = m.captured(2).toLongLong();
                from = m.capturedEnd();
            }
            if (into)
                *into += parts[i].mid(from);

            ServerSession session;
            session.pid = pid;
            session.tops = session.retrs = session.deletions = 0;
            bool quitSent = false;
            session.commands = QStringList();
            for (const QString& line : client.split(QLatin1Char('\n'))) {
                if (!line.trimmed().isEmpty())
                    session.commands->append(line.trimmed());
                const QString word = line.trimmed().section(QLatin1Char(' '), 0, 0).toUpper();
                session.tops += word == QLatin1String("TOP");
                session.retrs += word == QLatin1String("RETR");
                quitSent = quitSent || word == QLatin1String("QUIT");
            }
            const QStringList replies = server.trimmed().split(QLatin1Char('\n'));
            for (const QString& line : replies)
                session.deletions += line.startsWith(QLatin1String("+OK message deleted"));
            // QUIT is the last command: its +OK is the last line the server sent.
            session.quit = quitSent && replies.last().startsWith(QLatin1String("+OK"));
            session.ended = session.quit || i + 1 < parts.size();
            if (!session.quit)
                session.deletions = 0;
            found.append({start, session});
        }
        return found;
    }

    // Whether the process has a connected TCP socket (its listening one does not count).
    static bool holdsConnection(qint64 pid) {
        const QDir fds(QStringLiteral("/proc/%1/fd").arg(pid));
        if (!fds.exists())
            return false;
        QStringList inodes;
        for (const QFileInfo& fd : fds.entryInfoList(QDir::System | QDir::NoDotAndDotDot)) {
            const QString target = fd.symLinkTarget().section(QLatin1Char('/'), -1);
            if (target.startsWith(QLatin1String("socket:[")))
                inodes << target.mid(8).chopped(1);
        }
        for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
            const QStringList rows = readLines(QString::fromLatin1(table));
            for (const QString& row : rows) {
                const QStringList f = row.split(QLatin1Char(' '), Qt::SkipEmptyParts);
                // st 01 = ESTABLISHED, 08 = CLOSE_WAIT (the peer left, pop3d has not noticed yet)
                if (f.size() > 9 && (f[3] == QLatin1String("01") || f[3] == QLatin1String("08")) &&
                    inodes.contains(f[9]))
                    return true;
            }
        }
        return false;
    }

    QString m_dir;
};

} // namespace

std::shared_ptr<const SessionLog> SessionLog::make(const QString& kind, const QString& logFile,
                                                   const QString& trafficDir) {
    if (kind == QLatin1String("dovecot"))
        return std::make_shared<DovecotLog>(logFile, trafficDir);
    if (kind == QLatin1String("courier"))
        return std::make_shared<CourierLog>(logFile);
    if (kind == QLatin1String("cyrus"))
        return std::make_shared<CyrusLog>(trafficDir);
    return nullptr;
}
