// Renders the game's SVG icon to a square PNG at build time, for the icon
// theme's fixed sizes, drawn as the game draws its pictures.
//
//   tovrika_render_icon SVG SIZE PNG
#include "shell/SvgPicture.h"

#include <QGuiApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 4) {
        std::fprintf(stderr, "usage: tovrika_render_icon SVG SIZE PNG\n");
        return 2;
    }
    const int size = QByteArray(argv[2]).toInt();
    const QImage image = size > 0 ? renderSvgPicture(QString::fromLocal8Bit(argv[1]), QSize(size, size)) : QImage();
    if (image.isNull()) {
        std::fprintf(stderr, "tovrika_render_icon: cannot read %s\n", argv[1]);
        return 1;
    }
    if (!image.save(QString::fromLocal8Bit(argv[3]), "PNG")) {
        std::fprintf(stderr, "tovrika_render_icon: cannot write %s\n", argv[3]);
        return 1;
    }
    return 0;
}
