// The watch without a screen: what counts as new, the schedule's arithmetic and
// its texts, and the engine against a scripted server that misbehaves on demand
// (LOGIN-DELAY, [IN-USE], a stall, a refused password, an account in use).
#include "pop3/scriptedserver.h"
#include "store/accountstore.h"
#include "store/friendsstore.h"
#include "watch/core/seenmessages.h"
#include "watch/core/watchengine.h"
#include "watch/core/watchplan.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace watch;

namespace {

std::vector<pop3::Message> Listing(const QList<QPair<qint64, QByteArray>>& items) {
    std::vector<pop3::Message> listing;
    for (const auto& [size, uidl] : items) {
        pop3::Message m;
        m.Size = size;
        m.Uidl = uidl;
        listing.push_back(m);
    }
    return listing;
}

QByteArray Header(const QByteArray& from, const QByteArray& subject) {
    return "From: " + from + "\r\nSubject: " + subject + "\r\nDate: Tue, 8 Dec 2026 10:00:00 +0000\r\n";
}

int Occurrences(const QByteArray& haystack, const QByteArray& needle) {
    int count = 0;
    for (qsizetype at = haystack.indexOf(needle); at >= 0; at = haystack.indexOf(needle, at + 1))
        ++count;
    return count;
}

// A program folder with one watched account per server, the watch on.
struct Folder {
    QTemporaryDir dir;
    QString path() const { return dir.path() + QLatin1Char('/'); }
    void addAccount(const QString& name, const ScriptedPop3Server& server) {
        AccountRecord account;
        account.AccountName = name;
        account.LoginName = QStringLiteral("bob");
        account.LoginPassword = QString::fromLatin1(server.password);
        account.ServerAddress = QStringLiteral("pop3://127.0.0.1:%1").arg(server.serverPort());
        AccountStore(path()).AppendAccount(account);
    }
    void watchOn() const {
        WatchSettings settings;
        settings.enabled = true;
        QVERIFY(settings.save(path()));
    }
};

SettingsRecord QuickTimeout() {
    SettingsRecord settings;
    settings.ServerPort = 110;
    settings.ServerTimeout = 1;
    return settings;
}

struct Starts {
    QList<qint64> at;
    QElapsedTimer clock;
    Starts(Engine& engine, const QString& account) {
        clock.start();
        QObject::connect(&engine, &Engine::peekStarted, &engine, [this, account](const QString& name) {
            if (name == account)
                at.append(clock.elapsed());
        });
    }
};

} // namespace

class WatchTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void newMessagesByUidlOrBySizes() {
        const auto now = Listing({{100, "a"}, {200, "b"}, {200, "c"}, {300, "d"}});
        // The first look: what already waits is no news.
        QVERIFY(NewMessages(std::nullopt, now).empty());
        SeenMessages before = SeenMessages::Of(Listing({{100, "a"}, {200, "c"}}));
        QCOMPARE(NewMessages(before, now), (std::vector<int>{1, 3}));
        // Without UIDLs: each size seen accounts for one message; one 200 is new.
        before = SeenMessages::Of(Listing({{100, ""}, {200, ""}}));
        const auto noUidl = Listing({{100, ""}, {200, ""}, {200, ""}, {300, ""}});
        QCOMPARE(NewMessages(before, noUidl), (std::vector<int>{2, 3}));
        // Seen without UIDLs, now with: judged by sizes, not all announced as new.
        QCOMPARE(NewMessages(before, now), (std::vector<int>{2, 3}));
        // Everything deleted by the mail program, two arrived.
        QCOMPARE(NewMessages(SeenMessages::Of(now), Listing({{5, "x"}, {6, "y"}})), (std::vector<int>{0, 1}));
    }

    void seenStoreKeepsTheListingAndRefusesDamage() {
        QTemporaryDir dir;
        const SeenStore store(dir.path());
        QVERIFY(!store.load(QStringLiteral("Home")));
        const SeenMessages seen = SeenMessages::Of(Listing({{10, "u1"}, {20, ""}, {30, "u 3"}}));
        QVERIFY(store.save(QStringLiteral("Ho/me"), seen));
        const auto back = store.load(QStringLiteral("Ho/me"));
        QVERIFY(back);
        QCOMPARE(back->sizes, (QList<qint64>{10, 20, 30}));
        // A UIDL with a blank cannot be one; it is kept as none.
        QCOMPARE(back->uidls, (QList<QByteArray>{"u1", "", ""}));
        QFile file(store.filePath(QStringLiteral("Ho/me")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("Tidemarsh seen 1\n10 u1\nxx u2\n");
        file.close();
        QVERIFY(!store.load(QStringLiteral("Ho/me")));
    }

    void delaysDoubleUpToAnHourAndHonourLoginDelay() {
        const qint64 minute = 60 * 1000;
        QCOMPARE(NextPeekDelayMs(15 * minute, 0, 0), 15 * minute);
        QCOMPARE(NextPeekDelayMs(15 * minute, 1, 0), 30 * minute);
        QCOMPARE(NextPeekDelayMs(15 * minute, 2, 0), 60 * minute);
        QCOMPARE(NextPeekDelayMs(15 * minute, 30, 0), 60 * minute);
        // An interval over an hour is never shortened by a failure.
        QCOMPARE(NextPeekDelayMs(120 * minute, 3, 0), 120 * minute);
        QCOMPARE(NextPeekDelayMs(minute, 0, 900), 15 * minute);
        QCOMPARE(Judge(pop3::Failure::of(pop3::Result::LoginRejected), false), Verdict::Stop);
        QCOMPARE(Judge(pop3::Failure::of(pop3::Result::MailboxInUse), false), Verdict::BackOff);
        QCOMPARE(Judge(pop3::Failure(), true), Verdict::Stop);
    }

    void notificationNamesFiveAndCountsFriends() {
        QList<NewMessage> messages;
        for (int i = 0; i < 7; ++i)
            messages.append(
                {QStringLiteral("Sender %1").arg(i), QStringLiteral("Subject %1").arg(i), i % 3 == 0});
        messages[1].sender = QStringLiteral("Eve\u202Egnp.exe\nBcc: x");
        messages[2].subject.clear();
        const NotificationText text = NewMailNotification(QStringLiteral("Work"), messages);
        QCOMPARE(text.summary, QStringLiteral("7 new messages in Work"));
        const QStringList lines = text.body.split(QLatin1Char('\n'));
        QCOMPARE(lines.size(), 7); // five named, "and 2 more", the friends
        QCOMPARE(lines.at(0), QStringLiteral("Sender 0: Subject 0"));
        QCOMPARE(lines.at(1), QStringLiteral("Evegnp.exe Bcc: x: Subject 1"));
        QCOMPARE(lines.at(2), QStringLiteral("Sender 2: (no subject)"));
        QCOMPARE(lines.at(5), QStringLiteral("and 2 more"));
        QCOMPARE(lines.at(6), QStringLiteral("3 from friends"));
        QCOMPARE(NewMailNotification(QStringLiteral("Home"), {messages.at(1)}).summary,
                 QStringLiteral("1 new message in Home"));
    }

    void peekTellsOnlyWhatIsNew() {
        ScriptedPop3Server server(ScriptedPop3Server::Tls::None, QStringLiteral("server"));
        server.headers = {Header("Old <old@example.org>", "Old one"),
                          Header("Older <o2@example.org>", "Two")};
        Folder folder;
        folder.addAccount(QStringLiteral("Home"), server);
        folder.watchOn();
        FriendsStore(folder.path()).Append(QStringLiteral("anna@example.org"));
        {
            Engine engine(folder.path(), [] { return QuickTimeout(); });
            engine.setIntervalOverrideMs(200);
            QSignalSpy news(&engine, &Engine::newMail);
            QSignalSpy ended(&engine, &Engine::peekEnded);
            engine.reload();
            QTRY_COMPARE(ended.size(), 1);
            QCOMPARE(ended.at(0).at(1).value<pop3::Failure>().code, pop3::Result::Ok);
            // The first look lists and remembers; it reads no header.
            QCOMPARE(Occurrences(server.received, "TOP "), 0);
            QCOMPARE(Occurrences(server.received, "UIDL"), 1);
            QCOMPARE(Occurrences(server.received, "QUIT"), 1);
            QCOMPARE(news.size(), 0);

            server.headers.append(Header("Anna <anna@example.org>", "Lunch?"));
            server.headers.append(Header("Shop <deals@shop.example>", "Sale"));
            QTRY_COMPARE(news.size(), 1);
            const auto fresh = news.at(0).at(1).value<QList<NewMessage>>();
            QCOMPARE(fresh.size(), 2);
            QCOMPARE(fresh.at(0).sender, QStringLiteral("Shop")); // newest first
            QVERIFY(fresh.at(1).fromFriend);
            QVERIFY(!fresh.at(0).fromFriend);
            QVERIFY(server.received.contains("TOP 3 0") && server.received.contains("TOP 4 0"));
            QVERIFY(!server.received.contains("TOP 1 0") && !server.received.contains("TOP 2 0"));
            const int peeks = static_cast<int>(ended.size());
            QTRY_VERIFY(ended.size() >= peeks + 2);
            QCOMPARE(news.size(), 1); // nothing new since
            QCOMPARE(engine.statuses().value(0).newCount, 2);
            QVERIFY(engine.tip(QStringLiteral("T")).contains(QStringLiteral("Home: 2 new")));
            QVERIFY(!server.received.contains("RETR") && !server.received.contains("DELE"));
            QCOMPARE(Occurrences(server.received, "QUIT"), Occurrences(server.received, "PASS"));
        }
        // A new start remembers what was seen: nothing is announced again.
        Engine again(folder.path(), [] { return QuickTimeout(); });
        again.setIntervalOverrideMs(200);
        QSignalSpy news(&again, &Engine::newMail);
        QSignalSpy ended(&again, &Engine::peekEnded);
        again.reload();
        QTRY_VERIFY(ended.size() >= 2);
        QCOMPARE(news.size(), 0);
    }

    void withoutUidlNewIsJudgedBySizes() {
        ScriptedPop3Server server(ScriptedPop3Server::Tls::None, QStringLiteral("server"));
        server.capabilities = "TOP\r\nUSER\r\n";
        server.headers = {Header("A <a@example.org>", "one")};
        Folder folder;
        folder.addAccount(QStringLiteral("Plain"), server);
        folder.watchOn();
        Engine engine(folder.path(), [] { return QuickTimeout(); });
        engine.setIntervalOverrideMs(200);
        QSignalSpy news(&engine, &Engine::newMail);
        QSignalSpy ended(&engine, &Engine::peekEnded);
        engine.reload();
        QTRY_COMPARE(ended.size(), 1);
        server.headers.append(Header("B <b@example.org>", "a longer subject than the first"));
        QTRY_COMPARE(news.size(), 1);
        QCOMPARE(news.at(0).at(1).value<QList<NewMessage>>().size(), 1);
        QVERIFY(!server.received.contains("UIDL"));
        QVERIFY(engine.tip(QStringLiteral("T")).contains(QStringLiteral("judged by count and sizes")));
    }

    void loginDelayIsHonoured() {
        ScriptedPop3Server server(ScriptedPop3Server::Tls::None, QStringLiteral("server"));
        server.capabilities += "LOGIN-DELAY 2\r\n";
        Folder folder;
        folder.addAccount(QStringLiteral("Slow"), server);
        folder.watchOn();
        Engine engine(folder.path(), [] { return QuickTimeout(); });
        engine.setIntervalOverrideMs(200);
        Starts starts(engine, QStringLiteral("Slow"));
        engine.reload();
        QTRY_VERIFY_WITH_TIMEOUT(starts.at.size() >= 3, 10000);
        for (int i = 1; i < 3; ++i)
            QVERIFY2(
                starts.at.at(i) - starts.at.at(i - 1) >= 2000,
                qPrintable(
                    QStringLiteral("looked again after %1 ms").arg(starts.at.at(i) - starts.at.at(i - 1))));
    }

    void inUseAndStallsBackOffThenTheIntervalReturns() {
        ScriptedPop3Server server(ScriptedPop3Server::Tls::None, QStringLiteral("server"));
        server.headers = {Header("A <a@example.org>", "one")}; // an empty listing needs no UIDL
        int logins = 0;
        server.hook = [&](ScriptedPop3Server::Connection& c, const QByteArray& command, int) {
            if (command.startsWith("PASS") && ++logins <= 2) {
                c.send("-ERR [IN-USE] another session holds the mailbox\r\n");
                return ScriptedPop3Server::Action::Handled;
            }
            if (command == "UIDL" && logins == 3)
                return ScriptedPop3Server::Action::Handled; // silent past the time-out
            return ScriptedPop3Server::Action::Default;
        };
        Folder folder;
        folder.addAccount(QStringLiteral("Busy"), server);
        folder.watchOn();
        Engine engine(folder.path(), [] { return QuickTimeout(); });
        engine.setIntervalOverrideMs(150);
        Starts starts(engine, QStringLiteral("Busy"));
        QSignalSpy ended(&engine, &Engine::peekEnded);
        QSignalSpy stopped(&engine, &Engine::watchStopped);
        engine.reload();
        QTRY_VERIFY_WITH_TIMEOUT(starts.at.size() >= 5, 20000);
        QCOMPARE(ended.at(0).at(1).value<pop3::Failure>().code, pop3::Result::MailboxInUse);
        QCOMPARE(ended.at(2).at(1).value<pop3::Failure>().code, pop3::Result::ResponseTimeout);
        QCOMPARE(ended.at(3).at(1).value<pop3::Failure>().code, pop3::Result::Ok);
        auto gap = [&](int i) { return starts.at.at(i) - starts.at.at(i - 1); };
        // 300, 600 after the two [IN-USE]; the stall costs its second and then 1200.
        QVERIFY2(gap(1) >= 300 && gap(2) >= 600 && gap(3) >= 1200, qPrintable(QString::number(gap(3))));
        // Another failure would have waited 2400 ms; a slow machine's look takes some of the rest.
        QVERIFY2(gap(4) < 2000, qPrintable(QStringLiteral("no return to the interval: %1 ms").arg(gap(4))));
        QCOMPARE(stopped.size(), 0);
    }

    void refusedPasswordStopsUntilACheckByHand() {
        ScriptedPop3Server server(ScriptedPop3Server::Tls::None, QStringLiteral("server"));
        Folder folder;
        folder.addAccount(QStringLiteral("Wrong"), server);
        folder.watchOn();
        server.password = "changed-at-the-provider";
        Engine engine(folder.path(), [] { return QuickTimeout(); });
        engine.setIntervalOverrideMs(100);
        QSignalSpy stopped(&engine, &Engine::watchStopped);
        QSignalSpy started(&engine, &Engine::peekStarted);
        engine.reload();
        QTRY_COMPARE(stopped.size(), 1);
        QTest::qWait(800);
        QCOMPARE(started.size(), 1);
        QCOMPARE(Occurrences(server.received, "PASS"), 1);
        QVERIFY(engine.tip(QStringLiteral("T")).contains(QStringLiteral("Check Mail for it")));
        // The user checked it by hand with the right password: watched again.
        server.password = "pw-7731-secret";
        engine.reviewed(QStringLiteral("Wrong"), SeenMessages());
        QTRY_VERIFY(started.size() >= 2);
        QCOMPARE(stopped.size(), 1);
    }

    void accountInUseWaitsAndAClaimDropsThePeek() {
        ScriptedPop3Server home(ScriptedPop3Server::Tls::None, QStringLiteral("server"));
        ScriptedPop3Server work(ScriptedPop3Server::Tls::None, QStringLiteral("server"));
        work.headers = {Header("A <a@example.org>", "one")};
        work.hook = [&](ScriptedPop3Server::Connection&, const QByteArray& command, int) {
            return command == "UIDL" ? ScriptedPop3Server::Action::Handled
                                     : ScriptedPop3Server::Action::Default;
        };
        Folder folder;
        folder.addAccount(QStringLiteral("Home"), home);
        folder.addAccount(QStringLiteral("Work"), work);
        folder.watchOn();
        SettingsRecord patient = QuickTimeout();
        patient.ServerTimeout = 30;
        Engine engine(folder.path(), [patient] { return patient; });
        engine.setIntervalOverrideMs(100);
        // Home is under review: its session is the program's.
        engine.setAccountInUse([](const QString& account) { return account == QStringLiteral("Home"); });
        QSignalSpy started(&engine, &Engine::peekStarted);
        engine.reload();
        QTRY_VERIFY(engine.isPeeking(QStringLiteral("Work")));
        QTRY_VERIFY(work.received.contains("UIDL"));
        // Check Mail for Work: the peek goes at once, without QUIT.
        engine.claim(QStringLiteral("Work"));
        QVERIFY(!engine.isPeeking(QStringLiteral("Work")));
        QTest::qWait(300);
        QVERIFY2(!work.received.contains("QUIT"), work.received.constData());
        QVERIFY(home.received.isEmpty());
        for (const QList<QVariant>& call : std::as_const(started))
            QCOMPARE(call.at(0).toString(), QStringLiteral("Work"));
    }
};

QTEST_GUILESS_MAIN(WatchTest)
#include "watchtest.moc"
