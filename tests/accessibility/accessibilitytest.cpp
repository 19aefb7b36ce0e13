#include "support/accessibilitycheck.h"

#include "accounts/accountdonedialog.h"
#include "accounts/accounteditor.h"
#include "accounts/accountssetupdialog.h"
#include "accounts/choosedialog.h"
#include "accounts/reportdialog.h"
#include "accounts/reportdocument.h"
#include "accounts/wizarddialog.h"
#include "check/certificatedialog.h"
#include "check/checkdonedialog.h"
#include "check/errordialog.h"
#include "check/statusdialog.h"
#include "common/appstate.h"
#include "common/messagebox.h"
#include "friends/enterfrienddialog.h"
#include "friends/friendsdialog.h"
#include "help/helpwindow.h"
#include "offers/aboutdialog.h"
#include "options/optionsdialog.h"
#include "pop3/session.h"
#include "review/confirmdialog.h"
#include "review/core/reviewmodel.h"
#include "review/delstatusdialog.h"
#include "review/reviewcontroller.h"
#include "review/reviewlistview.h"
#include "review/viewdialog.h"
#include "reviewlistfixture.h"
#include "shell/mainwindow.h"
#include "store/accountstore.h"
#include "store/friendsstore.h"
#include "support/modalhelper.h"

#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QSizeGrip>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <memory>

namespace {

// Where the dialogs of one test keep their files.
struct Folder {
    QTemporaryDir dir;
    AppState state;
    Folder() {
        state.ProgramFolder = dir.path() + QLatin1Char('/');
        AccountStore accounts(state.ProgramFolder);
        for (const QString& name : {QStringLiteral("Home"), QStringLiteral("Work")}) {
            AccountRecord record;
            record.AccountName = name;
            record.LoginName = QStringLiteral("me");
            record.ServerAddress = QStringLiteral("pop.example.com");
            accounts.AppendAccount(record);
        }
        state.AccountCount = 2;
        FriendsStore(state.ProgramFolder).Append(QStringLiteral("friend@example.com"));
    }
};

} // namespace

class AccessibilityTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanupTestCase();

    void ticksAreCheckBoxes();
    void accountColumnIsRead();
    void toggleActionFlipsTheTick();
    void spaceActsOnTheSelectedRow_data();
    void spaceActsOnTheSelectedRow();
    void listIsUsableWithoutAMouse();
    void listTakesFocusOnRequest();
    void dialogListsKeepOneRow_data();
    void dialogListsKeepOneRow();
    void dialogListsWorkFromTheKeyboard_data();
    void dialogListsWorkFromTheKeyboard();
    void rowChosenThroughTheTableInterface_data();
    void rowChosenThroughTheTableInterface();
    void mainWindowIsNamedAndReadable();
    void menuAccessKeysAreUnique();
    void menuEntriesBelongToTheirMenu();
    void dialogsOpenReadyForTheKeyboard_data();
    void dialogsOpenReadyForTheKeyboard();
};

void AccessibilityTest::initTestCase() {
    ui::SetMessageBoxHandler([](const ui::MessageRequest&) { return QMessageBox::Ok; });
}

void AccessibilityTest::init() {}

void AccessibilityTest::cleanupTestCase() {
    ui::SetMessageBoxHandler({});
}

void AccessibilityTest::ticksAreCheckBoxes() {
    ReviewList list(4);
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(list.view);
    QVERIFY(iface);
    QCOMPARE(iface->text(QAccessible::Name), QStringLiteral("Messages to review"));
    QAccessibleTableInterface* table = list.table();
    QVERIFY(table);
    QCOMPARE(table->rowCount(), 4);
    QCOMPARE(table->columnCount(), kColumns);
    QCOMPARE(iface->childCount(), 5 * kColumns);
    QCOMPARE(iface->child(0)->role(), QAccessible::ColumnHeader);
    QCOMPARE(iface->child(0)->text(QAccessible::Name), QStringLiteral("From"));

    for (int row = 0; row < 4; ++row) {
        const bool keep = row % 2 == 0;
        QAccessibleInterface* tick = table->cellAt(row, 0);
        QVERIFY(tick);
        QCOMPARE(tick->role(), QAccessible::CheckBox);
        QVERIFY(tick->state().checkable);
        QCOMPARE(bool(tick->state().checked), keep);
        QCOMPARE(tick->text(QAccessible::Name), QStringLiteral("Sender %1").arg(row + 1));
        QCOMPARE(tick->text(QAccessible::Description),
                 keep ? QStringLiteral("Keep") : QStringLiteral("Will be deleted"));
        // The numbering of Qt's own focus and selection events.
        QCOMPARE(iface->indexOfChild(tick), CellChild(row, 0));
        QCOMPARE(iface->child(CellChild(row, 0)), tick);
        QCOMPARE(tick->parent(), iface);

        QAccessibleInterface* subject = table->cellAt(row, ReviewItem::Subject);
        QCOMPARE(subject->role(), QAccessible::Cell);
        QVERIFY(!subject->state().checkable);
        QCOMPARE(subject->text(QAccessible::Name), QStringLiteral("Subject %1").arg(row + 1));
        QCOMPARE(bool(subject->state().selected), row == 0);
    }
    QCOMPARE(table->selectedRows(), QList<int>{0});

    // A sort moves the rows; cells are positions, so they read the new order.
    list.model()->setKeep(3, true);
    list.model()->sort(ReviewItem::Size); // 100 < 200 < 300 < 400 bytes: unchanged order
    list.model()->sort(ReviewItem::From);
    QVERIFY(table->cellAt(3, 0)->state().checked);
    list.model()->clear();
    QCOMPARE(table->rowCount(), 0);
    QCOMPARE(iface->childCount(), kColumns);
}

