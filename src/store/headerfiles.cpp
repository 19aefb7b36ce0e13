#include "store/headerfiles.h"

#include "store/fixedtext.h"
#include "store/recordfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <QCoreApplication>
#include <QMetaObject>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>

#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace HeaderFiles {

namespace {

QString headerPath(const QString& programFolder, int messageNumber) {
    return QDir(DataFolder(programFolder)).filePath(QStringLiteral("%1.dat").arg(messageNumber));
}

// The file as messages name it.
QString headerName(int messageNumber) {
    return QStringLiteral("Data/%1.dat").arg(messageNumber);
}

// Line by line: CR LF, a lone LF or a lone CR ends a line; every line, the
// last one included, is given back ended by CR LF.
QString WithCrLfLines(const QString& text) {
    QString lines;
    lines.reserve(text.size() + text.size() / 32);
    qsizetype start = 0;
    const qsizetype size = text.size();
    while (start < size) {
        qsizetype end = start;
        while (end < size && text.at(end) != u'\r' && text.at(end) != u'\n')
            ++end;
        lines += QStringView(text).mid(start, end - start);
        lines += u"\r\n";
        if (end < size && text.at(end) == u'\r' && end + 1 < size && text.at(end + 1) == u'\n')
            ++end;
        start = end + 1;
    }
    return lines;
}

// Unlinks every non-folder entry. Read by hand with readdir rather than QDir
// because a name that is not valid UTF-8 would not survive the round trip
// through QString, and such a file would never go. Unlinking needs no write
// permission on the file itself, so read-only files need no attribute change;
// symbolic links are removed, never followed. Returns the first failure, empty
// when every file went.
QString removeEveryFile(const QString& folder) {
    const QByteArray path = QFile::encodeName(folder);
    const int dirFd = ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0)
        return QStringLiteral("Could not read the Data folder: %1").arg(qt_error_string(errno));
    // fdopendir owns dirFd from here on; closedir closes both.
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::fdopendir(dirFd), &::closedir);
    if (!dir) {
        const QString reason = qt_error_string(errno);
        ::close(dirFd);
        return QStringLiteral("Could not read the Data folder: %1").arg(reason);
    }
    QString failure;
    while (const dirent* entry = ::readdir(dir.get())) {
        const char* name = entry->d_name;
        if (qstrcmp(name, ".") == 0 || qstrcmp(name, "..") == 0)
            continue;
        struct stat st {};
        if (::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0 || S_ISDIR(st.st_mode))
            continue;
        if (::unlinkat(dirFd, name, 0) != 0 && failure.isEmpty())
            failure = QStringLiteral("Could not delete Data/%1: %2")
                          .arg(QFile::decodeName(name), qt_error_string(errno));
    }
    return failure;
}

// One writer thread for the whole program: the Data folder holds one check's files,
// so there is never more than one batch worth of work queued.
class BackgroundWriter {
public:
    static BackgroundWriter& instance() {
        static BackgroundWriter writer;
        return writer;
    }

    ~BackgroundWriter() {
        {
            std::lock_guard lock(m_mutex);
            m_stopping = true;
        }
        m_wake.notify_all();
        if (m_thread.joinable())
            m_thread.join();
    }

    void enqueue(const QString& folder, HeaderFileList files,
                 std::function<void(const StoreError&)> onError) {
        auto batch = std::make_shared<Batch>();
        batch->onError = std::move(onError);
        {
            std::lock_guard lock(m_mutex);
            for (auto& [number, bytes] : files)
                m_queue.push_back(Job{folder, number, std::move(bytes), batch});
            if (!m_thread.joinable())
                m_thread = std::thread([this] { run(); });
        }
        m_wake.notify_all();
    }

    void dropQueued() {
        std::unique_lock lock(m_mutex);
        m_queue.clear();
        m_idle.wait(lock, [this] { return !m_writing; });
    }

    void waitAll() {
        std::unique_lock lock(m_mutex);
        m_idle.wait(lock, [this] { return m_queue.empty() && !m_writing; });
    }

