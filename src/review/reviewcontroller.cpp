#include "review/reviewcontroller.h"

#include "common/messagebox.h"
#include "common/storeerrorbox.h"
#include "pop3/job.h"
#include "pop3/session.h"
#include "review/accountsdeletion.h"
#include "review/confirmdialog.h"
#include "review/core/deletionoutcome.h"
#include "review/core/progresspercent.h"
#include "review/core/reviewmodel.h"
#include "review/core/setbytes.h"
#include "review/delstatusdialog.h"
#include "review/viewdialog.h"
#include "store/accountstore.h"
#include "store/friendaddress.h"
#include "store/friendsstore.h"
#include "store/headerfiles.h"

#include <QApplication>
#include <QPersistentModelIndex>
#include <QPointer>
#include <QScopeGuard>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <limits>
#include <optional>

namespace {
constexpr int kKeepAliveMs = 1000;

// Only into an empty queue, so it never delays the user's command by more
// than one NOOP. Its result is ignored: a dropped idle connection shows up
// at the next real command.
void KeepAlive(pop3::Session* session) {
    if (session && session->keepAliveDue())
        session->enqueue(new pop3::NoopJob);
}

// QUIT (nothing is marked, so nothing goes); keeper holds the session until the
// server answers or the program ends.
void QuitAndRelease(std::unique_ptr<pop3::Session> owned, QObject* keeper) {
    if (!owned)
        return;
    if (!owned->isConnected())
        return;
    pop3::Session* session = owned.release();
    session->setParent(keeper);
    auto* quit = new pop3::QuitJob;
    QObject::connect(quit, &pop3::Job::finished, session, &QObject::deleteLater);
    session->enqueue(quit);
}

qint32 SaturatingAdd(qint32 a, qint64 b) {
    const qint64 sum = static_cast<qint64>(a) + b;
    return static_cast<qint32>(
        std::clamp<qint64>(sum, std::numeric_limits<qint32>::min(), std::numeric_limits<qint32>::max()));
}
} // namespace

struct ReviewController::Private {
    using DeletionOutcome = ReviewController::DeletionOutcome;
    AppState& state;
    QPointer<QWidget> owner;
    ReviewModel model;
    std::unique_ptr<pop3::Session> session;
    std::vector<ReviewAccount> accounts; // a review of every account
    QPointer<AccountsDeletion> accountsDeletion;
    QTimer timer1;
    QPersistentModelIndex selected;
    // The deletion under way, if any.
    QPointer<DelStatusDialog> progress;
    DeletionOutcome outcome;
    bool deleting = false;

    Private(AppState& s, QWidget* o) : state(s), owner(o) {}
};

ReviewController::ReviewController(AppState& state, QWidget* owner, QObject* parent)
    : QObject(parent), d(std::make_unique<Private>(state, owner)) {
    d->timer1.setParent(this); // findable by name; the member goes before the parent does
    d->timer1.setObjectName(QStringLiteral("Timer1"));
    d->timer1.setInterval(kKeepAliveMs);
    connect(&d->timer1, &QTimer::timeout, this, [this] {
        KeepAlive(d->session.get());
        for (const ReviewAccount& account : d->accounts)
            KeepAlive(account.session.get());
    });
}

ReviewController::~ReviewController() {
    d->timer1.stop();
    AbandonSession();
}

ReviewModel* ReviewController::model() const {
    return &d->model;
}

int ReviewController::rowCount() const {
    return d->model.rowCount();
}

void ReviewController::AdoptSession(std::unique_ptr<pop3::Session> session) {
    d->session = std::move(session);
}

pop3::Session* ReviewController::session() const {
    return d->session.get();
}

void ReviewController::EndSession() {
    d->timer1.stop();
    QuitAndRelease(std::move(d->session), this);
    for (ReviewAccount& account : d->accounts)
        QuitAndRelease(std::move(account.session), this);
    d->accounts.clear();
}

void ReviewController::AbandonSession() {
    d->timer1.stop();
    d->session.reset();
    d->accounts.clear();
    delete d->accountsDeletion.data();
    delete d->progress.data();
    d->deleting = false;
}

void ReviewController::AdoptAllAccounts(QVector<ReviewItem> rows, std::vector<ReviewAccount> accounts) {
    QStringList names;
    for (const ReviewAccount& account : accounts)
        names.append(account.name);
    d->model.setItems(std::move(rows), names);
    d->accounts = std::move(accounts);
}

bool ReviewController::reviewsAllAccounts() const {
    return !d->accounts.empty();
}

