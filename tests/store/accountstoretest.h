#pragma once

#include <QObject>
#include <QTemporaryDir>

#include <memory>

class AccountStoreTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void goldenBytes();
    void decodeGolden();
    void missingFileCountsZeroAndIsPrivate();
    void countIgnoresPartialRecord_data();
    void countIgnoresPartialRecord();
    void appendOverStrayBytes();
    void writeReplacesExactlyOneRecord();
    void writeOnePastTheEndAppends();
    void outOfRangeRecordsAreErrors();
    void deleteKeepsOrder();
    void deleteReplacesLeftoverTempFile();
    void failedRewriteLeavesStoreIntact();
    void resetStatistics();
    void findAccountByName_data();
    void findAccountByName();
    void recordLimit();
    void errorNamesTheFile();

private:
    QString folder() const { return m_dir->path() + u'/'; }
    std::unique_ptr<QTemporaryDir> m_dir;
};
