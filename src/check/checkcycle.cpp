#include "check/checkcycle.h"

#include "check/allaccountscheck.h"
#include "check/certificatedialog.h"
#include "check/checkdonedialog.h"
#include "check/core/loginsettings.h"
#include "check/errordialog.h"
#include "check/statusdialog.h"
#include "common/signinquestion.h"
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
#include <QPointer>
#include <QTimer>

#include <algorithm>
#include <limits>
#include <memory>
#include <optional>

namespace {

// How a run ended; decides how the session is released and what the user is told.
enum class Ending {
    Listed,             // messages listed: the review takes the session over
    NothingWaiting,     // logged in, no messages: the session ends
    Cancelled,          // the user pressed Cancel: nothing to report
    CertificateProblem, // the server's certificate was refused: the user may trust it
    ConnectFailed,      // no session: the login failed
    DownloadFailed,     // the session broke during the download
    FileFailure,        // a file of the program could not be read or written
};

} // namespace

void TellListed(const AppState& state, const QString& account, const pop3::Session& session) {
    QList<QByteArray> uidls;
    QList<qint64> sizes;
    uidls.reserve(session.count());
    sizes.reserve(session.count());
    for (int n = 1; n <= session.count(); ++n) {
        uidls.append(session.item(n).Uidl);
        sizes.append(session.item(n).Size);
    }
    state.hooks.tellListed(account, uidls, sizes);
}

// One run of the check, told in its steps: prepare, connect, download, list,
// finish. Each step after prepare starts a POP3 job and the next step runs when
// it ends; any step may end the run, and finish is the one way out.
class CheckRun : public QObject {
public:
    // ended(again): the run is over and has told the user; again when the user
    // trusted the server's certificate, so the check should run once more.
    CheckRun(AppState& state, ReviewController& review, QWidget* owner, bool accountChosen,
             std::function<void(bool again)> ended, QObject* parent)
        : QObject(parent), m_state(state), m_review(review), m_owner(owner), m_accountChosen(accountChosen),
          m_ended(std::move(ended)) {}

    void Start() {
        OpenStatusWindow();
        try {
            Prepare();
        } catch (const StoreError& error) {
            m_fileError = error;
            Finish(Ending::FileFailure);
            return;
        }
        // Cancel ends the running job at once, even while the server is silent,
        // and stops a wait for the browser's sign-in.
        QObject::connect(m_status, &StatusDialog::cancelRequested, this, [this] {
            m_cancelled = true;
            if (m_session) {
                m_session->cancel();
            } else if (m_preparing) {
                delete m_preparing.data();
                Finish(Ending::Cancelled);
            }
        });
        PrepareLogin();
    }
    // Quietly, at the program's end: no QUIT, no message.
    void Abandon() {
        m_abandoned = true;
        delete m_status.data();
        m_session.reset();
        m_state.BusyFlag = false;
        deleteLater();
    }

private:
    void OpenStatusWindow();
    void Prepare();
    void PrepareLogin();
    LoginSettings::Options LoginOptions() const;
    void OnLoginRefused();
    void Connect();
    void OnConnected(const pop3::Failure& failure);
    void Download();
    void OnBatch(const QList<pop3::ParsedMessage>& batch);
    void OnDownloaded(const pop3::Failure& failure);
    Ending List();
    void ShowListedPanel(int count, qint64 totalSize);
    void Finish(Ending ending);
    void ReleaseSession(bool loggedIn);
    bool Report(Ending ending);

    AppState& m_state;
    ReviewController& m_review;
    QWidget* m_owner;
    const bool m_accountChosen;
    std::function<void(bool)> m_ended;

    QPointer<StatusDialog> m_status;
    QPointer<QObject> m_preparing; // the login's preparation; deleting it abandons that
    bool m_signInRetried = false;  // a refused token gets one new sign-in, never more
    std::unique_ptr<pop3::Session> m_session;
    pop3::SessionSettings m_settings;
    std::shared_ptr<const FriendMatcher> m_friends;
    QString m_accountName;
    bool m_cancelled = false;
    bool m_abandoned = false;
    QVector<ReviewItem> m_rows;
    HeaderFiles::HeaderFileList m_headerFiles;
    qint64 m_totalSize = 0;
    int m_count = 0;
    pop3::Failure m_failure;
    std::optional<StoreError> m_fileError;
};

void CheckRun::OpenStatusWindow() {
    m_state.BusyFlag = true;
    m_state.hooks.refreshCommands();
    // Nothing to keep alive while a new session is made; the old one is gone.
    m_review.StopKeepAlive();
    m_review.ClearReviewList();
    m_state.hooks.showPanel1({});
    m_state.hooks.showPanel2({});

    m_status = new StatusDialog(m_owner);
    m_status->setAttribute(Qt::WA_DeleteOnClose, false);
    m_status->show();
    m_status->raise();
}

