// The request objects: the query object, the modify object and the utility object, and the
// statement builder the query object takes.
#include "mySQLCommon.h"
#include "mySQLQueue.h"

#include <QPointer>
#include <chrono>

#include <algorithm>
#include <cstring>

using namespace mysqlapi;

std::string QuoteIdentifier(std::string_view name)
{
    std::string quoted;
    quoted.reserve(name.size() + 2);
    quoted += '`';
    for (const char c : name) {
        if (c == '`') quoted += '`';
        quoted += c;
    }
    quoted += '`';
    return quoted;
}

// ---------------------------------------------------------------------------------------------
// Statement

TmySQLStatement &TmySQLStatement::Text(std::string_view text)
{
    FParts.back().append(text);
    return *this;
}

TmySQLStatement &TmySQLStatement::Value(std::optional<std::string> value)
{
    Piece piece;
    if (value) {
        piece.Kind = Piece::Text;
        piece.Data = std::move(*value);
    }
    FValues.push_back(std::move(piece));
    FParts.emplace_back();
    return *this;
}

TmySQLStatement &TmySQLStatement::HexValue(std::string_view bytes)
{
    Piece piece;
    piece.Kind = Piece::Bytes;
    piece.Data = std::string(bytes);
    FValues.push_back(std::move(piece));
    FParts.emplace_back();
    return *this;
}

TmySQLStatement &TmySQLStatement::HexValue(std::string_view bytes,
                                           std::shared_ptr<const void> owner)
{
    if (!owner) return HexValue(bytes);
    Piece piece;
    piece.Kind = Piece::Bytes;
    piece.Owner = std::move(owner);
    piece.Lent = bytes;
    FValues.push_back(std::move(piece));
    FParts.emplace_back();
    return *this;
}

namespace {
void appendHex(std::string &out, std::string_view bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    out += "X'";
    const std::size_t at = out.size();
    out.resize(at + bytes.size() * 2);
    char *d = out.data() + at;
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        *d++ = digits[b >> 4];
        *d++ = digits[b & 15];
    }
    out += '\'';
}
} // namespace

std::string TmySQLStatement::Build() const
{
    std::size_t size = 0;
    for (const std::string &part : FParts)
        size += part.size();
    for (const Piece &value : FValues)
        size += value.bytes().size() * 2 + 12;
    std::string sql;
    sql.reserve(size);
    sql += FParts[0];
    for (std::size_t i = 0; i < FValues.size(); ++i) {
        const Piece &value = FValues[i];
        if (value.Kind == Piece::Null) {
            sql += "NULL";
        } else {
            if (value.Kind == Piece::Text) sql += "_utf8mb4 ";
            appendHex(sql, value.bytes());
        }
        sql += FParts[i + 1];
    }
    return sql;
}

std::string TmySQLStatement::Preview(std::size_t maxBytes) const
{
    std::string out = FParts[0];
    for (std::size_t i = 0; i < FValues.size() && out.size() < maxBytes; ++i) {
        const Piece &value = FValues[i];
        const std::size_t room = maxBytes - std::min(maxBytes, out.size());
        const std::string_view shown = value.bytes().substr(0, room);
        if (value.Kind == Piece::Null) {
            out += "NULL";
        } else if (value.Kind == Piece::Bytes) {
            appendHex(out, shown);
        } else {
            out += '\'';
            for (const char c : shown) {
                if (c == '\'') out += c;
                out += c;
            }
            out += '\'';
        }
        out += FParts[i + 1];
    }
    return out;
}

// ---------------------------------------------------------------------------------------------
// Query object

TmySQLClientQuery::TmySQLClientQuery() = default;

TmySQLClientQuery::~TmySQLClientQuery()
{
    Clear();
}

void TmySQLClientQuery::Held::Release()
{
    Task.reset();
    Older.clear();
    FieldNames.clear();
    FieldNamesLoaded = false;
    Runs.clear();
    RowCount = 0;
}

void TmySQLClientQuery::Submit(const std::string &SQL, const std::string &TaskName)
{
    SubmitWithHandlers(SQL, TaskName, FOnQuery, FOnQueryError);
}

void TmySQLClientQuery::SubmitWithHandlers(const std::string &SQL, const std::string &TaskName,
                                           TmySQLClientTask_OnComplete OnComplete,
                                           TmySQLClientTask_OnError OnError)
{
    auto task = std::make_unique<TmySQLClientTaskData>();
    task->SQL = SQL;
    task->TaskName = CutTaskName(TaskName);
    addTask(std::move(task), std::move(OnComplete), std::move(OnError));
}

