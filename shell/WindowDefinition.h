#pragma once

#include <QtGlobal>

// Small helpers that complete what a Designer .ui file can say about a
// window: fractional font sizes, fore colours, centring and SVG pictures.

class QColor;
class QIcon;
class QPixmap;
class QSize;
class QString;
class QWidget;

// Designer stores whole point sizes only. A widget whose definition carries
// the dynamic property "pointSizeF" (a double, e.g. 9.75) gets exactly that
// size; call once after setupUi() on the window.
void applyExactPointSizes(QWidget *window);

// Sets the colour in which a label, frame caption or button writes its text,
// in every colour group, so it holds while the window is inactive too.
void setForeColor(QWidget *widget, const QColor &color);
QColor foreColor(const QWidget *widget);

// Places window, frame and all, centred over owner's window (or over the
// primary screen's available area when owner is null), kept on the screen.
void centreOver(QWidget *window, const QWidget *owner);

// Renders an SVG resource at a fixed size in device-independent pixels, with
// devicePixelRatio device pixels to each: drawn at its logical size it is as
// sharp as the screen allows. The pictures of the main window's first
// frame were drawn by the build at scale 1 and are only copied; any other is
// drawn here from the SVG.
QPixmap svgPixmap(const QString &resource, const QSize &size, qreal devicePixelRatio = 1.0);

// How many pictures svgPixmap has drawn from their SVG in this process
// rather than taken from the build's.
int svgPicturesDrawn();

// The window icon at the sizes a window manager draws it, each rendered
// from the SVG rather than scaled.
QIcon svgIcon(const QString &resource);
