#include "pop3/gmimeinit.h"
#include "pop3/pop3types.h"

#include <gmime/gmime.h>

#include <QByteArrayView>
#include <QList>
#include <QRegularExpression>
#include <QStringList>

#include <QHash>

#include <cstring>
#include <iconv.h>
#include <memory>
#include <mutex>

namespace pop3 {

namespace {

// glibc unloads a charset's conversion module when its last descriptor closes,
// and GMime opens and closes a descriptor per encoded word, so a field that
// alternates charsets paid a dlopen and dlclose per word (about 0.6 ms each:
// seconds for one hostile header). One descriptor kept open per charset seen
// keeps its module loaded. Bounded, so random names cannot grow it.
// Closed at exit, so that what is kept on purpose is not taken for a leak.
struct PinnedCharsets {
    std::mutex mutex;
    QHash<QByteArray, iconv_t> open; // (iconv_t)-1 for a charset iconv does not know
    ~PinnedCharsets() {
        for (iconv_t descriptor : std::as_const(open))
            if (descriptor != reinterpret_cast<iconv_t>(-1))
                iconv_close(descriptor);
    }
};

void pinCharsets(const QByteArray& value) {
    constexpr qsizetype kMaxPinned = 64;
    static PinnedCharsets charsets;
    std::mutex& mutex = charsets.mutex;
    QHash<QByteArray, iconv_t>& pinned = charsets.open;
    qsizetype from = 0;
    while ((from = value.indexOf("=?", from)) >= 0) {
        from += 2;
        const qsizetype end = value.indexOf('?', from);
        if (end < 0 || end - from > 40)
            continue;
        QByteArray name = value.mid(from, end - from).toLower();
        if (const qsizetype star = name.indexOf('*'); star >= 0)
            name.truncate(star); // RFC 2231 language suffix
        if (name.isEmpty())
            continue;
        const std::lock_guard lock(mutex);
        if (pinned.contains(name) || pinned.size() >= kMaxPinned)
            continue;
        pinned.insert(name, iconv_open("UTF-8", name.constData()));
    }
}

QString text(const char* utf8) {
    return utf8 ? QString::fromUtf8(utf8).trimmed() : QString();
}

// The unfolded values of the few fields the list shows. Splitting a header block
// into fields is the one step done here rather than by GMime's message parser:
// building a whole GMimeMessage for every header (all Received lines included)
// costs several times what the fields we read are worth, and the splitting rules
// (a line starting with blank continues the field) are trivial. Everything that
// is hard (addresses, encoded words, charsets, parameters) stays with GMime.
struct Fields {
    QByteArray from, replyTo, subject, date, contentType;
    QList<QByteArray> recipients; // every To and Cc field
    bool hasFrom = false, hasReplyTo = false, hasSubject = false, hasDate = false, hasContentType = false;
};

enum class Field { Other, From, ReplyTo, To, Cc, Subject, Date, ContentType };

Field fieldOf(QByteArrayView name) {
    name = name.trimmed();
    auto is = [&](const char* n) { return name.compare(QByteArrayView(n), Qt::CaseInsensitive) == 0; };
    switch (name.size()) {
    case 2:
        return is("To") ? Field::To : is("Cc") ? Field::Cc : Field::Other;
    case 4:
        return is("From") ? Field::From : is("Date") ? Field::Date : Field::Other;
    case 7:
        return is("Subject") ? Field::Subject : Field::Other;
    case 8:
        return is("Reply-To") ? Field::ReplyTo : Field::Other;
    case 12:
        return is("Content-Type") ? Field::ContentType : Field::Other;
    default:
        return Field::Other;
    }
}

Fields splitFields(const QByteArray& raw) {
    Fields f;
    QByteArray* current = nullptr;
    const char* p = raw.constData();
    const char* end = p + raw.size();
    while (p < end) {
        const char* nl = static_cast<const char*>(std::memchr(p, '\n', size_t(end - p)));
        const char* next = nl ? nl + 1 : end;
        const char* lineEnd = nl ? nl : end;
        // CR CR LF (mail stored with CR LF and served with another CR) ends a line too.
        while (lineEnd > p && lineEnd[-1] == '\r')
            --lineEnd;
        const QByteArrayView line(p, lineEnd - p);
        p = next;
        if (line.isEmpty())
            break; // the blank line ends the header
        if (line[0] == ' ' || line[0] == '\t') {
            if (current)
                current->append(line.data(), line.size()); // unfolding keeps the blank
            continue;
        }
        current = nullptr;
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            continue; // not a field (an mbox "From " line, garbage)
        const QByteArrayView value = line.sliced(colon + 1);
        auto take = [&](QByteArray& target, bool& seen) {
            if (seen)
                return; // the first occurrence counts
            seen = true;
            target = value.toByteArray();
            current = &target;
        };
        switch (fieldOf(line.first(colon))) {
        case Field::From:
            take(f.from, f.hasFrom);
            break;
        case Field::ReplyTo:
            take(f.replyTo, f.hasReplyTo);
            break;
        case Field::Subject:
            take(f.subject, f.hasSubject);
            break;
        case Field::Date:
            take(f.date, f.hasDate);
            break;
        case Field::ContentType:
            take(f.contentType, f.hasContentType);
            break;
        case Field::To:
        case Field::Cc:
            f.recipients.append(value.toByteArray());
            current = &f.recipients.last();
            break;
        case Field::Other:
            break;
        }
    }
    return f;
}

// GMime 3.2.13 joins the payloads of adjacent base64 encoded words of one
// charset before decoding them, so a padded word ("=?UTF-8?B?w6k=?=") cuts off
// everything after it. Mailers split long subjects and names that way all the
// time. Joining such runs here, decoded and encoded again as one word, hands
// GMime text with the same meaning (blanks between encoded words do not count).
QByteArray mergePaddedBase64Words(const QByteArray& value) {
    if (!value.contains("?B?") && !value.contains("?b?"))
        return value;
    static const QRegularExpression word(QStringLiteral("=\\?([^?\\s]+)\\?[Bb]\\?([A-Za-z0-9+/=]*)\\?="));
    const QString text = QString::fromLatin1(value); // byte for byte
    QString out;
    qsizetype copied = 0;
    auto it = word.globalMatch(text);
    QList<QRegularExpressionMatch> run;
    auto flush = [&] {
        bool padded = false;
        for (qsizetype i = 0; i + 1 < run.size(); ++i)
            padded = padded || run[i].capturedView(2).contains(QLatin1Char('='));
        if (run.size() > 1 && padded) {
            QByteArray bytes;
            for (const auto& m : run)
                bytes += QByteArray::fromBase64(m.capturedView(2).toLatin1());
            out += text.mid(copied, run.first().capturedStart() - copied);
            out += QStringLiteral("=?") + run.first().captured(1) + QStringLiteral("?B?") +
                   QString::fromLatin1(bytes.toBase64()) + QStringLiteral("?=");
            copied = run.last().capturedEnd();
        }
        run.clear();
    };
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        if (!run.isEmpty()) {
            const auto& last = run.last();
            const bool adjacent =
                text.mid(last.capturedEnd(), m.capturedStart() - last.capturedEnd()).trimmed().isEmpty();
            const bool sameCharset =
                last.capturedView(1).compare(m.capturedView(1), Qt::CaseInsensitive) == 0;
            if (!adjacent || !sameCharset)
                flush();
        }
        run.append(m);
    }
    flush();
    if (copied == 0)
        return value;
    out += text.mid(copied);
    return out.toLatin1();
}

// What one field hands to GMime. The list shows one line, and 4 KB of raw text
// holds well over a thousand visible characters even as base64 encoded words,
// so nothing a user could see is lost; the cap bounds the work a hostile field
// can cause. Address lists are only counted, and 64 KB holds some 3,000 addresses.
constexpr qsizetype kMaxFieldBytes = 4 * 1024;
constexpr qsizetype kMaxRecipientBytes = 64 * 1024;

// The first maxBytes of value, cut at a blank when there is one near the end so
// that an encoded word is not split.
QByteArray capped(const QByteArray& value, qsizetype maxBytes) {
    if (value.size() <= maxBytes)
        return value;
    qsizetype cut = maxBytes;
    for (qsizetype i = maxBytes; i > maxBytes - 256 && i > 0; --i) {
        if (value[i] == ' ' || value[i] == '\t') {
            cut = i;
            break;
        }
    }
    return value.left(cut);
}

// Groups cannot nest (RFC 5322) and comments hardly ever do, but GMime's address
// parser recurses per level: structure nested deeper than real mail uses is
// dropped before GMime sees it. One pass, no recursion of our own.
QByteArray flattenDeepNesting(const QByteArray& value) {
    constexpr int kMaxGroupDepth = 1;
    constexpr int kMaxCommentDepth = 4;
    QByteArray out;
    bool changed = false;
    bool quoted = false;
    bool angle = false;
    int groups = 0;
    int comments = 0;
    out.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        const char c = value[i];
        bool keep = true;
        if (c == '\\' && i + 1 < value.size()) {
            out += c;
            out += value[++i];
            continue;
        }
        if (quoted) {
            quoted = c != '"';
        } else if (c == '(') {
            keep = ++comments <= kMaxCommentDepth;
        } else if (c == ')') {
            keep = comments <= kMaxCommentDepth;
            comments = qMax(0, comments - 1);
        } else if (comments > 0) {
            // inside a comment nothing is structure
        } else if (c == '"') {
            quoted = true;
        } else if (c == '<') {
            angle = true;
        } else if (c == '>') {
            angle = false;
        } else if (c == ':' && !angle) {
            keep = ++groups <= kMaxGroupDepth;
        } else if (c == ';' && !angle) {
            keep = groups <= kMaxGroupDepth;
            groups = qMax(0, groups - 1);
        }
        if (keep)
            out += c;
        else
            out += ' ';
        changed = changed || !keep;
    }
    return changed ? out : value;
}

