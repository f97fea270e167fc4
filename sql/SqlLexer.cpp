#include "SqlLexer.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace sqllex {
namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v';
}

bool isSpace(char c)
{
    return isBlank(c) || c == '\n';
}

bool isWordChar(char c)
{
    const auto u = static_cast<unsigned char>(c);
    return std::isalnum(u) || c == '_' || c == '$' || u >= 0x80;
}

bool equalsNoCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

std::size_t lineEnd(std::string_view text, std::size_t from)
{
    const std::size_t at = text.find('\n', from);
    return at == std::string_view::npos ? text.size() : at;
}

// Reads on from inside an open quote or comment to its close (or the text's end).
std::size_t continueOpen(std::string_view text, std::size_t i, State &state)
{
    const std::size_t n = text.size();
    switch (state.open) {
    case State::Single:
    case State::Double: {
        const char quote = state.open == State::Single ? '\'' : '"';
        while (i < n) {
            const char c = text[i];
            if (c == '\\') {
                i = std::min(n, i + 2); // the escaped character, whatever it is
                continue;
            }
            ++i;
            if (c == quote) {
                // A doubled quote reopens at once: the same as reading it as one.
                state.open = State::None;
                return i;
            }
        }
        return n;
    }
    case State::Backtick: {
        const std::size_t close = text.find('`', i);
        if (close == std::string_view::npos) return n;
        state.open = State::None;
        return close + 1;
    }
    case State::Block: {
        const std::size_t close = text.find("*/", i);
        if (close == std::string_view::npos) return n;
        state.open = State::None;
        return close + 2;
    }
    case State::None:
        break;
    }
    return i;
}

// A DELIMITER line starting at i (blanks before it allowed): the new delimiter, or empty.
std::string delimiterLine(std::string_view text, std::size_t i)
{
    while (i < text.size() && isBlank(text[i]))
        ++i;
    constexpr std::string_view word = "delimiter";
    if (text.size() - i <= word.size() || !equalsNoCase(text.substr(i, word.size()), word) ||
        !isBlank(text[i + word.size()]))
        return {};
    i += word.size();
    while (i < text.size() && isBlank(text[i]))
        ++i;
    std::size_t end = i;
    while (end < text.size() && !isSpace(text[end]))
        ++end;
    return std::string(text.substr(i, end - i));
}

bool isExecutableComment(std::string_view token)
{
    return token.starts_with("/*!") || token.starts_with("/*M!");
}

