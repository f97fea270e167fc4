#include "server_activity.h"

#include "client_login.h"
#include "common.h"
#include "mySQLClient.h"

#include <QAbstractButton>
#include <QAbstractTableModel>
#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QFont>
#include <QHBoxLayout>
#include <QHash>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QPointer>
#include <QPushButton>
#include <QSettings>
#include <QSortFilterProxyModel>
#include <QSpinBox>
#include <QSplitter>
#include <QTabWidget>
#include <QTableView>
#include <QVBoxLayout>
#include <QValueAxis>

#include <algorithm>
#include <array>

namespace {
const QString Caption = QStringLiteral("Server Activity");
const QString OwnDescription = QStringLiteral("this program's connection");
// Info can be a statement of megabytes: the list shows its start.
const char *const ProcessSql = "SELECT ID, USER, HOST, DB, COMMAND, TIME, STATE, LEFT(INFO, 1000) "
                               "FROM information_schema.PROCESSLIST";

QPushButton *button(QWidget *parent, const QString &name, const QString &text, const QString &tip)
{
    auto *b = new QPushButton(text, parent);
    b->setObjectName(name);
    b->setAccessibleName(text);
    b->setToolTip(tip);
    return b;
}

QTableView *table(QWidget *parent, const QString &name)
{
    auto *view = new QTableView(parent);
    view->setObjectName(name);
    view->setAccessibleName(name);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setWordWrap(false);
    view->verticalHeader()->hide();
    // Rows of one height: the view never measures 500 rows' texts.
    view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    view->verticalHeader()->setDefaultSectionSize(view->fontMetrics().height() + 6);
    view->horizontalHeader()->setStretchLastSection(true);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Qt's corner button has no text: named by its command, as every glyph button is.
    if (auto *corner = view->findChild<QAbstractButton *>()) {
        corner->setAccessibleName(QStringLiteral("Select all"));
        corner->setToolTip(QStringLiteral("Select all"));
    }
    return view;
}

QString rateText(double r)
{
    return r >= 100 ? QString::number(r, 'f', 0) : QString::number(r, 'f', 1);
}
} // namespace

namespace activity {
// The process list, kept row for row across refreshes: a row is its thread, found again by its
// Id, so the view's sort and selection stay and only what changed is announced.
class ProcessModel : public QAbstractTableModel
{
public:
    static constexpr int Columns = 8;
    struct Row
    {
        std::uint64_t Id = 0;
        std::array<QString, Columns> Cells;
        qulonglong Time = 0;
        bool Own = false;
    };
    using QAbstractTableModel::QAbstractTableModel;

    int rowCount(const QModelIndex &parent = {}) const override
    {
        return parent.isValid() ? 0 : int(m_rows.size());
    }
    int columnCount(const QModelIndex &parent = {}) const override
    {
        return parent.isValid() ? 0 : Columns;
    }
    QVariant headerData(int section, Qt::Orientation o, int role) const override
    {
        static const std::array<const char *, Columns> names{"Id",      "User", "Host",  "db",
                                                             "Command", "Time", "State", "Info"};
        if (o == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < Columns)
            return QString::fromLatin1(names[std::size_t(section)]);
        return {};
    }
    QVariant data(const QModelIndex &index, int role) const override
    {
        if (!index.isValid() || index.row() >= int(m_rows.size())) return {};
        const Row &row = m_rows[std::size_t(index.row())];
        switch (role) {
        case Qt::DisplayRole:
            return row.Cells[std::size_t(index.column())];
        case Qt::UserRole: // the sort key: numbers as numbers
            if (index.column() == 0) return qulonglong(row.Id);
            if (index.column() == 5) return row.Time;
            return row.Cells[std::size_t(index.column())];
        case Qt::FontRole:
            if (row.Own) {
                QFont bold;
                bold.setBold(true);
                return bold;
            }
            return {};
        case Qt::AccessibleDescriptionRole:
            return row.Own ? OwnDescription : QString();
        case Qt::TextAlignmentRole:
            if (index.column() == 0 || index.column() == 5)
                return int(Qt::AlignRight | Qt::AlignVCenter);
            return {};
        }
        return {};
    }
    std::uint64_t idAt(int row) const { return m_rows[std::size_t(row)].Id; }
    const Row *find(std::uint64_t id) const
    {
        const auto it = m_index.constFind(id);
        return it == m_index.constEnd() ? nullptr : &m_rows[std::size_t(*it)];
    }

