// Check All Accounts through the real main window against the fixture's real
// servers: several accounts at once in one list with an Account column, one
// summary for the accounts that could not be checked, Delete Unchecked on each
// server for itself, statistics per account, and the exit path.
#include "e2eharness.h"
#include "pop3/session.h"
#include "review/core/reviewmodel.h"
#include "review/reviewcontroller.h"
#include "review/reviewlistview.h"
#include "store/accountstore.h"
#include "store/friendsstore.h"
#include "store/headerfiles.h"
#include "support/modalhelper.h"
#include "support/pop3proxy.h"
#include "support/testdata.h"

#include <QAction>
#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

using testsupport::Sorted;

namespace {

// A message that says where it lives: its subject names the mailbox and its place there.
QByteArray Mail(const QString& box, int number, int sender) {
    return QStringLiteral("From: Sender %1 <s%1@example.org>\r\nTo: me@example.org\r\nSubject: %2 #%3\r\n"
                          "Date: Mon, %4 Dec 2026 10:00:00 +0000\r\n\r\nHello.\r\n")
        .arg(sender)
        .arg(box)
        .arg(number)
        .arg(1 + (number * 7 + sender) % 28)
        .toUtf8();
}

AccountRecord Account(const QString& name, const TestMailServer& server, const TestMailbox& box) {
    AccountRecord account = E2eHarness::AccountFor(server, box);
    account.AccountName = name;
    return account;
}

AccountRecord Stored(const E2eHarness& app, const QString& name) {
    AccountRecord record;
    AccountStore(app.folder()).FindAccountByName(name, &record);
    return record;
}

// The message's place in its mailbox, read from the subject the row shows ("Home #3").
int PlaceOf(const ReviewItem& item) {
    return item.text(ReviewItem::Subject).section(QLatin1Char('#'), 1).toInt();
}

// Starts the program on these accounts (Acc.dat in this order).
bool StartWith(E2eHarness& app, const QList<AccountRecord>& accounts) {
    for (const AccountRecord& account : accounts)
        AccountStore(app.folder()).AppendAccount(account);
    app.restart();
    return app.state().AccountCount == accounts.size();
}

void ClickHeader(ReviewListView* list, int column) {
    QHeaderView* header = list->header();
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                      QPoint(header->sectionViewportPosition(column) + header->sectionSize(column) / 2,
                             header->height() / 2));
}

QString DetailsOf(E2eHarness& app, int row) {
    app.list()->setCurrentIndex(app.window().review().model()->index(row, 1));
    QString header;
    WhenModal(QStringLiteral("frmView"), [&](QWidget* dialog) {
        header = dialog->findChild<QPlainTextEdit*>(QStringLiteral("txtHeader"))->toPlainText();
        dialog->findChild<QPushButton*>(QStringLiteral("cmdClose"))->click();
    });
    app.trigger(Command::MessageDetails);
    return header;
}

} // namespace

class E2eAllAccountsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void threeAccountsOneWrongPassword_data();
    void threeAccountsOneWrongPassword();
    void serverDropsAtQuitDeletesNothingThere();
    void everyAccountFails();
    void cancelEndsEveryAccountSilently();
    void chosenFromSelectAccount();
    void exitDuringCheckAndDeletionDeletesNothing();

private:
    std::unique_ptr<TestMailServer> m_server;
};

void E2eAllAccountsTest::initTestCase() {
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    m_server = std::make_unique<TestMailServer>();
    TIDEMARSH_REQUIRE_MAILSERVER(*m_server);
    E2eHarness::TrustTestCa(*m_server);
}

void E2eAllAccountsTest::threeAccountsOneWrongPassword_data() {
    QTest::addColumn<quint32>("seed");
    for (quint32 seed : {11u, 12u, 13u, 14u})
        QTest::addRow("seed %u", seed) << seed;
}

