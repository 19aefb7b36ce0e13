#pragma once

namespace pop3 {

// Initialises GMime once per process, whichever thread gets there first.
// g_mime_init itself counts calls without a lock, so every user goes through here.
void InitGMime();

} // namespace pop3
