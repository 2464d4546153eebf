#include "shell/WindowDefinition.h"

#include "shell/SvgPicture.h"

#include <QGuiApplication>
#include <QPainter>
#include <QIcon>
#include <QPixmap>
#include <QResource>
#include <QScreen>
#include <QWidget>

#include <algorithm>
#include <cstring>

namespace {

void applyPointSize(QWidget *widget)
{
    const QVariant size = widget->property("pointSizeF");
    if (!size.isValid())
        return;
    QFont font = widget->font();
    font.setPointSizeF(size.toDouble());
    widget->setFont(font);
}

int g_svgPicturesDrawn = 0;

// The picture the build drew ahead at exactly this size, or a null image.
QImage prerenderedPicture(const QString &resource, const QSize &pixels)
{
    const QString base = resource.section(QLatin1Char('/'), -1).section(QLatin1Char('.'), 0, 0);
    const QResource kept(QStringLiteral(":/prerendered/") + prerenderedPictureName(base, pixels));
    if (!kept.isValid())
        return {};
    const QByteArray data = kept.uncompressedData();
    QImage image(pixels, QImage::Format_ARGB32_Premultiplied);
    if (image.isNull() || data.size() != image.sizeInBytes())
        return {};
    std::memcpy(image.bits(), data.constData(), size_t(data.size()));
    return image;
}

} // namespace

void applyExactPointSizes(QWidget *window)
{
    applyPointSize(window);
    const auto children = window->findChildren<QWidget *>();
    for (QWidget *child : children)
        applyPointSize(child);
}

void setForeColor(QWidget *widget, const QColor &color)
{
    QPalette palette = widget->palette();
    for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
        palette.setColor(QPalette::Active, role, color);
        palette.setColor(QPalette::Inactive, role, color);
    }
    widget->setPalette(palette);
}

QColor foreColor(const QWidget *widget)
{
    return widget->palette().color(QPalette::Active, QPalette::WindowText);
}

void centreOver(QWidget *window, const QWidget *owner)
{
    const QScreen *screen = owner ? owner->screen() : QGuiApplication::primaryScreen();
    const QRect available = screen ? screen->availableGeometry() : QRect();
    const QRect area = owner ? owner->window()->frameGeometry() : available;
    if (area.isEmpty())
        return;
    QRect placed = window->frameGeometry();
    placed.moveCenter(area.center());
    // An owner near the edge of the screen must not push the window off it.
    if (!available.isEmpty()) {
        placed.moveLeft(std::clamp(placed.left(), available.left(),
                                   std::max(available.left(), available.right() + 1 - placed.width())));
        placed.moveTop(std::clamp(placed.top(), available.top(),
                                  std::max(available.top(), available.bottom() + 1 - placed.height())));
    }
    window->move(placed.topLeft());
}

QPixmap svgPixmap(const QString &resource, const QSize &size, qreal devicePixelRatio)
{
    const qreal ratio = devicePixelRatio > 0 ? devicePixelRatio : 1.0;
    const QSize pixels(qRound(size.width() * ratio), qRound(size.height() * ratio));
    QImage image = prerenderedPicture(resource, pixels);
    if (image.isNull()) {
        image = renderSvgPicture(resource, pixels);
        ++g_svgPicturesDrawn;
    }
    if (image.isNull()) {
        // A picture that cannot be read leaves its place empty.
        image = QImage(pixels, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
    }
    QPixmap pixmap = QPixmap::fromImage(std::move(image));
    pixmap.setDevicePixelRatio(ratio);
    return pixmap;
}

int svgPicturesDrawn()
{
    return g_svgPicturesDrawn;
}

QIcon svgIcon(const QString &resource)
{
    QIcon icon;
    // The sizes a window manager shows in title bars and task switchers; a
    // dock or menu takes the larger installed theme icons of the desktop
    // entry instead. Each is rendered when the window is first shown, so
    // the large ones would only slow the start.
    for (const int side : {16, 24, 32, 48, 64})
        icon.addPixmap(svgPixmap(resource, QSize(side, side)));
    return icon;
}
