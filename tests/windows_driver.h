#pragma once

// Driving the program's real windows against the sandbox, as a user would: every box, beep and
// dialog answered by the test and recorded, the program started in its own folder through
// "-autol", and waits on what the windows show.
#include "Cologrid.h"
#include "common.h"
#include "keyring.h"
#include "konsola.h"
#include "login_window.h"
#include "program.h"
#include "sandbox.h"
#include "settings_ini.h"
#include "tolvar_window.h"

#include <QAbstractButton>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTreeWidget>

namespace driver {
// Every box and beep the program raised, in order.
inline QStringList g_boxes;
inline int g_beeps = 0;
inline void recordAppError(QWidget *, const QString &text)
{
    g_boxes << QStringLiteral("MySQL Quorvane|") + text;
}
inline void recordBox(QWidget *, const QString &caption, const QString &text)
{
    g_boxes << caption + QLatin1Char('|') + text;
}
// Questions: each asked one is kept as "caption|text", and answered with g_answer.
inline QStringList g_questions;
inline QString g_answer;
inline QString answerQuestion(QWidget *, const QString &caption, const QString &text,
                              const QStringList &)
{
    g_questions << caption + QLatin1Char('|') + text;
    return g_answer;
}
inline void recordBeep()
{
    ++g_beeps;
}
// The save dialog: answered with g_savePath (empty: cancelled), its options kept.
inline QString g_savePath;
inline ui::SaveDialogOptions g_saveOptions;
inline int g_saveAsked = 0;
inline QString answerSave(QWidget *, const ui::SaveDialogOptions &options)
{
    ++g_saveAsked;
    g_saveOptions = options;
    return g_savePath;
}

// The open dialog: answered with g_openPath (empty: cancelled).
inline QString g_openPath;
inline int g_openAsked = 0;
inline QString answerOpen(QWidget *, const ui::SaveDialogOptions &)
{
    ++g_openAsked;
    return g_openPath;
}
// No keyring at all, answered at once: the suites never touch the user's keyring, and the
// password stays in "settings.ini" as before. The keyring's own cases put the system's back.
class NoKeyring : public keyring::Backend
{
public:
    void read(const QString &, keyring::Callback done) override { done(none()); }
    void write(const QString &, const QString &, keyring::Callback done) override { done(none()); }

private:
    static keyring::Answer none()
    {
        return keyring::Answer{keyring::Answer::Unavailable, QString(), QStringLiteral("tests")};
    }
};
inline NoKeyring g_noKeyring;

// Every line of every file under folder, and of the program's preferences, that holds one of the
// sandboxes' passwords or of the others given, as "file:line". Line 4 of "settings.ini" is where
// the password is kept when no keyring took it: allowed unless the keyring holds it.
inline QStringList passwordsIn(const QString &folder, QStringList passwords = {},
                               bool keyringHoldsIt = false)
{
    passwords << qEnvironmentVariable("QUORVANE_TEST_PASSWORD")
              << qEnvironmentVariable("QUORVANE_TLS_PASSWORD");
    passwords.removeAll(QString());
    QStringList files{QSettings().fileName()};
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << it.next();
    QStringList traces;
    for (const QString &path : files) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) continue;
        const QList<QByteArray> lines = file.readAll().split('\n');
        const bool settings = QFileInfo(path).fileName() == QLatin1String("settings.ini");
        for (int i = 0; i < lines.size(); ++i) {
            if (settings && i == 3 && !keyringHoldsIt) continue;
            for (const QString &password : passwords)
                if (lines[i].contains(password.toUtf8()))
                    traces << QStringLiteral("%1:%2").arg(path).arg(i + 1);
        }
    }
    return traces;
}
// What the scans before each test's files were removed found.
inline QStringList g_traces;

inline QByteArray settingsFor(const QString &password = Server().password)
{
    Server s;
    return "[server]\r\n" + s.host.toUtf8() + "\r\n" + s.user.toUtf8() + "\r\n" +
           password.toUtf8() + "\r\n" + QByteArray::number(s.port) + "\r\n";
}

inline void writeFile(const QString &name, const QByteArray &content)
{
    QFile file(name);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(content);
}

