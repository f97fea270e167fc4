#pragma once

// What a program uses of the database client besides the component itself: the events and the
// status it reports, the statement builder, the description of a result's columns, and the three
// request objects. The library binding, the task record, the queue with its worker and the
// mailbox are the client's own (internal/). Qt Core only.

#include "CellBlock.h"

#include <QFlags>
#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <condition_variable>
#include <mutex>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct TmySQLClientTaskData;
class TmySQLClientTaskHandler;

// Field flags and the column types a caller compares.
constexpr unsigned int NOT_NULL_FLAG = 1;
constexpr unsigned int PRI_KEY_FLAG = 2;
constexpr unsigned int BINARY_FLAG = 128;
constexpr int MYSQL_TYPE_FLOAT = 4;
constexpr int MYSQL_TYPE_DOUBLE = 5;

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
// Protection of the connection in transit

enum class TmySQLTlsMode
{
    Preferred,      // encrypted when the server offers it, in clear otherwise
    Required,       // encrypted, or no connection
    VerifyCA,       // and the server's certificate signed by the CA given (or a system CA)
    VerifyIdentity, // and the certificate names the host connected to
    Off,            // never encrypted
    // encrypted with the one certificate the user trusted (its SHA-256 fingerprint pinned): for
    // servers with self-signed certificates
    VerifyFingerprint
};
struct TmySQLTls
{
    TmySQLTlsMode Mode = TmySQLTlsMode::Preferred;
    // A CA certificate file, or a folder of hashed ones; only the verifying modes use it. Empty:
    // the system's trusted CAs.
    std::string CaFile;
    // Verify fingerprint: the trusted certificate's fingerprint in hexadecimal, as the library
    // pins it (SHA-1 in Connector/C 3.3; the caller compares the SHA-256 one first).
    std::string PeerFingerprint;
};

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

using TmySQLClientTaskCompleteEvent =
    std::function<void(QObject *Sender, TmySQLClientTaskData *Task)>;
using TmySQLClientTaskErrorEvent =
    std::function<void(QObject *Sender, TmySQLClientTaskData *Task, const QString &Msg)>;

// A text of the library's as a QString; null gives a null string.
inline QString TextOf(const char *text)
{
    return text ? QString::fromUtf8(text) : QString();
}

// An identifier for a statement: in backticks, embedded backticks doubled.
std::string QuoteIdentifier(std::string_view name);

// A statement built from text and values. Text goes in as it stands; every value becomes a
// hexadecimal literal, so that no value can leave its literal whatever character set or SQL mode
// the session is in (a library that escapes by the character set it believes in is wrong once
// the session's was changed behind its back). Text values carry the utf8mb4 introducer and
// compare like quoted strings; bytes are plain binary literals. A missing value is NULL. The
// literals are made when the statement is built, on the worker: a value may be megabytes long.
class TmySQLStatement
{
public:
    TmySQLStatement() = default;
    TmySQLStatement(std::string text) { FParts.back() = std::move(text); } // NOLINT: implicit

    TmySQLStatement &Text(std::string_view text);
    TmySQLStatement &Identifier(std::string_view name)
    {
        FNamesObjects = true;
        return Text(QuoteIdentifier(name));
    }
    // UTF-8 text as _utf8mb4 X'...'.
    TmySQLStatement &Value(std::optional<std::string> value);
    // Bytes as X'...': exact for binary values under every SQL mode and character set.
    TmySQLStatement &HexValue(std::string_view bytes);
    // The same without a copy: the bytes stay where they are, kept there by owner, which must
    // keep them unchanged for as long as the statement lives (a value of megabytes is not copied
    // on the window thread).
    TmySQLStatement &HexValue(std::string_view bytes, std::shared_ptr<const void> owner);

    // The caller's word that the statement changes nothing (a SELECT, a SHOW): a close may cut
    // it off, or drop it unrun, instead of waiting for it.
    TmySQLStatement &OnlyReads()
    {
        FReadsOnly = true;
        return *this;
    }
    bool ReadsOnly() const { return FReadsOnly; }

