#pragma once

#include "appstate.h"

#include <QMainWindow>
#include <memory>

class QAction;
class ReviewController;

// frmMain: the program. Owns the shared state, the review list and its session,
// the command bars, the tray icon and the timers.
class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(const QString& programFolder, QWidget* parent = nullptr);
    ~MainWindow() override;

    // The start-up sequence. False when another copy already runs: the caller
    // then ends quietly, having touched nothing.
    bool Startup();

    void DispatchCommand(const QString& key);
    void RefreshCommandStates();

    void HideToTray();
    void RestoreFromTray();
    // The exit path: placement, settings, layout, open session; then quit.
    void ExitApplication();

    AppState& state();
    ReviewController& review();
    QAction* action(const QString& key) const;

private:
    struct Private;
    std::unique_ptr<Private> d;
};
