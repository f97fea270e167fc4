// What the client component hands over of a result and of a statement: whole values with their
// lengths, column descriptions, packed blocks, escaped values, affected-row counts, and result
// sets drained after every statement. Against the project's MariaDB sandbox.
#include "sandbox.h"

#include <QTest>

using namespace mysqlapi;

class TestClientData : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        REQUIRE_SERVER();
        Session s;
        QVERIFY2(s.connected, qPrintable(s.error));
        s.Run(std::string("DROP DATABASE IF EXISTS quorvane_data"));
        s.Run(std::string("CREATE DATABASE quorvane_data CHARACTER SET utf8mb4"));
        QVERIFY2(s.error.isEmpty(), qPrintable(s.error));
    }

    void quotingIdentifiers()
    {
        QCOMPARE(QuoteIdentifier("plain"), std::string("`plain`"));
        QCOMPARE(QuoteIdentifier("a`b``c"), std::string("`a``b````c`"));
        QCOMPARE(QuoteIdentifier(""), std::string("``"));
        TmySQLStatement st("SELECT ");
        st.Value(std::string("it's"))
            .Text(", ")
            .Value(std::nullopt)
            .Text(" FROM ")
            .Identifier("t`1");
        QCOMPARE(st.Preview(), std::string("SELECT 'it''s', NULL FROM `t``1`"));
    }

    void valuesWithNulBytesArriveWhole()
    {
        REQUIRE_SERVER();
        Session s;
        QVERIFY(s.Run(std::string("SELECT X'41004243', '', NULL, 'żółw'")));
        QCOMPARE(s.q()->ValueLength(0, 0), std::size_t(4));
        QCOMPARE(s.q()->ValueBytes(0, 0), std::string_view("A\0BC", 4));
        QVERIFY(!s.q()->IsNull(0, 1));
        QCOMPARE(s.q()->ValueLength(0, 1), std::size_t(0));
        QVERIFY(s.q()->IsNull(0, 2));
        QCOMPARE(s.q()->ValueBytes(0, 3), std::string_view("żółw"));
        // A statement holding a NUL byte is sent whole, by its length.
        const std::string withNul("SELECT 'a\0b'", 13);
        QVERIFY(s.Run(withNul));
        QCOMPARE(s.q()->ValueBytes(0, 0), std::string_view("a\0b", 3));
        // Outside the result: nothing, and no crash.
        QCOMPARE(s.q()->ValueLength(5, 0), std::size_t(0));
        QVERIFY(!s.q()->IsNull(0, 9));
    }

    void escapedValuesUnderEverySqlMode_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::newRow("default") << "";
        QTest::newRow("ANSI_QUOTES") << "ANSI_QUOTES";
        QTest::newRow("NO_BACKSLASH_ESCAPES") << "NO_BACKSLASH_ESCAPES";
        QTest::newRow("both") << "ANSI_QUOTES,NO_BACKSLASH_ESCAPES";
    }
    void escapedValuesUnderEverySqlMode()
    {
        REQUIRE_SERVER();
        QFETCH(QString, mode);
        Session s;
        s.Run(TmySQLStatement("SET SESSION sql_mode = ").Value(mode.toStdString()));
        QVERIFY2(s.error.isEmpty(), qPrintable(s.error));
        const std::string nasty =
            std::string("it's \"a\" \\ back\\slash; -- %_ \\' ") + '\0' + "end";
        QVERIFY(s.Run(TmySQLStatement("SELECT ").Value(nasty).Text(", @@sql_mode")));
        QCOMPARE(s.q()->ValueBytes(0, 0), std::string_view(nasty));
        QCOMPARE(QString::fromUtf8(s.q()->Value(0, 1)), mode);
        // A LIKE pattern keeps its wildcards while quotes and backslashes stay literal.
        QVERIFY(s.Run(TmySQLStatement("SELECT ").Value("x'y\\z").Text(" LIKE ").Value("x'y%")));
        QCOMPARE(QByteArray(s.q()->Value(0, 0)), QByteArray("1"));
        QVERIFY(s.Run(TmySQLStatement("SELECT ").Value("x'y\\z").Text(" LIKE ").Value("x'z%")));
        QCOMPARE(QByteArray(s.q()->Value(0, 0)), QByteArray("0"));
        QVERIFY(s.Run(TmySQLStatement("SELECT 'ab' LIKE ").Value("a_")));
        QCOMPARE(QByteArray(s.q()->Value(0, 0)), QByteArray("1"));
    }

    // The session switched to a character set whose second bytes may be a backslash or a
    // backtick, behind the library's back (tracking off, SET NAMES as the user's own SQL): a
    // value still matches only itself and a name still names only its object.
    void valuesAndNamesHoldInAnotherCharacterSet()
    {
        REQUIRE_SERVER();
        Session s;
        const QString setUp =
            s.RunEach({"SET SESSION session_track_system_variables = ''",
                       "DROP DATABASE IF EXISTS quorvane_sjis", "CREATE DATABASE quorvane_sjis",
                       "CREATE TABLE quorvane_sjis.t (secret VARCHAR(40)) CHARACTER SET utf8mb4",
                       "INSERT INTO quorvane_sjis.t VALUES ('one'), ('two')"});
        QVERIFY2(setUp.isEmpty(), qPrintable(setUp));
        // SQL of the user's, as the console sends it.
        auto setNamesSjis = [&s] {
            s.client.Query()->Submit("SET NAMES sjis", "user");
            s.client.ExecuteTasks();
            return s.error;
        };
        QCOMPARE(setNamesSjis(), QString());
        // 95 5C is one sjis character: an escaping backslash after 0x95 vanishes into it.
        const std::string breakout = "\x95' OR 1=1 -- ";
        // Not UTF-8, so the server refuses the literal; it never matches a row.
        const bool matched =
            s.Run(TmySQLStatement("SELECT COUNT(*) FROM quorvane_sjis.t WHERE secret = ")
                      .Value(breakout)) &&
            QByteArray(s.q()->Value(0, 0)) != "0";
        QVERIFY(!matched);
        QCOMPARE(setNamesSjis(), QString());
        // U+0155 is C5 95 in UTF-8: read as sjis, 95 60 swallows the first of two backticks.
        const std::string name = "t\xC5\x95`x";
        s.Run(TmySQLStatement("CREATE TABLE ")
                  .Identifier("quorvane_sjis")
                  .Text(".")
                  .Identifier(name)
                  .Text(" (a INT)"));
        QVERIFY2(s.error.isEmpty(), qPrintable(s.error));
        QCOMPARE(s.Column(TmySQLStatement("SELECT TABLE_NAME FROM information_schema.TABLES "
                                          "WHERE TABLE_SCHEMA = 'quorvane_sjis' ORDER BY 1")),
                 QStringList({QStringLiteral("t"), QString::fromUtf8(name.c_str())}));
        s.Run(std::string("DROP DATABASE quorvane_sjis"));
    }

    void affectedRowsOfAStatementWithoutResult()
    {
        REQUIRE_SERVER();
        Session s;
        s.Run(std::string("CREATE TABLE quorvane_data.d (v VARCHAR(10))"));
        s.Run(std::string("INSERT INTO quorvane_data.d VALUES ('a'), ('a'), ('b')"));
        QCOMPARE(s.q()->AffectedRows(), 3);
        QVERIFY(!s.Run(std::string("DELETE FROM quorvane_data.d WHERE v = 'a' LIMIT 1")));
        QVERIFY(s.error.isEmpty()); // still reported as the specified empty-message error
        QCOMPARE(s.q()->AffectedRows(), 1);
        s.Run(std::string("DELETE FROM quorvane_data.d WHERE v = 'zzz' LIMIT 1"));
        QCOMPARE(s.q()->AffectedRows(), 0);
        // A rejected statement: no count, the library's number.
        s.Run(std::string("DELETE FROM quorvane_data.nowhere"));
        QCOMPARE(s.q()->AffectedRows(), -1);
        QCOMPARE(s.q()->ErrorNumber(), 1146u);
        QVERIFY(s.error.contains(QStringLiteral("doesn't exist")));
    }

    void callReturningRowsLeavesTheConnectionInStep()
    {
        REQUIRE_SERVER();
        Session s;
        s.Run(std::string("CREATE PROCEDURE quorvane_data.two_rows() "
                          "SELECT 1 AS n UNION ALL SELECT 2"));
        QVERIFY2(s.error.isEmpty(), qPrintable(s.error));
        QVERIFY2(s.Run(std::string("CALL quorvane_data.two_rows()")), qPrintable(s.error));
        QCOMPARE(s.q()->RowCount(), 2);
        QVERIFY2(s.Run(std::string("SELECT 'next'")), qPrintable(s.error));
        QCOMPARE(QByteArray(s.q()->Value(0, 0)), QByteArray("next"));
        // Several statements at once are not accepted, so nothing else can ride along.
        QVERIFY(!s.Run(std::string("SELECT 1; SELECT 2")));
        QVERIFY(!s.error.isEmpty());
        QVERIFY(s.Run(std::string("SELECT 3")));
    }

    // A procedure stopped by an error in a later statement failed: the caller hears the server's
    // error, not the first statement's rows as if all went well; its later INSERT never ran.
    void errorInALaterResultSetFailsTheStatement()
    {
        REQUIRE_SERVER();
        Session s;
        QCOMPARE(s.RunEach({"CREATE TABLE quorvane_data.after_error (n INT)",
                            "CREATE PROCEDURE quorvane_data.fails_second() BEGIN "
                            "SELECT 1 AS n; SELECT * FROM quorvane_data.no_such_table; "
                            "INSERT INTO quorvane_data.after_error VALUES (1); END",
                            "CREATE PROCEDURE quorvane_data.fails_after_change() BEGIN "
                            "INSERT INTO quorvane_data.after_error VALUES (2); "
                            "SELECT * FROM quorvane_data.no_such_table; END"}),
                 QString());
        QVERIFY(!s.Run(std::string("CALL quorvane_data.fails_second()")));
        QVERIFY2(s.error.contains(QStringLiteral("no_such_table")), qPrintable(s.error));
        QCOMPARE(s.q()->ErrorNumber(), 1146u);
        // The same when the first statement gave no rows.
        QVERIFY(!s.Run(std::string("CALL quorvane_data.fails_after_change()")));
        QVERIFY2(s.error.contains(QStringLiteral("no_such_table")), qPrintable(s.error));
        // And for a statement whose result is not kept.
        QString modifyError;
        s.client.TaskHandler()->Thread()->AddQueryTask(
            TmySQLTaskKind::Modify, "CALL quorvane_data.fails_second()", "modify",
            [](QObject *, TmySQLClientTaskData *t) { delete t; },
            [&](QObject *, TmySQLClientTaskData *t, const QString &msg) {
                modifyError = msg;
                delete t;
            },
            nullptr, nullptr);
        s.client.ExecuteTasks();
        QVERIFY2(modifyError.contains(QStringLiteral("no_such_table")), qPrintable(modifyError));
        // The connection is in step, and the server's rows show what ran.
        QCOMPARE(s.Column(std::string("SELECT n FROM quorvane_data.after_error")),
                 QStringList{QStringLiteral("2")});
    }

    void fieldDescriptions()
    {
        REQUIRE_SERVER();
        Session s;
        s.Run(std::string("CREATE TABLE quorvane_data.k (a INT, b VARCHAR(5), c VARBINARY(4), "
                          "d DOUBLE, PRIMARY KEY (a, b))"));
        QVERIFY(s.Run(std::string("SELECT a AS first, b, c, d FROM quorvane_data.k")));
        QCOMPARE(s.q()->FieldCount(), 4);
        const TmySQLFieldInfo *a = s.q()->FieldInfo(0);
        QVERIFY(a);
        QCOMPARE(a->Name, std::string("first"));
        QCOMPARE(a->OrgName, std::string("a"));
        QCOMPARE(a->OrgTable, std::string("k"));
        QCOMPARE(a->Db, std::string("quorvane_data"));
        QVERIFY(a->PrimaryKey());
        QVERIFY(s.q()->FieldInfo(1)->PrimaryKey());
        QVERIFY(!s.q()->FieldInfo(1)->Binary());
        QVERIFY(!s.q()->FieldInfo(2)->PrimaryKey());
        QVERIFY(s.q()->FieldInfo(2)->Binary());
        QCOMPARE(s.q()->FieldInfo(3)->Type, MYSQL_TYPE_DOUBLE);
        QVERIFY(!s.q()->FieldInfo(4));
        QCOMPARE(s.q()->FieldName(0), QStringLiteral("first"));
    }

    void packedResultBlock()
    {
        REQUIRE_SERVER();
        Session s;
        QVERIFY(s.Run(std::string("SELECT id, label, NULL AS n, '' AS e FROM demo.big_table "
                                  "ORDER BY id LIMIT 3"),
                      true));
        auto checked = s.q()->TakeBlock();
        QVERIFY(checked);
        const TCellBlock *block = &checked->Block();
        QCOMPARE(block->Cols, 4);
        QCOMPARE(block->Rows, 4); // the header row of names, then three rows
        QCOMPARE(block->Buffer.front(), '\0');
        auto cell = [&](int col, int row) -> std::string {
            const std::uint32_t offset = block->Index[static_cast<std::size_t>(row * 4 + col)];
            if (offset == TmySQLResultBlock::NullOffset) return "<NULL>";
            const auto length = static_cast<unsigned char>(block->Buffer[offset]);
            return std::string(block->Buffer.data() + offset + 1, length);
        };
        QCOMPARE(cell(0, 0), std::string("id"));
        QCOMPARE(cell(1, 0), std::string("label"));
        QCOMPARE(cell(0, 1), std::string("1"));
        QCOMPARE(cell(1, 3), std::string("row 3"));
        QCOMPARE(cell(2, 2), std::string("<NULL>"));
        QCOMPARE(block->Index[2 * 4 + 3], 0u); // '' is the shared empty entry
        QVERIFY(!s.q()->TakeBlock());          // handed over once
        // The row interface still works beside it.
        QCOMPARE(QByteArray(s.q()->Value(2, 1)), QByteArray("row 3"));
        // Not asked for: no block.
        QVERIFY(s.Run(std::string("SELECT 1")));
        QVERIFY(!s.q()->TakeBlock());
    }

    // Over 20,000 rows the copy runs on two threads, each from its own half: every cell of the
    // block equals the row interface's, NULLs and empty texts included, at the seam too.
    void packedOnTwoThreads()
    {
        REQUIRE_SERVER();
        Session s;
        QVERIFY(s.Run(std::string("SELECT seq, IF(seq % 7 = 0, NULL, IF(seq % 5 = 0, '', "
                                  "REPEAT(CHAR(65 + seq % 26), seq % 300))) FROM "
                                  "quorvane_data.seq_1_to_30001"),
                      true));
        auto checked = s.q()->TakeBlock();
        QVERIFY(checked);
        const TCellBlock &block = checked->Block();
        QCOMPARE(block.Rows, 30002);
        for (int r = 0; r < s.q()->RowCount(); ++r)
            for (int c = 0; c < 2; ++c) {
                const std::uint32_t offset = block.Index[std::size_t(r + 1) * 2 + std::size_t(c)];
                if (s.q()->IsNull(r, c)) {
                    QCOMPARE(offset, TCellBlock::NullOffset);
                    continue;
                }
                const std::string_view packed =
                    offset == 0
                        ? std::string_view()
                        : cellblock::ReadEntry(block.Buffer.data(), block.Buffer.size(), offset)
                              .value_or("<damaged>");
                if (packed != s.q()->ValueBytes(r, c))
                    QFAIL(qPrintable(QStringLiteral("row %1 column %2").arg(r).arg(c)));
            }
    }

    // A second result that comes before the first is cleared is listed after it: both readable,
    // row by row, until Clear.
    void secondResultAppendedBeforeClear()
    {
        REQUIRE_SERVER();
        Session s;
        s.client.Query()->Clear();
        s.client.Query()->Submit("SELECT seq, 'first' FROM quorvane_data.seq_1_to_3", "first");
        s.client.Query()->Submit("SELECT seq * 10, 'second' FROM quorvane_data.seq_1_to_2",
                                 "second");
        s.client.ExecuteTasks();
        TmySQLClientQuery *q = s.q();
        QCOMPARE(q->RowCount(), 5);
        QStringList rows;
        for (int r = 0; r < q->RowCount(); ++r)
            rows << QString::fromUtf8(q->ValueBytes(r, 0)) + QLatin1Char(' ') +
                        QString::fromUtf8(q->ValueBytes(r, 1));
        QCOMPARE(rows, QStringList({"1 first", "2 first", "3 first", "10 second", "20 second"}));
        QCOMPARE(q->ValueLength(4, 1), std::size_t(6));
        q->Clear();
        QCOMPARE(q->RowCount(), 0);
    }

    void cleanupTestCase()
    {
        if (!Server().ok()) return;
        Session s;
        s.Run(std::string("DROP DATABASE IF EXISTS quorvane_data"));
    }
};

QTEST_GUILESS_MAIN(TestClientData)
#include "test_client_data.moc"
