// The task record, running one task on the connection, the queue with its worker thread, and the
// task handler that delivers finished tasks on the window thread.
#include "mySQLCommon.h"
#include "mySQLPacking.h"

#include <QCoreApplication>
#include <QPointer>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <sys/socket.h>

using namespace mysqlapi;

std::string CutTaskName(const std::string &name)
{
    if (name.size() <= 40) return name;
    std::size_t cut = 40;
    // Step back over UTF-8 continuation bytes so that no character is split.
    while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80)
        --cut;
    return name.substr(0, cut);
}

TmySQLClientTaskData::~TmySQLClientTaskData()
{
    --FLive;
    if (ResultSet && mysql_free_result) mysql_free_result(ResultSet);
}

MYSQL_ROW_OFFSET TmySQLClientTaskData::RowEntry(std::size_t row) const
{
    if (row >= RowCount) return nullptr;
    MYSQL_ROW_OFFSET entry = RowMarks[row / RowMarkStep];
    for (std::size_t i = row % RowMarkStep; i > 0 && entry; --i)
        entry = entry->next;
    return entry;
}

// ---------------------------------------------------------------------------------------------
// Running one task

namespace {
enum class Outcome
{
    Done,
    Failed,
    Unreported
};

std::string stringOf(const char *text)
{
    return text ? std::string(text) : std::string();
}

Outcome fail(TmySQLClientTaskData *task, MYSQL *connection)
{
    const char *message = (connection && mysql_error) ? mysql_error(connection) : nullptr;
    task->ErrorText = stringOf(message);
    task->ErrorNumber = (connection && mysql_errno) ? mysql_errno(connection) : 0;
    return Outcome::Failed;
}

Outcome missing(TmySQLClientTaskData *task, const char *entry)
{
    task->ErrorText = std::string("The client library has no ") + entry + " function.";
    return Outcome::Failed;
}

void addFirstColumns(TmySQLClientTaskData *task)
{
    const auto rows = static_cast<std::uint32_t>(mysql_num_rows(task->ResultSet));
    for (std::uint32_t i = 0; i < rows; ++i) {
        MYSQL_ROW row = mysql_fetch_row(task->ResultSet);
        if (!row) break;
        task->ResultList.append(TextOf(row[0]));
    }
}

// Further result sets of the statement (a CALL gives one more for its own status) would leave
// the connection out of step with every later request: read and free them.
void drainResults(MYSQL *mysql)
{
    if (!mysql_more_results || !mysql_next_result) return;
    while (mysql_more_results(mysql) && mysql_next_result(mysql) == 0) {
        MYSQL_RES *more = mysql_store_result ? mysql_store_result(mysql) : nullptr;
        if (more) mysql_free_result(more);
    }
}

std::string escapeFor(MYSQL *mysql, const std::string &value)
{
    std::string out(value.size() * 2 + 1, '\0');
    const unsigned long n = mysql_real_escape_string(mysql, out.data(), value.data(), value.size());
    out.resize(n == static_cast<unsigned long>(-1) ? 0 : n);
    return out;
}

Outcome runStatement(TmySQLClientTaskData *task, MYSQL *mysql)
{
    if (task->Statement && task->Statement->HasValues()) {
        if (!mysql_real_escape_string) return missing(task, "mysql_real_escape_string");
        task->SQL = task->Statement->Build(
            [mysql](const std::string &value) { return escapeFor(mysql, value); });
    }
    // Sent by length, so a statement holding a NUL byte reaches the server whole.
    if (mysql_real_query)
        task->ReturnCode = mysql_real_query(mysql, task->SQL.data(), task->SQL.size());
    else if (mysql_query)
        task->ReturnCode = mysql_query(mysql, task->SQL.c_str());
    else
        return missing(task, "mysql_real_query");
    // Any non-zero result is a failure, whatever its sign.
    if (task->ReturnCode != 0) return fail(task, mysql);
    if (task->TaskKind == TmySQLTaskKind::Modify) {
        if (mysql_affected_rows)
            task->AffectedRows = static_cast<std::int64_t>(mysql_affected_rows(mysql));
        drainResults(mysql);
        return Outcome::Done;
    }
    if (!mysql_store_result) return missing(task, "mysql_store_result");
    task->ResultSet = mysql_store_result(mysql);
    if (!task->ResultSet) {
        // No result set: say how many rows the statement changed, so that a caller can tell
        // "deleted one row" from "deleted none" (the report stays a failure).
        if ((!mysql_field_count || mysql_field_count(mysql) == 0) && mysql_affected_rows)
            task->AffectedRows = static_cast<std::int64_t>(mysql_affected_rows(mysql));
        const Outcome outcome = fail(task, mysql);
        drainResults(mysql);
        return outcome;
    }
    if (!mysql_row_tell || !mysql_row_seek || !mysql_fetch_lengths) {
        // Rows are found again by their place, and packed with their lengths.
        mysql_free_result(task->ResultSet);
        task->ResultSet = nullptr;
        return missing(task, "mysql_row_tell");
    }
    gatherResult(task);
    drainResults(mysql);
    return Outcome::Done;
}

Outcome runLibraryCalls(TmySQLClientTaskData *task, TmySQLConnection *connection)
{
    task->ResultSet = nullptr;
    task->ReturnCode = -1;
    using K = TmySQLTaskKind;
    const TmySQLTaskKind kind = task->TaskKind;
    if (static_cast<int>(kind) >= TaskKindCount) return Outcome::Unreported;
    if (!connection) {
        task->ErrorText = "Not connected to a server.";
        return Outcome::Failed;
    }
    if (IsConnect(kind)) {
        if (!mysql_init) return missing(task, "mysql_init");
        if (kind == K::Connect && !mysql_connect) return missing(task, "mysql_connect");
        if (kind == K::RealConnect && !mysql_real_connect)
            return missing(task, "mysql_real_connect");
        // The library allocates the structure; a connect starts from a fresh one each time.
        connection->Socket = -1;
        if (connection->Handle && mysql_close) mysql_close(connection->Handle);
        connection->Handle = mysql_init(nullptr);
        if (!connection->Handle) {
            task->ErrorText = "The client library could not allocate a connection.";
            return Outcome::Failed;
        }
        if (mysql_options) {
            mysql_options(connection->Handle, MYSQL_SET_CHARSET_NAME, "utf8mb4");
            mysql_options(connection->Handle, MYSQL_OPT_CONNECT_TIMEOUT, &ConnectTimeoutSeconds);
            mysql_options(connection->Handle, MYSQL_OPT_READ_TIMEOUT, &ReadTimeoutSeconds);
            mysql_options(connection->Handle, MYSQL_OPT_WRITE_TIMEOUT, &WriteTimeoutSeconds);
        }
        if (kind == K::Connect)
            task->ConnectResult = mysql_connect(connection->Handle, task->Host.c_str(),
                                                task->User.c_str(), task->Passwd.c_str());
        else
            task->ConnectResult = mysql_real_connect(
                connection->Handle, task->Host.c_str(), task->User.c_str(), task->Passwd.c_str(),
                task->Db.c_str(), task->Port, task->UnixSocket, task->ClientFlag);
        if (!task->ConnectResult) return fail(task, connection->Handle);
        connection->Socket = mysql_get_socket ? mysql_get_socket(connection->Handle) : -1;
        if (mysql_get_server_info)
            task->ServerInfo = stringOf(mysql_get_server_info(connection->Handle));
        if (mysql_get_host_info) task->HostInfo = stringOf(mysql_get_host_info(connection->Handle));
        if (mysql_stat) task->StatText = stringOf(mysql_stat(connection->Handle));
        if (mysql_thread_id) task->ConnectionId = mysql_thread_id(connection->Handle);
        return Outcome::Done;
    }
    if (kind == K::Close) {
        connection->Socket = -1;
        if (connection->Handle && mysql_close) mysql_close(connection->Handle);
        connection->Handle = nullptr;
        return Outcome::Done;
    }
    MYSQL *mysql = connection->Handle;
    if (!mysql) {
        task->ErrorText = "Not connected to a server.";
        return Outcome::Failed;
    }
    switch (kind) {
    case K::SelectDatabase:
        if (!mysql_select_db) return missing(task, "mysql_select_db");
        task->ReturnCode = mysql_select_db(mysql, task->Db.c_str());
        return task->ReturnCode == 0 ? Outcome::Done : fail(task, mysql);
    case K::CreateDatabase:
        if (!mysql_create_db) return missing(task, "mysql_create_db");
        task->ReturnCode = mysql_create_db(mysql, task->Db.c_str());
        return task->ReturnCode == 0 ? Outcome::Done : fail(task, mysql);
    case K::DropDatabase:
        if (!mysql_drop_db) return missing(task, "mysql_drop_db");
        task->ReturnCode = mysql_drop_db(mysql, task->Db.c_str());
        return task->ReturnCode == 0 ? Outcome::Done : fail(task, mysql);
    case K::Modify:
    case K::Query:
        return runStatement(task, mysql);
    case K::ListDatabases:
    case K::ListTables:
    case K::ListProcesses:
        if (kind == K::ListDatabases && !mysql_list_dbs) return missing(task, "mysql_list_dbs");
        if (kind == K::ListTables && !mysql_list_tables) return missing(task, "mysql_list_tables");
        if (kind == K::ListProcesses && !mysql_list_processes)
            return missing(task, "mysql_list_processes");
        task->ResultSet = kind == K::ListDatabases ? mysql_list_dbs(mysql, task->Wild)
                          : kind == K::ListTables  ? mysql_list_tables(mysql, task->Wild)
                                                   : mysql_list_processes(mysql);
        if (!task->ResultSet) return fail(task, mysql);
        addFirstColumns(task);
        return Outcome::Done;
    case K::ListFields: {
        if (!mysql_list_fields) return missing(task, "mysql_list_fields");
        task->ResultSet = mysql_list_fields(mysql, task->Table.c_str(), task->Wild);
        if (!task->ResultSet) return fail(task, mysql);
        const unsigned int fields = mysql_num_fields(task->ResultSet);
        for (unsigned int i = 0; i < fields; ++i) {
            MYSQL_FIELD *field = mysql_fetch_field(task->ResultSet);
            if (!field) break;
            task->ResultList.append(TextOf(field->table) + QLatin1Char('.') + TextOf(field->name));
        }
        return Outcome::Done;
    }
    case K::Ping:
        if (!mysql_ping) return missing(task, "mysql_ping");
        task->ReturnCode = mysql_ping(mysql);
        break;
    case K::Shutdown:
        if (!mysql_shutdown) return missing(task, "mysql_shutdown");
        task->ReturnCode = mysql_shutdown(mysql, 0);
        break;
    case K::Kill:
        if (!mysql_kill) return missing(task, "mysql_kill");
        task->ReturnCode = mysql_kill(mysql, task->ProcessId);
        break;
    case K::Options:
        if (!mysql_options) return missing(task, "mysql_options");
        task->ReturnCode = mysql_options(mysql, task->Option, task->OptionArg);
        break;
    case K::Refresh:
        if (!mysql_refresh) return missing(task, "mysql_refresh");
        task->ReturnCode = mysql_refresh(mysql, task->RefreshOptions);
        break;
    case K::Connect:
    case K::RealConnect:
    case K::Close:
        break; // handled above
    }
    return task->ReturnCode == 0 ? Outcome::Done : fail(task, mysql);
}

Outcome runGuarded(TmySQLClientTaskData *task, TmySQLConnection *connection)
{
    try {
        return runLibraryCalls(task, connection);
    } catch (...) {
        task->ResultSet = nullptr;
        task->ReturnCode = -1;
        task->ErrorText = "The client library raised an exception.";
        return Outcome::Failed;
    }
}

bool isConnect(const TmySQLClientTaskData *task)
{
    return IsConnect(task->TaskKind);
}
} // namespace

