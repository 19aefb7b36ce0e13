#include "review/accountsdeletion.h"

#include "pop3/job.h"
#include "pop3/session.h"
#include "review/core/progresspercent.h"

#include <QTimer>

AccountsDeletion::AccountsDeletion(std::vector<Account> accounts, QObject* parent)
    : QObject(parent), m_accounts(std::move(accounts)) {
    for (const Account& account : m_accounts) {
        AccountDeletion outcome;
        outcome.account = account.name;
        outcome.marked = static_cast<int>(account.numbers.size());
        m_outcomes.append(outcome);
        m_totalMarks += outcome.marked;
    }
    m_answered.fill(0, static_cast<int>(m_accounts.size()));
}

AccountsDeletion::~AccountsDeletion() = default;

void AccountsDeletion::start() {
    m_pending = static_cast<int>(m_accounts.size());
    if (m_pending == 0) {
        QTimer::singleShot(0, this, &AccountsDeletion::finished);
        return;
    }
    for (int k = 0; k < static_cast<int>(m_accounts.size()); ++k)
        mark(k);
}

void AccountsDeletion::mark(int k) {
    Account& account = m_accounts[k];
    if (!account.session || !account.session->isConnected()) {
        // The connection is gone: nothing can be marked, and nothing marked earlier was deleted.
        account.session.reset();
        QTimer::singleShot(0, this, [this, k] { accountEnded(k); });
        return;
    }
    if (account.numbers.isEmpty()) {
        quit(k);
        return;
    }
    // One pipelined batch per server; a keep-alive still waiting goes first.
    auto* job = new pop3::MarkJob(account.numbers);
    connect(job, &pop3::Job::progress, this, [this, k](int done, int) {
        m_answered[k] = done;
        reportProgress();
    });
    connect(job, &pop3::Job::finished, this, [this, k, job] {
        // Each message's own result counts; a missing one is a failure.
        int accepted = 0;
        for (pop3::Result result : job->results())
            accepted += result == pop3::Result::Ok ? 1 : 0;
        m_outcomes[k].deleted = accepted;
        m_answered[k] = m_outcomes[k].marked;
        reportProgress();
        quit(k);
    });
    account.session->enqueue(job);
}

void AccountsDeletion::quit(int k) {
    Account& account = m_accounts[k];
    if (!account.session->isConnected()) {
        account.session.reset();
        accountEnded(k);
        return;
    }
    // The marks take effect only when the server confirms QUIT.
    auto* job = new pop3::QuitJob;
    connect(job, &pop3::Job::finished, this, [this, k](const pop3::Failure& failure) {
        m_outcomes[k].confirmed = failure.isOk();
        m_accounts[k].session.reset();
        accountEnded(k);
    });
    account.session->enqueue(job);
}

void AccountsDeletion::accountEnded(int k) {
    if (!m_outcomes[k].confirmed)
        m_outcomes[k].deleted = 0;
    if (--m_pending == 0)
        Q_EMIT finished();
}

void AccountsDeletion::reportProgress() {
    int answered = 0;
    for (int done : m_answered)
        answered += done;
    Q_EMIT progress(ProgressPercent(answered, m_totalMarks));
}