void TmySQLClientQuery::SubmitStatement(const TmySQLStatement &Statement,
                                        const std::string &TaskName, bool Pack)
{
    SubmitStatementWithHandlers(Statement, TaskName, Pack, FOnQuery, FOnQueryError);
}

void TmySQLClientQuery::SubmitStatementWithHandlers(TmySQLStatement Statement,
                                                    const std::string &TaskName, bool Pack,
                                                    TmySQLClientTask_OnComplete OnComplete,
                                                    TmySQLClientTask_OnError OnError)
{
    auto task = std::make_unique<TmySQLClientTaskData>();
    task->ReadsOnly = Statement.ReadsOnly();
    if (Statement.NeedsUtf8())
        task->Statement = std::move(Statement); // built on the worker
    else
        task->SQL = Statement.Build();
    task->FromStatement = true;
    task->Pack = Pack;
    task->TaskName = CutTaskName(TaskName);
    addTask(std::move(task), std::move(OnComplete), std::move(OnError));
}

void TmySQLStreamGate::Pass(const std::atomic<bool> &stop)
{
    std::unique_lock<std::mutex> lock(m_lock);
    ++m_held;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(MaxHoldSeconds);
    // The stop is a flag of the worker's task: looked at every few milliseconds.
    while (!m_open && m_held >= m_limit && !stop.load(std::memory_order_relaxed) &&
           std::chrono::steady_clock::now() < until)
        m_wake.wait_for(lock, std::chrono::milliseconds(20));
}

void TmySQLStreamGate::Done()
{
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (m_held > 0) --m_held;
    }
    m_wake.notify_all();
}

void TmySQLStreamGate::Open()
{
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_open = true;
    }
    m_wake.notify_all();
}

int TmySQLStreamGate::Held() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_held;
}

void TmySQLClientQuery::SubmitStream(const TmySQLStatement &Statement, const std::string &TaskName,
                                     TmySQLClientTask_OnRows OnRows,
                                     TmySQLClientTask_OnComplete OnComplete,
                                     TmySQLClientTask_OnError OnError,
                                     std::shared_ptr<TmySQLStreamGate> Gate)
{
    if (!FTaskHandler) return;
    auto task = std::make_unique<TmySQLClientTaskData>();
    task->Gate = std::move(Gate);
    if (Statement.NeedsUtf8())
        task->Statement = Statement; // built on the worker
    else
        task->SQL = Statement.Build();
    task->FromStatement = true;
    task->ReadsOnly = true;
    addStream(std::move(task), TaskName, std::move(OnRows), std::move(OnComplete),
              std::move(OnError));
}

void TmySQLClientQuery::SubmitScript(std::string SQL, const std::string &TaskName,
                                     TmySQLClientTask_OnRows OnRows,
                                     TmySQLClientTask_OnComplete OnComplete,
                                     TmySQLClientTask_OnError OnError, bool OnlyAfterSuccess)
{
    if (!FTaskHandler) return;
    auto task = std::make_unique<TmySQLClientTaskData>();
    task->SQL = std::move(SQL);
    task->AllResults = true;
    task->OnlyAfterSuccess = OnlyAfterSuccess;
    addStream(std::move(task), TaskName, std::move(OnRows), std::move(OnComplete),
              std::move(OnError));
}

void TmySQLClientQuery::addStream(std::unique_ptr<TmySQLClientTaskData> task,
                                  const std::string &TaskName, TmySQLClientTask_OnRows OnRows,
                                  TmySQLClientTask_OnComplete OnComplete,
                                  TmySQLClientTask_OnError OnError)
{
    task->TaskKind = TmySQLTaskKind::Stream;
    task->TaskName = CutTaskName(TaskName);
    // Batches, the end and a failure still on their way when this object is released are
    // dropped, not delivered.
    QPointer<TmySQLClientQuery> self(this);
    task->OnRows = std::make_shared<const TmySQLClientTask_OnRows>(
        [self, OnRows = std::move(OnRows)](QObject *, TmySQLRowBatch &batch) {
            if (self && OnRows) OnRows(self.data(), batch);
        });
    task->OnTaskComplete = [self](QObject *, TmySQLClientTaskData *t) {
        std::unique_ptr<TmySQLClientTaskData> done(t);
        if (!self) return;
        self->FStreamedRows = t->StreamedRows;
        self->FStreamStopped = t->Stopped;
        self->FAffectedRows = -1;
        self->FErrorNumber = 0;
        self->FScriptOutcome = std::move(t->Script);
        const TmySQLClientTask_OnComplete event = std::move(t->OnComplete);
        done.reset();
        if (event) event(self.data());
    };
    task->OnTaskError = [self](QObject *, TmySQLClientTaskData *t, const QString &msg) {
        std::unique_ptr<TmySQLClientTaskData> failed(t);
        if (!self) return;
        self->FStreamedRows = t->StreamedRows;
        self->FStreamStopped = t->Stopped;
        self->FAffectedRows = t->AffectedRows;
        self->FErrorNumber = t->ErrorNumber;
        self->FScriptOutcome = std::move(t->Script);
        const TmySQLClientTask_OnError event = std::move(t->OnError);
        failed.reset();
        if (event) event(self.data(), msg);
    };
    task->OnComplete = std::move(OnComplete);
    task->OnError = std::move(OnError);
    FTaskHandler->Thread()->AddTask(std::move(task));
}

