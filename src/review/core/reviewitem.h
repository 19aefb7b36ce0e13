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
// sort by (the texts would sort "10.00 KB" before "9.00 KB"). In a review of
// every account the row also says whose it is.
struct ReviewItem {
    enum Column { From, Address, Subject, Date, Size, Content, Recipients, ColumnCount };

    std::array<QString, ColumnCount> texts;
    bool keep = false;
    int MessageNumber = 0;
    qint64 sizeBytes = 0;
    std::optional<qint64> sentAt; // seconds since 1970 UTC; none when the date cannot be read
    int recipients = 1;           // as "#" shows it
    // Beside the texts: the row's account (its index in the review's accounts;
    // -1 in a one-account review) and the number of its header file where that
    // is not MessageNumber (message numbers repeat across accounts; 0: MessageNumber).
    int account = -1;
    int fileNumber = 0;

    const QString& text(int column) const { return texts[static_cast<size_t>(column)]; }
    int headerFile() const { return fileNumber > 0 ? fileNumber : MessageNumber; }
};

Q_DECLARE_METATYPE(ReviewItem)

// The row exactly as a check builds it for message number messageNumber.
ReviewItem MakeReviewItem(const pop3::Message& message, int messageNumber, const FriendMatcher& friends,
                          const QLocale& locale = QLocale());
