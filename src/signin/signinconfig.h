#pragma once

#include <QString>

class ExtraSettings;

// How one account signs in, kept in Tidemarsh.ini beside the record files (the
// account's group moves with a renamed account and goes with a deleted one).
// Secrets are never here: they live in the SecretStore under secretId.
namespace signin {

enum class Method { Password, OAuth2, Command };
enum class Provider { Microsoft, Google, Other };

struct Config {
    Method method = Method::Password;
    bool keepInKeyring = false; // Password: the password is in the SecretStore, not in Acc.dat
    Provider provider = Provider::Microsoft;
    QString clientId;
    QString authorizationUrl; // Other only; Microsoft and Google have theirs
    QString tokenUrl;
    QString scope;
    QString command;                // Command: program and arguments, split like a shell would
    bool commandGivesToken = false; // Command: the first line is an OAuth2 access token
    int commandTimeoutSeconds = 60;
    QString secretId; // stable across renames: the SecretStore's key prefix

    static Config Load(const ExtraSettings& settings, const QString& account);
    // False when Tidemarsh.ini could not be written.
    bool save(const ExtraSettings& settings, const QString& account) const;

    // A secret is kept for this account outside Acc.dat.
    bool usesSecretStore() const { return method != Method::Password || keepInKeyring; }
    // The endpoints and scope in force: the provider's own for Microsoft and Google.
    QString effectiveAuthorizationUrl() const;
    QString effectiveTokenUrl() const;
    QString effectiveScope() const;
    // Everything the method needs is there (a client ID, a command, ...).
    bool isComplete() const;
    // Gives secretId a fresh value when it has none.
    void ensureSecretId();
};

QString ProviderName(Provider provider);

// What Acc.dat's LoginPassword holds for an account whose secret is elsewhere.
// Never sent as a password: LoginSettings refuses to log in with one.
QString PasswordMarker(Method method);
bool IsPasswordMarker(const QString& storedPassword);

// The SecretStore keys of an account.
QString PasswordKey(const QString& secretId);
QString TokensKey(const QString& secretId);
QString ClientSecretKey(const QString& secretId);

} // namespace signin
