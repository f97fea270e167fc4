#pragma once

// What the SQL editor says of the statements it runs, Qt-free: a statement's head for its message
// line, the editor line a server error points at, times and counts as the messages write them,
// and the rule that keeps statements that can carry a password out of the history.

#include <cstdint>
#include <string>
#include <string_view>

namespace sqlscript {

// The statement's first maxChars characters (UTF-8 characters, not bytes), line breaks and tabs
// read as single spaces, runs of white space as one; "…" added when cut.
std::string head(std::string_view statement, std::size_t maxChars = 60);

// The editor line an error points at: the statement's first line plus the server's last
// "at line N" minus one; the first line when the message names none.
int errorLine(int firstLine, std::string_view serverMessage);

// "0.8 ms", "3.1 ms", "412 ms", "2.35 s", "1 min 4 s".
std::string durationText(std::uint64_t microseconds);

// "1 row", "12 rows" (and "1 row affected" with noun "row affected").
std::string countText(std::uint64_t n, std::string_view singular, std::string_view plural);

// True when the statement may carry a password, so that it is never written to a history:
// IDENTIFIED or PASSWORD anywhere (any case, also inside quotes: when in doubt, leave it out),
// or a GRANT, CREATE USER or ALTER USER statement (CREATE OR REPLACE USER too), comments and
// white space between the words as the server allows them.
bool mayCarryPassword(std::string_view statement);

} // namespace sqlscript