pop3::Session* ReviewController::sessionOfRow(int modelRow) const {
    if (modelRow < 0 || modelRow >= d->model.rowCount())
        return nullptr;
    const int account = d->model.item(modelRow).account;
    if (account < 0)
        return d->session.get();
    return account < static_cast<int>(d->accounts.size()) ? d->accounts[account].session.get() : nullptr;
}

bool ReviewController::holdsAccount(const QString& account) const {
    if (d->session && d->state.ReviewAccountName == account)
        return true;
    return std::any_of(d->accounts.cbegin(), d->accounts.cend(),
                       [&](const ReviewAccount& a) { return a.session && a.name == account; });
}

bool ReviewController::deletionRunning() const {
    return d->deleting;
}

void ReviewController::StartKeepAlive() {
    d->timer1.start();
}

void ReviewController::StopKeepAlive() {
    d->timer1.stop();
}

bool ReviewController::keepAliveRunning() const {
    return d->timer1.isActive();
}

void ReviewController::ClearReviewList() {
    if (d->model.rowCount() == 0)
        return;
    d->model.clear();
    d->state.hooks.showPanel1({});
    EndSession();
}

void ReviewController::AcceptAll() {
    d->state.BusyFlag = true;
    d->model.clear();
    d->state.hooks.showPanel1({});
    EndSession(); // nothing is marked, so every message stays on the server
    d->timer1.stop();
    d->state.BusyFlag = false;
    d->state.hooks.refreshCommands();
}

void ReviewController::CheckAll() {
    d->model.setAllKeep(true);
}

void ReviewController::CheckNone() {
    d->model.setAllKeep(false);
}

void ReviewController::DeleteUnchecked() {
    if (d->deleting)
        return;
    if (d->model.firstUnticked() < 0) {
        ui::ShowMessage(
            {d->owner, ui::MessageIcon::Information, QStringLiteral("No Messages to be Deleted"),
             QStringLiteral("The action cannot be performed.  All messages have a check mark beside "
                            "them which means that no messages are set to be deleted.")});
        return;
    }
    if (!ConfirmDeletion())
        return;

    d->progress = new DelStatusDialog(d->owner);
    d->progress->show();
    d->progress->raise();

    AppState& state = d->state;
    state.BusyFlag = true;
    state.hooks.refreshCommands();
    d->timer1.stop();
    d->deleting = true;
    d->outcome = DeletionOutcome();
    d->outcome.listed = d->model.rowCount();
    if (!d->accounts.empty()) {
        DeleteUncheckedOfAllAccounts();
        return;
    }
    // A keep-alive still waiting for its answer goes first; the marks follow it.
    MarkUnticked();
}

bool ReviewController::ConfirmDeletion() {
    if (d->state.Settings.DeletePromptOff == 1)
        return true;
    // Closing without OK must never delete mail that cannot be recovered.
    ConfirmDialog confirm(d->state, d->owner);
    return confirm.exec() == QDialog::Accepted;
}

void ReviewController::MarkUnticked() {
    const QVector<ReviewItem> rows = d->model.items(); // display order
    const int rowTotal = static_cast<int>(rows.size());
    // One pipelined batch keeps the link busy; the bar follows the server's
    // answers, over the rows in display order.
    QVector<int> numbers;
    QVector<int> rowEnds; // rows covered once the k-th mark is answered
    for (int i = 0; i < rowTotal; ++i) {
        if (!rows.at(i).keep) {
            numbers.append(rows.at(i).MessageNumber);
            rowEnds.append(i + 1);
        }
    }
    if (!d->session) {
        OnMarked(numbers, {});
        return;
    }
    auto* job = new pop3::MarkJob(numbers);
    connect(job, &pop3::Job::progress, d->progress, [this, rowEnds, rowTotal](int done, int) {
        if (done >= 1 && done <= rowEnds.size())
            d->progress->setProgress(ProgressPercent(rowEnds.at(done - 1), rowTotal));
    });
    connect(job, &pop3::Job::finished, this, [this, job, numbers] { OnMarked(numbers, job->results()); });
    d->session->enqueue(job);
}

