// allaccountsbench: Check All Accounts of the given accounts in the real main
// window (a fresh program folder, offscreen), then Accept All. Prints the wall
// time from the command to the filled list, the rows, and the process's memory
// (peak during the check, and after it).
// Usage: allaccountsbench CA_FILE USER PASSWORD ADDRESS [USER PASSWORD ADDRESS ...]
#include "common/messagebox.h"
#include "review/reviewcontroller.h"
#include "shell/mainwindow.h"
#include "store/accountstore.h"
#include "store/settingsstore.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <functional>

namespace {
// A field of /proc/self/status in MB ("VmRSS", "VmHWM").
double StatusMb(const char* field) {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(line.indexOf(':') + 1).trimmed().split(' ').value(0).toDouble() / 1024.0;
    return -1;
}

// From here on VmHWM counts again from the current size.
void ResetPeak() {
    QFile refs(QStringLiteral("/proc/self/clear_refs"));
    if (refs.open(QIODevice::WriteOnly))
        refs.write("5");
}

bool WaitFor(const std::function<bool()>& done, int timeoutMs) {
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    poll.start(5);
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    loop.exec();
    return done();
}
} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    if (argc < 5 || (argc - 2) % 3 != 0) {
        std::fprintf(stderr,
                     "usage: allaccountsbench CA_FILE USER PASSWORD ADDRESS [USER PASSWORD ADDRESS ...]\n");
        return 2;
    }
    QTemporaryDir folder;
    QFile::copy(QString::fromLocal8Bit(argv[1]), folder.filePath(QStringLiteral("Certificates.pem")));
    const int accounts = (argc - 2) / 3;
    for (int k = 0; k < accounts; ++k) {
        AccountRecord account;
        account.AccountName = QStringLiteral("Account %1").arg(k + 1);
        account.LoginName = QString::fromLocal8Bit(argv[2 + 3 * k]);
        account.LoginPassword = QString::fromLocal8Bit(argv[3 + 3 * k]);
        account.ServerAddress = QString::fromLocal8Bit(argv[4 + 3 * k]);
        AccountStore(folder.path()).AppendAccount(account);
    }
    SettingsRecord settings;
    settings.CheckDonePromptOff = 1;
    SettingsStore(folder.path()).SaveSettings(settings);
    QStringList told;
    ui::SetMessageBoxHandler([&told](const ui::MessageRequest& request) {
        told.append(request.title + QStringLiteral(": ") + request.text);
        return QMessageBox::Ok;
    });

    MainWindow window(folder.path());
    if (!window.Startup())
        return 1;
    // Offscreen the first activation may never come: count the accounts as it would.
    if (!WaitFor([&] { return window.state().ActivatedOnce; }, 2000)) {
        window.state().AccountCount = AccountStore(folder.path()).CountAccounts();
        window.RefreshCommandStates();
    }
    const double before = StatusMb("VmRSS");
    ResetPeak();
    QElapsedTimer clock;
    clock.start();
    window.action(Command::CheckAllAccounts)->trigger();
    const bool ended = WaitFor([&] { return !window.isWorking(); }, 600000);
    const double seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    const double peak = StatusMb("VmHWM");
    const double after = StatusMb("VmRSS");
    const int rows = window.review().rowCount();

    std::printf("Check All Accounts, %d accounts: %d messages listed in %.2f s%s\n", accounts, rows, seconds,
                ended ? "" : " (did not end)");
    std::printf("memory: %.0f MB before, peak %.0f MB during the check, %.0f MB with the list under review\n",
                before, peak, after);
    for (const QString& message : told)
        std::printf("told: %s\n", qPrintable(message));
    window.action(Command::AcceptAll)->trigger();
    WaitFor([] { return false; }, 1000); // the QUITs go out
    // Header files still queued would keep the folder from going.
    window.ExitApplication();
    return ended && told.isEmpty() ? 0 : 1;
}
