#pragma once

// The database client's machinery: the run-time binding of the MySQL C client library, the task
// record, the task queue with its one worker thread, the task handler that delivers finished
// tasks on the window thread, and the three request objects. Qt Core only.

#include "CellBlock.h"

#include <QEvent>
#include <QFlags>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

// The library's types, declared here rather than taken from its headers: the library is loaded at
// run time, and the layouts we read are the ones every MySQL and MariaDB client shares.
struct st_mysql;
struct st_mysql_res;
using MYSQL = st_mysql;
using MYSQL_RES = st_mysql_res;
using MYSQL_ROW = char **;
// One row of a stored result, as the library lists them; a row's place is its list entry.
struct MYSQL_ROWS
{
    MYSQL_ROWS *next;
    MYSQL_ROW data;
    unsigned long length;
};
using MYSQL_ROW_OFFSET = MYSQL_ROWS *;
using MYSQL_FIELD_OFFSET = unsigned int;
using my_ulonglong = unsigned long long;
using my_bool = char;
// A field description, as the library lays it out.
struct MYSQL_FIELD
{
    char *name;
    char *org_name;
    char *table;
    char *org_table;
    char *db;
    char *catalog;
    char *def;
    unsigned long length;
    unsigned long max_length;
    unsigned int name_length;
    unsigned int org_name_length;
    unsigned int table_length;
    unsigned int org_table_length;
    unsigned int db_length;
    unsigned int catalog_length;
    unsigned int def_length;
    unsigned int flags;
    unsigned int decimals;
    unsigned int charsetnr;
    int type; // enum_field_types
    void *extension;
};
// Option numbers of mysql_options.
constexpr int MYSQL_OPT_CONNECT_TIMEOUT = 0;
constexpr int MYSQL_SET_CHARSET_NAME = 7;
constexpr int MYSQL_OPT_READ_TIMEOUT = 11;
constexpr int MYSQL_OPT_WRITE_TIMEOUT = 12;
// Field flags and the column types a caller compares.
constexpr unsigned int NOT_NULL_FLAG = 1;
constexpr unsigned int PRI_KEY_FLAG = 2;
constexpr unsigned int BINARY_FLAG = 128;
constexpr int MYSQL_TYPE_FLOAT = 4;
constexpr int MYSQL_TYPE_DOUBLE = 5;

// ---------------------------------------------------------------------------------------------
// Library binding

// Every entry point we bind: the library's 35, then the accessors and helpers used beside them.
// X(name, result type, parameter list)
#define QUORVANE_MYSQL_ENTRY_POINTS(X)                                                             \
    X(mysql_debug, void, (const char *))                                                           \
    X(mysql_dump_debug_info, int, (MYSQL *))                                                       \
    X(mysql_init, MYSQL *, (MYSQL *))                                                              \
    X(mysql_connect, MYSQL *, (MYSQL *, const char *, const char *, const char *))                 \
    X(mysql_real_connect, MYSQL *,                                                                 \
      (MYSQL *, const char *, const char *, const char *, const char *, unsigned int,              \
       const char *, unsigned long))                                                               \
    X(mysql_close, void, (MYSQL *))                                                                \
    X(mysql_select_db, int, (MYSQL *, const char *))                                               \
    X(mysql_create_db, int, (MYSQL *, const char *))                                               \
    X(mysql_drop_db, int, (MYSQL *, const char *))                                                 \
    X(mysql_query, int, (MYSQL *, const char *))                                                   \
    X(mysql_real_query, int, (MYSQL *, const char *, unsigned long))                               \
    X(mysql_shutdown, int, (MYSQL *, int))                                                         \
    X(mysql_refresh, int, (MYSQL *, unsigned int))                                                 \
    X(mysql_kill, int, (MYSQL *, unsigned long))                                                   \
    X(mysql_ping, int, (MYSQL *))                                                                  \
    X(mysql_stat, const char *, (MYSQL *))                                                         \
    X(mysql_options, int, (MYSQL *, int, const void *))                                            \
    X(mysql_escape_string, unsigned long, (char *, const char *, unsigned long))                   \
    X(mysql_get_server_info, const char *, (MYSQL *))                                              \
    X(mysql_get_client_info, const char *, ())                                                     \
    X(mysql_get_host_info, const char *, (MYSQL *))                                                \
    X(mysql_get_proto_info, unsigned int, (MYSQL *))                                               \
    X(mysql_list_fields, MYSQL_RES *, (MYSQL *, const char *, const char *))                       \
    X(mysql_list_processes, MYSQL_RES *, (MYSQL *))                                                \
    X(mysql_list_dbs, MYSQL_RES *, (MYSQL *, const char *))                                        \
    X(mysql_list_tables, MYSQL_RES *, (MYSQL *, const char *))                                     \
    X(mysql_data_seek, void, (MYSQL_RES *, unsigned long long))                                    \
    X(mysql_row_seek, MYSQL_ROW_OFFSET, (MYSQL_RES *, MYSQL_ROW_OFFSET))                           \
    X(mysql_row_tell, MYSQL_ROW_OFFSET, (MYSQL_RES *))                                             \
    X(mysql_field_seek, MYSQL_FIELD_OFFSET, (MYSQL_RES *, MYSQL_FIELD_OFFSET))                     \
    X(mysql_fetch_row, MYSQL_ROW, (MYSQL_RES *))                                                   \
    X(mysql_fetch_lengths, unsigned long *, (MYSQL_RES *))                                         \
    X(mysql_fetch_field, MYSQL_FIELD *, (MYSQL_RES *))                                             \
    X(mysql_use_result, MYSQL_RES *, (MYSQL *))                                                    \
    X(mysql_store_result, MYSQL_RES *, (MYSQL *))                                                  \
    X(mysql_free_result, void, (MYSQL_RES *))                                                      \
    X(mysql_error, const char *, (MYSQL *))                                                        \
    X(mysql_errno, unsigned int, (MYSQL *))                                                        \
    X(mysql_num_rows, my_ulonglong, (MYSQL_RES *))                                                 \
    X(mysql_num_fields, unsigned int, (MYSQL_RES *))                                               \
    X(mysql_field_count, unsigned int, (MYSQL *))                                                  \
    X(mysql_affected_rows, my_ulonglong, (MYSQL *))                                                \
    X(mysql_real_escape_string, unsigned long, (MYSQL *, char *, const char *, unsigned long))     \
    X(mysql_more_results, my_bool, (MYSQL *))                                                      \
    X(mysql_next_result, int, (MYSQL *))                                                           \
    X(mysql_server_init, int, (int, char **, char **))                                             \
    X(mysql_server_end, void, ())                                                                  \
    X(mysql_thread_init, my_bool, ())                                                              \
    X(mysql_thread_end, void, ())                                                                  \
    X(mysql_get_socket, int, (MYSQL *))                                                            \
    X(mysql_thread_id, unsigned long, (MYSQL *))