// A review of every account: a listener hears each row's account, the tick
// stays the first cell, and the column goes again with the review.
void AccessibilityTest::accountColumnIsRead() {
    ReviewList list(2);
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(list.view);
    QAccessibleTableInterface* table = list.table();
    QCOMPARE(table->columnCount(), kColumns);
    QVector<ReviewItem> rows{Row(1, true), Row(1, false), Row(2, false)};
    rows[0].account = 1;
    rows[1].account = 0;
    rows[2].account = 0;
    std::vector<ReviewAccount> accounts;
    accounts.push_back({QStringLiteral("Home"), nullptr});
    accounts.push_back({QStringLiteral("Work"), nullptr});
    list.controller->AdoptAllAccounts(rows, std::move(accounts));
    const int columns = kColumns + 1;
    QCOMPARE(table->rowCount(), 3);
    QCOMPARE(table->columnCount(), columns);
    QCOMPARE(iface->childCount(), 4 * columns);
    QCOMPARE(iface->child(ReviewModel::AccountColumn)->role(), QAccessible::ColumnHeader);
    QCOMPARE(iface->child(ReviewModel::AccountColumn)->text(QAccessible::Name), QStringLiteral("Account"));
    const QStringList expected{QStringLiteral("Work"), QStringLiteral("Home"), QStringLiteral("Home")};
    for (int row = 0; row < 3; ++row) {
        QAccessibleInterface* account = table->cellAt(row, ReviewModel::AccountColumn);
        QCOMPARE(account->role(), QAccessible::Cell);
        QCOMPARE(account->text(QAccessible::Name), expected.at(row));
        QCOMPARE(iface->indexOfChild(account), (row + 1) * columns + ReviewModel::AccountColumn);
        QAccessibleInterface* tick = table->cellAt(row, 0);
        QCOMPARE(tick->role(), QAccessible::CheckBox);
        QCOMPARE(bool(tick->state().checked), row == 0);
    }
    list.controller->AcceptAll();
    QCOMPARE(table->columnCount(), kColumns);
    QCOMPARE(iface->childCount(), kColumns);
}

void AccessibilityTest::toggleActionFlipsTheTick() {
    ReviewList list(3);
    QAccessibleInterface* tick = list.table()->cellAt(1, 0);
    QAccessibleActionInterface* actions = tick->actionInterface();
    QVERIFY(actions);
    QCOMPARE(actions->actionNames().value(0), QAccessibleActionInterface::toggleAction());
    QVERIFY(actions->actionNames().contains(QAccessibleActionInterface::pressAction()));
    QCOMPARE(actions->keyBindingsForAction(QAccessibleActionInterface::toggleAction()),
             QStringList{QStringLiteral("Space")});

    actions->doAction(QAccessibleActionInterface::toggleAction());
    QVERIFY(list.model()->item(1).keep);
    QVERIFY(tick->state().checked);
    // Toggling does not move the row the commands act on.
    QCOMPARE(list.selectedRows(), QList<int>{0});

    actions->doAction(QAccessibleActionInterface::pressAction());
    QVERIFY(!list.model()->item(1).keep);
    QVERIFY(!tick->state().checked);

    // Cells that hold no tick offer no toggle.
    QAccessibleInterface* subject = list.table()->cellAt(1, ReviewItem::Subject);
    QVERIFY(!subject->actionInterface()->actionNames().contains(QAccessibleActionInterface::toggleAction()));
    subject->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
    QVERIFY(!list.model()->item(1).keep);
}

