#pragma once

#include "shell/mainwindow.h"

#include <QString>
#include <QTemporaryDir>

#include <memory>

// The real main window in a fresh, private program folder, as the program runs
// it. The folder outlives the window, so a test can close the window and start
// it again on the same files; both go with the fixture, the window first.
namespace testsupport {

class MainWindowFixture {
public:
    MainWindowFixture();
    ~MainWindowFixture();
    MainWindowFixture(const MainWindowFixture&) = delete;
    MainWindowFixture& operator=(const MainWindowFixture&) = delete;

    bool isValid() const { return m_dir.isValid(); }
    // The folder, without a trailing '/'.
    QString path() const { return m_dir.path(); }
    QString filePath(const QString& name) const { return m_dir.filePath(name); }

    // A new window (an earlier one is closed first), not yet started. It is
    // given programFolder as its folder, by default this folder's path.
    MainWindow& create(const QString& programFolder = {});
    // create() and the start-up sequence; false when start-up refused.
    bool start();
    // The window's first activation, which counts the accounts (and with none
    // opens the wizard).
    bool waitForFirstActivation(int timeoutMs);
    bool startAndActivate(int timeoutMs) { return start() && waitForFirstActivation(timeoutMs); }
    // Deletes the window without its exit path; the folder stays.
    void closeWindow();

    bool hasWindow() const { return m_window != nullptr; }
    MainWindow& window() const { return *m_window; }
    MainWindow* operator->() const { return m_window.get(); }
    AppState& state() const { return m_window->state(); }
    // The texts of the status bar's two panes.
    QString panel1() const;
    QString panel2() const;

private:
    QTemporaryDir m_dir;
    std::unique_ptr<MainWindow> m_window;
};

} // namespace testsupport
