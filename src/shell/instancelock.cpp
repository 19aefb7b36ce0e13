#include "shell/instancelock.h"

#include <QDir>
#include <QFileInfo>

InstanceLock::InstanceLock(const QString& programFolder)
    : m_folder(programFolder), m_lock(QDir(programFolder).filePath(QLatin1String(FileName))) {
    // Never judge a lock by its age: a copy may run for weeks. Only a dead
    // owner makes it stale.
    m_lock.setStaleLockTime(0);
}

InstanceLock::Result InstanceLock::acquire() {
    if (m_lock.tryLock(0))
        return Result::Acquired;
    switch (m_lock.error()) {
    case QLockFile::LockFailedError:
        // A lock file we could not take over in a folder we cannot write proves
        // nothing about another copy; the folder is the problem.
        return QFileInfo(m_folder).isWritable() ? Result::HeldByOther : Result::FolderNotWritable;
    case QLockFile::PermissionError:
    case QLockFile::UnknownError:
    case QLockFile::NoError:
        break;
    }
    return Result::FolderNotWritable;
}

void InstanceLock::release() {
    if (m_lock.isLocked())
        m_lock.unlock();
}
