// Changing rows in the grid against real tables: cells typed in place, new rows, rows marked for
// delete, applied together. The judge is the server's rows before and after (sorted hex dumps):
// exactly the picked rows changed, as typed, and the grid holds the server's rows after. Refused
// changes (changed elsewhere, a trigger's error, strict and non-strict modes) leave the table as
// it was and the changes pending.
#include "grid_edit.h"
#include "windows_driver.h"

#include <QPlainTextEdit>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTextCursor>

namespace {
const char *const Db = "qr_edit";
using rowchanges::Value;

QStringList dump(Session &s, const QString &table)
{
    return dumpTable(s, Db, table);
}

QString hex(const QString &text)
{
    return QString::fromLatin1(text.toUtf8().toHex());
}

// Replaces one column of a row key.
QString withColumn(const QString &key, int col, const QString &cellKey)
{
    QStringList parts = key.split(QLatin1Char('|'));
    parts[col] = cellKey;
    return parts.join(QLatin1Char('|'));
}

// Runs a statement without a result: its error, or empty.
QString exec(Session &s, const std::string &sql)
{
    s.Run(sql);
    return s.error;
}

QString make(Session &s, const QString &table, const QString &columns, const QString &rows)
{
    const std::string name = std::string(Db) + ".`" + table.toStdString() + "`";
    exec(s, "DROP TABLE IF EXISTS " + name);
    QString error = exec(s, "CREATE TABLE " + name + " (" + columns.toStdString() + ")");
    if (error.isEmpty() && !rows.isEmpty())
        error = exec(s, "INSERT INTO " + name + " VALUES " + rows.toStdString());
    return error;
}

struct Editing
{
    Connected &c;
    TGridEdit *e;
    explicit Editing(Connected &connected) : c(connected), e(connected.w->gridEdit()) {}

    // Types a value into a cell as the user does: F2 on the cell, the text, Enter.
    // Scrolled into view, then clicked.
    bool pick(int col, int row)
    {
        c.w->Mgrid->MoveTo(col, row);
        const QRect cell = c.w->Mgrid->CellRect(col, row);
        if (cell.isEmpty()) return false;
        QTest::mouseClick(c.w->Mgrid->viewport(), Qt::LeftButton, {}, cell.center());
        return c.w->Mgrid->Col() == col && c.w->Mgrid->Row() == row;
    }
    bool remove(int row)
    {
        if (!pick(0, row)) return false;
        QTest::keyClick(c.w->Mgrid, Qt::Key_Delete);
        return true;
    }
    bool type(int col, int row, const QString &text)
    {
        if (!pick(col, row)) return false;
        QTest::keyClick(c.w->Mgrid, Qt::Key_F2);
        auto *line = qobject_cast<QLineEdit *>(e->cellEditor());
        if (!line) return false;
        line->setText(text);
        QTest::keyClick(line, Qt::Key_Return);
        return !e->cellEditor();
    }
    // A new row, each column typed, or left to its default when the text is null.
    bool insert(const QStringList &values)
    {
        c.w->button(QStringLiteral("Add_row_button"))->click();
        const int row = c.w->Mgrid->RowCount() - 1;
        for (int col = 0; col < values.size(); ++col)
            if (!values[col].isNull() && !type(col, row, values[col])) return false;
        return true;
    }
    // Presses Apply and waits for its outcome.
    bool apply(bool *ok)
    {
        QSignalSpy spy(e, &TGridEdit::applyFinished);
        c.w->button(QStringLiteral("Apply_button"))->click();
        if (spy.isEmpty() && !spy.wait(20000)) return false;
        *ok = spy.first().first().toBool();
        return true;
    }
    // The grid's rows, as sorted keys.
    QStringList gridRows() const
    {
        QStringList rows;
        for (int r = c.w->Mgrid->HeaderRows(); r < c.w->Mgrid->RowCount(); ++r)
            rows << gridRowKeyOf(c.w->Mgrid, r);
        rows.sort();
        return rows;
    }
};
} // namespace

