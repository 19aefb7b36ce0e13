#include "review/core/friendmatcher.h"

// Only the blank is trimmed: tabs and other white space are part of an address.
QString FriendMatcher::TrimBlanks(const QString& text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin) == QLatin1Char(' '))
        ++begin;
    while (end > begin && text.at(end - 1) == QLatin1Char(' '))
        --end;
    return text.mid(begin, end - begin);
}

FriendMatcher::FriendMatcher(const QStringList& addresses) : m_count(static_cast<int>(addresses.size())) {
    m_keys.reserve(addresses.size());
    for (const QString& address : addresses)
        m_keys.insert(Key(address));
}

QString FriendMatcher::Key(const QString& address) {
    return TrimBlanks(address).toUpper();
}

bool FriendMatcher::IsFriend(const QString& address) const {
    return m_keys.contains(Key(address));
}
