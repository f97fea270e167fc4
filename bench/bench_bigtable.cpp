// A big table shown whole. Quorvane, from choosing the table in the table list to the grid holding
// every row and the count painted, beside baselines measured in the same run:
//   A  the run-time-loaded library alone: mysql_store_result, then every row with
//      mysql_fetch_row and mysql_fetch_lengths (the floor for any client that stores results);
//   A' the same with mysql_use_result: rows read as the server sends them;
//   B  Qt's QSqlQueryModel over the QMYSQL driver in a QTableView, fetched to the end;
//   C  the mariadb command-line client in batch mode to /dev/null.
// Also: the first screenful painted beside A''s first row; Disconnect and Stop 300 ms into a
// read; and the time and memory per row at 100,000, 3,000,000 and 10,000,000 rows.
// Each measurement runs in a fresh process (so peak memory is its own): one warm-up, then the
// median of five. The window-thread figure is the longest gap of a 10 ms heartbeat timer.
#include "Cologrid.h"
#include "bench_common.h"
#include "bench_window.h"
#include "common.h"
#include "mySQLQueue.h"
#include "tolvar_window.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQueryModel>
#include <QTableView>
#include <QTimer>
#include <QTreeWidget>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <malloc.h>
#include <map>

using namespace mysqlapi;
using namespace bench;

