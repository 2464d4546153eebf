#pragma once

// The property bag in which a control saves its properties with the window
// that holds it. Names are matched without regard to case and kept in lower
// case, in the order of writing.
//
// Values written by a control keep their type. A bag loaded from text (a
// window definition) holds strings; read() converts them to the type of the
// default it is given: numbers in decimal or "0x" hex, flags as
// "true"/"false" (or any number, 0 = false), fonts as QFont::toString().
// A value that does not convert yields the default.

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <utility>

class PropertyBag
{
public:
    // The stored value of name, or defaultValue when it is absent.
    QVariant read(const QString &name, const QVariant &defaultValue) const;
    // Stores value under name; a value equal to defaultValue is not stored
    // (and drops what an earlier write stored).
    void write(const QString &name, const QVariant &value, const QVariant &defaultValue);

    bool contains(const QString &name) const;
    QStringList names() const;  // lower case, in the order written
    qsizetype size() const { return m_entries.size(); }
    bool isEmpty() const { return m_entries.isEmpty(); }

    // "name=value" entries with lower-case names, for a window definition.
    QStringList toStringList() const;
    // The reverse; an entry without "=" is skipped, and the value runs from
    // the first "=" to the end.
    static PropertyBag fromStringList(const QStringList &entries);

private:
    qsizetype indexOf(const QString &name) const;

    QList<std::pair<QString, QVariant>> m_entries;
};
