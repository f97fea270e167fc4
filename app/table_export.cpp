#include "table_export.h"

#include "CellStore.h"
#include "StringGrid.h"
#include "common.h"
#include "mySQLClient.h"
#include "result_grid.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QVBoxLayout>

namespace exportdialog {
namespace {
std::optional<TExportOptions> defaultAsker(QWidget *parent, const TExportOptions &defaults)
{
    QDialog dialog(parent);
    dialog.setObjectName(QStringLiteral("Export_dialog"));
    dialog.setWindowTitle(QStringLiteral("Export"));
    auto *form = new QFormLayout(&dialog);
    auto *format = new QComboBox(&dialog);
    format->setObjectName(QStringLiteral("Export_format"));
    format->addItems({QStringLiteral("CSV"), QStringLiteral("TSV"), QStringLiteral("JSON lines"),
                      QStringLiteral("SQL INSERTs")});
    form->addRow(QStringLiteral("&Format:"), format);
    auto *header = new QCheckBox(QStringLiteral("&Column names first"), &dialog);
    header->setChecked(defaults.Header);
    form->addRow(header);
    auto *create = new QCheckBox(QStringLiteral("C&REATE TABLE first (SQL)"), &dialog);
    form->addRow(create);
    auto *null = new QLineEdit(defaults.Null, &dialog);
    null->setObjectName(QStringLiteral("Export_null"));
    form->addRow(QStringLiteral("&NULL as:"), null);
    auto *whole =
        new QRadioButton(QStringLiteral("The &whole table (its sort and filter)"), &dialog);
    auto *shown = new QRadioButton(QStringLiteral("The rows &shown"), &dialog);
    (defaults.WholeTable && defaults.TableChoice ? whole : shown)->setChecked(true);
    whole->setEnabled(defaults.TableChoice);
    create->setEnabled(defaults.TableChoice);
    form->addRow(whole);
    form->addRow(shown);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    form->addRow(buttons);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    TExportOptions options = defaults;
    const rowformat::Kind kinds[] = {rowformat::Kind::Csv, rowformat::Kind::Tsv,
                                     rowformat::Kind::JsonLines, rowformat::Kind::Insert};
    options.Format = kinds[std::max(format->currentIndex(), 0)];
    options.Header = header->isChecked();
    options.CreateTable = create->isChecked() && defaults.TableChoice;
    options.Null = null->text();
    options.WholeTable = whole->isChecked() && defaults.TableChoice;
    const char *suffixes[] = {"csv", "tsv", "jsonl", "sql"};
    ui::SaveDialogOptions save;
    save.caption = QStringLiteral("Export");
    save.fileName = defaults.Path;
    save.defaultSuffix = QString::fromLatin1(suffixes[std::max(format->currentIndex(), 0)]);
    options.Path = ui::getSaveFileName(parent, save);
    if (options.Path.isEmpty()) return std::nullopt;
    return options;
}
Asker g_asker = defaultAsker;
} // namespace

std::optional<TExportOptions> ask(QWidget *parent, const TExportOptions &defaults)
{
    return g_asker(parent, defaults);
}

Asker setAsker(Asker asker)
{
    const Asker old = g_asker;
    g_asker = asker ? asker : defaultAsker;
    return old;
}
} // namespace exportdialog

TTableExport::TTableExport(QWidget *window) : QObject(window), m_window(window)
{
    m_poll.setInterval(20);
    connect(&m_poll, &QTimer::timeout, this, [this] {
        if (!m_queue) return;
        int error = 0;
        bool dropped = false;
        {
            std::lock_guard<std::mutex> lock(m_queue->lock);
            if (!m_queue->finished) return;
            error = m_queue->error;
            dropped = m_queue->dropped;
        }
        m_poll.stop();
        committed(error, dropped);
    });
}

TTableExport::~TTableExport()
{
    if (m_gate) m_gate->Open();
    finishStream(true);
    if (m_commit.joinable()) m_commit.join();
}

std::vector<rowformat::Column> TTableExport::columnsOf(const std::vector<TmySQLFieldInfo> &fields)
{
    std::vector<rowformat::Column> columns;
    for (const TmySQLFieldInfo &field : fields) {
        rowformat::Column column;
        column.Name = field.Name;
        column.Bit = field.Type == 16;
        column.Binary = resultgrid::formatOf(field) == TCellFormat::Hex;
        column.Number =
            (field.Type >= 0 && field.Type <= 9 && field.Type != 6 && field.Type != 7) ||
            field.Type == 246;
        columns.push_back(std::move(column));
    }
    return columns;
}

rowformat::Options TTableExport::formatOptions(const QString &table) const
{
    rowformat::Options options;
    options.Header = m_options.Header;
    options.Null = m_options.Null.toStdString();
    options.CsvNull =
        m_options.Null == QLatin1String("\\N") ? std::string("NULL") : m_options.Null.toStdString();
    options.BinaryAsHex = false; // a file holds the bytes themselves
    options.Table = QuoteIdentifier(table.toStdString());
    return options;
}