constexpr std::array Keywords = {"ACCESSIBLE",   "ADD",
                                 "AFTER",        "AGAINST",
                                 "ALGORITHM",    "ALL",
                                 "ALTER",        "ANALYZE",
                                 "AND",          "AS",
                                 "ASC",          "AUTO_INCREMENT",
                                 "BEFORE",       "BEGIN",
                                 "BETWEEN",      "BIGINT",
                                 "BINARY",       "BLOB",
                                 "BOTH",         "BY",
                                 "CALL",         "CASCADE",
                                 "CASE",         "CHANGE",
                                 "CHAR",         "CHARACTER",
                                 "CHARSET",      "CHECK",
                                 "COLLATE",      "COLUMN",
                                 "COLUMNS",      "COMMENT",
                                 "COMMIT",       "CONSTRAINT",
                                 "CREATE",       "CROSS",
                                 "CURRENT_DATE", "CURRENT_TIMESTAMP",
                                 "DATABASE",     "DATABASES",
                                 "DATE",         "DATETIME",
                                 "DECIMAL",      "DECLARE",
                                 "DEFAULT",      "DEFINER",
                                 "DELETE",       "DELIMITER",
                                 "DESC",         "DESCRIBE",
                                 "DISTINCT",     "DIV",
                                 "DO",           "DOUBLE",
                                 "DROP",         "DUPLICATE",
                                 "EACH",         "ELSE",
                                 "ELSEIF",       "END",
                                 "ENGINE",       "ENUM",
                                 "ESCAPE",       "EVENT",
                                 "EXISTS",       "EXPLAIN",
                                 "FALSE",        "FETCH",
                                 "FLOAT",        "FOR",
                                 "FOREIGN",      "FROM",
                                 "FULL",         "FULLTEXT",
                                 "FUNCTION",     "GRANT",
                                 "GROUP",        "HANDLER",
                                 "HAVING",       "IDENTIFIED",
                                 "IF",           "IGNORE",
                                 "IN",           "INDEX",
                                 "INNER",        "INSERT",
                                 "INT",          "INTEGER",
                                 "INTERVAL",     "INTO",
                                 "IS",           "JOIN",
                                 "JSON",         "KEY",
                                 "KEYS",         "KILL",
                                 "LEADING",      "LEAVE",
                                 "LEFT",         "LIKE",
                                 "LIMIT",        "LOAD",
                                 "LOCK",         "LONGBLOB",
                                 "LONGTEXT",     "LOOP",
                                 "MEDIUMINT",    "MEDIUMTEXT",
                                 "MOD",          "MODIFY",
                                 "NAMES",        "NATURAL",
                                 "NOT",          "NULL",
                                 "OFFSET",       "ON",
                                 "OPTIMIZE",     "OR",
                                 "ORDER",        "OUTER",
                                 "PARTITION",    "PASSWORD",
                                 "PRIMARY",      "PROCEDURE",
                                 "PROCESSLIST",  "REFERENCES",
                                 "REGEXP",       "RELEASE",
                                 "RENAME",       "REPAIR",
                                 "REPEAT",       "REPLACE",
                                 "RETURN",       "RETURNS",
                                 "REVOKE",       "RIGHT",
                                 "RLIKE",        "ROLLBACK",
                                 "ROW",          "ROWS",
                                 "SAVEPOINT",    "SCHEMA",
                                 "SELECT",       "SESSION",
                                 "SET",          "SHOW",
                                 "SIGNAL",       "SMALLINT",
                                 "SQL",          "START",
                                 "STATUS",       "TABLE",
                                 "TABLES",       "TEMPORARY",
                                 "TEXT",         "THEN",
                                 "TIME",         "TIMESTAMP",
                                 "TINYINT",      "TO",
                                 "TRAILING",     "TRANSACTION",
                                 "TRIGGER",      "TRUE",
                                 "TRUNCATE",     "UNION",
                                 "UNIQUE",       "UNLOCK",
                                 "UNSIGNED",     "UPDATE",
                                 "USE",          "USER",
                                 "USING",        "VALUES",
                                 "VARBINARY",    "VARCHAR",
                                 "VARIABLES",    "VIEW",
                                 "WHEN",         "WHERE",
                                 "WHILE",        "WITH",
                                 "XOR",          "YEAR",
                                 "ZEROFILL"};

} // namespace

bool isKeyword(std::string_view word)
{
    return std::any_of(Keywords.begin(), Keywords.end(),
                       [word](const char *keyword) { return equalsNoCase(word, keyword); });
}

namespace {
// The reading itself; every token goes to sink as it is found (splitting a large script keeps
// none of them).
template <typename Sink>
State scanInto(std::string_view text, State state, const Sink &sink, bool atLineStart)
{
    const std::size_t n = text.size();
    std::size_t i = 0;
    bool lineStart = atLineStart;
    auto push = [&sink](Kind kind, std::size_t begin, std::size_t end) {
        if (end > begin) sink(Token{kind, begin, end - begin});
    };
    // The delimiter ends a statement wherever it stands outside quotes and comments, even
    // right after a word ("END$$").
    auto delimiterAt = [&](std::size_t at) {
        return text[at] == state.delimiter[0] &&
               text.compare(at, state.delimiter.size(), state.delimiter) == 0;
    };
    if (state.open != State::None) {
        const State::Open was = state.open;
        i = continueOpen(text, 0, state);
        push(was == State::Block      ? Kind::Comment
             : was == State::Backtick ? Kind::Identifier
                                      : Kind::String,
             0, i);
        lineStart = false;
    }
    while (i < n) {
        const char c = text[i];
        const char next = i + 1 < n ? text[i + 1] : '\0';
        if (isSpace(c)) {
            const std::size_t begin = i;
            while (i < n && isSpace(text[i])) {
                if (text[i] == '\n') lineStart = true;
                ++i;
            }
            push(Kind::Space, begin, i);
            continue;
        }
        if (lineStart) {
            lineStart = false;
            const std::string delimiter = delimiterLine(text, i);
            if (!delimiter.empty()) {
                const std::size_t end = lineEnd(text, i);
                push(Kind::DelimiterLine, i, end);
                state.delimiter = delimiter;
                i = end;
                continue;
            }
        }
        const std::size_t begin = i;
        if (delimiterAt(i)) {
            i += state.delimiter.size();
            push(Kind::Delimiter, begin, i);
        } else if (c == '\'' || c == '"' || c == '`') {
            state.open = c == '\'' ? State::Single : c == '"' ? State::Double : State::Backtick;
            i = continueOpen(text, i + 1, state);
            push(c == '`' ? Kind::Identifier : Kind::String, begin, i);
        } else if (c == '#' || (c == '-' && next == '-' &&
                                (i + 2 >= n || static_cast<unsigned char>(text[i + 2]) <= ' '))) {
            i = lineEnd(text, i);
            push(Kind::Comment, begin, i);
        } else if (c == '/' && next == '*') {
            state.open = State::Block;
            i = continueOpen(text, i + 2, state);
            push(Kind::Comment, begin, i);
        } else if (std::isdigit(static_cast<unsigned char>(c)) ||
                   (c == '.' && std::isdigit(static_cast<unsigned char>(next)))) {
            while (i < n && (isWordChar(text[i]) || text[i] == '.') && !delimiterAt(i))
                ++i;
            push(Kind::Number, begin, i);
        } else if (isWordChar(c)) {
            while (i < n && isWordChar(text[i]) && !delimiterAt(i))
                ++i;
            push(Kind::Word, begin, i);
        } else {
            ++i;
            push(Kind::Other, begin, i);
        }
    }
    return state;
}
} // namespace

