#include "check/checkcycle.h"
#include "check/checkdonedialog.h"
#include "check/errordialog.h"
#include "check/statusdialog.h"
#include "common/appstate.h"
#include "common/messagebox.h"
#include "review/reviewcontroller.h"
#include "store/accountstore.h"
#include "support/modalhelper.h"

#include <QCheckBox>
#include <QDateTime>
#include <QDir>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

class CheckDialogsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void statusWindow();
    void summaryStoresItsBox_data();
    void summaryStoresItsBox();
    void errorReport_data();
    void errorReport();
    void unreadableFriendsEndTheCheckCleanly();
    void lastCheckedText_data();
    void lastCheckedText();
};

void CheckDialogsTest::lastCheckedText_data() {
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("expected");
    // Short date, a blank, the time with seconds; never a time-zone name.
    QTest::newRow("en_US") << "en_US"
                           << "12/7/26 11:49:24 PM";
    QTest::newRow("de_DE") << "de_DE"
                           << "07.12.26 23:49:24";
    QTest::newRow("en_GB") << "en_GB"
                           << "07/12/2026 23:49:24";
}

void CheckDialogsTest::lastCheckedText() {
    QFETCH(QString, locale);
    QFETCH(QString, expected);
    const QLocale previous;
    QLocale::setDefault(QLocale(locale));
    const QString text = CheckCycle::GeneralDateText(QDateTime(QDate(2026, 12, 7), QTime(23, 49, 24)));
    QLocale::setDefault(previous);
    QCOMPARE(text, expected);
}

