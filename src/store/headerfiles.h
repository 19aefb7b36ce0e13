#pragma once

#include "store/storeerror.h"

#include <QByteArray>
#include <QString>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

// The Data folder: one file per listed message, named <MessageNumber>.dat,
// holding the raw header bytes of the last check.
namespace HeaderFiles {
QString DataFolder(const QString& programFolder);
void EnsureDataFolder(const QString& programFolder);
// Drops any background writes still queued, then deletes every file in the folder.
void ClearHeaderFiles(const QString& programFolder);
// Throws StoreError when the file cannot be written.
void WriteHeaderFile(const QString& programFolder, int messageNumber, const QByteArray& headers);

// Writes the files on a background thread, in order, so that a slow disk does not hold
// up the review list (creating ten thousand small files can take seconds). A reader
// waits for the file it asks for; ClearHeaderFiles drops what is still queued. onError
// runs on the main thread, at most once per call, when a file could not be written.
using HeaderFileList = std::vector<std::pair<int, QByteArray>>;
void WriteHeaderFilesInBackground(const QString& programFolder, HeaderFileList files,
                                  std::function<void(const QString&)> onError = {});
// Blocks until every queued file is written (used before the program ends).
void WaitForPendingWrites();

// The text, each line ended by CR LF; nullopt when there is no file. Waits for the
// file first when it is still queued for writing.
std::optional<QString> ReadHeaderFile(const QString& programFolder, int messageNumber);
} // namespace HeaderFiles
