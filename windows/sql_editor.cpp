#include "sql_editor.h"

#include "client_login.h"

#include "Cologrid.h"
#include "SqlScript.h"
#include "common.h"
#include "files.h"
#include "mySQLClient.h"
#include "result_grid.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QSettings>
#include <QShortcut>
#include <QSignalBlocker>
#include <QSplitter>
#include <QStandardPaths>
#include <QTabWidget>
#include <QTextBlock>
#include <QVBoxLayout>

namespace {
const QString Caption = QStringLiteral("SQL Editor");

QString qs(const std::string &s)
{
    return QString::fromStdString(s);
}

QString rowsText(std::uint64_t n)
{
    return qs(sqlscript::countText(n, "row", "rows"));
}

QPushButton *button(QWidget *parent, const QString &name, const QString &text)
{
    auto *b = new QPushButton(text, parent);
    b->setObjectName(name);
    b->setAccessibleName(text);
    return b;
}
} // namespace

QString TSqlEditor::textPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) +
           QStringLiteral("/editor.sql");
}

TSqlEditor::TSqlEditor(TmySQLClient *main, QWidget *parent)
    : QWidget(parent, Qt::Window), m_main(main), m_history(std::make_unique<TSqlHistory>())
{
    setObjectName(QStringLiteral("SqlEditor"));
    setWindowTitle(Caption);
    buildLayout();
    QSettings preferences;
    if (!restoreGeometry(preferences.value(QStringLiteral("sqlEditor/geometry")).toByteArray()))
        resize(900, 640);
    try {
        SQL_edit->setPlainText(QString::fromUtf8(files::readAll(textPath())));
    } catch (const TFileError &) {
        // nothing kept yet
    }
    for (const TSqlHistory::Entry &e : m_history->entries())
        m_pendingHistory << qs(sqlscript::head(e.Text.toStdString()));
    flushHistory();
    // The text is kept as it is typed, a moment after the last change, not only at a tidy exit.
    m_saveText.setSingleShot(true);
    m_saveText.setInterval(1500);
    connect(&m_saveText, &QTimer::timeout, this, [this] { saveText(); });
    connect(SQL_edit->document(), &QTextDocument::contentsChanged, &m_saveText,
            qOverload<>(&QTimer::start));
    m_splitDone.setInterval(5);
    connect(&m_splitDone, &QTimer::timeout, this, &TSqlEditor::splitChecked);
    m_tick.setInterval(250);
    connect(&m_tick, &QTimer::timeout, this, [this] {
        updateStatus();
        flushMessages();
        updateFold();
        flushHistory();
    });
    updateButtons();
    updateStatus();
}

TSqlEditor::~TSqlEditor()
{
    if (m_split.valid()) m_split.wait();
    saveState(); // after any write still going: the last text is the one kept
    // Closed silently with the component; nothing of ours is called back any more.
    m_conn.reset();
}

