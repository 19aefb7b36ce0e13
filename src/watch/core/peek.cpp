#include "watch/core/peek.h"

#include "check/core/loginsettings.h"
#include "pop3/job.h"
#include "pop3/session.h"
#include "review/core/friendmatcher.h"

#include <QTimer>

namespace watch {

Peek::Peek(const AccountRecord& account, const SettingsRecord& settings, const QString& programFolder,
           std::optional<SeenMessages> seen, std::shared_ptr<const FriendMatcher> friends, QObject* parent)
    : QObject(parent), m_account(account), m_settings(settings), m_folder(programFolder),
      m_seen(std::move(seen)), m_friends(std::move(friends)) {}

Peek::~Peek() {
    // Without QUIT: a peek marks nothing, so dropping the line costs nothing.
    delete m_preparing.data();
}

void Peek::start() {
    m_preparing = new QObject(this);
    // No askSignIn: a background login never opens the browser; it says a sign-in is needed.
    LoginSettings::Prepare(m_account, m_settings, m_folder, m_preparing, LoginSettings::Options{},
                           [this](const pop3::SessionSettings& settings, const QString& failure) {
                               m_preparing->deleteLater();
                               if (!failure.isEmpty()) {
                                   m_result.failure = pop3::Failure::of(pop3::Result::LoginRejected);
                                   m_result.failure.words = failure;
                                   m_result.signInNeeded = LoginSettings::IsSignInNeeded(failure);
                                   end();
                                   return;
                               }
                               connectWith(settings);
                           });
}

void Peek::connectWith(const pop3::SessionSettings& settings) {
    m_session = std::make_unique<pop3::Session>();
    auto* job = new pop3::ConnectJob(settings);
    connect(job, &pop3::Job::finished, this, [this](const pop3::Failure& failure) {
        if (!failure.isOk()) {
            m_result.failure = failure;
            end();
            return;
        }
        m_result.loginDelaySeconds = m_session->loginDelaySeconds();
        download();
    });
    m_session->enqueue(job);
}

void Peek::download() {
    auto* job = new pop3::HeadersJob;
    job->setFetchChooser(
        [seen = m_seen](const std::vector<pop3::Message>& listing) { return NewMessages(seen, listing); });
    connect(job, &pop3::HeadersJob::parsed, this, [this](const QList<pop3::ParsedMessage>& batch) {
        for (const pop3::ParsedMessage& parsed : batch) {
            const pop3::Message& m = parsed.message;
            NewMessage fresh;
            fresh.sender = m.From.isEmpty() ? m.FromAddr : m.From;
            fresh.subject = m.Subject;
            fresh.fromFriend = m_friends && !m.FromAddr.isEmpty() && m_friends->IsFriend(m.FromAddr);
            m_result.fresh.append(fresh);
        }
    });
    connect(job, &pop3::Job::finished, this, [this](const pop3::Failure& failure) {
        if (!failure.isOk()) {
            m_result.failure = failure;
            m_result.fresh.clear();
            end();
            return;
        }
        std::vector<pop3::Message> listing;
        listing.reserve(size_t(m_session->count()));
        for (int n = 1; n <= m_session->count(); ++n)
            listing.push_back(m_session->item(n));
        m_result.total = m_session->count();
        m_result.byUidl = SeenMessages::HasUidls(listing);
        m_result.seenNow = SeenMessages::Of(listing);
        quit();
    });
    m_session->enqueue(job);
}

void Peek::quit() {
    auto* job = new pop3::QuitJob;
    // What was found stands whatever the QUIT's answer: nothing was marked.
    connect(job, &pop3::Job::finished, this, [this] { end(); });
    m_session->enqueue(job);
}

void Peek::end() {
    if (m_ended)
        return;
    m_ended = true;
    // From the event loop, never inside start(): a receiver may delete the peek.
    QTimer::singleShot(0, this, [this] {
        m_session.reset();
        Q_EMIT finished(m_result);
    });
}

} // namespace watch
