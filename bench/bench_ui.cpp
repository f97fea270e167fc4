// The window thread while the server works, a very long table list, and the program's start.
//   sleep   the longest window-thread stall while a console "SELECT SLEEP(5)" runs (<= 20 ms);
//   tables  "Show tables" of a database of 20,000 tables filling the tree and the table list,
//           from choosing the database to the painted page (<= 1 s, no stall over 100 ms),
//           beside the same names put into a plain QListWidget and QTreeWidget in one go;
//   start   a fresh process to the painted main window, no server (<= 300 ms), and the idle
//           main window's memory (<= 60 MB), beside a minimal Qt Widgets program (one
//           QMainWindow, shown) as the floor.
//   cells   the longest time one arrow key takes, to the repainted grid and row strip, moving
//           down and up through ten rows of which one holds a 4 MB text (<= 20 ms per key),
//           beside the same rows with short texts.
//   bigdelete  "Delete Selected Record" of a row holding 64 MB in a table without a key (its
//           statement compares every column, 128 MB of hexadecimal): the longest window-thread
//           stall from the click to the report, beside the library alone sending the same
//           statement (built the same way) for the time.
// Each figure is the median of five runs in fresh processes after one warm-up.
#include "Cologrid.h"
#include "bench_common.h"
#include "common.h"
#include "konsola.h"
#include "program.h"
#include "tolvar_window.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QProcess>
#include <QTimer>
#include <QTreeWidget>

#include <algorithm>
#include <cstdio>
#include <map>

using namespace mysqlapi;
using namespace bench;

