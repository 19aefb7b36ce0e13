#pragma once

#include <QString>

// Header text from a stranger, made safe to show on one line: control characters
// (C0, DEL, C1 including NEL) and line or paragraph separators become spaces, and
// bidirectional embeddings, overrides, isolates and marks are removed, so that
// "Pay\u202ELAP" cannot pass for something it is not. Every list column goes
// through here; the details window shows the raw header as plain text instead.
QString CleanForDisplay(QString text);

// The same for text of several lines (a message preview): line feeds stay, a
// CR LF or lone CR becomes a line feed, tabs become spaces up to the next
// multiple of eight columns, and everything else is cleaned as above.
QString CleanLinesForDisplay(const QString& text);
