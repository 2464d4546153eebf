#include "controls/PropertyBag.h"

#include <QFont>

namespace {

// Decimal, or hex with a "0x" prefix (colour values read better that way).
qlonglong toNumber(const QString &text, bool *ok)
{
    if (text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        return text.mid(2).toLongLong(ok, 16);
    return text.toLongLong(ok, 10);
}

// A stored string as a value of the default's type.
QVariant fromText(const QString &text, const QVariant &defaultValue)
{
    const QString trimmed = text.trimmed();
    bool ok = false;
    switch (defaultValue.metaType().id()) {
    case QMetaType::QString:
        return text;
    case QMetaType::QFont: {
        QFont font;
        return font.fromString(trimmed) ? QVariant(font) : defaultValue;
    }
    case QMetaType::Bool: {
        if (trimmed.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0)
            return true;
        if (trimmed.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0)
            return false;
        const qlonglong number = toNumber(trimmed, &ok);
        return ok ? QVariant(number != 0) : defaultValue;
    }
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Short:
    case QMetaType::LongLong: {
        const qlonglong number = toNumber(trimmed, &ok);
        if (!ok)
            return defaultValue;
        QVariant value(number);
        return value.convert(defaultValue.metaType()) ? value : defaultValue;
    }
    default: {
        QVariant value(text);
        return value.convert(defaultValue.metaType()) ? value : defaultValue;
    }
    }
}

QString toText(const QVariant &value)
{
    if (value.metaType().id() == QMetaType::QFont)
        return value.value<QFont>().toString();
    return value.toString();
}

} // namespace

qsizetype PropertyBag::indexOf(const QString &name) const
{
    for (qsizetype i = 0; i < m_entries.size(); ++i) {
        if (m_entries[i].first.compare(name, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

QVariant PropertyBag::read(const QString &name, const QVariant &defaultValue) const
{
    const qsizetype i = indexOf(name);
    if (i < 0)
        return defaultValue;
    const QVariant &stored = m_entries[i].second;
    if (!defaultValue.isValid() || stored.metaType() == defaultValue.metaType())
        return stored;
    if (stored.metaType().id() == QMetaType::QString)
        return fromText(stored.toString(), defaultValue);
    QVariant converted = stored;
    return converted.convert(defaultValue.metaType()) ? converted : defaultValue;
}

void PropertyBag::write(const QString &name, const QVariant &value, const QVariant &defaultValue)
{
    const qsizetype i = indexOf(name);
    if (value == defaultValue) {
        if (i >= 0)
            m_entries.removeAt(i);
    } else if (i >= 0) {
        m_entries[i].second = value;
    } else {
        m_entries.append({name.toLower(), value});
    }
}

bool PropertyBag::contains(const QString &name) const
{
    return indexOf(name) >= 0;
}

QStringList PropertyBag::names() const
{
    QStringList result;
    for (const auto &entry : m_entries)
        result.append(entry.first);
    return result;
}

QStringList PropertyBag::toStringList() const
{
    QStringList result;
    for (const auto &[name, value] : m_entries)
        result.append(name + QLatin1Char('=') + toText(value));
    return result;
}

PropertyBag PropertyBag::fromStringList(const QStringList &entries)
{
    PropertyBag bag;
    for (const QString &entry : entries) {
        const qsizetype equals = entry.indexOf(QLatin1Char('='));
        if (equals < 0)
            continue;
        const QString name = entry.left(equals).trimmed().toLower();
        const qsizetype i = bag.indexOf(name);
        const QVariant value(entry.mid(equals + 1));
        if (i >= 0)
            bag.m_entries[i].second = value;
        else
            bag.m_entries.append({name, value});
    }
    return bag;
}
