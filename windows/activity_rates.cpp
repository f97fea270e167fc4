#include "activity_rates.h"

#include <algorithm>
#include <array>
#include <cstdint>

namespace activity {
std::optional<std::uint64_t> counterValue(std::string_view text)
{
    if (text.empty() || text.size() > 20) return std::nullopt;
    std::uint64_t n = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        const auto digit = std::uint64_t(c - '0');
        // The server's counters are unsigned 64-bit: 20 digits, the last of which may overflow.
        if (n > (UINT64_MAX - digit) / 10) return std::nullopt;
        n = n * 10 + digit;
    }
    return n;
}

bool isCounter(std::string_view name)
{
    // The levels among MariaDB's and MySQL's numeric status values, each a name or the start of
    // the names of a family.
    static constexpr std::array<std::string_view, 34> levels{
        "Acl_",
        "Aria_pagecache_blocks_",
        "Binlog_snapshot_",
        "Delayed_insert_threads",
        "Innodb_buffer_pool_bytes_",
        "Innodb_buffer_pool_pages_",
        "Innodb_checkpoint_",
        "Innodb_data_pending_",
        "Innodb_history_list_length",
        "Innodb_mem_",
        "Innodb_num_open_files",
        "Innodb_os_log_pending_",
        "Innodb_page_size",
        "Innodb_row_lock_current_waits",
        "Innodb_row_lock_time_avg",
        "Innodb_row_lock_time_max",
        "Key_blocks_",
        "Max_used_",
        "Memory_used",
        "Not_flushed_delayed_rows",
        "Open_",
        "Prepared_stmt_count",
        "Qcache_free_",
        "Qcache_queries_in_cache",
        "Qcache_total_blocks",
        "Rpl_",
        "Slaves_",
        "Ssl_",
        "Tc_log_max_pages_used",
        "Threadpool_",
        "Threads_cached",
        "Threads_connected",
        "Threads_running",
        "Uptime", // and Uptime_since_flush_status
    };
    return std::none_of(levels.begin(), levels.end(),
                        [name](std::string_view level) { return name.starts_with(level); });
}

std::optional<double> perSecond(std::uint64_t before, std::uint64_t after, double seconds)
{
    if (after < before || !(seconds > 0)) return std::nullopt;
    return double(after - before) / seconds;
}

void StatusRates::take(double seconds,
                       const std::vector<std::pair<std::string, std::string>> &status)
{
    m_old.swap(m_new);
    m_new.clear();
    for (const auto &[name, text] : status)
        if (const auto n = counterValue(text)) m_new.emplace(name, *n);
    m_before = m_now;
    m_now = seconds;
    ++m_readings;
}

std::optional<double> StatusRates::rate(const std::string &name) const
{
    if (m_readings < 2 || !isCounter(name)) return std::nullopt;
    const auto was = m_old.find(name), is = m_new.find(name);
    if (was == m_old.end() || is == m_new.end()) return std::nullopt;
    return perSecond(was->second, is->second, m_now - m_before);
}

std::optional<std::uint64_t> StatusRates::value(const std::string &name) const
{
    const auto is = m_new.find(name);
    if (is == m_new.end()) return std::nullopt;
    return is->second;
}

void TimeWindow::add(double t, double v)
{
    m_points.push_back({t, v});
    while (!m_points.empty() && m_points.front().t < t - m_span)
        m_points.pop_front();
}

double TimeWindow::maximum() const
{
    double m = 0;
    for (const Point &p : m_points)
        m = std::max(m, p.v);
    return m;
}

namespace {
char lower(char c)
{
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}
// The pattern against the text from its start, '%' taking any run.
bool matchHere(std::string_view p, std::string_view s)
{
    // Iterative with one back-track point: the last '%' seen.
    std::size_t pi = 0, si = 0, star = std::string_view::npos, mark = 0;
    while (si < s.size()) {
        if (pi < p.size() && (p[pi] == '_' || lower(p[pi]) == lower(s[si]))) {
            ++pi;
            ++si;
        } else if (pi < p.size() && p[pi] == '%') {
            star = pi++;
            mark = si;
        } else if (star != std::string_view::npos) {
            pi = star + 1;
            si = ++mark;
        } else {
            return false;
        }
    }
    while (pi < p.size() && p[pi] == '%')
        ++pi;
    return pi == p.size();
}
} // namespace

bool filterMatches(std::string_view filter, std::string_view name)
{
    if (filter.empty()) return true;
    std::string anywhere;
    anywhere.reserve(filter.size() + 2);
    anywhere += '%';
    anywhere += filter;
    anywhere += '%';
    return matchHere(anywhere, name);
}
} // namespace activity
