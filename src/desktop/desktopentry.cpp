#include "desktop/desktopentry.h"

#include <QStringView>

namespace desktopentry {
namespace {

// Characters that must be backslash-escaped inside a quoted Exec argument.
bool quotingEscaped(QChar c) {
    return c == u'"' || c == u'`' || c == u'$' || c == u'\\';
}

} // namespace

std::optional<QString> execArgument(const QString& argument) {
    QString quoted = QStringLiteral("\"");
    for (const QChar c : argument) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return std::nullopt;
        if (quotingEscaped(c))
            quoted += u'\\';
        else if (c == u'%')
            quoted += u'%'; // a field code otherwise
        quoted += c;
    }
    quoted += u'"';
    // The string escape is resolved before the quoting is: every backslash twice.
    quoted.replace(QStringLiteral("\\"), QStringLiteral("\\\\"));
    return quoted;
}

QString unescapeValue(const QString& value) {
    QString out;
    out.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value.at(i);
        if (c != u'\\' || i + 1 == value.size()) {
            out += c;
            continue;
        }
        const QChar next = value.at(i + 1);
        if (next == u's')
            out += u' ';
        else if (next == u'n')
            out += u'\n';
        else if (next == u't')
            out += u'\t';
        else if (next == u'r')
            out += u'\r';
        else if (next == u'\\')
            out += u'\\';
        else {
            out += c; // not a string escape: left for the quoting rules
            continue;
        }
        ++i;
    }
    return out;
}

std::optional<QString> execProgram(const QString& execValue) {
    const QString value = unescapeValue(execValue).trimmed();
    if (value.isEmpty())
        return std::nullopt;
    QString program;
    if (value.front() != u'"') {
        program = value.section(u' ', 0, 0);
    } else {
        qsizetype i = 1;
        for (; i < value.size() && value.at(i) != u'"'; ++i) {
            if (value.at(i) == u'\\' && i + 1 < value.size() && quotingEscaped(value.at(i + 1)))
                ++i;
            program += value.at(i);
        }
        if (i == value.size())
            return std::nullopt; // no closing quote
    }
    program.replace(QStringLiteral("%%"), QStringLiteral("%"));
    if (program.isEmpty())
        return std::nullopt;
    return program;
}

QHash<QString, QString> readGroup(const QByteArray& fileText, const QString& group) {
    QHash<QString, QString> keys;
    bool inGroup = false;
    const QString header = u'[' + group + u']';
    for (const QByteArray& rawLine : fileText.split('\n')) {
        const QString line = QString::fromUtf8(rawLine).trimmed();
        if (line.isEmpty() || line.startsWith(u'#'))
            continue;
        if (line.startsWith(u'[')) {
            inGroup = line == header;
            continue;
        }
        const qsizetype equals = line.indexOf(u'=');
        if (!inGroup || equals <= 0)
            continue;
        const QString key = line.left(equals).trimmed();
        if (!keys.contains(key))
            keys.insert(key, line.mid(equals + 1).trimmed());
    }
    return keys;
}

} // namespace desktopentry
