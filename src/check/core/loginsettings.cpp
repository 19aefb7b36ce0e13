#include "check/core/loginsettings.h"

#include "check/core/servertrust.h"
#include "store/fixedtext.h"

#include <QTimer>

namespace LoginSettings {

pop3::SessionSettings For(const AccountRecord& account, const SettingsRecord& settings,
                          const QString& programFolder) {
    pop3::SessionSettings session;
    session.user = FixedText::TrimBlanks(account.LoginName);
    session.password = FixedText::TrimBlanks(account.LoginPassword);
    session.address = FixedText::TrimBlanks(account.ServerAddress);
    session.defaultPort = settings.PopPort();
    session.timeoutSeconds = settings.TimeoutSeconds();
    ServerTrust::Apply(session, programFolder);
    return session;
}

void Prepare(const AccountRecord& account, const SettingsRecord& settings, const QString& programFolder,
             QObject* context, Ready done) {
    const pop3::SessionSettings session = For(account, settings, programFolder);
    QTimer::singleShot(0, context, [session, done = std::move(done)] { done(session, QString()); });
}

} // namespace LoginSettings
