// The task queue and its one worker thread.
#include "mySQLQueue.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <sys/socket.h>

using namespace mysqlapi;

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

constexpr auto grace = std::chrono::milliseconds(CloseGraceMilliseconds);
} // namespace

namespace {
// Stops asking a server on threads of their own, which may outlive their component: the library
// is not unloaded under them.
struct Stoppers
{
    std::mutex lock;
    std::condition_variable ended;
    int live = 0;
};
Stoppers &stoppers()
{
    static auto *all = new Stoppers;
    return *all;
}
} // namespace

void StopperStarted()
{
    std::lock_guard<std::mutex> lock(stoppers().lock);
    ++stoppers().live;
}

void StopperEnded()
{
    {
        std::lock_guard<std::mutex> lock(stoppers().lock);
        --stoppers().live;
    }
    stoppers().ended.notify_all();
}

void StopAllWorkers()
{
    {
        // Each ends within its own connect and read time-outs.
        std::unique_lock<std::mutex> lock(stoppers().lock);
        stoppers().ended.wait(lock, [] { return stoppers().live == 0; });
    }
    std::vector<TmySQLClientThread *> list;
    {
        std::lock_guard<std::mutex> lock(workers().lock);
        list = workers().list;
    }
    for (TmySQLClientThread *worker : list)
        worker->Stop();
}

TmySQLClientThread::TmySQLClientThread(TmySQLMailbox *mailbox) : m_mailbox(mailbox)
{
    {
        std::lock_guard<std::mutex> lock(workers().lock);
        workers().list.push_back(this);
    }
    m_thread = std::thread([this] { Execute(); });
}

TmySQLClientThread::~TmySQLClientThread()
{
    {
        std::lock_guard<std::mutex> lock(workers().lock);
        auto &list = workers().list;
        list.erase(std::remove(list.begin(), list.end(), this), list.end());
    }
    Stop(); // a task being run is finished first; waiting tasks go with the queue
}

// ---------------------------------------------------------------------------------------------
// Adding tasks

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
    std::lock_guard<std::mutex> lock(m_lock);
    if (IsConnect(task->TaskKind)) {
        // Ahead of every waiting request, but behind the last waiting close.
        auto at = m_queue.begin();
        for (auto it = m_queue.begin(); it != m_queue.end(); ++it)
            if ((*it)->TaskKind == TmySQLTaskKind::Close) at = std::next(it);
        const auto position = static_cast<int>(at - m_queue.begin());
        m_queue.insert(at, std::move(task));
        return position;
    }
    m_queue.push_back(std::move(task));
    return static_cast<int>(m_queue.size()) - 1;
}

std::unique_ptr<TmySQLClientTaskData> TmySQLClientThread::NewConnectTask(
    const std::string &Host, const std::string &User, const std::string &Passwd,
    const std::string &Db, std::uint32_t Port, const char *UnixSocket, std::uint32_t ClientFlag,
    const std::string &TaskName, TmySQLClientTaskCompleteEvent OnTaskComplete,
    TmySQLClientTaskErrorEvent OnTaskError, TmySQLClientTask_OnComplete OnComplete,
    TmySQLClientTask_OnError OnError)
{
    auto task = newTask(TmySQLTaskKind::RealConnect, TaskName, std::move(OnTaskComplete),
                        std::move(OnTaskError), std::move(OnComplete), std::move(OnError));
    task->Host = Host;
    task->User = User;
    task->Passwd = Passwd;
    task->Db = Db;
    task->Port = Port;
    task->UnixSocket = UnixSocket ? UnixSocket : "";
    task->ClientFlag = ClientFlag;
    return task;
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
    AddTask(NewConnectTask(Host, User, Passwd, Db, Port, UnixSocket, ClientFlag, TaskName,
                           std::move(OnTaskComplete), std::move(OnTaskError), std::move(OnComplete),
                           std::move(OnError)));
}

int TmySQLClientThread::AddCloseTask(const std::string &TaskName,
                                     TmySQLClientTaskCompleteEvent OnTaskComplete,
                                     TmySQLClientTaskErrorEvent OnTaskError,
                                     TmySQLClientTask_OnComplete OnComplete,
                                     TmySQLClientTask_OnError OnError)
{
    return AddTask(newTask(TmySQLTaskKind::Close, TaskName, std::move(OnTaskComplete),
                           std::move(OnTaskError), std::move(OnComplete), std::move(OnError)));
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

void TmySQLClientThread::ClearTasks()
{
    std::deque<std::unique_ptr<TmySQLClientTaskData>> waiting;
    std::lock_guard<std::mutex> lock(m_lock);
    waiting.swap(m_queue);
    // Freed after the lock is released: a record frees its result through the library.
}

// ---------------------------------------------------------------------------------------------
// State

bool TmySQLClientThread::runningStatementLocked() const
{
    return m_holder == Holder::DirectCall ||
           (m_holder == Holder::Task && m_running && IsStatement(m_running->TaskKind));
}

bool TmySQLClientThread::workerMayTakeLocked() const
{
    // Not in non-threaded mode, nor while a thread runs the queue inline or a direct call holds
    // or waits for the connection.
    return m_threaded && m_claims == 0 && !busyLocked() && !m_queue.empty();
}

int TmySQLClientThread::TaskCount() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return static_cast<int>(m_queue.size());
}