    // The new list taken in place: rows gone are removed, rows kept are changed where they
    // differ (one change announced over their span), new rows go at the end.
    void update(std::vector<Row> rows)
    {
        QHash<std::uint64_t, int> fresh;
        fresh.reserve(int(rows.size()));
        for (int i = 0; i < int(rows.size()); ++i)
            fresh.insert(rows[std::size_t(i)].Id, i);
        for (int last = int(m_rows.size()) - 1; last >= 0;) {
            if (fresh.contains(m_rows[std::size_t(last)].Id)) {
                --last;
                continue;
            }
            int first = last;
            while (first > 0 && !fresh.contains(m_rows[std::size_t(first - 1)].Id))
                --first;
            beginRemoveRows({}, first, last);
            m_rows.erase(m_rows.begin() + first, m_rows.begin() + last + 1);
            endRemoveRows();
            last = first - 1;
        }
        m_index.clear();
        m_index.reserve(int(m_rows.size()));
        for (int i = 0; i < int(m_rows.size()); ++i)
            m_index.insert(m_rows[std::size_t(i)].Id, i);
        int low = -1, high = -1;
        std::vector<Row> added;
        for (Row &row : rows) {
            const auto it = m_index.constFind(row.Id);
            if (it == m_index.constEnd()) {
                added.push_back(std::move(row));
                continue;
            }
            Row &mine = m_rows[std::size_t(*it)];
            if (mine.Cells == row.Cells && mine.Own == row.Own) continue;
            mine = std::move(row);
            low = low < 0 ? *it : std::min(low, *it);
            high = std::max(high, *it);
        }
        if (low >= 0) Q_EMIT dataChanged(index(low, 0), index(high, Columns - 1));
        if (!added.empty()) {
            const int first = int(m_rows.size());
            beginInsertRows({}, first, first + int(added.size()) - 1);
            for (Row &row : added) {
                m_index.insert(row.Id, int(m_rows.size()));
                m_rows.push_back(std::move(row));
            }
            endInsertRows();
        }
    }

private:
    std::vector<Row> m_rows;
    QHash<std::uint64_t, int> m_index;
};

// Name and value (and, for the status, the rate) of SHOW GLOBAL STATUS or VARIABLES. The
// server lists the same names in the same order each time, so a refresh is one change
// announced over the whole table; a different set of names is taken anew.
class NameValueModel : public QAbstractTableModel
{
public:
    NameValueModel(QStringList headers, QObject *parent)
        : QAbstractTableModel(parent), m_headers(std::move(headers))
    {
    }
    using Row = std::vector<QString>;
    int rowCount(const QModelIndex &parent = {}) const override
    {
        return parent.isValid() ? 0 : int(m_rows.size());
    }
    int columnCount(const QModelIndex &parent = {}) const override
    {
        return parent.isValid() ? 0 : int(m_headers.size());
    }
    QVariant headerData(int section, Qt::Orientation o, int role) const override
    {
        if (o == Qt::Horizontal && role == Qt::DisplayRole) return m_headers.value(section);
        return {};
    }
    QVariant data(const QModelIndex &index, int role) const override
    {
        if (!index.isValid() || index.row() >= int(m_rows.size())) return {};
        if (role == Qt::DisplayRole)
            return m_rows[std::size_t(index.row())][std::size_t(index.column())];
        if (role == Qt::TextAlignmentRole && index.column() > 0)
            return int(Qt::AlignRight | Qt::AlignVCenter);
        return {};
    }
    void update(std::vector<Row> rows)
    {
        const bool sameNames = rows.size() == m_rows.size() &&
                               std::equal(rows.begin(), rows.end(), m_rows.begin(),
                                          [](const Row &a, const Row &b) { return a[0] == b[0]; });
        if (!sameNames) {
            beginResetModel();
            m_rows = std::move(rows);
            endResetModel();
            return;
        }
        m_rows = std::move(rows);
        if (!m_rows.empty())
            Q_EMIT dataChanged(index(0, 1), index(int(m_rows.size()) - 1, columnCount() - 1));
    }

private:
    QStringList m_headers;
    std::vector<Row> m_rows;
};

// Rows whose name (column 0) matches the filter edit's text.
class NameFilter : public QSortFilterProxyModel
{
public:
    using QSortFilterProxyModel::QSortFilterProxyModel;
    void setPattern(const QString &text)
    {
        m_pattern = text.toStdString();
        invalidateFilter();
    }

protected:
    bool filterAcceptsRow(int row, const QModelIndex &parent) const override
    {
        const QString name = sourceModel()->index(row, 0, parent).data().toString();
        return filterMatches(m_pattern, name.toStdString());
    }

private:
    std::string m_pattern;
};
} // namespace activity

