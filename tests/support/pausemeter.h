#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <algorithm>

// The longest time the event loop went without running a 1 ms timer: what a
// click would have waited for meanwhile. For benches, not for pass/fail timing.
class PauseMeter : public QObject {
public:
    PauseMeter() {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(1);
        QObject::connect(&m_timer, &QTimer::timeout, this, [this] {
            m_longestNs = std::max(m_longestNs, m_since.nsecsElapsed());
            m_since.restart();
        });
    }
    void start() {
        m_longestNs = 0;
        m_since.start();
        m_timer.start();
    }
    void stop() { m_timer.stop(); }
    double longestMs() const { return double(m_longestNs) / 1e6; }

private:
    QTimer m_timer;
    QElapsedTimer m_since;
    qint64 m_longestNs = 0;
};
