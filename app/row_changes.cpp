#include "row_changes.h"

#include <algorithm>
#include <charconv>

namespace rowchanges {
namespace {

enum FieldType : int
{
    TypeDecimal = 0,
    TypeTiny = 1,
    TypeShort = 2,
    TypeLong = 3,
    TypeFloat = 4,
    TypeDouble = 5,
    TypeLongLong = 8,
    TypeInt24 = 9,
    TypeYear = 13,
    TypeBit = 16,
    TypeNewDecimal = 246,
    TypeGeometry = 255,
};
constexpr unsigned int AutoIncrementFlag = 512;
constexpr unsigned int NotNullFlag = 1;

bool isNumber(int type)
{
    switch (type) {
    case TypeDecimal:
    case TypeTiny:
    case TypeShort:
    case TypeLong:
    case TypeFloat:
    case TypeDouble:
    case TypeLongLong:
    case TypeInt24:
    case TypeYear:
    case TypeNewDecimal:
        return true;
    default:
        return false;
    }
}

bool isDigits(std::string_view text)
{
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// A number as SQL reads it: sign, digits, an optional fraction and exponent. Nothing else is put
// in a statement unquoted.
bool isNumericLiteral(std::string_view text)
{
    if (text.size() > 100) return false;
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    std::size_t digits = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9')
        ++i, ++digits;
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9')
            ++i, ++digits;
    }
    if (digits == 0) return false;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
        if (!isDigits(text.substr(i))) return false;
        return true;
    }
    return i == text.size();
}

bool isBitLiteral(std::string_view text)
{
    if (text.size() < 3 || (text[0] != 'b' && text[0] != 'B') || text[1] != '\'' ||
        text.back() != '\'')
        return false;
    const std::string_view bits = text.substr(2, text.size() - 3);
    return std::all_of(bits.begin(), bits.end(), [](char c) { return c == '0' || c == '1'; });
}

const TmySQLFieldInfo &fieldOf(const rowdelete::Target &target, int col)
{
    return target.Fields[static_cast<std::size_t>(col)];
}

bool refuseTarget(const rowdelete::Target &target, std::string *why)
{
    if (const char *reason = rowdelete::Refusal(target)) {
        if (why) *why = reason;
        return true;
    }
    return false;
}

// A column compared by the new value rather than the bytes read: the server's equality, since
// what it stored from the literal may be spelt otherwise (1.50 into DECIMAL(4,1) is 1.5).
bool appendNewValueMatch(TmySQLStatement &statement, const TmySQLFieldInfo &field,
                         const Value &value)
{
    if (value.Kind == Value::Default) return false;
    statement.Identifier(field.Name);
    if (value.Kind == Value::Null) {
        statement.Text(" IS NULL");
        return true;
    }
    statement.Text(" = ");
    AppendLiteral(statement, field, value);
    return true;
}

bool fixedDefault(const rowdelete::Target &target, const TmySQLFieldInfo &field)
{
    const std::vector<std::string> &fixed = target.TableKey.FixedDefaults;
    return std::find(fixed.begin(), fixed.end(), field.Name) != fixed.end();
}

// NULL, DEFAULT or 0 typed into an AUTO_INCREMENT column: the server gives the next value (0
// only without NO_AUTO_VALUE_ON_ZERO).
bool givesNextValue(const rowdelete::Target &target, const Value &value)
{
    if (value.Kind != Value::Bytes) return true;
    const std::string_view digits =
        std::string_view(value.Data)
            .substr(value.Data.rfind('-', 0) == 0 || value.Data.rfind('+', 0) == 0 ? 1 : 0);
    if (!isDigits(digits) || digits.find_first_not_of('0') != std::string_view::npos) return false;
    const std::optional<std::string> &mode = target.TableKey.SqlMode;
    return !mode || mode->find("NO_AUTO_VALUE_ON_ZERO") == std::string::npos;
}

// A bit value as a number: b'101' or digits as typed, the bytes the server sends (big-endian).
std::optional<std::uint64_t> typedBits(std::string_view text)
{
    std::uint64_t n = 0;
    if (isBitLiteral(text)) {
        const std::string_view bits = text.substr(2, text.size() - 3);
        if (bits.size() > 64 && bits.find('1') < bits.size() - 64) return std::nullopt;
        for (const char c : bits)
            n = (n << 1) | static_cast<std::uint64_t>(c == '1');
        return n;
    }
    if (!isDigits(text) || text.size() > 20) return std::nullopt;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), n);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return n;
}

