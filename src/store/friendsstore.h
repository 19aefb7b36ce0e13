#pragma once

#include "store/records.h"
#include "store/storeerror.h"

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

// Friends.dat: 60-byte address records, numbered from 1, at most 32,767.
// Failures (including the record limit) throw StoreError.
class FriendsStore {
public:
    explicit FriendsStore(const QString& programFolder);

    int Count() const;
    QList<QPair<int, QString>> ReadAll() const;
    // Case-insensitive, both sides trimmed of spaces (SameAddress).
    bool Contains(const QString& address) const;
    int Append(const QString& address) const;
    // recordNumber in 1..Count().
    void Replace(int recordNumber, const QString& address) const;
    // Removes every record whose trimmed address equals address exactly (case counts).
    void RemoveAddress(const QString& address) const;
    // Appends addresses after the existing records in one atomic rewrite: all
    // of them or, on any failure (the record limit included), none. Returns the
    // record number of the first one.
    int AppendMany(const QStringList& addresses) const;

    QString filePath() const;
    // Friends.tmp, which exists only while a removal runs.
    QString tempPath() const;

    // When two addresses are the same friend: Contains, the check's friend
    // matching and the address-book import all compare this way.
    static bool SameAddress(const QString& a, const QString& b);
    // The form SameAddress compares: trimmed of spaces, upper case; of a name
    // with an address in angle brackets, the address (friendaddress::ToStore).
    static QString ComparisonKey(const QString& address);

private:
    QString m_folder;
};
