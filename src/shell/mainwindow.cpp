#include "shell/mainwindow.h"

#include "accounts/accountdonedialog.h"
#include "accounts/accountssetupdialog.h"
#include "accounts/choosedialog.h"
#include "accounts/clearaccountsdetails.h"
#include "accounts/reportdialog.h"
#include "accounts/wizarddialog.h"
#include "check/checkcycle.h"
#include "common/accessibility.h"
#include "common/commandicons.h"
#include "common/messagebox.h"
#include "common/storeerrorbox.h"
#include "friends/friendsdialog.h"
#include "help/helplauncher.h"
#include "offers/aboutdialog.h"
#include "offers/offerspane.h"
#include "offers/weblinks.h"
#include "options/optionsdialog.h"
#include "review/reviewarea.h"
#include "review/reviewcontroller.h"
#include "review/reviewlistview.h"
#include "shell/commandbars.h"
#include "shell/instancelock.h"
#include "shell/windowplacement.h"
#include "store/accountstore.h"
#include "store/extrasettings.h"
#include "store/headerfiles.h"
#include "store/settingsstore.h"
#include "watch/core/watchengine.h"
#include "watch/desktopnotifier.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QDockWidget>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QToolBar>

#include <optional>
#include <utility>

namespace {

// Trimmed, absolute, and ending in exactly one separator.
QString NormalisedFolder(const QString& folder) {
    QString path = QDir(folder.trimmed()).absolutePath();
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    return path;
}

QSizeF LogicalDpi(const QScreen* screen) {
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return {96.0, 96.0};
    return {screen->logicalDotsPerInchX(), screen->logicalDotsPerInchY()};
}

// While the window is in the tray: how often to look whether the tray is still there.
constexpr int kTrayWatchMs = 1000;
constexpr int kTrayHintDelayMs = 500;
const QString kShellGroup = QStringLiteral("Shell");
const QString kTrayHintKey = QStringLiteral("TrayHintShown");

QLabel* PlainLabel(const QString& name, const QString& description, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    label->setTextFormat(Qt::PlainText); // status texts may carry server data
    // No accessible name: the text itself is read, and a change of it is announced.
    label->setAccessibleDescription(description);
    return label;
}

} // namespace

struct MainWindow::Private {
    QString folder; // as handed in; ProgramFolder is set from it during start-up
    AppState state;
    std::unique_ptr<ReviewController> review;
    std::unique_ptr<CheckCycle> check;
    CommandBars* bars = nullptr;
    ReviewArea* area = nullptr; // the list above the preview pane
    ReviewListView* list = nullptr;
    QLabel* panel1 = nullptr;
    QLabel* panel2 = nullptr;
    QDockWidget* dock = nullptr;
    OffersPane* offers = nullptr; // holds picAd and Timer2
    QSystemTrayIcon* tray = nullptr;
    QTimer* trayWatch = nullptr; // runs only while the window is in the tray
    std::unique_ptr<InstanceLock> lock;
    watch::Engine* watch = nullptr;
    watch::DesktopNotifier* notifier = nullptr;
    QString pendingReview;   // a notification's Review, waiting for the first activation
    QString preferredChoice; // the account the Select Account dialog starts on
    QString trayMessageAccount;
    bool started = false;
    bool inFirstActivation = false;
    bool exited = false;
};

MainWindow::MainWindow(const QString& programFolder, QWidget* parent)
    : QMainWindow(parent), d(std::make_unique<Private>()) {
    // Nothing here may touch the disk: a second copy must leave every file alone.
    d->folder = programFolder;
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(tr("QUILLORE Tidemarsh"));
    setWindowIcon(ui::ApplicationIcon());
    resize(960, 640); // the size a maximised window returns to

    d->review = std::make_unique<ReviewController>(d->state, this);
    d->check = std::make_unique<CheckCycle>(d->state, *d->review, this);
    d->check->setAccountChooser([this] {
        ChooseDialog choose(d->state, this);
        if (!d->preferredChoice.isEmpty())
            choose.selectAccount(std::exchange(d->preferredChoice, {}));
        choose.exec();
        if (choose.allAccountsChosen()) {
            // "All accounts" runs its own command; this one stops here.
            d->check->RunCheckAllAccountsCommand();
            return false;
        }
        if (choose.chosenAccount())
            d->state.CurrentAccount = *choose.chosenAccount();
        return choose.chosenAccount().has_value();
    });

    d->bars = new CommandBars(this);
    connect(d->bars, &CommandBars::commandTriggered, this, &MainWindow::DispatchCommand);
    BuildReviewList();
    BuildStatusBar();
    BuildOffersDock();
    BuildTray();
    ui::NameWindowBars(this);

    d->state.hooks.setPanel1 = [this](const QString& text) { SetPanel1(text); };
    d->state.hooks.setPanel2 = [this](const QString& text) { SetPanel2(text); };
    d->state.hooks.refreshCommandStates = [this] { RefreshCommandStates(); };
    d->state.hooks.applyThemeColours = [this] { ApplyThemeColours(); };
}