void TSqlEditor::buildLayout()
{
    auto *layout = new QVBoxLayout(this);
    auto *bar = new QHBoxLayout;
    Run_button = button(this, QStringLiteral("Run_button"), QStringLiteral("Run"));
    Run_button->setToolTip(QStringLiteral("Run the statement at the cursor (Ctrl+Enter)"));
    Run_all_button = button(this, QStringLiteral("Run_all_button"), QStringLiteral("Run all"));
    Run_all_button->setToolTip(QStringLiteral("Run every statement (Ctrl+Shift+Enter, F5)"));
    Stop_sql_button = button(this, QStringLiteral("Stop_sql_button"), QStringLiteral("Stop"));
    Stop_sql_button->setToolTip(QStringLiteral("Stop the statement running"));
    Export_result_button =
        button(this, QStringLiteral("Export_result_button"), QStringLiteral("Export\u2026"));
    Export_result_button->setToolTip(QStringLiteral("Export the rows of the result tab shown"));
    Continue_check = new QCheckBox(QStringLiteral("Continue on error"), this);
    Continue_check->setObjectName(QStringLiteral("Continue_check"));
    auto *databaseLabel = new QLabel(QStringLiteral("&Database:"), this);
    databaseLabel->setObjectName(QStringLiteral("Database_label"));
    Database_combo = new QComboBox(this);
    Database_combo->setObjectName(QStringLiteral("Database_combo"));
    Database_combo->setAccessibleName(QStringLiteral("Database_combo"));
    Database_combo->setMinimumContentsLength(16);
    databaseLabel->setBuddy(Database_combo);
    bar->addWidget(Run_button);
    bar->addWidget(Run_all_button);
    bar->addWidget(Stop_sql_button);
    bar->addWidget(Export_result_button);
    bar->addWidget(Continue_check);
    bar->addStretch(1);
    bar->addWidget(databaseLabel);
    bar->addWidget(Database_combo);
    layout->addLayout(bar);

    auto *split = new QSplitter(Qt::Vertical, this);
    split->setObjectName(QStringLiteral("Editor_split"));
    auto *top = new QSplitter(Qt::Horizontal, split);
    SQL_edit = new TSqlEdit(top);
    auto *historyPanel = new QWidget(top);
    auto *historyColumn = new QVBoxLayout(historyPanel);
    historyColumn->setContentsMargins(0, 0, 0, 0);
    auto *historyLabel = new QLabel(QStringLiteral("&History:"), historyPanel);
    historyLabel->setObjectName(QStringLiteral("History_label"));
    History_list = new QListWidget(historyPanel);
    historyLabel->setBuddy(History_list);
    historyColumn->addWidget(historyLabel);
    historyColumn->addWidget(History_list, 1);
    History_list->setObjectName(QStringLiteral("History_list"));
    History_list->setUniformItemSizes(true);
    History_list->setAccessibleName(QStringLiteral("History_list"));
    History_list->setToolTip(QStringLiteral("History: double-click puts a statement back"));
    top->setStretchFactor(0, 4);
    top->setStretchFactor(1, 1);
    Results = new QTabWidget(split);
    Results->setObjectName(QStringLiteral("Results"));
    Results->setAccessibleName(QStringLiteral("Results"));
    Messages = new QListWidget(split);
    Messages->setObjectName(QStringLiteral("Messages"));
    Messages->setUniformItemSizes(true);
    Messages->setAccessibleName(QStringLiteral("Messages"));
    // The results take the room an empty tab bar would not ask for.
    split->setSizes({320, 320, 120});
    top->setSizes({700, 220});
    layout->addWidget(split, 1);

    Status_line = new QLabel(this);
    Status_line->setObjectName(QStringLiteral("Status_line"));
    layout->addWidget(Status_line);

    connect(Run_button, &QAbstractButton::clicked, this, &TSqlEditor::RunClick);
    connect(Run_all_button, &QAbstractButton::clicked, this, &TSqlEditor::RunAllClick);
    connect(Stop_sql_button, &QAbstractButton::clicked, this, &TSqlEditor::StopClick);
    connect(Export_result_button, &QAbstractButton::clicked, this, &TSqlEditor::ExportClick);
    connect(Database_combo, &QComboBox::activated, this, &TSqlEditor::databaseChosen);
    connect(History_list, &QListWidget::itemDoubleClicked, this, &TSqlEditor::historyActivated);
    const auto shortcut = [this](const QKeySequence &keys, void (TSqlEditor::*slot)()) {
        auto *s = new QShortcut(keys, this, this, slot);
        s->setContext(Qt::WindowShortcut);
    };
    shortcut(QKeySequence(Qt::CTRL | Qt::Key_Return), &TSqlEditor::RunClick);
    shortcut(QKeySequence(Qt::CTRL | Qt::Key_Enter), &TSqlEditor::RunClick);
    shortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Return), &TSqlEditor::RunAllClick);
    shortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Enter), &TSqlEditor::RunAllClick);
    shortcut(QKeySequence(Qt::Key_F5), &TSqlEditor::RunAllClick);
    shortcut(QKeySequence::Open, &TSqlEditor::OpenClick);
    shortcut(QKeySequence::Save, &TSqlEditor::SaveClick);
}

// ---------------------------------------------------------------------------------------------
// The connection

