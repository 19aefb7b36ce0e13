#include "review/core/deletionoutcome.h"

#include "review/core/setbytes.h"

#include <algorithm>

namespace {
QString Messages(int count) {
    return count == 1 ? QStringLiteral("1 message") : QStringLiteral("%1 messages").arg(GroupedNumber(count));
}

QString AccountLine(const AccountDeletion& outcome) {
    const QString name = outcome.account + QStringLiteral(": ");
    if (outcome.marked == 0)
        return name + QStringLiteral("nothing to delete; every message was kept.");
    if (!outcome.confirmed)
        return name +
               QStringLiteral("nothing was deleted. The server did not confirm the end of the session, "
                              "so its messages stay there.");
    const QString gone = Messages(outcome.deleted) + QStringLiteral(" deleted");
    if (outcome.deleted == outcome.marked)
        return name + gone + QLatin1Char('.');
    const int left = outcome.marked - outcome.deleted;
    return name + gone + QStringLiteral("; ") + Messages(left) +
           (left == 1 ? QStringLiteral(" could not be marked for deletion and stays on the server.")
                      : QStringLiteral(" could not be marked for deletion and stay on the server."));
}
} // namespace

QString DeletionStatusText(int deleted, int kept) {
    const QString gone = deleted == 1 ? QStringLiteral("Deleted 1 message")
                                      : QStringLiteral("Deleted %1 messages").arg(GroupedNumber(deleted));
    return gone + QStringLiteral("; %1 kept on the server.").arg(GroupedNumber(kept));
}

bool AnyDeletionFailed(const QList<AccountDeletion>& outcomes) {
    return std::any_of(outcomes.begin(), outcomes.end(), [](const AccountDeletion& o) { return o.failed(); });
}

QString AccountsDeletionText(const QList<AccountDeletion>& outcomes) {
    QStringList lines;
    for (const AccountDeletion& outcome : outcomes)
        lines.append(AccountLine(outcome));
    QString text = lines.join(QStringLiteral("\r\n"));
    if (AnyDeletionFailed(outcomes))
        text +=
            QStringLiteral("\r\n\r\nThis can happen if the connection to the server was lost or the server "
                           "would not allow the action.");
    return text;
}
