#include "controls/SystemColor.h"

#include <QGuiApplication>
#include <QPalette>

namespace SystemColor {

namespace {

// The Windows system colour indices that have a counterpart in QPalette.
bool roleFor(uint index, QPalette::ColorRole &role)
{
    switch (index) {
    case 0: role = QPalette::Button; return true;            // scroll bar
    case 4: role = QPalette::Window; return true;            // menu
    case 5: role = QPalette::Base; return true;              // window background
    case 7: role = QPalette::WindowText; return true;        // menu text
    case 8: role = QPalette::Text; return true;              // window text
    case 13: role = QPalette::Highlight; return true;
    case 14: role = QPalette::HighlightedText; return true;
    case 15: role = QPalette::Button; return true;           // button face
    case 16: role = QPalette::Dark; return true;             // button shadow
    case 18: role = QPalette::ButtonText; return true;
    case 20: role = QPalette::Light; return true;            // 3-D highlight
    case 21: role = QPalette::Shadow; return true;           // 3-D dark shadow
    case 22: role = QPalette::Midlight; return true;         // 3-D light
    case 23: role = QPalette::ToolTipText; return true;
    case 24: role = QPalette::ToolTipBase; return true;
    default: return false;
    }
}

} // namespace

QColor toColor(uint value)
{
    if (value & 0x80000000u) {
        QPalette::ColorRole role;
        if (!roleFor(value & 0x00FFFFFFu, role))
            return QColor(Qt::black);
        return QGuiApplication::palette().color(QPalette::Active, role);
    }
    return QColor(int(value & 0xFF), int((value >> 8) & 0xFF), int((value >> 16) & 0xFF));
}

uint fromColor(const QColor &color)
{
    return uint(color.red()) | uint(color.green()) << 8 | uint(color.blue()) << 16;
}

} // namespace SystemColor
