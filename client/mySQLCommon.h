#pragma once

// The database client's machinery: the run-time binding of the MySQL C client library, the task
// record, the task queue with its one worker thread, the task handler that delivers finished
// tasks on the window thread, and the three request objects. Qt Core only.

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
#include <string>
#include <thread>
#include <vector>

// The library's types, declared here rather than taken from its headers: the library is loaded at
// run time, and the few layouts we read are the ones every MySQL and MariaDB client shares.
struct st_mysql;
struct st_mysql_res;
using MYSQL = st_mysql;
using MYSQL_RES = st_mysql_res;
using MYSQL_ROW = char **;
using MYSQL_ROW_OFFSET = void *;
using MYSQL_FIELD_OFFSET = unsigned int;
using my_ulonglong = unsigned long long;
using my_bool = char;
// A field description begins with its column name, original name and table name.
struct MYSQL_FIELD
{
    char *name;
    char *org_name;
    char *table;
};
constexpr int MYSQL_SET_CHARSET_NAME = 7; // option number of mysql_options

// ---------------------------------------------------------------------------------------------
// Library binding

namespace mysqlapi {
// File name of the client library; the system's library search order decides which file is found.
extern std::string MySQLLibraryName;
// Non-null while the library is loaded: the one test every other part uses.
extern void *MySQLLibHandle;

// Loads and binds the library. True only when this call loaded it; callers test MySQLLibHandle.
bool LoadMySQLLibrary();

// The 35 entry points, named as the library exports them (null where the library lacks one),
// followed by the accessors and initialisers we need beside them.
extern void (*mysql_debug)(const char *);
extern int (*mysql_dump_debug_info)(MYSQL *);
extern MYSQL *(*mysql_init)(MYSQL *);
extern MYSQL *(*mysql_connect)(MYSQL *, const char *, const char *, const char *);
extern MYSQL *(*mysql_real_connect)(MYSQL *, const char *, const char *, const char *, const char *,
                                    unsigned int, const char *, unsigned long);
extern void (*mysql_close)(MYSQL *);
extern int (*mysql_select_db)(MYSQL *, const char *);
extern int (*mysql_create_db)(MYSQL *, const char *);
extern int (*mysql_drop_db)(MYSQL *, const char *);
extern int (*mysql_query)(MYSQL *, const char *);
extern int (*mysql_real_query)(MYSQL *, const char *, unsigned long);
extern int (*mysql_shutdown)(MYSQL *, int);
extern int (*mysql_refresh)(MYSQL *, unsigned int);
extern int (*mysql_kill)(MYSQL *, unsigned long);
extern int (*mysql_ping)(MYSQL *);
extern const char *(*mysql_stat)(MYSQL *);
extern int (*mysql_options)(MYSQL *, int, const void *);
extern unsigned long (*mysql_escape_string)(char *, const char *, unsigned long);
extern const char *(*mysql_get_server_info)(MYSQL *);
extern const char *(*mysql_get_client_info)();
extern const char *(*mysql_get_host_info)(MYSQL *);
extern unsigned int (*mysql_get_proto_info)(MYSQL *);
extern MYSQL_RES *(*mysql_list_fields)(MYSQL *, const char *, const char *);
extern MYSQL_RES *(*mysql_list_processes)(MYSQL *);
extern MYSQL_RES *(*mysql_list_dbs)(MYSQL *, const char *);
extern MYSQL_RES *(*mysql_list_tables)(MYSQL *, const char *);
extern void (*mysql_data_seek)(MYSQL_RES *, unsigned long long);
extern MYSQL_ROW_OFFSET (*mysql_row_seek)(MYSQL_RES *, MYSQL_ROW_OFFSET);
extern MYSQL_FIELD_OFFSET (*mysql_field_seek)(MYSQL_RES *, MYSQL_FIELD_OFFSET);
extern MYSQL_ROW (*mysql_fetch_row)(MYSQL_RES *);
extern unsigned long *(*mysql_fetch_lengths)(MYSQL_RES *);
extern MYSQL_FIELD *(*mysql_fetch_field)(MYSQL_RES *);
extern MYSQL_RES *(*mysql_use_result)(MYSQL *);
extern MYSQL_RES *(*mysql_store_result)(MYSQL *);
extern void (*mysql_free_result)(MYSQL_RES *);
// Accessors for values read out of the library's structures, and its initialisers.
extern const char *(*mysql_error)(MYSQL *);
extern my_ulonglong (*mysql_num_rows)(MYSQL_RES *);
extern unsigned int (*mysql_num_fields)(MYSQL_RES *);
extern int (*mysql_server_init)(int, char **, char **);
extern void (*mysql_server_end)();
extern my_bool (*mysql_thread_init)();
extern void (*mysql_thread_end)();
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
};

