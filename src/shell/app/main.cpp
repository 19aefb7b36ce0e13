#include "common/commandicons.h"
#include "shell/mainwindow.h"
#include "shell/terminationwatcher.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QSessionManager>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    // The application name stays the executable's: the single-instance lock
    // compares it with the running process's name to tell a live owner from a
    // reused PID. No display name either: it would be appended to every caption.
    QApplication::setOrganizationName(QStringLiteral("QUILLORE"));
    QApplication::setApplicationVersion(QStringLiteral("1.0"));
    QApplication::setDesktopFileName(QStringLiteral("tidemarsh"));
    QApplication::setWindowIcon(ui::ApplicationIcon());
    // The window lives on in the tray when closed; only the exit path ends the program.
    QApplication::setQuitOnLastWindowClosed(false);

    QCommandLineParser options;
    options.setApplicationDescription(
        QStringLiteral("Screens a POP3 mailbox before your mail program downloads anything."));
    options.addHelpOption();
    options.addVersionOption();
    // What the log-in start (the autostart entry) passes.
    const QCommandLineOption hidden(QStringLiteral("hidden"),
                                    QStringLiteral("Start in the tray (minimised where there is none)."));
    options.addOption(hidden);
    options.process(app);

    MainWindow window(QCoreApplication::applicationDirPath());

    // Ends every event loop, a modal dialog's included: each exec() returns as
    // if cancelled, and the POP3 work was dropped by the exit path already.
    QObject::connect(&window, &MainWindow::exitFinished, &app, [] { QCoreApplication::exit(0); });

    TerminationWatcher termination;
    QObject::connect(&termination, &TerminationWatcher::terminationRequested, &window,
                     &MainWindow::ExitApplication);
    // The end of the desktop session: save, as any other exit does.
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &window,
                     [&window](QSessionManager&) { window.ExitApplication(); });
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &window, &MainWindow::ExitApplication);

    if (!window.Startup(options.isSet(hidden)))
        return window.state().SecondInstance ? 0 : 1;
    return app.exec();
}
