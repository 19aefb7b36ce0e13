#include "check/core/accounterrortext.h"
#include "check/core/servertrust.h"
#include "check/core/unreachedaccounts.h"

#include <QSslCertificate>

#include <QTest>

class CheckCoreTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void codeText_data();
    void codeText();
    void newCodesHaveTheirOwnTexts_data();
    void newCodesHaveTheirOwnTexts();
    void certificateProblemInPlainWords();
    void unreachedSummary_data();
    void unreachedSummary();
};

namespace {
const QString kLoginUnknown = QStringLiteral(
    " (Code 0):  An unknown error occurred.  Ensure the settings for the account are correct.");
const QString kDownloadUnknown =
    QStringLiteral(" (Code 0):  An unknown error occurred.  Try performing the action again.");
const QString kTimedOut = QStringLiteral(
    "The connection to the defined server timed out.  The server may be busy or not currently responding.");
} // namespace

namespace {
constexpr auto Login = AccountError::Kind::Login;
constexpr auto Download = AccountError::Kind::Download;
pop3::Result Code(int code) {
    return static_cast<pop3::Result>(code);
}
} // namespace

void CheckCoreTest::codeText_data() {
    QTest::addColumn<AccountError::Kind>("kind");
    QTest::addColumn<pop3::Result>("code");
    QTest::addColumn<QString>("expected");

    QTest::newRow("login 1")
        << Login << Code(1)
        << " (Code 1):  There was a problem connecting to the defined server.  Ensure the server "
           "information is correct.";
    QTest::newRow("login 2") << Login << Code(2)
                             << " (Code 2):  The user name defined for the account is incorrect.";
    QTest::newRow("login 4") << Login << Code(4)
                             << " (Code 4):  The user name or password defined for the account is incorrect.";
    QTest::newRow("login 11")
        << Login << Code(11)
        << " (Code 11):  The defined server connection could not be resolved.  The server may "
           "be busy, not currently responding or the defined server name may be incorrect.";
    QTest::newRow("login 12") << Login << Code(12) << QStringLiteral(" (Code 12):  ") + kTimedOut;
    QTest::newRow("login 13") << Login << Code(13) << QStringLiteral(" (Code 13):  ") + kTimedOut;
    for (int code : {-1, 0, 3, 5, 6, 7, 8, 9, 10, 21, 1000})
        QTest::addRow("login %d is Code 0", code) << Login << Code(code) << kLoginUnknown;

    QTest::newRow("download 5")
        << Download << Code(5)
        << " (Code 5):  There was a problem parsing the downloaded messages headers.  Try "
           "performing the action again.";
    QTest::newRow("download 8")
        << Download << Code(8)
        << " (Code 8):  The connection to the server was lost.  Try performing the action "
           "again.";
    // A time-out and a refused listing during the download used to read "Code 0".
    QTest::newRow("download 13")
        << Download << Code(13)
        << " (Code 13):  The server stopped answering during the download.  The server may be busy or the "
           "connection too slow; try performing the action again.";
    QTest::newRow("download 22") << Download << Code(22)
                                 << " (Code 22):  The server refused to list the waiting messages.  Try "
                                    "performing the action again later.";
    for (int code : {-7, 0, 1, 2, 3, 4, 6, 7, 9, 10, 11, 12, 21})
        QTest::addRow("download %d is Code 0", code) << Download << Code(code) << kDownloadUnknown;
}

void CheckCoreTest::codeText() {
    QFETCH(AccountError::Kind, kind);
    QFETCH(pop3::Result, code);
    QFETCH(QString, expected);
    QCOMPARE(AccountError::CodeText(kind, code), expected);
}

void CheckCoreTest::newCodesHaveTheirOwnTexts_data() {
    QTest::addColumn<AccountError::Kind>("kind");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("mentions");
    for (AccountError::Kind kind : {Login, Download}) {
        QTest::addRow("%d/14", int(kind)) << kind << 14 << "certificate";
        QTest::addRow("%d/15", int(kind)) << kind << 15 << "secure connection";
        QTest::addRow("%d/16", int(kind)) << kind << 16 << "in use by another program";
        QTest::addRow("%d/17", int(kind)) << kind << 17 << "this soon after the last one";
        QTest::addRow("%d/18", int(kind)) << kind << 18 << "temporary problem";
        QTest::addRow("%d/19", int(kind)) << kind << 19 << "no open connection";
        QTest::addRow("%d/20", int(kind)) << kind << 20 << "still running";
    }
}

void CheckCoreTest::newCodesHaveTheirOwnTexts() {
    QFETCH(AccountError::Kind, kind);
    QFETCH(int, code);
    QFETCH(QString, mentions);
    const QString text = AccountError::CodeText(kind, Code(code));
    QVERIFY2(text.startsWith(QStringLiteral(" (Code %1):  ").arg(code)), qPrintable(text));
    QVERIFY2(text.contains(mentions), qPrintable(text));
    QVERIFY(text.endsWith(QLatin1Char('.')));
    QVERIFY(!text.contains(QStringLiteral("password defined"))); // not mistaken for a wrong password
}

