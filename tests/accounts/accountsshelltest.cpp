// The account dialogs as the main window runs them: the wizard at the first
// start, Accounts Setup from the File menu.
#include "common/messagebox.h"
#include "shell/mainwindow.h"
#include "store/accountstore.h"
#include "support/dialogfixture.h"
#include "support/modalhelper.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
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

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<MainWindow> m_window;
    testsupport::MessageBoxCapture m_boxes;

    QString panel1() const { return m_window->findChild<QLabel*>(QStringLiteral("panel1"))->text(); }
    bool startAndActivate() {
        m_window = std::make_unique<MainWindow>(m_dir->path());
        return m_window->Startup() &&
               QTest::qWaitFor([this] { return m_window->state().ActivatedOnce; }, 30000);
    }

private Q_SLOTS:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        m_boxes.start();
    }
    void cleanup() {
        m_window.reset();
        m_boxes.stop();
        m_dir.reset();
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
        QCOMPARE(m_window->state().AccountCount, 1);
        QCOMPARE(panel1(), QStringLiteral("Click Check Mail to check for new mail..."));
        QVERIFY(m_window->action(Command::CheckMail)->isEnabled());
        QCOMPARE(AccountStore(m_dir->path()).ReadAccount(1).AccountName, QStringLiteral("Home"));
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
        QCOMPARE(m_window->state().AccountCount, 0);
        QCOMPARE(panel1(), QStringLiteral("No Accounts have been defined..."));
        QVERIFY(!m_window->action(Command::CheckMail)->isEnabled());
        QCOMPARE(QFileInfo(AccountStore(m_dir->path()).filePath()).size(), 0);
        QVERIFY(!doneSeen); // it would have come before the first activation ended
    }

    void setupCommandAddsTheFirstAccount() {
        WhenModal(QStringLiteral("frmWiz"), [](QWidget* wizard) { wizard->close(); });
        QVERIFY(startAndActivate());
        QVERIFY(!m_window->action(Command::CheckMail)->isEnabled());
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
        m_window->action(Command::AccountsSetup)->trigger();
        QCOMPARE(m_window->state().AccountCount, 1);
        QVERIFY(m_window->action(Command::CheckMail)->isEnabled());
    }
};

QTEST_MAIN(AccountsShellTest)
#include "accountsshelltest.moc"