bool TTableExport::open(const TExportOptions &options)
{
    if (m_running) return false;
    m_options = options;
    m_rows = m_bytes = 0;
    m_failed = false;
    m_first = true;
    try {
        m_file.create(options.Path);
    } catch (const TFileError &error) {
        ui::showAppError(m_window, TFileError::TextFor(error.ErrorNumber()));
        Q_EMIT finished(false, TFileError::TextFor(error.ErrorNumber()));
        return false;
    }
    return true;
}

void TTableExport::put(std::string &text)
{
    if (m_failed || text.empty()) return;
    try {
        m_file.write(text.data(), text.size());
        m_bytes += static_cast<qint64>(text.size());
    } catch (const TFileError &error) {
        fail(TFileError::TextFor(error.ErrorNumber()));
    }
    text.clear();
}

void TTableExport::fail(const QString &message)
{
    if (m_failed) return;
    m_failed = true;
    if (m_streaming && m_client) m_client->StopReading(); // the writer drops the file
    if (!m_running) m_file.abandon();
    ui::showAppError(m_window, message);
}

bool TTableExport::writeShown(const TStringGrid *grid, const std::vector<TmySQLFieldInfo> &fields,
                              const QString &table, const TExportOptions &options)
{
    if (!open(options)) return false;
    m_columns = columnsOf(fields);
    const rowformat::Options format = formatOptions(table);
    std::string text;
    rowformat::begin(options.Format, m_columns, format, text);
    for (int row = grid->HeaderRows(); row < grid->RowCount() && !m_failed; ++row) {
        rowformat::row(
            options.Format, m_columns, format,
            [grid, row](int col) -> std::optional<std::string_view> {
                if (grid->CellIsNull(col, row)) return std::nullopt;
                return grid->CellUtf8(col, row);
            },
            row == grid->HeaderRows(), text);
        ++m_rows;
        if (text.size() > (1 << 20)) put(text);
    }
    rowformat::end(options.Format, text);
    put(text);
    done(false);
    return !m_failed;
}

bool TTableExport::startTable(TmySQLClient *client, const QString &database, const QString &table,
                              const tablesql::View &view, const TExportOptions &options)
{
    if (!client || !client->Connected() || !client->Query() || !open(options)) return false;
    if (m_commit.joinable()) m_commit.join();
    m_client = client;
    m_table = table;
    m_running = true;
    m_started = QDateTime::currentMSecsSinceEpoch();
    showProgress();
    // The rows are written as text on a thread of its own: the window thread only hands over
    // each batch as it came, and stays answered however fast the rows arrive.
    m_queue = std::make_shared<Queue>();
    // The stream waits while the writer has this many batches to write: memory stays bounded
    // however much faster the server sends than the disk takes.
    m_gate = std::make_shared<TmySQLStreamGate>(GatedBatches);
    m_commit = std::thread([this, queue = m_queue, format = formatOptions(table), gate = m_gate] {
        int error = 0;
        bool first = true;
        for (;;) {
            Item item;
            {
                std::unique_lock<std::mutex> lock(queue->lock);
                queue->wake.wait(lock, [&] {
                    return !queue->items.empty() || queue->ended || queue->abandoned;
                });
                if (queue->abandoned) break;
                if (queue->items.empty()) break; // ended, all written
                item = std::move(queue->items.front());
                queue->items.pop_front();
            }
            std::string text = std::move(item.Text);
            if (item.Rows) {
                const CellStore &rows = *item.Rows;
                if (item.First) rowformat::begin(m_options.Format, m_columns, format, text);
                for (int r = item.First ? 1 : 0; r < rows.rowCount(); ++r) {
                    rowformat::row(
                        m_options.Format, m_columns, format,
                        [&rows, r](int col) -> std::optional<std::string_view> {
                            if (rows.isNull(col, r)) return std::nullopt;
                            return rows.get(col, r);
                        },
                        first, text);
                    first = false;
                    ++m_rows;
                }
            }
            try {
                if (!text.empty()) m_file.write(text.data(), text.size());
                m_bytes += static_cast<qint64>(text.size());
            } catch (const TFileError &e) {
                error = e.ErrorNumber();
                break;
            }
            if (item.Rows) gate->Done();
        }
        gate->Open(); // nothing more is taken
        bool abandoned = false;
        {
            std::lock_guard<std::mutex> lock(queue->lock);
            abandoned = queue->abandoned;
        }
        if (error == 0 && !abandoned) {
            try {
                std::string text;
                rowformat::end(m_options.Format, text);
                m_file.write(text.data(), text.size());
                m_file.commit(); // flushed, then renamed: a big file's fsync takes a while
            } catch (const TFileError &e) {
                error = e.ErrorNumber();
            }
        }
        if (error != 0 || abandoned) m_file.abandon();
        // Told through the queue, which the window thread looks at: no event crosses threads.
        std::lock_guard<std::mutex> lock(queue->lock);
        queue->finished = true;
        queue->error = error;
        queue->dropped = abandoned;
    });
    m_poll.start();
    auto push = [queue = m_queue](Item item) {
        {
            std::lock_guard<std::mutex> lock(queue->lock);
            queue->items.push_back(std::move(item));
        }
        queue->wake.notify_one();
    };
    const std::string db = database.toStdString(), name = table.toStdString();
    if (options.Format == rowformat::Kind::Insert && options.CreateTable) {
        client->Query()->SubmitStatementWithHandlers(
            tablesql::Create(db, name), "Export Create", false,
            [push](QObject *sender) {
                auto *q = static_cast<TmySQLClientQuery *>(sender);
                if (q->RowCount() > 0 && q->FieldCount() >= 2) {
                    Item item;
                    item.Text = std::string(q->ValueBytes(0, 1)) + ";\n\n";
                    push(std::move(item));
                }
                q->Clear();
            },
            [this](QObject *, const QString &msg) {
                if (!msg.isEmpty()) fail(msg);
            });
    }
    // A stream of its own: the rows go to the file batch by batch and are not kept.
    client->Query()->SubmitStream(
        tablesql::Select(db, name, view), "Export Table",
        [this, push, gate = m_gate](QObject *, TmySQLRowBatch &batch) {
            if (m_failed || !batch.Block) {
                gate->Done();
                return;
            }
            // The columns are known before the first batch goes to the writer.
            if (batch.First) m_columns = columnsOf(batch.Fields);
            Item item;
            item.Rows = std::make_unique<CellStore>();
            item.Rows->assign(std::move(*batch.Block));
            item.First = batch.First;
            push(std::move(item));
            showProgress();
        },
        [this](QObject *sender) {
            m_streaming = false;
            finishStream(static_cast<TmySQLClientQuery *>(sender)->StreamStopped() || m_failed);
        },
        [this](QObject *, const QString &msg) {
            fail(msg.isEmpty() ? QStringLiteral("The export failed") : msg);
            m_streaming = false;
            finishStream(true);
        },
        m_gate);
    m_streaming = true;
    client->ExecuteTasks();
    return true;
}

