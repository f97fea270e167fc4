// The striped grid, checked by rendering it and reading pixels.
#include "Cologrid.h"

#include <QImage>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTest>

namespace {
constexpr TColor Red = 0x0000FF; // 0x00BBGGRR
constexpr TColor Green = 0x00FF00;
constexpr TColor Blue = 0xFF0000;

class CountingGrid : public TMgrid
{
public:
    int cellsPainted = 0;

protected:
    void DrawCell(QPainter &painter, int c, int r, const QRect &rect, int state) override
    {
        ++cellsPainted;
        TMgrid::DrawCell(painter, c, r, rect, state);
    }
};

void setUp(TMgrid &grid, int cols, int rows)
{
    grid.resize(420, 260);
    grid.setColCount(cols);
    grid.setRowCount(rows);
    grid.setDefaultColWidth(100);
    grid.setDefaultRowHeight(30);
    grid.setBorderColor(Red);
    grid.setOddRowColor(Green);
    grid.setEvenRowColor(Blue);
}

QImage render(TMgrid &grid)
{
    return grid.viewport()->grab().toImage();
}

// A point inside the cell, away from where its text is written.
QColor fillOf(TMgrid &grid, const QImage &image, int col, int row)
{
    const QRect rect = grid.CellRect(col, row);
    return image.pixelColor(rect.right() - 4, rect.bottom() - 3);
}

int countNear(const QImage &image, const QRect &rect, const QColor &colour, int tolerance = 40)
{
    int n = 0;
    for (int y = rect.top(); y <= rect.bottom(); ++y)
        for (int x = rect.left(); x <= rect.right(); ++x) {
            const QColor p = image.pixelColor(x, y);
            if (std::abs(p.red() - colour.red()) + std::abs(p.green() - colour.green()) +
                    std::abs(p.blue() - colour.blue()) <=
                tolerance)
                ++n;
        }
    return n;
}
} // namespace

