#include "mySQLClient.h"
#include "mySQLGuard.h"
#include "mySQLQueue.h"

#include <QFile>

using namespace mysqlapi;

const char *const TCustom_mySQLClient::DllNotFound =
    "DLL not found - please make sure libmysql.dll is available.";

namespace {
std::string utf8(const QString &text)
{
    return text.toStdString();
}
} // namespace

struct TCustom_mySQLClient::StopLink
{
    std::mutex Lock;
    TmySQLClientThread *Queue = nullptr;
};

// How long the fallback's reconnect keeps trying.
constexpr int ReconnectRetryMilliseconds = 3000;

int OpenForTlsHandshake(const QString &host, int port, QString *error, const QString &socket)
{
    TmySQLEndpoint endpoint;
    endpoint.Host = socket.isEmpty() ? host.toStdString() : std::string("localhost");
    endpoint.Port = static_cast<std::uint32_t>(port);
    endpoint.UnixSocket = QFile::encodeName(socket).toStdString();
    endpoint.Tunnel = !socket.isEmpty();
    std::string reason;
    std::unique_ptr<TmySQLRelay> relay =
        TmySQLRelay::Open(endpoint, static_cast<int>(ConnectTimeoutSeconds), &reason);
    const int fd = relay ? relay->TakeForTlsHandshake(&reason) : -1;
    if (fd < 0 && error) *error = QString::fromStdString(reason);
    return fd;
}

TCustom_mySQLClient::TCustom_mySQLClient(QObject *owner)
    : QObject(owner), FMySQL(std::make_unique<TmySQLConnection>())
{
    FTaskHandler = std::make_unique<TmySQLClientTaskHandler>(false);
    FTaskHandler->setMySQL(FMySQL.get());
    FStopLink = std::make_shared<StopLink>();
    FStopLink->Queue = FTaskHandler->Thread();
    FTaskHandler->FOnTaskDone = [this](QObject *sender) { TaskFinished(sender); };
    FUtility = std::make_unique<TmySQLClientUtility>();
    FUtility->FTaskHandler = FTaskHandler.get();
}

TCustom_mySQLClient::~TCustom_mySQLClient()
{
    // A stop still asking the server goes on alone and no longer reaches the queue.
    {
        std::lock_guard<std::mutex> lock(FStopLink->Lock);
        FStopLink->Queue = nullptr;
    }
    CloseSilently();
    if (FTaskHandler->InUse()) {
        // Destroyed from inside one of our own events: the handler's frames are still on the
        // stack, so it is stopped and emptied now and frees itself once they have returned.
        FTaskHandler.release()->Orphan();
    } else {
        FTaskHandler.reset(); // stops the worker after the task it is running
    }
    // A connect that finished while we were going away leaves an open connection: close it.
    if (FMySQL->Handle && MySQLLibHandle && mysql_close) mysql_close(FMySQL->Handle);
    FMySQL->Handle = nullptr;
    FModify.reset();
    FQuery.reset();
    FUtility.reset();
}

void TCustom_mySQLClient::setThreaded(bool value)
{
    FThreaded = value;
    FTaskHandler->setThreaded(value);
}

void TCustom_mySQLClient::setOnStatus(TmySQLClientTask_OnStatus value)
{
    FOnStatus = value;
    FTaskHandler->FOnStatus = std::move(value);
}

void TCustom_mySQLClient::queueConnect(TmySQLClientTask_OnComplete onComplete)
{
    const std::string socket = QFile::encodeName(FTunnelSocket).toStdString();
    const std::string host = socket.empty() ? utf8(FHostname) : std::string("localhost");
    FUtility->UnixSocket = socket;
    FUtility->Tunnel = !socket.empty();
    FConnectedWith = std::make_unique<TmySQLConnectArgs>(
        TmySQLConnectArgs{host, utf8(FUsername), utf8(FPassword), static_cast<std::uint32_t>(FPort),
                          FUtility->Tls, socket, !socket.empty()});
    FUtility->Connect(host, utf8(FUsername), utf8(FPassword), utf8(FDatabase), FPort, FClientFlag,
                      "Connect to mySQL Server", std::move(onComplete), OnConnectError);
}

