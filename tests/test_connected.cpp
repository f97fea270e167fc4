// The program's windows connected to the sandbox, driven as a user drives them: controls found by
// their object names, every box and beep answered by the test, the server's state checked beside.
#include "Cologrid.h"
#include "common.h"
#include "konsola.h"
#include "login_window.h"
#include "program.h"
#include "sandbox.h"
#include "tolvar_window.h"
#include "windows_driver.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTreeWidget>

class TestConnected : public QObject
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
        const QString failed = s.RunEach(
            {"DROP DATABASE IF EXISTS qv_one", "DROP DATABASE IF EXISTS qv_two",
             "DROP DATABASE IF EXISTS `qv_pct%x`", "DROP DATABASE IF EXISTS `qv_quote'x`",
             "DROP DATABASE IF EXISTS `qv_back\\x`", "DROP DATABASE IF EXISTS qv_underxx",
             "CREATE DATABASE qv_one", "CREATE DATABASE qv_two",
             "CREATE TABLE qv_one.t (v VARCHAR(10))", "INSERT INTO qv_one.t VALUES ('one')",
             "CREATE TABLE qv_two.t (v VARCHAR(10))", "INSERT INTO qv_two.t VALUES ('two')",
             "CREATE TABLE qv_one.bin (v VARBINARY(10))",
             "INSERT INTO qv_one.bin VALUES (X'41004243')",
             "CREATE PROCEDURE qv_one.two_rows() SELECT 1 UNION ALL SELECT 2",
             "CREATE DATABASE `qv_pct%x`", "CREATE DATABASE `qv_quote'x`",
             "CREATE DATABASE `qv_back\\x`", "CREATE DATABASE qv_underxx"});
        QVERIFY2(failed.isEmpty(), qPrintable(failed));
    }
    void cleanupTestCase()
    {
        // No password in any file the program wrote, but where it is kept without a keyring.
        QCOMPARE(m_folder->passwordTraces(), QStringList());
        m_folder.reset();
        if (!Server().ok()) return;
        Session s;
        s.RunEach({"DROP DATABASE IF EXISTS qv_one", "DROP DATABASE IF EXISTS qv_two",
                   "DROP DATABASE IF EXISTS `qv_pct%x`", "DROP DATABASE IF EXISTS `qv_quote'x`",
                   "DROP DATABASE IF EXISTS `qv_back\\x`", "DROP DATABASE IF EXISTS qv_underxx"});
    }
    void init() { forgetAnswers(); }

    void startWithoutSettings_data()
    {
        QTest::addColumn<bool>("autol");
        QTest::newRow("plain") << false;
        QTest::newRow("-autol") << true;
    }
    void startWithoutSettings()
    {
        QFETCH(bool, autol);
        TProgram program;
        if (autol) program.tolvar->setArguments({"quorvane", "-autol"});
        program.tolvar->show();
        QTRY_COMPARE(g_boxes, QStringList({"MySQL Quorvane|File not found."}));
        QTest::qWait(300); // the start-up step runs once
        QCOMPARE(g_boxes.size(), 1);
        QVERIFY(!program.login->isVisible());
        QCOMPARE(program.tolvar->PanelText(1), QStringLiteral("Disconnected"));
        QCOMPARE(program.tolvar->Notebook->currentIndex(), int(Ttolvar::Welcome));
    }

    void autolConnectsAndFillsTheTree()
    {
        REQUIRE_SERVER();
        Connected c;
        QVERIFY(c.waitConnected());
        QVERIFY(!c.program->login->isVisible());
        QCOMPARE(c.program->login->Host_edit->text(), Server().host);
        QCOMPARE(c.program->login->Password_edit->echoMode(), QLineEdit::Password);
        const QStringList log = fileLines(QStringLiteral("log.ini"));
        QCOMPARE(log.value(0), QStringLiteral("Connected to: ") + Server().host);
        QVERIFY2(log.value(1).contains(QStringLiteral("Uptime")), qPrintable(log.join('|')));
        QVERIFY(c.w->Server_info->text().contains(QStringLiteral("MariaDB")));
        QVERIFY(c.w->Host_info->text().contains(Server().host));
        Session s;
        QCOMPARE(topLevelTexts(c.w->Tree_view), s.Column(std::string("SHOW DATABASES")));
        QCOMPARE(consoleLines(*c.program).first(), QStringLiteral("Returned Query:List Data"));
        QVERIFY(g_boxes.isEmpty());
        // The settings were written back, readable by the owner only.
        QCOMPARE(QFile(QStringLiteral("settings.ini")).permissions() & QFileDevice::ReadOther,
                 QFileDevice::Permissions());
    }

    void laterServerBlockWins()
    {
        REQUIRE_SERVER();
        writeFile(QStringLiteral("settings.ini"),
                  "[server]\r\nnowhere.invalid\r\nnobody\r\nnothing\r\n1\r\n" + settingsFor());
        TProgram program;
        program.tolvar->setArguments({"quorvane", "-autol"});
        program.tolvar->show();
        QTRY_COMPARE_WITH_TIMEOUT(program.tolvar->PanelText(1), QStringLiteral("Connected"), 10000);
        QCOMPARE(program.login->Port_edit->text(), QString::number(Server().port));
    }

    void refusedConnectIsReportedLoudly()
    {
        REQUIRE_SERVER();
        writeFile(QStringLiteral("settings.ini"), settingsFor(QStringLiteral("wrong password")));
        TProgram program;
        program.tolvar->setArguments({"quorvane", "-autol"});
        program.tolvar->show();
        QTRY_COMPARE_WITH_TIMEOUT(g_boxes.size(), 1, 10000);
        QCOMPARE(g_beeps, 1);
        const QString message = program.tolvar->PanelText(1);
        QVERIFY2(message.contains(QStringLiteral("Access denied")), qPrintable(message));
        QCOMPARE(g_boxes.first(), QStringLiteral("Error|ERROR:") + message);
        QCOMPARE(fileLines(QStringLiteral("log.ini")).last(), message);
        QCOMPARE(consoleLines(program).last(), message);
        QVERIFY(program.login->isVisible()); // stays, so the user can correct the values
        // Correcting the password and pressing Connect... connects.
        program.login->Password_edit->setText(Server().password);
        program.login->login_connect->click();
        QTRY_COMPARE_WITH_TIMEOUT(program.tolvar->PanelText(1), QStringLiteral("Connected"), 10000);
        QVERIFY(!program.login->isVisible());
    }

    void badPortStopsBeforeTheConnect()
    {
        REQUIRE_SERVER();
        TProgram program;
        program.login->Host_edit->setText(Server().host);
        program.login->Port_edit->setText(QStringLiteral("3306 "));
        QTRY_COMPARE(g_boxes.size(), 1); // the start-up step's "File not found"
        program.login->login_connect->click();
        QCOMPARE(g_boxes.last(),
                 QStringLiteral("MySQL Quorvane|'3306 ' is not a valid integer value."));
        QTest::qWait(100);
        QCOMPARE(program.tolvar->PanelText(1), QStringLiteral("Disconnected"));
        QVERIFY(!QFile::exists(QStringLiteral("settings.ini")));
    }

    void disconnectKeepsWhatIsShown()
    {
        REQUIRE_SERVER();
        Connected c;
        QVERIFY(c.waitConnected());
        QVERIFY(c.chooseDatabase(QStringLiteral("shop")));
        const QStringList tree = topLevelTexts(c.w->Tree_view);
        c.w->button(QStringLiteral("SpeedButton10"))->click();
        QCOMPARE(c.w->PanelText(1), QStringLiteral("Connection closed"));
        QCOMPARE(topLevelTexts(c.w->Tree_view), tree);
        QCOMPARE(c.w->PanelText(2), QStringLiteral("shop"));
        QCOMPARE(c.w->Table_list->count(), 3);
        // The reports of what was asked before the close came first.
        QCOMPARE(consoleLines(*c.program).last(), QStringLiteral("Returned Query:List Tables"));

        // Commands that need a connection now send nothing and say so.
        c.w->button(QStringLiteral("SpeedButton19"))->click();
        QCOMPARE(c.w->PanelText(5), QStringLiteral("Not connected"));
        c.w->setPanelText(5, QString());
        c.w->Table_list->setCurrentRow(0);
        QCOMPARE(c.w->PanelText(5), QStringLiteral("Not connected"));
        c.w->setPanelText(5, QString());
        c.program->console->Edit1->setText(QStringLiteral("SELECT 1"));
        c.program->console->SpeedButton1->click();
        QCOMPARE(c.w->PanelText(5), QStringLiteral("Not connected"));
        QVERIFY(!consoleLines(*c.program).contains(QStringLiteral("SELECT 1")));
        // The narrow panel's whole text is its tooltip and what a screen reader is told.
        QCOMPARE(c.w->StatusPanel(5)->toolTip(), QStringLiteral("Not connected"));
        QCOMPARE(c.w->StatusPanel(5)->accessibleDescription(), QStringLiteral("Not connected"));
        // Connected again: the notice no longer holds.
        c.program->login->login_connectClick();
        QTRY_COMPARE(c.w->PanelText(1), QStringLiteral("Connected"));
        QCOMPARE(c.w->PanelText(5), QString());
    }

    void filter_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QString>("filter");
        QTest::addColumn<QStringList>("expected");
        for (const char *mode : {"", "ANSI_QUOTES", "NO_BACKSLASH_ESCAPES"}) {
            const QString m = QString::fromLatin1(mode);
            QTest::addRow("percent %s", mode) << m << "qv_pct\\%" << QStringList{"qv_pct%x"};
            QTest::addRow("underscore %s", mode) << m << "qv_under__" << QStringList{"qv_underxx"};
            QTest::addRow("quote %s", mode) << m << "qv_quote'" << QStringList{"qv_quote'x"};
            QTest::addRow("double quote %s", mode) << m << "qv\"" << QStringList{};
            QTest::addRow("wildcards %s", mode)
                << m << "qv_%x"
                << QStringList{"qv_back\\x", "qv_pct%x", "qv_quote'x", "qv_underxx"};
            QTest::addRow("trailing backslash %s", mode) << m << "qv_back\\" << QStringList{};
        }
    }
    void filter()
    {
        REQUIRE_SERVER();
        QFETCH(QString, mode);
        QFETCH(QString, filter);
        QFETCH(QStringList, expected);
        Connected c;
        QVERIFY(c.waitConnected());
        // The program's own session takes the mode, from the console.
        c.program->console->Edit1->setText(QStringLiteral("SET SESSION sql_mode = '%1'").arg(mode));
        c.program->console->SpeedButton1->click();
        QTRY_COMPARE(consoleLines(*c.program).last(), QString());
        c.w->Edit1->setText(filter);
        c.w->setPanelText(5, QStringLiteral("-"));
        c.w->Tree_view->clear();
        c.w->button(QStringLiteral("SpeedButton8"))->click();
        QTRY_VERIFY(consoleLines(*c.program).last() == QLatin1String("Returned Query:List Data") ||
                    c.w->PanelText(5) != QLatin1String("-"));
        QCOMPARE(c.w->PanelText(5), QStringLiteral("-")); // no error: the pattern was a literal
        QCOMPARE(topLevelTexts(c.w->Tree_view), expected);
    }

    void choosingDatabases()
    {
        REQUIRE_SERVER();
        Connected c;
        QVERIFY(c.waitConnected());
        for (int round = 0; round < 2; ++round) {
            const bool chosen = c.chooseDatabase(QStringLiteral("shop"));
            QVERIFY2(chosen, qPrintable(c.w->Label2->text() + "|" + c.w->listDatabase() + "|" +
                                        c.w->PanelText(5) + "|" + c.w->PanelText(2) + "|" +
                                        consoleLines(*c.program).join("/")));
            QCOMPARE(c.w->PanelText(2), QStringLiteral("shop"));
            QCOMPARE(c.w->Panel6->Caption(), QStringLiteral("Current Database: shop"));
            QCOMPARE(c.w->Label2->text(), QStringLiteral("3  -  tables Found"));
            QCOMPARE(c.w->Table_list->count(), 3);
            QTreeWidgetItem *shop = node(c.w->Tree_view, QStringLiteral("shop"));
            QCOMPARE(shop->childCount(), 3); // replaced, not added to
            QVERIFY(shop->isExpanded());
            QCOMPARE(c.w->Notebook->currentIndex(), int(Ttolvar::Table_List));
        }
        QVERIFY(c.chooseDatabase(QStringLiteral("empty_db")));
        QCOMPARE(c.w->Label2->text(), QStringLiteral("No Tables Found"));
        QCOMPARE(c.w->Table_list->count(), 0);
        QCOMPARE(node(c.w->Tree_view, QStringLiteral("empty_db"))->childCount(), 0);
        // Filling from code raised no table choice.
        QVERIFY(c.w->PanelText(3).isEmpty());
    }

    void tableListWithNoNodeForItsDatabase()
    {
        REQUIRE_SERVER();
        Connected c;
        QVERIFY(c.waitConnected());
        // The refresh with a filter that leaves shop out runs before shop's table list.
        c.w->Tree_view->setCurrentItem(node(c.w->Tree_view, QStringLiteral("shop")));
        c.w->Edit1->setText(QStringLiteral("demo"));
        c.w->button(QStringLiteral("SpeedButton8"))->click();
        QTRY_COMPARE(consoleLines(*c.program).last(), QStringLiteral("Returned Query:List Tables"));
        QCOMPARE(topLevelTexts(c.w->Tree_view), QStringList({"demo"}));
        QCOMPARE(c.w->Table_list->count(), 0);
        QCOMPARE(node(c.w->Tree_view, QStringLiteral("demo"))->childCount(), 0);
    }

    void viewingTables()
    {
        REQUIRE_SERVER();
        Connected c;
        QVERIFY(c.waitConnected());
        QVERIFY(c.chooseDatabase(QStringLiteral("demo")));
        // No rows: the lone header row, in the header colour.
        QVERIFY(c.chooseListedTable(QStringLiteral("no_rows")));
        QCOMPARE(c.w->Notebook->currentIndex(), int(Ttolvar::Table_View));
        QCOMPARE(c.w->Panel5->Caption(), QStringLiteral("Current Table: no_rows"));
        QCOMPARE(c.w->Mgrid->RowCount(), 1);
        QCOMPARE(c.w->Mgrid->FixedRows(), 0);
        QCOMPARE(c.w->Mgrid->EvenRowColor(), 16744576);
        QCOMPARE(c.cell(1, 0), QStringLiteral("label"));
        // NULL and '' both show empty, and stay apart.
        QVERIFY(c.chooseListedTable(QStringLiteral("with_nulls")));
        QCOMPARE(c.w->Mgrid->RowCount(), 4);
        QCOMPARE(c.w->Mgrid->FixedRows(), 1);
        QCOMPARE(c.w->Mgrid->EvenRowColor(), 13828095);
        QVERIFY(c.w->Mgrid->CellIsNull(1, 1));
        QCOMPARE(c.cell(1, 1), QString());
        QVERIFY(!c.w->Mgrid->CellIsNull(1, 3));
        QCOMPARE(c.cell(1, 3), QString());
        // Names with a blank, a backtick, letters beyond ASCII: rows shown.
        for (const QString &table : {QStringLiteral("order items"), QStringLiteral("back`tick"),
                                     QString::fromUtf8("zażółć")}) {
            c.w->setPanelText(5, QString());
            QVERIFY2(c.chooseListedTable(table), qPrintable(table));
            QVERIFY2(c.w->PanelText(5).isEmpty(), qPrintable(c.w->PanelText(5)));
            QVERIFY(c.w->Mgrid->RowCount() > 1);
            QCOMPARE(c.w->gridOrigin().Table, table);
            QCOMPARE(c.w->gridOrigin().Database, QStringLiteral("demo"));
        }
        QCOMPARE(c.cell(0, 0), QString::fromUtf8("gęś"));
        QCOMPARE(c.cell(0, 1), QString::fromUtf8("żółw"));
        // Every row of the big table.
        QVERIFY(c.chooseListedTable(QStringLiteral("big_table")));
        QCOMPARE(c.w->Mgrid->RowCount(), 10001);
        QCOMPARE(c.cell(1, 10000), QStringLiteral("row 10000"));
        // A value holding a NUL byte reaches the grid whole.
        QVERIFY(c.chooseDatabase(QStringLiteral("qv_one")));
        QVERIFY(c.chooseListedTable(QStringLiteral("bin")));
        QCOMPARE(c.w->Mgrid->CellUtf8(0, 1), std::string_view("A\0BC", 4));
    }

    void tableNodeOfAnEarlierDatabase()
    {
        REQUIRE_SERVER();
        Connected c;
        QVERIFY(c.waitConnected());
        QVERIFY(c.chooseDatabase(QStringLiteral("qv_one")));
        QVERIFY(c.chooseDatabase(QStringLiteral("qv_two")));
        QCOMPARE(c.w->PanelText(2), QStringLiteral("qv_two"));
        // The table t under qv_one, chosen while qv_two is the current database.
        QTreeWidgetItem *t = child(node(c.w->Tree_view, QStringLiteral("qv_one")), "t");
        QVERIFY(t);
        const quint64 fill = c.w->gridOrigin().Fill;
        c.w->Tree_view->setCurrentItem(t);
        QTRY_VERIFY(c.w->gridOrigin().Fill > fill);
        QCOMPARE(c.cell(0, 1), QStringLiteral("one"));
        QCOMPARE(c.w->gridOrigin().Database, QStringLiteral("qv_one"));
        QCOMPARE(c.w->PanelText(3), QStringLiteral("t"));
    }

    void selectingADroppedDatabaseIsReported()
    {
        REQUIRE_SERVER();
        Connected c;
        QVERIFY(c.waitConnected());
        Session s;
        s.Run(std::string("CREATE DATABASE IF NOT EXISTS qv_gone"));
        c.w->button(QStringLiteral("SpeedButton19"))->click();
        QTRY_VERIFY(node(c.w->Tree_view, QStringLiteral("qv_gone")));
        s.Run(std::string("DROP DATABASE qv_gone"));
        c.w->Tree_view->setCurrentItem(node(c.w->Tree_view, QStringLiteral("qv_gone")));
        QTRY_VERIFY(c.w->PanelText(5).contains(QStringLiteral("Unknown database")));
        QCOMPARE(fileLines(QStringLiteral("log.ini")).last(), c.w->PanelText(5));
        QCOMPARE(consoleLines(*c.program).last(), c.w->PanelText(5));
    }

    void console()
    {
        REQUIRE_SERVER();
        Connected c;
        QVERIFY(c.waitConnected());
        QTRY_COMPARE(consoleLines(*c.program).last(), QStringLiteral("Returned Query:List Data"));
        Tconsole *console = c.program->console.get();
        auto send = [&](const QString &sql, int lines) {
            const int before = consoleLines(*c.program).size();
            console->Edit1->setText(sql);
            console->SpeedButton1->click();
            return QTest::qWaitFor(
                [&] { return consoleLines(*c.program).size() >= before + lines; }, 10000);
        };
        auto tail = [&](int n) {
            return consoleLines(*c.program).mid(consoleLines(*c.program).size() - n);
        };
        QVERIFY(send(QStringLiteral("SELECT 1"), 3));
        QCOMPARE(tail(3), QStringList({"SELECT 1", "Returned Query:konsola", "Query Done."}));
        QVERIFY(send(QStringLiteral("CREATE TABLE qv_one.made (i INT)"), 2));
        QCOMPARE(tail(2), QStringList({"CREATE TABLE qv_one.made (i INT)", ""}));
        QVERIFY(send(QStringLiteral("SELEC 1"), 2));
        QVERIFY(tail(1).first().contains(QStringLiteral("SQL syntax")));
        QCOMPARE(c.w->PanelText(5), tail(1).first());
        // A procedure returning rows, then another statement: the connection stays in step.
        QVERIFY(send(QStringLiteral("CALL qv_one.two_rows()"), 3));
        QCOMPARE(tail(2), QStringList({"Returned Query:konsola", "Query Done."}));
        QVERIFY(send(QStringLiteral("SELECT 2"), 3));
        QCOMPARE(tail(2), QStringList({"Returned Query:konsola", "Query Done."}));
        // Enter does not send.
        const int before = consoleLines(*c.program).size();
        console->Edit1->setText(QStringLiteral("SELECT 3"));
        QTest::keyClick(console->Edit1, Qt::Key_Return);
        QTest::qWait(100);
        QCOMPARE(consoleLines(*c.program).size(), before);
        // No length limit of its own.
        const QString longText = QStringLiteral("SELECT '") + QString(40000, 'x') + "'";
        console->Edit1->setText(longText);
        QCOMPARE(console->Edit1->text().size(), longText.size());
        Session s;
        s.Run(std::string("DROP TABLE IF EXISTS qv_one.made"));
    }

    void textsFromTheServerAreNotMarkup()
    {
        REQUIRE_SERVER();
        Connected c;
        QVERIFY(c.waitConnected());
        c.w->setPanelText(5, QStringLiteral("<b>bold</b>"));
        QCOMPARE(c.w->StatusPanel(5)->textFormat(), Qt::PlainText);
        QCOMPARE(c.w->Server_info->textFormat(), Qt::PlainText);
        QCOMPARE(c.w->Panel6->CaptionLabel()->textFormat(), Qt::PlainText);
    }

    void gridReadsAsATable()
    {
        REQUIRE_SERVER();
        Connected c;
        QVERIFY(c.waitConnected());
        QVERIFY(c.chooseDatabase(QStringLiteral("demo")));
        QVERIFY(c.chooseListedTable(QStringLiteral("order items")));
        QAccessibleInterface *grid = QAccessible::queryAccessibleInterface(c.w->Mgrid);
        QVERIFY(grid);
        QCOMPARE(grid->role(), QAccessible::Table);
        QCOMPARE(grid->text(QAccessible::Name), QStringLiteral("Mgrid"));
        QAccessibleTableInterface *table = grid->tableInterface();
        QVERIFY(table);
        QCOMPARE(table->rowCount(), 2);
        QCOMPARE(table->columnCount(), 2);
        QCOMPARE(table->columnDescription(1), QStringLiteral("item"));
        QCOMPARE(table->cellAt(1, 1)->text(QAccessible::Name), QStringLiteral("fork"));
        QCOMPARE(table->cellAt(1, 1)->tableCellInterface()->columnHeaderCells().value(0)->text(
                     QAccessible::Name),
                 QStringLiteral("item"));
        QCOMPARE(table->selectedCellCount(), 0);
        // A click on a cell makes it the current one, and the strip below holds its row.
        const QRect cell = c.w->Mgrid->CellRect(1, 2);
        QTest::mouseClick(c.w->Mgrid->viewport(), Qt::LeftButton, {}, cell.center());
        QCOMPARE(table->selectedCellCount(), 1);
        QCOMPARE(table->selectedCells().first()->text(QAccessible::Name), QStringLiteral("fork"));
        QAccessibleInterface *strip = QAccessible::queryAccessibleInterface(c.w->hader);
        QVERIFY(strip);
        QCOMPARE(strip->childCount(), 2);
        QCOMPARE(strip->child(1)->text(QAccessible::Name), QStringLiteral("fork"));
    }

    // Values that are not text shown for what they are, a huge value shown by its start, and
    // the screen reader told what is drawn.
    void valuesShownForWhatTheyAre()
    {
        REQUIRE_SERVER();
        Session s;
        const QString failed = s.RunEach(
            {"DROP DATABASE IF EXISTS qv_show", "CREATE DATABASE qv_show",
             "CREATE TABLE qv_show.t (id INT PRIMARY KEY, b BIT(6), png BLOB, g GEOMETRY, "
             "t LONGTEXT, d DATETIME(6))",
             "INSERT INTO qv_show.t VALUES (1, b'101', X'89504E470D0A1A0A0000000D49484452', "
             "ST_GeomFromText('POINT(1 2)'), CONCAT('a', X'00', 'b'), '2020-01-02 03:04:05.5'), "
             "(2, NULL, X'', ST_GeomFromText('LINESTRING(0 0,1 1)'), REPEAT('x', 4194304), NULL)",
             "CREATE TABLE qv_show.none (k INT, v VARCHAR(3))"});
        QVERIFY2(failed.isEmpty(), qPrintable(failed));
        Connected c;
        QVERIFY(c.waitConnected());
        QVERIFY(c.chooseTable(QStringLiteral("qv_show"), QStringLiteral("t")));
        QCOMPARE(c.w->PanelText(4), QStringLiteral("2 rows"));
        QAccessibleTableInterface *table =
            QAccessible::queryAccessibleInterface(c.w->Mgrid)->tableInterface();
        auto said = [&](int row, int col) {
            return table->cellAt(row, col)->text(QAccessible::Name);
        };
        QCOMPARE(said(0, 1), QStringLiteral("b'101'"));
        QCOMPARE(said(0, 2), QStringLiteral("0x89504E470D0A1A0A0000000D49484452"));
        QCOMPARE(said(0, 3), QStringLiteral("POINT(1 2)"));
        QCOMPARE(said(0, 4), QStringLiteral("a\\0b"));
        QCOMPARE(said(0, 5), QStringLiteral("2020-01-02 03:04:05.500000"));
        QCOMPARE(said(1, 3), QStringLiteral("LINESTRING(0 0,1 1)"));
        // 4 MB of text: the grid keeps it whole, shows and tells its start.
        QCOMPARE(c.w->Mgrid->CellUtf8(4, 2).size(), std::size_t(4194304));
        QVERIFY(said(1, 4).size() <= celltext::DefaultLimit + 1);
        QVERIFY(said(1, 4).endsWith(QChar(0x2026)));
        for (int col = 0; col < c.w->Mgrid->ColCount(); ++col)
            QCOMPARE(said(0, col), c.w->Mgrid->DisplayText(col, 1));
        // The strip below shows the selected row the same way, and the caption after a delete
        // holds the statement's start only.
        c.clickCell(0, 2);
        QAccessibleInterface *strip = QAccessible::queryAccessibleInterface(c.w->hader);
        QVERIFY(strip && strip->childCount() == 6);
        QCOMPARE(strip->child(4)->text(QAccessible::Name), said(1, 4));
        c.w->button(QStringLiteral("SpeedButton17"))->click();
        QVERIFY(c.waitReport());
        QCOMPARE(c.w->PanelText(5), QString());
        QVERIFY(c.w->windowTitle().size() <= 301);
        QVERIFY(c.w->windowTitle().startsWith(
            QStringLiteral("Delete From `qv_show`.`t` Where `id` = 2")));
        QCOMPARE(s.Column(std::string("SELECT id FROM qv_show.t")), QStringList({"1"}));

        // No rows: announced as none, the column names as the headers.
        QVERIFY(c.chooseListedTable(QStringLiteral("none")));
        QCOMPARE(c.w->PanelText(4), QStringLiteral("0 rows"));
        QCOMPARE(table->rowCount(), 0);
        QCOMPARE(table->columnCount(), 2);
        QCOMPARE(table->columnDescription(1), QStringLiteral("v"));
        s.Run(std::string("DROP DATABASE qv_show"));
    }

    // While a table is read the grid shows nothing of the last one and nothing can be deleted.
    void statusWhileATableIsRead()
    {
        REQUIRE_SERVER();
        Connected c;
        QVERIFY(c.waitConnected());
        QVERIFY(c.chooseTable(QStringLiteral("demo"), QStringLiteral("order items")));
        QCOMPARE(c.w->PanelText(4), QStringLiteral("2 rows"));
        QAbstractButton *del = c.w->button(QStringLiteral("SpeedButton17"));
        QVERIFY(del->isEnabled());
        const quint64 fill = c.w->gridOrigin().Fill;
        c.w->Table_list->setCurrentItem(
            c.w->Table_list->findItems(QStringLiteral("big_table"), Qt::MatchExactly).first());
        // At once, before any answer.
        QCOMPARE(c.w->PanelText(4), QStringLiteral("Loading\u2026"));
        QCOMPARE(c.w->Panel5->Caption(), QStringLiteral("Current Table: big_table"));
        QCOMPARE(c.w->Mgrid->RowCount(), 1);
        QCOMPARE(c.cell(0, 0), QString());
        QVERIFY(!del->isEnabled());
        QTRY_VERIFY(c.w->gridOrigin().Fill > fill);
        // The first rows are in while the rest still comes: they can be picked already.
        QVERIFY(del->isEnabled());
        QTRY_COMPARE(c.w->PanelText(4), QStringLiteral("10000 rows"));
        QCOMPARE(c.w->Mgrid->RowCount(), 10001);
        // Two tables asked for in a row: the first answer is not drawn under the second's name.
        c.w->Table_list->setCurrentItem(
            c.w->Table_list->findItems(QStringLiteral("big_table"), Qt::MatchExactly).first());
        c.w->Table_list->setCurrentItem(
            c.w->Table_list->findItems(QStringLiteral("order items"), Qt::MatchExactly).first());
        QTRY_COMPARE(c.w->PanelText(4), QStringLiteral("2 rows"));
        QVERIFY(c.waitReport());
        QCOMPARE(c.w->Mgrid->RowCount(), 3);
        QCOMPARE(c.w->gridOrigin().Table, QStringLiteral("order items"));
        // A table that is gone: its error, nothing shown, nothing to delete.
        c.w->setPanelText(3, QString());
        c.w->Table_list->addItem(QStringLiteral("no such table"));
        c.w->Table_list->setCurrentRow(c.w->Table_list->count() - 1);
        QTRY_VERIFY(c.w->PanelText(5).contains(QStringLiteral("doesn't exist")));
        QCOMPARE(c.w->PanelText(4), QString());
        QCOMPARE(c.w->Mgrid->RowCount(), 1);
        QVERIFY(!del->isEnabled());
    }

    void windowsAnnounceThemselves()
    {
        TProgram program;
        QCOMPARE(QAccessible::queryAccessibleInterface(program.login.get())->role(),
                 QAccessible::Dialog);
        QCOMPARE(QAccessible::queryAccessibleInterface(program.console.get())->role(),
                 QAccessible::Dialog);
        QCOMPARE(program.login->windowTitle(), QStringLiteral("login"));
        QCOMPARE(program.console->windowTitle(), QStringLiteral("Mysql Console"));
        QVERIFY(QApplication::applicationDisplayName() != QLatin1String("MySQL Quorvane") ||
                program.login->windowTitle() == QLatin1String("login"));
        QTRY_COMPARE(g_boxes.size(), 1); // no settings.ini here
    }
};

QTEST_MAIN(TestConnected)
#include "test_connected.moc"
