// The guard in front of a connect: the server's greeting read first, then a byte-for-byte relay
// between the library and the server.
#include "mySQLGuard.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <thread>

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

namespace {
// The library's own default when no socket path is given (Debian's place).
constexpr const char *DefaultUnixSocket = "/run/mysqld/mysqld.sock";
constexpr std::uint16_t ClientSsl = 0x0800;
// A greeting is small; a larger first packet is no greeting.
constexpr std::size_t MaxGreeting = 64 * 1024;

long long nowMs()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<long long>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

int remainingMs(long long deadline)
{
    const long long left = deadline - nowMs();
    return left > 0 ? static_cast<int>(left) : 0;
}

void closeFd(int &fd)
{
    if (fd >= 0) ::close(fd);
    fd = -1;
}

std::string socketPathOf(const TmySQLEndpoint &endpoint)
{
    if (!endpoint.UnixSocket.empty()) return endpoint.UnixSocket;
    if (const char *env = std::getenv("MYSQL_UNIX_PORT"); env && *env) return env;
    return DefaultUnixSocket;
}

bool fillAddress(sockaddr_un &address, const std::string &path)
{
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

// A non-blocking connect waited for until the deadline; the socket is blocking again after it.
bool connectBefore(int fd, const sockaddr *address, socklen_t length, long long deadline,
                   int *error)
{
    const int flags = fcntl(fd, F_GETFL);
    fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    int rc = ::connect(fd, address, length);
    if (rc != 0 && errno == EINPROGRESS) {
        pollfd p{fd, POLLOUT, 0};
        rc = poll(&p, 1, remainingMs(deadline));
        if (rc == 0) {
            *error = ETIMEDOUT;
            return false;
        }
        int soError = 0;
        socklen_t size = sizeof soError;
        if (rc < 0 || getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &size) != 0) soError = errno;
        if (soError != 0) {
            *error = soError;
            return false;
        }
    } else if (rc != 0) {
        *error = errno;
        return false;
    }
    fcntl(fd, F_SETFL, flags);
    return true;
}

int connectTcp(const TmySQLEndpoint &endpoint, long long deadline, std::string *error)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *found = nullptr;
    const std::string port = std::to_string(endpoint.Port ? endpoint.Port : 3306);
    const int lookup = getaddrinfo(endpoint.Host.c_str(), port.c_str(), &hints, &found);
    if (lookup != 0 || !found) {
        *error = "Unknown server host '" + endpoint.Host + "' (" + std::to_string(lookup) + ")";
        return -1;
    }
    int fd = -1;
    int lastError = 0;
    for (addrinfo *a = found; a && fd < 0; a = a->ai_next) {
        fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) {
            lastError = errno;
            continue;
        }
        if (!connectBefore(fd, a->ai_addr, a->ai_addrlen, deadline, &lastError)) closeFd(fd);
    }
    freeaddrinfo(found);
    if (fd < 0) {
        *error = "Can't connect to server on '" + endpoint.Host + "' (" +
                 std::to_string(lastError) + ")";
        return -1;
    }
    // As the library sets its own TCP connections.
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &one, sizeof one);
    return fd;
}

int connectLocal(const TmySQLEndpoint &endpoint, long long deadline, std::string *error)
{
    const std::string path = socketPathOf(endpoint);
    sockaddr_un address{};
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int failure = fd < 0 ? errno : ENAMETOOLONG;
    if (fd >= 0 && fillAddress(address, path) &&
        connectBefore(fd, reinterpret_cast<sockaddr *>(&address), sizeof address, deadline,
                      &failure))
        return fd;
    closeFd(fd);
    *error = "Can't connect to local server through socket '" + path + "' (" +
             std::to_string(failure) + ")";
    return -1;
}

// Reads exactly n bytes before the deadline.
bool readBefore(int fd, char *out, std::size_t n, long long deadline, int *error)
{
    std::size_t got = 0;
    while (got < n) {
        pollfd p{fd, POLLIN, 0};
        const int rc = poll(&p, 1, remainingMs(deadline));
        if (rc == 0) {
            *error = ETIMEDOUT;
            return false;
        }
        if (rc < 0 && errno == EINTR) continue;
        const ssize_t r = rc < 0 ? -1 : ::read(fd, out + got, n - got);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) {
            *error = r == 0 ? 0 : errno;
            return false;
        }
        got += static_cast<std::size_t>(r);
    }
    return true;
}

bool writeAll(int fd, const char *data, std::size_t n)
{
    while (n > 0) {
        const ssize_t w = ::send(fd, data, n, MSG_NOSIGNAL);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        data += w;
        n -= static_cast<std::size_t>(w);
    }
    return true;
}

enum class PumpEnd
{
    Paused, // asked to: both ends left as they are
    Ended   // a side closed or failed: both shut
};

