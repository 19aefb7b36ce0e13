#pragma once

#include "store/storeerror.h"

#include <QByteArray>
#include <QString>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

// The Data folder: one file per listed message, named <MessageNumber>.dat,
// holding the raw header bytes of the last check. Every failure to read, write
// or remove throws StoreError naming the file.
namespace HeaderFiles {
QString DataFolder(const QString& programFolder);
void EnsureDataFolder(const QString& programFolder);
// Drops any background writes still queued, then deletes every file in the
// folder. A file that will not go does not stop the others; the first such
// failure is thrown once all were tried.
void ClearHeaderFiles(const QString& programFolder);
void WriteHeaderFile(const QString& programFolder, int messageNumber, const QByteArray& headers);

// Writes the files on a background thread, in order, so that a slow disk does not hold
// up the review list (creating ten thousand small files can take seconds). A reader
// waits for the file it asks for; ClearHeaderFiles drops what is still queued. onError
// runs on the main thread, at most once per call, when a file could not be written.
using HeaderFileList = std::vector<std::pair<int, QByteArray>>;
void WriteHeaderFilesInBackground(const QString& programFolder, HeaderFileList files,
                                  std::function<void(const StoreError&)> onError = {});
// Blocks until every queued file is written.
void WaitForPendingWrites();
// Forgets the files still queued and waits only for the one being written
// (the program is ending: nobody will look at them, and the next check clears them).
void DropPendingWrites();

// The text, each line ended by CR LF; nullopt when there is no file (the message
// had no header to keep). Waits for the file first when it is still queued for writing.
std::optional<QString> ReadHeaderFile(const QString& programFolder, int messageNumber);
} // namespace HeaderFiles
