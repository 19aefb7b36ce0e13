#pragma once

#include <QList>
#include <QSslCertificate>
#include <QString>

namespace pop3 {

// Whether the server's chain (leaf first, as the server sent it) verifies for
// host against the given CA certificates alone: a full verification by the TLS
// library's own verifier (signatures, dates, purpose, host name or IP address).
// Used only after the system's store has refused the chain, so the system's
// store keeps being read on demand (issuer by issuer) instead of being parsed
// whole whenever the user trusts a CA of their own.
bool VerifiesWithExtraCas(const QList<QSslCertificate>& chain, const QString& host,
                          const QList<QSslCertificate>& cas);

} // namespace pop3