    // Moves the file to the front of the queue and waits until it is written.
    void waitFor(const QString& folder, int number) {
        std::unique_lock lock(m_mutex);
        const auto matches = [&](const Job& job) { return job.number == number && job.folder == folder; };
        const auto queued = std::find_if(m_queue.begin(), m_queue.end(), matches);
        if (queued != m_queue.end() && queued != m_queue.begin()) {
            Job job = std::move(*queued);
            m_queue.erase(queued);
            m_queue.push_front(std::move(job));
        }
        m_idle.wait(lock, [&] {
            const bool inQueue = std::any_of(m_queue.begin(), m_queue.end(), matches);
            const bool inHand = m_writing && m_current == number && m_currentFolder == folder;
            return !inQueue && !inHand;
        });
    }

private:
    struct Batch {
        std::function<void(const StoreError&)> onError;
        bool reported = false;
    };
    struct Job {
        QString folder;
        int number = 0;
        QByteArray bytes;
        std::shared_ptr<Batch> batch;
    };

    void run() {
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_wake.wait(lock, [this] { return m_stopping || !m_queue.empty(); });
            if (m_queue.empty())
                return; // stopping, and every queued file is written
            Job job = std::move(m_queue.front());
            m_queue.pop_front();
            m_writing = true;
            m_current = job.number;
            m_currentFolder = job.folder;
            lock.unlock();

            std::optional<StoreError> failure;
            try {
                WriteHeaderFile(job.folder, job.number, job.bytes);
            } catch (const StoreError& error) {
                failure = error;
            }

            lock.lock();
            m_writing = false;
            if (failure && !job.batch->reported && job.batch->onError) {
                job.batch->reported = true;
                if (QCoreApplication* app = QCoreApplication::instance())
                    QMetaObject::invokeMethod(
                        app, [report = job.batch->onError, error = *failure] { report(error); },
                        Qt::QueuedConnection);
            }
            m_idle.notify_all();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    std::deque<Job> m_queue;
    std::thread m_thread;
    bool m_writing = false;
    bool m_stopping = false;
    int m_current = 0;
    QString m_currentFolder;
};

} // namespace

QString DataFolder(const QString& programFolder) {
    return QDir(programFolder).filePath(QStringLiteral("Data"));
}

void EnsureDataFolder(const QString& programFolder) {
    const QString folder = DataFolder(programFolder);
    if (QFileInfo(folder).exists())
        return;
    if (::mkdir(QFile::encodeName(folder).constData(), 0777) != 0 && errno != EEXIST)
        throw StoreError(QStringLiteral("Could not create the Data folder: %1").arg(qt_error_string(errno)));
}

void ClearHeaderFiles(const QString& programFolder) {
    BackgroundWriter::instance().dropQueued();
    const QString folder = DataFolder(programFolder);
    if (!QFileInfo(folder).isDir())
        return;
    // Temp.dat is part of the folder's contract: created here and removed with the rest.
    QString failure;
    QFile temp(QDir(folder).filePath(QStringLiteral("Temp.dat")));
    if (temp.open(QIODevice::WriteOnly | QIODevice::Truncate))
        temp.close();
    else
        failure = QStringLiteral("Could not write Data/Temp.dat: %1").arg(temp.errorString());
    const QString removal = removeEveryFile(folder);
    if (failure.isEmpty())
        failure = removal;
    if (!failure.isEmpty())
        throw StoreError(failure);
}

void WriteHeaderFile(const QString& programFolder, int messageNumber, const QByteArray& headers) {
    const QString path = headerPath(programFolder, messageNumber);
    const QString name = headerName(messageNumber);
    if (messageNumber < 1)
        throw StoreError(QStringLiteral("Could not write %1: not a message number.").arg(name));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered))
        throw StoreError(QStringLiteral("Could not write %1: %2").arg(name, file.errorString()));
    if (file.write(headers) != headers.size())
        throw StoreError(QStringLiteral("Could not write %1: %2").arg(name, file.errorString()));
}

void WriteHeaderFilesInBackground(const QString& programFolder, HeaderFileList files,
                                  std::function<void(const StoreError&)> onError) {
    if (!files.empty())
        BackgroundWriter::instance().enqueue(programFolder, std::move(files), std::move(onError));
}

void DropPendingWrites() {
    BackgroundWriter::instance().dropQueued();
}

void WaitForPendingWrites() {
    BackgroundWriter::instance().waitAll();
}

std::optional<QString> ReadHeaderFile(const QString& programFolder, int messageNumber) {
    if (messageNumber < 1)
        return std::nullopt;
    BackgroundWriter::instance().waitFor(programFolder, messageNumber);
    const std::optional<QByteArray> bytes =
        ReadFileIfExists(headerPath(programFolder, messageNumber), headerName(messageNumber));
    if (!bytes)
        return std::nullopt;
    return WithCrLfLines(FixedText::DecodeBytes(*bytes));
}

} // namespace HeaderFiles
