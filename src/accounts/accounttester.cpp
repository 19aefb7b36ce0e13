#include "accounts/accounttester.h"

#include "check/core/accounterrortext.h"
#include "check/core/servertrust.h"
#include "common/signinquestion.h"
#include "pop3/job.h"
#include "pop3/session.h"

#include <QTimer>

namespace {

QString SecurityText(const pop3::ConnectionInfo& info) {
    const QString protocol =
        info.tlsProtocol.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(info.tlsProtocol);
    switch (info.security) {
    case pop3::Security::Auto:
    case pop3::Security::ImplicitTls:
        return QObject::tr("with implicit TLS%1").arg(protocol);
    case pop3::Security::StartTls:
    case pop3::Security::Plain:
        break;
    }
    if (info.encrypted)
        return QObject::tr("with STARTTLS (STLS)%1").arg(protocol);
    // APOP sends a digest, never the password itself.
    if (info.login == pop3::LoginMethod::Apop)
        return QObject::tr("without encryption");
    return QObject::tr("without encryption: the password was sent as plain text");
}

QString LoginText(pop3::LoginMethod method) {
    switch (method) {
    case pop3::LoginMethod::Apop:
        return QStringLiteral("APOP");
    case pop3::LoginMethod::UserPass:
        return QStringLiteral("USER/PASS");
    case pop3::LoginMethod::SaslPlain:
        return QStringLiteral("SASL PLAIN");
    case pop3::LoginMethod::XOAuth2:
        return QStringLiteral("OAuth2 (XOAUTH2)");
    case pop3::LoginMethod::OAuthBearer:
        return QStringLiteral("OAuth2 (OAUTHBEARER)");
    case pop3::LoginMethod::None:
        break;
    }
    return QStringLiteral("?");
}

// "logged in with SASL PLAIN, the password from the system keyring"
QString LoginPhrase(pop3::LoginMethod method, const pop3::SessionSettings& used) {
    const bool token = method == pop3::LoginMethod::XOAuth2 || method == pop3::LoginMethod::OAuthBearer;
    QString phrase =
        (token ? QObject::tr("signed in with %1") : QObject::tr("logged in with %1")).arg(LoginText(method));
    if (!used.secretOrigin.isEmpty() && used.secretOrigin != QLatin1String("OAuth2"))
        phrase += (token ? QObject::tr(", the token from %1") : QObject::tr(", the password from %1"))
                      .arg(used.secretOrigin);
    return phrase;
}

QString WaitingText(int count) {
    if (count == 0)
        return QObject::tr("No messages are waiting on the server.");
    if (count == 1)
        return QObject::tr("1 message is waiting on the server.");
    return QObject::tr("%1 messages are waiting on the server.").arg(count);
}

QString Paragraph(const pop3::Failure& failure) {
    const QString words = AccountError::DetailText(failure);
    return words.isEmpty() ? QString() : QStringLiteral("\r\n\r\n") + words;
}

} // namespace

AccountTester::AccountTester(const SettingsRecord& settings, QObject* parent)
    : QObject(parent), m_settings(settings) {}

AccountTester::~AccountTester() {
    // A test still running is dropped without QUIT: STAT changed nothing.
    delete m_session.data();
}

void AccountTester::Start(const QString& login, const QString& password, const QString& server) {
    Entries entries;
    entries.login = login;
    entries.password = password;
    entries.server = server;
    Start(entries);
}

void AccountTester::Start(const Entries& entries) {
    if (isRunning())
        return;
    m_cancelRequested = false;
    m_signInRetried = false;
    m_entries = entries;
    m_options = {};
    m_options.config = entries.signIn;
    if (entries.signIn.method == signin::Method::Password)
        m_options.typedPassword = entries.password;
    m_options.askSignIn = ui::BrowserSignInQuestion(m_questionParent, entries.account);
    prepare();
}

AccountRecord AccountTester::record() const {
    AccountRecord record;
    record.AccountName = m_entries.account;
    record.LoginName = m_entries.login;
    record.LoginPassword = m_entries.password.value_or(QString());
    record.ServerAddress = m_entries.server;
    return record;
}

// The same port, time-out, trust and secret as a check of this account would use.
void AccountTester::prepare() {
    m_preparing = new QObject(this);
    LoginSettings::Prepare(record(), m_settings, m_programFolder, m_preparing, m_options,
                           [this](const pop3::SessionSettings& settings, const QString& failure) {
                               onPrepared(settings, failure);
                           });
}