// ---------------------------------------------------------------------------------------------
// Queue and worker

namespace {
// Every worker alive, so that the library is never unloaded under one: a component of static
// storage duration may be destroyed after the library's own teardown. Never freed, so it outlives
// every static destructor.
struct Workers
{
    std::mutex lock;
    std::vector<TmySQLClientThread *> list;
};
Workers &workers()
{
    static auto *all = new Workers;
    return *all;
}
} // namespace

void StopAllWorkers()
{
    std::vector<TmySQLClientThread *> list;
    {
        std::lock_guard<std::mutex> lock(workers().lock);
        list = workers().list;
    }
    for (TmySQLClientThread *worker : list)
        worker->Stop();
}

TmySQLClientThread::TmySQLClientThread(TmySQLClientTaskHandler *handler) : FHandler(handler)
{
    {
        std::lock_guard<std::mutex> lock(workers().lock);
        workers().list.push_back(this);
    }
    FThread = std::thread([this] { Execute(); });
}

TmySQLClientThread::~TmySQLClientThread()
{
    {
        std::lock_guard<std::mutex> lock(workers().lock);
        auto &list = workers().list;
        list.erase(std::remove(list.begin(), list.end(), this), list.end());
    }
    Stop(); // a task being run is finished first; waiting tasks and reports go with the queue
    for (QEvent *&spare : FSpareEvents) {
        delete spare;
        spare = nullptr;
    }
}