void ReviewController::OnMarked(const QVector<int>& numbers, const QVector<pop3::Result>& results) {
    // Each message's own result decides; a missing result is a failure.
    for (int k = 0; k < numbers.size(); ++k) {
        if (k < results.size() && results.at(k) == pop3::Result::Ok)
            ++d->outcome.deleted;
        else
            d->outcome.failed = true;
    }
    if (d->progress)
        d->progress->setProgress(100);
    d->model.clear();
    d->state.hooks.showPanel1({});
    if (!d->session || !d->session->isConnected()) {
        d->session.reset();
        OnQuit(false);
        return;
    }
    // Marks take effect only when the server confirms QUIT; otherwise nothing was deleted.
    auto* quit = new pop3::QuitJob;
    connect(quit, &pop3::Job::finished, this, [this](const pop3::Failure& failure) {
        d->session.reset();
        OnQuit(failure.isOk());
    });
    d->session->enqueue(quit);
}

void ReviewController::OnQuit(bool confirmed) {
    DeletionOutcome outcome = d->outcome;
    if (!confirmed) {
        outcome.failed = true;
        outcome.deleted = 0;
    }
    const std::optional<StoreError> storeProblem = RecordDeletedMessages(outcome.deleted);
    delete d->progress.data();
    AppState& state = d->state;
    state.BusyFlag = false;
    state.hooks.showPanel1(DeletionStatusText(outcome.deleted, outcome.listed - outcome.deleted));
    state.hooks.refreshCommands();
    // Told from the event loop, not from inside the session's signal.
    QTimer::singleShot(0, this, [this, outcome, storeProblem] {
        ReportDeletion(outcome, storeProblem);
        d->deleting = false;
        Q_EMIT deletionEnded();
    });
}

std::optional<StoreError> ReviewController::RecordDeletedMessages(int deleted) {
    return RecordDeletedMessages(d->state.ReviewAccountName, deleted);
}

std::optional<StoreError> ReviewController::RecordDeletedMessages(const QString& accountName, int deleted) {
    if (deleted <= 0)
        return std::nullopt;
    try {
        AccountStore accounts(d->state.ProgramFolder);
        AccountRecord record;
        const int number = accounts.FindAccountByName(accountName, &record);
        if (number > 0) {
            record.DeletedMessages = SaturatingAdd(record.DeletedMessages, deleted);
            accounts.WriteAccount(number, record);
        }
    } catch (const StoreError& error) {
        return error;
    }
    return std::nullopt;
}

void ReviewController::ReportDeletion(const DeletionOutcome& outcome,
                                      const std::optional<StoreError>& storeProblem) {
    if (outcome.failed)
        ui::ShowMessage(
            {d->owner, ui::MessageIcon::Warning, QStringLiteral("Message Deletion"),
             QStringLiteral("One or more of the messages that were to be deleted could not be marked "
                            "for deletion on the server.\r\n\r\nThis can happen if the connection to "
                            "the server was lost or the server would not allow the action.")});
    if (storeProblem)
        ui::ShowStoreError(
            d->owner, QStringLiteral("Account Statistics"),
            QStringLiteral("The messages were deleted, but the account statistics could not be updated."),
            *storeProblem);
}

// Every account's unticked messages go on its own server, all servers at
// once; each account's outcome is its own, told together at the end.
void ReviewController::DeleteUncheckedOfAllAccounts() {
    std::vector<AccountsDeletion::Account> work(d->accounts.size());
    std::vector<int> listed(d->accounts.size(), 0);
    for (const ReviewItem& row : d->model.items()) { // display order
        if (row.account < 0 || row.account >= static_cast<int>(work.size()))
            continue;
        ++listed[row.account];
        if (!row.keep)
            work[row.account].numbers.append(row.MessageNumber);
    }
    std::vector<AccountsDeletion::Account> taking;
    for (size_t k = 0; k < work.size(); ++k) {
        // An account with nothing listed has no session left and nothing to tell.
        if (listed[k] == 0)
            continue;
        work[k].name = d->accounts[k].name;
        work[k].session = std::move(d->accounts[k].session);
        taking.push_back(std::move(work[k]));
    }
    d->accounts.clear();
    d->accountsDeletion = new AccountsDeletion(std::move(taking), this);
    connect(d->accountsDeletion, &AccountsDeletion::progress, this, [this](int percent) {
        if (d->progress)
            d->progress->setProgress(percent);
    });
    connect(d->accountsDeletion, &AccountsDeletion::finished, this, &ReviewController::OnAllAccountsDeleted);
    d->accountsDeletion->start();
}

