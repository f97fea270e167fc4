// The server activity window against the sandbox: the process list with the program's own
// connections marked, Kill query ending another client's statement, the server's refusal shown,
// the sort and selection kept across refreshes, the charts fed by refreshes, a stopped server
// that holds up neither window; and the rates, the chart's ten minutes and the filter, Qt-free.
#include "activity_rates.h"
#include "server_activity.h"
#include "sql_editor.h"
#include "windows_driver.h"

#include <QAbstractItemModel>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QProcess>
#include <QSpinBox>
#include <QTableView>

#include <csignal>

namespace {
// A server of this suite's own, which it may stop.
class PrivateServer
{
public:
    bool start()
    {
        if (!m_dir.isValid()) return false;
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(QStringLiteral("bash"), {QStringLiteral(QUORVANE_SOURCE_DIR "/scripts/sandbox.sh"),
                                         QStringLiteral("start"), m_dir.path()});
        if (!p.waitForFinished(120000) || p.exitCode() != 0) return false;
        QFile env(m_dir.filePath(QStringLiteral("env")));
        if (!env.open(QIODevice::ReadOnly)) return false;
        for (const QByteArray &line : env.readAll().split('\n'))
            if (line.startsWith("export QUORVANE_TEST_PORT="))
                port = line.mid(line.indexOf('=') + 1).toInt();
        return port > 0;
    }
    ~PrivateServer()
    {
        signal(SIGCONT);
        if (port > 0)
            QProcess::execute(QStringLiteral("bash"),
                              {QStringLiteral(QUORVANE_SOURCE_DIR "/scripts/sandbox.sh"),
                               QStringLiteral("stop"), m_dir.path()});
    }
    void signal(int sig) const
    {
        QFile file(m_dir.filePath(QStringLiteral("mysqld.pid")));
        const int pid = file.open(QIODevice::ReadOnly) ? file.readAll().trimmed().toInt() : 0;
        if (pid > 0) ::kill(pid, sig);
    }
    int port = 0;

private:
    QTemporaryDir m_dir;
};

// The server stopped while this lives, resumed whatever the test does meanwhile.
struct Stopped
{
    explicit Stopped(const PrivateServer &s) : server(s) { server.signal(SIGSTOP); }
    ~Stopped() { server.signal(SIGCONT); }
    const PrivateServer &server;
};

// A threaded client of the test's own, as another program would be.
std::unique_ptr<TmySQLClient> client(const QString &user, const QString &password, int port)
{
    auto c = std::make_unique<TmySQLClient>();
    c->setHostname(Server().host);
    c->setUsername(user);
    c->setPassword(password);
    c->setPort(port);
    c->setThreaded(true);
    c->Connect();
    return c;
}

QString cell(const QAbstractItemModel *m, int row, int col, int role = Qt::DisplayRole)
{
    return m->index(row, col).data(role).toString();
}
// The view's row of a thread, -1 when not listed.
int rowOf(const QAbstractItemModel *m, std::uint64_t id)
{
    for (int r = 0; r < m->rowCount(); ++r)
        if (cell(m, r, 0) == QString::number(id)) return r;
    return -1;
}
int rowWithInfo(const QAbstractItemModel *m, const QString &part)
{
    for (int r = 0; r < m->rowCount(); ++r)
        if (cell(m, r, 7).contains(part)) return r;
    return -1;
}
} // namespace

class TestActivity : public QObject
{
    Q_OBJECT
private:
    std::unique_ptr<ProgramFolder> m_folder;
    std::unique_ptr<Connected> m_app;
    TServerActivity *act() const { return m_app->program->activity.get(); }
    bool waitRefreshes(TServerActivity *w, int more)
    {
        const int target = w->refreshes() + more;
        return QTest::qWaitFor([&] { return w->refreshes() >= target; }, 15000);
    }

private Q_SLOTS:
    void initTestCase()
    {
        m_folder = std::make_unique<ProgramFolder>();
        QVERIFY(m_folder->ok());
        if (!Server().ok()) return;
        m_app = std::make_unique<Connected>();
        QVERIFY(m_app->waitConnected());
    }
    void cleanupTestCase()
    {
        m_app.reset();
        QCOMPARE(m_folder->passwordTraces(), QStringList());
        m_folder.reset();
        if (!Server().ok()) return;
        Session s;
        s.RunEach({"DROP USER IF EXISTS 'qv_limited'@'%'",
                   "DROP USER IF EXISTS 'qv_limited'@'localhost'"});
    }
    void init() { forgetAnswers(); }