void pump(const std::shared_ptr<TmySQLRelayLink> &link, bool toServer)
{
    const int from = toServer ? link->Library : link->Server;
    const int to = toServer ? link->Server : link->Library;
    std::unique_ptr<char[]> buffer(new char[256 * 1024]);
    for (;;) {
        pollfd p[2] = {{from, POLLIN, 0}, {link->Pause[0], POLLIN, 0}};
        const int rc = poll(p, 2, -1);
        if (rc < 0 && errno == EINTR) continue;
        if (rc > 0 && p[1].revents) return; // paused between two whole writes
        const ssize_t r = rc < 0 ? -1 : ::read(from, buffer.get(), 256 * 1024);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0 || !writeAll(to, buffer.get(), static_cast<std::size_t>(r))) break;
    }
    // Either side gone ends the connection for both, as a cut cable would.
    link->Ended = true;
    ::shutdown(link->Library, SHUT_RDWR);
    ::shutdown(link->Server, SHUT_RDWR);
}

void relayBothWays(const std::shared_ptr<TmySQLRelayLink> &link)
{
    std::thread toLibrary(pump, link, false);
    pump(link, true);
    toLibrary.join();
}

// Waits for the library's one connection from this process, then passes the greeting on and
// relays both ways until either side ends or the relay is paused.
void serve(const std::shared_ptr<TmySQLRelayLink> &link, int listener, const std::string &greeting,
           int timeoutMs)
{
    const long long deadline = nowMs() + timeoutMs;
    int library = -1;
    while (library < 0) {
        pollfd p{listener, POLLIN, 0};
        const int rc = poll(&p, 1, remainingMs(deadline));
        if (rc < 0 && errno == EINTR) continue;
        if (rc <= 0) break;
        const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        ucred peer{};
        socklen_t size = sizeof peer;
        if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 && peer.pid == getpid())
            library = fd;
        else
            ::close(fd);
    }
    ::close(listener);
    link->Library = library;
    if (library < 0 || !writeAll(library, greeting.data(), greeting.size())) {
        link->Ended = true;
        return;
    }
    relayBothWays(link);
}
} // namespace

bool IsLocalSocket(const TmySQLEndpoint &endpoint)
{
    return endpoint.Host.empty() || endpoint.Host == "localhost";
}

TmySQLGreeting ParseGreeting(const std::string &packet)
{
    TmySQLGreeting g;
    if (packet.size() < 5) return g;
    const auto *p = reinterpret_cast<const unsigned char *>(packet.data());
    const std::size_t length = p[0] | (p[1] << 8) | (p[2] << 16);
    if (packet.size() != length + 4) return g;
    const unsigned char *payload = p + 4;
    if (payload[0] == 0xFF) {
        g.ServerError = true;
        return g;
    }
    if (payload[0] != 10) return g;
    // protocol, version text and its NUL, thread id (4), scramble (8), filler (1), capabilities.
    const auto *versionEnd =
        static_cast<const unsigned char *>(std::memchr(payload + 1, 0, length - 1));
    if (!versionEnd) return g;
    const std::size_t at = static_cast<std::size_t>(versionEnd - payload) + 1 + 4 + 8 + 1;
    if (at + 2 > length) return g;
    const std::uint16_t lower = static_cast<std::uint16_t>(payload[at] | (payload[at + 1] << 8));
    g.OffersTls = (lower & ClientSsl) != 0;
    g.Parsed = true;
    // charset (1), status (2), upper capabilities (2), scramble length (1), reserved (10), the
    // scramble's second part (at least 13, NUL-ended), then the plugin's name, NUL-ended.
    std::size_t next = at + 2 + 1 + 2 + 2 + 1 + 10;
    if (next < length) {
        const auto *end =
            static_cast<const unsigned char *>(std::memchr(payload + next, 0, length - next));
        if (end) {
            next = static_cast<std::size_t>(end - payload) + 1;
            if (next < length) {
                const auto *nameEnd = static_cast<const unsigned char *>(
                    std::memchr(payload + next, 0, length - next));
                const std::size_t stop =
                    nameEnd ? static_cast<std::size_t>(nameEnd - payload) : length;
                g.AuthPlugin.assign(reinterpret_cast<const char *>(payload + next), stop - next);
            }
        }
    }
    return g;
}

std::unique_ptr<TmySQLRelay> TmySQLRelay::Open(const TmySQLEndpoint &endpoint, int timeoutSeconds,
                                               std::string *error)
{
    const long long deadline = nowMs() + static_cast<long long>(timeoutSeconds) * 1000;
    std::unique_ptr<TmySQLRelay> relay(new TmySQLRelay);
    relay->FTimeoutSeconds = timeoutSeconds;
    relay->FServer = IsLocalSocket(endpoint) ? connectLocal(endpoint, deadline, error)
                                             : connectTcp(endpoint, deadline, error);
    if (relay->FServer < 0) return nullptr;
    char header[4];
    int failure = 0;
    const char *where = IsLocalSocket(endpoint) ? "localhost" : endpoint.Host.c_str();
    auto lost = [&] {
        *error = std::string("Lost connection to server at '") + where +
                 "' while reading its greeting, system error: " + std::to_string(failure);
        return nullptr;
    };
    if (!readBefore(relay->FServer, header, sizeof header, deadline, &failure)) return lost();
    const auto *h = reinterpret_cast<const unsigned char *>(header);
    const std::size_t length = h[0] | (h[1] << 8) | (h[2] << 16);
    if (length == 0 || length > MaxGreeting) {
        *error = "The server did not greet as a MySQL or MariaDB server does.";
        return nullptr;
    }
    relay->FGreetingBytes.assign(header, sizeof header);
    relay->FGreetingBytes.resize(sizeof header + length);
    if (!readBefore(relay->FServer, relay->FGreetingBytes.data() + sizeof header, length, deadline,
                    &failure))
        return lost();
    relay->FGreeting = ParseGreeting(relay->FGreetingBytes);
    if (!relay->FGreeting.Parsed && !relay->FGreeting.ServerError) {
        *error = "The server did not greet as a MySQL or MariaDB server does.";
        return nullptr;
    }
    return relay;
}

