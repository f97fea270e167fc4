// What protection costs: the time from Connect to OnConnect through the component in each mode,
// against the library's own connect with the same options on the calling thread; and a
// 1,000,000-row stream through the component over TLS and in clear (through the guard's relay,
// and in clear without it), against the library reading the same rows with mysql_use_result over
// the same kind of direct connection. Needs the plain sandbox
// and the one that requires TLS (scripts/bench.sh starts both).
#include "bench_common.h"
#include "mySQLClient.h"

#include <QCoreApplication>

using namespace bench;
using namespace mysqlapi;

namespace {
struct Target
{
    QString host, user, password, ca;
    int port = 0;
    bool ok() const { return !host.isEmpty() && port > 0; }
};

Target tlsServer()
{
    return {qEnvironmentVariable("QUORVANE_TLS_HOST"), qEnvironmentVariable("QUORVANE_TLS_USER"),
            qEnvironmentVariable("QUORVANE_TLS_PASSWORD"), qEnvironmentVariable("QUORVANE_TLS_CA"),
            qEnvironmentVariableIntValue("QUORVANE_TLS_PORT")};
}

Target plainServer()
{
    const Server s;
    return {s.host, s.user, s.password, QString(), s.port};
}

constexpr int Repeats = 21;
const char *const StreamSql = "SELECT seq, CONCAT('row ', seq), seq * 1.5, 'a constant text' "
                              "FROM mysql.seq_1_to_1000000";

// A connect made by the library alone, with the options the mode asks for.
MYSQL *libraryConnect(const Target &t, bool tls, bool verify)
{
    MYSQL *m = mysql_init(nullptr);
    mysql_options(m, MYSQL_SET_CHARSET_NAME, "utf8mb4");
    const my_bool yes = 1;
    if (tls) mysql_options(m, MYSQL_OPT_SSL_ENFORCE, &yes);
    if (verify) mysql_options(m, MYSQL_OPT_SSL_CA, qPrintable(t.ca));
    if (!mysql_real_connect(m, qPrintable(t.host), qPrintable(t.user), qPrintable(t.password), "",
                            unsigned(t.port), nullptr, 0)) {
        std::fprintf(stderr, "library connect failed: %s\n", mysql_error(m));
        mysql_close(m);
        return nullptr;
    }
    return m;
}

struct Component
{
    Component(const Target &t, TmySQLTlsMode mode)
    {
        client.setHostname(t.host);
        client.setUsername(t.user);
        client.setPassword(t.password);
        client.setPort(t.port);
        client.setTlsMode(mode);
        client.setTlsCaFile(t.ca);
        client.setThreaded(true);
        // Ends the wait the moment the event comes, not at a polling step.
        client.OnConnect = [this](QObject *) {
            connected = true;
            loop.quit();
        };
        client.OnConnectError = [this](QObject *, const QString &msg) {
            error = msg;
            loop.quit();
        };
    }
    bool connect()
    {
        client.Connect();
        if (!connected && error.isEmpty()) loop.exec();
        if (!error.isEmpty()) std::fprintf(stderr, "connect failed: %s\n", qPrintable(error));
        return connected;
    }
    QEventLoop loop;
    TmySQLClient client;
    bool connected = false;
    QString error;
};

void connects(const char *label, const Target &t, TmySQLTlsMode mode, bool tls, bool verify)
{
    std::vector<double> ours, library;
    double stall = 0;
    for (int i = 0; i < Repeats; ++i) {
        Heartbeat beat;
        QElapsedTimer clock;
        beat.start();
        clock.start();
        {
            Component c(t, mode);
            if (!c.connect()) return;
            ours.push_back(clock.nsecsElapsed() / 1e6);
        }
        stall = std::max(stall, beat.stop());
        clock.restart();
        MYSQL *m = libraryConnect(t, tls, verify);
        if (!m) return;
        library.push_back(clock.nsecsElapsed() / 1e6);
        mysql_close(m);
    }
    const double a = median(ours), b = median(library);
    std::printf("connect, %-28s Quorvane %7.2f ms   library %7.2f ms   ratio %.2f   longest "
                "window stall %.1f ms\n",
                label, a, b, a / b, stall);
}

double componentStream(const Target &t, TmySQLTlsMode mode, std::uint64_t &rows)
{
    Component c(t, mode);
    if (!c.connect()) return -1;
    bool ended = false;
    rows = 0;
    QElapsedTimer clock;
    clock.start();
    c.client.Query()->SubmitStream(
        TmySQLStatement(StreamSql), "stream", [](QObject *, TmySQLRowBatch &) {},
        [&](QObject *sender) {
            rows = static_cast<TmySQLClientQuery *>(sender)->StreamedRows();
            ended = true;
        },
        [&](QObject *, const QString &msg) {
            std::fprintf(stderr, "stream failed: %s\n", qPrintable(msg));
            ended = true;
        });
    c.client.ExecuteTasks();
    waitFor([&] { return ended; });
    return clock.nsecsElapsed() / 1e6;
}

double libraryStream(const Target &t, bool tls, std::uint64_t &rows)
{
    MYSQL *m = libraryConnect(t, tls, false);
    if (!m) return -1;
    QElapsedTimer clock;
    clock.start();
    rows = 0;
    std::size_t bytes = 0;
    if (mysql_real_query(m, StreamSql, qstrlen(StreamSql)) == 0) {
        if (MYSQL_RES *r = mysql_use_result(m)) {
            const unsigned int fields = mysql_num_fields(r);
            while (MYSQL_ROW row = mysql_fetch_row(r)) {
                const unsigned long *lengths = mysql_fetch_lengths(r);
                for (unsigned int f = 0; f < fields; ++f)
                    bytes += row[f] ? lengths[f] : 0;
                ++rows;
            }
            mysql_free_result(r);
        }
    }
    const double ms = clock.nsecsElapsed() / 1e6;
    mysql_close(m);
    return bytes ? ms : -1;
}

void streams(const char *label, const Target &t, TmySQLTlsMode mode, bool tls)
{
    std::vector<double> ours, library;
    std::uint64_t a = 0, b = 0;
    for (int i = 0; i < 5; ++i) {
        ours.push_back(componentStream(t, mode, a));
        library.push_back(libraryStream(t, tls, b));
    }
    const double x = median(ours), y = median(library);
    std::printf("stream 1,000,000 rows, %-30s Quorvane %7.1f ms (%llu rows)   library %7.1f ms "
                "(%llu rows)   ratio %.2f\n",
                label, x, static_cast<unsigned long long>(a), y, static_cast<unsigned long long>(b),
                x / y);
}
} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const Target tls = tlsServer();
    const Target plain = plainServer();
    if (!tls.ok() || !plain.ok()) {
        std::fprintf(stderr, "bench_tls needs both sandboxes (scripts/bench.sh)\n");
        return 1;
    }
    LoadMySQLLibrary();
    if (!MySQLLibHandle) return 1;
    using M = TmySQLTlsMode;
    std::printf("median of %d, each against the library with the same options\n", Repeats);
    connects("TLS server, Preferred", tls, M::Preferred, true, false);
    connects("TLS server, Verify CA", tls, M::VerifyCA, true, true);
    connects("plain server, Preferred", plain, M::Preferred, true, false);
    connects("plain server, Off", plain, M::Off, false, false);
    std::printf("median of 5\n");
    // Required and Preferred go through the guard's relay; Off connects the library directly.
    streams("over TLS", tls, M::Required, true);
    streams("in clear, relayed (Preferred)", plain, M::Preferred, false);
    streams("in clear, direct (Off)", plain, M::Off, false);
    return 0;
}
