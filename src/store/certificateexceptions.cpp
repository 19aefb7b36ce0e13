#include "store/certificateexceptions.h"

#include "store/recordfile.h"
#include "store/storeerror.h"

#include <QDir>
#include <QFile>

namespace {
constexpr int kDigestBytes = 32;

bool ParseLine(const QByteArray& line, CertificateExceptionRecord& out) {
    const QList<QByteArray> fields = line.simplified().split(' ');
    if (fields.size() != 3)
        return false;
    bool ok = false;
    const uint port = fields[1].toUInt(&ok);
    const QByteArray digest = QByteArray::fromHex(fields[2]);
    if (!ok || port == 0 || port > 65535 || digest.size() != kDigestBytes ||
        fields[2].size() != 2 * kDigestBytes)
        return false;
    out = {QString::fromUtf8(fields[0]), static_cast<quint16>(port), digest};
    return true;
}

bool SameServer(const CertificateExceptionRecord& record, const QString& host, quint16 port) {
    return record.port == port && record.host.compare(host, Qt::CaseInsensitive) == 0;
}
} // namespace

CertificateExceptionStore::CertificateExceptionStore(const QString& programFolder)
    : m_path(QDir(programFolder).filePath(FileName())),
      m_tempPath(QDir(programFolder).filePath(QStringLiteral("CertificateExceptions.tmp"))) {}

QList<CertificateExceptionRecord> CertificateExceptionStore::ReadAll() const {
    // The file is ours and small; a hostile one cannot make us read more than this.
    const std::optional<QByteArray> content = ReadFileIfExists(m_path, FileName(), 1 << 20);
    if (!content)
        return {};
    QList<CertificateExceptionRecord> records;
    for (const QByteArray& line : content->split('\n')) {
        if (line.trimmed().startsWith('#'))
            continue;
        CertificateExceptionRecord record;
        if (ParseLine(line, record))
            records.append(record);
    }
    return records;
}

void CertificateExceptionStore::Trust(const QString& host, quint16 port, const QByteArray& sha256) {
    // Host names never hold blanks; one that did would break the line format.
    if (host.isEmpty() || host.contains(QLatin1Char(' ')) || host.contains(QLatin1Char('\n')) || port == 0 ||
        sha256.size() != kDigestBytes)
        throw StoreError(
            QStringLiteral("Could not write %1: the server or certificate is not valid.").arg(FileName()));
    QList<CertificateExceptionRecord> records = ReadAll();
    records.removeIf([&](const CertificateExceptionRecord& r) { return SameServer(r, host, port); });
    records.append({host, port, sha256});

    QByteArray text = "# Server certificates trusted by the user although they could not be verified.\n"
                      "# host port sha256\n";
    for (const CertificateExceptionRecord& r : records)
        text += r.host.toUtf8() + ' ' + QByteArray::number(r.port) + ' ' + r.sha256.toHex() + '\n';
    RecordFile(m_path, m_tempPath, 1, RecordFile::Creation::OwnerOnly).replace(text);
}
