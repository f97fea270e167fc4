#include "row_delete.h"

#include <algorithm>

namespace rowdelete {
namespace {

// Column types by the numbers the protocol gives them.
enum FieldType : int
{
    TypeTiny = 1,
    TypeShort = 2,
    TypeLong = 3,
    TypeLongLong = 8,
    TypeFloat = 4,
    TypeDouble = 5,
    TypeInt24 = 9,
    TypeVarchar = 15,
    TypeVarString = 253,
    TypeString = 254,
};
constexpr unsigned int BinaryCharset = 63;

bool isInteger(int type)
{
    return type == TypeTiny || type == TypeShort || type == TypeLong || type == TypeLongLong ||
           type == TypeInt24;
}

bool isShortString(int type)
{
    return type == TypeVarchar || type == TypeVarString || type == TypeString;
}

bool isDecimalInteger(std::string_view text)
{
    if (!text.empty() && text.front() == '-') text.remove_prefix(1);
    return !text.empty() && text.size() <= 20 &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// A character set name as the server spells them; anything else is not put in a statement.
bool isCharsetName(std::string_view name)
{
    return !name.empty() && name.size() <= 32 && std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
    });
}

bool sentAsStored(const Key &key, const TmySQLFieldInfo &field)
{
    return field.CharsetNr == BinaryCharset || !key.Charset || key.Charset->empty() ||
           *key.Charset == "binary";
}

} // namespace

TmySQLStatement KeyQuery(const std::string &database, const std::string &table)
{
    // Names as binary literals: matched byte for byte, whatever the SQL mode or character set.
    // The session's time zone and SQL mode too: they shape how the rows read (a TIMESTAMP's
    // text, CHAR padding), and a change made elsewhere is made in the same terms.
    TmySQLStatement statement("SELECT 'cs', @@character_set_results UNION ALL SELECT 'tz', "
                              "@@session.time_zone UNION ALL SELECT 'mode', @@session.sql_mode "
                              "UNION ALL SELECT 'key', k.COLUMN_NAME FROM "
                              "information_schema.KEY_COLUMN_USAGE k WHERE ");
    const auto inTable = [&](const char *alias) {
        statement.Text(alias).Text(".TABLE_SCHEMA = ");
        if (database.empty())
            statement.Text("DATABASE()");
        else
            statement.HexValue(database);
        statement.Text(" AND ").Text(alias).Text(".TABLE_NAME = ").HexValue(table);
    };
    // The key that names a row: the primary key, else the unique key of NOT NULL columns with
    // the fewest columns and none approximate (a NULL may repeat in a unique key, so one with a
    // nullable column names nothing). A foreign key's rows in that view are no key of this table.
    inTable("k");
    statement.Text(" AND k.REFERENCED_TABLE_NAME IS NULL AND k.CONSTRAINT_NAME = (SELECT "
                   "c.CONSTRAINT_NAME FROM information_schema.TABLE_CONSTRAINTS c WHERE ");
    inTable("c");
    statement.Text(" AND c.CONSTRAINT_TYPE IN ('PRIMARY KEY', 'UNIQUE') AND NOT EXISTS (SELECT 1 "
                   "FROM information_schema.KEY_COLUMN_USAGE u JOIN information_schema.COLUMNS n "
                   "ON n.COLUMN_NAME = u.COLUMN_NAME WHERE ");
    // Every view of information_schema named by constants: the server then opens this table
    // alone, not every table it has (a join's condition does not narrow its scan).
    inTable("u");
    statement.Text(" AND ");
    inTable("n");
    statement.Text(" AND u.CONSTRAINT_NAME = c.CONSTRAINT_NAME AND u.REFERENCED_TABLE_NAME IS NULL "
                   "AND n.IS_NULLABLE <> 'NO') ORDER BY c.CONSTRAINT_TYPE = 'PRIMARY KEY' DESC, "
                   // An approximate column cannot name the row alone (see ComparedColumns).
                   "EXISTS (SELECT 1 FROM information_schema.KEY_COLUMN_USAGE f JOIN "
                   "information_schema.COLUMNS fc ON fc.COLUMN_NAME = f.COLUMN_NAME WHERE ");
    inTable("f");
    statement.Text(" AND ");
    inTable("fc");
    statement.Text(" AND f.CONSTRAINT_NAME = c.CONSTRAINT_NAME AND f.REFERENCED_TABLE_NAME IS NULL "
                   "AND fc.DATA_TYPE IN ('float', 'double')), "
                   "(SELECT COUNT(*) FROM information_schema.KEY_COLUMN_USAGE w WHERE ");
    inTable("w");
    statement.Text(" AND w.CONSTRAINT_NAME = c.CONSTRAINT_NAME AND w.REFERENCED_TABLE_NAME IS "
                   "NULL), c.CONSTRAINT_NAME LIMIT 1)");
    // INVISIBLE columns are not in SELECT *: without the whole key, rows may differ only there.
    statement.Text(" UNION ALL SELECT 'hidden', COUNT(*) FROM information_schema.COLUMNS h WHERE ");
    inTable("h");
    statement.Text(" AND h.EXTRA LIKE '%INVISIBLE%'");
    // Defaults that are constants: MariaDB quotes a literal and leaves a number bare; an
    // expression is neither, and MySQL marks one DEFAULT_GENERATED. Generated columns have none.
    statement.Text(
        " UNION ALL SELECT 'fixed', d.COLUMN_NAME FROM information_schema.COLUMNS d WHERE ");
    inTable("d");
    statement.Text(" AND d.EXTRA NOT LIKE '%GENERATED%' AND d.EXTRA NOT LIKE '%auto_increment%' "
                   "AND ((d.COLUMN_DEFAULT IS NULL AND d.IS_NULLABLE = 'YES') OR "
                   "d.COLUMN_DEFAULT = 'NULL' OR d.COLUMN_DEFAULT LIKE '''%' OR "
                   "d.COLUMN_DEFAULT REGEXP '^[-+]?[0-9]+([.][0-9]*)?([eE][-+]?[0-9]+)?$')");
    // A view says whether the server lets it be changed at all.
    statement.Text(
        " UNION ALL SELECT 'view', v.IS_UPDATABLE FROM information_schema.VIEWS v WHERE ");
    inTable("v");
    statement.Text(";");
    return statement;
}

