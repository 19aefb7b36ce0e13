#include "check/checkcycle.h"

#include "check/certificatedialog.h"
#include "check/checkdonedialog.h"
#include "check/core/servertrust.h"
#include "check/errordialog.h"
#include "check/statusdialog.h"
#include "common/storeerrorbox.h"
#include "pop3/pop3client.h"
#include "review/core/friendmatcher.h"
#include "review/core/reviewmodel.h"
#include "review/core/setbytes.h"
#include "review/reviewcontroller.h"
#include "store/accountstore.h"
#include "store/fixedtext.h"
#include "store/friendsstore.h"
#include "store/headerfiles.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QLocale>
#include <QPointer>

#include <optional>

#include <algorithm>
#include <limits>

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

// One run of the check, told in its steps: prepare, connect, download, list,
// finish. Every step after prepare may end the run; finish is the one way out.
class CheckRun {
public:
    CheckRun(AppState& state, ReviewController& review, QWidget* owner, bool accountChosen)
        : m_state(state), m_review(review), m_owner(owner), m_accountChosen(accountChosen) {}

    // True when the user trusted the server's certificate: the check should run again.
    bool Run() {
        OpenStatusWindow();
        Ending ending = Ending::FileFailure;
        try {
            ending = Prepare();
            if (ending == Ending::Listed)
                ending = Connect();
            if (ending == Ending::Listed)
                ending = Download();
            if (ending == Ending::Listed)
                ending = List();
        } catch (const StoreError& error) {
            ending = Ending::FileFailure;
            m_fileError = error;
        }
        Finish(ending);
        return Report(ending);
    }

private:
    void OpenStatusWindow();
    Ending Prepare();
    Ending Connect();
    Ending Download();
    Ending List();
    void WriteHeaderFiles(HeaderFiles::HeaderFileList files);
    void ShowListedPanel(int count, qint64 totalSize);
    void UpdateStatistics(int count);
    void Finish(Ending ending);
    bool Report(Ending ending);

    AppState& m_state;
    ReviewController& m_review;
    QWidget* m_owner;
    const bool m_accountChosen;

    QPointer<StatusDialog> m_status;
    std::unique_ptr<pop3::Client> m_client;
    std::unique_ptr<FriendMatcher> m_friends;
    QString m_accountName;
    bool m_cancelled = false;
    int m_count = 0;
    pop3::Result m_result = pop3::Result::Ok;
    QString m_detail; // our own words for the failure, shown below its code text
    pop3::TlsProblem m_tlsProblem;
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
    QCoreApplication::processEvents();
}

// Reads the friends and the account, and sets the session up as the account says.
Ending CheckRun::Prepare() {
    QStringList friendAddresses;
    for (const auto& [number, address] : FriendsStore(m_state.ProgramFolder).ReadAll())
        friendAddresses.append(address);
    m_friends = std::make_unique<FriendMatcher>(friendAddresses);

    if (m_state.AccountCount == 1 || (m_state.AccountCount > 1 && !m_accountChosen))
        m_state.CurrentAccount = AccountStore(m_state.ProgramFolder).ReadAccount(1);
    const AccountRecord& account = m_state.CurrentAccount;
    m_accountName = FixedText::TrimBlanks(account.AccountName);
    m_state.ReviewAccountName = m_accountName;

    m_client = std::make_unique<pop3::Client>();
    pop3::Client* session = m_client.get();
    session->setUserName(FixedText::TrimBlanks(account.LoginName));
    session->setPassword(FixedText::TrimBlanks(account.LoginPassword));
    session->setHostName(FixedText::TrimBlanks(account.ServerAddress));
    session->setDefaultPort(m_state.Settings.PopPort());
    session->setTimeoutSeconds(m_state.Settings.TimeoutSeconds());
    ServerTrust::Apply(*session, m_state.ProgramFolder);

    // Cancel ends the running call at once, even while the server is silent.
    QObject::connect(m_status, &StatusDialog::cancelRequested, session, [this, session] {
        m_cancelled = true;
        session->CancelOperation();
    });
    QObject::connect(session, &pop3::Client::StatusMessage, m_status,
                     [status = m_status](const QString&, int nMin, int nMax, pop3::StatusCode code) {
                         if (code == pop3::StatusCode::Header)
                             status->showHeaderProgress(nMin, nMax);
                     });
    return Ending::Listed;
}

Ending CheckRun::Connect() {
    m_result = m_client->Connect();
    if (m_result == pop3::Result::CertificateInvalid) {
        m_tlsProblem = m_client->lastTlsProblem();
        return Ending::CertificateProblem;
    }
    if (m_result == pop3::Result::Cancelled)
        return Ending::Cancelled;
    if (m_result != pop3::Result::Ok)
        return Ending::ConnectFailed;
    if (m_status)
        m_status->setCancelEnabled(true);
    return Ending::Listed;
}