void TSqlEditor::showFor(const QString &database)
{
    m_startDatabase = database;
    show();
    raise();
    activateWindow();
    updateStatus();
    if (!m_main || !m_main->Connected() || !m_main->Query()) return;
    // Read on the main connection: the editor's own is made only when something is run.
    QPointer<TSqlEditor> self(this);
    m_main->Query()->SubmitStatementWithHandlers(
        TmySQLStatement("SHOW DATABASES").OnlyReads(), "Editor Databases", false,
        [self](QObject *sender) {
            auto *q = static_cast<TmySQLClientQuery *>(sender);
            QStringList names;
            for (int r = 0; r < q->RowCount(); ++r)
                names << QString::fromUtf8(q->ValueBytes(r, 0));
            q->Clear();
            if (self) self->fillDatabases(names);
        },
        [](QObject *, const QString &) {});
    m_main->ExecuteTasks();
}

void TSqlEditor::fillDatabases(const QStringList &names)
{
    const QString current = m_conn && m_conn->Connected() ? m_conn->Database() : m_startDatabase;
    const QSignalBlocker blocker(Database_combo);
    Database_combo->clear();
    Database_combo->addItem(QString()); // none chosen
    Database_combo->addItems(names);
    Database_combo->setCurrentIndex(std::max(0, Database_combo->findText(current)));
}

void TSqlEditor::databaseChosen(int index)
{
    const QString database = Database_combo->itemText(index);
    if (!m_conn || !m_conn->Connected()) return; // the connect will select it
    if (database.isEmpty()) return;              // a session cannot leave its database
    m_conn->setDatabase(database);               // also for a reconnect
    QPointer<TSqlEditor> self(this);
    m_conn->Utility()->SelectDatabaseWithHandlers(
        database.toStdString(), "Editor Database",
        [self](QObject *) {
            if (self) self->updateStatus();
        },
        [self, database](QObject *, const QString &msg) {
            if (self) self->addMessage(database + QStringLiteral(": ") + msg, false);
        });
    m_conn->ExecuteTasks();
}

void TSqlEditor::ensureConnection()
{
    if (m_conn && m_conn->Connected()) {
        runNext();
        return;
    }
    if (!m_conn) {
        m_conn = std::make_unique<TmySQLClient>();
        m_conn->setObjectName(QStringLiteral("editor_mysql"));
        m_conn->setThreaded(true);
        m_conn->setBlockOnClose(true);
        m_conn->OnConnect = [this](QObject *) {
            updateStatus();
            runNext();
        };
        m_conn->OnConnectError = [this](QObject *, const QString &msg) {
            addMessage(QStringLiteral("Could not connect: ") + msg, false);
            finishRun(QStringLiteral("Not connected"));
        };
        m_conn->OnClose = [this](QObject *) {
            m_inTransaction = false;
            updateStatus();
        };
    }
    // The main connection's server, user and protection, as it connected last.
    copyLogin(m_main, m_conn.get());
    QString database = Database_combo->currentText();
    if (database.isEmpty()) database = m_startDatabase;
    m_conn->setDatabase(database);
    m_statusNote = QStringLiteral("Connecting\u2026");
    updateStatus();
    m_conn->Connect();
}

void TSqlEditor::closeConnection()
{
    if (m_conn && m_conn->Connected()) m_conn->Close();
    m_inTransaction = false;
    m_queue.clear();
    // What was sent ends with the connection, before anything sent on a new one.
    m_inflight.clear();
    updateStatus();
}

bool TSqlEditor::releaseConnection()
{
    if (!m_conn || !m_conn->Connected()) return true;
    if (m_inTransaction) {
        const QString answer = ui::askQuestion(
            this, Caption,
            QStringLiteral("A transaction is open on the SQL editor's connection. Commit it or "
                           "roll it back?"),
            {QStringLiteral("Commit"), QStringLiteral("Roll back"), QStringLiteral("Cancel")});
        if (answer != QLatin1String("Commit") && answer != QLatin1String("Roll back")) return false;
        // A statement still running is stopped first: the stop would drop the COMMIT queued
        // behind it.
        if (m_running) {
            m_stopAsked = true;
            m_queue.clear();
            m_conn->StopReading();
        }
        const std::string end = answer == QLatin1String("Commit") ? "COMMIT" : "ROLLBACK";
        // Queued ahead of the close, which waits for a statement that may change data.
        m_conn->Query()->SubmitScript(
            end, "Editor " + end, {}, [](QObject *) {},
            [this](QObject *, const QString &msg) { addMessage(msg, false); });
        m_conn->ExecuteTasks();
    }
    closeConnection();
    finishRun(QStringLiteral("Connection closed"));
    return true;
}

