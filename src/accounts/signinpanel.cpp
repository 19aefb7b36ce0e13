#include "accounts/signinpanel.h"

#include "common/accessibility.h"
#include "signin/secretstore.h"
#include "ui_signinpanel.h"

#include <QCoreApplication>
#include <QPointer>

namespace {

constexpr int kPassword = 0;
constexpr int kOAuth2 = 1;
constexpr int kCommand = 2;

signin::Method MethodAt(int index) {
    if (index == kOAuth2)
        return signin::Method::OAuth2;
    if (index == kCommand)
        return signin::Method::Command;
    return signin::Method::Password;
}

int IndexOf(signin::Method method) {
    switch (method) {
    case signin::Method::OAuth2:
        return kOAuth2;
    case signin::Method::Command:
        return kCommand;
    case signin::Method::Password:
        break;
    }
    return kPassword;
}

} // namespace

SignInPanel::SignInPanel(QWidget* parent)
    : QGroupBox(parent), m_ui(std::make_unique<Ui::SignInPanel>()),
      m_keyringAnswers(SecretStore::KeyringAnswers()) {
    m_ui->setupUi(this);
    for (QLineEdit* box : {m_ui->txtClientId, m_ui->txtClientSecret, m_ui->txtAuthorizationUrl,
                           m_ui->txtTokenUrl, m_ui->txtScope, m_ui->txtCommand})
        connect(box, &QLineEdit::textChanged, this, &SignInPanel::changed);
    connect(m_ui->cboSignIn, &QComboBox::currentIndexChanged, this, &SignInPanel::onMethodChanged);
    connect(m_ui->cboProvider, &QComboBox::currentIndexChanged, this, &SignInPanel::onProviderChanged);
    connect(m_ui->chkKeyring, &QCheckBox::toggled, this, [this] {
        updateNote();
        Q_EMIT changed();
    });
    connect(m_ui->chkCommandToken, &QCheckBox::toggled, this, &SignInPanel::changed);
    m_ui->txtCommand->setPlaceholderText(tr("for example: pass show mail/work"));
    // The combo boxes' lists of choices speak by the boxes' names.
    ui::NameUnnamedParts(this);
    onMethodChanged();
    onProviderChanged();
}

SignInPanel::~SignInPanel() = default;

void SignInPanel::setNewAccount() {
    signin::Config config;
    config.keepInKeyring = m_keyringAnswers;
    setConfig(config);
}

void SignInPanel::setConfig(const signin::Config& config) {
    m_secretId = config.secretId;
    m_ui->cboSignIn->setCurrentIndex(IndexOf(config.method));
    m_ui->chkKeyring->setChecked(config.keepInKeyring);
    m_ui->cboProvider->setCurrentIndex(static_cast<int>(config.provider));
    m_ui->txtClientId->setText(config.clientId);
    m_ui->txtClientSecret->clear();
    if (config.provider == signin::Provider::Other) {
        m_ui->txtAuthorizationUrl->setText(config.authorizationUrl);
        m_ui->txtTokenUrl->setText(config.tokenUrl);
        m_ui->txtScope->setText(config.scope);
    }
    m_ui->txtCommand->setText(config.command);
    m_ui->chkCommandToken->setChecked(config.commandGivesToken);
    m_commandTimeoutSeconds = config.commandTimeoutSeconds;
    onMethodChanged();
    onProviderChanged();
}

signin::Config SignInPanel::config() const {
    signin::Config config;
    config.method = method();
    config.keepInKeyring = config.method == signin::Method::Password && m_ui->chkKeyring->isChecked();
    config.provider = static_cast<signin::Provider>(m_ui->cboProvider->currentIndex());
    config.clientId = m_ui->txtClientId->text().trimmed();
    if (config.provider == signin::Provider::Other) {
        config.authorizationUrl = m_ui->txtAuthorizationUrl->text().trimmed();
        config.tokenUrl = m_ui->txtTokenUrl->text().trimmed();
        config.scope = m_ui->txtScope->text().trimmed();
    }
    config.command = m_ui->txtCommand->text().trimmed();
    config.commandGivesToken = m_ui->chkCommandToken->isChecked();
    config.commandTimeoutSeconds = m_commandTimeoutSeconds;
    config.secretId = m_secretId;
    config.ensureSecretId();
    m_secretId = config.secretId;
    return config;
}

signin::Method SignInPanel::method() const {
    return MethodAt(m_ui->cboSignIn->currentIndex());
}

bool SignInPanel::isComplete() const {
    return config().isComplete();
}

std::optional<QString> SignInPanel::typedClientSecret() const {
    const QString secret = m_ui->txtClientSecret->text().trimmed();
    if (method() != signin::Method::OAuth2 || secret.isEmpty())
        return std::nullopt;
    return secret;
}

QList<QWidget*> SignInPanel::focusChain() const {
    return {m_ui->cboSignIn,       m_ui->chkKeyring,          m_ui->cboProvider, m_ui->txtClientId,
            m_ui->txtClientSecret, m_ui->txtAuthorizationUrl, m_ui->txtTokenUrl, m_ui->txtScope,
            m_ui->txtCommand,      m_ui->chkCommandToken};
}

void SignInPanel::onMethodChanged() {
    m_ui->stkSignIn->setCurrentIndex(m_ui->cboSignIn->currentIndex());
    // The group is as tall as the chosen way needs, not as the tallest.
    for (int page = 0; page < m_ui->stkSignIn->count(); ++page) {
        const auto policy =
            page == m_ui->stkSignIn->currentIndex() ? QSizePolicy::Preferred : QSizePolicy::Ignored;
        m_ui->stkSignIn->widget(page)->setSizePolicy(policy, policy);
    }
    m_ui->stkSignIn->updateGeometry();
    updateNote();
    Q_EMIT changed();
}