void TmySQLClientThread::Stop()
{
    {
        std::unique_lock<std::mutex> lock(FLock);
        FTerminated = true;
        FWake.notify_all();
        if (FBusy && runningStatementLocked()) {
            // A statement still on the server: give it the grace period, then cut it off.
            if (!FIdle.wait_for(lock, std::chrono::milliseconds(CloseGraceMilliseconds),
                                [this] { return !FBusy; }))
                interruptLocked();
        }
    }
    if (FThread.joinable()) FThread.join();
}

void TmySQLClientThread::WaitIdle()
{
    std::unique_lock<std::mutex> lock(FLock);
    waitForConnection(lock);
}

void TmySQLClientThread::interruptLocked()
{
    // Only under a statement: a connect or a close task may be opening or closing this socket,
    // and a statement task never does, so the number cannot belong to another file by now.
    if (!FBusy || !runningStatementLocked() || !FMySQL) return;
    const int socket = FMySQL->Socket.load();
    if (socket >= 0) ::shutdown(socket, SHUT_RDWR);
}

void TmySQLClientThread::waitForConnection(std::unique_lock<std::mutex> &lock, bool cutOff)
{
    if (cutOff && !FIdle.wait_for(lock, std::chrono::milliseconds(CloseGraceMilliseconds),
                                  [this] { return !FBusy; }))
        interruptLocked();
    FIdle.wait(lock, [this] { return !FBusy; });
}

