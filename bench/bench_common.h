#pragma once

// What the benchmarks share: the sandbox's connection values, the process's memory, a heartbeat
// on the window thread, waiting in the event loop, counting paints, and medians.
#include "mySQLLibrary.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <sys/resource.h>
#include <vector>

namespace bench {
struct Server
{
    QString host = qEnvironmentVariable("QUORVANE_TEST_HOST");
    QString user = qEnvironmentVariable("QUORVANE_TEST_USER");
    QString password = qEnvironmentVariable("QUORVANE_TEST_PASSWORD");
    int port = qEnvironmentVariableIntValue("QUORVANE_TEST_PORT");
};

// A plain library connection to the sandbox, in UTF-8; null (with the reason on stderr) when
// the library or the server is not there.
inline MYSQL *connectPlain()
{
    using namespace mysqlapi;
    const Server s;
    LoadMySQLLibrary();
    if (!MySQLLibHandle) return nullptr;
    MYSQL *m = mysql_init(nullptr);
    mysql_options(m, MYSQL_SET_CHARSET_NAME, "utf8mb4");
    if (!mysql_real_connect(m, qPrintable(s.host), qPrintable(s.user), qPrintable(s.password), "",
                            unsigned(s.port), nullptr, 0)) {
        std::fprintf(stderr, "connect failed: %s\n", mysql_error(m));
        mysql_close(m);
        return nullptr;
    }
    return m;
}

// Kilobytes from /proc/self/status ("VmHWM" peak, "VmRSS" now).
inline long statusKb(const char *key)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith(key))
            return line.mid(qstrlen(key) + 1).trimmed().split(' ')[0].toLong();
    return -1;
}

// Longest gap between ticks of a 10 ms timer on the window thread.
class Heartbeat
{
public:
    Heartbeat()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            const qint64 now = m_clock.nsecsElapsed();
            m_longest = std::max(m_longest, now - m_last);
            m_last = now;
        });
    }
    void start()
    {
        m_clock.start();
        m_last = 0;
        m_longest = 0;
        m_timer.start(10);
    }
    double stop()
    {
        m_timer.stop();
        m_longest = std::max(m_longest, m_clock.nsecsElapsed() - m_last);
        return m_longest / 1e6;
    }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    qint64 m_longest = 0;
};

// Waits in the event loop (sleeping, not spinning: the server and the worker need the cores)
// until done() holds.
inline bool waitFor(const std::function<bool()> &done, int ms = 600000)
{
    if (done()) return true;
    QEventLoop loop;
    QTimer check;
    bool ok = false;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done()) {
            ok = true;
            loop.quit();
        }
    });
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    check.start(2);
    loop.exec();
    return ok;
}

// Counts paint events of a widget.
class PaintWatch : public QObject
{
public:
    explicit PaintWatch(QWidget *w) { w->installEventFilter(this); }
    int paints = 0;
    bool eventFilter(QObject *, QEvent *e) override
    {
        if (e->type() == QEvent::Paint) ++paints;
        return false;
    }
};

inline double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? -1 : v[v.size() / 2];
}

// What one measurement process reports, one line on its standard output.
struct Result
{
    double ms = -1;
    long peakKb = -1;
    long afterKb = -1;
    double stallMs = -1;
    double firstMs = -1; // the first screenful painted, or the first row read
    long blockKb = -1;   // the grid's packed cells
    // CPU time of every thread of the process over the measured span: steadier than the wall
    // clock on a machine whose other tenants take turns, and what a read takes from the server.
    double cpuMs = -1;
};

// User and system time of the whole process so far, in ms.
inline double processCpuMs()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3 +
           (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3;
}

inline void report(const Result &r)
{
    std::printf("RESULT %.3f %ld %ld %.3f %.3f %ld %.3f\n", r.ms, r.peakKb, r.afterKb, r.stallMs,
                r.firstMs, r.blockKb, r.cpuMs);
    std::fflush(stdout);
}

// Runs one measurement in a fresh process of this program (or of another benchmark), on the
// table of that many rows.
inline Result child(const QString &mode, int rows, const QString &program = QString())
{
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QUORVANE_BENCH_ROWS"), QString::number(rows));
    p.setProcessEnvironment(env);
    p.start(program.isEmpty() ? QCoreApplication::applicationFilePath() : program, {mode});
    p.waitForFinished(1800000);
    Result r;
    for (const QByteArray &line : p.readAllStandardOutput().split('\n'))
        if (line.startsWith("RESULT ")) {
            const QList<QByteArray> f = line.split(' ');
            r = {f[1].toDouble(), f[2].toLong(),   f[3].toLong(),
                 f[4].toDouble(), f[5].toDouble(), f[6].toLong()};
            if (f.size() > 7) r.cpuMs = f[7].toDouble();
        }
    return r;
}

// Medians of several fresh-process runs of each mode, after one warm-up each.
class Runs
{
public:
    // Each mode is "mode" of this program or "program:mode" of another.
    Runs(const QStringList &modes, int rows, int runs)
    {
        for (const QString &m : modes)
            run(m, rows); // warm-up: server caches, page cache, library loading
        for (int i = 0; i < runs; ++i)
            for (const QString &m : modes)
                m_results[m].push_back(run(m, rows));
    }
    double ms(const QString &m, double Result::*field) const
    {
        std::vector<double> v;
        for (const Result &r : m_results.at(m))
            v.push_back(r.*field);
        return median(v);
    }
    double mib(const QString &m, long Result::*field) const
    {
        std::vector<double> v;
        for (const Result &r : m_results.at(m))
            v.push_back(double(r.*field));
        return median(v) / 1024.0;
    }

private:
    static Result run(const QString &m, int rows)
    {
        const qsizetype colon = m.indexOf(QLatin1Char(':'));
        if (colon < 0) return child(m, rows);
        return child(m.mid(colon + 1), rows, m.left(colon));
    }
    std::map<QString, std::vector<Result>> m_results;
};

// Makes the benchmark table of that many rows (once) by bench_bigtable's own setup, beside this
// program; its exit code.
inline int setupBigTable(int rows = 1000000)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedChannels);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QUORVANE_BENCH_ROWS"), QString::number(rows));
    p.setProcessEnvironment(env);
    p.start(QCoreApplication::applicationDirPath() + QStringLiteral("/bench_bigtable"),
            {QStringLiteral("setup")});
    p.waitForFinished(1800000);
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : 1;
}

} // namespace bench
