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
// Our own words for the failure's cause, for a paragraph below the code text;
// empty when there is nothing to add.
QString DetailText(const pop3::Failure& failure);
} // namespace AccountError