class TestGridEdit : public QObject
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
        QVERIFY(
            s.RunEach({"DROP DATABASE IF EXISTS qr_edit", "CREATE DATABASE qr_edit"}).isEmpty());
    }
    void cleanupTestCase()
    {
        QCOMPARE(m_folder->passwordTraces(), QStringList());
        m_folder.reset();
        if (!Server().ok()) return;
        Session s;
        s.RunEach({"SET GLOBAL sql_mode = DEFAULT", "DROP DATABASE IF EXISTS qr_edit"});
    }
    void init() { forgetAnswers(); }

    // What is kept pending, and what an outcome proves: no server needed.
    void pendingRules()
    {
        rowchanges::Pending p;
        QVERIFY(p.setCell(1, 0, Value::of("x"), std::string_view("a")));
        QVERIFY(!p.setCell(1, 0, Value::of("x"), std::string_view("a"))); // the same again
        QVERIFY(p.setCell(1, 0, Value::of("a"), std::string_view("a")));  // back as read
        QVERIFY(p.empty());
        QVERIFY(p.setCell(2, 1, Value::of(""), std::nullopt)); // '' is not NULL
        QVERIFY(!p.setCell(3, 1, Value::null(), std::nullopt));
        p.toggleDelete(2); // a row to delete loses its edits and takes none
        QCOMPARE(p.find(2)->What, rowchanges::Kind::Delete);
        QVERIFY(!p.setCell(2, 1, Value::of("y"), std::nullopt));
        p.addInsert(5);
        p.addInsert(6);
        QVERIFY(p.setNewCell(6, 0, Value::of("n")));
        p.dropInsert(5); // the new row after it moves up
        QCOMPARE(p.find(5)->Cells.at(0), Value::of("n"));
        QCOMPARE(p.count(), 2);

        rowchanges::Change update{rowchanges::Kind::Update, 1, {{0, Value::of("x")}}};
        rowchanges::Change remove{rowchanges::Kind::Delete, 1, {}};
        rowchanges::Change insert{rowchanges::Kind::Insert, 1, {}};
        const struct
        {
            const rowchanges::Change *change;
            rowchanges::Outcome outcome;
            const char *verdict;
        } cases[] = {
            // The changed-row count of an update is 0 when the value was already there: the
            // matched count decides.
            {&update, {0, "Rows matched: 1  Changed: 0  Warnings: 0", 0, {}}, ""},
            {&update,
             {1, "Rows matched: 0  Changed: 0  Warnings: 0", 0, {}},
             rowchanges::ChangedElsewhere},
            {&update,
             {2, "Rows matched: 2  Changed: 2  Warnings: 0", 0, {}},
             "2 rows match this row; nothing was changed"},
            {&update, {1, "", 0, {}}, "The server did not say how many rows the change matched"},
            {&update,
             {1, "Rows matched: 1  Changed: 1  Warnings: 1", 1, {"Warning 1264 Out of range"}},
             "The server warned: Warning 1264 Out of range"},
            {&remove, {0, "", 0, {}}, rowchanges::ChangedElsewhere},
            {&remove, {1, "", 0, {}}, ""},
            {&insert, {1, "", 0, {}}, ""},
            {&insert, {0, "", 0, {}}, "The row was not inserted"},
        };
        for (const auto &c : cases)
            QCOMPARE(rowchanges::Verdict(*c.change, c.outcome), std::string(c.verdict));
    }

    // Every row of a table edited, one deleted, one inserted, all applied at once: the table
    // holds exactly the rows expected, and the grid holds the table's rows.
    void editInsertDelete_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QString>("columns");
        QTest::addColumn<QString>("rows");
        QTest::addColumn<int>("col");       // the column every row gets a new value in
        QTest::addColumn<QString>("typed"); // %1: the grid row
        QTest::addColumn<QStringList>("inserted");
        const QString lookAlikes =
            "('Smith',1),('smith',1),('x',2),('x ',2),('\xC3\xBC',3),('u',3),('U',3),"
            "(X'610062',4),(X'6100',4),('a',4),(NULL,5),('',5),('x',2),('x',2)";
        const QStringList newLookAlike = {QStringLiteral("SMITH"), QStringLiteral("9")};
        for (const char *mode : {"", "ANSI_QUOTES", "NO_BACKSLASH_ESCAPES"})
            QTest::addRow("no key, look-alikes and copies, %s", *mode ? mode : "default")
                << mode << "v VARCHAR(10) COLLATE utf8mb4_general_ci NULL, n INT" << lookAlikes << 1
                << "10%1" << newLookAlike;
        QTest::newRow("no key, text typed with quotes into latin1")
            << ""
            << "v VARCHAR(20) CHARACTER SET latin1 NULL, n INT" << lookAlikes << 0
            << "\xC3\xBC'\\\"%1" << QStringList{"\xC3\xA9", "7"};
        QTest::newRow("key, its value changed")
            << ""
            << "id INT PRIMARY KEY, v VARCHAR(10) COLLATE utf8mb4_general_ci"
            << "(1,'Smith'),(2,'smith'),(3,'x'),(4,'x '),(-7,NULL)" << 0 << "1%1"
            << QStringList{"50", QString()};
        QTest::newRow("composite key in a case-insensitive collation")
            << ""
            << "a INT, b VARCHAR(10) COLLATE utf8mb4_general_ci, c VARCHAR(10), PRIMARY KEY (a, b)"
            << "(1,'x','one'),(1,'Y ','zed'),(2,'x','one'),(2,'z ','two')" << 2 << "c%1"
            << QStringList{"3", "X ", "new"};
        QTest::newRow("FLOAT in the key")
            << ""
            << "id INT, f FLOAT, note VARCHAR(5), PRIMARY KEY (id, f)"
            << "(1, 0.1, 'a'), (1, 0.1000001, 'b')" << 2 << "n%1" << QStringList{"2", "0.5", "c"};
        QTest::newRow("every type, no key")
            << ""
            << "i INT NULL, d DECIMAL(30,10) NULL, f FLOAT NULL, b BIT(10) NULL, c CHAR(5) NULL, "
               "bl BLOB NULL, dtm DATETIME(6) NULL, e ENUM('a','b') NULL, j JSON NULL, g GEOMETRY "
               "NULL, n INT"
            << "(-5, 12.5, 0.1, b'101', 'ab  ', X'00FF27005C', '2020-01-02 03:04:05.000007', 'b', "
               "'{\"a\": 1}', ST_GeomFromText('POINT(1 2)'), 1),"
               "(-5, 12.5, 0.1000001, b'101', 'ab', X'00FF27005C00', '2020-01-02 03:04:05.000007', "
               "'b', '{\"a\":1}', ST_GeomFromText('POINT(1 2.0000001)'), 1),"
               "(NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, 3),"
               "(NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, 3)"
            << 10 << "10%1"
            << QStringList{
                   "7", "1.5", "2.5",     "b'11'", "z", QString(), "2021-01-01 00:00:00.000001",
                   "a", "[1]", QString(), "8"};
    }
    void editInsertDelete()
    {
        REQUIRE_SERVER();
        QFETCH(QString, mode);
        QFETCH(QString, columns);
        QFETCH(QString, rows);
        QFETCH(int, col);
        QFETCH(QString, typed);
        QFETCH(QStringList, inserted);
        Session s;
        const QString error = make(s, QStringLiteral("t"), columns, rows);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        // The mode of every session, the edit connection's too.
        QVERIFY(exec(s, "SET GLOBAL sql_mode = '" + mode.toStdString() + "'").isEmpty());
        Connected c;
        QVERIFY(c.waitConnected());
        QVERIFY(c.chooseTable(QString::fromLatin1(Db), QStringLiteral("t")));
        Editing edit(c);
        const QStringList before = dump(s, QStringLiteral("t"));
        QStringList expected = before;
        const int last = c.w->Mgrid->RowCount() - 1;
        // The last row is deleted, every other one edited.
        for (int row = 1; row < last; ++row) {
            const QString old = gridRowKeyOf(c.w->Mgrid, row);
            const QString value = typed.arg(row);
            QVERIFY(edit.type(col, row, value));
            QVERIFY(expected.removeOne(old));
            expected << withColumn(old, col, hex(value));
        }
        QVERIFY(expected.removeOne(gridRowKeyOf(c.w->Mgrid, last)));
        QVERIFY(edit.remove(last));
        // Show SQL counts the byte-identical copies of a row without a key: three of ('x',2).
        if (columns.startsWith(QLatin1String("v VARCHAR(10) COLLATE utf8mb4_general_ci")))
            QVERIFY(edit.e->sqlText().contains(
                QStringLiteral("this row has 2 identical copies; one of them will change")));
        QVERIFY(edit.insert(inserted));
        QCOMPARE(c.w->PanelText(4), QStringLiteral("%1 changes pending").arg(last + 1));
        bool ok = false;
        QVERIFY(edit.apply(&ok));
        exec(s, "SET GLOBAL sql_mode = DEFAULT");
        QVERIFY2(ok, qPrintable(g_boxes.join('\n')));
        QCOMPARE(dump(s, QStringLiteral("t")).size(), before.size());
        // The new row as the server stored it (its defaults, its spelling of the values).
        const QStringList after = dump(s, QStringLiteral("t"));
        QStringList others = after;
        for (const QString &row : expected)
            QVERIFY2(others.removeOne(row), qPrintable(QStringLiteral("missing ") + row));
        QCOMPARE(others.size(), 1);
        QCOMPARE(edit.gridRows(), after);
        QCOMPARE(c.w->PanelText(5), QStringLiteral("%1 changes applied").arg(last + 1));
        QVERIFY(edit.e->pending().empty());
    }

    // Two changes, the second refused: the table is as it was, both stay pending, the failed one
    // is named.
    void refusedChangesRollBack_data()
    {
        QTest::addColumn<QString>("setup");  // run after the rows are read
        QTest::addColumn<QString>("global"); // the edit connection's SQL mode
        QTest::addColumn<QString>("typed");  // into column v of the second row
        QTest::addColumn<QString>("says");
        QTest::newRow("changed by someone else since read")
            << "UPDATE qr_edit.r SET v = 9 WHERE id = 2"
            << "DEFAULT"
            << "5" << rowchanges::ChangedElsewhere;
        QTest::newRow("deleted by someone else since read") << "DELETE FROM qr_edit.r WHERE id = 2"
                                                            << "DEFAULT"
                                                            << "5" << rowchanges::ChangedElsewhere;
        QTest::newRow("a trigger raises an error")
            << "CREATE TRIGGER qr_edit.r_no BEFORE UPDATE ON qr_edit.r FOR EACH ROW "
               "IF NEW.v = 99 THEN SIGNAL SQLSTATE '45000' SET MESSAGE_TEXT = 'not 99'; END IF"
            << "DEFAULT"
            << "99"
            << "not 99";
        QTest::newRow("strict: out of range") << ""
                                              << "'STRICT_ALL_TABLES'"
                                              << "300"
                                              << "Out of range";
        QTest::newRow("not strict: out of range is a warning") << ""
                                                               << "''"
                                                               << "300"
                                                               << "The server warned: Warning 1264";
    }
    void refusedChangesRollBack()
    {
        REQUIRE_SERVER();
        QFETCH(QString, setup);
        QFETCH(QString, global);
        QFETCH(QString, typed);
        QFETCH(QString, says);
        Session s;
        QVERIFY(make(s, QStringLiteral("r"), "id INT PRIMARY KEY, v TINYINT", "(1,1),(2,2),(3,3)")
                    .isEmpty());
        QVERIFY(exec(s, "SET GLOBAL sql_mode = " + global.toStdString()).isEmpty());
        Connected c;
        QVERIFY(c.waitConnected());
        QVERIFY(c.chooseTable(QString::fromLatin1(Db), QStringLiteral("r")));
        if (!setup.isEmpty()) QVERIFY2(exec(s, setup.toStdString()).isEmpty(), qPrintable(s.error));
        const QStringList before = dump(s, QStringLiteral("r"));
        Editing edit(c);
        QVERIFY(edit.type(1, 1, QStringLiteral("7")));
        QVERIFY(edit.type(1, 2, typed));
        bool ok = true;
        QVERIFY(edit.apply(&ok));
        exec(s, "SET GLOBAL sql_mode = DEFAULT");
        QVERIFY(!ok);
        QCOMPARE(dump(s, QStringLiteral("r")), before);
        QCOMPARE(edit.e->pendingCount(), 2);
        QVERIFY2(c.w->PanelText(5).startsWith(QStringLiteral("Change 2 (row 2): ")) &&
                     c.w->PanelText(5).contains(says),
                 qPrintable(c.w->PanelText(5)));
        QCOMPARE(g_boxes.size(), 1);
        QVERIFY(c.w->Mgrid->Mark(1, 2).Description.contains(QStringLiteral("failed")));
        // Discard: the grid shows what was read.
        c.w->button(QStringLiteral("Discard_button"))->click();
        QCOMPARE(edit.e->pendingCount(), 0);
        QCOMPARE(c.cell(1, 2), QStringLiteral("2"));
    }

    // The server's own values come back: a trigger's, a default's, a rounded decimal's.
    void serverValuesShown()
    {
        REQUIRE_SERVER();
        Session s;
        QVERIFY(make(s, QStringLiteral("sv"),
                     "id INT AUTO_INCREMENT PRIMARY KEY, d DECIMAL(5,1), up VARCHAR(10) DEFAULT "
                     "'dflt'",
                     "(1, 1.0, 'a')")
                    .isEmpty());
        QVERIFY(exec(s, std::string("CREATE TRIGGER qr_edit.sv_up BEFORE UPDATE ON qr_edit.sv FOR "
                                    "EACH ROW SET NEW.up = 'trigger'"))
                    .isEmpty());
        Connected c;
        QVERIFY(c.waitConnected());
        QVERIFY(c.chooseTable(QString::fromLatin1(Db), QStringLiteral("sv")));
        Editing edit(c);
        // Typing on a cell starts its editor with the key typed, and goes on from there.
        QVERIFY(edit.pick(1, 1));
        QTest::keyClick(c.w->Mgrid, '2');
        QVERIFY(edit.e->cellEditor());
        QTest::keyClicks(edit.e->cellEditor(), QStringLiteral(".25"));
        QTest::keyClick(edit.e->cellEditor(), Qt::Key_Return);
        QCOMPARE(c.w->Mgrid->ShownText(1, 1), QStringLiteral("2.25"));
        QVERIFY(edit.insert({QString(), QStringLiteral("3"), QString()}));
        bool ok = false;
        QVERIFY(edit.apply(&ok));
        // 2.25 is stored rounded, with a note (not a warning): shown, with its own note.
        QVERIFY2(ok, qPrintable(c.w->PanelText(5)));
        QCOMPARE(edit.gridRows(), dump(s, QStringLiteral("sv")));
        QCOMPARE(c.cell(2, 1), QStringLiteral("trigger"));
        QVERIFY(edit.e->noteOf(1, 1).contains(QStringLiteral("typed: 2.25")));
        QCOMPARE(c.cell(0, 2), QStringLiteral("2")); // AUTO_INCREMENT, read back
        QCOMPARE(c.cell(2, 2), QStringLiteral("dflt"));
    }

    // What the server stored, shown however the value was typed: a BIT as shown, a number
    // rounded in a key-less table (its unchanged copy left alone), NULL or 0 into an
    // AUTO_INCREMENT key; and a key-less table with INVISIBLE columns refused.
    void readBackCases_data()
    {
        QTest::addColumn<QString>("columns");
        QTest::addColumn<QString>("rows");
        QTest::addColumn<int>("row"); // the grid row edited, or 0 for a new row
        QTest::addColumn<int>("col");
        QTest::addColumn<QString>("typed"); // null: Set NULL
        QTest::addColumn<QString>("note");  // expected in the cell's note; "-" none; else refused
        QTest::newRow("BIT typed as shown") << "id INT PRIMARY KEY, b BIT(4)"
                                            << "(1, b'0001')" << 1 << 1 << "b'101'"
                                            << "-";
        QTest::newRow("BIT typed as a number") << "id INT PRIMARY KEY, b BIT(4)"
                                               << "(1, b'0001')" << 1 << 1 << "5"
                                               << "-";
        QTest::newRow("rounded, key-less copies") << "d DECIMAL(5,2), t VARCHAR(5)"
                                                  << "(1.00,'a'),(1.00,'a')" << 1 << 0 << "1.239"
                                                  << "typed: 1.239";
        QTest::newRow("0 into AUTO_INCREMENT") << "id INT AUTO_INCREMENT PRIMARY KEY, v INT"
                                               << "(5, 1)" << 0 << 0 << "0"
                                               << "typed: 0";
        QTest::newRow("NULL into AUTO_INCREMENT")
            << "id INT AUTO_INCREMENT PRIMARY KEY, v INT"
            << "(5, 1)" << 0 << 0 << QString() << "typed: (NULL)";
        QTest::newRow("INVISIBLE, key-less") << "v INT, h INT INVISIBLE DEFAULT 0"
                                             << "(1),(1)" << 1 << 0 << "2"
                                             << "invisible columns";
        QTest::newRow("DEFAULT into a key") << "id INT PRIMARY KEY DEFAULT 9, v INT"
                                            << "(1, 1)" << 1 << 0 << "<DEFAULT>"
                                            << "-";
        QTest::newRow("key left to its default")
            << "id VARCHAR(3) NOT NULL DEFAULT 'k' PRIMARY KEY, v INT"
            << "('a', 1)" << 0 << 0 << "<DEFAULT>"
            << "-";
        QTest::newRow("INVISIBLE, keyed") << "id INT PRIMARY KEY, v INT, h INT INVISIBLE DEFAULT 3"
                                          << "(1, 1)" << 1 << 1 << "2"
                                          << "-";
    }
    void readBackCases()
    {
        REQUIRE_SERVER();
        QFETCH(QString, columns);
        QFETCH(QString, rows);
        QFETCH(int, row);
        QFETCH(int, col);
        QFETCH(QString, typed);
        QFETCH(QString, note);
        Session s;
        QVERIFY(make(s, QStringLiteral("rb"), columns, rows).isEmpty());
        const QStringList before = dump(s, QStringLiteral("rb"));
        Connected c;
        QVERIFY(c.waitConnected());
        QVERIFY(c.chooseTable(QString::fromLatin1(Db), QStringLiteral("rb")));
        Editing edit(c);
        const bool refused =
            note != QLatin1String("-") && !note.startsWith(QStringLiteral("typed"));
        const bool byDefault = typed == QLatin1String("<DEFAULT>");
        if (row == 0) {
            QStringList values(c.w->Mgrid->ColCount(), QString());
            values.last() = QStringLiteral("7");
            if (!typed.isNull() && !byDefault) values[col] = typed;
            QVERIFY(edit.insert(values));
            row = c.w->Mgrid->RowCount() - 1;
        } else if (!byDefault) {
            QCOMPARE(edit.type(col, row, typed), !refused);
        }
        if (typed.isNull() || byDefault) {
            QVERIFY(edit.pick(col, row));
            edit.e->setCurrent(typed.isNull() ? Value::null() : Value::byDefault());
        }
        if (refused) {
            QVERIFY2(c.w->PanelText(5).contains(note), qPrintable(c.w->PanelText(5)));
            QCOMPARE(edit.e->pendingCount(), 0);
            return;
        }
        bool ok = false;
        QVERIFY(edit.apply(&ok));
        QVERIFY2(ok, qPrintable(c.w->PanelText(5)));
        QCOMPARE(edit.gridRows(), dump(s, QStringLiteral("rb")));
        QVERIFY(edit.gridRows() != before);
        if (note == QLatin1String("-"))
            QCOMPARE(edit.e->noteOf(row, col), QString());
        else
            QVERIFY2(edit.e->noteOf(row, col).contains(note), qPrintable(edit.e->noteOf(row, col)));
    }

    // A MyISAM table asks first; the console's own transaction is never ours to end.
    void engineAndConsoleTransaction()
    {
        REQUIRE_SERVER();
        Session s;
        QVERIFY(
            make(s, QStringLiteral("my"), "id INT PRIMARY KEY, v INT", "(1,1),(2,2)").isEmpty());
        QVERIFY(exec(s, std::string("ALTER TABLE qr_edit.my ENGINE = MyISAM")).isEmpty());
        QVERIFY(make(s, QStringLiteral("other"), "id INT PRIMARY KEY", "").isEmpty());
        QVERIFY(make(s, QStringLiteral("inno"), "id INT PRIMARY KEY, v INT", "(1,1)").isEmpty());
        Connected c;
        QVERIFY(c.waitConnected());
        const QString ids = QStringLiteral("SELECT ID FROM information_schema.PROCESSLIST");
        const QStringList before = s.Column(ids.toStdString());
        QVERIFY(c.chooseTable(QString::fromLatin1(Db), QStringLiteral("my")));
        Editing edit(c);
        QVERIFY(edit.type(1, 1, QStringLiteral("10")));
        g_answer = QStringLiteral("Cancel");
        bool ok = true;
        QVERIFY(edit.apply(&ok));
        QVERIFY(!ok);
        QCOMPARE(g_questions.size(), 1);
        QVERIFY(g_questions.first().contains(QStringLiteral("MyISAM")));
        QCOMPARE(s.Column(std::string("SELECT v FROM qr_edit.my ORDER BY id")),
                 QStringList({"1", "2"}));
        g_answer = QStringLiteral("Apply");
        QVERIFY(edit.apply(&ok));
        QVERIFY(ok);
        QCOMPARE(s.Column(std::string("SELECT v FROM qr_edit.my ORDER BY id")),
                 QStringList({"10", "2"}));
        // The edit connection ended by the server while idle is made anew at the next Apply.
        QStringList made = s.Column(ids.toStdString());
        for (const QString &id : before)
            made.removeAll(id);
        QCOMPARE(made.size(), 1);
        QVERIFY(exec(s, "KILL " + made.first().toStdString()).isEmpty());
        QVERIFY(edit.type(1, 2, QStringLiteral("20")));
        QVERIFY(edit.apply(&ok));
        QVERIFY2(ok, qPrintable(c.w->PanelText(5)));
        QCOMPARE(s.Column(std::string("SELECT v FROM qr_edit.my ORDER BY id")),
                 QStringList({"10", "20"}));

        for (const char *sql : {"START TRANSACTION", "INSERT INTO qr_edit.other VALUES (1)"}) {
            c.program->console->Edit1->setText(QString::fromLatin1(sql));
            c.program->console->SpeedButton1->click();
            QVERIFY(c.waitReport());
        }
        QVERIFY(c.chooseListedTable(QStringLiteral("inno")));
        QVERIFY(edit.type(1, 1, QStringLiteral("5")));
        QVERIFY(edit.apply(&ok));
        QVERIFY(ok);
        c.program->console->Edit1->setText(QStringLiteral("ROLLBACK"));
        c.program->console->SpeedButton1->click();
        QVERIFY(c.waitReport());
        QCOMPARE(s.Column(std::string("SELECT v FROM qr_edit.inno")), QStringList({"5"}));
        QCOMPARE(s.Column(std::string("SELECT COUNT(*) FROM qr_edit.other")), QStringList({"0"}));
    }

    // Rows chosen with Shift+Down and Ctrl+click are marked for delete together; Del again on
    // a marked row unmarks it.
    void severalRowsDeleted()
    {
        REQUIRE_SERVER();
        Session s;
        QVERIFY(make(s, QStringLiteral("sd"), "id INT PRIMARY KEY", "(1),(2),(3),(4),(5),(6)")
                    .isEmpty());
        Connected c;
        QVERIFY(c.waitConnected());
        QVERIFY(c.chooseTable(QString::fromLatin1(Db), QStringLiteral("sd")));
        Editing edit(c);
        QVERIFY(edit.pick(0, 2));
        QTest::keyClick(c.w->Mgrid, Qt::Key_Down, Qt::ShiftModifier);
        QTest::keyClick(c.w->Mgrid, Qt::Key_Down, Qt::ShiftModifier);
        QTest::mouseClick(c.w->Mgrid->viewport(), Qt::LeftButton, Qt::ControlModifier,
                          c.w->Mgrid->CellRect(0, 6).center());
        QCOMPARE(edit.e->selectedRows(), std::vector<int>({2, 3, 4, 6}));
        QTest::keyClick(c.w->Mgrid, Qt::Key_Delete);
        QCOMPARE(edit.e->pendingCount(), 4);
        QVERIFY(edit.remove(6));
        QCOMPARE(edit.e->pendingCount(), 3);
        QCOMPARE(c.w->Mgrid->Mark(0, 3).Description, QStringLiteral("Row to be deleted"));
        bool ok = false;
        QVERIFY(edit.apply(&ok));
        QVERIFY(ok);
        QCOMPARE(s.Column(std::string("SELECT id FROM qr_edit.sd ORDER BY id")),
                 QStringList({"1", "5", "6"}));
        QCOMPARE(edit.gridRows(), dump(s, QStringLiteral("sd")));
    }

    // A view the server does not let be changed is refused as the edit is tried, with why in
    // panel 5, not at Apply; one it lets be changed is edited through.
    void viewsChangedOrNot()
    {
        REQUIRE_SERVER();
        Session s;
        QVERIFY(
            make(s, QStringLiteral("vb"), "id INT PRIMARY KEY, v INT", "(1,10),(2,20)").isEmpty());
        QCOMPARE(exec(s, "CREATE OR REPLACE VIEW qr_edit.v_sum AS SELECT id, SUM(v) AS t FROM "
                         "qr_edit.vb GROUP BY id"),
                 QString());
        QCOMPARE(exec(s, "CREATE OR REPLACE VIEW qr_edit.v_all AS SELECT id, v FROM qr_edit.vb"),
                 QString());
        Connected c;
        QVERIFY(c.waitConnected());
        QVERIFY(c.chooseTable(QString::fromLatin1(Db), QStringLiteral("v_sum")));
        Editing edit(c);
        QVERIFY(!edit.type(1, 1, QStringLiteral("5")));
        QVERIFY(c.w->PanelText(5).contains(QStringLiteral("cannot be changed")));
        c.w->setPanelText(5, QString());
        QVERIFY(edit.remove(1));
        c.w->button(QStringLiteral("Add_row_button"))->click();
        QCOMPARE(edit.e->pendingCount(), 0);
        QVERIFY(c.w->PanelText(5).contains(QStringLiteral("cannot be changed")));
        QVERIFY(c.chooseListedTable(QStringLiteral("v_all")));
        QVERIFY(edit.type(1, 1, QStringLiteral("11")));
        bool ok = false;
        QVERIFY(edit.apply(&ok));
        QVERIFY(ok);
        QCOMPARE(s.Column(std::string("SELECT v FROM qr_edit.vb ORDER BY id")),
                 QStringList({"11", "20"}));
    }

    // Two keys stored apart that read the same (cp932's NEC and IBM duplicates of U+2160): the
    // change reaches the row picked, or, when its bytes cannot tell it apart, nothing changes.
    void lookAlikeKeys_data()
    {
        QTest::addColumn<QString>("columns");
        QTest::addColumn<bool>("remove"); // delete the second row, else set its v to 20
        QTest::addColumn<QString>("rows");
        QTest::addColumn<QString>("after"); // HEX(k):v, sorted; the rows as they were if refused
        const QString inno =
            "k VARCHAR(4) CHARACTER SET cp932 COLLATE cp932_bin PRIMARY KEY, v INT";
        const QString myisam =
            "k TEXT CHARACTER SET cp932 COLLATE cp932_bin, v INT, PRIMARY KEY (k(10))) "
            "ENGINE=MyISAM -- ";
        const QString distinct = "(X'8754',1),(X'FA4A',2)", same = "(X'8754',2),(X'FA4A',2)";
        QTest::newRow("update told apart by v") << inno << false << distinct << "8754:1,FA4A:20";
        QTest::newRow("update, v the same") << inno << false << same << "8754:2,FA4A:2";
        QTest::newRow("delete") << inno << true << distinct << "8754:1,FA4A:2";
        QTest::newRow("delete, no transactions") << myisam << true << distinct << "8754:1,FA4A:2";
    }
    void lookAlikeKeys()
    {
        REQUIRE_SERVER();
        QFETCH(QString, columns);
        QFETCH(bool, remove);
        QFETCH(QString, rows);
        QFETCH(QString, after);
        Session s;
        QVERIFY(make(s, QStringLiteral("lk"), columns, rows).isEmpty());
        Connected c;
        QVERIFY(c.waitConnected());
        QVERIFY(c.chooseTable(QString::fromLatin1(Db), QStringLiteral("lk")));
        QCOMPARE(c.w->Mgrid->CellUtf8(0, 1), c.w->Mgrid->CellUtf8(0, 2));
        Editing edit(c);
        QVERIFY(remove ? edit.remove(2) : edit.type(1, 2, QStringLiteral("20")));
        g_answer = QStringLiteral("Apply");
        bool ok = false;
        QVERIFY(edit.apply(&ok));
        QCOMPARE(s.Column(std::string("SELECT CONCAT(HEX(k),':',v) FROM qr_edit.lk ORDER BY 1"))
                     .join(','),
                 after);
        QCOMPARE(ok, after.contains(QLatin1String(":20")));
    }

    // The session the rows were read in (the console's time zone, a padding SQL mode) is the
    // one the change is made in; a row read back among look-alikes is shown only if it is this
    // one.
    void sessionAndLookAlikes_data()
    {
        QTest::addColumn<QString>("console");
        QTest::addColumn<QString>("columns");
        QTest::addColumn<QString>("rows");
        QTest::addColumn<bool>("remove"); // delete row 1, else type "10" into its column 1
        QTest::addColumn<QString>("after");
        const QString times = "('2024-01-01 10:00:00',1),('2024-01-01 11:00:00',1)";
        QTest::newRow("time zone, delete") << "SET time_zone = '+01:00'"
                                           << "ts TIMESTAMP NOT NULL PRIMARY KEY, v INT" << times
                                           << true << "2024-01-01 11:00:00=1";
        QTest::newRow("time zone, update")
            << "SET time_zone = '+01:00'"
            << "ts TIMESTAMP NOT NULL PRIMARY KEY, v INT" << times << false
            << "2024-01-01 10:00:00=10,2024-01-01 11:00:00=1";
        QTest::newRow("CHAR padded") << "SET sql_mode = 'PAD_CHAR_TO_FULL_LENGTH'"
                                     << "c CHAR(5), v INT"
                                     << "('ab',1)" << false << "ab=10";
    }
    void sessionAndLookAlikes()
    {
        REQUIRE_SERVER();
        QFETCH(QString, console);
        QFETCH(QString, columns);
        QFETCH(QString, rows);
        QFETCH(bool, remove);
        QFETCH(QString, after);
        Session s;
        QVERIFY(make(s, QStringLiteral("ss"), columns, rows).isEmpty());
        Connected c;
        QVERIFY(c.waitConnected());
        c.program->console->Edit1->setText(console);
        c.program->console->SpeedButton1->click();
        QVERIFY(c.waitReport());
        QVERIFY(c.chooseTable(QString::fromLatin1(Db), QStringLiteral("ss")));
        Editing edit(c);
        QVERIFY(remove ? edit.remove(1) : edit.type(1, 1, QStringLiteral("10")));
        bool ok = false;
        QVERIFY(edit.apply(&ok));
        QVERIFY2(ok, qPrintable(c.w->PanelText(5)));
        QCOMPARE(s.Column(std::string("SELECT CONCAT(TRIM(") +
                          (columns.startsWith('c') ? "c" : "ts") +
                          "),'=',v) FROM qr_edit.ss ORDER BY 1")
                     .join(','),
                 after);

        QVERIFY(make(s, QStringLiteral("rb"), "v VARCHAR(5) COLLATE utf8mb4_general_ci, n INT",
                     "('A',1),('A',1),('b',1)")
                    .isEmpty());
        QVERIFY(c.chooseTable(QString::fromLatin1(Db), QStringLiteral("rb")));
        QVERIFY(edit.type(0, 3, QStringLiteral("a")));
        QVERIFY(edit.apply(&ok));
        QVERIFY(ok);
        QCOMPARE(edit.gridRows(), dump(s, QStringLiteral("rb")));
    }

    // An editor opened and left changes nothing; a letter added keeps every other character
    // (no-break spaces, line separators, carriage returns, NUL bytes, tabs).
    void editorKeepsTheText_data()
    {
        QTest::addColumn<QByteArray>("value");
        const QByteArray longText(210, 'x');
        QTest::newRow("long, no-break space") << longText + "\xC2\xA0y";
        QTest::newRow("long, U+2028") << longText + "\xE2\x80\xA8y";
        QTest::newRow("one line, CR") << QByteArray("a\rb");
        QTest::newRow("one line, NUL") << QByteArray("a\0b", 3);
        QTest::newRow("one line, tab") << QByteArray("a\tb");
        QTest::newRow("lines") << QByteArray("a\nb");
    }
    void editorKeepsTheText()
    {
        REQUIRE_SERVER();
        QFETCH(QByteArray, value);
        Session s;
        QVERIFY(make(s, QStringLiteral("er"), "id INT PRIMARY KEY, t TEXT",
                     "(1, X'" + value.toHex() + "')")
                    .isEmpty());
        Connected c;
        QVERIFY(c.waitConnected());
        QVERIFY(c.chooseTable(QString::fromLatin1(Db), QStringLiteral("er")));
        Editing edit(c);
        for (const bool add : {false, true}) {
            QVERIFY(edit.pick(1, 1));
            QTest::keyClick(c.w->Mgrid, Qt::Key_F2);
            QWidget *editor = edit.e->cellEditor();
            QVERIFY(editor);
            if (auto *plain = qobject_cast<QPlainTextEdit *>(editor)) {
                if (add) plain->moveCursor(QTextCursor::End), plain->insertPlainText("z");
            } else if (auto *line = qobject_cast<QLineEdit *>(editor); line && add) {
                line->end(false);
                line->insert("z");
            }
            edit.e->commitEditor();
            QCOMPARE(edit.e->pendingCount(), add ? 1 : 0);
        }
        bool ok = false;
        QVERIFY(edit.apply(&ok));
        QVERIFY(ok);
        QCOMPARE(s.Column(std::string("SELECT HEX(t) FROM qr_edit.er")),
                 QStringList({QString::fromLatin1((value + "z").toHex().toUpper())}));
    }

    // Leaving a table with changes pending asks; Cancel stays, Discard goes.
    void leavingAsks()
    {
        REQUIRE_SERVER();
        Session s;
        QVERIFY(make(s, QStringLiteral("l1"), "id INT PRIMARY KEY", "(1)").isEmpty());
        QVERIFY(make(s, QStringLiteral("l2"), "id INT PRIMARY KEY", "(2)").isEmpty());
        Connected c;
        QVERIFY(c.waitConnected());
        QVERIFY(c.chooseTable(QString::fromLatin1(Db), QStringLiteral("l1")));
        Editing edit(c);
        QVERIFY(edit.type(0, 1, QStringLiteral("3")));
        g_answer = QStringLiteral("Cancel");
        c.w->Table_list->setCurrentItem(c.w->Table_list->findItems("l2", Qt::MatchExactly).first());
        QCOMPARE(g_questions.size(), 1);
        QCOMPARE(c.w->gridOrigin().Table, QStringLiteral("l1"));
        QCOMPARE(edit.e->pendingCount(), 1);
        g_answer = QStringLiteral("Discard");
        c.w->Table_list->setCurrentItem(nullptr);
        QVERIFY(c.chooseListedTable(QStringLiteral("l2")));
        QCOMPARE(s.Column(std::string("SELECT id FROM qr_edit.l1")), QStringList({"1"}));
        // Show SQL holds what Apply sends, and nothing is sent by showing it.
        QVERIFY(edit.type(0, 1, QStringLiteral("4")));
        c.w->button(QStringLiteral("Show_sql_button"))->click();
        auto *text = c.w->findChild<QPlainTextEdit *>(QStringLiteral("Show_sql_text"));
        QVERIFY(text);
        QVERIFY(text->toPlainText().contains(
            QStringLiteral("UPDATE `qr_edit`.`l2` SET `id` = 4 WHERE")));
        QCOMPARE(s.Column(std::string("SELECT id FROM qr_edit.l2")), QStringList({"2"}));
    }

    // Random tables, random edits, inserts and deletes over several applies, against a model.
    void randomChanges()
    {
        REQUIRE_SERVER();
        const quint32 seed = qEnvironmentVariableIsSet("QUORVANE_SEED")
                                 ? quint32(qEnvironmentVariableIntValue("QUORVANE_SEED"))
                                 : QRandomGenerator::global()->generate();
        qInfo("seed %u (QUORVANE_SEED repeats it)", seed);
        QRandomGenerator rng(seed);
        const QStringList texts = {"a", "A", "a ", "\xC3\xA4", "", "x'y", "b\\"};
        for (int round = 0; round < 3; ++round) {
            const bool keyed = rng.bounded(2);
            const QString columns =
                keyed ? QStringLiteral("k INT PRIMARY KEY, v VARCHAR(8) COLLATE "
                                       "utf8mb4_general_ci NULL, n INT")
                      : QStringLiteral("v VARCHAR(8) COLLATE utf8mb4_general_ci NULL, n INT");
            QStringList rows;
            const int count = 3 + int(rng.bounded(6));
            for (int i = 0; i < count; ++i) {
                const QString v =
                    QStringLiteral("X'%1'").arg(hex(texts[int(rng.bounded(texts.size()))]));
                rows << (keyed ? QStringLiteral("(%1,%2,%3)").arg(i).arg(v).arg(rng.bounded(3))
                               : QStringLiteral("(%1,%2)").arg(v).arg(rng.bounded(3)));
            }
            Session s;
            QVERIFY(make(s, QStringLiteral("rnd"), columns, rows.join(',')).isEmpty());
            Connected c;
            QVERIFY(c.waitConnected());
            QVERIFY(c.chooseTable(QString::fromLatin1(Db), QStringLiteral("rnd")));
            Editing edit(c);
            int nextKey = 100;
            for (int apply = 0; apply < 2; ++apply) {
                // The model: the rows as the table holds them, the grid's rows in grid order.
                QStringList model = dump(s, QStringLiteral("rnd"));
                QCOMPARE(edit.gridRows(), model);
                std::set<int> touched;
                const int readRows = c.w->Mgrid->RowCount() - 1;
                for (int step = 0; step < 4; ++step) {
                    const int row = 1 + int(rng.bounded(readRows));
                    if (touched.count(row)) continue;
                    touched.insert(row);
                    const QString old = gridRowKeyOf(c.w->Mgrid, row);
                    QVERIFY(model.removeOne(old));
                    if (rng.bounded(4) == 0) {
                        QVERIFY(edit.remove(row));
                        continue;
                    }
                    const int col = keyed ? 1 + int(rng.bounded(2)) : int(rng.bounded(2));
                    const bool isText = (keyed ? col == 1 : col == 0);
                    const QString value = isText ? texts[int(rng.bounded(texts.size()))]
                                                 : QString::number(rng.bounded(5) + 10);
                    // Typing what is there already is no change (nor is typing nothing into
                    // a NULL).
                    const bool same = c.w->Mgrid->CellIsNull(col, row)
                                          ? value.isEmpty()
                                          : value.toUtf8() == QByteArray::fromStdString(std::string(
                                                                  c.w->Mgrid->CellUtf8(col, row)));
                    if (same) {
                        model << old;
                        continue;
                    }
                    QVERIFY(edit.type(col, row, value));
                    model << withColumn(old, col, hex(value));
                }
                if (rng.bounded(2)) {
                    const QString v = texts[int(rng.bounded(texts.size()))];
                    const QString key = QString::number(nextKey++);
                    QVERIFY(edit.insert(keyed ? QStringList{key, v, "1"} : QStringList{v, "1"}));
                    // Nothing typed into a new row's cell leaves it to its default (NULL).
                    const QString vKey = v.isEmpty() ? QStringLiteral("N") : hex(v);
                    model << (keyed ? hex(key) + '|' + vKey + '|' + hex("1")
                                    : vKey + '|' + hex("1"));
                }
                model.sort();
                bool ok = false;
                QVERIFY(edit.apply(&ok));
                QVERIFY2(ok, qPrintable(c.w->PanelText(5)));
                QCOMPARE(dump(s, QStringLiteral("rnd")), model);
                QCOMPARE(edit.gridRows(), model);
            }
        }
    }
};

QTEST_MAIN(TestGridEdit)
#include "test_gridedit.moc"
