#pragma once

#include "signin/signinconfig.h"

#include <QObject>
#include <QString>

#include <functional>

// An OAuth2 access token for one account: the kept one while it has time left,
// else one renewed with the refresh token (no browser), else, only where the
// caller may ask the user, one new sign-in in the browser.
namespace signin {

struct TokenOutcome {
    QString accessToken;       // empty exactly when failure is not
    QString failure;           // for the user
    bool signInNeeded = false; // only a sign-in in the browser can help
    bool signedInNow = false;  // the browser was used for this token
};
using TokenDone = std::function<void(const TokenOutcome& outcome)>;
// Asks the user whether to open the browser now; reason says why a sign-in is
// needed. answer(true) goes on with the sign-in.
using AskSignIn = std::function<void(const QString& reason, std::function<void(bool)> answer)>;

// A kept token with less time than this left is renewed first.
constexpr int kRenewMarginSeconds = 120;

// ask empty: never open the browser (a background login), fail with
// signInNeeded instead. done runs later, from the event loop, never after
// context is gone; deleting context abandons the request (and any sign-in).
void GetAccessToken(const Config& config, const QString& programFolder, const QString& loginHint,
                    AskSignIn ask, QObject* context, TokenDone done);

// The server refused the token: drops the kept tokens, so that the next
// GetAccessToken signs in again in the browser. done(failure) as above.
void ForgetTokens(const Config& config, const QString& programFolder, QObject* context,
                  std::function<void(const QString& failure)> done);

} // namespace signin
