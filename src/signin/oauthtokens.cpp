#include "signin/oauthtokens.h"

#include "signin/signinconfig.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrlQuery>

namespace signin {

namespace {
constexpr int kTransferTimeoutMs = 30000;
constexpr qint64 kMaxAnswerBytes = 256 * 1024;
} // namespace

QString Tokens::toJson() const {
    QJsonObject object;
    object.insert(QStringLiteral("access_token"), accessToken);
    object.insert(QStringLiteral("refresh_token"), refreshToken);
    if (expiresAt.isValid())
        object.insert(QStringLiteral("expires_at"), expiresAt.toUTC().toString(Qt::ISODate));
    object.insert(QStringLiteral("client_id"), clientId);
    object.insert(QStringLiteral("token_url"), tokenUrl);
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

std::optional<Tokens> Tokens::FromJson(const QString& json) {
    const QJsonDocument document = QJsonDocument::fromJson(json.toUtf8());
    if (!document.isObject())
        return std::nullopt;
    const QJsonObject object = document.object();
    Tokens tokens;
    tokens.accessToken = object.value(QStringLiteral("access_token")).toString();
    tokens.refreshToken = object.value(QStringLiteral("refresh_token")).toString();
    tokens.expiresAt =
        QDateTime::fromString(object.value(QStringLiteral("expires_at")).toString(), Qt::ISODate);
    tokens.clientId = object.value(QStringLiteral("client_id")).toString();
    tokens.tokenUrl = object.value(QStringLiteral("token_url")).toString();
    if (tokens.accessToken.isEmpty() && tokens.refreshToken.isEmpty())
        return std::nullopt;
    return tokens;
}

bool Tokens::belongsTo(const Config& config) const {
    return clientId == config.clientId.trimmed() && tokenUrl == config.effectiveTokenUrl();
}

bool Tokens::freshFor(int marginSeconds) const {
    if (accessToken.isEmpty())
        return false;
    return !expiresAt.isValid() || QDateTime::currentDateTimeUtc().addSecs(marginSeconds) < expiresAt;
}

QString TokenErrorText(const QByteArray& body) {
    const QJsonObject object = QJsonDocument::fromJson(body).object();
    const QString error = object.value(QStringLiteral("error")).toString();
    const QString description = object.value(QStringLiteral("error_description")).toString().simplified();
    if (error.isEmpty())
        return description;
    return description.isEmpty() ? error : error + QStringLiteral(": ") + description;
}

namespace {

RefreshOutcome Answered(QNetworkReply* reply, const Tokens& old) {
    RefreshOutcome outcome;
    const QByteArray body = reply->read(kMaxAnswerBytes);
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QJsonObject answer = QJsonDocument::fromJson(body).object();
    // 400 and 401 are the provider's refusal of the grant (RFC 6749, 5.2): another try would meet the same.
    if (status == 400 || status == 401) {
        outcome.kind = RefreshOutcome::Kind::Refused;
        outcome.why = TokenErrorText(body);
        return outcome;
    }
    const QString access = answer.value(QStringLiteral("access_token")).toString();
    if (reply->error() != QNetworkReply::NoError || access.isEmpty()) {
        outcome.why = reply->error() != QNetworkReply::NoError
                          ? reply->errorString()
                          : QObject::tr("The answer held no access token.");
        return outcome;
    }
    outcome.kind = RefreshOutcome::Kind::Renewed;
    outcome.tokens = old;
    outcome.tokens.accessToken = access;
    const QString refresh = answer.value(QStringLiteral("refresh_token")).toString();
    if (!refresh.isEmpty())
        outcome.tokens.refreshToken = refresh;
    const int expiresIn = answer.value(QStringLiteral("expires_in")).toVariant().toInt();
    outcome.tokens.expiresAt =
        expiresIn > 0 ? QDateTime::currentDateTimeUtc().addSecs(expiresIn) : QDateTime();
    return outcome;
}

} // namespace

void RefreshTokens(const Config& config, const QString& clientSecret, const Tokens& tokens, QObject* context,
                   RefreshDone done) {
    auto* network = new QNetworkAccessManager(context);
    QNetworkRequest request{QUrl(config.effectiveTokenUrl())};
    request.setHeader(QNetworkRequest::ContentTypeHeader,
                      QStringLiteral("application/x-www-form-urlencoded"));
    request.setTransferTimeout(kTransferTimeoutMs);
    QUrlQuery form;
    form.addQueryItem(QStringLiteral("grant_type"), QStringLiteral("refresh_token"));
    form.addQueryItem(QStringLiteral("refresh_token"), tokens.refreshToken);
    form.addQueryItem(QStringLiteral("client_id"), config.clientId.trimmed());
    if (!clientSecret.isEmpty())
        form.addQueryItem(QStringLiteral("client_secret"), clientSecret);
    form.addQueryItem(QStringLiteral("scope"), config.effectiveScope());
    // Form encoding: '+' and '&' inside a value must not read as separators.
    QByteArray body;
    for (const auto& [key, value] : form.queryItems(QUrl::FullyDecoded)) {
        if (!body.isEmpty())
            body += '&';
        body += QUrl::toPercentEncoding(key) + '=' + QUrl::toPercentEncoding(value);
    }
    QNetworkReply* reply = network->post(request, body);
    QObject::connect(reply, &QNetworkReply::finished, network,
                     [network, reply, tokens, done = std::move(done)] {
                         const RefreshOutcome outcome = Answered(reply, tokens);
                         reply->deleteLater();
                         network->deleteLater();
                         done(outcome);
                     });
}

} // namespace signin
