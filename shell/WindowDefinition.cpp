#include "shell/WindowDefinition.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPixmap>
#include <QScreen>
#include <QSvgRenderer>
#include <QWidget>

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
    QRect area;
    if (owner)
        area = owner->frameGeometry();
    else if (const QScreen *screen = QGuiApplication::primaryScreen())
        area = screen->availableGeometry();
    if (area.isEmpty())
        return;
    QRect frame = window->frameGeometry();
    frame.moveCenter(area.center());
    window->move(frame.topLeft());
}

QPixmap svgPixmap(const QString &resource, const QSize &size)
{
    QPixmap pixmap(size);
    pixmap.fill(Qt::transparent);
    QSvgRenderer renderer(resource);
    QPainter painter(&pixmap);
    renderer.render(&painter);
    return pixmap;
}
