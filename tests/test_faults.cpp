// The program against a server that misbehaves: killed or stopped mid-fetch, connections killed
// or timed out, statements too large, listeners that never answer. The window thread keeps
// answering, errors reach status panel 5 or the connect-error report, and Disconnect and closing
// the program finish in a few seconds, also while the worker is stuck on a silent server.
#include "windows_driver.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <thread>

#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
// A server of this suite's own, which it may kill and stop.
class PrivateServer
{
public:
    bool start()
    {
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(QStringLiteral("bash"), {QStringLiteral(QUORVANE_SOURCE_DIR "/scripts/sandbox.sh"),
                                         QStringLiteral("start"), m_dir.path()});
        if (!p.waitForFinished(120000) || p.exitCode() != 0) {
            qWarning("%s", p.readAll().constData());
            return false;
        }
        QFile env(m_dir.filePath(QStringLiteral("env")));
        if (!env.open(QIODevice::ReadOnly)) return false;
        for (const QByteArray &line : env.readAll().split('\n'))
            if (line.startsWith("export QUORVANE_TEST_PORT="))
                port = line.mid(line.indexOf('=') + 1).toInt();
        return port > 0;
    }
    void stop()
    {
        QProcess::execute(QStringLiteral("bash"),
                          {QStringLiteral(QUORVANE_SOURCE_DIR "/scripts/sandbox.sh"),
                           QStringLiteral("stop"), m_dir.path()});
    }
    pid_t pid() const
    {
        QFile file(m_dir.filePath(QStringLiteral("mysqld.pid")));
        return file.open(QIODevice::ReadOnly) ? pid_t(file.readAll().trimmed().toInt()) : 0;
    }
    void signal(int sig) const
    {
        if (pid() > 0) ::kill(pid(), sig);
    }
    // Stops the server and waits until the kernel says it is stopped.
    bool pause() const
    {
        signal(SIGSTOP);
        return QTest::qWaitFor(
            [this] {
                QFile stat(QStringLiteral("/proc/%1/stat").arg(pid()));
                if (!stat.open(QIODevice::ReadOnly)) return false;
                const QByteArray line = stat.readAll();
                const int close = line.lastIndexOf(')');
                return close > 0 && line.mid(close + 2, 1) == "T";
            },
            5000);
    }
    QByteArray settings() const
    {
        Server s;
        return "[server]\r\n127.0.0.1\r\n" + s.user.toUtf8() + "\r\n" + s.password.toUtf8() +
               "\r\n" + QByteArray::number(port) + "\r\n";
    }
    // A session on this server, for setting it up.
    bool run(const std::string &sql)
    {
        Session s(port);
        return s.connected && (s.Run(sql) || s.error.isEmpty());
    }

    int port = 0;

private:
    QTemporaryDir m_dir;
};

// The server stopped for as long as this lives: resumed whatever the test does meanwhile, a
// failed check included.
class Stopped
{
public:
    explicit Stopped(const PrivateServer &server) : m_server(server) { ok = m_server.pause(); }
    ~Stopped() { resume(); }
    void resume() const { m_server.signal(SIGCONT); }
    bool ok = false;

private:
    const PrivateServer &m_server;
};

// Counts ticks of a 10 ms timer on the window thread.
struct Heartbeat
{
    Heartbeat()
    {
        QObject::connect(&timer, &QTimer::timeout, [this] { ++ticks; });
        timer.start(10);
    }
    QTimer timer;
    int ticks = 0;
};

// A TCP port that accepts connections and never says a word.
struct SilentListener
{
    SilentListener()
    {
        fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address);
        ::listen(fd, 8);
        socklen_t length = sizeof address;
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length);
        port = ntohs(address.sin_port);
    }
    ~SilentListener() { ::close(fd); }
    int fd = -1;
    int port = 0;
};

// A port nothing listens on: bound, never listening.
struct DeadPort
{
    DeadPort()
    {
        fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address);
        socklen_t length = sizeof address;
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length);
        port = ntohs(address.sin_port);
    }
    ~DeadPort() { ::close(fd); }
    int fd = -1;
    int port = 0;
};

QByteArray settingsFor(int port)
{
    Server s;
    return "[server]\r\n127.0.0.1\r\n" + s.user.toUtf8() + "\r\n" + s.password.toUtf8() + "\r\n" +
           QByteArray::number(port) + "\r\n";
}

