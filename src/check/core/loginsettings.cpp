#include "check/core/loginsettings.h"

#include "check/core/servertrust.h"
#include "signin/passwordcommand.h"
#include "signin/secretstore.h"
#include "store/extrasettings.h"
#include "store/fixedtext.h"

#include <QCoreApplication>
#include <QTimer>

namespace LoginSettings {

namespace {

QString Tr(const char* text) {
    return QCoreApplication::translate("LoginSettings", text);
}

signin::Config ConfigOf(const AccountRecord& account, const QString& programFolder, const Options& options) {
    if (options.config)
        return *options.config;
    return signin::Config::Load(ExtraSettings(programFolder), FixedText::TrimBlanks(account.AccountName));
}

void Later(QObject* context, Ready done, const pop3::SessionSettings& session, const QString& failure) {
    QTimer::singleShot(0, context, [done = std::move(done), session, failure] { done(session, failure); });
}

QString MissingPasswordText(SecretStore::Where looked) {
    if (looked == SecretStore::Where::Keyring)
        return Tr("The password of this account is not in the system keyring. Enter it again in the account "
                  "editor.");
    // Kept in the keyring earlier, perhaps, which is not running now.
    return Tr("The password of this account was not found: no system keyring is running, and %1 does not "
              "hold it. Start the keyring, or enter the password again in the account editor.")
        .arg(SecretStore::FileName());
}

void KeptPassword(pop3::SessionSettings session, const signin::Config& config, const QString& programFolder,
                  QObject* context, Ready done) {
    if (config.secretId.isEmpty()) {
        Later(context, std::move(done), session,
              Tr("The password of this account is kept outside Acc.dat, but Tidemarsh.ini no longer says "
                 "where. Enter the password again in the account editor."));
        return;
    }
    auto* store = new SecretStore(programFolder, context);
    store->read(signin::PasswordKey(config.secretId),
                [store, session, done = std::move(done)](const SecretStore::Outcome& kept) mutable {
                    store->deleteLater();
                    if (!kept.ok || !kept.found || kept.value.isEmpty()) {
                        done(session, kept.ok ? MissingPasswordText(kept.where) : kept.error);
                        return;
                    }
                    session.password = kept.value;
                    session.secretOrigin = SecretStore::WhereText(kept.where);
                    done(session, {});
                });
}

void CommandSecret(pop3::SessionSettings session, const signin::Config& config, QObject* context,
                   Ready done) {
    signin::PasswordCommand::Run(
        config.command, config.commandTimeoutSeconds, context,
        [session, config, done = std::move(done)](const QString& secret, const QString& failure) mutable {
            if (!failure.isEmpty()) {
                done(session, failure);
                return;
            }
            if (config.commandGivesToken) {
                session.tokenMechanism = pop3::TokenMechanism::Auto;
                session.accessToken = secret;
            } else {
                session.password = secret;
            }
            session.secretOrigin = Tr("the password command");
            done(session, {});
        });
}

void OAuthToken(pop3::SessionSettings session, const signin::Config& config, const QString& programFolder,
                QObject* context, const Options& options, Ready done) {
    signin::GetAccessToken(config, programFolder, session.user, options.askSignIn, context,
                           [session, done = std::move(done)](const signin::TokenOutcome& outcome) mutable {
                               if (!outcome.failure.isEmpty()) {
                                   done(session, outcome.failure);
                                   return;
                               }
                               session.tokenMechanism = pop3::TokenMechanism::Auto;
                               session.accessToken = outcome.accessToken;
                               session.secretOrigin = QStringLiteral("OAuth2");
                               done(session, {});
                           });
}

} // namespace

pop3::SessionSettings For(const AccountRecord& account, const SettingsRecord& settings,
                          const QString& programFolder) {
    pop3::SessionSettings session;
    session.user = FixedText::TrimBlanks(account.LoginName);
    session.password = FixedText::TrimBlanks(account.LoginPassword);
    // A marker only says where the secret is: it is never sent.
    if (signin::IsPasswordMarker(session.password))
        session.password.clear();
    session.address = FixedText::TrimBlanks(account.ServerAddress);
    session.defaultPort = settings.PopPort();
    session.timeoutSeconds = settings.TimeoutSeconds();
    ServerTrust::Apply(session, programFolder);
    return session;
}

void Prepare(const AccountRecord& account, const SettingsRecord& settings, const QString& programFolder,
             QObject* context, Ready done) {
    Prepare(account, settings, programFolder, context, Options{}, std::move(done));
}

void Prepare(const AccountRecord& account, const SettingsRecord& settings, const QString& programFolder,
             QObject* context, const Options& options, Ready done) {
    pop3::SessionSettings session = For(account, settings, programFolder);
    const signin::Config config = ConfigOf(account, programFolder, options);
    switch (config.method) {
    case signin::Method::Command:
        CommandSecret(session, config, context, std::move(done));
        return;
    case signin::Method::OAuth2:
        OAuthToken(session, config, programFolder, context, options, std::move(done));
        return;
    case signin::Method::Password:
        break;
    }
    if (options.typedPassword) {
        session.password = *options.typedPassword;
    } else if (config.keepInKeyring ||
               signin::IsPasswordMarker(FixedText::TrimBlanks(account.LoginPassword))) {
        KeptPassword(session, config, programFolder, context, std::move(done));
        return;
    }
    Later(context, std::move(done), session, {});
}

void LoginRefused(const pop3::SessionSettings& settings, const AccountRecord& account,
                  const QString& programFolder, const Options& options, QObject* context,
                  std::function<void(bool retry)> done) {
    const signin::Config config = ConfigOf(account, programFolder, options);
    if (settings.tokenMechanism == pop3::TokenMechanism::None || config.method != signin::Method::OAuth2 ||
        !options.askSignIn) {
        QTimer::singleShot(0, context, [done = std::move(done)] { done(false); });
        return;
    }
    signin::ForgetTokens(config, programFolder, context,
                         [done = std::move(done)](const QString& failure) { done(failure.isEmpty()); });
}

bool IsSignInNeeded(const QString& failure) {
    return failure.startsWith(QStringLiteral("Sign-in needed:"));
}

} // namespace LoginSettings
