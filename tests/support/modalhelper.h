#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>

// Answers a modal dialog that a blocking call is about to open: polls the
// modal stack until a widget with objectName appears, then runs handler on it.
// Gives up silently after timeoutMs (the test's own checks then fail).
inline void WhenModal(const QString& objectName, std::function<void(QWidget*)> handler,
                      int timeoutMs = 20000) {
    // Owned by the application, so a timer still waiting when the program ends is freed.
    auto* timer = new QTimer(QCoreApplication::instance());
    timer->setInterval(5);
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    QObject::connect(timer, &QTimer::timeout, timer, [=] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal && modal->objectName() == objectName) {
            timer->stop();
            timer->deleteLater();
            handler(modal);
            return;
        }
        if (clock->elapsed() > timeoutMs) {
            timer->stop();
            timer->deleteLater();
        }
    });
    timer->start();
}

// A top-level widget with that objectName that is currently visible, or nullptr.
inline QWidget* VisibleTopLevel(const QString& objectName) {
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (widget->objectName() == objectName && widget->isVisible())
            return widget;
    return nullptr;
}

// Notes whether a modal dialog of that name shows up while it lives, and closes
// it; unlike WhenModal it leaves nothing behind for the next test.
class ModalWatcher {
public:
    explicit ModalWatcher(const QString& objectName) {
        QObject::connect(&m_timer, &QTimer::timeout, &m_timer, [this, objectName] {
            QWidget* modal = QApplication::activeModalWidget();
            if (modal && modal->objectName() == objectName) {
                m_seen = true;
                modal->close();
            }
        });
        m_timer.start(5);
    }
    bool seen() const { return m_seen; }

private:
    QTimer m_timer;
    bool m_seen = false;
};