void sendConsole(Connected &c, const QString &sql)
{
    c.program->console->Edit1->setText(sql);
    c.program->console->SpeedButton1->click();
}

// Milliseconds the call took.
qint64 timed(const std::function<void()> &call)
{
    QElapsedTimer clock;
    clock.start();
    call();
    return clock.elapsed();
}

bool lostConnection(const QString &message)
{
    return message.contains(QStringLiteral("Lost connection")) ||
           message.contains(QStringLiteral("gone away")) ||
           message.contains(QStringLiteral("Connection killed")) ||
           message.contains(QStringLiteral("connection was killed"));
}
} // namespace

class TestFaults : public QObject
{
    Q_OBJECT
private:
    std::unique_ptr<ProgramFolder> m_folder;
    PrivateServer m_server;

    // A threaded component set up for the private server.
    void toPrivate(TmySQLClient &client) const
    {
        Server s;
        client.setHostname(QStringLiteral("127.0.0.1"));
        client.setUsername(s.user);
        client.setPassword(s.password);
        client.setPort(m_server.port);
        client.setThreaded(true);
    }

    // A view of 3,000,000 rows that a table list shows, and a small table beside it.
    bool makeLongRows() const
    {
        Session s(m_server.port);
        return s
            .RunEach({"CREATE DATABASE IF NOT EXISTS qv_load",
                      "CREATE OR REPLACE VIEW qv_load.long_rows AS SELECT seq, "
                      "REPEAT('x', 200) AS pad FROM qv_load.seq_1_to_3000000",
                      "CREATE TABLE IF NOT EXISTS qv_load.small (v VARCHAR(10))",
                      "DELETE FROM qv_load.small", "INSERT INTO qv_load.small VALUES ('only row')"})
            .isEmpty();
    }
    // Chooses the long view in the table list and waits until rows are coming in.
    static bool startLongLoad(Connected &c)
    {
        if (c.w->listDatabase() != QLatin1String("qv_load") &&
            !c.chooseDatabase(QStringLiteral("qv_load")))
            return false;
        const quint64 fill = c.w->gridOrigin().Fill;
        c.w->Table_list->setCurrentItem(nullptr); // chosen again, it is read again
        c.w->Table_list->setCurrentItem(
            c.w->Table_list->findItems(QStringLiteral("long_rows"), Qt::MatchExactly).value(0));
        return QTest::qWaitFor(
            [&] {
                return c.w->gridOrigin().Fill > fill && c.w->Mgrid->RowCount() > 1 &&
                       c.w->PanelText(4).startsWith(QStringLiteral("Loading"));
            },
            10000);
    }

    // The program connected to the private server through "-autol".
    std::unique_ptr<Connected> connectToPrivate()
    {
        writeFile(QStringLiteral("settings.ini"), m_server.settings());
        auto c = std::make_unique<Connected>(false);
        return c;
    }

private Q_SLOTS:
    void initTestCase()
    {
        m_folder = std::make_unique<ProgramFolder>();
        QVERIFY(m_folder->ok());
        if (!Server().ok()) return;
        QVERIFY(m_server.start());
    }
    void cleanupTestCase()
    {
        // No password in any file the program wrote, but where it is kept without a keyring.
        QCOMPARE(m_folder->passwordTraces(), QStringList());
        m_folder.reset();
        if (Server().ok()) {
            m_server.signal(SIGCONT);
            m_server.stop();
        }
    }
    void init() { forgetAnswers(); }

    void serverKilledDuringALargeFetch()
    {
        REQUIRE_SERVER();
        auto c = connectToPrivate();
        QVERIFY(c->waitConnected());
        Heartbeat beat;
        sendConsole(*c, QStringLiteral("SELECT seq, REPEAT('x', 200) FROM seq_1_to_3000000"));
        QTest::qWait(150);
        m_server.signal(SIGKILL);
        QTRY_VERIFY_WITH_TIMEOUT(lostConnection(c->w->PanelText(5)), 10000);
        QVERIFY2(beat.ticks > 5, "the window thread stopped answering");
        QCOMPARE(consoleLines(*c->program).last(), c->w->PanelText(5));
        QVERIFY(timed([&] { c->w->button(QStringLiteral("SpeedButton10"))->click(); }) < 5000);
        QCOMPARE(c->w->PanelText(1), QStringLiteral("Connection closed"));
        // The server back: a new connect from the login dialog succeeds.
        QVERIFY(m_server.start());
        c->program->login->Port_edit->setText(QString::number(m_server.port));
        c->program->login->login_connect->click();
        QTRY_COMPARE_WITH_TIMEOUT(c->w->PanelText(1), QStringLiteral("Connected"), 10000);
    }

