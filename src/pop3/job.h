#pragma once

#include "pop3/pop3types.h"

#include <QObject>
#include <QVariant>
#include <QVector>
#include <functional>
#include <memory>

namespace pop3 {

class Session;
class HeaderWorker;
struct SessionSettings;

// One piece of POP3 work on a session's queue. The session starts jobs one at a
// time, in the order they were enqueued; a job enqueued while another runs waits
// its turn. A job emits finished exactly once, always from the event loop (never
// from inside enqueue), and is deleted afterwards: a receiver may delete the
// session, or enqueue the next job, from its slot. Deleting the session deletes
// its jobs unfinished. From progress and parsed a receiver may only deleteLater().
class Job : public QObject {
    Q_OBJECT
public:
    ~Job() override;

    // Valid once finished has been emitted.
    const Failure& failure() const { return m_failure; }

Q_SIGNALS:
    // done of total: headers downloaded, or messages marked.
    void progress(int done, int total);
    void finished(const pop3::Failure& failure);

protected:
    explicit Job(QObject* parent = nullptr);

    // Starts the job's operation on the session: Result::Pending when it runs on
    // (the session then calls operationEnded), else the result at once.
    virtual Result start(Session& session) = 0;
    // The session's operation ended. By default that ends the job; a job with work
    // of its own left (parsing) ends later through complete().
    virtual void operationEnded(Session& session, Result result);
    // Cancel while the job waits on something other than the server.
    virtual void cancelled() {}
    void complete(Failure failure);
    Session* session() const { return m_session; }

private:
    friend class Session;
    Session* m_session = nullptr;
    Failure m_failure;
    bool m_completed = false;
};

// Connects, secures the connection and logs in.
class ConnectJob : public Job {
    Q_OBJECT
public:
    explicit ConnectJob(const SessionSettings& settings, QObject* parent = nullptr);
    ~ConnectJob() override;

protected:
    Result start(Session& session) override;

private:
    std::unique_ptr<SessionSettings> m_settings;
};

// LIST (and UIDL), then TOP n 0 for every listed message. Header blocks are
// parsed on a worker thread while the next replies arrive; parsed arrives in
// batches, in message order, and the job finishes once the last batch is in.
class HeadersJob : public Job {
    Q_OBJECT
public:
    explicit HeadersJob(QObject* parent = nullptr);
    ~HeadersJob() override;
    // What the caller makes of each parsed message (a review row, say), run on
    // the parser thread: it must not touch shared mutable state.
    void setRowMaker(RowMaker maker);
    // Only the chosen messages get TOP (the watch's peek: those not seen before);
    // by default all. The listing itself is on the session afterwards.
    void setFetchChooser(FetchChooser choose);

Q_SIGNALS:
    void parsed(const QList<pop3::ParsedMessage>& batch);

protected:
    Result start(Session& session) override;
    void operationEnded(Session& session, Result result) override;
    void cancelled() override;

private:
    void onBatch(const QList<pop3::ParsedMessage>& batch);
    void onDrained();

    RowMaker m_rowMaker;
    FetchChooser m_chooseFetch;
    std::unique_ptr<HeaderWorker> m_worker;
    bool m_downloadDone = false;
};

// STAT: how many messages wait, without listing them.
class StatJob : public Job {
    Q_OBJECT
public:
    using Job::Job;
    int count() const { return m_count; }

protected:
    Result start(Session& session) override;
    void operationEnded(Session& session, Result result) override;

private:
    int m_count = 0;
};

// DELE for each number (1-based positions in the session's listing), pipelined
// where the server allows it. Each number gets its own result; the job ends Ok
// when the batch ran, whatever single marks the server refused.
class MarkJob : public Job {
    Q_OBJECT
public:
    explicit MarkJob(QVector<int> numbers, QObject* parent = nullptr);
    const QVector<Result>& results() const { return m_results; }

protected:
    Result start(Session& session) override;
    void operationEnded(Session& session, Result result) override;

private:
    QVector<int> m_numbers;
    QVector<Result> m_results;
};

// NOOP, to keep an idle session open.
class NoopJob : public Job {
    Q_OBJECT
public:
    using Job::Job;

protected:
    Result start(Session& session) override;
};

// QUIT. Ok only when the server confirmed it: marked messages are gone then,
// and only then. The connection is closed either way.
class QuitJob : public Job {
    Q_OBJECT
public:
    using Job::Job;

protected:
    Result start(Session& session) override;
};

// TOP n lines for one message: its header and the first lines of its body.
class TopJob : public Job {
    Q_OBJECT
public:
    TopJob(int number, int lines, QObject* parent = nullptr);
    int number() const { return m_number; }
    // The reply's text, dot-unstuffed; empty unless the job ended Ok.
    const QByteArray& text() const { return m_text; }

protected:
    Result start(Session& session) override;
    void operationEnded(Session& session, Result result) override;

private:
    int m_number;
    int m_lines;
    QByteArray m_text;
};

} // namespace pop3
