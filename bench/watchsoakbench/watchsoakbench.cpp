// The watch left running: PEEKS looks (default 1,000) over ACCOUNTS accounts
// (default 20) at a one-second interval, each account on a scripted TLS server
// that answers its looks with the faults in turn, a good answer between two
// faults: a connection dropped in the middle of UIDL, a stall past the
// time-out, [IN-USE], [LOGIN-DELAY], a failed TLS handshake. Prints how the
// looks ended, whether two looks at one account ever overlapped, whether every
// session ended on both sides, and resident memory at the start and the end.
//   watchsoakbench [PEEKS] [ACCOUNTS]
#include "pop3/scriptedserver.h"
#include "store/accountstore.h"
#include "watch/core/watchengine.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QHash>
#include <QSet>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <memory>
#include <unistd.h>

namespace {

enum class Fault { DropInUidl, Stall, InUse, LoginDelay, Handshake, Count };

qint64 ResidentKb() {
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return -1;
    return statm.readAll().split(' ').value(1).toLongLong() * (sysconf(_SC_PAGESIZE) / 1024);
}

// One account's server: look k gets a good answer when k is even, else the next fault.
struct Box {
    std::unique_ptr<ScriptedPop3Server> server;
    int looks = 0;
    int faultTurn = 0;
    Fault fault = Fault::Count; // this look's; Count: a good answer
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int peeks = argc > 1 ? std::atoi(argv[1]) : 1000;
    const int accounts = argc > 2 ? std::atoi(argv[2]) : 20;
    QTemporaryDir dir;
    const QString folder = dir.path() + QLatin1Char('/');
    QFile::copy(ScriptedPop3Server::dataPath(QStringLiteral("ca.pem")),
                folder + QStringLiteral("Certificates.pem"));

    std::vector<Box> boxes(static_cast<size_t>(accounts));
    for (int i = 0; i < accounts; ++i) {
        Box& box = boxes[size_t(i)];
        box.server =
            std::make_unique<ScriptedPop3Server>(ScriptedPop3Server::Tls::Implicit, QStringLiteral("server"));
        box.server->headers = {"From: A <a@example.org>\r\nSubject: one\r\n",
                               "From: B <b@example.org>\r\nSubject: two\r\n"};
        box.server->hook = [&box](ScriptedPop3Server::Connection& c, const QByteArray& command, int) {
            if (command.startsWith("PASS") && box.fault == Fault::InUse) {
                c.send("-ERR [IN-USE] the mailbox is locked\r\n");
                return ScriptedPop3Server::Action::Handled;
            }
            if (command.startsWith("PASS") && box.fault == Fault::LoginDelay) {
                c.send("-ERR [LOGIN-DELAY] too soon\r\n");
                return ScriptedPop3Server::Action::Handled;
            }
            if (command == "UIDL" && box.fault == Fault::DropInUidl) {
                c.send("+OK\r\n1 uid1\r\n");
                c.drop();
                return ScriptedPop3Server::Action::Handled;
            }
            if (command == "UIDL" && box.fault == Fault::Stall)
                return ScriptedPop3Server::Action::Handled;
            return ScriptedPop3Server::Action::Default;
        };
        AccountRecord account;
        account.AccountName = QStringLiteral("Soak %1").arg(i + 1);
        account.LoginName = QStringLiteral("bob");
        account.LoginPassword = QString::fromLatin1(box.server->password);
        account.ServerAddress = QStringLiteral("pop3s://localhost:%1").arg(box.server->serverPort());
        AccountStore(folder).AppendAccount(account);
    }
    watch::WatchSettings on;
    on.enabled = true;
    on.save(folder);

    watch::Engine engine(folder, [] {
        SettingsRecord settings;
        settings.ServerPort = 110;
        settings.ServerTimeout = 1;
        return settings;
    });
    engine.setIntervalOverrideMs(1000);
    QSet<QString> running;
    int started = 0;
    int ended = 0;
    int overlaps = 0;
    QHash<int, int> endings; // result code -> looks
    qint64 rssStart = -1;
    QEventLoop loop; // a benchmark's own loop
    QObject::connect(&engine, &watch::Engine::peekStarted, &engine, [&](const QString& name) {
        if (running.contains(name))
            ++overlaps;
        running.insert(name);
        ++started;
        Box& box = boxes[size_t(name.section(QLatin1Char(' '), 1).toInt() - 1)];
        const bool good = box.looks++ % 2 == 0;
        box.fault = good ? Fault::Count : Fault(box.faultTurn++ % int(Fault::Count));
        box.server->failHandshake = box.fault == Fault::Handshake;
    });
    QObject::connect(&engine, &watch::Engine::peekEnded, &engine,
                     [&](const QString& name, const pop3::Failure& f) {
                         running.remove(name);
                         ++ended;
                         ++endings[int(f.code)];
                         if (ended == accounts * 2)
                             rssStart = ResidentKb(); // warm: every account has looked and been answered
                         if (ended >= peeks) {
                             engine.stop();
                             loop.quit();
                         }
                     });
    QElapsedTimer clock;
    clock.start();
    engine.reload();
    loop.exec();
    const qint64 seconds = clock.elapsed() / 1000;
    // The servers' side of the last sessions.
    QElapsedTimer grace;
    grace.start();
    int open = 0;
    do {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 100);
        open = 0;
        for (const Box& box : boxes)
            open += box.server->openConnections();
    } while (open > 0 && grace.elapsed() < 5000);
    const qint64 rssEnd = ResidentKb();

    std::printf("%d looks at %d accounts in %lld s (%d started)\n", ended, accounts, seconds, started);
    for (auto it = endings.cbegin(); it != endings.cend(); ++it)
        std::printf("  ended with code %2d: %d\n", it.key(), it.value());
    std::printf("overlapping looks at one account: %d\n", overlaps);
    std::printf("sessions still open at the servers 5 s after the end: %d\n", open);
    std::printf("resident memory: %lld KB after the first looks, %lld KB at the end (%+.1f %%)\n", rssStart,
                rssEnd, rssStart > 0 ? 100.0 * double(rssEnd - rssStart) / double(rssStart) : 0.0);
    return overlaps == 0 && open == 0 ? 0 : 1;
}
