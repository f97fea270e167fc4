#pragma once

// A hostile server on the path: it speaks the MySQL protocol's greeting without offering TLS,
// takes the client's answer, asks it to switch to the authentication plugin of the test's
// choosing and keeps every byte it is sent. It can also pass its first connections on to a real
// server untouched, so that a connection the program makes later (Stop's, a reconnect's) is the
// one that meets it.
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class HostileServer
{
public:
    // What one hostile connection was sent: the answer to the greeting, and what followed the
    // plugin switch.
    struct Visit
    {
        std::string Response;
        std::string AfterSwitch;
    };

    // switchTo: the plugin asked for after the client's first answer. forward: how many
    // connections go on to the real server at realPort before the hostile ones begin.
    explicit HostileServer(std::string switchTo, int forward = 0, int realPort = 0)
        : m_switchTo(std::move(switchTo)), m_forward(forward), m_realPort(realPort)
    {
        m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_listener, reinterpret_cast<sockaddr *>(&a), sizeof a);
        ::listen(m_listener, 8);
        socklen_t size = sizeof a;
        getsockname(m_listener, reinterpret_cast<sockaddr *>(&a), &size);
        m_port = ntohs(a.sin_port);
        m_thread = std::thread([this] { run(); });
    }
    ~HostileServer()
    {
        m_stop = true;
        m_thread.join();
        for (std::thread &t : m_helpers)
            t.join();
        ::close(m_listener);
    }
    int port() const { return m_port; }
    std::vector<Visit> visits()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_visits;
    }
    // Every byte any hostile connection was sent.
    std::string everything()
    {
        std::string all;
        for (const Visit &v : visits())
            all += v.Response + v.AfterSwitch;
        return all;
    }

private:
    static bool readable(int fd, int ms)
    {
        pollfd p{fd, POLLIN, 0};
        return poll(&p, 1, ms) > 0;
    }
    // One packet's bytes (header included), or what came before the peer stopped.
    static std::string readPacket(int fd, int ms)
    {
        std::string bytes;
        while (readable(fd, ms)) {
            char buffer[65536];
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n <= 0) break;
            bytes.append(buffer, static_cast<std::size_t>(n));
            if (bytes.size() >= 4) {
                const auto *h = reinterpret_cast<const unsigned char *>(bytes.data());
                const std::size_t length = h[0] | (h[1] << 8) | (h[2] << 16);
                if (bytes.size() >= length + 4) break;
            }
        }
        return bytes;
    }
    static void sendPacket(int fd, unsigned char sequence, const std::string &payload)
    {
        std::string p(4, '\0');
        p[0] = static_cast<char>(payload.size() & 0xFF);
        p[1] = static_cast<char>((payload.size() >> 8) & 0xFF);
        p[2] = static_cast<char>((payload.size() >> 16) & 0xFF);
        p[3] = static_cast<char>(sequence);
        p += payload;
        ::send(fd, p.data(), p.size(), MSG_NOSIGNAL);
    }
    static std::string greeting()
    {
        std::string g;
        g += '\x0a';
        g += std::string("5.5.5-10.11.0-MariaDB-hostile") + '\0';
        g += std::string("\x01\x00\x00\x00", 4); // thread id
        g += "abcdefgh";                         // scramble, first part
        g += '\0';                               // filler
        g += std::string("\x0e\xa2", 2);         // capabilities: 4.1, secure, no CLIENT_SSL
        g += '\x21';                             // character set
        g += std::string("\x02\x00", 2);         // status
        g += std::string("\x0b\x00", 2);         // upper capabilities: plugin auth, more
        g += '\x15';                             // scramble length
        g += std::string(10, '\0');              // reserved
        g += std::string("ijklmnopqrst") + '\0'; // scramble, second part
        g += std::string("mysql_native_password") + '\0';
        return g;
    }
    void hostile(int fd)
    {
        Visit visit;
        sendPacket(fd, 0, greeting());
        visit.Response = readPacket(fd, 3000);
        if (!visit.Response.empty()) {
            std::string data = m_switchTo == "dialog" ? std::string("\x04Password: ")
                                                      : std::string("01234567890123456789") + '\0';
            if (m_switchTo == "mysql_clear_password") data.clear();
            sendPacket(fd, 2, std::string("\xfe") + m_switchTo + '\0' + data);
            while (readable(fd, 1500)) {
                const std::string more = readPacket(fd, 1500);
                if (more.empty()) break;
                visit.AfterSwitch += more;
            }
        }
        ::close(fd);
        std::lock_guard<std::mutex> lock(m_mutex);
        m_visits.push_back(visit);
    }
    void forward(int fd)
    {
        const int real = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(static_cast<std::uint16_t>(m_realPort));
        if (::connect(real, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0) {
            pollfd p[2] = {{fd, POLLIN, 0}, {real, POLLIN, 0}};
            char buffer[65536];
            while (!m_stop && poll(p, 2, 100) >= 0) {
                bool ended = false;
                for (int i = 0; i < 2 && !ended; ++i) {
                    if (!(p[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
                    const ssize_t n = ::read(p[i].fd, buffer, sizeof buffer);
                    ended = n <= 0 || ::send(p[1 - i].fd, buffer, static_cast<std::size_t>(n),
                                             MSG_NOSIGNAL) != n;
                }
                if (ended) break;
            }
        }
        ::close(real);
        ::close(fd);
    }
    void run()
    {
        int accepted = 0;
        while (!m_stop) {
            if (!readable(m_listener, 50)) continue;
            const int fd = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) continue;
            if (accepted++ < m_forward)
                m_helpers.emplace_back([this, fd] { forward(fd); });
            else
                m_helpers.emplace_back([this, fd] { hostile(fd); });
        }
    }

    std::string m_switchTo;
    int m_forward = 0;
    int m_realPort = 0;
    int m_listener = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
    std::vector<std::thread> m_helpers;
    std::mutex m_mutex;
    std::vector<Visit> m_visits;
};
