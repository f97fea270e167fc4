// Fills the striped grid and, in a separate process of the same run, a QTableWidget with the same
// cells (1,000,000 rows by 8 columns of short texts), and prints fill time, first-paint time and
// memory of each, and their ratios.
#include "Cologrid.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTableWidget>
#include <cstdio>
#include <string>
#include <unistd.h>
#include <vector>

namespace {
constexpr int Rows = 1000000;
constexpr int Cols = 8;

long residentBytes()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly)) return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.value(1).toLong() * sysconf(_SC_PAGESIZE);
}

// The texts a result set would hand over: short, varied, one C string per cell.
std::vector<std::string> makeTexts()
{
    std::vector<std::string> texts;
    texts.reserve(4096);
    for (int i = 0; i < 4096; ++i) {
        // Appended, not "v" + ...: GCC 12 warns falsely (-Wrestrict) on that operator.
        std::string text(1, 'v');
        text += std::to_string(i * 7919 % 100000);
        texts.push_back(std::move(text));
    }
    return texts;
}

int runOne(const QString &which)
{
    const std::vector<std::string> texts = makeTexts();
    const long before = residentBytes();
    QElapsedTimer timer;
    double fillMs = 0, paintMs = 0;
    QWidget *widget = nullptr;
    if (which == QLatin1String("mgrid")) {
        auto *grid = new TMgrid;
        widget = grid;
        timer.start();
        grid->setColCount(Cols);
        grid->setRowCount(Rows + 1);
        grid->setFixedRows(1);
        for (int c = 0; c < Cols; ++c)
            grid->setCellUtf8(c, 0, "column");
        for (int r = 1; r <= Rows; ++r)
            for (int c = 0; c < Cols; ++c)
                grid->setCellUtf8(c, r, texts[(r * Cols + c) & 4095]);
        fillMs = timer.nsecsElapsed() / 1e6;
        grid->resize(1024, 768);
        timer.restart();
        grid->viewport()->grab();
        paintMs = timer.nsecsElapsed() / 1e6;
    } else {
        auto *table = new QTableWidget;
        widget = table;
        timer.start();
        table->setColumnCount(Cols);
        table->setRowCount(Rows);
        for (int c = 0; c < Cols; ++c)
            table->setHorizontalHeaderItem(c, new QTableWidgetItem(QStringLiteral("column")));
        for (int r = 0; r < Rows; ++r)
            for (int c = 0; c < Cols; ++c) {
                const std::string &t = texts[((r + 1) * Cols + c) & 4095];
                table->setItem(
                    r, c, new QTableWidgetItem(QString::fromUtf8(t.data(), qsizetype(t.size()))));
            }
        fillMs = timer.nsecsElapsed() / 1e6;
        table->resize(1024, 768);
        timer.restart();
        table->viewport()->grab();
        paintMs = timer.nsecsElapsed() / 1e6;
    }
    const long memory = residentBytes() - before;
    std::printf("%.1f %.1f %ld\n", fillMs, paintMs, memory);
    std::fflush(stdout);
    std::_Exit(0); // the measurement is taken; skip freeing millions of cells
    delete widget;
    return 0;
}

bool measure(const QString &self, const QString &which, double &fill, double &paint, double &mem)
{
    QProcess child;
    child.start(self, {QStringLiteral("--one"), which});
    if (!child.waitForFinished(-1) || child.exitCode() != 0) return false;
    const QList<QByteArray> f = child.readAllStandardOutput().trimmed().split(' ');
    if (f.size() != 3) return false;
    fill = f[0].toDouble();
    paint = f[1].toDouble();
    mem = f[2].toDouble();
    return true;
}
} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", QByteArrayLiteral("offscreen"));
    QApplication app(argc, argv);
    if (argc == 3 && QByteArray(argv[1]) == "--one") return runOne(QString::fromLatin1(argv[2]));

    double gFill = 0, gPaint = 0, gMem = 0, tFill = 0, tPaint = 0, tMem = 0;
    const QString self = QCoreApplication::applicationFilePath();
    if (!measure(self, QStringLiteral("mgrid"), gFill, gPaint, gMem) ||
        !measure(self, QStringLiteral("table"), tFill, tPaint, tMem)) {
        std::fprintf(stderr, "a measurement failed\n");
        return 1;
    }
    std::printf("Grid fill, %d rows x %d columns of short texts\n", Rows, Cols);
    std::printf("%-14s %12s %14s %12s\n", "", "fill (ms)", "first paint", "memory (MiB)");
    std::printf("%-14s %12.1f %14.1f %12.1f\n", "TMgrid", gFill, gPaint, gMem / 1048576.0);
    std::printf("%-14s %12.1f %14.1f %12.1f\n", "QTableWidget", tFill, tPaint, tMem / 1048576.0);
    std::printf("%-14s %11.1fx %13.1fx %11.1fx\n", "baseline/ours", tFill / gFill, tPaint / gPaint,
                tMem / gMem);
    return 0;
}
