#include "store/extrasettings.h"

#include <QDir>
#include <QSettings>

ExtraSettings::ExtraSettings(const QString& programFolder)
    : m_path(QDir(programFolder).filePath(FileName())) {}

QString ExtraSettings::FileName() {
    return QStringLiteral("Tidemarsh.ini");
}

QString ExtraSettings::filePath() const {
    return m_path;
}

QVariant ExtraSettings::value(const QString& group, const QString& key, const QVariant& fallback) const {
    const QSettings ini(m_path, QSettings::IniFormat);
    return ini.value(group + QLatin1Char('/') + key, fallback);
}

bool ExtraSettings::setValue(const QString& group, const QString& key, const QVariant& value) const {
    QSettings ini(m_path, QSettings::IniFormat);
    ini.setValue(group + QLatin1Char('/') + key, value);
    ini.sync();
    return ini.status() == QSettings::NoError;
}