void appendColumns(TmySQLStatement &statement, const rowdelete::Target &target)
{
    statement.Text("SELECT ");
    for (std::size_t c = 0; c < target.Fields.size(); ++c) {
        if (c > 0) statement.Text(", ");
        statement.Identifier(target.Fields[c].Name);
    }
    statement.Text(" FROM ");
    rowdelete::AppendTarget(statement, target);
    statement.Text(" WHERE ");
}

// An update's WHERE: the row's identity and the old bytes of every column it changes, so that
// a cell changed by someone else since it was read matches nothing.
void appendWhere(TmySQLStatement &statement, const rowdelete::Target &target, const Change &change,
                 const rowdelete::CellReader &old)
{
    statement.Text(" WHERE ");
    rowdelete::AppendIdentity(statement, target, old);
    const std::vector<int> compared = rowdelete::ComparedColumns(target);
    for (const auto &[col, value] : change.Cells) {
        if (std::find(compared.begin(), compared.end(), col) != compared.end()) continue;
        statement.Text(" AND ");
        rowdelete::AppendMatch(statement, target, col, old(col));
    }
}

} // namespace

// ---------------------------------------------------------------------------------------------
// The pending changes

Change &Pending::touch(int row, Kind what)
{
    const auto at = m_byRow.find(row);
    if (at != m_byRow.end()) return m_changes[at->second];
    m_byRow.emplace(row, m_changes.size());
    m_changes.push_back(Change{what, row, {}});
    return m_changes.back();
}

void Pending::erase(int row)
{
    const auto at = m_byRow.find(row);
    if (at == m_byRow.end()) return;
    m_changes.erase(m_changes.begin() + static_cast<std::ptrdiff_t>(at->second));
    reindex();
}

void Pending::reindex()
{
    m_byRow.clear();
    for (std::size_t i = 0; i < m_changes.size(); ++i)
        m_byRow.emplace(m_changes[i].Row, i);
}

bool Pending::setCell(int row, int col, Value value, std::optional<std::string_view> original)
{
    const Change *existing = find(row);
    if (existing && existing->What == Kind::Delete) return false;
    if (existing && existing->What == Kind::Insert) return setNewCell(row, col, std::move(value));
    const bool same = (value.Kind == Value::Null && !original) ||
                      (value.Kind == Value::Bytes && original && value.Data == *original);
    if (same) {
        if (!existing || !existing->Cells.count(col)) return false;
        Change &change = touch(row, Kind::Update);
        change.Cells.erase(col);
        if (change.Cells.empty()) erase(row);
        return true;
    }
    Change &change = touch(row, Kind::Update);
    const auto at = change.Cells.find(col);
    if (at != change.Cells.end() && at->second == value) return false;
    change.Cells[col] = std::move(value);
    return true;
}

bool Pending::setNewCell(int row, int col, Value value)
{
    const auto at = m_byRow.find(row);
    if (at == m_byRow.end() || m_changes[at->second].What != Kind::Insert) return false;
    auto &cells = m_changes[at->second].Cells;
    if (value.Kind == Value::Default) return cells.erase(col) > 0;
    const auto old = cells.find(col);
    if (old != cells.end() && old->second == value) return false;
    cells[col] = std::move(value);
    return true;
}

void Pending::addInsert(int row)
{
    touch(row, Kind::Insert);
}

void Pending::toggleDelete(int row)
{
    const Change *existing = find(row);
    if (existing && existing->What == Kind::Delete) {
        erase(row);
        return;
    }
    if (existing && existing->What == Kind::Insert) return;
    Change &change = touch(row, Kind::Delete);
    change.What = Kind::Delete;
    change.Cells.clear();
}

void Pending::dropInsert(int row)
{
    const Change *existing = find(row);
    if (!existing || existing->What != Kind::Insert) return;
    erase(row);
    // New rows are the grid's last: those after it move up.
    for (Change &change : m_changes)
        if (change.Row > row) --change.Row;
    reindex();
}

const Change *Pending::find(int row) const
{
    const auto at = m_byRow.find(row);
    return at == m_byRow.end() ? nullptr : &m_changes[at->second];
}

const Value *Pending::cell(int row, int col) const
{
    const Change *change = find(row);
    if (!change) return nullptr;
    const auto at = change->Cells.find(col);
    return at == change->Cells.end() ? nullptr : &at->second;
}

void Pending::clear()
{
    m_changes.clear();
    m_byRow.clear();
}

// ---------------------------------------------------------------------------------------------
// Statements

