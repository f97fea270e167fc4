// Through an SSH tunnel, on the sandbox's own sshd: Quorvane's connect (the tunnel made with the
// system's ssh, ready when its socket accepts, then the component's connect through it) against
// the same ssh -L started by hand and the library connecting through its socket; and a
// 1,000,000-row stream through the tunnel against the library reading the same rows through the
// same kind of tunnel. Each measurement in a fresh process: one warm-up, then the median of five.
#include "bench_common.h"
#include "mySQLClient.h"
#include "ssh_tunnel.h"

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace bench;

namespace {
const char *const Select = "SELECT * FROM quorvane_bench.big";

sshtunnel::Settings settings()
{
    const Server s;
    sshtunnel::Settings t;
    t.SshHost = qEnvironmentVariable("QUORVANE_SSH_HOST");
    t.DbHost = s.host;
    t.DbPort = s.port;
    return t;
}

bool accepts(const QString &path)
{
    sockaddr_un address{};
    const QByteArray name = QFile::encodeName(path);
    if (name.size() >= qsizetype(sizeof(address.sun_path))) return false;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, name.constData(), size_t(name.size()));
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof(address)) == 0;
    ::close(fd);
    return ok;
}

// ssh -L by hand, as a user would type it, up when its socket accepts.
struct HandTunnel
{
    QTemporaryDir dir;
    QProcess ssh;
    QString socket;
    bool start()
    {
        socket = dir.path() + QStringLiteral("/db.sock");
        QString why;
        const auto args = sshtunnel::arguments(settings(), socket,
                                               qEnvironmentVariable("QUORVANE_SSH_CONFIG"), &why);
        if (!args) return false;
        ssh.setStandardInputFile(QProcess::nullDevice());
        ssh.start(QStringLiteral("ssh"), *args);
        return waitFor([&] { return accepts(socket) || ssh.state() == QProcess::NotRunning; },
                       20000) &&
               ssh.state() == QProcess::Running;
    }
    ~HandTunnel()
    {
        ssh.terminate();
        ssh.waitForFinished(2000);
    }
};

MYSQL *libraryConnect(const QString &socket)
{
    using namespace mysqlapi;
    const Server s;
    LoadMySQLLibrary();
    MYSQL *m = mysql_init(nullptr);
    mysql_options(m, MYSQL_SET_CHARSET_NAME, "utf8mb4");
    if (!mysql_real_connect(m, "localhost", qPrintable(s.user), qPrintable(s.password), "", 0,
                            QFile::encodeName(socket).constData(), 0)) {
        std::fprintf(stderr, "connect failed: %s\n", mysql_error(m));
        mysql_close(m);
        return nullptr;
    }
    return m;
}

// The tunnel and the component connected through it; ms: from the start to the connect's end.
struct Ours
{
    TSshTunnel tunnel;
    TmySQLClient client;
    bool connected = false;
    double connectMs = -1;
    bool start()
    {
        const Server s;
        client.setHostname(s.host);
        client.setUsername(s.user);
        client.setPassword(s.password);
        client.setPort(s.port);
        client.setTlsMode(TmySQLTlsMode::Off);
        client.setThreaded(true);
        client.OnConnect = [this](QObject *) { connected = true; };
        QElapsedTimer clock;
        clock.start();
        bool failed = false;
        QObject::connect(&tunnel, &TSshTunnel::failed, [&](const QString &m) {
            std::fprintf(stderr, "%s\n", qPrintable(m));
            failed = true;
        });
        QObject::connect(&tunnel, &TSshTunnel::ready, [this] {
            client.setTunnelSocket(tunnel.socketPath());
            client.Connect();
        });
        tunnel.start(settings(), nullptr);
        if (!waitFor([&] { return connected || failed; }, 30000) || failed) return false;
        connectMs = clock.nsecsElapsed() / 1e6;
        return true;
    }
};

Result connectOurs()
{
    Result r;
    Ours ours;
    if (ours.start()) r.ms = ours.connectMs;
    return r;
}

Result connectByHand()
{
    Result r;
    QElapsedTimer clock;
    clock.start();
    HandTunnel hand;
    if (!hand.start()) return r;
    MYSQL *m = libraryConnect(hand.socket);
    if (!m) return r;
    r.ms = clock.nsecsElapsed() / 1e6;
    mysqlapi::mysql_close(m);
    return r;
}