std::uint64_t TmySQLClientThread::RunningSerial() const
{
    std::lock_guard<std::mutex> lock(FLock);
    return FBusy ? FRunningSerial : 0;
}

void TmySQLClientThread::CutOff(std::uint64_t serial)
{
    std::lock_guard<std::mutex> lock(FLock);
    if (serial != 0 && FBusy && FRunningSerial == serial) interruptLocked();
}

std::unique_ptr<TmySQLClientTaskData> TmySQLClientThread::newTask(
    TmySQLTaskKind Kind, const std::string &TaskName, TmySQLClientTaskCompleteEvent OnTaskComplete,
    TmySQLClientTaskErrorEvent OnTaskError, TmySQLClientTask_OnComplete OnComplete,
    TmySQLClientTask_OnError OnError)
{
    auto task = std::make_unique<TmySQLClientTaskData>();
    task->TaskKind = Kind;
    task->TaskName = CutTaskName(TaskName);
    task->OnTaskComplete = std::move(OnTaskComplete);
    task->OnTaskError = std::move(OnTaskError);
    task->OnComplete = std::move(OnComplete);
    task->OnError = std::move(OnError);
    return task;
}

int TmySQLClientThread::AddTask(std::unique_ptr<TmySQLClientTaskData> task)
{
    std::lock_guard<std::mutex> lock(FLock);
    if (isConnect(task.get())) {
        // Ahead of every waiting request, but behind the last waiting close.
        auto at = FTaskList.begin();
        for (auto it = FTaskList.begin(); it != FTaskList.end(); ++it)
            if ((*it)->TaskKind == TmySQLTaskKind::Close) at = std::next(it);
        const auto position = static_cast<int>(at - FTaskList.begin());
        FTaskList.insert(at, std::move(task));
        return position;
    }
    FTaskList.push_back(std::move(task));
    return static_cast<int>(FTaskList.size()) - 1;
}

void TmySQLClientThread::AddConnectTask(const std::string &Host, const std::string &User,
                                        const std::string &Passwd, const std::string &Db,
                                        std::uint32_t Port, const char *UnixSocket,
                                        std::uint32_t ClientFlag, const std::string &TaskName,
                                        TmySQLClientTaskCompleteEvent OnTaskComplete,
                                        TmySQLClientTaskErrorEvent OnTaskError,
                                        TmySQLClientTask_OnComplete OnComplete,
                                        TmySQLClientTask_OnError OnError)
{
    auto task = newTask(TmySQLTaskKind::RealConnect, TaskName, std::move(OnTaskComplete),
                        std::move(OnTaskError), std::move(OnComplete), std::move(OnError));
    task->Host = Host;
    task->User = User;
    task->Passwd = Passwd;
    task->Db = Db;
    task->Port = Port;
    task->UnixSocket = UnixSocket;
    task->ClientFlag = ClientFlag;
    AddTask(std::move(task));
}

