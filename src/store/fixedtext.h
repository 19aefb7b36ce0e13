#pragma once

#include <QByteArray>
#include <QString>

// Blank-padded text fields of the record files. On disk a field is UTF-8, cut
// to the field's width in bytes; files written elsewhere may hold 8-bit text,
// which reads as Latin-1. Only the space character counts as a blank.
namespace FixedText {

// Trims blanks, cuts to width bytes without splitting a character, pads with blanks.
QByteArray Encode(const QString& text, int width);

// Decodes a field (or any byte text) and trims blanks from both ends.
QString Decode(const QByteArray& field);

// The bytes as text: UTF-8 when they are valid UTF-8, Latin-1 otherwise.
QString DecodeBytes(const QByteArray& bytes);

// Removes leading and trailing space characters only (tabs stay).
QString TrimBlanks(const QString& text);

} // namespace FixedText