void MainWindow::BuildReviewList() {
    d->area = new ReviewArea(*d->review, this);
    setCentralWidget(d->area);
    d->list = d->area->list();
    connect(d->list, &ReviewListView::detailsRequested, this, [this] {
        if (d->review->rowCount() > 0)
            d->review->MessageDetails();
    });
    connect(d->list, &ReviewListView::actionsMenuRequested, this, [this](const QPoint& at) {
        if (d->review->rowCount() > 0)
            menu(QStringLiteral("mnuActions"))->popup(at);
    });
}

void MainWindow::BuildStatusBar() {
    QStatusBar* status = statusBar();
    status->setObjectName(QStringLiteral("StatusBar1"));
    status->setAccessibleName(tr("Status bar"));
    d->panel1 = PlainLabel(QStringLiteral("panel1"), tr("Status"), status);
    d->panel2 = PlainLabel(QStringLiteral("panel2"), tr("Last check"), status);
    status->addWidget(d->panel1, 1);
    status->addPermanentWidget(d->panel2);
}

void MainWindow::BuildOffersDock() {
    // The name is what the saved bar layout knows the dock by.
    d->dock = new QDockWidget(tr("QUILLORE Software Offers"), this);
    d->dock->setObjectName(QStringLiteral("DockWindowForm1"));
    d->dock->setFeatures(QDockWidget::DockWidgetMovable | QDockWidget::DockWidgetFloatable);
    d->offers = new OffersPane(d->dock);
    d->dock->setWidget(d->offers);
    addDockWidget(Qt::BottomDockWidgetArea, d->dock);
}

void MainWindow::BuildTray() {
    d->tray = new QSystemTrayIcon(ui::ApplicationIcon(), this);
    d->tray->setToolTip(tr("QUILLORE Tidemarsh"));
    d->tray->setContextMenu(menu(QStringLiteral("mnuPopUp")));
    connect(d->tray, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) { onTrayActivated(reason); });
    connect(d->tray, &QSystemTrayIcon::messageClicked, this, [this] {
        if (!d->trayMessageAccount.isEmpty())
            ReviewFromNotification(d->trayMessageAccount);
    });
    // Qt tells nobody when the tray goes away (its panel ended, or restarts): look.
    d->trayWatch = new QTimer(this);
    d->trayWatch->setObjectName(QStringLiteral("trayWatch"));
    d->trayWatch->setInterval(kTrayWatchMs);
    connect(d->trayWatch, &QTimer::timeout, this, &MainWindow::WatchTray);
}

MainWindow::~MainWindow() {
    // The list view and the preview work on the review controller: they must go
    // before the controller does, not with the other child widgets afterwards.
    delete d->area;
    d->area = nullptr;
    d->list = nullptr;
}

