#pragma once

#include <QSet>
#include <QString>
#include <QStringList>

// The friend list of one check, hashed: a sender is a friend when some entry
// equals it in the sense of FriendsStore::SameAddress (blanks trimmed, letter
// case ignored, whole address only). A linear walk would cost friends x
// messages comparisons, which for two full lists is a billion.
class FriendMatcher {
public:
    FriendMatcher() = default;
    explicit FriendMatcher(const QStringList& addresses);

    bool IsFriend(const QString& address) const;
    int size() const { return m_count; }

    // The key both sides are reduced to before comparing.
    static QString Key(const QString& address);
    // Leading and trailing blanks removed; tabs and other white space stay.
    static QString TrimBlanks(const QString& text);

private:
    QSet<QString> m_keys;
    int m_count = 0;
};
