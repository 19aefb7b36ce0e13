#pragma once

#include <QLocale>
#include <QMetaType>
#include <QString>
#include <array>
#include <optional>

namespace pop3 {
struct Message;
}
class FriendMatcher;

// One row of the review list: seven display texts, the keep tick, the
// message's 1-based number in the open session, and what Size, Date and #
// sort by (the texts would sort "10.00 KB" before "9.00 KB").
struct ReviewItem {
    enum Column { From, Address, Subject, Date, Size, Content, Recipients, ColumnCount };

    std::array<QString, ColumnCount> texts;
    bool keep = false;
    int MessageNumber = 0;
    qint64 sizeBytes = 0;
    std::optional<qint64> sentAt; // seconds since 1970 UTC; none when the date cannot be read
    int recipients = 1;           // as "#" shows it

    const QString& text(int column) const { return texts[static_cast<size_t>(column)]; }
};

Q_DECLARE_METATYPE(ReviewItem)

// The row exactly as a check builds it for message number messageNumber.
ReviewItem MakeReviewItem(const pop3::Message& message, int messageNumber, const FriendMatcher& friends,
                          const QLocale& locale = QLocale());
