#include "signin/browsersignin.h"

#include <QCryptographicHash>
#include <QDesktopServices>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QOAuth2AuthorizationCodeFlow>
#include <QOAuthHttpServerReplyHandler>
#include <QRandomGenerator>
#include <QUrlQuery>

namespace signin {

namespace {

// The redirect the provider sends the browser to. Microsoft matches a
// registered "http://localhost" with any port; others get the loopback address
// itself (RFC 8252, 7.3), which no hosts file can point elsewhere.
class LoopbackHandler : public QOAuthHttpServerReplyHandler {
public:
    LoopbackHandler(const QString& host, QObject* parent)
        : QOAuthHttpServerReplyHandler(QHostAddress::LocalHost, 0, parent), m_host(host) {}
    QString callback() const override { return QStringLiteral("http://%1:%2/").arg(m_host).arg(port()); }

private:
    QString m_host;
};

QByteArray RandomUrlSafe(int bytes) {
    QByteArray raw(bytes, Qt::Uninitialized);
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32*>(raw.data()), bytes / 4);
    return raw.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
}

} // namespace

BrowserSignIn::BrowserSignIn(const Config& config, const QString& clientSecret, const QString& loginHint,
                             QObject* parent)
    : QObject(parent), m_config(config) {
    m_network = new QNetworkAccessManager(this);
    const QString host =
        config.provider == Provider::Microsoft ? QStringLiteral("localhost") : QStringLiteral("127.0.0.1");
    m_handler = new LoopbackHandler(host, this);
    m_handler->setCallbackText(tr("Tidemarsh has your sign-in. You may close this page."));
    m_flow = new QOAuth2AuthorizationCodeFlow(m_network, this);
    setUpFlow(clientSecret, loginHint);
    m_timeout.setSingleShot(true);
    connect(&m_timeout, &QTimer::timeout, this, [this] {
        end({},
            tr("The sign-in in the browser was not finished within %1 minutes.").arg(kTimeoutSeconds / 60));
    });
}

BrowserSignIn::~BrowserSignIn() = default;

void BrowserSignIn::setUpFlow(const QString& clientSecret, const QString& loginHint) {
    m_verifier = RandomUrlSafe(32); // 43 characters, RFC 7636 4.1
    m_state = QString::fromLatin1(RandomUrlSafe(16));
    m_flow->setReplyHandler(m_handler);
    m_flow->setAuthorizationUrl(QUrl(m_config.effectiveAuthorizationUrl()));
    m_flow->setAccessTokenUrl(QUrl(m_config.effectiveTokenUrl()));
    m_flow->setClientIdentifier(m_config.clientId.trimmed());
    if (!clientSecret.isEmpty())
        m_flow->setClientIdentifierSharedKey(clientSecret);
    m_flow->setScope(m_config.effectiveScope());
    m_flow->setState(m_state);
    // This Qt knows no PKCE: the challenge goes into the authorization request,
    // the verifier into the token request.
    const QByteArray challenge =
        QCryptographicHash::hash(m_verifier, QCryptographicHash::Sha256)
            .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
    const bool google = m_config.provider == Provider::Google;
    m_flow->setModifyParametersFunction(
        [this, challenge, loginHint, google](QAbstractOAuth::Stage stage,
                                             QMultiMap<QString, QVariant>* values) {
            if (stage == QAbstractOAuth::Stage::RequestingAuthorization) {
                values->insert(QStringLiteral("code_challenge"), QString::fromLatin1(challenge));
                values->insert(QStringLiteral("code_challenge_method"), QStringLiteral("S256"));
                if (!loginHint.isEmpty())
                    values->insert(QStringLiteral("login_hint"), loginHint);
                if (google)
                    values->insert(QStringLiteral("access_type"), QStringLiteral("offline"));
            } else if (stage == QAbstractOAuth::Stage::RequestingAccessToken) {
                values->insert(QStringLiteral("code_verifier"), QString::fromLatin1(m_verifier));
                // This Qt percent-encodes the code once more than the form does.
                const QString code = values->value(QStringLiteral("code")).toString();
                values->replace(QStringLiteral("code"), QUrl::fromPercentEncoding(code.toLatin1()));
            }
        });
    connect(m_flow, &QAbstractOAuth::authorizeWithBrowser, this, [this](const QUrl& url) {
        if (!QDesktopServices::openUrl(url))
            end({}, tr("No web browser could be opened for the sign-in."));
    });
    connect(m_flow, &QAbstractOAuth::granted, this, &BrowserSignIn::onGranted);
    connect(m_handler, &QAbstractOAuthReplyHandler::callbackReceived, this, &BrowserSignIn::onCallback);
    connect(m_network, &QNetworkAccessManager::finished, this, &BrowserSignIn::onNetworkReply);
}

void BrowserSignIn::start() {
    if (!m_handler->isListening()) {
        end({}, tr("The sign-in could not listen for the browser's answer on this computer."));
        return;
    }
    m_timeout.start(kTimeoutSeconds * 1000);
    m_flow->grant();
}

// Qt checks the state too, but drops a mismatch without a word: a sign-in
// would then wait for its time-out.
void BrowserSignIn::onCallback(const QVariantMap& values) {
    const QString error = values.value(QStringLiteral("error")).toString();
    if (!error.isEmpty()) {
        const QString description =
            QUrl::fromPercentEncoding(values.value(QStringLiteral("error_description")).toString().toUtf8())
                .replace(QLatin1Char('+'), QLatin1Char(' '));
        end({}, tr("The provider refused the sign-in: %1").arg(description.isEmpty() ? error : description));
        return;
    }
    const QString state =
        QUrl::fromPercentEncoding(values.value(QStringLiteral("state")).toString().toUtf8());
    if (state != m_state) {
        end({}, tr("The browser's answer did not belong to this sign-in (its state did not match), so it was "
                   "refused."));
        return;
    }
    if (values.value(QStringLiteral("code")).toString().isEmpty())
        end({}, tr("The browser's answer held no authorization code."));
}

void BrowserSignIn::onNetworkReply(QNetworkReply* reply) {
    if (reply->url() != m_flow->accessTokenUrl() || reply->error() == QNetworkReply::NoError)
        return;
    // Peek: the flow reads the answer itself after this.
    const QString why = TokenErrorText(reply->peek(64 * 1024));
    end({},
        tr("The provider refused to issue the tokens: %1").arg(why.isEmpty() ? reply->errorString() : why));
}

void BrowserSignIn::onGranted() {
    Tokens tokens;
    tokens.accessToken = m_flow->token();
    tokens.refreshToken = m_flow->refreshToken();
    tokens.expiresAt = m_flow->expirationAt().toUTC();
    tokens.clientId = m_config.clientId.trimmed();
    tokens.tokenUrl = m_config.effectiveTokenUrl();
    if (tokens.accessToken.isEmpty()) {
        end({}, tr("The provider issued no access token."));
        return;
    }
    end(tokens, {});
}

void BrowserSignIn::end(const Tokens& tokens, const QString& failure) {
    if (m_ended)
        return;
    m_ended = true;
    m_timeout.stop();
    m_handler->close();
    Q_EMIT finished(tokens, failure);
}

} // namespace signin
