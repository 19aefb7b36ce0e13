// GMime first: its GIO headers clash with Qt's keywords otherwise.
#include <gmime/gmime.h>

#include "pop3/bodypreview.h"
#include "pop3/gmimeinit.h"
#include "pop3/htmltext.h"

#include <QStringDecoder>

#include <cctype>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>

// The MIME structure is walked here, line by line, rather than by GMime's
// message parser: the walk needs a nesting cap, a part cap and a clock it can
// look at between lines, and a reply cut anywhere must still give what it holds.
// Splitting at boundaries is simple; what is hard (types, parameters and their
// RFC 2231/2047 encodings, transfer encodings, charsets) stays with GMime. No
// GMime multipart object is ever built, so nothing asks it for a boundary.

namespace pop3 {

namespace {

// Far more than any real Content-Type or Content-Disposition (a long file name
// in RFC 2231 pieces is a few hundred bytes); bounds what GMime is handed.
constexpr qsizetype kMaxFieldBytes = 8 * 1024;
constexpr qsizetype kMaxBoundary = 200; // RFC 2046 allows 70
constexpr int kMaxTextCandidates = 8;

bool sameName(QByteArrayView a, const char* b) {
    return a.compare(QByteArrayView(b), Qt::CaseInsensitive) == 0;
}

// The three fields of a MIME entity that matter here, unfolded, the first of each.
struct EntityFields {
    QByteArray contentType, encoding, disposition;
    QByteArray* current = nullptr;

    void addLine(QByteArrayView line) {
        if (line.front() == ' ' || line.front() == '\t') {
            if (current && current->size() < kMaxFieldBytes)
                current->append(line.first(qMin(line.size(), kMaxFieldBytes)));
            return;
        }
        current = nullptr;
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            return;
        const QByteArrayView name = line.first(colon).trimmed();
        QByteArray* target = sameName(name, "Content-Type")                ? &contentType
                             : sameName(name, "Content-Transfer-Encoding") ? &encoding
                             : sameName(name, "Content-Disposition")       ? &disposition
                                                                           : nullptr;
        if (!target || !target->isEmpty())
            return;
        const QByteArrayView value = line.sliced(colon + 1);
        target->append(value.first(qMin(value.size(), kMaxFieldBytes)));
        current = target;
    }
};

struct Part {
    QByteArray media = "text", sub = "plain"; // lower case
    QByteArray boundary, charset, format, delsp;
    QString name;
    qint64 declaredSize = -1;
    bool attachment = false;
    GMimeContentEncoding encoding = GMIME_CONTENT_ENCODING_DEFAULT;

