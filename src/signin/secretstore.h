#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

// Where secrets live: the desktop's keyring (Secret Service, through QtKeychain)
// when one answers on the session bus, else "Tidemarsh.secrets" beside the record
// files, created 0600 and replaced atomically like the stores. Asynchronous, as
// the keyring is: every call answers later, from the event loop, and never after
// the store is gone.
class SecretStore : public QObject {
    Q_OBJECT
public:
    enum class Where { Keyring, File };
    struct Outcome {
        bool ok = false;    // false: error says why (the keyring refused, the file failed)
        bool found = false; // read: there was a secret under that key
        QString value;
        Where where = Where::File;
        QString error;
    };
    using Done = std::function<void(const Outcome& outcome)>;

    explicit SecretStore(const QString& programFolder, QObject* parent = nullptr);

    static QString FileName();
    QString filePath() const { return m_path; }
    // A Secret Service runs on the session bus.
    static bool KeyringAnswers();
    static QString WhereText(Where where);

    // The keyring first; a secret written while no keyring answered is in the file.
    void read(const QString& key, Done done);
    void write(const QString& key, const QString& value, Done done);
    // From the keyring and the file; keys that are not there are no error.
    void remove(const QStringList& keys, Done done);

private:
    void readKeyring(const QString& key, Done done);
    void removeNext(QStringList keys, Outcome sofar, Done done);
    Outcome readFile(const QString& key) const;
    Outcome writeFile(const QString& key, const QString* value) const;
    void later(Done done, Outcome outcome);

    QString m_path;
};