    void serverStoppedDuringAFetch()
    {
        REQUIRE_SERVER();
        auto c = connectToPrivate();
        QVERIFY(c->waitConnected());
        Heartbeat beat;
        sendConsole(*c, QStringLiteral("SELECT seq, REPEAT('x', 200) FROM seq_1_to_3000000"));
        QTest::qWait(100);
        Stopped stopped(m_server);
        QTest::qWait(500);
        QVERIFY2(beat.ticks > 20, "the window thread stopped answering");
        // The worker waits on a server that says nothing: Disconnect cuts it off.
        QVERIFY(timed([&] { c->w->button(QStringLiteral("SpeedButton10"))->click(); }) < 5000);
        QCOMPARE(c->w->PanelText(1), QStringLiteral("Connection closed"));
        QVERIFY(lostConnection(c->w->PanelText(5)) ||
                c->w->PanelText(5).contains(QStringLiteral("Error")));
        stopped.resume();
        c->program->login->login_connect->click();
        QTRY_COMPARE_WITH_TIMEOUT(c->w->PanelText(1), QStringLiteral("Connected"), 10000);
    }

    // A table's rows are a read: Disconnect cuts the load off instead of waiting for it, whether
    // the server streams rows or has stopped answering, and the program connects again.
    void disconnectDuringATableLoad()
    {
        REQUIRE_SERVER();
        QVERIFY(makeLongRows());
        for (const bool stop : {false, true}) {
            auto c = connectToPrivate();
            QVERIFY(c->waitConnected());
            QVERIFY(c->chooseDatabase(QStringLiteral("qv_load")));
            c->w->Table_list->setCurrentItem(
                c->w->Table_list->findItems(QStringLiteral("long_rows"), Qt::MatchExactly)
                    .value(0));
            QCOMPARE(c->w->PanelText(4), QStringLiteral("Loading\u2026"));
            QTest::qWait(150);
            std::optional<Stopped> stopped;
            if (stop) stopped.emplace(m_server);
            // Not the grace period a statement that may change data is given.
            const qint64 ms =
                timed([&] { c->w->button(QStringLiteral("SpeedButton10"))->click(); });
            QVERIFY2(ms < CloseGraceMilliseconds, qPrintable(QString::number(ms)));
            QCOMPARE(c->w->PanelText(1), QStringLiteral("Connection closed"));
            // What arrived stays shown, said to be stopped.
            const QString rows = c->w->PanelText(4);
            QVERIFY2(rows.isEmpty() ||
                         rows ==
                             QStringLiteral("Stopped: %1 rows").arg(c->w->Mgrid->RowCount() - 1),
                     qPrintable(rows));
            QCOMPARE(c->w->PanelText(5), QString()); // a read cut off on purpose is no error
            stopped.reset();
            c->program->login->login_connect->click();
            QTRY_COMPARE_WITH_TIMEOUT(c->w->PanelText(1), QStringLiteral("Connected"), 10000);
            QVERIFY(c->chooseDatabase(QStringLiteral("qv_load")));
            QTRY_COMPARE(c->w->Table_list->count(), 2);
        }
        Session s(m_server.port);
        s.Run(std::string("DROP DATABASE qv_load"));
    }

