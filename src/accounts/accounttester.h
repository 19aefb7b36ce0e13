#pragma once

#include "check/core/loginsettings.h"
#include "pop3/pop3types.h"
#include "signin/signinconfig.h"
#include "store/records.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QSslCertificate>
#include <QString>
#include <QWidget>

#include <optional>

namespace pop3 {
class Session;
}

// The editor's Test: logs in with the entries as typed, asks how many messages
// wait (STAT, nothing is listed or downloaded) and logs out with QUIT. Nothing
// is stored but what an OAuth2 sign-in brings (the account's tokens). Start
// returns at once; finished tells the outcome and which way it signed in.
class AccountTester : public QObject {
    Q_OBJECT
public:
    struct Result {
        pop3::Result code = pop3::Result::Ok; // Ok when the login and the count worked
        bool cancelled = false;
        QString text;                // what to tell the user
        pop3::TlsProblem tlsProblem; // with code 14: why, and the certificate
    };

    explicit AccountTester(const SettingsRecord& settings, QObject* parent = nullptr);
    ~AccountTester() override;

    struct Entries {
        QString account; // for the sign-in question
        QString login;
        std::optional<QString> password; // typed now; nullopt: the one kept for the account
        QString server;
        signin::Config signIn;
    };
    // Does nothing while a test runs.
    void Start(const Entries& entries);
    // A password login with what was typed.
    void Start(const QString& login, const QString& password, const QString& server);
    // Where the question before a browser sign-in opens.
    void setQuestionParent(QWidget* parent) { m_questionParent = parent; }
    // Ends a running test at once; finished follows, cancelled.
    void Cancel();
    bool isRunning() const { return !m_session.isNull() || !m_preparing.isNull(); }

    // The folder whose Certificates.pem and certificate exceptions apply, as for a check.
    void setProgramFolder(const QString& folder) { m_programFolder = folder; }
    // Trusted besides the system's CAs (the user's own CA, a test CA).
    void addCaCertificates(const QList<QSslCertificate>& certificates) { m_caCertificates += certificates; }

Q_SIGNALS:
    void finished(const AccountTester::Result& result);

private:
    AccountRecord record() const;
    void prepare();
    bool retrySignIn(const pop3::Failure& failure);
    void reportConnectFailure(const pop3::Failure& failure);
    void onPrepared(const pop3::SessionSettings& settings, const QString& failure);
    void onConnected(const pop3::Failure& failure);
    void onCounted(const pop3::Failure& failure, int count);
    void end(Result result);

    SettingsRecord m_settings;
    QList<QSslCertificate> m_caCertificates;
    QString m_programFolder;
    QPointer<pop3::Session> m_session;
    QPointer<QObject> m_preparing;
    QPointer<QWidget> m_questionParent;
    Entries m_entries;
    LoginSettings::Options m_options;
    pop3::SessionSettings m_used;
    bool m_signInRetried = false;
    bool m_cancelRequested = false;
};
