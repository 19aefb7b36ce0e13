#include "check/checkcycle.h"

#include "check/certificatedialog.h"
#include "check/checkdonedialog.h"
#include "check/core/servertrust.h"
#include "check/errordialog.h"
#include "check/statusdialog.h"
#include "common/messagebox.h"
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

#include <algorithm>
#include <limits>

namespace {
void SetPanel(const std::function<void(const QString&)>& panel, const QString& text) {
    if (panel)
        panel(text);
}

void Refresh(AppState& state) {
    if (state.hooks.refreshCommandStates)
        state.hooks.refreshCommandStates();
}

// A file the check needs could not be read or written.
struct FileFailure {
    QString message;
};
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
        // Housekeeping: a file that will not go away is overwritten or left over.
    }
    m_review.ClearReviewList();
    RunCheck();
}

void CheckCycle::RunCheck() {
    AppState& state = m_state;
    const bool accountChosen = m_accountChosen;
    m_accountChosen = false;

    state.BusyFlag = true;
    Refresh(state);
    // Nothing to keep alive while a new session is made; the old one is gone.
    m_review.StopKeepAlive();
    m_review.ClearReviewList();
    SetPanel(state.hooks.setPanel1, {});
    SetPanel(state.hooks.setPanel2, {});

    state.CancelRequested = false;
    QPointer<StatusDialog> status = new StatusDialog(m_owner);
    status->setAttribute(Qt::WA_DeleteOnClose, false);
    QObject::connect(status, &StatusDialog::cancelRequested, status,
                     [&state] { state.CancelRequested = true; });
    status->show();
    status->raise();
    QCoreApplication::processEvents();

    std::unique_ptr<pop3::Client> client;
    // Every way out goes through here: the end states of a check that leaves no session.
    auto endWithoutSession = [&](bool disconnect) {
        // Deleted, not closed: closing would count as the Cancel button.
        delete status.data();
        m_review.model()->clear();
        SetPanel(state.hooks.setPanel1, {});
        if (client && disconnect)
            client->Disconnect();
        client.reset();
        state.BusyFlag = false;
        Refresh(state);
    };
    auto fileFailure = [&](const StoreError& error) {
        endWithoutSession(true);
        ui::ShowStoreError(m_owner, QStringLiteral("Check Mail"),
                           QStringLiteral("The check was stopped because a file of the program could not be "
                                          "read or written."),
                           error);
    };

    try {
        QStringList friendAddresses;
        for (const auto& [number, address] : FriendsStore(state.ProgramFolder).ReadAll())
            friendAddresses.append(address);
        const FriendMatcher friends(friendAddresses);

        client = std::make_unique<pop3::Client>();
        pop3::Client* session = client.get();
        const auto cancelIfAsked = [&state, session] {
            if (state.CancelRequested)
                session->CancelOperation(0);
        };
        QObject::connect(session, &pop3::Client::ConnectLog, session,
                         [cancelIfAsked](const QString&, int) { cancelIfAsked(); });
        QObject::connect(session, &pop3::Client::StatusMessage, session,
                         [cancelIfAsked, status](const QString&, int nMin, int nMax, int code) {
                             cancelIfAsked();
                             if (code == pop3::StatusHeader && status)
                                 status->showHeaderProgress(nMin, nMax);
                         });

        if (state.AccountCount == 1 || (state.AccountCount > 1 && !accountChosen))
            state.CurrentAccount = AccountStore(state.ProgramFolder).ReadAccount(1);
        const QString accountName = FixedText::TrimBlanks(state.CurrentAccount.AccountName);
        state.ReviewAccountName = accountName;

        session->setUserName(FixedText::TrimBlanks(state.CurrentAccount.LoginName));
        session->setPassword(FixedText::TrimBlanks(state.CurrentAccount.LoginPassword));
        session->setHostName(FixedText::TrimBlanks(state.CurrentAccount.ServerAddress));
        session->setDefaultPort(state.Settings.PopPort());
        session->setTimeoutSeconds(state.Settings.TimeoutSeconds());

        ServerTrust::Apply(*session, state.ProgramFolder);

        const int connectResult = session->Connect();
        if (connectResult == pop3::CertificateInvalid) {
            const pop3::TlsProblem problem = session->lastTlsProblem();
            endWithoutSession(false);
            // Trusted just now: the same check again, with the exception in force.
            if (HandleCertificateProblem(m_owner, state.ProgramFolder,
                                         QStringLiteral("Could not connect to the server."), problem)) {
                m_accountChosen = accountChosen;
                RunCheck();
            }
            return;
        }
        if (connectResult != pop3::Ok) {
            endWithoutSession(false);
            if (connectResult != pop3::Cancelled) {
                QString message = QStringLiteral("Could not connect to the server.");
                ReportAccountError(m_owner, message, 1, connectResult);
            }
            return;
        }
        if (status)
            status->setCancelEnabled(true);

        const int headersResult = session->GetHeaders();
        if (headersResult != pop3::Ok) {
            const QString failureDetail = session->failureDetail();
            endWithoutSession(true);
            // The download's own result says what went wrong; QUIT's says nothing about it.
            if (headersResult != pop3::Cancelled) {
                QString message = QStringLiteral("Could not download message headers.");
                ReportAccountError(m_owner, message, 2, headersResult, failureDetail);
            }
            return;
        }
        if (state.CancelRequested) {
            endWithoutSession(true);
            return;
        }

        const int count = session->Count();
        QVector<ReviewItem> rows;
        rows.reserve(count);
        HeaderFiles::HeaderFileList headerFiles;
        headerFiles.reserve(static_cast<size_t>(count));
        qint64 totalSize = 0;
        for (int n = 1; n <= count; ++n) {
            const pop3::Message& message = session->Item(n);
            totalSize += message.Size;
            rows.append(MakeReviewItem(message, n, friends));
            if (message.MessageStatusFlag > 1)
                headerFiles.emplace_back(n, message.Headers);
        }
        // The first file is written here, so an unusable Data folder stops the check
        // cleanly; the rest follow in the background while the user reviews.
        if (!headerFiles.empty()) {
            HeaderFiles::WriteHeaderFile(state.ProgramFolder, headerFiles.front().first,
                                         headerFiles.front().second);
            headerFiles.erase(headerFiles.begin());
        }
        QPointer<QWidget> owner = m_owner;
        HeaderFiles::WriteHeaderFilesInBackground(
            state.ProgramFolder, std::move(headerFiles), [owner](const StoreError& error) {
                ui::ShowStoreError(owner, QStringLiteral("Check Mail"),
                                   QStringLiteral("Some message headers could not be saved, so their details "
                                                  "cannot be shown."),
                                   error);
            });
        m_review.model()->setItems(std::move(rows));

        const QString prefix = QStringLiteral("Account:  ") + accountName + QStringLiteral(" - ");
        if (count == 0)
            SetPanel(state.hooks.setPanel1, prefix + QStringLiteral("No New Messages to Review..."));
        else
            SetPanel(state.hooks.setPanel1,
                     prefix + GroupedNumber(count) +
                         QStringLiteral(" Message(s) to Review (Total Message(s) Size:  ") +
                         SetBytes(static_cast<double>(totalSize)) + QLatin1Char(')'));
        // Deleted, not closed: closing would count as the Cancel button.
        delete status.data();

        AccountStore accounts(state.ProgramFolder);
        AccountRecord record;
        const int recordNumber = accounts.FindAccountByName(accountName, &record);
        if (recordNumber > 0) {
            record.LastChecked = GeneralDateText(QDateTime::currentDateTime());
            SetPanel(state.hooks.setPanel2, QStringLiteral("Last Checked: ") + record.LastChecked.trimmed());
            record.TotalMessages = static_cast<qint32>(std::min<qint64>(
                static_cast<qint64>(record.TotalMessages) + count, std::numeric_limits<qint32>::max()));
            accounts.WriteAccount(recordNumber, record);
        }

        if (count == 0) {
            client.reset();
            state.BusyFlag = false;
            Refresh(state);
            return;
        }

        // The review owns the session from here: the check's Cancel plumbing stays behind.
        QObject::disconnect(session, &pop3::Client::ConnectLog, nullptr, nullptr);
        QObject::disconnect(session, &pop3::Client::StatusMessage, nullptr, nullptr);
        state.CancelRequested = false;
        m_review.AdoptSession(std::move(client));
        m_review.StartKeepAlive();
        m_review.setSelectedRow(0);
        Q_EMIT m_review.selectRowRequested(0);
        state.BusyFlag = false;
        Refresh(state);
        if (state.Settings.CheckDonePromptOff != 1) {
            CheckDoneDialog summary(accountName, GroupedNumber(count), state.Settings, m_owner);
            summary.exec();
        }
    } catch (const StoreError& error) {
        if (m_review.session()) {
            // The failure came after the hand-over: end that review the same way.
            m_review.StopKeepAlive();
            m_review.ClearReviewList();
            m_review.EndSession();
        }
        fileFailure(error);
    }
}