int TmySQLClientThread::AddCloseTask(const std::string &TaskName,
                                     TmySQLClientTaskCompleteEvent OnTaskComplete,
                                     TmySQLClientTaskErrorEvent OnTaskError,
                                     TmySQLClientTask_OnComplete OnComplete,
                                     TmySQLClientTask_OnError OnError)
{
    auto task = newTask(TmySQLTaskKind::Close, TaskName, std::move(OnTaskComplete),
                        std::move(OnTaskError), std::move(OnComplete), std::move(OnError));
    return AddTask(std::move(task));
}

int TmySQLClientThread::AddQueryTask(TmySQLTaskKind Kind, const std::string &SQL,
                                     const std::string &TaskName,
                                     TmySQLClientTaskCompleteEvent OnTaskComplete,
                                     TmySQLClientTaskErrorEvent OnTaskError,
                                     TmySQLClientTask_OnComplete OnComplete,
                                     TmySQLClientTask_OnError OnError)
{
    auto task = newTask(Kind, TaskName, std::move(OnTaskComplete), std::move(OnTaskError),
                        std::move(OnComplete), std::move(OnError));
    task->SQL = SQL;
    return AddTask(std::move(task));
}

int TmySQLClientThread::AddDatabaseTask(TmySQLTaskKind Kind, const std::string &Db,
                                        const std::string &TaskName,
                                        TmySQLClientTaskCompleteEvent OnTaskComplete,
                                        TmySQLClientTaskErrorEvent OnTaskError,
                                        TmySQLClientTask_OnComplete OnComplete,
                                        TmySQLClientTask_OnError OnError)
{
    auto task = newTask(Kind, TaskName, std::move(OnTaskComplete), std::move(OnTaskError),
                        std::move(OnComplete), std::move(OnError));
    task->Db = Db;
    return AddTask(std::move(task));
}

int TmySQLClientThread::TaskCount() const
{
    std::lock_guard<std::mutex> lock(FLock);
    return static_cast<int>(FTaskList.size());
}

bool TmySQLClientThread::Suspended() const
{
    std::lock_guard<std::mutex> lock(FLock);
    return FSleeping;
}

bool TmySQLClientThread::Busy() const
{
    std::lock_guard<std::mutex> lock(FLock);
    return FBusy;
}

bool TmySQLClientThread::ConnectPending() const
{
    std::lock_guard<std::mutex> lock(FLock);
    if (FHolder == Holder::Task && IsConnect(FRunningKind)) return true;
    for (const auto &task : FTaskList)
        if (isConnect(task.get())) return true;
    for (const auto &mail : FMailbox)
        if (isConnect(mail.second.get())) return true;
    return false;
}

bool TmySQLClientThread::Idle() const
{
    std::lock_guard<std::mutex> lock(FLock);
    return FTaskList.empty() && FHolder == Holder::None;
}

int TmySQLClientThread::MailCount() const
{
    std::lock_guard<std::mutex> lock(FLock);
    return static_cast<int>(FMailbox.size());
}

bool TmySQLClientThread::Threaded() const
{
    std::lock_guard<std::mutex> lock(FLock);
    return FThreaded;
}

void TmySQLClientThread::setThreaded(bool value)
{
    {
        std::lock_guard<std::mutex> lock(FLock);
        FThreaded = value;
    }
    FWake.notify_all();
}

void TmySQLClientThread::Wake()
{
    FWake.notify_all();
}

void TmySQLClientThread::ClearTasks()
{
    std::deque<std::unique_ptr<TmySQLClientTaskData>> waiting;
    {
        std::lock_guard<std::mutex> lock(FLock);
        waiting.swap(FTaskList);
    }
    // Freed outside the lock: a record frees its result through the library.
}

void TmySQLClientThread::takeTask(TmySQLClientTaskData *task)
{
    FBusy = true;
    FHolder = Holder::Task;
    FRunningKind = task->TaskKind;
    FRunningSerial = ++FLastSerial;
}

void TmySQLClientThread::releaseConnection()
{
    {
        std::lock_guard<std::mutex> lock(FLock);
        FBusy = false;
        FHolder = Holder::None;
    }
    FIdle.notify_all();
    FWake.notify_all();
}

