#include "convert.h"

TConvertError::TConvertError(const QString &text)
    : std::runtime_error(
          QStringLiteral("'%1' is not a valid integer value").arg(text).toStdString())
{
}

namespace convert {
namespace {
int hexValue(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9') return u - u'0';
    if (u >= u'a' && u <= u'f') return u - u'a' + 10;
    if (u >= u'A' && u <= u'F') return u - u'A' + 10;
    return -1;
}
} // namespace

std::optional<std::int32_t> tryStrToInt(const QString &text)
{
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && text[i] == QLatin1Char(' '))
        ++i;
    if (i == n) return std::nullopt;
    // Hexadecimal: a prefix, then one to eight digits, nothing else.
    qsizetype digits = -1;
    if (text[i] == QLatin1Char('$') || text[i] == QLatin1Char('x') || text[i] == QLatin1Char('X'))
        digits = i + 1;
    else if (text[i] == QLatin1Char('0') && i + 1 < n &&
             (text[i + 1] == QLatin1Char('x') || text[i + 1] == QLatin1Char('X')))
        digits = i + 2;
    if (digits >= 0) {
        const qsizetype count = n - digits;
        if (count < 1 || count > 8) return std::nullopt;
        std::uint32_t value = 0;
        for (qsizetype k = digits; k < n; ++k) {
            const int v = hexValue(text[k]);
            if (v < 0) return std::nullopt;
            value = value * 16 + static_cast<std::uint32_t>(v);
        }
        return static_cast<std::int32_t>(value);
    }
    bool negative = false;
    if (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-')) {
        negative = text[i] == QLatin1Char('-');
        ++i;
    }
    if (i == n) return std::nullopt;
    std::int64_t value = 0;
    for (; i < n; ++i) {
        const char16_t u = text[i].unicode();
        if (u < u'0' || u > u'9') return std::nullopt;
        value = value * 10 + (u - u'0');
        if (value > 2147483648LL) return std::nullopt;
    }
    if (negative) value = -value;
    if (value > 2147483647LL) return std::nullopt;
    return static_cast<std::int32_t>(value);
}

std::int32_t StrToInt(const QString &text)
{
    const auto value = tryStrToInt(text);
    if (!value) throw TConvertError(text);
    return *value;
}
} // namespace convert
