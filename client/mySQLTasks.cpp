// The task record, and running one task's library calls on the connection.
#include "mySQLGuard.h"
#include "mySQLPacking.h"
#include "mySQLTask.h"

#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>

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

bool IsRead(const TmySQLClientTaskData &task)
{
    using K = TmySQLTaskKind;
    switch (task.TaskKind) {
    case K::Query:
    case K::Modify:
        return task.ReadsOnly;
    case K::ListDatabases:
    case K::ListTables:
    case K::ListFields:
    case K::ListProcesses:
    case K::Ping:
        return true;
    case K::Stream:
        return task.ReadsOnly; // a script's statement may change data
    default:
        return false;
    }
}

namespace {
using Outcome = TmySQLOutcome;

std::string stringOf(const char *text)
{
    return text ? std::string(text) : std::string();
}

Outcome fail(TmySQLClientTaskData *task, MYSQL *connection)
{
    const char *message = (connection && mysql_error) ? mysql_error(connection) : nullptr;
    task->ErrorText = stringOf(message);
    task->ErrorNumber = (connection && mysql_errno) ? mysql_errno(connection) : 0;
    if (connection && mysql_sqlstate) task->Script.SqlState = stringOf(mysql_sqlstate(connection));
    return Outcome::Failed;
}

// The library's number for a failed TLS set-up, given to our own refusal too.
constexpr unsigned int TlsConnectionError = 2026;
constexpr const char *NotEncryptedText =
    "The connection is not encrypted: the server did not agree to TLS, which the connection's "
    "settings require.";

// Where the system keeps its trusted CAs, hashed for OpenSSL's lookup (Debian's place).
constexpr const char *SystemCaFolder = "/etc/ssl/certs";

// Asks for the protection chosen; set before the connection is made.
void setTlsOptions(MYSQL *mysql, const TmySQLTls &tls)
{
    if (!mysql_options) return;
    using M = TmySQLTlsMode;
    const my_bool yes = 1;
    const my_bool no = 0;
    if (tls.Mode == M::Off) {
        mysql_options(mysql, MYSQL_OPT_SSL_ENFORCE, &no);
        return;
    }
    // With this library the option asks for TLS yet goes on in clear when the server offers
    // none: that is Preferred, and the reason the stricter modes check the connection made.
    mysql_options(mysql, MYSQL_OPT_SSL_ENFORCE, &yes);
    if (tls.Mode == M::VerifyFingerprint) {
        // The one certificate trusted, whoever signed it; the library refuses any other, and a
        // server without TLS, before authenticating.
        mysql_options(mysql, MARIADB_OPT_TLS_PEER_FP, tls.PeerFingerprint.c_str());
        return;
    }
    if (tls.Mode != M::VerifyCA && tls.Mode != M::VerifyIdentity) return;
    // A CA makes the library verify the server's chain; the host name is a check of its own.
    if (tls.CaFile.empty()) {
        mysql_options(mysql, MYSQL_OPT_SSL_CAPATH, SystemCaFolder);
    } else {
        std::error_code error;
        const bool folder = std::filesystem::is_directory(tls.CaFile, error);
        mysql_options(mysql, folder ? MYSQL_OPT_SSL_CAPATH : MYSQL_OPT_SSL_CA, tls.CaFile.c_str());
    }
    if (tls.Mode == M::VerifyIdentity) mysql_options(mysql, MYSQL_OPT_SSL_VERIFY_SERVER_CERT, &yes);
}

// What the connection made negotiated; both empty when it is not encrypted.
struct TlsState
{
    std::string Version;
    std::string Cipher;
};
TlsState negotiatedTls(MYSQL *mysql)
{
    TlsState state;
    if (mysql_get_ssl_cipher) state.Cipher = stringOf(mysql_get_ssl_cipher(mysql));
    const char *name = nullptr;
    if (!state.Cipher.empty() && mariadb_get_infov &&
        mariadb_get_infov(mysql, MARIADB_CONNECTION_TLS_VERSION, &name) == 0)
        state.Version = stringOf(name);
    return state;
}

// Why a connection may not be kept under the mode asked for: empty when it may.
std::string tlsRefusal(const TmySQLTls &tls, const TlsState &state)
{
    if (tls.Mode == TmySQLTlsMode::Preferred || tls.Mode == TmySQLTlsMode::Off) return {};
    if (!state.Cipher.empty()) return {};
    return NotEncryptedText;
}

// The authentication plugins that may answer a server, by what protects the connection. A
// verified server, or one on a local socket, may have the password itself (PAM, LDAP); an
// unverified TLS peer gets only what it cannot turn into the password (caching_sha2_password's
// full exchange runs inside the TLS then); a connection in clear, not even that, since
// caching_sha2_password and sha256_password would encrypt the password with a key the peer hands
// out. Empty: no restriction.
std::string allowedPlugins(bool verified, bool local, bool encrypted)
{
    if (verified || local) return {};
    std::string plugins = "mysql_native_password,client_ed25519,auth_gssapi_client,parsec";
    if (encrypted) plugins += ",caching_sha2_password";
    return plugins;
}

// What a user who needs a plugin kept from this server is told, in place of the library's word
// (which names no plugin it can be sure of).
std::string pluginRefusal(const std::string &libraryError, const std::string &allowed)
{
    if (allowed.empty() || libraryError.find("restricted_auth") == std::string::npos) return {};
    return "The server asks for an authentication plugin that could give it the password "
           "(mysql_clear_password or dialog, as PAM and LDAP use; sha256_password; or "
           "caching_sha2_password without TLS). Such a plugin answers only a verified server: "
           "choose \"Verify CA\", \"Verify identity\" or \"Verify fingerprint\" "
           "(caching_sha2_password: any mode that encrypts), or connect over the local socket. (" +
           libraryError + ")";
}

// What every connection of a component asks for before it connects.
void setCommonOptions(MYSQL *mysql)
{
    if (!mysql_options) return;
    mysql_options(mysql, MYSQL_SET_CHARSET_NAME, "utf8mb4");
    mysql_options(mysql, MYSQL_OPT_CONNECT_TIMEOUT, &ConnectTimeoutSeconds);
    mysql_options(mysql, MYSQL_OPT_READ_TIMEOUT, &ReadTimeoutSeconds);
    mysql_options(mysql, MYSQL_OPT_WRITE_TIMEOUT, &WriteTimeoutSeconds);
    // Waits for the server's bytes go through us, so a stream can hand over what it has read
    // while the next row is slow to come.
    mysql_options(mysql, MARIADB_OPT_IO_WAIT, reinterpret_cast<const void *>(&WaitForSocket));
}

struct ConnectTarget
{
    TmySQLEndpoint Endpoint;
    std::string User;
    std::string Password;
    std::string Db;
    std::uint32_t ClientFlag = 0;
    TmySQLTls Tls;
    int TimeoutSeconds = 4;
};
struct ConnectFailure
{
    std::string Text;
    unsigned int Number = 0;
};

// Connects the handle so that no credential crosses an unprotected connection: in the modes
// whose TLS the library would give up in silence, the greeting is read first (TmySQLRelay) and a
// server without TLS refused before anything is sent; in every mode the plugins that could hand
// the password to a server that is not verified are refused. Null with the reason on failure.
MYSQL *connectGuarded(MYSQL *mysql, const ConnectTarget &target, ConnectFailure *failure,
                      std::string *hostInfo)
{
    using M = TmySQLTlsMode;
    const M mode = target.Tls.Mode;
    // A tunnel's socket is local, but the server behind it is not: its plugins are kept as
    // any remote server's.
    const bool local = IsLocalSocket(target.Endpoint) && !target.Endpoint.Tunnel;
    // The library refuses before authenticating when the certificate must name the host or
    // match a pinned fingerprint; it gives TLS up in silence in the others.
    const bool libraryRefuses = mode == M::VerifyIdentity || mode == M::VerifyFingerprint;
    const bool verified = libraryRefuses || mode == M::VerifyCA;
    setTlsOptions(mysql, target.Tls);
    bool encrypted = libraryRefuses;
    std::unique_ptr<TmySQLRelay> relay;
    if (mode != M::Off && !libraryRefuses) {
        std::string error;
        relay = TmySQLRelay::Open(target.Endpoint, target.TimeoutSeconds, &error);
        if (!relay) {
            failure->Text = error;
            failure->Number = local ? 2002 : 2003;
            return nullptr;
        }
        const TmySQLGreeting &greeting = relay->Greeting();
        if (!greeting.ServerError && !greeting.OffersTls && mode != M::Preferred) {
            failure->Text = NotEncryptedText;
            failure->Number = TlsConnectionError;
            return nullptr; // nothing but the server's greeting has crossed the connection
        }
        encrypted = greeting.OffersTls;
        if (!relay->Start(&error)) {
            failure->Text = error;
            failure->Number = local ? 2002 : 2003;
            return nullptr;
        }
    }
    const std::string allowed = allowedPlugins(verified, local, encrypted);
    if (!allowed.empty() && mysql_options)
        mysql_options(mysql, MARIADB_OPT_RESTRICTED_AUTH, allowed.c_str());
    const char *db = target.Db.empty() ? nullptr : target.Db.c_str();
    MYSQL *result = nullptr;
    if (relay) {
        result =
            mysql_real_connect(mysql, "localhost", target.User.c_str(), target.Password.c_str(), db,
                               0, relay->SocketPath().c_str(), target.ClientFlag);
        *hostInfo = target.Endpoint.Tunnel ? "SSH tunnel via UNIX socket"
                    : local                ? "Localhost via UNIX socket"
                                           : target.Endpoint.Host + " via TCP/IP";
        // Authenticated over the relay: from now on the library talks to the server directly.
        if (result && mysql_get_socket) relay->HandOff(mysql_get_socket(mysql));
    } else {
        const std::string &socket = target.Endpoint.UnixSocket;
        result = mysql_real_connect(mysql, target.Endpoint.Host.c_str(), target.User.c_str(),
                                    target.Password.c_str(), db, target.Endpoint.Port,
                                    socket.empty() ? nullptr : socket.c_str(), target.ClientFlag);
        if (result && target.Endpoint.Tunnel)
            *hostInfo = "SSH tunnel via UNIX socket";
        else if (result && mysql_get_host_info)
            *hostInfo = stringOf(mysql_get_host_info(mysql));
    }
    if (!result) {
        failure->Text = stringOf(mysql_error ? mysql_error(mysql) : nullptr);
        failure->Number = mysql_errno ? mysql_errno(mysql) : 0;
        const std::string plugin = pluginRefusal(failure->Text, allowed);
        if (!plugin.empty()) failure->Text = plugin;
    }
    return result;
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
// the connection out of step with every later request: read and free them. False when one of
// them failed: a procedure stopped by an error in a later statement failed as a whole, and what
// came before is no answer to it.
bool drainResults(MYSQL *mysql)
{
    if (!mysql_more_results || !mysql_next_result) return true;
    while (mysql_more_results(mysql)) {
        const int next = mysql_next_result(mysql);
        if (next > 0) return false;
        if (next < 0) break;
        MYSQL_RES *more = mysql_store_result ? mysql_store_result(mysql) : nullptr;
        if (more) mysql_free_result(more);
    }
    return true;
}

// The end of one result of a script's statement, handed over after its rows.
void sendResultEnd(TmySQLClientTaskData *task, const TmySQLRowSink &rows, TmySQLResultEnd end)
{
    if (!rows) return;
    auto mail = std::make_unique<TmySQLRowMail>();
    mail->OnRows = task->OnRows;
    mail->Batch.ResultIndex = task->ResultIndex;
    mail->Batch.End = std::move(end);
    rows(std::move(mail));
}

// What a script's statement came to besides its results, once every result is in: how long it
// took, its warnings' lines (not after a failure: the error is its outcome) and the server's
// status.
void finishScript(TmySQLClientTaskData *task, MYSQL *mysql,
                  std::chrono::steady_clock::time_point started, bool succeeded)
{
    TmySQLScriptOutcome &out = task->Script;
    out.Microseconds =
        static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                       std::chrono::steady_clock::now() - started)
                                       .count());
    if (succeeded && mysql_warning_count) out.Warnings = mysql_warning_count(mysql);
    if (out.Warnings > 0 && !task->Stopped && mysql_real_query && mysql_store_result) {
        static constexpr char show[] = "SHOW WARNINGS";
        if (mysql_real_query(mysql, show, sizeof show - 1) == 0) {
            if (MYSQL_RES *list = mysql_store_result(mysql)) {
                while (MYSQL_ROW row = mysql_fetch_row(list)) {
                    if (out.WarningLines.size() >= TmySQLScriptOutcome::MaxWarningLines) break;
                    std::string line;
                    for (unsigned int c = 0; c < 3 && c < mysql_num_fields(list); ++c) {
                        if (c) line += ' ';
                        line += stringOf(row[c]);
                    }
                    out.WarningLines.push_back(std::move(line));
                }
                mysql_free_result(list);
            }
        }
    }
    unsigned int status = 0;
    if (mariadb_get_infov &&
        mariadb_get_infov(mysql, MARIADB_CONNECTION_SERVER_STATUS, &status) == 0)
        out.ServerStatus = status;
}