    // Stop while a table arrives: the rows read stay, counted; the server's statement ends; the
    // connection goes on. Choosing another table during a read shows only the other one.
    void stopAndAnotherTableDuringALoad()
    {
        REQUIRE_SERVER();
        QVERIFY(makeLongRows());
        auto c = connectToPrivate();
        QVERIFY(c->waitConnected());
        QAbstractButton *stop = c->w->button(QStringLiteral("Stop_button"));
        QVERIFY(!stop->isEnabled());
        QVERIFY(startLongLoad(*c));
        QVERIFY(stop->isEnabled());
        QVERIFY(c->w->PanelText(4).startsWith(QStringLiteral("Loading\u2026 ")));
        const std::uint64_t id = c->w->mysql->Utility()->ConnectionId();
        stop->click();
        QTRY_VERIFY(c->w->PanelText(4).startsWith(QStringLiteral("Stopped: ")));
        const int rows = c->w->Mgrid->RowCount() - 1;
        QCOMPARE(c->w->PanelText(4), QStringLiteral("Stopped: %1 rows").arg(rows));
        QVERIFY(rows > 0 && rows < 3000000);
        QCOMPARE(c->cell(0, 1), QStringLiteral("1"));
        QVERIFY(!stop->isEnabled());
        QCOMPARE(c->w->PanelText(5), QString());
        Session check(m_server.port);
        QTRY_COMPARE(check.Column(std::string("SELECT COUNT(*) FROM information_schema.PROCESSLIST "
                                              "WHERE INFO LIKE '%long_rows%' AND ID <> "
                                              "CONNECTION_ID()")),
                     QStringList{QStringLiteral("0")});
        // The rows shown can be picked for a delete at once (the view refuses it, as any
        // non-updatable view does: the statement reached the server).
        c->clickCell(0, 1);
        c->w->button(QStringLiteral("SpeedButton17"))->click();
        QTRY_VERIFY(!c->w->PanelText(5).isEmpty());
        QVERIFY(c->w->PanelText(5) != QStringLiteral("No row selected"));

        // Esc in the grid stops as well.
        QVERIFY(startLongLoad(*c));
        c->w->Mgrid->setFocus();
        QTest::keyClick(c->w->Mgrid, Qt::Key_Escape);
        QTRY_VERIFY(c->w->PanelText(4).startsWith(QStringLiteral("Stopped: ")));

        // Another table chosen while the long one arrives: only the other is shown.
        QVERIFY(startLongLoad(*c));
        c->w->Table_list->setCurrentItem(
            c->w->Table_list->findItems(QStringLiteral("small"), Qt::MatchExactly).value(0));
        QTRY_COMPARE(c->w->PanelText(4), QStringLiteral("1 row"));
        QVERIFY(c->waitReport());
        QCOMPARE(c->w->gridOrigin().Table, QStringLiteral("small"));
        QCOMPARE(c->w->Mgrid->RowCount(), 2);
        QCOMPARE(c->cell(0, 1), QStringLiteral("only row"));
        QVERIFY(!stop->isEnabled());
        QCOMPARE(c->w->mysql->Utility()->ConnectionId(), id); // never cut
    }

    // Stop while the read still waits for a lock, before its first row: the window says it
    // stopped with no rows, and no error reaches panel 5, the log or the console.
    void stopBeforeTheFirstRow()
    {
        REQUIRE_SERVER();
        QVERIFY(makeLongRows());
        Session locker(m_server.port);
        QCOMPARE(locker.RunEach({"CREATE TABLE IF NOT EXISTS qv_load.locked (n INT)",
                                 "LOCK TABLES qv_load.locked WRITE"}),
                 QString());
        auto c = connectToPrivate();
        QVERIFY(c->waitConnected());
        QVERIFY(c->chooseDatabase(QStringLiteral("qv_load")));
        const int logLines = fileLines(QStringLiteral("log.ini")).size();
        c->w->Table_list->setCurrentItem(
            c->w->Table_list->findItems(QStringLiteral("locked"), Qt::MatchExactly).value(0));
        QTRY_VERIFY(c->w->button(QStringLiteral("Stop_button"))->isEnabled());
        QTRY_COMPARE(locker.Column(std::string("SELECT COUNT(*) FROM information_schema."
                                               "PROCESSLIST WHERE INFO LIKE 'Select * From "
                                               "`qv_load`.`locked`%'")),
                     QStringList{QStringLiteral("1")});
        c->w->button(QStringLiteral("Stop_button"))->click();
        QTRY_COMPARE(c->w->PanelText(4), QStringLiteral("Stopped: 0 rows"));
        QCOMPARE(c->w->PanelText(5), QString());
        QCOMPARE(fileLines(QStringLiteral("log.ini")).size(), logLines);
        QVERIFY(!consoleLines(*c->program).join('|').contains(QStringLiteral("interrupted")));
        locker.Run(std::string("UNLOCK TABLES"));
    }

