#include "watch/core/seenmessages.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QSaveFile>
#include <QSet>

namespace watch {

namespace {
const QByteArray kMagic = QByteArrayLiteral("Tidemarsh seen 1");
// A listing is bounded by the POP3 component; so is what we read back.
constexpr qint64 kMaxFileBytes = 64 * 1024 * 1024;
} // namespace

SeenMessages SeenMessages::Of(const std::vector<pop3::Message>& listing) {
    SeenMessages seen;
    seen.uidls.reserve(static_cast<qsizetype>(listing.size()));
    seen.sizes.reserve(static_cast<qsizetype>(listing.size()));
    for (const pop3::Message& m : listing) {
        seen.uidls.append(m.Uidl);
        seen.sizes.append(m.Size);
    }
    return seen;
}

bool SeenMessages::HasUidls(const std::vector<pop3::Message>& listing) {
    return std::all_of(listing.begin(), listing.end(),
                       [](const pop3::Message& m) { return !m.Uidl.isEmpty(); });
}

std::vector<int> NewMessages(const std::optional<SeenMessages>& seen,
                             const std::vector<pop3::Message>& listing) {
    std::vector<int> fresh;
    if (!seen)
        return fresh;
    const bool seenUidls = std::none_of(seen->uidls.cbegin(), seen->uidls.cend(),
                                        [](const QByteArray& u) { return u.isEmpty(); });
    if (SeenMessages::HasUidls(listing) && seenUidls) {
        const QSet<QByteArray> known(seen->uidls.cbegin(), seen->uidls.cend());
        for (size_t i = 0; i < listing.size(); ++i)
            if (!known.contains(listing[i].Uidl))
                fresh.push_back(static_cast<int>(i));
        return fresh;
    }
    QHash<qint64, int> sizes;
    for (qint64 size : seen->sizes)
        ++sizes[size];
    for (size_t i = 0; i < listing.size(); ++i) {
        auto it = sizes.find(listing[i].Size);
        if (it != sizes.end() && it.value() > 0)
            --it.value();
        else
            fresh.push_back(static_cast<int>(i));
    }
    return fresh;
}

SeenStore::SeenStore(const QString& programFolder)
    : m_folder(QDir(programFolder).filePath(QStringLiteral("Watch"))) {}

QString SeenStore::filePath(const QString& account) const {
    // Percent-encoded: an account name may hold '/' or start with a dot.
    return QDir(m_folder).filePath(QString::fromLatin1(account.trimmed().toUtf8().toPercentEncoding()) +
                                   QStringLiteral(".seen"));
}

std::optional<SeenMessages> SeenStore::load(const QString& account) const {
    QFile file(filePath(account));
    if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxFileBytes)
        return std::nullopt;
    const QList<QByteArray> lines = file.readAll().split('\n');
    if (lines.value(0) != kMagic)
        return std::nullopt;
    SeenMessages seen;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray& line = lines.at(i);
        if (line.isEmpty())
            continue;
        const qsizetype space = line.indexOf(' ');
        bool ok = false;
        const qint64 size = line.left(space < 0 ? line.size() : space).toLongLong(&ok);
        if (!ok || size < 0)
            return std::nullopt;
        seen.sizes.append(size);
        seen.uidls.append(space < 0 ? QByteArray() : line.mid(space + 1));
    }
    return seen;
}

bool SeenStore::save(const QString& account, const SeenMessages& seen) const {
    if (!QDir().mkpath(m_folder))
        return false;
    QByteArray text = kMagic + '\n';
    for (qsizetype i = 0; i < seen.sizes.size(); ++i) {
        text += QByteArray::number(seen.sizes.at(i));
        // RFC 1939: a UIDL is printable ASCII without blanks; anything else is dropped.
        const QByteArray uidl = seen.uidls.value(i);
        if (!uidl.isEmpty() && !uidl.contains(' ') && !uidl.contains('\n') && !uidl.contains('\r'))
            text += ' ' + uidl;
        text += '\n';
    }
    QSaveFile file(filePath(account));
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(text);
    return file.commit();
}

} // namespace watch