// The first 40 bytes of a name, cut on a UTF-8 character boundary.
std::string CutTaskName(const std::string &name);

// ---------------------------------------------------------------------------------------------
// Task record

struct TmySQLClientTaskData
{
    TmySQLClientTaskData() = default;
    ~TmySQLClientTaskData(); // frees ResultSet through mysql_free_result
    TmySQLClientTaskData(const TmySQLClientTaskData &) = delete;
    TmySQLClientTaskData &operator=(const TmySQLClientTaskData &) = delete;

    std::string TaskName; // at most 40 bytes
    std::uint8_t TaskKind = 0;
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
    // The library's error text, taken on the thread that ran the task right after the call
    // failed, so that the next task on the connection cannot overwrite it.
    std::string ErrorText;
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
    int AddQueryTask(std::uint8_t Kind, const std::string &SQL, const std::string &TaskName,
                     TmySQLClientTaskCompleteEvent OnTaskComplete,
                     TmySQLClientTaskErrorEvent OnTaskError, TmySQLClientTask_OnComplete OnComplete,
                     TmySQLClientTask_OnError OnError);
    int AddDatabaseTask(std::uint8_t Kind, const std::string &Db, const std::string &TaskName,
                        TmySQLClientTaskCompleteEvent OnTaskComplete,
                        TmySQLClientTaskErrorEvent OnTaskError,
                        TmySQLClientTask_OnComplete OnComplete, TmySQLClientTask_OnError OnError);
    // Adds a task built by the caller (any kind); connect tasks go to the head.
    int AddTask(std::unique_ptr<TmySQLClientTaskData> task);

    // Runs the queue on the calling thread until it is empty, after the worker's current task.
    void RunAll();
    // Wakes the worker (threaded mode).
    void Wake();
    // Frees every waiting task.
    void ClearTasks();
    int TaskCount() const;
    // True while the worker sleeps with nothing it may take.
    bool Suspended() const;

    bool Threaded() const;
    void setThreaded(bool value);
    TmySQLConnection *MySQL() const { return FMySQL; }
    void setMySQL(TmySQLConnection *value) { FMySQL = value; }

    TmySQLClientTask_OnStatus FOnStatus;
    std::function<void(QObject *Sender)> FOnTaskDone;

    // Exclusive use of the connection for a call outside the queue (the utility object's direct
    // calls): waits for the task being run and keeps every other thread from starting one.
    class Lease
    {
    public:
        explicit Lease(TmySQLClientThread *thread);
        ~Lease();
        Lease(const Lease &) = delete;
        Lease &operator=(const Lease &) = delete;

    private:
        TmySQLClientThread *m_thread;
    };

private:
    friend class TmySQLClientTaskHandler;
    void Execute();
    void RunTask(TmySQLClientTaskData *task); // inline: runs it and calls its steps directly
    void NotifyComplete(TmySQLClientTaskData *task);
    void NotifyError(TmySQLClientTaskData *task);
    std::unique_ptr<TmySQLClientTaskData> newTask(const std::string &TaskName,
                                                  TmySQLClientTaskCompleteEvent OnTaskComplete,
                                                  TmySQLClientTaskErrorEvent OnTaskError,
                                                  TmySQLClientTask_OnComplete OnComplete,
                                                  TmySQLClientTask_OnError OnError);
    void acquireConnection(std::unique_lock<std::mutex> &lock);
    void releaseConnection();

