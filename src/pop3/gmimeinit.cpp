// GMime first: its GIO headers clash with Qt's keywords otherwise.
#include <gmime/gmime.h>

#include "pop3/gmimeinit.h"

#include <mutex>

namespace pop3 {

void InitGMime() {
    static std::once_flag once;
    std::call_once(once, [] { g_mime_init(); });
}

} // namespace pop3