GPtr<InternetAddressList> parseAddresses(const QByteArray& value) {
    pinCharsets(value);
    // C strings: a NUL inside a hostile value just ends it early.
    const QByteArray merged = mergePaddedBase64Words(flattenDeepNesting(value));
    return GPtr<InternetAddressList>(internet_address_list_parse(LooseParserOptions(), merged.constData()));
}

// The first mailbox of a list, looking inside groups.
InternetAddressMailbox* firstMailbox(InternetAddressList* list, int depth = 0) {
    if (!list || depth > 8)
        return nullptr;
    const int n = internet_address_list_length(list);
    for (int i = 0; i < n; ++i) {
        InternetAddress* address = internet_address_list_get_address(list, i);
        if (INTERNET_ADDRESS_IS_MAILBOX(address))
            return INTERNET_ADDRESS_MAILBOX(address);
        if (INTERNET_ADDRESS_IS_GROUP(address)) {
            if (auto* inner = firstMailbox(
                    internet_address_group_get_members(INTERNET_ADDRESS_GROUP(address)), depth + 1))
                return inner;
        }
    }
    return nullptr;
}

int countMailboxes(InternetAddressList* list, int depth = 0) {
    if (!list || depth > 8)
        return 0;
    int total = 0;
    const int n = internet_address_list_length(list);
    for (int i = 0; i < n; ++i) {
        InternetAddress* address = internet_address_list_get_address(list, i);
        if (INTERNET_ADDRESS_IS_GROUP(address))
            total += countMailboxes(internet_address_group_get_members(INTERNET_ADDRESS_GROUP(address)),
                                    depth + 1);
        else
            ++total;
    }
    return total;
}