void TCustom_mySQLClient::Connect()
{
    // A connect already under way (waiting, running, or finished and not yet reported) is not
    // queued twice. Asked of the queue itself, so a connect dropped unrun locks nothing out.
    if (FConnected || FTaskHandler->Thread()->ConnectPending()) return;
    if (!MySQLLibHandle) LoadMySQLLibrary();
    if (!MySQLLibHandle) {
        const auto onError = OnConnectError;
        if (onError) onError(this, QString::fromLatin1(DllNotFound));
        return;
    }
    FTaskHandler->FOnStatus = FOnStatus;
    // A copy: the handler may replace itself, or destroy us, inside the call.
    if (const TmySQLClientTask_OnStatus status = FOnStatus) {
        QPointer<TCustom_mySQLClient> self(this);
        status(this, stConnecting, QStringLiteral("[Connect]"), 0);
        if (!self) return;
    }
    FClientFlag = ClientFlagOf(FCapabilities);
    FUtility->Tls = TmySQLTls{FTlsMode, QFile::encodeName(FTlsCaFile).toStdString(),
                              FTlsPeerFingerprint.toStdString()};
    FUtility->Events = static_cast<const TmySQLClientKindEvents &>(*this);
    queueConnect([this](QObject *sender) { ConnectComplete(sender); });
    ExecuteTasks();
}

void TCustom_mySQLClient::ConnectComplete(QObject *)
{
    FConnected = true;
    if (MySQLLibHandle) {
        FQuery = std::make_unique<TmySQLClientQuery>();
        FQuery->FTaskHandler = FTaskHandler.get();
        FQuery->FOnQuery = OnQuery;
        FQuery->FOnQueryError = OnQueryError;
        FModify = std::make_unique<TmySQLClientModify>();
        FModify->FTaskHandler = FTaskHandler.get();
        FModify->FOnModify = OnModify;
        FModify->FOnModifyError = OnModifyError;
    }
    const auto onConnect = OnConnect;
    if (onConnect) onConnect(this);
}

void TCustom_mySQLClient::ExecuteTasks()
{
    if (FConnected) StopConnectedTimer();
    if (FTimedOut) {
        if (const TmySQLClientTask_OnStatus status = FOnStatus) {
            QPointer<TCustom_mySQLClient> self(this);
            status(this, stReconnecting, QStringLiteral("[Reconnect]"), 0);
            if (!self) return;
        }
        queueConnect(nullptr);
        FTimedOut = false;
    }
    FTaskHandler->ProcessTasks();
}

void TCustom_mySQLClient::Close()
{
    if (!MySQLLibHandle || !FConnected) return;
    if (FTimedOut) {
        CloseComplete(this);
        return;
    }
    StopConnectedTimer();
    const bool wasThreaded = Threaded();
    if (FBlockOnClose) setThreaded(false);
    FTaskHandler->FOnStatus = nullptr;
    // Reads still waiting would only delay the close, and a read running now is cut off rather
    // than waited for; statements that may change data still run first.
    FTaskHandler->Thread()->DropReads();
    // The statement running now, cut off if the close still waits behind it after the grace
    // period: the same bound whether the close blocks or not.
    const std::uint64_t running = FTaskHandler->Thread()->RunningSerial();
    FUtility->Close(
        "[Session Closed]", [this](QObject *sender) { CloseComplete(sender); }, nullptr);
    QPointer<TCustom_mySQLClient> self(this);
    FTaskHandler->ProcessTasks(true);
    if (!self) return; // the owner destroyed us inside an event of the inline run
    if (!FBlockOnClose && running != 0) {
        QTimer::singleShot(CloseGraceMilliseconds, this,
                           [this, running] { FTaskHandler->Thread()->CutOff(running); });
    }
    if (FBlockOnClose) setThreaded(wasThreaded);
    FTimedOut = false;
    FConnected = false;
}

void TCustom_mySQLClient::CloseComplete(QObject *)
{
    FConnected = false;
    FTimedOut = false;
    StopConnectedTimer();
    QPointer<TCustom_mySQLClient> self(this);
    const auto onClose = OnClose;
    if (onClose) onClose(this);
    if (!self) return; // the owner destroyed us inside OnClose
    const auto onStatus = FOnStatus;
    if (onStatus) onStatus(this, stNotConnected, QStringLiteral("[Not Connected]"), 0);
    if (!self) return;
    FQuery.reset();
    FModify.reset();
}

void TCustom_mySQLClient::TaskFinished(QObject *)
{
    // The time-out measures idleness: it starts only when nothing waits and nothing runs.
    if (FConnectedTimer && !FTimedOut && FConnected && FTaskHandler->Thread()->Idle()) {
        StopConnectedTimer();
        StartConnectedTimer();
    }
}

void TCustom_mySQLClient::StartConnectedTimer()
{
    if (!FConnectedTimer || FConnectedTimer->isActive()) return;
    FConnectedTimer->setInterval(FConnectedTimeOutInterval);
    QObject::disconnect(FConnectedTimer, &QTimer::timeout, nullptr, nullptr);
    QObject::connect(FConnectedTimer, &QTimer::timeout, this, [this] { ConnectedTimeOut(); });
    FTimedOut = false;
    FConnectedTimer->start();
}

void TCustom_mySQLClient::StopConnectedTimer()
{
    if (FConnectedTimer && FConnectedTimer->isActive()) FConnectedTimer->stop();
}