namespace {
constexpr int Tables = 20000;

void report(double ms, double stall, long kb)
{
    std::printf("RESULT %.3f %.3f %ld\n", ms, stall, kb);
    std::fflush(stdout);
}

void noBox(QWidget *, const QString &) {}

// The program, connected to the sandbox.
struct Program
{
    Program()
    {
        ui::setErrorShower(noBox);
        Server s;
        w = program.tolvar.get();
        w->mysql->setHostname(s.host);
        w->mysql->setUsername(s.user);
        w->mysql->setPassword(s.password);
        w->mysql->setPort(s.port);
        w->show();
        w->mysql->Connect();
        ok = waitFor([&] { return w->Tree_view->topLevelItemCount() > 0; }, 20000);
    }
    QTreeWidgetItem *database(const QString &name) const
    {
        for (int i = 0; i < w->Tree_view->topLevelItemCount(); ++i)
            if (w->Tree_view->topLevelItem(i)->text(0) == name)
                return w->Tree_view->topLevelItem(i);
        return nullptr;
    }
    // The table of quorvane_cells shown in the grid, whole; false when it did not get there.
    bool showCellsTable(const QString &table, int rows)
    {
        QTreeWidgetItem *db = database(QStringLiteral("quorvane_cells"));
        if (!ok || !db) return false;
        w->Tree_view->setCurrentItem(db);
        waitFor([&] { return w->listDatabase() == QLatin1String("quorvane_cells"); });
        const quint64 fill = w->gridOrigin().Fill;
        const auto items = w->Table_list->findItems(table, Qt::MatchExactly);
        if (items.isEmpty()) return false;
        w->Table_list->setCurrentItem(items.first());
        return waitFor([&] { return w->gridOrigin().Fill > fill && w->Mgrid->RowCount() == rows; });
    }
    TProgram program;
    Ttolvar *w = nullptr;
    bool ok = false;
};

int setup()
{
    MYSQL *m = connectPlain();
    if (!m) return 1;
    auto count = [&] {
        if (mysql_query(m, "SELECT COUNT(*) FROM information_schema.TABLES WHERE TABLE_SCHEMA = "
                           "'quorvane_tables'") != 0)
            return -1L;
        MYSQL_RES *r = mysql_store_result(m);
        MYSQL_ROW row = mysql_fetch_row(r);
        const long n = row && row[0] ? std::atol(row[0]) : -1;
        mysql_free_result(r);
        return n;
    };
    // Ten rows each: in "big" row 5 holds 4 MB of text over two lines, in "small" every text is
    // short.
    for (const char *sql :
         {"CREATE DATABASE IF NOT EXISTS quorvane_cells",
          "CREATE OR REPLACE TABLE quorvane_cells.big (id INT PRIMARY KEY, t LONGTEXT, b "
          "LONGBLOB)",
          "CREATE OR REPLACE TABLE quorvane_cells.small (id INT PRIMARY KEY, t LONGTEXT, b "
          "LONGBLOB)",
          "INSERT INTO quorvane_cells.big SELECT seq, IF(seq = 5, CONCAT(REPEAT('x', 2097152), "
          "'\n', REPEAT('y', 2097151)), 'short'), IF(seq = 5, REPEAT(X'00FF', 524288), X'01') "
          "FROM quorvane_cells.seq_1_to_10",
          "INSERT INTO quorvane_cells.small SELECT seq, 'short', X'01' FROM "
          "quorvane_cells.seq_1_to_10"})
        if (mysql_query(m, sql) != 0) {
            std::fprintf(stderr, "%s\n", mysql_error(m));
            return 1;
        }
    if (count() == Tables) return 0;
    std::fprintf(stderr, "making quorvane_tables (%d tables)...\n", Tables);
    mysql_query(m, "DROP DATABASE IF EXISTS quorvane_tables");
    mysql_query(m, "CREATE DATABASE quorvane_tables");
    for (int i = 0; i < Tables; ++i) {
        const std::string sql = "CREATE TABLE quorvane_tables.t" + std::to_string(100000 + i) +
                                " (id INT) ENGINE=MEMORY";
        if (mysql_query(m, sql.c_str()) != 0) {
            std::fprintf(stderr, "%s\n", mysql_error(m));
            return 1;
        }
    }
    const bool made = count() == Tables;
    mysql_close(m);
    return made ? 0 : 1;
}

void sleepStall()
{
    Program p;
    if (!p.ok) return report(-1, -1, -1);
    Tconsole *console = p.program.console.get();
    console->Edit1->setText(QStringLiteral("SELECT SLEEP(5)"));
    Heartbeat beat;
    beat.start();
    QElapsedTimer clock;
    clock.start();
    const int lines = console->Memo1->blockCount();
    console->SpeedButton1Click();
    waitFor([&] { return console->Memo1->blockCount() >= lines + 3; });
    report(clock.nsecsElapsed() / 1e6, beat.stop(), statusKb("VmHWM:"));
}

void tables()
{
    Program p;
    if (!p.ok) return report(-1, -1, -1);
    QTreeWidgetItem *db = p.database(QStringLiteral("quorvane_tables"));
    if (!db) return report(-1, -1, -1);
    PaintWatch painted(p.w->Table_list->viewport());
    Heartbeat beat;
    waitFor([] { return true; });
    beat.start();
    QElapsedTimer clock;
    clock.start();
    int paintsBefore = painted.paints;
    p.w->Tree_view->setCurrentItem(db);
    waitFor([&] {
        if (p.w->listDatabase() != QLatin1String("quorvane_tables") ||
            p.w->Table_list->count() != Tables) {
            paintsBefore = painted.paints;
            return false;
        }
        return painted.paints > paintsBefore;
    });
    const double ms = clock.nsecsElapsed() / 1e6;
    report(p.w->Table_list->count() == Tables && db->childCount() == Tables ? ms : -1, beat.stop(),
           statusKb("VmHWM:"));
}

// Moves through the rows with the arrow keys; each key is timed to the repainted grid and strip.
void cells(const QString &table)
{
    Program p;
    if (!p.showCellsTable(table, 11)) return report(-1, -1, -1);
    TMgrid *grid = p.w->Mgrid;
    grid->setFocus();
    waitFor([] { return true; }, 50);
    double longest = 0;
    auto key = [&](int k) {
        QElapsedTimer clock;
        clock.start();
        QKeyEvent press(QEvent::KeyPress, k, Qt::NoModifier);
        QCoreApplication::sendEvent(grid, &press);
        grid->viewport()->repaint();
        p.w->hader->viewport()->repaint();
        longest = std::max(longest, clock.nsecsElapsed() / 1e6);
    };
    QElapsedTimer total;
    total.start();
    for (int i = 0; i < 10; ++i)
        key(Qt::Key_Down);
    for (int i = 0; i < 10; ++i)
        key(Qt::Key_Up);
    report(total.nsecsElapsed() / 1e6, longest, statusKb("VmHWM:"));
}

// A table without a key whose first row holds 64 MB; the server and the session take statements
// of twice that.
constexpr int BigRowBytes = 64 * 1024 * 1024;
// The server's own limit, put back when the measurement is done.
std::string g_packetBefore;
void restorePacket()
{
    MYSQL *m = connectPlain();
    if (!m || g_packetBefore.empty()) return;
    mysql_query(m, ("SET GLOBAL max_allowed_packet = " + g_packetBefore).c_str());
    mysql_close(m);
}
bool bigRowSetup()
{
    MYSQL *m = connectPlain();
    if (!m) return false;
    if (mysql_query(m, "SELECT @@global.max_allowed_packet") == 0) {
        MYSQL_RES *r = mysql_store_result(m);
        MYSQL_ROW row = r ? mysql_fetch_row(r) : nullptr;
        if (row && row[0]) g_packetBefore = row[0];
        if (r) mysql_free_result(r);
    }
    bool ok = mysql_query(m, "SET GLOBAL max_allowed_packet = 1073741824") == 0;
    mysql_close(m);
    m = ok ? connectPlain() : nullptr;
    if (!m) return false;
    const std::string fill = "INSERT INTO quorvane_cells.bigrow VALUES (REPEAT(X'41', " +
                             std::to_string(BigRowBytes) + "), 1), (X'42', 2)";
    for (const char *sql :
         {"CREATE OR REPLACE TABLE quorvane_cells.bigrow (b LONGBLOB, n INT)", fill.c_str()})
        if (ok && mysql_query(m, sql) != 0) {
            std::fprintf(stderr, "%s\n", mysql_error(m));
            ok = false;
        }
    mysql_close(m);
    return ok;
}

void bigDelete()
{
    if (!bigRowSetup()) return report(-1, -1, -1);
    Program p;
    if (!p.showCellsTable(QStringLiteral("bigrow"), 3)) return report(-1, -1, -1);
    TMgrid *grid = p.w->Mgrid;
    int row = -1;
    for (int r = 1; r < grid->RowCount(); ++r)
        if (grid->CellUtf8(1, r) == "1") row = r;
    if (row < 0) return report(-1, -1, -1);
    bool can = true;
    p.w->MgridSelectCell(0, row, can);
    Tconsole *console = p.program.console.get();
    const int lines = console->Memo1->blockCount();
    waitFor([] { return true; }, 50);
    Heartbeat beat;
    beat.start();
    QElapsedTimer clock;
    clock.start();
    p.w->SpeedButton17Click();
    if (qEnvironmentVariableIsSet("QUORVANE_BENCH_SHOW"))
        std::fprintf(stderr, "the click returned after %.1f ms\n", clock.nsecsElapsed() / 1e6);
    // The delete's outcome is written to the console when it comes.
    waitFor([&] { return console->Memo1->blockCount() > lines; }, 120000);
    const double ms = clock.nsecsElapsed() / 1e6;
    const double stall = beat.stop();
    MYSQL *m = connectPlain();
    long left = -1;
    if (m && mysql_query(m, "SELECT COUNT(*), MAX(n) FROM quorvane_cells.bigrow") == 0) {
        MYSQL_RES *r = mysql_store_result(m);
        MYSQL_ROW one = mysql_fetch_row(r);
        if (one && one[0] && one[1] && std::atol(one[1]) == 2) left = std::atol(one[0]);
        mysql_free_result(r);
    }
    if (m) mysql_close(m);
    restorePacket();
    report(left == 1 ? ms : -1, stall, statusKb("VmHWM:"));
}

// The same delete by the library alone: the statement's hexadecimal made in one pass, sent.
void bigDeletePlain()
{
    if (!bigRowSetup()) return report(-1, -1, -1);
    MYSQL *m = connectPlain();
    if (!m) return report(-1, -1, -1);
    std::string value(BigRowBytes, 'A');
    QElapsedTimer clock;
    clock.start();
    std::string sql = "DELETE FROM `quorvane_cells`.`bigrow` WHERE `b` = X'";
    const std::size_t at = sql.size();
    sql.resize(at + 2 * value.size());
    static constexpr char digits[] = "0123456789ABCDEF";
    char *out = sql.data() + at;
    for (const unsigned char c : value) {
        *out++ = digits[c >> 4];
        *out++ = digits[c & 15];
    }
    sql += "' AND `n` = X'31' LIMIT 1";
    const bool ok = mysql_real_query(m, sql.data(), sql.size()) == 0 && mysql_affected_rows(m) == 1;
    const double ms = clock.nsecsElapsed() / 1e6;
    if (!ok) std::fprintf(stderr, "%s\n", mysql_error(m));
    mysql_close(m);
    restorePacket();
    report(ok ? ms : -1, -1, statusKb("VmHWM:"));
}

void tablesBaseline()
{
    // The same names, into a plain list in icon mode and a tree, in one go.
    QStringList names;
    for (int i = 0; i < Tables; ++i)
        names << QStringLiteral("t%1").arg(100000 + i);
    QWidget window;
    window.resize(699, 480);
    auto *tree = new QTreeWidget(&window);
    tree->setGeometry(0, 0, 200, 480);
    auto *list = new QListWidget(&window);
    list->setGeometry(200, 0, 499, 480);
    list->setViewMode(QListView::IconMode);
    list->setIconSize(QSize(32, 32));
    list->setResizeMode(QListView::Adjust);
    const QIcon icon = ui::icon(QStringLiteral("table"));
    window.show();
    PaintWatch painted(list->viewport());
    waitFor([] { return true; });
    Heartbeat beat;
    beat.start();
    QElapsedTimer clock;
    clock.start();
    const int paintsBefore = painted.paints;
    auto *root = new QTreeWidgetItem(tree, {QStringLiteral("quorvane_tables")});
    QList<QTreeWidgetItem *> children;
    for (const QString &name : names) {
        auto *child = new QTreeWidgetItem({name});
        child->setIcon(0, icon);
        children << child;
        list->addItem(new QListWidgetItem(icon, name));
    }
    root->addChildren(children);
    root->setExpanded(true);
    waitFor([&] { return painted.paints > paintsBefore; });
    report(clock.nsecsElapsed() / 1e6, beat.stop(), statusKb("VmHWM:"));
}

// Reported by the child as soon as its main window has painted; the parent times from start().
int startProgram(int argc, char *argv[], bool minimal)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("MySQL Quorvane"));
    std::unique_ptr<TProgram> program;
    std::unique_ptr<QMainWindow> plain;
    QWidget *shown = nullptr;
    if (minimal) {
        plain = std::make_unique<QMainWindow>();
        plain->resize(699, 480);
        shown = plain.get();
    } else {
        ui::setErrorShower(noBox);
        program = std::make_unique<TProgram>();
        shown = program->tolvar.get();
    }
    PaintWatch painted(shown);
    shown->show();
    waitFor([&] { return painted.paints > 0; });
    std::printf("PAINTED\n");
    std::fflush(stdout);
    waitFor([] { return false; }, 500); // idle a moment
    report(0, 0, statusKb("VmRSS:"));
    return 0;
}

