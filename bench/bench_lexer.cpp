// The lexer's speed: a 50 MB dump of one-line INSERT statements (quotes with escaped quotes and
// delimiters inside them, comments) split into statements, against the least any splitter must
// do, one pass looking at every byte for ';' (std::count), over the same text. Median of 5.
#include "SqlLexer.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace {
double seconds(const auto &work)
{
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}
} // namespace

int main()
{
    std::string dump;
    dump.reserve(52u << 20);
    for (int i = 0; dump.size() < (50u << 20); ++i)
        dump += "INSERT INTO `t` VALUES (" + std::to_string(i) +
                ",'text; with \\'quotes\\' and `ticks`',NULL,1.5); -- row " + std::to_string(i) +
                "\n";
    std::vector<double> ours, baseline;
    std::size_t statements = 0, semicolons = 0;
    for (int run = 0; run < 5; ++run) {
        ours.push_back(seconds([&] { statements = sqllex::split(dump).size(); }));
        baseline.push_back(
            seconds([&] { semicolons = std::size_t(std::count(dump.begin(), dump.end(), ';')); }));
    }
    const double mb = double(dump.size()) / 1e6;
    const double a = median(ours), b = median(baseline);
    std::printf("split %.1f MB: %zu statements, %.0f MB/s (target >= 100)   std::count of ';' "
                "(%zu): %.0f MB/s   ratio %.1f\n",
                mb, statements, mb / a, semicolons, mb / b, a / b);
    return 0;
}
