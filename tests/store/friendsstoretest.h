#pragma once

#include <QObject>
#include <QTemporaryDir>

#include <memory>

class FriendsStoreTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void goldenBytes();
    void missingFileReadsEmpty();
    void appendOverPartialRecord();
    void readAllTrimsOnlySpaces();
    void containsAndRemove_data();
    void containsAndRemove();
    void duplicatesRemovedTogether();
    void longAddressIsCut();
    void removeOnlyRecordLeavesEmptyFile();
    void replaceKeepsOthers();
    void recordLimit();

private:
    QString folder() const { return m_dir->path() + u'/'; }
    std::unique_ptr<QTemporaryDir> m_dir;
};
