// A table of 1,000,000 rows shown whole. Quorvane, from choosing the table in the table list to
// the grid holding every row and painted, beside three baselines measured in the same run:
//   A  the run-time-loaded library alone: mysql_store_result, then every row with
//      mysql_fetch_row and mysql_fetch_lengths (the floor for any client that stores results);
//   B  Qt's QSqlQueryModel over the QMYSQL driver in a QTableView, fetched to the end;
//   C  the mariadb command-line client in batch mode to /dev/null.
// Each measurement runs in a fresh process (so peak memory is its own): one warm-up, then the
// median of five. The window-thread figure is the longest gap of a 10 ms heartbeat timer.
#include "Cologrid.h"
#include "bench_common.h"
#include "common.h"
#include "mySQLQueue.h"
#include "tolvar_window.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
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
constexpr int Rows = 1000000;

struct Result
{
    double ms = -1;
    long peakKb = -1;
    long afterKb = -1;
    double stallMs = -1;
};

void report(const Result &r)
{
    std::printf("RESULT %.3f %ld %ld %.3f\n", r.ms, r.peakKb, r.afterKb, r.stallMs);
    std::fflush(stdout);
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
    run("CREATE DATABASE IF NOT EXISTS quorvane_bench CHARACTER SET utf8mb4");
    run("USE quorvane_bench"); // the sequence tables live in the current database
    if (mysql_query(m, "SELECT COUNT(*) FROM quorvane_bench.big") == 0) {
        MYSQL_RES *r = mysql_store_result(m);
        MYSQL_ROW row = r ? mysql_fetch_row(r) : nullptr;
        const bool ready = row && row[0] && std::atol(row[0]) == Rows;
        if (r) mysql_free_result(r);
        if (ready) return 0;
    }
    std::fprintf(stderr, "making quorvane_bench.big (%d rows)...\n", Rows);
    if (!run("DROP TABLE IF EXISTS quorvane_bench.big") ||
        !run("CREATE TABLE quorvane_bench.big (id INT UNSIGNED PRIMARY KEY, a INT, b BIGINT, "
             "c DECIMAL(12,2), d DATETIME, e VARCHAR(20), f VARCHAR(40), g VARCHAR(40) NULL)") ||
        !run("INSERT INTO quorvane_bench.big SELECT seq, CAST((seq * 7919) % 100000 AS SIGNED) - "
             "50000, "
             "seq * 1000003, (seq % 100000) / 100, '2020-01-01' + INTERVAL (seq % 500000) MINUTE, "
             "CONCAT('e', seq), CONCAT('name ', seq, ELT(1 + seq % 4, ' O''Brien', "
             "' back\\\\slash', ' 100% _x_', ' zażółć gęślą')), "
             "IF(seq % 10 = 0, NULL, CONCAT('g-', seq)) FROM seq_1_to_1000000"))
        return 1;
    mysql_close(m);
    return 0;
}

Result plain()
{
    Result r;
    MYSQL *m = connectPlain();
    if (!m) return r;
    QElapsedTimer clock;
    clock.start();
    const char *sql = "Select * From `quorvane_bench`.`big`;";
    if (mysql_real_query(m, sql, std::strlen(sql)) != 0) return r;
    MYSQL_RES *result = mysql_store_result(m);
    const unsigned cols = mysql_num_fields(result);
    unsigned long long bytes = 0;
    int rows = 0;
    while (MYSQL_ROW row = mysql_fetch_row(result)) {
        const unsigned long *lengths = mysql_fetch_lengths(result);
        for (unsigned c = 0; c < cols; ++c)
            bytes += row[c] ? lengths[c] : 0;
        ++rows;
    }
    r.ms = clock.nsecsElapsed() / 1e6;
    r.peakKb = statusKb("VmHWM:");
    mysql_free_result(result);
    malloc_trim(0);
    r.afterKb = statusKb("VmRSS:");
    r.stallMs = r.ms; // one thread: it waits for all of it
    if (rows != Rows || bytes == 0) r.ms = -1;
    mysql_close(m);
    return r;
}

void noBox(QWidget *, const QString &) {}

