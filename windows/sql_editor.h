#pragma once

#include "Pace.h"
#include "mySQLCommon.h"
#include "sql_edit.h"
#include "sql_history.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <deque>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <optional>
#include <vector>

class QAbstractButton;
class QCheckBox;
class QComboBox;
class QLabel;
class QListWidget;
class QListWidgetItem;
class QTabWidget;
class TMgrid;
class TStringGrid;
class TmySQLClient;
struct TmySQLFieldInfo;

// The SQL editor: free SQL run on a connection of its own (the main connection's server, user and
// protection), each result set streamed into a tab of its own, a line of messages for every
// statement, and a history of what was run.
class TSqlEditor : public QWidget
{
    Q_OBJECT
public:
    static constexpr int MaxResultTabs = 20;
    // Successful statements of one run listed one by one; the rest are counted in one line.
    static constexpr int MaxSuccessLines = 1000;

    explicit TSqlEditor(TmySQLClient *main, QWidget *parent = nullptr);
    ~TSqlEditor() override;

    TSqlEdit *SQL_edit = nullptr;
    QComboBox *Database_combo = nullptr;
    QAbstractButton *Run_button = nullptr;
    QAbstractButton *Run_all_button = nullptr;
    QAbstractButton *Stop_sql_button = nullptr;
    QAbstractButton *Export_result_button = nullptr;
    QCheckBox *Continue_check = nullptr;
    QTabWidget *Results = nullptr;
    QListWidget *Messages = nullptr;
    QListWidget *History_list = nullptr;
    QLabel *Status_line = nullptr;

    // Run: the statement at the cursor, or those of the selection. Run all: the whole text.
    void RunClick();
    void RunAllClick();
    void StopClick();
    void OpenClick();
    void SaveClick();
    // The current result tab's rows to a file, through the exporter the program gives.
    void ExportClick();
    using Exporter = std::function<void(
        const TStringGrid *grid, const std::vector<TmySQLFieldInfo> &fields, const QString &name)>;
    void setExporter(Exporter exporter) { m_exporter = std::move(exporter); }

    // Shows the window; its database list is read from the main connection, starting on the
    // database given (the one the main window has chosen).
    void showFor(const QString &database);
    // Before the main connection closes or the program ends: an open transaction on the
    // editor's connection is committed or rolled back as the user says, and the connection
    // closed. False when the user cancels.
    bool releaseConnection();
    // The main connection was closed (or lost): so is the editor's.
    void mainClosed();

    // A run under way, or the tail of one still coming back.
    bool isRunning() const { return m_running || !m_inflight.empty() || m_split.valid(); }
    // The editor's own connection; null until it first runs something.
    TmySQLClient *Connection() const { return m_conn.get(); }
    TSqlHistory &History() { return *m_history; }
    // Where the text is kept between runs of the program.
    static QString textPath();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    struct Result
    {
        TMgrid *Grid = nullptr;
        QLabel *Line = nullptr;
        std::vector<TmySQLFieldInfo> Fields;
        TPace LinePace{100}; // the count under the rows, shown a few times a second
    };
    // One statement of the run: what it came to so far.
    struct Running
    {
        TSqlEdit::Piece Piece;
        int ResultSets = 0;
        std::uint64_t Rows = 0;
        bool RowsDropped = false; // a result set beyond the last tab
        std::int64_t Affected = -1;
        std::string Info;
        int ResultIndex = -1;
        Result Shown; // the tab of the result set being read, if kept
        // The lines under the result sets read to their end, with their rows.
        std::vector<std::pair<QLabel *, std::uint64_t>> Ended;
        QElapsedTimer Clock;
    };
    void buildLayout();
    void start(std::vector<TSqlEdit::Piece> pieces);
    void splitChecked();
    void ensureConnection();
    void runNext();
    void rowsArrived(TmySQLRowBatch &batch);
    void statementEnded(TmySQLClientQuery *q, const QString &error);
    void finishRun(const QString &why = QString());
    Result addResultTab();
    void addMessage(const QString &text, bool success);
    void addHistory(const Running &statement, std::uint64_t microseconds, const QString &outcome);
    void flushHistory();
    void updateFold();
    void flushMessages();
    void historyActivated(QListWidgetItem *item);
    void fillDatabases(const QStringList &names);
    void databaseChosen(int index);
    void updateButtons();
    void updateStatus();
    void goToLine(int line);
    void closeConnection();
    void saveState();
    // The text kept for the next start: taken from the editor now, or the bytes given (the same
    // text, already taken); written in the background unless the window is going.
    void saveText(std::optional<QByteArray> utf8 = std::nullopt, bool inBackground = false);

    TmySQLClient *m_main;
    std::unique_ptr<TmySQLClient> m_conn;
    std::unique_ptr<TSqlHistory> m_history;
    QString m_startDatabase;
    std::deque<TSqlEdit::Piece> m_queue;
    // A long script's statements, read apart from the window thread before the run starts.
    std::future<std::vector<TSqlEdit::Piece>> m_split;
    std::future<void> m_textSaved;
    QTimer m_splitDone;
    bool m_splitStopped = false;
    int m_total = 0;
    int m_done = 0;
    int m_sent = 0;
    bool m_running = false;
    bool m_stopAsked = false;
    bool m_inTransaction = false;
    int m_tabs = 0;
    int m_successes = 0;
    int m_folded = 0;
    QListWidgetItem *m_foldItem = nullptr;
    // Sent and not yet ended, in order: the one running and the next, queued behind it.
    std::deque<Running> m_inflight;
    QElapsedTimer m_runClock;
    QString m_lastRunTime;
    QString m_statusNote;
    Exporter m_exporter;
    std::map<const TStringGrid *, std::vector<TmySQLFieldInfo>> m_tabFields;
    QTimer m_tick;
    QTimer m_saveText;
    QStringList m_pendingHistory;
    QStringList m_pendingMessages;
};
