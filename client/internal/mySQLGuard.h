#pragma once

// The guard in front of a connect: it opens the connection to the server itself, reads the
// server's greeting before the library sees it, and only then lets the library in, through a
// relay on a private local socket that passes every byte on unchanged. A server that offers no
// TLS to a connection that requires it is refused here, before the library has sent anything:
// this library answers such a server in clear, user name and password scramble included.
// Qt-free and private to the client.

#include <cstdint>
#include <memory>
#include <string>

// The server to reach, as the library's connect takes it.
struct TmySQLEndpoint
{
    std::string Host; // empty or "localhost": the local socket, as the library reads it
    std::uint32_t Port = 0;
    std::string UnixSocket; // the local socket's path; empty: the library's own default
};

// True when the library would reach this server over a local socket.
bool IsLocalSocket(const TmySQLEndpoint &endpoint);

// What the greeting said, as far as the guard needs it.
struct TmySQLGreeting
{
    bool Parsed = false;      // a protocol-10 greeting, whole
    bool ServerError = false; // the server refused at once (an error packet: too many
                              // connections, a blocked host); passed on for the library to report
    bool OffersTls = false;   // CLIENT_SSL among the capabilities
    std::string AuthPlugin;   // the plugin it asks for first, when it names one
};
// Reads a greeting packet (header and payload); Parsed false when it is not one.
TmySQLGreeting ParseGreeting(const std::string &packet);

class TmySQLRelay
{
public:
    // Connects to the server within the time-out and reads its greeting. Null, with the reason in
    // error, when that fails.
    static std::unique_ptr<TmySQLRelay> Open(const TmySQLEndpoint &endpoint, int timeoutSeconds,
                                             std::string *error);
    ~TmySQLRelay(); // removes the private socket; a relay started goes on for the connection
    TmySQLRelay(const TmySQLRelay &) = delete;
    TmySQLRelay &operator=(const TmySQLRelay &) = delete;

    const TmySQLGreeting &Greeting() const { return FGreeting; }
    // Makes the private socket and starts passing bytes: the library connects to SocketPath()
    // next, and it alone can (the relay takes one connection, from this process). False, with
    // the reason, when no socket could be made.
    bool Start(std::string *error);
    const std::string &SocketPath() const { return FSocketPath; }
    // Instead of Start: asks the server for TLS (nothing else is sent) and hands the socket
    // over for a TLS handshake of the caller's. -1 with the reason when the server offers none.
    int TakeForTlsHandshake(std::string *error);

private:
    TmySQLRelay() = default;
    int FServer = -1;
    std::string FGreetingBytes;
    TmySQLGreeting FGreeting;
    std::string FFolder;
    std::string FSocketPath;
    int FTimeoutSeconds = 4;
};