Ending CheckRun::Download() {
    m_result = m_client->GetHeaders();
    if (m_result == pop3::Result::Cancelled || m_cancelled)
        return Ending::Cancelled;
    if (m_result != pop3::Result::Ok) {
        m_detail = m_client->failureDetail();
        return Ending::DownloadFailed;
    }
    return Ending::Listed;
}

// Fills the review list, writes the header files and the statistics.
Ending CheckRun::List() {
    m_count = m_client->Count();
    QVector<ReviewItem> rows;
    rows.reserve(m_count);
    HeaderFiles::HeaderFileList headerFiles;
    headerFiles.reserve(static_cast<size_t>(m_count));
    qint64 totalSize = 0;
    for (int n = 1; n <= m_count; ++n) {
        const pop3::Message& message = m_client->Item(n);
        totalSize += message.Size;
        rows.append(MakeReviewItem(message, n, *m_friends));
        if (message.MessageStatusFlag == pop3::MessageStatus::Downloaded)
            headerFiles.emplace_back(n, message.Headers);
    }
    WriteHeaderFiles(std::move(headerFiles));
    m_review.model()->setItems(std::move(rows));
    ShowListedPanel(m_count, totalSize);
    UpdateStatistics(m_count);
    return m_count == 0 ? Ending::NothingWaiting : Ending::Listed;
}

void CheckRun::WriteHeaderFiles(HeaderFiles::HeaderFileList files) {
    // The first file is written here, so an unusable Data folder stops the check
    // cleanly; the rest follow in the background while the user reviews.
    if (!files.empty()) {
        HeaderFiles::WriteHeaderFile(m_state.ProgramFolder, files.front().first, files.front().second);
        files.erase(files.begin());
    }
    QPointer<QWidget> owner = m_owner;
    HeaderFiles::WriteHeaderFilesInBackground(
        m_state.ProgramFolder, std::move(files), [owner](const StoreError& error) {
            ui::ShowStoreError(owner, QStringLiteral("Check Mail"),
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

void CheckRun::UpdateStatistics(int count) {
    AccountStore accounts(m_state.ProgramFolder);
    AccountRecord record;
    const int recordNumber = accounts.FindAccountByName(m_accountName, &record);
    if (recordNumber <= 0)
        return;
    record.LastChecked = CheckCycle::GeneralDateText(QDateTime::currentDateTime());
    m_state.hooks.showPanel2(QStringLiteral("Last Checked: ") + record.LastChecked.trimmed());
    record.TotalMessages = static_cast<qint32>(std::min<qint64>(
        static_cast<qint64>(record.TotalMessages) + count, std::numeric_limits<qint32>::max()));
    accounts.WriteAccount(recordNumber, record);
}

// The one way out: the status window goes, the session is handed over or
// released, and the commands come back, whatever happened.
void CheckRun::Finish(Ending ending) {
    // Deleted, not closed: closing would count as the Cancel button.
    delete m_status.data();
    if (ending == Ending::Listed) {
        m_review.AdoptSession(std::move(m_client));
        m_review.StartKeepAlive();
        m_review.setSelectedRow(0);
        Q_EMIT m_review.selectRowRequested(0);
    } else {
        if (ending != Ending::NothingWaiting) {
            m_review.model()->clear();
            m_state.hooks.showPanel1({});
        }
        // QUIT ends an open session politely; nothing was marked, so nothing goes.
        if (m_client && m_client->isConnected())
            m_client->Disconnect();
        m_client.reset();
    }
    m_state.BusyFlag = false;
    m_state.hooks.refreshCommands();
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
                                        QStringLiteral("Could not connect to the server."), m_tlsProblem);
    case Ending::ConnectFailed:
        ReportAccountError(m_owner, QStringLiteral("Could not connect to the server."),
                           AccountError::Kind::Login, m_result);
        return false;
    case Ending::DownloadFailed:
        ReportAccountError(m_owner, QStringLiteral("Could not download message headers."),
                           AccountError::Kind::Download, m_result, m_detail);
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

} // namespace

CheckCycle::CheckCycle(AppState& state, ReviewController& review, QWidget* owner)
    : m_state(state), m_review(review), m_owner(owner) {}

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
    const bool accountChosen = m_accountChosen;
    m_accountChosen = false;
    // Trusting the certificate on the way runs the same check again, with the exception in force.
    while (CheckRun(m_state, m_review, m_owner, accountChosen).Run()) {
    }
}
