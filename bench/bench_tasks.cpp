// Per-task overhead of the client component: 20,000 "SELECT 1" through the component (threaded)
// against a plain loop of mysql_query and mysql_store_result on one connection to the same
// sandbox, in the same run.
#include "mySQLClient.h"
#include "mySQLLibrary.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <cstdio>

using namespace mysqlapi;

namespace {
constexpr int Statements = 20000;

struct Server
{
    std::string host = qEnvironmentVariable("QUORVANE_TEST_HOST").toStdString();
    std::string user = qEnvironmentVariable("QUORVANE_TEST_USER").toStdString();
    std::string password = qEnvironmentVariable("QUORVANE_TEST_PASSWORD").toStdString();
    int port = qEnvironmentVariableIntValue("QUORVANE_TEST_PORT");
};

double plainLoop(const Server &s)
{
    MYSQL *mysql = mysql_init(nullptr);
    if (!mysql_real_connect(mysql, s.host.c_str(), s.user.c_str(), s.password.c_str(), "",
                            unsigned(s.port), nullptr, 0)) {
        std::fprintf(stderr, "connect failed: %s\n", mysql_error(mysql));
        return -1;
    }
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < Statements; ++i) {
        if (mysql_query(mysql, "SELECT 1") != 0) return -1;
        MYSQL_RES *result = mysql_store_result(mysql);
        if (!result || !mysql_fetch_row(result)) return -1;
        mysql_free_result(result);
    }
    const double ms = timer.nsecsElapsed() / 1e6;
    mysql_close(mysql);
    return ms;
}

// queued: all statements submitted at once; chained: each submitted from the last one's result,
// so that every statement pays the full trip through the worker and back.
double component(const Server &s, bool chained)
{
    TmySQLClient client;
    client.setHostname(QString::fromStdString(s.host));
    client.setUsername(QString::fromStdString(s.user));
    client.setPassword(QString::fromStdString(s.password));
    client.setPort(s.port);
    client.setDatabase(QString());
    client.setThreaded(true);
    bool connected = false;
    int done = 0;
    QElapsedTimer timer;
    QEventLoop connecting;
    client.OnConnect = [&](QObject *) {
        connected = true;
        connecting.quit();
    };
    client.OnConnectError = [&](QObject *, const QString &msg) {
        std::fprintf(stderr, "connect failed: %s\n", qPrintable(msg));
        QCoreApplication::exit(1);
    };
    client.OnQuery = [&](QObject *sender) {
        auto *q = static_cast<TmySQLClientQuery *>(sender);
        if (q->RowCount() != 1 || !q->Value(0, 0)) QCoreApplication::exit(1);
        ++done;
        if (done == Statements) {
            QCoreApplication::exit(0);
        } else if (chained) {
            client.Query()->Submit("SELECT 1", "bench");
            client.ExecuteTasks();
        }
    };
    client.OnQueryError = [&](QObject *, const QString &) { QCoreApplication::exit(1); };
    client.Connect();
    if (!connected) connecting.exec();
    timer.start();
    if (chained) {
        client.Query()->Submit("SELECT 1", "bench");
    } else {
        for (int i = 0; i < Statements; ++i)
            client.Query()->Submit("SELECT 1", "bench");
    }
    client.ExecuteTasks();
    if (QCoreApplication::exec() != 0 || done != Statements) return -1;
    return timer.nsecsElapsed() / 1e6;
}
} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const Server s;
    if (s.host.empty() || s.port <= 0) {
        std::fprintf(stderr, "run through scripts/bench.sh (needs the sandbox)\n");
        return 1;
    }
    if (!LoadMySQLLibrary() && !MySQLLibHandle) {
        std::fprintf(stderr, "cannot load %s\n", MySQLLibraryName.c_str());
        return 1;
    }
    // Warm the server and the connection path once, then alternate to even out drift.
    plainLoop(s);
    double plain = 0, queued = 0, chained = 0;
    for (int round = 0; round < 3; ++round) {
        const double p = plainLoop(s);
        const double q = component(s, false);
        const double c = component(s, true);
        if (p < 0 || q < 0 || c < 0) return 1;
        plain += p;
        queued += q;
        chained += c;
    }
    plain /= 3;
    queued /= 3;
    chained /= 3;
    std::printf("%d x SELECT 1, mean of 3 rounds\n", Statements);
    std::printf("%-34s %10.1f ms  %6.1f us/statement\n", "plain mysql_query loop (baseline)", plain,
                plain * 1000 / Statements);
    std::printf("%-34s %10.1f ms  %6.1f us/statement  ratio %.3f\n", "component, all queued",
                queued, queued * 1000 / Statements, queued / plain);
    std::printf("%-34s %10.1f ms  %6.1f us/statement  ratio %.3f\n", "component, one at a time",
                chained, chained * 1000 / Statements, chained / plain);
    return 0;
}
