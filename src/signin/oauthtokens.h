#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>

namespace signin {

struct Config;

// What one OAuth2 sign-in left: kept as JSON in the SecretStore, together with
// the client and token endpoint they were issued for, so tokens of an earlier
// registration are never sent to another.
struct Tokens {
    QString accessToken;
    QString refreshToken;
    QDateTime expiresAt; // UTC; invalid when the provider did not say
    QString clientId;
    QString tokenUrl;

    QString toJson() const;
    static std::optional<Tokens> FromJson(const QString& json);
    bool belongsTo(const Config& config) const;
    // Usable for at least marginSeconds more (a token without a known expiry is).
    bool freshFor(int marginSeconds) const;
};

// The refresh grant (RFC 6749, 6): a new access token without the browser.
struct RefreshOutcome {
    enum class Kind { Renewed, Refused, Unreachable };
    Kind kind = Kind::Unreachable;
    Tokens tokens; // Renewed: the new ones (the old refresh token kept when none came)
    QString why;   // Refused, Unreachable: in the provider's words where it gave any
};
using RefreshDone = std::function<void(const RefreshOutcome& outcome)>;
// done runs later, from the event loop, and never after context is gone.
void RefreshTokens(const Config& config, const QString& clientSecret, const Tokens& tokens, QObject* context,
                   RefreshDone done);

// The error and its description from a token endpoint's JSON answer ("invalid_grant: ...").
QString TokenErrorText(const QByteArray& body);

} // namespace signin
