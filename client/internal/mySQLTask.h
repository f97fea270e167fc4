#pragma once

// The task record: what one request asks of the library and what the library answered, and the
// connection every task of a component works on. Private to the client.

#include "mySQLLibrary.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// The connection every task of one component works on. The library allocates the structure
// itself (mysql_init with no storage), so it always matches the library in use.
struct TmySQLConnection
{
    MYSQL *Handle = nullptr;
    // The connection's socket, kept by the thread that connects, so that a close or an exit can
    // shut it down under a call stuck on a server that stopped answering. -1 when none.
    std::atomic<int> Socket{-1};
    // A statement of the user's own has run since the character set was last set: the session's
    // may no longer be utf8mb4 (SET NAMES), and the statements the program builds are UTF-8.
    bool CharsetUnsure = false;
    // The last script statement (SubmitScript) failed or was stopped.
    bool LastScriptFailed = false;
};

// How long a connect may take, a read may wait (a statement may run long: the user can always
// disconnect), a write may block, and a close waits for a running statement before it cuts the
// connection under it.
constexpr unsigned int ConnectTimeoutSeconds = 4;
constexpr unsigned int ReadTimeoutSeconds = 3600;
constexpr unsigned int WriteTimeoutSeconds = 60;
constexpr int CloseGraceMilliseconds = 2500;

// The first 40 bytes of a name, cut on a UTF-8 character boundary.
std::string CutTaskName(const std::string &name);

// ---------------------------------------------------------------------------------------------
// Task record

// What a task asks of the library. The numbers are the published ones.
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
    Stream = 17, // a statement whose rows are read as they come, and handed over in batches
};
constexpr int TaskKindCount = 18;
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
    std::string UnixSocket; // empty: the library's default
    bool Tunnel = false;    // the socket leads to another machine (an SSH tunnel)
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
    // Made by the program's statement builder, not SQL text of the user's (which may change the
    // session's character set).
    bool FromStatement = false;
    // The requester's word that the statement changes nothing (see TmySQLStatement::OnlyReads).
    bool ReadsOnly = false;
    // A stream: where its batches go (shared with every batch on its way, which may outlive the
    // record), a stop asked from another thread, and how it ended.
    std::shared_ptr<const TmySQLClientTask_OnRows> OnRows;
    std::atomic<bool> StopRequested{false};
    std::shared_ptr<TmySQLStreamGate> Gate; // a stream's consumer may hold it back
    bool Stopped = false;
    std::uint64_t StreamedRows = 0;
    // SubmitScript: every result of the statement read (their ends handed over as batches), the
    // result being streamed, and what the statement came to.
    bool AllResults = false;
    bool OnlyAfterSuccess = false;
    int ResultIndex = 0;
    TmySQLScriptOutcome Script;
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
    // Connect: how long to keep trying when the server refuses (0: once).
    int RetryMilliseconds = 0;
    // Connect: the protection asked for, and what was negotiated (empty: not encrypted).
    TmySQLTls Tls;
    std::string TlsVersion;
    std::string TlsCipher;
};

// A task that changes nothing on the server: a close may drop it unrun or cut it off.
bool IsRead(const TmySQLClientTaskData &task);

// What running a task came to: a report of success, of failure, or none (a task of no kind we
// know).
enum class TmySQLOutcome
{
    Done,
    Failed,
    Unreported
};

// A batch of a stream's rows, with where it goes.
struct TmySQLRowMail
{
    std::shared_ptr<const TmySQLClientTask_OnRows> OnRows;
    TmySQLRowBatch Batch;
};
// Where a stream's batches are handed over as they are made.
using TmySQLRowSink = std::function<void(std::unique_ptr<TmySQLRowMail>)>;

// Runs the task's library calls on the connection, on the calling thread; an exception from the
// library becomes a failure. A stream's batches go to rows.
TmySQLOutcome RunLibraryCalls(TmySQLClientTaskData *task, TmySQLConnection *connection,
                              const TmySQLRowSink &rows = {});

// Where a connection was made to, for a second, short-lived one to the same server as the same
// user.
struct TmySQLConnectArgs
{
    std::string Host;
    std::string User;
    std::string Password;
    std::uint32_t Port = 0;
    TmySQLTls Tls;
    std::string UnixSocket; // empty: the library's default, when Host is the local one
    bool Tunnel = false;
};
// Sends KILL QUERY for the connection with that id over a connection of its own, made and closed
// here (bounded by the connect and read time-outs). The library's error, or empty when the server
// took it.
std::string KillQuery(const TmySQLConnectArgs &server, std::uint64_t connectionId);
// What a stop calls to ask the server: KillQuery, unless a test puts a refusal in its place.
extern std::string (*KillQueryCall)(const TmySQLConnectArgs &server, std::uint64_t connectionId);
