#pragma once

// The one reading of SQL text that splitting a script into statements and colouring it share, so
// the two never disagree: quotes ('…', "…" with backslash escapes and doubled quotes, `…` with
// doubled backticks), comments (-- and # to the end of the line, /* … */ including the executable
// /*! … */, which stays in its statement), the delimiter (";" until a DELIMITER line, as the
// command-line client reads them). Plain C++, UTF-8 text, byte offsets.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace sqllex {

enum class Kind
{
    Space,
    Word, // a keyword or a name: isKeyword tells which
    Number,
    String,     // '…' or "…"
    Identifier, // `…`
    Comment,
    Delimiter,     // the statement's end
    DelimiterLine, // a whole DELIMITER line, which belongs to no statement
    Other          // operators, punctuation
};

struct Token
{
    Kind kind;
    std::size_t begin;
    std::size_t length;
};

// What is still open at the end of a piece of text (a line, for the highlighter), and the
// delimiter in force there.
struct State
{
    enum Open
    {
        None,
        Single, // in '…'
        Double, // in "…"
        Backtick,
        Block // in /* … */
    } open = None;
    std::string delimiter = ";";
    bool operator==(const State &) const = default;
};

// Reads text that starts in state; appends its tokens (offsets from text's start) and returns
// the state at its end. A DELIMITER line is recognised at a line start outside quotes and
// comments: atLineStart says whether text starts one.
State scan(std::string_view text, State state, std::vector<Token> &out, bool atLineStart = true);

// Words the highlighter shows as keywords (case does not matter).
bool isKeyword(std::string_view word);

// One statement of a script: [begin, end) holds its text without the delimiter, from its first
// character that is not white space (a leading comment stays, as the server counts lines from
// it); firstLine counts from 1.
struct Statement
{
    std::size_t begin;
    std::size_t end;
    int firstLine;
    // Where the statement ends including its delimiter (end when it has none).
    std::size_t delimiterEnd;
};

// The statements of a script, in order; empty ones (white space, comments, a lone delimiter) are
// skipped.
std::vector<Statement> split(std::string_view text);

// The statement a cursor at offset means: the one it is in; after a statement's delimiter on the
// same line, or on a blank line right after it, the one before. -1 when none.
int statementAt(const std::vector<Statement> &statements, std::string_view text,
                std::size_t offset);

} // namespace sqllex