namespace mysqlapi {
// File name of the client library; the system's library search order decides which file is found.
extern std::string MySQLLibraryName;
// Non-null while the library is loaded: the one test every other part uses.
extern void *MySQLLibHandle;

// Loads and binds the library. True only when this call loaded it; callers test MySQLLibHandle.
bool LoadMySQLLibrary();
// Unloads it and clears every entry point, so that nothing can call into an unmapped library.
// Runs by itself at process end.
void UnloadMySQLLibrary();

#define QUORVANE_DECLARE_ENTRY(name, result, params) extern result(*name) params;
QUORVANE_MYSQL_ENTRY_POINTS(QUORVANE_DECLARE_ENTRY)
#undef QUORVANE_DECLARE_ENTRY

// True when every entry point is null (nothing loaded, or unloaded).
bool NoEntryPointBound();
} // namespace mysqlapi

enum class TClientCapabilities : std::uint16_t
{
    CLIENT_LONG_PASSWORD = 1,
    CLIENT_FOUND_ROWS = 2,
    CLIENT_LONG_FLAG = 4,
    CLIENT_CONNECT_WITH_DB = 8,
    CLIENT_NO_SCHEMA = 16,
    CLIENT_COMPRESS = 32,
    CLIENT_ODBC = 64,
    CLIENT_LOCAL_FILES = 128,
    CLIENT_IGNORE_SPACE = 256,
};
Q_DECLARE_FLAGS(TSetClientCapabilities, TClientCapabilities)
Q_DECLARE_OPERATORS_FOR_FLAGS(TSetClientCapabilities)

// The client flag word of a capability set: the sum of its members' values.
std::uint32_t ClientFlagOf(TSetClientCapabilities set);

// ---------------------------------------------------------------------------------------------
// Events and status

enum TmySQLClientTask_StatusType
{
    stNotConnected,
    stConnecting,
    stIdle,
    stActive,
    stReconnecting
};
extern const char *const StatusTypeNames[5];

using TmySQLClientTask_OnComplete = std::function<void(QObject *Sender)>;
using TmySQLClientTask_OnError = std::function<void(QObject *Sender, const QString &Msg)>;
using TmySQLClientTask_OnStatus = std::function<void(
    QObject *Sender, TmySQLClientTask_StatusType Status, const QString &TaskName, int TasksLeft)>;

