#pragma once

#include <QSet>
#include <QString>
#include <QStringList>

// The friend list of one check, hashed: a sender is a friend when some entry
// equals it in the sense of FriendsStore::SameAddress, whose key it hashes. A
// linear walk would cost friends x messages comparisons, which for two full
// lists is a billion.
class FriendMatcher {
public:
    FriendMatcher() = default;
    explicit FriendMatcher(const QStringList& addresses);

    bool IsFriend(const QString& address) const;

private:
    QSet<QString> m_keys;
};
