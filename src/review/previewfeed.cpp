#include "review/previewfeed.h"

#include "pop3/job.h"
#include "pop3/session.h"
#include "review/core/reviewmodel.h"
#include "review/previewpane.h"

#include <memory>

namespace {
constexpr int kMaxReplyShown = 200; // of a server's refusal, in characters
}

PreviewFeed::PreviewFeed(ReviewController& review, PreviewPane& pane, QObject* parent)
    : QObject(parent), m_review(review), m_pane(pane) {
    // One at a time: replies arrive one at a time anyway, and a hostile one must
    // not take more than one core from the rest of the desktop.
    m_decoders.setMaxThreadCount(1);
    m_decoders.setObjectName(QStringLiteral("previewDecoders"));
    connect(&review, &ReviewController::selectedRowChanged, this, &PreviewFeed::onSelectedRow);
    connect(&pane, &PreviewPane::previewWanted, this, &PreviewFeed::onWanted);
    // Emptied (Accept All, a deletion, a new check) or replaced by a new check.
    connect(review.model(), &QAbstractItemModel::modelReset, this, &PreviewFeed::forget);
    connect(this, &PreviewFeed::decodedWaiting, this, &PreviewFeed::takeDecoded, Qt::QueuedConnection);
}

PreviewFeed::~PreviewFeed() {
    m_decoders.waitForDone(); // a decode is bounded by its time budget
    // The decoders' last touch of this object was under the lock: taking it
    // orders their end before the destruction in a way the sanitizer sees
    // (the pool's own wait is invisible to it).
    const std::lock_guard<std::mutex> lock(m_decodedLock);
}

void PreviewFeed::setActive(bool active) {
    m_active = active;
    if (active)
        onSelectedRow(m_review.selectedRow());
    else
        m_pane.showMessage(-1);
}

void PreviewFeed::onSelectedRow(int modelRow) {
    if (!m_active)
        return;
    const int key = modelRow < 0 ? -1 : keyFor(m_review.previewSource(modelRow));
    // The view reports a selection it already had (after a check, say): the
    // wait for rest is not started again.
    if (key != m_pane.currentKey())
        m_pane.showMessage(key);
}

int PreviewFeed::keyFor(const ReviewController::PreviewSource& source) {
    const QPair<const pop3::Session*, int> where(source.session, source.number);
    const auto found = m_keys.constFind(where);
    // A session at the address of one that has gone is another session.
    if (found != m_keys.constEnd() && m_sources.value(*found).session == source.session)
        return *found;
    const int key = m_nextKey++;
    m_keys.insert(where, key);
    m_sources.insert(key, Source{source.session, source.number});
    return key;
}

void PreviewFeed::onWanted(int key) {
    const Source source = m_sources.value(key);
    if (!source.session) {
        m_pane.setPreviewFailed(key, tr("there is no open connection to the server for this message"));
        return;
    }
    auto* job = new pop3::TopJob(source.number, kLines);
    // A job deleted unfinished (its session went) still owes the pane an answer.
    auto answered = std::make_shared<bool>(false);
    connect(job, &pop3::Job::finished, this, [this, key, job, answered](const pop3::Failure& failure) {
        *answered = true;
        onFetched(key, failure, job->text());
    });
    connect(job, &QObject::destroyed, this, [this, key, answered] {
        if (!*answered && m_sources.contains(key))
            m_pane.setPreviewFailed(key, FailureText(pop3::Failure::of(pop3::Result::Cancelled)));
    });
    source.session->enqueue(job);
}

void PreviewFeed::onFetched(int key, const pop3::Failure& failure, const QByteArray& reply) {
    if (!m_sources.contains(key))
        return; // the list was emptied while the server answered
    if (failure.code == pop3::Result::HeadersUnparsable) {
        // Over the reply's caps: the same answer would come again, so it is kept.
        pop3::BodyPreview tooLarge;
        tooLarge.text = tr("The first lines of this message are too large to show.");
        tooLarge.limited = true;
        m_pane.setPreview(key, tooLarge);
        return;
    }
    if (!failure.isOk()) {
        m_pane.setPreviewFailed(key, FailureText(failure));
        return;
    }
    m_decoders.start([this, key, reply] {
        pop3::BodyPreview preview = pop3::MakeBodyPreview(reply);
        // Emitted under the lock: see the destructor. The pool is waited for
        // before this object goes, so it is still here.
        const std::lock_guard<std::mutex> lock(m_decodedLock);
        m_decoded.emplace_back(key, std::move(preview));
        Q_EMIT decodedWaiting();
    });
}

void PreviewFeed::takeDecoded() {
    std::deque<std::pair<int, pop3::BodyPreview>> decoded;
    {
        const std::lock_guard<std::mutex> lock(m_decodedLock);
        decoded.swap(m_decoded);
    }
    for (const auto& [key, preview] : decoded)
        onDecoded(key, preview);
}

void PreviewFeed::onDecoded(int key, const pop3::BodyPreview& preview) {
    if (m_sources.contains(key))
        m_pane.setPreview(key, preview);
}

void PreviewFeed::forget() {
    m_sources.clear();
    m_keys.clear();
    m_pane.clear();
}

QString PreviewFeed::FailureText(const pop3::Failure& failure) {
    using pop3::Result;
    switch (failure.code) {
    case Result::ResponseTimeout:
        return tr("the server did not answer in time");
    case Result::NoSuchMessage:
        return tr("the server no longer lists this message");
    case Result::CommandRefused:
        return failure.serverReply.isEmpty()
                   ? tr("the server refused to send it")
                   : tr("the server refused to send it (%1)").arg(failure.serverReply.left(kMaxReplyShown));
    case Result::Cancelled:
    case Result::ConnectionLost:
    case Result::NotConnected:
        return tr("the connection to the server has closed");
    default:
        return tr("the server did not send it (code %1)").arg(pop3::ResultCode(failure.code));
    }
}
