// Bad input through the real windows, one table of cases each: what the program reports, what
// the server holds afterwards, and, from the server's general log, that nothing reached it but
// the intended statement.
#include "Animate.h"
#include "windows_driver.h"

#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QRegularExpression>
#include <QStackedWidget>
#include <QTemporaryDir>

namespace {
// The statements the server logged for the program's connection since the last mark.
class GeneralLog
{
public:
    GeneralLog()
    {
        m_session.Run(std::string("SET GLOBAL log_output = 'TABLE'"));
        m_session.Run(std::string("SET GLOBAL general_log = 1"));
    }
    ~GeneralLog() { m_session.Run(std::string("SET GLOBAL general_log = 0")); }
    // The program's connection, by the number the server gave it: other suites may be
    // connected as the same user at the same time.
    void follow(std::uint64_t connection)
    {
        m_thread = QString::number(connection);
        mark();
    }
    void mark()
    {
        m_since = m_session
                      .Column(std::string("SELECT COALESCE(MAX(event_time), NOW(6)) FROM "
                                          "mysql.general_log"))
                      .value(0);
    }
    QStringList statements()
    {
        return m_session.Column(TmySQLStatement("SELECT CONVERT(argument USING utf8mb4) FROM "
                                                "mysql.general_log WHERE command_type = 'Query' "
                                                "AND thread_id = ")
                                    .Value(m_thread.toStdString())
                                    .Text(" AND event_time > ")
                                    .Value(m_since.toStdString())
                                    .Text(" ORDER BY event_time"));
    }
    Session m_session;

private:
    QString m_thread;
    QString m_since;
};

// What the other databases hold, to see that nothing else changed.
QStringList fingerprint(Session &s)
{
    QStringList sums;
    for (const char *table : {"shop.customers", "shop.products", "shop.orders", "demo.with_nulls",
                              "demo.big_table", "`kraków`.rynek"}) {
        s.Run(std::string("CHECKSUM TABLE ") + table);
        sums << QString::fromUtf8(s.q()->ValueBytes(0, 1));
    }
    sums << s.Column(std::string("SHOW DATABASES")).join(QLatin1Char(','));
    return sums;
}

QString quoted(const QString &name)
{
    return QString::fromStdString(QuoteIdentifier(name.toStdString()));
}

const QString Long64 = QString(64, QLatin1Char('n'));
const QString Long65 = QString(65, QLatin1Char('n'));

void nameCases()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("blank") << "qb a b" << true;
    QTest::newRow("backtick") << "qb`tick" << true;
    QTest::newRow("single quote") << "qb'q" << true;
    QTest::newRow("double quote") << "qb\"q" << true;
    QTest::newRow("backslash") << "qb\\b" << true;
    QTest::newRow("semicolon") << "qb;DROP DATABASE shop" << true;
    QTest::newRow("comment") << "qb-- x" << true;
    QTest::newRow("keyword") << "select" << true;
    QTest::newRow("wildcards") << "qb%_" << true;
    QTest::newRow("non-ASCII") << QString::fromUtf8("qb_żółw_日本") << true;
    QTest::newRow("64 characters") << Long64 << true;
    QTest::newRow("65 characters") << Long65 << false;
}
} // namespace

class TestBadInput : public QObject
{
    Q_OBJECT
private:
    std::unique_ptr<ProgramFolder> m_folder;
    QStringList m_fingerprint;

private Q_SLOTS:
    void initTestCase()
    {
        m_folder = std::make_unique<ProgramFolder>();
        QVERIFY(m_folder->ok());
        if (!Server().ok()) return;
        Session s;
        s.Run(std::string("DROP DATABASE IF EXISTS qb_work"));
        s.Run(std::string("CREATE DATABASE qb_work"));
        m_fingerprint = fingerprint(s);
        m_fingerprint.removeLast(); // the database list changes here on purpose
    }
    void cleanupTestCase()
    {
        // No password in any file the program wrote, but where it is kept without a keyring.
        QCOMPARE(m_folder->passwordTraces(), QStringList());
        m_folder.reset();
        if (!Server().ok()) return;
        Session s;
        QStringList now = fingerprint(s);
        now.removeLast();
        QCOMPARE(now, m_fingerprint); // nothing else was touched
        s.Run(std::string("DROP DATABASE IF EXISTS qb_work"));
    }
    void init() { forgetAnswers(); }

