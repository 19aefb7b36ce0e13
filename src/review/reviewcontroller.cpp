#include "review/reviewcontroller.h"

#include "common/messagebox.h"
#include "common/storeerrorbox.h"
#include "pop3/pop3client.h"
#include "review/confirmdialog.h"
#include "review/core/progresspercent.h"
#include "review/core/reviewmodel.h"
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
#include <QWidget>

#include <algorithm>
#include <limits>
#include <optional>

namespace {
constexpr int kKeepAliveMs = 1000;

qint32 SaturatingAdd(qint32 a, qint64 b) {
    const qint64 sum = static_cast<qint64>(a) + b;
    return static_cast<qint32>(
        std::clamp<qint64>(sum, std::numeric_limits<qint32>::min(), std::numeric_limits<qint32>::max()));
}
} // namespace

struct ReviewController::Private {
    AppState& state;
    QPointer<QWidget> owner;
    ReviewModel model;
    std::unique_ptr<pop3::Client> session;
    QTimer timer1;
    QPersistentModelIndex selected;

    Private(AppState& s, QWidget* o) : state(s), owner(o) {}
};

ReviewController::ReviewController(AppState& state, QWidget* owner, QObject* parent)
    : QObject(parent), d(std::make_unique<Private>(state, owner)) {
    d->timer1.setParent(this); // findable by name; the member goes before the parent does
    d->timer1.setObjectName(QStringLiteral("Timer1"));
    d->timer1.setInterval(kKeepAliveMs);
    connect(&d->timer1, &QTimer::timeout, this, [this] {
        // Result ignored: a dropped idle connection shows up at the next real command.
        if (d->session && !d->session->isBusy())
            d->session->KeepAlive();
    });
}

ReviewController::~ReviewController() {
    d->timer1.stop();
}

ReviewModel* ReviewController::model() const {
    return &d->model;
}

int ReviewController::rowCount() const {
    return d->model.rowCount();
}

void ReviewController::AdoptSession(std::unique_ptr<pop3::Client> client) {
    d->session = std::move(client);
}

pop3::Client* ReviewController::session() const {
    return d->session.get();
}

pop3::Result ReviewController::EndSession() {
    d->timer1.stop();
    if (!d->session)
        return pop3::Result::NotConnected;
    const pop3::Result result = d->session->Disconnect();
    d->session.reset();
    return result;
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
    if (d->model.firstUnticked() < 0) {
        ui::ShowMessage(
            {d->owner, ui::MessageIcon::Information, QStringLiteral("No Messages to be Deleted"),
             QStringLiteral("The action cannot be performed.  All messages have a check mark beside "
                            "them which means that no messages are set to be deleted.")});
        return;
    }
    if (!ConfirmDeletion())
        return;

    DelStatusDialog progress(d->owner);
    progress.show();
    progress.raise();
    QCoreApplication::processEvents();

    AppState& state = d->state;
    state.BusyFlag = true;
    state.hooks.refreshCommands();
    d->timer1.stop();

    // Whatever happens below, the run ends with the list empty, the session
    // released, the window closed and the commands back.
    DeletionOutcome outcome = MarkUnticked(progress);
    d->model.clear();
    state.hooks.showPanel1({});
    QCoreApplication::processEvents();
    // Marks take effect only when the server confirms QUIT; otherwise nothing was deleted.
    if (EndSession() != pop3::Result::Ok) {
        outcome.failed = true;
        outcome.deleted = 0;
    }
    const std::optional<StoreError> storeProblem = RecordDeletedMessages(outcome.deleted);
    progress.close();
    state.BusyFlag = false;
    state.hooks.refreshCommands();
    ReportDeletion(outcome, storeProblem);
}

bool ReviewController::ConfirmDeletion() {
    if (d->state.Settings.DeletePromptOff == 1)
        return true;
    // Closing without OK must never delete mail that cannot be recovered.
    ConfirmDialog confirm(d->state, d->owner);
    return confirm.exec() == QDialog::Accepted;
}

ReviewController::DeletionOutcome ReviewController::MarkUnticked(DelStatusDialog& progress) {
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
    QVector<pop3::Result> results;
    if (d->session) {
        const QMetaObject::Connection follow = QObject::connect(
            d->session.get(), &pop3::Client::StatusMessage, &progress,
            [&progress, &rowEnds, rowTotal](const QString&, int done, int, pop3::StatusCode code) {
                if (code == pop3::StatusCode::Marking && done >= 1 && done <= rowEnds.size())
                    progress.setProgress(ProgressPercent(rowEnds.at(done - 1), rowTotal));
            });
        results = d->session->DeleteFromServer(numbers);
        QObject::disconnect(follow);
    }
    // Each message's own result decides; a missing result is a failure.
    DeletionOutcome outcome;
    for (int k = 0; k < numbers.size(); ++k) {
        if (k < results.size() && results.at(k) == pop3::Result::Ok)
            ++outcome.deleted;
        else
            outcome.failed = true;
    }
    progress.setProgress(ProgressPercent(rowTotal, rowTotal));
    return outcome;
}

std::optional<StoreError> ReviewController::RecordDeletedMessages(int deleted) {
    if (deleted <= 0)
        return std::nullopt;
    try {
        AccountStore accounts(d->state.ProgramFolder);
        AccountRecord record;
        const int number = accounts.FindAccountByName(d->state.ReviewAccountName, &record);
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

void ReviewController::MessageDetails() {
    const int row = selectedRow();
    if (row < 0)
        return;
    const ReviewItem item = d->model.item(row);
    std::optional<QString> header;
    try {
        header = HeaderFiles::ReadHeaderFile(d->state.ProgramFolder, item.MessageNumber);
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
}

int ReviewController::selectedRow() const {
    return d->selected.isValid() && d->selected.model() == &d->model ? d->selected.row() : -1;
}