void ReviewController::OnAllAccountsDeleted() {
    const QList<AccountDeletion> outcomes = d->accountsDeletion->outcomes();
    d->accountsDeletion->deleteLater();
    int deleted = 0;
    std::optional<StoreError> storeProblem;
    for (const AccountDeletion& outcome : outcomes) {
        deleted += outcome.deleted;
        if (std::optional<StoreError> problem = RecordDeletedMessages(outcome.account, outcome.deleted);
            problem && !storeProblem)
            storeProblem = problem;
    }
    d->model.clear();
    delete d->progress.data();
    AppState& state = d->state;
    state.BusyFlag = false;
    state.hooks.showPanel1(DeletionStatusText(deleted, d->outcome.listed - deleted));
    state.hooks.refreshCommands();
    QTimer::singleShot(0, this, [this, outcomes, storeProblem] {
        ui::ShowMessage(
            {d->owner, AnyDeletionFailed(outcomes) ? ui::MessageIcon::Warning : ui::MessageIcon::Information,
             QStringLiteral("Message Deletion"), AccountsDeletionText(outcomes)});
        ReportDeletion(DeletionOutcome(), storeProblem);
        d->deleting = false;
        Q_EMIT deletionEnded();
    });
}

void ReviewController::MessageDetails() {
    const int row = selectedRow();
    if (row < 0)
        return;
    const ReviewItem item = d->model.item(row);
    std::optional<QString> header;
    try {
        header = HeaderFiles::ReadHeaderFile(d->state.ProgramFolder, item.headerFile());
    } catch (const StoreError& error) {
        ui::ShowStoreError(d->owner, QStringLiteral("Message Details"),
                           QStringLiteral("The header of the selected message could not be read."), error);
    }
    ViewDialog view(
        item,
        header ? *header
               : QStringLiteral("No header information could be downloaded for the selected message."),
        d->owner);
    view.exec();
}

void ReviewController::AddFriends() {
    const int row = selectedRow();
    if (row < 0)
        return;
    const QString shown = d->model.item(row).text(ReviewItem::Address);
    // A name with an address in angle brackets would never match: its address is added.
    const QString address = friendaddress::ToStore(shown);
    if (address.isEmpty()) {
        ui::ShowMessage(
            {d->owner, ui::MessageIcon::Warning, QStringLiteral("No Address"),
             QStringLiteral("The selected message does not have an address associated with it.  Unable "
                            "to add this address.")});
        return;
    }
    if (!address.contains(QLatin1Char('@'))) {
        const auto answer = ui::ShowMessage(
            {d->owner, ui::MessageIcon::Question, QStringLiteral("Invalid Address"),
             QStringLiteral(
                 "The selected message does not appear to have a valid email address associated with "
                 "it.\r\n\r\nAdd this address anyway?"),
             QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Ok});
        if (answer != QMessageBox::Ok)
            return;
    }

    bool duplicate = false;
    std::optional<StoreError> storeProblem;
    {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        const auto restore = qScopeGuard([] { QApplication::restoreOverrideCursor(); });
        try {
            FriendsStore friends(d->state.ProgramFolder);
            duplicate = friends.Contains(address);
            if (!duplicate)
                friends.Append(address);
        } catch (const StoreError& error) {
            storeProblem = error;
        }
    }

    if (storeProblem) {
        ui::ShowStoreError(d->owner, QStringLiteral("Friends List"),
                           QStringLiteral("The address '") + address +
                               QStringLiteral("' could not be added to your Friends List."),
                           *storeProblem);
    } else if (duplicate) {
        ui::ShowMessage({d->owner, ui::MessageIcon::Information, QStringLiteral("Duplicate Address"),
                         QStringLiteral("The selected address '") + address +
                             QStringLiteral("' is already in your Friends List.")});
    } else {
        ui::ShowMessage(
            {d->owner, ui::MessageIcon::Information, QStringLiteral("Address Added"),
             QStringLiteral("The selected address '") + address +
                 QStringLiteral("' was added to your list of Friends.  Any future messages from this "
                                "address will be checked for you automatically.")});
    }
}

void ReviewController::setSelectedRow(int modelRow) {
    d->selected = QPersistentModelIndex(d->model.index(modelRow, 0));
    Q_EMIT selectedRowChanged(selectedRow());
}

int ReviewController::selectedRow() const {
    return d->selected.isValid() && d->selected.model() == &d->model ? d->selected.row() : -1;
}

ReviewController::PreviewSource ReviewController::previewSource(int modelRow) const {
    if (modelRow < 0 || modelRow >= d->model.rowCount())
        return {};
    const int number = d->model.item(modelRow).MessageNumber;
    // No TOP may queue behind a deletion's marks.
    if (d->deleting)
        return {nullptr, number};
    return {sessionOfRow(modelRow), number};
}