struct TmySQLClientTaskData;
using TmySQLClientTaskCompleteEvent =
    std::function<void(QObject *Sender, TmySQLClientTaskData *Task)>;
using TmySQLClientTaskErrorEvent =
    std::function<void(QObject *Sender, TmySQLClientTaskData *Task, const QString &Msg)>;

// The connection every task of one component works on. The library allocates the structure
// itself (mysql_init with no storage), so it always matches the library in use.
struct TmySQLConnection
{
    MYSQL *Handle = nullptr;
    // The connection's socket, kept by the thread that connects, so that a close or an exit can
    // shut it down under a call stuck on a server that stopped answering. -1 when none.
    std::atomic<int> Socket{-1};
};

// How long a connect may take, a read may wait (a statement may run long: the user can always
// disconnect), a write may block, and a close waits for a running statement before it cuts the
// connection under it.
constexpr unsigned int ConnectTimeoutSeconds = 4;
constexpr unsigned int ReadTimeoutSeconds = 3600;
constexpr unsigned int WriteTimeoutSeconds = 60;
constexpr int CloseGraceMilliseconds = 2500;

// A text of the library's as a QString; null gives a null string.
inline QString TextOf(const char *text)
{
    return text ? QString::fromUtf8(text) : QString();
}

// The first 40 bytes of a name, cut on a UTF-8 character boundary.
std::string CutTaskName(const std::string &name);

// An identifier for a statement: in backticks, embedded backticks doubled.
std::string QuoteIdentifier(std::string_view name);

// A statement built from text and values. Text goes in as it stands; each value becomes a
// single-quoted literal escaped by the library's mysql_real_escape_string when the statement runs
// on the worker, so the escaping follows the connection's character set and its current SQL mode
// (NO_BACKSLASH_ESCAPES included). A missing value is NULL.
class TmySQLStatement
{
public:
    TmySQLStatement() = default;
    TmySQLStatement(std::string text) { FParts.back() = std::move(text); } // NOLINT: implicit

    TmySQLStatement &Text(std::string_view text);
    TmySQLStatement &Identifier(std::string_view name) { return Text(QuoteIdentifier(name)); }
    TmySQLStatement &Value(std::optional<std::string> value);
    // Bytes as a hexadecimal literal, X'...': exact for binary values under every SQL mode and
    // character set.
    TmySQLStatement &HexValue(std::string_view bytes);

    bool HasValues() const { return !FValues.empty(); }
    // The statement with every value given by the escape function (the worker's is the
    // library's). Without values it is the text alone.
    std::string Build(const std::function<std::string(const std::string &)> &escape) const;
    // For display: values shown as escaped by the plain doubling of quotes and backslashes.
    std::string Preview() const;

private:
    std::vector<std::string> FParts{std::string()}; // one more than values
    std::vector<std::optional<std::string>> FValues;
};

// What a column of a result is, captured on the worker when the result arrives.
struct TmySQLFieldInfo
{
    std::string Name;
    std::string OrgName;
    std::string Table;
    std::string OrgTable;
    std::string Db;
    unsigned int Flags = 0;
    unsigned int CharsetNr = 0;
    int Type = 0;
    bool PrimaryKey() const { return Flags & PRI_KEY_FLAG; }
    bool Binary() const { return (Flags & BINARY_FLAG) && CharsetNr == 63; }
};

// A whole result packed on the worker for a store that takes it by move: a cell block whose row
// 0 holds the column names and rows 1.. the result's rows.
using TmySQLResultBlock = TCellBlock;

// ---------------------------------------------------------------------------------------------
// Task record

// What a task asks of the library. The numbers are the published ones (AddQueryTask and
// AddDatabaseTask take them).
enum class TmySQLTaskKind : std::uint8_t
{
    Connect = 0,     // mysql_init, mysql_connect
    Close = 1,       // mysql_close
    RealConnect = 2, // mysql_init, mysql_real_connect
    SelectDatabase = 3,
    CreateDatabase = 4,
    DropDatabase = 5,
    Modify = 6, // a statement whose result is not kept
    Query = 7,  // a statement whose result is stored and read
    ListDatabases = 8,
    ListTables = 9,
    ListFields = 10,
    ListProcesses = 11,
    Ping = 12,
    Shutdown = 13,
    Kill = 14,
    Options = 15,
    Refresh = 16,
};
constexpr int TaskKindCount = 17;
constexpr bool IsConnect(TmySQLTaskKind kind)
{
    return kind == TmySQLTaskKind::Connect || kind == TmySQLTaskKind::RealConnect;
}
// Runs on an open connection without opening or closing it: may be cut off under the socket.
constexpr bool IsStatement(TmySQLTaskKind kind)
{
    return !IsConnect(kind) && kind != TmySQLTaskKind::Close;
}