// A script's statement, sent: every result read in order, a result set's rows streamed, each
// result's end handed over, to the last result or the first failure (which may come after rows:
// a procedure stopped by an error in a later statement).
Outcome readAllResults(TmySQLClientTaskData *task, MYSQL *mysql, const TmySQLRowSink &rows,
                       std::chrono::steady_clock::time_point started)
{
    Outcome outcome = Outcome::Done;
    for (;;) {
        if (mysql_field_count && mysql_field_count(mysql) > 0) {
            if (!mysql_use_result || !mysql_fetch_lengths) return missing(task, "mysql_use_result");
            task->StreamedRows = 0;
            if (!streamResult(task, mysql, rows)) {
                if (task->ErrorText.empty() && task->ErrorNumber == 0) fail(task, mysql);
                if (mysql_sqlstate) task->Script.SqlState = stringOf(mysql_sqlstate(mysql));
                outcome = Outcome::Failed;
                break;
            }
            TmySQLResultEnd end;
            end.HasRows = true;
            end.Rows = task->StreamedRows;
            sendResultEnd(task, rows, std::move(end));
            if (task->Stopped) break; // what the server still sends is read by the drain below
        } else {
            TmySQLResultEnd end;
            if (mysql_affected_rows)
                end.AffectedRows = static_cast<std::int64_t>(mysql_affected_rows(mysql));
            if (mysql_info) end.Info = stringOf(mysql_info(mysql));
            sendResultEnd(task, rows, std::move(end));
        }
        ++task->ResultIndex;
        if (!mysql_more_results || !mysql_next_result || !mysql_more_results(mysql)) break;
        const int next = mysql_next_result(mysql);
        if (next > 0) {
            outcome = task->StopRequested.load() ? Outcome::Done : fail(task, mysql);
            if (task->StopRequested.load()) task->Stopped = true;
            break;
        }
        if (next < 0) break;
    }
    if (task->Stopped) drainResults(mysql);
    finishScript(task, mysql, started, outcome == Outcome::Done);
    return outcome;
}

