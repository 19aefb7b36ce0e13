#pragma once

#include <QObject>
#include <QTemporaryDir>

#include <memory>

class HeaderFilesTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void ensureDataFolder();
    void clearWithoutFolderDoesNothing();
    void clearRemovesEveryFile();
    void writeKeepsRawBytes();
    void readLineByLine_data();
    void readLineByLine();
    void missingHeaderFile();
    void writeFailureNamesTheFile();

private:
    QString folder() const { return m_dir->path() + u'/'; }
    std::unique_ptr<QTemporaryDir> m_dir;
};