void AppendLiteral(TmySQLStatement &statement, const TmySQLFieldInfo &field, const Value &value)
{
    if (value.Kind == Value::Null) {
        statement.Text("NULL");
        return;
    }
    if (value.Kind == Value::Default) {
        statement.Text("DEFAULT");
        return;
    }
    const std::string &data = value.Data;
    if (field.Type == TypeBit) {
        // As the grid shows a bit value (b'101'), or its number.
        if (isBitLiteral(data) || isDigits(data))
            statement.Text(data);
        else
            statement.HexValue(data);
        return;
    }
    if (field.Binary()) {
        statement.HexValue(data);
        return;
    }
    if (isNumber(field.Type) && isNumericLiteral(data)) {
        statement.Text(data); // the digits as typed: no rounding on the way
        return;
    }
    // Text, dates, and anything typed into a number that is not one (the server judges it): the
    // typed UTF-8, converted by the server to the column's character set.
    statement.Value(data);
}

std::optional<TmySQLStatement> Statement(const rowdelete::Target &target, const Change &change,
                                         const rowdelete::CellReader &old, std::string *why,
                                         bool limitOne)
{
    if (refuseTarget(target, why)) return std::nullopt;
    const int count = static_cast<int>(target.Fields.size());
    for (const auto &[col, value] : change.Cells) {
        if (col < 0 || col >= count) {
            if (why) *why = "A change names a column the table does not have";
            return std::nullopt;
        }
        if (fieldOf(target, col).Type == TypeGeometry && value.Kind == Value::Bytes) {
            if (why) *why = "GEOMETRY values are not edited here";
            return std::nullopt;
        }
    }
    const bool wholeKey = rowdelete::WholeKey(target);
    TmySQLStatement statement;
    switch (change.What) {
    case Kind::Insert: {
        statement.Text("INSERT INTO ");
        rowdelete::AppendTarget(statement, target);
        statement.Text(" (");
        bool first = true;
        for (const auto &[col, value] : change.Cells) {
            if (!first) statement.Text(", ");
            first = false;
            statement.Identifier(fieldOf(target, col).Name);
        }
        statement.Text(") VALUES (");
        first = true;
        for (const auto &[col, value] : change.Cells) {
            if (!first) statement.Text(", ");
            first = false;
            AppendLiteral(statement, fieldOf(target, col), value);
        }
        statement.Text(");");
        return statement;
    }
    case Kind::Delete:
        statement.Text("DELETE FROM ");
        rowdelete::AppendTarget(statement, target);
        statement.Text(" WHERE ");
        rowdelete::AppendIdentity(statement, target, old);
        break;
    case Kind::Update: {
        if (change.Cells.empty()) {
            if (why) *why = "Nothing to change";
            return std::nullopt;
        }
        statement.Text("UPDATE ");
        rowdelete::AppendTarget(statement, target);
        statement.Text(" SET ");
        bool first = true;
        for (const auto &[col, value] : change.Cells) {
            if (!first) statement.Text(", ");
            first = false;
            statement.Identifier(fieldOf(target, col).Name).Text(" = ");
            AppendLiteral(statement, fieldOf(target, col), value);
        }
        appendWhere(statement, target, change, old);
        break;
    }
    }
    // A whole key matches one row at most; any other identity may match copies, of which one
    // changes. A key that matches more is seen in the count, and nothing is kept; where nothing
    // can be undone the count is asked first and one row at most is touched.
    statement.Text(wholeKey && !limitOne ? ";" : " LIMIT 1;");
    return statement;
}

std::optional<TmySQLStatement> Count(const rowdelete::Target &target, const Change &change,
                                     const rowdelete::CellReader &old)
{
    if (change.What == Kind::Insert || rowdelete::Refusal(target)) return std::nullopt;
    TmySQLStatement statement("SELECT COUNT(*) FROM ");
    rowdelete::AppendTarget(statement, target);
    if (change.What == Kind::Delete) {
        statement.Text(" WHERE ");
        rowdelete::AppendIdentity(statement, target, old);
    } else {
        appendWhere(statement, target, change, old);
    }
    statement.Text(";").OnlyReads();
    return statement;
}

