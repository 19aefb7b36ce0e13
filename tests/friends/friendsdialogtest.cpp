// frmFriends and frmEnterFriend driven through their widgets, and the import.
#include "friends/friendsdialog.h"
#include "common/appstate.h"
#include "common/messagebox.h"
#include "friends/friendsmodel.h"
#include "store/friendsstore.h"
#include "support/dialogfixture.h"
#include "support/modalhelper.h"
#include "support/testdata.h"

#include <QAccessible>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>

#include <memory>

using testsupport::Child;
constexpr auto S = testsupport::Strings;

namespace {

QPushButton* Button(QWidget* dialog, const char* name) {
    return Child<QPushButton>(dialog, name);
}

// What frmEnterFriend does when it opens: type text, then press OK or Cancel.
void AnswerEntry(const QString& text, const char* button) {
    WhenModal(QStringLiteral("frmEnterFriend"), [text, button](QWidget* entry) {
        auto* box = Child<QLineEdit>(entry, "txtFriend");
        box->selectAll();
        box->del();
        QTest::keyClicks(box, text);
        Button(entry, button)->click();
    });
}

} // namespace

class FriendsDialogTest : public QObject {
    Q_OBJECT

    std::unique_ptr<testsupport::ProgramFolder> m_dir;
    AppState m_state;
    testsupport::MessageBoxCapture m_boxes;

