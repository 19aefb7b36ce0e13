#include "review/core/displaytext.h"

namespace {
bool IsBidiControl(char16_t c) {
    return (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069) || c == 0x200E || c == 0x200F ||
           c == 0x061C;
}

bool BreaksTheLine(char16_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029;
}
} // namespace

QString CleanForDisplay(QString text) {
    qsizetype out = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text.at(i).unicode();
        if (IsBidiControl(c))
            continue;
        text[out++] = BreaksTheLine(c) ? QChar(u' ') : text.at(i);
    }
    text.truncate(out);
    return text;
}

QString CleanLinesForDisplay(const QString& text) {
    constexpr qsizetype kTabStop = 8;
    QString out;
    out.reserve(text.size());
    qsizetype lineStart = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text.at(i).unicode();
        if (IsBidiControl(c))
            continue;
        if (c == u'\r' && i + 1 < text.size() && text.at(i + 1) == u'\n')
            continue;
        if (c == u'\n' || c == u'\r') {
            out += u'\n';
            lineStart = out.size();
        } else if (c == u'\t') {
            out += QString(kTabStop - (out.size() - lineStart) % kTabStop, u' ');
        } else {
            out += BreaksTheLine(c) ? QChar(u' ') : text.at(i);
        }
    }
    return out;
}