inline QStringList fileLines(const QString &name)
{
    QFile file(name);
    if (!file.open(QIODevice::ReadOnly)) return {};
    QString text = QString::fromUtf8(file.readAll());
    if (text.endsWith(QLatin1String("\r\n"))) text.chop(2);
    return text.split(QStringLiteral("\r\n"));
}

inline QStringList consoleLines(const TProgram &p)
{
    return p.console->Memo1->toPlainText().split(QLatin1Char('\n'));
}

inline QStringList topLevelTexts(QTreeWidget *tree)
{
    QStringList texts;
    for (int i = 0; i < tree->topLevelItemCount(); ++i)
        texts << tree->topLevelItem(i)->text(0);
    return texts;
}

inline QTreeWidgetItem *node(QTreeWidget *tree, const QString &text)
{
    for (int i = 0; i < tree->topLevelItemCount(); ++i)
        if (tree->topLevelItem(i)->text(0) == text) return tree->topLevelItem(i);
    return nullptr;
}

inline QTreeWidgetItem *child(QTreeWidgetItem *parent, const QString &text)
{
    for (int i = 0; parent && i < parent->childCount(); ++i)
        if (parent->child(i)->text(0) == text) return parent->child(i);
    return nullptr;
}

// A row as the server sends it: each cell's bytes in hex, or N for NULL.
inline QString rowKeyOf(const std::vector<std::optional<std::string>> &cells)
{
    QStringList parts;
    for (const auto &cell : cells)
        parts << (cell ? QString::fromLatin1(QByteArray::fromStdString(*cell).toHex())
                       : QStringLiteral("N"));
    return parts.join(QLatin1Char('|'));
}

// Every row of a table or view, as sorted keys: the judge of what a change did.
inline QStringList dumpTable(Session &s, const char *db, const QString &table)
{
    QStringList rows;
    if (!s.Run(TmySQLStatement("SELECT * FROM ")
                   .Identifier(db)
                   .Text(".")
                   .Identifier(table.toStdString())))
        return {QStringLiteral("error: ") + s.error};
    for (int r = 0; r < s.q()->RowCount(); ++r) {
        std::vector<std::optional<std::string>> cells;
        for (int c = 0; c < s.q()->FieldCount(); ++c)
            cells.push_back(s.q()->IsNull(r, c)
                                ? std::nullopt
                                : std::optional(std::string(s.q()->ValueBytes(r, c))));
        rows << rowKeyOf(cells);
    }
    rows.sort();
    return rows;
}

// A grid row as the grid stores it, in the same form.
inline QString gridRowKeyOf(const TStringGrid *grid, int row)
{
    std::vector<std::optional<std::string>> cells;
    for (int c = 0; c < grid->ColCount(); ++c)
        cells.push_back(grid->CellIsNull(c, row)
                            ? std::nullopt
                            : std::optional(std::string(grid->CellUtf8(c, row))));
    return rowKeyOf(cells);
}

