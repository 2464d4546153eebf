#include "shell/SettingsRecovery.h"

#include <QHash>
#include <QStringView>

namespace SettingsRecovery {

namespace {

bool isPlainName(QStringView name)
{
    if (name.isEmpty())
        return false;
    for (const QChar c : name) {
        const char16_t u = c.unicode();
        const bool plain = (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9')
                           || u == '_' || u == '-' || u == '.';
        if (!plain)
            return false;
    }
    return true;
}

QString unquoted(QStringView value)
{
    if (value.size() >= 2 && value.front() == u'"' && value.back() == u'"')
        value = value.sliced(1, value.size() - 2);
    return value.toString();
}

} // namespace

QList<Entry> readPlainly(const QByteArray &fileContents)
{
    QList<Entry> entries;
    QHash<QString, qsizetype> indexOf; // "section\nkey" to its place in entries
    QString section;
    bool readable = true;
    QString text = QString::fromUtf8(fileContents);
    // CRLF, LF and a lone CR all end a line, as in QSettings' own reader.
    text.replace(u'\r', u'\n');
    for (QStringView line : QStringView(text).split(u'\n')) {
        line = line.trimmed();
        if (line.isEmpty() || line.front() == u';' || line.front() == u'#')
            continue;
        if (line.front() == u'[') {
            const qsizetype close = line.indexOf(u']');
            const QStringView name = close > 0 ? line.sliced(1, close - 1).trimmed() : QStringView();
            // As QSettings reads them: "General" in any case is the top
            // level, "%General" a section of that name. The lines under any
            // other header that is not a plain name belong to no section
            // that can be compared with QSettings' reading.
            if (name.compare(QLatin1String("General"), Qt::CaseInsensitive) == 0) {
                readable = true;
                section.clear();
            } else if (name == u"%General") {
                readable = true;
                section = QStringLiteral("General");
            } else {
                readable = isPlainName(name);
                section = name.toString();
            }
            continue;
        }
        const qsizetype equals = line.indexOf(u'=');
        if (equals <= 0 || !readable)
            continue;
        const QStringView key = line.first(equals).trimmed();
        if (!isPlainName(key))
            continue;
        Entry entry{section, key.toString(), unquoted(line.sliced(equals + 1).trimmed())};
        const QString id = entry.section + u'\n' + entry.key;
        const auto known = indexOf.constFind(id);
        if (known != indexOf.cend()) {
            entries[*known].value = entry.value;
        } else {
            indexOf.insert(id, entries.size());
            entries << entry;
        }
    }
    return entries;
}

QString valueOf(const QList<Entry> &entries, const QString &section, const QString &key)
{
    for (const Entry &entry : entries) {
        if (entry.section == section && entry.key == key)
            return entry.value;
    }
    return {};
}

QString damagedCopyName(const QString &fileName, const QString &timeStamp)
{
    return fileName + QStringLiteral(".damaged-") + timeStamp;
}

} // namespace SettingsRecovery
