#pragma once

#include "pop3/pop3types.h"

#include <QObject>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace pop3 {

// Parses header blocks on a thread of its own, so the event loop keeps reading
// the next replies (and answering clicks) while GMime works. Input comes from
// the session's thread in message order; parsed batches and the final drained
// leave in the same order through queued signals. GMime objects never cross
// threads: only bytes go in and plain values come out.
class HeaderWorker : public QObject {
    Q_OBJECT
public:
    struct Input {
        int number = 0;
        Message listing; // size, UIDL and status from the listing; fields unparsed
        QByteArray block;
        bool keepRaw = false;
    };

    explicit HeaderWorker(RowMaker rowMaker, QObject* parent = nullptr);
    // Stops the thread; what was not parsed yet is dropped.
    ~HeaderWorker() override;

    void submit(Input input);
    // No more input: drained follows the last batch.
    void finishInput();

Q_SIGNALS:
    // Emitted on the worker thread: receivers get them queued.
    void parsed(const QList<pop3::ParsedMessage>& batch);
    void drained();

private:
    void run();
    ParsedMessage parse(Input& input) const;

    RowMaker m_rowMaker;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Input> m_queue;
    bool m_inputDone = false;
    bool m_stop = false;
    std::thread m_thread;
};

} // namespace pop3