QString decodeText(const QByteArray& value) {
    pinCharsets(value);
    GChars decoded(
        g_mime_utils_header_decode_text(LooseParserOptions(), mergePaddedBase64Words(value).constData()));
    return text(decoded.get());
}

// The phrase before "<", decoded: "MAILER DAEMON" of "MAILER DAEMON <>".
QString displayNameBeforeAngle(const QByteArray& value) {
    const qsizetype angle = value.indexOf('<');
    if (angle <= 0)
        return {};
    QByteArray phrase = value.left(angle).trimmed();
    if (phrase.size() >= 2 && phrase.startsWith('"') && phrase.endsWith('"'))
        phrase = phrase.mid(1, phrase.size() - 2);
    return decodeText(phrase);
}

// The words of text that look like an address: an "@" with something on both
// sides, once punctuation around the word is dropped.
QStringList addressLikeWords(const QString& text) {
    static const QString around = QStringLiteral("\"'()[],;:");
    static const QRegularExpression blanks(QStringLiteral("\\s+"));
    QStringList words;
    for (QString word : text.split(blanks, Qt::SkipEmptyParts)) {
        while (!word.isEmpty() && around.contains(word.front()))
            word.remove(0, 1);
        while (!word.isEmpty() && around.contains(word.back()))
            word.chop(1);
        const qsizetype at = word.indexOf(QLatin1Char('@'));
        if (at > 0 && at < word.size() - 1 && word.count(QLatin1Char('@')) == 1)
            words.append(word);
    }
    return words;
}

