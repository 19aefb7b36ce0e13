#pragma once

#include "pop3/pop3types.h"

#include <QString>

// The texts of the "Operation Error" report.
namespace AccountError {
enum class Kind {
    Login,    // logging in failed
    Download, // downloading the headers failed
};

// The text appended to the failed action, starting with a blank:
// " (Code 4):  The user name or password ...". Results without a text of their
// own get the kind's "Code 0" text.
QString CodeText(Kind kind, pop3::Result result);
} // namespace AccountError
