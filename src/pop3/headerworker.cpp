#include "pop3/headerworker.h"

#include <QPointer>

namespace pop3 {

namespace {
// Large enough that a batch costs the receiving thread one event, small enough
// that rows keep arriving while the download runs.
constexpr size_t kMaxBatch = 256;
} // namespace

HeaderWorker::HeaderWorker(RowMaker rowMaker, QObject* parent)
    : QObject(parent), m_rowMaker(std::move(rowMaker)) {
    connect(this, &HeaderWorker::resultsWaiting, this, &HeaderWorker::deliver, Qt::QueuedConnection);
    m_thread = std::thread([this] { run(); });
}

HeaderWorker::~HeaderWorker() {
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
        m_queue.clear();
    }
    m_wake.notify_one();
    // At most the block being parsed is still in work: parsing is bounded per block.
    m_thread.join();
}

void HeaderWorker::submit(Input input) {
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_queue.push_back(std::move(input));
    }
    m_wake.notify_one();
}

void HeaderWorker::finishInput() {
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_inputDone = true;
    }
    m_wake.notify_one();
}

void HeaderWorker::run() {
    std::vector<Input> work;
    for (;;) {
        bool last = false;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stop || m_inputDone || !m_queue.empty(); });
            if (m_stop)
                return;
            while (!m_queue.empty() && work.size() < kMaxBatch) {
                work.push_back(std::move(m_queue.front()));
                m_queue.pop_front();
            }
            last = m_inputDone && m_queue.empty();
        }
        if (!work.empty()) {
            QList<ParsedMessage> batch;
            batch.reserve(static_cast<qsizetype>(work.size()));
            for (Input& input : work)
                batch.append(parse(input));
            work.clear();
            announce(std::move(batch), false);
        }
        if (last) {
            announce({}, true);
            return;
        }
    }
}

void HeaderWorker::announce(QList<ParsedMessage> batch, bool drainedNow) {
    bool announceNow = false;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        if (!batch.isEmpty())
            m_results.append(std::move(batch));
        m_resultsDrained = m_resultsDrained || drainedNow;
        announceNow = !m_resultsAnnounced;
        m_resultsAnnounced = true;
    }
    // One event stands for everything waiting until the owner takes it.
    if (announceNow)
        Q_EMIT resultsWaiting();
}

void HeaderWorker::deliver() {
    QList<QList<ParsedMessage>> results;
    bool drainedNow = false;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        results.swap(m_results);
        drainedNow = m_resultsDrained;
        m_resultsAnnounced = false;
    }
    // A receiver may end the job that owns this worker.
    const QPointer<HeaderWorker> self(this);
    for (const QList<ParsedMessage>& batch : std::as_const(results)) {
        Q_EMIT parsed(batch);
        if (!self)
            return;
    }
    if (drainedNow)
        Q_EMIT drained();
}

ParsedMessage HeaderWorker::parse(Input& input) const {
    ParsedMessage out;
    out.number = input.number;
    out.message = std::move(input.listing);
    if (!input.block.isEmpty())
        ParseHeaderBlock(input.block, out.message);
    if (input.keepRaw)
        out.message.Headers = std::move(input.block);
    if (m_rowMaker)
        out.row = m_rowMaker(out.message, out.number);
    return out;
}

} // namespace pop3