Outcome runStatement(TmySQLClientTaskData *task, TmySQLConnection *connection,
                     const TmySQLRowSink &rows)
{
    const auto started = std::chrono::steady_clock::now();
    MYSQL *mysql = connection->Handle;
    if (task->TaskKind == TmySQLTaskKind::Stream && task->StopRequested.load()) {
        task->Stopped = true; // stopped before its turn: never sent
        return Outcome::Done;
    }
    if (task->Statement && task->Statement->NeedsUtf8() && connection->CharsetUnsure) {
        // Names and text values are UTF-8 and must be read so, whatever the user set since.
        if (!mysql_set_character_set) return missing(task, "mysql_set_character_set");
        if (mysql_set_character_set(mysql, "utf8mb4") != 0) return fail(task, mysql);
        connection->CharsetUnsure = false;
    }
    if (!task->FromStatement) connection->CharsetUnsure = true;
    if (task->Statement) task->SQL = task->Statement->Build();
    // Sent by length, so a statement holding a NUL byte reaches the server whole.
    if (mysql_real_query)
        task->ReturnCode = mysql_real_query(mysql, task->SQL.data(), task->SQL.size());
    else if (mysql_query)
        task->ReturnCode = mysql_query(mysql, task->SQL.c_str());
    else
        return missing(task, "mysql_real_query");
    // Any non-zero result is a failure, whatever its sign; but a stream stopped before its
    // first row (the statement waited for a lock, say) was stopped, not failed: the server's
    // "interrupted", or the connection cut by the stop's fallback, is the stop's own doing.
    if (task->ReturnCode != 0 && task->TaskKind == TmySQLTaskKind::Stream &&
        task->StopRequested.load()) {
        task->Stopped = true;
        drainResults(mysql);
        return Outcome::Done;
    }
    if (task->ReturnCode != 0) {
        const Outcome failed = fail(task, mysql);
        if (task->AllResults) finishScript(task, mysql, started, false);
        return failed;
    }
    if (task->AllResults) return readAllResults(task, mysql, rows, started);
    if (task->TaskKind == TmySQLTaskKind::Modify) {
        if (mysql_affected_rows)
            task->AffectedRows = static_cast<std::int64_t>(mysql_affected_rows(mysql));
        // Rows it gave anyway (a SELECT, a CALL) are read and dropped, or the connection would
        // be out of step with the next request.
        if (mysql_field_count && mysql_field_count(mysql) > 0 && mysql_store_result) {
            if (MYSQL_RES *unused = mysql_store_result(mysql)) mysql_free_result(unused);
        }
        return drainResults(mysql) ? Outcome::Done : fail(task, mysql);
    }
    if (task->TaskKind == TmySQLTaskKind::Stream) {
        if (!mysql_use_result || !mysql_fetch_lengths) return missing(task, "mysql_use_result");
        if (!streamResult(task, mysql, rows)) {
            // The server's error ended the rows, or there were none to read (a statement
            // without result set, reported as a failure with the library's word, as a query's).
            if (task->ErrorText.empty() && task->ErrorNumber == 0) fail(task, mysql);
            if (!drainResults(mysql) && task->ErrorText.empty()) fail(task, mysql);
            return Outcome::Failed;
        }
        return drainResults(mysql) ? Outcome::Done : fail(task, mysql);
    }
    if (!mysql_store_result) return missing(task, "mysql_store_result");
    task->ResultSet = mysql_store_result(mysql);
    if (!task->ResultSet) {
        // No result set: say how many rows the statement changed, so that a caller can tell
        // "deleted one row" from "deleted none" (the report stays a failure).
        if ((!mysql_field_count || mysql_field_count(mysql) == 0) && mysql_affected_rows)
            task->AffectedRows = static_cast<std::int64_t>(mysql_affected_rows(mysql));
        const Outcome outcome = fail(task, mysql);
        // A later statement's error says more than the first one's empty answer.
        if (!drainResults(mysql)) return fail(task, mysql);
        return outcome;
    }
    if (!mysql_row_tell || !mysql_row_seek || !mysql_fetch_lengths) {
        // Rows are found again by their place, and packed with their lengths.
        mysql_free_result(task->ResultSet);
        task->ResultSet = nullptr;
        return missing(task, "mysql_row_tell");
    }
    gatherResult(task);
    if (!drainResults(mysql)) {
        const Outcome outcome = fail(task, mysql);
        mysql_free_result(task->ResultSet);
        task->ResultSet = nullptr;
        task->Block.reset();
        return outcome;
    }
    return Outcome::Done;
}

