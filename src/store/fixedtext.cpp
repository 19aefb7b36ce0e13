#include "store/fixedtext.h"

#include <QStringDecoder>
#include <QTextBoundaryFinder>

namespace FixedText {

QString TrimBlanks(const QString& text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin) == u' ')
        ++begin;
    while (end > begin && text.at(end - 1) == u' ')
        --end;
    return text.mid(begin, end - begin);
}

QByteArray Encode(const QString& text, int width) {
    const QString value = TrimBlanks(text);
    QByteArray bytes = value.toUtf8();
    if (bytes.size() > width) {
        // Cut at the last grapheme boundary that fits, so neither a multi-byte
        // character nor a base letter with its combining marks is split.
        QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, value);
        qsizetype fitting = 0;
        qsizetype usedBytes = 0;
        qsizetype previous = 0;
        for (qsizetype next = finder.toNextBoundary(); next != -1; next = finder.toNextBoundary()) {
            usedBytes += value.mid(previous, next - previous).toUtf8().size();
            if (usedBytes > width)
                break;
            fitting = next;
            previous = next;
        }
        bytes = value.left(fitting).toUtf8();
    }
    bytes.append(width - bytes.size(), ' ');
    return bytes;
}

QString DecodeBytes(const QByteArray& bytes) {
    QStringDecoder utf8(QStringDecoder::Utf8,
                        QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    QString text = utf8.decode(bytes);
    if (utf8.hasError())
        return QString::fromLatin1(bytes);
    return text;
}

QString Decode(const QByteArray& field) {
    return TrimBlanks(DecodeBytes(field));
}

} // namespace FixedText