bool MainWindow::Startup(bool hidden) {
    // Single instance first, before any file is created or read.
    d->lock = std::make_unique<InstanceLock>(d->folder);
    switch (d->lock->acquire()) {
    case InstanceLock::Result::Acquired:
        break;
    case InstanceLock::Result::HeldByOther:
        d->state.SecondInstance = true;
        ExitApplication();
        return false;
    case InstanceLock::Result::FolderNotWritable:
        ui::ShowMessage({this, ui::MessageIcon::Critical, tr("QUILLORE Tidemarsh"),
                         tr("QUILLORE Tidemarsh cannot write to its program folder:\n\n%1\n\n"
                            "It keeps your accounts, your Friends list and its settings there. "
                            "Move the program to a folder you can write to, or give yourself "
                            "write permission on this one, and start it again.")
                             .arg(QDir::toNativeSeparators(QDir(d->folder).absolutePath())),
                         QMessageBox::Ok, QMessageBox::Ok});
        return false;
    }

    d->state.ProgramFolder = NormalisedFolder(d->folder);
    const SettingsStore settings(d->state.ProgramFolder);
    try {
        if (const auto layout = settings.LoadLayout())
            restoreState(*layout);
    } catch (const StoreError&) {
        // The bars keep their built-in arrangement; the exit path writes the file anew.
    }
    d->area->restoreLayout(d->state.ProgramFolder);
    action(Command::PreviewPane)->setChecked(d->area->previewShown());
    d->offers->ShowNextOffer(); // and Timer2 from now on

    try {
        HeaderFiles::EnsureDataFolder(d->state.ProgramFolder);
    } catch (const StoreError&) {
        // The check reports it when it cannot write a header file.
    }

    RefreshCommandStates();

    bool created = false;
    try {
        created = settings.LoadSettings(d->state.Settings);
    } catch (const StoreError&) {
        // The program runs on the defaults (no placement, so the window starts
        // maximised); the Exit command tells the user if Config.dat cannot be
        // written either.
    }
    PlaceWindow(created);
    ApplyThemeColours();
    if (created)
        watch::WatchSettings::SetUpNewFolder(d->state.ProgramFolder);
    StartWatch();

    d->state.ActivatedOnce = false;
    d->started = true;
    ShowAtStartup(hidden);
    return true;
}

void MainWindow::ShowAtStartup(bool hidden) {
    int accounts = 0;
    if (hidden) {
        try {
            accounts = AccountStore(d->state.ProgramFolder).CountAccounts();
        } catch (const StoreError&) {
            // Shown: the first activation tells what is wrong with the file.
        }
    }
    if (accounts == 0) {
        // A hidden start with nothing to check would wait in the tray for
        // nothing: the new account wizard comes first.
        show();
        activateWindow(); // without a window manager nothing else would
        return;
    }
    d->state.AccountCount = accounts;
    RefreshCommandStates();
    // The first activation (the account check) runs when the window first comes back.
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        HideToTray();
        return;
    }
    setWindowState(windowState() | Qt::WindowMinimized);
    show();
}

void MainWindow::PlaceWindow(bool maximise) {
    SettingsRecord& s = d->state.Settings;
    if (WindowPlacement::HasPlacement(s)) {
        const QRect wanted = WindowPlacement::ToPixels(s, LogicalDpi(screen()));
        QList<QRect> screens;
        for (const QScreen* each : QGuiApplication::screens())
            screens.append(each->availableGeometry());
        if (WindowPlacement::IsUsable(wanted, screens)) {
            resize(wanted.size());
            move(wanted.topLeft());
        } else {
            // Not on any screen now (a monitor gone, a damaged record): start
            // maximised rather than out of reach.
            WindowPlacement::ClearPlacement(s);
            maximise = true;
        }
    } else {
        maximise = true;
    }
    if (maximise)
        setWindowState(windowState() | Qt::WindowMaximized);
}

void MainWindow::StorePlacement() {
    SettingsRecord& s = d->state.Settings;
    if (windowState() & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen))
        WindowPlacement::ClearPlacement(s);
    else
        WindowPlacement::StoreFromPixels(s, QRect(pos(), size()), LogicalDpi(screen()));
}

bool MainWindow::event(QEvent* event) {
    if (event->type() == QEvent::WindowActivate && d->started && !d->state.ActivatedOnce &&
        !d->inFirstActivation) {
        d->inFirstActivation = true;
        // Queued: the account check may open a modal wizard, which must not run
        // inside the activation event itself.
        QTimer::singleShot(0, this, &MainWindow::FirstActivation);
    }
    return QMainWindow::event(event);
}

void MainWindow::FirstActivation() {
    int count = 0;
    try {
        count = AccountStore(d->state.ProgramFolder).CountAccounts();
    } catch (const StoreError& error) {
        ui::ShowStoreError(this, tr("QUILLORE Tidemarsh"), {}, error);
    }
    if (count != 0)
        d->state.AccountCount = count;
    else
        RunNewAccountWizard();

    SetPanel1(d->state.AccountCount < 1 ? tr("No Accounts have been defined...")
                                        : tr("Click Check Mail to check for new mail..."));
    RefreshCommandStates();
    d->state.ActivatedOnce = true;
    d->inFirstActivation = false;
    if (!d->pendingReview.isEmpty())
        QTimer::singleShot(0, this, &MainWindow::RunPendingReview);
}

