#include "review/core/friendmatcher.h"

#include "store/friendsstore.h"

FriendMatcher::FriendMatcher(const QStringList& addresses) {
    m_keys.reserve(addresses.size());
    for (const QString& address : addresses)
        m_keys.insert(FriendsStore::ComparisonKey(address));
}

bool FriendMatcher::IsFriend(const QString& address) const {
    return m_keys.contains(FriendsStore::ComparisonKey(address));
}
