#pragma once

// A table's rows to a file: the whole table read in a stream of its own and written as it
// arrives (bounded memory whatever its size), or the rows the grid shows. The file is written
// beside its target and put in place only when whole; Stop or an error leaves no file.
#include "CellStore.h"
#include "files.h"
#include "row_formats.h"
#include "table_statements.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

class QLabel;
class QWidget;
class TStringGrid;
class TmySQLClient;
class TmySQLStreamGate;
struct TmySQLFieldInfo;

struct TExportOptions
{
    rowformat::Kind Format = rowformat::Kind::Csv;
    QString Path;
    bool Header = true;
    QString Null = QStringLiteral("\\N"); // TSV's; CSV writes NULL as this word, or empty
    bool WholeTable = true;               // false: the rows shown
    bool CreateTable = false;             // SQL: the CREATE TABLE first
    bool TableChoice = true;              // false: rows that are no table's, only those shown
};

namespace exportdialog {
// The export dialog: format, header, NULL text, whole table or rows shown, then the file through
// the save dialog. None when cancelled. Replaceable for tests like every box.
std::optional<TExportOptions> ask(QWidget *parent, const TExportOptions &defaults);
using Asker = std::optional<TExportOptions> (*)(QWidget *parent, const TExportOptions &defaults);
Asker setAsker(Asker asker);
} // namespace exportdialog

class TTableExport : public QObject
{
    Q_OBJECT
public:
    explicit TTableExport(QWidget *window);
    ~TTableExport() override;

    // The whole table (with the sort and filter given), streamed on the client's connection.
    bool startTable(TmySQLClient *client, const QString &database, const QString &table,
                    const tablesql::View &view, const TExportOptions &options);
    // Rows of the grid (row 0 the names), written at once.
    bool writeShown(const TStringGrid *grid, const std::vector<TmySQLFieldInfo> &fields,
                    const QString &table, const TExportOptions &options);
    // Stops a streamed export: no file is left.
    void stop();
    bool running() const { return m_running; }
    qint64 rows() const { return m_rows; }
    qint64 bytes() const { return m_bytes; }
    // The progress window while a streamed export runs.
    QWidget *progress() const { return m_progress; }

Q_SIGNALS:
    // ok: the file is in place; otherwise why not.
    void finished(bool ok, const QString &message);

private:
    static std::vector<rowformat::Column> columnsOf(const std::vector<TmySQLFieldInfo> &fields);
    rowformat::Options formatOptions(const QString &table) const;
    bool open(const TExportOptions &options);
    void put(std::string &text);
    void fail(const QString &message);
    void done(bool stopped);
    void showProgress();
    void finishStream(bool abandon);
    void committed(int error, bool abandoned);

    QWidget *m_window;
    TmySQLClient *m_client = nullptr;
    TExportOptions m_options;
    TPartFile m_file;
    std::vector<rowformat::Column> m_columns;
    QString m_table;
    bool m_running = false;
    bool m_streaming = false; // our stream reads on the connection
    bool m_failed = false;
    bool m_first = true;
    // Counted by the writer while a stream runs.
    std::atomic<qint64> m_rows{0};
    std::atomic<qint64> m_bytes{0};
    // Batches on their way to the writer.
    struct Item
    {
        std::unique_ptr<CellStore> Rows;
        bool First = false;
        std::string Text; // written as it is (the CREATE TABLE)
    };
    struct Queue
    {
        std::mutex lock;
        std::condition_variable wake;
        std::deque<Item> items;
        bool ended = false;
        bool abandoned = false;
        // Set by the writer when it is done.
        bool finished = false;
        int error = 0;
        bool dropped = false;
    };
    std::shared_ptr<Queue> m_queue;
    static constexpr int GatedBatches = 8;
    std::shared_ptr<TmySQLStreamGate> m_gate;
    QTimer m_poll; // looks for the writer's end
    qint64 m_started = 0;
    QPointer<QWidget> m_progress;
    QLabel *m_status = nullptr;
    // The writer of a streamed export: formats, writes, flushes and renames.
    std::thread m_commit;
};
