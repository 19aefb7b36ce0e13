#include "store/friendsstore.h"

#include "store/fixedtext.h"
#include "store/friendaddress.h"
#include "store/recordfile.h"

#include <QDir>

#include <algorithm>

namespace {

constexpr int kLength = FriendRecord::RecordLength;

RecordFile recordFile(const FriendsStore& store) {
    return RecordFile(store.filePath(), store.tempPath(), kLength);
}

} // namespace

FriendsStore::FriendsStore(const QString& programFolder) : m_folder(programFolder) {}

QString FriendsStore::filePath() const {
    return QDir(m_folder).filePath(QStringLiteral("Friends.dat"));
}

QString FriendsStore::tempPath() const {
    return QDir(m_folder).filePath(QStringLiteral("Friends.tmp"));
}

QString FriendsStore::ComparisonKey(const QString& address) {
    // An entry stored as a name-addr before such entries were reduced to their
    // address still means that address.
    return friendaddress::ToStore(address).toUpper();
}

bool FriendsStore::SameAddress(const QString& a, const QString& b) {
    return ComparisonKey(a) == ComparisonKey(b);
}

int FriendsStore::Count() const {
    RecordFile file = recordFile(*this);
    file.openForReading();
    return file.count();
}

QList<QPair<int, QString>> FriendsStore::ReadAll() const {
    RecordFile file = recordFile(*this);
    file.openForReading();
    const QByteArray all = file.readAll();
    file.close();

    QList<QPair<int, QString>> friends;
    friends.reserve(all.size() / kLength);
    for (qsizetype at = 0; at + kLength <= all.size(); at += kLength)
        friends.append({int(at / kLength) + 1, FixedText::Decode(all.mid(at, kLength))});
    return friends;
}

bool FriendsStore::Contains(const QString& address) const {
    const QList<QPair<int, QString>> friends = ReadAll();
    return std::any_of(friends.cbegin(), friends.cend(),
                       [&address](const QPair<int, QString>& f) { return SameAddress(f.second, address); });
}

int FriendsStore::Append(const QString& address) const {
    RecordFile file = recordFile(*this);
    file.openForWriting();
    const int number = file.count() + 1;
    file.write(number, FixedText::Encode(address, kLength));
    file.close();
    return number;
}

void FriendsStore::Replace(int recordNumber, const QString& address) const {
    RecordFile file = recordFile(*this);
    file.openForWriting();
    if (recordNumber < 1 || recordNumber > file.count())
        throw StoreError(
            QStringLiteral("Could not write Friends.dat: there is no record %1.").arg(recordNumber));
    file.write(recordNumber, FixedText::Encode(address, kLength));
    file.close();
}

void FriendsStore::RemoveAddress(const QString& address) const {
    RecordFile file = recordFile(*this);
    file.openForReading();
    const QByteArray all = file.readAll();
    file.close();

    // Kept records are copied as read, padding included.
    QByteArray kept;
    kept.reserve(all.size());
    for (qsizetype at = 0; at + kLength <= all.size(); at += kLength) {
        const QByteArray record = all.mid(at, kLength);
        if (FixedText::Decode(record) != address)
            kept += record;
    }
    if (kept.size() == all.size())
        return; // nothing matched: leave the file alone
    file.replace(kept);
}

int FriendsStore::AppendMany(const QStringList& addresses) const {
    RecordFile file = recordFile(*this);
    file.openForReading();
    const int count = file.count();
    QByteArray all = file.readAll(); // a trailing partial record is dropped, as an append overwrites it
    file.close();
    const int room = RecordFile::MaxRecords - count;
    if (addresses.size() > room)
        throw StoreError(
            QStringLiteral("Could not write %1: it holds at most %2 addresses, and %3 more do not fit.")
                .arg(file.fileName(), RecordFile::MaxRecordsText())
                .arg(addresses.size() - room));
    all.reserve(all.size() + addresses.size() * kLength);
    for (const QString& address : addresses)
        all += FixedText::Encode(address, kLength);
    file.replace(all);
    return count + 1;
}
