// The table commands through the real windows against the sandbox: remove bound to the confirmed
// table while the tree changes, rename with quotes and backticks in both names, empty, the
// structure page, and the table view's sort and filter done by the server. Judged by the
// server's own state.
#include "Animate.h"
#include "grid_edit.h"
#include "table_export.h"
#include "table_structure.h"
#include "windows_driver.h"

#include <QAccessible>
#include <QClipboard>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTableWidget>

namespace {
const char *const Db = "qr_tables";

QString exec(Session &s, const std::string &sql)
{
    s.Run(sql);
    return s.error;
}

QStringList tables(Session &s)
{
    return s.Column(std::string("SELECT TABLE_NAME FROM information_schema.TABLES WHERE "
                                "TABLE_SCHEMA = 'qr_tables' ORDER BY TABLE_NAME"));
}

// The grid's column, top to bottom.
QStringList gridColumn(const Ttolvar *w, int col)
{
    QStringList values;
    for (int r = w->Mgrid->HeaderRows(); r < w->Mgrid->RowCount(); ++r)
        values << QString::fromUtf8(w->Mgrid->CellUtf8(col, r));
    return values;
}

// Waits for a read of the shown table to end (a sort or filter read it again).
bool waitRead(Connected &c, quint64 fill)
{
    return QTest::qWaitFor(
               [&] { return c.w->gridOrigin().Fill > fill || !c.w->PanelText(5).isEmpty(); },
               10000) &&
           QTest::qWaitFor([&] { return !c.w->PanelText(4).startsWith(QStringLiteral("Loading")); },
                           10000);
}

// A click on a column's header cell.
void clickHeader(Connected &c, int col)
{
    QTest::mouseClick(c.w->Mgrid->viewport(), Qt::LeftButton, {},
                      c.w->Mgrid->CellRect(col, 0).center());
}
} // namespace

class TestTables : public QObject
{
    Q_OBJECT
private:
    std::unique_ptr<ProgramFolder> m_folder;

private Q_SLOTS:
    void initTestCase()
    {
        m_folder = std::make_unique<ProgramFolder>();
        QVERIFY(m_folder->ok());
        if (!Server().ok()) return;
        Session s;
        QVERIFY2(s.connected, qPrintable(s.error));
        QVERIFY(s.RunEach({"DROP DATABASE IF EXISTS qr_tables", "CREATE DATABASE qr_tables"})
                    .isEmpty());
    }
    void cleanupTestCase()
    {
        QCOMPARE(m_folder->passwordTraces(), QStringList());
        m_folder.reset();
        if (!Server().ok()) return;
        Session s;
        s.Run(std::string("DROP DATABASE IF EXISTS qr_tables"));
    }
    void init() { forgetAnswers(); }

    // The drop goes to the table the page named, whatever is chosen while the clip plays.
    void removeIsBoundToTheConfirmedTable()
    {
        REQUIRE_SERVER();
        Session s;
        QVERIFY(s.RunEach({"CREATE TABLE qr_tables.keep (id INT)",
                           "CREATE TABLE qr_tables.`go away` (id INT)"})
                    .isEmpty());
        Connected c;
        QVERIFY(c.waitConnected());
        QVERIFY(c.chooseTable(QString::fromLatin1(Db), QStringLiteral("go away")));
        c.w->action(QStringLiteral("TableDeleteTables1"))->trigger();
        QCOMPARE(c.w->Notebook->currentWidget()->objectName(), QStringLiteral("Table_Remove"));
        QCOMPARE(c.w->Table_name_caption->text(), QStringLiteral("`qr_tables`.`go away` ?"));
        c.w->button(QStringLiteral("Table_remove_yes"))->click();
        // Another table chosen while the clip plays changes nothing of what is dropped.
        QVERIFY(c.chooseListedTable(QStringLiteral("keep")));
        c.w->ShowPage(Ttolvar::Table_Remove);
        QVERIFY(QTest::qWaitFor([&] { return tables(s) == QStringList({"keep"}); }, 10000));
        const bool gone = QTest::qWaitFor(
            [&] { return c.w->Table_list->findItems("go away", Qt::MatchExactly).isEmpty(); },
            10000);
        QVERIFY(gone);
    }