void AccessibilityTest::spaceActsOnTheSelectedRow_data() {
    QTest::addColumn<QString>("how");
    QTest::newRow("selection model, current left behind") << QStringLiteral("select");
    QTest::newRow("ctrl+click") << QStringLiteral("ctrl");
    QTest::newRow("shift+click") << QStringLiteral("shift");
    QTest::newRow("assistive tool selects the row") << QStringLiteral("a11y-select");
    QTest::newRow("assistive tool focuses a cell") << QStringLiteral("a11y-focus");
}

void AccessibilityTest::spaceActsOnTheSelectedRow() {
    QFETCH(QString, how);
    ReviewList list(5);
    QVERIFY(QTest::qWaitForWindowExposed(&list.window));
    list.view->setFocus();
    const QModelIndex target = list.model()->index(3, ReviewItem::Subject);
    if (how == QLatin1String("select")) {
        list.view->selectionModel()->select(target,
                                            QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    } else if (how == QLatin1String("ctrl") || how == QLatin1String("shift")) {
        QTest::mouseClick(list.view->viewport(), Qt::LeftButton,
                          how == QLatin1String("ctrl") ? Qt::ControlModifier : Qt::ShiftModifier,
                          list.view->visualRect(target).center());
    } else if (how == QLatin1String("a11y-select")) {
        QVERIFY(list.table()->selectRow(3));
    } else {
        list.table()
            ->cellAt(3, ReviewItem::Subject)
            ->actionInterface()
            ->doAction(QAccessibleActionInterface::setFocusAction());
    }
    QCOMPARE(list.selectedRows(), QList<int>{3});
    QCOMPARE(list.view->currentIndex().row(), 3);
    QCOMPARE(list.controller->selectedRow(), 3);

    const QList<bool> before = list.ticks();
    QTest::keyClick(list.view, Qt::Key_Space);
    QList<bool> expected = before;
    expected[3] = !expected[3];
    QCOMPARE(list.ticks(), expected);

    // A Ctrl+click on the selected row cannot leave the list without its row.
    QTest::mouseClick(list.view->viewport(), Qt::LeftButton, Qt::ControlModifier,
                      list.view->visualRect(target).center());
    QCOMPARE(list.selectedRows(), QList<int>{3});
    QCOMPARE(list.view->currentIndex().row(), 3);
}

void AccessibilityTest::listIsUsableWithoutAMouse() {
    ReviewList list(6);
    QVERIFY(QTest::qWaitForWindowExposed(&list.window));
    list.view->setFocus();
    QSignalSpy details(list.view, &ReviewListView::detailsRequested);
    QSignalSpy menu(list.view, &ReviewListView::actionsMenuRequested);

    QTest::keyClick(list.view, Qt::Key_End);
    QCOMPARE(list.selectedRows(), QList<int>{5});
    QTest::keyClick(list.view, Qt::Key_Up);
    QTest::keyClick(list.view, Qt::Key_Up);
    QCOMPARE(list.selectedRows(), QList<int>{3});
    QCOMPARE(list.view->currentIndex().row(), 3);
    QTest::keyClick(list.view, Qt::Key_Space);
    QCOMPARE(list.ticks(), (QList<bool>{true, false, true, true, true, false}));
    QTest::keyClick(list.view, Qt::Key_Home);
    QTest::keyClick(list.view, Qt::Key_Down);
    QCOMPARE(list.controller->selectedRow(), 1);

    QTest::keyClick(list.view, Qt::Key_Return);
    QCOMPARE(details.size(), 1);

    // The menu key and Shift+F10 open the menu at the row, not where the mouse is.
    const QRect row = list.view->visualRect(list.model()->index(1, 0));
    const QRect rowOnScreen(list.view->viewport()->mapToGlobal(row.topLeft()), row.size());
    for (const auto& [key, modifiers] :
         {std::pair{Qt::Key_Menu, Qt::NoModifier}, std::pair{Qt::Key_F10, Qt::ShiftModifier}}) {
        menu.clear();
        QTest::keyClick(list.view, key, modifiers);
        QCOMPARE(menu.size(), 1);
        const QPoint at = menu.first().first().toPoint();
        QVERIFY2(at.y() >= rowOnScreen.top() && at.y() <= rowOnScreen.bottom() + 1,
                 qPrintable(QString::number(at.y())));
    }
    menu.clear();
    QContextMenuEvent fromKeyboard(QContextMenuEvent::Keyboard, QPoint(1, 1),
                                   list.view->viewport()->mapToGlobal(QPoint(1, 1)));
    QApplication::sendEvent(list.view->viewport(), &fromKeyboard);
    QCOMPARE(menu.size(), 1);

    // An empty list offers neither.
    details.clear();
    menu.clear();
    list.model()->clear();
    QTest::keyClick(list.view, Qt::Key_Return);
    QTest::keyClick(list.view, Qt::Key_Menu);
    QTest::keyClick(list.view, Qt::Key_Space);
    QCOMPARE(details.size(), 0);
    QCOMPARE(menu.size(), 0);
}

void AccessibilityTest::listTakesFocusOnRequest() {
    ReviewList list(2);
    QVERIFY(QTest::qWaitForWindowActive(&list.window));
    list.elsewhere->setFocus();
    QVERIFY(QTest::qWaitFor([&] { return list.elsewhere->hasFocus(); }, 5000));
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(list.view);
    QVERIFY(iface->state().focusable);
    QAccessibleActionInterface* actions = iface->actionInterface();
    QVERIFY(actions);
    QVERIFY(actions->actionNames().contains(QAccessibleActionInterface::setFocusAction()));
    actions->doAction(QAccessibleActionInterface::setFocusAction());
    QVERIFY(QTest::qWaitFor([&] { return list.view->hasFocus(); }, 5000));
    QVERIFY(iface->state().focused);
    QCOMPARE(iface->focusChild(), list.table()->cellAt(0, 0));
    QVERIFY(iface->focusChild()->state().focused);
}

void AccessibilityTest::dialogListsKeepOneRow_data() {
    QTest::addColumn<QString>("dialog");
    QTest::newRow("frmAccounts") << QStringLiteral("frmAccounts");
    QTest::newRow("frmChoose") << QStringLiteral("frmChoose");
    QTest::newRow("frmFriends") << QStringLiteral("frmFriends");
}

void AccessibilityTest::dialogListsKeepOneRow() {
    QFETCH(QString, dialog);
    Folder folder;
    FriendsStore(folder.state.ProgramFolder).Append(QStringLiteral("second@example.com"));
    std::unique_ptr<QDialog> window;
    if (dialog == QLatin1String("frmAccounts"))
        window = std::make_unique<AccountsSetupDialog>(folder.state, nullptr);
    else if (dialog == QLatin1String("frmChoose"))
        window = std::make_unique<ChooseDialog>(folder.state, nullptr);
    else
        window = std::make_unique<FriendsDialog>(folder.state, nullptr);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    auto* list = window->findChild<QAbstractItemView*>(QStringLiteral("ListView1"));
    QVERIFY(list);
    QVERIFY(list->model()->rowCount() >= 2);
    QItemSelectionModel* selection = list->selectionModel();

    // Selected without moving the current row, as an assistive tool would.
    selection->select(list->model()->index(1, 0),
                      QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    QCOMPARE(list->currentIndex().row(), 1);
    // Moved with the keyboard.
    list->setFocus();
    QTest::keyClick(list, Qt::Key_Home);
    QCOMPARE(selection->selectedRows().size(), 1);
    QCOMPARE(selection->selectedRows().first().row(), 0);
    QCOMPARE(list->currentIndex().row(), 0);
    // A Ctrl+click on it keeps it.
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::ControlModifier,
                      list->visualRect(list->model()->index(0, 0)).center());
    QCOMPARE(selection->selectedRows().size(), 1);
    QCOMPARE(list->currentIndex().row(), 0);
    TIDEMARSH_VERIFY_ALL_NAMED(window.get());
    window->reject();
}

void AccessibilityTest::dialogListsWorkFromTheKeyboard_data() {
    QTest::addColumn<QString>("dialog");
    QTest::addColumn<QString>("editor"); // what Enter on the list opens, and the entry that shows the row
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QString>("second"); // the second row as that entry shows it
    QTest::addColumn<int>("first");      // the row current at the opening
    QTest::newRow("frmAccounts") << QStringLiteral("frmAccounts") << QStringLiteral("frmEdit")
                                 << QStringLiteral("txtAccount") << QStringLiteral("Work") << 0;
    // "All accounts" comes first; the first account is the current row.
    QTest::newRow("frmChoose") << QStringLiteral("frmChoose") << QString() << QString() << QString() << 1;
    QTest::newRow("frmFriends") << QStringLiteral("frmFriends") << QStringLiteral("frmEnterFriend")
                                << QStringLiteral("txtFriend") << QStringLiteral("second@example.com") << 0;
}

// Tab reaches the list, the arrows move its row, and Enter on it acts on that
// row: Select Account chooses it, the others edit it as a double click does.
void AccessibilityTest::dialogListsWorkFromTheKeyboard() {
    QFETCH(QString, dialog);
    QFETCH(QString, editor);
    QFETCH(QString, entry);
    QFETCH(QString, second);
    QFETCH(int, first);
    Folder folder;
    FriendsStore(folder.state.ProgramFolder).Append(QStringLiteral("second@example.com"));
    std::unique_ptr<QDialog> window;
    if (dialog == QLatin1String("frmAccounts"))
        window = std::make_unique<AccountsSetupDialog>(folder.state, nullptr);
    else if (dialog == QLatin1String("frmChoose"))
        window = std::make_unique<ChooseDialog>(folder.state, nullptr);
    else
        window = std::make_unique<FriendsDialog>(folder.state, nullptr);
    window->show();
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window.get()));
    auto* list = window->findChild<QAbstractItemView*>(QStringLiteral("ListView1"));
    QVERIFY(list);
    QVERIFY(QApplication::focusWidget() != list);
    for (int tabs = 0; tabs < 8 && QApplication::focusWidget() != list; ++tabs)
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), list);
    QTest::keyClick(list, Qt::Key_Down);
    QCOMPARE(list->currentIndex().row(), first + 1);
    QCOMPARE(list->selectionModel()->selectedRows().size(), 1);
    QCOMPARE(list->selectionModel()->selectedRows().first().row(), first + 1);

    QString shown;
    if (!editor.isEmpty())
        WhenModal(editor, [&](QWidget* opened) {
            shown = opened->findChild<QLineEdit*>(entry)->text();
            static_cast<QDialog*>(opened)->reject();
        });
    QTest::keyClick(list, Qt::Key_Return);
    if (editor.isEmpty()) {
        QTRY_VERIFY(!window->isVisible());
        QCOMPARE(window->result(), int(QDialog::Accepted));
        QCOMPARE(list->selectionModel()->selectedRows().first().row(), first + 1);
    } else {
        QTRY_COMPARE(shown, second);
        QVERIFY(window->isVisible()); // Enter on the list is not Close
        window->reject();
    }
}

