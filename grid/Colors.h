#pragma once

#include <QColor>
#include <cstdint>

// Colours are kept as 32-bit windowing-system values: 0x00BBGGRR for a plain colour, and a value
// with the top bit set (negative as a signed integer) naming a system colour by its low byte.
using TColor = std::int32_t;

namespace Colors {
constexpr TColor rgb(int r, int g, int b)
{
    return r | (g << 8) | (b << 16);
}
constexpr bool isSystem(TColor c)
{
    return c < 0;
}
// System colour codes as the windowing system numbers them.
constexpr TColor clBtnFace = static_cast<TColor>(0x8000000F);
constexpr TColor clWindow = static_cast<TColor>(0x80000005);
constexpr TColor clWindowText = static_cast<TColor>(0x80000008);
constexpr TColor clBtnText = static_cast<TColor>(0x80000012);
constexpr TColor clHighlight = static_cast<TColor>(0x8000000D);
constexpr TColor clHighlightText = static_cast<TColor>(0x8000000E);
// Plain colour to QColor; system colours map onto the matching palette role.
QColor toQColor(TColor c);
} // namespace Colors