struct TmySQLClientTaskData
{
    TmySQLClientTaskData() { ++FLive; }
    ~TmySQLClientTaskData(); // frees ResultSet through mysql_free_result
    // Records alive in the process: a test's measure of what was leaked.
    static int Live() { return FLive.load(); }
    static inline std::atomic<int> FLive{0};
    TmySQLClientTaskData(const TmySQLClientTaskData &) = delete;
    TmySQLClientTaskData &operator=(const TmySQLClientTaskData &) = delete;

    std::string TaskName; // at most 40 bytes
    TmySQLTaskKind TaskKind = TmySQLTaskKind::Connect;
    const char *Wild = nullptr;
    QStringList ResultList;
    std::string Table;
    // Text inputs are kept whole: the server decides what is too long.
    std::string SQL;
    std::string Host;
    std::string User;
    std::string Passwd;
    std::string Db;
    std::uint32_t Port = 0;
    const char *UnixSocket = nullptr;
    std::uint32_t ClientFlag = 0;
    MYSQL *ConnectResult = nullptr;
    MYSQL_RES *ResultSet = nullptr;
    std::int32_t ReturnCode = 0;
    std::uint32_t ProcessId = 0;
    std::uint8_t Option = 0;
    std::uint32_t RefreshOptions = 0;
    const void *OptionArg = nullptr;
    std::int32_t KeyColumn = 0;
    TmySQLClientTaskCompleteEvent OnTaskComplete;
    TmySQLClientTaskErrorEvent OnTaskError;
    TmySQLClientTask_OnComplete OnComplete;
    TmySQLClientTask_OnError OnError;
    // The library's error text and number, taken on the thread that ran the task right after the
    // call failed, so that the next task on the connection cannot overwrite them.
    std::string ErrorText;
    unsigned int ErrorNumber = 0;

    // A statement with values to escape on the worker (modify and query); SQL holds the text
    // sent.
    std::optional<TmySQLStatement> Statement;
    // Rows changed by a statement that gave no result set; -1 when unknown.
    std::int64_t AffectedRows = -1;
    // A query: the stored result's row count, the entry of every RowMarkStep-th row (a row is
    // found from the mark before it in a few steps, for a sixty-fourth of the memory of one
    // entry per row), and the columns, gathered on the worker.
    static constexpr std::size_t RowMarkStep = 64;
    std::size_t RowCount = 0;
    std::vector<MYSQL_ROW_OFFSET> RowMarks;
    MYSQL_ROW_OFFSET RowEntry(std::size_t row) const;
    std::vector<TmySQLFieldInfo> Fields;
    // A query: pack the result into Block as well.
    bool Pack = false;
    std::unique_ptr<TCheckedCellBlock> Block;
    // The requester's result is released once its event returns (threaded delivery), decided
    // when it was submitted, not by a mode switched on for the length of a blocking close.
    bool ClearAfterEvent = false;
    // Connect: what the connection made says of itself, and the server's status line then.
    std::string ServerInfo;
    std::string HostInfo;
    std::string StatText;
    std::uint64_t ConnectionId = 0;
};

// ---------------------------------------------------------------------------------------------
// Queue and worker

class TmySQLClientTaskHandler;

// Message numbers from the worker to the handler's window.
constexpr int WM_TASK_DONE = 1025;
constexpr int WM_TASK_FAILED = 1026;

// The task queue and its one worker thread. The worker sleeps on a condition variable while it
// may not take a task; only one thread runs a task at any moment, so the connection is never used
// by two threads at once.
// Ends every worker thread of the process (each after its current task, a statement cut off
// past the grace period); their queues stay. Run before the library is unloaded.
void StopAllWorkers();

class TmySQLClientThread : public QObject
{
public:
    explicit TmySQLClientThread(TmySQLClientTaskHandler *handler);
    ~TmySQLClientThread() override; // asks the worker to end and joins it; frees waiting tasks

