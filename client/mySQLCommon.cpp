#include "mySQLCommon.h"

#include <QCoreApplication>
#include <QThread>

#include <dlfcn.h>

// ---------------------------------------------------------------------------------------------
// Library binding

namespace mysqlapi {
std::string MySQLLibraryName = "libmariadb.so.3";
void *MySQLLibHandle = nullptr;

void (*mysql_debug)(const char *) = nullptr;
int (*mysql_dump_debug_info)(MYSQL *) = nullptr;
MYSQL *(*mysql_init)(MYSQL *) = nullptr;
MYSQL *(*mysql_connect)(MYSQL *, const char *, const char *, const char *) = nullptr;
MYSQL *(*mysql_real_connect)(MYSQL *, const char *, const char *, const char *, const char *,
                             unsigned int, const char *, unsigned long) = nullptr;
void (*mysql_close)(MYSQL *) = nullptr;
int (*mysql_select_db)(MYSQL *, const char *) = nullptr;
int (*mysql_create_db)(MYSQL *, const char *) = nullptr;
int (*mysql_drop_db)(MYSQL *, const char *) = nullptr;
int (*mysql_query)(MYSQL *, const char *) = nullptr;
int (*mysql_real_query)(MYSQL *, const char *, unsigned long) = nullptr;
int (*mysql_shutdown)(MYSQL *, int) = nullptr;
int (*mysql_refresh)(MYSQL *, unsigned int) = nullptr;
int (*mysql_kill)(MYSQL *, unsigned long) = nullptr;
int (*mysql_ping)(MYSQL *) = nullptr;
const char *(*mysql_stat)(MYSQL *) = nullptr;
int (*mysql_options)(MYSQL *, int, const void *) = nullptr;
unsigned long (*mysql_escape_string)(char *, const char *, unsigned long) = nullptr;
const char *(*mysql_get_server_info)(MYSQL *) = nullptr;
const char *(*mysql_get_client_info)() = nullptr;
const char *(*mysql_get_host_info)(MYSQL *) = nullptr;
unsigned int (*mysql_get_proto_info)(MYSQL *) = nullptr;
MYSQL_RES *(*mysql_list_fields)(MYSQL *, const char *, const char *) = nullptr;
MYSQL_RES *(*mysql_list_processes)(MYSQL *) = nullptr;
MYSQL_RES *(*mysql_list_dbs)(MYSQL *, const char *) = nullptr;
MYSQL_RES *(*mysql_list_tables)(MYSQL *, const char *) = nullptr;
void (*mysql_data_seek)(MYSQL_RES *, unsigned long long) = nullptr;
MYSQL_ROW_OFFSET (*mysql_row_seek)(MYSQL_RES *, MYSQL_ROW_OFFSET) = nullptr;
MYSQL_FIELD_OFFSET (*mysql_field_seek)(MYSQL_RES *, MYSQL_FIELD_OFFSET) = nullptr;
MYSQL_ROW (*mysql_fetch_row)(MYSQL_RES *) = nullptr;
unsigned long *(*mysql_fetch_lengths)(MYSQL_RES *) = nullptr;
MYSQL_FIELD *(*mysql_fetch_field)(MYSQL_RES *) = nullptr;
MYSQL_RES *(*mysql_use_result)(MYSQL *) = nullptr;
MYSQL_RES *(*mysql_store_result)(MYSQL *) = nullptr;
void (*mysql_free_result)(MYSQL_RES *) = nullptr;
const char *(*mysql_error)(MYSQL *) = nullptr;
my_ulonglong (*mysql_num_rows)(MYSQL_RES *) = nullptr;
unsigned int (*mysql_num_fields)(MYSQL_RES *) = nullptr;
int (*mysql_server_init)(int, char **, char **) = nullptr;
void (*mysql_server_end)() = nullptr;
my_bool (*mysql_thread_init)() = nullptr;
void (*mysql_thread_end)() = nullptr;

namespace {
template <typename F> void bind(F &entry, const char *name)
{
    entry = reinterpret_cast<F>(dlsym(MySQLLibHandle, name));
}

// Unloads the library at process end, after every component is gone.
struct Unloader
{
    ~Unloader()
    {
        if (MySQLLibHandle) {
            if (mysql_server_end) mysql_server_end();
            dlclose(MySQLLibHandle);
            MySQLLibHandle = nullptr;
        }
        MySQLLibraryName.clear();
    }
} unloader;
} // namespace

bool LoadMySQLLibrary()
{
    if (MySQLLibHandle) return false;
    MySQLLibHandle = dlopen(MySQLLibraryName.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!MySQLLibHandle) return false;
    bind(mysql_debug, "mysql_debug");
    bind(mysql_dump_debug_info, "mysql_dump_debug_info");
    bind(mysql_init, "mysql_init");
    bind(mysql_connect, "mysql_connect");
    bind(mysql_real_connect, "mysql_real_connect");
    bind(mysql_close, "mysql_close");
    bind(mysql_select_db, "mysql_select_db");
    bind(mysql_create_db, "mysql_create_db");
    bind(mysql_drop_db, "mysql_drop_db");
    bind(mysql_query, "mysql_query");
    bind(mysql_real_query, "mysql_real_query");
    bind(mysql_shutdown, "mysql_shutdown");
    bind(mysql_refresh, "mysql_refresh");
    bind(mysql_kill, "mysql_kill");
    bind(mysql_ping, "mysql_ping");
    bind(mysql_stat, "mysql_stat");
    bind(mysql_options, "mysql_options");
    bind(mysql_escape_string, "mysql_escape_string");
    bind(mysql_get_server_info, "mysql_get_server_info");
    bind(mysql_get_client_info, "mysql_get_client_info");
    bind(mysql_get_host_info, "mysql_get_host_info");
    bind(mysql_get_proto_info, "mysql_get_proto_info");
    bind(mysql_list_fields, "mysql_list_fields");
    bind(mysql_list_processes, "mysql_list_processes");
    bind(mysql_list_dbs, "mysql_list_dbs");
    bind(mysql_list_tables, "mysql_list_tables");
    bind(mysql_data_seek, "mysql_data_seek");
    bind(mysql_row_seek, "mysql_row_seek");
    bind(mysql_field_seek, "mysql_field_seek");
    bind(mysql_fetch_row, "mysql_fetch_row");
    bind(mysql_fetch_lengths, "mysql_fetch_lengths");
    bind(mysql_fetch_field, "mysql_fetch_field");
    bind(mysql_use_result, "mysql_use_result");
    bind(mysql_store_result, "mysql_store_result");
    bind(mysql_free_result, "mysql_free_result");
    bind(mysql_error, "mysql_error");
    bind(mysql_num_rows, "mysql_num_rows");
    bind(mysql_num_fields, "mysql_num_fields");
    bind(mysql_server_init, "mysql_server_init");
    bind(mysql_server_end, "mysql_server_end");
    bind(mysql_thread_init, "mysql_thread_init");
    bind(mysql_thread_end, "mysql_thread_end");
    // The library's global set-up must run once, on one thread, before any other thread uses it.
    if (mysql_server_init) mysql_server_init(0, nullptr, nullptr);
    return true;
}
} // namespace mysqlapi

