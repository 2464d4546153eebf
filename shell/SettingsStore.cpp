#include "shell/SettingsStore.h"

#include "shell/SettingsRecovery.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QStringList>

#include <cstdio>
#include <memory>
#include <optional>

namespace {

// One QSettings per call: a file edited by hand (or by another instance)
// between two calls is read afresh, and nothing is cached past a failed write.
std::unique_ptr<QSettings> open(const QString &rootFolder, const QString &application)
{
    if (rootFolder.isEmpty())
        return std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                           application, application);
    return std::make_unique<QSettings>(
        QDir(rootFolder).filePath(application + QLatin1Char('/') + application
                                  + QStringLiteral(".ini")),
        QSettings::IniFormat);
}

QString pathOf(const QString &section, const QString &key)
{
    return section.isEmpty() ? key : section + QLatin1Char('/') + key;
}

// The plain reading of a file that QSettings did not read cleanly: a value
// that a person sees in the file is missing from what QSettings read, or
// QSettings gave up on it. Empty when the file reads cleanly or is absent.
std::optional<QList<SettingsRecovery::Entry>> damagedContents(const QSettings &settings)
{
    QFile file(settings.fileName());
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QList<SettingsRecovery::Entry> entries = SettingsRecovery::readPlainly(file.readAll());
    if (settings.status() == QSettings::FormatError)
        return entries;
    for (const SettingsRecovery::Entry &entry : entries) {
        if (!settings.contains(pathOf(entry.section, entry.key)))
            return entries;
    }
    return std::nullopt;
}

// Keeps the damaged file beside it, then replaces it in one step with a clean
// file of its legible values and the new one. Any failure leaves the damaged
// file as it was.
bool repairAndWrite(const QString &fileName, const QList<SettingsRecovery::Entry> &entries,
                    const QString &section, const QString &key, const QString &value)
{
    const QString copy = SettingsRecovery::damagedCopyName(
        fileName, QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")));
    if (!QFile::exists(copy) && !QFile::copy(fileName, copy))
        return false;

    // A name of its own for each attempt: QSettings keeps what it read of a
    // file name for the rest of the process.
    const QString rebuilt = fileName + QStringLiteral(".recovered-")
                            + QString::number(QDateTime::currentMSecsSinceEpoch());
    QFile::remove(rebuilt);
    {
        QSettings clean(rebuilt, QSettings::IniFormat);
        for (const SettingsRecovery::Entry &entry : entries)
            clean.setValue(pathOf(entry.section, entry.key), entry.value);
        clean.setValue(pathOf(section, key), value);
        clean.sync();
        if (clean.status() != QSettings::NoError) {
            QFile::remove(rebuilt);
            return false;
        }
    }
    // The clean file keeps the access rights the player gave the old one.
    QFile::setPermissions(rebuilt, QFile::permissions(fileName));
    // rename(2) replaces the damaged file atomically; QFile::rename would not
    // overwrite it.
    if (std::rename(QFile::encodeName(rebuilt).constData(), QFile::encodeName(fileName).constData()) != 0) {
        QFile::remove(rebuilt);
        return false;
    }
    return true;
}

} // namespace

IniSettingsStore::IniSettingsStore() = default;

IniSettingsStore::IniSettingsStore(const QString &rootFolder)
    : m_rootFolder(rootFolder)
{
}

QString IniSettingsStore::read(const QString &application, const QString &section,
                               const QString &key) const
{
    const auto settings = open(m_rootFolder, application);
    if (const auto damaged = damagedContents(*settings)) {
        const QString recovered = SettingsRecovery::valueOf(*damaged, section, key);
        if (!recovered.isNull())
            return recovered;
    }
    settings->beginGroup(section);
    const QVariant value = settings->value(key);
    // INI files edited by hand may hold an unquoted comma, which QSettings
    // reads as a list; the value is still the text that was written there.
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(QLatin1Char(','));
    return value.toString();
}

bool IniSettingsStore::write(const QString &application, const QString &section,
                             const QString &key, const QString &value)
{
    auto settings = open(m_rootFolder, application);
    if (const auto damaged = damagedContents(*settings)) {
        // Writing through QSettings would store its misreading and lose the
        // values it missed: rebuild the file from what can be read instead.
        const QString fileName = settings->fileName();
        settings.reset();
        return repairAndWrite(fileName, *damaged, section, key, value);
    }
    settings->beginGroup(section);
    const QVariant previous = settings->value(key);
    settings->setValue(key, value);
    settings->sync();
    const bool saved = settings->status() == QSettings::NoError;
    if (!saved) {
        // Qt keeps an unsaved change for the file in a cache that every later
        // QSettings of this process reads: put the stored value back there,
        // so that what is read agrees with what the file holds.
        if (previous.isValid())
            settings->setValue(key, previous);
        else
            settings->remove(key);
    }
    settings->endGroup();
    return saved;
}

QString IniSettingsStore::fileName(const QString &application) const
{
    return open(m_rootFolder, application)->fileName();
}
