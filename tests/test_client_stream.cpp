// Streamed reads: rows handed over in batches as the server sends them, stopped on request. Each
// stream is judged against the stored read of the same statement and against the server's own
// process list. Against the project's MariaDB sandbox.
#include "CellStore.h"
#include "sandbox.h"

#include <QElapsedTimer>
#include <QTest>

#include <atomic>
#include <chrono>
#include <thread>

using namespace mysqlapi;

namespace {
// A component, threaded or not, and everything a stream handed over.
struct Streamer
{
    explicit Streamer(bool threaded, const QString &user = Server().user,
                      const QString &password = Server().password)
    {
        Server s;
        client.setHostname(s.host);
        client.setUsername(user);
        client.setPassword(password);
        client.setPort(s.port);
        client.setThreaded(threaded);
        client.OnConnect = [this](QObject *) { connected = true; };
        client.OnConnectError = [this](QObject *, const QString &msg) { connectError = msg; };
        client.OnQueryError = [this](QObject *, const QString &msg) { notices << msg; };
        client.Connect();
        settled = QTest::qWaitFor([this] { return connected || !connectError.isEmpty(); }, 10000);
    }
    void stream(const std::string &sql)
    {
        ended = false;
        stopped = false;
        rows = 0;
        batches = 0;
        largestBatch = 0;
        firstBatches = 0;
        error.clear();
        store = CellStore();
        client.Query()->SubmitStream(
            TmySQLStatement(sql), "stream",
            [this](QObject *, TmySQLRowBatch &batch) {
                ++batches;
                const int batchRows = batch.Block->Block().Rows - (batch.First ? 1 : 0);
                largestBatch = std::max(largestBatch, batchRows);
                if (batch.First) {
                    ++firstBatches;
                    fields = batch.Fields;
                    store.assign(std::move(*batch.Block));
                } else {
                    store.appendRows(std::move(*batch.Block));
                }
                // The count said with each batch is the rows handed over so far.
                if (batch.RowsSoFar != std::uint64_t(store.rowCount() - 1)) ++wrongCounts;
            },
            [this](QObject *sender) {
                auto *q = static_cast<TmySQLClientQuery *>(sender);
                rows = q->StreamedRows();
                stopped = q->StreamStopped();
                ended = true;
            },
            [this](QObject *sender, const QString &msg) {
                auto *q = static_cast<TmySQLClientQuery *>(sender);
                rows = q->StreamedRows();
                error = msg.isEmpty() ? QStringLiteral("(empty)") : msg;
                ended = true;
            },
            gate);
        client.ExecuteTasks();
    }
    bool waitEnd(int ms = 20000)
    {
        return QTest::qWaitFor([this] { return ended; }, ms);
    }

    TmySQLClient client;
    bool settled = false, connected = false, ended = false, stopped = false;
    QString error, connectError;
    QStringList notices;
    std::uint64_t rows = 0;
    int batches = 0, firstBatches = 0, largestBatch = 0, wrongCounts = 0;
    std::vector<TmySQLFieldInfo> fields;
    CellStore store;
    std::shared_ptr<TmySQLStreamGate> gate;
};

// The statements whose rows the server is running now, other than the asking session's.
QStringList running(Session &s, const char *marker)
{
    return s.Column(std::string("SELECT ID FROM information_schema.PROCESSLIST WHERE "
                                "ID <> CONNECTION_ID() AND INFO LIKE '%") +
                    marker + "%'");
}
} // namespace