using activity::NameValueModel;
using activity::ProcessModel;

TServerActivity::TServerActivity(TmySQLClient *main, QWidget *parent)
    : QWidget(parent, Qt::Window), m_main(main)
{
    setObjectName(QStringLiteral("server_activity"));
    setWindowTitle(Caption);
    buildLayout();
    if (!restoreGeometry(
            QSettings().value(QStringLiteral("serverActivity/geometry")).toByteArray()))
        resize(1100, 720);
    m_clock.start();
    m_timer.setInterval(Interval_spin->value() * 1000);
    connect(&m_timer, &QTimer::timeout, this, &TServerActivity::tick);
    updateStatusLine();
}

TServerActivity::~TServerActivity()
{
    // Closed silently with the component; nothing of ours is called back any more.
    m_conn.reset();
}

void TServerActivity::buildLayout()
{
    auto *layout = new QVBoxLayout(this);
    Pages = new QTabWidget(this);
    Pages->setObjectName(QStringLiteral("Pages"));
    Pages->setAccessibleName(QStringLiteral("Pages"));
    Pages->addTab(buildProcessPage(), QStringLiteral("&Processes"));
    Pages->addTab(buildStatusPage(), QStringLiteral("S&tatus"));
    Pages->addTab(buildVariablesPage(), QStringLiteral("&Variables"));
    layout->addWidget(Pages, 1);
    Status_line = new QLabel(this);
    Status_line->setObjectName(QStringLiteral("Status_line"));
    layout->addWidget(Status_line);
    // The variables seldom change: read when their page is looked at.
    connect(Pages, &QTabWidget::currentChanged, this, [this](int page) {
        if (page == 2 && !m_variablesRead) refresh();
    });
}

QWidget *TServerActivity::buildProcessPage()
{
    auto *page = new QWidget;
    page->setObjectName(QStringLiteral("Processes_page"));
    auto *column = new QVBoxLayout(page);
    auto *bar = new QHBoxLayout;
    Pause_check = new QCheckBox(QStringLiteral("P&ause"), page);
    Pause_check->setObjectName(QStringLiteral("Pause_check"));
    Pause_check->setToolTip(QStringLiteral("Keep the process list as it is"));
    auto *intervalLabel = new QLabel(QStringLiteral("&Refresh every:"), page);
    intervalLabel->setObjectName(QStringLiteral("Interval_label"));
    Interval_spin = new QSpinBox(page);
    Interval_spin->setObjectName(QStringLiteral("Interval_spin"));
    Interval_spin->setRange(1, 3600);
    Interval_spin->setValue(2);
    Interval_spin->setSuffix(QStringLiteral(" s"));
    intervalLabel->setBuddy(Interval_spin);
    Kill_query_button =
        button(page, QStringLiteral("Kill_query_button"), QStringLiteral("Kill &query"),
               QStringLiteral("End the statement the selected connections run"));
    Kill_connection_button =
        button(page, QStringLiteral("Kill_connection_button"), QStringLiteral("Kill &connection"),
               QStringLiteral("Close the selected connections"));
    bar->addWidget(Pause_check);
    bar->addWidget(intervalLabel);
    bar->addWidget(Interval_spin);
    bar->addStretch(1);
    bar->addWidget(Kill_query_button);
    bar->addWidget(Kill_connection_button);
    column->addLayout(bar);

    m_processes = new ProcessModel(this);
    m_processView = new QSortFilterProxyModel(this);
    m_processView->setSourceModel(m_processes);
    m_processView->setSortRole(Qt::UserRole);
    m_processView->setSortCaseSensitivity(Qt::CaseInsensitive);
    Process_view = table(page, QStringLiteral("Process_view"));
    Process_view->setModel(m_processView);
    Process_view->setSortingEnabled(true);
    Process_view->sortByColumn(0, Qt::AscendingOrder);
    const std::array<int, ProcessModel::Columns - 1> widths{70, 110, 150, 110, 90, 60, 160};
    for (int c = 0; c < int(widths.size()); ++c)
        Process_view->setColumnWidth(c, widths[std::size_t(c)]);
    column->addWidget(Process_view, 1);

    connect(Interval_spin, &QSpinBox::valueChanged, this,
            [this](int seconds) { m_timer.setInterval(seconds * 1000); });
    connect(Kill_query_button, &QAbstractButton::clicked, this, &TServerActivity::KillQueryClick);
    connect(Kill_connection_button, &QAbstractButton::clicked, this,
            &TServerActivity::KillConnectionClick);
    return page;
}