void AccessibilityTest::rowChosenThroughTheTableInterface_data() {
    QTest::addColumn<QString>("list");
    QTest::addColumn<QString>("editor"); // the dialog the list's Edit opens, and the entry that shows the row
    QTest::addColumn<QString>("entry");
    QTest::newRow("frmAccounts") << QStringLiteral("frmAccounts") << QStringLiteral("frmEdit")
                                 << QStringLiteral("txtAccount");
    QTest::newRow("frmChoose") << QStringLiteral("frmChoose") << QString() << QString();
    QTest::newRow("frmFriends") << QStringLiteral("frmFriends") << QStringLiteral("frmEnterFriend")
                                << QStringLiteral("txtFriend");
    QTest::newRow("review list") << QStringLiteral("review") << QString() << QString();
}

// What voice control and test robots do over AT-SPI (the table's row selection,
// or a cell's toggle): afterwards exactly that row is selected and current, and
// Edit opens it, not the row that was current before.
void AccessibilityTest::rowChosenThroughTheTableInterface() {
    QFETCH(QString, list);
    QFETCH(QString, editor);
    QFETCH(QString, entry);
    Folder folder;
    AccountRecord third;
    third.AccountName = QStringLiteral("Club");
    AccountStore(folder.state.ProgramFolder).AppendAccount(third);
    for (const QString& address : {QStringLiteral("second@example.com"), QStringLiteral("third@example.com")})
        FriendsStore(folder.state.ProgramFolder).Append(address);
    std::unique_ptr<QDialog> dialog;
    std::unique_ptr<ReviewList> review;
    QAbstractItemView* view = nullptr;
    if (list == QLatin1String("review")) {
        review = std::make_unique<ReviewList>(4);
        view = review->view;
    } else {
        if (list == QLatin1String("frmAccounts"))
            dialog = std::make_unique<AccountsSetupDialog>(folder.state, nullptr);
        else if (list == QLatin1String("frmChoose"))
            dialog = std::make_unique<ChooseDialog>(folder.state, nullptr);
        else
            dialog = std::make_unique<FriendsDialog>(folder.state, nullptr);
        dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
        view = dialog->findChild<QAbstractItemView*>(QStringLiteral("ListView1"));
    }
    QVERIFY(view);
    // Select Account opens on its first account, below "All accounts".
    QCOMPARE(view->currentIndex().row(), list == QLatin1String("frmChoose") ? 1 : 0);
    const auto selectedRows = [view] {
        QList<int> rows;
        for (const QModelIndex& index : view->selectionModel()->selectedRows())
            rows.append(index.row());
        return rows;
    };
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(view);
    QVERIFY(iface && iface->tableInterface());
    QAccessibleTableInterface* table = iface->tableInterface();

    QVERIFY(table->selectRow(2));
    QCOMPARE(selectedRows(), QList<int>{2});
    QCOMPARE(table->selectedRows(), QList<int>{2});
    QCOMPARE(view->currentIndex().row(), 2);
    QVERIFY(!table->isRowSelected(0));
    if (review)
        QCOMPARE(review->controller->selectedRow(), 2);

    // A cell's own selection toggle, where the cell has one (a review tick's toggle ticks instead).
    QAccessibleInterface* cell = table->cellAt(1, 0);
    QAccessibleActionInterface* actions = cell ? cell->actionInterface() : nullptr;
    if (!review && actions && actions->actionNames().contains(QAccessibleActionInterface::toggleAction())) {
        actions->doAction(QAccessibleActionInterface::toggleAction());
        QCOMPARE(selectedRows(), QList<int>{1});
        QCOMPARE(view->currentIndex().row(), 1);
        QVERIFY(table->selectRow(2));
        QCOMPARE(selectedRows(), QList<int>{2});
    }
    // Unselecting the only row leaves it: the list always has its one row.
    table->unselectRow(2);
    QCOMPARE(selectedRows(), QList<int>{2});

    if (!editor.isEmpty()) {
        QString shown;
        WhenModal(editor, [&](QWidget* opened) {
            shown = opened->findChild<QLineEdit*>(entry)->text();
            static_cast<QDialog*>(opened)->reject();
        });
        dialog->findChild<QPushButton*>(QStringLiteral("cmdEdit"))->click();
        QCOMPARE(shown, list == QLatin1String("frmAccounts") ? QStringLiteral("Club")
                                                             : QStringLiteral("third@example.com"));
    }
    if (dialog)
        dialog->reject();
}

