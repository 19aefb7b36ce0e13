#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QtGlobal>

namespace pop3 {

// What one preview may cost. The defaults hold the TOP reply of ordinary mail
// many times over (a header block and 40 lines of at most 1,000 bytes each, as
// SMTP allows); hostile input is cut at them and the preview says so.
struct PreviewLimits {
    qsizetype maxInputBytes = 2 * 1024 * 1024; // of the reply looked at
    qsizetype maxPartBytes = 256 * 1024;       // of the one part decoded for its text
    int maxDepth = 8;                          // multiparts inside multiparts
    int maxParts = 500;                        // MIME parts looked at
    int maxAttachments = 50;                   // listed; the rest are only counted
    int maxLines = 200;                        // of text out
    qsizetype maxChars = 32 * 1024;            // of text out
    int bodyLines = 40;                        // lines asked for: a body this long goes on
    int timeBudgetMs = 250;                    // checked between steps and inside the loops
};

struct PreviewAttachment {
    QString name;         // decoded file name; empty when the part gives none
    QString mimeType;     // "application/pdf", lower case
    qint64 size = -1;     // bytes: Content-Disposition's size=, else the decoded length seen; -1 unknown
    bool atLeast = false; // the part was cut off: the size is what the reply held
};

struct BodyPreview {
    QString text; // plain text, lines end in '\n'; not yet cleaned for display
    QList<PreviewAttachment> attachments;
    int unlistedAttachments = 0; // past PreviewLimits::maxAttachments
    bool convertedFromHtml = false;
    bool cutShort =
        false; // the message goes on past the reply (the body filled the lines asked for, or a part was cut)
    bool limited = false; // a limit stopped the decoding (size, lines, nesting, parts, time)
};

// Decodes the start of a message for a preview: topReply is the dot-unstuffed
// body of a TOP reply (header block, blank line, the first body lines), often
// cut in the middle of a MIME part. Prefers text/plain to text/html, turns HTML
// into text without fetching anything, lists attachments by name, type and size.
// Never fails: what cannot be decoded is left out. Keeps no state between calls,
// so it may run on any thread.
BodyPreview MakeBodyPreview(const QByteArray& topReply, const PreviewLimits& limits = {});

} // namespace pop3