    void portTexts_data()
    {
        QTest::addColumn<QString>("port");
        for (const char *text : {"", "   ", "3306 ", "$", "0x", "-$CEA", "$123456789", "+",
                                 "2147483648", "33 06", "3306;DROP"})
            QTest::newRow(text) << QString::fromLatin1(text);
        QTest::newRow("very long") << QString(10000, QLatin1Char('9'));
        QTest::newRow("fullwidth digits") << QString::fromUtf8("３３０６");
        QTest::newRow("arabic-indic digits") << QString::fromUtf8("٣٣٠٦");
    }
    void portTexts()
    {
        QFETCH(QString, port);
        TProgram program;
        QTRY_COMPARE(g_boxes.size(), 1); // no settings here
        program.login->Port_edit->setText(port);
        program.login->login_connect->click();
        QCOMPARE(g_boxes.size(), 2);
        QCOMPARE(g_boxes.last(),
                 QStringLiteral("MySQL Quorvane|'%1' is not a valid integer value.").arg(port));
        QCOMPARE(program.login->Port_edit->text(), port); // no length limit of its own
        QVERIFY(!QFile::exists(QStringLiteral("settings.ini")));
        QTest::qWait(50);
        QCOMPARE(program.tolvar->PanelText(1), QStringLiteral("Disconnected"));
    }

    void longConnectionValues()
    {
        REQUIRE_SERVER();
        TProgram program;
        QTRY_COMPARE(g_boxes.size(), 1);
        program.login->Host_edit->setText(QString(10000, QLatin1Char('h')));
        program.login->User_edit->setText(QString(200, QLatin1Char('u')));
        program.login->Password_edit->setText(QString(1000, QLatin1Char('p')));
        program.login->Port_edit->setText(QString::number(Server().port));
        program.login->login_connect->click();
        QTRY_COMPARE_WITH_TIMEOUT(g_boxes.size(), 2, 15000);
        QVERIFY2(g_boxes.last().startsWith(QStringLiteral("Error|ERROR:")),
                 qPrintable(g_boxes.last()));
        QCOMPARE(g_beeps, 1);
        QCOMPARE(program.login->Host_edit->text().size(), 10000);
        // Written whole, and read back whole at the next start.
        const auto saved = settings_ini::read();
        QVERIFY(saved);
        QCOMPARE(saved->Host.size(), 10000);
        QCOMPARE(saved->Password.size(), 1000);
        // Too long a user name for the server, too: a clear report, then a good connect.
        program.login->Host_edit->setText(Server().host);
        program.login->User_edit->setText(Server().user);
        program.login->Password_edit->setText(QString(1000, QLatin1Char('p')));
        program.login->login_connect->click();
        QTRY_COMPARE_WITH_TIMEOUT(g_boxes.size(), 3, 15000);
        QVERIFY(g_boxes.last().contains(QStringLiteral("Access denied")));
    }

    void databaseNames_data() { nameCases(); }
    void databaseNames()
    {
        REQUIRE_SERVER();
        QFETCH(QString, name);
        QFETCH(bool, accepted);
        Session s;
        s.Run(TmySQLStatement("DROP DATABASE IF EXISTS ").Identifier(name.toStdString()));
        GeneralLog log;
        Connected c;
        QVERIFY(c.waitConnected());
        c.w->Usuwaj->FrameInterval = 2;
        log.follow(c.w->mysql->Utility()->ConnectionId());
        c.w->button(QStringLiteral("SpeedButton3"))->click();
        c.w->data_name_text->setText(name);
        c.w->setPanelText(5, QStringLiteral("-"));
        c.w->button(QStringLiteral("SpeedButton2"))->click();
        QVERIFY(c.waitReport());
        QCOMPARE(log.statements(),
                 QStringList(QStringLiteral("Create Database %1").arg(quoted(name))));
        const bool exists = s.Column(TmySQLStatement("SELECT SCHEMA_NAME FROM "
                                                     "information_schema.SCHEMATA WHERE "
                                                     "SCHEMA_NAME = ")
                                         .Value(name.toStdString()))
                                .size() == 1;
        QCOMPARE(exists, accepted);
        if (!accepted) {
            QVERIFY2(c.w->PanelText(5).contains(QStringLiteral("name")),
                     qPrintable(c.w->PanelText(5)));
            return;
        }
        QCOMPARE(c.w->PanelText(5), QString());
        // And away again, through the confirmation page.
        c.w->button(QStringLiteral("SpeedButton19"))->click();
        QTRY_VERIFY(node(c.w->Tree_view, name));
        QVERIFY(c.chooseDatabase(name));
        log.mark();
        c.w->button(QStringLiteral("SpeedButton4"))->click();
        QCOMPARE(c.w->Data_name_caption->text(), name + QStringLiteral(" ?"));
        c.w->button(QStringLiteral("SpeedButton6"))->click();
        QTRY_COMPARE(c.w->Notebook->currentIndex(), int(Ttolvar::Database_Deleted));
        QVERIFY(c.waitReport());
        QCOMPARE(log.statements(),
                 QStringList(QStringLiteral("Drop Database %1").arg(quoted(name))));
        QCOMPARE(c.w->PanelText(5), QString());
    }

