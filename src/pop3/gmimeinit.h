#pragma once

#include <gmime/gmime.h>

#include <memory>

namespace pop3 {

// Initialises GMime once per process, whichever thread gets there first.
// g_mime_init itself counts calls without a lock, so every user goes through here.
void InitGMime();

// The parser options every reader of incoming mail here uses, shared and
// read-only after creation: undeclared 8-bit text is UTF-8 when it is valid,
// else what Windows mailers send; encoded words, addresses and parameters are
// read loosely, as real mail needs.
GMimeParserOptions* LooseParserOptions();

// GObjects and GLib strings owned the C++ way.
struct GObjectUnref {
    void operator()(gpointer object) const {
        if (object)
            g_object_unref(object);
    }
};
template <typename T> using GPtr = std::unique_ptr<T, GObjectUnref>;

struct GFree {
    void operator()(gpointer p) const { g_free(p); }
};
using GChars = std::unique_ptr<char, GFree>;

} // namespace pop3
