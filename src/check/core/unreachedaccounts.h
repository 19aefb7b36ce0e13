#pragma once

#include "check/core/accounterrortext.h"
#include "pop3/pop3types.h"

#include <QList>
#include <QString>

// Accounts that a check of every account could not list, told together once
// the others are listed, instead of one error window each.
namespace UnreachedAccounts {

struct Account {
    QString name;
    AccountError::Kind kind = AccountError::Kind::Login; // the login failed, or the download
    pop3::Failure failure;
};

// The summary: a first line on the whole check (othersChecked: some account was
// checked), then per account its name, the failed action with the code text of
// the "Operation Error" report, and our own words on the cause when there are any.
QString SummaryText(const QList<Account>& accounts, bool othersChecked);

} // namespace UnreachedAccounts
