#pragma once

// The client component: the one object through which a program talks to a MySQL server.

#include "mySQLCommon.h"

#include <QPointer>
#include <QTimer>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

struct TmySQLConnection;
struct TmySQLConnectArgs;

// For reading a server's certificate before it is trusted: a connection to the server (over the
// local socket for "localhost", as the library would), its greeting read and TLS asked for, so
// that the caller makes the TLS handshake on the socket returned, which is then its own. Nothing
// of the user's is sent. Blocks for up to the connect time-out; -1 with the reason when the
// server cannot be reached or offers no TLS.
// socket: a tunnel's local end to go through instead of host and port.
int OpenForTlsHandshake(const QString &host, int port, QString *error,
                        const QString &socket = QString());

class TCustom_mySQLClient : public QObject, public TmySQLClientKindEvents
{
public:
    explicit TCustom_mySQLClient(QObject *owner = nullptr);
    ~TCustom_mySQLClient() override; // closes silently, stops the worker

    // Connection properties; writes take effect at the next connect (or reconnect).
    QString Hostname() const { return FHostname; }
    void setHostname(const QString &value) { FHostname = value; }
    QString Username() const { return FUsername; }
    void setUsername(const QString &value) { FUsername = value; }
    QString Password() const { return FPassword; }
    void setPassword(const QString &value) { FPassword = value; }
    QString Database() const { return FDatabase; }
    void setDatabase(const QString &value) { FDatabase = value; }
    std::int32_t Port() const { return FPort; }
    void setPort(std::int32_t value) { FPort = value; }
    TSetClientCapabilities Capabilities() const { return FCapabilities; }
    void setCapabilities(TSetClientCapabilities value) { FCapabilities = value; }
    bool Threaded() const { return FThreaded; }
    void setThreaded(bool value);
    std::int32_t ConnectedTimeOutInterval() const { return FConnectedTimeOutInterval; }
    void setConnectedTimeOutInterval(std::int32_t value) { FConnectedTimeOutInterval = value; }
    QTimer *ConnectedTimer() const { return FConnectedTimer; }
    void setConnectedTimer(QTimer *value) { FConnectedTimer = value; }
    bool BlockOnClose() const { return FBlockOnClose; }
    void setBlockOnClose(bool value) { FBlockOnClose = value; }
    // Protection in transit; takes effect at the next Connect (a reconnect keeps the last one's).
    TmySQLTlsMode TlsMode() const { return FTlsMode; }
    void setTlsMode(TmySQLTlsMode value) { FTlsMode = value; }
    QString TlsCaFile() const { return FTlsCaFile; }
    void setTlsCaFile(const QString &value) { FTlsCaFile = value; }
    // Verify fingerprint: the fingerprint of the one certificate trusted, hexadecimal without
    // colons, of the kind the library pins (SHA-1 in Connector/C 3.3).
    QString TlsPeerFingerprint() const { return FTlsPeerFingerprint; }
    void setTlsPeerFingerprint(const QString &value) { FTlsPeerFingerprint = value; }
    // A local socket that leads to the server (an SSH tunnel's end): every connection of the
    // component, Stop's included, goes through it, and the server is treated as a remote one.
    // Hostname stays what the user named. Empty: connect to Hostname and Port.
    QString TunnelSocket() const { return FTunnelSocket; }
    void setTunnelSocket(const QString &path) { FTunnelSocket = path; }

    // Events (empty = unassigned). The request objects take their copies at connect time.
    TmySQLClientTask_OnComplete OnConnect;
    TmySQLClientTask_OnError OnConnectError;
    TmySQLClientTask_OnComplete OnClose;
    TmySQLClientTask_OnComplete OnQuery;
    TmySQLClientTask_OnError OnQueryError;
    TmySQLClientTask_OnComplete OnModify;
    TmySQLClientTask_OnError OnModifyError;
    // Writing the status event also attaches it to the worker at once.
    const TmySQLClientTask_OnStatus &OnStatus() const { return FOnStatus; }
    void setOnStatus(TmySQLClientTask_OnStatus value);

    void Connect();
    void Close();
    void ExecuteTasks();
    // Stops the stream being read, if one is: the server is asked over a second, short-lived
    // connection to end the statement (KILL QUERY), the rows read so far stay delivered, and the
    // connection stays usable. When the server cannot be asked, the connection is cut and made
    // again, and OnQueryError says so. False when no stream was being read.
    bool StopReading();

    TmySQLClientQuery *Query() const { return FQuery.get(); }
    TmySQLClientModify *Modify() const { return FModify.get(); }
    TmySQLClientUtility *Utility() const { return FUtility.get(); }
    TmySQLClientTaskHandler *TaskHandler() const { return FTaskHandler.get(); }

    bool Connected() const { return FConnected; }
    bool TimedOut() const { return FTimedOut; }
    std::uint32_t ClientFlag() const { return FClientFlag; }

    static const char *const DllNotFound;

private:
    void ConnectComplete(QObject *Sender);
    void CloseComplete(QObject *Sender);
    void TaskFinished(QObject *Sender);
    void StartConnectedTimer();
    void StopConnectedTimer();
    void ConnectedTimeOut();
    void CloseSilently();
    void queueConnect(TmySQLClientTask_OnComplete onComplete);
    void stopFellBack(const QString &reason);

    bool FThreaded = false;
    std::unique_ptr<TmySQLConnection> FMySQL;
    std::uint32_t FClientFlag = 0;
    std::unique_ptr<TmySQLClientTaskHandler> FTaskHandler;
    std::unique_ptr<TmySQLClientQuery> FQuery;
    std::unique_ptr<TmySQLClientModify> FModify;
    std::unique_ptr<TmySQLClientUtility> FUtility;
    bool FConnected = false;
    std::int32_t FConnectedTimeOutInterval = 300000;
    QPointer<QTimer> FConnectedTimer;
    bool FTimedOut = false;
    bool FBlockOnClose = true;
    QString FHostname = QStringLiteral("localhost");
    QString FUsername;
    QString FPassword;
    QString FDatabase;
    std::int32_t FPort = 3306;
    TSetClientCapabilities FCapabilities =
        TClientCapabilities::CLIENT_LONG_PASSWORD | TClientCapabilities::CLIENT_CONNECT_WITH_DB;
    TmySQLTlsMode FTlsMode = TmySQLTlsMode::Preferred;
    QString FTlsCaFile;
    QString FTlsPeerFingerprint;
    QString FTunnelSocket;
    TmySQLClientTask_OnStatus FOnStatus;
    // Where the last connect went, for the second connection a stop makes.
    std::unique_ptr<TmySQLConnectArgs> FConnectedWith;
    // Stops under way on threads of their own (each makes a connection). They reach the queue
    // through this link, cut when we go: nobody waits for them on the window thread.
    struct StopLink;
    std::shared_ptr<StopLink> FStopLink;
    // The fallback's reconnect failed: the connection is lost, and said so.
    void reconnectFailed(const QString &message);
};

class TmySQLClient : public TCustom_mySQLClient
{
public:
    using TCustom_mySQLClient::TCustom_mySQLClient;
};