namespace {
// The table's size: QUORVANE_BENCH_ROWS, one million unless set. Each size has its own table.
const int Rows = qEnvironmentVariableIntValue("QUORVANE_BENCH_ROWS") > 0
                     ? qEnvironmentVariableIntValue("QUORVANE_BENCH_ROWS")
                     : 1000000;
std::string tableName()
{
    return Rows == 1000000 ? std::string("big") : "big_" + std::to_string(Rows);
}
std::string selectAll()
{
    return "Select * From `quorvane_bench`.`" + tableName() + "`;";
}

int setup()
{
    MYSQL *m = connectPlain();
    if (!m) return 1;
    auto run = [&](const char *sql) {
        if (mysql_query(m, sql) != 0) {
            std::fprintf(stderr, "%s: %s\n", sql, mysql_error(m));
            return false;
        }
        if (MYSQL_RES *r = mysql_store_result(m)) mysql_free_result(r);
        return true;
    };
    run("SET NAMES utf8mb4");
    // Every reader compared here reads the table from the server's memory: with the sandbox's
    // small buffer pool the million-row table alone does not fit, and each run's figure would be
    // the page cache's. The private server's pool grows once, to what the largest table needs.
    run("SET GLOBAL innodb_buffer_pool_size = GREATEST(@@innodb_buffer_pool_size, 2147483648)");
    run("CREATE DATABASE IF NOT EXISTS quorvane_bench CHARACTER SET utf8mb4");
    run("USE quorvane_bench"); // the sequence tables live in the current database
    const std::string table = "quorvane_bench." + tableName();
    if (mysql_query(m, ("SELECT COUNT(*) FROM " + table).c_str()) == 0) {
        MYSQL_RES *r = mysql_store_result(m);
        MYSQL_ROW row = r ? mysql_fetch_row(r) : nullptr;
        const bool ready = row && row[0] && std::atol(row[0]) == Rows;
        if (r) mysql_free_result(r);
        if (ready) return 0;
    }
    std::fprintf(stderr, "making %s (%d rows)...\n", table.c_str(), Rows);
    const std::string create =
        "CREATE TABLE " + table +
        " (id INT UNSIGNED PRIMARY KEY, a INT, b BIGINT, "
        "c DECIMAL(12,2), d DATETIME, e VARCHAR(20), f VARCHAR(40), g VARCHAR(40) NULL)";
    const std::string fill =
        "INSERT INTO " + table +
        " SELECT seq, CAST((seq * 7919) % 100000 AS SIGNED) - 50000, "
        "seq * 1000003, (seq % 100000) / 100, '2020-01-01' + INTERVAL (seq % 500000) MINUTE, "
        "CONCAT('e', seq), CONCAT('name ', seq, ELT(1 + seq % 4, ' O''Brien', "
        "' back\\\\slash', ' 100% _x_', ' zażółć gęślą')), "
        "IF(seq % 10 = 0, NULL, CONCAT('g-', seq)) FROM seq_1_to_" +
        std::to_string(Rows);
    if (!run(("DROP TABLE IF EXISTS " + table).c_str()) || !run(create.c_str()) ||
        !run(fill.c_str()))
        return 1;
    mysql_close(m);
    return 0;
}

// The library alone: stored first (A), or read as it comes (A').
Result plain(bool stored)
{
    Result r;
    MYSQL *m = connectPlain();
    if (!m) return r;
    QElapsedTimer clock;
    clock.start();
    const double cpu = processCpuMs();
    const std::string sql = selectAll();
    if (mysql_real_query(m, sql.data(), sql.size()) != 0) return r;
    MYSQL_RES *result = stored ? mysql_store_result(m) : mysql_use_result(m);
    const unsigned cols = mysql_num_fields(result);
    unsigned long long bytes = 0;
    int rows = 0;
    while (MYSQL_ROW row = mysql_fetch_row(result)) {
        if (rows == 0) r.firstMs = clock.nsecsElapsed() / 1e6;
        const unsigned long *lengths = mysql_fetch_lengths(result);
        for (unsigned c = 0; c < cols; ++c)
            bytes += row[c] ? lengths[c] : 0;
        ++rows;
    }
    r.ms = clock.nsecsElapsed() / 1e6;
    r.cpuMs = processCpuMs() - cpu;
    r.peakKb = statusKb("VmHWM:");
    mysql_free_result(result);
    malloc_trim(0);
    r.afterKb = statusKb("VmRSS:");
    r.stallMs = r.ms; // one thread: it waits for all of it
    if (rows != Rows || bytes == 0) r.ms = -1;
    mysql_close(m);
    return r;
}

QListWidgetItem *openBigTableList(Ttolvar &w)
{
    return openBenchTableList(w, QString::fromStdString(tableName()));
}

Result quorvane()
{
    Result r;
    Ttolvar w;
    QListWidgetItem *item = openBigTableList(w);
    if (!item) return r;
    PaintWatch painted(w.Mgrid->viewport());
    Heartbeat heartbeat;
    waitFor([] { return true; });
    heartbeat.start();
    QElapsedTimer clock;
    clock.start();
    const double cpu = processCpuMs();
    const quint64 fill = w.gridOrigin().Fill;
    const QString done = QString::number(Rows) + QStringLiteral(" rows");
    int paintsBefore = 0;
    w.Table_list->setCurrentItem(item);
    // Checked on every pass of the event loop, so each moment is seen when it happens.
    if (!waitFor([&] {
            if (w.gridOrigin().Fill == fill) {
                paintsBefore = painted.paints;
                return false;
            }
            if (r.firstMs < 0 && painted.paints > paintsBefore)
                r.firstMs = clock.nsecsElapsed() / 1e6;
            return r.firstMs >= 0 && w.PanelText(4) == done;
        }))
        return r;
    // The count and the grown scroll bar painted.
    QCoreApplication::processEvents();
    r.ms = clock.nsecsElapsed() / 1e6;
    r.cpuMs = processCpuMs() - cpu;
    r.stallMs = heartbeat.stop();
    r.peakKb = statusKb("VmHWM:");
    r.blockKb = long(w.Mgrid->Store().memoryBytes() / 1024);
    if (w.Mgrid->RowCount() != Rows + 1) r.ms = -1;
    waitFor([] { return false; }, 200);
    malloc_trim(0);
    r.afterKb = statusKb("VmRSS:");
    return r;
}

// Stop 300 ms into the read: ms from the click until the component is idle and the server's
// process list is free of the statement (asked over a connection of its own), stallMs the
// longest window-thread gap over the whole read and stop.
Result stopDuringRead()
{
    Result r;
    Ttolvar w;
    QListWidgetItem *item = openBigTableList(w);
    if (!item) return r;
    MYSQL *watcher = connectPlain();
    if (!watcher) return r;
    Heartbeat heartbeat;
    heartbeat.start();
    w.Table_list->setCurrentItem(item);
    waitFor([] { return false; }, 300);
    QElapsedTimer clock;
    clock.start();
    w.StopClick();
    const std::string running = "SELECT COUNT(*) FROM information_schema.PROCESSLIST WHERE INFO "
                                "= '" +
                                selectAll() + "'";
    auto serverFree = [&] {
        if (mysql_query(watcher, running.c_str()) != 0) return false;
        MYSQL_RES *res = mysql_store_result(watcher);
        MYSQL_ROW row = res ? mysql_fetch_row(res) : nullptr;
        const bool free = row && row[0] && std::atol(row[0]) == 0;
        if (res) mysql_free_result(res);
        return free;
    };
    if (!waitFor([&] { return w.mysql->TaskHandler()->Thread()->Idle() && serverFree(); }, 20000))
        return r;
    r.ms = clock.nsecsElapsed() / 1e6;
    waitFor([] { return false; }, 50);
    r.stallMs = heartbeat.stop();
    r.firstMs = w.Mgrid->RowCount() - 1; // rows shown when stopped
    r.peakKb = statusKb("VmHWM:");
    r.afterKb = statusKb("VmRSS:");
    if (!w.PanelText(4).startsWith(QStringLiteral("Stopped: "))) r.ms = -1;
    mysql_close(watcher);
    return r;
}

// Disconnect 300 ms into the load: ms is the Disconnect call on the window thread, stallMs the
// longest window-thread gap from the click until the connection is closed.
Result disconnectDuringLoad()
{
    Result r;
    Ttolvar w;
    QListWidgetItem *item = openBigTableList(w);
    if (!item) return r;
    w.Table_list->setCurrentItem(item);
    waitFor([] { return false; }, 300);
    Heartbeat heartbeat;
    heartbeat.start();
    QElapsedTimer clock;
    clock.start();
    w.Disconnect1Click();
    r.ms = clock.nsecsElapsed() / 1e6;
    if (!waitFor(
            [&] {
                return !w.mysql->Connected() && w.mysql->TaskHandler() &&
                       w.mysql->TaskHandler()->Thread()->Idle();
            },
            20000))
        r.ms = -1;
    waitFor([] { return false; }, 50);
    r.stallMs = heartbeat.stop();
    r.peakKb = statusKb("VmHWM:");
    r.afterKb = statusKb("VmRSS:");
    return r;
}

Result qsql()
{
    Server s;
    Result r;
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QMYSQL"));
    db.setHostName(s.host);
    db.setUserName(s.user);
    db.setPassword(s.password);
    db.setPort(s.port);
    if (!db.open()) {
        std::fprintf(stderr, "QMYSQL: %s\n", qPrintable(db.lastError().text()));
        return r;
    }
    QTableView view;
    view.resize(699, 300);
    QSqlQueryModel model;
    view.setModel(&model);
    view.show();
    PaintWatch painted(view.viewport());
    waitFor([] { return true; });
    Heartbeat heartbeat;
    heartbeat.start();
    QElapsedTimer clock;
    clock.start();
    const int paintsBefore = painted.paints;
    model.setQuery(QString::fromStdString(selectAll()), db);
    while (model.canFetchMore())
        model.fetchMore();
    if (!waitFor([&] { return painted.paints > paintsBefore; })) return r;
    r.ms = clock.nsecsElapsed() / 1e6;
    r.stallMs = heartbeat.stop();
    r.peakKb = statusKb("VmHWM:");
    if (model.rowCount() != Rows) r.ms = -1;
    waitFor([] { return false; }, 200);
    malloc_trim(0);
    r.afterKb = statusKb("VmRSS:");
    return r;
}

Result cli()
{
    Server s;
    Result r;
    QProcess mariadb;
    mariadb.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer clock;
    clock.start();
    mariadb.start(QStringLiteral("mariadb"),
                  {QStringLiteral("--no-defaults"), QStringLiteral("--batch"), QStringLiteral("-h"),
                   s.host, QStringLiteral("-P"), QString::number(s.port), QStringLiteral("-u"),
                   s.user, QStringLiteral("-p") + s.password, QStringLiteral("-e"),
                   QString::fromStdString(selectAll())});
    if (!mariadb.waitForFinished(600000) || mariadb.exitCode() != 0) return r;
    r.ms = clock.nsecsElapsed() / 1e6;
    return r;
}

int setupRows(int rows)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedChannels);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QUORVANE_BENCH_ROWS"), QString::number(rows));
    p.setProcessEnvironment(env);
    p.start(QCoreApplication::applicationFilePath(), {QStringLiteral("setup")});
    p.waitForFinished(1800000);
    return p.exitCode();
}

} // namespace

