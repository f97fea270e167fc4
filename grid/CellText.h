#pragma once

#include <QString>
#include <string_view>

// How a column's bytes are shown. The grid stores every value whole; what it draws, and what it
// tells screen readers and its owner, is a bounded text made from them.
enum class TCellFormat : unsigned char
{
    Text,     // UTF-8 text: the first line, NUL shown as \0, other control bytes as \xNN
    Hex,      // binary data: 0x and hexadecimal digits
    Bit,      // a bit value: b'101'
    Geometry, // a spatial value (SRID and WKB): its text form, POINT(1 2)
};

namespace celltext {
// At most about this many characters are shown of any value; a longer one ends in "…".
constexpr int DefaultLimit = 256;
QString display(std::string_view bytes, TCellFormat format, int maxChars = DefaultLimit);
} // namespace celltext
