#pragma once

#include <QDBusConnection>
#include <QHash>
#include <QObject>
#include <QString>

namespace watch {

// Notifications through the desktop's org.freedesktop.Notifications service on
// the session bus: one per account, each replacing the account's previous one,
// with the actions "Review" and "Dismiss".
class DesktopNotifier : public QObject {
    Q_OBJECT
public:
    explicit DesktopNotifier(QObject* parent = nullptr);
    DesktopNotifier(const QDBusConnection& bus, QObject* parent);

    // A notification service answers on the bus now.
    bool available() const;
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
    QDBusConnection m_bus;
    QHash<QString, uint> m_ids; // account -> its notification's id
};

} // namespace watch
