#pragma once

// Rows written as text: tab-separated, CSV (RFC 4180), JSON and SQL INSERT statements. One
// definition of each format for every user of it (the grid's copy, exports). Qt-free.
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace rowformat {

enum class Kind
{
    Tsv,
    Csv,
    Json,      // an array of objects
    JsonLines, // an object a line
    Insert
};

struct Column
{
    std::string Name;
    bool Binary = false; // bytes, not text: hex in text formats, base64 in JSON, X'…' in SQL
    bool Bit = false;    // a BIT value: its bytes as the server sends them
    bool Number = false; // written unquoted where the format has numbers
};

// One cell's bytes, or no value for SQL NULL.
using Cell = std::function<std::optional<std::string_view>(int col)>;

struct Options
{
    bool Header = true;       // the column names first (TSV, CSV)
    std::string Null = "\\N"; // TSV's NULL
    std::string Table;        // for INSERT: `table`, or `db`.`table` already quoted
    // CSV's NULL: empty, or a word such as NULL (which LOAD DATA reads as NULL).
    std::string CsvNull;
    // Text formats: bytes as 0x… (for the clipboard), or as they are (for a file).
    bool BinaryAsHex = true;
};

// The text before the first row, each row, and the text after the last one.
void begin(Kind kind, const std::vector<Column> &columns, const Options &options, std::string &out);
void row(Kind kind, const std::vector<Column> &columns, const Options &options, const Cell &cell,
         bool first, std::string &out);
void end(Kind kind, std::string &out);

// Pieces the formats share, for tests and other writers.
std::string hex(std::string_view bytes);
std::string base64(std::string_view bytes);
std::string jsonString(std::string_view utf8);
std::string sqlString(std::string_view utf8);

} // namespace rowformat