// Home, Old (wrong password) and Work: the two good mailboxes in one list with
// the right Account, the summary names Old and why; random sort and ticks;
// Delete Unchecked leaves exactly the ticked messages on each server.
void E2eAllAccountsTest::threeAccountsOneWrongPassword() {
    QFETCH(quint32, seed);
    QRandomGenerator random(seed);
    QList<TestMailbox> boxes = m_server->createMailboxes(3);
    QCOMPARE(boxes.size(), 3);
    const QStringList names{QStringLiteral("Home"), QStringLiteral("Old"), QStringLiteral("Work")};
    QList<int> counts;
    for (int k = 0; k < 3; ++k) {
        QVERIFY2(boxes[k].isValid(), qPrintable(boxes[k].errorString()));
        QList<QByteArray> mails;
        const int count = random.bounded(2, 16);
        for (int i = 1; i <= count; ++i)
            mails.append(Mail(names[k], i, random.bounded(6)));
        QVERIFY(boxes[k].addMessages(mails));
        counts.append(count);
    }
    E2eHarness app;
    AccountRecord old = Account(names[1], *m_server, boxes[1]);
    old.LoginPassword = QStringLiteral("not-") + boxes[1].password();
    AccountRecord work = Account(names[2], *m_server, boxes[2]);
    work.TotalMessages = 4;
    work.DeletedMessages = 2;
    QVERIFY(StartWith(app, {Account(names[0], *m_server, boxes[0]), old, work}));
    FriendsStore(app.folder()).Append(QStringLiteral("S3@example.org"));
    app.state().Settings.CheckDonePromptOff = 0;
    QVERIFY(app.window().action(Command::CheckAllAccounts)->isEnabled());

    QString doneTitle, doneText;
    WhenModal(QStringLiteral("frmCheckDone"), [&](QWidget* dialog) {
        doneTitle = dialog->windowTitle();
        doneText = dialog->findChild<QLabel*>(QStringLiteral("lblMess"))->text();
        dialog->findChild<QPushButton*>(QStringLiteral("cmdOK"))->click();
    });
    app.trigger(Command::CheckAllAccounts);

    // One summary for the account that could not be checked, no error window of its own.
    QCOMPARE(app.boxes.size(), 1);
    QCOMPARE(app.boxes[0].title, QStringLiteral("Check All Accounts"));
    QCOMPARE(app.boxes[0].icon, ui::MessageIcon::Warning);
    QCOMPARE(
        app.boxes[0].text,
        QStringLiteral("These accounts could not be checked; the others were checked.\r\n\r\nOld: Could not "
                       "connect to the server. (Code 4):  The user name or password defined for the account "
                       "is incorrect."));
    QVERIFY(!app.boxes[0].text.contains(boxes[1].password()));
    QCOMPARE(doneTitle, QStringLiteral("Check Complete (All accounts)"));
    const int listed = counts[0] + counts[2];
    QCOMPARE(doneText, QStringLiteral("There are %1 Message(s) to Review.").arg(listed));

    ReviewController& review = app.window().review();
    ReviewModel* model = review.model();
    QCOMPARE(model->rowCount(), listed);
    QCOMPARE(model->columnCount(), 8);
    QVERIFY(review.reviewsAllAccounts());
    QVERIFY(!app.list()->isColumnHidden(ReviewModel::AccountColumn));
    QVERIFY(app.list()->columnWidth(ReviewModel::AccountColumn) > 0);
    for (int row = 0; row < listed; ++row) {
        const ReviewItem& item = model->item(row);
        const QString account = model->data(model->index(row, ReviewModel::AccountColumn)).toString();
        QVERIFY2(item.text(ReviewItem::Subject).startsWith(account + QStringLiteral(" #")),
                 qPrintable(account + QStringLiteral(" shows ") + item.text(ReviewItem::Subject)));
        QCOMPARE(item.MessageNumber, PlaceOf(item)); // the number in its own session
        QCOMPARE(item.keep, item.text(ReviewItem::Address) == QLatin1String("s3@example.org"));
        QCOMPARE(review.sessionOfRow(row) != nullptr, true);
    }
    QVERIFY(review.sessionOfRow(0) != review.sessionOfRow(listed - 1));
    // One header file per row, although message numbers repeat across accounts.
    QCOMPARE(app.headerFiles().size(), listed);
    const int lastRow = listed - 1; // Work's last message
    QVERIFY(DetailsOf(app, lastRow).contains(QStringLiteral("Subject: Work #%1\n").arg(counts[2])));
    QVERIFY(DetailsOf(app, 0).contains(QStringLiteral("Subject: Home #1\n")));

    // Statistics of the two checked accounts; the third untouched.
    QCOMPARE(Stored(app, names[0]).TotalMessages, counts[0]);
    QCOMPARE(Stored(app, names[2]).TotalMessages, 4 + counts[2]);
    QVERIFY(Stored(app, names[2]).LastChecked != QStringLiteral("N/A"));
    QCOMPARE(Stored(app, names[1]).LastChecked, QStringLiteral("N/A"));
    QCOMPARE(app.panel2(), QStringLiteral("Last Checked: ") + Stored(app, names[0]).LastChecked);
    QVERIFY(app.panel1().startsWith(
        QStringLiteral("Accounts:  Home, Work - %1 Message(s) to Review").arg(listed)));

    // Both sessions stay open under the keep-alive.
    QTest::qWait(2300);
    QVERIFY(review.sessionOfRow(0)->isConnected());
    QVERIFY(review.sessionOfRow(lastRow)->isConnected());

    // A random column, the Account column among them, clicked as a user does.
    const int column = random.bounded(ReviewItem::ColumnCount + 1);
    for (int clicks = random.bounded(1, 3); clicks > 0; --clicks)
        ClickHeader(app.list(), column);
    QCOMPARE(model->sortColumn(), column);
    if (column == ReviewModel::AccountColumn)
        for (int row = 1; row < listed; ++row)
            QVERIFY(model->accountName(row - 1) != model->accountName(row) ||
                    model->item(row - 1).MessageNumber < model->item(row).MessageNumber);

    QMap<QString, QList<int>> kept;
    for (int row = 0; row < listed; ++row) {
        const bool keep = random.bounded(3) == 0;
        if (random.bounded(2)) {
            app.list()->setCurrentIndex(model->index(row, random.bounded(ReviewItem::ColumnCount + 1)));
            if (model->item(row).keep != keep)
                QTest::keyClick(app.list(), Qt::Key_Space);
        } else {
            model->setData(model->index(row, 0), keep ? Qt::Checked : Qt::Unchecked, Qt::CheckStateRole);
        }
        QCOMPARE(model->item(row).keep, keep);
        if (keep)
            kept[model->accountName(row)].append(model->item(row).MessageNumber);
    }
    const int deletedHome = counts[0] - static_cast<int>(kept[names[0]].size());
    const int deletedWork = counts[2] - static_cast<int>(kept[names[2]].size());
    const QString where = QStringLiteral("seed %1, column %2").arg(seed).arg(column);
    app.boxes.clear();
    app.state().Settings.DeletePromptOff = 1;
    app.trigger(Command::DeleteUnchecked);
    if (deletedHome + deletedWork == 0) {
        QCOMPARE(app.boxes.size(), 1);
        QCOMPARE(app.boxes[0].title, QStringLiteral("No Messages to be Deleted"));
        app.trigger(Command::AcceptAll);
    } else {
        QCOMPARE(app.boxes.size(), 1);
        QCOMPARE(app.boxes[0].title, QStringLiteral("Message Deletion"));
        QCOMPARE(app.boxes[0].icon, ui::MessageIcon::Information);
        QVERIFY2(app.boxes[0].text.contains(QStringLiteral("Home: ")) &&
                     app.boxes[0].text.contains(QStringLiteral("Work: ")) &&
                     !app.boxes[0].text.contains(QStringLiteral("Old")),
                 qPrintable(where + QLatin1Char(' ') + app.boxes[0].text));
        QCOMPARE(app.panel1(), QStringLiteral("Deleted %1 message%2; %3 kept on the server.")
                                   .arg(deletedHome + deletedWork)
                                   .arg(deletedHome + deletedWork == 1 ? QString() : QStringLiteral("s"))
                                   .arg(listed - deletedHome - deletedWork));
    }
    QTRY_VERIFY2_WITH_TIMEOUT(boxes[0].remainingMessages() == Sorted(kept[names[0]]), qPrintable(where),
                              10000);
    QTRY_VERIFY2_WITH_TIMEOUT(boxes[2].remainingMessages() == Sorted(kept[names[2]]), qPrintable(where),
                              10000);
    QCOMPARE(boxes[1].remainingMessages().size(), counts[1]);
    QCOMPARE(Stored(app, names[0]).DeletedMessages, deletedHome);
    QCOMPARE(Stored(app, names[2]).DeletedMessages, 2 + deletedWork);
    QCOMPARE(Stored(app, names[1]).DeletedMessages, 0);
    QCOMPARE(model->rowCount(), 0);
    QCOMPARE(model->columnCount(), 7);
    QVERIFY(!review.reviewsAllAccounts());
    QVERIFY(!review.keepAliveRunning());
    QVERIFY(!app.state().BusyFlag);
    QVERIFY(VisibleTopLevel(QStringLiteral("frmDelStatus")) == nullptr);
}

