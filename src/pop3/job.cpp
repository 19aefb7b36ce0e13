#include "pop3/job.h"

#include "pop3/headerworker.h"
#include "pop3/session.h"

namespace pop3 {

// ---------------------------------------------------------------- Job

Job::Job(QObject* parent) : QObject(parent) {}

Job::~Job() = default;

void Job::operationEnded(Session& session, Result result) {
    complete(session.failureFor(result));
}

void Job::complete(Failure failure) {
    if (m_completed || !m_session)
        return;
    m_completed = true;
    m_failure = std::move(failure);
    m_session->jobCompleted(this);
}

// ---------------------------------------------------------------- ConnectJob

ConnectJob::ConnectJob(const SessionSettings& settings, QObject* parent)
    : Job(parent), m_settings(std::make_unique<SessionSettings>(settings)) {}

ConnectJob::~ConnectJob() = default;

Result ConnectJob::start(Session& session) {
    return session.startConnect(*m_settings);
}

// ---------------------------------------------------------------- HeadersJob

HeadersJob::HeadersJob(QObject* parent) : Job(parent) {}

HeadersJob::~HeadersJob() = default;

void HeadersJob::setRowMaker(RowMaker maker) {
    m_rowMaker = std::move(maker);
}

void HeadersJob::setFetchChooser(FetchChooser choose) {
    m_chooseFetch = std::move(choose);
}

Result HeadersJob::start(Session& session) {
    m_worker = std::make_unique<HeaderWorker>(m_rowMaker);
    connect(m_worker.get(), &HeaderWorker::parsed, this, &HeadersJob::onBatch, Qt::QueuedConnection);
    connect(m_worker.get(), &HeaderWorker::drained, this, &HeadersJob::onDrained, Qt::QueuedConnection);
    HeaderWorker* worker = m_worker.get();
    return session.startGetHeaders(
        [worker](int number, const Message& listing, QByteArray block, bool keep) {
            worker->submit(HeaderWorker::Input{number, listing, std::move(block), keep});
        },
        m_chooseFetch);
}

void HeadersJob::operationEnded(Session& session, Result result) {
    if (result != Result::Ok || !m_worker) {
        // Rows of a broken download are never shown: drop what is still in work.
        m_worker.reset();
        complete(session.failureFor(result));
        return;
    }
    m_downloadDone = true;
    m_worker->finishInput();
}

void HeadersJob::cancelled() {
    if (!m_downloadDone)
        return;
    m_worker.reset();
    complete(Failure::of(Result::Cancelled));
}

void HeadersJob::onBatch(const QList<ParsedMessage>& batch) {
    if (m_worker)
        Q_EMIT parsed(batch);
}

void HeadersJob::onDrained() {
    if (!m_worker)
        return;
    m_worker.reset();
    complete(Failure());
}

// ---------------------------------------------------------------- small jobs

Result StatJob::start(Session& session) {
    return session.startStat();
}

void StatJob::operationEnded(Session& session, Result result) {
    if (result == Result::Ok)
        m_count = session.statCount();
    Job::operationEnded(session, result);
}

MarkJob::MarkJob(QVector<int> numbers, QObject* parent) : Job(parent), m_numbers(std::move(numbers)) {}

Result MarkJob::start(Session& session) {
    return session.startDelete(m_numbers);
}

void MarkJob::operationEnded(Session& session, Result result) {
    m_results = session.deleteResults();
    // Whatever the session could not tell is not marked.
    m_results.resize(m_numbers.size(), result == Result::Ok ? Result::ConnectionLost : result);
    Job::operationEnded(session, result);
}

Result NoopJob::start(Session& session) {
    return session.startNoop();
}

Result QuitJob::start(Session& session) {
    return session.startQuit();
}

TopJob::TopJob(int number, int lines, QObject* parent) : Job(parent), m_number(number), m_lines(lines) {}

Result TopJob::start(Session& session) {
    return session.startTop(m_number, m_lines);
}

void TopJob::operationEnded(Session& session, Result result) {
    if (result == Result::Ok)
        m_text = session.topText();
    Job::operationEnded(session, result);
}

} // namespace pop3