Key ReadKeyAnswer(const std::vector<std::pair<std::string, std::optional<std::string>>> &rows)
{
    Key key;
    bool charsetSeen = false;
    for (const auto &[kind, value] : rows) {
        if (kind == "cs" && !charsetSeen) {
            charsetSeen = true;
            key.Charset = value.value_or(std::string());
        } else if (kind == "tz") {
            key.TimeZone = value;
        } else if (kind == "mode") {
            key.SqlMode = value;
        } else if (kind == "key" && value) {
            key.Columns.push_back(*value);
        } else if (kind == "fixed") {
            if (value) key.FixedDefaults.push_back(*value);
        } else if (kind == "hidden") {
            key.HiddenColumns = value && *value != "0";
        } else if (kind == "view") {
            key.NotUpdatable = value != std::optional<std::string>("YES");
        } else {
            return {};
        }
    }
    if (!charsetSeen) return {};
    key.Known = true;
    return key;
}

std::vector<int> ComparedColumns(const Target &target)
{
    std::vector<int> columns;
    const int count = static_cast<int>(target.Fields.size());
    if (target.TableKey.Known && !target.TableKey.Columns.empty()) {
        for (const std::string &key : target.TableKey.Columns) {
            int found = -1;
            for (int c = 0; c < count && found < 0; ++c)
                if (target.Fields[static_cast<std::size_t>(c)].Name == key) found = c;
            // Part of the key is not in the result, or a key column is approximate (the text the
            // server sends for a FLOAT does not tell 0.1 from 0.1000001): the key cannot tell
            // the rows apart.
            const int type = found < 0 ? 0 : target.Fields[static_cast<std::size_t>(found)].Type;
            if (found < 0 || type == TypeFloat || type == TypeDouble) {
                columns.clear();
                break;
            }
            columns.push_back(found);
        }
        if (!columns.empty()) return columns;
    }
    for (int c = 0; c < count; ++c)
        columns.push_back(c);
    return columns;
}