void MainWindow::RunNewAccountWizard() {
    // No accounts yet: the wizard leads the user through the first one and sets
    // AccountCount when it adds one.
    {
        WizardDialog wizard(d->state, this);
        wizard.exec();
    }
    if (d->state.AccountCount > 0) {
        ReloadWatch();
        SetPanel1(tr("Click Check Mail to check for new mail..."));
        AccountDoneDialog done(this);
        done.exec();
        RefreshCommandStates();
    }
    activateWindow(); // the dialogs had it; without a window manager nothing gives it back
}

// Every command has its case here: the compiler reports one without.
void MainWindow::DispatchCommand(Command command) {
    switch (command) {
    case Command::CheckMail:
        d->check->RunCheckMailCommand();
        break;
    case Command::CheckAllAccounts:
        d->check->RunCheckAllAccountsCommand();
        break;
    case Command::SendToTray:
        HideToTray();
        break;
    case Command::AccountsSetup:
        RunAccountsSetup();
        break;
    case Command::AccountsReport:
        ShowAccountsReport(this, d->state);
        break;
    case Command::ClearAccountsDetails:
        ClearAccountsDetails(this, d->state);
        break;
    case Command::FriendsManagement:
        friends::ShowFriendsDialog(d->state, this);
        break;
    case Command::Options:
        options::ShowOptionsDialog(d->state, this);
        ReloadWatch();
        break;
    case Command::Exit:
        RunExitPath(true); // the user asked: a settings file that cannot be saved is told
        break;
    case Command::AcceptAll:
        d->review->AcceptAll();
        break;
    case Command::DeleteUnchecked:
        d->review->DeleteUnchecked();
        break;
    case Command::CheckAll:
        d->review->CheckAll();
        break;
    case Command::CheckNone:
        d->review->CheckNone();
        break;
    case Command::MessageDetails:
        d->review->MessageDetails();
        break;
    case Command::AddFriends:
        d->review->AddFriends();
        break;
    case Command::PreviewPane:
        ShowPreviewPane(!d->area->previewShown());
        break;
    case Command::HelpContents:
        help::ShowContents(d->state.ProgramFolder, this);
        break;
    case Command::HelpOnline:
        offers::OpenMakerSite(this);
        break;
    case Command::About:
        offers::ShowAboutDialog(this);
        break;
    case Command::RestoreFromTray:
        RestoreFromTray();
        break;
    }
}

void MainWindow::ShowPreviewPane(bool shown) {
    d->area->setPreviewShown(shown);
    // From the menu the tick has already moved; from elsewhere it follows here.
    action(Command::PreviewPane)->setChecked(shown);
}

void MainWindow::RunAccountsSetup() {
    AccountsSetupDialog setup(d->state, this);
    setup.exec();
    RefreshCommandStates();
    ReloadWatch();
}

void MainWindow::RefreshCommandStates() {
    // While a check or a deletion runs nothing may start another; only Exit
    // stays, so the user can always leave (the running work is dropped without
    // QUIT, so nothing is deleted).
    const bool busy = d->state.BusyFlag;
    d->bars->toolBar()->setEnabled(!busy);
    d->bars->menuBar()->setEnabled(true);
    for (int i = 0; i < CommandCount; ++i) {
        const auto command = static_cast<Command>(i);
        action(command)->setEnabled(!busy || command == Command::Exit || command == Command::RestoreFromTray);
    }
    if (busy)
        return;
    const bool haveAccounts = d->state.AccountCount != 0;
    for (Command command : CommandBars::AccountCommands())
        action(command)->setEnabled(haveAccounts);
    // With one account Check Mail does the same.
    action(Command::CheckAllAccounts)->setEnabled(d->state.AccountCount >= 2);
    const bool haveRows = d->review->rowCount() > 0;
    for (Command command : CommandBars::ReviewCommands())
        action(command)->setEnabled(haveRows);
}

