#include "friends/addressbook.h"

#include "store/fixedtext.h"
#include "store/friendaddress.h"
#include "store/friendsstore.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>
#include <QStringDecoder>

#include <algorithm>
#include <cerrno>
#include <iconv.h>

// Hand-written on purpose. Debian's vCard libraries do not fit: one implements
// only the vCard 4 grammar (no QUOTED-PRINTABLE, no CHARSET, which the vCard
// 2.1/3 exports of most address books use) and brings two more libraries
// along; the others are unmaintained C libraries. None reads CSV or LDIF. All
// we need is the e-mail values, which small, lenient readers get right.

namespace addressbook {

namespace {

// Large enough for any real address book, small enough to read at once.
constexpr qint64 kMaxFileBytes = 64LL * 1024 * 1024;

// Without a byte-order mark the bytes are taken as UTF-8 (or Latin-1 later);
// UTF-16 exports become UTF-8 here so the readers see one encoding.
QByteArray WithoutByteOrderMark(const QByteArray& bytes) {
    if (bytes.startsWith("\xEF\xBB\xBF"))
        return bytes.mid(3);
    const auto fromUtf16 = [&bytes](QStringConverter::Encoding encoding) {
        QStringDecoder decoder(encoding, QStringConverter::Flag::Stateless);
        return QString(decoder.decode(bytes.mid(2))).toUtf8();
    };
    if (bytes.startsWith("\xFF\xFE"))
        return fromUtf16(QStringConverter::Utf16LE);
    if (bytes.startsWith("\xFE\xFF"))
        return fromUtf16(QStringConverter::Utf16BE);
    return bytes;
}

// Physical lines; CR LF, LF and a lone CR all end a line.
QList<QByteArray> Lines(const QByteArray& bytes) {
    QList<QByteArray> lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const char c = bytes.at(i);
        if (c != '\r' && c != '\n')
            continue;
        lines.append(bytes.mid(start, i - start));
        if (c == '\r' && i + 1 < bytes.size() && bytes.at(i + 1) == '\n')
            ++i;
        start = i + 1;
    }
    if (start < bytes.size())
        lines.append(bytes.mid(start));
    return lines;
}

qsizetype IndexOutsideQuotes(const QByteArray& text, char wanted) {
    bool quoted = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i) == '"')
            quoted = !quoted;
        else if (text.at(i) == wanted && !quoted)
            return i;
    }
    return -1;
}

QList<QByteArray> SplitOutsideQuotes(const QByteArray& text, char separator) {
    QList<QByteArray> parts;
    QByteArray rest = text;
    for (qsizetype at = IndexOutsideQuotes(rest, separator); at >= 0;
         at = IndexOutsideQuotes(rest, separator)) {
        parts.append(rest.left(at));
        rest = rest.mid(at + 1);
    }
    parts.append(rest);
    return parts;
}

QByteArray Unquoted(QByteArray text) {
    text = text.trimmed();
    if (text.size() >= 2 && text.startsWith('"') && text.endsWith('"'))
        return text.mid(1, text.size() - 2);
    return text;
}

// One content line of a vCard: name (without its group), how the value is encoded.
struct Property {
    QByteArray name;
    QByteArray value;
    QByteArray charset;
    bool quotedPrintable = false;
    bool base64 = false;
};

std::optional<Property> ParseProperty(const QByteArray& line) {
    const qsizetype colon = IndexOutsideQuotes(line, ':');
    if (colon < 0)
        return std::nullopt;
    const QList<QByteArray> head = SplitOutsideQuotes(line.left(colon), ';');
    Property property;
    property.name = head.first().trimmed().toUpper();
    if (const qsizetype dot = property.name.lastIndexOf('.'); dot >= 0)
        property.name = property.name.mid(dot + 1); // item1.EMAIL
    property.value = line.mid(colon + 1);
    for (qsizetype i = 1; i < head.size(); ++i) {
        const QByteArray& param = head.at(i);
        const qsizetype eq = param.indexOf('=');
        const QByteArray key = eq < 0 ? QByteArray() : param.left(eq).trimmed().toUpper();
        const QByteArray value = Unquoted(eq < 0 ? param : param.mid(eq + 1)).toUpper();
        if (key.isEmpty() || key == "ENCODING") { // vCard 2.1 allows the bare value
            if (value == "QUOTED-PRINTABLE")
                property.quotedPrintable = true;
            else if (value == "B" || value == "BASE64")
                property.base64 = true;
        } else if (key == "CHARSET") {
            property.charset = value;
        }
    }
    return property;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

QByteArray DecodeQuotedPrintable(const QByteArray& text) {
    QByteArray out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text.at(i);
        if (c == '=' && i + 2 < text.size() && HexValue(text.at(i + 1)) >= 0 &&
            HexValue(text.at(i + 2)) >= 0) {
            out.append(static_cast<char>(HexValue(text.at(i + 1)) * 16 + HexValue(text.at(i + 2))));
            i += 2;
        } else {
            out.append(c); // a stray "=" stays as it is
        }
    }
    return out;
}

