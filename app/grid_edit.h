#pragma once

// Changing a table's rows in the grid: cells edited in place, new rows, rows marked for delete,
// all kept pending (drawn apart) until Apply sends them on a connection of their own, inside one
// transaction, each statement proven to touch exactly one row, or Discard drops them.
#include "Cologrid.h"
#include "mySQLClient.h"
#include "row_changes.h"
#include "row_formats.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <map>
#include <memory>
#include <optional>
#include <set>
#include <vector>

class QLineEdit;
class QPlainTextEdit;
class QWidget;
class TMgrid;

class TGridEdit : public QObject
{
    Q_OBJECT
public:
    TGridEdit(TMgrid *grid, QWidget *window);
    ~TGridEdit() override;

    // The connection whose login the edit connection copies.
    void setMainClient(TmySQLClient *main) { m_main = main; }
    // The table the grid holds, once all of it is read: pending changes belong to it alone.
    void setTarget(rowdelete::Target target);
    // The grid is being refilled: changes and notes go, edits are refused until setTarget.
    void clearTarget(const QString &why = QString());
    bool hasTarget() const { return m_hasTarget; }

    const rowchanges::Pending &pending() const { return m_pending; }
    int pendingCount() const { return m_pending.count(); }
    bool applying() const { return m_applying; }
    // "3 changes pending", or empty.
    QString pendingText() const;
    // Exactly what Apply would send, one statement a line.
    QString sqlText() const;
    // A note on a cell after Apply (the server stored another value than typed), or empty.
    QString noteOf(int row, int col) const;
    // What is chosen: whole rows (the row strip, Ctrl+click, Shift+Space, Ctrl+A for all), or
    // a range of cells (a mouse drag, Shift+arrows, Shift+click), or the current cell alone.
    // The rows chosen for delete: the whole rows and the range's rows, or the current one.
    std::vector<int> selectedRows() const;
    void selectRows(const std::vector<int> &rows);
    // Ctrl+A: every row.
    void selectAll();
    struct Range
    {
        int Left = 0, Top = 0, Right = -1, Bottom = -1; // inclusive; empty when Right < Left
        bool empty() const { return Right < Left || Bottom < Top; }
    };
    // The range of cells chosen, empty when whole rows or one cell are.
    Range selectedRange() const;
    // Ctrl+C and the context menu's copies. Whole rows go whole, the column names first where
    // the format has a header; a range goes as its columns and rows, without a header line; the
    // current cell alone goes as its value, or with rowWhenOneCell as its whole row. What is
    // shown is copied: a pending value in place of the stored one.
    void copy(rowformat::Kind kind, bool rowWhenOneCell);
    // The text copy would put on the clipboard.
    std::string copyText(rowformat::Kind kind, bool rowWhenOneCell) const;

    // The commands.
    void editCurrent(const QString &typed = QString(), bool replace = false);
    void setCurrent(rowchanges::Value value); // Set NULL, Set empty text, Set DEFAULT
    void editCurrentAsHex();
    void addRow();
    void deleteSelected();
    void apply();
    void discard();
    void showSql();
    // With changes pending: asks "Apply", "Discard" or "Cancel"; true when the caller may go on
    // (applied, discarded, or nothing pending). Apply waits here for its outcome.
    bool mayLeave();
    // The main connection closed: so does ours (nothing is pending on it between applies).
    void mainClosed();

    // The in-place editor while one is open (for tests).
    QWidget *cellEditor() const;
    // Keeps an open in-place edit as a pending change.
    void commitEditor();
    void cancelEditor();

Q_SIGNALS:
    void pendingChanged(int count);
    // For status panel 5.
    void message(const QString &text);
    void applyFinished(bool ok);
    // "Export…" in the cell menu.
    void exportRequested();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    struct Step
    {
        enum Kind
        {
            Engine,
            Begin,
            Statement,
            ReadBack,
            Commit,
            Rollback,
            Session, // the time zone and SQL mode the rows were read in
            Count    // how many rows a statement would match, asked first without transactions
        } What = Statement;
        int Change = -1; // index in the pending changes
        std::string Sql;
    };
    bool refuseEdit(int col = -1);
    std::optional<std::string_view> stored(int row, int col) const;
    rowdelete::CellReader reader(int row) const;
    void setCell(int row, int col, rowchanges::Value value);
    void changed();
    TStringGrid::TCellMark mark(int col, int row) const;
    QString shown(const rowchanges::Value &value, int col) const;
    void fail(int change, const QString &why);
    void openEditor(int col, int row, const QString &text, bool multiLine, bool selected);
    static QString editorText(const QWidget *editor);
    void currentMoved(int col, int row);
    void stripPressed(int row, Qt::KeyboardModifiers mods);
    void stripDragged(int row);
    void clearSelection();
    std::vector<Step> plan(std::string *why, int *failed, bool guarded = false) const;
    std::vector<int> identicalCopies() const;
    void connectAndRun();
    void runStep();
    void submit(const Step &step, bool chained);
    void stepDone(bool ok, const QString &error);
    void finish(bool ok, const QString &why);
    void storeResults();

    QPointer<TMgrid> m_grid; // may go before us: the window's children go in order
    QWidget *m_viewport = nullptr;
    const QObject *m_gridObject = nullptr; // compared only, never called
    QWidget *m_window;
    TmySQLClient *m_main = nullptr;
    std::unique_ptr<TmySQLClient> m_conn;
    rowdelete::Target m_target;
    bool m_hasTarget = false;
    QString m_noTarget;
    rowchanges::Pending m_pending;
    int m_firstNewRow = -1; // grid row of the first pending new row, -1 when none
    std::map<std::pair<int, int>, QString> m_notes;
    int m_failed = -1; // the change that failed at the last Apply
    QString m_failedWhy;
    std::set<int> m_selected; // whole rows
    Range m_range;
    int m_anchorCol = -1, m_anchor = -1; // where a Shift range or run starts
    bool m_allSelected = false;
    bool m_stripMove = false; // the current cell follows a row strip press
    bool m_dragging = false;  // the mouse button went down on a cell
    Qt::KeyboardModifiers m_mods = Qt::NoModifier;

    QPointer<QWidget> m_editor;
    int m_editCol = -1, m_editRow = -1;
    QString m_editStart;

    // Apply's run.
    bool m_applying = false;
    int m_applyCount = 0;
    bool m_retried = false;
    std::vector<Step> m_steps;
    std::size_t m_at = 0;   // the step whose outcome comes next
    std::size_t m_sent = 0; // the next step to send
    bool m_pipelined = false;
    QString m_failure;
    int m_failureChange = -1;
    rowchanges::Outcome m_outcome;
    std::vector<std::vector<std::optional<std::string>>> m_rows; // the last step's result
    std::string m_engine;
    std::map<int, std::vector<std::optional<std::string>>> m_readBack;
    QPointer<QWidget> m_sqlWindow;
};
