#pragma once

#include "common/appstate.h"
#include "store/headerfiles.h"

#include <QObject>
#include <QPointer>

#include <functional>

class QDateTime;
class QWidget;
class ReviewController;
class CheckRun;
class AllAccountsCheck;
namespace pop3 {
class Session;
}

// Tells the watch what a check by hand has just listed for the account.
void TellListed(const AppState& state, const QString& account, const pop3::Session& session);
// A check listed count messages of the account: its LastChecked becomes now
// (also shown in the status bar) and count is added to its TotalMessages.
// Throws StoreError when Acc.dat cannot be read or written.
void UpdateCheckStatistics(const AppState& state, const QString& accountName, int count);
// Writes the first header file at once (throwing StoreError when it cannot) and
// the rest in the background; a later failure is told over owner under title.
void WriteCheckHeaderFiles(const AppState& state, QWidget* owner, const QString& title,
                           HeaderFiles::HeaderFileList files);

// Check Mail: log in to the account, download every header, fill the review list,
// tick friends, write the header files, update the statistics, leave the session
// open for review. A run walks its steps on the POP3 jobs' signals; nothing waits.
// Every way out leaves BusyFlag clear and the status window closed.
class CheckCycle : public QObject {
    Q_OBJECT
public:
    CheckCycle(AppState& state, ReviewController& review, QWidget* owner);
    ~CheckCycle() override;

    // The whole command: (account choice,) clear header files, end the previous
    // review, start the check.
    void RunCheckMailCommand();
    // Starts the check on CurrentAccount (record 1 is read when there is one
    // account or none was chosen). Runs again when the user trusts the server's
    // certificate on the way.
    void RunCheck();
    // Check All Accounts: clear header files, end the previous review, check
    // every account at once.
    void RunCheckAllAccountsCommand();
    bool isRunning() const { return !m_run.isNull() || !m_allRun.isNull(); }
    // The program is ending: the running check is dropped without QUIT (so
    // nothing is deleted) and without a word to the user.
    void Abandon();

    // With two or more accounts the command first asks which one: the chooser
    // leaves it in CurrentAccount and returns false when the user cancelled.
    // Without a chooser record 1 is checked.
    void setAccountChooser(std::function<bool()> chooser);

    // The date and time text stored in LastChecked: short date, a blank, the
    // time with seconds.
    static QString GeneralDateText(const QDateTime& when);

Q_SIGNALS:
    // A run has ended and told the user what there was to tell.
    void checkEnded();

private:
    void onRunEnded(bool again);

    AppState& m_state;
    ReviewController& m_review;
    QWidget* m_owner;
    std::function<bool()> m_chooseAccount;
    bool m_accountChosen = false;
    QPointer<CheckRun> m_run;
    QPointer<AllAccountsCheck> m_allRun;
};
