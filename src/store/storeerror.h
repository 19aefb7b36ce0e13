#pragma once

#include <QString>
#include <stdexcept>

// Thrown by the stores when a file cannot be opened, read or written, or a
// record-count limit is hit. what() is UTF-8; message() is for the user.
class StoreError : public std::runtime_error {
public:
    explicit StoreError(const QString& message)
        : std::runtime_error(message.toStdString()), m_message(message) {}
    const QString& message() const { return m_message; }

private:
    QString m_message;
};
