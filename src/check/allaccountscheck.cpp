#include "check/allaccountscheck.h"

#include "check/checkcycle.h"
#include "check/checkdonedialog.h"
#include "check/core/loginsettings.h"
#include "check/statusdialog.h"
#include "common/messagebox.h"
#include "common/storeerrorbox.h"
#include "pop3/job.h"
#include "pop3/session.h"
#include "review/core/friendmatcher.h"
#include "review/core/reviewmodel.h"
#include "review/core/setbytes.h"
#include "review/reviewcontroller.h"
#include "store/accountstore.h"
#include "store/fixedtext.h"
#include "store/friendsstore.h"
#include "store/headerfiles.h"

#include <QDateTime>
#include <QLocale>
#include <QTimer>

#include <algorithm>
#include <limits>

// One account's part of the check: login settings, connect, download. It
// keeps what it got (rows, header blocks, the session) for the check to list,
// or why it got nothing.
class AccountDownload : public QObject {
public:
    enum class Outcome { Running, Listed, Cancelled, LoginFailed, DownloadFailed };

    struct Calls {
        std::function<void()> loggedIn;
        std::function<void()> progress;
        std::function<void()> ended;
    };

    AccountDownload(int index, const AccountRecord& record, const AppState& state,
                    std::shared_ptr<const FriendMatcher> friends, Calls calls)
        : name(FixedText::TrimBlanks(record.AccountName)), m_index(index), m_record(record), m_state(state),
          m_friends(std::move(friends)), m_calls(std::move(calls)) {}

    void start() {
        LoginSettings::Prepare(m_record, m_state.Settings, m_state.ProgramFolder, this,
                               [this](const pop3::SessionSettings& settings, const QString& failure) {
                                   if (m_cancelled)
                                       return end(Outcome::Cancelled);
                                   if (!failure.isEmpty()) {
                                       this->failure = pop3::Failure::of(pop3::Result::LoginRejected);
                                       this->failure.words = failure;
                                       return end(Outcome::LoginFailed);
                                   }
                                   connectTo(settings);
                               });
    }

    void cancel() {
        m_cancelled = true;
        if (session)
            session->cancel();
    }

    const QString name;
    Outcome outcome = Outcome::Running;
    pop3::Failure failure;
    std::unique_ptr<pop3::Session> session;
    QVector<ReviewItem> rows;
    HeaderFiles::HeaderFileList headerFiles;
    qint64 totalSize = 0;
    int done = 0;   // headers downloaded
    int total = 0;  // messages listed, as the download counts them
    int listed = 0; // rows handed to the review

private:
    void connectTo(const pop3::SessionSettings& settings) {
        session = std::make_unique<pop3::Session>();
        auto* job = new pop3::ConnectJob(settings);
        QObject::connect(job, &pop3::Job::finished, this, [this](const pop3::Failure& result) {
            failure = result;
            if (result.code == pop3::Result::Cancelled || m_cancelled)
                return end(Outcome::Cancelled);
            if (!result.isOk())
                return end(Outcome::LoginFailed);
            m_calls.loggedIn();
            download();
        });
        session->enqueue(job);
    }

    void download() {
        QObject::connect(session.get(), &pop3::Session::status, this,
                         [this](const QString&, int nMin, int nMax, pop3::StatusCode code) {
                             if (code != pop3::StatusCode::Header)
                                 return;
                             done = nMin;
                             total = nMax;
                             m_calls.progress();
                         });
        auto* job = new pop3::HeadersJob;
        // Made on the parser thread, from what it owns or shares read-only.
        job->setRowMaker([friends = m_friends, locale = QLocale(),
                          index = m_index](const pop3::Message& message, int number) {
            ReviewItem item = MakeReviewItem(message, number, *friends, locale);
            item.account = index;
            return QVariant::fromValue(item);
        });
        QObject::connect(job, &pop3::HeadersJob::parsed, this, &AccountDownload::onBatch);
        QObject::connect(job, &pop3::Job::finished, this, [this](const pop3::Failure& result) {
            failure = result;
            if (result.code == pop3::Result::Cancelled || m_cancelled)
                return end(Outcome::Cancelled);
            if (result.isOk())
                TellListed(m_state, name, *session);
            end(result.isOk() ? Outcome::Listed : Outcome::DownloadFailed);
        });
        session->enqueue(job);
    }

    void onBatch(const QList<pop3::ParsedMessage>& batch) {
        if (rows.isEmpty())
            rows.resize(session->count());
        for (const pop3::ParsedMessage& parsed : batch) {
            if (parsed.number < 1 || parsed.number > rows.size())
                continue;
            rows[parsed.number - 1] = parsed.row.value<ReviewItem>();
            totalSize += parsed.message.Size;
            if (parsed.message.MessageStatusFlag == pop3::MessageStatus::Downloaded)
                headerFiles.emplace_back(parsed.number, parsed.message.Headers);
        }
    }

