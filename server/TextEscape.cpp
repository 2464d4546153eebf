#include "server/TextEscape.h"

#include <QList>

QByteArray escapeBytes(QByteArrayView bytes)
{
    static constexpr char Hex[] = "0123456789abcdef";
    QByteArray escaped;
    escaped.reserve(bytes.size());
    for (char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte >= 0x7f || c == '"' || c == '\\') {
            escaped += "\\x";
            escaped += Hex[byte >> 4];
            escaped += Hex[byte & 15];
        } else {
            escaped += c;
        }
    }
    return escaped;
}

namespace {

bool isUnsafe(char32_t c)
{
    // A tab separates columns and moves nothing else.
    return (c < 0x20 && c != '\t') || (c >= 0x7f && c <= 0x9f) || c == 0x061c || c == 0x200e || c == 0x200f
           || (c >= 0x202a && c <= 0x202e) || (c >= 0x2066 && c <= 0x2069);
}

} // namespace

QString escapeControls(const QString &text)
{
    QString escaped;
    escaped.reserve(text.size());
    for (const char32_t c : text.toUcs4()) {
        if (isUnsafe(c))
            escaped += QStringLiteral("\\u{%1}").arg(uint(c), 4, 16, QLatin1Char('0'));
        else
            escaped += QString::fromUcs4(&c, 1);
    }
    return escaped;
}