using namespace mysqlapi;

std::uint32_t ClientFlagOf(TSetClientCapabilities set)
{
    std::uint32_t flag = 0;
    for (int ordinal = 0; ordinal <= 8; ++ordinal)
        if (set.testFlag(static_cast<TClientCapabilities>(1u << ordinal))) flag += 1u << ordinal;
    return flag;
}

const char *const StatusTypeNames[5] = {"Not Connected", "Connecting", "Idle", "Active",
                                        "Reconnecting"};

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
    if (ResultSet && mysql_free_result) mysql_free_result(ResultSet);
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

QString textOf(const char *text)
{
    return text ? QString::fromUtf8(text) : QString();
}

Outcome fail(TmySQLClientTaskData *task, MYSQL *connection)
{
    const char *message = (connection && mysql_error) ? mysql_error(connection) : nullptr;
    task->ErrorText = message ? message : "";
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
        task->ResultList.append(textOf(row[0]));
    }
}

Outcome runLibraryCalls(TmySQLClientTaskData *task, TmySQLConnection *connection)
{
    task->ResultSet = nullptr;
    task->ReturnCode = -1;
    const std::uint8_t kind = task->TaskKind;
    if (kind > 16) return Outcome::Unreported;
    if (kind == 0 || kind == 2) {
        if (!mysql_init) return missing(task, "mysql_init");
        if (kind == 0 && !mysql_connect) return missing(task, "mysql_connect");
        if (kind == 2 && !mysql_real_connect) return missing(task, "mysql_real_connect");
        // The library allocates the structure; a connect starts from a fresh one each time.
        if (connection->Handle && mysql_close) mysql_close(connection->Handle);
        connection->Handle = mysql_init(nullptr);
        if (!connection->Handle) {
            task->ErrorText = "The client library could not allocate a connection.";
            return Outcome::Failed;
        }
        if (mysql_options) mysql_options(connection->Handle, MYSQL_SET_CHARSET_NAME, "utf8mb4");
        if (kind == 0)
            task->ConnectResult = mysql_connect(connection->Handle, task->Host.c_str(),
                                                task->User.c_str(), task->Passwd.c_str());
        else
            task->ConnectResult = mysql_real_connect(
                connection->Handle, task->Host.c_str(), task->User.c_str(), task->Passwd.c_str(),
                task->Db.c_str(), task->Port, task->UnixSocket, task->ClientFlag);
        return task->ConnectResult ? Outcome::Done : fail(task, connection->Handle);
    }
    if (kind == 1) {
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
    case 3:
        if (!mysql_select_db) return missing(task, "mysql_select_db");
        task->ReturnCode = mysql_select_db(mysql, task->Db.c_str());
        return task->ReturnCode == 0 ? Outcome::Done : fail(task, mysql);
    case 4:
        if (!mysql_create_db) return missing(task, "mysql_create_db");
        task->ReturnCode = mysql_create_db(mysql, task->Db.c_str());
        return task->ReturnCode == 0 ? Outcome::Done : fail(task, mysql);
    case 5:
        if (!mysql_drop_db) return missing(task, "mysql_drop_db");
        task->ReturnCode = mysql_drop_db(mysql, task->Db.c_str());
        return task->ReturnCode == 0 ? Outcome::Done : fail(task, mysql);
    case 6:
    case 7:
        if (!mysql_query) return missing(task, "mysql_query");
        // Any non-zero result of mysql_query is a failure, whatever its sign.
        task->ReturnCode = mysql_query(mysql, task->SQL.c_str());
        if (task->ReturnCode != 0) return fail(task, mysql);
        if (kind == 6) return Outcome::Done;
        if (!mysql_store_result) return missing(task, "mysql_store_result");
        task->ResultSet = mysql_store_result(mysql);
        return task->ResultSet ? Outcome::Done : fail(task, mysql);
    case 8:
    case 9:
    case 11:
        if (kind == 8 && !mysql_list_dbs) return missing(task, "mysql_list_dbs");
        if (kind == 9 && !mysql_list_tables) return missing(task, "mysql_list_tables");
        if (kind == 11 && !mysql_list_processes) return missing(task, "mysql_list_processes");
        task->ResultSet = kind == 8   ? mysql_list_dbs(mysql, task->Wild)
                          : kind == 9 ? mysql_list_tables(mysql, task->Wild)
                                      : mysql_list_processes(mysql);
        if (!task->ResultSet) return fail(task, mysql);
        addFirstColumns(task);
        return Outcome::Done;
    case 10: {
        if (!mysql_list_fields) return missing(task, "mysql_list_fields");
        task->ResultSet = mysql_list_fields(mysql, task->Table.c_str(), task->Wild);
        if (!task->ResultSet) return fail(task, mysql);
        const unsigned int fields = mysql_num_fields(task->ResultSet);
        for (unsigned int i = 0; i < fields; ++i) {
            MYSQL_FIELD *field = mysql_fetch_field(task->ResultSet);
            if (!field) break;
            task->ResultList.append(textOf(field->table) + QLatin1Char('.') + textOf(field->name));
        }
        return Outcome::Done;
    }
    case 12:
        if (!mysql_ping) return missing(task, "mysql_ping");
        task->ReturnCode = mysql_ping(mysql);
        break;
    case 13:
        if (!mysql_shutdown) return missing(task, "mysql_shutdown");
        task->ReturnCode = mysql_shutdown(mysql, 0);
        break;
    case 14:
        if (!mysql_kill) return missing(task, "mysql_kill");
        task->ReturnCode = mysql_kill(mysql, task->ProcessId);
        break;
    case 15:
        if (!mysql_options) return missing(task, "mysql_options");
        task->ReturnCode = mysql_options(mysql, task->Option, task->OptionArg);
        break;
    case 16:
        if (!mysql_refresh) return missing(task, "mysql_refresh");
        task->ReturnCode = mysql_refresh(mysql, task->RefreshOptions);
        break;
    }
    return task->ReturnCode == 0 ? Outcome::Done : fail(task, mysql);
}
} // namespace

