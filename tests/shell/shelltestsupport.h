#pragma once

#include "store/records.h"
#include "store/settingsstore.h"
#include "support/testdata.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTimer>
#include <QWidget>

// Small file helpers the shell tests share.
namespace shelltest {

using testsupport::ReadAll;

inline bool WriteAll(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

inline QString In(const QString& folder, const char* name) {
    return QDir(folder).filePath(QLatin1String(name));
}

inline bool WriteConfig(const QString& folder, const SettingsRecord& record) {
    return WriteAll(In(folder, "Config.dat"), SettingsStore::Encode(record));
}

// Config.dat as nine signed 16-bit little-endian fields.
inline QList<int> ConfigFields(const QString& folder) {
    const QByteArray bytes = ReadAll(In(folder, "Config.dat"));
    QList<int> fields;
    for (int i = 0; i + 1 < bytes.size(); i += 2)
        fields.append(
            static_cast<qint16>(static_cast<quint8>(bytes[i]) | (static_cast<quint8>(bytes[i + 1]) << 8)));
    return fields;
}

// With no accounts the first activation opens the new account wizard, modal.
// Tests that start without accounts close it as the window's close command
// would: nothing is written and AccountCount stays 0.
class WizardCloser {
public:
    WizardCloser() {
        QObject::connect(&m_timer, &QTimer::timeout, &m_timer, [] {
            QWidget* modal = QApplication::activeModalWidget();
            if (modal && modal->objectName() == QLatin1String("frmWiz"))
                modal->close();
        });
        m_timer.start(20);
    }

private:
    QTimer m_timer;
};

} // namespace shelltest
