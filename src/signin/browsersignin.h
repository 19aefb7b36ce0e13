#pragma once

#include "signin/oauthtokens.h"
#include "signin/signinconfig.h"

#include <QObject>
#include <QPointer>
#include <QTimer>

class QNetworkAccessManager;
class QNetworkReply;
class QOAuth2AuthorizationCodeFlow;
class QOAuthHttpServerReplyHandler;

namespace signin {

// One OAuth2 sign-in in the user's browser: the authorization code flow with
// PKCE (S256), the browser's answer caught on the loopback interface on a port
// the system picks. finished comes once: the tokens, or why there are none (the
// provider refused, the answer did not belong to this sign-in, time ran out).
class BrowserSignIn : public QObject {
    Q_OBJECT
public:
    static constexpr int kTimeoutSeconds = 300;

    BrowserSignIn(const Config& config, const QString& clientSecret, const QString& loginHint,
                  QObject* parent = nullptr);
    ~BrowserSignIn() override;

    // Opens the authorization page in the browser.
    void start();

Q_SIGNALS:
    void finished(const signin::Tokens& tokens, const QString& failure);

private:
    void setUpFlow(const QString& clientSecret, const QString& loginHint);
    void onCallback(const QVariantMap& values);
    void onNetworkReply(QNetworkReply* reply);
    void onGranted();
    void end(const Tokens& tokens, const QString& failure);

    Config m_config;
    QNetworkAccessManager* m_network = nullptr;
    QOAuthHttpServerReplyHandler* m_handler = nullptr;
    QOAuth2AuthorizationCodeFlow* m_flow = nullptr;
    QTimer m_timeout;
    QByteArray m_verifier;
    QString m_state;
    bool m_ended = false;
};

} // namespace signin
