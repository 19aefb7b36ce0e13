#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QtGlobal>

// Server certificates the user chose to trust although they could not be
// verified: one per host and port, pinned by the certificate's SHA-256 digest.
// Kept as a small text file beside the record files ("host port hex-digest" per
// line), owner-only, rewritten atomically.
struct CertificateExceptionRecord {
    QString host;
    quint16 port = 0;
    QByteArray sha256; // raw digest, 32 bytes

    bool operator==(const CertificateExceptionRecord&) const = default;
};

class CertificateExceptionStore {
public:
    static QString FileName() { return QStringLiteral("CertificateExceptions.txt"); }

    explicit CertificateExceptionStore(const QString& programFolder);

    // A missing file holds no exceptions; lines that do not parse are skipped.
    // Throws StoreError when the file exists but cannot be read.
    QList<CertificateExceptionRecord> ReadAll() const;
    // Trusts this certificate for host:port, replacing what was trusted there
    // before. Throws StoreError naming the file when it cannot be written.
    void Trust(const QString& host, quint16 port, const QByteArray& sha256);

private:
    QString m_path;
    QString m_tempPath;
};