    // Rename within the database, quotes and backticks in both names.
    void renameQuotesBothNames_data()
    {
        QTest::addColumn<QString>("from");
        QTest::addColumn<QString>("to");
        QTest::newRow("backticks") << "a`b"
                                   << "c``d`";
        QTest::newRow("quotes and blanks") << "it's \"x\""
                                           << "new 'name'";
        QTest::newRow("non-ASCII") << "zażółć"
                                   << "gęślą jaźń";
    }
    void renameQuotesBothNames()
    {
        REQUIRE_SERVER();
        QFETCH(QString, from);
        QFETCH(QString, to);
        Session s;
        QVERIFY(exec(s, TmySQLStatement("CREATE TABLE qr_tables.")
                            .Identifier(from.toStdString())
                            .Text(" (id INT)")
                            .Build())
                    .isEmpty());
        Connected c;
        QVERIFY(c.waitConnected());
        QVERIFY(c.chooseTable(QString::fromLatin1(Db), from));
        c.w->action(QStringLiteral("TableRenameTables1"))->trigger();
        QCOMPARE(c.w->Notebook->currentWidget()->objectName(), QStringLiteral("Table_Rename"));
        QCOMPARE(c.w->Table_new_name->text(), from);
        c.w->Table_new_name->setText(to);
        c.w->button(QStringLiteral("Table_rename_ok"))->click();
        QVERIFY(QTest::qWaitFor([&] { return tables(s).contains(to); }, 10000));
        QVERIFY(!tables(s).contains(from));
        QVERIFY(QTest::qWaitFor(
            [&] { return !c.w->Table_list->findItems(to, Qt::MatchExactly).isEmpty(); }, 10000));
        QVERIFY(
            exec(s, TmySQLStatement("DROP TABLE qr_tables.").Identifier(to.toStdString()).Build())
                .isEmpty());
    }

    // Empty asks first; Cancel keeps the rows, Empty removes them and the grid reads again.
    void emptyAsksThenTruncates()
    {
        REQUIRE_SERVER();
        Session s;
        QVERIFY(s.RunEach({"CREATE TABLE qr_tables.full (id INT)",
                           "INSERT INTO qr_tables.full VALUES (1),(2)"})
                    .isEmpty());
        Connected c;
        QVERIFY(c.waitConnected());
        QVERIFY(c.chooseTable(QString::fromLatin1(Db), QStringLiteral("full")));
        g_answer = QStringLiteral("Cancel");
        c.w->action(QStringLiteral("TableEmptyTables1"))->trigger();
        QCOMPARE(g_questions.size(), 1);
        QVERIFY(g_questions.first().contains(QStringLiteral("`qr_tables`.`full`")));
        QVERIFY(c.waitReport());
        QCOMPARE(s.Column(std::string("SELECT COUNT(*) FROM qr_tables.full")), QStringList({"2"}));
        g_answer = QStringLiteral("Empty");
        c.w->action(QStringLiteral("TableEmptyTables1"))->trigger();
        QVERIFY(
            QTest::qWaitFor([&] { return c.w->PanelText(4) == QLatin1String("0 rows"); }, 10000));
        QCOMPARE(s.Column(std::string("SELECT COUNT(*) FROM qr_tables.full")), QStringList({"0"}));
        // An empty table's columns are named for screen readers.
        QAccessibleInterface *grid = QAccessible::queryAccessibleInterface(c.w->Mgrid);
        QVERIFY(grid && grid->tableInterface());
        QCOMPARE(grid->tableInterface()->columnDescription(0), QStringLiteral("id"));
    }