// ---------------------------------------------------------------------------------------------
// Queue and worker

TmySQLClientThread::TmySQLClientThread(TmySQLClientTaskHandler *handler) : FHandler(handler)
{
    FThread = std::thread([this] { Execute(); });
}

TmySQLClientThread::~TmySQLClientThread()
{
    {
        std::lock_guard<std::mutex> lock(FLock);
        FTerminated = true;
    }
    FWake.notify_all();
    FThread.join(); // a task being run is finished first
    for (TmySQLClientTaskData *task : FTaskList)
        delete task;
    FTaskList.clear();
    for (auto &mail : FMailbox)
        delete mail.second;
    FMailbox.clear();
}

std::unique_ptr<TmySQLClientTaskData> TmySQLClientThread::newTask(
    const std::string &TaskName, TmySQLClientTaskCompleteEvent OnTaskComplete,
    TmySQLClientTaskErrorEvent OnTaskError, TmySQLClientTask_OnComplete OnComplete,
    TmySQLClientTask_OnError OnError)
{
    auto task = std::make_unique<TmySQLClientTaskData>();
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
    if (task->TaskKind == 0 || task->TaskKind == 2) {
        FTaskList.push_front(task.release());
        return 0;
    }
    FTaskList.push_back(task.release());
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
    auto task = newTask(TaskName, std::move(OnTaskComplete), std::move(OnTaskError),
                        std::move(OnComplete), std::move(OnError));
    task->TaskKind = 2;
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
    auto task = newTask(TaskName, std::move(OnTaskComplete), std::move(OnTaskError),
                        std::move(OnComplete), std::move(OnError));
    task->TaskKind = 1;
    return AddTask(std::move(task));
}

