#pragma once

#include <QLocale>
#include <QMetaType>
#include <QString>
#include <array>

namespace pop3 {
struct Message;
}
class FriendMatcher;

// One row of the review list: seven display texts, the keep tick and the
// message's 1-based number in the open session.
struct ReviewItem {
    enum Column { From, Address, Subject, Date, Size, Content, Recipients, ColumnCount };

    std::array<QString, ColumnCount> texts;
    bool keep = false;
    int MessageNumber = 0;

    const QString& text(int column) const { return texts[static_cast<size_t>(column)]; }
};

Q_DECLARE_METATYPE(ReviewItem)

// The row exactly as a check builds it for message number messageNumber.
ReviewItem MakeReviewItem(const pop3::Message& message, int messageNumber, const FriendMatcher& friends,
                          const QLocale& locale = QLocale());