    void tableAndFieldNames_data() { nameCases(); }
    void tableAndFieldNames()
    {
        REQUIRE_SERVER();
        QFETCH(QString, name);
        QFETCH(bool, accepted);
        Session s;
        s.Run(std::string("DROP DATABASE IF EXISTS qb_work"));
        s.Run(std::string("CREATE DATABASE qb_work"));
        GeneralLog log;
        Connected c;
        QVERIFY(c.waitConnected());
        QVERIFY(c.chooseDatabase(QStringLiteral("qb_work")));
        log.follow(c.w->mysql->Utility()->ConnectionId());
        c.w->button(QStringLiteral("SpeedButton11"))->click();
        c.w->TC_F_Name->setText(name);
        c.w->TC_F_TYPE->setCurrentText(QStringLiteral("INT"));
        c.w->button(QStringLiteral("SpeedButton16"))->click();
        c.w->TC_Name->setText(name);
        c.w->setPanelText(5, QStringLiteral("-"));
        c.w->button(QStringLiteral("SpeedButton15"))->click();
        QVERIFY(c.waitReport());
        // In the database the window shows, named with it.
        QCOMPARE(
            log.statements(),
            QStringList(QStringLiteral("Create Table `qb_work`.%1 ( %1 INT )").arg(quoted(name))));
        const QStringList columns =
            s.Column(TmySQLStatement("SELECT COLUMN_NAME FROM information_schema.COLUMNS WHERE "
                                     "TABLE_SCHEMA = 'qb_work' AND TABLE_NAME = ")
                         .Value(name.toStdString()));
        QCOMPARE(columns, accepted ? QStringList(name) : QStringList());
        if (!accepted) return;
        QCOMPARE(c.w->PanelText(5), QString());
        // The new table is listed and read back, by its own name.
        QVERIFY(c.chooseDatabase(QStringLiteral("qb_work")));
        QVERIFY(c.chooseListedTable(name));
        QCOMPARE(c.cell(0, 0), name);
    }

