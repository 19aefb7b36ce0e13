#pragma once

#include <QObject>

class QSocketNotifier;

// SIGTERM, SIGINT and SIGHUP become one Qt signal on the UI thread, so the exit
// path can save the settings. The handler only writes a byte to a socket pair
// (async-signal-safe); the notifier reads it in the event loop. One instance.
class TerminationWatcher : public QObject {
    Q_OBJECT
public:
    explicit TerminationWatcher(QObject* parent = nullptr);
    ~TerminationWatcher() override;

    bool isActive() const { return m_notifier != nullptr; }

Q_SIGNALS:
    void terminationRequested(int signalNumber);

private:
    void onReadable();

    QSocketNotifier* m_notifier = nullptr;
};