int TmySQLClientThread::AddQueryTask(std::uint8_t Kind, const std::string &SQL,
                                     const std::string &TaskName,
                                     TmySQLClientTaskCompleteEvent OnTaskComplete,
                                     TmySQLClientTaskErrorEvent OnTaskError,
                                     TmySQLClientTask_OnComplete OnComplete,
                                     TmySQLClientTask_OnError OnError)
{
    auto task = newTask(TaskName, std::move(OnTaskComplete), std::move(OnTaskError),
                        std::move(OnComplete), std::move(OnError));
    task->TaskKind = Kind;
    task->SQL = SQL;
    return AddTask(std::move(task));
}

int TmySQLClientThread::AddDatabaseTask(std::uint8_t Kind, const std::string &Db,
                                        const std::string &TaskName,
                                        TmySQLClientTaskCompleteEvent OnTaskComplete,
                                        TmySQLClientTaskErrorEvent OnTaskError,
                                        TmySQLClientTask_OnComplete OnComplete,
                                        TmySQLClientTask_OnError OnError)
{
    auto task = newTask(TaskName, std::move(OnTaskComplete), std::move(OnTaskError),
                        std::move(OnComplete), std::move(OnError));
    task->TaskKind = Kind;
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
    std::deque<TmySQLClientTaskData *> waiting;
    {
        std::lock_guard<std::mutex> lock(FLock);
        waiting.swap(FTaskList);
    }
    for (TmySQLClientTaskData *task : waiting)
        delete task;
}

void TmySQLClientThread::acquireConnection(std::unique_lock<std::mutex> &lock)
{
    FIdle.wait(lock, [this] { return !FBusy; });
    FBusy = true;
}

void TmySQLClientThread::releaseConnection()
{
    {
        std::lock_guard<std::mutex> lock(FLock);
        FBusy = false;
    }
    FIdle.notify_all();
    FWake.notify_all();
}