namespace {
QChartView *chartView(QWidget *parent, const QString &name, const QString &title,
                      const QString &unit,
                      std::initializer_list<std::pair<QString, QLineSeries **>> lines)
{
    auto *chart = new QChart;
    chart->setTitle(title);
    chart->setMargins(QMargins(4, 4, 4, 4));
    auto *x = new QDateTimeAxis(chart);
    x->setFormat(QStringLiteral("HH:mm"));
    x->setTickCount(6);
    auto *y = new QValueAxis(chart);
    y->setLabelFormat(QStringLiteral("%.0f"));
    y->setTitleText(unit);
    y->setRange(0, 1);
    chart->addAxis(x, Qt::AlignBottom);
    chart->addAxis(y, Qt::AlignLeft);
    for (const auto &[label, series] : lines) {
        *series = new QLineSeries(chart);
        (*series)->setName(label);
        chart->addSeries(*series);
        (*series)->attachAxis(x);
        (*series)->attachAxis(y);
    }
    chart->legend()->setVisible(lines.size() > 1);
    auto *view = new QChartView(chart, parent);
    view->setObjectName(name);
    view->setAccessibleName(name);
    view->setAccessibleDescription(title);
    view->setRenderHint(QPainter::Antialiasing);
    view->setMinimumHeight(180);
    return view;
}
} // namespace

QWidget *TServerActivity::buildStatusPage()
{
    auto *page = new QWidget;
    page->setObjectName(QStringLiteral("Status_page"));
    auto *column = new QVBoxLayout(page);
    auto *bar = new QHBoxLayout;
    auto *label = new QLabel(QStringLiteral("&Filter:"), page);
    label->setObjectName(QStringLiteral("Status_filter_label"));
    Status_filter = new QLineEdit(page);
    Status_filter->setObjectName(QStringLiteral("Status_filter"));
    Status_filter->setPlaceholderText(QStringLiteral("part of a name; % any run, _ any one"));
    label->setBuddy(Status_filter);
    bar->addWidget(label);
    bar->addWidget(Status_filter, 1);
    column->addLayout(bar);

    auto *split = new QSplitter(Qt::Vertical, page);
    split->setObjectName(QStringLiteral("Status_split"));
    m_status = new NameValueModel(
        {QStringLiteral("Variable_name"), QStringLiteral("Value"), QStringLiteral("Per second")},
        this);
    auto *filter = new activity::NameFilter(this);
    filter->setSourceModel(m_status);
    m_statusView = filter;
    Status_view = table(split, QStringLiteral("Status_view"));
    Status_view->setModel(m_statusView);
    Status_view->setColumnWidth(0, 320);
    Status_view->setColumnWidth(1, 200);
    connect(Status_filter, &QLineEdit::textChanged, filter, &activity::NameFilter::setPattern);

    auto *charts = new QWidget(split);
    auto *row = new QHBoxLayout(charts);
    row->setContentsMargins(0, 0, 0, 0);
    Queries_chart =
        chartView(charts, QStringLiteral("Queries_chart"), QStringLiteral("Queries per second"),
                  QStringLiteral("per s"), {{QStringLiteral("Queries"), &m_queriesSeries}});
    Connections_chart = chartView(charts, QStringLiteral("Connections_chart"),
                                  QStringLiteral("Connections (Threads_connected)"), QString(),
                                  {{QStringLiteral("Connections"), &m_connectionsSeries}});
    Traffic_chart = chartView(
        charts, QStringLiteral("Traffic_chart"), QStringLiteral("Kibibytes per second"),
        QStringLiteral("KiB/s"),
        {{QStringLiteral("Received"), &m_receivedSeries}, {QStringLiteral("Sent"), &m_sentSeries}});
    row->addWidget(Queries_chart);
    row->addWidget(Connections_chart);
    row->addWidget(Traffic_chart);
    split->setSizes({300, 300});
    column->addWidget(split, 1);
    return page;
}