// Far's server drops the connection at QUIT: nothing is deleted there, Near
// deletes, and the message says which.
void E2eAllAccountsTest::serverDropsAtQuitDeletesNothingThere() {
    QList<TestMailbox> boxes = m_server->createMailboxes(2);
    QCOMPARE(boxes.size(), 2);
    for (int k = 0; k < 2; ++k)
        for (int i = 1; i <= 4; ++i)
            QCOMPARE(boxes[k].addMessage(Mail(k == 0 ? QStringLiteral("Far") : QStringLiteral("Near"), i, i)),
                     i);
    Pop3Proxy proxy(m_server->host(), m_server->pop3Port());
    proxy.setHideStls(true);
    proxy.setDropAtQuit(true);
    QVERIFY(proxy.listen());

    E2eHarness app;
    AccountRecord far = Account(QStringLiteral("Far"), *m_server, boxes[0]);
    far.ServerAddress = QStringLiteral("pop3://127.0.0.1:") + QString::number(proxy.port());
    far.DeletedMessages = 5;
    QVERIFY(StartWith(app, {far, Account(QStringLiteral("Near"), *m_server, boxes[1])}));
    app.state().Settings.CheckDonePromptOff = 1;
    app.state().Settings.DeletePromptOff = 1;
    app.trigger(Command::CheckAllAccounts);
    QVERIFY(app.boxes.isEmpty());
    ReviewModel* model = app.window().review().model();
    QCOMPARE(model->rowCount(), 8);
    // Keep one of each; the rest goes.
    for (int row = 0; row < 8; ++row)
        model->setKeep(row, model->item(row).MessageNumber == 2);

    app.trigger(Command::DeleteUnchecked);
    QCOMPARE(proxy.quitsDropped(), 1);
    QCOMPARE(app.boxes.size(), 1);
    QCOMPARE(app.boxes[0].title, QStringLiteral("Message Deletion"));
    QCOMPARE(app.boxes[0].icon, ui::MessageIcon::Warning);
    QCOMPARE(
        app.boxes[0].text,
        QStringLiteral("Far: nothing was deleted. The server did not confirm the end of the session, so its "
                       "messages stay there.\r\nNear: 3 messages deleted.\r\n\r\nThis can happen if the "
                       "connection to the server was lost or the server would not allow the action."));
    QCOMPARE(app.panel1(), QStringLiteral("Deleted 3 messages; 5 kept on the server."));
    QTRY_COMPARE_WITH_TIMEOUT(boxes[1].remainingMessages(), QList<int>{2}, 10000);
    QCOMPARE(boxes[0].remainingMessages(), (QList<int>{1, 2, 3, 4}));
    QCOMPARE(Stored(app, QStringLiteral("Far")).DeletedMessages, 5);
    QCOMPARE(Stored(app, QStringLiteral("Near")).DeletedMessages, 3);
    QCOMPARE(model->rowCount(), 0);
    QVERIFY(!app.state().BusyFlag);
}