TmySQLClientThread::Lease::Lease(TmySQLClientThread *thread) : m_thread(thread)
{
    std::unique_lock<std::mutex> lock(m_thread->FLock);
    // Counted while waiting, so the worker lets this call in before its next task.
    ++m_thread->FLeaseWaiters;
    m_held = m_thread->FIdle.wait_for(lock, std::chrono::milliseconds(CloseGraceMilliseconds),
                                      [this] { return !m_thread->FBusy; });
    --m_thread->FLeaseWaiters;
    if (!m_held) {
        lock.unlock();
        m_thread->FWake.notify_all(); // the worker may have been held back for us
        return;
    }
    m_thread->FBusy = true;
    m_thread->FHolder = Holder::DirectCall;
    // The call runs on the caller's thread; this one cuts it off if the server does not answer.
    m_watchdog = std::thread([this] {
        std::unique_lock<std::mutex> lock(m_thread->FLock);
        if (!m_finished.wait_for(lock, std::chrono::milliseconds(CloseGraceMilliseconds),
                                 [this] { return m_done; }))
            m_thread->interruptLocked();
    });
}

TmySQLClientThread::Lease::~Lease()
{
    if (!m_held) return;
    {
        std::lock_guard<std::mutex> lock(m_thread->FLock);
        m_done = true;
    }
    m_finished.notify_all();
    m_watchdog.join();
    m_thread->releaseConnection();
}

void TmySQLClientThread::postWakeUp(int message)
{
    if (FMailPosted || (FPolling && !FTaskList.empty() && FDeliveries == 0)) return;
    FMailPosted = true;
    QEvent *&spare = FSpareEvents[message == WM_TASK_DONE ? 0 : 1];
    QEvent *event = spare ? spare : new QEvent(static_cast<QEvent::Type>(message));
    spare = nullptr;
    QCoreApplication::postEvent(FNotifyWindow, event);
}

void TmySQLClientThread::Execute()
{
    bool threadReady = false;
    std::unique_lock<std::mutex> lock(FLock);
    for (;;) {
        FSleeping = true;
        // Sleeps while there is nothing it may take: an empty queue, non-threaded mode, a thread
        // running the queue inline, or a direct call holding or waiting for the connection.
        FWake.wait(lock, [this] {
            return FTerminated || (FThreaded && FInlineRuns == 0 && FLeaseWaiters == 0 && !FBusy &&
                                   !FTaskList.empty());
        });
        FSleeping = false;
        if (FTerminated) break;
        std::unique_ptr<TmySQLClientTaskData> task = std::move(FTaskList.front());
        FTaskList.pop_front();
        takeTask(task.get());
        lock.unlock();

        if (!threadReady && MySQLLibHandle && mysql_thread_init) {
            mysql_thread_init();
            threadReady = true;
        }
        const Outcome outcome = runGuarded(task.get(), FMySQL);

        lock.lock();
        // Queued under the lock and before the connection is free, so that whoever takes the
        // connection next finds this report already waiting, and the window thread (which takes
        // the lock to read the mailbox) sees everything written into the task.
        if (outcome != Outcome::Unreported) {
            const int message = outcome == Outcome::Done ? WM_TASK_DONE : WM_TASK_FAILED;
            FMailbox.emplace_back(message, std::move(task));
            postWakeUp(message);
        }
        FBusy = false;
        FHolder = Holder::None;
        FIdle.notify_all();
    }
    lock.unlock();
    if (threadReady && mysql_thread_end) mysql_thread_end();
}

void TmySQLClientThread::RunAll(bool cutOff)
{
    TmySQLClientTaskHandler *handler = FHandler;
    const TmySQLClientTaskHandler::Frame frame(handler);
    std::unique_lock<std::mutex> lock(FLock);
    ++FInlineRuns;
    waitForConnection(lock, cutOff);
    lock.unlock();
    // Reports the worker posted before we took over are delivered first, keeping task order.
    if (FNotifyWindow && QThread::currentThread() == FNotifyWindow->thread())
        handler->DeliverMessages();
    for (;;) {
        // Our owner went away inside a step: the handler (and this queue) live until the frame
        // ends, and nothing more is run.
        if (handler->FAbandoned) return;
        lock.lock();
        if (FTaskList.empty()) {
            --FInlineRuns;
            lock.unlock();
            FWake.notify_all();
            return;
        }
        waitForConnection(lock, cutOff);
        if (FTaskList.empty()) {
            lock.unlock();
            continue;
        }
        std::unique_ptr<TmySQLClientTaskData> task = std::move(FTaskList.front());
        FTaskList.pop_front();
        takeTask(task.get());
        lock.unlock();
        RunTask(std::move(task));
    }
}