void TSqlEditor::mainClosed()
{
    if (!m_conn) return;
    closeConnection();
    if (m_running) finishRun(QStringLiteral("Connection closed"));
}

void TSqlEditor::closeEvent(QCloseEvent *event)
{
    if (!releaseConnection()) {
        event->ignore();
        return;
    }
    saveState();
    event->accept();
}

void TSqlEditor::saveState()
{
    QSettings().setValue(QStringLiteral("sqlEditor/geometry"), saveGeometry());
    saveText();
}

void TSqlEditor::saveText(std::optional<QByteArray> utf8, bool inBackground)
{
    m_saveText.stop();
    // One write at a time, in the order asked.
    if (m_textSaved.valid()) m_textSaved.wait();
    QByteArray text = utf8 ? std::move(*utf8) : SQL_edit->toPlainText().toUtf8();
    // The text may hold anything the user typed: readable by its owner only.
    auto write = [path = textPath(), text = std::move(text)] {
        try {
            QDir().mkpath(QFileInfo(path).absolutePath());
            files::replaceAtomically(path, text, true);
        } catch (const TFileError &) {
            // kept in the window for this run; nothing to lose on the server
        }
    };
    if (inBackground)
        m_textSaved = std::async(std::launch::async, std::move(write));
    else
        write();
}

// ---------------------------------------------------------------------------------------------
// Running

void TSqlEditor::RunClick()
{
    start(SQL_edit->StatementsToRun());
}

void TSqlEditor::RunAllClick()
{
    if (isRunning()) return;
    QByteArray utf8 = SQL_edit->Utf8Text();
    // A save still due would take the same megabytes from the editor again, on this thread,
    // in the middle of the run: the bytes just taken are written instead, in the background.
    if (m_saveText.isActive()) saveText(utf8, true);
    // A script of megabytes takes longer to read than a frame: read on another thread, the
    // window answering meanwhile (Stop included).
    constexpr qsizetype ReadApartBytes = 256 * 1024;
    if (utf8.size() < ReadApartBytes || !m_main || !m_main->Connected()) {
        start(TSqlEdit::StatementsOf(utf8));
        return;
    }
    m_splitStopped = false;
    m_split = std::async(std::launch::async,
                         [utf8 = std::move(utf8)] { return TSqlEdit::StatementsOf(utf8); });
    m_statusNote = QStringLiteral("Reading the script\u2026");
    updateStatus();
    Run_button->setEnabled(false);
    Run_all_button->setEnabled(false);
    Stop_sql_button->setEnabled(true);
    m_splitDone.start();
}

