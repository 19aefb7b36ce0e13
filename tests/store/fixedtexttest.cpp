#include "store/fixedtext.h"

#include <QObject>
#include <QTest>

using namespace Qt::StringLiterals;

class FixedTextTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void encode_data();
    void encode();
    void decode_data();
    void decode();
};

void FixedTextTest::encode_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("width");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("padded") << u"ab"_s << 5 << QByteArray("ab   ");
    QTest::newRow("blanks trimmed") << u"  ab  "_s << 5 << QByteArray("ab   ");
    QTest::newRow("tabs stay") << u"\tab\t"_s << 5 << QByteArray("\tab\t ");
    QTest::newRow("exact fit") << u"abcde"_s << 5 << QByteArray("abcde");
    QTest::newRow("cut") << u"abcdef"_s << 5 << QByteArray("abcde");
    QTest::newRow("trimmed before the cut") << u"   abcdef"_s << 5 << QByteArray("abcde");
    QTest::newRow("empty") << QString() << 3 << QByteArray("   ");
    // é is two bytes: a third one would need byte 6, so it goes whole.
    QTest::newRow("two-byte cut") << u"ééé"_s << 5 << QByteArray("\xc3\xa9\xc3\xa9 ");
    QTest::newRow("two-byte fit") << u"ééé"_s << 6 << QByteArray("\xc3\xa9\xc3\xa9\xc3\xa9");
    QTest::newRow("four-byte cut") << u"a\U0001F600"_s << 4 << QByteArray("a   ");
    QTest::newRow("three-byte cut") << u"ab\u20ac"_s << 4 << QByteArray("ab  ");
    // e + combining acute: the accent is not split from its letter.
    QTest::newRow("combining mark") << u"xe\u0301"_s << 3 << QByteArray("x  ");
}

void FixedTextTest::encode() {
    QFETCH(QString, text);
    QFETCH(int, width);
    QFETCH(QByteArray, expected);
    QCOMPARE(FixedText::Encode(text, width), expected);
}

void FixedTextTest::decode_data() {
    QTest::addColumn<QByteArray>("field");
    QTest::addColumn<QString>("expected");

    QTest::newRow("padding trimmed") << QByteArray("  ab   ") << u"ab"_s;
    QTest::newRow("only blanks") << QByteArray("      ") << QString();
    QTest::newRow("tabs stay") << QByteArray("\tab\t  ") << u"\tab\t"_s;
    QTest::newRow("utf-8") << QByteArray("caf\xc3\xa9  ") << u"café"_s;
    QTest::newRow("latin-1") << QByteArray("caf\xe9  ") << u"café"_s;
    QTest::newRow("latin-1 beside ascii") << QByteArray("M\xfcller") << u"Müller"_s;
    // A field cut mid-character elsewhere is not valid UTF-8 either.
    QTest::newRow("truncated sequence") << QByteArray("ab\xc3") << u"ab\u00c3"_s;
    QTest::newRow("overlong form") << QByteArray("\xc0\xaf") << u"\u00c0\u00af"_s;
}

void FixedTextTest::decode() {
    QFETCH(QByteArray, field);
    QFETCH(QString, expected);
    QCOMPARE(FixedText::Decode(field), expected);
}

int runFixedTextTest(int argc, char** argv) {
    FixedTextTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "fixedtexttest.moc"
