#include "pop3types.h"

#include <gmime/gmime.h>

#include <QByteArrayView>
#include <QList>
#include <QRegularExpression>

#include <cstring>
#include <memory>
#include <mutex>

namespace pop3 {

namespace {

struct GObjectUnref {
    void operator()(gpointer object) const {
        if (object)
            g_object_unref(object);
    }
};
template <typename T> using GPtr = std::unique_ptr<T, GObjectUnref>;

struct GFree {
    void operator()(gpointer p) const { g_free(p); }
};
using GChars = std::unique_ptr<char, GFree>;

// Shared, read-only after creation.
GMimeParserOptions* parserOptions() {
    static GMimeParserOptions* options = nullptr;
    static std::once_flag once;
    std::call_once(once, [] {
        g_mime_init();
        options = g_mime_parser_options_new();
        // Undeclared 8-bit text: UTF-8 when it is valid, else what Windows mailers send.
        static const char* charsets[] = {"UTF-8", "windows-1252", nullptr};
        g_mime_parser_options_set_fallback_charsets(options, charsets);
        g_mime_parser_options_set_rfc2047_compliance_mode(options, GMIME_RFC_COMPLIANCE_LOOSE);
        g_mime_parser_options_set_address_compliance_mode(options, GMIME_RFC_COMPLIANCE_LOOSE);
        g_mime_parser_options_set_parameter_compliance_mode(options, GMIME_RFC_COMPLIANCE_LOOSE);
        g_mime_parser_options_set_allow_addresses_without_domain(options, TRUE);
    });
    return options;
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
        if (lineEnd > p && lineEnd[-1] == '\r')
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

GPtr<InternetAddressList> parseAddresses(const QByteArray& value) {
    // C strings: a NUL inside a hostile value just ends it early.
    const QByteArray merged = mergePaddedBase64Words(value);
    return GPtr<InternetAddressList>(internet_address_list_parse(parserOptions(), merged.constData()));
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
    GChars decoded(
        g_mime_utils_header_decode_text(parserOptions(), mergePaddedBase64Words(value).constData()));
    return text(decoded.get());
}

} // namespace

void ParseHeaderBlock(const QByteArray& rawHeaders, Message& message) {
    const Fields f = splitFields(rawHeaders);

    if (f.hasFrom) {
        const auto list = parseAddresses(f.from);
        if (InternetAddressMailbox* from = firstMailbox(list.get())) {
            message.FromAddr = text(internet_address_mailbox_get_addr(from));
            const QString name = text(internet_address_get_name(INTERNET_ADDRESS(from)));
            message.From = name.isEmpty() ? message.FromAddr : name;
        }
    }
    if (f.hasReplyTo) {
        const auto list = parseAddresses(f.replyTo);
        if (InternetAddressMailbox* replyTo = firstMailbox(list.get()))
            message.ReplyToAddr = text(internet_address_mailbox_get_addr(replyTo));
    }
    if (f.hasSubject)
        message.Subject = decodeText(f.subject);
    if (f.hasDate)
        message.Date = decodeText(f.date);
    int recipients = 0;
    for (const QByteArray& value : f.recipients)
        recipients += countMailboxes(parseAddresses(value).get());
    message.Recipients = recipients;

    // No Content-Type means text/plain (RFC 2045), which is the default already.
    if (f.hasContentType) {
        GPtr<GMimeContentType> type(g_mime_content_type_parse(parserOptions(), f.contentType.constData()));
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