TmySQLClientThread::Lease::Lease(TmySQLClientThread *thread) : m_thread(thread)
{
    std::unique_lock<std::mutex> lock(m_thread->FLock);
    m_thread->acquireConnection(lock);
}

TmySQLClientThread::Lease::~Lease()
{
    m_thread->releaseConnection();
}

void TmySQLClientThread::Execute()
{
    bool threadReady = false;
    std::unique_lock<std::mutex> lock(FLock);
    for (;;) {
        FSleeping = true;
        // Sleeps while there is nothing it may take: an empty queue, non-threaded mode, a thread
        // running the queue inline, or a direct call holding the connection.
        FWake.wait(lock, [this] {
            return FTerminated || (FThreaded && FInlineRuns == 0 && !FBusy && !FTaskList.empty());
        });
        FSleeping = false;
        if (FTerminated) break;
        TmySQLClientTaskData *task = FTaskList.front();
        FTaskList.pop_front();
        FBusy = true;
        lock.unlock();

        if (!threadReady && MySQLLibHandle && mysql_thread_init) {
            mysql_thread_init();
            threadReady = true;
        }
        Outcome outcome = Outcome::Failed;
        try {
            outcome = runLibraryCalls(task, FMySQL);
        } catch (...) {
            task->ResultSet = nullptr;
            task->ReturnCode = -1;
            task->ErrorText = "The client library raised an exception.";
            outcome = Outcome::Failed;
        }

        lock.lock();
        // Queued under the lock and before the connection is free, so that whoever takes the
        // connection next finds this report already waiting, and the window thread (which takes
        // the lock to read the mailbox) sees everything written into the task.
        if (outcome == Outcome::Unreported) {
            delete task;
        } else {
            const int message = outcome == Outcome::Done ? WM_TASK_DONE : WM_TASK_FAILED;
            FMailbox.emplace_back(message, task);
            if (!FMailPosted && (!FPolling || FTaskList.empty())) {
                FMailPosted = true;
                QCoreApplication::postEvent(FNotifyWindow,
                                            new QEvent(static_cast<QEvent::Type>(message)));
            }
        }
        FBusy = false;
        FIdle.notify_all();
    }
    lock.unlock();
    if (threadReady && mysql_thread_end) mysql_thread_end();
}

void TmySQLClientThread::RunAll()
{
    std::unique_lock<std::mutex> lock(FLock);
    ++FInlineRuns;
    FIdle.wait(lock, [this] { return !FBusy; });
    lock.unlock();
    // Reports the worker posted before we took over are delivered first, keeping task order.
    if (FNotifyWindow && QThread::currentThread() == FNotifyWindow->thread())
        FHandler->DeliverMessages();
    for (;;) {
        lock.lock();
        if (FTaskList.empty()) {
            --FInlineRuns;
            lock.unlock();
            FWake.notify_all();
            return;
        }
        FIdle.wait(lock, [this] { return !FBusy; });
        if (FTaskList.empty()) {
            lock.unlock();
            continue;
        }
        TmySQLClientTaskData *task = FTaskList.front();
        FTaskList.pop_front();
        FBusy = true;
        lock.unlock();
        RunTask(task);
    }
}

void TmySQLClientThread::RunTask(TmySQLClientTaskData *task)
{
    Outcome outcome = Outcome::Failed;
    try {
        outcome = runLibraryCalls(task, FMySQL);
    } catch (...) {
        task->ResultSet = nullptr;
        task->ReturnCode = -1;
        task->ErrorText = "The client library raised an exception.";
    }
    releaseConnection(); // the steps below may run the queue again
    if (outcome == Outcome::Done)
        NotifyComplete(task);
    else if (outcome == Outcome::Failed)
        NotifyError(task);
    else
        delete task;
}

void TmySQLClientThread::NotifyComplete(TmySQLClientTaskData *task)
{
    const bool reports = static_cast<bool>(FOnStatus);
    const QString name = reports ? QString::fromStdString(task->TaskName) : QString();
    const int left = reports ? TaskCount() : 0;
    const TmySQLClientTaskCompleteEvent step = std::move(task->OnTaskComplete);
    if (step)
        step(this, task); // the step owns the task from here
    else
        delete task;
    const auto done = FOnTaskDone;
    if (done) done(this);
    const auto status = FOnStatus;
    if (status) status(this, stActive, name, left);
}

