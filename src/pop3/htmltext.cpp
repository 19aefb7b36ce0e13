#include "pop3/htmltext.h"

#include <libxml/HTMLparser.h>
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <QHash>
#include <QUrl>

#include <memory>
#include <mutex>

namespace pop3 {

namespace {

// The HTML parser loads no DTD of its own; this loader refuses anything else
// that would ask for a file or a URL, so a document can only ever be itself.
xmlParserInputPtr RefuseEntity(const char*, const char*, xmlParserCtxtPtr) {
    return nullptr;
}

void initLibxml() {
    static std::once_flag once;
    std::call_once(once, [] {
        xmlInitParser(); // once, before any thread parses
        xmlSetExternalEntityLoader(RefuseEntity);
    });
}

struct ContextFree {
    void operator()(htmlParserCtxt* context) const { htmlFreeParserCtxt(context); }
};
struct DocFree {
    void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};
struct XmlFree {
    void operator()(xmlChar* p) const { xmlFree(p); }
};

QString attribute(xmlNode* node, const char* name) {
    const std::unique_ptr<xmlChar, XmlFree> value(xmlGetProp(node, reinterpret_cast<const xmlChar*>(name)));
    return value ? QString::fromUtf8(reinterpret_cast<const char*>(value.get())).trimmed() : QString();
}

enum class Kind { Inline, Skip, Block, Paragraph, LineBreak, ListItem, Cell, Link, Image, Pre };

Kind kindOf(const xmlChar* name) {
    // Built once, read-only afterwards (function-local statics start safely on any thread).
    static const QHash<QByteArray, Kind> kinds = [] {
        QHash<QByteArray, Kind> k;
        for (const char* n : {"script", "style", "head", "title", "template", "iframe", "object", "embed",
                              "applet", "svg", "math", "select", "noframes", "frameset", "audio", "video"})
            k.insert(n, Kind::Skip);
        for (const char* n : {"div",     "ul",      "ol",      "dl",         "dt",      "dd",       "tr",
                              "table",   "address", "article", "aside",      "section", "header",   "footer",
                              "nav",     "main",    "figure",  "figcaption", "form",    "fieldset", "center",
                              "caption", "details", "summary", "body",       "html"})
            k.insert(n, Kind::Block);
        for (const char* n : {"p", "h1", "h2", "h3", "h4", "h5", "h6", "blockquote", "hr"})
            k.insert(n, Kind::Paragraph);
        k.insert("br", Kind::LineBreak);
        k.insert("li", Kind::ListItem);
        k.insert("td", Kind::Cell);
        k.insert("th", Kind::Cell);
        k.insert("a", Kind::Link);
        k.insert("img", Kind::Image);
        k.insert("pre", Kind::Pre);
        return k;
    }();
    const char* n = reinterpret_cast<const char*>(name);
    return kinds.value(QByteArray::fromRawData(n, qstrlen(n)), Kind::Inline);
}

// Where a link leads, as a reader can judge it: the host of a web address, the
// address of a mailto. Never opened.
QString linkTarget(const QString& href) {
    const QUrl url(href, QUrl::TolerantMode);
    const QString scheme = url.scheme().toLower();
    QString target;
    if (scheme == QLatin1String("http") || scheme == QLatin1String("https"))
        target = url.host();
    else if (scheme == QLatin1String("mailto"))
        target = url.path();
    return target.left(100);
}

// Collects text with HTML's white-space rules: runs of blanks become one space,
// line breaks are asked for and written only before the next text, so that
// empty elements leave no empty lines.
class TextBuilder {
public:
    TextBuilder(int maxLines, qsizetype maxChars) : m_maxLines(maxLines), m_maxChars(maxChars) {}

    bool full() const { return m_lines >= m_maxLines || m_out.size() >= m_maxChars; }
    qsizetype size() const { return m_out.size(); }
    QStringView written(qsizetype from) const { return QStringView(m_out).sliced(from); }
    void space() { m_pendingSpace = true; }
    void breakLine(int lines) { m_pendingBreaks = qMax(m_pendingBreaks, lines); }
    void forceBreak() { m_pendingBreaks = qMin(m_pendingBreaks + 1, 2); }
    QString take() { return std::move(m_out); }

    void add(QStringView text, bool pre) {
        for (const QChar c : text) {
            const char16_t u = c.unicode();
            if (pre && u == u'\n') {
                forceBreak();
            } else if (!pre && (u == u' ' || u == u'\t' || u == u'\n' || u == u'\r' || u == u'\f')) {
                m_pendingSpace = true;
            } else if (u == 0x00A0) {
                m_pendingSpace = true; // newsletters pad with runs of these
            } else if (u == 0x200B || u == 0x200C || u == 0x200D || u == 0x034F || u == 0x00AD ||
                       u == 0xFEFF || u == 0x2060) {
                // invisible padding
            } else {
                flush();
                m_out += c;
            }
        }
    }

private:
    void flush() {
        if (m_out.isEmpty()) {
            m_pendingBreaks = 0;
            m_pendingSpace = false;
        }
        if (m_pendingBreaks > 0) {
            m_out += QString(m_pendingBreaks, u'\n');
            m_lines += m_pendingBreaks;
            m_atLineStart = true;
        } else if (m_pendingSpace && !m_atLineStart) {
            m_out += u' ';
        }
        m_pendingBreaks = 0;
        m_pendingSpace = false;
        m_atLineStart = false;
    }