Outcome runLibraryCalls(TmySQLClientTaskData *task, TmySQLConnection *connection,
                        const TmySQLRowSink &rows)
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
        connection->LastScriptFailed = false;
        if (connection->Handle && mysql_close) mysql_close(connection->Handle);
        connection->Handle = mysql_init(nullptr);
        if (!connection->Handle) {
            task->ErrorText = "The client library could not allocate a connection.";
            return Outcome::Failed;
        }
        setCommonOptions(connection->Handle);
        ConnectTarget target;
        target.Endpoint.Host = task->Host;
        // The old call knows no port, database, socket or flags.
        if (kind == K::RealConnect) {
            target.Endpoint.Port = task->Port;
            target.Endpoint.UnixSocket = task->UnixSocket;
            target.Endpoint.Tunnel = task->Tunnel;
            target.Db = task->Db;
            target.ClientFlag = task->ClientFlag;
        }
        target.User = task->User;
        target.Password = task->Passwd;
        target.Tls = task->Tls;
        target.TimeoutSeconds = static_cast<int>(ConnectTimeoutSeconds);
        ConnectFailure failure;
        task->ConnectResult = connectGuarded(connection->Handle, target, &failure, &task->HostInfo);
        const auto giveUp =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(task->RetryMilliseconds);
        while (!task->ConnectResult && failure.Number != TlsConnectionError &&
               std::chrono::steady_clock::now() < giveUp) {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            if (mysql_close) mysql_close(connection->Handle);
            connection->Handle = mysql_init(nullptr);
            if (!connection->Handle) break;
            setCommonOptions(connection->Handle);
            failure = ConnectFailure();
            task->ConnectResult =
                connectGuarded(connection->Handle, target, &failure, &task->HostInfo);
        }
        if (!task->ConnectResult) {
            task->ErrorText = failure.Text;
            task->ErrorNumber = failure.Number;
            return Outcome::Failed;
        }
        const TlsState tls = negotiatedTls(connection->Handle);
        task->TlsVersion = tls.Version;
        task->TlsCipher = tls.Cipher;
        const std::string refusal = tlsRefusal(task->Tls, tls);
        if (!refusal.empty()) {
            // Never used in clear (the guard refused such a server before it could be).
            if (mysql_close) mysql_close(connection->Handle);
            connection->Handle = nullptr;
            task->ConnectResult = nullptr;
            task->ErrorText = refusal;
            task->ErrorNumber = TlsConnectionError;
            return Outcome::Failed;
        }
        connection->Socket = mysql_get_socket ? mysql_get_socket(connection->Handle) : -1;
        connection->CharsetUnsure = false; // utf8mb4, asked for above
        if (mysql_get_server_info)
            task->ServerInfo = stringOf(mysql_get_server_info(connection->Handle));
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
        return runStatement(task, connection, rows);
    case K::Stream: {
        if (!task->AllResults) return runStatement(task, connection, rows);
        // A script's next statement, queued ahead while the one before ran: not sent when that
        // one failed or was stopped (the script stops there).
        if (task->OnlyAfterSuccess && connection->LastScriptFailed) {
            task->Script.NotRun = true;
            return Outcome::Done;
        }
        const Outcome outcome = runStatement(task, connection, rows);
        connection->LastScriptFailed = outcome != Outcome::Done || task->Stopped;
        return outcome;
    }
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

} // namespace

