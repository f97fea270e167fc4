#pragma once

// The guard in front of a connect: it opens the connection to the server itself, reads the
// server's greeting before the library sees it, and only then lets the library in, through a
// relay on a private local socket that passes every byte on unchanged until the library is
// connected, when the server's connection takes the local socket's place. A server that offers no
// TLS to a connection that requires it is refused here, before the library has sent anything:
// this library answers such a server in clear, user name and password scramble included.
// Qt-free and private to the client.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

// The server to reach, as the library's connect takes it.
struct TmySQLEndpoint
{
    std::string Host; // empty or "localhost": the local socket, as the library reads it
    std::uint32_t Port = 0;
    std::string UnixSocket; // the local socket's path; empty: the library's own default
    // The local socket leads to another machine (an SSH tunnel): the server is a remote one.
    bool Tunnel = false;
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

// What the relay's threads share with it: both ends, and a pipe that pauses them.
struct TmySQLRelayLink
{
    int Library = -1; // the relay's end of the library's local connection
    int Server = -1;
    int Pause[2] = {-1, -1};
    std::atomic<bool> Ended{false};
    ~TmySQLRelayLink();
};

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
    // Once the library is connected (TLS and authentication done, nothing in flight): puts the
    // server's connection in place of the library's local socket (dup2 onto the same number), so
    // the relay costs the connection nothing from then on. False when it cannot be done now;
    // the relay then goes on for the connection's life.
    bool HandOff(int librarySocket);
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
    std::shared_ptr<TmySQLRelayLink> FLink;
    std::thread FRelaying;
    int FTimeoutSeconds = 4;
};
