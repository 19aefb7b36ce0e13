#include "accounts/accounttester.h"

#include "check/core/accounterrortext.h"
#include "check/core/servertrust.h"
#include "pop3/pop3client.h"

namespace {

QString SecurityText(const pop3::Client::ConnectionInfo& info) {
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

} // namespace

AccountTester::AccountTester(const SettingsRecord& settings, QObject* parent)
    : QObject(parent), m_settings(settings) {}

AccountTester::Result AccountTester::Run(const QString& login, const QString& password,
                                         const QString& server) {
    Result result;
    if (m_client)
        return Result{pop3::Result::Busy, false, QString(), pop3::TlsProblem()};
    pop3::Client client;
    m_client = &client;
    m_cancelRequested = false;
    client.setUserName(login);
    client.setPassword(password);
    client.setHostName(server);
    // The same port and time-out as a check of this account would use.
    client.setDefaultPort(m_settings.PopPort());
    client.setTimeoutSeconds(m_settings.TimeoutSeconds());
    client.addCaCertificates(m_caCertificates);
    if (!m_programFolder.isEmpty())
        ServerTrust::Apply(client, m_programFolder);

    const pop3::Result connected = client.Connect();
    if (connected != pop3::Result::Ok) {
        m_client = nullptr;
        result.code = connected;
        result.cancelled = m_cancelRequested || connected == pop3::Result::Cancelled;
        result.tlsProblem = client.lastTlsProblem();
        result.text = tr("Could not connect to the server.") +
                      AccountError::CodeText(AccountError::Kind::Login, connected);
        return result;
    }
    int count = 0;
    const pop3::Result counted = client.Stat(&count);
    const pop3::Client::ConnectionInfo info = client.connectionInfo();
    // QUIT whatever the count did; a session it already ended has nothing to end.
    client.Disconnect();
    m_client = nullptr;
    result.code = counted;
    result.cancelled = m_cancelRequested || counted == pop3::Result::Cancelled;
    if (counted != pop3::Result::Ok) {
        result.text = tr("Logged in, but could not count the messages on the server.") +
                      AccountError::CodeText(AccountError::Kind::Download, counted);
        return result;
    }
    result.text = tr("Connected to %1 on port %2 %3, logged in with %4 and logged out again.")
                      .arg(info.host, QString::number(info.port), SecurityText(info), LoginText(info.login)) +
                  QStringLiteral("\r\n\r\n") + WaitingText(count);
    return result;
}

void AccountTester::Cancel() {
    m_cancelRequested = true;
    if (m_client)
        m_client->CancelOperation();
}
