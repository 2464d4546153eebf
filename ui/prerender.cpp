// Build step: draws the pictures of the main window's first frame ahead, so
// that the game copies their pixels at start instead of parsing and drawing
// SVG before it can show itself.
//
//   tovrika_prerender OUT_DIR FILE.svg=WIDTHxHEIGHT ...
//
// Writes OUT_DIR/<name>-<width>x<height>.argb for each; exits 1 naming the
// first picture it cannot read or write.
#include "shell/SvgPicture.h"

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QRegularExpression>
#include <QSaveFile>

#include <cstdio>

namespace {

int fail(const QString &message)
{
    std::fprintf(stderr, "tovrika_prerender: %s\n", qPrintable(message));
    return 1;
}

} // namespace

int main(int argc, char **argv)
{
    // No display at build time, nor any need for one.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.size() < 2)
        return fail(QStringLiteral("usage: tovrika_prerender OUT_DIR FILE.svg=WIDTHxHEIGHT ..."));
    const QDir out(args[0]);
    if (!QDir().mkpath(out.path()))
        return fail(QStringLiteral("cannot create %1").arg(out.path()));

    static const QRegularExpression picture(QStringLiteral("^(.+\\.svg)=([1-9][0-9]{0,3})x([1-9][0-9]{0,3})$"));
    for (const QString &arg : args.mid(1)) {
        const QRegularExpressionMatch match = picture.match(arg);
        if (!match.hasMatch())
            return fail(QStringLiteral("not FILE.svg=WIDTHxHEIGHT: %1").arg(arg));
        const QString source = match.captured(1);
        const QSize pixels(match.captured(2).toInt(), match.captured(3).toInt());
        const QImage image = renderSvgPicture(source, pixels);
        if (image.isNull())
            return fail(QStringLiteral("cannot draw %1 (is Qt's SVG image plug-in installed?)").arg(source));
        QSaveFile file(out.filePath(prerenderedPictureName(QFileInfo(source).baseName(), pixels)));
        if (!file.open(QIODevice::WriteOnly)
            || file.write(reinterpret_cast<const char *>(image.constBits()), image.sizeInBytes()) != image.sizeInBytes()
            || !file.commit())
            return fail(QStringLiteral("cannot write %1: %2").arg(file.fileName(), file.errorString()));
    }
    return 0;
}
