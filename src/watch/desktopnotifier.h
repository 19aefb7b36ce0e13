#pragma once

#include <QDBusConnection>
#include <QHash>
#include <QObject>
#include <QString>

#include <optional>

namespace watch {

// Notifications through the desktop's org.freedesktop.Notifications service on
// the session bus: one per account, each replacing the account's previous one,
// with the actions "Review" and "Dismiss".
class DesktopNotifier : public QObject {
    Q_OBJECT
public:
    // The session bus is reached only when there is something to tell: a program
    // that never notifies never touches it.
    explicit DesktopNotifier(QObject* parent = nullptr);

    // A notification service answers on the bus now.
    bool available();
    // With review, the notification offers Review and Dismiss. False when no
    // service is there (the caller then uses the tray); a service that takes
    // the call and fails it says so by notShown. The call never waits.
    bool show(const QString& account, const QString& summary, const QString& body, bool review);

Q_SIGNALS:
    void reviewRequested(const QString& account);
    void notShown(const QString& account, const QString& summary, const QString& body);

private Q_SLOTS:
    void onActionInvoked(uint id, const QString& action);
    void onClosed(uint id, uint reason);

private:
    QDBusConnection& bus();

    std::optional<QDBusConnection> m_bus;
    bool m_subscribed = false;
    QHash<QString, uint> m_ids; // account -> its notification's id
};

} // namespace watch
