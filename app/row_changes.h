#pragma once

// Changes made in the grid and not yet sent: cell edits, new rows and rows to delete, in the
// order made, and the statements that apply each to exactly one row. Qt-free.
//
// A row is identified as the delete identifies it (row_delete.h): byte for byte by the whole
// primary key (else a unique key of NOT NULL columns), or by every column with LIMIT 1. An update
// also compares the old bytes of every column it changes, so a row someone else changed since it
// was read matches nothing. Each statement's outcome is checked to the row: "Rows matched" for an
// update, the affected count for a delete and an insert, and no warning.
#include "row_delete.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace rowchanges {

// What a cell is set to.
struct Value
{
    enum Kind : std::uint8_t
    {
        Bytes,
        Null,
        Default
    } Kind = Bytes;
    std::string Data; // for Bytes: the UTF-8 text typed, or the bytes of a binary value
    static Value of(std::string data) { return Value{Bytes, std::move(data)}; }
    static Value null() { return Value{Null, {}}; }
    static Value byDefault() { return Value{Default, {}}; }
    bool operator==(const Value &other) const = default;
};

enum class Kind : std::uint8_t
{
    Update,
    Insert,
    Delete
};

struct Change
{
    Kind What = Kind::Update;
    int Row = 0;                // the grid row
    std::map<int, Value> Cells; // column → value; an insert's missing columns take DEFAULT
};

class Pending
{
public:
    // A cell of a row read from the server, set to a value; setting it back to what was read
    // (original: its bytes, or none for NULL) drops the edit. A row marked for delete is not
    // edited. Returns false when nothing changed.
    bool setCell(int row, int col, Value value, std::optional<std::string_view> original);
    // A cell of a new row.
    bool setNewCell(int row, int col, Value value);
    // A new row at grid row `row` (the grid's last, added by the caller).
    void addInsert(int row);
    // A read row marked for delete (its edits go with it), or unmarked.
    void toggleDelete(int row);
    // A new row dropped; the rows after it move up by one.
    void dropInsert(int row);

    const Change *find(int row) const;
    const Value *cell(int row, int col) const;
    const std::vector<Change> &changes() const { return m_changes; }
    int count() const { return static_cast<int>(m_changes.size()); }
    bool empty() const { return m_changes.empty(); }
    void clear();

private:
    Change &touch(int row, Kind what);
    void erase(int row);
    void reindex();

    std::vector<Change> m_changes;
    std::unordered_map<int, std::size_t> m_byRow;
};

// The statement for one change. An update or a delete needs the row as read (old).
// With limitOne, LIMIT 1 even for a whole key (a table without transactions, asked Count first).
std::optional<TmySQLStatement> Statement(const rowdelete::Target &target, const Change &change,
                                         const rowdelete::CellReader &old, std::string *why,
                                         bool limitOne = false);
// How many rows an update or a delete would match.
std::optional<TmySQLStatement> Count(const rowdelete::Target &target, const Change &change,
                                     const rowdelete::CellReader &old);
// The row as the server holds it after the change: every column of the grid, by the row's
// identity with the new values (an AUTO_INCREMENT key left to the server by LAST_INSERT_ID()).
// No statement when the new row cannot be found again (a key-less row of DEFAULTs).
std::optional<TmySQLStatement> ReadBack(const rowdelete::Target &target, const Change &change,
                                        const rowdelete::CellReader &old);
// A value as a literal of the column's type that the server reads back exactly.
void AppendLiteral(TmySQLStatement &statement, const TmySQLFieldInfo &field, const Value &value);

// Whether the value the server holds is what was typed: the same bytes (DEFAULT: anything), or
// for BIT the same number however typed (b'101', 5).
bool HoldsTyped(const TmySQLFieldInfo &field, const Value &typed,
                const std::optional<std::string> &stored);

// "Rows matched: N" of mysql_info.
std::optional<std::uint64_t> RowsMatched(std::string_view info);

// What a statement's outcome says, against what the change needed: empty when it touched
// exactly one row with no warning, else why the change fails.
struct Outcome
{
    std::int64_t AffectedRows = -1;
    std::string Info;
    unsigned int Warnings = 0;
    std::vector<std::string> WarningLines;
};
std::string Verdict(const Change &change, const Outcome &outcome);

// The messages the user reads.
inline constexpr const char *ChangedElsewhere =
    "The row was changed or deleted by someone else since it was read";
std::string SeveralMatch(std::uint64_t rows);

} // namespace rowchanges