// Reads the friends and the account.
void CheckRun::Prepare() {
    QStringList friendAddresses;
    for (const auto& [number, address] : FriendsStore(m_state.ProgramFolder).ReadAll())
        friendAddresses.append(address);
    m_friends = std::make_shared<const FriendMatcher>(friendAddresses);

    if (m_state.AccountCount == 1 || (m_state.AccountCount > 1 && !m_accountChosen))
        m_state.CurrentAccount = AccountStore(m_state.ProgramFolder).ReadAccount(1);
    const AccountRecord& account = m_state.CurrentAccount;
    m_accountName = FixedText::TrimBlanks(account.AccountName);
    m_state.ReviewAccountName = m_accountName;
    m_state.hooks.claimAccount(m_accountName);
}

LoginSettings::Options CheckRun::LoginOptions() const {
    LoginSettings::Options options;
    // The question sits over the status window, which stays on top.
    QWidget* parent = m_status ? static_cast<QWidget*>(m_status.data()) : m_owner;
    signin::AskSignIn ask = ui::BrowserSignInQuestion(parent, m_accountName);
    // After a refused token the kept tokens are gone; the reason is the refusal.
    const QString refused =
        m_signInRetried ? QStringLiteral("The server refused the access token.") : QString();
    options.askSignIn = [ask, refused, status = m_status](const QString& reason,
                                                          std::function<void(bool)> answer) {
        ask(refused.isEmpty() ? reason : refused, [status, answer = std::move(answer)](bool yes) {
            // Waiting for the browser: Cancel must be there.
            if (yes && status)
                status->setCancelEnabled(true);
            answer(yes);
        });
    };
    return options;
}

void CheckRun::PrepareLogin() {
    m_preparing = new QObject(this);
    LoginSettings::Prepare(m_state.CurrentAccount, m_state.Settings, m_state.ProgramFolder, m_preparing,
                           LoginOptions(),
                           [this](const pop3::SessionSettings& settings, const QString& failure) {
                               m_preparing->deleteLater();
                               if (!failure.isEmpty()) {
                                   m_failure = pop3::Failure::of(pop3::Result::LoginRejected);
                                   m_failure.words = failure;
                                   Finish(Ending::ConnectFailed);
                                   return;
                               }
                               m_settings = settings;
                               Connect();
                           });
}

// A refused OAuth2 token: one new sign-in in the browser and one more login.
void CheckRun::OnLoginRefused() {
    m_signInRetried = true;
    m_preparing = new QObject(this);
    LoginSettings::LoginRefused(m_settings, m_state.CurrentAccount, m_state.ProgramFolder, LoginOptions(),
                                m_preparing, [this](bool retry) {
                                    m_preparing->deleteLater();
                                    if (!retry) {
                                        Finish(Ending::ConnectFailed);
                                        return;
                                    }
                                    m_session.reset();
                                    PrepareLogin();
                                });
}

void CheckRun::Connect() {
    m_session = std::make_unique<pop3::Session>();
    auto* job = new pop3::ConnectJob(m_settings);
    QObject::connect(job, &pop3::Job::finished, this, &CheckRun::OnConnected);
    m_session->enqueue(job);
}

void CheckRun::OnConnected(const pop3::Failure& failure) {
    m_failure = failure;
    if (failure.code == pop3::Result::CertificateInvalid)
        Finish(Ending::CertificateProblem);
    else if (failure.code == pop3::Result::Cancelled || m_cancelled)
        Finish(Ending::Cancelled);
    else if (failure.code == pop3::Result::LoginRejected && !m_signInRetried)
        OnLoginRefused();
    else if (!failure.isOk())
        Finish(Ending::ConnectFailed);
    else
        Download();
}

void CheckRun::Download() {
    if (m_status)
        m_status->setCancelEnabled(true);
    QObject::connect(m_session.get(), &pop3::Session::status, m_status,
                     [status = m_status](const QString&, int nMin, int nMax, pop3::StatusCode code) {
                         if (code == pop3::StatusCode::Header)
                             status->showHeaderProgress(nMin, nMax);
                     });
    auto* job = new pop3::HeadersJob;
    // The rows are made on the parser thread, from what it owns or shares read-only.
    job->setRowMaker([friends = m_friends, locale = QLocale()](const pop3::Message& message, int number) {
        return QVariant::fromValue(MakeReviewItem(message, number, *friends, locale));
    });
    QObject::connect(job, &pop3::HeadersJob::parsed, this, &CheckRun::OnBatch);
    QObject::connect(job, &pop3::Job::finished, this, &CheckRun::OnDownloaded);
    m_session->enqueue(job);
}

