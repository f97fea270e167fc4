#include "SqlScript.h"

#include "SqlLexer.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <vector>

namespace sqlscript {

namespace {
bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}
std::string upper(std::string_view s)
{
    std::string out(s);
    for (char &c : out)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}
} // namespace

std::string head(std::string_view statement, std::size_t maxChars)
{
    std::string out;
    std::size_t chars = 0;
    bool space = false;
    for (std::size_t i = 0; i < statement.size(); ++i) {
        const char c = statement[i];
        if (isSpace(c)) {
            space = !out.empty();
            continue;
        }
        const bool starts = (static_cast<unsigned char>(c) & 0xC0) != 0x80;
        if (starts) {
            if (chars + (space ? 1 : 0) >= maxChars) {
                out += "\xE2\x80\xA6"; // …
                return out;
            }
            if (space) {
                out += ' ';
                ++chars;
                space = false;
            }
            ++chars;
        }
        out += c;
    }
    return out;
}

int errorLine(int firstLine, std::string_view message)
{
    static constexpr std::string_view marker = "at line ";
    const std::size_t at = message.rfind(marker);
    if (at == std::string_view::npos) return firstLine;
    std::size_t i = at + marker.size();
    long n = 0;
    bool any = false;
    while (i < message.size() && std::isdigit(static_cast<unsigned char>(message[i])) &&
           n < 100000000) {
        n = n * 10 + (message[i++] - '0');
        any = true;
    }
    if (!any || n < 1) return firstLine;
    return firstLine + static_cast<int>(n) - 1;
}

std::string durationText(std::uint64_t us)
{
    char text[48];
    if (us < 10000)
        std::snprintf(text, sizeof text, "%.1f ms", static_cast<double>(us) / 1000.0);
    else if (us < 1000000)
        std::snprintf(text, sizeof text, "%llu ms",
                      static_cast<unsigned long long>((us + 500) / 1000));
    else if (us < 60000000)
        std::snprintf(text, sizeof text, "%.2f s", static_cast<double>(us) / 1e6);
    else
        std::snprintf(text, sizeof text, "%llu min %llu s",
                      static_cast<unsigned long long>(us / 60000000),
                      static_cast<unsigned long long>((us / 1000000) % 60));
    return text;
}

std::string countText(std::uint64_t n, std::string_view singular, std::string_view plural)
{
    return std::to_string(n) + ' ' + std::string(n == 1 ? singular : plural);
}

bool mayCarryPassword(std::string_view statement)
{
    const std::string all = upper(statement);
    if (all.find("IDENTIFIED") != std::string::npos || all.find("PASSWORD") != std::string::npos)
        return true;
    // The statement's first words, as the server reads them (comments between them skipped;
    // an executable comment's words count, as the server runs them).
    std::vector<sqllex::Token> tokens;
    sqllex::scan(statement, sqllex::State(), tokens);
    std::vector<std::string> words;
    for (const sqllex::Token &t : tokens) {
        if (t.kind == sqllex::Kind::Word) {
            words.push_back(upper(statement.substr(t.begin, t.length)));
        } else if (t.kind == sqllex::Kind::Comment) {
            const std::string_view c = statement.substr(t.begin, t.length);
            if (c.size() >= 3 && c.substr(0, 3) == "/*!") {
                // "/*!50700 CREATE USER ..." : its words are read like the statement's.
                std::string_view inner = c.substr(3, c.size() >= 5 ? c.size() - 5 : 0);
                while (!inner.empty() && std::isdigit(static_cast<unsigned char>(inner[0])))
                    inner.remove_prefix(1);
                if (mayCarryPassword(inner)) return true;
            }
            continue;
        } else if (t.kind != sqllex::Kind::Space) {
            break;
        }
        if (words.size() >= 4) break;
    }
    if (words.empty()) return false;
    if (words[0] == "GRANT") return true;
    if (words[0] == "CREATE" || words[0] == "ALTER")
        return std::find(words.begin() + 1, words.end(), "USER") != words.end();
    return false;
}

} // namespace sqlscript
