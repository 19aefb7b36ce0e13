#include "store/accountstore.h"

#include "store/fixedtext.h"
#include "store/recordfile.h"

#include <QDir>
#include <QtEndian>

#include <algorithm>
#include <array>

namespace {

struct TextField {
    QString AccountRecord::*member;
    int offset;
    int width;
};

constexpr TextField kTextFields[] = {
    {&AccountRecord::AccountName, 0, 20},    {&AccountRecord::LoginName, 20, 75},
    {&AccountRecord::LoginPassword, 95, 75}, {&AccountRecord::ServerAddress, 170, 75},
    {&AccountRecord::LastChecked, 245, 75},
};
constexpr int kLastCheckedOffset = 245;
constexpr int kLastCheckedWidth = 75;
constexpr int kTotalOffset = 320;
constexpr int kDeletedOffset = 324;

constexpr int kLength = AccountRecord::RecordLength;

// Passwords live here: owner-only.
RecordFile recordFile(const AccountStore& store) {
    return RecordFile(store.filePath(), store.tempPath(), kLength, RecordFile::Creation::OwnerOnly);
}

} // namespace

AccountStore::AccountStore(const QString& programFolder) : m_folder(programFolder) {}

QString AccountStore::filePath() const {
    return QDir(m_folder).filePath(QStringLiteral("Acc.dat"));
}

QString AccountStore::tempPath() const {
    return QDir(m_folder).filePath(QStringLiteral("Acc.tmp"));
}

QByteArray AccountStore::Encode(const AccountRecord& record) {
    QByteArray bytes;
    bytes.reserve(kLength);
    for (const TextField& field : kTextFields)
        bytes += FixedText::Encode(record.*field.member, field.width);
    bytes.resize(kLength);
    qToLittleEndian<qint32>(record.TotalMessages, bytes.data() + kTotalOffset);
    qToLittleEndian<qint32>(record.DeletedMessages, bytes.data() + kDeletedOffset);
    return bytes;
}

AccountRecord AccountStore::Decode(const QByteArray& bytes) {
    // A short buffer reads as blanks and zeros where bytes are missing. A fixed
    // array (not a resized QByteArray) keeps GCC's bounds analysis quiet at -O2.
    std::array<char, kLength> raw{};
    const auto present = static_cast<size_t>(std::min<qsizetype>(bytes.size(), kLength));
    for (size_t i = 0; i < present; ++i)
        raw[i] = bytes.at(static_cast<qsizetype>(i));
    if (present < static_cast<size_t>(kTotalOffset))
        std::fill(raw.begin() + present, raw.begin() + kTotalOffset, ' ');
    const QByteArray full = QByteArray::fromRawData(raw.data(), kLength);

    AccountRecord record;
    for (const TextField& field : kTextFields)
        record.*field.member = FixedText::Decode(full.mid(field.offset, field.width));
    record.TotalMessages = qFromLittleEndian<qint32>(raw.data() + kTotalOffset);
    record.DeletedMessages = qFromLittleEndian<qint32>(raw.data() + kDeletedOffset);
    return record;
}

int AccountStore::CountAccounts() const {
    RecordFile file = recordFile(*this);
    file.openForReading();
    return file.count();
}

AccountRecord AccountStore::ReadAccount(int recordNumber) const {
    RecordFile file = recordFile(*this);
    file.openForReading();
    return Decode(file.read(recordNumber));
}

QList<AccountRecord> AccountStore::ReadAll() const {
    RecordFile file = recordFile(*this);
    file.openForReading();
    const QByteArray all = file.readAll();
    file.close();
    QList<AccountRecord> accounts;
    accounts.reserve(all.size() / kLength);
    for (qsizetype at = 0; at + kLength <= all.size(); at += kLength)
        accounts.append(Decode(all.mid(at, kLength)));
    return accounts;
}

void AccountStore::WriteAccount(int recordNumber, const AccountRecord& record) const {
    RecordFile file = recordFile(*this);
    file.openForWriting();
    file.write(recordNumber, Encode(record));
    file.close();
}

int AccountStore::AppendAccount(const AccountRecord& record) const {
    RecordFile file = recordFile(*this);
    file.openForWriting();
    const int number = file.count() + 1;
    file.write(number, Encode(record));
    file.close();
    return number;
}

void AccountStore::DeleteAccount(int recordNumber) const {
    RecordFile file = recordFile(*this);
    file.openForReading();
    const QByteArray all = file.readAll();
    file.close();
    const int count = int(all.size() / kLength);
    if (recordNumber < 1 || recordNumber > count)
        throw StoreError(
            QStringLiteral("Could not delete from Acc.dat: there is no record %1.").arg(recordNumber));

    // The kept records are copied byte for byte, in their old order.
    QByteArray kept = all.left(qsizetype(recordNumber - 1) * kLength);
    kept += all.mid(qsizetype(recordNumber) * kLength);
    file.replace(kept);
}

void AccountStore::ResetStatistics() const {
    RecordFile file = recordFile(*this);
    file.openForReading();
    QByteArray all = file.readAll();
    file.close();

    // Only the statistics bytes change; the other fields keep their exact bytes.
    // All records are reset together through the temporary file, or none is.
    const QByteArray notChecked = FixedText::Encode(QStringLiteral("N/A"), kLastCheckedWidth);
    for (qsizetype at = 0; at + kLength <= all.size(); at += kLength) {
        all.replace(at + kLastCheckedOffset, kLastCheckedWidth, notChecked);
        qToLittleEndian<qint32>(0, all.data() + at + kTotalOffset);
        qToLittleEndian<qint32>(0, all.data() + at + kDeletedOffset);
    }
    file.replace(all);
}

int AccountStore::FindAccountByName(const QString& name, AccountRecord* found) const {
    RecordFile file = recordFile(*this);
    file.openForReading();
    const QByteArray all = file.readAll();
    file.close();
    for (qsizetype at = 0; at + kLength <= all.size(); at += kLength) {
        const QByteArray bytes = all.mid(at, kLength);
        if (FixedText::Decode(bytes.left(kTextFields[0].width)) != name)
            continue;
        if (found)
            *found = Decode(bytes);
        return int(at / kLength) + 1;
    }
    return 0;
}
