#pragma once

#include "pop3/bodypreview.h"
#include "review/reviewcontroller.h"

#include <QHash>
#include <QObject>
#include <QPair>
#include <QPointer>
#include <QThreadPool>

#include <deque>
#include <mutex>
#include <utility>

class PreviewPane;
namespace pop3 {
class Session;
struct Failure;
} // namespace pop3

// Feeds the preview pane from the review: the selected row becomes one of the
// pane's keys, the pane's wish for a key becomes TOP n 40 on the session that
// listed the message (queued like any job, so it never overlaps another
// command), and the reply is decoded on a worker thread. A hidden pane asks for
// nothing. Keys are never reused and are forgotten whenever the list is emptied
// or replaced, so an answer for a session that has gone is dropped.
class PreviewFeed : public QObject {
    Q_OBJECT
public:
    static constexpr int kLines = 40;

    PreviewFeed(ReviewController& review, PreviewPane& pane, QObject* parent = nullptr);
    ~PreviewFeed() override;

    // Shown: the selected message is previewed. Hidden: nothing is asked for.
    void setActive(bool active);
    bool isActive() const { return m_active; }

    // Why a TOP brought no preview, in a few words for "No preview: ...".
    static QString FailureText(const pop3::Failure& failure);

Q_SIGNALS:
    // From a decoder thread: decoded previews wait in m_decoded. It carries
    // nothing: results cross threads under m_decodedLock, which the thread
    // sanitizer sees, not inside Qt's event queue, which it does not.
    void decodedWaiting();

private:
    struct Source {
        QPointer<pop3::Session> session;
        int number = 0;
    };

    void onSelectedRow(int modelRow);
    void onWanted(int key);
    void onFetched(int key, const pop3::Failure& failure, const QByteArray& reply);
    void onDecoded(int key, const pop3::BodyPreview& preview);
    void takeDecoded();
    int keyFor(const ReviewController::PreviewSource& source);
    void forget();

    ReviewController& m_review;
    PreviewPane& m_pane;
    QHash<int, Source> m_sources;                        // key -> where its message is read
    QHash<QPair<const pop3::Session*, int>, int> m_keys; // (session, number) -> key
    int m_nextKey = 0;
    bool m_active = true;
    std::mutex m_decodedLock;
    std::deque<std::pair<int, pop3::BodyPreview>> m_decoded;
    QThreadPool m_decoders; // last: its tasks end before the rest goes
};
