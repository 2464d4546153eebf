#include "shell/SettingsStore.h"

#include <QDir>
#include <QSettings>
#include <QStringList>

#include <memory>

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
    const auto settings = open(m_rootFolder, application);
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
