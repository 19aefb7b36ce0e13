#pragma once

#include <QString>
#include <QVariant>

// "Tidemarsh.ini" beside the record files: what the program remembers beyond
// the fixed record layouts, which have no room for it and must stay byte for
// byte as they are. An INI file, one group per subsystem ("Shell", ...).
class ExtraSettings {
public:
    explicit ExtraSettings(const QString& programFolder);

    static QString FileName();
    QString filePath() const;

    // fallback when the file or the key is not there.
    QVariant value(const QString& group, const QString& key, const QVariant& fallback = {}) const;
    // Writes the file at once (a temporary file renamed over it); false when that failed.
    bool setValue(const QString& group, const QString& key, const QVariant& value) const;

    // What belongs to one account, kept by its name (names are unique in Acc.dat).
    // The account editor moves it along when the name changes and drops it with
    // the account.
    QVariant accountValue(const QString& account, const QString& key, const QVariant& fallback = {}) const;
    bool setAccountValue(const QString& account, const QString& key, const QVariant& value) const;
    bool renameAccount(const QString& from, const QString& to) const;
    bool removeAccount(const QString& account) const;
    static QString AccountGroup(const QString& account);

private:
    QString m_path;
};
