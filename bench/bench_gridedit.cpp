// Changes made in the grid, applied. Quorvane, from Apply to its outcome, for 1,000 cell edits
// spread over the 1,000,000-row benchmark table (each statement checked, each row read back, in
// one transaction on the edit connection), beside the same statements and reads back sent by the
// run-time-loaded library in a loop inside one transaction. Also the longest window-thread stall
// during Apply (a 10 ms heartbeat), and what one edit costs in a grid of 10 rows and of
// 10,000,000 rows (no server: the pending change is kept beside the cell store, never in a copy).
// Each measurement runs in a fresh process: one warm-up, then the median of five.
#include "Cologrid.h"
#include "bench_common.h"
#include "bench_window.h"
#include "grid_edit.h"
#include "result_grid.h"

#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QLabel>
#include <QProcess>

#include <cstdio>
#include <string>
#include <vector>

using namespace mysqlapi;
using namespace bench;
using rowchanges::Value;

namespace {
constexpr int TableRows = 1000000;
constexpr int Edits = 1000;
constexpr int EditColumn = 5; // e VARCHAR(20)

// One row of texts, none NULL, into a grid's block.
void addTexts(TCellBlockBuilder &block, const std::vector<std::string> &texts)
{
    std::vector<const char *> cells;
    std::vector<unsigned long> lengths;
    for (const std::string &text : texts) {
        cells.push_back(text.data());
        lengths.push_back(text.size());
    }
    block.AddRow(cells.data(), lengths.data());
}

// The rows edited: spread over the table, the same in both measurements.
int editedId(int i)
{
    return 1 + i * (TableRows / Edits);
}

// A value no run wrote before, so that every statement changes its row.
std::string newValue(int i)
{
    return "q" + std::to_string(QCoreApplication::applicationPid() % 100000) + "-" +
           std::to_string(i);
}

Result quorvane()
{
    Result r;
    Ttolvar w;
    QListWidgetItem *item = openBenchTableList(w, QStringLiteral("big"));
    if (!item) return r;
    w.Table_list->setCurrentItem(item);
    const QString read = QString::number(TableRows) + QStringLiteral(" rows");
    if (!waitFor([&] { return w.PanelText(4) == read; })) return r;
    TGridEdit *edit = w.gridEdit();
    // The grid holds the table in key order: grid row n is id n.
    for (int i = 0; i < Edits; ++i) {
        w.Mgrid->MoveTo(EditColumn, editedId(i));
        edit->setCurrent(Value::of(newValue(i)));
    }
    if (edit->pendingCount() != Edits) return r;
    bool done = false, ok = false;
    QObject::connect(edit, &TGridEdit::applyFinished, [&](bool result) {
        done = true;
        ok = result;
    });
    Heartbeat heartbeat;
    waitFor([] { return true; });
    heartbeat.start();
    QElapsedTimer clock;
    clock.start();
    edit->apply();
    if (!waitFor([&] { return done; })) return r;
    r.ms = clock.nsecsElapsed() / 1e6;
    r.stallMs = heartbeat.stop();
    r.peakKb = statusKb("VmHWM:");
    if (!ok || edit->pendingCount() != 0 ||
        w.Mgrid->CellUtf8(EditColumn, editedId(Edits - 1)) != newValue(Edits - 1))
        r.ms = -1;
    return r;
}

// The same statements, built by the same builder from the same fields, sent by the library.
Result library()
{
    Result r;
    MYSQL *m = connectPlain();
    if (!m) return r;
    rowdelete::Target target;
    target.Database = "quorvane_bench";
    target.Table = "big";
    target.TableKey = {true,  {"id"}, std::string("utf8mb4"), std::nullopt, std::nullopt, false,
                       false, {}};
    std::string ids;
    for (int i = 0; i < Edits; ++i)
        ids += (i ? "," : "") + std::to_string(editedId(i));
    const std::string select = "SELECT * FROM quorvane_bench.big WHERE id IN (" + ids + ")";
    if (mysql_query(m, select.c_str()) != 0) return r;
    MYSQL_RES *old = mysql_store_result(m);
    const unsigned cols = mysql_num_fields(old);
    for (unsigned c = 0; c < cols; ++c) {
        const MYSQL_FIELD *field = mysql_fetch_field(old);
        TmySQLFieldInfo f;
        f.Name = field->name;
        f.Type = int(field->type);
        f.Flags = field->flags;
        f.CharsetNr = field->charsetnr;
        target.Fields.push_back(f);
    }
    std::vector<std::pair<std::string, std::string>> statements;
    int i = 0;
    while (MYSQL_ROW row = mysql_fetch_row(old)) {
        const unsigned long *lengths = mysql_fetch_lengths(old);
        const rowdelete::CellReader cell = [&](int c) -> std::optional<std::string_view> {
            if (!row[c]) return std::nullopt;
            return std::string_view(row[c], lengths[c]);
        };
        rowchanges::Change change{
            rowchanges::Kind::Update, i + 1, {{EditColumn, Value::of(newValue(i))}}};
        std::string why;
        statements.emplace_back(rowchanges::Statement(target, change, cell, &why)->Build(),
                                rowchanges::ReadBack(target, change, cell)->Build());
        ++i;
    }
    mysql_free_result(old);
    if (i != Edits) return r;
    QElapsedTimer clock;
    clock.start();
    bool ok = mysql_query(m, "START TRANSACTION") == 0;
    for (const auto &[update, back] : statements) {
        if (!ok) break;
        ok = mysql_real_query(m, update.data(), update.size()) == 0;
        const std::optional<std::uint64_t> matched =
            ok ? rowchanges::RowsMatched(mysql_info(m) ? mysql_info(m) : "") : std::nullopt;
        ok = ok && matched == 1u && mysql_warning_count(m) == 0;
        ok = ok && mysql_real_query(m, back.data(), back.size()) == 0;
        MYSQL_RES *got = ok ? mysql_store_result(m) : nullptr;
        ok = got && mysql_num_rows(got) == 1;
        if (got) mysql_free_result(got);
    }
    ok = ok && mysql_query(m, "COMMIT") == 0;
    r.ms = clock.nsecsElapsed() / 1e6;
    r.stallMs = r.ms; // one thread: it waits for all of it
    r.peakKb = statusKb("VmHWM:");
    if (!ok) {
        std::fprintf(stderr, "library loop: %s\n", mysql_error(m));
        r.ms = -1;
    }
    mysql_close(m);
    return r;
}

// What one cell edit costs (moving there, keeping the value, the repaint), in a grid of this
// many rows: the median of 1,000 edits.
Result editCost(int rows)
{
    Result r;
    QWidget window;
    auto *grid = new TMgrid(&window);
    resultgrid::style(grid);
    {
        // Three columns: the key, a text, a number; row 0 the names.
        TCellBlockBuilder block(3, std::size_t(rows) + 1, std::size_t(rows) * 24);
        addTexts(block, {"id", "e", "n"});
        for (int row = 1; row <= rows; ++row)
            addTexts(block, {std::to_string(row), "value " + std::to_string(row),
                             std::to_string(row % 97)});
        grid->AdoptCells(std::move(block).Finish());
    }
    window.resize(800, 600);
    grid->resize(800, 600);
    window.show();
    rowdelete::Target target;
    target.Database = "bench";
    target.Table = "t";
    target.TableKey = {true,  {"id"}, std::string("utf8mb4"), std::nullopt, std::nullopt, false,
                       false, {}};
    for (const char *name : {"id", "e", "n"}) {
        TmySQLFieldInfo f;
        f.Name = name;
        f.Type = name[0] == 'e' ? 253 : 3;
        f.CharsetNr = 45;
        target.Fields.push_back(f);
    }
    TGridEdit edit(grid, &window);
    edit.setTarget(target);
    waitFor([] { return true; });
    // Cells on screen, as a user edits: the same eight rows in both grids, half way down the
    // big one, so that only the store's size differs (a scroll repaints the whole view).
    const int first = rows > 100 ? rows / 2 : 1;
    grid->setTopRow(first);
    waitFor([] { return true; });
    std::vector<double> each;
    for (int i = 0; i < Edits; ++i) {
        const int row = first + i % 8;
        QElapsedTimer clock;
        clock.start();
        grid->MoveTo(1, row);
        edit.setCurrent(Value::of("edited " + std::to_string(i)));
        QCoreApplication::processEvents(); // the repaint
        each.push_back(clock.nsecsElapsed() / 1e3);
    }
    r.ms = median(each) / 1000.0; // in ms, like every figure; printed as µs
    r.peakKb = statusKb("VmHWM:");
    if (edit.pendingCount() != 8) r.ms = -1;
    return r;
}

// Ctrl+A, Ctrl+C of 100,000 rows × 8 columns of short texts and numbers: ms to the clipboard.
Result copyRows()
{
    Result r;
    constexpr int Rows = 100000, Cols = 8;
    QWidget window;
    auto *grid = new TMgrid(&window);
    resultgrid::style(grid);
    TCellBlockBuilder block(Cols, Rows + 1, std::size_t(Rows) * Cols * 10);
    std::vector<std::string> texts;
    rowdelete::Target target;
    target.Table = "t";
    target.TableKey = {true,  {"c0"}, std::string("utf8mb4"), std::nullopt, std::nullopt, false,
                       false, {}};
    for (int c = 0; c < Cols; ++c) {
        texts.push_back("c" + std::to_string(c));
        TmySQLFieldInfo f;
        f.Name = "c" + std::to_string(c);
        f.Type = c % 2 ? 253 : 3;
        f.CharsetNr = 45;
        target.Fields.push_back(f);
    }
    addTexts(block, texts);
    for (int row = 1; row <= Rows; ++row) {
        for (int c = 0; c < Cols; ++c)
            texts[std::size_t(c)] =
                c % 2 ? "text	" + std::to_string(row) : std::to_string(row * 7 + c);
        addTexts(block, texts);
    }
    grid->AdoptCells(std::move(block).Finish());
    resultgrid::fitHeader(grid, target.Fields);
    window.show();
    TGridEdit edit(grid, &window);
    edit.setTarget(target);
    waitFor([] { return true; });
    edit.selectAll();
    QElapsedTimer clock;
    clock.start();
    edit.copy(rowformat::Kind::Tsv, true);
    r.ms = clock.nsecsElapsed() / 1e6;
    r.stallMs = r.ms; // one piece on the window thread
    if (QGuiApplication::clipboard()->text().count(QLatin1Char('\n')) != Rows + 1) r.ms = -1;
    return r;
}

} // namespace

