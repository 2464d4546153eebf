#pragma once

#include <QImage>
#include <QImageReader>
#include <QSize>
#include <QString>

// Draws an SVG picture at a size in device pixels, or gives a null image
// when it cannot be read. The game draws its pictures with it, and so does
// the build for the pictures it draws ahead (see prerenderedPictureName), so
// that both give the very same pixels. Through Qt's SVG image plug-in, which
// is loaded only when a picture is drawn: the game's first frame at scale 1
// needs none.
inline QImage renderSvgPicture(const QString &source, const QSize &pixels)
{
    QImageReader reader(source, "svg");
    reader.setScaledSize(pixels);
    QImage image = reader.read();
    if (image.size() != pixels)
        return {};
    return image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

// The name under which the build keeps a picture drawn ahead, its premultiplied
// ARGB pixels row after row in the build machine's byte order: "clear-25x17.argb"
// for clear.svg at 25 by 17 pixels.
inline QString prerenderedPictureName(const QString &svgBaseName, const QSize &pixels)
{
    return QStringLiteral("%1-%2x%3.argb").arg(svgBaseName).arg(pixels.width()).arg(pixels.height());
}