    void AddConnectTask(const std::string &Host, const std::string &User, const std::string &Passwd,
                        const std::string &Db, std::uint32_t Port, const char *UnixSocket,
                        std::uint32_t ClientFlag, const std::string &TaskName,
                        TmySQLClientTaskCompleteEvent OnTaskComplete,
                        TmySQLClientTaskErrorEvent OnTaskError,
                        TmySQLClientTask_OnComplete OnComplete, TmySQLClientTask_OnError OnError);
    int AddCloseTask(const std::string &TaskName, TmySQLClientTaskCompleteEvent OnTaskComplete,
                     TmySQLClientTaskErrorEvent OnTaskError, TmySQLClientTask_OnComplete OnComplete,
                     TmySQLClientTask_OnError OnError);
    int AddQueryTask(TmySQLTaskKind Kind, const std::string &SQL, const std::string &TaskName,
                     TmySQLClientTaskCompleteEvent OnTaskComplete,
                     TmySQLClientTaskErrorEvent OnTaskError, TmySQLClientTask_OnComplete OnComplete,
                     TmySQLClientTask_OnError OnError);
    int AddDatabaseTask(TmySQLTaskKind Kind, const std::string &Db, const std::string &TaskName,
                        TmySQLClientTaskCompleteEvent OnTaskComplete,
                        TmySQLClientTaskErrorEvent OnTaskError,
                        TmySQLClientTask_OnComplete OnComplete, TmySQLClientTask_OnError OnError);
    // Adds a task built by the caller (any kind). A connect goes to the head of the queue, but
    // never ahead of a close still waiting there: what was asked before a close runs before it.
    int AddTask(std::unique_ptr<TmySQLClientTaskData> task);

    // Runs the queue on the calling thread until it is empty, after the worker's current task;
    // for a close (cutOff), a task of the worker's still running after the grace period is cut
    // off, otherwise it is waited for.
    void RunAll(bool cutOff = false);
    // The number of the task being run (every task taken gets the next), 0 when none.
    std::uint64_t RunningSerial() const;
    // Cuts off the statement with that number if it still runs.
    void CutOff(std::uint64_t serial);
    // Wakes the worker (threaded mode).
    void Wake();
    // Frees every waiting task.
    void ClearTasks();
    int TaskCount() const;
    // True while the worker sleeps with nothing it may take.
    bool Suspended() const;
    // True while some thread runs a task or a direct call holds the connection.
    bool Busy() const;
    // A connect task waits, runs, or has finished without its report delivered yet.
    bool ConnectPending() const;
    // Nothing waits, nothing runs.
    bool Idle() const;
    // Reports finished on the worker and not yet delivered on the window thread.
    int MailCount() const;
    // Waits until no thread uses the connection, cutting off a statement that runs past the
    // grace period.
    void WaitIdle();

    bool Threaded() const;
    void setThreaded(bool value);
    TmySQLConnection *MySQL() const { return FMySQL; }
    void setMySQL(TmySQLConnection *value) { FMySQL = value; }

    TmySQLClientTask_OnStatus FOnStatus;
    std::function<void(QObject *Sender)> FOnTaskDone;

    // Exclusive use of the connection for a call outside the queue (the utility object's direct
    // calls): waits for the task being run and goes ahead of every waiting task. Bounded like a
    // close: a task still running after the grace period is left alone and the lease is not
    // granted (Held() false); a call still on the connection after the grace period has the
    // connection cut under it, so the caller never waits on the network without a bound.
    class Lease
    {
    public:
        explicit Lease(TmySQLClientThread *thread);
        ~Lease();
        Lease(const Lease &) = delete;
        Lease &operator=(const Lease &) = delete;
        bool Held() const { return m_held; }

    private:
        TmySQLClientThread *m_thread;
        bool m_held = false;
        bool m_done = false;
        std::condition_variable m_finished;
        std::thread m_watchdog;
    };

private:
    friend class TmySQLClientTaskHandler;
    friend void StopAllWorkers();
    void Execute();
    // Inline: runs it and calls its steps directly.
    void RunTask(std::unique_ptr<TmySQLClientTaskData> task);
    // Hand the task to its step, which owns it from then on (the published step events take the
    // record itself); without a step it is freed here.
    void NotifyComplete(std::unique_ptr<TmySQLClientTaskData> task);
    void NotifyError(std::unique_ptr<TmySQLClientTaskData> task);
    // A task of that kind with its name and events: what every Add*Task starts from.
    std::unique_ptr<TmySQLClientTaskData> newTask(TmySQLTaskKind Kind, const std::string &TaskName,
                                                  TmySQLClientTaskCompleteEvent OnTaskComplete,
                                                  TmySQLClientTaskErrorEvent OnTaskError,
                                                  TmySQLClientTask_OnComplete OnComplete,
                                                  TmySQLClientTask_OnError OnError);
    void takeTask(TmySQLClientTaskData *task); // under FLock: marks it running
    void releaseConnection();
    // Ends the worker and joins it; waiting tasks stay queued. A statement stuck past the grace
    // period is cut off first.
    void Stop();
    // Under FLock: waits until no thread uses the connection. A statement still running after
    // the grace period has its connection shut down under it, so the wait always ends.
    void waitForConnection(std::unique_lock<std::mutex> &lock, bool cutOff = true);
    // Under FLock: shuts the connection's socket down while a statement runs on it.
    void interruptLocked();
    // Under FLock: posts the window's wake-up for a finished task of the given message.
    void postWakeUp(int message);