void CheckRun::OnBatch(const QList<pop3::ParsedMessage>& batch) {
    if (m_rows.isEmpty())
        m_rows.resize(m_session->count());
    for (const pop3::ParsedMessage& parsed : batch) {
        if (parsed.number < 1 || parsed.number > m_rows.size())
            continue;
        m_rows[parsed.number - 1] = parsed.row.value<ReviewItem>();
        m_totalSize += parsed.message.Size;
        if (parsed.message.MessageStatusFlag == pop3::MessageStatus::Downloaded)
            m_headerFiles.emplace_back(parsed.number, parsed.message.Headers);
    }
}

void CheckRun::OnDownloaded(const pop3::Failure& failure) {
    m_failure = failure;
    if (failure.code == pop3::Result::Cancelled || m_cancelled) {
        Finish(Ending::Cancelled);
        return;
    }
    if (!failure.isOk()) {
        Finish(Ending::DownloadFailed);
        return;
    }
    TellListed(m_state, m_accountName, *m_session);
    Ending ending = Ending::FileFailure;
    try {
        ending = List();
    } catch (const StoreError& error) {
        m_fileError = error;
    }
    Finish(ending);
}

// Fills the review list, writes the header files and the statistics.
Ending CheckRun::List() {
    const int count = static_cast<int>(m_rows.size());
    m_count = count;
    WriteCheckHeaderFiles(m_state, m_owner, QStringLiteral("Check Mail"), std::move(m_headerFiles));
    m_review.model()->setItems(std::move(m_rows));
    ShowListedPanel(count, m_totalSize);
    UpdateCheckStatistics(m_state, m_accountName, count);
    return count == 0 ? Ending::NothingWaiting : Ending::Listed;
}

void WriteCheckHeaderFiles(const AppState& state, QWidget* owner, const QString& title,
                           HeaderFiles::HeaderFileList files) {
    // The first file is written here, so an unusable Data folder stops the check
    // cleanly; the rest follow in the background while the user reviews.
    if (!files.empty()) {
        HeaderFiles::WriteHeaderFile(state.ProgramFolder, files.front().first, files.front().second);
        files.erase(files.begin());
    }
    HeaderFiles::WriteHeaderFilesInBackground(
        state.ProgramFolder, std::move(files),
        [owner = QPointer<QWidget>(owner), title](const StoreError& error) {
            ui::ShowStoreError(owner, title,
                               QStringLiteral("Some message headers could not be saved, so their details "
                                              "cannot be shown."),
                               error);
        });
}

void CheckRun::ShowListedPanel(int count, qint64 totalSize) {
    const QString prefix = QStringLiteral("Account:  ") + m_accountName + QStringLiteral(" - ");
    if (count == 0)
        m_state.hooks.showPanel1(prefix + QStringLiteral("No New Messages to Review..."));
    else
        m_state.hooks.showPanel1(prefix + GroupedNumber(count) +
                                 QStringLiteral(" Message(s) to Review (Total Message(s) Size:  ") +
                                 SetBytes(static_cast<double>(totalSize)) + QLatin1Char(')'));
}

void UpdateCheckStatistics(const AppState& state, const QString& accountName, int count) {
    AccountStore accounts(state.ProgramFolder);
    AccountRecord record;
    const int recordNumber = accounts.FindAccountByName(accountName, &record);
    if (recordNumber <= 0)
        return;
    record.LastChecked = CheckCycle::GeneralDateText(QDateTime::currentDateTime());
    state.hooks.showPanel2(QStringLiteral("Last Checked: ") + record.LastChecked.trimmed());
    record.TotalMessages = static_cast<qint32>(std::min<qint64>(
        static_cast<qint64>(record.TotalMessages) + count, std::numeric_limits<qint32>::max()));
    accounts.WriteAccount(recordNumber, record);
}

// The one way out: the status window goes, the session is handed over or
// released, and the commands come back, whatever happened. The user is told
// afterwards, from the event loop, so no dialog runs inside a job's signal.
void CheckRun::Finish(Ending ending) {
    // Deleted, not closed: closing would count as the Cancel button.
    delete m_status.data();
    if (ending == Ending::Listed) {
        m_review.AdoptSession(std::move(m_session));
        m_review.StartKeepAlive();
        m_review.setSelectedRow(0);
        Q_EMIT m_review.selectRowRequested(0);
    } else {
        if (ending != Ending::NothingWaiting) {
            m_review.model()->clear();
            m_state.hooks.showPanel1({});
        }
        ReleaseSession(ending == Ending::NothingWaiting || ending == Ending::FileFailure ||
                       ending == Ending::DownloadFailed);
    }
    m_state.BusyFlag = false;
    m_state.hooks.refreshCommands();
    QTimer::singleShot(0, this, [this, ending] {
        const bool again = Report(ending);
        if (!m_abandoned)
            m_ended(again);
        deleteLater();
    });
}