// vCard 3 and 4 escape commas, semicolons, backslashes and line breaks in text values.
QString UnescapeVCardText(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i) == u'\\' && i + 1 < text.size()) {
            const QChar next = text.at(++i);
            out.append(next == u'n' || next == u'N' ? QChar(u'\n') : next);
        } else {
            out.append(text.at(i));
        }
    }
    return out;
}

// Unfolds the physical lines into content lines. A line that starts with a
// blank continues the one before (RFC 6350 folding); a quoted-printable value
// ending in "=" continues on the next line whatever it starts with (vCard 2.1).
QList<QByteArray> VCardContentLines(const QByteArray& bytes) {
    QList<QByteArray> content;
    bool softBreak = false;
    for (const QByteArray& line : Lines(bytes)) {
        if (softBreak && !content.isEmpty()) {
            content.last().chop(1); // the "="
            content.last() += line;
        } else if (!content.isEmpty() && (line.startsWith(' ') || line.startsWith('\t'))) {
            content.last() += line.mid(1);
        } else {
            content.append(line);
        }
        const QByteArray& current = content.last();
        softBreak = false;
        if (current.endsWith('=')) {
            const std::optional<Property> property = ParseProperty(current);
            softBreak = property && property->quotedPrintable;
        }
    }
    return content;
}

QString DecodeLdifValue(const QByteArray& rest) {
    if (rest.startsWith(':'))
        return FixedText::DecodeBytes(QByteArray::fromBase64(rest.mid(1).trimmed()));
    qsizetype start = 0;
    while (start < rest.size() && rest.at(start) == ' ')
        ++start;
    return FixedText::DecodeBytes(rest.mid(start));
}

QChar CsvSeparator(const QString& text) {
    int commas = 0;
    int semicolons = 0;
    int tabs = 0;
    bool quoted = false;
    for (const QChar c : text) {
        if (c == u'"')
            quoted = !quoted;
        else if (!quoted && (c == u'\n' || c == u'\r'))
            break;
        else if (!quoted && c == u',')
            ++commas;
        else if (!quoted && c == u';')
            ++semicolons;
        else if (!quoted && c == u'\t')
            ++tabs;
    }
    if (semicolons > commas && semicolons >= tabs)
        return u';';
    if (tabs > commas && tabs > semicolons)
        return u'\t';
    return u',';
}

// RFC 4180 rows: quoted fields may hold separators, doubled quotes and line
// breaks. Lenient about stray quotes inside unquoted fields.
QList<QStringList> CsvRows(const QString& text, QChar separator) {
    QList<QStringList> rows;
    QStringList row;
    QString field;
    bool quoted = false;
    bool fieldWasQuoted = false;
    const auto endField = [&] {
        row.append(field);
        field.clear();
        fieldWasQuoted = false;
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (quoted) {
            if (c != u'"')
                field.append(c);
            else if (i + 1 < text.size() && text.at(i + 1) == u'"')
                field.append(text.at(++i));
            else
                quoted = false;
        } else if (c == u'"' && field.isEmpty() && !fieldWasQuoted) {
            quoted = fieldWasQuoted = true;
        } else if (c == separator) {
            endField();
        } else if (c == u'\r' || c == u'\n') {
            endField();
            rows.append(row);
            row.clear();
            if (c == u'\r' && i + 1 < text.size() && text.at(i + 1) == u'\n')
                ++i;
        } else {
            field.append(c);
        }
    }
    if (!field.isEmpty() || !row.isEmpty() || fieldWasQuoted) {
        endField();
        rows.append(row);
    }
    return rows;
}

