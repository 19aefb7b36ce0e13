#include "review/core/maildate.h"

#include <QList>
#include <QString>
#include <array>

namespace {

struct Fields {
    int day = -1;
    int month = -1; // 1..12
    int year = -1;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int offsetMinutes = 0; // east of UTC
    bool numericZone = false;
    int namedOffsetMinutes = 0;
    bool timeSeen = false;
};

constexpr std::array<const char*, 12> kMonths = {"january",   "february", "march",    "april",
                                                 "may",       "june",     "july",     "august",
                                                 "september", "october",  "november", "december"};

struct ZoneName {
    const char* name;
    int hours;
};
// What mailers write instead of a number; unknown names (and military letters) read as UTC.
constexpr std::array<ZoneName, 20> kZones = {
    {{"ut", 0},   {"utc", 0},  {"gmt", 0},  {"z", 0},    {"est", -5}, {"edt", -4}, {"cst", -6},
     {"cdt", -5}, {"mst", -7}, {"mdt", -6}, {"pst", -8}, {"pdt", -7}, {"wet", 0},  {"west", 1},
     {"cet", 1},  {"cest", 2}, {"met", 1},  {"mest", 2}, {"eet", 2},  {"eest", 3}}};

bool IsDigits(QStringView s) {
    if (s.isEmpty())
        return false;
    for (QChar c : s)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    return true;
}

bool IsLetters(QStringView s) {
    if (s.isEmpty())
        return false;
    for (QChar c : s)
        if (!((c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
              (c >= QLatin1Char('A') && c <= QLatin1Char('Z'))))
            return false;
    return true;
}

// Digits only, at most 4 of them; -1 otherwise.
int Number(QStringView s) {
    if (!IsDigits(s) || s.size() > 4)
        return -1;
    int value = 0;
    for (QChar c : s)
        value = value * 10 + (c.unicode() - '0');
    return value;
}

// 1..12 for a month's name, its first three letters or any longer start of it ("Sept").
int MonthOf(QStringView word) {
    if (word.endsWith(QLatin1Char('.')))
        word.chop(1);
    if (word.size() < 3 || !IsLetters(word))
        return -1;
    for (size_t i = 0; i < kMonths.size(); ++i)
        if (QLatin1String(kMonths[i]).startsWith(word, Qt::CaseInsensitive))
            return static_cast<int>(i) + 1;
    return -1;
}

bool ReadYear(QStringView token, Fields& f) {
    int year = Number(token);
    if (year < 0 || f.year >= 0)
        return false;
    if (token.size() == 2)
        year += year < 50 ? 2000 : 1900; // the obsolete two-digit years
    else if (token.size() == 3)
        year += 1900;
    f.year = year;
    return true;
}

// "+hhmm", "-hhmm" or "+hh:mm".
bool ReadOffset(QStringView token, Fields& f) {
    const int sign = token.front() == QLatin1Char('-') ? -1 : 1;
    QString digits = token.mid(1).toString();
    if (digits.size() == 5 && digits.at(2) == QLatin1Char(':'))
        digits.remove(2, 1);
    if (digits.size() != 4 || !IsDigits(digits))
        return false;
    const int hours = digits.left(2).toInt();
    const int minutes = digits.mid(2).toInt();
    if (minutes > 59)
        return false;
    f.offsetMinutes = sign * (hours * 60 + minutes);
    f.numericZone = true;
    return true;
}

// "hh:mm" or "hh:mm:ss", perhaps with the zone glued on ("10:00:00Z", "10:00+0100").
bool ReadTime(QStringView token, Fields& f) {
    if (f.timeSeen)
        return false;
    qsizetype end = 0;
    while (end < token.size() &&
           (token[end].isDigit() || token[end] == QLatin1Char(':') || token[end] == QLatin1Char('.')))
        ++end;
    const QStringView zone = token.mid(end);
    const QList<QStringView> parts = token.first(end).split(QLatin1Char(':'));
    if (parts.size() < 2 || parts.size() > 3)
        return false;
    QStringView seconds = parts.size() == 3 ? parts[2] : QStringView(u"0");
    if (const qsizetype dot = seconds.indexOf(QLatin1Char('.')); dot >= 0)
        seconds = seconds.first(dot); // fractions of a second
    f.hour = Number(parts[0]);
    f.minute = Number(parts[1]);
    f.second = Number(seconds);
    if (f.hour < 0 || f.hour > 23 || f.minute < 0 || f.minute > 59 || f.second < 0 || f.second > 60)
        return false;
    f.timeSeen = true;
    if (zone.isEmpty())
        return true;
    if (zone.compare(u"Z", Qt::CaseInsensitive) == 0)
        return true;
    return ReadOffset(zone, f);
}

// "2006-01-02" or "2-Jan-2006".
bool ReadDashedDate(QStringView token, Fields& f) {
    const QList<QStringView> parts = token.split(QLatin1Char('-'));
    if (parts.size() != 3 || f.day >= 0 || f.month >= 0)
        return false;
    if (parts[0].size() == 4 && IsDigits(parts[0])) {
        f.month = Number(parts[1]);
        f.day = Number(parts[2]);
        return ReadYear(parts[0], f) && parts[1].size() <= 2 && parts[2].size() <= 2;
    }
    f.day = Number(parts[0]);
    f.month = MonthOf(parts[1]);
    return parts[0].size() <= 2 && ReadYear(parts[2], f);
}

bool ReadWord(QStringView word, Fields& f) {
    if (const int month = MonthOf(word); month > 0) {
        if (f.month >= 0)
            return false;
        f.month = month;
        return true;
    }
    for (const ZoneName& zone : kZones)
        if (word.compare(QLatin1String(zone.name), Qt::CaseInsensitive) == 0)
            f.namedOffsetMinutes = zone.hours * 60;
    return true; // weekdays, misspelt or not, and unknown zone names say nothing
}

bool ReadToken(QStringView token, Fields& f) {
    if ((token.front() == QLatin1Char('+') || token.front() == QLatin1Char('-')) && token.size() > 1)
        return ReadOffset(token, f);
    if (const qsizetype t = token.indexOf(QLatin1Char('T')); t == 10 && token[4] == QLatin1Char('-'))
        return ReadDashedDate(token.first(t), f) && ReadTime(token.mid(t + 1), f); // ISO 8601
    if (token.contains(QLatin1Char(':')))
        return ReadTime(token, f);
    if (token.contains(QLatin1Char('-')))
        return ReadDashedDate(token, f);
    if (IsDigits(token)) {
        if (token.size() <= 2 && f.day < 0) {
            f.day = Number(token);
            return true;
        }
        return ReadYear(token, f);
    }
    if (IsLetters(token) || (token.endsWith(QLatin1Char('.')) && IsLetters(token.chopped(1))))
        return ReadWord(token, f);
    return false;
}

// Comments, commas and runs of blanks only separate; the rest are the tokens.
QList<QStringView> Tokens(QStringView text, QString& storage) {
    storage.reserve(text.size());
    int depth = 0;
    for (QChar c : text) {
        if (c == QLatin1Char('('))
            ++depth;
        else if (c == QLatin1Char(')') && depth > 0)
            --depth;
        else if (depth == 0)
            storage.append(c == QLatin1Char(',') || c.isSpace() ? QLatin1Char(' ') : c);
    }
    return QStringView(storage).split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

bool IsLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month) {
    constexpr std::array<int, 12> days = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : days[static_cast<size_t>(month - 1)];
}

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
qint64 DaysFromCivil(qint64 year, int month, int day) {
    year -= month <= 2 ? 1 : 0;
    const qint64 era = (year >= 0 ? year : year - 399) / 400;
    const qint64 yearOfEra = year - era * 400;
    const qint64 dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const qint64 dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

} // namespace

std::optional<qint64> ParseMailDate(QStringView text) {
    QString storage;
    Fields f;
    for (QStringView token : Tokens(text, storage))
        if (!ReadToken(token, f))
            return std::nullopt;
    if (f.year < 1000 || f.year > 9999 || f.month < 1 || f.month > 12 || f.day < 1 ||
        f.day > DaysInMonth(f.year, f.month))
        return std::nullopt;
    const int offset = f.numericZone ? f.offsetMinutes : f.namedOffsetMinutes;
    return DaysFromCivil(f.year, f.month, f.day) * 86400 + f.hour * 3600 + f.minute * 60 + f.second -
           qint64(offset) * 60;
}