    QString path(const char* name) const { return m_dir->filePath(name); }
    FriendsStore store() const { return FriendsStore(m_state.ProgramFolder); }
    void seed(const QStringList& addresses) {
        for (const QString& address : addresses)
            store().Append(address);
    }
    QStringList stored() const {
        QStringList addresses;
        for (const auto& entry : store().ReadAll())
            addresses.append(entry.second);
        return addresses;
    }
    QByteArray fileBytes(const char* name) const { return m_dir->read(name); }
    static QStringList rows(FriendsDialog& dialog) {
        QStringList texts;
        for (int i = 0; i < dialog.model()->rowCount(); ++i)
            texts.append(dialog.model()->address(i));
        return texts;
    }
    static int selected(FriendsDialog& dialog) {
        const QModelIndexList rows = Child<QTreeView>(&dialog, "ListView1")->selectionModel()->selectedRows();
        return rows.size() == 1 ? rows.first().row() : -1;
    }
    static void select(FriendsDialog& dialog, int row) {
        auto* list = Child<QTreeView>(&dialog, "ListView1");
        list->selectionModel()->setCurrentIndex(
            dialog.model()->index(row), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }
    void writeFile(const char* name, const QByteArray& bytes) { QVERIFY(m_dir->write(name, bytes)); }

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

    void opensOnTheStoreWithFirstRowSelected() {
        seed(S({"ann@example.org", "  bob@example.org"}));
        FriendsDialog dialog(m_state, nullptr);
        dialog.show();
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Email Friends"));
        QCOMPARE(rows(dialog), S({"ann@example.org", "bob@example.org"}));
        QCOMPARE(dialog.model()->recordNumber(1), 2);
        QCOMPARE(selected(dialog), 0);
        QVERIFY(Button(&dialog, "cmdClose")->isDefault());
        QCOMPARE(dialog.focusWidget(), Button(&dialog, "cmdClose"));
        // Tab order: the list first, then New, Edit, Delete, Import, Close.
        QStringList order{QStringLiteral("ListView1")};
        for (QWidget* widget = Child<QTreeView>(&dialog, "ListView1")->nextInFocusChain(); order.size() < 6;
             widget = widget->nextInFocusChain())
            if (widget->focusPolicy() & Qt::TabFocus)
                order.append(widget->objectName());
        QCOMPARE(order, S({"ListView1", "cmdNew", "cmdEdit", "cmdDelete", "cmdImport", "cmdClose"}));
    }

    void newOnAnEmptyStore() {
        FriendsDialog dialog(m_state, nullptr);
        dialog.show();
        QVERIFY(!Button(&dialog, "cmdEdit")->isEnabled());
        QVERIFY(!Button(&dialog, "cmdDelete")->isEnabled());
        QCOMPARE(fileBytes("Friends.dat"), QByteArray()); // created empty

        AnswerEntry(QStringLiteral("   ann@example.org  "), "cmdOK");
        Button(&dialog, "cmdNew")->click();
        QCOMPARE(rows(dialog), S({"ann@example.org"}));
        QCOMPARE(fileBytes("Friends.dat"), QByteArray("ann@example.org").leftJustified(60, ' '));
        QVERIFY(Button(&dialog, "cmdEdit")->isEnabled());
        QVERIFY(Button(&dialog, "cmdDelete")->isEnabled());
        QCOMPARE(selected(dialog), 0);

        // The same address again is a second row and a second record; the new row is selected.
        AnswerEntry(QStringLiteral("ann@example.org"), "cmdOK");
        Button(&dialog, "cmdNew")->click();
        QCOMPARE(rows(dialog), S({"ann@example.org", "ann@example.org"}));
        QCOMPARE(stored(), rows(dialog));
        QCOMPARE(selected(dialog), 1);
        QVERIFY(m_boxes.isEmpty());
    }

    void entryRules_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("okEnabled");
        QTest::addColumn<bool>("warned");
        QTest::addColumn<int>("answer");
        QTest::addColumn<QStringList>("storedAfter");
        QTest::newRow("only blanks") << QStringLiteral("    ") << false << false << int(QMessageBox::Ok)
                                     << QStringList();
        QTest::newRow("@ alone, no warning")
            << QStringLiteral("@") << true << false << int(QMessageBox::Ok) << S({"@"});
        QTest::newRow("no @, stored anyway")
            << QStringLiteral(" postmaster ") << true << true << int(QMessageBox::Ok) << S({"postmaster"});
        QTest::newRow("no @, Cancel keeps the dialog")
            << QStringLiteral("postmaster") << true << true << int(QMessageBox::Cancel) << QStringList();
    }
    void entryRules() {
        QFETCH(QString, typed);
        QFETCH(bool, okEnabled);
        QFETCH(bool, warned);
        QFETCH(int, answer);
        QFETCH(QStringList, storedAfter);
        m_boxes.fallback = static_cast<QMessageBox::StandardButton>(answer);
        FriendsDialog dialog(m_state, nullptr);
        dialog.show();
        bool checked = false;
        WhenModal(QStringLiteral("frmEnterFriend"), [&](QWidget* entry) {
            auto* box = Child<QLineEdit>(entry, "txtFriend");
            QCOMPARE(box->text(), QString());
            QVERIFY(!Button(entry, "cmdOK")->isEnabled());
            QVERIFY(Button(entry, "cmdOK")->isDefault());
            QCOMPARE(entry->windowFlags() & Qt::WindowCloseButtonHint, Qt::WindowFlags());
            QTest::keyClicks(box, typed);
            QCOMPARE(Button(entry, "cmdOK")->isEnabled(), okEnabled);
            QTest::keyClick(box, Qt::Key_Return); // the default button
            const bool stillOpen = entry->isVisible();
            QCOMPARE(stillOpen, !okEnabled || answer == QMessageBox::Cancel);
            if (stillOpen) {
                QCOMPARE(box->text(), typed); // as it was
                Button(entry, "cmdCancel")->click();
            }
            checked = true;
        });
        Button(&dialog, "cmdNew")->click();
        QVERIFY(checked);
        QCOMPARE(m_boxes.size(), warned ? 1 : 0);
        if (warned) {
            QCOMPARE(m_boxes.first().title, QStringLiteral("Invalid Address"));
            QCOMPARE(
                m_boxes.first().text,
                QStringLiteral("The address you have entered does not appear to be a valid email address."
                               "\r\n\r\nUse this address anyway?"));
            QCOMPARE(m_boxes.first().icon, ui::MessageIcon::Question);
            QCOMPARE(m_boxes.first().buttons, QMessageBox::Ok | QMessageBox::Cancel);
        }
        QCOMPARE(stored(), storedAfter);
        QCOMPARE(rows(dialog), storedAfter);
    }

