// Certificates through the main window, with nothing trusted for the whole
// process: the fixture's server is signed by a CA this machine does not know.
#include "check/core/servertrust.h"
#include "e2eharness.h"
#include "review/core/reviewmodel.h"
#include "review/reviewcontroller.h"
#include "store/certificateexceptions.h"
#include "support/modalhelper.h"

#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <sys/stat.h>

namespace {
QByteArray ServerLog(const TestMailServer& server) {
    QFile file(server.logFile());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

int FileMode(const QString& path) {
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}
} // namespace

class E2eCertificateTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void closingTheDialogTrustsNothing();
    void handshakeFailureIsReportedWithItsReason();
    void trustedCertificateIsKeptAcrossRestarts();
    void companyCaFileIsTrusted();

private:
    TestMailbox mailboxWithTwoMessages();
    std::unique_ptr<TestMailServer> m_server;
};

void E2eCertificateTest::initTestCase() {
    m_server = std::make_unique<TestMailServer>();
    QVERIFY2(m_server->isValid(), qPrintable(m_server->errorString()));
}

TestMailbox E2eCertificateTest::mailboxWithTwoMessages() {
    TestMailbox box = m_server->createMailbox();
    box.addMessages({"From: a@example.org\r\nSubject: one\r\n\r\nx\r\n",
                     "From: b@example.org\r\nSubject: two\r\n\r\ny\r\n"});
    return box;
}

void E2eCertificateTest::trustedCertificateIsKeptAcrossRestarts() {
    TestMailbox box = mailboxWithTwoMessages();
    QVERIFY2(box.isValid(), qPrintable(box.errorString()));
    E2eHarness app;
    QVERIFY(app.start(E2eHarness::AccountFor(*m_server, box)));
    app.state().Settings.CheckDonePromptOff = 1;

    QString reason, details, trustCaption;
    bool closeHasFocus = false;
    WhenModal(QStringLiteral("frmCertificate"), [&](QWidget* dialog) {
        reason = dialog->findChild<QLabel*>(QStringLiteral("lblReason"))->text();
        details = dialog->findChild<QPlainTextEdit*>(QStringLiteral("txtDetails"))->toPlainText();
        auto* trust = dialog->findChild<QPushButton*>(QStringLiteral("cmdTrust"));
        trustCaption = trust->text();
        closeHasFocus = dialog->focusWidget() == dialog->findChild<QPushButton*>(QStringLiteral("cmdClose"));
        trust->click();
    });
    app.trigger(Command::CheckMail);

    const QString server = m_server->host() + u':' + QString::number(m_server->pop3Port());
    QCOMPARE(trustCaption, QStringLiteral("&Trust this certificate for ") + server);
    QVERIFY2(reason.contains(QStringLiteral("authority this computer does not trust")), qPrintable(reason));
    QVERIFY2(details.contains(QStringLiteral("SHA-256 fingerprint: ")), qPrintable(details));
    QVERIFY2(details.contains(QStringLiteral("Valid until: ")), qPrintable(details));
    QVERIFY(closeHasFocus);
    // Trusted: the check ran again and listed the mailbox.
    QCOMPARE(app.window().review().model()->rowCount(), 2);
    const QString file = app.folder() + CertificateExceptionStore::FileName();
    QCOMPARE(FileMode(file), 0600);
    const QList<CertificateExceptionRecord> stored = CertificateExceptionStore(app.folder()).ReadAll();
    QCOMPARE(stored.size(), 1);
    QCOMPARE(stored.first().port, m_server->pop3Port());

    // After a restart the same certificate is accepted without a question.
    QVERIFY(app.restart());
    app.state().Settings.CheckDonePromptOff = 1;
    {
        ModalWatcher certificate(QStringLiteral("frmCertificate"));
        app.trigger(Command::CheckMail);
        QVERIFY(!certificate.seen());
    }
    QCOMPARE(app.window().review().model()->rowCount(), 2);
    QVERIFY(app.boxes.isEmpty());
    bool asked = false;

    // The exception names this port only: implicit TLS on the other port asks again.
    AccountRecord account = app.account();
    account.ServerAddress =
        QStringLiteral("pop3s://") + m_server->host() + u':' + QString::number(m_server->pop3sPort());
    app.writeAccount(account);
    WhenModal(QStringLiteral("frmCertificate"), [&](QWidget* dialog) {
        asked = true;
        dialog->findChild<QPushButton*>(QStringLiteral("cmdClose"))->click();
    });
    app.trigger(Command::CheckMail);
    QVERIFY(asked);
    QCOMPARE(app.window().review().model()->rowCount(), 0);
}

void E2eCertificateTest::closingTheDialogTrustsNothing() {
    TestMailbox box = mailboxWithTwoMessages();
    QVERIFY2(box.isValid(), qPrintable(box.errorString()));
    E2eHarness app;
    QVERIFY(app.start(E2eHarness::AccountFor(*m_server, box)));
    bool asked = false;
    WhenModal(QStringLiteral("frmCertificate"), [&](QWidget* dialog) {
        asked = true;
        QTest::keyClick(dialog, Qt::Key_Escape);
    });
    app.trigger(Command::CheckMail);
    QVERIFY(asked);
    QCOMPARE(app.window().review().model()->rowCount(), 0);
    QVERIFY(!QFile::exists(app.folder() + CertificateExceptionStore::FileName()));
    QVERIFY(!app.state().BusyFlag);
    // No password left the machine: the server never saw this user log in.
    QTest::qWait(200);
    QVERIFY(!ServerLog(*m_server).contains("user=<" + box.user().toUtf8() + ">"));
}

void E2eCertificateTest::companyCaFileIsTrusted() {
    TestMailbox box = mailboxWithTwoMessages();
    QVERIFY2(box.isValid(), qPrintable(box.errorString()));
    E2eHarness app;
    QVERIFY(QFile::copy(m_server->caFile(), app.folder() + ServerTrust::CaFileName()));
    QVERIFY(app.start(E2eHarness::AccountFor(*m_server, box)));
    app.state().Settings.CheckDonePromptOff = 1;
    ModalWatcher certificate(QStringLiteral("frmCertificate"));
    app.trigger(Command::CheckMail);
    QCOMPARE(app.window().review().model()->rowCount(), 2);
    QVERIFY(!certificate.seen());
}

void E2eCertificateTest::handshakeFailureIsReportedWithItsReason() {
    TestMailbox box = mailboxWithTwoMessages();
    QVERIFY2(box.isValid(), qPrintable(box.errorString()));
    E2eHarness app;
    AccountRecord account = E2eHarness::AccountFor(*m_server, box);
    // TLS spoken to the plain port.
    account.ServerAddress =
        QStringLiteral("pop3s://") + m_server->host() + u':' + QString::number(m_server->pop3Port());
    QVERIFY(app.start(account));
    QString report;
    WhenModal(QStringLiteral("frmError"), [&](QWidget* dialog) {
        report = dialog->findChild<QPlainTextEdit*>(QStringLiteral("txtError"))->toPlainText();
        dialog->close();
    });
    app.trigger(Command::CheckMail);
    QVERIFY2(report.contains(QStringLiteral("(Code 14)")), qPrintable(report));
    QVERIFY2(report.contains(QStringLiteral("TLS handshake")), qPrintable(report));
    QVERIFY2(report.contains(QStringLiteral("Server: ") + m_server->host()), qPrintable(report));
}

QTEST_MAIN(E2eCertificateTest)
#include "e2ecertificatetest.moc"
