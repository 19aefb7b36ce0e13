// One background look at a large mailbox, three times: the first (it only
// remembers the listing), one after NEW messages arrived (TOP for those only),
// and one with nothing new. Prints the time of each and what it found.
//   peekbench CAFILE USER PASSWORD ADDRESS MAILDIR [NEW]
// With FOLDER for MAILDIR and --folder after it, it only sets up FOLDER as a
// program folder watching that account every minute (for the idle figures).
#include "store/accountstore.h"
#include "watch/core/peek.h"
#include "watch/core/watchengine.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

namespace {

watch::PeekResult RunPeek(const AccountRecord& account, const QString& folder,
                          const std::optional<watch::SeenMessages>& seen, qint64& ms) {
    SettingsRecord settings;
    settings.ServerPort = 110;
    settings.ServerTimeout = 60;
    watch::Peek peek(account, settings, folder, seen, nullptr);
    watch::PeekResult result;
    QEventLoop loop; // a benchmark's own loop, outside the program
    QObject::connect(&peek, &watch::Peek::finished, &loop, [&](const watch::PeekResult& r) {
        result = r;
        loop.quit();
    });
    QElapsedTimer clock;
    clock.start();
    peek.start();
    loop.exec();
    ms = clock.elapsed();
    return result;
}

// New mail as a delivery agent leaves it: a file in new/, owned like the rest.
bool Deliver(const QString& maildir, int count) {
    struct stat owner {};
    if (::stat(QFile::encodeName(maildir).constData(), &owner) != 0)
        return false;
    for (int i = 0; i < count; ++i) {
        const QString path = QDir(maildir).filePath(QStringLiteral("new/%1.peekbench%2.%3")
                                                        .arg(QDateTime::currentSecsSinceEpoch())
                                                        .arg(i)
                                                        .arg(getpid()));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            return false;
        file.write("From: New Sender " + QByteArray::number(i) + " <new" + QByteArray::number(i) +
                   "@example.org>\nTo: user@example.org\nSubject: Arrived while watched " +
                   QByteArray::number(i) + "\nDate: Tue, 8 Dec 2026 12:00:00 +0000\nMessage-ID: <peekbench" +
                   QByteArray::number(i) + "@example.org>\n\nBody\n");
        file.close();
        if (::chown(QFile::encodeName(path).constData(), owner.st_uid, owner.st_gid) != 0)
            return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 6) {
        std::fprintf(stderr, "usage: peekbench CAFILE USER PASSWORD ADDRESS MAILDIR [NEW]\n");
        return 2;
    }
    const bool setUpOnly = args.size() > 6 && args.at(6) == QStringLiteral("--folder");
    const int fresh = args.size() > 6 && !setUpOnly ? args.at(6).toInt() : 10;
    QTemporaryDir dir;
    const QString folder = setUpOnly ? args.at(5) + QLatin1Char('/') : dir.path() + QLatin1Char('/');
    QFile::copy(args.at(1), folder + QStringLiteral("Certificates.pem"));
    AccountRecord account;
    account.AccountName = QStringLiteral("Bench");
    account.LoginName = args.at(2);
    account.LoginPassword = args.at(3);
    account.ServerAddress = args.at(4);
    AccountStore(folder).AppendAccount(account);
    if (setUpOnly) {
        watch::WatchSettings every;
        every.enabled = true;
        every.minutes = 1;
        return every.save(folder) ? 0 : 1;
    }

    qint64 ms = 0;
    const watch::PeekResult first = RunPeek(account, folder, std::nullopt, ms);
    if (!first.failure.isOk()) {
        std::fprintf(stderr, "first look failed: code %d %s\n", int(first.failure.code),
                     qPrintable(first.failure.words));
        return 1;
    }
    std::printf("first look (remembers the listing): %lld ms, %d messages\n", ms, first.total);
    if (!Deliver(args.at(5), fresh)) {
        std::fprintf(stderr, "could not deliver to %s\n", qPrintable(args.at(5)));
        return 1;
    }
    const watch::PeekResult second = RunPeek(account, folder, first.seenNow, ms);
    std::printf("look with %d new: %lld ms, %d messages, %lld told as new\n", fresh, ms, second.total,
                qint64(second.fresh.size()));
    const watch::PeekResult third = RunPeek(account, folder, second.seenNow, ms);
    std::printf("look with nothing new: %lld ms, %lld told as new\n", ms, qint64(third.fresh.size()));
    return second.fresh.size() == fresh && third.fresh.isEmpty() ? 0 : 1;
}