QWidget *TServerActivity::buildVariablesPage()
{
    auto *page = new QWidget;
    page->setObjectName(QStringLiteral("Variables_page"));
    auto *column = new QVBoxLayout(page);
    auto *bar = new QHBoxLayout;
    auto *label = new QLabel(QStringLiteral("F&ilter:"), page);
    label->setObjectName(QStringLiteral("Variables_filter_label"));
    Variables_filter = new QLineEdit(page);
    Variables_filter->setObjectName(QStringLiteral("Variables_filter"));
    Variables_filter->setPlaceholderText(QStringLiteral("part of a name; % any run, _ any one"));
    label->setBuddy(Variables_filter);
    bar->addWidget(label);
    bar->addWidget(Variables_filter, 1);
    column->addLayout(bar);
    m_variables =
        new NameValueModel({QStringLiteral("Variable_name"), QStringLiteral("Value")}, this);
    auto *filter = new activity::NameFilter(this);
    filter->setSourceModel(m_variables);
    m_variablesView = filter;
    Variables_view = table(page, QStringLiteral("Variables_view"));
    Variables_view->setModel(m_variablesView);
    Variables_view->setColumnWidth(0, 320);
    connect(Variables_filter, &QLineEdit::textChanged, filter, &activity::NameFilter::setPattern);
    column->addWidget(Variables_view, 1);
    return page;
}

QAbstractItemModel *TServerActivity::processes() const
{
    return m_processView;
}
QAbstractItemModel *TServerActivity::status() const
{
    return m_statusView;
}
QAbstractItemModel *TServerActivity::variables() const
{
    return m_variablesView;
}

int TServerActivity::seriesPoints(const QString &name) const
{
    const QLineSeries *series = name == QLatin1String("queries")       ? m_queriesSeries
                                : name == QLatin1String("connections") ? m_connectionsSeries
                                : name == QLatin1String("received")    ? m_receivedSeries
                                : name == QLatin1String("sent")        ? m_sentSeries
                                                                       : nullptr;
    return series ? int(series->count()) : -1;
}

void TServerActivity::setOtherConnections(std::function<std::vector<std::uint64_t>()> ids)
{
    m_otherIds = std::move(ids);
}

// ---------------------------------------------------------------------------------------------
// The connection

void TServerActivity::showWindow()
{
    show();
    raise();
    activateWindow();
    if (!m_main || !m_main->Connected()) {
        m_note = QStringLiteral("Not connected: connect to a server first");
        updateStatusLine();
        return;
    }
    ensureConnection();
}

void TServerActivity::ensureConnection()
{
    if (m_conn && m_conn->Connected()) {
        m_timer.start();
        refresh();
        return;
    }
    if (!m_conn) {
        m_conn = std::make_unique<TmySQLClient>();
        m_conn->setObjectName(QStringLiteral("activity_mysql"));
        m_conn->setThreaded(true);
        // Everything it sends but Kill is a read: a close cuts a stuck one off, never waits.
        m_conn->setBlockOnClose(false);
        m_conn->OnConnect = [this](QObject *) {
            m_connecting = false;
            if (m_connectFor != m_generation) {
                // Closed (the window, or the main connection) while it connected; closed
                // once the component has finished reporting the connect.
                QTimer::singleShot(0, this, [this] {
                    if (m_conn && m_conn->Connected() && !m_connecting && !m_timer.isActive())
                        m_conn->Close();
                });
                return;
            }
            m_note.clear();
            m_timer.start();
            refresh();
        };
        m_conn->OnConnectError = [this](QObject *, const QString &msg) {
            m_connecting = false;
            if (m_connectFor != m_generation) return;
            m_note = QStringLiteral("Could not connect: ") + msg;
            updateStatusLine();
        };
        m_conn->OnClose = [this](QObject *) { updateStatusLine(); };
    }
    m_connectFor = m_generation;
    if (m_connecting) return; // the connect under way serves
    m_connecting = true;
    copyLogin(m_main, m_conn.get());
    m_note = QStringLiteral("Connecting\u2026");
    updateStatusLine();
    m_conn->Connect();
}