bool WholeKey(const Target &target)
{
    if (!target.TableKey.Known || target.TableKey.Columns.empty()) return false;
    const std::vector<int> columns = ComparedColumns(target);
    if (columns.size() != target.TableKey.Columns.size()) return false;
    for (std::size_t i = 0; i < columns.size(); ++i)
        if (target.Fields[static_cast<std::size_t>(columns[i])].Name != target.TableKey.Columns[i])
            return false;
    return true;
}

const char *Refusal(const Target &target)
{
    if (target.Table.empty() || target.Fields.empty()) return "No row selected";
    if (!target.TableKey.Known) return "The table's key is not known yet";
    const std::optional<std::string> &charset = target.TableKey.Charset;
    if (charset && !charset->empty() && !isCharsetName(*charset))
        return "The result's character set is not known";
    if (target.TableKey.HiddenColumns && !WholeKey(target))
        return "The table has invisible columns and the rows shown do not hold its whole key: "
               "the row cannot be told apart";
    return nullptr;
}

void AppendTarget(TmySQLStatement &statement, const Target &target)
{
    if (!target.Database.empty()) statement.Identifier(target.Database).Text(".");
    statement.Identifier(target.Table);
}

void AppendMatch(TmySQLStatement &statement, const Target &target, int c,
                 std::optional<std::string_view> value, const std::shared_ptr<const void> &owner)
{
    const TmySQLFieldInfo &field = target.Fields[static_cast<std::size_t>(c)];
    if (!value) {
        statement.Identifier(field.Name).Text(" IS NULL");
        return;
    }
    const std::optional<std::string> &charset = target.TableKey.Charset;
    const bool stored = sentAsStored(target.TableKey, field);
    // A first test the server can answer from an index, for the usual key types. It may
    // let through rows the collation calls equal; the byte test after it decides.
    if (isInteger(field.Type) && isDecimalInteger(*value)) {
        statement.Identifier(field.Name).Text(" = ").Text(*value).Text(" AND ");
    } else if (isShortString(field.Type) && field.CharsetNr == BinaryCharset) {
        statement.Identifier(field.Name).Text(" = ").HexValue(*value).Text(" AND ");
    }
    // No such test for text the server converted: two stored values may read the same (cp932's
    // NEC and IBM duplicates), and the literal converted back names only one of them, perhaps
    // the other row. The byte test alone matches both, which the count then refuses.
    // The bytes the server sent for this column, made again on the server and compared as
    // bytes: exact for every type (numbers, FLOAT included, and dates as their text, BIT and
    // GEOMETRY as their bytes, text in the character set it was sent in).
    statement.Text("CAST(");
    if (stored)
        statement.Identifier(field.Name);
    else
        statement.Text("CONVERT(").Identifier(field.Name).Text(" USING " + *charset + ")");
    statement.Text(" AS BINARY) = ");
    // A long value stays in the grid's cells until the worker has made its literal.
    constexpr std::size_t LendFrom = 64 * 1024;
    if (owner && value->size() >= LendFrom)
        statement.HexValue(*value, owner);
    else
        statement.HexValue(*value);
}

void AppendIdentity(TmySQLStatement &statement, const Target &target, const CellReader &cell,
                    const std::shared_ptr<const void> &owner)
{
    const std::vector<int> columns = ComparedColumns(target);
    for (std::size_t i = 0; i < columns.size(); ++i) {
        if (i > 0) statement.Text(" AND ");
        AppendMatch(statement, target, columns[i], cell(columns[i]), owner);
    }
}

std::optional<TmySQLStatement> Build(const Target &target, const CellReader &cell, std::string *why,
                                     const std::shared_ptr<const void> &owner)
{
    if (const char *reason = Refusal(target)) {
        if (why) *why = reason;
        return std::nullopt;
    }
    TmySQLStatement statement("Delete From ");
    AppendTarget(statement, target);
    statement.Text(" Where ");
    AppendIdentity(statement, target, cell, owner);
    statement.Text(" LIMIT 1;");
    return statement;
}

std::string Shortened(const std::string &text, std::size_t maxChars)
{
    std::size_t chars = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;
        if (chars == maxChars) return text.substr(0, i) + "\xE2\x80\xA6"; // "…"
        ++chars;
    }
    return text;
}

} // namespace rowdelete
