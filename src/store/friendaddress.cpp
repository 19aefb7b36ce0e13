#include "store/friendaddress.h"

#include "store/fixedtext.h"

#include <algorithm>

namespace friendaddress {

namespace {

// Where the angle-addr of a name-addr starts: the first "<" outside quoted
// strings and comments of the display name, or -1.
qsizetype AngleOutsideQuotes(const QString& text) {
    bool quoted = false;
    int comments = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == u'\\') {
            ++i; // a quoted pair: the next character is plain text
        } else if (quoted) {
            quoted = c != u'"';
        } else if (c == u'(') {
            ++comments;
        } else if (c == u')') {
            comments = std::max(0, comments - 1);
        } else if (comments == 0 && c == u'"') {
            quoted = true;
        } else if (comments == 0 && c == u'<') {
            return i;
        }
    }
    return -1;
}

} // namespace

std::optional<QString> AddressInAngleBrackets(const QString& text) {
    const QString entry = text.trimmed();
    if (!entry.endsWith(u'>'))
        return std::nullopt;
    const qsizetype open = AngleOutsideQuotes(entry);
    if (open < 0)
        return std::nullopt;
    const QString address = entry.mid(open + 1, entry.size() - open - 2).trimmed();
    // One address, not a list or nested brackets.
    static const QString notInAnAddress = QStringLiteral("<>,;");
    for (const QChar c : address)
        if (notInAnAddress.contains(c) || c.isSpace())
            return std::nullopt;
    if (!address.contains(u'@'))
        return std::nullopt;
    return address;
}

QString ToStore(const QString& text) {
    return AddressInAngleBrackets(text).value_or(FixedText::TrimBlanks(text));
}

} // namespace friendaddress