bool TmySQLClientThread::Suspended() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_worker != Worker::Working;
}

bool TmySQLClientThread::Busy() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return busyLocked();
}

bool TmySQLClientThread::ConnectPending() const
{
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (m_holder == Holder::Task && m_running && IsConnect(m_running->TaskKind)) return true;
        for (const auto &task : m_queue)
            if (IsConnect(task->TaskKind)) return true;
    }
    // Asked after the queue: a finished task is in the mailbox before the connection is free.
    return m_mailbox->Holds(
        [](const TmySQLClientTaskData &task) { return IsConnect(task.TaskKind); });
}

bool TmySQLClientThread::Idle() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_queue.empty() && !busyLocked();
}

bool TmySQLClientThread::Threaded() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_threaded;
}

void TmySQLClientThread::setThreaded(bool value)
{
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_threaded = value;
    }
    m_wake.notify_all();
}

void TmySQLClientThread::Wake()
{
    m_wake.notify_all();
}

std::uint64_t TmySQLClientThread::RunningSerial() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return busyLocked() ? m_runningSerial : 0;
}

// ---------------------------------------------------------------------------------------------
// Holding the connection, and cutting it off

void TmySQLClientThread::interruptLocked()
{
    // Only under a statement: a connect or a close task may be opening or closing this socket,
    // and a statement task never does, so the number cannot belong to another file by now.
    if (!runningStatementLocked() || !m_connection) return;
    const int socket = m_connection->Socket.load();
    if (socket >= 0) ::shutdown(socket, SHUT_RDWR);
}

void TmySQLClientThread::waitForConnectionLocked(std::unique_lock<std::mutex> &lock, bool cutOff)
{
    // A stop still asking the server over its own connection is not waited for: it touches the
    // queue only for the statement it was made for, which is over by then (a close or an inline
    // run would otherwise wait on the window thread for its connect and read time-outs).
    const auto free = [this] { return m_holder == Holder::None; };
    if (cutOff && !m_free.wait_for(lock, grace, free)) interruptLocked();
    m_free.wait(lock, free);
}

void TmySQLClientThread::WaitIdle(bool cutOff)
{
    std::unique_lock<std::mutex> lock(m_lock);
    waitForConnectionLocked(lock, cutOff);
}

void TmySQLClientThread::CutOff(std::uint64_t serial)
{
    std::lock_guard<std::mutex> lock(m_lock);
    if (serial != 0 && busyLocked() && m_runningSerial == serial) interruptLocked();
}

void TmySQLClientThread::CutOffAndReconnect(std::uint64_t serial,
                                            std::unique_ptr<TmySQLClientTaskData> connect,
                                            std::unique_ptr<TmySQLClientTaskData> first)
{
    std::lock_guard<std::mutex> lock(m_lock);
    if (serial == 0 || m_holder != Holder::Task || m_runningSerial != serial) return;
    interruptLocked();
    for (const auto &task : m_queue)
        if (task->TaskKind == TmySQLTaskKind::Close) return;
    if (!connect) return;
    if (first) m_queue.push_front(std::move(first));
    m_queue.push_front(std::move(connect));
    // A connect not queued is freed when the caller's copy goes, outside this lock.
}

void TmySQLClientThread::DropReads()
{
    std::deque<std::unique_ptr<TmySQLClientTaskData>> dropped;
    std::lock_guard<std::mutex> lock(m_lock);
    bool changesWait = false;
    for (auto it = m_queue.begin(); it != m_queue.end();) {
        if (IsRead(**it)) {
            dropped.push_back(std::move(*it));
            it = m_queue.erase(it);
        } else {
            if (IsStatement((*it)->TaskKind)) changesWait = true;
            ++it;
        }
    }
    if (!changesWait && m_holder == Holder::Task && m_running && IsRead(*m_running)) {
        m_dropRunningReport = true;
        interruptLocked();
    }
}

std::uint64_t TmySQLClientThread::StopStream(bool *waitingStopped)
{
    std::lock_guard<std::mutex> lock(m_lock);
    // Streams not begun end at once, without asking anything of the server.
    bool waiting = false;
    for (const auto &task : m_queue)
        if (task->TaskKind == TmySQLTaskKind::Stream && !task->StopRequested.exchange(true))
            waiting = true;
    if (waitingStopped) *waitingStopped = waiting;
    if (m_holder != Holder::Task || !m_running || m_running->TaskKind != TmySQLTaskKind::Stream ||
        m_running->StopRequested.load())
        return 0;
    // Only the task's own thread frees it, and not before it gives the connection back, which
    // it cannot do while we hold the lock.
    m_running->StopRequested = true;
    ++m_stopsInFlight;
    return m_runningSerial;
}

void TmySQLClientThread::StopDone()
{
    {
        std::lock_guard<std::mutex> lock(m_lock);
        --m_stopsInFlight;
    }
    m_free.notify_all();
    m_wake.notify_all();
}

