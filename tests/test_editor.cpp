// The SQL editor driven through its window against the sandbox: what runs at the cursor, a
// script's tabs and messages, Stop, its own connection beside the main window's, the history
// and its password rule, and an open transaction when it closes.
#include "Cologrid.h"
#include "program.h"
#include "sandbox.h"
#include "sql_editor.h"
#include "sql_history.h"
#include "table_export.h"
#include "tolvar_window.h"
#include "windows_driver.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTextBlock>

#include <sys/stat.h>

class TestEditor : public QObject
{
    Q_OBJECT
private:
    std::unique_ptr<ProgramFolder> m_folder;
    std::unique_ptr<Connected> m_app;
    TSqlEditor *ed() const { return m_app->program->editor.get(); }

    bool runAndWait(void (TSqlEditor::*command)())
    {
        (ed()->*command)();
        return QTest::qWaitFor([this] { return !ed()->isRunning(); }, 20000);
    }
    QStringList messages() const
    {
        QStringList lines;
        for (int i = 0; i < ed()->Messages->count(); ++i)
            lines << ed()->Messages->item(i)->text();
        return lines;
    }
    QStringList tabTitles() const
    {
        QStringList titles;
        for (int i = 0; i < ed()->Results->count(); ++i)
            titles << ed()->Results->tabText(i);
        return titles;
    }
    TMgrid *grid(int tab) const
    {
        return ed()->Results->widget(tab)->findChild<TMgrid *>(QStringLiteral("Result_grid"));
    }
    // The server's own processes running a statement that contains marker.
    static QStringList processesWith(const char *marker)
    {
        Session s;
        return s.Column(TmySQLStatement("SELECT info FROM information_schema.processlist "
                                        "WHERE info LIKE ")
                            .Value(std::string("%") + marker + "%")
                            .Text(" AND id <> CONNECTION_ID()"));
    }

private Q_SLOTS:
    void initTestCase()
    {
        m_folder = std::make_unique<ProgramFolder>();
        QVERIFY(m_folder->ok());
        if (!Server().ok()) return;
        Session s;
        QVERIFY2(s.connected, qPrintable(s.error));
        const QString failed = s.RunEach(
            {"DROP DATABASE IF EXISTS qv_ed", "CREATE DATABASE qv_ed",
             "CREATE TABLE qv_ed.t (id INT PRIMARY KEY, v VARCHAR(20)) ENGINE=InnoDB",
             "INSERT INTO qv_ed.t VALUES (1, 'one'), (2, 'two'), (3, 'three')",
             "CREATE PROCEDURE qv_ed.two_sets() BEGIN SELECT 1 AS a; SELECT 2 AS b, 3 AS c; END",
             // Rows, then an error in a later statement of the procedure.
             "CREATE PROCEDURE qv_ed.rows_then_error() BEGIN "
             "SELECT seq FROM seq_1_to_90000; SELECT * FROM qv_ed.no_such_table; END"});
        QVERIFY2(failed.isEmpty(), qPrintable(failed));
        m_app = std::make_unique<Connected>();
        QVERIFY(m_app->waitConnected());
        QVERIFY(m_app->chooseDatabase(QStringLiteral("qv_ed")));
        m_app->w->action(QStringLiteral("SqlEditor1"))->trigger();
        QVERIFY(ed()->isVisible());
        QTRY_VERIFY(ed()->Database_combo->findText(QStringLiteral("qv_ed")) > 0);
        QCOMPARE(ed()->Database_combo->currentText(), QStringLiteral("qv_ed"));
    }
    void cleanupTestCase()
    {
        m_app.reset();
        QCOMPARE(m_folder->passwordTraces(), QStringList());
        m_folder.reset();
        if (!Server().ok()) return;
        Session s;
        s.RunEach({"DROP DATABASE IF EXISTS qv_ed"});
    }
    void init()
    {
        REQUIRE_SERVER();
        forgetAnswers();
    }

    // The toolbar's glyph opens the same window, named for screen readers by its command.
    void reachedFromTheToolbar()
    {
        ed()->hide();
        QAbstractButton *glyph = m_app->w->button(QStringLiteral("SpeedButton22"));
        QVERIFY(glyph && glyph->isVisible());
        QCOMPARE(glyph->accessibleName(), QStringLiteral("SQL Editor"));
        QCOMPARE(glyph->toolTip(), QStringLiteral("SQL Editor"));
        glyph->click();
        QVERIFY(ed()->isVisible());
        QCOMPARE(ed()->windowTitle(), QStringLiteral("SQL Editor"));
    }

