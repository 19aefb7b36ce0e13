#pragma once

#include "store/appstate.h"

#include <functional>

class QDateTime;
class QWidget;
class ReviewController;

// Check Mail: log in to the account, download every header, fill the review list,
// tick friends, write the header files, update the statistics, leave the session
// open for review. Every way out leaves BusyFlag clear and the status window closed.
class CheckCycle {
public:
    CheckCycle(AppState& state, ReviewController& review, QWidget* owner);

    // The whole command: (account choice,) clear header files, end the previous
    // review, run the check.
    void RunCheckMailCommand();
    // The check itself, on CurrentAccount (record 1 is read when there is one
    // account or none was chosen). Runs again when the user trusts the server's
    // certificate on the way.
    void RunCheck();

    // With two or more accounts the command first asks which one: the chooser
    // leaves it in CurrentAccount and returns false when the user cancelled.
    // Without a chooser record 1 is checked.
    void setAccountChooser(std::function<bool()> chooser);

    // The date and time text stored in LastChecked: short date, a blank, the
    // time with seconds.
    static QString GeneralDateText(const QDateTime& when);

private:
    AppState& m_state;
    ReviewController& m_review;
    QWidget* m_owner;
    std::function<bool()> m_chooseAccount;
    bool m_accountChosen = false;
};