// A connected main window with the benchmark database chosen; the table list item of the big
// table, or null when the window did not get there.
QListWidgetItem *openBigTableList(Ttolvar &w)
{
    Server s;
    ui::setErrorShower(noBox); // no settings.ini here: the start-up step's report is answered
    w.mysql->setHostname(s.host);
    w.mysql->setUsername(s.user);
    w.mysql->setPassword(s.password);
    w.mysql->setPort(s.port);
    w.show();
    w.mysql->Connect();
    if (!waitFor([&] { return w.Tree_view->topLevelItemCount() > 0; }, 20000)) return nullptr;
    QTreeWidgetItem *db = nullptr;
    for (int i = 0; i < w.Tree_view->topLevelItemCount(); ++i)
        if (w.Tree_view->topLevelItem(i)->text(0) == QLatin1String("quorvane_bench"))
            db = w.Tree_view->topLevelItem(i);
    if (!db) return nullptr;
    w.Tree_view->setCurrentItem(db);
    if (!waitFor([&] { return w.listDatabase() == QLatin1String("quorvane_bench"); }, 20000))
        return nullptr;
    return w.Table_list->findItems(QStringLiteral("big"), Qt::MatchExactly).value(0);
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
    const quint64 fill = w.gridOrigin().Fill;
    int paintsBefore = 0;
    w.Table_list->setCurrentItem(item);
    if (!waitFor([&] {
            if (w.gridOrigin().Fill == fill) {
                paintsBefore = painted.paints;
                return false;
            }
            return painted.paints > paintsBefore;
        }))
        return r;
    r.ms = clock.nsecsElapsed() / 1e6;
    r.stallMs = heartbeat.stop();
    r.peakKb = statusKb("VmHWM:");
    if (w.Mgrid->RowCount() != Rows + 1) r.ms = -1;
    waitFor([] { return false; }, 200);
    malloc_trim(0);
    r.afterKb = statusKb("VmRSS:");
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
    model.setQuery(QStringLiteral("Select * From `quorvane_bench`.`big`;"), db);
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
                   QStringLiteral("Select * From `quorvane_bench`.`big`;")});
    if (!mariadb.waitForFinished(600000) || mariadb.exitCode() != 0) return r;
    r.ms = clock.nsecsElapsed() / 1e6;
    return r;
}

// Runs one measurement in a fresh process of this program.
Result child(const QString &mode)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(QCoreApplication::applicationFilePath(), {mode});
    p.waitForFinished(900000);
    Result r;
    for (const QByteArray &line : p.readAllStandardOutput().split('\n'))
        if (line.startsWith("RESULT ")) {
            const QList<QByteArray> f = line.split(' ');
            r = {f[1].toDouble(), f[2].toLong(), f[3].toLong(), f[4].toDouble()};
        }
    return r;
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
    if (mode == QLatin1String("plain")) {
        report(plain());
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
    if (QProcess::execute(QCoreApplication::applicationFilePath(), {QStringLiteral("setup")}) != 0)
        return 1;
    const QStringList modes = {"plain", "quorvane", "qsql", "cli", "disconnect"};
    const int runs = qEnvironmentVariableIntValue("QUORVANE_BENCH_RUNS") > 0
                         ? qEnvironmentVariableIntValue("QUORVANE_BENCH_RUNS")
                         : 5;
    std::map<QString, std::vector<Result>> results;
    for (const QString &m : modes)
        child(m); // warm-up: server caches, page cache, library loading
    for (int i = 0; i < runs; ++i)
        for (const QString &m : modes)
            results[m].push_back(child(m));
    auto med = [&](const QString &m, double Result::*field) {
        std::vector<double> v;
        for (const Result &r : results[m])
            v.push_back(r.*field);
        return median(v);
    };
    auto medKb = [&](const QString &m, long Result::*field) {
        std::vector<double> v;
        for (const Result &r : results[m])
            v.push_back(double(r.*field));
        return median(v) / 1024.0;
    };
    std::printf("%d rows x 8 columns, median of %d runs after one warm-up\n", Rows, runs);
    std::printf("%-44s %10s %10s %12s %12s\n", "", "time ms", "stall ms", "peak MiB", "after MiB");
    const char *names[] = {
        "A  library alone (store + fetch + lengths)", "Quorvane (table list -> grid painted)",
        "B  QSqlQueryModel + QTableView (QMYSQL)", "C  mariadb --batch > /dev/null"};
    for (int i = 0; i < 4; ++i) {
        const QString &m = modes[i];
        std::printf("%-44s %10.1f %10.1f %12.1f %12.1f\n", names[i], med(m, &Result::ms),
                    med(m, &Result::stallMs), medKb(m, &Result::peakKb),
                    medKb(m, &Result::afterKb));
    }
    const double q = med("quorvane", &Result::ms);
    std::printf("\nratios: Quorvane/A time %.2f (target <= 1.3), Quorvane/B time %.2f (<= 1.0), "
                "Quorvane/C time %.2f\n",
                q / med("plain", &Result::ms), q / med("qsql", &Result::ms),
                q / med("cli", &Result::ms));
    std::printf("        Quorvane stall %.1f ms (target <= 100), B stall %.1f ms\n",
                med("quorvane", &Result::stallMs), med("qsql", &Result::stallMs));
    std::printf("        Quorvane/B peak memory %.2f (<= 1.5), after the load %.2f (<= 1.0)\n",
                medKb("quorvane", &Result::peakKb) / medKb("qsql", &Result::peakKb),
                medKb("quorvane", &Result::afterKb) / medKb("qsql", &Result::afterKb));
    // What waiting for the read would cost: the rest of the load.
    const double rest = q - 300.0;
    std::printf("\nDisconnect 300 ms into the load: the call %.1f ms, longest window-thread stall "
                "%.1f ms (target <= 100),\n  against %.1f ms left of the load that a close "
                "waiting for the read would stall for (ratio %.3f)\n",
                med("disconnect", &Result::ms), med("disconnect", &Result::stallMs), rest,
                med("disconnect", &Result::stallMs) / rest);
    return 0;
}
