#pragma once

#include "storeerror.h"

#include <QByteArray>
#include <QString>
#include <optional>

// The Data folder: one file per listed message, named <MessageNumber>.dat,
// holding the raw header bytes of the last check.
namespace HeaderFiles {
QString DataFolder(const QString& programFolder);
void EnsureDataFolder(const QString& programFolder);
void ClearHeaderFiles(const QString& programFolder);
// Throws StoreError when the file cannot be written.
void WriteHeaderFile(const QString& programFolder, int messageNumber, const QByteArray& headers);
// The text, each line ended by CR LF; nullopt when there is no file.
std::optional<QString> ReadHeaderFile(const QString& programFolder, int messageNumber);
} // namespace HeaderFiles
