#include "signin/accesstoken.h"

#include "signin/browsersignin.h"
#include "signin/oauthtokens.h"
#include "signin/secretstore.h"

#include <QCoreApplication>
#include <QPointer>

namespace signin {

namespace {

QString Tr(const char* text) {
    return QCoreApplication::translate("AccessToken", text);
}

// One request's walk: client secret, kept tokens, renewal, browser. Deletes
// itself once done has run; dies with its context.
class TokenRequest : public QObject {
public:
    TokenRequest(const Config& config, const QString& programFolder, const QString& loginHint, AskSignIn ask,
                 QObject* context, TokenDone done)
        : QObject(context), m_config(config), m_store(programFolder, this), m_loginHint(loginHint),
          m_ask(std::move(ask)), m_done(std::move(done)) {}

    void start() {
        m_store.read(ClientSecretKey(m_config.secretId), [this](const SecretStore::Outcome& secret) {
            if (!secret.ok) {
                fail(secret.error);
                return;
            }
            m_clientSecret = secret.value;
            m_store.read(TokensKey(m_config.secretId),
                         [this](const SecretStore::Outcome& kept) { onKept(kept); });
        });
    }

private:
    void onKept(const SecretStore::Outcome& kept) {
        if (!kept.ok) {
            fail(kept.error);
            return;
        }
        const std::optional<Tokens> tokens = kept.found ? Tokens::FromJson(kept.value) : std::nullopt;
        if (!tokens) {
            signIn(Tr("This account has not been signed in yet."));
            return;
        }
        if (!tokens->belongsTo(m_config)) {
            signIn(Tr("The account's sign-in settings have changed since the last sign-in."));
            return;
        }
        if (tokens->freshFor(kRenewMarginSeconds)) {
            finish(tokens->accessToken, false);
            return;
        }
        if (tokens->refreshToken.isEmpty()) {
            signIn(Tr("The last sign-in has expired."));
            return;
        }
        RefreshTokens(m_config, m_clientSecret, *tokens, this,
                      [this](const RefreshOutcome& outcome) { onRefreshed(outcome); });
    }

    void onRefreshed(const RefreshOutcome& outcome) {
        switch (outcome.kind) {
        case RefreshOutcome::Kind::Renewed:
            keep(outcome.tokens, false);
            return;
        case RefreshOutcome::Kind::Refused:
            // Dead for good: forget it, so no later login tries it again.
            m_store.remove({TokensKey(m_config.secretId)},
                           [this, why = outcome.why](const SecretStore::Outcome&) {
                               signIn(Tr("The provider no longer accepts the saved sign-in (%1).").arg(why));
                           });
            return;
        case RefreshOutcome::Kind::Unreachable:
            break;
        }
        fail(Tr("The provider's sign-in service could not be reached to renew the access: %1")
                 .arg(outcome.why));
    }

    void signIn(const QString& reason) {
        if (!m_ask) {
            m_signInNeeded = true;
            fail(Tr("Sign-in needed: %1 Sign in again with Check Mail or the account editor's Test.")
                     .arg(reason));
            return;
        }
        m_ask(reason, [this, self = QPointer<QObject>(this)](bool yes) {
            if (!self)
                return;
            if (!yes) {
                m_signInNeeded = true;
                fail(Tr("The sign-in in the browser was cancelled."));
                return;
            }
            auto* browser = new BrowserSignIn(m_config, m_clientSecret, m_loginHint, this);
            connect(browser, &BrowserSignIn::finished, this,
                    [this](const Tokens& tokens, const QString& failure) {
                        if (!failure.isEmpty())
                            fail(failure);
                        else
                            keep(tokens, true);
                    });
            browser->start();
        });
    }

    void keep(const Tokens& tokens, bool signedInNow) {
        m_store.write(TokensKey(m_config.secretId), tokens.toJson(),
                      [this, token = tokens.accessToken, signedInNow](const SecretStore::Outcome& written) {
                          if (!written.ok)
                              fail(Tr("Signed in, but the tokens could not be kept: %1").arg(written.error));
                          else
                              finish(token, signedInNow);
                      });
    }

    void finish(const QString& token, bool signedInNow) {
        TokenOutcome outcome;
        outcome.accessToken = token;
        outcome.signedInNow = signedInNow;
        end(outcome);
    }

    void fail(const QString& failure) {
        TokenOutcome outcome;
        outcome.failure = failure;
        outcome.signInNeeded = m_signInNeeded;
        end(outcome);
    }

    void end(const TokenOutcome& outcome) {
        if (!m_done)
            return;
        TokenDone done = std::move(m_done);
        m_done = nullptr;
        deleteLater();
        done(outcome);
    }

    Config m_config;
    SecretStore m_store;
    QString m_loginHint;
    AskSignIn m_ask;
    TokenDone m_done;
    QString m_clientSecret;
    bool m_signInNeeded = false;
};

} // namespace

void GetAccessToken(const Config& config, const QString& programFolder, const QString& loginHint,
                    AskSignIn ask, QObject* context, TokenDone done) {
    auto* request =
        new TokenRequest(config, programFolder, loginHint, std::move(ask), context, std::move(done));
    request->start();
}

void ForgetTokens(const Config& config, const QString& programFolder, QObject* context,
                  std::function<void(const QString& failure)> done) {
    auto* store = new SecretStore(programFolder, context);
    store->remove({TokensKey(config.secretId)},
                  [store, done = std::move(done)](const SecretStore::Outcome& removed) {
                      store->deleteLater();
                      done(removed.ok ? QString() : removed.error);
                  });
}

} // namespace signin