bool StartsWithNoCase(const QByteArray& text, const char* prefix) {
    return text.trimmed().toLower().startsWith(QByteArray(prefix));
}

QByteArray FirstLine(const QByteArray& bytes) {
    for (const QByteArray& line : Lines(bytes))
        if (!line.trimmed().isEmpty())
            return line;
    return {};
}

} // namespace

Format DetectFormat(const QString& fileName, const QByteArray& bytes) {
    const QByteArray first = FirstLine(WithoutByteOrderMark(bytes));
    if (StartsWithNoCase(first, "begin:vcard"))
        return Format::VCard;
    if (StartsWithNoCase(first, "dn:") || StartsWithNoCase(first, "version:"))
        return Format::Ldif;
    const QString suffix = QFileInfo(fileName).suffix().toLower();
    if (suffix == u"vcf" || suffix == u"vcard")
        return Format::VCard;
    if (suffix == u"ldif" || suffix == u"ldi")
        return Format::Ldif;
    return Format::Csv;
}

QString DecodeCharset(const QByteArray& bytes, const QByteArray& charset) {
    static const QRegularExpression plausible(QStringLiteral("^[A-Za-z0-9._:-]{1,40}$"));
    const QString name = QString::fromLatin1(charset);
    if (charset.isEmpty() || !plausible.match(name).hasMatch() ||
        name.compare(u"UTF-8", Qt::CaseInsensitive) == 0)
        return FixedText::DecodeBytes(bytes);
    iconv_t converter = iconv_open("UTF-8", charset.constData());
    if (converter == reinterpret_cast<iconv_t>(-1))
        return FixedText::DecodeBytes(bytes);

    QByteArray in = bytes;
    QByteArray out(in.size() * 4 + 16, Qt::Uninitialized);
    char* inPtr = in.data();
    size_t inLeft = static_cast<size_t>(in.size());
    char* outPtr = out.data();
    size_t outLeft = static_cast<size_t>(out.size());
    while (inLeft > 0) {
        if (iconv(converter, &inPtr, &inLeft, &outPtr, &outLeft) != static_cast<size_t>(-1))
            break;
        if (errno == E2BIG) {
            const qsizetype used = outPtr - out.data();
            out.resize(out.size() * 2);
            outPtr = out.data() + used;
            outLeft = static_cast<size_t>(out.size() - used);
        } else if (errno == EILSEQ && outLeft >= 3) {
            // A byte the set does not define: mark it and go on.
            ++inPtr;
            --inLeft;
            *outPtr++ = '\xEF';
            *outPtr++ = '\xBF';
            *outPtr++ = '\xBD';
            outLeft -= 3;
        } else {
            break; // a character cut off at the end of the value
        }
    }
    iconv_close(converter);
    out.truncate(outPtr - out.data());
    return QString::fromUtf8(out);
}

QStringList AddressesIn(const QString& value) {
    // A name with an address in angle brackets is that address alone, even when
    // the name looks like an address too ("mum@home" <mum@family.test>).
    if (const std::optional<QString> address = friendaddress::AddressInAngleBrackets(value))
        return {*address};
    static const QRegularExpression separators(QStringLiteral("[\\s,;]+"));
    static const QString openers = QStringLiteral("<([\"'");
    static const QString closers = QStringLiteral(">)]\"'");
    QStringList addresses;
    for (QString token : value.split(separators, Qt::SkipEmptyParts)) {
        while (!token.isEmpty() && openers.contains(token.front()))
            token.remove(0, 1);
        while (!token.isEmpty() && closers.contains(token.back()))
            token.chop(1);
        if (token.startsWith(u"mailto:", Qt::CaseInsensitive))
            token.remove(0, 7);
        if (const qsizetype query = token.indexOf(u'?'); query >= 0)
            token.truncate(query);
        const qsizetype at = token.indexOf(u'@');
        if (at <= 0 || at == token.size() - 1)
            continue;
        const bool printable = std::none_of(token.cbegin(), token.cend(), [](QChar c) {
            return c.category() == QChar::Other_Control || c.category() == QChar::Other_Format;
        });
        if (printable)
            addresses.append(token);
    }
    return addresses;
}

