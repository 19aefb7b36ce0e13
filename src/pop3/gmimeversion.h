#pragma once

#include <QString>

namespace pop3 {

// The version of the GMime library linked in at run time, "major.minor.micro".
QString GMimeVersion();

} // namespace pop3