void TServerActivity::closeConnection(const QString &why)
{
    m_timer.stop();
    ++m_generation;
    m_outstanding = 0;
    m_waiting = false;
    if (m_conn && m_conn->Connected()) m_conn->Close();
    m_note = why;
    updateStatusLine();
}

void TServerActivity::mainClosed()
{
    if (m_conn) closeConnection(QStringLiteral("Not connected"));
}

void TServerActivity::mainConnected()
{
    if (!isVisible()) return;
    if (m_conn && m_conn->Connected()) closeConnection(QString());
    ensureConnection();
}

void TServerActivity::closeEvent(QCloseEvent *event)
{
    closeConnection(QStringLiteral("Closed"));
    QSettings().setValue(QStringLiteral("serverActivity/geometry"), saveGeometry());
    event->accept();
}

// ---------------------------------------------------------------------------------------------
// Refreshing

void TServerActivity::tick()
{
    if (m_outstanding > 0) {
        // The last refresh has not come back: nothing more is piled on a slow server.
        m_waiting = true;
        updateStatusLine();
        return;
    }
    refresh();
}

void TServerActivity::refresh()
{
    if (!m_conn || !m_conn->Connected() || !m_conn->Query() || m_outstanding > 0) return;
    QPointer<TServerActivity> self(this);
    const int generation = m_generation;
    const auto submit = [&](const char *sql, const char *name, void (TServerActivity::*take)()) {
        m_conn->Query()->SubmitStatementWithHandlers(
            TmySQLStatement(sql).OnlyReads(), name, false,
            [self, generation, take](QObject *) {
                if (!self || generation != self->m_generation) return;
                QElapsedTimer clock;
                clock.start();
                (self.data()->*take)();
                self->m_workMs += double(clock.nsecsElapsed()) / 1e6;
                self->answered();
            },
            [self, generation](QObject *, const QString &msg) {
                if (!self || generation != self->m_generation) return;
                self->m_failed = msg;
                self->answered();
            });
        ++m_outstanding;
    };
    // A refresh unanswered for a moment is said so then, not only at the next tick.
    QTimer::singleShot(SlowMilliseconds, this, [this, generation, sent = m_refreshes] {
        if (generation == m_generation && m_outstanding > 0 && m_refreshes == sent) {
            m_waiting = true;
            updateStatusLine();
        }
    });
    if (!Pause_check->isChecked())
        submit(ProcessSql, "Activity Processes", &TServerActivity::takeProcesses);
    submit("SHOW GLOBAL STATUS", "Activity Status", &TServerActivity::takeStatus);
    if (Pages->currentIndex() == 2 || !m_variablesRead)
        submit("SHOW GLOBAL VARIABLES", "Activity Variables", &TServerActivity::takeVariables);
    m_conn->ExecuteTasks();
}

void TServerActivity::answered()
{
    if (--m_outstanding > 0) return;
    m_outstanding = 0;
    m_waiting = false;
    ++m_refreshes;
    m_lastWorkMs = m_workMs;
    m_workMs = 0;
    // A refresh that came back whole says the connection is fine again.
    m_note = m_failed;
    m_failed.clear();
    updateStatusLine();
}

std::vector<std::uint64_t> TServerActivity::ownIds() const
{
    std::vector<std::uint64_t> ids = m_otherIds ? m_otherIds() : std::vector<std::uint64_t>();
    for (const TmySQLClient *c : {static_cast<const TmySQLClient *>(m_main),
                                  static_cast<const TmySQLClient *>(m_conn.get())})
        if (c && c->Connected() && c->Utility()) ids.push_back(c->Utility()->ConnectionId());
    return ids;
}

