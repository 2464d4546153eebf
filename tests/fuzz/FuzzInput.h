#pragma once

// Helpers shared by the fuzz targets: turning libFuzzer's bytes into the
// texts the parsers take.

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <utility>

namespace FuzzInput {

// The bytes as UTF-16 code units, so that unpaired surrogates and every
// other unit a window definition or a paste can hold are reached too.
inline QString utf16(const std::uint8_t *data, std::size_t size)
{
    QString text(qsizetype(size / 2), Qt::Uninitialized);
    for (std::size_t i = 0; i + 1 < size; i += 2)
        text[qsizetype(i / 2)] = QChar(char16_t(data[i] | (data[i + 1] << 8)));
    return text;
}

// Two texts from one input: split at the first zero byte pair (or halfway
// when there is none).
inline std::pair<QString, QString> twoTexts(const std::uint8_t *data, std::size_t size)
{
    const QString all = utf16(data, size);
    qsizetype split = all.indexOf(QChar(0));
    if (split < 0)
        return {all.left(all.size() / 2), all.mid(all.size() / 2)};
    return {all.left(split), all.mid(split + 1)};
}

inline QByteArray bytes(const std::uint8_t *data, std::size_t size)
{
    return QByteArray(reinterpret_cast<const char *>(data), qsizetype(size));
}

} // namespace FuzzInput
