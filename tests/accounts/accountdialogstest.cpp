// The account dialogs driven through their widgets: wizard, setup, editor, choose.
#include "accounts/accountdonedialog.h"
#include "accounts/accounteditor.h"
#include "accounts/accountssetupdialog.h"
#include "accounts/choosedialog.h"
#include "accounts/wizarddialog.h"
#include "common/appstate.h"
#include "common/messagebox.h"
#include "store/accountstore.h"
#include "support/dialogfixture.h"
#include "support/modalhelper.h"
#include "watch/core/watchengine.h"

#include <QAccessible>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <memory>

using testsupport::Child;

namespace {

AccountRecord Account(const QString& name, const QString& lastChecked = QStringLiteral("N/A"), int total = 0,
                      int deleted = 0) {
    AccountRecord record;
    record.AccountName = name;
    record.LoginName = name.toLower() + QStringLiteral("@example.org");
    record.LoginPassword = QStringLiteral("secret-") + name;
    record.ServerAddress = QStringLiteral("pop.example.org");
    record.LastChecked = lastChecked;
    record.TotalMessages = total;
    record.DeletedMessages = deleted;
    return record;
}

QLineEdit* Entry(QWidget* dialog, const char* name) {
    return Child<QLineEdit>(dialog, name);
}
QPushButton* Button(QWidget* dialog, const char* name) {
    return Child<QPushButton>(dialog, name);
}
QTreeWidget* List(QWidget* dialog) {
    return Child<QTreeWidget>(dialog, "ListView1");
}

QStringList Names(QTreeWidget* list) {
    QStringList names;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        names << list->topLevelItem(i)->text(0);
    return names;
}

QList<int> Tags(QTreeWidget* list) {
    QList<int> tags;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        tags << list->topLevelItem(i)->data(0, Qt::UserRole).toInt();
    return tags;
}

// Key presses carrying each character (keyClicks takes Latin-1 only).
void KeyIn(QWidget* widget, const QString& text) {
    for (const QChar c : text) {
        QTest::sendKeyEvent(QTest::Press, widget, Qt::Key_unknown, QString(c), Qt::NoModifier);
        QTest::sendKeyEvent(QTest::Release, widget, Qt::Key_unknown, QString(c), Qt::NoModifier);
    }
}

void Type(QLineEdit* entry, const QString& text) {
    entry->setFocus();
    entry->selectAll();
    QTest::keyClick(entry, Qt::Key_Backspace);
    KeyIn(entry, text);
}

} // namespace

class AccountDialogsTest : public QObject {
    Q_OBJECT

    std::unique_ptr<testsupport::ProgramFolder> m_dir;
    AppState m_state;
    testsupport::MessageBoxCapture m_boxes;

