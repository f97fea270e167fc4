// Changing the server through the real windows: create and drop databases, build tables, delete
// the selected row, export the tree; judged by the server's state and the files written.
#include "Animate.h"
#include "windows_driver.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDir>
#include <QHeaderView>
#include <QLineEdit>
#include <QStackedWidget>
#include <QTemporaryDir>

namespace {
bool databaseExists(Session &s, const QString &name)
{
    return s.Column(TmySQLStatement("SELECT SCHEMA_NAME FROM information_schema.SCHEMATA WHERE "
                                    "SCHEMA_NAME = ")
                        .Value(name.toStdString()))
               .size() == 1;
}

int count(Session &s, const std::string &sql)
{
    return s.Column(sql).value(0, QStringLiteral("-1")).toInt();
}

// Plays the clip fast, so a test need not wait for it.
void fastClip(Ttolvar *w)
{
    w->Usuwaj->FrameInterval = 2;
}
} // namespace

class TestChanges : public QObject
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
        const QString failed =
            s.RunEach({"DROP DATABASE IF EXISTS qc_rows", "CREATE DATABASE qc_rows",
                       "CREATE TABLE qc_rows.plain (v VARCHAR(20), n INT NULL)",
                       "CREATE TABLE qc_rows.keyed (id INT PRIMARY KEY, v VARCHAR(20))",
                       "CREATE TABLE qc_rows.bin (b VARBINARY(8), t VARCHAR(5))",
                       "CREATE TABLE qc_rows.flt (f FLOAT, d DOUBLE)"});
        QVERIFY2(failed.isEmpty(), qPrintable(failed));
    }
    void cleanupTestCase()
    {
        // No password in any file the program wrote, but where it is kept without a keyring.
        QCOMPARE(m_folder->passwordTraces(), QStringList());
        m_folder.reset();
        if (!Server().ok()) return;
        Session s;
        for (const char *db : {"qc_rows", "qc_made", "qc_drop", "qc_other", "qc_keep", "qc_tables"})
            s.Run(std::string("DROP DATABASE IF EXISTS ") + db);
        s.Run(std::string("DROP DATABASE IF EXISTS `qc we``ird`"));
    }
    void init() { forgetAnswers(); }

    void createDatabase_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("plain") << "qc_made";
        QTest::newRow("blank and backtick") << "qc we`ird";
    }
    void createDatabase()
    {
        REQUIRE_SERVER();
        QFETCH(QString, name);
        Session s;
        s.Run(TmySQLStatement("DROP DATABASE IF EXISTS ").Identifier(name.toStdString()));
        Connected c;
        QVERIFY(c.waitConnected());
        c.w->button(QStringLiteral("SpeedButton3"))->click();
        QCOMPARE(c.w->Notebook->currentIndex(), int(Ttolvar::Database_Add));
        c.w->data_name_text->setText(name);
        c.w->setPanelText(5, QStringLiteral("-"));
        c.w->button(QStringLiteral("SpeedButton2"))->click();
        QCOMPARE(c.w->Notebook->currentIndex(), int(Ttolvar::Welcome));
        QTRY_VERIFY(c.w->PanelText(5).isEmpty()); // carried out: the empty message
        QVERIFY(databaseExists(s, name));
        QVERIFY(!node(c.w->Tree_view, name)); // the tree shows it only after a refresh
        c.w->button(QStringLiteral("SpeedButton19"))->click();
        QTRY_VERIFY(node(c.w->Tree_view, name));
        // The same again: refused by the server, said in panel 5, nothing else.
        c.w->button(QStringLiteral("SpeedButton2"))->click();
        QTRY_VERIFY(c.w->PanelText(5).contains(QStringLiteral("exists")));
    }

    void dropAfterTheClip()
    {
        REQUIRE_SERVER();
        Session s;
        s.Run(std::string("CREATE DATABASE IF NOT EXISTS qc_drop"));
        s.Run(std::string("CREATE DATABASE IF NOT EXISTS qc_other"));
        Connected c;
        QVERIFY(c.waitConnected());
        fastClip(c.w);
        QVERIFY(c.chooseDatabase(QStringLiteral("qc_drop")));
        c.w->button(QStringLiteral("SpeedButton4"))->click();
        QCOMPARE(c.w->Notebook->currentIndex(), int(Ttolvar::Database_Remove));
        QCOMPARE(c.w->Data_name_caption->text(), QStringLiteral("qc_drop ?"));
        c.w->button(QStringLiteral("SpeedButton6"))->click();
        QVERIFY(c.w->Usuwaj->Active());
        c.w->button(QStringLiteral("SpeedButton6"))->click(); // twice: one drop
        // While the clip plays, another database becomes the current one.
        QVERIFY(c.chooseDatabase(QStringLiteral("qc_other")));
        c.w->ShowPage(Ttolvar::Database_Remove); // (choosing shows the table list; back)
        c.w->button(QStringLiteral("SpeedButton6"))->click();
        QTRY_COMPARE(c.w->Notebook->currentIndex(), int(Ttolvar::Database_Deleted));
        QVERIFY(c.waitReport());
        QVERIFY(!databaseExists(s, QStringLiteral("qc_drop")));
        QVERIFY(databaseExists(s, QStringLiteral("qc_other")));
        QCOMPARE(c.w->PanelText(5), QString());
        // The tree keeps the dropped node until a refresh.
        QVERIFY(node(c.w->Tree_view, QStringLiteral("qc_drop")));
        c.w->button(QStringLiteral("SpeedButton21"))->click();
        QTRY_VERIFY(!node(c.w->Tree_view, QStringLiteral("qc_drop")));
    }

    void leavingThePageDropsNothing_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("No") << "SpeedButton5";
        QTest::newRow("another page") << "SpeedButton7";
        QTest::newRow("another database") << "shop";
    }
    void leavingThePageDropsNothing()
    {
        REQUIRE_SERVER();
        QFETCH(QString, how);
        Session s;
        s.Run(std::string("CREATE DATABASE IF NOT EXISTS qc_keep"));
        Connected c;
        QVERIFY(c.waitConnected());
        c.w->Usuwaj->FrameInterval = 20;
        QVERIFY(c.chooseDatabase(QStringLiteral("qc_keep")));
        c.w->button(QStringLiteral("SpeedButton4"))->click();
        c.w->button(QStringLiteral("SpeedButton6"))->click();
        QTest::qWait(60);
        QVERIFY(c.w->Usuwaj->Active());
        if (QAbstractButton *button = c.w->button(how)) {
            button->click();
            QVERIFY(!c.w->Usuwaj->Active());
            QCOMPARE(c.w->Notebook->currentIndex(), int(Ttolvar::Welcome));
        } else {
            QVERIFY(c.chooseDatabase(how)); // its table list takes the page
            QCOMPARE(c.w->Notebook->currentIndex(), int(Ttolvar::Table_List));
        }
        QVERIFY(!c.w->Usuwaj->Active());
        QTest::qWait(700);
        QVERIFY(databaseExists(s, QStringLiteral("qc_keep")));
        QCOMPARE(c.w->PanelText(5), QStringLiteral("Drop cancelled"));
    }

    void deleteWithNoDatabaseChosen()
    {
        REQUIRE_SERVER();
        Connected c;
        QVERIFY(c.waitConnected());
        fastClip(c.w);
        c.w->button(QStringLiteral("SpeedButton4"))->click();
        QCOMPARE(c.w->Data_name_caption->text(), QStringLiteral(" ?"));
        c.w->button(QStringLiteral("SpeedButton6"))->click();
        QVERIFY(!c.w->Usuwaj->Active());
        QCOMPARE(c.w->PanelText(5), QStringLiteral("No database chosen"));
        QTest::qWait(100);
        QCOMPARE(c.w->Notebook->currentIndex(), int(Ttolvar::Database_Remove));
    }

    void tableBuilder()
    {
        REQUIRE_SERVER();
        Session s;
        s.Run(std::string("DROP DATABASE IF EXISTS qc_tables"));
        s.Run(std::string("CREATE DATABASE qc_tables"));
        Connected c;
        QVERIFY(c.waitConnected());
        QVERIFY(c.chooseDatabase(QStringLiteral("qc_tables")));
        c.w->button(QStringLiteral("SpeedButton11"))->click();
        QCOMPARE(c.w->Notebook->currentIndex(), int(Ttolvar::Table_Add));
        QCOMPARE(c.w->TC_F_TYPE->currentText(), QStringLiteral("CHAR"));
        QCOMPARE(c.w->TC_F_SIZE->text(), QStringLiteral("255"));
        auto add = [&](const QString &name, const QString &type) {
            c.w->TC_F_Name->setText(name);
            c.w->TC_F_TYPE->setCurrentText(type);
            c.w->button(QStringLiteral("SpeedButton16"))->click();
        };
        add(QStringLiteral("id"), QStringLiteral("INT"));
        add(QStringLiteral("full name"), QStringLiteral("CHAR"));
        add(QStringLiteral("note"), QStringLiteral("varchar(30)")); // typed: no size added
        QStringList lines;
        for (int i = 0; i < c.w->TC_FIELDS->count(); ++i)
            lines << c.w->TC_FIELDS->item(i)->text();
        QCOMPARE(lines, QStringList({"id INT", "full name CHAR (255)", "note varchar(30)"}));
        c.w->TC_Name->setText(QStringLiteral("made"));
        c.w->button(QStringLiteral("SpeedButton15"))->click();
        QCOMPARE(c.w->Notebook->currentIndex(), int(Ttolvar::Welcome));
        QVERIFY(c.waitReport());
        QCOMPARE(c.w->PanelText(5), QString());
        QCOMPARE(s.Column(std::string("SELECT CONCAT(COLUMN_NAME, ' ', COLUMN_TYPE) FROM "
                                      "information_schema.COLUMNS WHERE TABLE_SCHEMA = "
                                      "'qc_tables' AND TABLE_NAME = 'made' ORDER BY "
                                      "ORDINAL_POSITION")),
                 QStringList({"id int(11)", "full name char(255)", "note varchar(30)"}));
        // The list stays; the same table again is refused.
        QCOMPARE(c.w->TC_FIELDS->count(), 3);
        c.w->button(QStringLiteral("SpeedButton15"))->click();
        QTRY_VERIFY(c.w->PanelText(5).contains(QStringLiteral("already exists")));
        // A console USE changes the connection's database, not the one the window shows.
        c.program->console->Edit1->setText(QStringLiteral("USE shop"));
        c.program->console->SpeedButton1->click();
        QVERIFY(c.waitReport());
        c.w->TC_Name->setText(QStringLiteral("made_too"));
        c.w->button(QStringLiteral("SpeedButton15"))->click();
        QVERIFY(c.waitReport());
        QCOMPARE(c.w->PanelText(5), QString());
        QCOMPARE(s.Column(std::string("SELECT TABLE_SCHEMA FROM information_schema.TABLES WHERE "
                                      "TABLE_NAME = 'made_too'")),
                 QStringList({"qc_tables"}));
    }

    void deleteSelectedRecord_data() { addSqlModeRows(); }
    void deleteSelectedRecord()
    {
        REQUIRE_SERVER();
        QFETCH(QString, mode);
        Session s;
        const QString failed =
            s.RunEach({"DELETE FROM qc_rows.plain",
                       "INSERT INTO qc_rows.plain VALUES ('100%', 1), ('100x', 1), ('1000', 1), "
                       "('twin', 2), ('twin', 2), ('it''s \\\\ \"q\"', 3), (NULL, 4), ('', 4)"});
        QVERIFY2(failed.isEmpty(), qPrintable(failed));
        Connected c;
        QVERIFY(c.waitConnected());
        QVERIFY(c.setSqlMode(mode));
        QVERIFY(c.chooseTable(QStringLiteral("qc_rows"), QStringLiteral("plain")));
        auto rowOf = [&](const QString &v, bool null = false) {
            for (int r = 1; r < c.w->Mgrid->RowCount(); ++r)
                if (c.w->Mgrid->CellIsNull(0, r) == null && c.cell(0, r) == v) return r;
            return -1;
        };
        auto deleteRow = [&](int row) {
            c.clickCell(1, row);
            c.w->setPanelText(5, QStringLiteral("-"));
            c.w->button(QStringLiteral("SpeedButton17"))->click();
            return c.waitReport();
        };
        // '%' in a value is no wildcard: its look-alikes stay.
        QVERIFY(deleteRow(rowOf(QStringLiteral("100%"))));
        QCOMPARE(c.w->PanelText(5), QString());
        QCOMPARE(
            s.Column(std::string("SELECT v FROM qc_rows.plain WHERE v LIKE '100%' ORDER BY v")),
            QStringList({"1000", "100x"}));
        QVERIFY(
            c.w->windowTitle().startsWith(QStringLiteral("Delete From `qc_rows`.`plain` Where ")));
        QVERIFY(c.w->windowTitle().endsWith(QStringLiteral(" LIMIT 1;")));
        // One of two identical rows: exactly one goes.
        QVERIFY(deleteRow(rowOf(QStringLiteral("twin"))));
        QCOMPARE(count(s, "SELECT COUNT(*) FROM qc_rows.plain WHERE v = 'twin'"), 1);
        // Quotes and backslashes, under this mode too.
        QVERIFY(deleteRow(rowOf(QStringLiteral("it's \\ \"q\""))));
        QCOMPARE(c.w->PanelText(5), QString());
        QCOMPARE(count(s, "SELECT COUNT(*) FROM qc_rows.plain WHERE n = 3"), 0);
        // NULL compares as NULL; the empty text beside it stays.
        QVERIFY(deleteRow(rowOf(QString(), true)));
        QCOMPARE(count(s, "SELECT COUNT(*) FROM qc_rows.plain WHERE v IS NULL"), 0);
        QCOMPARE(count(s, "SELECT COUNT(*) FROM qc_rows.plain WHERE v = ''"), 1);
        // Deleted meanwhile by another session: nothing deleted, and said so.
        const int row = rowOf(QStringLiteral("1000"));
        s.Run(std::string("DELETE FROM qc_rows.plain WHERE v = '1000'"));
        QVERIFY(deleteRow(row));
        QCOMPARE(c.w->PanelText(5), QStringLiteral("No row was deleted"));
        QCOMPARE(count(s, "SELECT COUNT(*) FROM qc_rows.plain"), 3);
    }

    void deleteByPrimaryKeyAndBinaryValues()
    {
        REQUIRE_SERVER();
        Session s;
        s.RunEach({"DELETE FROM qc_rows.keyed",
                   "INSERT INTO qc_rows.keyed VALUES (1, 'a'), (2, 'a')", "DELETE FROM qc_rows.bin",
                   "INSERT INTO qc_rows.bin VALUES (X'00FF27005C', 'x'), (X'00FF', 'x')"});
        Connected c;
        QVERIFY(c.waitConnected());
        QVERIFY(c.chooseTable(QStringLiteral("qc_rows"), QStringLiteral("keyed")));
        c.clickCell(1, 2);
        c.w->button(QStringLiteral("SpeedButton17"))->click();
        QVERIFY(c.waitReport());
        // The key alone decides which row.
        QCOMPARE(c.w->windowTitle(),
                 QStringLiteral("Delete From `qc_rows`.`keyed` Where `id` = 2 AND CAST(`id` AS "
                                "BINARY) = X'32' LIMIT 1;"));
        QCOMPARE(s.Column(std::string("SELECT id FROM qc_rows.keyed")), QStringList({"1"}));
        // A binary value with NUL, 0xFF, a quote and a backslash: matched byte for byte.
        QVERIFY(c.chooseListedTable(QStringLiteral("bin")));
        int row = -1;
        for (int r = 1; r < c.w->Mgrid->RowCount(); ++r)
            if (c.w->Mgrid->CellUtf8(0, r).size() == 5) row = r;
        QVERIFY(row > 0);
        c.clickCell(1, row);
        c.w->button(QStringLiteral("SpeedButton17"))->click();
        QVERIFY(c.waitReport());
        QCOMPARE(c.w->PanelText(5), QString());
        QCOMPARE(s.Column(std::string("SELECT HEX(b) FROM qc_rows.bin")), QStringList({"00FF"}));
    }

    void floatIsMatchedByTheTextTheServerSent()
    {
        REQUIRE_SERVER();
        Session s;
        s.Run(std::string("DELETE FROM qc_rows.flt"));
        s.Run(std::string("INSERT INTO qc_rows.flt VALUES (0.1, 0.25), (0.2, 0.25)"));
        Connected c;
        QVERIFY(c.waitConnected());
        QVERIFY(c.chooseTable(QStringLiteral("qc_rows"), QStringLiteral("flt")));
        c.clickCell(0, 1);
        c.w->button(QStringLiteral("SpeedButton17"))->click();
        QVERIFY(c.waitReport());
        // A FLOAT shown as 0.1 is not the number 0.1; compared as the text the server sent, the
        // row is found, and only that row.
        QCOMPARE(c.w->PanelText(5), QString());
        QCOMPARE(s.Column(std::string("SELECT CAST(f AS CHAR) FROM qc_rows.flt")),
                 QStringList({"0.2"}));
    }

    void deleteNeedsASelectedRowOfThisFill()
    {
        REQUIRE_SERVER();
        Session s;
        s.Run(std::string("DELETE FROM qc_rows.keyed"));
        s.Run(std::string("INSERT INTO qc_rows.keyed VALUES (1, 'a'), (2, 'b')"));
        Connected c;
        QVERIFY(c.waitConnected());
        QVERIFY(c.chooseTable(QStringLiteral("qc_rows"), QStringLiteral("keyed")));
        // Nothing selected yet.
        c.w->button(QStringLiteral("SpeedButton17"))->click();
        QCOMPARE(c.w->PanelText(5), QStringLiteral("No row selected"));
        // Selected, then the table shown again: that fill forgets the row.
        c.clickCell(0, 1);
        QCOMPARE(c.w->capturedRow(), 1);
        QVERIFY(c.chooseListedTable(QStringLiteral("plain")));
        QVERIFY(c.chooseListedTable(QStringLiteral("keyed")));
        QCOMPARE(c.w->capturedRow(), -1);
        QCOMPARE(c.w->hader->count(), 0);
        c.w->setPanelText(5, QString());
        c.w->button(QStringLiteral("SpeedButton17"))->click();
        QCOMPARE(c.w->PanelText(5), QStringLiteral("No row selected"));
        // A click on the cell that is already current after the refill selects its row.
        c.clickCell(c.w->Mgrid->Col(), c.w->Mgrid->Row());
        QCOMPARE(c.w->capturedRow(), c.w->Mgrid->Row());
        QCOMPARE(c.w->hader->model()->headerData(1, Qt::Horizontal).toString(), c.cell(1, 1));
        QCOMPARE(count(s, "SELECT COUNT(*) FROM qc_rows.keyed"), 2);
        // The lone header row of an empty table is no row.
        s.Run(std::string("DELETE FROM qc_rows.flt"));
        QVERIFY(c.chooseListedTable(QStringLiteral("flt")));
        c.clickCell(0, 0);
        c.w->button(QStringLiteral("SpeedButton17"))->click();
        QCOMPARE(c.w->PanelText(5), QStringLiteral("No row selected"));
    }

    void notConnectedSendsNothing()
    {
        REQUIRE_SERVER();
        TProgram program;
        Ttolvar *w = program.tolvar.get();
        fastClip(w);
        QTRY_COMPARE(g_boxes.size(), 1); // "File not found": no settings here
        w->button(QStringLiteral("SpeedButton2"))->click();
        QCOMPARE(w->PanelText(5), QStringLiteral("Not connected"));
        w->setPanelText(5, QString());
        w->button(QStringLiteral("SpeedButton15"))->click();
        QCOMPARE(w->PanelText(5), QStringLiteral("Not connected"));
        w->setPanelText(2, QStringLiteral("qc_rows"));
        w->button(QStringLiteral("SpeedButton4"))->click();
        w->setPanelText(5, QString());
        w->button(QStringLiteral("SpeedButton6"))->click();
        QCOMPARE(w->PanelText(5), QStringLiteral("Not connected"));
        QVERIFY(!w->Usuwaj->Active());
    }

    void exportTheTree()
    {
        REQUIRE_SERVER();
        QTemporaryDir out;
        const QString path = out.filePath(QStringLiteral("list.txt"));
        auto read = [&] {
            QFile f(path);
            return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<none>");
        };
        {
            // Not connected: the header line only.
            TProgram program;
            QTRY_COMPARE(g_boxes.size(), 1);
            g_savePath = path;
            program.tolvar->action(QStringLiteral("oTXTfile1"))->trigger();
            QCOMPARE(g_saveAsked, 1);
            QCOMPARE(g_saveOptions.fileName, QDir::home().filePath(QStringLiteral("data.txt")));
            QCOMPARE(g_saveOptions.filter, QStringLiteral("Text File (*.txt)"));
            QCOMPARE(g_saveOptions.defaultSuffix, QStringLiteral("txt"));
            QCOMPARE(read(), QByteArray("MySQL Quorvane Database List\r\n"));
        }
        Connected c;
        QVERIFY(c.waitConnected());
        QVERIFY(c.chooseDatabase(QStringLiteral("shop")));
        QVERIFY(c.chooseDatabase(QStringLiteral("demo")));
        node(c.w->Tree_view, QStringLiteral("shop"))->setExpanded(false); // collapsed too
        g_savePath = path;
        c.w->action(QStringLiteral("oTXTfile1"))->trigger(); // over the file: no question
        QByteArray expected = "MySQL Quorvane Database List\r\n";
        for (int i = 0; i < c.w->Tree_view->topLevelItemCount(); ++i) {
            QTreeWidgetItem *db = c.w->Tree_view->topLevelItem(i);
            expected += db->text(0).toUtf8() + "\r\n";
            for (int k = 0; k < db->childCount(); ++k)
                expected += db->child(k)->text(0).toUtf8() + "\r\n";
        }
        QVERIFY(expected.contains("shop\r\ncustomers\r\norders\r\nproducts\r\n"));
        QVERIFY(expected.contains(QString::fromUtf8("zażółć\r\n").toUtf8()));
        QCOMPARE(read(), expected);
        // Cancelled: the file stays as it was.
        g_savePath.clear();
        c.w->action(QStringLiteral("oTXTfile1"))->trigger();
        QCOMPARE(read(), expected);
        // A folder nobody may write to, root included.
        g_savePath = QStringLiteral("/sys/quorvane-export.txt");
        c.w->action(QStringLiteral("oTXTfile1"))->trigger();
        QCOMPARE(g_boxes.last(), QStringLiteral("MySQL Quorvane|File access denied."));
    }
};

QTEST_MAIN(TestChanges)
#include "test_changes.moc"
