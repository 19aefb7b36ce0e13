#include "reviewitem.h"

#include "friendmatcher.h"
#include "pop3types.h"
#include "setbytes.h"

namespace {
bool IsBlank(const QString& text) {
    for (QChar c : text)
        if (c != QLatin1Char(' '))
            return false;
    return true;
}
// One list row is one line: a folded or hostile header can carry tabs, line breaks
// and other control characters, which a cell would draw as boxes or cut off.
QString OneLine(QString text) {
    for (QChar& c : text)
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            c = QLatin1Char(' ');
    return text;
}
} // namespace

ReviewItem MakeReviewItem(const pop3::Message& message, int messageNumber, const FriendMatcher& friends,
                          const QLocale& locale) {
    ReviewItem item;
    item.texts[ReviewItem::From] = OneLine(message.From);
    // Kept as received; only the blank test trims.
    item.texts[ReviewItem::Address] = IsBlank(message.FromAddr) ? message.ReplyToAddr : message.FromAddr;
    item.texts[ReviewItem::Subject] = OneLine(message.Subject);
    item.texts[ReviewItem::Date] = OneLine(message.Date);
    item.texts[ReviewItem::Size] = SetBytes(static_cast<double>(message.Size), locale);
    item.texts[ReviewItem::Content] = message.ContentType + QLatin1Char('/') + message.ContentSubType;
    item.texts[ReviewItem::Recipients] =
        message.Recipients <= 0 ? QStringLiteral("1") : GroupedNumber(message.Recipients, locale);
    item.keep = friends.IsFriend(item.texts[ReviewItem::Address]);
    item.MessageNumber = messageNumber;
    return item;
}
