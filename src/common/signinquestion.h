#pragma once

#include "signin/accesstoken.h"

#include <QString>

class QWidget;

namespace ui {

// Asks, through the message-box seam, before a sign-in in the browser: "Sign in
// to <account> in your browser", with the reason. The answer comes later, from
// the event loop; no answer ever comes once parent is gone.
signin::AskSignIn BrowserSignInQuestion(QWidget* parent, const QString& account);

} // namespace ui