TmySQLOutcome RunLibraryCalls(TmySQLClientTaskData *task, TmySQLConnection *connection,
                              const TmySQLRowSink &rows)
{
    try {
        return runLibraryCalls(task, connection, rows);
    } catch (...) {
        task->ResultSet = nullptr;
        task->ReturnCode = -1;
        task->ErrorText = "The client library raised an exception.";
        return Outcome::Failed;
    }
}

std::string (*KillQueryCall)(const TmySQLConnectArgs &, std::uint64_t) = KillQuery;

std::string KillQuery(const TmySQLConnectArgs &server, std::uint64_t connectionId)
{
    if (!MySQLLibHandle || !mysql_init || !mysql_real_connect || !mysql_real_query || !mysql_close)
        return "The client library is not loaded.";
    if (mysql_thread_init) mysql_thread_init();
    std::string error;
    MYSQL *mysql = mysql_init(nullptr);
    if (!mysql) {
        error = "The client library could not allocate a connection.";
    } else {
        // Short: the stop falls back to cutting the connection when this cannot be done soon.
        const unsigned int seconds = 2;
        if (mysql_options) {
            mysql_options(mysql, MYSQL_OPT_CONNECT_TIMEOUT, &seconds);
            mysql_options(mysql, MYSQL_OPT_READ_TIMEOUT, &seconds);
            mysql_options(mysql, MYSQL_OPT_WRITE_TIMEOUT, &seconds);
        }
        ConnectTarget target;
        target.Endpoint.Host = server.Host;
        target.Endpoint.Port = server.Port;
        target.Endpoint.UnixSocket = server.UnixSocket;
        target.Endpoint.Tunnel = server.Tunnel;
        target.User = server.User;
        target.Password = server.Password;
        target.Tls = server.Tls;
        target.TimeoutSeconds = static_cast<int>(seconds);
        ConnectFailure failure;
        std::string hostInfo;
        if (!connectGuarded(mysql, target, &failure, &hostInfo)) {
            error = failure.Text;
            if (error.empty()) error = "No second connection could be made.";
        } else {
            // Never used in clear when the first connection may not be.
            error = tlsRefusal(server.Tls, negotiatedTls(mysql));
            const std::string sql = "KILL QUERY " + std::to_string(connectionId);
            if (error.empty() && mysql_real_query(mysql, sql.data(), sql.size()) != 0)
                error = stringOf(mysql_error(mysql));
        }
        mysql_close(mysql);
    }
    if (mysql_thread_end) mysql_thread_end();
    return error;
}
