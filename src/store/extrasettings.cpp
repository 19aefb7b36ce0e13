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

// One group per account. The name is percent-encoded: a '/' in it would
// otherwise make a group inside another account's.
QString ExtraSettings::AccountGroup(const QString& account) {
    return QStringLiteral("Account ") + QString::fromLatin1(account.trimmed().toUtf8().toPercentEncoding());
}

QVariant ExtraSettings::accountValue(const QString& account, const QString& key,
                                     const QVariant& fallback) const {
    return value(AccountGroup(account), key, fallback);
}

bool ExtraSettings::setAccountValue(const QString& account, const QString& key, const QVariant& value) const {
    return setValue(AccountGroup(account), key, value);
}

bool ExtraSettings::renameAccount(const QString& from, const QString& to) const {
    if (AccountGroup(from) == AccountGroup(to))
        return true;
    QSettings ini(m_path, QSettings::IniFormat);
    ini.remove(AccountGroup(to));
    ini.beginGroup(AccountGroup(from));
    const QStringList keys = ini.allKeys();
    QVariantList values;
    for (const QString& key : keys)
        values.append(ini.value(key));
    ini.endGroup();
    ini.remove(AccountGroup(from));
    for (qsizetype i = 0; i < keys.size(); ++i)
        ini.setValue(AccountGroup(to) + QLatin1Char('/') + keys.at(i), values.at(i));
    ini.sync();
    return ini.status() == QSettings::NoError;
}

bool ExtraSettings::removeAccount(const QString& account) const {
    QSettings ini(m_path, QSettings::IniFormat);
    ini.remove(AccountGroup(account));
    ini.sync();
    return ini.status() == QSettings::NoError;
}
