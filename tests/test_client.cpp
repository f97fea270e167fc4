// The client component against the project's MariaDB sandbox, through its public interface.
#include "CellStore.h"
#include "sandbox.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

#include <cstdio>
#include <cstring>
#include <dlfcn.h>

using namespace mysqlapi;

namespace {
constexpr const char *ExitChild = "--exit-with-a-statement-running";

// Everything a client reports, in order, as short lines.
struct Recorder
{
    QStringList log;
    int connects = 0, connectErrors = 0, closes = 0;
    QString lastError;
    QObject *lastErrorSender = nullptr;
    QStringList queries, queryErrors;

    QString senderName(QObject *sender, TmySQLClient *client) const
    {
        if (sender == client) return QStringLiteral("component");
        if (sender == client->TaskHandler()) return QStringLiteral("handler");
        if (sender == client->TaskHandler()->Thread()) return QStringLiteral("worker");
        if (sender == client->Utility()) return QStringLiteral("utility");
        if (sender && sender == client->Query()) return QStringLiteral("query");
        return QStringLiteral("other");
    }

    void attach(TmySQLClient *client)
    {
        client->OnConnect = [this](QObject *) {
            ++connects;
            log << QStringLiteral("connect");
        };
        client->OnConnectError = [this](QObject *sender, const QString &msg) {
            ++connectErrors;
            lastError = msg;
            lastErrorSender = sender;
            log << QStringLiteral("connect error");
        };
        client->OnClose = [this](QObject *) {
            ++closes;
            log << QStringLiteral("close");
        };
        client->OnQuery = [this, client](QObject *) {
            const QString name = QString::fromStdString(client->Query()->Task()->TaskName);
            queries << name;
            log << QStringLiteral("query ") + name;
        };
        client->OnQueryError = [this](QObject *, const QString &msg) {
            queryErrors << msg;
            log << QStringLiteral("query error ") + msg;
        };
        client->setOnStatus([this, client](QObject *sender, TmySQLClientTask_StatusType status,
                                           const QString &name, int left) {
            log << QStringLiteral("status %1 %2 %3 %4")
                       .arg(QString::fromLatin1(StatusTypeNames[status]), name)
                       .arg(left)
                       .arg(senderName(sender, client));
        });
    }
    QStringList statuses() const { return log.filter(QStringLiteral("status ")); }
};

std::unique_ptr<TmySQLClient> makeClient(bool threaded, const QString &password = QString())
{
    Server s;
    auto client = std::make_unique<TmySQLClient>();
    client->setHostname(s.host);
    client->setUsername(s.user);
    client->setPassword(password.isNull() ? s.password : password);
    client->setPort(s.port);
    client->setDatabase(QString());
    client->setThreaded(threaded);
    return client;
}

bool connectAndWait(TmySQLClient *client, Recorder &r)
{
    const int connects = r.connects;
    const int errors = r.connectErrors;
    client->Connect();
    return QTest::qWaitFor([&] { return r.connects > connects || r.connectErrors > errors; },
                           10000) &&
           r.connects > connects;
}

void submit(TmySQLClient *client, const char *sql, const char *name)
{
    client->Query()->Submit(sql, name);
    client->ExecuteTasks();
}
} // namespace

