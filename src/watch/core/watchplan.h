#pragma once

#include "pop3/pop3types.h"

#include <QString>
#include <QStringList>

namespace watch {

// What a peek's ending means for the account's next one.
enum class Verdict {
    Again,   // it went through: next at the interval
    BackOff, // the server or the link was not available now ([IN-USE], a time-out, a drop)
    Stop,    // the login was refused or needs the user: not again until a check by hand
};
Verdict Judge(const pop3::Failure& failure, bool signInNeeded);

// How long to wait before the next peek: the interval, doubled for each failure
// in a row up to an hour (never less than the interval), and never sooner than
// the server's LOGIN-DELAY allows.
qint64 NextPeekDelayMs(qint64 intervalMs, int failuresInRow, int loginDelaySeconds);

// One new message as a notification tells it.
struct NewMessage {
    QString sender;
    QString subject;
    bool fromFriend = false;
};

// The texts of one account's notification: everything new since the user last
// checked the account by hand, newest first; at most five are named. Plain text,
// cleaned as the review list cleans header fields.
struct NotificationText {
    QString summary;
    QString body;
};
NotificationText NewMailNotification(const QString& account, const QList<NewMessage>& newestFirst);

// A few plain words for a failure, for the tray icon's tip.
QString FailureWords(const pop3::Failure& failure);

} // namespace watch
