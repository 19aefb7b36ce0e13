#include "signin/signinconfig.h"

#include "store/extrasettings.h"

#include <QUuid>

namespace signin {

namespace {

const QString kMethod = QStringLiteral("SignIn");
const QString kKeyring = QStringLiteral("KeepPasswordInKeyring");
const QString kProvider = QStringLiteral("OAuth2Provider");
const QString kClientId = QStringLiteral("OAuth2ClientId");
const QString kAuthorizationUrl = QStringLiteral("OAuth2AuthorizationUrl");
const QString kTokenUrl = QStringLiteral("OAuth2TokenUrl");
const QString kScope = QStringLiteral("OAuth2Scope");
const QString kCommand = QStringLiteral("PasswordCommand");
const QString kCommandGivesToken = QStringLiteral("PasswordCommandGivesToken");
const QString kCommandTimeout = QStringLiteral("PasswordCommandTimeoutSeconds");
const QString kSecretId = QStringLiteral("SecretId");

QString MethodText(Method method) {
    switch (method) {
    case Method::OAuth2:
        return QStringLiteral("oauth2");
    case Method::Command:
        return QStringLiteral("command");
    case Method::Password:
        break;
    }
    return QStringLiteral("password");
}

Method MethodFrom(const QString& text) {
    if (text == QLatin1String("oauth2"))
        return Method::OAuth2;
    if (text == QLatin1String("command"))
        return Method::Command;
    return Method::Password;
}

QString ProviderText(Provider provider) {
    switch (provider) {
    case Provider::Google:
        return QStringLiteral("google");
    case Provider::Other:
        return QStringLiteral("other");
    case Provider::Microsoft:
        break;
    }
    return QStringLiteral("microsoft");
}

Provider ProviderFrom(const QString& text) {
    if (text == QLatin1String("google"))
        return Provider::Google;
    if (text == QLatin1String("other"))
        return Provider::Other;
    return Provider::Microsoft;
}

} // namespace

Config Config::Load(const ExtraSettings& settings, const QString& account) {
    const auto text = [&](const QString& key) { return settings.accountValue(account, key).toString(); };
    Config config;
    config.method = MethodFrom(text(kMethod));
    config.keepInKeyring = settings.accountValue(account, kKeyring, false).toBool();
    config.provider = ProviderFrom(text(kProvider));
    config.clientId = text(kClientId);
    config.authorizationUrl = text(kAuthorizationUrl);
    config.tokenUrl = text(kTokenUrl);
    config.scope = text(kScope);
    config.command = text(kCommand);
    config.commandGivesToken = settings.accountValue(account, kCommandGivesToken, false).toBool();
    config.commandTimeoutSeconds =
        qBound(1, settings.accountValue(account, kCommandTimeout, 60).toInt(), 3600);
    config.secretId = text(kSecretId);
    return config;
}

bool Config::save(const ExtraSettings& settings, const QString& account) const {
    bool ok = settings.setAccountValue(account, kMethod, MethodText(method));
    ok = settings.setAccountValue(account, kKeyring, keepInKeyring) && ok;
    ok = settings.setAccountValue(account, kProvider, ProviderText(provider)) && ok;
    ok = settings.setAccountValue(account, kClientId, clientId) && ok;
    ok = settings.setAccountValue(account, kAuthorizationUrl, authorizationUrl) && ok;
    ok = settings.setAccountValue(account, kTokenUrl, tokenUrl) && ok;
    ok = settings.setAccountValue(account, kScope, scope) && ok;
    ok = settings.setAccountValue(account, kCommand, command) && ok;
    ok = settings.setAccountValue(account, kCommandGivesToken, commandGivesToken) && ok;
    if (commandTimeoutSeconds != 60)
        ok = settings.setAccountValue(account, kCommandTimeout, commandTimeoutSeconds) && ok;
    ok = settings.setAccountValue(account, kSecretId, secretId) && ok;
    return ok;
}

QString Config::effectiveAuthorizationUrl() const {
    switch (provider) {
    case Provider::Microsoft:
        return QStringLiteral("https://login.microsoftonline.com/common/oauth2/v2.0/authorize");
    case Provider::Google:
        return QStringLiteral("https://accounts.google.com/o/oauth2/v2/auth");
    case Provider::Other:
        break;
    }
    return authorizationUrl.trimmed();
}

QString Config::effectiveTokenUrl() const {
    switch (provider) {
    case Provider::Microsoft:
        return QStringLiteral("https://login.microsoftonline.com/common/oauth2/v2.0/token");
    case Provider::Google:
        return QStringLiteral("https://oauth2.googleapis.com/token");
    case Provider::Other:
        break;
    }
    return tokenUrl.trimmed();
}

QString Config::effectiveScope() const {
    switch (provider) {
    case Provider::Microsoft:
        // offline_access: without it no refresh token comes, and every hour needs the browser.
        return QStringLiteral("https://outlook.office.com/POP.AccessAsUser.All offline_access");
    case Provider::Google:
        return QStringLiteral("https://mail.google.com/");
    case Provider::Other:
        break;
    }
    return scope.trimmed();
}

bool Config::isComplete() const {
    switch (method) {
    case Method::OAuth2:
        return !clientId.trimmed().isEmpty() && !effectiveAuthorizationUrl().isEmpty() &&
               !effectiveTokenUrl().isEmpty() && !effectiveScope().isEmpty();
    case Method::Command:
        return !command.trimmed().isEmpty();
    case Method::Password:
        break;
    }
    return true;
}

void Config::ensureSecretId() {
    if (secretId.isEmpty())
        secretId = QUuid::createUuid().toString(QUuid::WithoutBraces);
}

QString ProviderName(Provider provider) {
    switch (provider) {
    case Provider::Google:
        return QStringLiteral("Google");
    case Provider::Other:
        return QStringLiteral("Other");
    case Provider::Microsoft:
        break;
    }
    return QStringLiteral("Microsoft");
}

QString PasswordMarker(Method method) {
    switch (method) {
    case Method::OAuth2:
        return QStringLiteral("<Tidemarsh: OAuth2 sign-in>");
    case Method::Command:
        return QStringLiteral("<Tidemarsh: password command>");
    case Method::Password:
        break;
    }
    return QStringLiteral("<Tidemarsh: in the keyring>");
}

bool IsPasswordMarker(const QString& storedPassword) {
    for (Method method : {Method::Password, Method::OAuth2, Method::Command})
        if (storedPassword.trimmed() == PasswordMarker(method))
            return true;
    return false;
}

QString PasswordKey(const QString& secretId) {
    return secretId + QStringLiteral("/password");
}

QString TokensKey(const QString& secretId) {
    return secretId + QStringLiteral("/oauth2");
}

QString ClientSecretKey(const QString& secretId) {
    return secretId + QStringLiteral("/client-secret");
}

} // namespace signin