void MainWindow::HideToTray() {
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        setWindowState(windowState() | Qt::WindowMinimized);
        return;
    }
    // Icon first, so there is no moment with neither window nor icon.
    d->tray->show();
    hide();
    d->trayWatch->start();
    // Once the tray has taken the icon in, so the message points at it.
    QTimer::singleShot(kTrayHintDelayMs, this, [this] {
        if (d->tray->isVisible())
            TellAboutTrayOnce();
    });
}

void MainWindow::TellAboutTrayOnce() {
    const ExtraSettings extra(d->state.ProgramFolder);
    if (extra.value(kShellGroup, kTrayHintKey, false).toBool())
        return;
    d->tray->showMessage(tr("QUILLORE Tidemarsh"),
                         tr("QUILLORE Tidemarsh keeps running here in the tray. Click the icon to bring "
                            "the window back; to end the program, choose Exit from the icon's menu."),
                         QSystemTrayIcon::Information, 10000);
    // Not remembered when the file cannot be written: then it is told again next time.
    extra.setValue(kShellGroup, kTrayHintKey, true);
}

void MainWindow::WatchTray() {
    if (isVisible() || !d->tray->isVisible()) {
        d->trayWatch->stop();
        return;
    }
    // The icon went with its tray: the window is the only way back.
    if (!QSystemTrayIcon::isSystemTrayAvailable())
        RestoreFromTray();
}

