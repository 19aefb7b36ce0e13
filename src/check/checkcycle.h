#pragma once

#include "appstate.h"

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
    // The check itself, on CurrentAccount (record 1 is read when there is one account).
    void RunCheck();

private:
    AppState& m_state;
    ReviewController& m_review;
    QWidget* m_owner;
};