struct Figure
{
    double ms = -1, stall = -1;
    long kb = -1;
};

Figure child(const QString &mode)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QElapsedTimer clock;
    clock.start();
    p.start(QCoreApplication::applicationFilePath(), {mode});
    Figure f;
    QByteArray out;
    while (p.state() != QProcess::NotRunning || p.bytesAvailable()) {
        p.waitForReadyRead(100);
        out += p.readAllStandardOutput();
        if (f.ms < 0 && out.contains("PAINTED")) f.ms = clock.nsecsElapsed() / 1e6;
        if (out.contains("RESULT") && out.endsWith('\n')) break;
    }
    p.waitForFinished(60000);
    for (const QByteArray &line : out.split('\n'))
        if (line.startsWith("RESULT ")) {
            const QList<QByteArray> v = line.split(' ');
            if (!out.contains("PAINTED")) f.ms = v[1].toDouble();
            f.stall = v[2].toDouble();
            f.kb = v[3].toLong();
        }
    return f;
}

} // namespace

int main(int argc, char *argv[])
{
    const QString mode = argc > 1 ? QString::fromLatin1(argv[1]) : QStringLiteral("all");
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (mode == QLatin1String("start")) return startProgram(argc, argv, false);
    if (mode == QLatin1String("start-minimal")) return startProgram(argc, argv, true);
    if (mode == QLatin1String("setup")) return setup();
    QApplication app(argc, argv);
    if (mode == QLatin1String("sleep")) return sleepStall(), 0;
    if (mode == QLatin1String("tables")) return tables(), 0;
    if (mode == QLatin1String("tables-plain")) return tablesBaseline(), 0;
    if (mode == QLatin1String("cells")) return cells(QStringLiteral("big")), 0;
    if (mode == QLatin1String("cells-short")) return cells(QStringLiteral("small")), 0;
    if (mode == QLatin1String("bigdelete")) return bigDelete(), 0;
    if (mode == QLatin1String("bigdelete-plain")) return bigDeletePlain(), 0;
    if (Server().host.isEmpty()) {
        std::fprintf(stderr, "run through scripts/bench.sh (needs the sandbox)\n");
        return 1;
    }
    if (QProcess::execute(QCoreApplication::applicationFilePath(), {QStringLiteral("setup")}) != 0)
        return 1;
    const QStringList modes = {"sleep",       "tables",        "tables-plain",
                               "start",       "start-minimal", "cells",
                               "cells-short", "bigdelete",     "bigdelete-plain"};
    const int runs = qEnvironmentVariableIntValue("QUORVANE_BENCH_RUNS") > 0
                         ? qEnvironmentVariableIntValue("QUORVANE_BENCH_RUNS")
                         : 5;
    std::map<QString, std::vector<Figure>> results;
    for (const QString &m : modes)
        child(m);
    for (int i = 0; i < runs; ++i)
        for (const QString &m : modes)
            results[m].push_back(child(m));
    auto med = [&](const QString &m, auto field) {
        std::vector<double> v;
        for (const Figure &f : results[m])
            v.push_back(double(f.*field));
        return median(v);
    };
    std::printf("median of %d runs after one warm-up\n", runs);
    std::printf("console SELECT SLEEP(5): longest window-thread stall %.1f ms (target <= 20)\n",
                med("sleep", &Figure::stall));
    std::printf("%d tables, choose the database -> page painted:\n", Tables);
    std::printf("  Quorvane (tree + table list)     %8.1f ms, longest stall %6.1f ms "
                "(targets <= 1000, <= 100)\n",
                med("tables", &Figure::ms), med("tables", &Figure::stall));
    std::printf("  plain QListWidget + QTreeWidget  %8.1f ms, longest stall %6.1f ms, ratio %.2f\n",
                med("tables-plain", &Figure::ms), med("tables-plain", &Figure::stall),
                med("tables", &Figure::ms) / med("tables-plain", &Figure::ms));
    std::printf("arrow keys through ten rows, the longest key to the repainted grid and strip:\n");
    std::printf("  a row holding 4 MB of text and 1 MB of binary  %6.1f ms (target <= 20)\n",
                med("cells", &Figure::stall));
    std::printf("  short values only (the baseline)                %6.1f ms, ratio %.2f\n",
                med("cells-short", &Figure::stall),
                med("cells", &Figure::stall) / med("cells-short", &Figure::stall));
    std::printf("Delete Selected Record of a 64 MB row, no key (128 MB of hexadecimal):\n");
    std::printf("  Quorvane: click to the report   %8.1f ms, longest stall %6.1f ms (no freeze)\n",
                med("bigdelete", &Figure::ms), med("bigdelete", &Figure::stall));
    std::printf("  the library alone, same statement %6.1f ms, ratio %.2f\n",
                med("bigdelete-plain", &Figure::ms),
                med("bigdelete", &Figure::ms) / med("bigdelete-plain", &Figure::ms));
    std::printf("cold start to the painted main window, no server:\n");
    std::printf("  Quorvane                         %8.1f ms, idle memory %6.1f MiB "
                "(targets <= 300, <= 60 MB)\n",
                med("start", &Figure::ms), med("start", &Figure::kb) / 1024);
    std::printf("  minimal QMainWindow (the floor)  %8.1f ms, idle memory %6.1f MiB, ratios %.2f, "
                "%.2f\n",
                med("start-minimal", &Figure::ms), med("start-minimal", &Figure::kb) / 1024,
                med("start", &Figure::ms) / med("start-minimal", &Figure::ms),
                med("start", &Figure::kb) / med("start-minimal", &Figure::kb));
    return 0;
}