void TSqlEditor::splitChecked()
{
    if (!m_split.valid() || m_split.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
        return;
    m_splitDone.stop();
    std::vector<TSqlEdit::Piece> pieces = m_split.get();
    if (m_splitStopped) {
        m_statusNote = QStringLiteral("Stopped");
        updateButtons();
        updateStatus();
        return;
    }
    start(std::move(pieces));
}

void TSqlEditor::start(std::vector<TSqlEdit::Piece> pieces)
{
    if (isRunning()) return;
    if (!m_main || !m_main->Connected()) {
        m_statusNote = QStringLiteral("Not connected");
        updateStatus();
        ui::beep();
        return;
    }
    if (pieces.empty()) return;
    while (Results->count() > 0) {
        QWidget *tab = Results->widget(0);
        Results->removeTab(0);
        delete tab;
    }
    m_tabFields.clear();
    Messages->clear();
    m_pendingMessages.clear();
    m_foldItem = nullptr;
    m_tabs = m_successes = m_folded = m_done = 0;
    m_total = int(pieces.size());
    m_queue.assign(std::make_move_iterator(pieces.begin()), std::make_move_iterator(pieces.end()));
    m_inflight.clear();
    m_sent = 0;
    m_running = true;
    m_stopAsked = false;
    m_runClock.start();
    m_tick.start();
    updateButtons();
    ensureConnection();
}

void TSqlEditor::runNext()
{
    if (!m_running) return;
    // Statements wait queued behind the one running, so the worker never waits for the window
    // between them, and the window takes their ends in bunches. Without "Continue on error" each
    // runs only if the one before succeeded, so a failure or Stop ends the whole queue on the
    // worker: sixteen may wait. With it, nothing would end them: only the next one waits.
    const std::size_t depth = Continue_check->isChecked() ? 2 : 16;
    while (m_inflight.size() < depth && !m_queue.empty() && !m_stopAsked) {
        m_inflight.emplace_back();
        Running &next = m_inflight.back();
        next.Piece = std::move(m_queue.front());
        m_queue.pop_front();
        next.Clock.start();
        QPointer<TSqlEditor> self(this);
        m_conn->Query()->SubmitScript(
            next.Piece.Text.toStdString(), "SQL Editor",
            [self](QObject *, TmySQLRowBatch &batch) {
                if (self) self->rowsArrived(batch);
            },
            [self](QObject *sender) {
                if (self) self->statementEnded(static_cast<TmySQLClientQuery *>(sender), QString());
            },
            [self](QObject *sender, const QString &msg) {
                if (self) {
                    const QString text = msg.isEmpty() ? QStringLiteral("failed") : msg;
                    self->statementEnded(static_cast<TmySQLClientQuery *>(sender), text);
                }
            },
            // The run's first statement does not depend on how the last run ended.
            m_sent++ > 0 && !Continue_check->isChecked());
    }
    m_conn->ExecuteTasks();
    if (m_inflight.empty()) {
        finishRun();
        return;
    }
    m_statusNote = QStringLiteral("Running statement %1 of %2\u2026").arg(m_done + 1).arg(m_total);
    // Shown by the tick: a label laid out again for each statement of a long script costs more
    // than the statement.
    if (m_done == 0) updateStatus();
}

TSqlEditor::Result TSqlEditor::addResultTab()
{
    Result r;
    auto *page = new QWidget;
    auto *v = new QVBoxLayout(page);
    v->setContentsMargins(0, 0, 0, 0);
    r.Grid = new TMgrid(page);
    r.Grid->setObjectName(QStringLiteral("Result_grid"));
    r.Grid->setAccessibleName(QStringLiteral("Result_grid"));
    resultgrid::style(r.Grid);
    r.Grid->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(r.Grid, &QWidget::customContextMenuRequested, this, [this, grid = r.Grid](QPoint at) {
        auto *menu = new QMenu(grid);
        menu->setObjectName(QStringLiteral("Result_menu"));
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->addAction(QStringLiteral("Export\u2026"), this, &TSqlEditor::ExportClick);
        menu->popup(grid->mapToGlobal(at));
    });
    r.Line = new QLabel(QStringLiteral("Loading\u2026"), page);
    r.Line->setObjectName(QStringLiteral("Result_line"));
    v->addWidget(r.Grid, 1);
    v->addWidget(r.Line);
    ++m_tabs;
    Results->addTab(page, QStringLiteral("Result %1").arg(m_tabs));
    if (m_tabs == 1) Results->setCurrentIndex(0);
    return r;
}

void TSqlEditor::ExportClick()
{
    QWidget *page = Results->currentWidget();
    auto *grid = page ? page->findChild<TMgrid *>(QStringLiteral("Result_grid")) : nullptr;
    const auto fields = m_tabFields.find(grid);
    if (!grid || fields == m_tabFields.end()) {
        m_statusNote = QStringLiteral("No result to export");
        updateStatus();
        ui::beep();
        return;
    }
    if (isRunning()) {
        // A tab still filling would be written in part.
        m_statusNote = QStringLiteral("Export when the run has ended");
        updateStatus();
        ui::beep();
        return;
    }
    // Named after the one table its columns come from, if they all come from one.
    std::string table;
    for (const TmySQLFieldInfo &field : fields->second) {
        if (field.OrgTable.empty() || (!table.empty() && table != field.OrgTable)) {
            table.clear();
            break;
        }
        table = field.OrgTable;
    }
    if (m_exporter)
        m_exporter(grid, fields->second,
                   table.empty() ? QStringLiteral("result") : QString::fromStdString(table));
}

void TSqlEditor::rowsArrived(TmySQLRowBatch &batch)
{
    if (m_inflight.empty()) return;
    Running &now = m_inflight.front(); // results arrive in the order the statements ran
    if (batch.End) {
        const TmySQLResultEnd &end = *batch.End;
        if (end.HasRows) {
            ++now.ResultSets;
            now.Rows += end.Rows;
            // The time is the statement's own, known at its end.
            if (now.Shown.Line) {
                now.Shown.Line->setText(rowsText(end.Rows));
                now.Ended.emplace_back(now.Shown.Line, end.Rows);
            }
            now.Shown = Result();
        } else {
            now.Affected = end.AffectedRows;
            now.Info = end.Info;
        }
        return;
    }
    if (batch.First) {
        now.ResultIndex = batch.ResultIndex;
        now.Shown = Result();
        if (m_tabs < MaxResultTabs) {
            now.Shown = addResultTab();
            now.Shown.Fields = batch.Fields;
            // Kept with the tab, for an export after the run.
            m_tabFields[now.Shown.Grid] = batch.Fields;
        } else {
            now.RowsDropped = true;
        }
    }
    if (!now.Shown.Grid) return; // beyond the last tab: counted, not kept
    resultgrid::take(now.Shown.Grid, batch, now.Shown.Fields);
    // A label whose text grows is laid out and its page painted behind it: at every batch of a
    // million-row stream that costs more than taking the rows.
    if (now.Shown.LinePace.due()) {
        now.Shown.Line->setText(QStringLiteral("Loading\u2026 ") + rowsText(batch.RowsSoFar));
        now.Shown.LinePace.done();
    }
}

void TSqlEditor::statementEnded(TmySQLClientQuery *q, const QString &error)
{
    if (m_inflight.empty()) return;
    const Running now = std::move(m_inflight.front());
    m_inflight.pop_front();
    const TmySQLScriptOutcome &out = q->ScriptOutcome();
    // Queued behind a statement that failed or was stopped, or still on its way when the run
    // ended: counted among those not run.
    if (!m_running || out.NotRun) return;
    ++m_done;
    m_inTransaction = out.InTransaction();
    const std::uint64_t us =
        out.Microseconds ? out.Microseconds : std::uint64_t(now.Clock.nsecsElapsed() / 1000);
    const QString took = QStringLiteral(" in ") + qs(sqlscript::durationText(us));
    // A result set cut off by an error keeps its rows, and says so under them.
    if (now.Shown.Line)
        now.Shown.Line->setText((q->StreamStopped() ? QStringLiteral("Stopped: ")
                                                    : QStringLiteral("Ended by an error: ")) +
                                rowsText(std::uint64_t(now.Shown.Grid->RowCount() - 1)));
    for (const auto &[line, rows] : now.Ended)
        line->setText(rowsText(rows) + took);
    QString outcome;
    bool success = false;
    int errorAt = 0;
    if (q->StreamStopped()) {
        outcome =
            QStringLiteral("Stopped") +
            (now.ResultSets > 0 ? QStringLiteral(" after ") + rowsText(now.Rows) : QString()) +
            took;
    } else if (!error.isEmpty()) {
        errorAt = sqlscript::errorLine(now.Piece.FirstLine, error.toStdString());
        outcome = QStringLiteral("Error %1").arg(q->ErrorNumber());
        if (!out.SqlState.empty()) outcome += QStringLiteral(" (%1)").arg(qs(out.SqlState));
        outcome += QStringLiteral(" at line %1: ").arg(errorAt) + error;
    } else {
        success = true;
        if (now.ResultSets > 0) {
            outcome = rowsText(now.Rows);
            if (now.ResultSets > 1)
                outcome = QStringLiteral("%1 result sets, ").arg(now.ResultSets) + outcome;
        } else {
            const std::uint64_t n = now.Affected < 0 ? 0 : std::uint64_t(now.Affected);
            outcome = qs(sqlscript::countText(n, "row affected", "rows affected"));
            if (!now.Info.empty())
                outcome += QStringLiteral(" (") + QString::fromStdString(now.Info).simplified() +
                           QLatin1Char(')');
        }
        outcome += took;
        if (now.RowsDropped)
            outcome +=
                QStringLiteral("; rows not kept (at most %1 result tabs a run)").arg(MaxResultTabs);
        if (out.Warnings > 0)
            outcome += QStringLiteral(", ") +
                       qs(sqlscript::countText(out.Warnings, "warning", "warnings"));
    }
    addMessage(QStringLiteral("%1: %2 \u2014 ")
                       .arg(now.Piece.FirstLine)
                       .arg(qs(sqlscript::head(now.Piece.Text.toStdString()))) +
                   outcome,
               success && out.Warnings == 0);
    for (const std::string &line : out.WarningLines)
        addMessage(QStringLiteral("    ") + qs(line), false);
    addHistory(now, us, outcome);
    if (errorAt > 0) goToLine(errorAt);
    if (q->StreamStopped()) {
        finishRun(QStringLiteral("Stopped"));
        return;
    }
    if (!error.isEmpty() && !Continue_check->isChecked()) {
        finishRun(QStringLiteral("Stopped at an error"));
        return;
    }
    runNext();
}

void TSqlEditor::addMessage(const QString &text, bool success)
{
    if (success && ++m_successes > MaxSuccessLines) {
        ++m_folded;
        if (!m_foldItem) m_foldItem = new QListWidgetItem(Messages);
        return; // its count is written by the tick and at the end
    }
    // Listed by the tick and at the end, as the history is: a list painted again for each of
    // a script's statements would cost more than the statements.
    m_pendingMessages << text;
    if (!m_running) flushMessages();
}

void TSqlEditor::flushMessages()
{
    if (m_pendingMessages.isEmpty()) return;
    // The folded line stays the last.
    const int at = m_foldItem ? Messages->row(m_foldItem) : Messages->count();
    Messages->insertItems(at, m_pendingMessages);
    // A long error is cut at the list's edge: its whole text is the item's tooltip.
    for (int i = 0; i < m_pendingMessages.size(); ++i)
        if (QListWidgetItem *item = Messages->item(at + i); item->text().size() > 80)
            item->setToolTip(item->text());
    m_pendingMessages.clear();
    Messages->scrollToBottom();
}

void TSqlEditor::updateFold()
{
    if (!m_foldItem) return;
    const QString fold = QStringLiteral("\u2026 %1 more statements succeeded").arg(m_folded);
    if (m_foldItem->text() != fold) m_foldItem->setText(fold);
}

void TSqlEditor::addHistory(const Running &now, std::uint64_t microseconds, const QString &outcome)
{
    TSqlHistory::Entry e;
    e.Text = now.Piece.Text;
    e.Database = m_conn ? m_conn->Database() : QString();
    // In UTC, as the file keeps it: no time zone looked up per statement.
    e.Started = QDateTime::currentDateTimeUtc().addMSecs(-qint64(microseconds / 1000));
    e.Microseconds = qint64(microseconds);
    e.Outcome = outcome;
    QString head = qs(sqlscript::head(e.Text.toStdString()));
    if (m_history->add(std::move(e)) == TSqlHistory::Added::Withheld) return;
    // Listed in bulk (at the end of a run, and as it goes by the status tick): a list laid out
    // again for each of 100,000 statements would hold the run up.
    m_pendingHistory << std::move(head);
}

void TSqlEditor::flushHistory()
{
    if (m_pendingHistory.isEmpty()) return;
    // The list shows the newest at the bottom, as the file keeps them, and no more than it.
    const QSignalBlocker blocker(History_list);
    History_list->setUpdatesEnabled(false);
    // The oldest rows go in one removal, the new ones come in one insertion: the list never
    // rebuilt, whatever its length (a long script reaches the cap and stays there).
    const int kept = int(std::min<std::size_t>(m_history->entries().size(), TSqlHistory::Cap));
    if (m_pendingHistory.size() > kept)
        m_pendingHistory.erase(m_pendingHistory.begin(), m_pendingHistory.end() - kept);
    const int over = History_list->count() + int(m_pendingHistory.size()) - kept;
    if (over > 0) History_list->model()->removeRows(0, std::min(over, History_list->count()));
    History_list->addItems(m_pendingHistory);
    m_pendingHistory.clear();
    History_list->setUpdatesEnabled(true);
    History_list->scrollToBottom();
}

void TSqlEditor::historyActivated(QListWidgetItem *item)
{
    // The list holds the file's newest entries in the same order, ending together.
    const auto &entries = m_history->entries();
    const int fromEnd = History_list->count() - 1 - History_list->row(item);
    if (fromEnd < 0 || fromEnd >= int(entries.size())) return;
    SQL_edit->moveCursor(QTextCursor::End);
    QString text = entries[entries.size() - 1 - std::size_t(fromEnd)].Text;
    if (!SQL_edit->document()->isEmpty()) text.prepend(QStringLiteral("\n"));
    SQL_edit->insertPlainText(text + QStringLiteral(";"));
    SQL_edit->setFocus();
}

void TSqlEditor::finishRun(const QString &why)
{
    if (!m_running) return;
    m_running = false;
    m_tick.stop();
    flushMessages();
    updateFold();
    flushHistory();
    // What waits, and what is queued behind the last one ended (it will not be sent).
    const int left = int(m_queue.size() + m_inflight.size());
    m_queue.clear();
    if (left > 0)
        addMessage(
            QStringLiteral("%1 not run")
                .arg(qs(sqlscript::countText(std::uint64_t(left), "statement", "statements"))),
            false);
    m_lastRunTime = qs(sqlscript::durationText(std::uint64_t(m_runClock.nsecsElapsed() / 1000)));
    m_statusNote = why.isEmpty() ? QStringLiteral("Done: %1 of %2").arg(m_done).arg(m_total) : why;
    updateButtons();
    updateStatus();
}

void TSqlEditor::StopClick()
{
    if (m_split.valid()) {
        m_splitStopped = true;
        return;
    }
    if (!m_running) return;
    m_stopAsked = true;
    m_queue.clear();
    m_statusNote = QStringLiteral("Stopping\u2026");
    updateStatus();
    if (m_conn && m_conn->Connected()) m_conn->StopReading();
}

void TSqlEditor::updateButtons()
{
    Run_button->setEnabled(!m_running);
    Run_all_button->setEnabled(!m_running);
    Stop_sql_button->setEnabled(m_running);
}

void TSqlEditor::updateStatus()
{
    QStringList parts;
    const bool own = m_conn && m_conn->Connected();
    if (own)
        parts << QStringLiteral("Connected to ") + m_conn->Utility()->ConnectedHost();
    else if (m_main && m_main->Connected())
        parts << QStringLiteral("Ready");
    else
        parts << QStringLiteral("Not connected");
    const QString database = own ? m_conn->Database() : m_startDatabase;
    if (!database.isEmpty()) parts << database;
    if (m_inTransaction) parts << QStringLiteral("In a transaction");
    if (!m_statusNote.isEmpty() && !(parts.first() == m_statusNote)) parts << m_statusNote;
    if (m_running)
        parts << qs(sqlscript::durationText(std::uint64_t(m_runClock.nsecsElapsed() / 1000)));
    else if (!m_lastRunTime.isEmpty())
        parts << m_lastRunTime;
    Status_line->setText(parts.join(QStringLiteral(" | ")));
}

void TSqlEditor::goToLine(int line)
{
    const QTextBlock block = SQL_edit->document()->findBlockByNumber(line - 1);
    if (!block.isValid()) return;
    QTextCursor cursor(block);
    SQL_edit->setTextCursor(cursor);
    SQL_edit->centerCursor();
}

// ---------------------------------------------------------------------------------------------
// Files

void TSqlEditor::OpenClick()
{
    ui::SaveDialogOptions options;
    options.caption = QStringLiteral("Open SQL file");
    options.filter = QStringLiteral("SQL files (*.sql);;All files (*)");
    options.defaultSuffix = QStringLiteral("sql");
    const QString path = ui::getOpenFileName(this, options);
    if (path.isEmpty()) return;
    try {
        SQL_edit->setPlainText(QString::fromUtf8(files::readAll(path)));
    } catch (const TFileError &error) {
        ui::showAppError(this, QString::fromStdString(error.what()));
    }
}

void TSqlEditor::SaveClick()
{
    ui::SaveDialogOptions options;
    options.caption = QStringLiteral("Save SQL file");
    options.filter = QStringLiteral("SQL files (*.sql)");
    options.defaultSuffix = QStringLiteral("sql");
    options.fileName = QStringLiteral("script.sql");
    const QString path = ui::getSaveFileName(this, options);
    if (path.isEmpty()) return;
    try {
        files::replaceAtomically(path, SQL_edit->toPlainText().toUtf8(), false);
    } catch (const TFileError &error) {
        ui::showAppError(this, QString::fromStdString(error.what()));
    }
}
