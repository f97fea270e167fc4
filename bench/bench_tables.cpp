// Tables as things to work with: a sort by a header click, the structure page of a wide table,
// and a table exported whole. Quorvane's Export… of the 1,000,000-row benchmark table to CSV, from
// the dialog's answer to the file in place, with the process's peak memory and its growth over
// the connected window before it; beside the mariadb command-line client in batch mode writing
// the same table to a file, in the same run. Each measurement in a fresh process: one warm-up,
// then the median of five.
#include "Cologrid.h"
#include "bench_common.h"
#include "bench_window.h"
#include "table_export.h"
#include "table_structure.h"

#include <QTableWidget>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QListWidget>
#include <QMenu>
#include <QProcess>

#include <cstdio>

using namespace bench;

namespace {
const QString Path = QDir::temp().absoluteFilePath(QStringLiteral("quorvane_bench_export.csv"));

std::optional<TExportOptions> answer(QWidget *, const TExportOptions &)
{
    TExportOptions options;
    options.Format = rowformat::Kind::Csv;
    options.Path = Path;
    return options;
}

Result quorvane(const QString &table = QStringLiteral("big"), qint64 rows = 1000000)
{
    Result r;
    Ttolvar w;
    QListWidgetItem *item = openBenchTableList(w, table);
    if (!item) return r;
    // The table list's context menu chooses the table without reading it.
    Q_EMIT w.Table_list->customContextMenuRequested(w.Table_list->visualItemRect(item).center());
    w.Table_List_popup->hide();
    waitFor([] { return true; });
    const long before = statusKb("VmRSS:");
    exportdialog::setAsker(answer);
    bool done = false, ok = false;
    QObject::connect(w.tableExport(), &TTableExport::finished, [&](bool result, const QString &) {
        done = true;
        ok = result;
    });
    Heartbeat heartbeat;
    heartbeat.start();
    QElapsedTimer clock;
    clock.start();
    w.TablesExportClick();
    if (!waitFor([&] { return done; })) return r;
    r.ms = clock.nsecsElapsed() / 1e6;
    r.stallMs = heartbeat.stop();
    r.peakKb = statusKb("VmHWM:");
    r.blockKb = r.peakKb - before; // the growth over the connected window
    if (!ok || w.tableExport()->rows() != rows || QFile(Path).size() < 1000000) r.ms = -1;
    QFile::remove(Path);
    return r;
}

// A click on the header of a column without an index: from the click to the sorted rows' first
// screenful painted, and the longest stall until every row is in.
Result sortByHeader()
{
    Result r;
    Ttolvar w;
    QListWidgetItem *item = openBenchTableList(w, QStringLiteral("big"));
    if (!item) return r;
    w.Table_list->setCurrentItem(item);
    if (!waitFor([&] { return w.PanelText(4) == QLatin1String("1000000 rows"); })) return r;
    PaintWatch painted(w.Mgrid->viewport());
    Heartbeat heartbeat;
    waitFor([] { return true; });
    heartbeat.start();
    QElapsedTimer clock;
    clock.start();
    const quint64 fill = w.gridOrigin().Fill;
    int paintsBefore = 0;
    w.sortByColumn(6); // f VARCHAR(40), no index
    if (!waitFor([&] {
            if (w.gridOrigin().Fill == fill) {
                paintsBefore = painted.paints;
                return false;
            }
            if (r.firstMs < 0 && painted.paints > paintsBefore)
                r.firstMs = clock.nsecsElapsed() / 1e6;
            return r.firstMs >= 0 && w.PanelText(4) == QLatin1String("1000000 rows");
        }))
        return r;
    r.ms = clock.nsecsElapsed() / 1e6;
    r.stallMs = heartbeat.stop();
    return r;
}

// The library alone: the same sorted read, to its first row and to its last.
Result sortPlain()
{
    using namespace mysqlapi;
    Result r;
    MYSQL *m = connectPlain();
    if (!m) return r;
    const std::string sql = "Select * From `quorvane_bench`.`big` ORDER BY `f` ASC;";
    QElapsedTimer clock;
    clock.start();
    if (mysql_real_query(m, sql.data(), sql.size()) != 0) return r;
    MYSQL_RES *result = mysql_use_result(m);
    int rows = 0;
    while (mysql_fetch_row(result)) {
        if (rows++ == 0) r.firstMs = clock.nsecsElapsed() / 1e6;
    }
    r.ms = clock.nsecsElapsed() / 1e6;
    mysql_free_result(result);
    mysql_close(m);
    if (rows != 1000000) r.ms = -1;
    return r;
}

// The structure page of a table of 1,000 columns: from the click to all five answers shown.
Result structure()
{
    Result r;
    Ttolvar w;
    QListWidgetItem *item = openBenchTableList(w, QStringLiteral("wide"));
    if (!item) return r;
    Q_EMIT w.Table_list->customContextMenuRequested(w.Table_list->visualItemRect(item).center());
    w.Table_List_popup->hide();
    waitFor([] { return true; });
    QElapsedTimer clock;
    clock.start();
    w.TablesStructureClick();
    if (!waitFor([&] { return w.Table_structure->answers() == 5; })) return r;
    QCoreApplication::processEvents();
    r.ms = clock.nsecsElapsed() / 1e6;
    if (w.Table_structure->Columns->rowCount() != 1000) r.ms = -1;
    return r;
}

// The library alone: the five questions of the structure page, each result read whole.
Result structurePlain()
{
    using namespace mysqlapi;
    Result r;
    MYSQL *m = connectPlain();
    if (!m) return r;
    const std::string db = "quorvane_bench", table = "wide";
    QElapsedTimer clock;
    clock.start();
    for (const TmySQLStatement &q : {tablesql::Columns(db, table), tablesql::Indexes(db, table),
                                     tablesql::ForeignKeys(db, table),
                                     tablesql::Triggers(db, table), tablesql::Create(db, table)}) {
        const std::string sql = q.Build();
        if (mysql_real_query(m, sql.data(), sql.size()) != 0) return r;
        MYSQL_RES *result = mysql_store_result(m);
        while (result && mysql_fetch_row(result)) {
        }
        if (result) mysql_free_result(result);
    }
    r.ms = clock.nsecsElapsed() / 1e6;
    mysql_close(m);
    return r;
}

// Ten times the benchmark table, streamed by the server from a view: the rows are made as they
// are read, so the 10,000,000-row export needs no table of that size on disk.
int makeTenfold()
{
    using namespace mysqlapi;
    MYSQL *m = connectPlain();
    if (!m) return 1;
    const int result = mysql_query(m, "CREATE OR REPLACE VIEW quorvane_bench.big10 AS SELECT b.* "
                                      "FROM quorvane_bench.big b JOIN quorvane_bench.seq_1_to_10");
    if (result != 0) std::fprintf(stderr, "%s\n", mysql_error(m));
    mysql_close(m);
    return result;
}

int makeWide()
{
    using namespace mysqlapi;
    MYSQL *m = connectPlain();
    if (!m) return 1;
    std::string create = "CREATE TABLE IF NOT EXISTS quorvane_bench.wide (id INT PRIMARY KEY";
    for (int c = 1; c < 1000; ++c)
        create += ", c" + std::to_string(c) + " TINYINT COMMENT 'column " + std::to_string(c) + "'";
    create += ")";
    const int result = mysql_query(m, create.c_str());
    if (result != 0) std::fprintf(stderr, "%s\n", mysql_error(m));
    mysql_close(m);
    return result;
}

Result cli(const char *table = "big")
{
    Result r;
    const Server s;
    QProcess p;
    p.setStandardOutputFile(Path);
    QElapsedTimer clock;
    clock.start();
    p.start(QStringLiteral("mariadb"),
            {"--batch", "-h", s.host, "-P", QString::number(s.port), "-u", s.user,
             "-p" + s.password, "-e", QStringLiteral("SELECT * FROM quorvane_bench.") + table});
    p.waitForFinished(600000);
    r.ms = clock.nsecsElapsed() / 1e6;
    if (p.exitCode() != 0 || QFile(Path).size() < 1000000) r.ms = -1;
    QFile::remove(Path);
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
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (mode == QLatin1String("quorvane")) {
        report(quorvane());
        return 0;
    }
    if (mode == QLatin1String("sort")) {
        report(sortByHeader());
        return 0;
    }
    if (mode == QLatin1String("sortplain")) {
        report(sortPlain());
        return 0;
    }
    if (mode == QLatin1String("structure")) {
        report(structure());
        return 0;
    }
    if (mode == QLatin1String("structureplain")) {
        report(structurePlain());
        return 0;
    }
    if (mode == QLatin1String("cli")) {
        report(cli());
        return 0;
    }
    if (mode == QLatin1String("quorvane10")) {
        report(quorvane(QStringLiteral("big10"), 10000000));
        return 0;
    }
    if (mode == QLatin1String("cli10")) {
        report(cli("big10"));
        return 0;
    }
    if (setupBigTable() != 0 || makeWide() != 0 || makeTenfold() != 0) return 1;
    const auto tenfold = [] {
        // One run each after the warm-up: each is a minute of work.
        const Runs ten({"quorvane10", "cli10"}, 10000000, 1);
        const double ours10 = ten.ms("quorvane10", &Result::ms),
                     theirs10 = ten.ms("cli10", &Result::ms);
        std::printf("Export of 10,000,000 x 8 rows (a view of ten copies) to CSV, one run after "
                    "one warm-up\n");
        std::printf("  quorvane           %9.1f ms   peak %.1f MiB, %.1f MiB over the connected "
                    "window; longest stall %.1f ms\n",
                    ours10, ten.mib("quorvane10", &Result::peakKb),
                    ten.mib("quorvane10", &Result::blockKb),
                    ten.ms("quorvane10", &Result::stallMs));
        std::printf("  mariadb --batch    %9.1f ms\n", theirs10);
        std::printf("  ratio              %9.2f    (target <= 1.0; memory target <= 64 MiB)\n",
                    theirs10 > 0 ? ours10 / theirs10 : -1);
    };
    if (mode == QLatin1String("tenfold")) {
        tenfold();
        return 0;
    }
    const int runs = qEnvironmentVariableIntValue("QUORVANE_BENCH_RUNS") > 0
                         ? qEnvironmentVariableIntValue("QUORVANE_BENCH_RUNS")
                         : 5;
    const Runs all({"quorvane", "cli"}, 1000000, runs);
    const double ours = all.ms("quorvane", &Result::ms), theirs = all.ms("cli", &Result::ms);
    std::printf("Export of the 1,000,000 x 8 table to CSV, median of %d runs after one warm-up\n",
                runs);
    std::printf("  quorvane           %9.1f ms   peak %.1f MiB, %.1f MiB over the connected "
                "window; longest stall %.1f ms\n",
                ours, all.mib("quorvane", &Result::peakKb), all.mib("quorvane", &Result::blockKb),
                all.ms("quorvane", &Result::stallMs));
    std::printf("  mariadb --batch    %9.1f ms\n", theirs);
    std::printf("  ratio              %9.2f    (target <= 1.0; memory target <= 64 MiB)\n",
                theirs > 0 ? ours / theirs : -1);
    const Runs sort({"sort", "sortplain"}, 1000000, runs);
    std::printf("A header click on a column without an index (ORDER BY f of the 1,000,000 rows)\n");
    std::printf("  quorvane: first screenful %.1f ms after the click, all rows %.1f ms, longest "
                "stall %.1f ms (target <= 50)\n",
                sort.ms("sort", &Result::firstMs), sort.ms("sort", &Result::ms),
                sort.ms("sort", &Result::stallMs));
    std::printf("  library alone: first row %.1f ms, all rows %.1f ms; first screenful after the "
                "server's first row: %.1f ms (target <= 100)\n",
                sort.ms("sortplain", &Result::firstMs), sort.ms("sortplain", &Result::ms),
                sort.ms("sort", &Result::firstMs) - sort.ms("sortplain", &Result::firstMs));
    const Runs page({"structure", "structureplain"}, 1000000, runs);
    std::printf("The structure page of a table of 1,000 columns: %.1f ms from the click to all "
                "shown; the library's five answers alone %.1f ms; the page's own part %.1f ms "
                "(target <= 300)\n",
                page.ms("structure", &Result::ms), page.ms("structureplain", &Result::ms),
                page.ms("structure", &Result::ms) - page.ms("structureplain", &Result::ms));
    tenfold();
    return 0;
}