    // Every kind of index, a foreign key, a trigger; a view shows its CREATE VIEW.
    void structurePage()
    {
        REQUIRE_SERVER();
        Session s;
        QVERIFY(s.RunEach({"CREATE TABLE qr_tables.parent (id INT PRIMARY KEY)",
                           "CREATE TABLE qr_tables.child (id INT NOT NULL AUTO_INCREMENT, "
                           "p INT COMMENT 'the parent', a VARCHAR(20) COLLATE utf8mb4_bin "
                           "DEFAULT 'x', b TEXT, g POINT NOT NULL, PRIMARY KEY (id), UNIQUE KEY "
                           "ua (a, p), KEY kp (p), FULLTEXT KEY fb (b), SPATIAL KEY sg (g), "
                           "CONSTRAINT fk FOREIGN KEY (p) REFERENCES qr_tables.parent (id)) "
                           "ENGINE=InnoDB",
                           "CREATE TRIGGER qr_tables.child_bi BEFORE INSERT ON qr_tables.child "
                           "FOR EACH ROW SET NEW.a = 'y'",
                           "CREATE VIEW qr_tables.v AS SELECT id, a FROM qr_tables.child"})
                    .isEmpty());
        Connected c;
        QVERIFY(c.waitConnected());
        QVERIFY(c.chooseTable(QString::fromLatin1(Db), QStringLiteral("child")));
        c.w->button(QStringLiteral("Structure_button"))->click();
        TTableStructure *page = c.w->Table_structure;
        QCOMPARE(c.w->Notebook->currentWidget(), page);
        QVERIFY(QTest::qWaitFor([&] { return page->answers() == 5; }, 10000));
        auto cells = [](QTableWidget *t, int row) {
            QStringList values;
            for (int c = 0; c < t->columnCount(); ++c)
                values << (t->item(row, c) ? t->item(row, c)->text() : QString());
            return values.join('|');
        };
        QCOMPARE(page->Columns->rowCount(), 5);
        QCOMPARE(cells(page->Columns, 1),
                 QStringLiteral("p|int(11)|NULL|YES|MUL|NULL||the parent"));
        QCOMPARE(cells(page->Columns, 2).section('|', 0, 2),
                 QStringLiteral("a|varchar(20)|utf8mb4_bin"));
        QStringList indexes;
        for (int r = 0; r < page->Indexes->rowCount(); ++r)
            indexes << cells(page->Indexes, r);
        indexes.sort();
        QCOMPARE(indexes, QStringList({"PRIMARY|id|Yes|BTREE", "fb|b|No|FULLTEXT", "kp|p|No|BTREE",
                                       "sg|g|No|SPATIAL", "ua|a, p|Yes|BTREE"}));
        QCOMPARE(cells(page->ForeignKeys, 0), QStringLiteral("fk|p|qr_tables.parent.id"));
        QCOMPARE(cells(page->Triggers, 0).section('|', 0, 2),
                 QStringLiteral("child_bi|BEFORE|INSERT"));
        QVERIFY(page->CreateText->toPlainText().startsWith(QStringLiteral("CREATE TABLE `child`")));
        for (QTableWidget *t : {page->Columns, page->Indexes, page->ForeignKeys, page->Triggers}) {
            QAccessibleInterface *table = QAccessible::queryAccessibleInterface(t);
            QVERIFY(table && table->tableInterface());
            QCOMPARE(table->tableInterface()->rowCount(), t->rowCount());
        }
        QVERIFY(c.chooseListedTable(QStringLiteral("v")));
        c.w->TablesStructureClick();
        QVERIFY(QTest::qWaitFor([&] { return page->answers() == 5; }, 10000));
        QVERIFY(page->CreateText->toPlainText().contains(QStringLiteral("VIEW `v` AS")));
    }

