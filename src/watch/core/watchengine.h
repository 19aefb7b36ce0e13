#pragma once

#include "store/records.h"
#include "watch/core/peek.h"
#include "watch/core/seenmessages.h"
#include "watch/core/watchplan.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <functional>
#include <optional>

namespace watch {

// The watch's settings in Tidemarsh.ini. A program folder that has them not yet
// keeps the watch off (the program behaves as before) unless it is new.
struct WatchSettings {
    bool enabled = false;
    int minutes = 15;
    static constexpr int kMinMinutes = 1;
    static constexpr int kMaxMinutes = 1440;

    static WatchSettings Load(const QString& programFolder);
    bool save(const QString& programFolder) const;
    // A program folder made just now: the watch starts on, every 15 minutes.
    static void SetUpNewFolder(const QString& programFolder);
    // Whether the account takes part ("Include in background checks"; on by default).
    static bool AccountWatched(const QString& programFolder, const QString& account);
    static bool SetAccountWatched(const QString& programFolder, const QString& account, bool watched);
};

// How one watched account stands, for the tray icon's tip.
struct AccountWatchStatus {
    QString name;
    int newCount = 0;     // new since the account was last checked by hand
    QDateTime lastPeek;   // the last look that went through; invalid before the first
    QString problem;      // why the last look failed; empty when it went through
    bool stopped = false; // not looked at again until a check by hand
    bool byUidl = true;   // false: new judged by count and sizes
};

// Looks at every watched account on a schedule, one peek per account at a time,
// never at an account the program is using (checking, reviewing, deleting), never
// while the network is down, never sooner than the server's LOGIN-DELAY; backs
// off after failures, stops at a refused login. Tells what is new by signals.
class Engine : public QObject {
    Q_OBJECT
public:
    Engine(const QString& programFolder, std::function<SettingsRecord()> settings, QObject* parent = nullptr);
    ~Engine() override;

    // True while the program holds the account (its name as in Acc.dat, trimmed).
    void setAccountInUse(std::function<bool(const QString& account)> inUse);
    // Test seam: the interval in milliseconds instead of the settings' minutes.
    void setIntervalOverrideMs(qint64 ms) { m_intervalOverrideMs = ms; }

    // Reads the settings and the accounts again and plans the next looks.
    void reload();
    // The program is ending: no more looks; those under way are dropped.
    void stop();
    // A check by hand is about to log in: a peek of that account (of every
    // account, when empty) is dropped at once, so the two never overlap.
    void claim(const QString& account);
    // A check by hand listed the account: its messages count as seen, and a
    // stopped watch of it starts again.
    void reviewed(const QString& account, const SeenMessages& seen);

    bool enabled() const { return m_settings.enabled; }
    qint64 intervalMs() const;
    QList<AccountWatchStatus> statuses() const;
    // The tray icon's tip: one line per watched account.
    QString tip(const QString& title) const;
    bool isPeeking(const QString& account) const;

Q_SIGNALS:
    // Everything new since the last check by hand, newest first.
    void newMail(const QString& account, const QList<watch::NewMessage>& newestFirst);
    // Told once per stop.
    void watchStopped(const QString& account, const QString& words);
    void statusChanged();
    void peekStarted(const QString& account);
    void peekEnded(const QString& account, const pop3::Failure& failure);

private:
    struct Account {
        AccountRecord record;
        AccountWatchStatus status;
        QList<NewMessage> pending; // newest first
        std::optional<SeenMessages> seen;
        bool seenLoaded = false;
        int failures = 0;
        int loginDelaySeconds = 0;
        qint64 dueMs = 0; // on m_clock
        QPointer<Peek> peek;
    };

    void runDue();
    void planTimer();
    void startPeek(Account& account);
    void onPeekEnded(const QString& name, const PeekResult& result);
    bool networkDown() const;
    Account* find(const QString& name);

    QString m_folder;
    std::function<SettingsRecord()> m_settingsRecord;
    std::function<bool(const QString&)> m_inUse;
    WatchSettings m_settings;
    qint64 m_intervalOverrideMs = 0;
    bool m_stopped = false;
    QList<Account> m_accounts;
    QTimer m_timer;
    QElapsedTimer m_clock;
};

} // namespace watch
