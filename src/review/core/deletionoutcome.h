#pragma once

#include <QList>
#include <QString>

// What Delete Unchecked did on one account's server.
struct AccountDeletion {
    QString account;
    int marked = 0;         // unticked messages sent to be marked
    int deleted = 0;        // marks the server accepted, counted only once it confirmed QUIT
    bool confirmed = false; // the server confirmed QUIT; without it nothing was deleted there
    // Something meant to go stays on the server.
    bool failed() const { return marked > 0 && (!confirmed || deleted < marked); }
};

// The status bar after a deletion: "Deleted 9 messages; 17 kept on the server."
QString DeletionStatusText(int deleted, int kept);

// The message after a deletion across accounts: one line per account, in the
// given order, saying how many went there or that nothing did and why; with a
// failure, the usual explanation follows.
QString AccountsDeletionText(const QList<AccountDeletion>& outcomes);
bool AnyDeletionFailed(const QList<AccountDeletion>& outcomes);
