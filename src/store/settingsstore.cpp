#include "store/settingsstore.h"

#include "store/recordfile.h"
#include "store/storeerror.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QtEndian>

#include <array>

namespace {

constexpr std::array kFields = {
    &SettingsRecord::DeletePromptOff, &SettingsRecord::CheckDonePromptOff, &SettingsRecord::ServerPort,
    &SettingsRecord::ServerTimeout,   &SettingsRecord::WindowWidth,        &SettingsRecord::WindowHeight,
    &SettingsRecord::WindowLeft,      &SettingsRecord::WindowTop,          &SettingsRecord::ThemeColoursOff,
};
static_assert(kFields.size() * 2 == SettingsRecord::RecordLength);

[[noreturn]] void fail(const QString& verb, const QString& path, const QString& reason) {
    throw StoreError(QStringLiteral("Could not %1 %2: %3").arg(verb, QFileInfo(path).fileName(), reason));
}

// Written through a temporary file so a crash mid-write cannot leave a torn
// file; where the folder refuses new files the file is written in place.
void writeWhole(const QString& path, const QByteArray& bytes) {
    QSaveFile file(path);
    file.setDirectWriteFallback(true);
    if (!file.open(QIODevice::WriteOnly))
        fail(QStringLiteral("write"), path, file.errorString());
    if (file.write(bytes) != bytes.size()) {
        const QString reason = file.errorString();
        file.cancelWriting();
        fail(QStringLiteral("write"), path, reason);
    }
    if (!file.commit())
        fail(QStringLiteral("write"), path, file.errorString());
}

} // namespace

SettingsStore::SettingsStore(const QString& programFolder) : m_folder(programFolder) {}

QString SettingsStore::settingsPath() const {
    return QDir(m_folder).filePath(QStringLiteral("Config.dat"));
}

QString SettingsStore::layoutPath() const {
    return QDir(m_folder).filePath(QStringLiteral("Tidemarsh.dsl"));
}

QByteArray SettingsStore::Encode(const SettingsRecord& record) {
    QByteArray bytes(SettingsRecord::RecordLength, '\0');
    for (std::size_t i = 0; i < kFields.size(); ++i)
        qToLittleEndian<qint16>(record.*kFields[i], bytes.data() + 2 * i);
    return bytes;
}

SettingsRecord SettingsStore::Decode(const QByteArray& bytes, const SettingsRecord& previous) {
    // A short file fills the fields it holds completely; the rest keep their values.
    SettingsRecord record = previous;
    for (std::size_t i = 0; i < kFields.size() && qsizetype(2 * i + 2) <= bytes.size(); ++i)
        record.*kFields[i] = qFromLittleEndian<qint16>(bytes.constData() + 2 * i);
    return record;
}

bool SettingsStore::LoadSettings(SettingsRecord& record) const {
    if (const auto bytes = ReadFileIfExists(settingsPath(), QFileInfo(settingsPath()).fileName(),
                                            SettingsRecord::RecordLength)) {
        record = Decode(*bytes, record);
        return false;
    }
    record = SettingsRecord{};
    writeWhole(settingsPath(), Encode(record));
    return true;
}

void SettingsStore::SaveSettings(const SettingsRecord& record) const {
    writeWhole(settingsPath(), Encode(record));
}

std::optional<QByteArray> SettingsStore::LoadLayout() const {
    return ReadFileIfExists(layoutPath(), QFileInfo(layoutPath()).fileName());
}

void SettingsStore::SaveLayout(const QByteArray& state) const {
    writeWhole(layoutPath(), state);
}