void AccessibilityTest::mainWindowIsNamedAndReadable() {
    QTemporaryDir dir;
    MainWindow window(dir.path());
    QVector<ReviewItem> rows{Row(1, true), Row(2, false)};
    window.review().model()->setItems(rows);
    window.RefreshCommandStates();
    window.resize(400, 300); // narrow: the toolbar overflows into its extension button
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    TIDEMARSH_VERIFY_ALL_NAMED(&window);
    // The parts a screen reader reported without a name.
    QCOMPARE(QAccessible::queryAccessibleInterface(window.menuBar())->text(QAccessible::Name),
             QStringLiteral("Menu bar"));
    const QList<std::pair<QString, QString>> menus{
        {QStringLiteral("mnuFile"), QStringLiteral("File")},
        {QStringLiteral("mnuActions"), QStringLiteral("Actions")},
        {QStringLiteral("mnuHelp"), QStringLiteral("Help")},
        {QStringLiteral("mnuPopUp"), QStringLiteral("QUILLORE Tidemarsh")}};
    for (const auto& [name, spoken] : menus) {
        QMenu* menu = window.menu(name);
        QVERIFY2(menu, qPrintable(name));
        QCOMPARE(QAccessible::queryAccessibleInterface(menu)->text(QAccessible::Name), spoken);
        TIDEMARSH_VERIFY_ALL_NAMED(menu);
    }
    auto* more = window.findChild<QToolBar*>(QStringLiteral("ToolBar1"))
                     ->findChild<QToolButton*>(QStringLiteral("qt_toolbar_ext_button"));
    QVERIFY(more);
    QVERIFY(!QAccessible::queryAccessibleInterface(more)->text(QAccessible::Name).isEmpty());
    auto* grip = window.statusBar()->findChild<QSizeGrip*>();
    QVERIFY(grip);
    QVERIFY(!QAccessible::queryAccessibleInterface(grip)->text(QAccessible::Name).isEmpty());

    // The status texts are read as they are.
    window.SetPanel1(QStringLiteral("Account: Home - 12 Message(s) to Review"));
    window.SetPanel2(QStringLiteral("Last Check: 08/12/2026 06:00"));
    QCOMPARE(QAccessible::queryAccessibleInterface(window.findChild<QLabel*>(QStringLiteral("panel1")))
                 ->text(QAccessible::Name),
             QStringLiteral("Account: Home - 12 Message(s) to Review"));
    QCOMPARE(QAccessible::queryAccessibleInterface(window.findChild<QLabel*>(QStringLiteral("panel2")))
                 ->text(QAccessible::Name),
             QStringLiteral("Last Check: 08/12/2026 06:00"));
}

