#include "signin/secretstore.h"

#include "store/recordfile.h"
#include "store/storeerror.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QTimer>

#include <qt6keychain/keychain.h>

namespace {

const QString kService = QStringLiteral("Tidemarsh");
const QString kSecretService = QStringLiteral("org.freedesktop.secrets");
constexpr qint64 kMaxFileBytes = 4 * 1024 * 1024;

SecretStore::Outcome Failed(SecretStore::Where where, const QString& error) {
    SecretStore::Outcome outcome;
    outcome.where = where;
    outcome.error = error;
    return outcome;
}

} // namespace

SecretStore::SecretStore(const QString& programFolder, QObject* parent)
    : QObject(parent), m_path(QDir(programFolder).filePath(FileName())) {}

QString SecretStore::FileName() {
    return QStringLiteral("Tidemarsh.secrets");
}

bool SecretStore::KeyringAnswers() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface())
        return false;
    // Running, not merely installed: starting one on demand may ask the user to
    // create a keyring in the middle of a check.
    return bus.interface()->isServiceRegistered(kSecretService).value();
}

QString SecretStore::WhereText(Where where) {
    return where == Where::Keyring ? tr("the system keyring") : FileName();
}

void SecretStore::later(Done done, Outcome outcome) {
    QTimer::singleShot(0, this, [done = std::move(done), outcome] { done(outcome); });
}

void SecretStore::read(const QString& key, Done done) {
    if (KeyringAnswers())
        readKeyring(key, std::move(done));
    else
        later(std::move(done), readFile(key));
}

void SecretStore::readKeyring(const QString& key, Done done) {
    auto* job = new QKeychain::ReadPasswordJob(kService, this);
    job->setAutoDelete(true);
    job->setKey(key);
    connect(job, &QKeychain::Job::finished, this, [this, key, done = std::move(done)](QKeychain::Job* ended) {
        auto* reading = static_cast<QKeychain::ReadPasswordJob*>(ended);
        if (reading->error() == QKeychain::EntryNotFound) {
            // Kept while no keyring answered: the file has it.
            done(readFile(key));
            return;
        }
        if (reading->error() != QKeychain::NoError) {
            done(Failed(Where::Keyring,
                        tr("The system keyring could not be read: %1").arg(reading->errorString())));
            return;
        }
        Outcome outcome;
        outcome.ok = true;
        outcome.found = true;
        outcome.value = reading->textData();
        outcome.where = Where::Keyring;
        done(outcome);
    });
    job->start();
}

void SecretStore::write(const QString& key, const QString& value, Done done) {
    if (!KeyringAnswers()) {
        later(std::move(done), writeFile(key, &value));
        return;
    }
    auto* job = new QKeychain::WritePasswordJob(kService, this);
    job->setAutoDelete(true);
    job->setKey(key);
    job->setTextData(value);
    connect(job, &QKeychain::Job::finished, this, [this, key, done = std::move(done)](QKeychain::Job* ended) {
        if (ended->error() != QKeychain::NoError) {
            done(Failed(Where::Keyring,
                        tr("The system keyring did not take the secret: %1").arg(ended->errorString())));
            return;
        }
        // An older copy in the file must not outlive the one in the keyring.
        Outcome outcome = writeFile(key, nullptr);
        outcome.where = Where::Keyring;
        done(outcome);
    });
    job->start();
}

void SecretStore::remove(const QStringList& keys, Done done) {
    Outcome sofar;
    sofar.ok = true;
    if (!KeyringAnswers()) {
        for (const QString& key : keys) {
            const Outcome removed = writeFile(key, nullptr);
            if (!removed.ok)
                sofar = removed;
        }
        later(std::move(done), sofar);
        return;
    }
    removeNext(keys, sofar, std::move(done));
}

void SecretStore::removeNext(QStringList keys, Outcome sofar, Done done) {
    if (keys.isEmpty()) {
        done(sofar);
        return;
    }
    const QString key = keys.takeFirst();
    auto* job = new QKeychain::DeletePasswordJob(kService, this);
    job->setAutoDelete(true);
    job->setKey(key);
    connect(job, &QKeychain::Job::finished, this,
            [this, key, keys, sofar, done = std::move(done)](QKeychain::Job* ended) mutable {
                if (ended->error() != QKeychain::NoError && ended->error() != QKeychain::EntryNotFound)
                    sofar = Failed(Where::Keyring,
                                   tr("The system keyring kept a secret: %1").arg(ended->errorString()));
                const Outcome file = writeFile(key, nullptr);
                if (!file.ok)
                    sofar = file;
                removeNext(keys, sofar, std::move(done));
            });
    job->start();
}

SecretStore::Outcome SecretStore::readFile(const QString& key) const {
    Outcome outcome;
    outcome.where = Where::File;
    try {
        const std::optional<QByteArray> bytes = ReadFileIfExists(m_path, FileName(), kMaxFileBytes);
        outcome.ok = true;
        if (!bytes)
            return outcome;
        const QJsonObject all = QJsonDocument::fromJson(*bytes).object();
        outcome.found = all.contains(key);
        outcome.value = all.value(key).toString();
    } catch (const StoreError& error) {
        outcome.ok = false;
        outcome.error = error.message();
    }
    return outcome;
}

// value nullptr removes the key. The file is replaced in one step (written
// beside it, synced, renamed over it), so a crash leaves the old or the new one.
SecretStore::Outcome SecretStore::writeFile(const QString& key, const QString* value) const {
    Outcome outcome;
    outcome.where = Where::File;
    QJsonObject all;
    try {
        const std::optional<QByteArray> bytes = ReadFileIfExists(m_path, FileName(), kMaxFileBytes);
        if (bytes)
            all = QJsonDocument::fromJson(*bytes).object();
        if (!value && (!bytes || !all.contains(key))) {
            outcome.ok = true;
            return outcome;
        }
    } catch (const StoreError& error) {
        outcome.error = error.message();
        return outcome;
    }
    if (value)
        all.insert(key, *value);
    else
        all.remove(key);
    QSaveFile file(m_path);
    if (!file.open(QIODevice::WriteOnly) ||
        !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner) ||
        file.write(QJsonDocument(all).toJson(QJsonDocument::Indented)) < 0 || !file.commit()) {
        outcome.error = tr("%1 could not be written: %2").arg(FileName(), file.errorString());
        return outcome;
    }
    outcome.ok = true;
    return outcome;
}