void TmySQLClientThread::NotifyError(TmySQLClientTaskData *task)
{
    const TmySQLClientTaskErrorEvent step = std::move(task->OnTaskError);
    if (step)
        step(this, task, QString::fromStdString(task->ErrorText));
    else
        delete task;
}

// ---------------------------------------------------------------------------------------------
// Handler and its hidden window

bool TmySQLClientTaskWindow::event(QEvent *e)
{
    const int type = static_cast<int>(e->type());
    if (type != WM_TASK_DONE && type != WM_TASK_FAILED) return QObject::event(e);
    FHandler->DeliverMessages();
    return true;
}

TmySQLClientTaskHandler::TmySQLClientTaskHandler(bool Threaded, QObject *parent)
    : QObject(parent), FWindow(std::make_unique<TmySQLClientTaskWindow>(this))
{
    FThread = std::make_unique<TmySQLClientThread>(this);
    FThread->FNotifyWindow = FWindow.get();
    setThreaded(Threaded);
    FMailTimer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&FMailTimer, &QTimer::timeout, this, [this] { MailTimer(); });
}

TmySQLClientTaskHandler::~TmySQLClientTaskHandler()
{
    FThread.reset(); // ends and joins the worker; waiting tasks are dropped unrun
    FWindow.reset(); // messages still waiting for the window are dropped with it
}

void TmySQLClientTaskHandler::setThreaded(bool value)
{
    FThreaded = value;
    FThread->setThreaded(value);
}

void TmySQLClientTaskHandler::ProcessTasks()
{
    if (FThreaded) {
        {
            std::lock_guard<std::mutex> lock(FThread->FLock);
            FThread->FPolling = true;
        }
        if (!FMailTimer.isActive()) FMailTimer.start(1);
        FThread->Wake();
    } else {
        FThread->RunAll();
    }
}

void TmySQLClientTaskHandler::MailTimer()
{
    bool hadMail = false;
    {
        std::lock_guard<std::mutex> lock(FThread->FLock);
        hadMail = !FThread->FMailbox.empty();
    }
    if (hadMail) DeliverMessages();
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
    std::deque<std::pair<int, TmySQLClientTaskData *>> dropped;
    {
        std::lock_guard<std::mutex> lock(FThread->FLock);
        dropped.swap(FThread->FMailbox);
    }
    for (auto &mail : dropped)
        delete mail.second;
}

void TmySQLClientTaskHandler::DeliverMessages()
{
    for (;;) {
        std::pair<int, TmySQLClientTaskData *> mail;
        {
            std::lock_guard<std::mutex> lock(FThread->FLock);
            if (FThread->FMailbox.empty()) {
                FThread->FMailPosted = false;
                return;
            }
            mail = FThread->FMailbox.front();
            FThread->FMailbox.pop_front();
        }
        WndProc(mail.first, mail.second);
    }
}

void TmySQLClientTaskHandler::WndProc(int Msg, TmySQLClientTaskData *Task)
{
    std::unique_ptr<TmySQLClientTaskData> task(Task);
    if (!task) return;
    if (Msg == WM_TASK_FAILED) {
        TmySQLClientTaskErrorEvent step = std::move(task->OnTaskError);
        if (step) {
            const QString text = QString::fromStdString(task->ErrorText);
            step(this, task.release(), text);
        }
        return;
    }
    const std::uint8_t kind = task->TaskKind;
    if (FThread->FOnStatus) {
        // The step may free the task, so the report takes what it needs first.
        const TmySQLClientTask_OnStatus report = FThread->FOnStatus;
        report(this, stActive, QString::fromStdString(task->TaskName), FThread->TaskCount() + 1);
    }
    TmySQLClientTaskCompleteEvent step = std::move(task->OnTaskComplete);
    if (step) step(this, task.release());
    if (FThread->FOnTaskDone) {
        const auto done = FThread->FOnTaskDone;
        done(this);
    }
    if (FThread->FOnStatus && FThread->TaskCount() == 0) {
        const TmySQLClientTask_OnStatus after = FThread->FOnStatus;
        if (kind == 1)
            after(this, stNotConnected, QStringLiteral("[Session Closed]"), 0);
        else
            after(this, stIdle, QStringLiteral("[Idle]"), 0);
    }
}