void AccessibilityTest::menuAccessKeysAreUnique() {
    QTemporaryDir dir;
    MainWindow window(dir.path());
    QStringList clashes =
        a11ycheck::ClashingMenuMnemonics(window.menuBar()->actions(), QStringLiteral("menu bar"));
    clashes += a11ycheck::ClashingMenuMnemonics(window.menu(QStringLiteral("mnuPopUp"))->actions(),
                                                QStringLiteral("tray menu"));
    QVERIFY2(clashes.isEmpty(), qPrintable(clashes.join(QLatin1Char('\n'))));
    // Every menu of the bar has its key, and so has every entry the captions give one.
    for (QAction* top : window.menuBar()->actions())
        QVERIFY2(!a11ycheck::Mnemonic(top->text()).isNull(), qPrintable(top->text()));
    QCOMPARE(window.action(Command::ClearAccountsDetails)->text().remove(QLatin1Char('&')),
             QStringLiteral("Clear Accounts Details"));
}

// A screen reader walks from an entry to its menu and back: each entry must
// report the menu it was reached through, whichever menu was read first.
void AccessibilityTest::menuEntriesBelongToTheirMenu() {
    QTemporaryDir dir;
    MainWindow window(dir.path());
    for (const char* name : {"mnuFile", "mnuActions", "mnuHelp", "mnuPopUp"}) {
        QMenu* menu = window.menu(QLatin1String(name));
        QAccessibleInterface* spoken = QAccessible::queryAccessibleInterface(menu);
        QVERIFY2(spoken, name);
        for (int i = 0; i < spoken->childCount(); ++i) {
            QAccessibleInterface* entry = spoken->child(i);
            QVERIFY2(entry && entry->parent(), name);
            QVERIFY2(entry->parent()->object() == menu,
                     qPrintable(QLatin1String(name) + QLatin1Char(' ') + entry->text(QAccessible::Name)));
            QCOMPARE(spoken->indexOfChild(entry), i);
        }
    }
}