    const int m_maxLines;
    const qsizetype m_maxChars;
    QString m_out;
    int m_lines = 0;
    int m_pendingBreaks = 0;
    bool m_pendingSpace = false;
    bool m_atLineStart = true;
};

// Walks the tree in document order without recursion (a hostile document may
// nest as deep as it likes), turning elements into text.
class Walker {
public:
    Walker(int maxLines, qsizetype maxChars) : m_text(maxLines, maxChars) {}

    void walk(xmlNode* first, const Deadline& deadline, bool& limited) {
        int visited = 0;
        xmlNode* node = first;
        while (node) {
            if (++visited % 1024 == 0 && deadline.passed()) {
                limited = true;
                return;
            }
            if (m_text.full()) {
                limited = true;
                return;
            }
            if (enter(node) && node->children) {
                node = node->children;
                continue;
            }
            node = leaveUpwards(node);
        }
    }

    QString take() { return m_text.take(); }

private:
    // Leaves node and every ancestor it is the last child of; the next node in order.
    xmlNode* leaveUpwards(xmlNode* node) {
        while (node) {
            leave(node);
            if (node->next)
                return node->next;
            node = node->parent;
            if (node && node->type != XML_ELEMENT_NODE)
                return nullptr; // back at the document
        }
        return nullptr;
    }

    bool enter(xmlNode* node) {
        if (node->type == XML_TEXT_NODE || node->type == XML_CDATA_SECTION_NODE) {
            if (node->content)
                m_text.add(QString::fromUtf8(reinterpret_cast<const char*>(node->content)), m_pre > 0);
            return false;
        }
        if (node->type != XML_ELEMENT_NODE)
            return false;
        switch (kindOf(node->name)) {
        case Kind::Skip:
            return false;
        case Kind::Block:
            m_text.breakLine(1);
            break;
        case Kind::Paragraph:
            m_text.breakLine(2);
            break;
        case Kind::LineBreak:
            m_text.forceBreak();
            break;
        case Kind::ListItem:
            m_text.breakLine(1);
            m_text.add(u"\u2022", false);
            m_text.space();
            break;
        case Kind::Cell:
            m_text.space();
            break;
        case Kind::Link:
            m_linkTarget = linkTarget(attribute(node, "href"));
            m_linkStart = m_text.size();
            break;
        case Kind::Image:
            imageText(node);
            break;
        case Kind::Pre:
            m_text.breakLine(2);
            ++m_pre;
            break;
        case Kind::Inline:
            break;
        }
        return true;
    }

    void leave(xmlNode* node) {
        if (node->type != XML_ELEMENT_NODE)
            return;
        switch (kindOf(node->name)) {
        case Kind::Block:
        case Kind::ListItem:
            m_text.breakLine(1);
            break;
        case Kind::Paragraph:
            m_text.breakLine(2);
            break;
        case Kind::Pre:
            m_pre = qMax(0, m_pre - 1);
            m_text.breakLine(2);
            break;
        case Kind::Cell:
            m_text.space();
            break;
        case Kind::Link:
            linkText();
            break;
        default:
            break;
        }
    }

    void imageText(xmlNode* node) {
        const QString alt = attribute(node, "alt").left(200);
        if (alt.isEmpty())
            return; // a spacer or a tracking pixel
        m_text.space();
        m_text.add(QString(u'[' + alt + u']'), false);
        m_text.space();
    }

    // "Pay now [bank.example]": where the link leads, unless its text says so already.
    void linkText() {
        const QString target = std::exchange(m_linkTarget, QString());
        if (target.isEmpty() || m_linkStart > m_text.size())
            return;
        if (m_text.written(m_linkStart).contains(target, Qt::CaseInsensitive))
            return;
        m_text.space();
        m_text.add(QString(u'[' + target + u']'), false);
    }

    TextBuilder m_text;
    QString m_linkTarget;
    qsizetype m_linkStart = 0;
    int m_pre = 0;
};

} // namespace

QString HtmlToText(const QByteArray& utf8, int maxLines, qsizetype maxChars, const Deadline& deadline,
                   bool& limited) {
    initLibxml();
    // NONET: no network even for what libxml2 would fetch; IGNORE_ENC: the text
    // is UTF-8 already, whatever its meta element claims.
    const int options = HTML_PARSE_NONET | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING | HTML_PARSE_RECOVER |
                        HTML_PARSE_IGNORE_ENC;
    const int size = int(qMin<qsizetype>(utf8.size(), std::numeric_limits<int>::max()));
    const std::unique_ptr<htmlParserCtxt, ContextFree> context(htmlNewParserCtxt());
    if (!context)
        return {};
    const std::unique_ptr<xmlDoc, DocFree> doc(
        htmlCtxtReadMemory(context.get(), utf8.constData(), size, nullptr, "UTF-8", options));
    // libxml2 stops at 256 nested elements and drops the rest of the document.
    if (context->errNo == XML_ERR_INTERNAL_ERROR)
        limited = true;
    if (!doc)
        return {};
    Walker walker(maxLines, maxChars);
    walker.walk(doc->children, deadline, limited);
    return walker.take();
}

} // namespace pop3