int main(int argc, char *argv[])
{
    const QString mode = argc > 1 ? QString::fromLatin1(argv[1]) : QStringLiteral("all");
    if (Server().host.isEmpty()) {
        std::fprintf(stderr, "run through scripts/bench.sh (needs the sandbox)\n");
        return 1;
    }
    if (mode == QLatin1String("setup")) return setup();
    if (mode == QLatin1String("plain") || mode == QLatin1String("plainuse")) {
        report(plain(mode == QLatin1String("plain")));
        return 0;
    }
    if (mode == QLatin1String("cli")) {
        QCoreApplication app(argc, argv);
        report(cli());
        return 0;
    }
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (mode == QLatin1String("quorvane")) {
        report(quorvane());
        return 0;
    }
    if (mode == QLatin1String("qsql")) {
        report(qsql());
        return 0;
    }
    if (mode == QLatin1String("disconnect")) {
        report(disconnectDuringLoad());
        return 0;
    }
    if (mode == QLatin1String("stop")) {
        report(stopDuringRead());
        return 0;
    }
    const int runs = qEnvironmentVariableIntValue("QUORVANE_BENCH_RUNS") > 0
                         ? qEnvironmentVariableIntValue("QUORVANE_BENCH_RUNS")
                         : 5;
    const int million = 1000000;
    for (const int rows : {million, 100000, 3 * million, 10 * million})
        if (setupRows(rows) != 0) return 1;

    const Runs one({"plain", "plainuse", "quorvane", "qsql", "cli", "disconnect"}, million, runs);
    std::printf("%d rows x 8 columns, median of %d runs after one warm-up\n", million, runs);
    std::printf("%-44s %9s %9s %9s %9s %9s\n", "", "time ms", "first ms", "stall ms", "peak MiB",
                "after MiB");
    const std::pair<const char *, const char *> rowsOf[] = {
        {"plain", "A  library, store + fetch + lengths"},
        {"plainuse", "A' library, use + fetch + lengths"},
        {"quorvane", "Quorvane: table list -> all rows painted"},
        {"qsql", "B  QSqlQueryModel + QTableView (QMYSQL)"},
        {"cli", "C  mariadb --batch > /dev/null"}};
    for (const auto &[m, name] : rowsOf)
        std::printf("%-44s %9.1f %9.1f %9.1f %9.1f %9.1f\n", name, one.ms(m, &Result::ms),
                    one.ms(m, &Result::firstMs), one.ms(m, &Result::stallMs),
                    one.mib(m, &Result::peakKb), one.mib(m, &Result::afterKb));
    const double q = one.ms("quorvane", &Result::ms);
    std::printf("\nQuorvane/A' time %.2f (target <= 1.0), Quorvane/A %.2f, Quorvane/B %.2f, "
                "Quorvane/C %.2f\n",
                q / one.ms("plainuse", &Result::ms), q / one.ms("plain", &Result::ms),
                q / one.ms("qsql", &Result::ms), q / one.ms("cli", &Result::ms));
    std::printf("CPU of the reading process: Quorvane %.1f ms, A' %.1f ms, %.2f\n",
                one.ms("quorvane", &Result::cpuMs), one.ms("plainuse", &Result::cpuMs),
                one.ms("quorvane", &Result::cpuMs) / one.ms("plainuse", &Result::cpuMs));
    std::printf("first screenful painted %.1f ms after the click (target <= 100), A' first row "
                "%.1f ms\n",
                one.ms("quorvane", &Result::firstMs), one.ms("plainuse", &Result::firstMs));
    std::printf("longest window-thread stall %.1f ms (target <= 50)\n",
                one.ms("quorvane", &Result::stallMs));
    std::printf("Quorvane/B peak memory %.2f (target <= 0.7), after the load %.2f (<= 0.7); "
                "packed cells %.1f MiB\n",
                one.mib("quorvane", &Result::peakKb) / one.mib("qsql", &Result::peakKb),
                one.mib("quorvane", &Result::afterKb) / one.mib("qsql", &Result::afterKb),
                one.mib("quorvane", &Result::blockKb));
    const double rest = q - 300.0;
    std::printf("Disconnect 300 ms into the load: the call %.1f ms, longest stall %.1f ms "
                "(target <= 100), against %.1f ms left of the load (%.3f)\n",
                one.ms("disconnect", &Result::ms), one.ms("disconnect", &Result::stallMs), rest,
                one.ms("disconnect", &Result::stallMs) / rest);

    std::printf("\nGrowth, median of %d runs: time and peak memory per row\n", runs);
    std::printf("%-12s %12s %12s %12s %12s %12s %12s %12s %12s\n", "rows", "A' ms", "Quorvane ms",
                "Q/A'", "A' CPU ms", "Q CPU ms", "Q peak MiB", "Q B/row", "packed MiB");
    for (const int rows : {100000, million, 3 * million, 10 * million}) {
        const Runs sized({"plainuse", "quorvane"}, rows, rows == 10 * million ? 3 : runs);
        const double a = sized.ms("plainuse", &Result::ms), qq = sized.ms("quorvane", &Result::ms);
        const double peak = sized.mib("quorvane", &Result::peakKb);
        const double packed = sized.mib("quorvane", &Result::blockKb);
        std::printf("%-12d %12.1f %12.1f %12.2f %12.1f %12.1f %12.1f %12.1f %12.1f\n", rows, a, qq,
                    qq / a, sized.ms("plainuse", &Result::cpuMs),
                    sized.ms("quorvane", &Result::cpuMs), peak, peak * 1024 * 1024 / rows, packed);
        if (rows == 10 * million)
            std::printf("10,000,000 rows: peak memory / packed cells %.2f (target <= 1.3)\n",
                        peak / packed);
    }
    const Runs stop({"stop"}, 10 * million, runs);
    std::printf("\nStop 300 ms into a 10,000,000-row read: idle and the server's process list "
                "free %.1f ms after the click (target <= 200), longest stall %.1f ms "
                "(target <= 50), %.0f rows shown\n",
                stop.ms("stop", &Result::ms), stop.ms("stop", &Result::stallMs),
                stop.ms("stop", &Result::firstMs));
    return 0;
}