QStringList ReadVCard(const QByteArray& bytes) {
    QStringList addresses;
    for (const QByteArray& line : VCardContentLines(WithoutByteOrderMark(bytes))) {
        const std::optional<Property> property = ParseProperty(line);
        if (!property || property->name != "EMAIL")
            continue;
        QByteArray raw = property->value;
        if (property->quotedPrintable)
            raw = DecodeQuotedPrintable(raw);
        else if (property->base64)
            raw = QByteArray::fromBase64(raw.trimmed());
        addresses += AddressesIn(UnescapeVCardText(DecodeCharset(raw, property->charset)));
    }
    return addresses;
}

QStringList ReadCsv(const QByteArray& bytes) {
    const QString text = FixedText::DecodeBytes(WithoutByteOrderMark(bytes));
    const QList<QStringList> rows = CsvRows(text, CsvSeparator(text));
    if (rows.isEmpty())
        return {};
    QList<qsizetype> columns;
    for (qsizetype i = 0; i < rows.first().size(); ++i)
        if (rows.first().at(i).contains(u"mail", Qt::CaseInsensitive))
            columns.append(i);
    QStringList addresses;
    for (qsizetype r = 1; r < rows.size(); ++r)
        for (const qsizetype column : columns)
            if (column < rows.at(r).size())
                addresses += AddressesIn(rows.at(r).at(column));
    return addresses;
}

QStringList ReadLdif(const QByteArray& bytes) {
    QList<QByteArray> logical;
    for (const QByteArray& line : Lines(WithoutByteOrderMark(bytes))) {
        if (line.startsWith(' ') && !logical.isEmpty())
            logical.last() += line.mid(1);
        else
            logical.append(line);
    }
    QStringList addresses;
    for (const QByteArray& line : logical) {
        if (line.startsWith('#'))
            continue;
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            continue;
        QByteArray attribute = line.left(colon);
        if (const qsizetype options = attribute.indexOf(';'); options >= 0)
            attribute.truncate(options); // mail;lang-de
        attribute = attribute.trimmed().toLower();
        if (attribute != "mail" && attribute != "mozillasecondemail")
            continue;
        const QByteArray rest = line.mid(colon + 1);
        if (rest.startsWith('<'))
            continue; // a value given by URL: not read
        addresses += AddressesIn(DecodeLdifValue(rest));
    }
    return addresses;
}

QStringList Read(Format format, const QByteArray& bytes) {
    switch (format) {
    case Format::VCard:
        return ReadVCard(bytes);
    case Format::Csv:
        return ReadCsv(bytes);
    case Format::Ldif:
        return ReadLdif(bytes);
    }
    return {};
}

std::optional<QStringList> ReadFile(const QString& path, QString* error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("Could not open %1: %2").arg(QFileInfo(path).fileName(), file.errorString());
        return std::nullopt;
    }
    if (file.size() > kMaxFileBytes) {
        *error = QStringLiteral("%1 is larger than %2 MB, too large for an address book.")
                     .arg(QFileInfo(path).fileName())
                     .arg(kMaxFileBytes / (1024 * 1024));
        return std::nullopt;
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        *error = QStringLiteral("Could not read %1: %2").arg(QFileInfo(path).fileName(), file.errorString());
        return std::nullopt;
    }
    return Read(DetectFormat(path, bytes), bytes);
}

Plan PlanImport(const QStringList& addresses, const QList<QPair<int, QString>>& friends) {
    QSet<QString> known;
    known.reserve(friends.size());
    for (const auto& entry : friends)
        known.insert(FriendsStore::ComparisonKey(entry.second));
    Plan plan;
    QSet<QString> seen;
    for (const QString& address : addresses) {
        const QString key = FriendsStore::ComparisonKey(address);
        if (key.isEmpty() || seen.contains(key))
            continue;
        seen.insert(key);
        ++plan.found;
        const QString trimmed = FixedText::TrimBlanks(address);
        if (known.contains(key))
            ++plan.alreadyFriends;
        else if (trimmed.toUtf8().size() > kAddressBytes)
            plan.tooLong.append(trimmed);
        else
            plan.toAdd.append(trimmed);
    }
    return plan;
}

} // namespace addressbook