void TServerActivity::takeProcesses()
{
    QElapsedTimer clock;
    clock.start();
    TmySQLClientQuery *q = m_conn->Query();
    const std::vector<std::uint64_t> own = ownIds();
    std::vector<ProcessModel::Row> rows(std::size_t(std::max(0, q->RowCount())));
    for (int r = 0; r < q->RowCount(); ++r) {
        ProcessModel::Row &row = rows[std::size_t(r)];
        for (int c = 0; c < ProcessModel::Columns; ++c) {
            const std::string_view bytes = q->ValueBytes(r, c);
            row.Cells[std::size_t(c)] = QString::fromUtf8(bytes.data(), qsizetype(bytes.size()));
        }
        row.Id = activity::counterValue(q->ValueBytes(r, 0)).value_or(0);
        row.Time = activity::counterValue(q->ValueBytes(r, 5)).value_or(0);
        row.Own = std::find(own.begin(), own.end(), row.Id) != own.end();
    }
    q->Clear();
    m_threads = int(rows.size());
    m_processes->update(std::move(rows));
    m_lastUpdateMs = double(clock.nsecsElapsed()) / 1e6;
}

void TServerActivity::takeStatus()
{
    TmySQLClientQuery *q = m_conn->Query();
    std::vector<std::pair<std::string, std::string>> status;
    status.reserve(std::size_t(std::max(0, q->RowCount())));
    for (int r = 0; r < q->RowCount(); ++r)
        status.emplace_back(std::string(q->ValueBytes(r, 0)), std::string(q->ValueBytes(r, 1)));
    q->Clear();
    const double now = double(QDateTime::currentMSecsSinceEpoch()) / 1000;
    m_rates.take(double(m_clock.nsecsElapsed()) / 1e9, status);
    std::vector<NameValueModel::Row> rows;
    rows.reserve(status.size());
    for (const auto &[name, value] : status) {
        const auto rate = m_rates.rate(name);
        rows.push_back({QString::fromStdString(name), QString::fromStdString(value),
                        rate ? rateText(*rate) : QString()});
    }
    m_status->update(std::move(rows));
    updateCharts(now);
}

void TServerActivity::updateCharts(double now)
{
    // Questions counts what clients sent; Queries (newer servers) also what procedures ran.
    auto queries = m_rates.rate("Questions");
    if (!queries) queries = m_rates.rate("Queries");
    if (queries) m_queries.add(now, *queries);
    if (const auto threads = m_rates.value("Threads_connected"))
        m_connections.add(now, double(*threads));
    if (const auto in = m_rates.rate("Bytes_received")) m_received.add(now, *in / 1024);
    if (const auto out = m_rates.rate("Bytes_sent")) m_sent.add(now, *out / 1024);
    const auto fill = [](QLineSeries *series, const activity::TimeWindow &window) {
        QList<QPointF> points;
        points.reserve(qsizetype(window.points().size()));
        for (const activity::Point &p : window.points())
            points.append(QPointF(p.t * 1000, p.v));
        series->replace(points);
    };
    fill(m_queriesSeries, m_queries);
    fill(m_connectionsSeries, m_connections);
    fill(m_receivedSeries, m_received);
    fill(m_sentSeries, m_sent);
    const QDateTime end = QDateTime::fromMSecsSinceEpoch(qint64(now * 1000));
    const QDateTime start = end.addSecs(-qint64(ChartSpan));
    const auto scale = [&](QChartView *view, double top) {
        QChart *chart = view->chart();
        for (QAbstractAxis *axis : chart->axes(Qt::Horizontal))
            static_cast<QDateTimeAxis *>(axis)->setRange(start, end);
        for (QAbstractAxis *axis : chart->axes(Qt::Vertical)) {
            auto *y = static_cast<QValueAxis *>(axis);
            y->setRange(0, std::max(1.0, top * 1.1));
            y->applyNiceNumbers(); // round steps, labels readable at a glance
        }
    };
    scale(Queries_chart, m_queries.maximum());
    scale(Connections_chart, m_connections.maximum());
    scale(Traffic_chart, std::max(m_received.maximum(), m_sent.maximum()));
}

