#include "mySQLClient.h"

using namespace mysqlapi;

const char *const TCustom_mySQLClient::DllNotFound =
    "DLL not found - please make sure libmysql.dll is available.";

namespace {
std::string utf8(const QString &text)
{
    return text.toStdString();
}
} // namespace

TCustom_mySQLClient::TCustom_mySQLClient(QObject *owner) : QObject(owner)
{
    FTaskHandler = std::make_unique<TmySQLClientTaskHandler>(false);
    FTaskHandler->setMySQL(&FMySQL);
    FTaskHandler->Thread()->FOnTaskDone = [this](QObject *sender) { TaskFinished(sender); };
    FUtility = std::make_unique<TmySQLClientUtility>();
    FUtility->FTaskHandler = FTaskHandler.get();
}

TCustom_mySQLClient::~TCustom_mySQLClient()
{
    CloseSilently();
    FTaskHandler.reset(); // stops the worker after the task it is running
    // A connect that finished while we were going away leaves an open connection: close it.
    if (FMySQL.Handle && MySQLLibHandle && mysql_close) mysql_close(FMySQL.Handle);
    FMySQL.Handle = nullptr;
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
    FTaskHandler->Thread()->FOnStatus = std::move(value);
}

void TCustom_mySQLClient::queueConnect(TmySQLClientTask_OnComplete onComplete)
{
    FConnecting = true;
    const TmySQLClientTask_OnError onError = OnConnectError;
    FUtility->Connect(
        utf8(FHostname), utf8(FUsername), utf8(FPassword), utf8(FDatabase), FPort, FClientFlag,
        "Connect to mySQL Server",
        [this, onComplete](QObject *sender) {
            FConnecting = false;
            if (onComplete) onComplete(sender);
        },
        [this, onError](QObject *sender, const QString &msg) {
            FConnecting = false;
            if (onError) onError(sender, msg);
        });
}

void TCustom_mySQLClient::Connect()
{
    // A connect already under way is not queued twice.
    if (FConnected || FConnecting) return;
    if (!MySQLLibHandle) LoadMySQLLibrary();
    if (!MySQLLibHandle) {
        const auto onError = OnConnectError;
        if (onError) onError(this, QString::fromLatin1(DllNotFound));
        return;
    }
    FTaskHandler->Thread()->FOnStatus = FOnStatus;
    if (FOnStatus) FOnStatus(this, stConnecting, QStringLiteral("[Connect]"), 0);
    FClientFlag = ClientFlagOf(FCapabilities);
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
        if (FOnStatus) FOnStatus(this, stReconnecting, QStringLiteral("[Reconnect]"), 0);
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
    FTaskHandler->Thread()->FOnStatus = nullptr;
    FUtility->Close(
        "[Session Closed]", [this](QObject *sender) { CloseComplete(sender); }, nullptr);
    FTaskHandler->ProcessTasks();
    if (FBlockOnClose) setThreaded(wasThreaded);
    FTimedOut = false;
    FConnected = false;
}

void TCustom_mySQLClient::CloseComplete(QObject *)
{
    FConnected = false;
    FTimedOut = false;
    StopConnectedTimer();
    const auto onClose = OnClose;
    if (onClose) onClose(this);
    if (FOnStatus) FOnStatus(this, stNotConnected, QStringLiteral("[Not Connected]"), 0);
    FQuery.reset();
    FModify.reset();
}

void TCustom_mySQLClient::TaskFinished(QObject *)
{
    if (FConnectedTimer && !FTimedOut && FConnected) {
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
    FTaskHandler->ProcessTasks();
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
    {
        // Once the worker has finished its task, nothing more gets posted: drop what was, so
        // that no report reaches the owner while it is going away.
        TmySQLClientThread::Lease idle(FTaskHandler->Thread());
    }
    FTaskHandler->DropPostedMessages();
    Close();
}
