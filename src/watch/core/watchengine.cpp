#include "watch/core/watchengine.h"

#include "review/core/friendmatcher.h"
#include "store/accountstore.h"
#include "store/extrasettings.h"
#include "store/fixedtext.h"
#include "store/friendsstore.h"
#include "store/storeerror.h"

#include <QLocale>
#include <QNetworkInformation>

#include <algorithm>

namespace watch {

namespace {
const QString kGroup = QStringLiteral("Watch");
const QString kEnabledKey = QStringLiteral("Enabled");
const QString kMinutesKey = QStringLiteral("Minutes");
const QString kAccountKey = QStringLiteral("Watch");
// The first look after the start: soon, not an interval later (at a log-in start
// the network may take a while to come up).
constexpr qint64 kFirstLookMs = 60 * 1000;
// An account the program holds is asked about again after this long (or the
// interval, if that is shorter).
constexpr qint64 kInUseRetryMs = 30 * 1000;
} // namespace

WatchSettings WatchSettings::Load(const QString& programFolder) {
    const ExtraSettings extra(programFolder);
    WatchSettings s;
    s.enabled = extra.value(kGroup, kEnabledKey, false).toBool();
    s.minutes = std::clamp(extra.value(kGroup, kMinutesKey, 15).toInt(), kMinMinutes, kMaxMinutes);
    return s;
}

bool WatchSettings::save(const QString& programFolder) const {
    const ExtraSettings extra(programFolder);
    return extra.setValue(kGroup, kEnabledKey, enabled) &&
           extra.setValue(kGroup, kMinutesKey, std::clamp(minutes, kMinMinutes, kMaxMinutes));
}

void WatchSettings::SetUpNewFolder(const QString& programFolder) {
    const ExtraSettings extra(programFolder);
    if (extra.value(kGroup, kEnabledKey).isValid())
        return;
    WatchSettings s;
    s.enabled = true;
    s.save(programFolder);
}

bool WatchSettings::AccountWatched(const QString& programFolder, const QString& account) {
    return ExtraSettings(programFolder).accountValue(account, kAccountKey, true).toBool();
}

bool WatchSettings::SetAccountWatched(const QString& programFolder, const QString& account, bool watched) {
    return ExtraSettings(programFolder).setAccountValue(account, kAccountKey, watched);
}

Engine::Engine(const QString& programFolder, std::function<SettingsRecord()> settings, QObject* parent)
    : QObject(parent), m_folder(programFolder), m_settingsRecord(std::move(settings)) {
    m_clock.start();
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &Engine::runDue);
    // Where the desktop has a backend for it; without one the network counts as up.
    if (!QNetworkInformation::instance())
        QNetworkInformation::loadBackendByFeatures(QNetworkInformation::Feature::Reachability);
}

Engine::~Engine() {
    // Peeks go with their parent: each drops its line without QUIT.
}

void Engine::setAccountInUse(std::function<bool(const QString&)> inUse) {
    m_inUse = std::move(inUse);
}

qint64 Engine::intervalMs() const {
    return m_intervalOverrideMs > 0 ? m_intervalOverrideMs : qint64(m_settings.minutes) * 60 * 1000;
}

void Engine::stop() {
    m_stopped = true;
    m_timer.stop();
    for (Account& account : m_accounts)
        delete account.peek.data();
}

