#pragma once

// The server's activity on a connection of its own: the process list (with Kill), the global
// status with per-second rates and live charts, and the global variables. Every refresh is a
// task on the window's own connection and only one is out at a time, so a slow or stopped server
// holds up neither this window nor the main one.

#include "activity_rates.h"

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class QAbstractButton;
class QAbstractItemModel;
class QCheckBox;
class QChartView;
class QLabel;
class QLineEdit;
class QLineSeries;
class QSortFilterProxyModel;
class QSpinBox;
class QTabWidget;
class QTableView;
class TmySQLClient;

namespace activity {
class ProcessModel;
class NameValueModel;
} // namespace activity

class TServerActivity : public QWidget
{
    Q_OBJECT
public:
    // How far back the charts go, in seconds.
    static constexpr double ChartSpan = 600;
    // How long a refresh may go unanswered before the status line says the window waits.
    static constexpr int SlowMilliseconds = 1500;

    explicit TServerActivity(TmySQLClient *main, QWidget *parent = nullptr);
    ~TServerActivity() override;

    QTabWidget *Pages = nullptr;
    QTableView *Process_view = nullptr;
    QCheckBox *Pause_check = nullptr;
    QSpinBox *Interval_spin = nullptr;
    QAbstractButton *Kill_query_button = nullptr;
    QAbstractButton *Kill_connection_button = nullptr;
    QLineEdit *Status_filter = nullptr;
    QTableView *Status_view = nullptr;
    QLineEdit *Variables_filter = nullptr;
    QTableView *Variables_view = nullptr;
    QChartView *Queries_chart = nullptr;
    QChartView *Connections_chart = nullptr;
    QChartView *Traffic_chart = nullptr;
    QLabel *Status_line = nullptr;

    // Shows the window and starts refreshing on a connection made as the main one was; without
    // a main connection it says so and sends nothing.
    void showWindow();
    // The main connection was closed (or lost): so is this window's.
    void mainClosed();
    // The main connection was made (again, perhaps elsewhere): a window on show follows it.
    void mainConnected();
    // The program's other connections, asked at each refresh, marked as its own beside the main
    // connection's and this window's.
    void setOtherConnections(std::function<std::vector<std::uint64_t>()> ids);

    // Kill the query, or the connection, of every selected row, after a question.
    void KillQueryClick();
    void KillConnectionClick();
    // Sends KILL QUERY (or KILL CONNECTION) for each thread; the server's refusal goes to a box
    // and the status line.
    void kill(const std::vector<std::uint64_t> &ids, bool connection);

    // The window's own connection; null until first shown while connected.
    TmySQLClient *Connection() const { return m_conn.get(); }
    bool isRefreshing() const { return m_timer.isActive(); }
    // Refreshes whose every answer has come back, since the window was made.
    int refreshes() const { return m_refreshes; }
    // Window-thread time of the last process list taken into its model, in milliseconds.
    double lastProcessUpdateMs() const { return m_lastUpdateMs; }
    // Window-thread time of the last whole refresh taken in: every page and the charts.
    double lastRefreshWorkMs() const { return m_lastWorkMs; }
    // The process list as the view shows it (sorted), and the models under the pages.
    QAbstractItemModel *processes() const;
    QAbstractItemModel *status() const;
    QAbstractItemModel *variables() const;
    // Points a chart series holds now: "queries", "connections", "received", "sent".
    int seriesPoints(const QString &name) const;

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void buildLayout();
    QWidget *buildProcessPage();
    QWidget *buildStatusPage();
    QWidget *buildVariablesPage();
    void ensureConnection();
    void closeConnection(const QString &why);
    void tick();
    void refresh();
    void sent(int statements);
    void answered();
    void takeProcesses();
    void takeStatus();
    void takeVariables();
    void updateCharts(double now);
    void updateStatusLine();
    void killSelected(bool connection);
    std::vector<std::uint64_t> ownIds() const;

    TmySQLClient *m_main;
    std::unique_ptr<TmySQLClient> m_conn;
    std::function<std::vector<std::uint64_t>()> m_otherIds;
    activity::ProcessModel *m_processes = nullptr;
    QSortFilterProxyModel *m_processView = nullptr;
    activity::NameValueModel *m_status = nullptr;
    QSortFilterProxyModel *m_statusView = nullptr;
    activity::NameValueModel *m_variables = nullptr;
    QSortFilterProxyModel *m_variablesView = nullptr;
    activity::StatusRates m_rates;
    activity::TimeWindow m_queries{ChartSpan}, m_connections{ChartSpan}, m_received{ChartSpan},
        m_sent{ChartSpan};
    QLineSeries *m_queriesSeries = nullptr, *m_connectionsSeries = nullptr,
                *m_receivedSeries = nullptr, *m_sentSeries = nullptr;
    QTimer m_timer;
    QElapsedTimer m_clock;
    // Answers still to come for the refresh sent; a new one waits until they have.
    int m_outstanding = 0;
    // Bumped when the connection closes: answers of an older one are dropped.
    int m_generation = 0;
    bool m_waiting = false;
    // A connect under way, and the generation it was asked for.
    bool m_connecting = false;
    int m_connectFor = 0;
    bool m_variablesRead = false;
    int m_refreshes = 0;
    int m_threads = 0;
    double m_lastUpdateMs = 0;
    double m_workMs = 0, m_lastWorkMs = 0;
    // What the status line says beside the counts: the connection's state or the last refresh's
    // failure, and what the last kill came to.
    QString m_note;
    QString m_failed;
    QString m_killNote;
};