// Nobody could be reached: one summary, no review, no summary of a check.
void E2eAllAccountsTest::everyAccountFails() {
    QList<TestMailbox> boxes = m_server->createMailboxes(2);
    QCOMPARE(boxes.size(), 2);
    E2eHarness app;
    AccountRecord wrong = Account(QStringLiteral("Wrong"), *m_server, boxes[0]);
    wrong.LoginPassword = QStringLiteral("nope");
    QTcpServer closed;
    QVERIFY(closed.listen(QHostAddress::LocalHost, 0));
    AccountRecord gone = Account(QStringLiteral("Gone"), *m_server, boxes[1]);
    gone.ServerAddress = QStringLiteral("127.0.0.1:") + QString::number(closed.serverPort());
    closed.close();
    QVERIFY(StartWith(app, {wrong, gone}));
    app.state().Settings.CheckDonePromptOff = 0;
    const ModalWatcher done(QStringLiteral("frmCheckDone"));
    const ModalWatcher error(QStringLiteral("frmError"));
    app.trigger(Command::CheckAllAccounts);
    QCOMPARE(app.boxes.size(), 1);
    QVERIFY(
        app.boxes[0].text.startsWith(QStringLiteral("None of the accounts could be checked.\r\n\r\nWrong: "
                                                    "Could not connect to the server. (Code 4)")));
    QVERIFY(app.boxes[0].text.contains(
        QStringLiteral("\r\n\r\nGone: Could not connect to the server. (Code 1)")));
    QVERIFY(!done.seen());
    QVERIFY(!error.seen());
    QCOMPARE(app.window().review().rowCount(), 0);
    QVERIFY(!app.window().review().reviewsAllAccounts());
    QVERIFY(!app.window().review().keepAliveRunning());
    QVERIFY(!app.state().BusyFlag);
    QVERIFY(VisibleTopLevel(QStringLiteral("frmStatus")) == nullptr);
    QCOMPARE(app.panel1(), QString());
    QCOMPARE(Stored(app, QStringLiteral("Wrong")).LastChecked, QStringLiteral("N/A"));
}