    // Ctrl+A and Ctrl+C, and the other formats: NULL, tabs, newlines, quotes, backslashes,
    // bytes, bits and numbers each written as its format says; the SQL copy, run again into an
    // empty copy of the table, gives the same rows byte for byte.
    void copyFormats()
    {
        REQUIRE_SERVER();
        Session s;
        QVERIFY(
            s.RunEach({"CREATE TABLE qr_tables.cp (n DECIMAL(6,2), t VARCHAR(20), b "
                       "VARBINARY(8), k BIT(4))",
                       "INSERT INTO qr_tables.cp VALUES (1.50, 'a\tb\nc\\\\d', X'00FF0A', b'101'),"
                       "(-2, 'it''s \"q\", \xC3\xA9', '', b'0'), (NULL, NULL, NULL, NULL)",
                       "CREATE TABLE qr_tables.cp2 LIKE qr_tables.cp"})
                .isEmpty());
        Connected c;
        QVERIFY(c.waitConnected());
        QVERIFY(c.chooseTable(QString::fromLatin1(Db), QStringLiteral("cp")));
        c.clickCell(1, 1);
        QTest::keyClick(c.w->Mgrid, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("a\tb\nc\\d"));
        QTest::keyClick(c.w->Mgrid, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(c.w->Mgrid, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QGuiApplication::clipboard()->text(),
                 QStringLiteral("n\tt\tb\tk\n"
                                "1.50\ta\\tb\\nc\\\\d\t0x00FF0A\t0x05\n"
                                "-2.00\tit's \"q\", \u00E9\t\t0x00\n"
                                "\\N\t\\N\t\\N\t\\N\n"));
        TGridEdit *e = c.w->gridEdit();
        QCOMPARE(QString::fromStdString(e->copyText(rowformat::Kind::Csv, true)),
                 QStringLiteral("n,t,b,k\r\n"
                                "1.50,\"a\tb\nc\\d\",0x00FF0A,0x05\r\n"
                                "-2.00,\"it's \"\"q\"\", \u00E9\",\"\",0x00\r\n"
                                ",,,\r\n"));
        const QJsonDocument json = QJsonDocument::fromJson(
            QByteArray::fromStdString(e->copyText(rowformat::Kind::Json, true)));
        QVERIFY(json.isArray());
        QCOMPARE(json.array().size(), 3);
        const QJsonObject first = json.array().at(0).toObject();
        QCOMPARE(first.value("n").toDouble(), 1.5);
        QCOMPARE(first.value("t").toString(), QStringLiteral("a\tb\nc\\d"));
        QCOMPARE(QByteArray::fromBase64(
                     first.value("b").toObject().value("base64").toString().toLatin1()),
                 QByteArray("\x00\xFF\n", 3));
        QVERIFY(json.array().at(2).toObject().value("t").isNull());
        std::string inserts = e->copyText(rowformat::Kind::Insert, true);
        QVERIFY(inserts.find("INSERT INTO `qr_tables`.`cp` (`n`, `t`, `b`, `k`) VALUES") == 0);
        for (std::size_t at; (at = inserts.find("`qr_tables`.`cp` ")) != std::string::npos;)
            inserts.replace(at, 17, "`qr_tables`.`cp2` ");
        for (const char *mode : {"NO_BACKSLASH_ESCAPES", "ANSI_QUOTES"}) {
            QVERIFY(exec(s, std::string("SET SESSION sql_mode = '") + mode + "'").isEmpty());
            QVERIFY(exec(s, "DELETE FROM qr_tables.cp2").isEmpty());
            std::size_t from = 0;
            for (std::size_t end; (end = inserts.find(";\n", from)) != std::string::npos;
                 from = end + 2)
                QVERIFY2(exec(s, inserts.substr(from, end - from)).isEmpty(), qPrintable(s.error));
            QCOMPARE(dumpTable(s, Db, QStringLiteral("cp2")),
                     dumpTable(s, Db, QStringLiteral("cp")));
        }
    }

    // What is chosen decides what is copied: a dragged or Shift+arrow range goes as its cells
    // alone, rows chosen on the row strip (a click, Shift+click, Shift+Space) go whole with the
    // column names; Del marks the rows a range covers.
    void copyRangesAndRows()
    {
        REQUIRE_SERVER();
        Session s;
        QVERIFY(s.RunEach({"CREATE TABLE qr_tables.rg (a INT, t VARCHAR(8), u VARCHAR(8))",
                           "INSERT INTO qr_tables.rg VALUES (1,'x\ty','p'),(2,NULL,'q'),"
                           "(3,'z','r')"})
                    .isEmpty());
        Connected c;
        QVERIFY(c.waitConnected());
        QVERIFY(c.chooseTable(QString::fromLatin1(Db), QStringLiteral("rg")));
        TMgrid *g = c.w->Mgrid;
        TGridEdit *e = c.w->gridEdit();
        const auto clip = [] { return QGuiApplication::clipboard()->text(); };
        const auto copied = [&] {
            QTest::keyClick(g, Qt::Key_C, Qt::ControlModifier);
            return clip();
        };
        // A drag from (1,1) to (2,2).
        QTest::mousePress(g->viewport(), Qt::LeftButton, {}, g->CellRect(1, 1).center());
        QMouseEvent move(QEvent::MouseMove, QPointF(g->CellRect(2, 2).center()),
                         g->viewport()->mapToGlobal(QPointF(g->CellRect(2, 2).center())),
                         Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(g->viewport(), &move);
        QTest::mouseRelease(g->viewport(), Qt::LeftButton, {}, g->CellRect(2, 2).center());
        QCOMPARE(copied(), QStringLiteral("x\\ty\tp\n\\N\tq\n"));
        QCOMPARE(g->Mark(1, 2).Description, QStringLiteral("Selected"));
        QVERIFY(!g->Mark(0, 2).Marked);
        QCOMPARE(QString::fromStdString(e->copyText(rowformat::Kind::Csv, true)),
                 QStringLiteral("x\ty,p\r\n,q\r\n"));
        // Shift+arrows from (0,3): a range up and right.
        c.clickCell(0, 3);
        QTest::keyClick(g, Qt::Key_Up, Qt::ShiftModifier);
        QTest::keyClick(g, Qt::Key_Right, Qt::ShiftModifier);
        QCOMPARE(copied(), QStringLiteral("2\t\\N\n3\tz\n"));
        QCOMPARE(e->selectedRows(), std::vector<int>({2, 3}));
        // The row strip: row 1, then Shift+click row 2; Shift+Space on row 3 alone.
        QWidget *strip = g->RowStrip();
        QVERIFY(strip && strip->isVisible());
        QCOMPARE(strip->accessibleName(), QStringLiteral("Row numbers"));
        const auto stripAt = [&](int row) { return QPoint(2, g->CellRect(0, row).center().y()); };
        QTest::mouseClick(strip, Qt::LeftButton, {}, stripAt(1));
        QTest::mouseClick(strip, Qt::LeftButton, Qt::ShiftModifier, stripAt(2));
        QCOMPARE(copied(), QStringLiteral("a\tt\tu\n1\tx\\ty\tp\n2\t\\N\tq\n"));
        c.clickCell(2, 3);
        QCOMPARE(copied(), QStringLiteral("r"));
        QTest::keyClick(g, Qt::Key_Space, Qt::ShiftModifier);
        QCOMPARE(copied(), QStringLiteral("a\tt\tu\n3\tz\tr\n"));
        // Del on a range marks its rows, and Discard leaves the table as it was.
        c.clickCell(0, 1);
        QTest::keyClick(g, Qt::Key_Down, Qt::ShiftModifier);
        QTest::keyClick(g, Qt::Key_Delete);
        QCOMPARE(e->pendingCount(), 2);
        e->discard();
        QCOMPARE(s.Column(std::string("SELECT COUNT(*) FROM qr_tables.rg")), QStringList({"3"}));
    }

    // Whole-table exports loaded back give the same rows byte for byte: CSV and TSV through
    // LOAD DATA, SQL through the command-line client.
    void exportRoundTrips_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<QString>("load");
        QTest::newRow("CSV") << int(rowformat::Kind::Csv)
                             << "FIELDS TERMINATED BY ',' OPTIONALLY ENCLOSED BY '\"' ESCAPED BY "
                                "'' LINES TERMINATED BY '\\r\\n' IGNORE 1 LINES";
        QTest::newRow("TSV") << int(rowformat::Kind::Tsv) << "IGNORE 1 LINES";
        QTest::newRow("SQL") << int(rowformat::Kind::Insert) << "";
    }
    void exportRoundTrips()
    {
        REQUIRE_SERVER();
        QFETCH(int, format);
        QFETCH(QString, load);
        Session s;
        QVERIFY(s.RunEach({"DROP TABLE IF EXISTS qr_tables.ex, qr_tables.ex_back",
                           "CREATE TABLE qr_tables.ex (i INT, d DECIMAL(10,3), f DOUBLE, t "
                           "LONGTEXT, b BLOB, k BIT(5), dt DATETIME(3), e ENUM('a','b'))",
                           "INSERT INTO qr_tables.ex VALUES (1, -1.5, 0.1, 'a,b\"c\r\nd\\\\ e\t', "
                           "X'00FF0A0D2C225C', b'10101', '2020-01-02 03:04:05.678', 'b'),"
                           "(NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL),"
                           "(0, 0, -1e300, '', '', b'0', '1000-01-01', 'a'),"
                           "(2, 3.25, 2.5, 'NULL', X'4E554C4C', b'1', NULL, NULL),"
                           "(3, 1, 1, CONCAT('\xC5\xBC\xC3\xB3\xC5\x82w ', REPEAT('x', 4194304)), "
                           "REPEAT(X'00', 1000), b'11111', NULL, 'a')",
                           "CREATE TABLE qr_tables.ex_back LIKE qr_tables.ex"})
                    .isEmpty());
        Connected c;
        QVERIFY(c.waitConnected());
        QVERIFY(c.chooseTable(QString::fromLatin1(Db), QStringLiteral("ex")));
        static TExportOptions chosen;
        chosen = TExportOptions();
        chosen.Format = rowformat::Kind(format);
        chosen.Path = QDir::current().absoluteFilePath(QStringLiteral("ex.out"));
        chosen.Header = format != int(rowformat::Kind::Insert);
        exportdialog::setAsker([](QWidget *, const TExportOptions &) {
            return std::optional<TExportOptions>(chosen);
        });
        QSignalSpy done(c.w->tableExport(), &TTableExport::finished);
        c.w->action(QStringLiteral("TableExportTables1"))->trigger();
        QVERIFY(done.wait(20000));
        exportdialog::setAsker(nullptr);
        QVERIFY2(done.first().first().toBool(), qPrintable(done.first().at(1).toString()));
        QCOMPARE(c.w->tableExport()->rows(), 5);
        if (format == int(rowformat::Kind::Insert)) {
            QFile sql(chosen.Path);
            QVERIFY(sql.open(QIODevice::ReadOnly));
            QByteArray text = sql.readAll();
            text.replace("INSERT INTO `ex` ", "INSERT INTO `ex_back` ");
            Server server;
            QProcess cli;
            cli.start(QStringLiteral("mariadb"),
                      {"-h", server.host, "-P", QString::number(server.port), "-u", server.user,
                       "-p" + server.password, "--max-allowed-packet=64M", "qr_tables"});
            QVERIFY(cli.waitForStarted());
            cli.write(text);
            cli.closeWriteChannel();
            QVERIFY(cli.waitForFinished(60000));
            QVERIFY2(cli.exitCode() == 0, cli.readAllStandardError().constData());
        } else {
            QVERIFY2(exec(s, "LOAD DATA INFILE '" + chosen.Path.toStdString() +
                                 "' INTO TABLE qr_tables.ex_back " + load.toStdString())
                         .isEmpty(),
                     qPrintable(s.error));
        }
        QCOMPARE(dumpTable(s, Db, QStringLiteral("ex_back")),
                 dumpTable(s, Db, QStringLiteral("ex")));
        QFile::remove(chosen.Path);
    }

    // A stopped export leaves neither the file nor its part.
    void stoppedExportLeavesNoFile()
    {
        REQUIRE_SERVER();
        Session s;
        QVERIFY(exec(s, "CREATE OR REPLACE VIEW qr_tables.many AS SELECT seq, REPEAT('y', 100) "
                        "AS pad FROM qr_tables.seq_1_to_5000000")
                    .isEmpty());
        Connected c;
        QVERIFY(c.waitConnected());
        QVERIFY(c.chooseDatabase(QString::fromLatin1(Db)));
        c.w->Table_list->setCurrentItem(nullptr);
        QListWidgetItem *item = c.w->Table_list->findItems("many", Qt::MatchExactly).value(0);
        QVERIFY(item);
        QTest::mouseClick(c.w->Table_list->viewport(), Qt::RightButton, {},
                          c.w->Table_list->visualItemRect(item).center());
        // The context menu chose the table without reading it; answer the dialog.
        c.w->Table_List_popup->hide();
        QCOMPARE(c.w->currentTable().Table, QStringLiteral("many"));
        static TExportOptions chosen;
        chosen = TExportOptions();
        chosen.Path = QDir::current().absoluteFilePath(QStringLiteral("many.csv"));
        exportdialog::setAsker([](QWidget *, const TExportOptions &) {
            return std::optional<TExportOptions>(chosen);
        });
        QSignalSpy done(c.w->tableExport(), &TTableExport::finished);
        c.w->action(QStringLiteral("TableExportTables1"))->trigger();
        exportdialog::setAsker(nullptr);
        QVERIFY(QTest::qWaitFor([&] { return c.w->tableExport()->rows() > 0; }, 10000));
        QVERIFY(c.w->tableExport()->progress());
        QTest::mouseClick(c.w->tableExport()->progress()->findChild<QPushButton *>("Stop_export"),
                          Qt::LeftButton);
        QVERIFY(done.wait(20000));
        QVERIFY(!done.first().first().toBool());
        QVERIFY(!QFile::exists(chosen.Path));
        QCOMPARE(QDir::current().entryList({"*many*"}, QDir::Files | QDir::Hidden), QStringList());
        QVERIFY(c.w->tableExport()->rows() < 5000000);
    }

    // The server sorts (in its collation) and filters; a condition it refuses leaves the rows.
    void sortAndFilterOnTheServer()
    {
        REQUIRE_SERVER();
        Session s;
        QVERIFY(s.RunEach({"CREATE TABLE qr_tables.words (id INT PRIMARY KEY, w VARCHAR(10) "
                           "COLLATE utf8mb4_general_ci)",
                           "INSERT INTO qr_tables.words VALUES (1,'b'),(2,'A'),(3,'a'),(4,'C'),"
                           "(5,'\xC3\xA4'),(6,NULL)"})
                    .isEmpty());
        const QStringList ascending =
            s.Column(std::string("SELECT IFNULL(w, '') FROM qr_tables.words ORDER BY w ASC, id"));
        Connected c;
        QVERIFY(c.waitConnected());
        QVERIFY(c.chooseTable(QString::fromLatin1(Db), QStringLiteral("words")));
        quint64 fill = c.w->gridOrigin().Fill;
        clickHeader(c, 1);
        QVERIFY(waitRead(c, fill));
        QCOMPARE(c.w->PanelText(5), QString());
        QCOMPARE(c.w->tableView().OrderBy, std::string("w"));
        // Equal under the collation, the rows' order among themselves is the server's too.
        QStringList shown = gridColumn(c.w, 1);
        QCOMPARE(shown.size(), ascending.size());
        for (int i = 0; i < shown.size(); ++i)
            QVERIFY2(QString::compare(shown[i], ascending[i], Qt::CaseInsensitive) == 0 ||
                         (shown[i] + ascending[i]).contains(QChar(0xE4)),
                     qPrintable(shown.join(',') + " / " + ascending.join(',')));
        QCOMPARE(c.cell(1, 0), QStringLiteral("w \u25B2"));
        fill = c.w->gridOrigin().Fill;
        clickHeader(c, 1);
        QVERIFY(waitRead(c, fill));
        QCOMPARE(c.cell(1, 0), QStringLiteral("w \u25BC"));
        QCOMPARE(gridColumn(c.w, 1).first(), QStringLiteral("C"));
        fill = c.w->gridOrigin().Fill;
        clickHeader(c, 1);
        QVERIFY(waitRead(c, fill));
        QCOMPARE(gridColumn(c.w, 0), QStringList({"1", "2", "3", "4", "5", "6"}));

        // A filter, then one the server refuses: panel 5 says why, the rows stay.
        c.w->Where_edit->setText(QStringLiteral("w = 'a' -- a comment"));
        fill = c.w->gridOrigin().Fill;
        QTest::keyClick(c.w->Where_edit, Qt::Key_Return);
        QVERIFY(waitRead(c, fill));
        QCOMPARE(gridColumn(c.w, 0), QStringList({"2", "3", "5"}));
        QCOMPARE(c.w->PanelText(4), QStringLiteral("3 rows (filtered)"));
        c.w->Where_edit->setText(QStringLiteral("no_such_column = 1"));
        fill = c.w->gridOrigin().Fill;
        QTest::keyClick(c.w->Where_edit, Qt::Key_Return);
        QVERIFY(waitRead(c, fill));
        QVERIFY(c.w->PanelText(5).contains(QStringLiteral("no_such_column")));
        QCOMPARE(gridColumn(c.w, 0), QStringList({"2", "3", "5"}));
        QCOMPARE(c.w->gridOrigin().Table, QStringLiteral("words"));
        // Esc removes it.
        c.w->setPanelText(5, QString());
        fill = c.w->gridOrigin().Fill;
        QTest::keyClick(c.w->Where_edit, Qt::Key_Escape);
        QVERIFY(waitRead(c, fill));
        QCOMPARE(c.w->PanelText(4), QStringLiteral("6 rows"));
        // With a change pending, a sort asks first.
        c.w->Mgrid->MoveTo(1, 1);
        c.w->gridEdit()->setCurrent(rowchanges::Value::of("z"));
        g_answer = QStringLiteral("Cancel");
        clickHeader(c, 1);
        QCOMPARE(g_questions.size(), 1);
        QCOMPARE(c.w->tableView().OrderBy, std::string());
    }
};

QTEST_MAIN(TestTables)
#include "test_tables.moc"