void Engine::reload() {
    if (m_stopped)
        return;
    m_settings = WatchSettings::Load(m_folder);
    QList<AccountRecord> records;
    try {
        const AccountStore store(m_folder);
        const int count = store.CountAccounts();
        for (int i = 1; i <= count; ++i)
            records.append(store.ReadAccount(i));
    } catch (const StoreError&) {
        // Acc.dat cannot be read now: nothing is looked at until it can (the
        // program tells the user when it reads the file itself).
        records.clear();
    }
    QList<Account> kept;
    const qint64 now = m_clock.elapsed();
    for (const AccountRecord& record : std::as_const(records)) {
        const QString name = FixedText::TrimBlanks(record.AccountName);
        if (name.isEmpty() || !m_settings.enabled || !WatchSettings::AccountWatched(m_folder, name))
            continue;
        auto old = std::find_if(m_accounts.begin(), m_accounts.end(),
                                [&](const Account& a) { return a.status.name == name; });
        if (old != m_accounts.end()) {
            Account account = *old;
            account.record = record;
            // A shorter interval chosen just now takes effect at once, not after the old one.
            if (account.failures == 0)
                account.dueMs = std::min(account.dueMs,
                                         now + NextPeekDelayMs(intervalMs(), 0, account.loginDelaySeconds));
            kept.append(account);
            continue;
        }
        Account account;
        account.record = record;
        account.status.name = name;
        account.dueMs = now + std::min(kFirstLookMs, intervalMs());
        kept.append(account);
    }
    // Accounts no longer watched: their peeks end now.
    for (Account& account : m_accounts) {
        const bool stays = std::any_of(kept.cbegin(), kept.cend(), [&](const Account& a) {
            return a.status.name == account.status.name;
        });
        if (!stays)
            delete account.peek.data();
    }
    m_accounts = kept;
    planTimer();
    Q_EMIT statusChanged();
}

Engine::Account* Engine::find(const QString& name) {
    for (Account& account : m_accounts)
        if (account.status.name == name)
            return &account;
    return nullptr;
}

void Engine::claim(const QString& account) {
    for (Account& a : m_accounts) {
        if (!account.isEmpty() && a.status.name != account)
            continue;
        if (a.peek) {
            delete a.peek.data();
            a.dueMs = m_clock.elapsed() + kInUseRetryMs;
            Q_EMIT peekEnded(a.status.name, pop3::Failure::of(pop3::Result::Cancelled));
        }
    }
    planTimer();
}

void Engine::reviewed(const QString& name, const SeenMessages& seen) {
    SeenStore(m_folder).save(name, seen);
    Account* account = find(name);
    if (!account)
        return;
    account->seen = seen;
    account->seenLoaded = true;
    account->pending.clear();
    account->failures = 0;
    account->status.newCount = 0;
    account->status.stopped = false;
    account->status.problem.clear();
    account->status.lastPeek = QDateTime::currentDateTime();
    account->dueMs = m_clock.elapsed() + intervalMs();
    planTimer();
    Q_EMIT statusChanged();
}

bool Engine::networkDown() const {
    const QNetworkInformation* info = QNetworkInformation::instance();
    return info && info->reachability() == QNetworkInformation::Reachability::Disconnected;
}

void Engine::runDue() {
    if (!m_settings.enabled)
        return;
    const qint64 now = m_clock.elapsed();
    const bool down = networkDown();
    for (Account& account : m_accounts) {
        if (account.peek || account.status.stopped || account.dueMs > now)
            continue;
        if (down) {
            account.dueMs = now + intervalMs();
            continue;
        }
        if (m_inUse && m_inUse(account.status.name)) {
            account.dueMs = now + std::min(kInUseRetryMs, intervalMs());
            continue;
        }
        startPeek(account);
    }
    planTimer();
}

void Engine::planTimer() {
    qint64 next = -1;
    for (const Account& account : std::as_const(m_accounts)) {
        if (account.peek || account.status.stopped)
            continue;
        if (next < 0 || account.dueMs < next)
            next = account.dueMs;
    }
    if (!m_settings.enabled || next < 0) {
        m_timer.stop();
        return;
    }
    m_timer.start(static_cast<int>(std::clamp<qint64>(next - m_clock.elapsed(), 0, 24LL * 3600 * 1000)));
}

