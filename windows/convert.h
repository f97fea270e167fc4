#pragma once

#include <QString>

#include <cstdint>
#include <optional>
#include <stdexcept>

// A text that is not a whole number: "'%s' is not a valid integer value" with the text.
class TConvertError : public std::runtime_error
{
public:
    explicit TConvertError(const QString &text);
    QString Text() const { return QString::fromStdString(what()); }
};

namespace convert {
// Text to a 32-bit signed integer: leading blanks are skipped; then decimal digits with an
// optional "+" or "-", or, without a sign, up to eight hexadecimal digits after "$", "x", "X",
// "0x" or "0X", taken as a 32-bit pattern. Anything else is an error. Only ASCII digits count.
std::optional<std::int32_t> tryStrToInt(const QString &text);
// The same, throwing TConvertError.
std::int32_t StrToInt(const QString &text);
} // namespace convert