// Cancel stops every account's download: nothing listed, nothing told,
// nothing deleted, no statistics.
void E2eAllAccountsTest::cancelEndsEveryAccountSilently() {
    QList<TestMailbox> boxes = m_server->createMailboxes(2);
    QCOMPARE(boxes.size(), 2);
    for (int k = 0; k < 2; ++k) {
        QList<QByteArray> mails;
        for (int i = 1; i <= 1500; ++i)
            mails.append(Mail(QStringLiteral("C%1").arg(k), i, i % 7));
        QVERIFY(boxes[k].addMessages(mails));
    }
    // A slow link, so both downloads are still running when Cancel is pressed.
    Pop3Proxy proxy(m_server->host(), m_server->pop3Port());
    proxy.setOneWayDelayMs(10);
    QVERIFY(proxy.listen());
    QList<AccountRecord> accounts;
    for (int k = 0; k < 2; ++k) {
        accounts.append(Account(QStringLiteral("C%1").arg(k), *m_server, boxes[k]));
        accounts.last().ServerAddress = QStringLiteral("127.0.0.1:") + QString::number(proxy.port());
    }
    E2eHarness app;
    QVERIFY(StartWith(app, accounts));
    app.state().Settings.CheckDonePromptOff = 1;

    bool clicked = false;
    QTimer poll;
    poll.setInterval(1);
    QObject::connect(&poll, &QTimer::timeout, &poll, [&] {
        QWidget* status = VisibleTopLevel(QStringLiteral("frmStatus"));
        auto* cancel = status ? status->findChild<QPushButton*>(QStringLiteral("cmdCancel")) : nullptr;
        auto* label = status ? status->findChild<QLabel*>(QStringLiteral("lblStatus")) : nullptr;
        if (cancel && cancel->isEnabled() && label->text().startsWith(QLatin1String("Downloading Headers"))) {
            poll.stop();
            clicked = true;
            cancel->click();
        }
    });
    poll.start();
    app.trigger(Command::CheckAllAccounts);
    poll.stop();
    QVERIFY(clicked);
    QVERIFY(app.boxes.isEmpty());
    QVERIFY(QApplication::activeModalWidget() == nullptr);
    QCOMPARE(app.window().review().rowCount(), 0);
    QVERIFY(!app.window().review().reviewsAllAccounts());
    QVERIFY(!app.state().BusyFlag);
    QVERIFY(app.headerFiles().isEmpty());
    QCOMPARE(app.panel1(), QString());
    for (int k = 0; k < 2; ++k) {
        QCOMPARE(Stored(app, accounts[k].AccountName).LastChecked, QStringLiteral("N/A"));
        QCOMPARE(boxes[k].remainingMessages().size(), 1500);
    }
}

