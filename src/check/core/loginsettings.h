#pragma once

#include "pop3/session.h"
#include "signin/accesstoken.h"
#include "signin/signinconfig.h"
#include "store/records.h"

#include <QObject>
#include <QString>

#include <functional>
#include <optional>

// How every login of the program reaches an account (Check Mail, the editor's
// Test, the background watch): the account's fields, the settings' port and
// time-out, what the program folder trusts, and the account's secret from
// wherever its sign-in keeps it (Acc.dat, the keyring, a command, OAuth2).
namespace LoginSettings {

// Acc.dat's fields as they stand; a password kept elsewhere is left empty here.
pop3::SessionSettings For(const AccountRecord& account, const SettingsRecord& settings,
                          const QString& programFolder);

struct Options {
    // The sign-in to use; nullopt: the account's own from Tidemarsh.ini.
    std::optional<signin::Config> config;
    // Set where the user is there to answer (Check Mail, Test): asked before a
    // sign-in in the browser. Unset (background logins): the browser is never
    // opened, and the failure says that a sign-in is needed.
    signin::AskSignIn askSignIn;
    // A password typed just now (the editor's Test), used instead of the kept one.
    std::optional<QString> typedPassword;
};

// What the login needs that may take time to find (a secret kept elsewhere, a
// token to renew): done gets the settings, or why they could not be made
// (failure not empty). done is always called later, from the event loop, and
// never after context is gone; deleting context abandons the preparation.
using Ready = std::function<void(const pop3::SessionSettings& settings, const QString& failure)>;
void Prepare(const AccountRecord& account, const SettingsRecord& settings, const QString& programFolder,
             QObject* context, Ready done);
void Prepare(const AccountRecord& account, const SettingsRecord& settings, const QString& programFolder,
             QObject* context, const Options& options, Ready done);

// The server refused the login (code 4) made with settings from Prepare. For an
// OAuth2 sign-in the kept tokens are dropped and done(true) says: prepare and
// log in once more, which signs in anew in the browser. Callers retry once,
// never more. done(false): nothing to retry.
void LoginRefused(const pop3::SessionSettings& settings, const AccountRecord& account,
                  const QString& programFolder, const Options& options, QObject* context,
                  std::function<void(bool retry)> done);

// A failure of Prepare that only a sign-in in the browser can mend.
bool IsSignInNeeded(const QString& failure);

} // namespace LoginSettings
