#pragma once

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QStringList>

#include <algorithm>
#include <initializer_list>

// Small builders and readers the tests share.
namespace testsupport {

// A header field with a long value folded into legal lines of 300 characters.
inline QByteArray Folded(const QByteArray& name, const QByteArray& value) {
    QByteArray out = name + ": ";
    for (qsizetype i = 0; i < value.size(); i += 300)
        out += (i ? "\r\n " : "") + value.mid(i, 300);
    return out + "\r\n";
}

// At least `bytes` of encoded words that switch charset at every word.
inline QByteArray CharsetSwitching(qsizetype bytes) {
    static const char* charsets[] = {"koi8-r", "shift_jis", "iso-8859-2", "big5", "euc-kr", "windows-1251"};
    QByteArray value;
    for (int i = 0; value.size() < bytes; ++i)
        value += "=?" + QByteArray(charsets[i % 6]) + "?Q?=C1=C2abc?= ";
    return value;
}

// For comparisons that do not care about order.
template <typename T> QList<T> Sorted(QList<T> list) {
    std::sort(list.begin(), list.end());
    return list;
}

// UTF-8 literals as a QStringList.
inline QStringList Strings(std::initializer_list<const char*> items) {
    QStringList out;
    for (const char* item : items)
        out.append(QString::fromUtf8(item));
    return out;
}

// The whole file, or nothing when it cannot be read.
inline QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace testsupport