    AccountStore store() const { return AccountStore(m_state.ProgramFolder); }
    QByteArray fileBytes() const {
        QFile file(store().filePath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    void addAccounts(const QStringList& names) {
        for (const QString& name : names)
            store().AppendAccount(Account(name));
    }
    // Acc.dat turned into a folder: every open of the file fails.
    void breakStore() {
        QFile::remove(store().filePath());
        QVERIFY(QDir().mkpath(store().filePath()));
    }

private Q_SLOTS:
    void init() {
        m_dir = std::make_unique<testsupport::ProgramFolder>();
        QVERIFY(m_dir->isValid());
        m_state = m_dir->freshState();
        m_boxes.start();
    }
    void cleanup() {
        m_boxes.stop();
        m_dir.reset();
    }

    // ---------------------------------------------------------------- wizard

    void wizardPagesAndCaptions() {
        WizardDialog wizard(m_state, nullptr);
        wizard.show();
        QVERIFY(QTest::qWaitForWindowActive(&wizard));
        QVERIFY(!(wizard.windowFlags() & Qt::WindowCloseButtonHint));
        QVERIFY(wizard.windowFlags() & Qt::CustomizeWindowHint);
        QPushButton* next = Button(&wizard, "cmdNext");
        QPushButton* previous = Button(&wizard, "cmdPrevious");
        QCOMPARE(wizard.page(), 1);
        QCOMPARE(next->text(), QStringLiteral("&Next >"));
        QVERIFY(next->isDefault());
        QVERIFY(!next->isEnabled());
        QVERIFY(!previous->isEnabled());
        QCOMPARE(QApplication::focusWidget(), Entry(&wizard, "txtAccount"));

        Type(Entry(&wizard, "txtAccount"), QStringLiteral("   "));
        QVERIFY(!next->isEnabled());
        Type(Entry(&wizard, "txtAccount"), QStringLiteral("  Home "));
        QVERIFY(next->isEnabled());
        QTest::keyClick(&wizard, Qt::Key_Return); // the default button
        QCOMPARE(wizard.page(), 2);
        QVERIFY(previous->isEnabled());
        QVERIFY(!next->isEnabled());
        QCOMPARE(QApplication::focusWidget(), Entry(&wizard, "txtLogin"));

        Type(Entry(&wizard, "txtLogin"), QStringLiteral(" me@example.org"));
        next->click();
        QCOMPARE(wizard.page(), 3);
        Type(Entry(&wizard, "txtPassword"), QStringLiteral(" pass word "));
        QCOMPARE(Entry(&wizard, "txtPassword")->displayText(), QString(11, QLatin1Char('*')));
        next->click();
        QCOMPARE(wizard.page(), 4);
        QCOMPARE(next->text(), QStringLiteral("&Finish"));
        QVERIFY(!next->isEnabled());

        // Back and forth: the caption follows the page, Next follows the page's box.
        previous->click();
        QCOMPARE(wizard.page(), 3);
        QCOMPARE(next->text(), QStringLiteral("&Next >"));
        QVERIFY(next->isEnabled());
        QCOMPARE(QApplication::focusWidget(), Entry(&wizard, "txtPassword"));
        previous->click();
        previous->click();
        QCOMPARE(wizard.page(), 1);
        QVERIFY(!previous->isEnabled());
        QVERIFY(next->isEnabled());
        next->click();
        next->click();
        next->click();
        QCOMPARE(next->text(), QStringLiteral("&Finish"));
        QVERIFY(!QFileInfo::exists(store().filePath()));

        Type(Entry(&wizard, "txtServer"), QStringLiteral("pop.example.org:995  "));
        QVERIFY(next->isEnabled());
        next->click();
        QCOMPARE(wizard.result(), int(QDialog::Accepted));
        QVERIFY(!wizard.isVisible());
        QCOMPARE(m_state.AccountCount, 1);
        QCOMPARE(store().CountAccounts(), 1);
        QCOMPARE(QFileInfo(store().filePath()).size(), 328);
        AccountRecord expected;
        expected.AccountName = QStringLiteral("Home");
        expected.LoginName = QStringLiteral("me@example.org");
        expected.LoginPassword = QStringLiteral("pass word");
        expected.ServerAddress = QStringLiteral("pop.example.org:995");
        QCOMPARE(store().ReadAccount(1), expected); // "N/A", 0 and 0
        QCOMPARE(fileBytes().left(20), QByteArray("Home                "));
        QVERIFY(m_boxes.isEmpty());
    }

    void wizardCancel_data() {
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("closes");
        QTest::newRow("confirmed") << int(QMessageBox::Ok) << true;
        QTest::newRow("not confirmed") << int(QMessageBox::Cancel) << false;
    }
    void wizardCancel() {
        QFETCH(int, answer);
        QFETCH(bool, closes);
        m_state.AccountCount = 5; // to see whether it is touched
        WizardDialog wizard(m_state, nullptr);
        wizard.show();
        Type(Entry(&wizard, "txtAccount"), QStringLiteral("Home"));
        Button(&wizard, "cmdNext")->click();
        m_boxes.answers = {QMessageBox::StandardButton(answer)};
        Button(&wizard, "cmdCancel")->click();
        QCOMPARE(m_boxes.size(), 1);
        QCOMPARE(m_boxes[0].title, QStringLiteral("Wizard"));
        QCOMPARE(m_boxes[0].text, QStringLiteral("Cancel the New Account Wizard?"));
        QCOMPARE(m_boxes[0].icon, ui::MessageIcon::Question);
        QCOMPARE(m_boxes[0].buttons, QMessageBox::Ok | QMessageBox::Cancel);
        QCOMPARE(wizard.isVisible(), !closes);
        QCOMPARE(m_state.AccountCount, closes ? 0 : 5);
        if (!closes)
            QCOMPARE(wizard.page(), 2);
        QCOMPARE(fileBytes(), QByteArray());
    }

    void wizardPlatformClose_data() {
        QTest::addColumn<bool>("escape");
        QTest::newRow("close command") << false;
        QTest::newRow("Escape") << true;
    }
    void wizardPlatformClose() {
        QFETCH(bool, escape);
        m_state.AccountCount = 5;
        WizardDialog wizard(m_state, nullptr);
        wizard.show();
        QVERIFY(QTest::qWaitForWindowActive(&wizard));
        for (const char* name : {"txtAccount", "txtLogin", "txtPassword", "txtServer"}) {
            Type(Entry(&wizard, name), QStringLiteral("x"));
            if (wizard.page() < 4)
                Button(&wizard, "cmdNext")->click();
        }
        QCOMPARE(Button(&wizard, "cmdNext")->text(), QStringLiteral("&Finish"));
        if (escape)
            QTest::keyClick(&wizard, Qt::Key_Escape);
        else
            QVERIFY(wizard.close());
        QVERIFY(!wizard.isVisible());
        QVERIFY(m_boxes.isEmpty());
        QCOMPARE(m_state.AccountCount, 5);
        QVERIFY(!QFileInfo::exists(store().filePath()));
    }

    void wizardStoreFailureKeepsEntries() {
        breakStore();
        WizardDialog wizard(m_state, nullptr);
        wizard.show();
        for (const char* name : {"txtAccount", "txtLogin", "txtPassword", "txtServer"}) {
            Type(Entry(&wizard, name), QString::fromLatin1(name));
            Button(&wizard, "cmdNext")->click();
        }
        QCOMPARE(m_boxes.size(), 1);
        QCOMPARE(m_boxes[0].icon, ui::MessageIcon::Warning);
        QVERIFY2(m_boxes[0].text.contains(QStringLiteral("Acc.dat")), qPrintable(m_boxes[0].text));
        QVERIFY(wizard.isVisible());
        QCOMPARE(wizard.page(), 4);
        QCOMPARE(Entry(&wizard, "txtServer")->text(), QStringLiteral("txtServer"));
        QCOMPARE(m_state.AccountCount, 0);
    }

    // ---------------------------------------------------------------- editor

    void editorOkNeedsEveryEntry() {
        QTreeWidget list;
        QPushButton edit, del;
        AccountEditor editor(m_state, 0, &list, &edit, &del, nullptr);
        editor.show();
        QPushButton* ok = Button(&editor, "cmdOK");
        QVERIFY(ok->isDefault());
        QVERIFY(!ok->isEnabled());
        const char* names[] = {"txtAccount", "txtLogin", "txtPassword", "txtServer"};
        for (const char* name : names)
            Type(Entry(&editor, name), QStringLiteral("x"));
        QVERIFY(ok->isEnabled());
        for (const char* name : names) {
            Type(Entry(&editor, name), QStringLiteral("  "));
            QVERIFY2(!ok->isEnabled(), name);
            Type(Entry(&editor, name), QStringLiteral(" y"));
            QVERIFY(ok->isEnabled());
        }
        QCOMPARE(Entry(&editor, "txtPassword")->echoMode(), QLineEdit::Password);
        QCOMPARE(Entry(&editor, "txtPassword")->displayText(), QStringLiteral("**"));
    }

    void duplicateName_data() {
        QTest::addColumn<int>("editRecord");
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("refused");
        QTest::newRow("new, other case") << 0 << QStringLiteral("home") << true;
        QTest::newRow("new, blanks around") << 0 << QStringLiteral("  Work ") << true;
        QTest::newRow("new, longer name") << 0 << QStringLiteral("Homes") << false;
        QTest::newRow("own name, other case") << 1 << QStringLiteral("HOME") << false;
        QTest::newRow("another account's name") << 1 << QStringLiteral("work") << true;
    }
    void duplicateName() {
        QFETCH(int, editRecord);
        QFETCH(QString, name);
        QFETCH(bool, refused);
        addAccounts({QStringLiteral("Home"), QStringLiteral("Work")});
        const QByteArray before = fileBytes();
        AccountsSetupDialog setup(m_state, nullptr);
        setup.show();
        if (editRecord == 1)
            List(&setup)->setCurrentItem(List(&setup)->topLevelItem(0));
        bool sawEditor = false;
        WhenModal(QStringLiteral("frmEdit"), [&](QWidget* editor) {
            sawEditor = true;
            for (const char* box : {"txtLogin", "txtPassword", "txtServer"})
                if (Entry(editor, box)->text().isEmpty())
                    Type(Entry(editor, box), QStringLiteral("x"));
            Type(Entry(editor, "txtAccount"), name);
            Button(editor, "cmdOK")->click();
            if (editor->isVisible()) {
                QCOMPARE(editor->focusWidget(), Entry(editor, "txtAccount"));
                QCOMPARE(Entry(editor, "txtAccount")->text(), name); // kept for correcting
                Button(editor, "cmdCancel")->click();
            }
        });
        Button(&setup, editRecord == 0 ? "cmdNew" : "cmdEdit")->click();
        QVERIFY(sawEditor);
        QCOMPARE(m_boxes.size(), refused ? 1 : 0);
        if (refused) {
            QCOMPARE(m_boxes[0].title, QStringLiteral("Duplicate Name"));
            QCOMPARE(m_boxes[0].text,
                     QStringLiteral("The name you have chosen for this account is already in use."
                                    "\r\n\r\nPlease choose another name for this account."));
            QCOMPARE(m_boxes[0].icon, ui::MessageIcon::Warning);
            QCOMPARE(m_boxes[0].buttons, QMessageBox::Ok);
            QCOMPARE(fileBytes(), before);
        } else {
            QCOMPARE(store().CountAccounts(), editRecord == 0 ? 3 : 2);
            QCOMPARE(store().ReadAccount(editRecord == 0 ? 3 : 1).AccountName, name.trimmed());
        }
    }

    void newAccountIsAppended() {
        AccountsSetupDialog setup(m_state, nullptr);
        setup.show();
        QPushButton* edit = Button(&setup, "cmdEdit");
        QPushButton* del = Button(&setup, "cmdDelete");
        QVERIFY(!edit->isEnabled());
        QVERIFY(!del->isEnabled());
        const auto addOne = [&](const QString& name) {
            WhenModal(QStringLiteral("frmEdit"), [name](QWidget* editor) {
                Type(Entry(editor, "txtAccount"), QStringLiteral(" ") + name + QStringLiteral(" "));
                Type(Entry(editor, "txtLogin"), QStringLiteral(" login "));
                Type(Entry(editor, "txtPassword"), QStringLiteral(" pw "));
                Type(Entry(editor, "txtServer"), QStringLiteral(" pop.example.org "));
                QTest::keyClick(editor, Qt::Key_Return);
            });
            Button(&setup, "cmdNew")->click();
        };
        addOne(QStringLiteral("First"));
        QCOMPARE(Names(List(&setup)), QStringList{QStringLiteral("First")});
        QCOMPARE(Tags(List(&setup)), QList<int>{1});
        QVERIFY(edit->isEnabled());
        QVERIFY(!del->isEnabled());
        addOne(QStringLiteral("Second"));
        QCOMPARE(Tags(List(&setup)), (QList<int>{1, 2}));
        QCOMPARE(List(&setup)->topLevelItem(1)->text(1), QStringLiteral("N/A"));
        QVERIFY(!List(&setup)->topLevelItem(1)->icon(0).isNull());
        QVERIFY(del->isEnabled());
        AccountRecord expected;
        expected.AccountName = QStringLiteral("Second");
        expected.LoginName = QStringLiteral("login");
        expected.LoginPassword = QStringLiteral("pw");
        expected.ServerAddress = QStringLiteral("pop.example.org");
        QCOMPARE(store().ReadAccount(2), expected);
        QCOMPARE(m_state.CurrentAccount, expected);
        setup.close();
        QCOMPARE(m_state.AccountCount, 2);
    }

    void editKeepsStatistics() {
        store().AppendAccount(Account(QStringLiteral("Home")));
        store().AppendAccount(Account(QStringLiteral("Work"), QStringLiteral("07/12/2026 09:30:00"), 40, 12));
        AccountsSetupDialog setup(m_state, nullptr);
        setup.show();
        List(&setup)->setCurrentItem(List(&setup)->topLevelItem(1));
        WhenModal(QStringLiteral("frmEdit"), [](QWidget* editor) {
            QCOMPARE(Entry(editor, "txtAccount")->text(), QStringLiteral("Work"));
            QCOMPARE(Entry(editor, "txtPassword")->text(), QStringLiteral("secret-Work"));
            Type(Entry(editor, "txtAccount"), QStringLiteral("Office"));
            Type(Entry(editor, "txtServer"), QStringLiteral("mail.example.org"));
            // Kept beside the record, under the account's new name.
            auto* watched = editor->findChild<QCheckBox*>(QStringLiteral("chkWatchAccount"));
            QVERIFY(watched && watched->isChecked());
            watched->click();
            Button(editor, "cmdOK")->click();
        });
        // A double click edits the selected row.
        QTest::mouseDClick(List(&setup)->viewport(), Qt::LeftButton, {},
                           List(&setup)->visualItemRect(List(&setup)->topLevelItem(1)).center());
        QTRY_COMPARE(List(&setup)->topLevelItem(1)->text(0), QStringLiteral("Office"));
        QCOMPARE(List(&setup)->topLevelItem(1)->text(1), QStringLiteral("07/12/2026 09:30:00"));
        AccountRecord expected =
            Account(QStringLiteral("Work"), QStringLiteral("07/12/2026 09:30:00"), 40, 12);
        expected.AccountName = QStringLiteral("Office");
        expected.ServerAddress = QStringLiteral("mail.example.org");
        QCOMPARE(store().ReadAccount(2), expected);
        QCOMPARE(store().ReadAccount(1), Account(QStringLiteral("Home")));
        QVERIFY(!watch::WatchSettings::AccountWatched(m_state.ProgramFolder, QStringLiteral("Office")));
        QVERIFY(watch::WatchSettings::AccountWatched(m_state.ProgramFolder, QStringLiteral("Home")));
    }

    void entriesRefuseWhatWouldNotFit_data() {
        QTest::addColumn<QString>("box");
        QTest::addColumn<QString>("fits");  // typed whole
        QTest::addColumn<QString>("extra"); // refused after it
        QTest::newRow("name, 20 ASCII bytes")
            << QStringLiteral("txtAccount") << QString(20, QLatin1Char('a')) << QStringLiteral("b");
        QTest::newRow("name, ten 2-byte letters")
            << QStringLiteral("txtAccount") << QString(10, QChar(0xE9)) << QStringLiteral("x");
        QTest::newRow("name, six 3-byte letters, then a 3-byte one")
            << QStringLiteral("txtAccount") << QString(6, QChar(0x6F22)) + QStringLiteral("ab")
            << QString(QChar(0x6F22));
        QTest::newRow("login, 75 bytes")
            << QStringLiteral("txtLogin") << QString(75, QLatin1Char('l')) << QStringLiteral("l");
        QTest::newRow("password, 37 2-byte letters and one byte")
            << QStringLiteral("txtPassword") << QString(37, QChar(0xFC)) + QStringLiteral("!")
            << QString(QChar(0xFC));
        QTest::newRow("server, 75 bytes")
            << QStringLiteral("txtServer") << QString(75, QLatin1Char('s')) << QStringLiteral(".");
    }
    void entriesRefuseWhatWouldNotFit() {
        QFETCH(QString, box);
        QFETCH(QString, fits);
        QFETCH(QString, extra);
        QTreeWidget list;
        QPushButton edit, del;
        AccountEditor editor(m_state, 0, &list, &edit, &del, nullptr);
        editor.show();
        for (const char* name : {"txtAccount", "txtLogin", "txtPassword", "txtServer"})
            Type(Entry(&editor, name), QStringLiteral("v"));
        QLineEdit* entry = editor.findChild<QLineEdit*>(box);
        Type(entry, fits);
        QCOMPARE(entry->text(), fits);
        KeyIn(entry, extra);
        QCOMPARE(entry->text(), fits);
        // A paste that would not fit is refused whole, not cut.
        entry->selectAll();
        entry->insert(fits + extra);
        QCOMPARE(entry->text(), fits);

        Button(&editor, "cmdOK")->click();
        QCOMPARE(store().CountAccounts(), 1);
        const AccountRecord stored = store().ReadAccount(1);
        const QString value = box == QStringLiteral("txtAccount")    ? stored.AccountName
                              : box == QStringLiteral("txtLogin")    ? stored.LoginName
                              : box == QStringLiteral("txtPassword") ? stored.LoginPassword
                                                                     : stored.ServerAddress;
        QCOMPARE(value, fits); // stored whole
    }

    void editorStoreFailureKeepsEntries() {
        addAccounts({QStringLiteral("Home")});
        AccountsSetupDialog setup(m_state, nullptr);
        setup.show();
        breakStore();
        bool stayedOpen = false;
        WhenModal(QStringLiteral("frmEdit"), [&](QWidget* editor) {
            Type(Entry(editor, "txtAccount"), QStringLiteral("Other"));
            Type(Entry(editor, "txtLogin"), QStringLiteral("l"));
            Type(Entry(editor, "txtPassword"), QStringLiteral("p"));
            Type(Entry(editor, "txtServer"), QStringLiteral("s"));
            Button(editor, "cmdOK")->click();
            stayedOpen =
                editor->isVisible() && Entry(editor, "txtAccount")->text() == QStringLiteral("Other");
            Button(editor, "cmdCancel")->click();
        });
        Button(&setup, "cmdNew")->click();
        QVERIFY(stayedOpen);
        QCOMPARE(m_boxes.size(), 1);
        QCOMPARE(m_boxes[0].icon, ui::MessageIcon::Warning);
        QVERIFY2(m_boxes[0].text.contains(QStringLiteral("Acc.dat")), qPrintable(m_boxes[0].text));
        QCOMPARE(Names(List(&setup)), QStringList{QStringLiteral("Home")}); // no row for what was not stored
    }

    // ---------------------------------------------------------------- setup

    void setupButtonRule_data() {
        QTest::addColumn<int>("accounts");
        QTest::addColumn<bool>("editEnabled");
        QTest::addColumn<bool>("deleteEnabled");
        QTest::newRow("none") << 0 << false << false;
        QTest::newRow("one") << 1 << true << false;
        QTest::newRow("two") << 2 << true << true;
    }
    void setupButtonRule() {
        QFETCH(int, accounts);
        QFETCH(bool, editEnabled);
        QFETCH(bool, deleteEnabled);
        for (int n = 1; n <= accounts; ++n)
            store().AppendAccount(Account(QStringLiteral("Account %1").arg(n)));
        AccountsSetupDialog setup(m_state, nullptr);
        setup.show();
        QCOMPARE(Button(&setup, "cmdEdit")->isEnabled(), editEnabled);
        QCOMPARE(Button(&setup, "cmdDelete")->isEnabled(), deleteEnabled);
        QVERIFY(Button(&setup, "cmdClose")->isDefault());
        QCOMPARE(List(&setup)->headerItem()->text(0), QStringLiteral("Name"));
        QCOMPARE(List(&setup)->headerItem()->text(1), QStringLiteral("Last Checked"));
        if (accounts > 0)
            QCOMPARE(List(&setup)->selectedItems(), QList<QTreeWidgetItem*>{List(&setup)->topLevelItem(0)});
        // A double click with no rows opens nothing (and with rows is tested above).
        if (accounts == 0) {
            bool opened = false;
            bool looked = false;
            QTest::mouseDClick(List(&setup)->viewport(), Qt::LeftButton, {}, QPoint(20, 20));
            // Runs after anything the click queued, inside an editor's own loop if one opened.
            QTimer::singleShot(0, &setup, [&] {
                looked = true;
                if (QWidget* modal = QApplication::activeModalWidget(); modal && modal != &setup) {
                    opened = true;
                    modal->close();
                }
            });
            QTRY_VERIFY(looked);
            QVERIFY(!opened);
        }
    }

    void deleteRenumbers() {
        addAccounts({QStringLiteral("Alpha"), QStringLiteral("Beta"), QStringLiteral("Gamma")});
        AccountsSetupDialog setup(m_state, nullptr);
        setup.show();
        QTreeWidget* list = List(&setup);
        list->setCurrentItem(list->topLevelItem(1));
        Button(&setup, "cmdDelete")->click();
        QCOMPARE(m_boxes.size(), 1);
        QCOMPARE(m_boxes[0].title, QStringLiteral("Delete Account"));
        QCOMPARE(m_boxes[0].text, QStringLiteral("Delete the Beta account?"));
        QCOMPARE(m_boxes[0].icon, ui::MessageIcon::Question);
        QCOMPARE(m_boxes[0].buttons, QMessageBox::Ok | QMessageBox::Cancel);
        QCOMPARE(Names(list), (QStringList{QStringLiteral("Alpha"), QStringLiteral("Gamma")}));
        QCOMPARE(Tags(list), (QList<int>{1, 2}));
        QCOMPARE(list->selectedItems(), QList<QTreeWidgetItem*>{list->topLevelItem(0)});
        QCOMPARE(store().ReadAccount(2).AccountName, QStringLiteral("Gamma"));
        QVERIFY(QApplication::overrideCursor() == nullptr);

        // Editing the second row now edits the account that was third.
        list->setCurrentItem(list->topLevelItem(1));
        bool edited = false;
        WhenModal(QStringLiteral("frmEdit"), [&](QWidget* editor) {
            edited = true;
            QCOMPARE(Entry(editor, "txtAccount")->text(), QStringLiteral("Gamma"));
            Button(editor, "cmdCancel")->click();
        });
        Button(&setup, "cmdEdit")->click();
        QVERIFY(edited);

        // Down to one: Delete goes off.
        list->setCurrentItem(list->topLevelItem(0));
        Button(&setup, "cmdDelete")->click();
        QCOMPARE(Names(list), QStringList{QStringLiteral("Gamma")});
        QVERIFY(!Button(&setup, "cmdDelete")->isEnabled());
        QVERIFY(Button(&setup, "cmdEdit")->isEnabled());
    }

    void cancelledDeleteChangesNothing() {
        addAccounts({QStringLiteral("Alpha"), QStringLiteral("Beta")});
        const QByteArray before = fileBytes();
        AccountsSetupDialog setup(m_state, nullptr);
        setup.show();
        List(&setup)->setCurrentItem(List(&setup)->topLevelItem(1));
        m_boxes.answers = {QMessageBox::Cancel};
        Button(&setup, "cmdDelete")->click();
        QCOMPARE(m_boxes.size(), 1);
        QCOMPARE(fileBytes(), before);
        QCOMPARE(Names(List(&setup)), (QStringList{QStringLiteral("Alpha"), QStringLiteral("Beta")}));
    }

    void closingSetsAccountCount_data() {
        QTest::addColumn<bool>("closeBox");
        QTest::newRow("Close button") << false;
        QTest::newRow("close box") << true;
    }
    void closingSetsAccountCount() {
        QFETCH(bool, closeBox);
        addAccounts({QStringLiteral("Alpha"), QStringLiteral("Beta"), QStringLiteral("Gamma")});
        m_state.AccountCount = 0;
        AccountsSetupDialog setup(m_state, nullptr);
        setup.show();
        List(&setup)->setCurrentItem(List(&setup)->topLevelItem(2));
        Button(&setup, "cmdDelete")->click();
        if (closeBox)
            QVERIFY(setup.close());
        else
            Button(&setup, "cmdClose")->click();
        QVERIFY(!setup.isVisible());
        QCOMPARE(m_state.AccountCount, 2);
    }

    // ---------------------------------------------------------------- choose

    void choose_data() {
        QTest::addColumn<QString>("how");
        QTest::addColumn<int>("row");    // selected before closing (0 is "All accounts"); -1: as opened
        QTest::addColumn<int>("chosen"); // record number; 0: none
        QTest::addColumn<bool>("all");   // "All accounts" chosen
        QTest::newRow("Enter") << QStringLiteral("enter") << -1 << 1 << false;
        QTest::newRow("OK on the third") << QStringLiteral("ok") << 3 << 3 << false;
        QTest::newRow("double click on the third") << QStringLiteral("double click") << 3 << 3 << false;
        QTest::newRow("close command counts as OK") << QStringLiteral("close") << 2 << 2 << false;
        QTest::newRow("Cancel") << QStringLiteral("cancel") << 1 << 0 << false;
        QTest::newRow("Escape cancels") << QStringLiteral("escape") << 1 << 0 << false;
        QTest::newRow("OK on All accounts") << QStringLiteral("ok") << 0 << 0 << true;
        QTest::newRow("double click on All accounts") << QStringLiteral("double click") << 0 << 0 << true;
        QTest::newRow("All accounts, then Cancel") << QStringLiteral("cancel") << 0 << 0 << false;
    }
    void choose() {
        QFETCH(QString, how);
        QFETCH(int, row);
        QFETCH(int, chosen);
        QFETCH(bool, all);
        addAccounts({QStringLiteral("Alpha"), QStringLiteral("Beta"), QStringLiteral("Gamma")});
        ChooseDialog dialog(m_state, nullptr);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        QVERIFY(!(dialog.windowFlags() & Qt::WindowCloseButtonHint));
        QTreeWidget* list = List(&dialog);
        QCOMPARE(Tags(list), (QList<int>{0, 1, 2, 3}));
        QCOMPARE(list->topLevelItem(0)->text(0), QStringLiteral("All accounts"));
        // The first account, not "All accounts", is the one Enter takes.
        QCOMPARE(list->selectedItems(), QList<QTreeWidgetItem*>{list->topLevelItem(1)});
        QCOMPARE(QApplication::focusWidget(), Button(&dialog, "cmdOK"));
        if (row >= 0)
            list->setCurrentItem(list->topLevelItem(row));
        if (how == QStringLiteral("enter"))
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        else if (how == QStringLiteral("ok"))
            Button(&dialog, "cmdOK")->click();
        else if (how == QStringLiteral("double click"))
            QTest::mouseDClick(list->viewport(), Qt::LeftButton, {},
                               list->visualItemRect(list->topLevelItem(row)).center());
        else if (how == QStringLiteral("close"))
            dialog.close();
        else if (how == QStringLiteral("cancel"))
            Button(&dialog, "cmdCancel")->click();
        else
            QTest::keyClick(&dialog, Qt::Key_Escape);
        QTRY_VERIFY(!dialog.isVisible());
        QCOMPARE(dialog.chosenAccount().has_value(), chosen != 0);
        QCOMPARE(dialog.allAccountsChosen(), all);
        if (chosen != 0)
            QCOMPARE(*dialog.chosenAccount(), store().ReadAccount(chosen));
    }

    // One account has nothing to choose from: no "All accounts" row.
    void chooseWithOneAccountHasNoAllRow() {
        addAccounts({QStringLiteral("Alpha")});
        ChooseDialog dialog(m_state, nullptr);
        dialog.show();
        QCOMPARE(Tags(List(&dialog)), (QList<int>{1}));
        Button(&dialog, "cmdOK")->click();
        QVERIFY(!dialog.allAccountsChosen());
        QCOMPARE(*dialog.chosenAccount(), store().ReadAccount(1));
    }

    void chooseNothingWhenTheChoiceCannotBeRead() {
        addAccounts({QStringLiteral("Alpha"), QStringLiteral("Beta"), QStringLiteral("Gamma")});
        ChooseDialog dialog(m_state, nullptr);
        dialog.show();
        List(&dialog)->setCurrentItem(List(&dialog)->topLevelItem(3));
        // The third record goes while the dialog is open.
        QVERIFY(m_dir->write("Acc.dat", m_dir->read("Acc.dat").left(2 * AccountRecord::RecordLength)));
        Button(&dialog, "cmdOK")->click();
        QVERIFY(!dialog.isVisible());
        QVERIFY(!dialog.chosenAccount());
        QCOMPARE(m_boxes.size(), 1);
        QCOMPARE(m_boxes[0].title, QStringLiteral("Accounts"));
    }

    // ---------------------------------------------------------------- keyboard and accessibility

    void openingFocusAndNames_data() {
        QTest::addColumn<QString>("dialog");
        QTest::addColumn<QString>("focus");
        QTest::newRow("wizard") << QStringLiteral("frmWiz") << QStringLiteral("txtAccount");
        QTest::newRow("completion") << QStringLiteral("frmAccountDone") << QStringLiteral("cmdOK");
        QTest::newRow("setup") << QStringLiteral("frmAccounts") << QStringLiteral("cmdClose");
        QTest::newRow("editor") << QStringLiteral("frmEdit") << QStringLiteral("txtAccount");
        QTest::newRow("choose") << QStringLiteral("frmChoose") << QStringLiteral("cmdOK");
    }
    void openingFocusAndNames() {
        QFETCH(QString, dialog);
        QFETCH(QString, focus);
        addAccounts({QStringLiteral("Alpha"), QStringLiteral("Beta")});
        QTreeWidget list;
        QPushButton edit, del;
        std::unique_ptr<QDialog> window;
        if (dialog == QStringLiteral("frmWiz"))
            window = std::make_unique<WizardDialog>(m_state, nullptr);
        else if (dialog == QStringLiteral("frmAccountDone"))
            window = std::make_unique<AccountDoneDialog>(nullptr);
        else if (dialog == QStringLiteral("frmAccounts"))
            window = std::make_unique<AccountsSetupDialog>(m_state, nullptr);
        else if (dialog == QStringLiteral("frmEdit"))
            window = std::make_unique<AccountEditor>(m_state, 0, &list, &edit, &del, nullptr);
        else
            window = std::make_unique<ChooseDialog>(m_state, nullptr);
        QCOMPARE(window->objectName(), dialog);
        window->show();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        QCOMPARE(QApplication::focusWidget()->objectName(), focus);
        for (QWidget* control : window->findChildren<QWidget*>()) {
            if (!(control->focusPolicy() & Qt::TabFocus) || !control->isVisibleTo(window.get()))
                continue;
            QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(control);
            QVERIFY(accessible);
            QVERIFY2(!accessible->text(QAccessible::Name).isEmpty(), qPrintable(control->objectName()));
        }
    }
};

QTEST_MAIN(AccountDialogsTest)
#include "accountdialogstest.moc"
