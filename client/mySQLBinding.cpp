// The run-time binding of the MySQL C client library and the small shared helpers around it.
#include "mySQLLibrary.h"
#include "mySQLQueue.h" // StopAllWorkers

#include <dlfcn.h>

namespace mysqlapi {
std::string MySQLLibraryName = "libmariadb.so.3";
void *MySQLLibHandle = nullptr;

#define QUORVANE_DEFINE_ENTRY(name, result, params) result(*name) params = nullptr;
QUORVANE_MYSQL_ENTRY_POINTS(QUORVANE_DEFINE_ENTRY)
#undef QUORVANE_DEFINE_ENTRY

namespace {
template <typename F> void bind(F &entry, const char *name)
{
    entry = reinterpret_cast<F>(dlsym(MySQLLibHandle, name));
}

void bindAll()
{
#define QUORVANE_BIND_ENTRY(name, result, params) bind(name, #name);
    QUORVANE_MYSQL_ENTRY_POINTS(QUORVANE_BIND_ENTRY)
#undef QUORVANE_BIND_ENTRY
}

void clearAll()
{
#define QUORVANE_CLEAR_ENTRY(name, result, params) name = nullptr;
    QUORVANE_MYSQL_ENTRY_POINTS(QUORVANE_CLEAR_ENTRY)
#undef QUORVANE_CLEAR_ENTRY
}

// Unloads the library at process end, after every component is gone.
struct Unloader
{
    ~Unloader()
    {
        UnloadMySQLLibrary();
        MySQLLibraryName.clear();
    }
} unloader;
} // namespace

bool LoadMySQLLibrary()
{
    if (MySQLLibHandle) return false;
    MySQLLibHandle = dlopen(MySQLLibraryName.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!MySQLLibHandle) return false;
    bindAll();
    // The library's global set-up must run once, on one thread, before any other thread uses it.
    if (mysql_server_init) mysql_server_init(0, nullptr, nullptr);
    return true;
}

void UnloadMySQLLibrary()
{
    if (!MySQLLibHandle) return;
    // No worker may be inside the library, or wake in it, once it is gone.
    StopAllWorkers();
    if (mysql_server_end) mysql_server_end();
    clearAll();
    dlclose(MySQLLibHandle);
    MySQLLibHandle = nullptr;
}

bool NoEntryPointBound()
{
    bool none = true;
#define QUORVANE_CHECK_ENTRY(name, result, params) none = none && name == nullptr;
    QUORVANE_MYSQL_ENTRY_POINTS(QUORVANE_CHECK_ENTRY)
#undef QUORVANE_CHECK_ENTRY
    return none;
}
} // namespace mysqlapi

std::uint32_t ClientFlagOf(TSetClientCapabilities set)
{
    std::uint32_t flag = 0;
    for (int ordinal = 0; ordinal <= 8; ++ordinal)
        if (set.testFlag(static_cast<TClientCapabilities>(1u << ordinal))) flag += 1u << ordinal;
    return flag;
}

const char *const StatusTypeNames[5] = {"Not Connected", "Connecting", "Idle", "Active",
                                        "Reconnecting"};