    void nameAndAddressStoresTheAddress_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("note");
        QTest::addColumn<QStringList>("storedAfter");
        const QString longAddress = QString(50, u'm') + QStringLiteral("@family.test");
        QTest::newRow("name-addr") << QStringLiteral("Mum <mum@family.test>")
                                   << QStringLiteral(
                                          "Only the address in angle brackets is stored: mum@family.test")
                                   << S({"mum@family.test"});
        QTest::newRow("quoted name with a comma")
            << QStringLiteral(" \"Lee, Ann\" <ann@example.org> ")
            << QStringLiteral("Only the address in angle brackets is stored: ann@example.org")
            << S({"ann@example.org"});
        QTest::newRow("longer than an entry, the address fits")
            << QStringLiteral("Margaret Thornbury-Whitfield, the family's own <margaret@family.test>")
            << QStringLiteral("Only the address in angle brackets is stored: margaret@family.test")
            << S({"margaret@family.test"});
        QTest::newRow("the address does not fit")
            << QStringLiteral("Mum <") + longAddress + QLatin1Char('>')
            << QStringLiteral("Too long: a Friends List entry holds at most 60 characters.") << QStringList();
        QTest::newRow("plain address, no note")
            << QStringLiteral("mum@family.test") << QString() << S({"mum@family.test"});
    }
    void nameAndAddressStoresTheAddress() {
        QFETCH(QString, typed);
        QFETCH(QString, note);
        QFETCH(QStringList, storedAfter);
        FriendsDialog dialog(m_state, nullptr);
        dialog.show();
        QString shownText, noteShown, described;
        bool okEnabled = false;
        WhenModal(QStringLiteral("frmEnterFriend"), [&](QWidget* entry) {
            auto* box = Child<QLineEdit>(entry, "txtFriend");
            QTest::keyClicks(box, typed);
            shownText = box->text();
            const auto* label = entry->findChild<QLabel*>(QStringLiteral("lblNote"));
            noteShown = label ? label->text() : QStringLiteral("(no note)");
            described = box->accessibleDescription();
            okEnabled = Button(entry, "cmdOK")->isEnabled();
            QTest::keyClick(box, Qt::Key_Return);
            if (entry->isVisible())
                Button(entry, "cmdCancel")->click();
        });
        Button(&dialog, "cmdNew")->click();
        QCOMPARE(stored(), storedAfter);
        QCOMPARE(rows(dialog), storedAfter);
        QCOMPARE(shownText, typed); // nothing refused while typing
        QCOMPARE(noteShown, note);
        QCOMPARE(described, note);
        QCOMPARE(okEnabled, !storedAfter.isEmpty());
        QVERIFY(m_boxes.isEmpty());
    }

    void editToNameAndAddressStoresTheAddress() {
        seed(S({"ann@example.org", "mum@old.test"}));
        FriendsDialog dialog(m_state, nullptr);
        dialog.show();
        select(dialog, 1);
        AnswerEntry(QStringLiteral("Mum <mum@family.test>"), "cmdOK");
        Button(&dialog, "cmdEdit")->click();
        QCOMPARE(stored(), S({"ann@example.org", "mum@family.test"}));
        QCOMPARE(rows(dialog), stored());
    }

    void editReplacesInPlaceAndCancelKeeps() {
        seed(S({"ann@example.org", "bob@example.org", "carol@example.org"}));
        FriendsDialog dialog(m_state, nullptr);
        dialog.show();
        select(dialog, 1);

        QString offered;
        WhenModal(QStringLiteral("frmEnterFriend"), [&offered](QWidget* entry) {
            offered = Child<QLineEdit>(entry, "txtFriend")->text();
            QVERIFY(Button(entry, "cmdOK")->isEnabled());
            Button(entry, "cmdCancel")->click();
        });
        Button(&dialog, "cmdEdit")->click();
        QCOMPARE(offered, QStringLiteral("bob@example.org"));
        QCOMPARE(stored(), S({"ann@example.org", "bob@example.org", "carol@example.org"}));

        AnswerEntry(QStringLiteral("robert@example.org"), "cmdOK");
        Button(&dialog, "cmdEdit")->click();
        QCOMPARE(stored(), S({"ann@example.org", "robert@example.org", "carol@example.org"}));
        QCOMPARE(rows(dialog), stored());
        QCOMPARE(selected(dialog), 1);
    }

    void deleteRemovesIdenticalRowsOnly() {
        seed(S({"ann@example.org", "Ann@example.org", "bob@example.org", "ann@example.org",
                "carol@example.org"}));
        FriendsDialog dialog(m_state, nullptr);
        dialog.show();
        select(dialog, 3);
        Button(&dialog, "cmdDelete")->click();
        QCOMPARE(m_boxes.size(), 1);
        QCOMPARE(m_boxes.first().title, QStringLiteral("Delete"));
        QCOMPARE(m_boxes.first().text,
                 QStringLiteral("Deleting the selected address from your Friends List?"));
        QCOMPARE(m_boxes.first().icon, ui::MessageIcon::Question);
        QCOMPARE(stored(), S({"Ann@example.org", "bob@example.org", "carol@example.org"}));
        QCOMPARE(rows(dialog), stored());
        QCOMPARE(dialog.model()->recordNumber(2), 3); // numbered again
        QCOMPARE(selected(dialog), 2);                // the row that took the deleted one's place
        QVERIFY(Button(&dialog, "cmdClose")->isEnabled());
        QVERIFY(Child<QTreeView>(&dialog, "ListView1")->isEnabled());
        QVERIFY(!QApplication::overrideCursor());

        m_boxes.fallback = QMessageBox::Cancel;
        Button(&dialog, "cmdDelete")->click();
        QCOMPARE(stored(), S({"Ann@example.org", "bob@example.org", "carol@example.org"}));

        // Deleting the last row selects the row above it.
        m_boxes.fallback = QMessageBox::Ok;
        Button(&dialog, "cmdDelete")->click();
        QCOMPARE(stored(), S({"Ann@example.org", "bob@example.org"}));
        QCOMPARE(selected(dialog), 1);
    }

    void deletingTheLastRowLeavesAnEmptyFile() {
        seed(S({"ann@example.org"}));
        FriendsDialog dialog(m_state, nullptr);
        dialog.show();
        Button(&dialog, "cmdDelete")->click();
        QCOMPARE(dialog.model()->rowCount(), 0);
        QVERIFY(QFile::exists(path("Friends.dat")));
        QCOMPARE(fileBytes("Friends.dat").size(), 0);
        QVERIFY(!Button(&dialog, "cmdEdit")->isEnabled());
        QVERIFY(!Button(&dialog, "cmdDelete")->isEnabled());
        QVERIFY(Button(&dialog, "cmdNew")->isEnabled());
    }

    void deleteFailureIsReportedAndCloses() {
        seed(S({"ann@example.org", "bob@example.org"}));
        const QByteArray before = fileBytes("Friends.dat");
        QVERIFY(QDir(m_dir->path()).mkdir(QStringLiteral("Friends.tmp"))); // the rewrite cannot create it
        FriendsDialog dialog(m_state, nullptr);
        dialog.show();
        Button(&dialog, "cmdDelete")->click();
        QCOMPARE(m_boxes.size(), 2);
        const ui::MessageRequest& error = m_boxes.at(1);
        QCOMPARE(error.title, QStringLiteral("Error"));
        QCOMPARE(error.icon, ui::MessageIcon::Warning);
        QVERIFY(
            error.text.startsWith(QStringLiteral("An error was encountered deleting the selected address.")));
        QVERIFY2(error.text.contains(QStringLiteral("Friends.tmp")), qPrintable(error.text));
        QVERIFY(!dialog.isVisible());
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        QCOMPARE(fileBytes("Friends.dat"), before);
        QVERIFY(!QApplication::overrideCursor());
    }

    void storeFailuresNameTheFile() {
        // Unreadable at opening: shown, and only Close is left.
        QVERIFY(QDir(m_dir->path()).mkdir(QStringLiteral("Friends.dat")));
        {
            FriendsDialog dialog(m_state, nullptr);
            QCOMPARE(m_boxes.size(), 1);
            QVERIFY2(m_boxes.first().text.contains(QStringLiteral("Friends.dat")),
                     qPrintable(m_boxes.first().text));
            for (const char* name : {"cmdNew", "cmdEdit", "cmdDelete", "cmdImport"})
                QVERIFY2(!Button(&dialog, name)->isEnabled(), name);
            QVERIFY(Button(&dialog, "cmdClose")->isEnabled());
        }
        QVERIFY(QDir(m_dir->path()).rmdir(QStringLiteral("Friends.dat")));

        // A failing append: the row is not added.
        m_boxes.clear();
        seed(S({"ann@example.org"}));
        FriendsDialog dialog(m_state, nullptr);
        dialog.show();
        QVERIFY(QFile::remove(path("Friends.dat")));
        QVERIFY(QDir(m_dir->path()).mkdir(QStringLiteral("Friends.dat")));
        AnswerEntry(QStringLiteral("bob@example.org"), "cmdOK");
        Button(&dialog, "cmdNew")->click();
        QCOMPARE(m_boxes.size(), 1);
        QVERIFY2(m_boxes.first().text.contains(QStringLiteral("Friends.dat")),
                 qPrintable(m_boxes.first().text));
        QCOMPARE(rows(dialog), S({"ann@example.org"}));
        QVERIFY(dialog.isVisible());
    }

    void importAddsOnlyNewAddresses() {
        seed(S({"Ann@Example.org"}));
        const QString tooLong = QString(50, u'x') + QStringLiteral("@example.org");
        writeFile("book.vcf", QByteArray("BEGIN:VCARD\r\nVERSION:3.0\r\nEMAIL:ann@example.org\r\n"
                                         "EMAIL;TYPE=work:bob@exa\r\n mple.org\r\nEND:VCARD\r\n"
                                         "BEGIN:VCARD\r\nVERSION:3.0\r\nEMAIL:") +
                                  tooLong.toUtf8() +
                                  "\r\nEMAIL:carol@example.org\r\nEMAIL:BOB@example.org\r\nEND:VCARD\r\n");
        FriendsDialog dialog(m_state, nullptr);
        dialog.show();
        dialog.importFile(path("book.vcf"));

        QCOMPARE(stored(), S({"Ann@Example.org", "bob@example.org", "carol@example.org"}));
        QCOMPARE(rows(dialog), stored());
        QCOMPARE(selected(dialog), 1); // the first imported row
        QCOMPARE(m_boxes.size(), 1);
        const QString summary = m_boxes.first().text;
        QVERIFY2(summary.contains(QStringLiteral("Addresses found in book.vcf: 4")), qPrintable(summary));
        QVERIFY2(summary.contains(QStringLiteral("Already in your Friends List: 1")), qPrintable(summary));
        QVERIFY2(summary.contains(QStringLiteral("Added: 2")), qPrintable(summary));
        QVERIFY2(summary.contains(tooLong), qPrintable(summary)); // reported whole, not cut
        QVERIFY(!stored().contains(tooLong.left(60)));

        // Again: nothing new, nothing written.
        m_boxes.clear();
        dialog.importFile(path("book.vcf"));
        QCOMPARE(stored().size(), 3);
        QVERIFY(m_boxes.first().text.contains(QStringLiteral("Added: 0")));
    }

    void importInPublishedFormats_data() {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("added");
        QTest::newRow("CSV")
            << QStringLiteral("contacts.csv")
            << QByteArray("Name,E-mail Address,Notes\r\n\"Lee, Ann\",ann@example.org,\"a, \"\"b\"\"\"\r\n"
                          "Bob,bob@example.org,\r\n")
            << S({"ann@example.org", "bob@example.org"});
        QTest::newRow("LDIF") << QStringLiteral("contacts.ldif")
                              << (QByteArray("dn: cn=Ann\r\nmail:: ") +
                                  QByteArray("ann@example.org").toBase64() +
                                  "\r\nmozillaSecondEmail: bob@exam\r\n ple.org\r\n")
                              << S({"ann@example.org", "bob@example.org"});
        QTest::newRow("vCard 4")
            << QStringLiteral("contacts.vcf")
            << QByteArray("BEGIN:VCARD\r\nVERSION:4.0\r\nEMAIL;PREF=1:ann@example.org\r\n"
                          "EMAIL;CHARSET=ISO-8859-1;ENCODING=QUOTED-PRINTABLE:b=F6b@example.org\r\n"
                          "END:VCARD\r\n")
            << S({"ann@example.org", "b\xC3\xB6"
                                     "b@example.org"});
    }
    void importInPublishedFormats() {
        QFETCH(QString, fileName);
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, added);
        writeFile(qPrintable(fileName), bytes);
        FriendsDialog dialog(m_state, nullptr);
        dialog.importFile(path(qPrintable(fileName)));
        QCOMPARE(stored(), added);
    }

    void importWriteFailureLosesNothing() {
        seed(S({"ann@example.org"}));
        const QByteArray before = fileBytes("Friends.dat");
        writeFile("book.csv", "Email\r\nbob@example.org\r\ncarol@example.org\r\n");
        QVERIFY(QDir(m_dir->path()).mkdir(QStringLiteral("Friends.tmp")));
        FriendsDialog dialog(m_state, nullptr);
        dialog.show();
        dialog.importFile(path("book.csv"));
        QCOMPARE(m_boxes.size(), 1);
        QVERIFY2(m_boxes.first().text.contains(QStringLiteral("Friends.tmp")),
                 qPrintable(m_boxes.first().text));
        QCOMPARE(m_boxes.first().icon, ui::MessageIcon::Warning);
        QCOMPARE(fileBytes("Friends.dat"), before);
        QCOMPARE(rows(dialog), S({"ann@example.org"}));
        QVERIFY(!QApplication::overrideCursor());

        // An unreadable address book is reported, not taken as empty.
        m_boxes.clear();
        dialog.importFile(path("missing.vcf"));
        QCOMPARE(m_boxes.size(), 1);
        QVERIFY(m_boxes.first().text.contains(QStringLiteral("missing.vcf")));
    }

    void everyControlHasAnAccessibleName() {
        FriendsDialog dialog(m_state, nullptr);
        dialog.show();
        for (QWidget* widget : dialog.findChildren<QWidget*>()) {
            if (widget->focusPolicy() == Qt::NoFocus || !widget->isVisibleTo(&dialog))
                continue;
            QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(widget);
            QVERIFY(accessible);
            QVERIFY2(!accessible->text(QAccessible::Name).isEmpty(), qPrintable(widget->objectName()));
        }
    }
};

QTEST_MAIN(FriendsDialogTest)
#include "friendsdialogtest.moc"
