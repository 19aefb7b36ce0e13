#pragma once

#include <QString>
#include <stdexcept>

// How every store reports a failure: a file that cannot be opened, read,
// written or removed, or a record-count limit that is hit. A file that is not
// there yet is no failure; each store says what it gives back then. what() is
// UTF-8; message() is for the user and names the file.
class StoreError : public std::runtime_error {
public:
    explicit StoreError(const QString& message)
        : std::runtime_error(message.toStdString()), m_message(message) {}
    const QString& message() const { return m_message; }

private:
    QString m_message;
};
