#pragma once

// What the tests that need the MariaDB sandbox share: its connection values, the rule that they
// skip on a developer's machine without it and fail in CI, and a plain session for setting up
// and checking the server's state beside the program under test.
#include "mySQLClient.h"
#include "mySQLQueue.h"

#include <QTest>

#include <initializer_list>

struct Server
{
    QString host = qEnvironmentVariable("QUORVANE_TEST_HOST");
    QString user = qEnvironmentVariable("QUORVANE_TEST_USER");
    QString password = qEnvironmentVariable("QUORVANE_TEST_PASSWORD");
    int port = qEnvironmentVariableIntValue("QUORVANE_TEST_PORT");
    bool ok() const { return !host.isEmpty() && port > 0; }
};

#define REQUIRE_SERVER()                                                                           \
    do {                                                                                           \
        if (!Server().ok()) {                                                                      \
            if (qEnvironmentVariableIsSet("CI")) QFAIL("the MariaDB sandbox is not running");      \
            QSKIP("no MariaDB sandbox: run the tests through scripts/test.sh");                    \
        }                                                                                          \
    } while (0)

// A non-threaded client: every statement has run and reported when Run returns, and its result
// stays readable until the next one.
class Session
{
public:
    explicit Session(int port = Server().port)
    {
        Server s;
        client.setHostname(s.host);
        client.setUsername(s.user);
        client.setPassword(s.password);
        client.setPort(port);
        client.setThreaded(false);
        client.OnConnect = [this](QObject *) { connected = true; };
        client.OnConnectError = [this](QObject *, const QString &msg) { error = msg; };
        client.OnQuery = [this](QObject *) { ok = true; };
        client.OnQueryError = [this](QObject *, const QString &msg) {
            ok = false;
            error = msg;
        };
        client.Connect();
    }
    // True when the statement gave a result set.
    bool Run(const TmySQLStatement &statement, bool pack = false)
    {
        if (!client.Query()) return false;
        client.Query()->Clear();
        ok = false;
        error.clear();
        client.Query()->SubmitStatement(statement, "test", pack);
        client.ExecuteTasks();
        return ok;
    }
    // Runs each statement in turn; the first failure as "statement: message", or empty.
    QString RunEach(std::initializer_list<const char *> statements)
    {
        for (const char *sql : statements) {
            Run(std::string(sql));
            if (!error.isEmpty()) return QString::fromUtf8(sql) + QStringLiteral(": ") + error;
        }
        return {};
    }
    // The first column of every row of a query, as text.
    QStringList Column(const TmySQLStatement &statement)
    {
        QStringList values;
        if (!Run(statement)) return values;
        for (int r = 0; r < q()->RowCount(); ++r)
            values << QString::fromUtf8(q()->ValueBytes(r, 0));
        return values;
    }
    TmySQLClientQuery *q() { return client.Query(); }

    TmySQLClient client;
    bool connected = false, ok = false;
    QString error;
};