// ---------------------------------------------------------------------------------------------
// Query object

TmySQLClientQuery::TmySQLClientQuery() = default;

TmySQLClientQuery::~TmySQLClientQuery()
{
    Clear();
}

void TmySQLClientQuery::Submit(const std::string &SQL, const std::string &TaskName)
{
    SubmitWithHandlers(SQL, TaskName, FOnQuery, FOnQueryError);
}

void TmySQLClientQuery::SubmitWithHandlers(const std::string &SQL, const std::string &TaskName,
                                           TmySQLClientTask_OnComplete OnComplete,
                                           TmySQLClientTask_OnError OnError)
{
    if (!FTaskHandler) return;
    // Completions still on their way when this object is released are dropped, not delivered.
    QPointer<TmySQLClientQuery> self(this);
    FTaskHandler->Thread()->AddQueryTask(
        7, SQL, TaskName,
        [self](QObject *sender, TmySQLClientTaskData *task) {
            if (self)
                self->TaskComplete(sender, task);
            else
                delete task;
        },
        [self](QObject *sender, TmySQLClientTaskData *task, const QString &msg) {
            if (self)
                self->TaskError(sender, task, msg);
            else
                delete task;
        },
        std::move(OnComplete), std::move(OnError));
}

void TmySQLClientQuery::TaskComplete(QObject *, TmySQLClientTaskData *Task)
{
    if (!Task) return;
    if (FTask) FOlderTasks.push_back(FTask); // its rows stay listed, so its memory stays
    FTask = Task;
    FFieldNames.clear();
    FFields.clear();
    FFieldNamesLoaded = false;
    if (!Task->ResultSet) return;
    const unsigned int columns = mysql_num_fields(Task->ResultSet);
    const auto rows = static_cast<std::uint32_t>(mysql_num_rows(Task->ResultSet));
    FRows.reserve(FRows.size() + rows);
    for (std::uint32_t i = 0; i < rows; ++i) {
        MYSQL_ROW row = mysql_fetch_row(Task->ResultSet);
        if (!row) break;
        FRows.push_back(Row{row, columns, Task->KeyColumn});
    }
    // Moved out: a handler that clears this object frees the task, and the event with it.
    const TmySQLClientTask_OnComplete event = std::move(Task->OnComplete);
    QPointer<TmySQLClientQuery> self(this);
    if (event) event(this);
    if (!self) return; // the handler closed the connection, which released this object
    if (FTaskHandler && FTaskHandler->Threaded()) Clear();
}

void TmySQLClientQuery::TaskError(QObject *, TmySQLClientTaskData *Task, const QString &Msg)
{
    if (!Task) return;
    std::unique_ptr<TmySQLClientTaskData> failed(Task);
    const TmySQLClientTask_OnError event = std::move(Task->OnError);
    QPointer<TmySQLClientQuery> self(this);
    if (event) event(this, Msg);
    if (self) Clear();
}

int TmySQLClientQuery::FieldCount() const
{
    if (!FTask || !FTask->ResultSet) return -1;
    return static_cast<int>(mysql_num_fields(FTask->ResultSet));
}

void TmySQLClientQuery::LoadFieldNames()
{
    if (!FTask || !FTask->ResultSet) return;
    while (MYSQL_FIELD *field = mysql_fetch_field(FTask->ResultSet)) {
        FFieldNames.append(textOf(field->name));
        FFields.push_back(field);
    }
    FFieldNamesLoaded = true;
    ++FFieldNameLoads;
}

QString TmySQLClientQuery::FieldName(int Index)
{
    if (!FTask || !FTask->ResultSet) return {};
    if (!FFieldNamesLoaded) LoadFieldNames();
    if (Index < 0 || Index >= FFieldNames.size()) return {};
    return FFieldNames.at(Index);
}

const char *TmySQLClientQuery::Value(int Row, int Col) const
{
    if (!FTask) return nullptr;
    if (!FTask->ResultSet) return "";
    if (Row < 0 || Col < 0 || Row >= RowCount()) return "";
    const auto &row = FRows[static_cast<std::size_t>(Row)];
    if (static_cast<unsigned int>(Col) >= row.Columns) return "";
    return row.Values[Col];
}

