#pragma once

#include "common/messagebox.h"
#include "shell/mainwindow.h"
#include "store/records.h"
#include "support/mailserver/testmailserver.h"
#include "support/mainwindowfixture.h"

#include <QList>
#include <QString>

#include <memory>

class ReviewListView;

// The real main window in a fresh program folder, with one account pointing at
// a test mailbox, message boxes recorded instead of shown.
class E2eHarness {
public:
    E2eHarness();
    ~E2eHarness();

    bool start(const AccountRecord& account);
    // Closes the window and starts the program again on the same folder.
    bool restart();
    QString folder() const;

    MainWindow& window() { return m_app.window(); }
    AppState& state() { return m_app.state(); }
    ReviewListView* list() const;
    QString panel1() const;
    QString panel2() const;

    // Runs the command and waits until the check or deletion it started has ended.
    void trigger(Command command);
    void waitUntilIdle();
    AccountRecord account() const;
    void writeAccount(const AccountRecord& record);
    // The same account, logging in to another of the server's mailboxes.
    void useMailbox(const TestMailbox& box);
    QStringList headerFiles() const;

    QList<ui::MessageRequest> boxes;

    // The account the fixture's mailbox needs: STLS on the plain port.
    static AccountRecord AccountFor(const TestMailServer& server, const TestMailbox& box);
    // The test CA joins the trusted ones, as a user's own CA would.
    static void TrustTestCa(const TestMailServer& server);

private:
    testsupport::MainWindowFixture m_app;
};