void TmySQLClientThread::RunTask(std::unique_ptr<TmySQLClientTaskData> task)
{
    const Outcome outcome = runGuarded(task.get(), FMySQL);
    releaseConnection(); // the steps below may run the queue again
    if (outcome == Outcome::Done)
        NotifyComplete(std::move(task));
    else if (outcome == Outcome::Failed)
        NotifyError(std::move(task));
}

void TmySQLClientThread::NotifyComplete(std::unique_ptr<TmySQLClientTaskData> task)
{
    const bool reports = static_cast<bool>(FOnStatus);
    const QString name = reports ? QString::fromStdString(task->TaskName) : QString();
    const int left = reports ? TaskCount() : 0;
    TmySQLClientTaskHandler *handler = FHandler;
    const TmySQLClientTaskCompleteEvent step = std::move(task->OnTaskComplete);
    if (step) step(this, task.release());
    if (handler->FAbandoned) return;
    const auto done = FOnTaskDone;
    if (done) done(this);
    if (handler->FAbandoned) return;
    const auto status = FOnStatus;
    if (status) status(this, stActive, name, left);
}

void TmySQLClientThread::NotifyError(std::unique_ptr<TmySQLClientTaskData> task)
{
    const TmySQLClientTaskErrorEvent step = std::move(task->OnTaskError);
    const QString text = QString::fromStdString(task->ErrorText);
    if (step) step(this, task.release(), text);
}

// ---------------------------------------------------------------------------------------------
// Handler and its hidden window

bool TmySQLClientTaskWindow::event(QEvent *e)
{
    const int type = static_cast<int>(e->type());
    if (type != WM_TASK_DONE && type != WM_TASK_FAILED) return QObject::event(e);
    if (FHandler) FHandler->WakeUp();
    return true;
}

TmySQLClientTaskHandler::TmySQLClientTaskHandler(bool Threaded, QObject *parent)
    : QObject(parent), FWindow(std::make_unique<TmySQLClientTaskWindow>(this))
{
    FThread = std::make_unique<TmySQLClientThread>(this);
    FThread->FNotifyWindow = FWindow.get();
    refillSpareEvents();
    setThreaded(Threaded);
    FMailTimer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&FMailTimer, &QTimer::timeout, this, [this] { MailTimer(); });
}

TmySQLClientTaskHandler::~TmySQLClientTaskHandler()
{
    FThread.reset(); // ends and joins the worker; waiting tasks are dropped unrun
    FWindow.reset(); // messages still waiting for the window are dropped with it
}

TmySQLClientTaskHandler::Frame::Frame(TmySQLClientTaskHandler *handler) : m_handler(handler)
{
    ++m_handler->FDepth;
}

TmySQLClientTaskHandler::Frame::~Frame()
{
    if (--m_handler->FDepth == 0 && m_handler->FOrphaned) delete m_handler;
}

void TmySQLClientTaskHandler::Orphan()
{
    Abandon();
    if (FDepth == 0)
        delete this;
    else
        FOrphaned = true;
}

void TmySQLClientTaskHandler::Abandon()
{
    FAbandoned = true;
    FMailTimer.stop();
    FThread->Stop();
    FThread->ClearTasks();
    DropPostedMessages();
    FThread->FOnStatus = nullptr;
    FThread->FOnTaskDone = nullptr;
    FThread->FMySQL = nullptr;
    FWindow->FHandler = nullptr;
}

void TmySQLClientTaskHandler::refillSpareEvents()
{
    // Made here, on the window thread, and handed over under the lock (see FSpareEvents).
    bool wanted[2];
    {
        std::lock_guard<std::mutex> lock(FThread->FLock);
        for (int i = 0; i < 2; ++i)
            wanted[i] = !FThread->FSpareEvents[i];
    }
    for (int i = 0; i < 2; ++i) {
        if (!wanted[i]) continue;
        auto *event = new QEvent(static_cast<QEvent::Type>(i == 0 ? WM_TASK_DONE : WM_TASK_FAILED));
        std::lock_guard<std::mutex> lock(FThread->FLock);
        if (FThread->FSpareEvents[i])
            delete event;
        else
            FThread->FSpareEvents[i] = event;
    }
}

void TmySQLClientTaskHandler::setThreaded(bool value)
{
    FThreaded = value;
    FThread->setThreaded(value);
}

