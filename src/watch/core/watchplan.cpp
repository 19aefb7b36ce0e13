#include "watch/core/watchplan.h"

#include "review/core/displaytext.h"

#include <QCoreApplication>

#include <algorithm>

namespace watch {

namespace {
constexpr qint64 kMaxBackOffMs = qint64(60) * 60 * 1000;
constexpr int kNamedMessages = 5;
constexpr qsizetype kMaxFieldChars = 80;

QString tr(const char* text) {
    return QCoreApplication::translate("watch", text);
}

QString Shortened(QString text) {
    text = CleanForDisplay(std::move(text)).simplified();
    if (text.size() > kMaxFieldChars)
        text = text.left(kMaxFieldChars - 1) + QChar(0x2026);
    return text;
}
} // namespace

Verdict Judge(const pop3::Failure& failure, bool signInNeeded) {
    if (signInNeeded)
        return Verdict::Stop;
    switch (failure.code) {
    case pop3::Result::Ok:
        return Verdict::Again;
    // Tried again, a wrong password could lock the user out at the provider.
    case pop3::Result::LoginRejected:
    case pop3::Result::UserRejected:
    // Only the user can decide to trust a certificate or to send the password in plain text.
    case pop3::Result::NoSecureConnection:
        return Verdict::Stop;
    default:
        return Verdict::BackOff;
    }
}

qint64 NextPeekDelayMs(qint64 intervalMs, int failuresInRow, int loginDelaySeconds) {
    intervalMs = std::max<qint64>(intervalMs, 1);
    qint64 delay = intervalMs;
    const qint64 cap = std::max(intervalMs, kMaxBackOffMs);
    for (int i = 0; i < failuresInRow && delay < cap; ++i)
        delay *= 2;
    delay = std::min(delay, cap);
    return std::max(delay, qint64(loginDelaySeconds) * 1000);
}

NotificationText NewMailNotification(const QString& account, const QList<NewMessage>& newestFirst) {
    NotificationText text;
    const auto count = newestFirst.size();
    text.summary = count == 1 ? tr("1 new message in %1").arg(Shortened(account))
                              : tr("%1 new messages in %2").arg(count).arg(Shortened(account));
    QStringList lines;
    for (qsizetype i = 0; i < std::min<qsizetype>(count, kNamedMessages); ++i) {
        const NewMessage& m = newestFirst.at(i);
        const QString sender = Shortened(m.sender);
        const QString subject = Shortened(m.subject);
        lines.append((sender.isEmpty() ? tr("(unknown sender)") : sender) + QStringLiteral(": ") +
                     (subject.isEmpty() ? tr("(no subject)") : subject));
    }
    if (count > kNamedMessages)
        lines.append(tr("and %1 more").arg(count - kNamedMessages));
    const auto friends = std::count_if(newestFirst.cbegin(), newestFirst.cend(),
                                       [](const NewMessage& m) { return m.fromFriend; });
    lines.append(friends == 1 ? tr("1 from a friend") : tr("%1 from friends").arg(friends));
    text.body = lines.join(QLatin1Char('\n'));
    return text;
}

QString FailureWords(const pop3::Failure& failure) {
    using pop3::Result;
    switch (failure.code) {
    case Result::Ok:
        return {};
    case Result::LoginRejected:
    case Result::UserRejected:
        return failure.words.isEmpty() ? tr("the server refused the login") : failure.words;
    case Result::MailboxInUse:
        return tr("the mailbox was in use");
    case Result::LoginDelay:
        return tr("the server asked to wait before the next login");
    case Result::ConnectTimeout:
    case Result::ResponseTimeout:
        return tr("the server did not answer in time");
    case Result::HostNotFound:
        return tr("the server was not found");
    case Result::ConnectionLost:
        return tr("the connection was lost");
    case Result::CertificateInvalid:
        return tr("the server's certificate could not be verified");
    case Result::NoSecureConnection:
        return tr("the server offers no secure connection");
    case Result::ServerTemporaryFailure:
        return tr("the server had a temporary problem");
    default:
        return failure.words.isEmpty()
                   ? tr("the server could not be reached (code %1)").arg(int(failure.code))
                   : failure.words;
    }
}

} // namespace watch