    void ctrlEnterRunsTheStatementMeant_data()
    {
        QTest::addColumn<int>("offset"); // where the cursor stands
        QTest::addColumn<QString>("ran");
        // "SELECT 'a';  SELECT 'b';\n\nSELECT 'c'"
        QTest::newRow("inside the first") << 3 << "1: SELECT 'a'";
        QTest::newRow("after its delimiter, same line") << 11 << "1: SELECT 'a'";
        QTest::newRow("inside the second") << 15 << "1: SELECT 'b'";
        QTest::newRow("blank line after the second") << 25 << "1: SELECT 'b'";
        QTest::newRow("the last, without delimiter") << 29 << "3: SELECT 'c'";
    }
    void ctrlEnterRunsTheStatementMeant()
    {
        QFETCH(int, offset);
        QFETCH(QString, ran);
        ed()->SQL_edit->setPlainText(QStringLiteral("SELECT 'a';  SELECT 'b';\n\nSELECT 'c'"));
        QTextCursor cursor = ed()->SQL_edit->textCursor();
        cursor.setPosition(offset);
        ed()->SQL_edit->setTextCursor(cursor);
        ed()->SQL_edit->setFocus();
        QTest::keyClick(ed()->SQL_edit, Qt::Key_Return, Qt::ControlModifier);
        QTRY_VERIFY(!ed()->isRunning() && ed()->Messages->count() == 1);
        QVERIFY2(messages().first().startsWith(ran + QStringLiteral(" \u2014 1 row in ")),
                 qPrintable(messages().first()));
        QCOMPARE(tabTitles(), QStringList{QStringLiteral("Result 1")});
        QCOMPARE(ed()->SQL_edit->toPlainText().count(QLatin1Char('\n')), 2); // no newline typed
    }

    // A script of a SELECT, an UPDATE, a warning, a bad statement and a CALL with two result
    // sets: a tab per result set, a line per statement, the error at its editor line.
    void runAllScript_data()
    {
        QTest::addColumn<bool>("continueOnError");
        QTest::addColumn<bool>("longText"); // read apart from the window thread
        QTest::newRow("stops at the error") << false << false;
        QTest::newRow("continues") << true << false;
        QTest::newRow("long text, stops at the error") << false << true;
        QTest::newRow("long text, continues") << true << true;
    }
    void runAllScript()
    {
        QFETCH(bool, continueOnError);
        QFETCH(bool, longText);
        Session s;
        s.RunEach({"UPDATE qv_ed.t SET v = 'two' WHERE id = 2"});
        ed()->Continue_check->setChecked(continueOnError);
        ed()->SQL_edit->setPlainText(
            QStringLiteral("SELECT * FROM qv_ed.t;\n"
                           "UPDATE qv_ed.t SET v = 'zwei' WHERE id = 2;\n"
                           "SELECT CAST('1x' AS SIGNED) AS n;\n"
                           "SELECT 1 FROM\n"
                           "  WHERE;\n"
                           "CALL qv_ed.two_sets();") +
            (longText ? QStringLiteral("\n-- ") + QString(300000, 'x') : QString()));
        QTest::keyClick(ed()->SQL_edit, Qt::Key_F5);
        QTRY_VERIFY_WITH_TIMEOUT(!ed()->isRunning(), 20000);
        // The save that was due when Run all took the text is made of that text, whole.
        const auto kept = [] {
            QFile file(TSqlEditor::textPath());
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        };
        QTRY_COMPARE(kept(), ed()->SQL_edit->toPlainText().toUtf8());
        const QStringList lines = messages();
        QVERIFY2(
            lines.value(0).startsWith(QStringLiteral("1: SELECT * FROM qv_ed.t \u2014 3 rows in ")),
            qPrintable(lines.join('\n')));
        QVERIFY2(lines.value(1).startsWith(QStringLiteral(
                     "2: UPDATE qv_ed.t SET v = 'zwei' WHERE id = 2 \u2014 1 row affected (Rows "
                     "matched: 1 Changed: 1 Warnings: 0) in ")),
                 qPrintable(lines.value(1)));
        QVERIFY2(lines.value(2).contains(QStringLiteral("1 row in ")) &&
                     lines.value(2).endsWith(QStringLiteral(", 1 warning")),
                 qPrintable(lines.value(2)));
        QVERIFY2(lines.value(3).startsWith(QStringLiteral("    Warning 1292 Truncated")),
                 qPrintable(lines.value(3)));
        // The server says "at line 2" of the statement that starts on line 4.
        QVERIFY2(lines.value(4).startsWith(QStringLiteral(
                     "4: SELECT 1 FROM WHERE \u2014 Error 1064 (42000) at line 5: ")),
                 qPrintable(lines.value(4)));
        QCOMPARE(ed()->SQL_edit->textCursor().blockNumber() + 1, 5);
        QCOMPARE(s.Column(std::string("SELECT v FROM qv_ed.t WHERE id = 2")),
                 QStringList{QStringLiteral("zwei")});
        if (continueOnError) {
            QCOMPARE(lines.size(), 6);
            QVERIFY2(lines[5].startsWith(QStringLiteral(
                         "6: CALL qv_ed.two_sets() \u2014 2 result sets, 2 rows in ")),
                     qPrintable(lines[5]));
            QCOMPARE(tabTitles(), (QStringList{"Result 1", "Result 2", "Result 3", "Result 4"}));
            QCOMPARE(grid(3)->Cells(1, 0), QStringLiteral("c"));
            QCOMPARE(grid(3)->Cells(1, 1), QStringLiteral("3"));
        } else {
            QCOMPARE(lines.size(), 6);
            QCOMPARE(lines[5], QStringLiteral("1 statement not run"));
            QCOMPARE(tabTitles(), (QStringList{"Result 1", "Result 2"}));
        }
        QCOMPARE(grid(0)->Cells(1, 3), QStringLiteral("three"));
        QVERIFY(ed()->Status_line->text().contains(QStringLiteral("qv_ed")));
    }