State scan(std::string_view text, State state, std::vector<Token> &out, bool atLineStart)
{
    return scanInto(
        text, std::move(state), [&out](const Token &token) { out.push_back(token); }, atLineStart);
}

std::vector<Statement> split(std::string_view text)
{
    std::vector<Statement> statements;
    constexpr std::size_t none = std::string_view::npos;
    std::size_t begin = none;
    std::size_t end = 0;
    auto finish = [&](std::size_t delimiterEnd) {
        if (begin != none) statements.push_back({begin, end, 0, std::max(end, delimiterEnd)});
        begin = none;
    };
    scanInto(
        text, State(),
        [&](const Token &token) {
            switch (token.kind) {
            case Kind::Space:
                return;
            case Kind::Delimiter:
                finish(token.begin + token.length);
                return;
            case Kind::DelimiterLine:
                finish(0);
                return;
            case Kind::Comment:
                // Comments around a statement are not sent; an executable one is code.
                if (!isExecutableComment(text.substr(token.begin, token.length))) return;
                break;
            default:
                break;
            }
            if (begin == none) begin = token.begin;
            end = token.begin + token.length;
        },
        true);
    finish(0);
    // Lines counted once, in order.
    int line = 1;
    std::size_t at = 0;
    for (Statement &s : statements) {
        line +=
            static_cast<int>(std::count(text.begin() + static_cast<std::ptrdiff_t>(at),
                                        text.begin() + static_cast<std::ptrdiff_t>(s.begin), '\n'));
        at = s.begin;
        s.firstLine = line;
    }
    return statements;
}

int statementAt(const std::vector<Statement> &statements, std::string_view text, std::size_t offset)
{
    offset = std::min(offset, text.size());
    auto onlyBlanks = [&](std::size_t from, std::size_t to) {
        for (std::size_t i = from; i < to; ++i)
            if (!isSpace(text[i])) return false;
        return true;
    };
    auto startOfLine = [&](std::size_t at) {
        const std::size_t nl = at == 0 ? std::string_view::npos : text.rfind('\n', at - 1);
        return nl == std::string_view::npos ? 0 : nl + 1;
    };
    for (std::size_t i = 0; i < statements.size(); ++i) {
        const Statement &s = statements[i];
        if (offset > s.end) continue;
        if (offset >= s.begin) return static_cast<int>(i);
        // Before it on its first line, blanks between, and no statement ending on that line.
        const std::size_t line = startOfLine(s.begin);
        const bool lineOwn = i == 0 || statements[i - 1].delimiterEnd <= line;
        if (lineOwn && offset >= line && onlyBlanks(offset, s.begin)) return static_cast<int>(i);
        break;
    }
    // After a statement: on the line of its end, or on the blank line right below it.
    for (std::size_t i = statements.size(); i-- > 0;) {
        const Statement &s = statements[i];
        if (s.end > offset) continue;
        const std::size_t from = std::min(s.delimiterEnd, offset);
        const std::string_view between = text.substr(from, offset - from);
        const std::size_t nl = between.find('\n');
        if (nl == std::string_view::npos) return static_cast<int>(i);
        if (between.find('\n', nl + 1) == std::string_view::npos &&
            onlyBlanks(startOfLine(offset), lineEnd(text, offset)))
            return static_cast<int>(i);
        return -1;
    }
    return -1;
}

} // namespace sqllex
