// Pictures of the certificate dialog and of an error report with a TLS reason,
// on a real X display (not a test):
//   Xvfb :N -screen 0 1024x700x24 &  DISPLAY=:N certificatescreens OUTPUT_FOLDER
#include "check/certificatedialog.h"
#include "check/core/accounterrortext.h"
#include "check/core/servertrust.h"
#include "check/errordialog.h"

#include <QApplication>
#include <QProcess>
#include <QSslCertificate>
#include <QTimer>

namespace {
void ShootWhenShown(QDialog& dialog, const QString& file) {
    QTimer::singleShot(700, &dialog, [&dialog, file] {
        QProcess::execute(QStringLiteral("import"),
                          {QStringLiteral("-window"), QStringLiteral("root"), file});
        dialog.done(QDialog::Rejected);
    });
    dialog.exec();
}
} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    pop3::TlsProblem problem;
    problem.host = QStringLiteral("mail.example.org");
    problem.port = 995;
    problem.certificate =
        QSslCertificate::fromPath(QStringLiteral(POP3_TEST_DATA_DIR "/selfsigned.pem")).value(0);
    problem.reasons = {pop3::TlsProblem::Reason::SelfSigned, pop3::TlsProblem::Reason::HostNameMismatch};
    CertificateDialog certificate(QStringLiteral("Could not connect to the server."), problem, nullptr);
    certificate.move(60, 40);
    ShootWhenShown(certificate, folder + QStringLiteral("/certificate-dialog.png"));

    pop3::TlsProblem handshake;
    handshake.host = QStringLiteral("mail.example.org");
    handshake.port = 110;
    handshake.reasons = {pop3::TlsProblem::Reason::HandshakeFailed};
    const QString message =
        QStringLiteral("Could not connect to the server.") +
        AccountError::CodeText(AccountError::Kind::Login, pop3::Result::CertificateInvalid) +
        QStringLiteral("\r\n\r\n") + ServerTrust::ProblemText(handshake);
    ErrorDialog error(message, nullptr);
    error.move(60, 40);
    ShootWhenShown(error, folder + QStringLiteral("/error-with-reason.png"));
    return 0;
}
