// The lexer: scripts and the statements they split into, with their first lines; which
// statement a cursor means; the same reading line by line, as the highlighter asks; and what
// the editor's messages and history make of statements.
#include "SqlLexer.h"
#include "SqlScript.h"

#include <QTest>

namespace {
// "first line: text" for every statement, joined by " | ".
QString described(const std::string &script)
{
    QStringList parts;
    for (const sqllex::Statement &s : sqllex::split(script))
        parts << QStringLiteral("%1: %2")
                     .arg(s.firstLine)
                     .arg(QString::fromStdString(script.substr(s.begin, s.end - s.begin)));
    return parts.join(QStringLiteral(" | "));
}
} // namespace

class TestSqlLexer : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void statements_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("expected");
        QTest::newRow("two on a line") << "SELECT 1; SELECT 2;"
                                       << "1: SELECT 1 | 1: SELECT 2";
        QTest::newRow("no last delimiter, lines") << "SELECT 1;\n\n  SELECT\n  2"
                                                  << "1: SELECT 1 | 3: SELECT\n  2";
        QTest::newRow("quotes, doubled and escaped")
            << "SELECT 'a;''b', \"c;\\\"d\", 'e\\';f'; SELECT 2"
            << "1: SELECT 'a;''b', \"c;\\\"d\", 'e\\';f' | 1: SELECT 2";
        QTest::newRow("backticks") << "SELECT `a;``b` FROM t;x"
                                   << "1: SELECT `a;``b` FROM t | 1: x";
        QTest::newRow("comments") << "-- a; b\nSELECT 1 # c; d\n, 2 /* e; f */;\n-- g;\n"
                                  << "2: SELECT 1 # c; d\n, 2";
        QTest::newRow("-- needs a blank") << "SELECT 1--2;"
                                          << "1: SELECT 1--2";
        QTest::newRow("executable comment kept")
            << "/*!40101 SET NAMES utf8 */;\n/*M!100100 SELECT 1 */;"
            << "1: /*!40101 SET NAMES utf8 */ | 2: /*M!100100 SELECT 1 */";
        QTest::newRow("empty statements skipped") << " ;;\n; -- only a comment\n;SELECT 1"
                                                  << "3: SELECT 1";
        QTest::newRow("procedure body under DELIMITER")
            << "DELIMITER $$\nCREATE PROCEDURE p()\nBEGIN\n  SELECT 1;\n  SELECT 2;\nEND$$\n"
               "delimiter ;\nCALL p();"
            << "2: CREATE PROCEDURE p()\nBEGIN\n  SELECT 1;\n  SELECT 2;\nEND | 8: CALL p()";
        QTest::newRow("DELIMITER inside a string is text")
            << "SELECT '\nDELIMITER $$\n'; SELECT 2"
            << "1: SELECT '\nDELIMITER $$\n' | 3: SELECT 2";
        QTest::newRow("unterminated quote at the end") << "SELECT 1; SELECT 'a;b"
                                                       << "1: SELECT 1 | 1: SELECT 'a;b";
        QTest::newRow("unterminated comment at the end") << "SELECT 1 /* ; ;"
                                                         << "1: SELECT 1";
        QTest::newRow("non-ASCII names") << "SELECT zażółć FROM `kraków`;"
                                         << "1: SELECT zażółć FROM `kraków`";
    }
    void statements()
    {
        QFETCH(QString, script);
        QFETCH(QString, expected);
        QCOMPARE(described(script.toStdString()), expected);
    }

    // Ctrl+Enter: '|' marks the cursor; the statement it runs, or -1.
    void statementAtTheCursor_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<int>("expected");
        QTest::newRow("inside the first") << "SEL|ECT 1;\nSELECT 2;" << 0;
        QTest::newRow("inside the second") << "SELECT 1;\nSELECT |2;" << 1;
        QTest::newRow("after a delimiter, same line") << "SELECT 1; |\nSELECT 2;" << 0;
        QTest::newRow("after the delimiter, before the next on the line")
            << "SELECT 1;| SELECT 2;" << 0;
        QTest::newRow("blank line right after") << "SELECT 1;\n|\nSELECT 2;" << 0;
        QTest::newRow("two lines below") << "SELECT 1;\n\n|\n\nSELECT 2;" << -1;
        QTest::newRow("indent before a statement") << "SELECT 1;\n\n  |SELECT 2;" << 1;
        QTest::newRow("end of a last statement without delimiter") << "SELECT 1;\nSELECT 2|" << 1;
        QTest::newRow("empty text") << "|" << -1;
    }
    void statementAtTheCursor()
    {
        QFETCH(QString, script);
        QFETCH(int, expected);
        std::string text = script.toStdString();
        const std::size_t cursor = text.find('|');
        text.erase(cursor, 1);
        QCOMPARE(sqllex::statementAt(sqllex::split(text), text, cursor), expected);
    }

    // Read line by line, carrying the state, a script gives the tokens of reading it whole.
    void lineByLineAgreesWithTheWhole()
    {
        const std::string script = "DELIMITER //\nSELECT 'a\nb' /* c\nd */, `e\nf` //\n"
                                   "DELIMITER ;\nSELECT 1; -- x\n";
        std::vector<sqllex::Token> whole;
        sqllex::scan(script, sqllex::State(), whole);
        std::vector<sqllex::Token> joined;
        sqllex::State state;
        std::size_t at = 0;
        while (at < script.size()) {
            const std::size_t end = std::min(script.find('\n', at), script.size());
            std::vector<sqllex::Token> line;
            state = sqllex::scan(std::string_view(script).substr(at, end - at), state, line);
            for (sqllex::Token t : line) {
                t.begin += at;
                // A token the whole reading carries over the line end is two here: join them.
                if (!joined.empty() && joined.back().kind == t.kind &&
                    t.kind != sqllex::Kind::Space &&
                    joined.back().begin + joined.back().length + 1 == t.begin &&
                    script[t.begin - 1] == '\n') {
                    joined.back().length += t.length + 1;
                    continue;
                }
                joined.push_back(t);
            }
            at = end + 1;
        }
        std::vector<sqllex::Token> wholeNoSpace;
        for (const sqllex::Token &t : whole)
            if (t.kind != sqllex::Kind::Space) wholeNoSpace.push_back(t);
        std::vector<sqllex::Token> joinedNoSpace;
        for (const sqllex::Token &t : joined)
            if (t.kind != sqllex::Kind::Space) joinedNoSpace.push_back(t);
        QCOMPARE(joinedNoSpace.size(), wholeNoSpace.size());
        for (std::size_t i = 0; i < wholeNoSpace.size(); ++i) {
            QCOMPARE(int(joinedNoSpace[i].kind), int(wholeNoSpace[i].kind));
            QCOMPARE(joinedNoSpace[i].begin, wholeNoSpace[i].begin);
            QCOMPARE(joinedNoSpace[i].length, wholeNoSpace[i].length);
        }
        QCOMPARE(state.delimiter, std::string(";"));
        QCOMPARE(state.open, sqllex::State::None);
    }

    // Statements kept out of the history, and look-alikes that are not.
    void passwordRule_data()
    {
        QTest::addColumn<QString>("statement");
        QTest::addColumn<bool>("withheld");
        QTest::newRow("identified, lower case") << "create user u identified by 'x'" << true;
        QTest::newRow("set password") << "SET PASSWORD = PASSWORD('x')" << true;
        QTest::newRow("inside a string") << "SELECT 'my password'" << true;
        QTest::newRow("create or replace user")
            << "CREATE OR REPLACE /* c */ USER u@localhost" << true;
        QTest::newRow("alter user, new lines") << "ALTER\n  USER u ACCOUNT LOCK" << true;
        QTest::newRow("grant") << "  grant select on d.* to u" << true;
        QTest::newRow("executable comment") << "/*!50700 CREATE USER u */" << true;
        QTest::newRow("select from user") << "SELECT user FROM mysql.user" << false;
        QTest::newRow("create table users") << "CREATE TABLE users (user_name TEXT)" << false;
        QTest::newRow("alter table") << "ALTER TABLE t ADD COLUMN user INT" << false;
    }
    void passwordRule()
    {
        QFETCH(QString, statement);
        QFETCH(bool, withheld);
        QCOMPARE(sqlscript::mayCarryPassword(statement.toStdString()), withheld);
    }

    void messageParts()
    {
        // The server counts lines from the statement's first; the last "at line" is its own.
        QCOMPARE(sqlscript::errorLine(4, "... near 'WHERE' at line 2"), 5);
        QCOMPARE(sqlscript::errorLine(7, "near 'at line 9' at line 1"), 7);
        QCOMPARE(sqlscript::errorLine(3, "Table 'x' doesn't exist"), 3);
        // Heads: white space folded, cut on a character, not a byte.
        QCOMPARE(sqlscript::head("SELECT\n\t 1"), std::string("SELECT 1"));
        QCOMPARE(sqlscript::head("SELECT '\xC5\xBC\xC3\xB3\xC5\x82w'", 10),
                 std::string("SELECT '\xC5\xBC\xC3\xB3\xE2\x80\xA6"));
        QCOMPARE(sqlscript::durationText(800), std::string("0.8 ms"));
        QCOMPARE(sqlscript::durationText(412300), std::string("412 ms"));
        QCOMPARE(sqlscript::durationText(2354000), std::string("2.35 s"));
        QCOMPARE(sqlscript::durationText(64000000), std::string("1 min 4 s"));
    }
};

QTEST_APPLESS_MAIN(TestSqlLexer)
#include "test_sqllexer.moc"
