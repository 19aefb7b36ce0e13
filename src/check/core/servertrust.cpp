#include "check/core/servertrust.h"

#include "pop3/session.h"
#include "store/certificateexceptions.h"
#include "store/storeerror.h"

#include <QCryptographicHash>
#include <QFile>
#include <QStringList>

namespace ServerTrust {

namespace {
QString ReasonSentence(pop3::TlsProblem::Reason reason) {
    using R = pop3::TlsProblem::Reason;
    switch (reason) {
    case R::SelfSigned:
        return QStringLiteral("The certificate is self-signed: no certificate authority vouches for it.");
    case R::Expired:
        return QStringLiteral("The certificate has expired.");
    case R::NotYetValid:
        return QStringLiteral("The certificate is not valid yet (check the computer's date and time).");
    case R::HostNameMismatch:
        return QStringLiteral("The certificate was issued for another host name.");
    case R::UnknownIssuer:
        return QStringLiteral("The certificate was issued by an authority this computer does not trust.");
    case R::Revoked:
        return QStringLiteral("The certificate has been revoked by its issuer.");
    case R::OtherVerificationError:
        return QStringLiteral("The certificate could not be verified.");
    case R::HandshakeFailed:
        return QStringLiteral(
            "The secure connection (TLS handshake) failed.  The server may not speak TLS on "
            "this port, or it offers no protocol version this computer accepts.");
    }
    return {};
}

QString NameText(const QSslCertificate& certificate, bool subject) {
    const QStringList cn = subject ? certificate.subjectInfo(QSslCertificate::CommonName)
                                   : certificate.issuerInfo(QSslCertificate::CommonName);
    const QStringList org = subject ? certificate.subjectInfo(QSslCertificate::Organization)
                                    : certificate.issuerInfo(QSslCertificate::Organization);
    QStringList parts;
    if (!cn.isEmpty())
        parts << cn.join(QStringLiteral(", "));
    if (!org.isEmpty())
        parts << org.join(QStringLiteral(", "));
    if (parts.isEmpty())
        return subject ? certificate.subjectDisplayName() : certificate.issuerDisplayName();
    return parts.join(QStringLiteral(" - "));
}
} // namespace

QString CaFileName() {
    return QStringLiteral("Certificates.pem");
}

QList<QSslCertificate> ExtraCaCertificates(const QString& programFolder) {
    const QString path = programFolder + CaFileName();
    if (!QFile::exists(path))
        return {};
    return QSslCertificate::fromPath(path, QSsl::Pem);
}

QList<pop3::CertificateException> Exceptions(const QString& programFolder) {
    QList<pop3::CertificateException> exceptions;
    try {
        for (const CertificateExceptionRecord& r : CertificateExceptionStore(programFolder).ReadAll())
            exceptions.append({r.host, r.port, r.sha256});
    } catch (const StoreError&) {
        return {};
    }
    return exceptions;
}

void Apply(pop3::SessionSettings& settings, const QString& programFolder) {
    settings.caCertificates += ExtraCaCertificates(programFolder);
    settings.certificateExceptions = Exceptions(programFolder);
}

void TrustCertificate(const QString& programFolder, const pop3::TlsProblem& problem) {
    CertificateExceptionStore(programFolder)
        .Trust(problem.host, problem.port, problem.certificate.digest(QCryptographicHash::Sha256));
}

QString ServerText(const pop3::TlsProblem& problem) {
    const QString host = problem.host.contains(QLatin1Char(':'))
                             ? QLatin1Char('[') + problem.host + QLatin1Char(']')
                             : problem.host;
    return host + QLatin1Char(':') + QString::number(problem.port);
}

QString ReasonText(const pop3::TlsProblem& problem) {
    QStringList sentences;
    for (pop3::TlsProblem::Reason reason : problem.reasons)
        sentences << ReasonSentence(reason);
    return sentences.join(QLatin1Char(' '));
}

QString FingerprintText(const QByteArray& digest) {
    return QString::fromLatin1(digest.toHex(':').toUpper());
}

QString CertificateDetails(const QSslCertificate& certificate) {
    if (certificate.isNull())
        return {};
    const auto when = [](const QDateTime& t) {
        return t.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm 'UTC'"));
    };
    QStringList lines;
    lines << QStringLiteral("Issued to: ") + NameText(certificate, true);
    lines << QStringLiteral("Issued by: ") + NameText(certificate, false);
    lines << QStringLiteral("Valid from: ") + when(certificate.effectiveDate());
    lines << QStringLiteral("Valid until: ") + when(certificate.expiryDate());
    lines << QStringLiteral("SHA-256 fingerprint: ") +
                 FingerprintText(certificate.digest(QCryptographicHash::Sha256));
    return lines.join(QStringLiteral("\r\n"));
}

QString ProblemText(const pop3::TlsProblem& problem) {
    if (problem.isEmpty())
        return {};
    QString text =
        QStringLiteral("Server: ") + ServerText(problem) + QStringLiteral("\r\n") + ReasonText(problem);
    const QString details = CertificateDetails(problem.certificate);
    if (!details.isEmpty())
        text += QStringLiteral("\r\n\r\n") + details;
    return text;
}

} // namespace ServerTrust