    TmySQLClientTaskHandler *FHandler;
    QObject *FNotifyWindow = nullptr;
    TmySQLConnection *FMySQL = nullptr;

    mutable std::mutex FLock;
    std::condition_variable FWake; // the worker waits here
    std::condition_variable FIdle; // waits for the connection to be free
    std::deque<TmySQLClientTaskData *> FTaskList;
    bool FThreaded = true;
    bool FTerminated = false;
    bool FBusy = false;  // some thread is using the connection
    int FInlineRuns = 0; // a thread is running the queue inline: the worker keeps off
    bool FSleeping = false;
    // The hidden window's message queue: finished tasks with their message number, in the order
    // the worker finished them. One posted event tells the window that mail is waiting, so a
    // burst of finished tasks costs one wake-up of the window thread, not one each.
    std::deque<std::pair<int, TmySQLClientTaskData *>> FMailbox;
    bool FMailPosted = false;
    // While the window thread polls the mailbox on a short timer (work is under way), the worker
    // posts only for the last task of a run, so a burst of results costs a few wake-ups of the
    // window thread instead of one per task.
    bool FPolling = false;
    std::thread FThread;
};

// The hidden window: a QObject on the window thread whose event handler is the message procedure.
class TmySQLClientTaskWindow : public QObject
{
public:
    explicit TmySQLClientTaskWindow(TmySQLClientTaskHandler *handler) : FHandler(handler) {}
    bool event(QEvent *e) override;

private:
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
    void ProcessTasks();
    void ClearTasks() { FThread->ClearTasks(); }
    // Drops reports posted to the window and not yet delivered (their tasks are freed).
    void DropPostedMessages();
    // Delivers every waiting message in order; called for the window's event, and before the
    // queue is run inline so that earlier reports come first.
    void DeliverMessages();
    // The message procedure: one finished task (1025 done, 1026 failed).
    void WndProc(int Msg, TmySQLClientTaskData *Task);

private:
    void MailTimer();

    std::unique_ptr<TmySQLClientTaskWindow> FWindow;
    QTimer FMailTimer;
    bool FThreaded = false;
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
    TmySQLClientTaskData *Task() const { return FTask; }
    int RowCount() const { return static_cast<int>(FRows.size()); }
    int FieldCount() const;
    QString FieldName(int Index);
    // The cell's text as the library gives it: null for SQL NULL and when no task is held,
    // empty outside the result. Valid until Clear.
    const char *Value(int Row, int Col) const;
    // The row's key-column text (empty for NULL or a key column beyond the result).
    QString RowText(int Row) const;
    void Clear();
    // How often the column names were read from the result, for callers that check it.
    int FieldNameLoads() const { return FFieldNameLoads; }

private:
    void TaskComplete(QObject *Sender, TmySQLClientTaskData *Task);
    void TaskError(QObject *Sender, TmySQLClientTaskData *Task, const QString &Msg);
    void LoadFieldNames();

    struct Row
    {
        MYSQL_ROW Values;
        unsigned int Columns;
        int KeyColumn;
    };
    std::vector<Row> FRows;
    QStringList FFieldNames;
    std::vector<MYSQL_FIELD *> FFields;
    bool FFieldNamesLoaded = false;
    TmySQLClientTaskData *FTask = nullptr;
    // Tasks still backing listed rows when a new result arrived before Clear.
    std::vector<TmySQLClientTaskData *> FOlderTasks;
    int FFieldNameLoads = 0;
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
    // Direct calls on the connection, made once the worker's current task has finished. Each
    // gives a copy, so no later task can change the text under the caller.
    QString ServerInfo();
    QString HostInfo();
    QString Stat();

private:
    void TaskComplete(QObject *Sender, TmySQLClientTaskData *Task);
    void TaskError(QObject *Sender, TmySQLClientTaskData *Task, const QString &Msg);
    QString directCall(const char *(*call)(MYSQL *));
};