std::unique_ptr<TmySQLClientTaskData> TmySQLClientThread::takeLocked()
{
    std::unique_ptr<TmySQLClientTaskData> task = std::move(m_queue.front());
    m_queue.pop_front();
    m_holder = Holder::Task;
    m_running = task.get();
    m_runningSerial = ++m_lastSerial;
    m_dropRunningReport = false;
    return task;
}

void TmySQLClientThread::releaseConnection()
{
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_holder = Holder::None;
        m_running = nullptr;
    }
    m_free.notify_all();
    m_wake.notify_all();
}

void TmySQLClientThread::Stop()
{
    {
        std::unique_lock<std::mutex> lock(m_lock);
        if (m_worker != Worker::Stopped) m_worker = Worker::Stopping;
        m_wake.notify_all();
        // A statement still on the server: give it the grace period, then cut it off.
        if (runningStatementLocked() &&
            !m_free.wait_for(lock, grace, [this] { return !busyLocked(); }))
            interruptLocked();
    }
    if (m_thread.joinable()) m_thread.join();
}

// ---------------------------------------------------------------------------------------------
// The worker

void TmySQLClientThread::Execute()
{
    bool threadReady = false;
    std::unique_lock<std::mutex> lock(m_lock);
    for (;;) {
        if (m_worker == Worker::Working) m_worker = Worker::Asleep;
        m_wake.wait(lock, [this] { return m_worker == Worker::Stopping || workerMayTakeLocked(); });
        if (m_worker == Worker::Stopping) break;
        m_worker = Worker::Working;
        std::unique_ptr<TmySQLClientTaskData> task = takeLocked();
        lock.unlock();

        if (!threadReady && MySQLLibHandle && mysql_thread_init) {
            mysql_thread_init();
            threadReady = true;
        }
        const TmySQLOutcome outcome =
            RunLibraryCalls(task.get(), m_connection, [this](std::unique_ptr<TmySQLRowMail> rows) {
                m_mailbox->PostRows(std::move(rows));
            });

        lock.lock();
        // Posted under the lock and before the connection is free, so that whoever takes the
        // connection next finds this report already waiting, and the window thread (which takes
        // the mailbox's lock to read it) sees everything written into the task.
        if (outcome != TmySQLOutcome::Unreported && !m_dropRunningReport) {
            const int message = outcome == TmySQLOutcome::Done ? WM_TASK_DONE : WM_TASK_FAILED;
            m_mailbox->Post(message, std::move(task), !m_queue.empty());
        }
        m_holder = Holder::None;
        m_running = nullptr;
        m_free.notify_all();
        if (task) {
            // Dropped: freed outside the lock, as it frees its result through the library.
            lock.unlock();
            task.reset();
            lock.lock();
        }
    }
    m_worker = Worker::Stopped;
    lock.unlock();
    if (threadReady && mysql_thread_end) mysql_thread_end();
}

// ---------------------------------------------------------------------------------------------
// Running the queue on the calling thread

void TmySQLClientThread::BeginInlineRun()
{
    std::lock_guard<std::mutex> lock(m_lock);
    ++m_claims;
}

void TmySQLClientThread::EndInlineRun()
{
    {
        std::lock_guard<std::mutex> lock(m_lock);
        --m_claims;
    }
    m_wake.notify_all();
}

std::unique_ptr<TmySQLClientTaskData> TmySQLClientThread::TakeInline(bool cutOff)
{
    std::unique_lock<std::mutex> lock(m_lock);
    for (;;) {
        if (m_queue.empty()) return nullptr;
        waitForConnectionLocked(lock, cutOff);
        // The wait let go of the lock: the queue may have been cleared meanwhile.
        if (!m_queue.empty()) return takeLocked();
    }
}

void TmySQLClientThread::FinishedInline()
{
    releaseConnection();
}

// ---------------------------------------------------------------------------------------------
// Direct calls

TmySQLClientThread::Lease::Lease(TmySQLClientThread *thread) : m_thread(thread)
{
    std::unique_lock<std::mutex> lock(m_thread->m_lock);
    // Counted while waiting, so the worker lets this call in before its next task.
    ++m_thread->m_claims;
    m_held = m_thread->m_free.wait_for(lock, grace, [this] { return !m_thread->busyLocked(); });
    --m_thread->m_claims;
    if (!m_held) {
        lock.unlock();
        m_thread->m_wake.notify_all(); // the worker may have been held back for us
        return;
    }
    m_thread->m_holder = Holder::DirectCall;
    // The call runs on the caller's thread; this one cuts it off if the server does not answer.
    m_watchdog = std::thread([this] {
        std::unique_lock<std::mutex> lock(m_thread->m_lock);
        if (!m_finished.wait_for(lock, grace, [this] { return m_done; }))
            m_thread->interruptLocked();
    });
}

TmySQLClientThread::Lease::~Lease()
{
    if (!m_held) return;
    {
        std::lock_guard<std::mutex> lock(m_thread->m_lock);
        m_done = true;
    }
    m_finished.notify_all();
    m_watchdog.join();
    m_thread->releaseConnection();
}
