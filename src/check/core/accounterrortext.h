#pragma once

#include <QString>

// The texts of the "Operation Error" report. Kind 1 is a failed login, kind 2 a
// failed header download; any other kind has no text.
namespace AccountError {
constexpr int LoginKind = 1;
constexpr int DownloadKind = 2;

// The text appended to the failed action, starting with a blank:
// " (Code 4):  The user name or password ...". Codes without a text of their
// own get the kind's "Code 0" text.
QString CodeText(int kind, int code);
// message += CodeText(kind, code), for kinds 1 and 2 only.
void AppendCodeText(QString& message, int kind, int code);
} // namespace AccountError