void TTableExport::finishStream(bool abandon)
{
    if (abandon && m_gate) m_gate->Open();
    if (!m_queue) return;
    {
        std::lock_guard<std::mutex> lock(m_queue->lock);
        if (abandon)
            m_queue->abandoned = true;
        else
            m_queue->ended = true;
    }
    m_queue->wake.notify_one();
}

void TTableExport::stop()
{
    // Only while our stream reads: the connection's next read is someone else's.
    if (m_streaming && m_client) m_client->StopReading();
}

void TTableExport::done(bool stopped)
{
    // The rows shown, written at once on the window thread.
    if (m_failed || stopped) {
        m_file.abandon();
        Q_EMIT finished(false, QStringLiteral("The export failed; no file was written"));
        return;
    }
    std::string text;
    rowformat::end(m_options.Format, text);
    put(text);
    int error = 0;
    if (!m_failed) {
        try {
            m_file.commit();
        } catch (const TFileError &e) {
            error = e.ErrorNumber();
        }
    }
    committed(error, m_failed);
}

void TTableExport::committed(int error, bool abandoned)
{
    if (m_commit.joinable()) m_commit.join();
    m_queue.reset();
    m_running = false;
    if (m_progress) m_progress->close();
    if (error != 0) {
        // The rest of the table is not read for nothing.
        m_failed = true;
        if (m_streaming && m_client) m_client->StopReading();
        ui::showAppError(m_window, TFileError::TextFor(error));
        Q_EMIT finished(false, TFileError::TextFor(error));
        return;
    }
    if (abandoned) {
        Q_EMIT finished(false, m_failed ? QStringLiteral("The export failed; no file was written")
                                        : QStringLiteral("Export stopped; no file was written"));
        return;
    }
    Q_EMIT finished(true, QStringLiteral("%1 rows exported").arg(qint64(m_rows)));
}

void TTableExport::showProgress()
{
    if (!m_progress) {
        auto *window = new QDialog(m_window);
        window->setObjectName(QStringLiteral("Export_progress"));
        window->setWindowTitle(QStringLiteral("Export"));
        window->setAttribute(Qt::WA_DeleteOnClose);
        auto *layout = new QVBoxLayout(window);
        m_status = new QLabel(window);
        m_status->setObjectName(QStringLiteral("Export_status"));
        m_status->setMinimumWidth(320);
        layout->addWidget(m_status);
        auto *stop = new QPushButton(QStringLiteral("Stop"), window);
        stop->setObjectName(QStringLiteral("Stop_export"));
        connect(stop, &QPushButton::clicked, this, &TTableExport::stop);
        layout->addWidget(stop, 0, Qt::AlignRight);
        ui::announceAsDialog(window);
        m_progress = window;
        window->show();
    }
    const double seconds =
        std::max<qint64>(QDateTime::currentMSecsSinceEpoch() - m_started, 1) / 1000.0;
    const qint64 rows = m_rows, bytes = m_bytes;
    m_status->setText(QStringLiteral("%1 rows written, %2 MB, %3 rows/s")
                          .arg(rows)
                          .arg(bytes / 1e6, 0, 'f', 1)
                          .arg(qint64(rows / seconds)));
}