void TmySQLClientQuery::addTask(std::unique_ptr<TmySQLClientTaskData> task,
                                TmySQLClientTask_OnComplete OnComplete,
                                TmySQLClientTask_OnError OnError)
{
    if (!FTaskHandler) return;
    task->TaskKind = TmySQLTaskKind::Query;
    task->ClearAfterEvent = FTaskHandler->Threaded();
    // Completions still on their way when this object is released are dropped, not delivered.
    QPointer<TmySQLClientQuery> self(this);
    task->OnTaskComplete = [self](QObject *sender, TmySQLClientTaskData *t) {
        if (self)
            self->TaskComplete(sender, t);
        else
            delete t;
    };
    task->OnTaskError = [self](QObject *sender, TmySQLClientTaskData *t, const QString &msg) {
        if (self)
            self->TaskError(sender, t, msg);
        else
            delete t;
    };
    task->OnComplete = std::move(OnComplete);
    task->OnError = std::move(OnError);
    FTaskHandler->Thread()->AddTask(std::move(task));
}

void TmySQLClientQuery::TaskComplete(QObject *, TmySQLClientTaskData *Task)
{
    if (!Task) return;
    FAffectedRows = Task->AffectedRows;
    FErrorNumber = 0;
    // A handler still reading its result (it let the event loop run) keeps it: this result gets
    // a fresh place, and the handler's comes back when this one is done.
    std::optional<Held> outer;
    if (FEventDepth > 0) {
        outer.emplace(std::move(FHeld));
        FHeld = Held();
    } else if (FHeld.Task) {
        FHeld.Older.push_back(std::move(FHeld.Task)); // its rows stay listed, so its memory stays
    }
    FHeld.Task.reset(Task);
    FHeld.FieldNames.clear();
    FHeld.FieldNamesLoaded = false;
    QPointer<TmySQLClientQuery> self(this);
    if (Task->ResultSet) {
        if (Task->RowCount > 0) {
            FHeld.Runs.push_back({Task, FHeld.RowCount});
            FHeld.RowCount += Task->RowCount;
        }
        // Moved out: a handler that clears this object frees the task, and the event with it.
        const TmySQLClientTask_OnComplete event = std::move(Task->OnComplete);
        const bool clearAfter = Task->ClearAfterEvent;
        ++FEventDepth;
        if (event) event(this);
        // The handler closed the connection, which released this object; the result of an
        // outer handler, kept aside here, goes with this frame.
        if (!self) return;
        --FEventDepth;
        if (clearAfter) Clear();
    }
    if (outer) {
        // What this result left held stays backed until the outer result is cleared.
        if (FHeld.Task) outer->Older.push_back(std::move(FHeld.Task));
        for (auto &older : FHeld.Older)
            outer->Older.push_back(std::move(older));
        FHeld = std::move(*outer);
    }
}

void TmySQLClientQuery::TaskError(QObject *, TmySQLClientTaskData *Task, const QString &Msg)
{
    if (!Task) return;
    std::unique_ptr<TmySQLClientTaskData> failed(Task);
    FAffectedRows = Task->AffectedRows;
    FErrorNumber = Task->ErrorNumber;
    const TmySQLClientTask_OnError event = std::move(Task->OnError);
    QPointer<TmySQLClientQuery> self(this);
    if (event) event(this, Msg);
    // Inside a handler still reading its result, that result stays until the handler is done.
    if (self && FEventDepth == 0) Clear();
}

