// Fuzzes the plain reading of a damaged settings file: any bytes are read
// without fault; every value found is one line's text, every key and section
// a plain name, each (section, key) once; and what a plain reading finds in a
// file that QSettings wrote from those values is those values again.

#include "shell/SettingsRecovery.h"

#include <QSet>
#include <QSettings>
#include <QTemporaryDir>

#include <cstdlib>

namespace {

bool plainName(const QString &name)
{
    for (const QChar c : name) {
        if (!(c.isLetterOrNumber() && c.unicode() < 128) && c != u'_' && c != u'-' && c != u'.')
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const QList<SettingsRecovery::Entry> entries = SettingsRecovery::readPlainly(bytes);

    QSet<QString> seen;
    for (const SettingsRecovery::Entry &entry : entries) {
        if (entry.key.isEmpty() || !plainName(entry.key) || !plainName(entry.section))
            std::abort();
        if (entry.value.contains(u'\n') || entry.value.size() > qsizetype(size))
            std::abort();
        const QString id = entry.section + u'\n' + entry.key;
        if (seen.contains(id))
            std::abort();  // a key kept twice in one section
        seen.insert(id);
        if (SettingsRecovery::valueOf(entries, entry.section, entry.key) != entry.value)
            std::abort();
    }

    // Small inputs only: the round trip goes through a file.
    if (size > 512 || entries.isEmpty())
        return 0;
    static QTemporaryDir folder;
    const QString file = folder.filePath(QStringLiteral("roundtrip.ini"));
    QFile::remove(file);
    {
        QSettings settings(file, QSettings::IniFormat);
        for (const SettingsRecovery::Entry &entry : entries) {
            const QString path = entry.section.isEmpty() ? entry.key : entry.section + u'/' + entry.key;
            settings.setValue(path, entry.value);
        }
    }
    QFile written(file);
    if (!written.open(QIODevice::ReadOnly))
        std::abort();
    const QList<SettingsRecovery::Entry> again = SettingsRecovery::readPlainly(written.readAll());
    for (const SettingsRecovery::Entry &entry : entries) {
        // QSettings escapes what a plain reading cannot give back as it was
        // (quotes, backslashes, separators, a leading "@" of its variant
        // notation); other printable values come back unchanged.
        bool simple = !entry.value.isEmpty() && entry.value == entry.value.trimmed()
                      && !entry.value.startsWith(u'@');
        for (const QChar c : entry.value)
            simple = simple && c.unicode() >= 0x20 && c.unicode() < 0x7f && !QStringLiteral("\"\\;,=#%").contains(c);
        if (simple && SettingsRecovery::valueOf(again, entry.section, entry.key) != entry.value)
            std::abort();
    }
    return 0;
}