class TestClient : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // First, while no library is loaded in this process yet.
    void missingLibraryThenFoundWithoutRestart()
    {
        REQUIRE_SERVER();
        QVERIFY(!MySQLLibHandle);
        const QString searchDir =
            qEnvironmentVariable("LD_LIBRARY_PATH").split(QLatin1Char(':')).value(0);
        if (searchDir.isEmpty() || !QDir(searchDir).exists())
            QSKIP("needs the library search folder that CTest puts on LD_LIBRARY_PATH");
        const QString probe = searchDir + QStringLiteral("/libquorvane-probe.so.3");
        QFile::remove(probe);
        MySQLLibraryName = "libquorvane-probe.so.3";

        auto client = makeClient(true);
        Recorder r;
        r.attach(client.get());
        client->Connect();
        QCOMPARE(r.connectErrors, 1);
        QCOMPARE(r.lastError,
                 QStringLiteral("DLL not found - please make sure libmysql.dll is available."));
        QCOMPARE(r.lastErrorSender, client.get());
        QVERIFY(r.statuses().isEmpty());
        QVERIFY(!client->Connected());
        QVERIFY(!MySQLLibHandle);

        // Put the real library where the search order finds it under that name.
        void *real = dlopen("libmariadb.so.3", RTLD_NOW);
        QVERIFY(real);
        Dl_info info{};
        QVERIFY(dladdr(dlsym(real, "mysql_init"), &info));
        QVERIFY(QFile::link(QString::fromLocal8Bit(info.dli_fname), probe));
        QVERIFY(connectAndWait(client.get(), r));
        QVERIFY(MySQLLibHandle);
        QVERIFY(!LoadMySQLLibrary()); // a second load changes nothing
        QVERIFY(MySQLLibHandle);
        client.reset();
        dlclose(real);
        QFile::remove(probe);
    }

    void capabilityFlags()
    {
        using C = TClientCapabilities;
        QCOMPARE(ClientFlagOf({}), 0u);
        QCOMPARE(ClientFlagOf(C::CLIENT_LONG_PASSWORD | C::CLIENT_CONNECT_WITH_DB), 9u);
        QCOMPARE(ClientFlagOf(C::CLIENT_IGNORE_SPACE), 256u);
        TSetClientCapabilities all;
        for (int i = 0; i <= 8; ++i)
            all |= static_cast<C>(1 << i);
        QCOMPARE(ClientFlagOf(all), 511u);
        TmySQLClient client;
        QCOMPARE(ClientFlagOf(client.Capabilities()), 9u);
        QCOMPARE(client.Port(), 3306);
        QCOMPARE(client.Hostname(), QStringLiteral("localhost"));
        QVERIFY(client.BlockOnClose());
        QVERIFY(!client.Threaded());
        QCOMPARE(client.ConnectedTimeOutInterval(), 300000);
        QVERIFY(!client.Query());
        QVERIFY(client.Utility());
    }

    void taskNamesAreCutTo40Bytes()
    {
        QCOMPARE(CutTaskName(std::string(50, 'n')), std::string(40, 'n'));
        QCOMPARE(CutTaskName("short"), std::string("short"));
        // 39 ASCII bytes and a two-byte letter: the letter is not split.
        const std::string name = std::string(39, 'a') + "ż" + "tail";
        QCOMPARE(CutTaskName(name), std::string(39, 'a'));
    }

    void statusSequence_data()
    {
        QTest::addColumn<bool>("threaded");
        QTest::newRow("threaded") << true;
        QTest::newRow("non-threaded") << false;
    }
    void statusSequence()
    {
        REQUIRE_SERVER();
        QFETCH(bool, threaded);
        auto client = makeClient(threaded);
        Recorder r;
        r.attach(client.get());
        QVERIFY(connectAndWait(client.get(), r));
        submit(client.get(), "SELECT 1", "first");
        QTRY_COMPARE(r.queries, QStringList({"first"}));
        QTest::qWait(threaded ? 50 : 0);
        client->Close();
        QStringList expected;
        if (threaded)
            expected = QStringList{
                "status Connecting [Connect] 0 component",
                "status Active Connect to mySQL Server 1 handler",
                "status Idle [Idle] 0 handler",
                "status Active first 1 handler",
                "status Idle [Idle] 0 handler",
                "status Not Connected [Not Connected] 0 component",
            };
        else
            expected = QStringList{
                "status Connecting [Connect] 0 component",
                "status Active Connect to mySQL Server 0 worker",
                "status Active first 0 worker",
                "status Not Connected [Not Connected] 0 component",
            };
        QCOMPARE(r.statuses(), expected);
        // OnClose comes before the last report, and Close restored the mode it switched off.
        QCOMPARE(r.log.at(r.log.size() - 2), QStringLiteral("close"));
        QCOMPARE(client->Threaded(), threaded);
        QVERIFY(!client->Query());
    }

    void connectTaskGoesToTheHeadOfTheQueue()
    {
        REQUIRE_SERVER();
        auto client = makeClient(false);
        Recorder r;
        r.attach(client.get());
        QVERIFY(connectAndWait(client.get(), r));
        client->Query()->Submit("SELECT 1", "q1");
        client->Query()->Submit("SELECT 2", "q2");
        Server s;
        client->Utility()->Connect(
            s.host.toStdString(), s.user.toStdString(), s.password.toStdString(), "", s.port, 0,
            "again", [&r](QObject *) { r.log << QStringLiteral("reconnected"); }, nullptr);
        QCOMPARE(client->TaskHandler()->Thread()->TaskCount(), 3);
        client->ExecuteTasks();
        const QStringList order =
            r.log.filter(QRegularExpression(QStringLiteral("^(reconnected|query)")));
        QCOMPARE(order, QStringList({"reconnected", "query q1", "query q2"}));
    }

    void longTaskNameIsReportedCut()
    {
        REQUIRE_SERVER();
        auto client = makeClient(true);
        Recorder r;
        r.attach(client.get());
        QVERIFY(connectAndWait(client.get(), r));
        const std::string name(50, 'x');
        client->Query()->Submit("SELECT 1", name);
        client->ExecuteTasks();
        QTRY_COMPARE(r.queries.size(), 1);
        QCOMPARE(r.queries.first(), QString(40, QLatin1Char('x')));
        QVERIFY(r.statuses().contains(
            QStringLiteral("status Active %1 1 handler").arg(QString(40, QLatin1Char('x')))));
    }

    void failedConnects_data()
    {
        QTest::addColumn<bool>("threaded");
        QTest::addColumn<bool>("closedPort");
        QTest::addColumn<QString>("expect");
        QTest::newRow("bad password, threaded") << true << false << "Access denied";
        QTest::newRow("bad password, non-threaded") << false << false << "Access denied";
        QTest::newRow("closed port, threaded") << true << true << "Can't connect";
        QTest::newRow("closed port, non-threaded") << false << true << "Can't connect";
    }
    void failedConnects()
    {
        REQUIRE_SERVER();
        QFETCH(bool, threaded);
        QFETCH(bool, closedPort);
        QFETCH(QString, expect);
        auto client = makeClient(threaded, closedPort ? QString() : QStringLiteral("wrong"));
        if (closedPort) client->setPort(1); // nothing listens on port 1 here
        Recorder r;
        r.attach(client.get());
        QVERIFY(!connectAndWait(client.get(), r));
        QCOMPARE(r.connectErrors, 1);
        QVERIFY2(r.lastError.contains(expect), qPrintable(r.lastError));
        QCOMPARE(r.lastErrorSender, client->Utility());
        QCOMPARE(r.statuses(), QStringList({"status Connecting [Connect] 0 component"}));
        QVERIFY(!client->Connected());
        QVERIFY(!client->Query());
        // A new connect may follow at once.
        client->setPassword(Server().password);
        client->setPort(Server().port);
        QVERIFY(connectAndWait(client.get(), r));
    }

    void statementsWithoutResultAndRejected()
    {
        REQUIRE_SERVER();
        auto client = makeClient(true);
        Recorder r;
        r.attach(client.get());
        QVERIFY(connectAndWait(client.get(), r));
        // Each failed task keeps its own message, though the next statement ran meanwhile.
        client->Query()->Submit("SELEC 1", "bad");
        client->Query()->Submit("DO 1", "no result");
        client->Query()->Submit("SELECT * FROM no_such_db.no_such_table", "missing");
        client->ExecuteTasks();
        QTRY_COMPARE(r.queryErrors.size(), 3);
        QVERIFY2(r.queryErrors.at(0).contains(QStringLiteral("SQL syntax")),
                 qPrintable(r.queryErrors.at(0)));
        QCOMPARE(r.queryErrors.at(1), QString());
        QVERIFY2(r.queryErrors.at(2).contains(QStringLiteral("no_such")),
                 qPrintable(r.queryErrors.at(2)));
        QVERIFY(r.queries.isEmpty());
        // Failures raise no status report.
        QVERIFY(r.statuses().filter(QStringLiteral("bad")).isEmpty());
    }

    void listKindsFillResultList()
    {
        REQUIRE_SERVER();
        auto client = makeClient(true);
        Recorder r;
        r.attach(client.get());
        QVERIFY(connectAndWait(client.get(), r));
        TmySQLClientThread *thread = client->TaskHandler()->Thread();
        QMap<TmySQLTaskKind, QStringList> lists;
        int done = 0;
        auto collect = [&](QObject *, TmySQLClientTaskData *task) {
            lists[task->TaskKind] = task->ResultList;
            ++done;
            delete task;
        };
        auto failed = [&](QObject *, TmySQLClientTaskData *task, const QString &msg) {
            qWarning("task %d failed: %s", int(task->TaskKind), qPrintable(msg));
            ++done;
            delete task;
        };
        thread->AddDatabaseTask(TmySQLTaskKind::SelectDatabase, "shop", "use shop", collect, failed,
                                nullptr, nullptr);
        for (TmySQLTaskKind kind : {TmySQLTaskKind::ListDatabases, TmySQLTaskKind::ListTables}) {
            auto task = std::make_unique<TmySQLClientTaskData>();
            task->TaskKind = kind;
            task->OnTaskComplete = collect;
            task->OnTaskError = failed;
            thread->AddTask(std::move(task));
        }
        auto fields = std::make_unique<TmySQLClientTaskData>();
        fields->TaskKind = TmySQLTaskKind::ListFields;
        fields->Table = "customers";
        fields->OnTaskComplete = collect;
        fields->OnTaskError = failed;
        thread->AddTask(std::move(fields));
        client->ExecuteTasks();
        QTRY_COMPARE(done, 4);
        const QStringList databases = lists[TmySQLTaskKind::ListDatabases];
        QVERIFY(databases.contains(QStringLiteral("shop")));
        QVERIFY(databases.contains(QStringLiteral("kraków")));
        QVERIFY(databases.contains(QStringLiteral("empty_db")));
        QStringList tables = lists[TmySQLTaskKind::ListTables];
        tables.sort();
        QCOMPARE(tables, QStringList({"customers", "orders", "products"}));
        QCOMPARE(lists[TmySQLTaskKind::ListFields],
                 QStringList({"customers.id", "customers.name", "customers.city",
                              "customers.joined", "customers.credit"}));
    }

    void missingEntryPointFailsTheTask()
    {
        REQUIRE_SERVER();
        auto client = makeClient(false);
        Recorder r;
        r.attach(client.get());
        QVERIFY(connectAndWait(client.get(), r));
        QVERIFY(!mysql_create_db); // MariaDB Connector/C has none
        QString message;
        client->TaskHandler()->Thread()->AddDatabaseTask(
            TmySQLTaskKind::CreateDatabase, "never_made", "create",
            [](QObject *, TmySQLClientTaskData *t) { delete t; },
            [&](QObject *, TmySQLClientTaskData *t, const QString &msg) {
                message = msg;
                delete t;
            },
            nullptr, nullptr);
        client->ExecuteTasks();
        QCOMPARE(message, QStringLiteral("The client library has no mysql_create_db function."));
    }

    void clearTasks()
    {
        REQUIRE_SERVER();
        auto client = makeClient(false);
        Recorder r;
        r.attach(client.get());
        QVERIFY(connectAndWait(client.get(), r));
        TmySQLClientThread *thread = client->TaskHandler()->Thread();
        client->TaskHandler()->ClearTasks(); // on an empty queue: nothing
        QVERIFY(thread->Suspended());
        client->Query()->Submit("SELECT 1", "a");
        client->Query()->Submit("SELECT 2", "b");
        QCOMPARE(thread->TaskCount(), 2);
        client->TaskHandler()->ClearTasks();
        QCOMPARE(thread->TaskCount(), 0);
        client->ExecuteTasks();
        QVERIFY(r.queries.isEmpty());
        QVERIFY(thread->Suspended());
    }

    void rowsNullsAndBounds()
    {
        REQUIRE_SERVER();
        auto client = makeClient(false);
        Recorder r;
        r.attach(client.get());
        QVERIFY(connectAndWait(client.get(), r));
        submit(client.get(), "SELECT id, a, b, c FROM demo.with_nulls ORDER BY b IS NULL, id",
               "rows");
        TmySQLClientQuery *q = client->Query();
        // Non-threaded: the rows stay readable after OnQuery until Clear.
        QCOMPARE(q->RowCount(), 3);
        QCOMPARE(q->FieldCount(), 4);
        QCOMPARE(q->FieldName(0), QStringLiteral("id"));
        QCOMPARE(q->FieldName(3), QStringLiteral("c"));
        QCOMPARE(q->FieldName(0), QStringLiteral("id"));
        QCOMPARE(q->FieldNameLoads(), 1); // names read once
        QVERIFY(q->FieldName(9).isEmpty());
        QCOMPARE(QByteArray(q->Value(0, 0)), QByteArray("1"));
        QVERIFY(q->Value(0, 1) == nullptr);                   // NULL is a null pointer
        QCOMPARE(QByteArray(q->Value(1, 1)), QByteArray("")); // '' is an empty text
        QVERIFY(q->Value(2, 0) == nullptr);
        QVERIFY(q->RowText(2).isEmpty()); // NULL key: empty row text
        QCOMPARE(q->RowText(0), QStringLiteral("1"));
        QVERIFY(q->Value(3, 0) && !*q->Value(3, 0)); // beyond the rows: empty, not null
        QVERIFY(q->Value(0, 4) && !*q->Value(0, 4));
        QVERIFY(q->Value(-1, 0) && !*q->Value(-1, 0));
        q->Clear();
        QCOMPARE(q->RowCount(), 0);
        QVERIFY(q->Value(0, 0) == nullptr); // no task held
        QCOMPARE(q->FieldCount(), -1);
        q->Clear(); // twice is harmless

        // A result with no rows still raises OnQuery with its columns.
        submit(client.get(), "SELECT * FROM demo.no_rows", "none");
        QCOMPARE(r.queries.last(), QStringLiteral("none"));
        QCOMPARE(q->RowCount(), 0);
        QCOMPARE(q->FieldCount(), 2);
        QCOMPARE(q->FieldName(1), QStringLiteral("label"));

        // A second result before Clear appends its rows; the earlier rows stay valid.
        submit(client.get(), "SELECT `gęś` FROM demo.`zażółć` ORDER BY `jaźń`", "utf8");
        QCOMPARE(q->RowCount(), 2);
        QCOMPARE(QString::fromUtf8(q->Value(0, 0)), QStringLiteral("żółw"));
        // An error drops what was held.
        submit(client.get(), "SELEC", "bad");
        QCOMPARE(q->RowCount(), 0);
        QVERIFY(!q->Task());
    }

    void threadedQueryIsClearedAfterOnQuery()
    {
        REQUIRE_SERVER();
        auto client = makeClient(true);
        Recorder r;
        r.attach(client.get());
        QVERIFY(connectAndWait(client.get(), r));
        int rows = -1;
        QString cell;
        client->Query()->SubmitWithHandlers(
            "SELECT id, label FROM demo.big_table ORDER BY id", "big",
            [&](QObject *sender) {
                auto *q = static_cast<TmySQLClientQuery *>(sender);
                rows = q->RowCount();
                cell = QString::fromUtf8(q->Value(9999, 1));
            },
            nullptr);
        client->ExecuteTasks();
        QTRY_COMPARE(rows, 10000);
        QCOMPARE(cell, QStringLiteral("row 10000"));
        QCOMPARE(client->Query()->RowCount(), 0);
        QVERIFY(!client->Query()->Task());
    }

    void utilityReadsConnectionInformation()
    {
        REQUIRE_SERVER();
        auto client = makeClient(true);
        Recorder r;
        r.attach(client.get());
        QVERIFY(connectAndWait(client.get(), r));
        QVERIFY(client->Utility()->ServerInfo().contains(QStringLiteral("MariaDB")));
        QVERIFY(client->Utility()->HostInfo().contains(Server().host));
        // While the worker runs a slow statement the direct call waits for it, then answers.
        submit(client.get(), "SELECT SLEEP(0.3)", "slow");
        QTRY_COMPARE(client->TaskHandler()->Thread()->TaskCount(), 0);
        const QString stat = client->Utility()->Stat();
        QVERIFY2(stat.contains(QStringLiteral("Uptime")), qPrintable(stat));
        QTRY_COMPARE(r.queries, QStringList({"slow"}));
        bool selected = false;
        client->OnSelectDatabase = [&](QObject *) { selected = true; };
        client->Utility()->Events.OnSelectDatabase = client->OnSelectDatabase;
        client->Utility()->SelectDatabase("shop", "Select Database");
        client->ExecuteTasks();
        QTRY_VERIFY(selected);
    }

    void destroyWhileRunningAndWhileSuspended()
    {
        REQUIRE_SERVER();
        Recorder r;
        {
            auto client = makeClient(true);
            r.attach(client.get());
            QVERIFY(connectAndWait(client.get(), r));
            r.log.clear();
            client->Query()->Submit("SELECT SLEEP(1)", "slow");
            client->Query()->Submit("SELECT 2", "after");
            client->ExecuteTasks();
            QTRY_COMPARE(client->TaskHandler()->Thread()->TaskCount(), 1);
        } // destroyed while the slow statement runs
        QCoreApplication::processEvents();
        QVERIFY2(r.log.isEmpty(), qPrintable(r.log.join(QLatin1Char('|'))));
        {
            auto client = makeClient(true);
            r.attach(client.get());
            QVERIFY(connectAndWait(client.get(), r));
            QTRY_VERIFY(client->TaskHandler()->Thread()->Suspended());
            r.log.clear();
        } // destroyed while suspended
        QCoreApplication::processEvents();
        QVERIFY(r.log.isEmpty());
        {
            // Destroyed while the connect is still on its way: no close, no report.
            auto client = makeClient(true);
            r.attach(client.get());
            r.log.clear();
            client->Connect();
        }
        QCoreApplication::processEvents();
        QCOMPARE(r.log, QStringList({"status Connecting [Connect] 0 component"}));
    }

    void idleTimeOutClosesAndNextRequestReconnects()
    {
        REQUIRE_SERVER();
        auto client = makeClient(true);
        QTimer timer;
        client->setConnectedTimer(&timer);
        client->setConnectedTimeOutInterval(150);
        Recorder r;
        r.attach(client.get());
        QVERIFY(connectAndWait(client.get(), r));
        QTRY_VERIFY_WITH_TIMEOUT(client->TimedOut(), 5000);
        QVERIFY(r.statuses().contains(QStringLiteral("status Active [Time Out: 150] 0 worker")));
        QCOMPARE(r.closes, 0);
        QVERIFY(client->Connected());
        QVERIFY(client->Query());
        r.log.clear();
        timer.stop();
        client->setConnectedTimer(nullptr); // no second time-out during the check
        submit(client.get(), "SELECT 1", "after idle");
        QTRY_COMPARE(r.queries, QStringList({"after idle"}));
        QCOMPARE(r.statuses().value(0),
                 QStringLiteral("status Reconnecting [Reconnect] 0 component"));
        // The reconnect runs ahead of the waiting request.
        QVERIFY(r.statuses().value(1).startsWith(
            QStringLiteral("status Active Connect to mySQL Server ")));
        QCOMPARE(r.connects, 1); // a reconnect raises no OnConnect
        QVERIFY(!client->TimedOut());
    }

    void closeWhileTimedOutNeedsNoTask()
    {
        REQUIRE_SERVER();
        auto client = makeClient(false);
        QTimer timer;
        client->setConnectedTimer(&timer);
        client->setConnectedTimeOutInterval(50);
        Recorder r;
        r.attach(client.get());
        QVERIFY(connectAndWait(client.get(), r));
        QTRY_VERIFY(client->TimedOut());
        r.log.clear();
        client->Close();
        QCOMPARE(r.log, QStringList({"close", "status Not Connected [Not Connected] 0 component"}));
        QVERIFY(!client->Query());
        QCOMPARE(client->TaskHandler()->Thread()->TaskCount(), 0);
    }

    void blockOnClose_data()
    {
        QTest::addColumn<bool>("block");
        QTest::newRow("blocking") << true;
        QTest::newRow("not blocking") << false;
    }
    void blockOnClose()
    {
        REQUIRE_SERVER();
        QFETCH(bool, block);
        auto client = makeClient(true);
        client->setBlockOnClose(block);
        Recorder r;
        r.attach(client.get());
        QVERIFY(connectAndWait(client.get(), r));
        client->Query()->Submit("SELECT SLEEP(0.2)", "waiting");
        client->ExecuteTasks();
        client->Close();
        QVERIFY(!client->Connected());
        QVERIFY(client->Threaded());
        if (block) {
            // Everything that waited ran first, in order, before Close returned.
            QCOMPARE(r.queries, QStringList({"waiting"}));
            QCOMPARE(r.closes, 1);
            QCOMPARE(r.log.last(),
                     QStringLiteral("status Not Connected [Not Connected] 0 component"));
        } else {
            QCOMPARE(r.closes, 0);
            QTRY_COMPARE(r.closes, 1);
            QCOMPARE(r.queries, QStringList({"waiting"}));
        }
        QVERIFY(r.statuses().filter(QStringLiteral("[Session Closed]")).isEmpty());
        QVERIFY(!client->Query());
    }

    void closeFromInsideOnQueryKeepsOrder()
    {
        REQUIRE_SERVER();
        auto client = makeClient(true);
        Recorder r;
        r.attach(client.get());
        client->OnQuery = [&](QObject *sender) {
            auto *q = static_cast<TmySQLClientQuery *>(sender);
            const QString name = QString::fromStdString(q->Task()->TaskName);
            r.log << QStringLiteral("query ") + name;
            if (name == QLatin1String("q1")) client->Close();
        };
        QVERIFY(connectAndWait(client.get(), r));
        client->Query()->Submit("SELECT 1", "q1");
        client->Query()->Submit("SELECT 2", "q2");
        client->Query()->Submit("SELECT 3", "q3");
        client->ExecuteTasks();
        QTRY_COMPARE(r.closes, 1);
        QCoreApplication::processEvents();
        const QStringList order =
            r.log.filter(QRegularExpression(QStringLiteral("^(query|close)")));
        QCOMPARE(order, QStringList({"query q1", "query q2", "query q3", "close"}));
    }

    void resultsDoNotWaitBehindASlowStatement()
    {
        REQUIRE_SERVER();
        auto client = makeClient(true);
        Recorder r;
        r.attach(client.get());
        QVERIFY(connectAndWait(client.get(), r));
        client->Query()->Submit("SELECT 1", "fast");
        client->Query()->Submit("SELECT SLEEP(1)", "slow");
        client->ExecuteTasks();
        // The fast result is delivered while the slow statement still runs.
        QTRY_COMPARE_WITH_TIMEOUT(r.queries, QStringList({"fast"}), 900);
        QCOMPARE(client->TaskHandler()->Thread()->TaskCount(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(r.queries, QStringList({"fast", "slow"}), 5000);
    }

    void secondConnectWhileConnectingQueuesNothing()
    {
        REQUIRE_SERVER();
        auto client = makeClient(true);
        Recorder r;
        r.attach(client.get());
        client->Connect();
        client->Connect();
        QTRY_COMPARE(r.connects, 1);
        QTest::qWait(100);
        QCOMPARE(r.connects, 1);
        QCOMPARE(r.statuses().filter(QStringLiteral("[Connect]")).size(), 1);
        client->Connect(); // connected: nothing
        QTest::qWait(50);
        QCOMPARE(r.connects, 1);
    }

    void closeRightAfterConnectDoesNothing()
    {
        REQUIRE_SERVER();
        auto client = makeClient(true);
        Recorder r;
        r.attach(client.get());
        client->Connect();
        client->Close(); // not connected yet
        QTRY_COMPARE(r.connects, 1);
        QCOMPARE(r.closes, 0);
        QVERIFY(client->Connected());
    }

    void capabilitiesTakeEffectAtTheNextConnect()
    {
        REQUIRE_SERVER();
        auto client = makeClient(false);
        client->setCapabilities({});
        Recorder r;
        r.attach(client.get());
        QVERIFY(connectAndWait(client.get(), r));
        QCOMPARE(client->ClientFlag(), 0u);
        client->setCapabilities(TClientCapabilities::CLIENT_FOUND_ROWS);
        QCOMPARE(client->ClientFlag(), 0u);
        client->Close();
        QVERIFY(connectAndWait(client.get(), r));
        QCOMPARE(client->ClientFlag(), 2u);
    }

    // --- Faults found under stress: each of these failed before its mend. ---

    void connectAfterADroppedConnectStillConnects()
    {
        REQUIRE_SERVER();
        auto client = makeClient(true);
        Recorder r;
        r.attach(client.get());
        {
            // Holding the connection keeps the worker from taking the connect task.
            TmySQLClientThread::Lease hold(client->TaskHandler()->Thread());
            client->Connect();
            QVERIFY(client->TaskHandler()->Thread()->ConnectPending());
            client->TaskHandler()->ClearTasks();
            QVERIFY(!client->TaskHandler()->Thread()->ConnectPending());
        }
        QTest::qWait(50);
        QCOMPARE(r.connects, 0);
        QVERIFY(connectAndWait(client.get(), r));
        QVERIFY(client->Query());
    }

    void connectDoesNotOvertakeAWaitingClose()
    {
        REQUIRE_SERVER();
        auto client = makeClient(true);
        client->setBlockOnClose(false);
        Recorder r;
        r.attach(client.get());
        QVERIFY(connectAndWait(client.get(), r));
        r.log.clear();
        client->Query()->Submit("SELECT SLEEP(0.2)", "before close");
        client->ExecuteTasks();
        client->Close();
        client->Connect();
        QTRY_COMPARE(r.connects, 2);
        const QStringList order =
            r.log.filter(QRegularExpression(QStringLiteral("^(query|close|connect)")));
        QCOMPARE(order, QStringList({"query before close", "close", "connect"}));
        QVERIFY(client->Connected());
        QVERIFY(client->Query());
        submit(client.get(), "SELECT 1", "after");
        QTRY_COMPARE(r.queries.last(), QStringLiteral("after"));
    }

    void blockingCloseReleasesEachResult()
    {
        REQUIRE_SERVER();
        auto client = makeClient(true); // threaded with blocking close: the main window's set-up
        Recorder r;
        r.attach(client.get());
        QVERIFY(connectAndWait(client.get(), r));
        QStringList seen;
        client->OnQuery = nullptr;
        for (int i = 1; i <= 4; ++i)
            client->Query()->SubmitWithHandlers(
                "SELECT " + std::to_string(i), "q",
                [&](QObject *sender) {
                    auto *q = static_cast<TmySQLClientQuery *>(sender);
                    seen << QStringLiteral("%1:%2").arg(q->RowCount()).arg(q->Value(0, 0));
                },
                nullptr);
        client->Close(); // runs the four waiting statements inline, then the close
        QCOMPARE(seen, QStringList({"1:1", "1:2", "1:3", "1:4"}));
    }

    void nestedDeliveryLeavesTheOuterResultReadable()
    {
        REQUIRE_SERVER();
        auto client = makeClient(true);
        Recorder r;
        r.attach(client.get());
        QVERIFY(connectAndWait(client.get(), r));
        QString before, after, inner;
        int rowsAfter = -1;
        client->Query()->SubmitWithHandlers(
            "SELECT 'outer value', 2", "outer",
            [&](QObject *sender) {
                auto *q = static_cast<TmySQLClientQuery *>(sender);
                before = QString::fromUtf8(q->Value(0, 0));
                // A modal box or dialog: the event loop runs and the next result arrives inside.
                QEventLoop loop;
                QTimer::singleShot(3000, &loop, &QEventLoop::quit);
                QTimer poll;
                QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
                    if (!inner.isEmpty()) loop.quit();
                });
                poll.start(5);
                loop.exec();
                rowsAfter = q->RowCount();
                after = QString::fromUtf8(q->Value(0, 0));
            },
            nullptr);
        client->Query()->SubmitWithHandlers(
            "SELECT 'inner value'", "inner",
            [&](QObject *sender) {
                inner = QString::fromUtf8(static_cast<TmySQLClientQuery *>(sender)->Value(0, 0));
            },
            nullptr);
        client->ExecuteTasks();
        QTRY_VERIFY(!after.isEmpty());
        QCOMPARE(inner, QStringLiteral("inner value"));
        QCOMPARE(before, QStringLiteral("outer value"));
        QCOMPARE(after, QStringLiteral("outer value"));
        QCOMPARE(rowsAfter, 1);
        QTRY_COMPARE(client->Query()->RowCount(), 0); // both released once done
    }

    void destroyedInsideItsOwnEvents_data()
    {
        QTest::addColumn<QString>("event");
        QTest::newRow("OnQuery") << "query";
        QTest::newRow("OnQueryError") << "error";
        QTest::newRow("OnClose") << "close";
        QTest::newRow("OnConnect") << "connect";
    }
    void destroyedInsideItsOwnEvents()
    {
        REQUIRE_SERVER();
        QFETCH(QString, event);
        auto client = makeClient(true);
        bool destroyed = false;
        auto destroy = [&] {
            client.reset();
            destroyed = true;
        };
        bool connected = false;
        client->OnConnect = [&](QObject *) {
            connected = true;
            if (event == QLatin1String("connect")) destroy();
        };
        client->OnQuery = [&](QObject *) {
            if (event == QLatin1String("query")) destroy();
        };
        client->OnQueryError = [&](QObject *, const QString &) {
            if (event == QLatin1String("error")) destroy();
        };
        client->OnClose = [&](QObject *) {
            if (event == QLatin1String("close")) destroy();
        };
        client->Connect();
        QTRY_VERIFY(connected);
        if (!destroyed) {
            client->Query()->Submit("SELECT 1", "a");
            client->Query()->Submit("SELEC 2", "b");
            client->Query()->Submit("SELECT 3", "c");
            client->ExecuteTasks();
            if (event == QLatin1String("close")) client->Close();
        }
        QTRY_VERIFY(destroyed);
        QTest::qWait(20); // the deferred parts go, and nothing more arrives
    }

    void idleTimeOutWaitsUntilNothingRuns()
    {
        REQUIRE_SERVER();
        auto client = makeClient(true);
        QTimer timer;
        client->setConnectedTimer(&timer);
        client->setConnectedTimeOutInterval(150);
        Recorder r;
        r.attach(client.get());
        QVERIFY(connectAndWait(client.get(), r));
        timer.stop();
        bool timedOutDuringWork = true;
        client->Query()->Submit("SELECT 1", "quick");
        client->Query()->SubmitWithHandlers(
            "SELECT SLEEP(0.6)", "slow",
            [&](QObject *) { timedOutDuringWork = client->TimedOut(); }, nullptr);
        client->ExecuteTasks();
        QTRY_VERIFY_WITH_TIMEOUT(r.queries.contains(QStringLiteral("quick")), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(!timedOutDuringWork || client->TimedOut(), 5000);
        QVERIFY(!timedOutDuringWork);
        QTRY_VERIFY_WITH_TIMEOUT(client->TimedOut(), 5000); // idle afterwards: it does fire
    }

    void directCallGoesAheadOfWaitingTasks()
    {
        REQUIRE_SERVER();
        auto client = makeClient(true);
        Recorder r;
        r.attach(client.get());
        QVERIFY(connectAndWait(client.get(), r));
        const QString version = client->Utility()->ServerInfo();
        QVERIFY(version.contains(QStringLiteral("MariaDB")));
        for (int i = 0; i < 300; ++i)
            client->Query()->Submit("SELECT SLEEP(0.002)", "queued");
        client->ExecuteTasks();
        QTRY_VERIFY(client->TaskHandler()->Thread()->Busy());
        // Captured at connect: no wait at all, the statements still run.
        QCOMPARE(client->Utility()->ServerInfo(), version);
        QVERIFY(client->Utility()->HostInfo().contains(Server().host));
        QVERIFY(client->TaskHandler()->Thread()->TaskCount() > 250);
        // Stat talks to the server: it waits for the running statement only.
        QVERIFY(client->Utility()->Stat().contains(QStringLiteral("Uptime")));
        QVERIFY2(client->TaskHandler()->Thread()->TaskCount() > 250,
                 qPrintable(QString::number(client->TaskHandler()->Thread()->TaskCount())));
        client->TaskHandler()->ClearTasks();
    }

    // The component destroyed while a handler waits in a nested event loop of its own: by the
    // next result's handler, by its error handler, by a timer in that loop, and on the inline
    // path. The outer frames still on the stack must find what they use alive.
    void deletedInsideANestedLoop_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("inner OnQuery") << "query";
        QTest::newRow("inner OnQueryError") << "error";
        QTest::newRow("timer in the loop") << "timer";
        QTest::newRow("inline path") << "inline";
    }
    void deletedInsideANestedLoop()
    {
        REQUIRE_SERVER();
        QFETCH(QString, how);
        const bool inlinePath = how == QLatin1String("inline");
        auto client = makeClient(!inlinePath);
        Recorder r;
        r.attach(client.get());
        QVERIFY(connectAndWait(client.get(), r));
        bool destroyed = false, outerReturned = false;
        auto destroy = [&] {
            client.reset();
            destroyed = true;
        };
        client->Query()->SubmitWithHandlers(
            "SELECT 'outer'", "outer",
            [&](QObject *) {
                QEventLoop loop;
                QTimer cap;
                QObject::connect(&cap, &QTimer::timeout, &loop, &QEventLoop::quit);
                cap.start(3000);
                QTimer poll;
                QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
                    if (destroyed) loop.quit();
                });
                poll.start(5);
                if (how == QLatin1String("timer") || inlinePath) QTimer::singleShot(30, destroy);
                loop.exec();
                outerReturned = true;
            },
            nullptr);
        if (!inlinePath)
            client->Query()->SubmitWithHandlers(
                how == QLatin1String("error") ? "SELEC 'inner'" : "SELECT 'inner'", "inner",
                [&](QObject *) {
                    if (how == QLatin1String("query")) destroy();
                },
                [&](QObject *, const QString &) {
                    if (how == QLatin1String("error")) destroy();
                });
        client->ExecuteTasks();
        QTRY_VERIFY(outerReturned);
        QVERIFY(destroyed);
        QTest::qWait(30); // whatever is left of the component goes now, and nothing arrives
    }

    // A status handler that destroys the component, or replaces itself, on Connecting and on
    // Reconnecting: nothing after the call may touch what it freed.
    void statusHandlerDestroysOrReplaces_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("destroy");
        QTest::newRow("destroyed on Connecting") << int(stConnecting) << true;
        QTest::newRow("replaced on Connecting") << int(stConnecting) << false;
        QTest::newRow("destroyed on Reconnecting") << int(stReconnecting) << true;
        QTest::newRow("replaced on Reconnecting") << int(stReconnecting) << false;
    }
    void statusHandlerDestroysOrReplaces()
    {
        REQUIRE_SERVER();
        QFETCH(int, status);
        QFETCH(bool, destroy);
        auto client = makeClient(true);
        QTimer timer;
        Recorder r;
        r.attach(client.get());
        if (status == stReconnecting) {
            client->setConnectedTimer(&timer);
            client->setConnectedTimeOutInterval(50);
            QVERIFY(connectAndWait(client.get(), r));
            QTRY_VERIFY(client->TimedOut());
        }
        QString seen;
        const QString captured(1000, QLatin1Char('x')); // lives in the closure
        client->setOnStatus(
            [&, captured](QObject *, TmySQLClientTask_StatusType s, const QString &, int) {
                if (s != status) return;
                if (destroy)
                    client.reset();
                else
                    client->setOnStatus(nullptr);
                seen = captured; // the closure must still be alive here
            });
        if (status == stReconnecting)
            submit(client.get(), "SELECT 1", "after the time-out");
        else
            client->Connect();
        QCOMPARE(seen, captured);
        QCOMPARE(!client, destroy);
        if (client) QTRY_VERIFY(client->Connected());
        QTest::qWait(30);
    }

    // An inner handler closes the component while an outer one waits in a nested loop: the
    // outer result is released with everything else.
    void outerResultReleasedWhenAnInnerHandlerCloses()
    {
        REQUIRE_SERVER();
        const int before = TmySQLClientTaskData::Live();
        {
            auto client = makeClient(true);
            Recorder r;
            r.attach(client.get());
            QVERIFY(connectAndWait(client.get(), r));
            bool closed = false, outerReturned = false;
            client->Query()->SubmitWithHandlers(
                "SELECT REPEAT('o', 100000)", "outer",
                [&](QObject *) {
                    QEventLoop loop;
                    QTimer poll;
                    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
                        if (closed) loop.quit();
                    });
                    poll.start(5);
                    QTimer::singleShot(3000, &loop, &QEventLoop::quit);
                    loop.exec();
                    outerReturned = true;
                },
                nullptr);
            client->Query()->SubmitWithHandlers(
                "SELECT 'inner'", "inner",
                [&](QObject *) {
                    client->Close();
                    closed = true;
                },
                nullptr);
            client->ExecuteTasks();
            QTRY_VERIFY(outerReturned);
            QVERIFY(closed);
            QVERIFY(!client->Connected());
        }
        QTest::qWait(30);
        QCOMPARE(TmySQLClientTaskData::Live(), before);
    }

    // A handler waiting in a loop for a later result gets it at once, not when a slow statement
    // after it is done or when its own frame returns.
    void resultsArriveInsideANestedLoop()
    {
        REQUIRE_SERVER();
        auto client = makeClient(true);
        Recorder r;
        r.attach(client.get());
        QVERIFY(connectAndWait(client.get(), r));
        bool inner = false;
        qint64 waited = -1;
        client->Query()->SubmitWithHandlers(
            "SELECT 1", "outer",
            [&](QObject *) {
                QElapsedTimer clock;
                clock.start();
                QEventLoop loop;
                QTimer poll;
                QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
                    if (inner) loop.quit();
                });
                poll.start(2);
                QTimer::singleShot(3000, &loop, &QEventLoop::quit);
                loop.exec();
                waited = inner ? clock.elapsed() : -1;
            },
            nullptr);
        client->Query()->SubmitWithHandlers(
            "SELECT 2", "inner", [&](QObject *) { inner = true; }, nullptr);
        client->Query()->Submit("SELECT SLEEP(2)", "slow");
        client->ExecuteTasks();
        QTRY_VERIFY_WITH_TIMEOUT(waited != -1 || r.queries.contains(QStringLiteral("slow")), 6000);
        QVERIFY2(waited >= 0 && waited < 1500, qPrintable(QString::number(waited)));
        QTRY_VERIFY_WITH_TIMEOUT(r.queries.contains(QStringLiteral("slow")), 6000);
    }

    // Switched to unthreaded while the worker runs a healthy statement: the inline run waits for
    // it instead of cutting it off, and the connection stays usable.
    void unthreadedRunWaitsForTheRunningStatement()
    {
        REQUIRE_SERVER();
        auto client = makeClient(true);
        Recorder r;
        r.attach(client.get());
        QVERIFY(connectAndWait(client.get(), r));
        submit(client.get(), "SELECT SLEEP(3.2)", "slow");
        QTRY_VERIFY(client->TaskHandler()->Thread()->Busy());
        client->setThreaded(false);
        submit(client.get(), "SELECT 7", "after");
        QCOMPARE(r.queryErrors, QStringList());
        QVERIFY(r.queries.contains(QStringLiteral("slow")));
        QVERIFY(r.queries.contains(QStringLiteral("after")));
        submit(client.get(), "SELECT 8", "still usable");
        QCOMPARE(r.queries.last(), QStringLiteral("still usable"));
        QVERIFY(client->Connected());
    }

    // A close that does not block cuts a stuck statement off after the same grace period as
    // one that does.
    void closeWithoutBlockingCutsOffAStuckStatement()
    {
        REQUIRE_SERVER();
        auto client = makeClient(true);
        client->setBlockOnClose(false);
        Recorder r;
        r.attach(client.get());
        QVERIFY(connectAndWait(client.get(), r));
        submit(client.get(), "SELECT SLEEP(30)", "stuck");
        QTRY_VERIFY(client->TaskHandler()->Thread()->Busy());
        QElapsedTimer clock;
        clock.start();
        client->Close();
        QTRY_VERIFY_WITH_TIMEOUT(r.closes == 1, 15000);
        QVERIFY2(clock.elapsed() < CloseGraceMilliseconds + 3000,
                 qPrintable(QString::number(clock.elapsed())));
        QVERIFY(!client->Connected());
        QVERIFY(connectAndWait(client.get(), r));
        submit(client.get(), "SELECT 1", "again");
        QTRY_VERIFY(r.queries.contains(QStringLiteral("again")));
    }

    // A close does not wait for a read: reads still waiting are dropped unrun and a read running
    // is cut off at once, unreported. Statements that may change data, queued before the close,
    // still run first, and a read running ahead of one is then left to finish.
    void closeCutsOffReadsButNotChanges()
    {
        REQUIRE_SERVER();
        Session setup;
        QCOMPARE(setup.RunEach({"DROP DATABASE IF EXISTS quorvane_close",
                                "CREATE DATABASE quorvane_close",
                                "CREATE TABLE quorvane_close.t (n INT)"}),
                 QString());
        auto read = [](TmySQLClient *client, const char *sql, const char *name) {
            client->Query()->SubmitStatement(TmySQLStatement(sql).OnlyReads(), name);
        };
        for (const bool block : {true, false}) {
            auto client = makeClient(true);
            client->setBlockOnClose(block);
            Recorder r;
            r.attach(client.get());
            QVERIFY(connectAndWait(client.get(), r));
            read(client.get(), "SELECT SLEEP(30)", "long read");
            read(client.get(), "SELECT 2", "waiting read");
            client->ExecuteTasks();
            QTRY_VERIFY(client->TaskHandler()->Thread()->Busy());
            QElapsedTimer clock;
            clock.start();
            client->Close();
            QTRY_VERIFY_WITH_TIMEOUT(r.closes == 1, 10000);
            // Not the grace period a statement that may change data gets.
            QVERIFY2(clock.elapsed() < CloseGraceMilliseconds,
                     qPrintable(QString::number(clock.elapsed())));
            QCOMPARE(r.queries, QStringList());
            QCOMPARE(r.queryErrors, QStringList());

            // A change behind a running read: both run, the read after it is dropped.
            QVERIFY(connectAndWait(client.get(), r));
            read(client.get(), "SELECT SLEEP(0.5)", "short read");
            submit(client.get(), "INSERT INTO quorvane_close.t VALUES (1)", "change");
            read(client.get(), "SELECT 3", "read after the change");
            QTRY_VERIFY(client->TaskHandler()->Thread()->Busy());
            client->Close();
            QTRY_VERIFY_WITH_TIMEOUT(r.closes == 2, 10000);
            QCOMPARE(r.queries, QStringList{QStringLiteral("short read")});
            // Reported as the specified empty-message failure of a statement without result.
            QCOMPARE(r.queryErrors, QStringList{QString()});
            QCOMPARE(setup.Column(std::string("SELECT COUNT(*) FROM quorvane_close.t")),
                     QStringList{QString::number(block ? 1 : 2)});
        }
        setup.Run(std::string("DROP DATABASE quorvane_close"));
    }

    void workerStartsSuspended()
    {
        for (int i = 0; i < 50; ++i) {
            TmySQLClient client;
            QVERIFY(client.TaskHandler()->Thread()->Suspended());
        }
    }

    // Random interleavings of statements, clears, closes and connects: every result that
    // arrives belongs to its statement, and the component can always connect and query again.
    void randomInterleavings()
    {
        REQUIRE_SERVER();
        const quint32 seed = qEnvironmentVariableIsSet("QUORVANE_SEED")
                                 ? quint32(qEnvironmentVariable("QUORVANE_SEED").toUInt())
                                 : QRandomGenerator::global()->generate();
        qInfo("seed %u (QUORVANE_SEED repeats it)", seed);
        QRandomGenerator random(seed);
        std::unique_ptr<TmySQLClient> client;
        Recorder r;
        int wrong = 0, delivered = 0, nested = 0, deletedInside = 0;
        // Handlers sometimes wait in an event loop of their own (a modal box), in which later
        // results arrive, and sometimes destroy the component; the result in hand stays right.
        int nestedLoops = 0, deleteInHandler = 0;
        std::function<void()> make;
        const auto onQuery = [&](QObject *sender) {
            auto *q = static_cast<TmySQLClientQuery *>(sender);
            ++delivered;
            const QByteArray expected = QByteArray::fromStdString(q->Task()->TaskName);
            auto check = [&] {
                if (q->RowCount() != 1 || QByteArray(q->Value(0, 0)) != expected) ++wrong;
            };
            check();
            if (deleteInHandler > 0) {
                --deleteInHandler;
                ++deletedInside;
                client.reset();
                return;
            }
            if (nestedLoops > 0 && nested < 3) {
                --nestedLoops;
                ++nested;
                const QPointer<TmySQLClientQuery> alive(q); // a close in the loop releases it
                QEventLoop loop;
                QTimer::singleShot(int(random.bounded(5)), &loop, &QEventLoop::quit);
                loop.exec();
                --nested;
                if (alive) check(); // still its own result
            }
        };
        make = [&] {
            client = makeClient(true);
            r.attach(client.get());
            client->OnQuery = onQuery;
        };
        make();
        QVERIFY(connectAndWait(client.get(), r));
        QElapsedTimer clock;
        clock.start();
        int number = 0;
        for (int step = 0; step < 4000 && clock.elapsed() < 20000; ++step) {
            if (!client) {
                make();
                QVERIFY(connectAndWait(client.get(), r));
            }
            const int pick = static_cast<int>(random.bounded(100));
            if (pick < 3) {
                ++nestedLoops;
                continue;
            }
            if (pick < 4) {
                ++deleteInHandler;
                continue;
            }
            if (pick < 55) {
                if (client->Query()) {
                    const std::string n = std::to_string(++number);
                    // Half of them reads, which a close drops or cuts off; some streamed, which
                    // a stop may end.
                    TmySQLStatement statement("SELECT " + n);
                    if (random.bounded(5) == 0) {
                        const QByteArray expected = QByteArray::fromStdString(n);
                        // Its one row, or none when a stop ended it first.
                        auto rowless = std::make_shared<bool>(false);
                        client->Query()->SubmitStream(
                            statement, n,
                            [&, expected, rowless](QObject *, TmySQLRowBatch &batch) {
                                ++delivered;
                                CellStore rows;
                                rows.assign(std::move(*batch.Block));
                                *rowless = rows.rowCount() == 1;
                                if (!batch.First || rows.rowCount() > 2 ||
                                    (rows.rowCount() == 2 && QByteArray::fromStdString(std::string(
                                                                 rows.get(0, 1))) != expected))
                                    ++wrong;
                            },
                            [&, rowless](QObject *sender) {
                                if (*rowless &&
                                    !static_cast<TmySQLClientQuery *>(sender)->StreamStopped())
                                    ++wrong;
                            },
                            nullptr);
                    } else {
                        if (random.bounded(2)) statement.OnlyReads();
                        client->Query()->SubmitStatement(statement, n);
                    }
                    if (random.bounded(2)) client->ExecuteTasks();
                }
            } else if (pick < 62) {
                client->TaskHandler()->ClearTasks();
            } else if (pick < 67) {
                client->setBlockOnClose(random.bounded(2));
                client->Close();
            } else if (pick < 77) {
                client->Connect();
            } else if (pick < 80) {
                client->StopReading();
            } else if (pick < 97) {
                QCoreApplication::processEvents();
            } else {
                QTest::qWait(static_cast<int>(random.bounded(5)));
            }
        }
        deleteInHandler = 0;
        nestedLoops = 0;
        if (!client) {
            make();
            QVERIFY(connectAndWait(client.get(), r));
        }
        client->setBlockOnClose(true);
        // Statements submitted last without ExecuteTasks, or behind a close that has not been
        // reported yet, wait for the next request: reconnect if need be, and run them.
        if (!client->Connected()) QVERIFY(connectAndWait(client.get(), r));
        client->ExecuteTasks();
        TmySQLClientThread *worker = client->TaskHandler()->Thread();
        QTRY_VERIFY2_WITH_TIMEOUT(worker->Idle(),
                                  qPrintable(QStringLiteral("%1 waiting, busy %2, connected %3")
                                                 .arg(worker->TaskCount())
                                                 .arg(worker->Busy())
                                                 .arg(client->Connected())),
                                  20000);
        QTest::qWait(20);
        if (!client->Connected()) QVERIFY(connectAndWait(client.get(), r));
        QVERIFY2(wrong == 0,
                 qPrintable(QStringLiteral("%1 wrong of %2").arg(wrong).arg(delivered)));
        const int before = delivered;
        submit(client.get(), "SELECT 424242", "424242");
        QTRY_COMPARE(delivered, before + 1);
        QCOMPARE(wrong, 0);
        qInfo("%d statements, %d results delivered, %d components destroyed in a handler", number,
              delivered, deletedInside);
    }

    // A program that ends while its component's statement still runs, the component destroyed
    // after the library's teardown (static storage duration): the worker is ended before the
    // library is unloaded, and the process exits cleanly.
    void exitWhileAStatementRuns()
    {
        REQUIRE_SERVER();
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        // The library's allocations for the statement cannot be freed once it is gone.
        env.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0"));
        child.setProcessEnvironment(env);
        child.setProcessChannelMode(QProcess::MergedChannels);
        child.start(QCoreApplication::applicationFilePath(), {QString::fromLatin1(ExitChild)});
        QVERIFY(child.waitForFinished(30000));
        const QByteArray output = child.readAll();
        QVERIFY2(output.contains("statement running"), output.constData());
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        QVERIFY2(child.exitCode() == 0, output.constData());
    }

    // Last: unloads the library for the rest of this process.
    void unloadClearsEveryEntryPoint()
    {
        REQUIRE_SERVER();
        auto client = makeClient(false);
        Recorder r;
        r.attach(client.get());
        QVERIFY(connectAndWait(client.get(), r));
        client->Close();
        QVERIFY(!NoEntryPointBound());
        // A record still holding a result set when the library goes, as in static teardown.
        auto held = std::make_unique<TmySQLClientTaskData>();
        held->ResultSet = reinterpret_cast<MYSQL_RES *>(&held); // never freed through the library
        UnloadMySQLLibrary();
        QVERIFY(!MySQLLibHandle);
        QVERIFY(NoEntryPointBound());
        held.reset();   // must not call into the unloaded library
        client.reset(); // nor may the component's teardown
        MySQLLibraryName = "libmariadb.so.3";
        QVERIFY(LoadMySQLLibrary()); // and the next connect can load it again
        QVERIFY(!NoEntryPointBound());
    }
};

namespace {
// The child of exitWhileAStatementRuns: connects, starts a statement, and ends as a program with
// a component of static storage duration does.
int exitWithAStatementRunning(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    auto *client = makeClient(true).release();
    Recorder r;
    r.attach(client);
    if (!connectAndWait(client, r)) return 2;
    submit(client, "SELECT SLEEP(1)", "running at exit");
    if (!QTest::qWaitFor([&] { return client->TaskHandler()->Thread()->Busy(); }, 5000)) return 3;
    std::printf("statement running\n");
    std::fflush(stdout);
    // The order of a program's static teardown when its component was made first: the
    // library's own teardown, then the component's destructor.
    UnloadMySQLLibrary();
    delete client;
    return 0;
}
} // namespace

int main(int argc, char *argv[])
{
    if (argc > 1 && std::strcmp(argv[1], ExitChild) == 0)
        return exitWithAStatementRunning(argc, argv);
    QCoreApplication app(argc, argv);
    TestClient test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "test_client.moc"