class TestGrid : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void defaultsAtCreation()
    {
        TMgrid grid;
        QCOMPARE(grid.BorderColor(), TColor(12632256));
        QCOMPARE(grid.OddRowColor(), TColor(16776960));
        QCOMPARE(grid.EvenRowColor(), TColor(65280));
        QVERIFY(grid.BorderPattern().isNull());
        QCOMPARE(grid.font().family(), QStringLiteral("Arial"));
        QCOMPARE(grid.font().pointSize(), 10);
    }

    void stripesByRowKind()
    {
        TMgrid grid;
        setUp(grid, 3, 6);
        grid.setFixedCols(1);
        const QImage image = render(grid);
        QCOMPARE(fillOf(grid, image, 1, 0), QColor(255, 0, 0)); // fixed row: border
        QCOMPARE(fillOf(grid, image, 1, 1), QColor(0, 255, 0)); // row 1: odd
        QCOMPARE(fillOf(grid, image, 2, 2), QColor(0, 0, 255)); // row 2: even
        QCOMPARE(fillOf(grid, image, 2, 3), QColor(0, 255, 0));
        // A cell in a fixed column of a scrolling row is a fixed cell.
        QCOMPARE(fillOf(grid, image, 0, 2), QColor(255, 0, 0));
    }

    void stripesStayWithRowsWhenScrolled()
    {
        TMgrid grid;
        setUp(grid, 2, 200);
        grid.setTopRow(51);
        const QImage image = render(grid);
        QCOMPARE(fillOf(grid, image, 1, 51), QColor(0, 255, 0));
        QCOMPARE(fillOf(grid, image, 1, 52), QColor(0, 0, 255));
    }

    void loneRowIsNotFixedAndPaintedEven()
    {
        TMgrid grid;
        setUp(grid, 2, 3);
        grid.setFixedCols(0);
        grid.setRowCount(1);
        QCOMPARE(grid.FixedRows(), 0);
        QVERIFY(!grid.setFixedRows(1)); // a grid keeps at least one scrolling row
        grid.setCells(0, 0, QStringLiteral("id"));
        const QImage image = render(grid);
        QCOMPARE(fillOf(grid, image, 0, 0), QColor(0, 0, 255));
        QCOMPARE(fillOf(grid, image, 1, 0), QColor(0, 0, 255));
    }

    void fixedCellsWriteBlackWhateverTheFontColour()
    {
        TMgrid grid;
        setUp(grid, 2, 3);
        grid.setFixedCols(0);
        grid.setBorderColor(0xFFFFFF);
        grid.setOddRowColor(0xFFFFFF);
        grid.setFontColor(0x00FFFF); // yellow
        QFont big(QStringLiteral("DejaVu Sans"));
        big.setPixelSize(20);
        big.setBold(true);
        grid.setFont(big);
        grid.setCells(0, 0, QStringLiteral("WWW"));
        grid.setCells(0, 1, QStringLiteral("WWW"));
        const QImage image = render(grid);
        const QRect header = grid.CellRect(0, 0);
        const QRect data = grid.CellRect(0, 1);
        QVERIFY(countNear(image, header, Qt::black) > 30);
        QCOMPARE(countNear(image, header, QColor(255, 255, 0)), 0);
        QVERIFY(countNear(image, data, QColor(255, 255, 0)) > 30);
        QCOMPARE(countNear(image, data, Qt::black), 0);
    }

    void onSettingColourRules()
    {
        TMgrid grid;
        setUp(grid, 2, 3);
        grid.setFixedCols(0);
        grid.setOddRowColor(0xFFFFFF);
        grid.setEvenRowColor(0xFFFFFF);
        grid.setFontColor(0x000000);
        QFont big(QStringLiteral("DejaVu Sans"));
        big.setPixelSize(20);
        big.setBold(true);
        grid.setFont(big);
        grid.setCells(0, 1, QStringLiteral("WWW"));
        grid.setCells(0, 2, QStringLiteral("WWW"));
        int seenColour = 0;
        grid.OnSetting = [&](int ARow, int, int &Fcolor, bool &, bool &, bool &) {
            seenColour = Fcolor;
            Fcolor = ARow == 1 ? Red : static_cast<int>(0x80000008); // a system colour code
        };
        const QImage image = render(grid);
        QCOMPARE(seenColour, -1);
        QVERIFY(countNear(image, grid.CellRect(0, 1), QColor(255, 0, 0)) > 30);
        QCOMPARE(countNear(image, grid.CellRect(0, 1), Qt::black), 0);
        // A negative colour leaves the grid's own text colour in place.
        QVERIFY(countNear(image, grid.CellRect(0, 2), Qt::black) > 30);
        QCOMPARE(countNear(image, grid.CellRect(0, 2), QColor(255, 0, 0)), 0);
    }

    void onSettingSetsStyleExactlyAndDropsStrikeOut()
    {
        auto make = [](TMgrid &grid, const QFont &font) {
            setUp(grid, 2, 3);
            grid.setFont(font);
            grid.setCells(1, 1, QStringLiteral("Styled text"));
            grid.setCells(0, 0, QStringLiteral("Head"));
        };
        QFont struck(QStringLiteral("DejaVu Sans"));
        struck.setPixelSize(16);
        struck.setBold(true);
        struck.setItalic(true);
        struck.setStrikeOut(true);
        QFont plain = struck;
        plain.setStrikeOut(false);

        // A handler that leaves the flags as they came keeps bold and italic, drops strike-out.
        TMgrid withHandler;
        make(withHandler, struck);
        int calls = 0;
        withHandler.OnSetting = [&](int, int, int &, bool &, bool &, bool &) { ++calls; };
        TMgrid reference;
        make(reference, plain);
        QCOMPARE(render(withHandler), render(reference));
        QVERIFY(calls > 0);

        // Without a handler the font is used as it is, strike-out included.
        TMgrid noHandler;
        make(noHandler, struck);
        QVERIFY(render(noHandler) != render(reference));

        // Flags set by the handler are the style exactly.
        TMgrid setsUnderline;
        make(setsUnderline, plain);
        setsUnderline.OnSetting = [](int, int, int &, bool &Bold, bool &Italic, bool &Under) {
            Bold = false;
            Italic = false;
            Under = true;
        };
        QFont underlined = plain;
        underlined.setBold(false);
        underlined.setItalic(false);
        underlined.setUnderline(true);
        TMgrid underlinedReference;
        make(underlinedReference, underlined);
        QCOMPARE(render(setsUnderline), render(underlinedReference));
    }

    void onSettingCalledForEveryPaintedCell()
    {
        TMgrid grid;
        setUp(grid, 3, 4);
        QList<QPair<int, int>> cells;
        grid.OnSetting = [&](int ARow, int Acol, int &, bool &, bool &, bool &) {
            cells.append({ARow, Acol});
        };
        render(grid);
        QCOMPARE(cells.size(), 12);
        QVERIFY(cells.contains({0, 0})); // fixed cells too
        QVERIFY(cells.contains({3, 2}));
    }

    void tiledPatterns()
    {
        TMgrid grid;
        setUp(grid, 2, 4);
        grid.setFixedCols(0);
        QImage checker(4, 4, QImage::Format_RGB32);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 4; ++x)
                checker.setPixelColor(x, y, (x + y) % 2 ? QColor(255, 255, 255) : QColor(0, 0, 0));
        grid.setOddRowPattern(checker);
        checker.fill(Qt::red); // the grid keeps its own copy
        const QImage image = render(grid);
        const QRect odd = grid.CellRect(1, 1);
        const QPoint p(odd.right() - 8, odd.bottom() - 5);
        const QColor a = image.pixelColor(p);
        const QColor b = image.pixelColor(p + QPoint(1, 0));
        QVERIFY(a != b);
        QVERIFY((a == Qt::black && b == Qt::white) || (a == Qt::white && b == Qt::black));
        QCOMPARE(image.pixelColor(p + QPoint(4, 0)), a); // period of the tile
        QCOMPARE(fillOf(grid, image, 1, 2), QColor(0, 0, 255));
        QCOMPARE(fillOf(grid, image, 1, 0), QColor(255, 0, 0));
        grid.setOddRowPattern(QImage()); // an empty picture brings the colour back
        QCOMPARE(fillOf(grid, render(grid), 1, 1), QColor(0, 255, 0));
    }

    void paletteComesFromOddRowPattern()
    {
        TMgrid grid;
        QVERIFY(grid.Palette().isEmpty());
        QImage indexed(2, 2, QImage::Format_Indexed8);
        indexed.setColorTable({qRgb(1, 2, 3), qRgb(4, 5, 6)});
        indexed.fill(0);
        grid.setBorderPattern(indexed);
        QVERIFY(grid.Palette().isEmpty());
        grid.setOddRowPattern(indexed);
        QCOMPARE(grid.Palette(), QList<QRgb>({qRgb(1, 2, 3), qRgb(4, 5, 6)}));
    }

    void colourWritesRepaintAtOnce()
    {
        CountingGrid grid;
        setUp(grid, 2, 3);
        grid.show();
        QVERIFY(QTest::qWaitForWindowExposed(&grid));
        QCoreApplication::processEvents();
        const int before = grid.cellsPainted;
        grid.setOddRowColor(grid.OddRowColor()); // same value still repaints, synchronously
        QVERIFY(grid.cellsPainted >= before + 6);
        const int mid = grid.cellsPainted;
        grid.setBorderColor(Green);
        QVERIFY(grid.cellsPainted >= mid + 6);
    }

    void selectedCellHasNoHighlight()
    {
        TMgrid grid;
        setUp(grid, 3, 4);
        grid.setFixedCols(0);
        QVERIFY(grid.MoveTo(1, 1));
        const QImage image = render(grid);
        const QRect rect = grid.CellRect(1, 1);
        QCOMPARE(image.pixelColor(rect.center()), QColor(0, 255, 0));
    }

    void selectionCanBeRefusedAndKeysMove()
    {
        TMgrid grid;
        setUp(grid, 4, 10);
        grid.setFixedCols(0);
        QList<QPair<int, int>> asked;
        bool allow = true;
        grid.OnSelectCell = [&](TStringGrid *, int c, int r, bool &can) {
            asked.append({c, r});
            can = allow;
        };
        QCOMPARE(grid.Col(), 0);
        QCOMPARE(grid.Row(), 1);
        QTest::keyClick(&grid, Qt::Key_Down);
        QCOMPARE(grid.Row(), 2);
        QTest::keyClick(&grid, Qt::Key_Right);
        QCOMPARE(grid.Col(), 1);
        allow = false;
        QTest::keyClick(&grid, Qt::Key_Down);
        QCOMPARE(grid.Row(), 2);
        QCOMPARE(asked.last(), qMakePair(1, 3));
        allow = true;
        QTest::keyClick(&grid, Qt::Key_End, Qt::ControlModifier);
        QCOMPARE(grid.Row(), 9);
        QTest::keyClick(&grid, Qt::Key_Up);
        QCOMPARE(grid.Row(), 8);
        // The fixed row cannot be selected.
        QVERIFY(grid.MoveTo(1, 0));
        QCOMPARE(grid.Row(), 1);
    }

    void clickSelectsAndEdgeDragResizes()
    {
        TMgrid grid;
        setUp(grid, 3, 5);
        grid.setFixedCols(0);
        grid.show();
        QVERIFY(QTest::qWaitForWindowExposed(&grid));
        QWidget *vp = grid.viewport();
        QTest::mouseClick(vp, Qt::LeftButton, {}, grid.CellRect(2, 3).center());
        QCOMPARE(grid.Col(), 2);
        QCOMPARE(grid.Row(), 3);
        const QRect header = grid.CellRect(0, 0);
        const QPoint edge(header.right() + 1, header.center().y());
        QTest::mousePress(vp, Qt::LeftButton, {}, edge);
        QMouseEvent move(QEvent::MouseMove, QPointF(edge + QPoint(40, 0)),
                         vp->mapToGlobal(QPointF(edge + QPoint(40, 0))), Qt::NoButton,
                         Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(vp, &move);
        QTest::mouseRelease(vp, Qt::LeftButton, {}, edge + QPoint(40, 0));
        QCOMPARE(grid.ColWidths(0), 140);
        QCOMPARE(grid.ColWidths(1), 100);
    }

    void countsAndTextsSurviveResizes()
    {
        TMgrid grid;
        grid.setColCount(2);
        grid.setRowCount(3);
        grid.setCells(1, 2, QStringLiteral("Zażółć gęślą jaźń"));
        grid.setCellNull(0, 2);
        grid.setColCount(4);
        QCOMPARE(grid.Cells(1, 2), QStringLiteral("Zażółć gęślą jaźń"));
        QVERIFY(grid.CellIsNull(0, 2));
        QVERIFY(grid.Cells(0, 2).isEmpty());
        grid.setRowCount(0); // at least one row remains
        QCOMPARE(grid.RowCount(), 1);
        QCOMPARE(grid.FixedRows(), 0);
    }

    // The current cell is marked whatever the style, once chosen by mouse or key, focused or not.
    void currentCellIsAlwaysMarked_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("mouse") << "mouse";
        QTest::newRow("key") << "key";
    }
    void currentCellIsAlwaysMarked()
    {
        QFETCH(QString, how);
        TMgrid grid;
        setUp(grid, 3, 6);
        grid.setFixedCols(0);
        auto markPixels = [&](int col, int row) {
            const QImage image = render(grid);
            const QRect rect = grid.CellRect(col, row);
            // The cell's edges, where only a mark can differ from the fill.
            const QColor fill = fillOf(grid, image, col, row);
            int marked = 0;
            for (int x = rect.left(); x <= rect.right(); ++x)
                for (int y : {rect.top(), rect.bottom()})
                    if (image.pixelColor(x, y) != fill) ++marked;
            return marked;
        };
        QCOMPARE(markPixels(0, 1), 0); // nothing chosen yet, no focus: no mark
        grid.show();
        QVERIFY(QTest::qWaitForWindowExposed(&grid));
        if (how == QLatin1String("mouse")) {
            QTest::mouseClick(grid.viewport(), Qt::LeftButton, {}, grid.CellRect(1, 3).center());
        } else {
            grid.setFocus();
            QTest::keyClick(&grid, Qt::Key_Down);
            QTest::keyClick(&grid, Qt::Key_Down);
            QTest::keyClick(&grid, Qt::Key_Right);
        }
        QCOMPARE(grid.Col(), 1);
        QCOMPARE(grid.Row(), 3);
        QVERIFY(grid.hasFocus());
        QVERIFY(markPixels(1, 3) > 50);
        QCOMPARE(markPixels(1, 2), 0);
        // Focus elsewhere: the user still sees which row a command will act on.
        QWidget other;
        other.show();
        other.activateWindow();
        grid.clearFocus();
        QVERIFY(!grid.hasFocus());
        QVERIFY(markPixels(1, 3) > 50);
        // A refill forgets the choice.
        grid.setFixedRows(1);
        QCOMPARE(markPixels(1, 1), 0);
    }

    void clickOnTheCurrentCellIsASelection()
    {
        TMgrid grid;
        setUp(grid, 3, 6);
        grid.setFixedCols(0);
        grid.show();
        QVERIFY(QTest::qWaitForWindowExposed(&grid));
        int asked = 0;
        grid.OnSelectCell = [&](TStringGrid *, int, int, bool &) { ++asked; };
        QCOMPARE(grid.Row(), 1);
        QTest::mouseClick(grid.viewport(), Qt::LeftButton, {}, grid.CellRect(0, 1).center());
        QCOMPARE(asked, 1);
        QTest::mouseClick(grid.viewport(), Qt::LeftButton, {}, grid.CellRect(0, 1).center());
        QCOMPARE(asked, 2);
    }

    void lastColumnTextDoesNotSpillPastTheGrid()
    {
        TMgrid grid;
        setUp(grid, 2, 3);
        grid.resize(600, 200);
        grid.setColor(0xFFFFFF);
        grid.setFixedCols(0);
        grid.setFontColor(0x000000);
        grid.setCells(1, 1, QString(200, QLatin1Char('W')));
        const QImage image = render(grid);
        const QRect last = grid.CellRect(1, 1);
        // Inside the cell the text is drawn; past its right edge nothing of it shows.
        QVERIFY(countNear(image, last, Qt::black, 120) > 20);
        const QRect beyond(last.right() + 2, last.top(), 600 - last.right() - 10, last.height());
        QCOMPARE(countNear(image, beyond, Qt::black, 300), 0);
    }

    void adoptsAWholeBlock()
    {
        TMgrid grid;
        grid.setFixedRows(1);
        // Two columns, header row and one row: "id", "name" / "7", NULL.
        std::vector<char> buffer{0, 2, 'i', 'd', 4, 'n', 'a', 'm', 'e', 1, '7'};
        std::vector<std::uint32_t> index{1, 4, 9, CellStore::NullOffset};
        grid.AdoptCells(2, 2, std::move(index), std::move(buffer));
        QCOMPARE(grid.ColCount(), 2);
        QCOMPARE(grid.RowCount(), 2);
        QCOMPARE(grid.Cells(1, 0), QStringLiteral("name"));
        QCOMPARE(grid.Cells(0, 1), QStringLiteral("7"));
        QVERIFY(grid.CellIsNull(1, 1));
        QCOMPARE(grid.FixedRows(), 1);
        // A block that does not fit its sizes is refused and changes nothing.
        QVERIFY_THROWS_EXCEPTION(std::invalid_argument,
                                 grid.AdoptCells(3, 1, {1, 2}, std::vector<char>{0}));
        QVERIFY_THROWS_EXCEPTION(std::invalid_argument,
                                 grid.AdoptCells(1, 1, {99}, std::vector<char>{0, 1, 'x'}));
        QCOMPARE(grid.Cells(1, 0), QStringLiteral("name"));
    }

    // Batches of a long read land below the screen faster than the scroll bar is repainted: the
    // bar and the row strip still come to show every row, and the screenful is painted at once.
    void appendedRowsReachScrollBarAndStrip()
    {
        CountingGrid grid;
        setUp(grid, 2, 1);
        grid.setRowStrip(true);
        grid.show();
        QVERIFY(QTest::qWaitForWindowExposed(&grid));
        const auto block = [](int rows) {
            TCellBlock b{2, rows, std::vector<std::uint32_t>(std::size_t(rows) * 2, 0), {0}};
            return TCheckedCellBlock::Check(std::move(b));
        };
        grid.AppendCells(block(3));
        grid.cellsPainted = 0;
        QTRY_VERIFY(grid.cellsPainted > 0); // the rows on screen
        const int stripWidth = grid.RowStrip()->width();
        for (int i = 0; i < 200; ++i)
            grid.AppendCells(block(100));
        QCOMPARE(grid.RowCount(), 20004);
        // As far as the same grid given all its rows at once scrolls.
        TMgrid whole;
        setUp(whole, 2, 20004);
        whole.setRowStrip(true);
        whole.show();
        QVERIFY(QTest::qWaitForWindowExposed(&whole));
        QVERIFY(whole.verticalScrollBar()->maximum() > 19900);
        QTRY_COMPARE(grid.verticalScrollBar()->maximum(), whole.verticalScrollBar()->maximum());
        QVERIFY(grid.RowStrip()->width() > stripWidth); // five digits now
    }

    // What a cell shows, by column format: bounded, one line, marks for what cannot be drawn.
    void displayText_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("format");
        QTest::addColumn<QString>("shown");
        const int text = int(TCellFormat::Text), hex = int(TCellFormat::Hex),
                  bit = int(TCellFormat::Bit), geo = int(TCellFormat::Geometry);
        QTest::newRow("plain") << QByteArray("za\xC5\xBC\xC3\xB3\xC5\x82\xC4\x87") << text
                               << QStringLiteral("za\u017C\u00F3\u0142\u0107");
        QTest::newRow("NUL inside") << QByteArray("a\0b", 3) << text << QStringLiteral("a\\0b");
        QTest::newRow("first line")
            << QByteArray("one\ntwo") << text << QStringLiteral("one\u2026");
        QTest::newRow("one line ended") << QByteArray("one\r\n") << text << QStringLiteral("one");
        QTest::newRow("tab") << QByteArray("a\tb") << text << QStringLiteral("a b");
        QTest::newRow("escape") << QByteArray("a\x1B") << text << QStringLiteral("a\\x1b");
        QTest::newRow("hex") << QByteArray("\x00\x01\xFF", 3) << hex << QStringLiteral("0x0001FF");
        QTest::newRow("hex empty") << QByteArray() << hex << QString();
        QTest::newRow("PNG") << QByteArray("\x89PNG\r\n\x1A\n") << hex
                             << QStringLiteral("0x89504E470D0A1A0A");
        QTest::newRow("bit") << QByteArray("\x00\x05", 2) << bit << QStringLiteral("b'101'");
        QTest::newRow("bit zero") << QByteArray("\x00", 1) << bit << QStringLiteral("b'0'");
        // As the server sends them: a 4-byte SRID, then well-known binary.
        QTest::newRow("point") << QByteArray::fromHex(
                                      "000000000101000000000000000000F03F0000000000000040")
                               << geo << QStringLiteral("POINT(1 2)");
        QTest::newRow("polygon with SRID")
            << QByteArray::fromHex("E61000000103000000010000000400000000000000000000000000000000"
                                   "000000000000000000F03F0000000000000000000000000000F03F000000"
                                   "000000F03F00000000000000000000000000000000")
            << geo << QStringLiteral("SRID=4326;POLYGON((0 0,1 0,1 1,0 0))");
        QTest::newRow("collection")
            << QByteArray::fromHex("0000000001070000000200000001010000000000000000000000000000000"
                                   "00000000101000000000000000000F03F000000000000F0BF")
            << geo << QStringLiteral("GEOMETRYCOLLECTION(POINT(0 0),POINT(1 -1))");
        QTest::newRow("cut geometry") << QByteArray::fromHex("00000000010100000000") << geo
                                      << QStringLiteral("GEOMETRY (10 bytes)");
    }
    void displayText()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, format);
        QFETCH(QString, shown);
        QCOMPARE(celltext::display(std::string_view(bytes.constData(), std::size_t(bytes.size())),
                                   TCellFormat(format)),
                 shown);
    }

    void largeValuesShowABoundedStart()
    {
        const std::string big(4 << 20, 'x');
        for (const TCellFormat format : {TCellFormat::Text, TCellFormat::Hex}) {
            const QString shown = celltext::display(big, format);
            QVERIFY(shown.size() <= celltext::DefaultLimit + 1);
            QVERIFY(shown.endsWith(QChar(0x2026)));
        }
        // Cut inside a character: no broken character at the end.
        std::string wide;
        for (int i = 0; i < 1000; ++i)
            wide += "\xE6\x97\xA5";
        const QString shown = celltext::display(wide, TCellFormat::Text);
        QCOMPARE(shown, QString(celltext::DefaultLimit, QChar(0x65E5)) + QChar(0x2026));
        // The grid draws and tells that, and keeps the bytes whole.
        TMgrid grid;
        setUp(grid, 2, 2);
        grid.setCellUtf8(1, 1, big);
        grid.setColFormats({TCellFormat::Text, TCellFormat::Hex});
        QCOMPARE(grid.DisplayText(1, 1), celltext::display(big, TCellFormat::Hex));
        QCOMPARE(grid.CellUtf8(1, 1).size(), big.size());
        // Header rows stay text whatever the column's format.
        grid.setCells(1, 0, QStringLiteral("blob"));
        QCOMPARE(grid.DisplayText(1, 0), QStringLiteral("blob"));
    }

    void doubleClickOnAnEdgeFitsTheColumn()
    {
        TMgrid grid;
        setUp(grid, 3, 5);
        grid.setFixedCols(0);
        grid.setCells(0, 0, QStringLiteral("id"));
        grid.setCells(0, 2, QStringLiteral("a rather long value that needs room"));
        grid.show();
        QVERIFY(QTest::qWaitForWindowExposed(&grid));
        const QRect header = grid.CellRect(0, 0);
        const QPoint edge(header.right() + 1, header.center().y());
        QTest::mouseDClick(grid.viewport(), Qt::LeftButton, {}, edge);
        const int fitted = grid.ColWidths(0);
        const int text =
            QFontMetrics(grid.font())
                .horizontalAdvance(QStringLiteral("a rather long value that needs room"));
        QVERIFY2(fitted >= text + 2 && fitted <= text + 12, qPrintable(QString::number(fitted)));
        QCOMPARE(grid.ColWidths(1), 100);
        // A double click inside a cell is a click, not a fit.
        QTest::mouseDClick(grid.viewport(), Qt::LeftButton, {}, grid.CellRect(1, 3).center());
        QCOMPARE(grid.ColWidths(1), 100);
        QCOMPARE(grid.Row(), 3);
    }
};

QTEST_MAIN(TestGrid)
#include "test_grid.moc"