    bool HasValues() const { return !FValues.empty(); }
    // True when it holds an identifier or a value: its text is UTF-8 and must be read so.
    bool NeedsUtf8() const { return FNamesObjects || !FValues.empty(); }
    // The statement as sent.
    std::string Build() const;
    // For display: text values quoted (quotes doubled), bytes in hexadecimal, cut after about
    // maxBytes bytes (whole values are never built for it).
    std::string Preview(std::size_t maxBytes = std::string::npos) const;

private:
    struct Piece
    {
        enum Kind : std::uint8_t
        {
            Null,
            Text,
            Bytes
        } Kind = Null;
        std::string Data;
        std::shared_ptr<const void> Owner; // when set, the bytes are Lent, not in Data
        std::string_view Lent;
        std::string_view bytes() const { return Owner ? Lent : std::string_view(Data); }
    };
    std::vector<std::string> FParts{std::string()}; // one more than values
    std::vector<Piece> FValues;
    bool FNamesObjects = false;
    bool FReadsOnly = false;
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

// Rows of a streamed result, packed on the worker as they arrive and handed over in batches. The
// first batch holds the column names as its row 0 and the columns' descriptions; every batch
// holds its rows as a checked cell block, which a grid takes by move and adds below the last.
// The end of one result of a statement read by SubmitScript: a result set (its rows counted), or
// a statement's status (the rows it changed, and the library's summary of them).
struct TmySQLResultEnd
{
    bool HasRows = false;
    std::uint64_t Rows = 0;
    std::int64_t AffectedRows = -1;
    std::string Info; // mysql_info: "Rows matched: 1  Changed: 1  Warnings: 0", or empty
};
struct TmySQLRowBatch
{
    // Which result of the statement the batch belongs to (0 first; a CALL gives several), and,
    // for SubmitScript, in place of rows at each result's end, what it came to.
    int ResultIndex = 0;
    std::optional<TmySQLResultEnd> End;
    bool First = false;
    std::vector<TmySQLFieldInfo> Fields; // first batch only
    std::unique_ptr<TCheckedCellBlock> Block;
    std::uint64_t RowsSoFar = 0; // rows read, this batch's included
};
using TmySQLClientTask_OnRows = std::function<void(QObject *Sender, TmySQLRowBatch &Batch)>;

// What a statement read by SubmitScript came to, besides its results: how long it took on the
// worker (sent to last row), its warnings (with SHOW WARNINGS' lines, at most
// MaxWarningLines), the server's status after it, and a failure's SQLSTATE.
struct TmySQLScriptOutcome
{
    static constexpr int MaxWarningLines = 64;
    std::uint64_t Microseconds = 0;
    unsigned int Warnings = 0;
    std::vector<std::string> WarningLines; // "Level Code Message"
    unsigned int ServerStatus = 0;
    std::string SqlState;
    // Not sent (OnlyAfterSuccess): the script statement before it failed or was stopped.
    bool NotRun = false;
    bool InTransaction() const { return ServerStatus & 1u; }
};

// How many rows, how many bytes, or how long after its first row a batch of a streamed result
// collects before it is handed over.
constexpr int StreamBatchRows = 2000;
constexpr int StreamBatchMilliseconds = 50;
constexpr std::size_t StreamBatchBytes = 4 * 1024 * 1024;

// Holds a stream back while its consumer has Limit of its batches still to deal with: the worker
// waits before it reads on (and the server with it), so that a consumer slower than the network
// (an export writing a file) keeps memory bounded. The consumer says Done for each batch it has
// finished with, or Open when it takes no more (stopped, failed, gone). A stop ends the wait,
// and no wait lasts over MaxHoldSeconds: the server gives up on a client that reads nothing.
class TmySQLStreamGate
{
public:
    static constexpr int MaxHoldSeconds = 20;
    explicit TmySQLStreamGate(int limit) : m_limit(limit) {}
    // The worker: a batch went to the consumer; waits while the consumer holds Limit of them.
    void Pass(const std::atomic<bool> &stop);
    void Done();
    void Open();
    int Held() const;

private:
    mutable std::mutex m_lock;
    std::condition_variable m_wake;
    const int m_limit;
    int m_held = 0;
    bool m_open = false;
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

    // SQL text as the user wrote it: it may change the session (SET NAMES), so the next built
    // statement that holds names or text values sets utf8mb4 again first.
    void Submit(const std::string &SQL, const std::string &TaskName);
    void SubmitWithHandlers(const std::string &SQL, const std::string &TaskName,
                            TmySQLClientTask_OnComplete OnComplete,
                            TmySQLClientTask_OnError OnError);
    // A statement the program built (its text is the program's own, never the user's); with
    // Pack the result also comes as a compact block.
    void SubmitStatement(const TmySQLStatement &Statement, const std::string &TaskName,
                         bool Pack = false);
    // Taken by value: a statement moved in (a row's value may be megabytes) is never copied.
    void SubmitStatementWithHandlers(TmySQLStatement Statement, const std::string &TaskName,
                                     bool Pack, TmySQLClientTask_OnComplete OnComplete,
                                     TmySQLClientTask_OnError OnError);

