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
// are emitted on the thread that owns the worker, in the same order. GMime
// objects never cross threads: only bytes go in and plain values come out.
// Results cross back through the worker's own mutex, not as signal arguments:
// a queued argument is handed over inside Qt's event queue, whose locking the
// thread sanitizer cannot see, and the copy made on this thread would read as a race.
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
    // Emitted on the owner's thread.
    void parsed(const QList<pop3::ParsedMessage>& batch);
    void drained();
    // Emitted on the worker thread when results wait: carries nothing.
    void resultsWaiting();

private:
    void run();
    void announce(QList<ParsedMessage> batch, bool drainedNow);
    void deliver();
    ParsedMessage parse(Input& input) const;

    RowMaker m_rowMaker;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Input> m_queue;
    QList<QList<ParsedMessage>> m_results;
    bool m_resultsAnnounced = false;
    bool m_resultsDrained = false;
    bool m_inputDone = false;
    bool m_stop = false;
    std::thread m_thread;
};

} // namespace pop3
