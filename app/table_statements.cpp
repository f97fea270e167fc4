#include "table_statements.h"

#include <algorithm>

namespace tablesql {
namespace {
TmySQLStatement &named(TmySQLStatement &statement, const std::string &database,
                       const std::string &table)
{
    if (!database.empty()) statement.Identifier(database).Text(".");
    return statement.Identifier(table);
}

// information_schema rows of one table, the names as binary literals: matched byte for byte,
// whatever the SQL mode or character set.
TmySQLStatement &ofTable(TmySQLStatement &statement, const char *schemaColumn,
                         const char *tableColumn, const std::string &database,
                         const std::string &table)
{
    statement.Text(" WHERE ").Text(schemaColumn).Text(" = ");
    if (database.empty())
        statement.Text("DATABASE()");
    else
        statement.HexValue(database);
    return statement.Text(" AND ").Text(tableColumn).Text(" = ").HexValue(table);
}
} // namespace

void CycleSort(View &view, const std::string &column)
{
    if (view.OrderBy != column) {
        view.OrderBy = column;
        view.Descending = false;
    } else if (!view.Descending) {
        view.Descending = true;
    } else {
        view.OrderBy.clear();
        view.Descending = false;
    }
}

TmySQLStatement Select(const std::string &database, const std::string &table, const View &view)
{
    TmySQLStatement statement("Select * From ");
    named(statement, database, table);
    // The condition in parentheses and on a line of its own: a comment at its end ends there.
    if (view.filtered()) statement.Text(" WHERE (").Text(view.Where).Text("\n)");
    if (view.sorted())
        statement.Text(" ORDER BY ")
            .Identifier(view.OrderBy)
            .Text(view.Descending ? " DESC" : " ASC");
    statement.Text(";").OnlyReads();
    return statement;
}

TmySQLStatement Drop(const std::string &database, const std::string &table)
{
    TmySQLStatement statement("DROP TABLE ");
    return named(statement, database, table).Text(";");
}

TmySQLStatement Rename(const std::string &database, const std::string &from, const std::string &to)
{
    TmySQLStatement statement("RENAME TABLE ");
    named(statement, database, from).Text(" TO ");
    return named(statement, database, to).Text(";");
}

TmySQLStatement Truncate(const std::string &database, const std::string &table)
{
    TmySQLStatement statement("TRUNCATE TABLE ");
    return named(statement, database, table).Text(";");
}

TmySQLStatement Columns(const std::string &database, const std::string &table)
{
    TmySQLStatement statement("SHOW FULL COLUMNS FROM ");
    return named(statement, database, table).Text(";").OnlyReads();
}

TmySQLStatement Indexes(const std::string &database, const std::string &table)
{
    TmySQLStatement statement("SHOW INDEX FROM ");
    return named(statement, database, table).Text(";").OnlyReads();
}

TmySQLStatement ForeignKeys(const std::string &database, const std::string &table)
{
    TmySQLStatement statement(
        "SELECT CONSTRAINT_NAME, COLUMN_NAME, REFERENCED_TABLE_SCHEMA, REFERENCED_TABLE_NAME, "
        "REFERENCED_COLUMN_NAME FROM information_schema.KEY_COLUMN_USAGE");
    ofTable(statement, "TABLE_SCHEMA", "TABLE_NAME", database, table);
    return statement
        .Text(" AND REFERENCED_TABLE_NAME IS NOT NULL ORDER BY CONSTRAINT_NAME, "
              "ORDINAL_POSITION;")
        .OnlyReads();
}

TmySQLStatement Triggers(const std::string &database, const std::string &table)
{
    TmySQLStatement statement("SELECT TRIGGER_NAME, ACTION_TIMING, EVENT_MANIPULATION, "
                              "ACTION_STATEMENT FROM information_schema.TRIGGERS");
    ofTable(statement, "EVENT_OBJECT_SCHEMA", "EVENT_OBJECT_TABLE", database, table);
    return statement.Text(" ORDER BY ACTION_ORDER;").OnlyReads();
}

TmySQLStatement Create(const std::string &database, const std::string &table)
{
    TmySQLStatement statement("SHOW CREATE TABLE ");
    return named(statement, database, table).Text(";").OnlyReads();
}

std::vector<Index> GroupIndexes(const std::vector<IndexRow> &rows)
{
    std::vector<Index> indexes;
    for (const IndexRow &row : rows) {
        auto at = std::find_if(indexes.begin(), indexes.end(),
                               [&](const Index &index) { return index.Name == row.Name; });
        if (at == indexes.end()) {
            indexes.push_back({row.Name, {}, !row.NonUnique, row.Type});
            at = std::prev(indexes.end());
        }
        std::vector<std::string> &columns = at->Columns;
        const auto place = static_cast<std::size_t>(std::max(row.Seq, 1) - 1);
        if (columns.size() <= place) columns.resize(place + 1);
        columns[place] = row.Column;
    }
    return indexes;
}

} // namespace tablesql