    // A statement whose rows come in batches as the server sends them (OnRows, in order), then
    // OnComplete, or OnError with what was read kept by the caller. Nothing is held here: the
    // batches are the only copy. A stream can be stopped (TCustom_mySQLClient::StopReading).
    // Always a read: a close cuts it off.
    // With a gate, the stream waits for its consumer as the gate says.
    void SubmitStream(const TmySQLStatement &Statement, const std::string &TaskName,
                      TmySQLClientTask_OnRows OnRows, TmySQLClientTask_OnComplete OnComplete,
                      TmySQLClientTask_OnError OnError,
                      std::shared_ptr<TmySQLStreamGate> Gate = nullptr);

    // SQL text of the user's, as written, read to its very end: the rows of every result set
    // stream as SubmitStream's do (each batch says its ResultIndex), each result's end comes as a
    // batch with End set and no Block, then OnComplete, or OnError for a failure in any result
    // (also one after rows). ScriptOutcome says the rest. Stopped as a stream is, at any point;
    // a close waits for it, as it may change data. With OnlyAfterSuccess it is not sent when the
    // script statement before it failed or was stopped (ScriptOutcome().NotRun), so that a
    // script's next statement can wait queued while the one before runs.
    void SubmitScript(std::string SQL, const std::string &TaskName, TmySQLClientTask_OnRows OnRows,
                      TmySQLClientTask_OnComplete OnComplete, TmySQLClientTask_OnError OnError,
                      bool OnlyAfterSuccess = false);
    // Of the last SubmitScript statement that finished, set before its event runs.
    const TmySQLScriptOutcome &ScriptOutcome() const { return FScriptOutcome; }

    TmySQLClientTaskData *Task() const { return FHeld.Task.get(); }
    // The name the held result's request was given; empty when none is held.
    QString TaskName() const;
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
    // Of the last stream that finished: the rows read, and whether it was stopped before the end.
    std::uint64_t StreamedRows() const { return FStreamedRows; }
    bool StreamStopped() const { return FStreamStopped; }

private:
    void addTask(std::unique_ptr<TmySQLClientTaskData> task, TmySQLClientTask_OnComplete OnComplete,
                 TmySQLClientTask_OnError OnError);
    void addStream(std::unique_ptr<TmySQLClientTaskData> task, const std::string &TaskName,
                   TmySQLClientTask_OnRows OnRows, TmySQLClientTask_OnComplete OnComplete,
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
    char **rowAt(int Row, TmySQLClientTaskData **task = nullptr) const;
    const unsigned long *lengthsAt(int Row) const;
    mutable TmySQLClientTaskData *FCachedTask = nullptr;
    mutable std::size_t FCachedIndex = 0;
    mutable const unsigned long *FCachedLengths = nullptr;
    Held FHeld;
    int FEventDepth = 0;
    int FFieldNameLoads = 0;
    std::int64_t FAffectedRows = -1;
    std::uint64_t FStreamedRows = 0;
    bool FStreamStopped = false;
    unsigned int FErrorNumber = 0;
    TmySQLScriptOutcome FScriptOutcome;
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
    TmySQLClientUtility();
    ~TmySQLClientUtility() override;

    TmySQLClientTaskHandler *FTaskHandler = nullptr;
    TmySQLClientKindEvents Events;
    // What the connect tasks made here ask of the connection's protection.
    TmySQLTls Tls;
    // The local socket connects go through when set (Host is then "localhost"), and whether it
    // leads to another machine.
    std::string UnixSocket;
    bool Tunnel = false;

    void Connect(const std::string &Host, const std::string &User, const std::string &Password,
                 const std::string &Database, int Port, std::uint32_t ClientFlag,
                 const std::string &TaskName, TmySQLClientTask_OnComplete OnComplete,
                 TmySQLClientTask_OnError OnError);
    // The connect task Connect queues, made but not queued (for a reconnect put in place later).
    std::unique_ptr<TmySQLClientTaskData>
    ConnectTask(const std::string &Host, const std::string &User, const std::string &Password,
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
    // current task has finished, ahead of every waiting task; bounded like a close, with the
    // reason in its place when it could not be had.
    QString Stat();
    // The status line read on the worker right after the connect: no wait at all.
    QString StatAtConnect() const { return FStatAtConnect; }
    // The server's number for the connection made (its CONNECTION_ID()), 0 while not connected.
    std::uint64_t ConnectionId() const { return FConnectionId; }
    // The protocol ("TLSv1.3") and cipher the connection made negotiated; both empty when it is
    // not encrypted.
    QString TlsVersion() const { return FTlsVersion; }
    QString TlsCipher() const { return FTlsCipher; }

private:
    void TaskComplete(QObject *Sender, TmySQLClientTaskData *Task);
    void TaskError(QObject *Sender, TmySQLClientTaskData *Task, const QString &Msg);
    QString FServerInfo;
    QString FHostInfo;
    QString FConnectedHost;
    QString FStatAtConnect;
    std::uint64_t FConnectionId = 0;
    QString FTlsVersion;
    QString FTlsCipher;
};
