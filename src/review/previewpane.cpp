#include "review/previewpane.h"

#include "review/core/displaytext.h"
#include "review/core/setbytes.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QVBoxLayout>

namespace {
// Previews are at most a few tens of thousands of characters; this keeps
// hundreds of them and bounds the memory a long session can take.
constexpr int kKeptCharacters = 4 * 1024 * 1024;
// The text view lays out a paragraph whole: one of tens of thousands of
// characters (a hostile body's single line) costs a quarter of a second on the
// GUI thread, while short ones are laid out only as they scroll into view.
constexpr qsizetype kMaxParagraph = 1000;
constexpr qsizetype kBreakSearch = 200; // back from the limit, for a space to break at

// Breaks lines longer than kMaxParagraph, at a space near the limit where there is one.
QString BreakLongLines(const QString& text) {
    QString out;
    out.reserve(text.size() + text.size() / kMaxParagraph);
    qsizetype lineStart = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i) == u'\n') {
            lineStart = out.size() + 1;
        } else if (out.size() - lineStart >= kMaxParagraph) {
            const qsizetype from = out.size() - kBreakSearch;
            const qsizetype found = QStringView(out).sliced(from).lastIndexOf(u' ');
            const qsizetype space = found < 0 ? -1 : from + found;
            if (space > lineStart) {
                out[space] = u'\n';
                lineStart = space + 1;
            } else {
                out.append(u'\n');
                lineStart = out.size();
            }
        }
        out.append(text.at(i));
    }
    return out;
}

QString AttachmentText(const pop3::PreviewAttachment& attachment) {
    QString size;
    if (attachment.size >= 0) {
        size = SetBytes(double(attachment.size));
        if (attachment.atLeast)
            size = PreviewPane::tr("at least %1").arg(size);
    }
    const QString type = CleanForDisplay(attachment.mimeType);
    const QString details = size.isEmpty() ? type : type + QStringLiteral(", ") + size;
    const QString name = CleanForDisplay(attachment.name).trimmed();
    return name.isEmpty() ? PreviewPane::tr("unnamed (%1)").arg(details)
                          : QStringLiteral("%1 (%2)").arg(name, details);
}
} // namespace

PreviewPane::PreviewPane(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("PreviewPane"));
    setAccessibleName(tr("Preview Pane"));
    m_info = new QLabel(this);
    m_info->setObjectName(QStringLiteral("lblPreviewInfo"));
    m_info->setAccessibleName(tr("Attachments and notes"));
    m_info->setTextFormat(Qt::PlainText);
    m_info->setWordWrap(true);
    // Selectable by keyboard, so that Tab reaches it and screen readers can read it.
    m_info->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_info->setFocusPolicy(Qt::StrongFocus);
    m_info->hide();
    m_text = new QPlainTextEdit(this);
    m_text->setObjectName(QStringLiteral("txtPreview"));
    m_text->setAccessibleName(tr("Message preview"));
    m_text->setReadOnly(true);
    m_text->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_text->setFocusPolicy(Qt::StrongFocus);
    m_text->setTabChangesFocus(true);
    m_text->setUndoRedoEnabled(false);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_info);
    layout->addWidget(m_text, 1);
    setTabOrder(m_text, m_info);
    setFocusProxy(m_text);

    m_kept.setMaxCost(kKeptCharacters);
    m_rest.setSingleShot(true);
    // A coarse timer may fire up to 5 % early: the rest must be a full kRestMs.
    m_rest.setTimerType(Qt::PreciseTimer);
    m_rest.setInterval(kRestMs);
    connect(&m_rest, &QTimer::timeout, this, &PreviewPane::onRested);
}

void PreviewPane::showMessage(int key) {
    m_key = key;
    m_rest.stop();
    if (key < 0) {
        display({});
        return;
    }
    if (const Shown* shown = m_kept.object(key)) {
        display(*shown);
        return;
    }
    display({tr("Loading preview..."), {}});
    m_rest.start();
}

void PreviewPane::onRested() {
    if (m_key < 0 || m_kept.contains(m_key) || m_asked.contains(m_key))
        return;
    m_asked.insert(m_key);
    Q_EMIT previewWanted(m_key);
}

void PreviewPane::setPreview(int key, const pop3::BodyPreview& preview) {
    m_asked.remove(key);
    auto* shown = new Shown(render(preview));
    const qsizetype cost = shown->text.size() + shown->info.size() + 1;
    if (key == m_key) {
        m_rest.stop();
        display(*shown);
    }
    m_kept.insert(key, shown, cost); // takes ownership
}

void PreviewPane::setPreviewFailed(int key, const QString& why) {
    m_asked.remove(key);
    if (key != m_key)
        return;
    m_rest.stop();
    display({tr("No preview: %1").arg(CleanForDisplay(why)), {}});
}

void PreviewPane::clear() {
    m_rest.stop();
    m_kept.clear();
    m_asked.clear();
    m_key = -1;
    display({});
}

void PreviewPane::display(const Shown& shown) {
    m_text->setPlainText(shown.text);
    m_info->setText(shown.info);
    m_info->setAccessibleDescription(shown.info);
    m_info->setVisible(!shown.info.isEmpty());
}

PreviewPane::Shown PreviewPane::render(const pop3::BodyPreview& preview) {
    QStringList info;
    if (!preview.attachments.isEmpty()) {
        QStringList names;
        for (const pop3::PreviewAttachment& attachment : preview.attachments)
            names.append(AttachmentText(attachment));
        if (preview.unlistedAttachments > 0)
            names.append(tr("%n more", nullptr, preview.unlistedAttachments));
        info.append(tr("Attachments: %1").arg(names.join(QStringLiteral("; "))));
    }
    if (preview.convertedFromHtml)
        info.append(tr("Converted from HTML: no images or links were loaded."));
    if (preview.cutShort)
        info.append(tr("Only the beginning of the message is shown."));
    if (preview.limited)
        info.append(tr("Shortened: the message is larger or more complex than a preview shows."));
    QString text = BreakLongLines(CleanLinesForDisplay(preview.text));
    if (text.trimmed().isEmpty())
        text = tr("(This message has no text to show.)");
    return {text, info.join(u'\n')};
}