void TServerActivity::takeVariables()
{
    TmySQLClientQuery *q = m_conn->Query();
    std::vector<NameValueModel::Row> rows;
    rows.reserve(std::size_t(std::max(0, q->RowCount())));
    for (int r = 0; r < q->RowCount(); ++r) {
        const std::string_view name = q->ValueBytes(r, 0), value = q->ValueBytes(r, 1);
        rows.push_back({QString::fromUtf8(name.data(), qsizetype(name.size())),
                        QString::fromUtf8(value.data(), qsizetype(value.size()))});
    }
    q->Clear();
    m_variablesRead = true;
    m_variables->update(std::move(rows));
}

void TServerActivity::updateStatusLine()
{
    QString text;
    if (m_waiting)
        text = QStringLiteral("Waiting for the server\u2026");
    else if (!m_note.isEmpty())
        text = m_note;
    else if (m_conn && m_conn->Connected())
        text = QStringLiteral("%1 connections, refreshed %2")
                   .arg(m_threads)
                   .arg(QTime::currentTime().toString(QStringLiteral("HH:mm:ss")));
    else
        text = QStringLiteral("Not connected");
    if (!m_killNote.isEmpty()) text += QStringLiteral(" — ") + m_killNote;
    Status_line->setText(text);
}

// ---------------------------------------------------------------------------------------------
// Kill

void TServerActivity::KillQueryClick()
{
    killSelected(false);
}

void TServerActivity::KillConnectionClick()
{
    killSelected(true);
}

void TServerActivity::killSelected(bool connection)
{
    std::vector<std::uint64_t> ids;
    for (const QModelIndex &index : Process_view->selectionModel()->selectedRows())
        ids.push_back(m_processes->idAt(m_processView->mapToSource(index).row()));
    if (ids.empty()) {
        ui::beep();
        m_killNote = QStringLiteral("Select the connections first");
        updateStatusLine();
        return;
    }
    std::sort(ids.begin(), ids.end());
    QStringList names;
    bool own = false;
    for (const std::uint64_t id : ids) {
        const ProcessModel::Row *r = m_processes->find(id);
        names << QStringLiteral("%1 (%2)").arg(id).arg(r ? r->Cells[1] : QString());
        own = own || (r && r->Own);
    }
    const QString threads =
        (ids.size() == 1 ? QStringLiteral("thread ") : QStringLiteral("threads ")) +
        names.join(QStringLiteral(", "));
    QString text = connection ? QStringLiteral("Close the connection of %1?").arg(threads)
                              : QStringLiteral("End the statement running on %1?").arg(threads);
    if (own) text += QStringLiteral("\n\nThis program's own connection is among them.");
    const QString yes =
        connection ? QStringLiteral("Kill connection") : QStringLiteral("Kill query");
    if (ui::askQuestion(this, Caption, text, {yes, QStringLiteral("Cancel")}) != yes) return;
    kill(ids, connection);
}

void TServerActivity::kill(const std::vector<std::uint64_t> &ids, bool connection)
{
    if (!m_conn || !m_conn->Connected() || !m_conn->Query()) {
        m_note = QStringLiteral("Not connected");
        updateStatusLine();
        return;
    }
    QPointer<TServerActivity> self(this);
    const int generation = m_generation;
    for (const std::uint64_t id : ids) {
        // A number the server listed: nothing of the user's goes into the text.
        const std::string sql =
            (connection ? "KILL CONNECTION " : "KILL QUERY ") + std::to_string(id);
        // KILL gives no result set, which the component reports as an error without a message.
        const auto done = [self, generation, id, connection](const QString &msg) {
            if (!self || generation != self->m_generation) return;
            if (msg.isEmpty()) {
                self->m_killNote = connection ? QStringLiteral("Connection %1 killed").arg(id)
                                              : QStringLiteral("Query of thread %1 killed").arg(id);
                self->updateStatusLine();
                self->refresh();
                return;
            }
            self->m_killNote = QStringLiteral("Thread %1: %2").arg(id).arg(msg);
            self->updateStatusLine();
            ui::showErrorBox(self, Caption, msg);
        };
        m_conn->Query()->SubmitStatementWithHandlers(
            TmySQLStatement(sql), "Activity Kill", false, [done](QObject *) { done(QString()); },
            [done](QObject *, const QString &msg) { done(msg); });
    }
    m_conn->ExecuteTasks();
}