// The program, started in its own folder and connected through "-autol".
struct Connected
{
    // With the sandbox's settings, or with a "settings.ini" the test wrote itself.
    explicit Connected(bool writeSettings = true)
    {
        if (writeSettings) writeFile(QStringLiteral("settings.ini"), settingsFor());
        program = std::make_unique<TProgram>();
        w = program->tolvar.get();
        w->setArguments({QStringLiteral("quorvane"), QStringLiteral("-autol")});
        w->show();
    }
    bool waitConnected()
    {
        return QTest::qWaitFor(
            [this] {
                return w->PanelText(1) == QLatin1String("Connected") &&
                       w->Tree_view->topLevelItemCount() > 0;
            },
            10000);
    }
    // Chooses a database in the tree and waits for its table list.
    bool chooseDatabase(const QString &name)
    {
        QTreeWidgetItem *item = node(w->Tree_view, name);
        if (!item) return false;
        w->Tree_view->setCurrentItem(nullptr); // choosing the current node again is a choice too
        w->Label2->clear();
        w->Tree_view->setCurrentItem(item);
        return QTest::qWaitFor(
            [&] { return !w->Label2->text().isEmpty() && w->listDatabase() == name; }, 10000);
    }
    // Chooses a table in the table list and waits for the grid.
    bool chooseListedTable(const QString &name)
    {
        const quint64 fill = w->gridOrigin().Fill;
        const auto items = w->Table_list->findItems(name, Qt::MatchExactly);
        if (items.isEmpty()) return false;
        w->Table_list->setCurrentItem(items.first());
        // Its first rows, then its end: the rows arrive in batches.
        return QTest::qWaitFor([&] { return w->gridOrigin().Fill > fill; }, 10000) &&
               QTest::qWaitFor(
                   [&] { return !w->PanelText(4).startsWith(QStringLiteral("Loading")); }, 10000);
    }
    QString cell(int col, int row) const { return w->Mgrid->Cells(col, row); }
    bool chooseTable(const QString &database, const QString &table)
    {
        return chooseDatabase(database) && chooseListedTable(table);
    }
    // A click on a cell, as the user selects a row.
    void clickCell(int col, int row)
    {
        w->Mgrid->setTopRow(std::max(row, w->Mgrid->FixedRows()));
        QTest::mouseClick(w->Mgrid->viewport(), Qt::LeftButton, {},
                          w->Mgrid->CellRect(col, row).center());
    }
    // Sets the SQL mode of the program's own session through its console.
    bool setSqlMode(const QString &mode)
    {
        program->console->Edit1->setText(QStringLiteral("SET SESSION sql_mode = '%1'").arg(mode));
        const int before = program->console->Memo1->blockCount();
        program->console->SpeedButton1->click();
        return QTest::qWaitFor([&] { return program->console->Memo1->blockCount() >= before + 2; },
                               10000) &&
               w->PanelText(5).isEmpty();
    }
    // Waits for the report of the statement just sent (an empty message is success): nothing
    // waits or runs, and every finished task's report has been delivered.
    bool waitReport()
    {
        TmySQLClientThread *worker = w->mysql->TaskHandler()->Thread();
        return QTest::qWaitFor(
            [&] { return worker->Idle() && !worker->Busy() && worker->MailCount() == 0; }, 10000);
    }

    std::unique_ptr<TProgram> program;
    Ttolvar *w = nullptr;
};
// Each suite runs the program in a folder of its own ("settings.ini", "log.ini"), with every
// box, beep and dialog answered by the test.
inline void answerEverything()
{
    ui::setErrorShower(recordAppError);
    ui::setBoxShower(recordBox);
    ui::setBeeper(recordBeep);
    ui::setAsker(answerQuestion);
    ui::setSaveDialog(answerSave);
    ui::setOpenDialog(answerOpen);
    keyring::setBackend(&g_noKeyring);
    // The program's preferences go to a test folder, emptied for each suite.
    QStandardPaths::setTestModeEnabled(true);
    QSettings().clear();
}
inline void forgetAnswers()
{
    g_boxes.clear();
    g_questions.clear();
    g_answer.clear();
    g_beeps = 0;
    g_saveAsked = 0;
    g_savePath.clear();
    g_openAsked = 0;
    g_openPath.clear();
    g_traces << passwordsIn(QDir::currentPath());
    QFile::remove(QStringLiteral("settings.ini"));
}
// A data column "mode" with the SQL modes quoting and escaping must survive.
inline void addSqlModeRows()
{
    QTest::addColumn<QString>("mode");
    QTest::newRow("default") << "";
    QTest::newRow("ANSI_QUOTES") << "ANSI_QUOTES";
    QTest::newRow("NO_BACKSLASH_ESCAPES") << "NO_BACKSLASH_ESCAPES";
}

class ProgramFolder
{
public:
    ProgramFolder() : m_old(QDir::currentPath())
    {
        QDir::setCurrent(m_dir.path());
        answerEverything();
    }
    ~ProgramFolder() { QDir::setCurrent(m_old); }
    bool ok() const { return m_dir.isValid(); }
    // What passwordsIn found in this folder over the suite, and finds in it now.
    QStringList passwordTraces() const { return g_traces + passwordsIn(m_dir.path()); }

private:
    QTemporaryDir m_dir;
    QString m_old;
};
} // namespace driver
using namespace driver;
