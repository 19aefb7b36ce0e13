#pragma once

#include "pop3/pop3types.h"
#include "store/records.h"
#include "watch/core/seenmessages.h"
#include "watch/core/watchplan.h"

#include <QObject>
#include <QPointer>

#include <memory>
#include <optional>

class FriendMatcher;
namespace pop3 {
class Session;
struct SessionSettings;
} // namespace pop3

namespace watch {

struct PeekResult {
    pop3::Failure failure;
    bool signInNeeded = false;           // the login needs the user in the browser
    int total = 0;                       // messages waiting
    bool byUidl = true;                  // false: "new" judged by count and sizes
    int loginDelaySeconds = 0;           // the server's LOGIN-DELAY, 0 when none
    QList<NewMessage> fresh;             // new since the last look, in mailbox order
    std::optional<SeenMessages> seenNow; // the listing, to remember; none on failure
};

// One look at one account, as quick and as light as POP3 allows: log in as the
// check does (same trust, same exceptions, the same secret, but never a question
// and never the browser), LIST and UIDL, TOP n 0 for the messages not seen
// before, QUIT. Never RETR, never DELE. finished is emitted once, from the event
// loop; deleting the peek drops the connection without QUIT (nothing is marked,
// so nothing can be lost).
class Peek : public QObject {
    Q_OBJECT
public:
    Peek(const AccountRecord& account, const SettingsRecord& settings, const QString& programFolder,
         std::optional<SeenMessages> seen, std::shared_ptr<const FriendMatcher> friends,
         QObject* parent = nullptr);
    ~Peek() override;

    void start();

Q_SIGNALS:
    void finished(const watch::PeekResult& result);

private:
    void connectWith(const pop3::SessionSettings& settings);
    void download();
    void quit();
    void end();

    AccountRecord m_account;
    SettingsRecord m_settings;
    QString m_folder;
    std::optional<SeenMessages> m_seen;
    std::shared_ptr<const FriendMatcher> m_friends;
    std::unique_ptr<pop3::Session> m_session;
    QPointer<QObject> m_preparing;
    PeekResult m_result;
    bool m_ended = false;
};

} // namespace watch

Q_DECLARE_METATYPE(watch::PeekResult)