Result streamOurs()
{
    Result r;
    Ours ours;
    if (!ours.start()) return r;
    std::uint64_t rows = 0;
    bool done = false;
    QElapsedTimer clock;
    clock.start();
    ours.client.Query()->SubmitStream(
        TmySQLStatement(Select), "bench", [](QObject *, TmySQLRowBatch &) {},
        [&](QObject *sender) {
            rows = static_cast<TmySQLClientQuery *>(sender)->StreamedRows();
            done = true;
        },
        [&](QObject *, const QString &m) {
            std::fprintf(stderr, "%s\n", qPrintable(m));
            done = true;
        });
    ours.client.ExecuteTasks();
    if (!waitFor([&] { return done; })) return r;
    r.ms = clock.nsecsElapsed() / 1e6;
    if (rows != 1000000) r.ms = -1;
    return r;
}

Result streamByHand()
{
    using namespace mysqlapi;
    Result r;
    HandTunnel hand;
    if (!hand.start()) return r;
    MYSQL *m = libraryConnect(hand.socket);
    if (!m) return r;
    QElapsedTimer clock;
    clock.start();
    std::uint64_t rows = 0;
    if (mysql_query(m, Select) == 0) {
        MYSQL_RES *result = mysql_use_result(m);
        while (result && mysql_fetch_row(result))
            ++rows;
        if (result) mysql_free_result(result);
    }
    r.ms = clock.nsecsElapsed() / 1e6;
    if (rows != 1000000) r.ms = -1;
    mysql_close(m);
    return r;
}
} // namespace

int main(int argc, char *argv[])
{
    const QString mode = argc > 1 ? QString::fromLatin1(argv[1]) : QStringLiteral("all");
    if (Server().host.isEmpty() || qEnvironmentVariableIsEmpty("QUORVANE_SSH_CONFIG")) {
        std::fprintf(stderr, "run through scripts/bench.sh (needs the sandbox with its sshd)\n");
        return 1;
    }
    QApplication app(argc, argv);
    if (mode == QLatin1String("connect")) return report(connectOurs()), 0;
    if (mode == QLatin1String("connecthand")) return report(connectByHand()), 0;
    if (mode == QLatin1String("stream")) return report(streamOurs()), 0;
    if (mode == QLatin1String("streamhand")) return report(streamByHand()), 0;
    if (setupBigTable() != 0) return 1;
    // The sandbox's host key, known: no prompt in either.
    QFile known(qEnvironmentVariable("QUORVANE_SSH_KNOWN_HOSTS"));
    if (known.open(QIODevice::WriteOnly | QIODevice::Truncate))
        known.write("[127.0.0.1]:" + qgetenv("QUORVANE_SSH_PORT") + " " +
                    qgetenv("QUORVANE_SSH_HOST_KEY") + "\n");
    known.close();
    const int runs = qEnvironmentVariableIntValue("QUORVANE_BENCH_RUNS") > 0
                         ? qEnvironmentVariableIntValue("QUORVANE_BENCH_RUNS")
                         : 5;
    const Runs connects({"connect", "connecthand"}, 0, runs);
    const double ours = connects.ms("connect", &Result::ms),
                 hand = connects.ms("connecthand", &Result::ms);
    std::printf("Connect through an SSH tunnel, median of %d runs after one warm-up\n", runs);
    std::printf("  quorvane (tunnel, ready, connect)     %8.1f ms\n", ours);
    std::printf("  ssh -L by hand, then the library      %8.1f ms\n", hand);
    std::printf("  ratio                                 %8.2f    (target <= 1.2)\n",
                hand > 0 ? ours / hand : -1);
    const Runs streams({"stream", "streamhand"}, 1000000, runs);
    const double ours2 = streams.ms("stream", &Result::ms),
                 hand2 = streams.ms("streamhand", &Result::ms);
    std::printf("A 1,000,000-row stream through the tunnel, median of %d runs\n", runs);
    std::printf("  quorvane                              %8.1f ms\n", ours2);
    std::printf("  the library through ssh -L            %8.1f ms\n", hand2);
    std::printf("  ratio                                 %8.2f    (target <= 1.1)\n",
                hand2 > 0 ? ours2 / hand2 : -1);
    return 0;
}
