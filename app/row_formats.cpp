#include "row_formats.h"

#include "mySQLCommon.h"

#include <algorithm>

namespace rowformat {
namespace {

void tsvField(std::string_view text, std::string &out)
{
    for (const char c : text) {
        switch (c) {
        case '\t':
            out += "\\t";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\\':
            out += "\\\\";
            break;
        default:
            out += c;
        }
    }
}

void csvField(std::string_view text, std::string &out, std::string_view null = {})
{
    // Quoted only when it has to be; an empty text, and a text that reads as the NULL word, are
    // quoted so that they are not NULL.
    const bool quote = text.empty() || text == null ||
                       text.find_first_of(",\"\r\n") != std::string_view::npos ||
                       text.front() == ' ' || text.back() == ' ';
    if (!quote) {
        out += text;
        return;
    }
    out += '"';
    for (const char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    out += '"';
}

// A number the server sent, as JSON allows it; anything else goes as a string.
bool jsonNumber(std::string_view t)
{
    std::size_t i = 0;
    if (i < t.size() && t[i] == '-') ++i;
    const std::size_t intStart = i;
    while (i < t.size() && t[i] >= '0' && t[i] <= '9')
        ++i;
    if (i == intStart || (t[intStart] == '0' && i - intStart > 1)) return false;
    if (i < t.size() && t[i] == '.') {
        const std::size_t frac = ++i;
        while (i < t.size() && t[i] >= '0' && t[i] <= '9')
            ++i;
        if (i == frac) return false;
    }
    if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
        ++i;
        if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
        const std::size_t exp = i;
        while (i < t.size() && t[i] >= '0' && t[i] <= '9')
            ++i;
        if (i == exp) return false;
    }
    return i == t.size();
}

bool plainSqlText(std::string_view t)
{
    // Quoted as it is under every SQL mode: no backslash (NO_BACKSLASH_ESCAPES reads it
    // otherwise) and no control character.
    return std::none_of(t.begin(), t.end(), [](char c) {
        return c == '\\' || (static_cast<unsigned char>(c) < 0x20 && c != '\t');
    });
}

} // namespace

std::string hex(std::string_view bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

std::string base64(std::string_view bytes)
{
    static const char table[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const unsigned v = static_cast<unsigned char>(bytes[i]) << 16 |
                           static_cast<unsigned char>(bytes[i + 1]) << 8 |
                           static_cast<unsigned char>(bytes[i + 2]);
        out += table[v >> 18];
        out += table[(v >> 12) & 63];
        out += table[(v >> 6) & 63];
        out += table[v & 63];
    }
    if (i < bytes.size()) {
        unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
        if (i + 1 < bytes.size()) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        out += table[v >> 18];
        out += table[(v >> 12) & 63];
        out += i + 1 < bytes.size() ? table[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

std::string jsonString(std::string_view utf8)
{
    std::string out = "\"";
    for (const char c : utf8) {
        const auto b = static_cast<unsigned char>(c);
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (b < 0x20) {
                static const char digits[] = "0123456789abcdef";
                out += "\\u00";
                out += digits[b >> 4];
                out += digits[b & 15];
            } else {
                out += c;
            }
        }
    }
    out += '"';
    return out;
}

std::string sqlString(std::string_view utf8)
{
    if (!plainSqlText(utf8)) return "_utf8mb4 X'" + hex(utf8) + "'";
    std::string out = "'";
    for (const char c : utf8) {
        if (c == '\'') out += '\'';
        out += c;
    }
    out += '\'';
    return out;
}

void begin(Kind kind, const std::vector<Column> &columns, const Options &options, std::string &out)
{
    if (kind == Kind::Json) {
        out += '[';
        return;
    }
    if (kind == Kind::Insert || kind == Kind::JsonLines || !options.Header) return;
    for (std::size_t c = 0; c < columns.size(); ++c) {
        if (c > 0) out += kind == Kind::Tsv ? '\t' : ',';
        if (kind == Kind::Tsv)
            tsvField(columns[c].Name, out);
        else
            csvField(columns[c].Name, out);
    }
    out += kind == Kind::Csv ? "\r\n" : "\n";
}

void row(Kind kind, const std::vector<Column> &columns, const Options &options, const Cell &cell,
         bool first, std::string &out)
{
    const int count = static_cast<int>(columns.size());
    switch (kind) {
    case Kind::Tsv:
    case Kind::Csv:
        for (int c = 0; c < count; ++c) {
            if (c > 0) out += kind == Kind::Tsv ? '\t' : ',';
            const std::optional<std::string_view> value = cell(c);
            const Column &column = columns[static_cast<std::size_t>(c)];
            if (!value) {
                out += kind == Kind::Tsv ? options.Null : options.CsvNull;
                continue;
            }
            // Bytes in hexadecimal, as the grid shows them; no bytes, an empty field.
            const std::string shown =
                (column.Binary || column.Bit) && options.BinaryAsHex && !value->empty()
                    ? "0x" + hex(*value)
                    : std::string(*value);
            if (kind == Kind::Tsv)
                tsvField(shown, out);
            else
                csvField(shown, out, options.CsvNull);
        }
        out += kind == Kind::Csv ? "\r\n" : "\n";
        return;
    case Kind::Json:
    case Kind::JsonLines:
        if (kind == Kind::Json)
            out += first ? "\n{" : ",\n{";
        else
            out += '{';
        for (int c = 0; c < count; ++c) {
            const Column &column = columns[static_cast<std::size_t>(c)];
            if (c > 0) out += ", ";
            out += jsonString(column.Name);
            out += ": ";
            const std::optional<std::string_view> value = cell(c);
            if (!value)
                out += "null";
            else if (column.Binary || column.Bit)
                out += "{\"base64\": \"" + base64(*value) + "\"}"; // bytes, noted as such
            else if (column.Number && jsonNumber(*value))
                out += *value;
            else
                out += jsonString(*value);
        }
        out += kind == Kind::Json ? "}" : "}\n";
        return;
    case Kind::Insert:
        out += "INSERT INTO " + options.Table + " (";
        for (int c = 0; c < count; ++c) {
            if (c > 0) out += ", ";
            out += QuoteIdentifier(columns[static_cast<std::size_t>(c)].Name);
        }
        out += ") VALUES (";
        for (int c = 0; c < count; ++c) {
            const Column &column = columns[static_cast<std::size_t>(c)];
            if (c > 0) out += ", ";
            const std::optional<std::string_view> value = cell(c);
            if (!value)
                out += "NULL";
            else if (column.Binary || column.Bit)
                out += "X'" + hex(*value) + "'";
            else if (column.Number && jsonNumber(*value))
                out += *value;
            else
                out += sqlString(*value);
        }
        out += ");\n";
        return;
    }
}

void end(Kind kind, std::string &out)
{
    if (kind == Kind::Json) out += "\n]\n";
}

} // namespace rowformat
