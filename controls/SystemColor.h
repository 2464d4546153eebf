#pragma once

// Colour values as WPTextBox stores them: 32-bit numbers where 0x800000nn
// names system colour nn of the desktop scheme and any other value is an RGB
// colour stored as 0x00BBGGRR.

#include <QColor>

namespace SystemColor {

constexpr uint WindowBackground = 0x80000005;
constexpr uint WindowText = 0x80000008;
constexpr uint ButtonFace = 0x8000000F;
constexpr uint ButtonShadow = 0x80000010;
constexpr uint Light3D = 0x80000016;
constexpr uint Black = 0x00000000;
constexpr uint White = 0x00FFFFFF;

// The colour a value stands for now. System colours come from the
// application palette (active group), so they follow the running desktop;
// an index the palette has no role for gives black. The top byte of an RGB
// value is ignored.
QColor toColor(uint value);

// An RGB colour as a stored value (0x00BBGGRR).
uint fromColor(const QColor &color);

} // namespace SystemColor