// Microsoft and Google have their own endpoints and POP scope: shown, not typed.
void SignInPanel::onProviderChanged() {
    signin::Config shown;
    shown.provider = static_cast<signin::Provider>(m_ui->cboProvider->currentIndex());
    const bool other = shown.provider == signin::Provider::Other;
    for (QLineEdit* box : {m_ui->txtAuthorizationUrl, m_ui->txtTokenUrl, m_ui->txtScope}) {
        box->setReadOnly(!other);
        if (!other)
            box->clear();
    }
    if (!other) {
        m_ui->txtAuthorizationUrl->setText(shown.effectiveAuthorizationUrl());
        m_ui->txtTokenUrl->setText(shown.effectiveTokenUrl());
        m_ui->txtScope->setText(shown.effectiveScope());
    }
    for (QLineEdit* box : {m_ui->txtAuthorizationUrl, m_ui->txtTokenUrl, m_ui->txtScope})
        box->setCursorPosition(0); // the start of an address says more than its end
    m_ui->txtClientSecret->setPlaceholderText(
        shown.provider == signin::Provider::Google ? tr("the desktop client's secret") : tr("usually empty"));
    updateNote();
    Q_EMIT changed();
}

void SignInPanel::updateNote() {
    QString note;
    switch (method()) {
    case signin::Method::OAuth2:
        note =
            tr("Check Mail opens your browser once to sign in; after that the access is renewed without it. "
               "The client ID is that of your own desktop-app registration with the provider (see Help).");
        break;
    case signin::Method::Command:
        note = tr("The command's first line of output is used. It runs without a shell: write sh -c '...' "
                  "for pipes.");
        break;
    case signin::Method::Password:
        if (m_ui->chkKeyring->isChecked() && !m_keyringAnswers)
            note = tr("No system keyring answers here: the password is kept in %1 beside Acc.dat, readable "
                      "by you alone.")
                       .arg(SecretStore::FileName());
        break;
    }
    m_ui->lblSignInNote->setText(note);
    m_ui->lblSignInNote->setVisible(!note.isEmpty());
}

namespace accounts {

QString StoredPassword(const signin::Config& config, const QString& password) {
    if (!config.usesSecretStore())
        return password;
    return signin::PasswordMarker(config.method);
}

namespace {

struct SecretWork {
    QList<QPair<QString, QString>> writes;
    QStringList removals;
};

SecretWork WorkFor(const signin::Config& config, const std::optional<QString>& typedPassword,
                   const std::optional<QString>& clientSecret) {
    SecretWork work;
    const QString id = config.secretId;
    const bool passwordKept = config.method == signin::Method::Password && config.keepInKeyring;
    if (passwordKept && typedPassword)
        work.writes.append({signin::PasswordKey(id), *typedPassword});
    if (config.method == signin::Method::OAuth2 && clientSecret)
        work.writes.append({signin::ClientSecretKey(id), *clientSecret});
    if (!passwordKept)
        work.removals.append(signin::PasswordKey(id));
    if (config.method != signin::Method::OAuth2)
        work.removals += QStringList{signin::TokensKey(id), signin::ClientSecretKey(id)};
    return work;
}

// Leftovers go in the background: one that cannot be removed is no reason to
// keep the dialog open, and the store lives on after it.
void RemoveInBackground(const QString& programFolder, const QStringList& keys) {
    if (keys.isEmpty())
        return;
    auto* store = new SecretStore(programFolder, QCoreApplication::instance());
    store->remove(keys, [store](const SecretStore::Outcome&) { store->deleteLater(); });
}

void RunWrites(SecretStore* store, QList<QPair<QString, QString>> writes,
               std::function<void(const QString&)> done) {
    if (writes.isEmpty()) {
        done({});
        return;
    }
    const auto [key, value] = writes.takeFirst();
    store->write(key, value, [store, writes, done = std::move(done)](const SecretStore::Outcome& written) {
        if (!written.ok)
            done(written.error);
        else
            RunWrites(store, writes, done);
    });
}

} // namespace

void SaveSecrets(const QString& programFolder, const signin::Config& config,
                 const std::optional<QString>& typedPassword, const std::optional<QString>& clientSecret,
                 QObject* context, std::function<void(const QString& failure)> done) {
    const SecretWork work = WorkFor(config, typedPassword, clientSecret);
    if (work.writes.isEmpty()) {
        // Nothing to wait for: a password that goes into Acc.dat is saved at once.
        RemoveInBackground(programFolder, work.removals);
        done({});
        return;
    }
    auto* store = new SecretStore(programFolder, context);
    RunWrites(
        store, work.writes,
        [store, programFolder, removals = work.removals, done = std::move(done)](const QString& failure) {
            store->deleteLater();
            if (failure.isEmpty())
                RemoveInBackground(programFolder, removals);
            done(failure);
        });
}

void RemoveSecrets(const QString& programFolder, const QString& secretId) {
    if (secretId.isEmpty())
        return;
    auto* store = new SecretStore(programFolder, QCoreApplication::instance());
    store->remove(
        {signin::PasswordKey(secretId), signin::TokensKey(secretId), signin::ClientSecretKey(secretId)},
        [store](const SecretStore::Outcome&) { store->deleteLater(); });
}

} // namespace accounts
