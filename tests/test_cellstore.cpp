// The grid's cell store, without Qt widgets or an application object.
#include "CellStore.h"

#include <QTest>
#include <algorithm>
#include <memory>
#include <string>

class TestCellStore : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void keepsTextNullAndEmptyApart()
    {
        CellStore store;
        store.resize(3, 2);
        store.set(0, 0, "alpha");
        store.set(1, 0, "");
        store.setNull(2, 0);
        QCOMPARE(std::string(store.get(0, 0)), std::string("alpha"));
        QVERIFY(store.get(1, 0).empty());
        QVERIFY(!store.isNull(1, 0));
        QVERIFY(store.get(2, 0).empty());
        QVERIFY(store.isNull(2, 0));
        QVERIFY(!store.isNull(0, 1)); // never written: empty, not NULL
    }

    void overwriteReplacesAndNullCanBeUndone()
    {
        CellStore store;
        store.resize(2, 2);
        store.set(1, 1, "first");
        store.set(1, 1, "second, longer text");
        QCOMPARE(std::string(store.get(1, 1)), std::string("second, longer text"));
        store.setNull(1, 1);
        QVERIFY(store.isNull(1, 1));
        store.set(1, 1, "back");
        QVERIFY(!store.isNull(1, 1));
        QCOMPARE(std::string(store.get(1, 1)), std::string("back"));
    }

    void outOfRangeIsHarmless()
    {
        CellStore store;
        store.resize(2, 2);
        store.set(-1, 0, "x");
        store.set(2, 0, "x");
        store.set(0, 2, "x");
        store.setNull(5, 5);
        QVERIFY(store.get(2, 0).empty());
        QVERIFY(store.get(0, -1).empty());
        QVERIFY(!store.isNull(5, 5));
        QCOMPARE(store.bufferBytes(), std::size_t(1));
    }

    void resizeKeepsCellsThatStay_data()
    {
        QTest::addColumn<int>("cols");
        QTest::addColumn<int>("rows");
        QTest::newRow("more rows") << 3 << 6;
        QTest::newRow("fewer rows") << 3 << 2;
        QTest::newRow("more columns") << 5 << 4;
        QTest::newRow("fewer columns") << 2 << 4;
        QTest::newRow("both smaller") << 1 << 1;
    }
    void resizeKeepsCellsThatStay()
    {
        QFETCH(int, cols);
        QFETCH(int, rows);
        CellStore store;
        store.resize(3, 4);
        for (int r = 0; r < 4; ++r)
            for (int c = 0; c < 3; ++c)
                store.set(c, r, std::to_string(c * 10 + r));
        store.setNull(0, 0);
        store.resize(cols, rows);
        QCOMPARE(store.colCount(), cols);
        QCOMPARE(store.rowCount(), rows);
        for (int r = 0; r < rows; ++r)
            for (int c = 0; c < cols; ++c) {
                if (c < 3 && r < 4 && !(c == 0 && r == 0))
                    QCOMPARE(std::string(store.get(c, r)), std::to_string(c * 10 + r));
                else if (c >= 3 || r >= 4)
                    QVERIFY(store.get(c, r).empty());
            }
        QVERIFY(store.isNull(0, 0));
    }

    void longAndBinaryTexts()
    {
        CellStore store;
        store.resize(2, 1);
        const std::string longText(100000, 'q'); // several length bytes
        const std::string binary("a\0b\xff", 4);
        store.set(0, 0, longText);
        store.set(1, 0, binary);
        QCOMPARE(std::string(store.get(0, 0)), longText);
        QCOMPARE(std::string(store.get(1, 0)), binary);
    }

    void copyFromItsOwnBuffer()
    {
        // Copying one cell into another must survive the buffer moving during the append.
        CellStore store;
        store.resize(2, 1);
        store.set(0, 0, "source text");
        for (int i = 0; i < 1000; ++i)
            store.set(1, 0, store.get(0, 0));
        store.set(1, 0, store.get(0, 0));
        QCOMPARE(std::string(store.get(1, 0)), std::string("source text"));
    }

    // Bytes lent to a reader on another thread stay where they were, unchanged, whatever the
    // store does next; the store itself reads its new state (under ASan a freed buffer fails).
    void lentBytesOutliveWrites_data()
    {
        QTest::addColumn<int>("step");
        QTest::newRow("set in the same chunk") << 0;
        QTest::newRow("a set that compacts") << 1;
        QTest::newRow("compact") << 2;
        QTest::newRow("clear") << 3;
        QTest::newRow("columns changed") << 4;
        QTest::newRow("rows removed, the store let go") << 5;
    }
    void lentBytesOutliveWrites()
    {
        QFETCH(int, step);
        auto store = std::make_unique<CellStore>();
        store->resize(2, 3);
        const std::string big(100000, 'b');
        store->set(0, 1, big);
        store->set(1, 1, "small");
        std::shared_ptr<const void> owner = store->keepAlive(1);
        QVERIFY(owner);
        const std::string_view lent = store->get(0, 1);
        switch (step) {
        case 0:
            store->set(1, 1, "another value");
            QCOMPARE(std::string(store->get(1, 1)), std::string("another value"));
            break;
        case 1:
            for (int i = 0; i < 3; ++i)
                store->set(0, 1, std::string(60000 + i, char('c' + i)));
            QCOMPARE(store->get(0, 1).size(), std::size_t(60002));
            break;
        case 2:
            store->set(0, 1, "x");
            store->compact();
            QCOMPARE(std::string(store->get(0, 1)), std::string("x"));
            break;
        case 3:
            store->clear();
            QVERIFY(store->get(0, 1).empty());
            break;
        case 4:
            store->resize(1, 3);
            QCOMPARE(store->get(0, 1).size(), big.size());
            break;
        case 5:
            store->removeRows({1});
            store.reset();
            break;
        }
        QCOMPARE(lent.size(), big.size());
        QVERIFY(lent == big);
    }

    void garbageIsCompacted()
    {
        CellStore store;
        store.resize(4, 4);
        for (int round = 0; round < 2000; ++round)
            for (int c = 0; c < 4; ++c)
                store.set(c, round % 4, "value " + std::to_string(round));
        // 16 live cells of ~10 bytes: the buffer must not hold all 8000 writes.
        QVERIFY2(store.bufferBytes() < 20000, std::to_string(store.bufferBytes()).c_str());
        QCOMPARE(std::string(store.get(3, 1997 % 4)), std::string("value 1997"));
        QCOMPARE(std::string(store.get(0, 1999 % 4)), std::string("value 1999"));
    }

    void compactIsCheaperThanAHeapObjectPerCell()
    {
        CellStore store;
        store.resize(8, 100000);
        for (int r = 0; r < 100000; ++r)
            for (int c = 0; c < 8; ++c)
                store.set(c, r, "cell");
        // 4 bytes of offset and 5 of text a cell, with vector slack: far below a string per cell.
        QVERIFY(store.memoryBytes() < std::size_t(8) * 100000 * 16);
        QCOMPARE(std::string(store.get(7, 99999)), std::string("cell"));
    }

    // A block taken whole: well formed, it is read as written; a damaged one is refused and
    // leaves the store as it was, never read past its end.
    void blocksAreCheckedWhenTaken_data()
    {
        QTest::addColumn<QByteArray>("buffer");
        QTest::addColumn<quint32>("offset");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("well formed") << QByteArray("\0\x02"
                                                   "ab",
                                                   4)
                                     << 1u << true;
        QTest::newRow("long length")
            << QByteArray("\0\x81\x01", 3) + QByteArray(129, 'x') << 1u << true;
        QTest::newRow("length cut short") << QByteArray("\0\x81", 2) << 1u << false;
        QTest::newRow("bytes cut short") << QByteArray("\0\x05"
                                                       "ab",
                                                       4)
                                         << 1u << false;
        QTest::newRow("offset past the end") << QByteArray("\0\x01a", 3) << 9u << false;
        QTest::newRow("endless length")
            << QByteArray("\0\xFF\xFF\xFF\xFF\xFF\xFF\x01", 8) << 1u << false;
        QTest::newRow("no shared empty entry") << QByteArray("\x01\x01a", 3) << 1u << false;
    }
    void blocksAreCheckedWhenTaken()
    {
        QFETCH(QByteArray, buffer);
        QFETCH(quint32, offset);
        QFETCH(bool, accepted);
        CellStore store;
        store.resize(1, 1);
        store.set(0, 0, "before");
        std::vector<char> bytes(buffer.begin(), buffer.end());
        bool thrown = false;
        try {
            store.assign(1, 1, {offset}, std::move(bytes));
        } catch (const std::invalid_argument &) {
            thrown = true;
        }
        QCOMPARE(thrown, !accepted);
        if (accepted) {
            const std::optional<std::string_view> entry =
                cellblock::ReadEntry(buffer.constData(), std::size_t(buffer.size()), offset);
            QVERIFY(entry);
            QCOMPARE(store.get(0, 0), *entry);
        } else {
            QCOMPARE(store.get(0, 0), std::string_view("before"));
        }
    }

    // Rows built one at a time, from room for one row up: every length the entry writer copies
    // its own way, each byte where it belongs, NULL and empty kept apart, and the block as
    // the check would take it, with no more slack than a quarter.
    void builtRowsReadAsWritten_data()
    {
        QTest::addColumn<int>("length");
        for (const int length : {1, 3, 4, 7, 8, 9, 16, 17, 127, 128, 16385})
            QTest::newRow(qPrintable(QString::number(length))) << length;
    }
    void builtRowsReadAsWritten()
    {
        QFETCH(int, length);
        constexpr int Rows = 300;
        const auto text = [&](int row) {
            std::string t(std::size_t(length + row % 3), '\0');
            for (std::size_t i = 0; i < t.size(); ++i)
                t[i] = char(row * 31 + int(i) * 7 + 1);
            return t;
        };
        TCellBlockBuilder builder(3, 1, 1);
        for (int row = 0; row < Rows; ++row) {
            const std::string cell = text(row);
            const char *cells[3] = {cell.data(), row % 2 ? nullptr : "", cell.data()};
            const unsigned long lengths[3] = {cell.size(), 0, cell.size()};
            QVERIFY(builder.AddRow(cells, lengths));
        }
        QCOMPARE(builder.Rows(), Rows);
        TCellBlock block = std::move(builder).Finish().Take();
        QCOMPARE(block.Index.size(), std::size_t(Rows * 3));
        QVERIFY(block.Buffer.capacity() <= block.Buffer.size() + block.Buffer.size() / 4);
        for (int row = 0; row < Rows; ++row) {
            for (const int col : {0, 2}) {
                const std::optional<std::string_view> entry =
                    cellblock::ReadEntry(block.Buffer.data(), block.Buffer.size(),
                                         block.Index[std::size_t(row * 3 + col)]);
                QVERIFY(entry);
                QCOMPARE(std::string(*entry), text(row));
            }
            QCOMPARE(block.Index[std::size_t(row * 3 + 1)], row % 2 ? TCellBlock::NullOffset : 0u);
        }
        CellStore store;
        store.resize(3, 0);
        store.appendRows(TCheckedCellBlock::Check(std::move(block)));
        QCOMPARE(store.rowCount(), Rows);
        QVERIFY(store.isNull(1, 1) && !store.isNull(1, 0) && store.get(1, 0).empty());
        // A batch that ends before its first row (a stop, an empty result) is still a block.
        TCellBlock none = TCellBlockBuilder(3, 2000, 1 << 16).Finish().Take();
        QCOMPARE(none.Rows, 0);
        QVERIFY(none.Index.empty() && none.Buffer.size() == 1);
        QVERIFY(none.Index.capacity() == 0 && none.Buffer.capacity() < 64);
        store.appendRows(TCheckedCellBlock::Check(std::move(none)));
        QCOMPARE(store.rowCount(), Rows);
    }

    // Rows taken out close up, across chunks, whatever else the list holds.
    void removedRowsCloseUp_data()
    {
        QTest::addColumn<std::vector<int>>("removed");
        QTest::newRow("none") << std::vector<int>{};
        QTest::newRow("the first") << std::vector<int>{0};
        QTest::newRow("the last") << std::vector<int>{12};
        QTest::newRow("a run over three chunks") << std::vector<int>{4, 5, 6};
        QTest::newRow("a whole chunk, and scattered") << std::vector<int>{1, 3, 5, 8, 11};
        QTest::newRow("repeated and out of range") << std::vector<int>{2, 2, 40};
        QTest::newRow("every row") << std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    }
    void removedRowsCloseUp()
    {
        QFETCH(std::vector<int>, removed);
        // Chunks of 5, 1 and 7 rows, two columns: the row's number and NULL or a NUL byte.
        auto chunk = [](int first, int rows) {
            TCellBlock block{2, rows, {}, {0}};
            for (int r = first; r < first + rows; ++r) {
                const std::string text = "r" + std::to_string(r);
                block.Index.push_back(std::uint32_t(block.Buffer.size()));
                block.Buffer.resize(block.Buffer.size() + cellblock::EntrySize(text.size()));
                cellblock::PutEntry(block.Buffer.data() + block.Index.back(), text.data(),
                                    text.size());
                block.Index.push_back(r % 2 ? CellStore::NullOffset : 0);
            }
            return TCheckedCellBlock::Check(std::move(block));
        };
        CellStore store;
        store.assign(chunk(0, 5));
        store.appendRows(chunk(5, 1));
        store.appendRows(chunk(6, 7));
        std::vector<int> kept;
        for (int r = 0; r < 13; ++r)
            if (std::find(removed.begin(), removed.end(), r) == removed.end()) kept.push_back(r);
        store.removeRows(removed);
        QCOMPARE(store.rowCount(), int(kept.size()));
        for (int r = 0; r < int(kept.size()); ++r) {
            QCOMPARE(std::string(store.get(0, r)), "r" + std::to_string(kept[r]));
            QCOMPARE(store.isNull(1, r), kept[r] % 2 == 1);
        }
        // Still one grid: a write after the last row and a resize behave.
        store.setRowCount(store.rowCount() + 1);
        store.set(0, store.rowCount() - 1, "new");
        QCOMPARE(std::string(store.get(0, store.rowCount() - 1)), std::string("new"));
    }

    // Rows added in batches read, change and resize as one grid: the same cells as a store
    // written cell by cell, whatever chunk a row landed in.
    void rowsAddedInBatchesActAsOneGrid()
    {
        auto batch = [](int firstValue, int rows) {
            CellStore part; // made the ordinary way, then handed over as a block
            part.resize(2, rows);
            for (int r = 0; r < rows; ++r) {
                part.set(0, r, "r" + std::to_string(firstValue + r));
                if (r % 3 == 0)
                    part.setNull(1, r);
                else if (r % 3 == 1)
                    part.set(1, r, std::string("\0x", 2));
            }
            TCellBlock block{2, rows, {}, {0}};
            for (int r = 0; r < rows; ++r)
                for (int c = 0; c < 2; ++c) {
                    if (part.isNull(c, r)) {
                        block.Index.push_back(CellStore::NullOffset);
                        continue;
                    }
                    const std::string_view text = part.get(c, r);
                    if (text.empty()) {
                        block.Index.push_back(0);
                        continue;
                    }
                    block.Index.push_back(std::uint32_t(block.Buffer.size()));
                    block.Buffer.resize(block.Buffer.size() + cellblock::EntrySize(text.size()));
                    cellblock::PutEntry(block.Buffer.data() + block.Index.back(), text.data(),
                                        text.size());
                }
            return TCheckedCellBlock::Check(std::move(block));
        };
        CellStore store;
        store.assign(batch(0, 5));
        store.appendRows(batch(5, 1));
        store.appendRows(batch(6, 0)); // nothing to add
        store.appendRows(batch(6, 7));
        QCOMPARE(store.rowCount(), 13);
        QCOMPARE(store.chunkCount(), std::size_t(3));
        auto expectRow = [&](int r, int value) {
            QCOMPARE(std::string(store.get(0, r)), "r" + std::to_string(value));
            const int inBatch = value < 5 ? value : value < 6 ? value - 5 : value - 6;
            QCOMPARE(store.isNull(1, r), inBatch % 3 == 0);
            QCOMPARE(std::string(store.get(1, r)),
                     inBatch % 3 == 1 ? std::string("\0x", 2) : std::string());
        };
        for (int r = 0; r < 13; ++r)
            expectRow(r, r);
        // Writes land in the right chunk, a copy from another chunk included.
        store.set(1, 5, store.get(0, 12));
        store.setNull(0, 2);
        QCOMPARE(std::string(store.get(1, 5)), std::string("r12"));
        QVERIFY(store.isNull(0, 2));
        // A chunk of another width is refused, and the store is unchanged.
        TCellBlock wide{3, 1, {0, 0, 0}, {0}};
        QVERIFY_THROWS_EXCEPTION(std::invalid_argument,
                                 store.appendRows(TCheckedCellBlock::Check(std::move(wide))));
        QCOMPARE(store.rowCount(), 13);
        // Cut inside the middle chunk, then grown again: new rows are empty.
        store.resize(2, 4);
        QCOMPARE(store.chunkCount(), std::size_t(1));
        store.resize(2, 8);
        expectRow(3, 3);
        QVERIFY(store.get(0, 6).empty() && !store.isNull(1, 6));
        // Another width gathers what stays into one chunk.
        store.appendRows(batch(20, 4));
        store.resize(1, 12);
        QCOMPARE(store.chunkCount(), std::size_t(1));
        QCOMPARE(std::string(store.get(0, 11)), std::string("r23"));
        QVERIFY(store.isNull(0, 2));
    }
};

QTEST_APPLESS_MAIN(TestCellStore)
#include "test_cellstore.moc"