void AccountTester::onPrepared(const pop3::SessionSettings& settings, const QString& failure) {
    m_preparing->deleteLater();
    m_preparing = nullptr;
    if (!failure.isEmpty()) {
        Result result;
        result.code = pop3::Result::LoginRejected;
        result.text = tr("Could not sign in.") + QStringLiteral("\r\n\r\n") + failure;
        end(result);
        return;
    }
    m_used = settings;
    m_used.caCertificates += m_caCertificates;
    m_session = new pop3::Session(this);
    auto* connect = new pop3::ConnectJob(m_used);
    QObject::connect(connect, &pop3::Job::finished, this, &AccountTester::onConnected);
    m_session->enqueue(connect);
}

// A refused OAuth2 token: one new sign-in in the browser, one more login.
bool AccountTester::retrySignIn(const pop3::Failure& failure) {
    if (failure.code != pop3::Result::LoginRejected || m_signInRetried || m_cancelRequested)
        return false;
    m_signInRetried = true;
    m_session->deleteLater();
    m_session = nullptr;
    // The kept tokens go: the question's reason is the refusal, not their absence.
    m_options.askSignIn = [ask = m_options.askSignIn](const QString&, std::function<void(bool)> answer) {
        ask(tr("The server refused the access token."), std::move(answer));
    };
    m_preparing = new QObject(this);
    LoginSettings::LoginRefused(m_used, record(), m_programFolder, m_options, m_preparing,
                                [this, failure](bool retry) {
                                    m_preparing->deleteLater();
                                    m_preparing = nullptr;
                                    if (retry)
                                        prepare();
                                    else
                                        reportConnectFailure(failure);
                                });
    return true;
}

void AccountTester::onConnected(const pop3::Failure& failure) {
    if (!failure.isOk()) {
        if (!retrySignIn(failure))
            reportConnectFailure(failure);
        return;
    }
    auto* stat = new pop3::StatJob;
    QObject::connect(stat, &pop3::Job::finished, this,
                     [this, stat](const pop3::Failure& counted) { onCounted(counted, stat->count()); });
    m_session->enqueue(stat);
}

void AccountTester::reportConnectFailure(const pop3::Failure& failure) {
    Result result;
    result.code = failure.code;
    result.tlsProblem = failure.tls;
    result.text = tr("Could not connect to the server.") +
                  AccountError::CodeText(AccountError::Kind::Login, failure.code) + Paragraph(failure);
    end(result);
}

void AccountTester::onCounted(const pop3::Failure& failure, int count) {
    const pop3::ConnectionInfo info = m_session->connectionInfo();
    // QUIT whatever the count did; nobody waits for its answer.
    auto* quit = new pop3::QuitJob;
    QObject::connect(quit, &pop3::Job::finished, m_session, &QObject::deleteLater);
    m_session->enqueue(quit);
    m_session = nullptr;

    Result result;
    result.code = failure.code;
    if (!failure.isOk()) {
        result.text = tr("Logged in, but could not count the messages on the server.") +
                      AccountError::CodeText(AccountError::Kind::Download, failure.code) + Paragraph(failure);
    } else {
        result.text = tr("Connected to %1 on port %2 %3, %4 and logged out again.")
                          .arg(info.host, QString::number(info.port), SecurityText(info),
                               LoginPhrase(info.login, m_used)) +
                      QStringLiteral("\r\n\r\n") + WaitingText(count);
    }
    end(result);
}

void AccountTester::end(Result result) {
    result.cancelled = m_cancelRequested || result.code == pop3::Result::Cancelled;
    if (m_session)
        m_session->deleteLater();
    m_session = nullptr;
    // From the event loop: the receiver may open a dialog, which must not run
    // inside the session's signal.
    QTimer::singleShot(0, this, [this, result] { Q_EMIT finished(result); });
}

void AccountTester::Cancel() {
    m_cancelRequested = true;
    if (m_session) {
        m_session->cancel();
    } else if (m_preparing) {
        // Waiting for a secret or the browser: abandoned, nothing kept.
        delete m_preparing.data();
        Result result;
        result.code = pop3::Result::Cancelled;
        end(result);
    }
}