QString TmySQLClientQuery::RowText(int Row) const
{
    if (Row < 0 || Row >= RowCount()) return {};
    const auto &row = FRows[static_cast<std::size_t>(Row)];
    if (row.KeyColumn < 0 || static_cast<unsigned int>(row.KeyColumn) >= row.Columns) return {};
    return textOf(row.Values[row.KeyColumn]);
}

void TmySQLClientQuery::Clear()
{
    delete FTask;
    FTask = nullptr;
    for (TmySQLClientTaskData *task : FOlderTasks)
        delete task;
    FOlderTasks.clear();
    FFieldNames.clear();
    FFields.clear();
    FFieldNamesLoaded = false;
    FRows.clear();
}

// ---------------------------------------------------------------------------------------------
// Utility object

void TmySQLClientUtility::Connect(const std::string &Host, const std::string &User,
                                  const std::string &Password, const std::string &Database,
                                  int Port, std::uint32_t ClientFlag, const std::string &TaskName,
                                  TmySQLClientTask_OnComplete OnComplete,
                                  TmySQLClientTask_OnError OnError)
{
    FTaskHandler->Thread()->AddConnectTask(
        Host, User, Password, Database, static_cast<std::uint32_t>(Port), nullptr, ClientFlag,
        TaskName, [this](QObject *s, TmySQLClientTaskData *t) { TaskComplete(s, t); },
        [this](QObject *s, TmySQLClientTaskData *t, const QString &m) { TaskError(s, t, m); },
        std::move(OnComplete), std::move(OnError));
}

void TmySQLClientUtility::Close(const std::string &TaskName, TmySQLClientTask_OnComplete OnComplete,
                                TmySQLClientTask_OnError OnError)
{
    FTaskHandler->Thread()->AddCloseTask(
        TaskName, [this](QObject *s, TmySQLClientTaskData *t) { TaskComplete(s, t); },
        [this](QObject *s, TmySQLClientTaskData *t, const QString &m) { TaskError(s, t, m); },
        std::move(OnComplete), std::move(OnError));
}

void TmySQLClientUtility::SelectDatabase(const std::string &Database, const std::string &TaskName)
{
    SelectDatabaseWithHandlers(Database, TaskName, Events.OnSelectDatabase,
                               Events.OnSelectDatabaseError);
}

void TmySQLClientUtility::SelectDatabaseWithHandlers(const std::string &Database,
                                                     const std::string &TaskName,
                                                     TmySQLClientTask_OnComplete OnComplete,
                                                     TmySQLClientTask_OnError OnError)
{
    FTaskHandler->Thread()->AddDatabaseTask(
        3, Database, TaskName, [this](QObject *s, TmySQLClientTaskData *t) { TaskComplete(s, t); },
        [this](QObject *s, TmySQLClientTaskData *t, const QString &m) { TaskError(s, t, m); },
        std::move(OnComplete), std::move(OnError));
}

void TmySQLClientUtility::TaskComplete(QObject *, TmySQLClientTaskData *Task)
{
    if (!Task) return;
    const TmySQLClientTask_OnComplete event = std::move(Task->OnComplete);
    delete Task;
    if (event) event(this);
}

void TmySQLClientUtility::TaskError(QObject *, TmySQLClientTaskData *Task, const QString &Msg)
{
    if (!Task) return;
    const TmySQLClientTask_OnError event = std::move(Task->OnError);
    delete Task;
    if (event) event(this, Msg);
}

QString TmySQLClientUtility::directCall(const char *(*call)(MYSQL *))
{
    if (!FTaskHandler || !MySQLLibHandle || !call) return {};
    TmySQLClientThread::Lease lease(FTaskHandler->Thread());
    MYSQL *mysql = FTaskHandler->MySQL() ? FTaskHandler->MySQL()->Handle : nullptr;
    if (!mysql) return {};
    return textOf(call(mysql));
}

QString TmySQLClientUtility::ServerInfo()
{
    return directCall(mysql_get_server_info);
}
QString TmySQLClientUtility::HostInfo()
{
    return directCall(mysql_get_host_info);
}
QString TmySQLClientUtility::Stat()
{
    return directCall(mysql_stat);
}