    // The server dies while a table arrives: the error is said, the rows read stay.
    void serverKilledDuringATableLoad()
    {
        REQUIRE_SERVER();
        QVERIFY(makeLongRows());
        auto c = connectToPrivate();
        QVERIFY(c->waitConnected());
        QVERIFY(startLongLoad(*c));
        m_server.signal(SIGKILL);
        QTRY_VERIFY_WITH_TIMEOUT(lostConnection(c->w->PanelText(5)), 10000);
        const int rows = c->w->Mgrid->RowCount() - 1;
        QVERIFY(rows > 0);
        QCOMPARE(c->w->PanelText(4), QStringLiteral("%1 rows").arg(rows));
        QVERIFY(!c->w->button(QStringLiteral("Stop_button"))->isEnabled());
        QVERIFY(m_server.start());
    }

    void programClosedWhileTheWorkerIsStuck()
    {
        REQUIRE_SERVER();
        auto c = connectToPrivate();
        QVERIFY(c->waitConnected());
        sendConsole(*c, QStringLiteral("SELECT SLEEP(1), seq FROM seq_1_to_3"));
        QTest::qWait(50);
        Stopped stopped(m_server);
        QTest::qWait(200);
        QVERIFY(timed([&] {
                    c->w->close();
                    c.reset();
                }) < 5000);
    }

    void connectionKilledBetweenTwoRequests()
    {
        REQUIRE_SERVER();
        auto c = connectToPrivate();
        QVERIFY(c->waitConnected());
        Session s(m_server.port);
        QVERIFY(s.connected);
        const QStringList ids = s.Column(
            std::string(
                "SELECT ID FROM information_schema.PROCESSLIST WHERE ID <> CONNECTION_ID() AND "
                "COMMAND <> 'Daemon' AND USER = '") +
            Server().user.toStdString() +
            "' ORDER BY ID DESC LIMIT 1"); // the program's, the newest
        QCOMPARE(ids.size(), 1);
        s.Run(std::string("KILL CONNECTION ") + ids.first().toStdString());
        c->w->setPanelText(5, QString());
        c->w->button(QStringLiteral("SpeedButton19"))->click();
        QTRY_VERIFY_WITH_TIMEOUT(lostConnection(c->w->PanelText(5)), 10000);
        QVERIFY(timed([&] { c->w->button(QStringLiteral("SpeedButton10"))->click(); }) < 5000);
    }

    void idleConnectionTimedOutByTheServer()
    {
        REQUIRE_SERVER();
        QVERIFY(m_server.run("SET GLOBAL wait_timeout = 1"));
        auto c = connectToPrivate();
        QVERIFY(c->waitConnected());
        QTest::qWait(2500);
        c->w->setPanelText(5, QString());
        c->w->button(QStringLiteral("SpeedButton19"))->click();
        QTRY_VERIFY_WITH_TIMEOUT(lostConnection(c->w->PanelText(5)), 10000);
        QVERIFY(m_server.run("SET GLOBAL wait_timeout = 28800"));
        QVERIFY(timed([&] { c->w->button(QStringLiteral("SpeedButton10"))->click(); }) < 5000);
    }

    void statementLargerThanTheServerTakes()
    {
        REQUIRE_SERVER();
        auto c = connectToPrivate();
        QVERIFY(c->waitConnected());
        Heartbeat beat;
        sendConsole(*c, QStringLiteral("SELECT '") + QString(20 * 1024 * 1024, QLatin1Char('x')) +
                            QStringLiteral("'"));
        QTRY_VERIFY_WITH_TIMEOUT(!c->w->PanelText(5).isEmpty(), 20000);
        QVERIFY2(c->w->PanelText(5).contains(QStringLiteral("max_allowed_packet")) ||
                     lostConnection(c->w->PanelText(5)),
                 qPrintable(c->w->PanelText(5)));
        QVERIFY(beat.ticks > 0);
        QVERIFY(timed([&] { c->w->button(QStringLiteral("SpeedButton10"))->click(); }) < 5000);
    }