    void rowValuesForTheDelete_data() { addSqlModeRows(); }
    void rowValuesForTheDelete()
    {
        REQUIRE_SERVER();
        QFETCH(QString, mode);
        Session s;
        s.Run(std::string("DROP TABLE IF EXISTS qb_work.v"));
        s.Run(std::string("CREATE TABLE qb_work.v (k VARCHAR(20), v LONGTEXT NULL, f DOUBLE "
                          "NULL, b LONGBLOB NULL)"));
        const std::string longText(100000, 'L');
        struct Row
        {
            const char *key;
            std::optional<std::string> value;
        };
        const std::vector<Row> rows = {{"pct", "50%"},         {"pct-alike", "50x"},
                                       {"under", "a_c"},       {"under-alike", "abc"},
                                       {"quote", "it's"},      {"dquote", "say \"hi\""},
                                       {"back", "C:\\dir\\"},  {"nul", std::string("a\0b", 3)},
                                       {"null", std::nullopt}, {"empty", ""},
                                       {"long", longText},     {"semi", "x'; DROP TABLE v; --"}};
        for (const Row &r : rows) {
            s.Run(TmySQLStatement("INSERT INTO qb_work.v (k, v, f, b) VALUES (")
                      .Value(std::string(r.key))
                      .Text(", ")
                      .Value(r.value)
                      .Text(", 0.5, ")
                      .HexValue(r.value.value_or(""))
                      .Text(")"));
            QVERIFY2(s.error.isEmpty(), qPrintable(s.error));
        }
        GeneralLog log;
        Connected c;
        QVERIFY(c.waitConnected());
        QVERIFY(c.setSqlMode(mode));
        QVERIFY(c.chooseTable(QStringLiteral("qb_work"), QStringLiteral("v")));
        log.follow(c.w->mysql->Utility()->ConnectionId());
        int expected = int(rows.size());
        for (const Row &r : rows) {
            const QString key = QString::fromLatin1(r.key);
            int row = -1;
            for (int i = 1; i < c.w->Mgrid->RowCount(); ++i)
                if (c.cell(0, i) == key) row = i;
            QVERIFY2(row > 0, r.key);
            c.clickCell(0, row);
            log.mark();
            c.w->setPanelText(5, QStringLiteral("-"));
            c.w->button(QStringLiteral("SpeedButton17"))->click();
            QVERIFY(c.waitReport());
            QVERIFY2(c.w->PanelText(5).isEmpty(), qPrintable(key + ": " + c.w->PanelText(5)));
            --expected;
            QCOMPARE(s.Column(std::string("SELECT COUNT(*) FROM qb_work.v")).value(0),
                     QString::number(expected));
            QCOMPARE(s.Column(TmySQLStatement("SELECT COUNT(*) FROM qb_work.v WHERE k = ")
                                  .Value(std::string(r.key)))
                         .value(0),
                     QStringLiteral("0"));
            const QStringList sent = log.statements();
            QCOMPARE(sent.size(), 1);
            // The key compared by its bytes alone: a collation test of the literal converted back
            // could name another row that reads the same.
            QVERIFY2(sent.first().startsWith(QStringLiteral(
                         "Delete From `qb_work`.`v` Where CAST(CONVERT(`k` USING utf8mb4) AS "
                         "BINARY) = X'")),
                     qPrintable(sent.first().left(200)));
            QVERIFY(sent.first().endsWith(QStringLiteral(" LIMIT 1"))); // the log drops the ';'
            // Every value is a hexadecimal literal: nothing in the statement was escaped.
            QString unquoted = sent.first();
            unquoted.remove(QRegularExpression(QStringLiteral("X'[0-9A-F]*'")));
            QVERIFY2(!unquoted.contains(QLatin1Char('\'')) && !unquoted.contains(QLatin1Char('"')),
                     qPrintable(unquoted.left(300)));
        }
    }

    void consoleTexts()
    {
        REQUIRE_SERVER();
        Connected c;
        QVERIFY(c.waitConnected());
        QTRY_COMPARE(consoleLines(*c.program).last(), QStringLiteral("Returned Query:List Data"));
        auto send = [&](const QString &sql) {
            const int before = consoleLines(*c.program).size();
            c.program->console->Edit1->setText(sql);
            c.program->console->SpeedButton1->click();
            return QTest::qWaitFor([&] { return consoleLines(*c.program).size() > before + 1; },
                                   20000);
        };
        // Empty: sent as it is, refused by the server, said.
        c.w->setPanelText(5, QString());
        QVERIFY(send(QString()));
        QCOMPARE(c.w->PanelText(5), QStringLiteral("Query was empty"));
        // One megabyte: fine.
        const QString mega = QStringLiteral("SELECT '") + QString(1024 * 1024, QLatin1Char('m')) +
                             QStringLiteral("'");
        QVERIFY(send(mega));
        QTRY_COMPARE(consoleLines(*c.program).last(), QStringLiteral("Query Done."));
        // Twenty megabytes: beyond what the server takes; a clear message, nothing hangs.
        c.w->setPanelText(5, QString());
        const QString twenty = QStringLiteral("SELECT '") +
                               QString(20 * 1024 * 1024, QLatin1Char('t')) + QStringLiteral("'");
        QVERIFY(send(twenty));
        QTRY_VERIFY_WITH_TIMEOUT(!c.w->PanelText(5).isEmpty(), 20000);
        QVERIFY2(c.w->PanelText(5).contains(QStringLiteral("max_allowed_packet")) ||
                     c.w->PanelText(5).contains(QStringLiteral("gone away")) ||
                     c.w->PanelText(5).contains(QStringLiteral("Lost connection")),
                 qPrintable(c.w->PanelText(5)));
    }
};

QTEST_MAIN(TestBadInput)
#include "test_badinput.moc"
