#pragma once

#include "signin/signinconfig.h"

#include <QGroupBox>

#include <functional>
#include <memory>
#include <optional>

namespace Ui {
class SignInPanel;
}

// Frame3, "Sign-in": how an account signs in, in the account editor and on the
// wizard's last page. Password (in Acc.dat, or in the system keyring), OAuth2
// in the browser (Microsoft, Google or another provider) or a password command.
class SignInPanel : public QGroupBox {
    Q_OBJECT
public:
    explicit SignInPanel(QWidget* parent = nullptr);
    ~SignInPanel() override;

    // A new account: Password, kept in the keyring where one answers.
    void setNewAccount();
    void setConfig(const signin::Config& config);
    // What the controls say; the secret ID of setConfig (or a fresh one).
    signin::Config config() const;
    signin::Method method() const;
    // The method's own entries are there (a client ID, a command).
    bool isComplete() const;
    // Typed in the client secret box; nullopt when left empty.
    std::optional<QString> typedClientSecret() const;
    // The controls in tab order, for the dialogs that hold the panel.
    QList<QWidget*> focusChain() const;

Q_SIGNALS:
    void changed();

private:
    void onMethodChanged();
    void onProviderChanged();
    void updateNote();

    std::unique_ptr<Ui::SignInPanel> m_ui;
    mutable QString m_secretId; // made on first use, then kept
    bool m_keyringAnswers = false;
    int m_commandTimeoutSeconds = 60;
};

namespace accounts {

// What Acc.dat's LoginPassword gets for this sign-in: the password itself, or
// the marker that says where the secret is.
QString StoredPassword(const signin::Config& config, const QString& password);

// Puts what the sign-in keeps outside Acc.dat where it belongs before the
// record is written: the typed password (keyring) and client secret, and drops
// what the account no longer uses (a password that now goes into Acc.dat,
// tokens of a method given up). done(failure) later, from the event loop;
// failure empty when all went well.
void SaveSecrets(const QString& programFolder, const signin::Config& config,
                 const std::optional<QString>& typedPassword, const std::optional<QString>& clientSecret,
                 QObject* context, std::function<void(const QString& failure)> done);

// Drops every secret of the account (a deleted account, a new one cancelled
// after its Test signed in). Runs to its end even when the caller is gone.
void RemoveSecrets(const QString& programFolder, const QString& secretId);

} // namespace accounts
