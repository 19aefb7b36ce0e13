#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>

namespace pop3 {

// A time budget started by its owner.
struct Deadline {
    QElapsedTimer timer;
    qint64 budgetMs = 0;
    bool passed() const { return timer.elapsed() > budgetMs; }
};

// The readable text of an HTML document (UTF-8), as lines: script, style and
// the head dropped, block elements on lines of their own, links as their text
// with the host they lead to in brackets, images as their alt text. Parsed by
// libxml2 with network access off and no entities loaded: nothing is fetched.
// Stops (and sets limited) past maxLines lines, maxChars characters or the deadline.
QString HtmlToText(const QByteArray& utf8, int maxLines, qsizetype maxChars, const Deadline& deadline,
                   bool& limited);

} // namespace pop3
