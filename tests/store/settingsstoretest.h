#pragma once

#include <QObject>
#include <QTemporaryDir>

#include <memory>

class SettingsStoreTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void firstLoadCreatesDefaults();
    void saveGoldenBytes();
    void loadExisting();
    void shortOrLongFile_data();
    void shortOrLongFile();
    void layoutRoundTrip();

private:
    QString folder() const { return m_dir->path() + u'/'; }
    std::unique_ptr<QTemporaryDir> m_dir;
};
