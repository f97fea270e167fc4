#pragma once

// The run-time binding of the MySQL C client library: its types and the layouts we read, and
// every entry point we call. Private to the client; tests and benchmarks reach it through the
// client's internals target.

#include "mySQLCommon.h"

#include <string>

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
constexpr int MYSQL_OPT_SSL_VERIFY_SERVER_CERT = 21; // my_bool: the certificate names the host
constexpr int MYSQL_OPT_SSL_CA = 27;                 // a CA file: the chain is verified
constexpr int MYSQL_OPT_SSL_CAPATH = 28;             // a folder of hashed CA files, the same
constexpr int MYSQL_OPT_SSL_ENFORCE = 38;            // my_bool: ask for TLS (no refusal without)
constexpr int MARIADB_OPT_TLS_PEER_FP = 7006;        // the certificate's fingerprint, hexadecimal
constexpr int MARIADB_OPT_IO_WAIT = 7024;            // int (*)(int socket, my_bool is_read, int ms)
constexpr int MARIADB_OPT_RESTRICTED_AUTH = 7026;    // the plugins that may answer, comma-separated
// mariadb_get_infov: the negotiated protocol's name (const char *).
constexpr int MARIADB_CONNECTION_TLS_VERSION = 23;
// mariadb_get_infov: the server's status flags of the last reply (unsigned int).
constexpr int MARIADB_CONNECTION_SERVER_STATUS = 30;
constexpr unsigned int SERVER_STATUS_IN_TRANS = 1;
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
    X(mysql_thread_id, unsigned long, (MYSQL *))                                                   \
    X(mysql_get_ssl_cipher, const char *, (MYSQL *))                                               \
    X(mariadb_get_infov, my_bool, (MYSQL *, int, void *, ...))                                     \
    X(mysql_set_character_set, int, (MYSQL *, const char *))                                       \
    X(mysql_info, const char *, (MYSQL *))                                                         \
    X(mysql_warning_count, unsigned int, (MYSQL *))                                                \
    X(mysql_sqlstate, const char *, (MYSQL *))

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
