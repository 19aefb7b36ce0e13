#pragma once

#include "check/core/unreachedaccounts.h"
#include "common/appstate.h"
#include "review/core/reviewitem.h"
#include "store/storeerror.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QVector>

#include <memory>
#include <optional>
#include <vector>

class AccountDownload;
class ReviewController;
class StatusDialog;
class QWidget;

// Check All Accounts: every account at once, one session each, its rows made on
// the parser thread as a one-account check makes them. The rows of every
// account go into one review with an Account column, and each listed account's
// session stays open for it. Accounts that could not be checked are told in one
// summary once the others are listed. Walks its steps on the POP3 jobs' signals;
// every way out leaves BusyFlag clear and the status window closed.
class AllAccountsCheck : public QObject {
    Q_OBJECT
public:
    AllAccountsCheck(AppState& state, ReviewController& review, QWidget* owner, QObject* parent);
    ~AllAccountsCheck() override;

    void Start();
    // Quietly, at the program's end: every session dropped without QUIT.
    void Abandon();

Q_SIGNALS:
    // The check is over and has told the user; the object deletes itself afterwards.
    void ended();

private:
    enum class Ending {
        Listed,         // messages listed: the review takes the sessions over
        NothingWaiting, // accounts checked, no messages anywhere
        NoneChecked,    // no account could be checked
        Cancelled,      // the user pressed Cancel: nothing to tell
        FileFailure,    // a file of the program could not be read or written
    };

    void OpenStatusWindow();
    void Prepare();
    void StartDownloads();
    void OnProgress();
    void OnAccountEnded();
    void Complete();
    int List();
    void ShowListedPanel(const QStringList& names, int count, qint64 totalSize);
    void Finish(Ending ending);
    void HandOver(QVector<ReviewItem> rows);
    void ReleaseSessions();
    void Report(Ending ending);

    AppState& m_state;
    ReviewController& m_review;
    QWidget* m_owner;
    QPointer<StatusDialog> m_status;
    std::vector<std::unique_ptr<AccountDownload>> m_downloads;
    QList<UnreachedAccounts::Account> m_unreached;
    QVector<ReviewItem> m_rows;
    int m_pending = 0;
    int m_listedCount = 0;
    bool m_cancelled = false;
    bool m_abandoned = false;
    std::optional<StoreError> m_fileError;
};