void CheckDialogsTest::statusWindow() {
    QWidget owner;
    StatusDialog status(&owner);
    QCOMPARE(status.objectName(), QStringLiteral("frmStatus"));
    QCOMPARE(status.windowTitle(), QStringLiteral("Checking Mail"));
    QVERIFY(status.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    QVERIFY(!status.windowFlags().testFlag(Qt::WindowCloseButtonHint));
    QVERIFY(!status.isModal());
    auto* label = status.findChild<QLabel*>(QStringLiteral("lblStatus"));
    auto* bar = status.findChild<QProgressBar*>(QStringLiteral("pbStatus"));
    auto* cancel = status.findChild<QPushButton*>(QStringLiteral("cmdCancel"));
    QVERIFY(label && bar && cancel);
    QCOMPARE(label->text(), QStringLiteral("Logging into server...Please wait..."));
    QCOMPARE(cancel->text(), QStringLiteral("Cancel"));
    QVERIFY(!cancel->isEnabled());
    QCOMPARE(bar->minimum(), 0);
    QCOMPARE(bar->maximum(), 100);

    QSignalSpy cancelled(&status, &StatusDialog::cancelRequested);
    status.show();
    QTest::keyClick(&status, Qt::Key_Escape); // no way out while logging in
    QVERIFY(status.isVisible());
    QCOMPARE(cancelled.count(), 0);

    status.showHeaderProgress(1, 8);
    QCOMPARE(label->text(), QStringLiteral("Downloading Headers for Message 1 of 8..."));
    QCOMPARE(bar->value(), 12);
    status.showHeaderProgress(10000, 10000);
    QCOMPARE(label->text(), QStringLiteral("Downloading Headers for Message 10000 of 10000..."));
    QCOMPARE(bar->value(), 100);
    status.showHeaderProgress(0, 0);
    QCOMPARE(bar->value(), 0);

    status.setCancelEnabled(true);
    cancel->click();
    QCOMPARE(cancelled.count(), 1);
    QVERIFY(!status.isVisible());
}

void CheckDialogsTest::summaryStoresItsBox_data() {
    QTest::addColumn<QString>("how");
    QTest::addColumn<bool>("ticked");
    QTest::newRow("OK, ticked") << "ok" << true;
    QTest::newRow("OK, not ticked") << "ok" << false;
    QTest::newRow("close box, ticked") << "close" << true;
    QTest::newRow("Escape, ticked") << "escape" << true;
}

void CheckDialogsTest::summaryStoresItsBox() {
    QFETCH(QString, how);
    QFETCH(bool, ticked);
    QWidget owner;
    SettingsRecord settings;
    settings.CheckDonePromptOff = ticked ? 0 : 1; // the dialog overwrites whatever was there
    CheckDoneDialog summary(QStringLiteral("Work"), QStringLiteral("1,234"), settings, &owner);
    QString seenText;
    WhenModal(QStringLiteral("frmCheckDone"), [&](QWidget* dialog) {
        seenText = dialog->findChild<QLabel*>(QStringLiteral("lblMess"))->text();
        auto* box = dialog->findChild<QCheckBox*>(QStringLiteral("chkShow"));
        QVERIFY(!box->isChecked());
        QCOMPARE(box->text(), QStringLiteral("Do not show this again"));
        box->setChecked(ticked);
        if (how == QLatin1String("ok"))
            dialog->findChild<QPushButton*>(QStringLiteral("cmdOK"))->click();
        else if (how == QLatin1String("escape"))
            QTest::keyClick(dialog, Qt::Key_Escape);
        else
            dialog->close();
    });
    summary.exec();
    QCOMPARE(summary.windowTitle(), QStringLiteral("Check Complete (Work)"));
    QCOMPARE(seenText, QStringLiteral("There are 1,234 Message(s) to Review."));
    QCOMPARE(settings.CheckDonePromptOff, qint16(ticked ? 1 : 0));
}

void CheckDialogsTest::errorReport_data() {
    QTest::addColumn<QString>("message");
    QTest::addColumn<AccountError::Kind>("kind");
    QTest::addColumn<pop3::Result>("code");
    QTest::addColumn<QString>("shown");
    QTest::newRow("login 4")
        << "Could not connect to the server." << AccountError::Kind::Login << pop3::Result::LoginRejected
        << "Could not connect to the server. (Code 4):  The user name or password defined for "
           "the account is incorrect.";
    QTest::newRow("login 3 is Code 0")
        << "Could not connect to the server." << AccountError::Kind::Login << static_cast<pop3::Result>(3)
        << "Could not connect to the server. (Code 0):  An unknown error "
           "occurred.  Ensure the settings for the "
           "account are correct.";
    QTest::newRow("download 1 is Code 0") << "Could not download message headers."
                                          << AccountError::Kind::Download << pop3::Result::ConnectionProblem
                                          << "Could not download message headers. (Code 0):  An unknown "
                                             "error occurred.  Try performing the action "
                                             "again.";
}

void CheckDialogsTest::errorReport() {
    QFETCH(QString, message);
    QFETCH(AccountError::Kind, kind);
    QFETCH(pop3::Result, code);
    QFETCH(QString, shown);
    QWidget owner;
    struct {
        QString title, label, text;
        bool readOnly = false, picture = false;
    } seen;
    WhenModal(QStringLiteral("frmError"), [&](QWidget* dialog) {
        seen.title = dialog->windowTitle();
        seen.label = dialog->findChild<QLabel*>(QStringLiteral("lblError"))->text();
        auto* text = dialog->findChild<QPlainTextEdit*>(QStringLiteral("txtError"));
        seen.text = text->toPlainText();
        seen.readOnly = text->isReadOnly();
        seen.picture = !dialog->findChild<QLabel*>(QStringLiteral("Image1"))->pixmap().isNull();
        dialog->findChild<QPushButton*>(QStringLiteral("cmdOK"))->click();
    });
    ReportAccountError(&owner, message, kind, code);
    QCOMPARE(seen.title, QStringLiteral("Operation Error"));
    QCOMPARE(seen.label,
             QStringLiteral("An error occurred during the current operation.  See details below on the "
                            "error, error code and a description of the error:"));
    QCOMPARE(seen.text, shown);
    QVERIFY(seen.readOnly);
    QVERIFY(seen.picture);
}

void CheckDialogsTest::unreadableFriendsEndTheCheckCleanly() {
    QTemporaryDir dir;
    AppState state;
    state.ProgramFolder = dir.path() + QLatin1Char('/');
    AccountRecord account;
    account.AccountName = QStringLiteral("Work");
    account.ServerAddress = QStringLiteral("127.0.0.1:1");
    AccountStore(state.ProgramFolder).AppendAccount(account);
    state.AccountCount = 1;
    QVERIFY(QDir(state.ProgramFolder).mkdir(QStringLiteral("Friends.dat")));
    QList<bool> busyAtRefresh;
    state.hooks.refreshCommandStates = [&] { busyAtRefresh.append(state.BusyFlag); };
    QList<ui::MessageRequest> boxes;
    ui::SetMessageBoxHandler([&](const ui::MessageRequest& request) {
        boxes.append(request);
        return QMessageBox::Ok;
    });

    QWidget owner;
    ReviewController review(state, &owner);
    CheckCycle check(state, review, &owner);
    check.RunCheckMailCommand();
    QTRY_VERIFY(!check.isRunning());
    ui::SetMessageBoxHandler({});

    QCOMPARE(busyAtRefresh, (QList<bool>{true, false}));
    QVERIFY(!state.BusyFlag);
    QCOMPARE(boxes.size(), 1);
    QCOMPARE(boxes.first().icon, ui::MessageIcon::Warning);
    QVERIFY(boxes.first().text.contains(QStringLiteral("could not be read or written")));
    QVERIFY(VisibleTopLevel(QStringLiteral("frmStatus")) == nullptr);
    QCOMPARE(review.rowCount(), 0);
    QVERIFY(review.session() == nullptr);
    QCOMPARE(AccountStore(state.ProgramFolder).ReadAccount(1).LastChecked, QStringLiteral("N/A"));
}

QTEST_MAIN(CheckDialogsTest)
#include "checkdialogstest.moc"