    TmySQLClientTaskHandler *FHandler;
    QObject *FNotifyWindow = nullptr;
    TmySQLConnection *FMySQL = nullptr;

    mutable std::mutex FLock;
    std::condition_variable FWake; // the worker waits here
    std::condition_variable FIdle; // waits for the connection to be free
    std::deque<std::unique_ptr<TmySQLClientTaskData>> FTaskList;
    bool FThreaded = true;
    bool FTerminated = false;
    bool FBusy = false; // some thread is using the connection
    // What holds the connection: nothing, a task of the queue, or a direct call.
    enum class Holder
    {
        None,
        Task,
        DirectCall
    };
    Holder FHolder = Holder::None;
    TmySQLTaskKind FRunningKind = TmySQLTaskKind::Connect; // of the task, while Holder::Task
    bool runningStatementLocked() const
    {
        return FHolder == Holder::DirectCall ||
               (FHolder == Holder::Task && IsStatement(FRunningKind));
    }
    std::uint64_t FRunningSerial = 0, FLastSerial = 0;
    int FLeaseWaiters = 0; // direct calls waiting for the connection go first
    int FInlineRuns = 0;   // a thread is running the queue inline: the worker keeps off
    bool FSleeping = true; // created asleep: the worker first runs when woken
    // The hidden window's message queue: finished tasks with their message number, in the order
    // the worker finished them. One posted event tells the window that mail is waiting, so a
    // burst of finished tasks costs one wake-up of the window thread, not one each.
    std::deque<std::pair<int, std::unique_ptr<TmySQLClientTaskData>>> FMailbox;
    bool FMailPosted = false;
    // The wake-up events are made on the window thread and handed to the worker under FLock, so
    // every access to them is ordered by a lock the thread sanitizer sees (Qt's own queue lock
    // is invisible to it). One for each message number.
    QEvent *FSpareEvents[2] = {nullptr, nullptr};
    // While the window thread polls the mailbox on a short timer (work is under way), the worker
    // posts only for the last task of a run, so a burst of results costs a few wake-ups of the
    // window thread instead of one per task.
    bool FPolling = false;
    // Deliveries on the window thread's stack: a handler in one of them may wait in a nested
    // loop for the next result, and the polling timer cannot fire inside its own timeout, so the
    // worker posts for every result while this is above zero.
    int FDeliveries = 0;
    std::thread FThread;
};

// The hidden window: a QObject on the window thread whose event handler is the message procedure.
class TmySQLClientTaskWindow : public QObject
{
public:
    explicit TmySQLClientTaskWindow(TmySQLClientTaskHandler *handler) : FHandler(handler) {}
    bool event(QEvent *e) override;
    TmySQLClientTaskHandler *FHandler;
};

class TmySQLClientTaskHandler : public QObject
{
public:
    explicit TmySQLClientTaskHandler(bool Threaded, QObject *parent = nullptr);
    ~TmySQLClientTaskHandler() override;

    TmySQLClientThread *Thread() const { return FThread.get(); }
    TmySQLConnection *MySQL() const { return FThread->MySQL(); }
    void setMySQL(TmySQLConnection *value) { FThread->setMySQL(value); }
    bool Threaded() const { return FThreaded; }
    void setThreaded(bool value);
    // Runs the queue (inline, or by waking the worker); closing cuts off a stuck statement.
    void ProcessTasks(bool closing = false);
    void ClearTasks() { FThread->ClearTasks(); }
    // Drops reports posted to the window and not yet delivered (their tasks are freed).
    void DropPostedMessages();
    // Delivers every waiting message in order; called for the window's event, and before the
    // queue is run inline so that earlier reports come first.
    void DeliverMessages();
    // The window's wake-up event: answered, then every waiting message delivered.
    void WakeUp();
    // The message procedure: one finished task (1025 done, 1026 failed).
    void WndProc(int Msg, std::unique_ptr<TmySQLClientTaskData> Task);

    // True while a delivery or an inline run of this handler is on the call stack: its owner is
    // then being destroyed from inside one of its own events and must not free it at once.
    bool InUse() const { return FDepth > 0; }
    // Stops the worker, drops every waiting task and report and detaches every hook, so the
    // frames still on the stack return without touching their owner.
    void Abandon();
    bool Abandoned() const { return FAbandoned; }
    // For an owner going away while InUse: abandons the handler, which frees itself when its
    // last frame has returned. Not a deferred delete: one of those would run inside a nested
    // event loop that a handler started, with the outer frames still on the stack.
    void Orphan();

