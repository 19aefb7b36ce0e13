#pragma once

#include "pop3/pop3types.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>
#include <vector>

namespace watch {

// What an account's mailbox held when it was last looked at (a peek, or a check
// by hand): each message's UIDL (empty where the server has none) and size.
struct SeenMessages {
    QList<QByteArray> uidls;
    QList<qint64> sizes;

    static SeenMessages Of(const std::vector<pop3::Message>& listing);
    // True when every message of the listing has a UIDL (an empty listing counts).
    static bool HasUidls(const std::vector<pop3::Message>& listing);
};

// Positions (0-based) of the listing's messages that were not there before.
// With UIDLs on both sides a message is new when its UIDL was not seen; without
// them, by count and size: each size seen before accounts for one message of
// that size, the messages left over are new. Without anything seen before
// (the account's first look) nothing is new: what already waits is no news.
std::vector<int> NewMessages(const std::optional<SeenMessages>& seen,
                             const std::vector<pop3::Message>& listing);

// One small file per account in the program folder's "Watch" folder, so a
// restart does not announce again what was announced before. A file that cannot
// be read counts as no look yet.
class SeenStore {
public:
    explicit SeenStore(const QString& programFolder);

    std::optional<SeenMessages> load(const QString& account) const;
    // Written to a temporary file renamed over the old one; false when that failed.
    bool save(const QString& account, const SeenMessages& seen) const;
    QString filePath(const QString& account) const;

private:
    QString m_folder;
};

} // namespace watch
