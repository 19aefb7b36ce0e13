#pragma once

#include <QString>

namespace options {

// The value of a text typed as a number. Blanks (spaces, tabs, line feeds) are
// skipped wherever they stand; then as much is read as forms a number: a sign,
// digits, a decimal point with digits, an exponent (e or d, a sign, digits).
// &H and &O introduce hexadecimal and octal digits instead. Reading stops at
// the first character that cannot continue the number; a text that does not
// begin with a number is 0. Too large a value reads as an infinity, so callers
// refuse it rather than overflow.
double ValueOfText(const QString& text);

// Rounds to the nearest whole number, halves to the even neighbour.
double RoundHalfEven(double value);

} // namespace options
