#include "common/messagebox.h"
#include "review/core/reviewmodel.h"
#include "review/reviewcontroller.h"
#include "shell/commandbars.h"
#include "shell/mainwindow.h"
#include "shell/windowplacement.h"
#include "shelltestsupport.h"
#include "store/accountstore.h"
#include "support/dialogfixture.h"
#include "support/mainwindowfixture.h"
#include "support/modalhelper.h"
#include "support/testdata.h"

#include <QAbstractItemView>
#include <QDir>
#include <QDockWidget>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScopeGuard>
#include <QScreen>
#include <QSet>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

#include <memory>
#include <unistd.h>

using shelltest::In;

namespace {

const QList<Command> AlwaysAvailable{Command::SendToTray, Command::AccountsSetup, Command::FriendsManagement,
                                     Command::Options,    Command::Exit,          Command::HelpContents,
                                     Command::HelpOnline, Command::About,         Command::RestoreFromTray,
                                     Command::PreviewPane};

// A bar's entries as "objectName|caption", "-" for a separator. A toolbar shows
// each action as a button: its entries are the buttons' names and captions.
QStringList Entries(const QWidget* bar) {
    const auto* toolBar = qobject_cast<const QToolBar*>(bar);
    QStringList out;
    for (QAction* a : bar->actions()) {
        if (a->isSeparator()) {
            out.append(QStringLiteral("-"));
        } else if (toolBar) {
            const auto* button = qobject_cast<const QToolButton*>(toolBar->widgetForAction(a));
            out.append(button ? button->objectName() + QLatin1Char('|') + button->text() : QString());
        } else {
            out.append(a->objectName() + QLatin1Char('|') + a->text());
        }
    }
    return out;
}

ReviewItem Row(int number) {
    ReviewItem item;
    item.texts[ReviewItem::From] = QStringLiteral("Sender %1").arg(number);
    item.MessageNumber = number;
    return item;
}

} // namespace

class ShellTest : public QObject {
    Q_OBJECT

    std::unique_ptr<testsupport::MainWindowFixture> m_app;
    shelltest::WizardCloser m_wizardCloser;

    QString folder() const { return m_app->path(); }
    // A window in the current folder, started and through its first activation.
    MainWindow& start() {
        if (!m_app->start())
            qFatal("start-up refused");
        if (!m_app->waitForFirstActivation(5000))
            qFatal("no first activation");
        return m_app->window();
    }
    QString panel1() const { return m_app->panel1(); }

private Q_SLOTS:
    void init() {
        m_app = std::make_unique<testsupport::MainWindowFixture>();
        QVERIFY(m_app->isValid());
    }
    void cleanup() {
        m_app.reset();
        ui::SetMessageBoxHandler({});
    }

    void twipsConversion_data() {
        QTest::addColumn<double>("dpi");
        QTest::addColumn<QRect>("pixels");
        QTest::addColumn<QList<int>>("twips"); // left, top, width, height
        QTest::newRow("96 dpi: 15 twips a pixel")
            << 96.0 << QRect(100, 80, 600, 400) << QList<int>{1500, 1200, 9000, 6000};
        QTest::newRow("120 dpi: 12 twips a pixel")
            << 120.0 << QRect(-10, 0, 1000, 700) << QList<int>{-120, 0, 12000, 8400};
        QTest::newRow("144 dpi: 10 twips a pixel")
            << 144.0 << QRect(3, 5, 2000, 1500) << QList<int>{30, 50, 20000, 15000};
    }
    void twipsConversion() {
        QFETCH(double, dpi);
        QFETCH(QRect, pixels);
        QFETCH(QList<int>, twips);
        SettingsRecord s;
        WindowPlacement::StoreFromPixels(s, pixels, QSizeF(dpi, dpi));
        QCOMPARE((QList<int>{s.WindowLeft, s.WindowTop, s.WindowWidth, s.WindowHeight}), twips);
        QCOMPARE(WindowPlacement::ToPixels(s, QSizeF(dpi, dpi)), pixels);
    }