// Sender name and address of one From field.
void readFrom(const QByteArray& from, Message& message) {
    const auto list = parseAddresses(from);
    InternetAddressMailbox* mailbox = firstMailbox(list.get());
    const QString addr = mailbox ? text(internet_address_mailbox_get_addr(mailbox)) : QString();
    if (mailbox && addr.contains(QLatin1Char('@'))) {
        const QString name = text(internet_address_get_name(INTERNET_ADDRESS(mailbox)));
        message.FromAddr = addr;
        message.From = name.isEmpty() ? addr : name;
        return;
    }
    if (!from.contains('<')) {
        // Written without angle brackets ("Big Bug bb@bug.com"), which GMime does
        // not read as a mailbox: the text is the name, its one address the address.
        const QString whole = decodeText(from);
        const QStringList words = addressLikeWords(whole);
        if (words.size() == 1 || !mailbox) {
            message.From = whole;
            message.FromAddr = words.size() == 1 ? words.first() : QString();
            return;
        }
    }
    if (mailbox) {
        // An address without a domain ("postmaster").
        const QString name = text(internet_address_get_name(INTERNET_ADDRESS(mailbox)));
        message.FromAddr = addr;
        message.From = name.isEmpty() ? addr : name;
        return;
    }
    // Bounces come "From: MAILER DAEMON <>", which GMime rejects: the name still shows.
    message.From = displayNameBeforeAngle(from);
}

} // namespace

void ParseHeaderBlock(const QByteArray& rawHeaders, Message& message) {
    const Fields f = splitFields(rawHeaders);

    if (f.hasFrom)
        readFrom(capped(f.from, kMaxFieldBytes), message);
    if (f.hasReplyTo) {
        const auto list = parseAddresses(capped(f.replyTo, kMaxFieldBytes));
        if (InternetAddressMailbox* replyTo = firstMailbox(list.get()))
            message.ReplyToAddr = text(internet_address_mailbox_get_addr(replyTo));
    }
    if (f.hasSubject)
        message.Subject = decodeText(capped(f.subject, kMaxFieldBytes));
    if (f.hasDate)
        message.Date = decodeText(capped(f.date, kMaxFieldBytes));
    int recipients = 0;
    qsizetype budget = kMaxRecipientBytes;
    for (const QByteArray& value : f.recipients) {
        if (budget <= 0)
            break;
        const QByteArray part = capped(value, budget);
        budget -= part.size();
        recipients += countMailboxes(parseAddresses(part).get());
    }
    message.Recipients = recipients;

    // No Content-Type means text/plain (RFC 2045), which is the default already.
    if (f.hasContentType) {
        const QByteArray contentType = capped(f.contentType, kMaxFieldBytes);
        GPtr<GMimeContentType> type(g_mime_content_type_parse(LooseParserOptions(), contentType.constData()));
        if (type) {
            const QString media = text(g_mime_content_type_get_media_type(type.get())).toLower();
            const QString sub = text(g_mime_content_type_get_media_subtype(type.get())).toLower();
            if (!media.isEmpty() && !sub.isEmpty()) {
                message.ContentType = media;
                message.ContentSubType = sub;
            }
        }
    }
}

} // namespace pop3
