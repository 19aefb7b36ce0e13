// GMime first: its GIO headers clash with Qt's keywords otherwise.
#include <gmime/gmime.h>

#include "pop3/gmimeversion.h"

namespace pop3 {

QString GMimeVersion() {
    return QStringLiteral("%1.%2.%3")
        .arg(gmime_major_version)
        .arg(gmime_minor_version)
        .arg(gmime_micro_version);
}

} // namespace pop3