    void connectToAListenerThatNeverAnswers()
    {
        REQUIRE_SERVER();
        SilentListener silent;
        writeFile(QStringLiteral("settings.ini"), settingsFor(silent.port));
        Connected c(false);
        Heartbeat beat;
        QTRY_COMPARE_WITH_TIMEOUT(g_boxes.size(), 1, 15000);
        QVERIFY2(g_boxes.first().startsWith(QStringLiteral("Error|ERROR:")),
                 qPrintable(g_boxes.first()));
        QCOMPARE(g_beeps, 1);
        QVERIFY(beat.ticks > 50);
        QCOMPARE(c.w->PanelText(1), g_boxes.first().mid(QStringLiteral("Error|ERROR:").size()));
        // Closing the program while a connect waits on it.
        c.program->login->login_connect->click();
        QVERIFY(timed([&] { c.program.reset(); }) < 5000);
    }

    void connectToAPortWhereNothingListens()
    {
        REQUIRE_SERVER();
        DeadPort dead;
        writeFile(QStringLiteral("settings.ini"), settingsFor(dead.port));
        Connected c(false);
        QTRY_COMPARE_WITH_TIMEOUT(g_boxes.size(), 1, 10000);
        QVERIFY2(g_boxes.first().contains(QStringLiteral("Can't connect")),
                 qPrintable(g_boxes.first()));
        QCOMPARE(fileLines(QStringLiteral("log.ini")).last(), c.w->PanelText(1));
    }

    // A direct call on a connection whose server has stopped answering returns after the grace
    // period with the reason, instead of waiting for the server; meanwhile the component does not
    // call itself idle. A direct call behind a long statement gives up without cutting it off.
    void directCallIsBounded()
    {
        REQUIRE_SERVER();
        TmySQLClient client;
        toPrivate(client);
        bool connected = false;
        client.OnConnect = [&](QObject *) { connected = true; };
        client.Connect();
        QTRY_VERIFY_WITH_TIMEOUT(connected, 10000);
        TmySQLClientThread *worker = client.TaskHandler()->Thread();

        Stopped stopped(m_server);
        std::atomic<int> idleDuringCall{-1};
        std::atomic<bool> returned{false};
        // Resumes the server once the call is back, or after 10 s whatever happens, so a call
        // that never gives up cannot hang the suite for its read time-out.
        std::thread helper([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(1000));
            idleDuringCall = worker->Idle() ? 1 : 0;
            for (int i = 0; i < 180 && !returned; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            stopped.resume();
        });
        QString stat;
        const qint64 ms = timed([&] { stat = client.Utility()->Stat(); });
        returned = true;
        helper.join();
        QVERIFY(stopped.ok);
        QVERIFY2(ms < CloseGraceMilliseconds + 2000, qPrintable(QString::number(ms)));
        QVERIFY2(!stat.contains(QStringLiteral("Uptime")) && !stat.isEmpty(), qPrintable(stat));
        QCOMPARE(idleDuringCall.load(), 0);

        // Behind a healthy long statement: no lease, and the statement finishes untouched.
        TmySQLClient second;
        toPrivate(second);
        bool secondConnected = false;
        QString result, error;
        second.OnConnect = [&](QObject *) { secondConnected = true; };
        second.OnQuery = [&](QObject *sender) {
            result = QString::fromUtf8(static_cast<TmySQLClientQuery *>(sender)->Value(0, 0));
        };
        second.OnQueryError = [&](QObject *, const QString &msg) { error = msg; };
        second.Connect();
        QTRY_VERIFY_WITH_TIMEOUT(secondConnected, 10000);
        second.Query()->Submit("SELECT SLEEP(4)", "long");
        second.ExecuteTasks();
        QTRY_VERIFY(second.TaskHandler()->Thread()->Busy());
        const qint64 busyMs = timed([&] { stat = second.Utility()->Stat(); });
        QVERIFY2(busyMs < CloseGraceMilliseconds + 1000, qPrintable(QString::number(busyMs)));
        QCOMPARE(stat, QStringLiteral("The connection is busy with a statement."));
        QTRY_COMPARE_WITH_TIMEOUT(result, QStringLiteral("0"), 10000);
        QCOMPARE(error, QString());
    }

    void longStatementStillRuns()
    {
        REQUIRE_SERVER();
        auto c = connectToPrivate();
        QVERIFY(c->waitConnected());
        // The read timeout does not trip on a statement that simply takes its time.
        sendConsole(*c, QStringLiteral("SELECT SLEEP(3)"));
        QTRY_COMPARE_WITH_TIMEOUT(consoleLines(*c->program).last(), QStringLiteral("Query Done."),
                                  10000);
    }
};

QTEST_MAIN(TestFaults)
#include "test_faults.moc"