    void end(Outcome how) {
        outcome = how;
        if (how != Outcome::Listed) {
            rows.clear();
            headerFiles.clear();
        }
        m_calls.ended();
    }

    const int m_index;
    const AccountRecord m_record;
    const AppState& m_state;
    std::shared_ptr<const FriendMatcher> m_friends;
    Calls m_calls;
    bool m_cancelled = false;
};

namespace {
// QUIT for a session still logged in (nothing was marked, so nothing goes);
// keeper holds it until the server answers or the program ends.
void Release(std::unique_ptr<pop3::Session> owned, QObject* keeper) {
    if (!owned || !owned->isConnected())
        return;
    pop3::Session* session = owned.release();
    session->setParent(keeper);
    auto* quit = new pop3::QuitJob;
    QObject::connect(quit, &pop3::Job::finished, session, &QObject::deleteLater);
    session->enqueue(quit);
}
} // namespace

AllAccountsCheck::AllAccountsCheck(AppState& state, ReviewController& review, QWidget* owner, QObject* parent)
    : QObject(parent), m_state(state), m_review(review), m_owner(owner) {}

AllAccountsCheck::~AllAccountsCheck() {
    delete m_status.data();
}

void AllAccountsCheck::Start() {
    OpenStatusWindow();
    try {
        Prepare();
    } catch (const StoreError& error) {
        m_fileError = error;
        Finish(Ending::FileFailure);
        return;
    }
    if (m_downloads.empty()) {
        Finish(Ending::NoneChecked);
        return;
    }
    StartDownloads();
}

void AllAccountsCheck::Abandon() {
    m_abandoned = true;
    delete m_status.data();
    m_downloads.clear(); // dropped without QUIT
    m_state.BusyFlag = false;
    deleteLater();
}

void AllAccountsCheck::OpenStatusWindow() {
    m_state.BusyFlag = true;
    m_state.hooks.refreshCommands();
    m_review.StopKeepAlive();
    m_review.ClearReviewList();
    m_state.hooks.showPanel1({});
    m_state.hooks.showPanel2({});
    // No single account is under review.
    m_state.ReviewAccountName.clear();
    m_state.hooks.claimAccount({});

    m_status = new StatusDialog(m_owner);
    m_status->setAttribute(Qt::WA_DeleteOnClose, false);
    m_status->show();
    m_status->raise();
    connect(m_status, &StatusDialog::cancelRequested, this, [this] {
        m_cancelled = true;
        for (const auto& download : m_downloads)
            download->cancel();
    });
}

// Reads the friends and every account.
void AllAccountsCheck::Prepare() {
    QStringList friendAddresses;
    for (const auto& [number, address] : FriendsStore(m_state.ProgramFolder).ReadAll())
        friendAddresses.append(address);
    const auto friends = std::make_shared<const FriendMatcher>(friendAddresses);
    const QList<AccountRecord> accounts = AccountStore(m_state.ProgramFolder).ReadAll();
    AccountDownload::Calls calls{[this] {
                                     if (m_status)
                                         m_status->setCancelEnabled(true);
                                 },
                                 [this] { OnProgress(); }, [this] { OnAccountEnded(); }};
    for (int k = 0; k < accounts.size(); ++k)
        m_downloads.push_back(std::make_unique<AccountDownload>(k, accounts.at(k), m_state, friends, calls));
}

void AllAccountsCheck::StartDownloads() {
    m_pending = static_cast<int>(m_downloads.size());
    for (const auto& download : m_downloads)
        download->start();
}

// One bar for all: headers downloaded over messages listed so far.
void AllAccountsCheck::OnProgress() {
    int done = 0;
    int total = 0;
    for (const auto& download : m_downloads) {
        done += download->done;
        total += download->total;
    }
    if (m_status)
        m_status->showHeaderProgress(done, total);
}

void AllAccountsCheck::OnAccountEnded() {
    if (--m_pending == 0 && !m_abandoned)
        // From the event loop, never inside the last job's signal.
        QTimer::singleShot(0, this, &AllAccountsCheck::Complete);
}

void AllAccountsCheck::Complete() {
    if (m_cancelled) {
        Finish(Ending::Cancelled);
        return;
    }
    bool anyListed = false;
    for (const auto& download : m_downloads) {
        if (download->outcome == AccountDownload::Outcome::Listed)
            anyListed = true;
        else if (download->outcome == AccountDownload::Outcome::LoginFailed)
            m_unreached.append({download->name, AccountError::Kind::Login, download->failure});
        else if (download->outcome == AccountDownload::Outcome::DownloadFailed)
            m_unreached.append({download->name, AccountError::Kind::Download, download->failure});
    }
    if (!anyListed) {
        Finish(Ending::NoneChecked);
        return;
    }
    try {
        m_listedCount = List();
    } catch (const StoreError& error) {
        m_fileError = error;
        Finish(Ending::FileFailure);
        return;
    }
    Finish(m_listedCount == 0 ? Ending::NothingWaiting : Ending::Listed);
}

