#include "check/core/unreachedaccounts.h"

namespace UnreachedAccounts {

namespace {
QString AccountText(const Account& account) {
    const bool login = account.kind == AccountError::Kind::Login;
    QString text = account.name + QStringLiteral(": ") +
                   (login ? QStringLiteral("Could not connect to the server.")
                          : QStringLiteral("Could not download message headers.")) +
                   AccountError::CodeText(account.kind, account.failure.code);
    if (const QString detail = AccountError::DetailText(account.failure); !detail.isEmpty())
        text += QStringLiteral("  ") + detail;
    // The certificate question belongs to one account at a time: its own check asks it.
    if (account.failure.code == pop3::Result::CertificateInvalid && account.failure.tls.canBeExcepted())
        text += QStringLiteral("  Check this account alone with Check Mail to see the certificate and decide "
                               "whether to trust it.");
    return text;
}
} // namespace

QString SummaryText(const QList<Account>& accounts, bool othersChecked) {
    QStringList parts{othersChecked
                          ? QStringLiteral("These accounts could not be checked; the others were checked.")
                          : QStringLiteral("None of the accounts could be checked.")};
    for (const Account& account : accounts)
        parts.append(AccountText(account));
    return parts.join(QStringLiteral("\r\n\r\n"));
}

} // namespace UnreachedAccounts
