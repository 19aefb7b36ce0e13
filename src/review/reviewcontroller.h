#pragma once

#include "common/appstate.h"
#include "pop3/pop3types.h"
#include "store/storeerror.h"

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <memory>
#include <optional>
#include <vector>

class QWidget;
class ReviewModel;
class DelStatusDialog;
struct ReviewItem;
namespace pop3 {
class Session;
}

// One account of a review of every account: its name, as the rows and the
// statistics know it, and its open session (none: nothing of it is listed).
struct ReviewAccount {
    QString name;
    std::unique_ptr<pop3::Session> session;
};

// The review list and the POP3 session it belongs to live and die together:
// every operation that ends the session empties the list, and the other way round.
// Owned by the main window; dialogs it opens are owned by `owner`.
class ReviewController : public QObject {
    Q_OBJECT
public:
    ReviewController(AppState& state, QWidget* owner, QObject* parent = nullptr);
    ~ReviewController() override;

    ReviewModel* model() const;
    int rowCount() const;

    // Session handed over by the check cycle once its list is filled.
    void AdoptSession(std::unique_ptr<pop3::Session> session);
    pop3::Session* session() const;
    // Ends the session with QUIT (nothing is marked outside a deletion, so
    // nothing goes) and releases it; nobody waits for the answer.
    void EndSession();
    // The program is ending: the session is dropped without QUIT, so a deletion
    // under way deletes nothing.
    void AbandonSession();
    bool deletionRunning() const;

    // A review of every account, handed over by its check: the rows (each
    // ReviewItem::account indexes accounts) and every account's session.
    void AdoptAllAccounts(QVector<ReviewItem> rows, std::vector<ReviewAccount> accounts);
    bool reviewsAllAccounts() const;
    // The session a row's message lives in, in either kind of review; null
    // when there is none.
    pop3::Session* sessionOfRow(int modelRow) const;
    // The review holds a session of that account (its name as in Acc.dat, trimmed).
    bool holdsAccount(const QString& account) const;

    void StartKeepAlive();
    void StopKeepAlive();
    bool keepAliveRunning() const;

    // Commands
    void ClearReviewList();
    void AcceptAll();
    void CheckAll();
    void CheckNone();
    void DeleteUnchecked();
    void MessageDetails();
    void AddFriends();

    // The view reports its selection here (a row index of the model, -1 for none).
    void setSelectedRow(int modelRow);
    int selectedRow() const;

    // Where the message of a model row can be read: the session that listed it
    // and its number there. No session when none is open for it, or while its
    // deletion runs (a TOP queued behind the marks would read marked mail).
    struct PreviewSource {
        pop3::Session* session = nullptr;
        int number = 0;
    };
    PreviewSource previewSource(int modelRow) const;

Q_SIGNALS:
    // The shell selects this model row in its view (after a check: the top row).
    void selectRowRequested(int modelRow);
    // Delete Unchecked has ended and told the user.
    void deletionEnded();
    // The view reported its selection (setSelectedRow), changed or not.
    void selectedRowChanged(int modelRow);

private:
    struct DeletionOutcome {
        int deleted = 0;     // marks the server confirmed
        bool failed = false; // some mark, or the QUIT that makes them count, failed
        int listed = 0;      // rows under review when the deletion started
    };
    bool ConfirmDeletion();
    void MarkUnticked();
    void OnMarked(const QVector<int>& numbers, const QVector<pop3::Result>& results);
    void OnQuit(bool confirmed);
    void DeleteUncheckedOfAllAccounts();
    void OnAllAccountsDeleted();
    // Adds to the account's statistics; returns the store's problem, if any.
    std::optional<StoreError> RecordDeletedMessages(int deleted);
    std::optional<StoreError> RecordDeletedMessages(const QString& accountName, int deleted);
    void ReportDeletion(const DeletionOutcome& outcome, const std::optional<StoreError>& storeProblem);

    struct Private;
    std::unique_ptr<Private> d;
};