void MainWindow::RestoreFromTray() {
    d->trayWatch->stop();
    d->tray->hide();
    if (windowState() & Qt::WindowMinimized)
        setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

void MainWindow::onTrayActivated(int reason) {
    switch (reason) {
    case QSystemTrayIcon::Trigger:
    case QSystemTrayIcon::DoubleClick:
        RestoreFromTray();
        break;
    case QSystemTrayIcon::Context:
        // The icon's own context menu (mnuPopUp) opens; bring the window
        // forward first when it is on screen.
        if (isVisible()) {
            raise();
            activateWindow();
        }
        break;
    default:
        break;
    }
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (d->exited) {
        event->accept();
        return;
    }
    if (event->spontaneous()) {
        // The close box only hides; the program keeps running in the tray.
        event->ignore();
        HideToTray();
        return;
    }
    // A close from inside the program (the application is quitting): that is the exit path.
    ExitApplication();
    event->accept();
}

void MainWindow::ExitApplication() {
    RunExitPath(false);
}

void MainWindow::SaveSettingsAndLayout(bool userAsked) {
    const SettingsStore settings(d->state.ProgramFolder);
    std::optional<StoreError> failure;
    try {
        settings.SaveSettings(d->state.Settings);
    } catch (const StoreError& error) {
        failure = error;
    }
    try {
        settings.SaveLayout(saveState());
    } catch (const StoreError& error) {
        if (!failure)
            failure = error;
    }
    // Skipped quietly: a pane that comes back at its default size is no loss worth a box.
    d->area->saveLayout(d->state.ProgramFolder);
    // Only the Exit command has someone to tell; at a signal or the session's end
    // a box would hold up the shutdown, and what was lost is lost either way.
    if (failure && userAsked)
        ui::ShowStoreError(this, tr("QUILLORE Tidemarsh"), tr("Your settings could not be saved."), *failure);
}

void MainWindow::RunExitPath(bool userAsked) {
    if (d->exited)
        return;
    d->exited = true;
    // Every step is tried whatever became of the one before.
    if (!d->state.SecondInstance && d->started) {
        StorePlacement();
        SaveSettingsAndLayout(userAsked);
        // Dropped without QUIT: a check or a deletion under way deletes nothing.
        d->check->Abandon();
        d->review->AbandonSession();
        if (d->watch)
            d->watch->stop();
        HeaderFiles::DropPendingWrites();
    }
    d->trayWatch->stop();
    d->tray->hide();
    if (d->lock)
        d->lock->release();
    Q_EMIT exitFinished();
}

void MainWindow::StartWatch() {
    d->watch = new watch::Engine(
        d->state.ProgramFolder, [this] { return d->state.Settings; }, this);
    // Test seam: tests look every second or so; users choose minutes.
    bool seam = false;
    const int intervalMs = qEnvironmentVariableIntValue("TIDEMARSH_WATCH_INTERVAL_MS", &seam);
    if (seam && intervalMs > 0)
        d->watch->setIntervalOverrideMs(intervalMs);
    // Checked, reviewed or deleted from: the program holds the account's session.
    d->watch->setAccountInUse([this](const QString& account) {
        if (d->state.BusyFlag &&
            (d->state.ReviewAccountName.isEmpty() || d->state.ReviewAccountName == account))
            return true;
        return d->review->holdsAccount(account);
    });
    d->notifier = new watch::DesktopNotifier(this);
    connect(d->watch, &watch::Engine::newMail, this,
            [this](const QString& account, const QList<watch::NewMessage>& newestFirst) {
                const watch::NotificationText text = watch::NewMailNotification(account, newestFirst);
                Notify(account, text.summary, text.body);
            });
    connect(d->watch, &watch::Engine::watchStopped, this,
            [this](const QString& account, const QString& words) {
                Notify(account, tr("Tidemarsh stopped watching %1").arg(account),
                       tr("%1. Check Mail for this account to watch it again.").arg(words));
            });
    connect(d->watch, &watch::Engine::statusChanged, this,
            [this] { d->tray->setToolTip(d->watch->tip(tr("QUILLORE Tidemarsh"))); });
    connect(d->notifier, &watch::DesktopNotifier::reviewRequested, this, &MainWindow::ReviewFromNotification);
    connect(d->notifier, &watch::DesktopNotifier::notShown, this,
            [this](const QString& account, const QString& summary, const QString& body) {
                NotifyInTray(account, summary, body);
            });
    d->state.hooks.accountClaimed = [this](const QString& account) { d->watch->claim(account); };
    d->state.hooks.accountListed = [this](const QString& account, const QList<QByteArray>& uidls,
                                          const QList<qint64>& sizes) {
        d->watch->reviewed(account, watch::SeenMessages{uidls, sizes});
    };
    d->watch->reload();
}

void MainWindow::ReloadWatch() {
    if (d->watch)
        d->watch->reload();
}

void MainWindow::Notify(const QString& account, const QString& summary, const QString& body) {
    if (!d->notifier->show(account, summary, body, true))
        NotifyInTray(account, summary, body);
}

void MainWindow::NotifyInTray(const QString& account, const QString& summary, const QString& body) {
    // Without a notification service the tray's balloon; without a tray, nothing pops up.
    if (!d->tray->isVisible())
        return;
    d->trayMessageAccount = account;
    d->tray->showMessage(summary, body, QSystemTrayIcon::Information, 15000);
}

void MainWindow::ReviewFromNotification(const QString& account) {
    RestoreFromTray();
    d->pendingReview = account;
    if (d->state.ActivatedOnce)
        QTimer::singleShot(0, this, &MainWindow::RunPendingReview);
    // Else the first activation runs it, once it has read the accounts.
}

void MainWindow::RunPendingReview() {
    const QString account = std::exchange(d->pendingReview, {});
    // Not over a dialog the user has open, nor into work under way.
    if (account.isEmpty() || d->state.BusyFlag || QApplication::activeModalWidget())
        return;
    AccountRecord record;
    try {
        if (AccountStore(d->state.ProgramFolder).FindAccountByName(account, &record) <= 0)
            return;
    } catch (const StoreError&) {
        return; // Check Mail by hand tells what is wrong with the file
    }
    d->state.CurrentAccount = record;
    d->preferredChoice = account;
    DispatchCommand(Command::CheckMail);
    d->preferredChoice.clear();
}

watch::Engine* MainWindow::watchEngine() const {
    return d->watch;
}

void MainWindow::ApplyThemeColours() {
    d->bars->setPlainColours(d->state.Settings.ThemeColoursOff != 0);
}

void MainWindow::SetPanel1(const QString& text) {
    d->panel1->setText(text);
}

void MainWindow::SetPanel2(const QString& text) {
    d->panel2->setText(text);
}

bool MainWindow::isWorking() const {
    return d->check->isRunning() || d->review->deletionRunning();
}

AppState& MainWindow::state() {
    return d->state;
}

ReviewController& MainWindow::review() {
    return *d->review;
}

QAction* MainWindow::action(Command command) const {
    return d->bars->action(command);
}

QMenu* MainWindow::menu(const QString& name) const {
    return d->bars->menu(name);
}