// QUIT ends an open session politely; nothing was marked, so nothing goes.
void CheckRun::ReleaseSession(bool loggedIn) {
    if (!m_session)
        return;
    if (!loggedIn || !m_session->isConnected()) {
        m_session.reset();
        return;
    }
    pop3::Session* session = m_session.release();
    session->setParent(parent()); // the cycle: gone with the program, whatever the server does
    auto* quit = new pop3::QuitJob;
    QObject::connect(quit, &pop3::Job::finished, session, &QObject::deleteLater);
    session->enqueue(quit);
}

bool CheckRun::Report(Ending ending) {
    switch (ending) {
    case Ending::Listed:
        if (m_state.Settings.CheckDonePromptOff != 1) {
            CheckDoneDialog summary(m_accountName, GroupedNumber(m_count), m_state.Settings, m_owner);
            summary.exec();
        }
        return false;
    case Ending::NothingWaiting:
    case Ending::Cancelled:
        return false;
    case Ending::CertificateProblem:
        return HandleCertificateProblem(m_owner, m_state.ProgramFolder,
                                        QStringLiteral("Could not connect to the server."), m_failure.tls);
    case Ending::ConnectFailed:
        ReportAccountError(m_owner, QStringLiteral("Could not connect to the server."),
                           AccountError::Kind::Login, m_failure);
        return false;
    case Ending::DownloadFailed:
        ReportAccountError(m_owner, QStringLiteral("Could not download message headers."),
                           AccountError::Kind::Download, m_failure);
        return false;
    case Ending::FileFailure:
        ui::ShowStoreError(
            m_owner, QStringLiteral("Check Mail"),
            QStringLiteral("The check was stopped because a file of the program could not be read "
                           "or written."),
            *m_fileError);
        return false;
    }
    return false;
}

// ---------------------------------------------------------------- CheckCycle

CheckCycle::CheckCycle(AppState& state, ReviewController& review, QWidget* owner)
    : m_state(state), m_review(review), m_owner(owner) {}

CheckCycle::~CheckCycle() {
    Abandon();
}

void CheckCycle::setAccountChooser(std::function<bool()> chooser) {
    m_chooseAccount = std::move(chooser);
}

QString CheckCycle::GeneralDateText(const QDateTime& when) {
    const QLocale locale;
    QString timeFormat = locale.timeFormat(QLocale::LongFormat);
    // The long format names the time zone; the stored text never did.
    timeFormat.remove(QLatin1Char('t'));
    return locale.toString(when.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
           locale.toString(when.time(), timeFormat.trimmed());
}

void CheckCycle::RunCheckMailCommand() {
    if (isRunning())
        return;
    m_accountChosen = false;
    if (m_state.AccountCount >= 2 && m_chooseAccount) {
        if (!m_chooseAccount())
            return;
        m_accountChosen = true;
    }
    try {
        HeaderFiles::ClearHeaderFiles(m_state.ProgramFolder);
    } catch (const StoreError&) {
        // Housekeeping, never fails the command: a file that will not go away is overwritten or left over.
    }
    m_review.ClearReviewList();
    RunCheck();
}

void CheckCycle::RunCheck() {
    if (isRunning())
        return;
    const bool accountChosen = m_accountChosen;
    m_run = new CheckRun(
        m_state, m_review, m_owner, accountChosen,
        [this, accountChosen](bool again) {
            // Trusting the certificate on the way runs the same check again, with the exception in force.
            m_accountChosen = accountChosen;
            onRunEnded(again);
        },
        this);
    m_run->Start();
}

void CheckCycle::onRunEnded(bool again) {
    if (again) {
        // The ending run is still on the stack (it deletes itself later): start anew.
        m_run = nullptr;
        RunCheck();
        return;
    }
    m_accountChosen = false;
    Q_EMIT checkEnded();
}

void CheckCycle::Abandon() {
    if (m_run)
        m_run->Abandon();
    m_run = nullptr;
    if (m_allRun)
        m_allRun->Abandon();
    m_allRun = nullptr;
}

void CheckCycle::RunCheckAllAccountsCommand() {
    if (isRunning())
        return;
    try {
        HeaderFiles::ClearHeaderFiles(m_state.ProgramFolder);
    } catch (const StoreError&) {
        // Housekeeping, as for Check Mail.
    }
    m_review.ClearReviewList();
    m_allRun = new AllAccountsCheck(m_state, m_review, m_owner, this);
    connect(m_allRun, &AllAccountsCheck::ended, this, &CheckCycle::checkEnded);
    m_allRun->Start();
}