bool TmySQLRelay::Start(std::string *error)
{
    const char *runtime = std::getenv("XDG_RUNTIME_DIR");
    std::string base = (runtime && *runtime && access(runtime, W_OK) == 0) ? runtime : "/tmp";
    std::string folder = base + "/quorvane-relay-XXXXXX";
    // mkdtemp makes it 0700: no other user can reach the socket inside.
    if (!mkdtemp(folder.data())) {
        *error = std::string("No private folder for the connection: ") + std::strerror(errno);
        return false;
    }
    FFolder = folder;
    FSocketPath = folder + "/s";
    sockaddr_un address{};
    int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener < 0 || !fillAddress(address, FSocketPath) ||
        ::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        ::listen(listener, 1) != 0) {
        *error = std::string("No private socket for the connection: ") + std::strerror(errno);
        closeFd(listener);
        return false;
    }
    FLink = std::make_shared<TmySQLRelayLink>();
    if (::pipe2(FLink->Pause, O_CLOEXEC) != 0) {
        *error = std::string("No private socket for the connection: ") + std::strerror(errno);
        closeFd(listener);
        return false;
    }
    FLink->Server = FServer;
    FServer = -1; // the link's now
    FRelaying =
        std::thread(serve, FLink, listener, std::move(FGreetingBytes), FTimeoutSeconds * 1000);
    return true;
}

int TmySQLRelay::TakeForTlsHandshake(std::string *error)
{
    if (!FGreeting.OffersTls) {
        *error = FGreeting.ServerError ? "The server refused the connection."
                                       : "The server offers no TLS.";
        return -1;
    }
    // The SSL request: capabilities (4.1, secure connection, plugin auth, TLS), the largest
    // packet, utf8mb4, and 23 bytes of nothing; the greeting's sequence number plus one.
    const std::uint32_t capabilities = 0x1 | 0x200 | ClientSsl | 0x2000 | 0x8000 | 0x80000;
    std::string packet = {32, 0, 0, 1};
    for (int i = 0; i < 4; ++i)
        packet += static_cast<char>((capabilities >> (8 * i)) & 0xFF);
    packet += std::string("\x00\x00\x00\x01", 4); // 16 MiB
    packet += static_cast<char>(45);
    packet += std::string(23, '\0');
    if (!writeAll(FServer, packet.data(), packet.size())) {
        *error = std::string("The server closed the connection: ") + std::strerror(errno);
        return -1;
    }
    const int fd = FServer;
    FServer = -1;
    return fd;
}

bool TmySQLRelay::HandOff(int librarySocket)
{
    if (!FLink || !FRelaying.joinable() || librarySocket < 0) return false;
    const char pause = 1;
    if (::write(FLink->Pause[1], &pause, 1) != 1) return false;
    FRelaying.join();
    // Nothing may be in between: bytes relayed that the library has not read yet, or bytes it
    // sent that were not relayed, would be lost with the local socket.
    int toLibrary = 0;
    int toServer = 0;
    const bool quiet = !FLink->Ended && ioctl(librarySocket, FIONREAD, &toLibrary) == 0 &&
                       ioctl(FLink->Library, FIONREAD, &toServer) == 0 && toLibrary == 0 &&
                       toServer == 0;
    if (quiet && ::dup2(FLink->Server, librarySocket) == librarySocket) return true;
    if (FLink->Ended) return false;
    // Not quiet: the relay goes on for the connection's life.
    char drained = 0;
    (void)!::read(FLink->Pause[0], &drained, 1);
    FRelaying = std::thread(relayBothWays, FLink);
    return false;
}

TmySQLRelayLink::~TmySQLRelayLink()
{
    closeFd(Library);
    closeFd(Server);
    closeFd(Pause[0]);
    closeFd(Pause[1]);
}

TmySQLRelay::~TmySQLRelay()
{
    closeFd(FServer);
    // Still relaying (a connect that failed ends it soon, a connection not handed off lives on):
    // the threads keep the link.
    if (FRelaying.joinable()) FRelaying.detach();
    if (!FSocketPath.empty()) ::unlink(FSocketPath.c_str());
    if (!FFolder.empty()) ::rmdir(FFolder.c_str());
}
