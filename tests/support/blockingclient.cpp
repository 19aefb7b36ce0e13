#include "support/blockingclient.h"

#include <QEventLoop>
#include <QPointer>

BlockingClient::BlockingClient(std::shared_ptr<pop3::StreamFactory> factory, QObject* parent)
    : QObject(parent), m_session(std::make_unique<pop3::Session>(std::move(factory))) {
    // Queued, as a window receives them: a slot may cancel or delete this client.
    connect(m_session.get(), &pop3::Session::log, this, &BlockingClient::ConnectLog, Qt::QueuedConnection);
    connect(m_session.get(), &pop3::Session::status, this, &BlockingClient::StatusMessage,
            Qt::QueuedConnection);
}

BlockingClient::~BlockingClient() = default;

pop3::Result BlockingClient::run(pop3::Job* job) {
    QEventLoop loop;
    pop3::Failure result = pop3::Failure::of(pop3::Result::Pending);
    const QPointer<BlockingClient> self(this);
    connect(job, &pop3::Job::finished, &loop, [&](const pop3::Failure& failure) {
        result = failure;
        loop.quit();
    });
    m_waiting = true;
    m_session->enqueue(job);
    loop.exec();
    if (!self)
        return pop3::Result::Cancelled;
    m_waiting = false;
    if (!result.isOk())
        m_failure = result;
    return result.code;
}

pop3::Result BlockingClient::Connect() {
    return run(new pop3::ConnectJob(m_settings));
}

pop3::Result BlockingClient::GetHeaders() {
    auto* job = new pop3::HeadersJob;
    std::vector<pop3::Message> messages;
    connect(job, &pop3::HeadersJob::parsed, this, [&messages](const QList<pop3::ParsedMessage>& batch) {
        for (const pop3::ParsedMessage& parsed : batch) {
            if (size_t(parsed.number) > messages.size())
                messages.resize(size_t(parsed.number));
            messages[size_t(parsed.number - 1)] = parsed.message;
        }
    });
    const pop3::Result result = run(job);
    m_messages = result == pop3::Result::Ok ? std::move(messages) : std::vector<pop3::Message>();
    return result;
}

pop3::Result BlockingClient::Stat(int* count) {
    auto* job = new pop3::StatJob;
    int counted = 0;
    connect(job, &pop3::Job::finished, this, [job, &counted] { counted = job->count(); });
    const pop3::Result result = run(job);
    if (result == pop3::Result::Ok && count)
        *count = counted;
    return result;
}

pop3::Result BlockingClient::Disconnect() {
    return run(new pop3::QuitJob);
}

pop3::Result BlockingClient::KeepAlive() {
    if (!m_session->keepAliveDue())
        return m_session->isConnected() ? pop3::Result::Ok : pop3::Result::NotConnected;
    return run(new pop3::NoopJob);
}

const pop3::Message& BlockingClient::Item(int n) const {
    static const pop3::Message empty;
    return n >= 1 && n <= Count() ? m_messages[size_t(n - 1)] : empty;
}

QVector<pop3::Result> BlockingClient::DeleteFromServer(const QVector<int>& numbers) {
    auto* job = new pop3::MarkJob(numbers);
    QVector<pop3::Result> results;
    connect(job, &pop3::Job::finished, this, [job, &results] { results = job->results(); });
    run(job);
    return results;
}