    // One frame of this handler on the window thread's stack (a delivery, the mail timer, an
    // inline run). An orphaned handler is freed when its last frame ends; after that the frame's
    // function must touch nothing of it.
    class Frame
    {
    public:
        explicit Frame(TmySQLClientTaskHandler *handler);
        ~Frame();
        Frame(const Frame &) = delete;
        Frame &operator=(const Frame &) = delete;

    private:
        TmySQLClientTaskHandler *m_handler;
    };

private:
    friend class TmySQLClientThread;
    void MailTimer();
    void refillSpareEvents();

    std::unique_ptr<TmySQLClientTaskWindow> FWindow;
    QTimer FMailTimer;
    bool FThreaded = false;
    int FDepth = 0;
    bool FAbandoned = false;
    bool FOrphaned = false;
    std::unique_ptr<TmySQLClientThread> FThread;
};

// ---------------------------------------------------------------------------------------------
// Request objects

class TmySQLClientQuery : public QObject
{
public:
    TmySQLClientQuery();
    ~TmySQLClientQuery() override;

    TmySQLClientTaskHandler *FTaskHandler = nullptr;
    TmySQLClientTask_OnComplete FOnQuery;
    TmySQLClientTask_OnError FOnQueryError;

    void Submit(const std::string &SQL, const std::string &TaskName);
    void SubmitWithHandlers(const std::string &SQL, const std::string &TaskName,
                            TmySQLClientTask_OnComplete OnComplete,
                            TmySQLClientTask_OnError OnError);
    // A statement with escaped values; with Pack the result also comes as a compact block.
    void SubmitStatement(const TmySQLStatement &Statement, const std::string &TaskName,
                         bool Pack = false);
    void SubmitStatementWithHandlers(const TmySQLStatement &Statement, const std::string &TaskName,
                                     bool Pack, TmySQLClientTask_OnComplete OnComplete,
                                     TmySQLClientTask_OnError OnError);

    TmySQLClientTaskData *Task() const { return FHeld.Task.get(); }
    int RowCount() const { return static_cast<int>(FHeld.RowCount); }
    int FieldCount() const;
    QString FieldName(int Index);
    // The column's description; null outside the result.
    const TmySQLFieldInfo *FieldInfo(int Index) const;
    // The cell's text as the library gives it: null for SQL NULL and when no task is held,
    // empty outside the result. Valid until Clear.
    const char *Value(int Row, int Col) const;
    // The cell's length in bytes: a value may hold NUL bytes.
    std::size_t ValueLength(int Row, int Col) const;
    std::string_view ValueBytes(int Row, int Col) const;
    bool IsNull(int Row, int Col) const;
    // The row's key-column text (empty for NULL or a key column beyond the result).
    QString RowText(int Row) const;
    // The held result packed for a compact store (submitted with Pack), handed over once.
    std::unique_ptr<TCheckedCellBlock> TakeBlock();
    void Clear();
    // How often the column names were read from the result, for callers that check it.
    int FieldNameLoads() const { return FFieldNameLoads; }
    // Of the last statement that finished, set before its event runs: the rows a statement
    // without result set changed (-1 when unknown) and the library's error number.
    std::int64_t AffectedRows() const { return FAffectedRows; }
    unsigned int ErrorNumber() const { return FErrorNumber; }

private:
    void addTask(std::unique_ptr<TmySQLClientTaskData> task, TmySQLClientTask_OnComplete OnComplete,
                 TmySQLClientTask_OnError OnError);
    void TaskComplete(QObject *Sender, TmySQLClientTaskData *Task);
    void TaskError(QObject *Sender, TmySQLClientTaskData *Task, const QString &Msg);
    void LoadFieldNames();

    // What one OnQuery handler reads. A result delivered while a handler still runs (it let the
    // event loop run) gets a fresh one, and the outer handler's comes back when it returns.
    struct Held
    {
        std::unique_ptr<TmySQLClientTaskData> Task;
        // Tasks still backing listed rows when a new result arrived before Clear.
        std::vector<std::unique_ptr<TmySQLClientTaskData>> Older;
        // The listed rows: runs of consecutive rows of one task each (owned above), in order.
        struct Run
        {
            TmySQLClientTaskData *Task;
            std::size_t First;
        };
        std::vector<Run> Runs;
        std::size_t RowCount = 0;
        QStringList FieldNames;
        bool FieldNamesLoaded = false;
        void Release();
    };
    // The task and index of a listed row; its row in the library's stored result; its cells'
    // lengths, which the library gives for the row it read last, so the last asked are kept.
    bool locate(int Row, TmySQLClientTaskData *&task, std::size_t &index) const;
    MYSQL_ROW rowAt(int Row, TmySQLClientTaskData **task = nullptr) const;
    const unsigned long *lengthsAt(int Row) const;
    mutable TmySQLClientTaskData *FCachedTask = nullptr;
    mutable std::size_t FCachedIndex = 0;
    mutable const unsigned long *FCachedLengths = nullptr;
    Held FHeld;
    int FEventDepth = 0;
    int FFieldNameLoads = 0;
    std::int64_t FAffectedRows = -1;
    unsigned int FErrorNumber = 0;
};