QString TmySQLClientQuery::TaskName() const
{
    return FHeld.Task ? QString::fromStdString(FHeld.Task->TaskName) : QString();
}

int TmySQLClientQuery::FieldCount() const
{
    if (!FHeld.Task || !FHeld.Task->ResultSet) return -1;
    return static_cast<int>(mysql_num_fields(FHeld.Task->ResultSet));
}

void TmySQLClientQuery::LoadFieldNames()
{
    if (!FHeld.Task || !FHeld.Task->ResultSet) return;
    for (const TmySQLFieldInfo &field : FHeld.Task->Fields)
        FHeld.FieldNames.append(QString::fromStdString(field.Name));
    FHeld.FieldNamesLoaded = true;
    ++FFieldNameLoads;
}

QString TmySQLClientQuery::FieldName(int Index)
{
    if (!FHeld.Task || !FHeld.Task->ResultSet) return {};
    if (!FHeld.FieldNamesLoaded) LoadFieldNames();
    if (Index < 0 || Index >= FHeld.FieldNames.size()) return {};
    return FHeld.FieldNames.at(Index);
}

const TmySQLFieldInfo *TmySQLClientQuery::FieldInfo(int Index) const
{
    if (!FHeld.Task || Index < 0 || static_cast<std::size_t>(Index) >= FHeld.Task->Fields.size())
        return nullptr;
    return &FHeld.Task->Fields[static_cast<std::size_t>(Index)];
}

bool TmySQLClientQuery::locate(int Row, TmySQLClientTaskData *&task, std::size_t &index) const
{
    if (Row < 0 || static_cast<std::size_t>(Row) >= FHeld.RowCount) return false;
    const auto row = static_cast<std::size_t>(Row);
    // The run holding the row: almost always the only one.
    auto run = std::upper_bound(FHeld.Runs.begin(), FHeld.Runs.end(), row,
                                [](std::size_t r, const Held::Run &x) { return r < x.First; });
    --run;
    task = run->Task;
    index = row - run->First;
    return true;
}

char **TmySQLClientQuery::rowAt(int Row, TmySQLClientTaskData **task) const
{
    TmySQLClientTaskData *owner = nullptr;
    std::size_t index = 0;
    if (!locate(Row, owner, index)) return nullptr;
    if (task) *task = owner;
    const MYSQL_ROW_OFFSET entry = owner->RowEntry(index);
    return entry ? entry->data : nullptr;
}

const unsigned long *TmySQLClientQuery::lengthsAt(int Row) const
{
    TmySQLClientTaskData *task = nullptr;
    std::size_t index = 0;
    if (!locate(Row, task, index)) return nullptr;
    if (FCachedTask != task || FCachedIndex != index || !FCachedLengths) {
        // The library gives the lengths of the row it read last: read this one again.
        mysql_row_seek(task->ResultSet, task->RowEntry(index));
        mysql_fetch_row(task->ResultSet);
        FCachedLengths = mysql_fetch_lengths(task->ResultSet);
        FCachedTask = task;
        FCachedIndex = index;
    }
    return FCachedLengths;
}

const char *TmySQLClientQuery::Value(int Row, int Col) const
{
    if (!FHeld.Task) return nullptr;
    if (!FHeld.Task->ResultSet) return "";
    TmySQLClientTaskData *task = nullptr;
    const MYSQL_ROW row = rowAt(Row, &task);
    if (!row || Col < 0 || static_cast<std::size_t>(Col) >= task->Fields.size()) return "";
    return row[Col];
}

std::size_t TmySQLClientQuery::ValueLength(int Row, int Col) const
{
    if (!FHeld.Task || Col < 0) return 0;
    TmySQLClientTaskData *task = nullptr;
    const MYSQL_ROW row = rowAt(Row, &task);
    if (!row || static_cast<std::size_t>(Col) >= task->Fields.size() || !row[Col]) return 0;
    const unsigned long *lengths = lengthsAt(Row);
    return lengths ? lengths[Col] : std::strlen(row[Col]);
}

std::string_view TmySQLClientQuery::ValueBytes(int Row, int Col) const
{
    const char *value = Value(Row, Col);
    return value ? std::string_view(value, ValueLength(Row, Col)) : std::string_view();
}

bool TmySQLClientQuery::IsNull(int Row, int Col) const
{
    if (!FHeld.Task || Col < 0) return false;
    TmySQLClientTaskData *task = nullptr;
    const MYSQL_ROW row = rowAt(Row, &task);
    return row && static_cast<std::size_t>(Col) < task->Fields.size() && !row[Col];
}