    // An error after 90,000 rows of a procedure: reported, and the rows read stay in their tab.
    void errorAfterRowsIsReported()
    {
        ed()->Continue_check->setChecked(false);
        ed()->SQL_edit->setPlainText(QStringLiteral("CALL qv_ed.rows_then_error()"));
        QVERIFY(runAndWait(&TSqlEditor::RunAllClick));
        QCOMPARE(messages().size(), 1);
        QVERIFY2(messages().first().contains(QStringLiteral("Error 1146 (42S02)")),
                 qPrintable(messages().first()));
        QCOMPARE(tabTitles(), QStringList{QStringLiteral("Result 1")});
        QCOMPARE(grid(0)->RowCount(), 90001);
    }

    // A result tab's rows go to a file as shown, named after their one table; the dialog offers
    // no whole-table read for rows that are no table's. A result with a column of no table's is
    // "result".
    void resultTabExported_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("file");
        QTest::newRow("one table")
            << "SELECT id, v FROM qv_ed.t WHERE id <> 2 ORDER BY id DESC"
            << "t"
            << QByteArray("INSERT INTO `t` (`id`, `v`) VALUES (3, 'three');\n"
                          "INSERT INTO `t` (`id`, `v`) VALUES (1, 'one');\n");
        QTest::newRow("not only a table's")
            << "SELECT id, 'x' AS k FROM qv_ed.t WHERE id = 1"
            << "result" << QByteArray("INSERT INTO `result` (`id`, `k`) VALUES (1, 'x');\n");
    }
    void resultTabExported()
    {
        QFETCH(QString, sql);
        QFETCH(QString, name);
        QFETCH(QByteArray, file);
        ed()->SQL_edit->setPlainText(sql);
        QVERIFY(runAndWait(&TSqlEditor::RunAllClick));
        static TExportOptions asked, chosen;
        chosen = TExportOptions();
        chosen.Format = rowformat::Kind::Insert;
        chosen.Path = QDir::current().absoluteFilePath(QStringLiteral("result.sql"));
        exportdialog::setAsker([](QWidget *, const TExportOptions &defaults) {
            asked = defaults;
            return std::optional<TExportOptions>(chosen);
        });
        ed()->Export_result_button->click();
        exportdialog::setAsker(nullptr);
        QVERIFY(!asked.TableChoice);
        QVERIFY(!asked.WholeTable);
        QCOMPARE(asked.Path, name + QStringLiteral(".csv"));
        QFile out(chosen.Path);
        QVERIFY(out.open(QIODevice::ReadOnly));
        QCOMPARE(out.readAll(), file);
        out.remove();
    }

    // Stop during a long SELECT: the server's process list is free of it, the rows read stay,
    // and the same connection runs the next statement.
    void stopEndsTheStatement()
    {
        ed()->SQL_edit->setPlainText(
            QStringLiteral("SELECT 'qv_stop_marker', a.seq, b.seq FROM seq_1_to_10000 a, "
                           "seq_1_to_1000 b"));
        ed()->RunClick();
        QTRY_VERIFY(ed()->Results->count() == 1 && grid(0)->RowCount() > 1);
        const std::uint64_t id = ed()->Connection()->Utility()->ConnectionId();
        QVERIFY(ed()->Stop_sql_button->isEnabled());
        ed()->Stop_sql_button->click();
        QTRY_VERIFY_WITH_TIMEOUT(!ed()->isRunning(), 10000);
        QVERIFY2(messages().value(0).contains(QStringLiteral("Stopped after ")),
                 qPrintable(messages().join('\n')));
        QTRY_COMPARE(processesWith("qv_stop_marker"), QStringList());
        QVERIFY(grid(0)->RowCount() > 1 && grid(0)->RowCount() < 10000001);
        ed()->SQL_edit->setPlainText(QStringLiteral("SELECT CONNECTION_ID()"));
        QVERIFY(runAndWait(&TSqlEditor::RunClick));
        QCOMPARE(grid(0)->Cells(0, 1), QString::number(id));
        QVERIFY(!ed()->Stop_sql_button->isEnabled());
    }

    // The editor's statement sleeps on its own connection: the main window is answered meanwhile.
    void browsingIsNotHeldUp()
    {
        ed()->SQL_edit->setPlainText(QStringLiteral("SELECT SLEEP(3)"));
        ed()->RunClick();
        QTRY_VERIFY(!processesWith("SLEEP(3)").isEmpty());
        QVERIFY(m_app->chooseDatabase(QStringLiteral("shop")));
        QVERIFY2(ed()->isRunning(), "the main window waited for the editor's statement");
        QTRY_VERIFY_WITH_TIMEOUT(!ed()->isRunning(), 10000);
        QVERIFY(ed()->Connection()->Utility()->ConnectionId() !=
                m_app->w->mysql->Utility()->ConnectionId());
    }

    // Past the cap the file is trimmed in the background while entries keep coming: none of
    // those is lost, the newest is last, the order kept, and the file stays owner-only.
    void historyTrimmedWhileAdding()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("h.jsonl"));
        const int total = TSqlHistory::Cap + TSqlHistory::Cap / 5 + 37;
        {
            TSqlHistory history(path);
            for (int i = 0; i < total; ++i)
                QCOMPARE(history.add({QStringLiteral("SELECT %1").arg(i), QString(),
                                      QDateTime::currentDateTimeUtc(), 1, QStringLiteral("OK")}),
                         TSqlHistory::Added::Written);
        }
        const TSqlHistory again(path);
        const auto &entries = again.entries();
        QVERIFY(entries.size() <= std::size_t(TSqlHistory::Cap));
        QVERIFY(entries.size() >= std::size_t(TSqlHistory::Cap - TSqlHistory::Cap / 10));
        for (std::size_t i = 0; i < entries.size(); ++i)
            QCOMPARE(entries[i].Text,
                     QStringLiteral("SELECT %1").arg(total - int(entries.size()) + int(i)));
        struct stat st
        {
        };
        QCOMPARE(::stat(QFile::encodeName(path).constData(), &st), 0);
        QCOMPARE(st.st_mode & 0777, 0600u);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
    }

    // Every statement run goes to the history file (owner-only), but those that can carry a
    // password; a double-click puts an entry back.
    void historyKeepsNoPassword()
    {
        const QString secret = QStringLiteral("qv-secret-4711");
        ed()->Continue_check->setChecked(true);
        ed()->SQL_edit->setPlainText(
            QStringLiteral("SELECT 'qv_history_1';\n"
                           "alter user nobody_qv@localhost identified by '%1';\n"
                           "SET PASSWORD FOR nobody_qv@localhost = PASSWORD('%1');\n"
                           "CREATE OR REPLACE USER /* x */ nobody_qv@localhost;\n"
                           "GRANT SELECT ON qv_ed.* TO nobody_qv@localhost;\n"
                           "DROP USER IF EXISTS nobody_qv@localhost;\n"
                           "SELECT 'qv_history_2'")
                .arg(secret));
        QVERIFY(runAndWait(&TSqlEditor::RunAllClick));
        QCOMPARE(messages().size(), 7);
        QFile file(ed()->History().path());
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray all = file.readAll();
        QVERIFY(!all.contains(secret.toUtf8()));
        QVERIFY(!all.contains("nobody_qv@localhost;") || all.contains("DROP USER"));
        const QList<QByteArray> lines = all.trimmed().split('\n');
        QVERIFY(lines.size() >= 3);
        QVERIFY(lines[lines.size() - 3].contains("qv_history_1"));
        QVERIFY(lines[lines.size() - 2].contains("DROP USER"));
        QVERIFY(lines.last().contains("qv_history_2") && lines.last().contains("\"db\":\"qv_ed\""));
        struct stat st
        {
        };
        QCOMPARE(::stat(QFile::encodeName(file.fileName()).constData(), &st), 0);
        QCOMPARE(st.st_mode & 0777, 0600u);
        ed()->SQL_edit->clear();
        QListWidgetItem *last = ed()->History_list->item(ed()->History_list->count() - 1);
        Q_EMIT ed()->History_list->itemDoubleClicked(last);
        QCOMPARE(ed()->SQL_edit->toPlainText(), QStringLiteral("SELECT 'qv_history_2';"));
    }

    // An open transaction when the editor closes: the user's answer decides, Cancel keeps it.
    void openTransactionOnClose_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<bool>("viaDisconnect");
        QTest::addColumn<QStringList>("rows");
        QTest::newRow("cancel") << "Cancel" << false << QStringList{"one"};
        QTest::newRow("roll back") << "Roll back" << false << QStringList{"one"};
        QTest::newRow("commit, on disconnect") << "Commit" << true << QStringList{"uno"};
    }
    void openTransactionOnClose()
    {
        QFETCH(QString, answer);
        QFETCH(bool, viaDisconnect);
        QFETCH(QStringList, rows);
        Session s;
        s.RunEach({"UPDATE qv_ed.t SET v = 'one' WHERE id = 1"});
        if (!m_app->w->mysql->Connected()) {
            m_app->w->action(QStringLiteral("Connect1"))->trigger();
            m_app->program->login->login_connectClick();
            QVERIFY(m_app->waitConnected());
        }
        ed()->show();
        ed()->SQL_edit->setPlainText(
            QStringLiteral("BEGIN; UPDATE qv_ed.t SET v = 'uno' WHERE id = 1;"));
        QVERIFY(runAndWait(&TSqlEditor::RunAllClick));
        QVERIFY(ed()->Status_line->text().contains(QStringLiteral("In a transaction")));
        g_answer = answer;
        if (viaDisconnect)
            m_app->w->action(QStringLiteral("Disconnect1"))->trigger();
        else
            ed()->close();
        QCOMPARE(g_questions.size(), 1);
        QVERIFY(g_questions.first().startsWith(QStringLiteral("SQL Editor|A transaction is open")));
        const bool cancelled = answer == QLatin1String("Cancel");
        QCOMPARE(ed()->isVisible(), cancelled || viaDisconnect);
        QCOMPARE(ed()->Connection()->Connected(), cancelled);
        QCOMPARE(s.Column(std::string("SELECT v FROM qv_ed.t WHERE id = 1")), rows);
        if (cancelled) {
            g_answer = QStringLiteral("Roll back");
            ed()->close();
        }
        QTRY_VERIFY(!ed()->Connection()->Connected());
        if (viaDisconnect) QTRY_VERIFY(!m_app->w->mysql->Connected());
    }

    // Without the main connection the editor says so and sends nothing.
    void notConnectedSaysSo()
    {
        if (m_app->w->mysql->Connected()) {
            m_app->w->action(QStringLiteral("Disconnect1"))->trigger();
            QTRY_VERIFY(!m_app->w->mysql->Connected());
        }
        ed()->show();
        ed()->Messages->clear();
        ed()->SQL_edit->setPlainText(QStringLiteral("SELECT 1"));
        ed()->RunClick();
        QVERIFY(!ed()->isRunning());
        QVERIFY(ed()->Status_line->text().startsWith(QStringLiteral("Not connected")));
        QCOMPARE(ed()->Messages->count(), 0);
        QCOMPARE(g_beeps, 1);
    }
};

QTEST_MAIN(TestEditor)
#include "test_editor.moc"
