#pragma once

#include "store/records.h"
#include "store/storeerror.h"

#include <QList>
#include <QString>

// Acc.dat: 328-byte account records, numbered from 1. Every operation opens the
// file, does its work and closes it again; a missing file is created empty
// (mode 0600: it holds passwords). Failures throw StoreError, also for a record
// number that does not exist (writing at count + 1 appends).
class AccountStore {
public:
    explicit AccountStore(const QString& programFolder);

    int CountAccounts() const;
    AccountRecord ReadAccount(int recordNumber) const;
    // Every record in record order, in one read of the file.
    QList<AccountRecord> ReadAll() const;
    void WriteAccount(int recordNumber, const AccountRecord& record) const;
    int AppendAccount(const AccountRecord& record) const;
    void DeleteAccount(int recordNumber) const;
    void ResetStatistics() const;
    // Record number of the first account whose trimmed name equals name exactly
    // (case counts), with that record in *found; 0 when there is none.
    int FindAccountByName(const QString& name, AccountRecord* found = nullptr) const;

    QString filePath() const;
    // Acc.tmp, which exists only while a rewrite runs (or after one was killed).
    QString tempPath() const;

    static QByteArray Encode(const AccountRecord& record);
    static AccountRecord Decode(const QByteArray& bytes);

private:
    QString m_folder;
};