void AccessibilityTest::dialogsOpenReadyForTheKeyboard_data() {
    QTest::addColumn<QString>("dialog");
    QTest::addColumn<QString>("focus"); // objectName of the widget that must have the focus; empty: none
    QTest::addColumn<bool>("escapeCloses");
    QTest::newRow("frmCheckDone") << QStringLiteral("frmCheckDone") << QStringLiteral("cmdOK") << true;
    QTest::newRow("frmConfirm") << QStringLiteral("frmConfirm") << QStringLiteral("cmdOK") << true;
    QTest::newRow("frmError") << QStringLiteral("frmError") << QStringLiteral("cmdOK") << true;
    QTest::newRow("frmStatus") << QStringLiteral("frmStatus") << QStringLiteral("cmdCancel") << true;
    QTest::newRow("frmDelStatus") << QStringLiteral("frmDelStatus") << QString() << false;
    QTest::newRow("frmView") << QStringLiteral("frmView") << QStringLiteral("cmdClose") << true;
    QTest::newRow("frmCertificate") << QStringLiteral("frmCertificate") << QStringLiteral("cmdClose") << true;
    QTest::newRow("frmAccounts") << QStringLiteral("frmAccounts") << QStringLiteral("cmdClose") << true;
    QTest::newRow("frmEdit") << QStringLiteral("frmEdit") << QStringLiteral("txtAccount") << true;
    QTest::newRow("frmWiz") << QStringLiteral("frmWiz") << QStringLiteral("txtAccount") << true;
    QTest::newRow("frmChoose") << QStringLiteral("frmChoose") << QStringLiteral("cmdOK") << true;
    QTest::newRow("frmAccountDone") << QStringLiteral("frmAccountDone") << QStringLiteral("cmdOK") << true;
    QTest::newRow("frmReport") << QStringLiteral("frmReport") << QString() << true;
    QTest::newRow("frmFriends") << QStringLiteral("frmFriends") << QStringLiteral("cmdClose") << true;
    QTest::newRow("frmEnterFriend") << QStringLiteral("frmEnterFriend") << QStringLiteral("txtFriend")
                                    << true;
    QTest::newRow("frmOptions") << QStringLiteral("frmOptions") << QStringLiteral("cmdOK") << true;
    QTest::newRow("frmAbout") << QStringLiteral("frmAbout") << QStringLiteral("cmdOK") << true;
    QTest::newRow("help window") << QStringLiteral("main") << QString() << true;
}