std::optional<TmySQLStatement> ReadBack(const rowdelete::Target &target, const Change &change,
                                        const rowdelete::CellReader &old)
{
    if (change.What == Kind::Delete || rowdelete::Refusal(target)) return std::nullopt;
    TmySQLStatement statement;
    appendColumns(statement, target);
    const std::vector<int> compared = rowdelete::ComparedColumns(target);
    const bool wholeKey = rowdelete::WholeKey(target);
    bool any = false;
    for (const int col : compared) {
        const TmySQLFieldInfo &field = fieldOf(target, col);
        const auto changed = change.Cells.find(col);
        const bool matchedNew = changed != change.Cells.end();
        if (any) statement.Text(" AND ");
        if (change.What == Kind::Insert && (field.Flags & AutoIncrementFlag) &&
            (!matchedNew || givesNextValue(target, changed->second))) {
            // Left to the server: the value it just gave this connection.
            statement.Identifier(field.Name).Text(" = LAST_INSERT_ID()");
            any = true;
        } else if (matchedNew && change.What == Kind::Update && !wholeKey &&
                   changed->second.Kind == Value::Bytes) {
            // Named by every column: what was typed, or whatever the server made of it (1.239
            // into DECIMAL(5,2) is 1.24) in place of the bytes read; a copy left unchanged is
            // not taken. (A key column keeps its index: it is found by the value typed.)
            statement.Text("(");
            appendNewValueMatch(statement, field, changed->second);
            statement.Text(" OR NOT (");
            rowdelete::AppendMatch(statement, target, col, old(col));
            statement.Text("))");
            any = true;
        } else if (matchedNew && appendNewValueMatch(statement, field, changed->second)) {
            any = true;
        } else if (change.What == Kind::Update && !matchedNew) {
            rowdelete::AppendMatch(statement, target, col, old(col));
            any = true;
        } else if ((change.What == Kind::Insert || matchedNew) && fixedDefault(target, field)) {
            // Set or left to a default that is a constant, which the server says. (An
            // expression's default, read again later, may be another row's value.)
            statement.Identifier(field.Name).Text(" <=> DEFAULT(").Identifier(field.Name).Text(")");
            any = true;
        } else {
            if (any) statement.Text("TRUE");
            if (wholeKey) return std::nullopt; // a key column the server chose
        }
    }
    if (!any) return std::nullopt;
    // Two at most: the caller takes a lone row, or the one that holds what was typed.
    statement.Text(" LIMIT 2;");
    statement.OnlyReads();
    return statement;
}

// ---------------------------------------------------------------------------------------------
// Outcomes

bool HoldsTyped(const TmySQLFieldInfo &field, const Value &typed,
                const std::optional<std::string> &stored)
{
    switch (typed.Kind) {
    case Value::Default:
        return true;
    case Value::Null:
        return !stored;
    case Value::Bytes:
        break;
    }
    if (!stored) return false;
    if (*stored == typed.Data) return true;
    if (field.Type != TypeBit || stored->size() > 8) return false;
    const std::optional<std::uint64_t> bits = typedBits(typed.Data);
    std::uint64_t held = 0;
    for (const char c : *stored)
        held = (held << 8) | static_cast<unsigned char>(c);
    return bits && *bits == held;
}

std::optional<std::uint64_t> RowsMatched(std::string_view info)
{
    constexpr std::string_view label = "Rows matched:";
    const std::size_t at = info.find(label);
    if (at == std::string_view::npos) return std::nullopt;
    std::size_t i = at + label.size();
    while (i < info.size() && info[i] == ' ')
        ++i;
    std::uint64_t rows = 0;
    const auto [end, error] = std::from_chars(info.data() + i, info.data() + info.size(), rows);
    if (error != std::errc() || end == info.data() + i) return std::nullopt;
    return rows;
}

std::string SeveralMatch(std::uint64_t rows)
{
    return std::to_string(rows) + " rows match this row; nothing was changed";
}

std::string Verdict(const Change &change, const Outcome &outcome)
{
    std::uint64_t rows = 0;
    if (change.What == Kind::Update) {
        const std::optional<std::uint64_t> matched = RowsMatched(outcome.Info);
        if (!matched) return "The server did not say how many rows the change matched";
        rows = *matched;
    } else {
        if (outcome.AffectedRows < 0) return "The server did not say how many rows changed";
        rows = static_cast<std::uint64_t>(outcome.AffectedRows);
    }
    if (change.What == Kind::Insert && rows != 1) return "The row was not inserted";
    if (rows == 0) return ChangedElsewhere;
    if (rows > 1) return SeveralMatch(rows);
    // A note (a decimal rounded to its scale) is not a warning: the value read back shows it.
    if (outcome.WarningLines.empty() && outcome.Warnings > 0)
        return "The server warned: " + std::to_string(outcome.Warnings) + " warnings";
    for (const std::string &line : outcome.WarningLines)
        if (line.rfind("Note ", 0) != 0) return "The server warned: " + line;
    return {};
}

} // namespace rowchanges
