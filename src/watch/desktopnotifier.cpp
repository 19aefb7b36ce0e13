#include "watch/desktopnotifier.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

namespace watch {

namespace {
const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
const QString kReview = QStringLiteral("review");
const QString kDismiss = QStringLiteral("dismiss");
// How long a service gets to take a notification before the tray tells it instead.
constexpr int kCallTimeoutMs = 2000;

// Servers that speak body markup would read '<' and '&' in a subject as markup.
QString Escaped(const QString& text) {
    return text.toHtmlEscaped();
}
} // namespace

DesktopNotifier::DesktopNotifier(QObject* parent) : QObject(parent) {}

QDBusConnection& DesktopNotifier::bus() {
    if (!m_bus)
        m_bus = QDBusConnection::sessionBus();
    if (!m_subscribed && m_bus->isConnected()) {
        m_subscribed = true;
        // String-based: QtDBus connects bus signals by signature only.
        m_bus->connect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this,
                       SLOT(onActionInvoked(uint, QString)));
        m_bus->connect(kService, kPath, kInterface, QStringLiteral("NotificationClosed"), this,
                       SLOT(onClosed(uint, uint)));
    }
    return *m_bus;
}

bool DesktopNotifier::available() {
    QDBusConnection& connection = bus();
    return connection.isConnected() && connection.interface() &&
           connection.interface()->isServiceRegistered(kService).value();
}

bool DesktopNotifier::show(const QString& account, const QString& summary, const QString& body, bool review) {
    if (!available())
        return false;
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
    const QStringList actions =
        review ? QStringList{kReview, tr("Review"), kDismiss, tr("Dismiss")} : QStringList();
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("tidemarsh"));
    hints.insert(QStringLiteral("category"), QStringLiteral("email.arrived"));
    call << QStringLiteral("Tidemarsh") << m_ids.value(account, 0u) << QStringLiteral("tidemarsh") << summary
         << Escaped(body) << actions << hints << int(-1);
    auto* watcher = new QDBusPendingCallWatcher(bus().asyncCall(call, kCallTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, watcher, account, summary, body](QDBusPendingCallWatcher*) {
                watcher->deleteLater();
                const QDBusPendingReply<uint> reply = *watcher;
                if (reply.isError()) {
                    Q_EMIT notShown(account, summary, body);
                    return;
                }
                m_ids.insert(account, reply.value());
            });
    return true;
}

void DesktopNotifier::onActionInvoked(uint id, const QString& action) {
    const QString account = m_ids.key(id);
    if (account.isEmpty() && !m_ids.values().contains(id))
        return;
    if (action == kReview)
        Q_EMIT reviewRequested(account);
    if (action == kReview || action == kDismiss) {
        QDBusMessage close =
            QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("CloseNotification"));
        close << id;
        bus().call(close, QDBus::NoBlock);
    }
}

void DesktopNotifier::onClosed(uint id, uint /*reason*/) {
    // A new one for the account starts afresh instead of replacing a closed id.
    for (auto it = m_ids.begin(); it != m_ids.end(); ++it) {
        if (it.value() == id) {
            m_ids.erase(it);
            return;
        }
    }
}

} // namespace watch
