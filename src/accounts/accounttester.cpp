#include "accounts/accounttester.h"

#include "check/core/accounterrortext.h"
#include "check/core/servertrust.h"
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
    case pop3::LoginMethod::None:
        break;
    }
    return QStringLiteral("?");
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
    if (m_session)
        return;
    m_cancelRequested = false;
    pop3::SessionSettings settings;
    settings.user = login;
    settings.password = password;
    settings.address = server;
    // The same port and time-out as a check of this account would use.
    settings.defaultPort = m_settings.PopPort();
    settings.timeoutSeconds = m_settings.TimeoutSeconds();
    settings.caCertificates = m_caCertificates;
    if (!m_programFolder.isEmpty())
        ServerTrust::Apply(settings, m_programFolder);

    m_session = new pop3::Session(this);
    auto* connect = new pop3::ConnectJob(settings);
    QObject::connect(connect, &pop3::Job::finished, this, &AccountTester::onConnected);
    m_session->enqueue(connect);
}

void AccountTester::onConnected(const pop3::Failure& failure) {
    if (!failure.isOk()) {
        Result result;
        result.code = failure.code;
        result.tlsProblem = failure.tls;
        result.text = tr("Could not connect to the server.") +
                      AccountError::CodeText(AccountError::Kind::Login, failure.code) + Paragraph(failure);
        end(result);
        return;
    }
    auto* stat = new pop3::StatJob;
    QObject::connect(stat, &pop3::Job::finished, this,
                     [this, stat](const pop3::Failure& counted) { onCounted(counted, stat->count()); });
    m_session->enqueue(stat);
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
        result.text =
            tr("Connected to %1 on port %2 %3, logged in with %4 and logged out again.")
                .arg(info.host, QString::number(info.port), SecurityText(info), LoginText(info.login)) +
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
    if (m_session)
        m_session->cancel();
}