void AccessibilityTest::dialogsOpenReadyForTheKeyboard() {
    QFETCH(QString, dialog);
    QFETCH(QString, focus);
    QFETCH(bool, escapeCloses);
    Folder folder;
    QTreeWidget accountList;
    QPushButton editButton, deleteButton;
    std::unique_ptr<QWidget> window;
    if (dialog == QLatin1String("frmCheckDone")) {
        window = std::make_unique<CheckDoneDialog>(QStringLiteral("Home"), QStringLiteral("12"),
                                                   folder.state.Settings, nullptr);
    } else if (dialog == QLatin1String("frmConfirm")) {
        window = std::make_unique<ConfirmDialog>(folder.state, nullptr);
    } else if (dialog == QLatin1String("frmError")) {
        window = std::make_unique<ErrorDialog>(QStringLiteral("Login failed.\r\n\r\nCode 3"), nullptr);
    } else if (dialog == QLatin1String("frmStatus")) {
        auto status = std::make_unique<StatusDialog>(nullptr);
        status->setCancelEnabled(true); // as the check does once it has a session to cancel
        window = std::move(status);
    } else if (dialog == QLatin1String("frmDelStatus")) {
        window = std::make_unique<DelStatusDialog>(nullptr);
    } else if (dialog == QLatin1String("frmView")) {
        window =
            std::make_unique<ViewDialog>(Row(1, false), QStringLiteral("Subject: Subject 1\r\n"), nullptr);
    } else if (dialog == QLatin1String("frmCertificate")) {
        pop3::TlsProblem problem;
        problem.host = QStringLiteral("pop.example.com");
        problem.port = 995;
        problem.reasons = {pop3::TlsProblem::Reason::SelfSigned};
        window = std::make_unique<CertificateDialog>(QStringLiteral("Check Mail"), problem, nullptr);
    } else if (dialog == QLatin1String("frmAccounts")) {
        window = std::make_unique<AccountsSetupDialog>(folder.state, nullptr);
    } else if (dialog == QLatin1String("frmEdit")) {
        window = std::make_unique<AccountEditor>(folder.state, 0, &accountList, &editButton, &deleteButton,
                                                 nullptr);
    } else if (dialog == QLatin1String("frmWiz")) {
        window = std::make_unique<WizardDialog>(folder.state, nullptr);
    } else if (dialog == QLatin1String("frmChoose")) {
        window = std::make_unique<ChooseDialog>(folder.state, nullptr);
    } else if (dialog == QLatin1String("frmAccountDone")) {
        window = std::make_unique<AccountDoneDialog>(nullptr);
    } else if (dialog == QLatin1String("frmReport")) {
        window = std::make_unique<ReportDialog>(AccountStore(folder.state.ProgramFolder).ReadAll(),
                                                QDate(2026, 12, 8), QLocale(QLocale::English), nullptr);
    } else if (dialog == QLatin1String("frmFriends")) {
        window = std::make_unique<FriendsDialog>(folder.state, nullptr);
    } else if (dialog == QLatin1String("frmEnterFriend")) {
        window = std::make_unique<EnterFriendDialog>(nullptr);
    } else if (dialog == QLatin1String("frmOptions")) {
        window = std::make_unique<OptionsDialog>(folder.state, nullptr);
    } else if (dialog == QLatin1String("frmAbout")) {
        window = std::make_unique<AboutDialog>(nullptr);
    } else {
        window = std::make_unique<help::HelpWindow>(qEnvironmentVariable("TIDEMARSH_HELP_FILE"));
    }
    QCOMPARE(window->objectName(), dialog);
    window->show();
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window.get()));

    QWidget* focused = QApplication::focusWidget();
    if (!focus.isEmpty()) {
        QVERIFY(focused);
        QCOMPARE(focused->objectName(), focus);
        // The focus a screen reader announces is the same control.
        QVERIFY(a11ycheck::FocusedNames(window.get())
                    .contains(QAccessible::queryAccessibleInterface(focused)->text(QAccessible::Name)));
    }
    if (focused && focused->window() == window.get())
        QVERIFY2(focused->objectName() != QLatin1String("chkShow"),
                 "the focus is on 'Do not show this again'");

    TIDEMARSH_VERIFY_ALL_NAMED(window.get());
    const QStringList clashes = a11ycheck::ClashingMnemonics(window.get());
    QVERIFY2(clashes.isEmpty(), qPrintable(clashes.join(QLatin1Char('\n'))));

    QTest::keyClick(window.get(), Qt::Key_Escape);
    QCOMPARE(window->isVisible(), !escapeCloses);
}

QTEST_MAIN(AccessibilityTest)
#include "accessibilitytest.moc"
