// The grid's cell store, without Qt widgets or an application object.
#include "CellStore.h"

#include <QTest>
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
        QTest::newRow("well formed") << QByteArray("\0\x02" "ab", 4) << 1u << true;
        QTest::newRow("long length")
            << QByteArray("\0\x81\x01", 3) + QByteArray(129, 'x') << 1u << true;
        QTest::newRow("length cut short") << QByteArray("\0\x81", 2) << 1u << false;
        QTest::newRow("bytes cut short") << QByteArray("\0\x05" "ab", 4) << 1u << false;
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
};

QTEST_APPLESS_MAIN(TestCellStore)
#include "test_cellstore.moc"
