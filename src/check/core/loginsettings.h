#pragma once

#include "pop3/session.h"
#include "store/records.h"

#include <QObject>
#include <QString>

#include <functional>

// How every login of the program reaches an account (Check Mail, the editor's
// Test, the background watch): the account's fields, the settings' port and
// time-out, and what the program folder trusts.
namespace LoginSettings {

pop3::SessionSettings For(const AccountRecord& account, const SettingsRecord& settings,
                          const QString& programFolder);

// What the login needs that may take time to find (a secret kept elsewhere, a
// token to renew): done gets the settings, or why they could not be made
// (failure not empty). done is always called later, from the event loop, and
// never after context is gone.
using Ready = std::function<void(const pop3::SessionSettings& settings, const QString& failure)>;
void Prepare(const AccountRecord& account, const SettingsRecord& settings, const QString& programFolder,
             QObject* context, Ready done);

} // namespace LoginSettings
