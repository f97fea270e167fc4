#include "CellText.h"

#include <QLocale>
#include <cstdint>
#include <cstring>

namespace celltext {
namespace {

const QChar Ellipsis(0x2026);

QString text(std::string_view bytes, int maxChars)
{
    // Decode only what can be shown: a few bytes per character, cut on a character boundary.
    std::size_t take = std::min(bytes.size(), static_cast<std::size_t>(maxChars) * 4 + 4);
    bool cut = take < bytes.size();
    if (cut)
        while (take > 0 && (static_cast<unsigned char>(bytes[take]) & 0xC0) == 0x80)
            --take;
    const QString decoded = QString::fromUtf8(bytes.data(), static_cast<qsizetype>(take));
    QString shown;
    shown.reserve(std::min<qsizetype>(decoded.size(), maxChars) + 1);
    for (qsizetype i = 0; i < decoded.size(); ++i) {
        if (shown.size() >= maxChars) {
            cut = true;
            break;
        }
        const QChar c = decoded.at(i);
        if (c == QLatin1Char('\n') || c == QLatin1Char('\r')) {
            // The first line only; a value that goes on after it says so.
            for (qsizetype j = i; j < decoded.size() && !cut; ++j)
                cut = decoded.at(j) != QLatin1Char('\n') && decoded.at(j) != QLatin1Char('\r');
            break;
        }
        if (c == QLatin1Char('\t'))
            shown += QLatin1Char(' ');
        else if (c.unicode() == 0)
            shown += QStringLiteral("\\0"); // as SQL writes it; every font has these glyphs
        else if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            shown += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else
            shown += c;
    }
    if (cut) shown += Ellipsis;
    return shown;
}

QString hex(std::string_view bytes, int maxChars)
{
    if (bytes.empty()) return {};
    static const char digits[] = "0123456789ABCDEF";
    const std::size_t room = static_cast<std::size_t>(std::max(maxChars - 3, 2)) / 2;
    const std::size_t shown = std::min(bytes.size(), room);
    QString out = QStringLiteral("0x");
    out.reserve(static_cast<qsizetype>(shown * 2 + 3));
    for (std::size_t i = 0; i < shown; ++i) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        out += QLatin1Char(digits[b >> 4]);
        out += QLatin1Char(digits[b & 15]);
    }
    if (shown < bytes.size()) out += Ellipsis;
    return out;
}

QString bits(std::string_view bytes)
{
    QString digits;
    for (const char c : bytes)
        for (int bit = 7; bit >= 0; --bit) {
            const bool one = (static_cast<unsigned char>(c) >> bit) & 1;
            if (one || !digits.isEmpty()) digits += QLatin1Char(one ? '1' : '0');
        }
    if (digits.isEmpty()) digits = QStringLiteral("0");
    return QStringLiteral("b'") + digits + QLatin1Char('\'');
}

// Well-known binary, read with every length checked; the text stops growing at its limit.
class WkbWriter
{
public:
    WkbWriter(std::string_view bytes, int maxChars) : m_bytes(bytes), m_limit(maxChars) {}

