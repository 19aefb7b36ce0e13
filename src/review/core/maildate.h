#pragma once

#include <QStringView>
#include <optional>

// The moment a Date header names, in seconds since 1970-01-01 00:00 UTC, or
// nothing when the text names no date. Reads RFC 5322 dates and what mailers
// send instead: no weekday or a misspelt one, full month names, two- and
// three-digit years, no seconds, zone names or no zone (read as UTC), a
// trailing comment, the asctime order ("Mon Jan  2 15:04:05 2006") and ISO
// 8601 ("2006-01-02T15:04:05Z"). Pure: safe on any thread.
std::optional<qint64> ParseMailDate(QStringView text);
