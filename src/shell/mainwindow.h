#pragma once

#include "common/appstate.h"
#include "shell/commandbars.h"

#include <QMainWindow>
#include <memory>

class QAction;
class QMenu;
class ReviewController;
namespace watch {
class Engine;
}

// frmMain: the program. Owns the shared state, the review list and its session,
// the command bars, the tray icon and the timers.
class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(const QString& programFolder, QWidget* parent = nullptr);
    ~MainWindow() override;

    // The start-up sequence. False when another copy already runs (the caller
    // then ends quietly, having touched nothing; SecondInstance is set) or when
    // the program folder cannot be written (the user has been told). Hidden
    // (the log-in start) puts the window straight into the tray, or minimises it
    // where there is none; with no account yet it shows, for the wizard.
    bool Startup(bool hidden = false);

    void DispatchCommand(Command command);
    void RefreshCommandStates();

    // Where the desktop has no tray, both minimise instead, and when the tray
    // goes away with the window in it, the window comes back: it must never
    // vanish with no way back. The first time it goes to the tray the icon
    // says so once (remembered in Tidemarsh.ini).
    void HideToTray();
    void RestoreFromTray();
    // The exit path: placement, settings, layout, open session; then
    // exitFinished. Runs once; later calls do nothing. Settings that cannot be
    // saved are not reported here: this path also runs at a signal or at the end
    // of the desktop session, with nobody there to answer a box.
    void ExitApplication();

    // The bars in plain colours when ThemeColoursOff is non-zero, else the desktop's.
    void ApplyThemeColours();
    void SetPanel1(const QString& text);
    void SetPanel2(const QString& text);

    // A check or a deletion is under way (the POP3 work runs on; the window stays live).
    bool isWorking() const;

    AppState& state();
    ReviewController& review();
    QAction* action(Command command) const;
    // mnuFile, mnuActions, mnuHelp, mnuPopUp
    QMenu* menu(const QString& name) const;
    // The background watch; null before Startup.
    watch::Engine* watchEngine() const;
    // A notification's Review: the window comes back and Check Mail runs for
    // the account (through Select Account when there are several).
    void ReviewFromNotification(const QString& account);

Q_SIGNALS:
    // The exit path has run: the process should end now.
    void exitFinished();

protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildReviewList();
    void BuildStatusBar();
    void BuildOffersDock();
    void BuildTray();
    void RunAccountsSetup();
    // The preview pane and the tick of its command.
    void ShowPreviewPane(bool shown);
    void FirstActivation();
    void RunNewAccountWizard();
    void PlaceWindow(bool maximise);
    void ShowAtStartup(bool hidden);
    void StorePlacement();
    // The Exit command runs the exit path with userAsked set: the user is then
    // told when the settings could not be saved.
    void RunExitPath(bool userAsked);
    void SaveSettingsAndLayout(bool userAsked);
    void onTrayActivated(int reason);
    void TellAboutTrayOnce();
    void WatchTray();
    void StartWatch();
    void ReloadWatch();
    void RunPendingReview();
    void Notify(const QString& account, const QString& summary, const QString& body);
    void NotifyInTray(const QString& account, const QString& summary, const QString& body);

    struct Private;
    std::unique_ptr<Private> d;
};