// "All accounts" in Select Account runs the same check; Accept All ends every
// session with QUIT; a one-account check afterwards is as it always was.
void E2eAllAccountsTest::chosenFromSelectAccount() {
    QList<TestMailbox> boxes = m_server->createMailboxes(2);
    QCOMPARE(boxes.size(), 2);
    for (int k = 0; k < 2; ++k)
        for (int i = 1; i <= 2 + k; ++i)
            QCOMPARE(boxes[k].addMessage(Mail(k == 0 ? QStringLiteral("A") : QStringLiteral("B"), i, i)), i);
    E2eHarness app;
    QVERIFY(StartWith(app, {Account(QStringLiteral("A"), *m_server, boxes[0]),
                            Account(QStringLiteral("B"), *m_server, boxes[1])}));
    app.state().Settings.CheckDonePromptOff = 1;
    WhenModal(QStringLiteral("frmChoose"), [](QWidget* dialog) {
        auto* list = dialog->findChild<QTreeWidget*>(QStringLiteral("ListView1"));
        list->setCurrentItem(list->topLevelItem(0));
        dialog->findChild<QPushButton*>(QStringLiteral("cmdOK"))->click();
    });
    app.trigger(Command::CheckMail);
    ReviewModel* model = app.window().review().model();
    QCOMPARE(model->rowCount(), 5);
    QCOMPARE(model->columnCount(), 8);
    QCOMPARE(app.state().ReviewAccountName, QString());

    app.trigger(Command::AcceptAll);
    QCOMPARE(model->rowCount(), 0);
    // The QUITs go out from the event loop (some servers record them a moment after the close).
    for (const TestMailbox& box : boxes) {
        QTRY_VERIFY2_WITH_TIMEOUT(!box.sessions().isEmpty() && box.sessions().constFirst().quit,
                                  qPrintable(box.serverLog().join(QLatin1Char('\n'))), 15000);
        QVERIFY(box.sessions().constFirst().deletions <= 0);
    }

    // Check Mail on B alone: seven columns, files by message number.
    WhenModal(QStringLiteral("frmChoose"), [](QWidget* dialog) {
        auto* list = dialog->findChild<QTreeWidget*>(QStringLiteral("ListView1"));
        list->setCurrentItem(list->topLevelItem(2));
        dialog->findChild<QPushButton*>(QStringLiteral("cmdOK"))->click();
    });
    app.trigger(Command::CheckMail);
    QCOMPARE(model->rowCount(), 3);
    QCOMPARE(model->columnCount(), 7);
    QCOMPARE(app.state().ReviewAccountName, QStringLiteral("B"));
    QCOMPARE(app.headerFiles(),
             (QStringList{QStringLiteral("1.dat"), QStringLiteral("2.dat"), QStringLiteral("3.dat")}));
    app.trigger(Command::AcceptAll);
}

// The exit path drops every session without QUIT: a check under way and a
// deletion under way delete nothing anywhere.
void E2eAllAccountsTest::exitDuringCheckAndDeletionDeletesNothing() {
    QList<TestMailbox> boxes = m_server->createMailboxes(2);
    QCOMPARE(boxes.size(), 2);
    for (int k = 0; k < 2; ++k)
        for (int i = 1; i <= 3; ++i)
            QCOMPARE(boxes[k].addMessage(Mail(QStringLiteral("X"), i, i)), i);
    // A slow link, so the QUIT would still be on its way when the program ends.
    Pop3Proxy proxy(m_server->host(), m_server->pop3Port());
    proxy.setOneWayDelayMs(150);
    QVERIFY(proxy.listen());
    const QString slow = QStringLiteral("127.0.0.1:") + QString::number(proxy.port());
    QList<AccountRecord> accounts;
    for (int k = 0; k < 2; ++k) {
        accounts.append(Account(QStringLiteral("Slow %1").arg(k), *m_server, boxes[k]));
        accounts.last().ServerAddress = slow;
    }
    {
        E2eHarness app;
        QVERIFY(StartWith(app, accounts));
        app.state().Settings.CheckDonePromptOff = 1;
        app.state().Settings.DeletePromptOff = 1;
        app.trigger(Command::CheckAllAccounts);
        QCOMPARE(app.window().review().rowCount(), 6);
        app.window().review().CheckNone();
        app.window().action(Command::DeleteUnchecked)->trigger();
        QVERIFY(app.window().isWorking());
        app.window().ExitApplication();
        QVERIFY(!app.window().isWorking());
        QTest::qWait(1500); // time for a QUIT that should never have gone
        QCOMPARE(app.boxes.size(), 0);
    }
    for (const TestMailbox& box : boxes)
        QCOMPARE(box.remainingMessages(), (QList<int>{1, 2, 3}));

    E2eHarness again;
    QVERIFY(StartWith(again, accounts));
    again.window().action(Command::CheckAllAccounts)->trigger();
    QVERIFY(again.window().isWorking());
    QTest::qWait(300); // logging in
    again.window().ExitApplication();
    QVERIFY(!again.window().isWorking());
    QVERIFY(VisibleTopLevel(QStringLiteral("frmStatus")) == nullptr);
    QTest::qWait(500);
    QCOMPARE(again.boxes.size(), 0);
}

QTEST_MAIN(E2eAllAccountsTest)
#include "e2eallaccountstest.moc"