// The rows of every listed account in account order, each with a header file
// of its own (message numbers repeat across accounts: the file gets the row's
// running number); then the files, the status bar and the statistics.
int AllAccountsCheck::List() {
    QStringList names;
    qint64 totalSize = 0;
    HeaderFiles::HeaderFileList files;
    int offset = 0;
    for (const auto& download : m_downloads) {
        if (download->outcome != AccountDownload::Outcome::Listed)
            continue;
        names.append(download->name);
        totalSize += download->totalSize;
        download->listed = static_cast<int>(download->rows.size());
        for (ReviewItem& row : download->rows) {
            row.fileNumber = offset + row.MessageNumber;
            m_rows.append(std::move(row));
        }
        for (auto& [number, headers] : download->headerFiles)
            files.emplace_back(offset + number, std::move(headers));
        offset += download->listed;
        download->rows.clear();
        download->headerFiles.clear();
    }
    const int count = static_cast<int>(m_rows.size());
    WriteCheckHeaderFiles(m_state, m_owner, QStringLiteral("Check All Accounts"), std::move(files));
    ShowListedPanel(names, count, totalSize);
    for (const auto& download : m_downloads)
        if (download->outcome == AccountDownload::Outcome::Listed)
            UpdateCheckStatistics(m_state, download->name, download->listed);
    return count;
}

void AllAccountsCheck::ShowListedPanel(const QStringList& names, int count, qint64 totalSize) {
    const QString prefix =
        QStringLiteral("Accounts:  ") + names.join(QStringLiteral(", ")) + QStringLiteral(" - ");
    if (count == 0)
        m_state.hooks.showPanel1(prefix + QStringLiteral("No New Messages to Review..."));
    else
        m_state.hooks.showPanel1(prefix + GroupedNumber(count) +
                                 QStringLiteral(" Message(s) to Review (Total Message(s) Size:  ") +
                                 SetBytes(static_cast<double>(totalSize)) + QLatin1Char(')'));
}

// The one way out: the status window goes, the sessions are handed over or
// released, the commands come back; the user is told afterwards, from the event loop.
void AllAccountsCheck::Finish(Ending ending) {
    // Deleted, not closed: closing would count as the Cancel button.
    delete m_status.data();
    if (ending == Ending::Listed) {
        HandOver(std::move(m_rows));
    } else {
        if (ending != Ending::NothingWaiting) {
            m_review.model()->clear();
            m_state.hooks.showPanel1({});
        }
        ReleaseSessions();
    }
    m_state.BusyFlag = false;
    m_state.hooks.refreshCommands();
    QTimer::singleShot(0, this, [this, ending] {
        Report(ending);
        if (!m_abandoned)
            Q_EMIT ended();
        deleteLater();
    });
}

// Every account keeps its place (the rows' account index); only a listed
// account with messages keeps its session for the review.
void AllAccountsCheck::HandOver(QVector<ReviewItem> rows) {
    std::vector<ReviewAccount> accounts;
    for (const auto& download : m_downloads) {
        ReviewAccount account{download->name, nullptr};
        if (download->outcome == AccountDownload::Outcome::Listed && download->listed > 0)
            account.session = std::move(download->session);
        accounts.push_back(std::move(account));
    }
    ReleaseSessions();
    m_review.AdoptAllAccounts(std::move(rows), std::move(accounts));
    m_review.StartKeepAlive();
    m_review.setSelectedRow(0);
    Q_EMIT m_review.selectRowRequested(0);
}

void AllAccountsCheck::ReleaseSessions() {
    for (const auto& download : m_downloads)
        Release(std::move(download->session), parent());
}

void AllAccountsCheck::Report(Ending ending) {
    if (ending == Ending::Cancelled)
        return;
    if (ending == Ending::FileFailure) {
        ui::ShowStoreError(m_owner, QStringLiteral("Check All Accounts"),
                           QStringLiteral("The check was stopped because a file of the program could not be "
                                          "read or written."),
                           *m_fileError);
        return;
    }
    if (!m_unreached.isEmpty())
        ui::ShowMessage({m_owner, ui::MessageIcon::Warning, QStringLiteral("Check All Accounts"),
                         UnreachedAccounts::SummaryText(m_unreached, ending != Ending::NoneChecked)});
    if (ending == Ending::Listed && m_state.Settings.CheckDonePromptOff != 1) {
        CheckDoneDialog summary(QStringLiteral("All accounts"), GroupedNumber(m_listedCount),
                                m_state.Settings, m_owner);
        summary.exec();
    }
}
