#pragma once

#include <QLockFile>
#include <QString>

// One running copy per program folder: the data files there are what it guards.
// A lock left behind by a crashed copy is taken over at once (its process is gone).
class InstanceLock {
public:
    enum class Result { Acquired, HeldByOther, FolderNotWritable };

    explicit InstanceLock(const QString& programFolder);

    Result acquire();
    void release();

    static constexpr const char* FileName = "Tidemarsh.lock";

private:
    QString m_folder;
    QLockFile m_lock;
};