    bool isTextBody() const {
        return media == "text" && (sub == "plain" || sub == "html") && !attachment && name.isEmpty();
    }
};

QByteArray parameter(const char* value) {
    return value ? QByteArray(value).trimmed() : QByteArray();
}

void readContentType(const QByteArray& field, Part& part) {
    GPtr<GMimeContentType> type(g_mime_content_type_parse(LooseParserOptions(), field.constData()));
    if (!type)
        return;
    const QByteArray media = parameter(g_mime_content_type_get_media_type(type.get())).toLower();
    const QByteArray sub = parameter(g_mime_content_type_get_media_subtype(type.get())).toLower();
    if (media.isEmpty() || sub.isEmpty())
        return;
    part.media = media;
    part.sub = sub;
    auto get = [&](const char* name) {
        return parameter(g_mime_content_type_get_parameter(type.get(), name));
    };
    part.boundary = get("boundary").left(kMaxBoundary);
    part.charset = get("charset").toLower().left(64);
    part.format = get("format").toLower();
    part.delsp = get("delsp").toLower();
    part.name = QString::fromUtf8(get("name"));
}

void readDisposition(const QByteArray& field, Part& part) {
    GPtr<GMimeContentDisposition> disposition(
        g_mime_content_disposition_parse(LooseParserOptions(), field.constData()));
    if (!disposition)
        return;
    part.attachment = g_mime_content_disposition_is_attachment(disposition.get());
    auto get = [&](const char* name) {
        return parameter(g_mime_content_disposition_get_parameter(disposition.get(), name));
    };
    if (const QByteArray filename = get("filename"); !filename.isEmpty())
        part.name = QString::fromUtf8(filename);
    bool ok = false;
    const qint64 size = get("size").toLongLong(&ok);
    if (ok && size >= 0)
        part.declaredSize = size;
}

// defaultType: what a part without Content-Type is (RFC 2046: message/rfc822 in a digest).
Part describe(const EntityFields& fields, bool inDigest) {
    Part part;
    if (inDigest) {
        part.media = "message";
        part.sub = "rfc822";
    }
    if (!fields.contentType.isEmpty())
        readContentType(fields.contentType, part);
    if (!fields.disposition.isEmpty())
        readDisposition(fields.disposition, part);
    if (!fields.encoding.isEmpty())
        part.encoding = g_mime_content_encoding_from_string(fields.encoding.trimmed().constData());
    return part;
}

struct Leaf {
    Part part;
    qsizetype begin = 0, end = 0;
    bool complete = true; // closed by its boundary, or the reply held the whole message
    int alternative = -1; // the nearest multipart/alternative around it
};

// Bytes a part's body decodes to, without decoding it: base64 gives three bytes
// for four letters; anything else is counted as it stands.
qint64 decodedLength(QByteArrayView body, GMimeContentEncoding encoding) {
    if (encoding != GMIME_CONTENT_ENCODING_BASE64)
        return body.size();
    qint64 letters = 0;
    for (const char c : body)
        letters += (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
                   c == '/';
    return letters * 3 / 4;
}

// One pass over the lines of the reply, keeping a stack of open multiparts.
// Each line costs at most one comparison per open multipart, and the stack is
// capped, so the pass is linear in the input whatever its structure.
class MimeScanner {
public:
    // inputCut: in is the start of a longer reply.
    MimeScanner(QByteArrayView in, bool inputCut, const PreviewLimits& limits, const Deadline& deadline,
                BodyPreview& out)
        : m_in(in), m_inputCut(inputCut), m_limits(limits), m_deadline(deadline), m_out(out) {}

    void run();
    // The part to show as text: the first text part, except that a text/plain
    // beside an HTML part in the same multipart/alternative wins.
    const Leaf* textLeaf() const;

private:
    enum class Mode { Headers, Body, Skip };
    struct Open {
        QByteArray boundary;
        int id = 0;
        bool digest = false;
        bool alternative = false;
    };

    void onLine(QByteArrayView line, qsizetype start, qsizetype next);
    void endHeaders(qsizetype bodyBegin);
    int matchBoundary(QByteArrayView line, bool& closing) const;
    void onBoundary(int index, bool closing, qsizetype lineStart);
    void finishLeaf(qsizetype end, bool complete);
    void addAttachment(const Leaf& leaf);
    void finish(qsizetype end, bool stopped);

    const QByteArrayView m_in;
    const bool m_inputCut;
    const PreviewLimits& m_limits;
    const Deadline& m_deadline;
    BodyPreview& m_out;
    QList<Open> m_open;
    QList<Leaf> m_candidates;
    Mode m_mode = Mode::Headers;
    EntityFields m_fields;
    bool m_inDigest = false;
    Part m_part;
    qsizetype m_leafBegin = 0;
    int m_parts = 0;
    int m_bodyLines = -1; // lines after the message's own header block; -1 while in it
    bool m_stopped = false;
};

void MimeScanner::run() {
    qsizetype pos = 0;
    int lines = 0;
    while (pos < m_in.size() && !m_stopped) {
        if (++lines % 1024 == 0 && m_deadline.passed()) {
            m_out.limited = true;
            m_stopped = true;
            break;
        }
        const char* p = m_in.data() + pos;
        const auto* nl = static_cast<const char*>(std::memchr(p, '\n', size_t(m_in.size() - pos)));
        const qsizetype next = nl ? nl - m_in.data() + 1 : m_in.size();
        qsizetype lineEnd = nl ? nl - m_in.data() : m_in.size();
        while (lineEnd > pos && m_in[lineEnd - 1] == '\r')
            --lineEnd;
        onLine(m_in.sliced(pos, lineEnd - pos), pos, next);
        pos = next;
    }
    finish(pos, m_stopped);
}

void MimeScanner::onLine(QByteArrayView line, qsizetype start, qsizetype next) {
    if (m_bodyLines >= 0) {
        ++m_bodyLines;
        if (!m_open.isEmpty() && line.startsWith("--")) {
            bool closing = false;
            if (const int index = matchBoundary(line, closing); index >= 0) {
                onBoundary(index, closing, start);
                return;
            }
        }
    }
    if (m_mode != Mode::Headers)
        return;
    if (!line.isEmpty()) {
        m_fields.addLine(line);
        return;
    }
    if (m_bodyLines < 0)
        m_bodyLines = 0;
    endHeaders(next);
}

void MimeScanner::endHeaders(qsizetype bodyBegin) {
    m_part = describe(m_fields, m_inDigest);
    m_fields = {};
    m_mode = Mode::Skip;
    if (++m_parts > m_limits.maxParts || m_deadline.passed()) {
        m_out.limited = true;
        m_stopped = true;
        return;
    }
    if (m_part.media == "multipart") {
        if (m_part.boundary.isEmpty())
            return; // nothing to split it by: its body is skipped
        if (m_open.size() >= m_limits.maxDepth) {
            m_out.limited = true; // skipped up to the next boundary of a multipart around it
            return;
        }
        m_open.append({m_part.boundary, m_parts, m_part.sub == "digest", m_part.sub == "alternative"});
        return; // the preamble is skipped
    }
    m_leafBegin = bodyBegin;
    m_mode = Mode::Body;
}

int MimeScanner::matchBoundary(QByteArrayView line, bool& closing) const {
    const QByteArrayView afterDashes = line.sliced(2);
    for (qsizetype i = m_open.size() - 1; i >= 0; --i) {
        const QByteArray& boundary = m_open[i].boundary;
        if (!afterDashes.startsWith(boundary))
            continue;
        QByteArrayView rest = afterDashes.sliced(boundary.size());
        closing = rest.startsWith("--");
        if (closing)
            rest = rest.sliced(2);
        if (rest.trimmed().isEmpty())
            return int(i);
    }
    return -1;
}

void MimeScanner::onBoundary(int index, bool closing, qsizetype lineStart) {
    if (m_mode == Mode::Body) {
        qsizetype end = lineStart; // the line break before a boundary belongs to the boundary
        if (end > m_leafBegin && m_in[end - 1] == '\n')
            --end;
        if (end > m_leafBegin && m_in[end - 1] == '\r')
            --end;
        finishLeaf(end, true);
    }
    m_fields = {};            // a part cut off inside its header block has no body
    m_open.resize(index + 1); // a boundary further out closes every multipart inside it
    if (closing) {
        m_open.removeLast();
        m_mode = Mode::Skip; // the epilogue
        return;
    }
    m_mode = Mode::Headers;
    m_inDigest = m_open.last().digest;
}

void MimeScanner::finishLeaf(qsizetype end, bool complete) {
    m_mode = Mode::Skip;
    Leaf leaf{m_part, m_leafBegin, end, complete};
    for (qsizetype i = m_open.size() - 1; i >= 0 && leaf.alternative < 0; --i)
        if (m_open[i].alternative)
            leaf.alternative = m_open[i].id;
    if (m_part.isTextBody()) {
        if (m_candidates.size() < kMaxTextCandidates)
            m_candidates.append(leaf);
        return;
    }
    addAttachment(leaf);
}

void MimeScanner::addAttachment(const Leaf& leaf) {
    if (m_out.attachments.size() >= m_limits.maxAttachments) {
        ++m_out.unlistedAttachments;
        return;
    }
    PreviewAttachment attachment;
    attachment.name = leaf.part.name.left(255);
    attachment.mimeType = QString::fromUtf8(leaf.part.media + '/' + leaf.part.sub).left(255);
    if (leaf.part.declaredSize >= 0) {
        attachment.size = leaf.part.declaredSize;
    } else {
        attachment.size = decodedLength(m_in.sliced(leaf.begin, leaf.end - leaf.begin), leaf.part.encoding);
        attachment.atLeast = !leaf.complete;
    }
    m_out.attachments.append(attachment);
}

void MimeScanner::finish(qsizetype end, bool stopped) {
    // The reply holds the whole message when its body is shorter than the lines asked for.
    const bool wholeMessage = m_bodyLines < m_limits.bodyLines && !m_inputCut;
    const bool partOpen = !m_open.isEmpty() || (m_mode == Mode::Headers && m_bodyLines >= 0);
    if (m_mode == Mode::Body)
        finishLeaf(end, wholeMessage && m_open.isEmpty() && !stopped);
    m_out.cutShort = m_bodyLines >= 0 && (!wholeMessage || partOpen);
}

const Leaf* MimeScanner::textLeaf() const {
    if (m_candidates.isEmpty())
        return nullptr;
    const Leaf& first = m_candidates.first();
    if (first.part.sub == "html" && first.alternative >= 0) {
        for (const Leaf& other : m_candidates)
            if (other.alternative == first.alternative && other.part.sub == "plain")
                return &other;
    }
    return &first;
}

QByteArray transferDecode(QByteArrayView body, GMimeContentEncoding encoding) {
    if (encoding != GMIME_CONTENT_ENCODING_BASE64 && encoding != GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE)
        return body.toByteArray();
    // A base64 block cut mid-quad decodes as far as its last whole quad.
    GMimeEncoding state;
    g_mime_encoding_init_decode(&state, encoding);
    QByteArray out(qsizetype(g_mime_encoding_outlen(&state, size_t(body.size()))), Qt::Uninitialized);
    const size_t written = g_mime_encoding_flush(&state, body.data(), size_t(body.size()), out.data());
    out.truncate(qsizetype(written));
    return out;
}

// GMime's converter drops bytes the charset does not allow. Empty when the
// charset is unknown to iconv.
std::optional<QString> convertCharset(const QByteArray& bytes, const QByteArray& charset) {
    GPtr<GMimeFilter> filter(g_mime_filter_charset_new(charset.constData(), "UTF-8"));
    if (!filter)
        return std::nullopt;
    QByteArray in = bytes; // the filter API takes a writable buffer
    char* out = nullptr;
    size_t outLength = 0;
    size_t outPrespace = 0;
    g_mime_filter_complete(filter.get(), in.data(), size_t(in.size()), 0, &out, &outLength, &outPrespace);
    return QString::fromUtf8(out, qsizetype(outLength));
}

// Text whose charset is missing or useless: UTF-8 when it is valid (a sequence
// cut at the end does not count against it), else what Windows mailers send.
QString undeclaredText(const QByteArray& bytes) {
    QStringDecoder utf8(QStringDecoder::Utf8);
    QString text = utf8.decode(bytes);
    if (!utf8.hasError())
        return text;
    return convertCharset(bytes, "windows-1252").value_or(QString::fromLatin1(bytes));
}

QString toUnicode(const QByteArray& bytes, QByteArray charset) {
    if (charset.isEmpty() || charset == "us-ascii" || charset == "ascii" || charset.startsWith("unknown") ||
        charset.startsWith("x-unknown"))
        return undeclaredText(bytes);
    if (charset == "utf-8" || charset == "utf8") // a sequence cut at the end (a cut-off part) is left out
        return QStringDecoder(QStringDecoder::Utf8).decode(bytes);
    // Mail labelled Latin-1 is written on Windows more often than not.
    if (charset == "iso-8859-1" || charset == "iso8859-1" || charset == "latin1")
        charset = "windows-1252";
    return convertCharset(bytes, charset).value_or(undeclaredText(bytes));
}

// An HTML part without a charset parameter may name one in a meta element near its start.
QByteArray metaCharset(const QByteArray& html) {
    const QByteArray head = html.left(4096).toLower();
    const qsizetype at = head.indexOf("charset=");
    if (at < 0)
        return {};
    qsizetype from = at + 8;
    while (from < head.size() && (head[from] == '"' || head[from] == '\'' || head[from] == ' '))
        ++from;
    qsizetype to = from;
    while (to < head.size() && to - from < 40 &&
           (std::isalnum(static_cast<unsigned char>(head[to])) || head[to] == '-' || head[to] == '_' ||
            head[to] == '.' || head[to] == ':'))
        ++to;
    return head.mid(from, to - from);
}

// RFC 3676: a line ending in a space goes on in the next one; quote depth is
// kept as "> " prefixes. Space-stuffing is removed.
QString unflow(const QString& text, bool delsp) {
    QString out;
    out.reserve(text.size());
    bool open = false;
    int openDepth = 0;
    for (QStringView line : QStringView(text).split(u'\n')) {
        int depth = 0;
        while (depth < line.size() && line[depth] == u'>')
            ++depth;
        QStringView content = line.sliced(depth);
        if (content.startsWith(u' '))
            content = content.sliced(1);
        const bool flowed = content.endsWith(u' ') && content != u"-- ";
        if (open && depth != openDepth) { // a flowed line before a change of depth ends its paragraph
            while (out.endsWith(u' '))
                out.chop(1);
            out += u'\n';
        }
        if (!open || depth != openDepth) {
            out += QString(depth, u'>');
            if (depth > 0)
                out += u' ';
        }
        out += flowed && delsp ? content.chopped(1) : content;
        open = flowed;
        openDepth = depth;
        if (!flowed)
            out += u'\n';
    }
    return out;
}

QString normalisedLineBreaks(QString text) {
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(u'\r', u'\n');
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    return text;
}

// At most maxLines lines and maxChars characters (never half a surrogate pair),
// without blank lines around.
QString capped(QString text, const PreviewLimits& limits, bool& limited) {
    qsizetype pos = 0;
    int lines = 0;
    while (lines < limits.maxLines) {
        const qsizetype lineBreak = text.indexOf(u'\n', pos);
        if (lineBreak < 0)
            break;
        pos = lineBreak + 1;
        ++lines;
    }
    if (lines == limits.maxLines && pos < text.size()) {
        text.truncate(pos);
        limited = true;
    }
    if (text.size() > limits.maxChars) {
        qsizetype cut = limits.maxChars;
        if (cut > 0 && text.at(cut - 1).isHighSurrogate())
            --cut;
        text.truncate(cut);
        limited = true;
    }
    while (!text.isEmpty() && text.back().isSpace())
        text.chop(1);
    while (text.startsWith(u'\n'))
        text.remove(0, 1);
    return text;
}

void decodeText(QByteArrayView in, const Leaf& leaf, const PreviewLimits& limits, const Deadline& deadline,
                BodyPreview& out) {
    QByteArrayView body = in.sliced(leaf.begin, leaf.end - leaf.begin);
    if (body.size() > limits.maxPartBytes) {
        body = body.first(limits.maxPartBytes);
        out.limited = true;
    }
    const QByteArray bytes = transferDecode(body, leaf.part.encoding);
    const bool html = leaf.part.sub == "html";
    QByteArray charset = leaf.part.charset;
    if (html && charset.isEmpty())
        charset = metaCharset(bytes);
    QString text = normalisedLineBreaks(toUnicode(bytes, charset));
    if (html) {
        if (deadline.passed()) {
            out.limited = true;
            return;
        }
        text = HtmlToText(text.toUtf8(), limits.maxLines, limits.maxChars, deadline, out.limited);
        out.convertedFromHtml = true;
    } else if (leaf.part.format == "flowed") {
        text = unflow(text, leaf.part.delsp == "yes");
    }
    out.text = capped(std::move(text), limits, out.limited);
}

} // namespace

BodyPreview MakeBodyPreview(const QByteArray& topReply, const PreviewLimits& limits) {
    LooseParserOptions(); // GMime set up before any of its calls, the charset converters included
    Deadline deadline;
    deadline.budgetMs = limits.timeBudgetMs;
    deadline.timer.start();
    BodyPreview out;
    QByteArrayView in(topReply);
    if (in.size() > limits.maxInputBytes) {
        in = in.first(limits.maxInputBytes);
        out.limited = true;
    }
    MimeScanner scanner(in, out.limited, limits, deadline, out);
    scanner.run();
    if (const Leaf* leaf = scanner.textLeaf())
        decodeText(in, *leaf, limits, deadline, out);
    return out;
}

} // namespace pop3
