#pragma once

#include "store/records.h"

#include <QByteArray>
#include <QString>
#include <optional>

// Config.dat (one 18-byte record) and the bar layout file "Tidemarsh.dsl".
// A file that is not there yet is no failure; one that cannot be read or
// written throws StoreError naming it.
class SettingsStore {
public:
    explicit SettingsStore(const QString& programFolder);

    // Fills record from Config.dat. When the file does not exist, record is set
    // to the defaults, the file is created holding them and true is returned
    // (the caller then maximises the window).
    bool LoadSettings(SettingsRecord& record) const;
    void SaveSettings(const SettingsRecord& record) const;

    // The layout file's bytes are the window's own (QMainWindow::saveState);
    // nullopt when there is no file yet.
    std::optional<QByteArray> LoadLayout() const;
    void SaveLayout(const QByteArray& state) const;

    QString settingsPath() const;
    QString layoutPath() const;

    static QByteArray Encode(const SettingsRecord& record);
    // A Config.dat shorter than 18 bytes sets only the fields it holds whole;
    // the others keep their previous values.
    static SettingsRecord Decode(const QByteArray& bytes, const SettingsRecord& previous);

private:
    QString m_folder;
};