QString TmySQLClientQuery::RowText(int Row) const
{
    TmySQLClientTaskData *task = nullptr;
    const MYSQL_ROW row = rowAt(Row, &task);
    if (!row || task->KeyColumn < 0 ||
        static_cast<std::size_t>(task->KeyColumn) >= task->Fields.size())
        return {};
    return TextOf(row[task->KeyColumn]);
}

std::unique_ptr<TCheckedCellBlock> TmySQLClientQuery::TakeBlock()
{
    return FHeld.Task ? std::move(FHeld.Task->Block) : nullptr;
}

void TmySQLClientQuery::Clear()
{
    FHeld.Release();
    FCachedTask = nullptr;
    FCachedLengths = nullptr;
}

// ---------------------------------------------------------------------------------------------
// Utility object

TmySQLClientUtility::TmySQLClientUtility() = default;
TmySQLClientUtility::~TmySQLClientUtility() = default;

std::unique_ptr<TmySQLClientTaskData> TmySQLClientUtility::ConnectTask(
    const std::string &Host, const std::string &User, const std::string &Password,
    const std::string &Database, int Port, std::uint32_t ClientFlag, const std::string &TaskName,
    TmySQLClientTask_OnComplete OnComplete, TmySQLClientTask_OnError OnError)
{
    auto task = FTaskHandler->Thread()->NewConnectTask(
        Host, User, Password, Database, static_cast<std::uint32_t>(Port), nullptr, ClientFlag,
        TaskName, [this](QObject *s, TmySQLClientTaskData *t) { TaskComplete(s, t); },
        [this](QObject *s, TmySQLClientTaskData *t, const QString &m) { TaskError(s, t, m); },
        std::move(OnComplete), std::move(OnError));
    task->Tls = Tls;
    task->UnixSocket = UnixSocket;
    task->Tunnel = Tunnel;
    return task;
}

void TmySQLClientUtility::Connect(const std::string &Host, const std::string &User,
                                  const std::string &Password, const std::string &Database,
                                  int Port, std::uint32_t ClientFlag, const std::string &TaskName,
                                  TmySQLClientTask_OnComplete OnComplete,
                                  TmySQLClientTask_OnError OnError)
{
    FTaskHandler->Thread()->AddTask(ConnectTask(Host, User, Password, Database, Port, ClientFlag,
                                                TaskName, std::move(OnComplete),
                                                std::move(OnError)));
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
        TmySQLTaskKind::SelectDatabase, Database, TaskName,
        [this](QObject *s, TmySQLClientTaskData *t) { TaskComplete(s, t); },
        [this](QObject *s, TmySQLClientTaskData *t, const QString &m) { TaskError(s, t, m); },
        std::move(OnComplete), std::move(OnError));
}

void TmySQLClientUtility::TaskComplete(QObject *, TmySQLClientTaskData *Task)
{
    if (!Task) return;
    if (IsConnect(Task->TaskKind)) {
        FServerInfo = QString::fromStdString(Task->ServerInfo);
        FHostInfo = QString::fromStdString(Task->HostInfo);
        FConnectedHost = QString::fromStdString(Task->Host);
        FStatAtConnect = QString::fromStdString(Task->StatText);
        FConnectionId = Task->ConnectionId;
        FTlsVersion = QString::fromStdString(Task->TlsVersion);
        FTlsCipher = QString::fromStdString(Task->TlsCipher);
    } else if (Task->TaskKind == TmySQLTaskKind::Close) {
        FServerInfo.clear();
        FHostInfo.clear();
        FConnectedHost.clear();
        FStatAtConnect.clear();
        FConnectionId = 0;
        FTlsVersion.clear();
        FTlsCipher.clear();
    }
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

QString TmySQLClientUtility::Stat()
{
    if (!FTaskHandler || !MySQLLibHandle || !mysql_stat) return {};
    TmySQLClientThread::Lease lease(FTaskHandler->Thread());
    if (!lease.Held()) return QStringLiteral("The connection is busy with a statement.");
    MYSQL *mysql = FTaskHandler->MySQL() ? FTaskHandler->MySQL()->Handle : nullptr;
    if (!mysql) return {};
    const char *line = mysql_stat(mysql);
    // Cut off, or refused: the library's reason stands in its place.
    if (!line && mysql_error) return TextOf(mysql_error(mysql));
    return TextOf(line);
}