    void overflowLeavesFieldUnchanged() {
        SettingsRecord s;
        s.WindowLeft = 11;
        s.WindowTop = 22;
        s.WindowWidth = 33;
        s.WindowHeight = 44;
        // At 96 dpi 2184 px is 32760 twips (fits); 2185 px is 32775 (does not);
        // -2185 px is -32775 (does not).
        WindowPlacement::StoreFromPixels(s, QRect(-2185, 2184, 2185, 500), QSizeF(96, 96));
        QCOMPARE(s.WindowLeft, qint16(11));
        QCOMPARE(s.WindowTop, qint16(32760));
        QCOMPARE(s.WindowWidth, qint16(33));
        QCOMPARE(s.WindowHeight, qint16(7500));
    }

    void usablePlacement_data() {
        QTest::addColumn<QRect>("window");
        QTest::addColumn<bool>("usable");
        QTest::newRow("inside") << QRect(100, 100, 600, 400) << true;
        QTest::newRow("mostly off the right edge") << QRect(1880, 100, 600, 400) << true;
        QTest::newRow("a sliver on the first screen") << QRect(1900, 100, 90, 400) << false;
        QTest::newRow("on the second screen") << QRect(2100, 100, 600, 400) << true;
        QTest::newRow("on a monitor that is gone") << QRect(4000, 100, 600, 400) << false;
        QTest::newRow("above the screens") << QRect(100, -500, 600, 400) << false;
        QTest::newRow("no width") << QRect(100, 100, 0, 400) << false;
        QTest::newRow("negative height") << QRect(100, 100, 600, -5) << false;
    }
    void usablePlacement() {
        QFETCH(QRect, window);
        QFETCH(bool, usable);
        // 1920..1999 lies between the two screens.
        const QList<QRect> screens{QRect(0, 0, 1920, 1080), QRect(2000, 0, 1280, 1024)};
        QCOMPARE(WindowPlacement::IsUsable(window, screens), usable);
    }

    void startupInEmptyFolder_data() {
        QTest::addColumn<bool>("trailingSlash");
        QTest::newRow("folder") << false;
        QTest::newRow("folder ending in a separator") << true;
    }
    void startupInEmptyFolder() {
        QFETCH(bool, trailingSlash);
        m_app->create(folder() + (trailingSlash ? QStringLiteral("/") : QString()));
        QVERIFY(m_app->window().Startup());
        QCOMPARE(m_app->window().state().ProgramFolder, QDir(folder()).absolutePath() + QLatin1Char('/'));
        QVERIFY(!m_app->window().state().SecondInstance);

        QCOMPARE(shelltest::ReadAll(In(folder(), "Config.dat")), QByteArray::fromHex("00000000"
                                                                                     "6e00"
                                                                                     "1e00"
                                                                                     "0000"
                                                                                     "0000"
                                                                                     "0000"
                                                                                     "0000"
                                                                                     "0000"));
        QVERIFY(QFileInfo(In(folder(), "Data")).isDir());
        QVERIFY(m_app->window().isMaximized());
        QVERIFY(m_app->window().isVisible());
        QCOMPARE(m_app->window().windowTitle(), QStringLiteral("QUILLORE Tidemarsh"));
        QVERIFY(!QFileInfo::exists(In(folder(), "Tidemarsh.dsl"))); // written only at exit

        // First activation: the accounts are counted (which creates the store).
        QTRY_VERIFY(m_app->window().state().ActivatedOnce);
        QVERIFY(QFileInfo::exists(In(folder(), "Acc.dat")));
        QCOMPARE(QFileInfo(In(folder(), "Acc.dat")).size(), 0);
        QCOMPARE(panel1(), QStringLiteral("No Accounts have been defined..."));
        QCOMPARE(m_app->window().state().AccountCount, 0);
    }

    void firstActivationWithAccounts() {
        AccountRecord account;
        account.AccountName = QStringLiteral("Home");
        AccountStore(folder()).AppendAccount(account);
        AccountStore(folder()).AppendAccount(account);
        start();
        QCOMPARE(m_app->window().state().AccountCount, 2);
        QCOMPARE(panel1(), QStringLiteral("Click Check Mail to check for new mail..."));
        QVERIFY(m_app->window().action(Command::CheckMail)->isEnabled());
    }

