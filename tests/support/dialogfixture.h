#pragma once

#include "common/appstate.h"
#include "common/messagebox.h"

#include <QDir>
#include <QFile>
#include <QList>
#include <QStringList>
#include <QTemporaryDir>
#include <QWidget>

// Set-up the dialog tests share: a private program folder, the message boxes the
// code asks for, and named children of a dialog.
namespace testsupport {

// The child widget of that objectName. A missing one is a broken test, not a
// result to compare: the program stops with the name.
template <typename T> T* Child(QWidget* parent, const char* name) {
    T* child = parent->findChild<T*>(QString::fromLatin1(name));
    if (!child)
        qFatal("no child %s", name);
    return child;
}

// A fresh, empty program folder, removed with the object.
class ProgramFolder {
public:
    bool isValid() const { return m_dir.isValid(); }
    // With the trailing '/' AppState::ProgramFolder has.
    QString path() const { return m_dir.path() + QLatin1Char('/'); }
    QString filePath(const QString& name) const { return m_dir.filePath(name); }
    QString filePath(const char* name) const { return filePath(QString::fromLatin1(name)); }
    QByteArray read(const char* name) const {
        QFile file(filePath(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    bool write(const char* name, const QByteArray& bytes) const {
        QFile file(filePath(name));
        return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
    }
    // A state as the main window starts with, working in this folder.
    AppState freshState() const {
        AppState state;
        state.ProgramFolder = path();
        return state;
    }

private:
    QTemporaryDir m_dir;
};

// Stands in for every message box while started: records each request and answers
// with the queued answers in order, then with fallback.
class MessageBoxCapture {
public:
    QList<QMessageBox::StandardButton> answers;
    QMessageBox::StandardButton fallback = QMessageBox::Ok;

    ~MessageBoxCapture() { stop(); }
    void start() {
        clear();
        answers.clear();
        fallback = QMessageBox::Ok;
        ui::SetMessageBoxHandler([this](const ui::MessageRequest& request) {
            m_requests.append(request);
            return answers.isEmpty() ? fallback : answers.takeFirst();
        });
    }
    void stop() { ui::SetMessageBoxHandler({}); }

    void clear() { m_requests.clear(); }
    qsizetype size() const { return m_requests.size(); }
    bool isEmpty() const { return m_requests.isEmpty(); }
    const ui::MessageRequest& at(qsizetype i) const { return m_requests.at(i); }
    const ui::MessageRequest& operator[](qsizetype i) const { return m_requests.at(i); }
    const ui::MessageRequest& first() const { return m_requests.first(); }
    const ui::MessageRequest& last() const { return m_requests.last(); }
    QStringList titles() const {
        QStringList out;
        for (const ui::MessageRequest& r : m_requests)
            out.append(r.title);
        return out;
    }

private:
    QList<ui::MessageRequest> m_requests;
};

} // namespace testsupport