    bool geometry(int depth)
    {
        if (full()) return true;
        if (depth > 8) return false;
        std::uint8_t order = 0;
        if (!byte(order) || order > 1) return false;
        m_little = order == 1;
        std::uint32_t type = 0;
        if (!u32(type)) return false;
        static const char *const names[] = {
            "POINT",           "LINESTRING",   "POLYGON",           "MULTIPOINT",
            "MULTILINESTRING", "MULTIPOLYGON", "GEOMETRYCOLLECTION"};
        if (type < 1 || type > 7) return false;
        put(QLatin1String(names[type - 1]));
        put(QStringLiteral("("));
        bool ok = true;
        switch (type) {
        case 1:
            ok = point();
            break;
        case 2:
            ok = points();
            break;
        case 3:
            ok = rings();
            break;
        default: {
            std::uint32_t count = 0;
            if (!u32(count)) return false;
            for (std::uint32_t i = 0; ok && i < count && !full(); ++i) {
                if (i) put(QStringLiteral(","));
                ok = geometry(depth + 1);
            }
        }
        }
        put(QStringLiteral(")"));
        return ok;
    }
    bool full() const { return m_out.size() > m_limit; }
    bool atEnd() const { return m_pos == m_bytes.size(); }
    QString result() const
    {
        if (!full()) return m_out;
        return m_out.left(m_limit) + Ellipsis;
    }

private:
    bool point()
    {
        double x = 0, y = 0;
        if (!f64(x) || !f64(y)) return false;
        put(QString::number(x, 'g', QLocale::FloatingPointShortest) + QLatin1Char(' ') +
            QString::number(y, 'g', QLocale::FloatingPointShortest));
        return true;
    }
    bool points()
    {
        std::uint32_t count = 0;
        if (!u32(count)) return false;
        for (std::uint32_t i = 0; i < count && !full(); ++i) {
            if (i) put(QStringLiteral(","));
            if (!point()) return false;
        }
        return true;
    }
    bool rings()
    {
        std::uint32_t count = 0;
        if (!u32(count)) return false;
        for (std::uint32_t i = 0; i < count && !full(); ++i) {
            if (i) put(QStringLiteral(","));
            put(QStringLiteral("("));
            if (!points()) return false;
            put(QStringLiteral(")"));
        }
        return true;
    }
    bool byte(std::uint8_t &v)
    {
        if (m_pos + 1 > m_bytes.size()) return false;
        v = static_cast<std::uint8_t>(m_bytes[m_pos++]);
        return true;
    }
    bool u32(std::uint32_t &v)
    {
        if (m_pos + 4 > m_bytes.size()) return false;
        unsigned char b[4];
        std::memcpy(b, m_bytes.data() + m_pos, 4);
        m_pos += 4;
        v = m_little ? (b[0] | b[1] << 8 | b[2] << 16 | std::uint32_t(b[3]) << 24)
                     : (b[3] | b[2] << 8 | b[1] << 16 | std::uint32_t(b[0]) << 24);
        return true;
    }
    bool f64(double &v)
    {
        if (m_pos + 8 > m_bytes.size()) return false;
        unsigned char b[8];
        std::memcpy(b, m_bytes.data() + m_pos, 8);
        m_pos += 8;
        std::uint64_t bits = 0;
        for (int i = 0; i < 8; ++i)
            bits |= std::uint64_t(b[m_little ? i : 7 - i]) << (8 * i);
        std::memcpy(&v, &bits, 8);
        return true;
    }
    void put(const QString &s)
    {
        if (!full()) m_out += s;
    }

    std::string_view m_bytes;
    std::size_t m_pos = 0;
    bool m_little = true;
    int m_limit;
    QString m_out;
};

QString geometry(std::string_view bytes, int maxChars)
{
    if (bytes.empty()) return {};
    // The server keeps a 4-byte SRID, little-endian, before the well-known binary.
    if (bytes.size() >= 4 + 5) {
        const auto *b = reinterpret_cast<const unsigned char *>(bytes.data());
        const std::uint32_t srid = b[0] | b[1] << 8 | b[2] << 16 | std::uint32_t(b[3]) << 24;
        WkbWriter writer(bytes.substr(4), maxChars);
        if (writer.geometry(0) && (writer.full() || writer.atEnd())) {
            const QString wkt = writer.result();
            return srid ? QStringLiteral("SRID=%1;").arg(srid) + wkt : wkt;
        }
    }
    return QStringLiteral("GEOMETRY (%1 bytes)").arg(bytes.size());
}

} // namespace

QString display(std::string_view bytes, TCellFormat format, int maxChars)
{
    switch (format) {
    case TCellFormat::Hex:
        return hex(bytes, maxChars);
    case TCellFormat::Bit:
        return bits(bytes.substr(0, 8));
    case TCellFormat::Geometry:
        return geometry(bytes, maxChars);
    case TCellFormat::Text:
        break;
    }
    return text(bytes, maxChars);
}

} // namespace celltext
