#pragma once

#include "review/core/deletionoutcome.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QVector>

#include <memory>
#include <vector>

namespace pop3 {
class Session;
}

// Delete Unchecked in a review of every account: on each account's server a
// MarkJob for its unticked messages, then QUIT, all servers at once. A server
// that does not confirm QUIT has deleted nothing, and holds up no other.
// Deleting the object drops the sessions still open without QUIT (the exit path).
class AccountsDeletion : public QObject {
    Q_OBJECT
public:
    struct Account {
        QString name;
        std::unique_ptr<pop3::Session> session; // none: nothing can be deleted there
        QVector<int> numbers;                   // the unticked messages' MessageNumbers
    };

    explicit AccountsDeletion(std::vector<Account> accounts, QObject* parent = nullptr);
    ~AccountsDeletion() override;

    void start();
    bool isRunning() const { return m_pending > 0; }
    // In the order the accounts were given; complete once finished has come.
    const QList<AccountDeletion>& outcomes() const { return m_outcomes; }

Q_SIGNALS:
    // Marks answered so far, over every account, as a percentage.
    void progress(int percent);
    // Every account has ended; emitted from the event loop.
    void finished();

private:
    void mark(int k);
    void quit(int k);
    void accountEnded(int k);
    void reportProgress();

    std::vector<Account> m_accounts;
    QList<AccountDeletion> m_outcomes;
    QVector<int> m_answered; // marks answered per account
    int m_totalMarks = 0;
    int m_pending = 0;
};
