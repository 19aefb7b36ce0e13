#include "options/numbertext.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string>

namespace options {

namespace {

bool IsBlank(QChar c) {
    return c == u' ' || c == u'\t' || c == u'\n';
}

int DigitValue(QChar c, int base) {
    const char16_t u = c.unicode();
    int value = -1;
    if (u >= u'0' && u <= u'9')
        value = u - u'0';
    else if (u >= u'a' && u <= u'f')
        value = u - u'a' + 10;
    else if (u >= u'A' && u <= u'F')
        value = u - u'A' + 10;
    return value < base ? value : -1;
}

double ReadRadix(const QString& digits, int base) {
    double value = 0;
    for (const QChar c : digits) {
        const int digit = DigitValue(c, base);
        if (digit < 0)
            break;
        value = value * base + digit;
    }
    return value;
}

bool IsDigit(const QString& s, qsizetype i) {
    return i < s.size() && s.at(i) >= u'0' && s.at(i) <= u'9';
}

qsizetype SkipDigits(const QString& s, qsizetype i) {
    while (IsDigit(s, i))
        ++i;
    return i;
}

} // namespace

double ValueOfText(const QString& text) {
    QString s;
    s.reserve(text.size());
    for (const QChar c : text)
        if (!IsBlank(c))
            s.append(c);

    if (s.startsWith(u"&H", Qt::CaseInsensitive))
        return ReadRadix(s.mid(2), 16);
    if (s.startsWith(u"&O", Qt::CaseInsensitive))
        return ReadRadix(s.mid(2), 8);

    qsizetype i = 0;
    if (i < s.size() && (s.at(i) == u'+' || s.at(i) == u'-'))
        ++i;
    const qsizetype mantissa = i;
    i = SkipDigits(s, i);
    bool digits = i > mantissa;
    if (i < s.size() && s.at(i) == u'.') {
        const qsizetype fraction = i + 1;
        const qsizetype end = SkipDigits(s, fraction);
        if (end > fraction || digits) {
            digits = digits || end > fraction;
            i = end;
        }
    }
    if (!digits)
        return 0;
    // An exponent counts only when digits follow its letter (and sign).
    bool negativeExponent = false;
    if (i < s.size() && QStringLiteral("eEdD").contains(s.at(i))) {
        qsizetype e = i + 1;
        if (e < s.size() && (s.at(e) == u'+' || s.at(e) == u'-')) {
            negativeExponent = s.at(e) == u'-';
            ++e;
        }
        if (IsDigit(s, e))
            i = SkipDigits(s, e);
    }

    std::string number = s.left(i).toStdString();
    for (char& c : number)
        if (c == 'd' || c == 'D')
            c = 'e';
    const bool negative = number.front() == '-';
    const char* first = number.data() + (number.front() == '+' ? 1 : 0);
    double value = 0;
    const auto [end, error] = std::from_chars(first, number.data() + number.size(), value);
    Q_UNUSED(end)
    if (error == std::errc::result_out_of_range)
        value = negativeExponent ? 0.0
                                 : (negative ? -std::numeric_limits<double>::infinity()
                                             : std::numeric_limits<double>::infinity());
    return value;
}

double RoundHalfEven(double value) {
    // nearbyint rounds in the current mode, which is to nearest, ties to even.
    return std::nearbyint(value);
}

} // namespace options
