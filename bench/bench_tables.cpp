// A table exported whole. Quorvane's Export… of the 1,000,000-row benchmark table to CSV, from
// the dialog's answer to the file in place, with the process's peak memory and its growth over
// the connected window before it; beside the mariadb command-line client in batch mode writing
// the same table to a file, in the same run. Each measurement in a fresh process: one warm-up,
// then the median of five.
#include "bench_common.h"
#include "bench_window.h"
#include "table_export.h"

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

Result quorvane()
{
    Result r;
    Ttolvar w;
    QListWidgetItem *item = openBenchTableList(w, QStringLiteral("big"));
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
    if (!ok || w.tableExport()->rows() != 1000000 || QFile(Path).size() < 1000000) r.ms = -1;
    QFile::remove(Path);
    return r;
}

Result cli()
{
    Result r;
    const Server s;
    QProcess p;
    p.setStandardOutputFile(Path);
    QElapsedTimer clock;
    clock.start();
    p.start(QStringLiteral("mariadb"),
            {"--batch", "-h", s.host, "-P", QString::number(s.port), "-u", s.user,
             "-p" + s.password, "-e", "SELECT * FROM quorvane_bench.big"});
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
    if (mode == QLatin1String("cli")) {
        report(cli());
        return 0;
    }
    QProcess setup;
    setup.setProcessChannelMode(QProcess::ForwardedChannels);
    setup.start(QCoreApplication::applicationDirPath() + QStringLiteral("/bench_bigtable"),
                {QStringLiteral("setup")});
    setup.waitForFinished(1800000);
    if (setup.exitCode() != 0) return 1;
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
    return 0;
}
