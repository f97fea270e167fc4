#pragma once

// The arithmetic of the server activity window, with no Qt in it: counters per second between
// two readings of SHOW GLOBAL STATUS, the last minutes of a chart's points, and the filter that
// picks status and variable names.

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace activity {
// A status value as a counter's number: plain decimal digits only (no sign, no fraction).
std::optional<std::uint64_t> counterValue(std::string_view text);

// Whether a status variable counts events (Questions, Bytes_sent) rather than stating a level
// (Threads_connected, Open_tables), whose rate would mean nothing.
bool isCounter(std::string_view name);

// The increase per second; none when the counter went down (the server restarted, or FLUSH
// STATUS reset it) or no time passed.
std::optional<double> perSecond(std::uint64_t before, std::uint64_t after, double seconds);

// Two readings of the server's status, the latest and the one before, for per-second rates.
class StatusRates
{
public:
    // A reading taken at `seconds` (any steady clock) of name/value pairs.
    void take(double seconds, const std::vector<std::pair<std::string, std::string>> &status);
    // The counter's rate between the last two readings; none for a level, a text, the first
    // reading, or a reset.
    std::optional<double> rate(const std::string &name) const;
    // The latest value as a number, when it is one.
    std::optional<std::uint64_t> value(const std::string &name) const;

private:
    double m_before = 0, m_now = 0;
    int m_readings = 0;
    std::unordered_map<std::string, std::uint64_t> m_old, m_new;
};

// A chart's points over the last `span` seconds: older points are dropped as newer ones come.
struct Point
{
    double t = 0; // seconds (the chart's clock)
    double v = 0;
};
class TimeWindow
{
public:
    explicit TimeWindow(double span = 600) : m_span(span) {}
    void add(double t, double v);
    const std::deque<Point> &points() const { return m_points; }
    // The largest value kept, 0 when none.
    double maximum() const;
    double span() const { return m_span; }

private:
    double m_span;
    std::deque<Point> m_points;
};

// The filter edit's rule: the text anywhere in the name, ASCII letters in any case, with '%' for
// any run of characters and '_' for any one (as in SHOW ... LIKE, which users know). An empty
// filter matches everything.
bool filterMatches(std::string_view filter, std::string_view name);
} // namespace activity
