#pragma once

// The statements the table commands send, and the reading of the structure answers. Names are
// always quoted identifiers; a filter is the user's own SQL condition, by design.
#include "mySQLCommon.h"

#include <optional>
#include <string>
#include <vector>

namespace tablesql {

// What the grid shows of a table: a filter (a WHERE condition as typed) and a sort (a column,
// ascending or descending; none: the table's own order).
struct View
{
    std::string Where;
    std::string OrderBy;
    bool Descending = false;
    bool filtered() const { return !Where.empty(); }
    bool sorted() const { return !OrderBy.empty(); }
};

// A header click: ascending, then descending, then the table's own order; another column starts
// ascending.
void CycleSort(View &view, const std::string &column);

TmySQLStatement Select(const std::string &database, const std::string &table, const View &view);
TmySQLStatement Drop(const std::string &database, const std::string &table);
// Within its database.
TmySQLStatement Rename(const std::string &database, const std::string &from, const std::string &to);
TmySQLStatement Truncate(const std::string &database, const std::string &table);

// The structure page's questions.
TmySQLStatement Columns(const std::string &database, const std::string &table);
TmySQLStatement Indexes(const std::string &database, const std::string &table);
TmySQLStatement ForeignKeys(const std::string &database, const std::string &table);
TmySQLStatement Triggers(const std::string &database, const std::string &table);
TmySQLStatement Create(const std::string &database, const std::string &table);

// SHOW INDEX rows (Key_name, Seq_in_index, Column_name, Non_unique, Index_type) grouped into
// indexes, each with its columns in their order, in the order the server lists them.
struct IndexRow
{
    std::string Name;
    int Seq = 0;
    std::string Column;
    bool NonUnique = true;
    std::string Type;
};
struct Index
{
    std::string Name;
    std::vector<std::string> Columns;
    bool Unique = false;
    std::string Type;
};
std::vector<Index> GroupIndexes(const std::vector<IndexRow> &rows);

} // namespace tablesql
