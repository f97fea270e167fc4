#pragma once

// The statement that deletes exactly one row shown in the grid, and the question to the server
// that it needs first. Values go as hexadecimal literals, so no statement depends on escaping or
// on the client's idea of the connection's character set; every comparison is byte for byte
// (binary strings compared with =: no collation, no trailing-blank padding; NULL by IS NULL).
#include "mySQLCommon.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace rowdelete {

// Asked of the server right before the rows are read: the columns of the key that names a row
// (the primary key, else a unique key of NOT NULL columns),
// and the character set the server converts text to (empty when it sends text as stored).
struct Key
{
    bool Known = false; // false until the answer is in
    std::vector<std::string> Columns;
    std::optional<std::string> Charset;
    // The session's time zone and SQL mode when the rows were read.
    std::optional<std::string> TimeZone;
    std::optional<std::string> SqlMode;
    // A view the server does not let be changed.
    bool NotUpdatable = false;
    // The table has INVISIBLE columns, which SELECT * leaves out.
    bool HiddenColumns = false;
    // The columns whose default is a constant (not CURRENT_TIMESTAMP, UUID() or another
    // expression): DEFAULT(col) read later is what a row left to it holds.
    std::vector<std::string> FixedDefaults;
};

// What is known of the table the grid shows.
struct Target
{
    std::string Database; // empty: the connection's current database
    std::string Table;
    std::vector<TmySQLFieldInfo> Fields;
    Key TableKey;
};

// One cell of the selected row: its bytes as the server sent them, or no value for SQL NULL.
using CellReader = std::function<std::optional<std::string_view>(int col)>;

// Asks for that key of the table and the session's result character set, in one result of
// two columns: one row ("cs", character set or NULL) and one ("key", column name) per key column.
TmySQLStatement KeyQuery(const std::string &database, const std::string &table);
// Reads that result; a key not Known when it is not the expected shape.
Key ReadKeyAnswer(const std::vector<std::pair<std::string, std::optional<std::string>>> &rows);

// The columns the delete compares: the key's when the result holds every one of them,
// every column otherwise.
std::vector<int> ComparedColumns(const Target &target);

// True when the compared columns are the table's whole key: at most one row matches.
bool WholeKey(const Target &target);
// Why no statement can be built for the target yet, or null.
const char *Refusal(const Target &target);
// `db`.`table`, or `table` for the connection's current database.
void AppendTarget(TmySQLStatement &statement, const Target &target);
// One column compared byte for byte with the value the server sent (NULL by IS NULL).
// With owner, a long value is not copied: owner keeps the bytes the reader gave unchanged.
void AppendMatch(TmySQLStatement &statement, const Target &target, int col,
                 std::optional<std::string_view> value,
                 const std::shared_ptr<const void> &owner = nullptr);
// The compared columns of the row the cells describe, joined by AND.
void AppendIdentity(TmySQLStatement &statement, const Target &target, const CellReader &cell,
                    const std::shared_ptr<const void> &owner = nullptr);

// The delete statement, or no statement and the reason in *why.
std::optional<TmySQLStatement> Build(const Target &target, const CellReader &cell, std::string *why,
                                     const std::shared_ptr<const void> &owner = nullptr);

// A statement shortened for display: at most maxChars characters of its text.
std::string Shortened(const std::string &text, std::size_t maxChars = 300);

} // namespace rowdelete