void TCustom_mySQLClient::ConnectedTimeOut()
{
    FTimedOut = true;
    StopConnectedTimer();
    const bool wasThreaded = Threaded();
    if (FBlockOnClose) setThreaded(false);
    FUtility->Close("[Time Out: " + std::to_string(FConnectedTimeOutInterval) + "]", nullptr,
                    nullptr);
    QPointer<TCustom_mySQLClient> self(this);
    FTaskHandler->ProcessTasks(true);
    if (!self) return;
    if (FBlockOnClose) setThreaded(wasThreaded);
}

void TCustom_mySQLClient::CloseSilently()
{
    if (!FConnected) return;
    FBlockOnClose = true;
    OnClose = nullptr;
    OnConnectError = nullptr;
    setOnStatus(nullptr);
    FTaskHandler->ClearTasks();
    FTaskHandler->Thread()->DropReads();
    // Once the worker has finished its task (cut off if the server stopped answering), nothing
    // more gets posted: drop what was, so no report reaches the owner while it is going away.
    FTaskHandler->Thread()->WaitIdle();
    FTaskHandler->DropPostedMessages();
    Close();
}

bool TCustom_mySQLClient::StopReading()
{
    if (!FConnected || !FConnectedWith) return false;
    TmySQLClientThread *thread = FTaskHandler->Thread();
    bool waitingStopped = false;
    const std::uint64_t serial = thread->StopStream(&waitingStopped);
    if (serial == 0) return waitingStopped;
    const TmySQLConnectArgs server = *FConnectedWith;
    const std::uint64_t id = FUtility->ConnectionId();
    auto done = std::make_shared<std::atomic<bool>>(false);
    // Made here, on the window thread; queued only if the stop has to cut the connection. Its
    // end says why the connection was cut: the reason is written into the shared string before
    // the task is queued, and read on the window thread after the task has run (both ordered by
    // the queue's and the mailbox's locks). Shared pointers, as std::function needs copies.
    auto reason = std::make_shared<QString>();
    auto report = [this, reason](const QString &connectError) {
        QPointer<TCustom_mySQLClient> self(this);
        stopFellBack(*reason);
        if (self && !connectError.isEmpty()) reconnectFailed(connectError);
    };
    auto reconnect = std::make_shared<std::unique_ptr<TmySQLClientTaskData>>(FUtility->ConnectTask(
        server.Host, server.User, server.Password, utf8(FDatabase), static_cast<int>(server.Port),
        FClientFlag, "[Reconnect]", [report](QObject *) { report(QString()); },
        [report](QObject *, const QString &msg) { report(msg); }));
    // The server may still count the cut connection against a user's limit for a moment.
    (*reconnect)->RetryMilliseconds = ReconnectRetryMilliseconds;
    // The server goes on with a statement whose connection was cut until it next fails to write
    // to it: the new connection ends the old one for certain. Quietly: it may be gone already.
    auto endOld = std::make_shared<std::unique_ptr<TmySQLClientTaskData>>(
        std::make_unique<TmySQLClientTaskData>());
    (*endOld)->TaskKind = TmySQLTaskKind::Modify;
    (*endOld)->TaskName = "[End the cut connection]";
    (*endOld)->SQL = "KILL CONNECTION " + std::to_string(id);
    std::shared_ptr<StopLink> link = FStopLink;
    StopperStarted();
    std::thread([link, server, id, serial, reconnect, endOld, reason] {
        const std::string refused =
            id ? KillQueryCall(server, id) : std::string("no connection id");
        {
            std::lock_guard<std::mutex> lock(link->Lock);
            if (link->Queue && !refused.empty()) {
                // The server could not be asked: the stream ends with its connection cut, and
                // the connection is made again before anything queued behind it runs.
                *reason = QString::fromStdString(refused);
                link->Queue->CutOffAndReconnect(serial, std::move(*reconnect), std::move(*endOld));
            }
            if (link->Queue) link->Queue->StopDone();
        }
        reconnect->reset();
        endOld->reset();
        StopperEnded();
    }).detach();
    return true;
}

void TCustom_mySQLClient::reconnectFailed(const QString &message)
{
    // Not connected any more: every later request would meet a dead connection. Said through
    // the close and the connect error, as any lost connection is.
    QPointer<TCustom_mySQLClient> self(this);
    CloseComplete(this);
    if (!self) return;
    if (const TmySQLClientTask_OnError onError = OnConnectError) onError(this, message);
}

void TCustom_mySQLClient::stopFellBack(const QString &reason)
{
    if (const TmySQLClientTask_OnError report = OnQueryError)
        report(this, QStringLiteral("Stop: the server could not be asked to end the statement (") +
                         reason + QStringLiteral("); the connection was cut and is made again."));
}