void CheckCoreTest::certificateProblemInPlainWords() {
    const QList<QSslCertificate> certs =
        QSslCertificate::fromPath(QStringLiteral(POP3_TEST_DATA_DIR "/expired.pem"));
    QCOMPARE(certs.size(), 1);
    pop3::TlsProblem problem;
    problem.host = QStringLiteral("::1");
    problem.port = 995;
    problem.certificate = certs.first();
    problem.reasons = {pop3::TlsProblem::Reason::Expired, pop3::TlsProblem::Reason::HostNameMismatch};
    QCOMPARE(ServerTrust::ServerText(problem), QStringLiteral("[::1]:995"));
    QCOMPARE(
        ServerTrust::ReasonText(problem),
        QStringLiteral("The certificate has expired. The certificate was issued for another host name."));
    const QString text = ServerTrust::ProblemText(problem);
    for (const char* line : {"Server: [::1]:995", "Issued to: localhost", "Issued by: Tidemarsh Test CA",
                             "Valid from: 2020-01-01 00:00 UTC", "Valid until: 2020-01-02 00:00 UTC",
                             "SHA-256 fingerprint: " EXPIRED_SHA256})
        QVERIFY2(text.contains(QString::fromLatin1(line)), qPrintable(text));

    pop3::TlsProblem handshake;
    handshake.host = QStringLiteral("mail.example.org");
    handshake.port = 110;
    handshake.reasons = {pop3::TlsProblem::Reason::HandshakeFailed};
    QVERIFY(!handshake.canBeExcepted());
    QVERIFY(
        ServerTrust::ProblemText(handshake).startsWith(QStringLiteral("Server: mail.example.org:110\r\n")));
    QVERIFY(!ServerTrust::ProblemText(handshake).contains(QStringLiteral("fingerprint")));
}

QTEST_GUILESS_MAIN(CheckCoreTest)
#include "checkcoretest.moc"

void CheckCoreTest::unreachedSummary_data() {
    QTest::addColumn<QList<UnreachedAccounts::Account>>("accounts");
    QTest::addColumn<bool>("othersChecked");
    QTest::addColumn<QString>("expected");
    pop3::Failure lost = pop3::Failure::of(pop3::Result::ConnectionLost);
    lost.words = QStringLiteral("The server closed the connection during LIST.");
    pop3::Failure certificate = pop3::Failure::of(pop3::Result::CertificateInvalid);
    certificate.tls.certificate =
        QSslCertificate::fromPath(QStringLiteral(POP3_TEST_DATA_DIR "/expired.pem")).value(0);
    certificate.tls.reasons = {pop3::TlsProblem::Reason::Expired};
    pop3::Failure handshake = pop3::Failure::of(pop3::Result::CertificateInvalid);
    handshake.tls.reasons = {pop3::TlsProblem::Reason::HandshakeFailed};

    QTest::newRow("wrong password, others checked")
        << QList<UnreachedAccounts::Account>{{QStringLiteral("Old"), Login,
                                              pop3::Failure::of(pop3::Result::LoginRejected)}}
        << true
        << QStringLiteral(
               "These accounts could not be checked; the others were checked.\r\n\r\nOld: Could not "
               "connect to the server. (Code 4):  The user name or password defined for the account "
               "is incorrect.");
    QTest::newRow("download lost, with our words; a locked box")
        << QList<UnreachedAccounts::Account>{{QStringLiteral("Home"), Download, lost},
                                             {QStringLiteral("Work"), Login,
                                              pop3::Failure::of(pop3::Result::MailboxInUse)}}
        << false
        << QStringLiteral(
               "None of the accounts could be checked.\r\n\r\nHome: Could not download message "
               "headers. (Code 8):  The connection to the server was lost.  Try performing the action "
               "again.  The server closed the connection during LIST.\r\n\r\nWork: Could not connect "
               "to the server. (Code 16):  The mailbox is in use by another program.  Close the other "
               "mail program or wait a few minutes, then try again.");
    const QString code14 = QStringLiteral(
        "Could not connect to the server. (Code 14):  The server's security certificate could not be "
        "verified, "
        "so no password was sent.  Ensure the server name is correct and that the server has a valid "
        "certificate.");
    QTest::newRow("certificate that may be trusted on its own")
        << QList<UnreachedAccounts::Account>{{QStringLiteral("Lab"), Login, certificate}} << true
        << QStringLiteral("These accounts could not be checked; the others were checked.\r\n\r\nLab: ") +
               code14 +
               QStringLiteral("  Check this account alone with Check Mail to see the certificate and decide "
                              "whether to trust it.");
    QTest::newRow("no certificate to trust")
        << QList<UnreachedAccounts::Account>{{QStringLiteral("Lab"), Login, handshake}} << true
        << QStringLiteral("These accounts could not be checked; the others were checked.\r\n\r\nLab: ") +
               code14;
}

void CheckCoreTest::unreachedSummary() {
    QFETCH(QList<UnreachedAccounts::Account>, accounts);
    QFETCH(bool, othersChecked);
    QFETCH(QString, expected);
    QCOMPARE(UnreachedAccounts::SummaryText(accounts, othersChecked), expected);
}