void TmySQLClientTaskHandler::ProcessTasks(bool closing)
{
    if (FAbandoned) return;
    if (FThreaded) {
        {
            std::lock_guard<std::mutex> lock(FThread->FLock);
            FThread->FPolling = true;
        }
        if (!FMailTimer.isActive()) FMailTimer.start(1);
        FThread->Wake();
    } else {
        FThread->RunAll(closing);
    }
}

void TmySQLClientTaskHandler::MailTimer()
{
    const Frame frame(this);
    bool hadMail = false;
    {
        std::lock_guard<std::mutex> lock(FThread->FLock);
        hadMail = !FThread->FMailbox.empty();
    }
    if (hadMail) DeliverMessages();
    if (FAbandoned) return;
    std::lock_guard<std::mutex> lock(FThread->FLock);
    if (FThread->FTaskList.empty() && !FThread->FBusy && FThread->FMailbox.empty()) {
        // Nothing under way: back to one posted wake-up per result.
        FThread->FPolling = false;
        FMailTimer.stop();
        return;
    }
    // A long statement keeps the worker busy: look less often, but never later than a frame.
    const int interval = hadMail ? 1 : std::min(FMailTimer.interval() * 2, 16);
    if (interval != FMailTimer.interval()) FMailTimer.setInterval(interval);
}

void TmySQLClientTaskHandler::DropPostedMessages()
{
    std::deque<std::pair<int, std::unique_ptr<TmySQLClientTaskData>>> dropped;
    {
        std::lock_guard<std::mutex> lock(FThread->FLock);
        dropped.swap(FThread->FMailbox);
    }
}

void TmySQLClientTaskHandler::WakeUp()
{
    {
        // The wake-up is answered: the next result needs one of its own.
        std::lock_guard<std::mutex> lock(FThread->FLock);
        FThread->FMailPosted = false;
    }
    DeliverMessages();
}

void TmySQLClientTaskHandler::DeliverMessages()
{
    const Frame frame(this);
    refillSpareEvents();
    {
        std::lock_guard<std::mutex> lock(FThread->FLock);
        ++FThread->FDeliveries;
    }
    while (!FAbandoned) {
        std::pair<int, std::unique_ptr<TmySQLClientTaskData>> mail;
        {
            std::lock_guard<std::mutex> lock(FThread->FLock);
            if (FThread->FMailbox.empty()) break;
            mail = std::move(FThread->FMailbox.front());
            FThread->FMailbox.pop_front();
            // The step below may wait in an event loop of its own for a later result: what is
            // waiting already gets a wake-up that such a loop answers.
            if (!FThread->FMailbox.empty()) FThread->postWakeUp(FThread->FMailbox.front().first);
        }
        WndProc(mail.first, std::move(mail.second));
    }
    std::lock_guard<std::mutex> lock(FThread->FLock);
    --FThread->FDeliveries;
}

void TmySQLClientTaskHandler::WndProc(int Msg, std::unique_ptr<TmySQLClientTaskData> task)
{
    if (!task) return;
    if (Msg == WM_TASK_FAILED) {
        TmySQLClientTaskErrorEvent step = std::move(task->OnTaskError);
        if (step) {
            const QString text = QString::fromStdString(task->ErrorText);
            step(this, task.release(), text);
        }
        return;
    }
    const TmySQLTaskKind kind = task->TaskKind;
    if (FThread->FOnStatus) {
        // The step may free the task, so the report takes what it needs first.
        const TmySQLClientTask_OnStatus report = FThread->FOnStatus;
        report(this, stActive, QString::fromStdString(task->TaskName), FThread->TaskCount() + 1);
        if (FAbandoned) return;
    }
    TmySQLClientTaskCompleteEvent step = std::move(task->OnTaskComplete);
    if (step) step(this, task.release());
    // The step's events may have destroyed our owner: then we are abandoned and stop here.
    if (FAbandoned) return;
    if (FThread->FOnTaskDone) {
        const auto done = FThread->FOnTaskDone;
        done(this);
        if (FAbandoned) return;
    }
    if (FThread->FOnStatus && FThread->TaskCount() == 0) {
        const TmySQLClientTask_OnStatus after = FThread->FOnStatus;
        if (kind == TmySQLTaskKind::Close)
            after(this, stNotConnected, QStringLiteral("[Session Closed]"), 0);
        else
            after(this, stIdle, QStringLiteral("[Idle]"), 0);
    }
}
