// The account dialogs as the main window runs them: the wizard at the first
// start, Accounts Setup from the File menu.
#include "common/messagebox.h"
#include "shell/mainwindow.h"
#include "store/accountstore.h"
#include "support/dialogfixture.h"
#include "support/mainwindowfixture.h"
#include "support/modalhelper.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <memory>

using testsupport::Child;

namespace {

void Fill(QWidget* dialog, const char* box, const QString& text) {
    auto* entry = Child<QLineEdit>(dialog, box);
    entry->setFocus();
    QTest::keyClicks(entry, text);
}

} // namespace

class AccountsShellTest : public QObject {
    Q_OBJECT

    std::unique_ptr<testsupport::MainWindowFixture> m_app;
    testsupport::MessageBoxCapture m_boxes;

    QString panel1() const { return m_app->panel1(); }
    bool startAndActivate() { return m_app->startAndActivate(30000); }

private Q_SLOTS:
    void init() {
        m_app = std::make_unique<testsupport::MainWindowFixture>();
        QVERIFY(m_app->isValid());
        m_boxes.start();
    }
    void cleanup() {
        m_app.reset();
        m_boxes.stop();
    }

    void firstStartFinishingTheWizard() {
        bool wizardSeen = false;
        QStringList doneTexts;
        WhenModal(QStringLiteral("frmWiz"), [&](QWidget* wizard) {
            wizardSeen = true;
            auto* next = Child<QPushButton>(wizard, "cmdNext");
            Fill(wizard, "txtAccount", QStringLiteral("Home"));
            next->click();
            Fill(wizard, "txtLogin", QStringLiteral("me"));
            next->click();
            Fill(wizard, "txtPassword", QStringLiteral("pw"));
            next->click();
            Fill(wizard, "txtServer", QStringLiteral("pop.example.org"));
            WhenModal(QStringLiteral("frmAccountDone"), [&](QWidget* done) {
                QCOMPARE(done->windowTitle(), QStringLiteral("Account Creation"));
                for (const char* name : {"Label1", "Label2", "Label3"})
                    doneTexts << Child<QLabel>(done, name)->text();
                Child<QPushButton>(done, "cmdOK")->click();
            });
            next->click(); // Finish
        });
        QVERIFY(startAndActivate());
        QVERIFY(wizardSeen);
        QCOMPARE(doneTexts.size(), 3);
        QVERIFY(
            doneTexts[0].startsWith(QStringLiteral("The creation of your default account is now complete.")));
        QCOMPARE(m_app->window().state().AccountCount, 1);
        QCOMPARE(panel1(), QStringLiteral("Click Check Mail to check for new mail..."));
        QVERIFY(m_app->window().action(Command::CheckMail)->isEnabled());
        QCOMPARE(AccountStore(m_app->path()).ReadAccount(1).AccountName, QStringLiteral("Home"));
    }

    void firstStartCancellingTheWizard() {
        bool doneSeen = false;
        WhenModal(QStringLiteral("frmWiz"), [&](QWidget* wizard) {
            WhenModal(
                QStringLiteral("frmAccountDone"),
                [&](QWidget* done) {
                    doneSeen = true;
                    done->close();
                },
                1000);
            Child<QPushButton>(wizard, "cmdCancel")->click(); // and OK to "Cancel the New Account Wizard?"
        });
        QVERIFY(startAndActivate());
        QCOMPARE(m_boxes.size(), 1);
        QCOMPARE(m_app->window().state().AccountCount, 0);
        QCOMPARE(panel1(), QStringLiteral("No Accounts have been defined..."));
        QVERIFY(!m_app->window().action(Command::CheckMail)->isEnabled());
        QCOMPARE(QFileInfo(AccountStore(m_app->path()).filePath()).size(), 0);
        QVERIFY(!doneSeen); // it would have come before the first activation ended
    }

    void setupCommandAddsTheFirstAccount() {
        WhenModal(QStringLiteral("frmWiz"), [](QWidget* wizard) { wizard->close(); });
        QVERIFY(startAndActivate());
        QVERIFY(!m_app->window().action(Command::CheckMail)->isEnabled());
        WhenModal(QStringLiteral("frmAccounts"), [](QWidget* setup) {
            WhenModal(QStringLiteral("frmEdit"), [](QWidget* editor) {
                Fill(editor, "txtAccount", QStringLiteral("Work"));
                Fill(editor, "txtLogin", QStringLiteral("me"));
                Fill(editor, "txtPassword", QStringLiteral("pw"));
                Fill(editor, "txtServer", QStringLiteral("pop.example.org"));
                Child<QPushButton>(editor, "cmdOK")->click();
            });
            Child<QPushButton>(setup, "cmdNew")->click();
            Child<QPushButton>(setup, "cmdClose")->click();
        });
        m_app->window().action(Command::AccountsSetup)->trigger();
        QCOMPARE(m_app->window().state().AccountCount, 1);
        QVERIFY(m_app->window().action(Command::CheckMail)->isEnabled());
    }
};

QTEST_MAIN(AccountsShellTest)
#include "accountsshelltest.moc"
