#include "review/core/reviewitem.h"

#include "pop3/pop3types.h"
#include "review/core/displaytext.h"
#include "review/core/friendmatcher.h"
#include "review/core/maildate.h"
#include "review/core/setbytes.h"

namespace {
bool IsBlank(const QString& text) {
    for (QChar c : text)
        if (c != QLatin1Char(' '))
            return false;
    return true;
}
} // namespace

ReviewItem MakeReviewItem(const pop3::Message& message, int messageNumber, const FriendMatcher& friends,
                          const QLocale& locale) {
    ReviewItem item;
    item.texts[ReviewItem::From] = CleanForDisplay(message.From);
    // Only the blank test trims; the friend test sees the address as received.
    const QString& address = IsBlank(message.FromAddr) ? message.ReplyToAddr : message.FromAddr;
    item.texts[ReviewItem::Address] = CleanForDisplay(address);
    item.texts[ReviewItem::Subject] = CleanForDisplay(message.Subject);
    item.texts[ReviewItem::Date] = CleanForDisplay(message.Date);
    item.texts[ReviewItem::Size] = SetBytes(static_cast<double>(message.Size), locale);
    item.texts[ReviewItem::Content] =
        CleanForDisplay(message.ContentType + QLatin1Char('/') + message.ContentSubType);
    item.recipients = message.Recipients <= 0 ? 1 : message.Recipients;
    item.texts[ReviewItem::Recipients] =
        message.Recipients <= 0 ? QStringLiteral("1") : GroupedNumber(message.Recipients, locale);
    item.sizeBytes = message.Size;
    item.sentAt = ParseMailDate(message.Date);
    item.keep = friends.IsFriend(address);
    item.MessageNumber = messageNumber;
    return item;
}