class TestClientStream : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        REQUIRE_SERVER();
        Session s;
        QVERIFY2(s.connected, qPrintable(s.error));
        QCOMPARE(s.RunEach({"DROP DATABASE IF EXISTS quorvane_stream",
                            "CREATE DATABASE quorvane_stream CHARACTER SET utf8mb4",
                            "CREATE TABLE quorvane_stream.mixed (n INT, t MEDIUMTEXT, b BLOB, "
                            "e VARCHAR(5))",
                            // Every 1,500th text is some 2 MB of two-byte characters.
                            "INSERT INTO quorvane_stream.mixed SELECT seq, IF(seq % 7 = 0, NULL, "
                            "IF(seq % 1500 = 0, REPEAT(CONCAT('zażółć', CHAR(65 + seq % 26)), "
                            "200000 + seq), REPEAT(CHAR(65 + seq % 26), seq % 300))), "
                            "IF(seq % 3 = 0, "
                            "CONCAT(X'00FF', seq, X'00'), NULL), IF(seq % 5 = 0, '', 'x') "
                            "FROM quorvane_stream.seq_1_to_4500"}),
                 QString());
    }
    void cleanupTestCase()
    {
        if (!Server().ok()) return;
        Session s;
        s.Run(std::string("DROP DATABASE IF EXISTS quorvane_stream"));
    }

    // Cell for cell what the stored read gives: NULLs, NUL bytes, binary, '', long texts and
    // megabyte ones;
    // no rows, one row, exactly one batch, and several; threaded and not.
    void streamEqualsTheStoredRead_data()
    {
        QTest::addColumn<bool>("threaded");
        QTest::addColumn<int>("limit");
        for (const bool threaded : {true, false})
            for (const int limit : {0, 1, StreamBatchRows, StreamBatchRows + 1, 4500}) {
                const QByteArray name =
                    (threaded ? "threaded " : "inline ") + QByteArray::number(limit);
                QTest::newRow(name.constData()) << threaded << limit;
            }
    }
    void streamEqualsTheStoredRead()
    {
        REQUIRE_SERVER();
        QFETCH(bool, threaded);
        QFETCH(int, limit);
        const std::string sql =
            "SELECT * FROM quorvane_stream.mixed ORDER BY n LIMIT " + std::to_string(limit);
        Session stored;
        QVERIFY(stored.Run(sql, true));
        const std::unique_ptr<TCheckedCellBlock> whole = stored.q()->TakeBlock();
        QVERIFY(whole);
        CellStore expected;
        expected.assign(TCheckedCellBlock(*whole));

        Streamer s(threaded);
        QVERIFY2(s.connected, qPrintable(s.connectError));
        s.stream(sql);
        QVERIFY(s.waitEnd());
        QCOMPARE(s.error, QString());
        QVERIFY(!s.stopped);
        QCOMPARE(s.rows, std::uint64_t(limit));
        QCOMPARE(s.firstBatches, 1); // the names come once, even over no rows
        QCOMPARE(s.wrongCounts, 0);
        QVERIFY(s.largestBatch <= StreamBatchRows);
        QCOMPARE(int(s.fields.size()), 4);
        QCOMPARE(s.fields[2].Name, std::string("b"));
        QVERIFY(s.fields[2].Binary());
        QCOMPARE(s.store.rowCount(), expected.rowCount());
        QCOMPARE(s.store.colCount(), expected.colCount());
        for (int r = 0; r < expected.rowCount(); ++r)
            for (int c = 0; c < expected.colCount(); ++c)
                if (s.store.get(c, r) != expected.get(c, r) ||
                    s.store.isNull(c, r) != expected.isNull(c, r))
                    QFAIL(qPrintable(QStringLiteral("row %1 column %2").arg(r).arg(c)));
        // The connection is in step for the next request.
        s.stream("SELECT 'after'");
        QVERIFY(s.waitEnd());
        QCOMPARE(std::string(s.store.get(0, 1)), std::string("after"));
    }

    // Stop during a long read: the rows read stay, the server's statement ends, and the same
    // connection goes on.
    void stopDuringALongRead()
    {
        REQUIRE_SERVER();
        Streamer s(true);
        QVERIFY2(s.connected, qPrintable(s.connectError));
        const std::uint64_t id = s.client.Utility()->ConnectionId();
        s.stream("SELECT seq, REPEAT('x', 100) AS pad, 'long-read-marker' FROM "
                 "quorvane_stream.seq_1_to_20000000");
        QTRY_VERIFY(s.batches >= 2);
        QVERIFY(s.client.StopReading());
        QVERIFY(!s.client.StopReading()); // asked once
        QVERIFY(s.waitEnd());
        QCOMPARE(s.error, QString());
        QVERIFY(s.stopped);
        QVERIFY(s.rows > 0 && s.rows < 20000000);
        QCOMPARE(std::uint64_t(s.store.rowCount() - 1), s.rows);
        QCOMPARE(std::string(s.store.get(0, 1)), std::string("1"));
        QCOMPARE(s.notices, QStringList());
        Session check;
        QTRY_COMPARE(running(check, "long-read-marker"), QStringList());
        // The same connection, in step.
        s.stream("SELECT 'after the stop'");
        QVERIFY(s.waitEnd());
        QCOMPARE(std::string(s.store.get(0, 1)), std::string("after the stop"));
        QCOMPARE(s.client.Utility()->ConnectionId(), id);
        QVERIFY(!s.client.StopReading()); // nothing to stop
    }

    // A gated stream waits while its consumer holds the gate's limit of batches, and goes on as
    // each is done, to the last row; a stop ends a stream that is held.
    void gateHoldsTheStream()
    {
        REQUIRE_SERVER();
        Streamer s(true);
        QVERIFY2(s.connected, qPrintable(s.connectError));
        s.gate = std::make_shared<TmySQLStreamGate>(3);
        s.stream("SELECT seq, REPEAT('x', 100) FROM quorvane_stream.seq_1_to_200000");
        QTRY_COMPARE(s.batches, 3);
        QTest::qWait(300);
        QCOMPARE(s.batches, 3);
        QCOMPARE(s.gate->Held(), 3);
        for (int i = 0; i < 200000 && !s.ended; ++i) {
            if (s.gate->Held() >= 3) s.gate->Done();
            QTest::qWait(1);
        }
        QVERIFY(s.ended);
        QCOMPARE(s.error, QString());
        QCOMPARE(s.rows, std::uint64_t(200000));
        QCOMPARE(s.store.rowCount(), 200001);
        QVERIFY(s.batches > 50);

        s.gate = std::make_shared<TmySQLStreamGate>(2);
        s.stream("SELECT seq FROM quorvane_stream.seq_1_to_20000000");
        QTRY_COMPARE(s.batches, 2);
        QVERIFY(s.client.StopReading());
        QVERIFY(s.waitEnd(TmySQLStreamGate::MaxHoldSeconds * 1000 / 2));
        QVERIFY(s.stopped);
    }

    // A stream stopped before its turn is never sent; the statement before it is left alone.
    void stopOfAWaitingStream()
    {
        REQUIRE_SERVER();
        Streamer s(true);
        QVERIFY2(s.connected, qPrintable(s.connectError));
        bool slowDone = false;
        s.client.Query()->SubmitWithHandlers(
            "SELECT SLEEP(0.3)", "slow", [&](QObject *) { slowDone = true; }, nullptr);
        s.stream("SELECT 'never-sent-marker'");
        QTRY_VERIFY(s.client.TaskHandler()->Thread()->Busy());
        QVERIFY(s.client.StopReading());
        QVERIFY(s.waitEnd());
        QVERIFY(s.stopped);
        QCOMPARE(s.rows, std::uint64_t(0));
        QCOMPARE(s.batches, 0);
        QVERIFY(slowDone);
    }

    // When the server cannot be asked (here the test refuses in the server's place), the stop
    // cuts the connection, says so, and makes it again before anything queued behind it runs.
    void stopFallsBackToCuttingTheConnection()
    {
        REQUIRE_SERVER();
        KillQueryCall = [](const TmySQLConnectArgs &, std::uint64_t) {
            return std::string("refused for the test");
        };
        struct Restore
        {
            ~Restore() { KillQueryCall = KillQuery; }
        } restore;
        Streamer s(true);
        QVERIFY2(s.connected, qPrintable(s.connectError));
        const std::uint64_t id = s.client.Utility()->ConnectionId();
        s.stream("SELECT seq, REPEAT('y', 100), 'cut-read-marker' FROM "
                 "quorvane_stream.seq_1_to_20000000");
        QTRY_VERIFY(s.batches >= 1);
        QVERIFY(s.client.StopReading());
        // Queued at once behind the stop: it must run on the new connection.
        QStringList after;
        s.client.Query()->SubmitWithHandlers(
            "SELECT 'queued behind'", "behind",
            [&](QObject *sender) {
                after << QString::fromUtf8(static_cast<TmySQLClientQuery *>(sender)->Value(0, 0));
            },
            [&](QObject *, const QString &msg) { after << QStringLiteral("error: ") + msg; });
        s.client.ExecuteTasks();
        QVERIFY(s.waitEnd());
        QCOMPARE(s.error, QString());
        QVERIFY(s.stopped);
        QVERIFY(s.rows > 0);
        QTRY_COMPARE(after, QStringList{QStringLiteral("queued behind")});
        QTRY_COMPARE(s.notices.size(), 1);
        QCOMPARE(s.notices.first(),
                 QStringLiteral("Stop: the server could not be asked to end the statement "
                                "(refused for the test); the connection was cut and is made "
                                "again."));
        QCOMPARE(s.connectError, QString());
        QVERIFY(s.client.Utility()->ConnectionId() != id);
        QVERIFY(s.client.Connected());
        Session check;
        QTRY_COMPARE(running(check, "cut-read-marker"), QStringList());
    }

    // Rows that come slowly or large are handed over as they are read: ten rows and then a
    // stall arrive before the stall ends; rows larger than a batch's byte limit come one a batch.
    void slowAndLargeRowsAreHandedOver_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<int>("largestBatch"); // at most; 0: the first batch before the end
        QTest::newRow("ten rows, then a stall")
            << "SELECT seq, REPEAT('r', 20000), IF(seq = 11, SLEEP(3), 0) FROM "
               "quorvane_stream.seq_1_to_11"
            << 0;
        QTest::newRow("rows larger than a batch")
            << "SELECT seq, REPEAT('b', 6000000) FROM quorvane_stream.seq_1_to_4" << 1;
    }
    void slowAndLargeRowsAreHandedOver()
    {
        REQUIRE_SERVER();
        QFETCH(QString, sql);
        QFETCH(int, largestBatch);
        Streamer s(true);
        QVERIFY2(s.connected, qPrintable(s.connectError));
        s.stream(sql.toStdString());
        if (largestBatch == 0) {
            QTRY_VERIFY_WITH_TIMEOUT(s.batches >= 1, 10000);
            QVERIFY(!s.ended);
            QCOMPARE(s.store.rowCount() - 1, 10);
        }
        QVERIFY(s.waitEnd());
        QCOMPARE(s.error, QString());
        if (largestBatch > 0) QCOMPARE(s.largestBatch, largestBatch);
    }

    // A stop before the first row (the statement waits for a lock) is a stop of no rows, not
    // the server's "interrupted".
    void stopBeforeTheFirstRow()
    {
        REQUIRE_SERVER();
        Session locker;
        QCOMPARE(locker.RunEach({"CREATE TABLE IF NOT EXISTS quorvane_stream.locked (n INT)",
                                 "LOCK TABLES quorvane_stream.locked WRITE"}),
                 QString());
        Streamer s(true);
        QVERIFY2(s.connected, qPrintable(s.connectError));
        s.stream("SELECT n, 'lock-wait-marker' FROM quorvane_stream.locked");
        Session check;
        QTRY_COMPARE(running(check, "lock-wait-marker").size(), 1);
        QVERIFY(s.client.StopReading());
        QVERIFY(s.waitEnd());
        QCOMPARE(s.error, QString());
        QVERIFY(s.stopped);
        QCOMPARE(s.rows, std::uint64_t(0));
        QCOMPARE(s.notices, QStringList());
        locker.Run(std::string("UNLOCK TABLES"));
        QCOMPARE(s.client.Query()->StreamStopped(), true);
    }

    // Stop's fallback, when its reconnect is refused: for a user allowed one connection (the
    // server may still count the cut one) it is tried again; refused for good (the password
    // changed meanwhile), the connection is said to be lost. The component is never left
    // claiming a connection that does not work.
    void stopWhoseReconnectIsRefused_data()
    {
        QTest::addColumn<bool>("forGood");
        QTest::newRow("one-connection user") << false;
        QTest::newRow("refused for good") << true;
    }
    void stopWhoseReconnectIsRefused()
    {
        REQUIRE_SERVER();
        QFETCH(bool, forGood);
        // A user of each row's own: the server may still count a connection of the row before.
        const std::string user = forGood ? "quorvane_gone" : "quorvane_one";
        const std::string account = "'" + user + "'@'%'";
        Session admin;
        for (const QString &id : admin.Column(
                 std::string("SELECT ID FROM information_schema.PROCESSLIST WHERE USER = '") +
                 user + "'"))
            admin.Run("KILL " + id.toStdString());
        const std::string drop = "DROP USER IF EXISTS " + account;
        const std::string create =
            "CREATE USER " + account + " IDENTIFIED BY 'one-pass' WITH MAX_USER_CONNECTIONS 1";
        const std::string grant = "GRANT SELECT ON quorvane_stream.* TO " + account;
        QCOMPARE(admin.RunEach({drop.c_str(), create.c_str(), grant.c_str()}), QString());
        struct Restore
        {
            ~Restore() { KillQueryCall = KillQuery; }
        } restore;
        {
            Streamer s(true, QString::fromStdString(user), QStringLiteral("one-pass"));
            QVERIFY2(s.connected, qPrintable(s.connectError));
            s.stream("SELECT seq, REPEAT('o', 100) FROM quorvane_stream.seq_1_to_20000000");
            QTRY_VERIFY(s.batches >= 1);
            if (forGood) {
                admin.Run("ALTER USER " + account + " IDENTIFIED BY 'changed'");
                KillQueryCall = [](const TmySQLConnectArgs &, std::uint64_t) {
                    return std::string("refused for the test");
                };
            }
            QVERIFY(s.client.StopReading());
            QVERIFY(s.waitEnd());
            QVERIFY(s.stopped);
            // The fallback's end: reconnected, or the connection said to be lost.
            QTRY_VERIFY_WITH_TIMEOUT(!s.notices.isEmpty(), 15000);
            QTRY_VERIFY_WITH_TIMEOUT(s.client.Connected() != !s.connectError.isEmpty(), 15000);
            if (forGood) {
                QVERIFY2(s.connectError.contains(QStringLiteral("Access denied")),
                         qPrintable(s.connectError));
                QVERIFY(!s.client.Connected());
                QVERIFY(!s.client.Query());
            } else if (s.client.Connected()) {
                QString answer;
                s.client.Query()->SubmitWithHandlers(
                    "SELECT 'works'", "check",
                    [&](QObject *sender) {
                        answer = QString::fromUtf8(
                            static_cast<TmySQLClientQuery *>(sender)->Value(0, 0));
                    },
                    [&](QObject *, const QString &msg) { answer = msg; });
                s.client.ExecuteTasks();
                QTRY_COMPARE_WITH_TIMEOUT(answer, QStringLiteral("works"), 10000);
            }
        }
        admin.Run("DROP USER " + account);
    }

    // Disconnect, or the component's end (closing the program), right after Stop while Stop's
    // own connection still waits on the server: neither waits for it on the window thread.
    void closeRightAfterStop_data()
    {
        QTest::addColumn<bool>("destroy");
        QTest::newRow("Disconnect") << false;
        QTest::newRow("closing the program") << true;
    }
    void closeRightAfterStop()
    {
        REQUIRE_SERVER();
        QFETCH(bool, destroy);
        static std::atomic<bool> inKill{false}, release{false};
        inKill = false;
        release = false;
        KillQueryCall = [](const TmySQLConnectArgs &, std::uint64_t) {
            inKill = true;
            // A server slow to answer: held until the test lets go (or five seconds).
            for (int i = 0; i < 500 && !release; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            inKill = false;
            return std::string("slow server");
        };
        struct Restore
        {
            ~Restore()
            {
                release = true;
                while (inKill)
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
                KillQueryCall = KillQuery;
            }
        } restore;
        auto s = std::make_unique<Streamer>(true);
        QVERIFY2(s->connected, qPrintable(s->connectError));
        s->stream("SELECT seq FROM quorvane_stream.seq_1_to_20000000");
        QTRY_VERIFY(s->batches >= 1);
        QVERIFY(s->client.StopReading());
        QTRY_VERIFY(inKill);
        if (destroy)
            s.reset();
        else
            s->client.Close();
        QVERIFY(inKill); // returned while Stop's connection still waits
        if (!destroy) QTRY_VERIFY(!s->client.Connected());
    }

    // What the stop relies on: a KILL QUERY that arrives after the statement ended harms
    // nothing that follows on that connection.
    void killQueryOfAnIdleConnectionHarmsNothing()
    {
        REQUIRE_SERVER();
        Session victim, killer;
        const QStringList id = victim.Column(std::string("SELECT CONNECTION_ID()"));
        QCOMPARE(id.size(), 1);
        killer.Run(std::string("KILL QUERY ") + id.first().toStdString());
        QCOMPARE(killer.error, QString());
        QCOMPARE(victim.Column(std::string("SELECT 'still fine'")),
                 QStringList{QStringLiteral("still fine")});
    }
};

QTEST_MAIN(TestClientStream)
#include "test_client_stream.moc"
