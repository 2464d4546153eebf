#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// Reading a settings file the way a person reads it: line by line, "[name]"
// opening a section and "key=value" giving a value in it. QSettings' INI
// reader lets one stray quote swallow every following line into a value, and
// a line ending in "\" carry on into the next; a file damaged so is still
// perfectly legible to the eye, and this reading is how its values are got
// back instead of being replaced by new ones.
namespace SettingsRecovery {

struct Entry
{
    QString section; // empty for the lines before the first section and for [General]
    QString key;
    QString value;

    friend bool operator==(const Entry &, const Entry &) = default;
};

// Every "key=value" line of the file, in file order. Keys and section names
// are those that QSettings writes without escaping (letters, digits, "_",
// "-", "."), so that they can be compared with what QSettings read; other
// lines, and the lines under another header, are skipped.
// The value is the text after the first "=", trimmed, its surrounding double
// quotes taken off. A key that occurs twice in a section keeps its last value.
QList<Entry> readPlainly(const QByteArray &fileContents);

// The value of section/key in a plain reading, or a null text.
QString valueOf(const QList<Entry> &entries, const QString &section, const QString &key);

// The name of the copy that keeps a damaged file, beside it:
// "<file>.damaged-<yyyyMMdd-HHmmss>" from the given local time text.
QString damagedCopyName(const QString &fileName, const QString &timeStamp);

} // namespace SettingsRecovery