    void restoreDoesNotRepeatAccountCheck() {
        start();
        QCOMPARE(panel1(), QStringLiteral("No Accounts have been defined..."));
        AccountRecord account;
        account.AccountName = QStringLiteral("Later");
        AccountStore(folder()).AppendAccount(account);

        QWidget other;
        other.show();
        other.activateWindow();
        QTRY_VERIFY(!m_app->window().isActiveWindow());
        m_app->window().HideToTray();
        m_app->window().RestoreFromTray();
        QTRY_VERIFY(m_app->window().isActiveWindow());
        QTest::qWait(50); // the account check would be queued behind the activation
        QCOMPARE(m_app->window().state().AccountCount, 0);
        QCOMPARE(panel1(), QStringLiteral("No Accounts have been defined..."));
    }

    void barsAsDesigned_data() {
        QTest::addColumn<QString>("container");
        QTest::addColumn<QStringList>("entries");
        QTest::newRow("toolbar") << QStringLiteral("ToolBar1")
                                 << testsupport::Strings(
                                        {"CheckMail|Check Mail", "CheckAllAccounts|All Accounts", "-",
                                         "CheckAll|Check All", "CheckNone|Check None",
                                         "MessageDetails|Message Details", "PreviewPane|Preview", "-",
                                         "AcceptAll|Accept All", "DeleteUnchecked|Delete Unchecked", "-",
                                         "AddFriends|Add to Friends", "-", "MainHelp|Help"});
        QTest::newRow("menu bar") << QStringLiteral("MenuBar1")
                                  << testsupport::Strings(
                                         {"mnuFile|&File", "mnuActions|&Actions", "mnuHelp|&Help"});
        QTest::newRow("File") << QStringLiteral("mnuFile")
                              << testsupport::Strings(
                                     {"mnuFileCheck|&Check Mail", "mnuFileCheckAll|Check &All Accounts", "-",
                                      "mnuFileTray|Send to System &Tray", "-",
                                      "mnuFileSetup|Accounts &Setup...", "mnuFileReport|Accounts &Report",
                                      "mnuFileClear|C&lear Accounts Details", "-",
                                      "mnuFileFriendsManagement|Friends Management...",
                                      "mnuFileOptions|Default &Options...", "-",
                                      "mnuFileExit|E&xit QUILLORE Tidemarsh"});
        QTest::newRow("Actions") << QStringLiteral("mnuActions")
                                 << testsupport::Strings(
                                        {"mnuActionsAccept|&Accept All", "mnuActionsDelete|&Delete Unchecked",
                                         "-", "mnuActionsAll|Check All", "mnuActionsNone|Check None", "-",
                                         "mnuActionsView|&View Message Details",
                                         "mnuActionsAdd|Add to &Friends", "-",
                                         "mnuActionsPreview|&Preview Pane"});
        QTest::newRow("Help") << QStringLiteral("mnuHelp")
                              << testsupport::Strings({"mnuHelpContents|&Contents", "-",
                                                       "mnuHelpOnline|QUILLORE &Online",
                                                       "mnuHelpAbout|&About QUILLORE Tidemarsh"});
        QTest::newRow("tray menu") << QStringLiteral("mnuPopUp")
                                   << testsupport::Strings({"mnuPopUpRestore|Restore QUILLORE Tidemarsh", "-",
                                                            "mnuPopUpExit|Exit QUILLORE Tidemarsh"});
    }
    void barsAsDesigned() {
        QFETCH(QString, container);
        QFETCH(QStringList, entries);
        MainWindow window(folder()); // the bars exist before start-up
        QWidget* bar = window.findChild<QWidget*>(container);
        QVERIFY2(bar, qPrintable(container));
        QCOMPARE(Entries(bar), entries);
        QVERIFY(window.findChild<QStatusBar*>(QStringLiteral("StatusBar1")));
        auto* dock = window.findChild<QDockWidget*>(QStringLiteral("DockWindowForm1"));
        QVERIFY(dock);
        QCOMPARE(dock->windowTitle(), QStringLiteral("QUILLORE Software Offers"));
        QVERIFY(dock->findChild<QWidget*>(QStringLiteral("picAd")));
        // Nothing is written before start-up.
        QCOMPARE(QDir(folder()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 QStringList());
    }

    // Each command is one action wherever it shows (its menu, the toolbar), so
    // its state is set once for all of them.
    void eachCommandIsOneAction() {
        MainWindow window(folder());
        QList<QAction*> onBars = window.findChild<QToolBar*>(QStringLiteral("ToolBar1"))->actions();
        for (const char* name : {"mnuFile", "mnuActions", "mnuHelp"})
            onBars += window.menu(QLatin1String(name))->actions();
        QSet<QAction*> commands;
        for (int i = 0; i < CommandCount; ++i)
            commands.insert(window.action(static_cast<Command>(i)));
        QCOMPARE(commands.size(), CommandCount);
        QVERIFY(!commands.contains(nullptr));
        for (QAction* a : std::as_const(onBars))
            QVERIFY2(a->isSeparator() || commands.contains(a), qPrintable(a->objectName()));
        for (QAction* a : std::as_const(commands))
            QVERIFY2(onBars.contains(a) != (a == window.action(Command::RestoreFromTray)),
                     qPrintable(a->objectName()));
        QVERIFY(window.menu(QStringLiteral("mnuPopUp"))
                    ->actions()
                    .contains(window.action(Command::RestoreFromTray)));
    }

    void commandIcons_data() {
        QTest::addColumn<QString>("key");
        QTest::addColumn<bool>("hasImage");
        const QStringList without = testsupport::Strings(
            {"mnuFileClear", "mnuFileExit", "mnuHelpOnline", "mnuHelpAbout", "mnuPopUpExit"});
        QTemporaryDir dir; // _data runs before init()
        MainWindow window(dir.path());
        for (QAction* a : window.findChildren<QAction*>()) {
            if (a->objectName().isEmpty() || a->menu())
                continue;
            QTest::newRow(qPrintable(a->objectName()))
                << a->objectName() << !without.contains(a->objectName());
        }
    }
    void commandIcons() {
        QFETCH(QString, key);
        QFETCH(bool, hasImage);
        MainWindow window(folder());
        const QIcon icon = window.findChild<QAction*>(key)->icon();
        QCOMPARE(!icon.isNull(), hasImage);
        if (hasImage) {
            const QImage image = icon.pixmap(16, 16).toImage();
            QVERIFY(!image.isNull());
            // A drawn icon, not a blank square: some pixels are opaque, some not.
            int opaque = 0;
            for (int y = 0; y < image.height(); ++y)
                for (int x = 0; x < image.width(); ++x)
                    opaque += qAlpha(image.pixel(x, y)) > 128;
            QVERIFY2(opaque > 10 && opaque < image.width() * image.height(),
                     qPrintable(QString::number(opaque)));
        }
    }

    // The table of command states, through the real actions and toolbar buttons.
    void commandStates_data() {
        QTest::addColumn<int>("accounts");
        QTest::addColumn<int>("rows");
        QTest::addColumn<bool>("busy");
        QTest::addColumn<bool>("barsEnabled");
        QTest::addColumn<bool>("accountCommands");
        QTest::addColumn<bool>("reviewCommands");
        QTest::addColumn<bool>("checkAllAccounts"); // two or more accounts, not busy
        QTest::newRow("no accounts, list empty") << 0 << 0 << false << true << false << false << false;
        QTest::newRow("accounts, list empty") << 3 << 0 << false << true << true << false << true;
        QTest::newRow("accounts, under review") << 1 << 2 << false << true << true << true << false;
        QTest::newRow("two accounts, under review") << 2 << 2 << false << true << true << true << true;
        // Busy: the toolbar goes off as a whole, and every command but Exit.
        QTest::newRow("busy after review state") << 1 << 2 << true << false << false << false << false;
        QTest::newRow("busy with two accounts") << 2 << 0 << true << false << false << false << false;
        QTest::newRow("busy without accounts") << 0 << 0 << true << false << false << false << false;
    }
    void commandStates() {
        QFETCH(int, accounts);
        QFETCH(int, rows);
        QFETCH(bool, busy);
        QFETCH(bool, barsEnabled);
        QFETCH(bool, accountCommands);
        QFETCH(bool, reviewCommands);
        QFETCH(bool, checkAllAccounts);
        MainWindow& w = start();
        w.state().AccountCount = accounts;
        for (int i = 1; i <= rows; ++i)
            w.review().model()->addItem(Row(i));
        QCOMPARE(w.review().rowCount(), rows);
        w.RefreshCommandStates();
        w.state().BusyFlag = busy;
        w.RefreshCommandStates();

        auto* menuBar = w.findChild<QMenuBar*>(QStringLiteral("MenuBar1"));
        auto* toolBar = w.findChild<QToolBar*>(QStringLiteral("ToolBar1"));
        // The menu bar stays: File > Exit must always work.
        QVERIFY(menuBar->isEnabled());
        QVERIFY(w.action(Command::Exit)->isEnabled());
        QCOMPARE(toolBar->isEnabled(), barsEnabled);
        for (Command command : CommandBars::AccountCommands())
            QVERIFY2(w.action(command)->isEnabled() == accountCommands,
                     qPrintable(w.action(command)->objectName()));
        for (Command command : CommandBars::ReviewCommands())
            QVERIFY2(w.action(command)->isEnabled() == reviewCommands,
                     qPrintable(w.action(command)->objectName()));
        for (Command command : AlwaysAvailable)
            QVERIFY2(w.action(command)->isEnabled() ==
                         (!busy || command == Command::Exit || command == Command::RestoreFromTray),
                     qPrintable(w.action(command)->objectName()));
        QCOMPARE(w.action(Command::CheckAllAccounts)->isEnabled(), checkAllAccounts);
        // What the user can press on the toolbar.
        for (QAction* a : toolBar->actions()) {
            if (a->isSeparator())
                continue;
            QWidget* button = toolBar->widgetForAction(a);
            QVERIFY(button);
            QCOMPARE(button->isEnabled(), barsEnabled && a->isEnabled());
        }
        // The tray menu stays usable whatever the state.
        QVERIFY(w.menu(QStringLiteral("mnuPopUp"))->isEnabled());
    }

    // Shift+F5 is Check All Accounts, and like F5 it does nothing while a check runs.
    void shiftF5ChecksAllAccounts() {
        MainWindow& w = start();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        w.state().AccountCount = 2;
        w.RefreshCommandStates();
        QSignalSpy all(w.action(Command::CheckAllAccounts), &QAction::triggered);
        QSignalSpy one(w.action(Command::CheckMail), &QAction::triggered);
        QTest::keyClick(&w, Qt::Key_F5, Qt::ShiftModifier);
        QCOMPARE(all.count(), 1);
        QCOMPARE(one.count(), 0);
        // No account to be found in Acc.dat: nothing to check, nothing to tell.
        QTRY_VERIFY(!w.isWorking());
        w.state().BusyFlag = true;
        w.RefreshCommandStates();
        QTest::keyClick(&w, Qt::Key_F5, Qt::ShiftModifier);
        QCOMPARE(all.count(), 1);
        w.state().BusyFlag = false;
    }

    void shortcutsFollowTheBars() {
        MainWindow& w = start();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        w.state().AccountCount = 1;
        w.RefreshCommandStates();
        QSignalSpy help(w.action(Command::HelpContents), &QAction::triggered);
        QSignalSpy check(w.action(Command::CheckMail), &QAction::triggered);
        // This program folder has no help file: its message is answered here.
        QStringList told;
        ui::SetMessageBoxHandler([&told](const ui::MessageRequest& r) {
            told << r.title;
            return QMessageBox::Ok;
        });
        const auto restoreBoxes = qScopeGuard([] { ui::SetMessageBoxHandler({}); });
        QTest::keyClick(&w, Qt::Key_F1);
        QCOMPARE(help.count(), 1);
        QCOMPARE(told, QStringList{QStringLiteral("QUILLORE Tidemarsh Help")});

        // While a check runs nothing on the bars may start another one, keys included.
        w.state().BusyFlag = true;
        w.RefreshCommandStates();
        QTest::keyClick(&w, Qt::Key_F5);
        QTest::keyClick(&w, Qt::Key_F1);
        QCOMPARE(check.count(), 0);
        QCOMPARE(help.count(), 1);
    }

    // Closing Accounts Setup brings the account commands up to date: an account
    // added there turns them on as soon as the dialog is gone.
    void accountsSetupRefreshesCommands() {
        MainWindow& w = start(); // no accounts: the wizard is closed unanswered
        const QList<Command> keys{Command::CheckMail, Command::AccountsReport, Command::ClearAccountsDetails};
        const auto enabled = [&w, &keys] {
            QList<bool> states;
            for (Command key : keys)
                states.append(w.action(key)->isEnabled());
            return states;
        };
        QCOMPARE(w.state().AccountCount, 0);
        QCOMPARE(enabled(), QList<bool>(keys.size(), false));

        bool editorSeen = false;
        WhenModal(QStringLiteral("frmAccounts"), [&editorSeen](QWidget* setup) {
            WhenModal(QStringLiteral("frmEdit"), [&editorSeen](QWidget* editor) {
                editorSeen = true;
                const std::pair<const char*, const char*> fields[] = {{"txtAccount", "Work"},
                                                                      {"txtLogin", "me"},
                                                                      {"txtPassword", "pw"},
                                                                      {"txtServer", "pop.example.org"}};
                for (const auto& [box, text] : fields) {
                    auto* entry = testsupport::Child<QLineEdit>(editor, box);
                    entry->setFocus();
                    QTest::keyClicks(entry, QString::fromLatin1(text));
                }
                testsupport::Child<QPushButton>(editor, "cmdOK")->click();
            });
            testsupport::Child<QPushButton>(setup, "cmdNew")->click();
            testsupport::Child<QPushButton>(setup, "cmdClose")->click();
        });
        w.action(Command::AccountsSetup)->trigger();
        QVERIFY(editorSeen);
        QCOMPARE(w.state().AccountCount, 1);
        QCOMPARE(enabled(), QList<bool>(keys.size(), true));
    }

    void reviewCommandsReachTheList() {
        MainWindow& w = start();
        for (int i = 1; i <= 3; ++i)
            w.review().model()->addItem(Row(i));
        w.RefreshCommandStates();
        ReviewModel* model = w.review().model();
        w.action(Command::CheckAll)->trigger();
        QCOMPARE(model->firstUnticked(), -1);
        w.action(Command::CheckNone)->trigger();
        QCOMPARE(model->firstUnticked(), 0);
        w.action(Command::CheckAll)->trigger();
        QCOMPARE(model->firstUnticked(), -1);
        QCOMPARE(model->rowCount(), 3);
    }

    void listRightClickShowsActionsMenu() {
        MainWindow& w = start();
        auto* list = w.findChild<QAbstractItemView*>(QStringLiteral("ListView1"));
        QVERIFY(list);
        QVERIFY(w.centralWidget()->isAncestorOf(list)); // above the preview pane
        QMenu* actions = w.menu(QStringLiteral("mnuActions"));
        const QPoint inside = list->viewport()->rect().center();

        QTest::mouseClick(list->viewport(), Qt::RightButton, {}, inside);
        QVERIFY(!actions->isVisible()); // nothing listed, nothing to act on

        w.review().model()->addItem(Row(1));
        w.RefreshCommandStates();
        QTest::mouseClick(list->viewport(), Qt::RightButton, {}, inside);
        // The main menu's own Actions menu, with its states.
        QTRY_VERIFY(actions->isVisible());
        QVERIFY(
            w.findChild<QMenuBar*>(QStringLiteral("MenuBar1"))->actions().contains(actions->menuAction()));
        QVERIFY(w.action(Command::MessageDetails)->isEnabled());
        actions->hide();
    }

    // A bar layout saved by an earlier run (the toolbar moved to the left, the
    // offers above the list) comes back: the bars keep the names it knows them by.
    void savedLayoutRestores() {
        const QByteArray saved = QByteArray::fromHex(
            "000000ff00000000fd0000000100000002000002fe0000006bfc0100000001fb0000001e0044006f0063006b00570069"
            "006e0064006f00770046006f0072006d00310100000086000002fe000001e000ffffff000002fe000001be0000000400"
            "0000040000000800000008fc000000010000000000000001000000100054006f006f006c004200610072003103000000"
            "00ffffffff0000000000000000");
        QFile file(In(folder(), "Tidemarsh.dsl"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(saved);
        file.close();
        MainWindow& w = start();
        QCOMPARE(w.toolBarArea(w.findChild<QToolBar*>(QStringLiteral("ToolBar1"))), Qt::LeftToolBarArea);
        QCOMPARE(w.dockWidgetArea(w.findChild<QDockWidget*>(QStringLiteral("DockWindowForm1"))),
                 Qt::TopDockWidgetArea);
    }

    void exitStoresPlacement() {
        SettingsRecord initial;
        const QSizeF dpi(QGuiApplication::primaryScreen()->logicalDotsPerInchX(),
                         QGuiApplication::primaryScreen()->logicalDotsPerInchY());
        WindowPlacement::StoreFromPixels(initial, QRect(100, 80, 600, 400), dpi);
        initial.ServerPort = 995;
        QVERIFY(shelltest::WriteConfig(folder(), initial));

        // Normal window: placed from the record, its position and size stored again.
        start();
        QVERIFY(!m_app->window().isMaximized());
        QCOMPARE(m_app->window().pos(), QPoint(100, 80));
        QCOMPARE(m_app->window().size(), QSize(600, 400));
        m_app->window().move(150, 90);
        m_app->window().resize(640, 420);
        QSignalSpy finished(&m_app->window(), &MainWindow::exitFinished);
        m_app->window().action(Command::Exit)->trigger();
        QCOMPARE(finished.count(), 1);
        SettingsRecord expected = initial;
        WindowPlacement::StoreFromPixels(expected, QRect(150, 90, 640, 420), dpi);
        QCOMPARE(shelltest::ReadAll(In(folder(), "Config.dat")), SettingsStore::Encode(expected));
        QVERIFY(QFileInfo::exists(In(folder(), "Tidemarsh.dsl")));
        QVERIFY(!QFileInfo::exists(In(folder(), "Tidemarsh.lock")));
        m_app->window().ExitApplication(); // runs once only
        QCOMPARE(finished.count(), 1);

        // The next start puts it back; maximised at exit stores zeros.
        start();
        QCOMPARE(m_app->window().pos(), QPoint(150, 90));
        QCOMPARE(m_app->window().size(), QSize(640, 420));
        m_app->window().showMaximized();
        m_app->window().ExitApplication();
        QCOMPARE(shelltest::ConfigFields(folder()), (QList<int>{0, 0, 995, 30, 0, 0, 0, 0, 0}));

        start();
        QVERIFY(m_app->window().isMaximized());
        m_app->window().showNormal();
        m_app->window().showMinimized();
        m_app->window().ExitApplication();
        QCOMPARE(shelltest::ConfigFields(folder()), (QList<int>{0, 0, 995, 30, 0, 0, 0, 0, 0}));
    }

    void settingsThatCannotBeSavedAreReportedOnExit() {
        QList<ui::MessageRequest> boxes;
        start();
        ui::SetMessageBoxHandler([&boxes](const ui::MessageRequest& request) {
            boxes.append(request);
            return QMessageBox::Ok;
        });
        // A folder in Config.dat's place: it can be neither read nor replaced.
        QVERIFY(QFile::remove(In(folder(), "Config.dat")));
        QVERIFY(QDir(folder()).mkdir(QStringLiteral("Config.dat")));
        // Exits nobody asked for here (a signal, the session's end) stay quiet.
        m_app->window().ExitApplication();
        QVERIFY(boxes.isEmpty());

        start(); // on the defaults, quietly
        QVERIFY(boxes.isEmpty());
        QVERIFY(QFile::remove(In(folder(), "Tidemarsh.dsl")));
        m_app->window().action(Command::Exit)->trigger();
        QCOMPARE(boxes.size(), 1);
        QCOMPARE(boxes.first().icon, ui::MessageIcon::Warning);
        QVERIFY2(boxes.first().text.startsWith(QStringLiteral("Your settings could not be saved.\r\n\r\n"
                                                              "Could not write Config.dat: ")),
                 qPrintable(boxes.first().text));
        QVERIFY(QFileInfo::exists(In(folder(), "Tidemarsh.dsl"))); // tried all the same
    }

    void placementOffScreenMaximises() {
        SettingsRecord initial;
        initial.WindowLeft = 30000; // 2000 px at 96 dpi: beyond any screen here
        initial.WindowTop = 1500;
        initial.WindowWidth = 9000;
        initial.WindowHeight = 6000;
        QVERIFY(shelltest::WriteConfig(folder(), initial));
        start();
        QVERIFY(m_app->window().isMaximized());
        QVERIFY(!WindowPlacement::HasPlacement(m_app->window().state().Settings));
    }

    void themeColoursAppliedAtStart_data() {
        QTest::addColumn<int>("themeColoursOff");
        QTest::newRow("desktop colours") << 0;
        QTest::newRow("plain colours") << 1;
    }
    void themeColoursAppliedAtStart() {
        QFETCH(int, themeColoursOff);
        SettingsRecord s;
        s.ThemeColoursOff = static_cast<qint16>(themeColoursOff);
        QVERIFY(shelltest::WriteConfig(folder(), s));
        start();
        const bool plain = themeColoursOff != 0;
        for (const char* name : {"MenuBar1", "ToolBar1", "StatusBar1"}) {
            auto* bar = m_app->window().findChild<QWidget*>(QLatin1String(name));
            QVERIFY(bar);
            QCOMPARE(bar->autoFillBackground(), plain);
            // Plain: our own grey; otherwise nothing of the bar's own, all inherited.
            QCOMPARE(bar->palette().resolveMask() != 0, plain);
            if (plain)
                QCOMPARE(bar->palette().color(QPalette::Window), QColor(0xF0, 0xF0, 0xF0));
        }
        // And back, as the Options dialog does at once.
        m_app->window().state().Settings.ThemeColoursOff = static_cast<qint16>(plain ? 0 : 1);
        m_app->window().ApplyThemeColours();
        QCOMPARE(m_app->window().findChild<QWidget*>(QStringLiteral("ToolBar1"))->autoFillBackground(),
                 !plain);
    }

    void unwritableFolderIsRefused() {
        QString target = folder();
        if (::geteuid() == 0)
            target = QStringLiteral("/proc/self/fdinfo"); // root writes anywhere a mode allows
        else
            QVERIFY(QFile::setPermissions(target, QFile::ReadOwner | QFile::ExeOwner));
        QList<ui::MessageRequest> shown;
        ui::SetMessageBoxHandler([&shown](const ui::MessageRequest& r) {
            shown.append(r);
            return QMessageBox::Ok;
        });
        MainWindow window(target);
        QVERIFY(!window.Startup());
        QVERIFY(!window.state().SecondInstance);
        QVERIFY(!window.isVisible());
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown[0].icon, ui::MessageIcon::Critical);
        QCOMPARE(shown[0].title, QStringLiteral("QUILLORE Tidemarsh"));
        QVERIFY2(shown[0].text.contains(target), qPrintable(shown[0].text));
        QFile::setPermissions(folder(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QCOMPARE(QDir(folder()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 QStringList());
    }
};

QTEST_MAIN(ShellTest)
#include "shelltest.moc"