void Engine::startPeek(Account& account) {
    if (!account.seenLoaded) {
        account.seen = SeenStore(m_folder).load(account.status.name);
        account.seenLoaded = true;
    }
    std::shared_ptr<const FriendMatcher> friends;
    try {
        QStringList addresses;
        for (const auto& [number, address] : FriendsStore(m_folder).ReadAll())
            addresses.append(address);
        friends = std::make_shared<const FriendMatcher>(addresses);
    } catch (const StoreError&) {
        // Counted as no friends: the notification only says how many are friends.
    }
    SettingsRecord settings = m_settingsRecord ? m_settingsRecord() : SettingsRecord();
    auto* peek = new Peek(account.record, settings, m_folder, account.seen, friends, this);
    account.peek = peek;
    const QString name = account.status.name;
    connect(peek, &Peek::finished, this, [this, name, peek](const PeekResult& result) {
        peek->deleteLater();
        onPeekEnded(name, result);
    });
    Q_EMIT peekStarted(name);
    peek->start();
}

void Engine::onPeekEnded(const QString& name, const PeekResult& result) {
    Account* account = find(name);
    if (!account)
        return;
    account->peek.clear();
    const qint64 now = m_clock.elapsed();
    switch (Judge(result.failure, result.signInNeeded)) {
    case Verdict::Again: {
        account->failures = 0;
        account->loginDelaySeconds = result.loginDelaySeconds;
        account->status.problem.clear();
        account->status.lastPeek = QDateTime::currentDateTime();
        account->status.byUidl = result.byUidl;
        if (result.seenNow) {
            account->seen = result.seenNow;
            SeenStore(m_folder).save(name, *result.seenNow);
        }
        for (const NewMessage& m : result.fresh)
            account->pending.prepend(m);
        account->status.newCount = static_cast<int>(account->pending.size());
        account->dueMs = now + NextPeekDelayMs(intervalMs(), 0, account->loginDelaySeconds);
        if (!result.fresh.isEmpty())
            Q_EMIT newMail(name, account->pending);
        break;
    }
    case Verdict::BackOff:
        ++account->failures;
        account->status.problem = FailureWords(result.failure);
        account->dueMs = now + NextPeekDelayMs(intervalMs(), account->failures, account->loginDelaySeconds);
        break;
    case Verdict::Stop:
        account->status.stopped = true;
        account->status.problem = FailureWords(result.failure);
        Q_EMIT watchStopped(name, account->status.problem);
        break;
    }
    Q_EMIT peekEnded(name, result.failure);
    planTimer();
    Q_EMIT statusChanged();
}

QList<AccountWatchStatus> Engine::statuses() const {
    QList<AccountWatchStatus> list;
    for (const Account& account : m_accounts)
        list.append(account.status);
    return list;
}

bool Engine::isPeeking(const QString& account) const {
    return std::any_of(m_accounts.cbegin(), m_accounts.cend(),
                       [&](const Account& a) { return a.status.name == account && a.peek; });
}

QString Engine::tip(const QString& title) const {
    QStringList lines{title};
    const QLocale locale;
    for (const Account& account : m_accounts) {
        const AccountWatchStatus& s = account.status;
        QString line;
        if (s.stopped) {
            line = tr("%1: not watched (%2); Check Mail for it to watch it again").arg(s.name, s.problem);
        } else if (!s.problem.isEmpty()) {
            line = tr("%1: %2; trying again later").arg(s.name, s.problem);
        } else if (!s.lastPeek.isValid()) {
            line = tr("%1: not looked at yet").arg(s.name);
        } else {
            const QString when = locale.toString(s.lastPeek.time(), QLocale::ShortFormat);
            line = s.newCount == 0 ? tr("%1: no new mail (looked at %2)").arg(s.name, when)
                                   : tr("%1: %2 new (looked at %3)").arg(s.name).arg(s.newCount).arg(when);
            if (!s.byUidl)
                line += tr(", judged by count and sizes");
        }
        lines.append(line);
    }
    return lines.join(QLatin1Char('\n'));
}

} // namespace watch