int main(int argc, char *argv[])
{
    const QString mode = argc > 1 ? QString::fromLatin1(argv[1]) : QStringLiteral("all");
    if (Server().host.isEmpty() && mode != QLatin1String("cost10") &&
        mode != QLatin1String("cost10m") && mode != QLatin1String("copy")) {
        std::fprintf(stderr, "run through scripts/bench.sh (needs the sandbox)\n");
        return 1;
    }
    if (mode == QLatin1String("library")) {
        QCoreApplication app(argc, argv);
        report(library());
        return 0;
    }
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (mode == QLatin1String("quorvane")) {
        report(quorvane());
        return 0;
    }
    if (mode == QLatin1String("copy")) {
        report(copyRows());
        return 0;
    }
    if (mode == QLatin1String("cost10") || mode == QLatin1String("cost10m")) {
        report(editCost(mode == QLatin1String("cost10") ? 10 : 10000000));
        return 0;
    }
    if (setupBigTable() != 0) return 1;
    const int runs = qEnvironmentVariableIntValue("QUORVANE_BENCH_RUNS") > 0
                         ? qEnvironmentVariableIntValue("QUORVANE_BENCH_RUNS")
                         : 5;
    const Runs apply({"quorvane", "library"}, TableRows, runs);
    const double ours = apply.ms("quorvane", &Result::ms);
    const double loop = apply.ms("library", &Result::ms);
    std::printf("Apply of %d cell edits on the %d-row table, median of %d runs after one "
                "warm-up\n",
                Edits, TableRows, runs);
    std::printf("  quorvane      %9.1f ms   longest window-thread stall %.1f ms (target <= 50)\n",
                ours, apply.ms("quorvane", &Result::stallMs));
    std::printf("  library loop  %9.1f ms\n", loop);
    std::printf("  ratio         %9.2f    (target <= 1.3)\n", loop > 0 ? ours / loop : -1);
    const Runs cost({"cost10", "cost10m"}, TableRows, runs);
    const double small = cost.ms("cost10", &Result::ms) * 1000;
    const double big = cost.ms("cost10m", &Result::ms) * 1000;
    std::printf("One cell edit on screen (move, keep, repaint), median of %d edits\n", Edits);
    std::printf("  10-row grid          %9.1f us\n", small);
    std::printf("  10,000,000-row grid  %9.1f us   (peak %.0f MiB)\n", big,
                cost.mib("cost10m", &Result::peakKb));
    std::printf("  ratio                %9.2f    (target 1.0)\n", small > 0 ? big / small : -1);
    const Runs copying({"copy"}, TableRows, runs);
    std::printf("Ctrl+A, Ctrl+C of 100,000 rows x 8 columns as tab-separated text, to the "
                "clipboard: %.1f ms (target <= 300; one piece on the window thread)\n",
                copying.ms("copy", &Result::ms));
    return 0;
}
