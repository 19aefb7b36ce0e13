#include "review/core/setbytes.h"

#include <cmath>

namespace {
QString TwoDecimals(double value, QLocale locale) {
    // "#0.00": at least one integer digit, exactly two decimals, no grouping.
    locale.setNumberOptions(locale.numberOptions() | QLocale::OmitGroupSeparator);
    return locale.toString(value, 'f', 2);
}
} // namespace

QString SetBytes(double bytes, const QLocale& locale) {
    if (std::isnan(bytes))
        return QStringLiteral("Unknown");
    if (bytes >= 1073741824.0)
        return TwoDecimals(bytes / 1024 / 1024 / 1024, locale) + QStringLiteral(" GB");
    if (bytes >= 1048576.0)
        return TwoDecimals(bytes / 1024 / 1024, locale) + QStringLiteral(" MB");
    if (bytes >= 1024.0)
        return TwoDecimals(bytes / 1024, locale) + QStringLiteral(" KB");
    return QString::number(static_cast<qint64>(std::trunc(bytes))) + QStringLiteral(" Bytes");
}

QString SetBytes(const QVariant& bytes, const QLocale& locale) {
    if (!bytes.isValid())
        return {};
    if (bytes.isNull())
        return SetBytes(0.0, locale);
    bool ok = false;
    const double value = bytes.toDouble(&ok);
    if (!ok)
        return QStringLiteral("Unknown");
    return SetBytes(value, locale);
}

QString GroupedNumber(qint64 value, const QLocale& locale) {
    QLocale grouped = locale;
    grouped.setNumberOptions(grouped.numberOptions() & ~QLocale::OmitGroupSeparator);
    return grouped.toString(value);
}