    // Readings of one status value, and the rates and chart points they come to.
    void ratesAndTheChartWindow_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("readings"); // "seconds=value"
        QTest::addColumn<QString>("rates");        // per reading after the first; "-" for none
        QTest::addColumn<int>("kept");             // chart points left of the rates
        QTest::newRow("counter") << "Questions" << QStringList{"0=100", "2=300", "6=700"}
                                 << "100,100" << 2;
        QTest::newRow("reset by a restart")
            << "Bytes_sent" << QStringList{"0=5000", "2=40", "4=240"} << "-,100" << 1;
        QTest::newRow("no time passed") << "Questions" << QStringList{"5=1", "5=9"} << "-" << 0;
        QTest::newRow("a level has no rate")
            << "Threads_connected" << QStringList{"0=3", "1=9"} << "-" << 0;
        QTest::newRow("a level by prefix")
            << "Open_tables" << QStringList{"0=3", "1=9"} << "-" << 0;
        QTest::newRow("text") << "Compression" << QStringList{"0=OFF", "1=OFF"} << "-" << 0;
        QTest::newRow("the largest counter")
            << "Bytes_received" << QStringList{"0=18446744073709551000", "1=18446744073709551615"}
            << "615" << 1;
        // Ten minutes kept: a point older than 600 s behind the newest is dropped.
        QTest::newRow("ten minutes")
            << "Questions" << QStringList{"0=0", "10=10", "300=300", "610=610", "911=911"}
            << "1,1,1,1" << 2;
    }
    void ratesAndTheChartWindow()
    {
        QFETCH(QString, name);
        QFETCH(QStringList, readings);
        QFETCH(QString, rates);
        QFETCH(int, kept);
        activity::StatusRates status;
        activity::TimeWindow chart(600);
        QStringList got;
        for (int i = 0; i < readings.size(); ++i) {
            const QStringList parts = readings[i].split(QLatin1Char('='));
            status.take(parts[0].toDouble(), {{name.toStdString(), parts[1].toStdString()}});
            if (i == 0) continue;
            const auto rate = status.rate(name.toStdString());
            got << (rate ? QString::number(*rate, 'f', 0) : QStringLiteral("-"));
            if (rate) chart.add(parts[0].toDouble(), *rate);
        }
        QCOMPARE(got.join(QLatin1Char(',')), rates);
        QCOMPARE(int(chart.points().size()), kept);
    }

    void filterMatches_data()
    {
        QTest::addColumn<QString>("filter");
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("matches");
        QTest::newRow("empty") << ""
                               << "Uptime" << true;
        QTest::newRow("part, any case") << "threads_CONN"
                                        << "Threads_connected" << true;
        QTest::newRow("not there") << "threads_run"
                                   << "Threads_connected" << false;
        QTest::newRow("% any run") << "bytes%sent"
                                   << "Bytes_sent" << true;
        QTest::newRow("% keeps the order") << "sent%bytes"
                                           << "Bytes_sent" << false;
        QTest::newRow("_ any one") << "com_s_lect"
                                   << "Com_select" << true;
        QTest::newRow("_ not none") << "coms_lect"
                                    << "Com_select" << false;
        QTest::newRow("longer than the name") << "uptime_since"
                                              << "Uptime" << false;
    }
    void filterMatches()
    {
        QFETCH(QString, filter);
        QFETCH(QString, name);
        QFETCH(bool, matches);
        QCOMPARE(activity::filterMatches(filter.toStdString(), name.toStdString()), matches);
    }

    // Another client's SLEEP listed, kept selected and sorted across refreshes, its query ended
    // by Kill query once the question is answered; the program's own connections marked.
    void killQueryEndsAnotherClientsStatement()
    {
        REQUIRE_SERVER();
        m_app->w->action(QStringLiteral("ServerActivity1"))->trigger();
        QVERIFY(act()->isVisible());
        QCOMPARE(act()->windowTitle(), QStringLiteral("Server Activity"));
        QVERIFY(waitRefreshes(act(), 1));
        // The SQL editor's connection is the program's own too.
        TSqlEditor *editor = m_app->program->editor.get();
        editor->SQL_edit->setPlainText(QStringLiteral("SELECT 1"));
        editor->RunClick();
        QTRY_VERIFY_WITH_TIMEOUT(!editor->isRunning() && editor->Connection(), 10000);
        QVERIFY(waitRefreshes(act(), 1));
        QAbstractItemModel *list = act()->processes();
        const std::uint64_t mainId = m_app->w->mysql->Utility()->ConnectionId();
        const std::uint64_t ownId = act()->Connection()->Utility()->ConnectionId();
        const std::uint64_t editorId = editor->Connection()->Utility()->ConnectionId();
        for (const std::uint64_t id : {mainId, ownId, editorId}) {
            const int row = rowOf(list, id);
            QVERIFY2(row >= 0, qPrintable(QString::number(id)));
            QCOMPARE(cell(list, row, 0, Qt::AccessibleDescriptionRole),
                     QStringLiteral("this program's connection"));
            QVERIFY(list->index(row, 3).data(Qt::FontRole).value<QFont>().bold());
        }

        Server s;
        auto other = client(s.user, s.password, s.port);
        QTRY_VERIFY_WITH_TIMEOUT(other->Connected(), 10000);
        QString otherError, otherValue;
        bool otherDone = false;
        other->Query()->SubmitStatementWithHandlers(
            TmySQLStatement("SELECT SLEEP(30) AS qv_sleeper"), "sleep", false,
            [&](QObject *sender) {
                otherValue =
                    QString::fromUtf8(static_cast<TmySQLClientQuery *>(sender)->ValueBytes(0, 0));
                otherDone = true;
            },
            [&](QObject *, const QString &msg) {
                otherError = msg;
                otherDone = true;
            });
        other->ExecuteTasks();
        const std::uint64_t otherId = other->Utility()->ConnectionId();
        QTRY_VERIFY_WITH_TIMEOUT(rowWithInfo(list, QStringLiteral("qv_sleeper")) >= 0, 10000);
        QCOMPARE(cell(list, rowWithInfo(list, QStringLiteral("qv_sleeper")), 0),
                 QString::number(otherId));
        QCOMPARE(cell(list, rowOf(list, otherId), 0, Qt::AccessibleDescriptionRole), QString());

        // Sorted by Id, highest first, and the sleeper chosen: both outlast refreshes.
        act()->Process_view->sortByColumn(0, Qt::DescendingOrder);
        act()->Process_view->selectRow(rowOf(list, otherId));
        QVERIFY(waitRefreshes(act(), 2));
        const QModelIndexList chosen = act()->Process_view->selectionModel()->selectedRows();
        QCOMPARE(chosen.size(), 1);
        QCOMPARE(chosen.first().data().toString(), QString::number(otherId));
        for (int r = 1; r < list->rowCount(); ++r)
            QVERIFY(cell(list, r - 1, 0).toULongLong() > cell(list, r, 0).toULongLong());

        g_answer = QStringLiteral("Kill query");
        act()->Kill_query_button->click();
        QCOMPARE(g_questions.size(), 1);
        QVERIFY2(g_questions.first().startsWith(QStringLiteral("Server Activity|")) &&
                     g_questions.first().contains(QString::number(otherId)),
                 qPrintable(g_questions.first()));
        QTRY_VERIFY_WITH_TIMEOUT(otherDone, 15000);
        // Interrupted: an error, or SLEEP's 1 for a sleep cut short (0 when it ran its course).
        QVERIFY2(otherError.contains(QStringLiteral("interrupted")) || otherValue == "1",
                 qPrintable(otherError + otherValue));
        QVERIFY(other->Connected());
        QVERIFY2(g_boxes.isEmpty(), qPrintable(g_boxes.join('\n')));
    }

    // A user who may see and end only its own threads: the server's refusal reaches the box
    // and the status line.
    void refusalIsShownWithTheServersMessage()
    {
        REQUIRE_SERVER();
        Session root;
        const QString failed = root.RunEach(
            {"DROP USER IF EXISTS 'qv_limited'@'%'", "DROP USER IF EXISTS 'qv_limited'@'localhost'",
             "CREATE USER 'qv_limited'@'%' IDENTIFIED BY 'qv-Limited-9'",
             "CREATE USER 'qv_limited'@'localhost' IDENTIFIED BY 'qv-Limited-9'"});
        QVERIFY2(failed.isEmpty(), qPrintable(failed));
        const QString rootId = root.Column(std::string("SELECT CONNECTION_ID()")).value(0);
        auto main =
            client(QStringLiteral("qv_limited"), QStringLiteral("qv-Limited-9"), Server().port);
        QTRY_VERIFY_WITH_TIMEOUT(main->Connected(), 10000);
        TServerActivity window(main.get());
        window.showWindow();
        QVERIFY(waitRefreshes(&window, 1));
        QAbstractItemModel *list = window.processes();
        QVERIFY(list->rowCount() >= 2); // its main connection and the window's
        for (int r = 0; r < list->rowCount(); ++r)
            QCOMPARE(cell(list, r, 1), QStringLiteral("qv_limited"));
        QCOMPARE(rowOf(list, rootId.toULongLong()), -1);

        window.kill({rootId.toULongLong()}, true);
        QTRY_COMPARE_WITH_TIMEOUT(g_boxes.size(), 1, 10000);
        const QString refusal = QStringLiteral("You are not owner of thread ") + rootId;
        QVERIFY2(g_boxes.first().startsWith(QStringLiteral("Server Activity|")) &&
                     g_boxes.first().contains(refusal),
                 qPrintable(g_boxes.first()));
        QVERIFY2(window.Status_line->text().contains(refusal),
                 qPrintable(window.Status_line->text()));
        QVERIFY(root.Run(std::string("SELECT 1"))); // still alive
    }

    // Every refresh adds a point to each chart, the status shows counters per second, and the
    // filter picks names.
    void chartsGrowWithRefreshes()
    {
        REQUIRE_SERVER();
        act()->showWindow();
        act()->Interval_spin->setValue(1);
        QVERIFY(waitRefreshes(act(), 1));
        const int queries = act()->seriesPoints(QStringLiteral("queries"));
        const int connections = act()->seriesPoints(QStringLiteral("connections"));
        const int sent = act()->seriesPoints(QStringLiteral("sent"));
        QVERIFY(waitRefreshes(act(), 3));
        QVERIFY(act()->seriesPoints(QStringLiteral("queries")) >= queries + 3);
        QVERIFY(act()->seriesPoints(QStringLiteral("connections")) >= connections + 3);
        QVERIFY(act()->seriesPoints(QStringLiteral("sent")) >= sent + 3);

        act()->Status_filter->setText(QStringLiteral("questions"));
        QAbstractItemModel *status = act()->status();
        QCOMPARE(status->rowCount(), 1);
        QCOMPARE(cell(status, 0, 0), QStringLiteral("Questions"));
        // The window's own refreshes are questions: at least one a second.
        QVERIFY2(cell(status, 0, 2).toDouble() > 0, qPrintable(cell(status, 0, 2)));
        act()->Status_filter->setText(QStringLiteral("threads_conn"));
        QCOMPARE(status->rowCount(), 1);
        QCOMPARE(cell(status, 0, 2), QString()); // a level, not a counter
        act()->Status_filter->clear();
        QVERIFY(status->rowCount() > 100);

        act()->Pages->setCurrentIndex(2);
        act()->Variables_filter->setText(QStringLiteral("max_connections"));
        QTRY_VERIFY(act()->variables()->rowCount() >= 1);
        QStringList names;
        for (int r = 0; r < act()->variables()->rowCount(); ++r)
            names << cell(act()->variables(), r, 0);
        QVERIFY2(names.contains(QStringLiteral("max_connections")), qPrintable(names.join(' ')));
        for (const QString &name : names)
            QVERIFY(name.contains(QStringLiteral("max_connections")));
        act()->Pages->setCurrentIndex(0);
        act()->Interval_spin->setValue(2);
    }

    // A stopped server: this window says it waits, nothing piles up, the window thread keeps
    // turning, and refreshing goes on when the server does.
    void stoppedServerHoldsNothingUp()
    {
        REQUIRE_SERVER();
        PrivateServer server;
        if (!server.start()) QSKIP("a second sandbox could not be started");
        Server s;
        auto main = client(s.user, s.password, server.port);
        QTRY_VERIFY_WITH_TIMEOUT(main->Connected(), 10000);
        TServerActivity window(main.get());
        window.Interval_spin->setValue(1);
        window.showWindow();
        QVERIFY(waitRefreshes(&window, 2));

        QElapsedTimer sinceTick;
        qint64 longestGap = 0;
        QTimer beat;
        QObject::connect(&beat, &QTimer::timeout,
                         [&] { longestGap = std::max(longestGap, sinceTick.restart()); });
        sinceTick.start();
        beat.start(10);
        const int before = window.refreshes();
        {
            Stopped stopped(server);
            QTRY_VERIFY_WITH_TIMEOUT(
                window.Status_line->text().startsWith(QStringLiteral("Waiting for the server")),
                10000);
            QTest::qWait(2500); // more ticks, none of which may send or wait
            QVERIFY(window.refreshes() <= before + 1);
            // The refresh under way, and nothing queued behind it.
            QVERIFY(window.Connection()->TaskHandler()->Thread()->TaskCount() <= 2);
        }
        QVERIFY2(longestGap < 200, qPrintable(QString::number(longestGap)));
        QVERIFY(waitRefreshes(&window, 2));
        QVERIFY(!window.Status_line->text().startsWith(QStringLiteral("Waiting")));
    }

    // Closing the window and Disconnect close its connection; opened without one, it says so,
    // and a new main connection is followed.
    void closesWithTheMainConnection()
    {
        REQUIRE_SERVER();
        act()->showWindow();
        QTRY_VERIFY(act()->Connection() && act()->Connection()->Connected());
        // Closed, it stops; opened again, it connects and refreshes again.
        act()->close();
        QVERIFY(!act()->isRefreshing());
        QTRY_VERIFY(!act()->Connection()->Connected());
        // Closed again before its connect has answered: it stays closed.
        act()->showWindow();
        act()->close();
        TmySQLClientThread *worker = act()->Connection()->TaskHandler()->Thread();
        QTRY_VERIFY(!worker->ConnectPending() && worker->MailCount() == 0);
        QTRY_VERIFY(!act()->Connection()->Connected());
        QVERIFY(!act()->isRefreshing());
        act()->showWindow();
        QVERIFY(waitRefreshes(act(), 1));
        QVERIFY(act()->isRefreshing());
        m_app->w->action(QStringLiteral("Disconnect1"))->trigger();
        QTRY_VERIFY(!m_app->w->mysql->Connected());
        QTRY_VERIFY(!act()->Connection()->Connected());
        QVERIFY(!act()->isRefreshing());
        m_app->w->action(QStringLiteral("ServerActivity1"))->trigger();
        QVERIFY(act()->Status_line->text().startsWith(QStringLiteral("Not connected")));
        QVERIFY(!act()->Connection()->Connected());
        QCOMPARE(g_boxes, QStringList());
        // The main connection made again: the window on show follows it.
        m_app->program->login->login_connect->click();
        QVERIFY(m_app->waitConnected());
        QVERIFY(waitRefreshes(act(), 1));
        QVERIFY(act()->Connection()->Connected());
    }
};

QTEST_MAIN(TestActivity)
#include "test_activity.moc"
