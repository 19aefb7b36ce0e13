#pragma once

#include "pop3/pop3types.h"

#include <QByteArray>
#include <QList>
#include <QSslCertificate>
#include <QString>

namespace pop3 {
struct SessionSettings;
}

// What a connection may trust besides the system's store, and how a certificate
// problem is put to the user.
namespace ServerTrust {

// CA certificates the user trusts for every server (a company's private CA),
// as a PEM file in the program folder.
QString CaFileName();
QList<QSslCertificate> ExtraCaCertificates(const QString& programFolder);
// The user's exceptions. An unreadable file counts as none: verification only
// gets stricter.
QList<pop3::CertificateException> Exceptions(const QString& programFolder);
// Both of the above, added to a session's settings before it connects.
void Apply(pop3::SessionSettings& settings, const QString& programFolder);
// Stores the exception for the problem's host, port and certificate.
// Throws StoreError when it cannot be written.
void TrustCertificate(const QString& programFolder, const pop3::TlsProblem& problem);

// "host:port" as the user sees it ([v6]:port for IPv6 addresses).
QString ServerText(const pop3::TlsProblem& problem);
// Why the connection was refused, in plain words, one sentence per reason.
QString ReasonText(const pop3::TlsProblem& problem);
// Subject, issuer, validity and SHA-256 fingerprint, one per line; empty
// without a certificate.
QString CertificateDetails(const QSslCertificate& certificate);
// AB:CD:... of a digest.
QString FingerprintText(const QByteArray& digest);
// The reason and the certificate details, to append to an error report.
QString ProblemText(const pop3::TlsProblem& problem);

} // namespace ServerTrust
