#pragma once

#include <QLocale>
#include <QString>
#include <QVariant>

// A byte count as the size columns show it: two decimals and " KB", " MB" or
// " GB" (locale decimal separator, no grouping), or whole " Bytes" below 1024.
QString SetBytes(double bytes, const QLocale& locale = QLocale());
// The same for a loosely typed value: an invalid variant gives an empty text,
// one that is not a number gives "Unknown".
QString SetBytes(const QVariant& bytes, const QLocale& locale = QLocale());

// A count with the locale's digit grouping ("1,500"), whatever the locale's
// number options say.
QString GroupedNumber(qint64 value, const QLocale& locale = QLocale());