class TmySQLClientModify : public QObject
{
public:
    TmySQLClientModify() = default;
    ~TmySQLClientModify() override { Clear(); }

    TmySQLClientTaskHandler *FTaskHandler = nullptr;
    std::vector<std::pair<QString, std::unique_ptr<QObject>>> FItems;
    TmySQLClientTask_OnComplete FOnModify;
    TmySQLClientTask_OnError FOnModifyError;
    void Clear() { FItems.clear(); }
};

// The events of the task kinds the utility object carries, in kind order. The component and the
// utility object hold the same block, copied as one piece at each connect.
struct TmySQLClientKindEvents
{
    TmySQLClientTask_OnComplete OnSelectDatabase;
    TmySQLClientTask_OnError OnSelectDatabaseError;
    TmySQLClientTask_OnComplete OnCreateDatabase;
    TmySQLClientTask_OnError OnCreateDatabaseError;
    TmySQLClientTask_OnComplete OnDropDatabase;
    TmySQLClientTask_OnError OnDropDatabaseError;
    TmySQLClientTask_OnComplete OnListDatabases;
    TmySQLClientTask_OnError OnListDatabasesError;
    TmySQLClientTask_OnComplete OnListTables;
    TmySQLClientTask_OnError OnListTablesError;
    TmySQLClientTask_OnComplete OnListFields;
    TmySQLClientTask_OnError OnListFieldsError;
    TmySQLClientTask_OnComplete OnListProcesses;
    TmySQLClientTask_OnError OnListProcessesError;
    TmySQLClientTask_OnComplete OnPing;
    TmySQLClientTask_OnError OnPingError;
    TmySQLClientTask_OnComplete OnShutdown;
    TmySQLClientTask_OnError OnShutdownError;
    TmySQLClientTask_OnComplete OnKill;
    TmySQLClientTask_OnError OnKillError;
    TmySQLClientTask_OnComplete OnOptions;
    TmySQLClientTask_OnError OnOptionsError;
    TmySQLClientTask_OnComplete OnRefresh;
    TmySQLClientTask_OnError OnRefreshError;
};

class TmySQLClientUtility : public QObject
{
public:
    TmySQLClientUtility() = default;

    TmySQLClientTaskHandler *FTaskHandler = nullptr;
    TmySQLClientKindEvents Events;

    void Connect(const std::string &Host, const std::string &User, const std::string &Password,
                 const std::string &Database, int Port, std::uint32_t ClientFlag,
                 const std::string &TaskName, TmySQLClientTask_OnComplete OnComplete,
                 TmySQLClientTask_OnError OnError);
    void Close(const std::string &TaskName, TmySQLClientTask_OnComplete OnComplete,
               TmySQLClientTask_OnError OnError);
    void SelectDatabase(const std::string &Database, const std::string &TaskName);
    void SelectDatabaseWithHandlers(const std::string &Database, const std::string &TaskName,
                                    TmySQLClientTask_OnComplete OnComplete,
                                    TmySQLClientTask_OnError OnError);
    // What the connection made says of itself, captured when the connect succeeded: these
    // never wait for the server or the worker. Empty while not connected.
    QString ServerInfo() const { return FServerInfo; }
    QString HostInfo() const { return FHostInfo; }
    // The host name the connection made was asked for.
    QString ConnectedHost() const { return FConnectedHost; }
    // The server's status line: a direct call on the connection, made as soon as the worker's
    // current task has finished, ahead of every waiting task; bounded (see Lease), with the
    // reason in its place when it could not be had.
    QString Stat();
    // The status line read on the worker right after the connect: no wait at all.
    QString StatAtConnect() const { return FStatAtConnect; }
    // The server's number for the connection made (its CONNECTION_ID()), 0 while not connected.
    std::uint64_t ConnectionId() const { return FConnectionId; }

private:
    void TaskComplete(QObject *Sender, TmySQLClientTaskData *Task);
    void TaskError(QObject *Sender, TmySQLClientTaskData *Task, const QString &Msg);
    QString FServerInfo;
    QString FHostInfo;
    QString FConnectedHost;
    QString FStatAtConnect;
    std::uint64_t FConnectionId = 0;
};
