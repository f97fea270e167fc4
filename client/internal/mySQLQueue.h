#pragma once

// The task queue with its one worker thread, and the task handler that runs the queue and
// delivers finished tasks on the window thread. Private to the client.

#include "mySQLMailbox.h"
#include "mySQLTask.h"

#include <QObject>
#include <QTimer>

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

// Ends every worker thread of the process (each after its current task, a statement cut off
// past the grace period), after every stop still asking a server; their queues stay. Run before
// the library is unloaded.
void StopAllWorkers();
// A stop's thread, which may outlive its component, counted while it may call the library.
void StopperStarted();
void StopperEnded();

// The task queue and its one worker thread. The worker sleeps on a condition variable while it
// may not take a task; only one thread runs a task at any moment, so the connection is never used
// by two threads at once. Finished tasks of the worker go to the mailbox.
class TmySQLClientThread : public QObject
{
public:
    explicit TmySQLClientThread(TmySQLMailbox *mailbox);
    ~TmySQLClientThread() override; // asks the worker to end and joins it; frees waiting tasks

    // A connect task, not yet queued.
    std::unique_ptr<TmySQLClientTaskData>
    NewConnectTask(const std::string &Host, const std::string &User, const std::string &Passwd,
                   const std::string &Db, std::uint32_t Port, const char *UnixSocket,
                   std::uint32_t ClientFlag, const std::string &TaskName,
                   TmySQLClientTaskCompleteEvent OnTaskComplete,
                   TmySQLClientTaskErrorEvent OnTaskError, TmySQLClientTask_OnComplete OnComplete,
                   TmySQLClientTask_OnError OnError);
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

    // Running the queue on the calling thread: Begin keeps the worker off until End; Take waits
    // until no other thread uses the connection (see WaitIdle), then hands over the next task
    // marked as running (null when the queue is empty); Finished frees the connection after it.
    void BeginInlineRun();
    std::unique_ptr<TmySQLClientTaskData> TakeInline(bool cutOff);
    void FinishedInline();
    void EndInlineRun();

    // A close is coming: reads waiting in the queue are dropped unrun, and a read running now is
    // cut off at once (its report dropped) unless a statement that may change data waits behind
    // it, which would then find the connection gone. A read loses nothing by being cut off.
    void DropReads();
    // Asks the stream being run, if one is, to stop, and returns its number (0 when none runs).
    // Until StopDone, no other task and no direct call gets the connection: a KILL QUERY sent for
    // the stream meets nothing else. Streams still waiting end, when their turn comes, without
    // being sent (*waitingStopped tells whether there were any).
    std::uint64_t StopStream(bool *waitingStopped = nullptr);
    void StopDone();
    // The number of the task being run (every task taken gets the next), 0 when none.
    std::uint64_t RunningSerial() const;
    // Cuts off the statement with that number if it still runs.
    void CutOff(std::uint64_t serial);
    // The same, with the connect that makes the connection again put first in the queue, so
    // that nothing queued behind meets the cut connection. Neither when the statement has ended
    // already, nor the connect when a close waits (the close ends the session anyway).
    // A task to run on the new connection first goes right behind the connect.
    void CutOffAndReconnect(std::uint64_t serial, std::unique_ptr<TmySQLClientTaskData> connect,
                            std::unique_ptr<TmySQLClientTaskData> first);
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
    int MailCount() const { return m_mailbox->Count(); }
    // Waits until no thread uses the connection; with cutOff, a statement still running after the
    // grace period is cut off.
    void WaitIdle(bool cutOff = true);
    // Ends the worker and joins it; waiting tasks stay queued. A statement stuck past the grace
    // period is cut off first.
    void Stop();

    bool Threaded() const;
    void setThreaded(bool value);
    TmySQLConnection *MySQL() const { return m_connection; }
    // Only while nothing runs: at construction, or once the worker is stopped.
    void setMySQL(TmySQLConnection *value) { m_connection = value; }

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
    // The worker thread's own state.
    enum class Worker
    {
        Asleep,   // nothing it may take
        Working,  // running a task
        Stopping, // asked to end
        Stopped,
    };
    // Who has the connection.
    enum class Holder
    {
        None,
        Task,       // a task of the queue, on the worker or inline
        DirectCall, // a lease
    };

    void Execute();
    // A task of that kind with its name and events: what every Add*Task starts from.
    std::unique_ptr<TmySQLClientTaskData> newTask(TmySQLTaskKind Kind, const std::string &TaskName,
                                                  TmySQLClientTaskCompleteEvent OnTaskComplete,
                                                  TmySQLClientTaskErrorEvent OnTaskError,
                                                  TmySQLClientTask_OnComplete OnComplete,
                                                  TmySQLClientTask_OnError OnError);
    // Under m_lock. A stop on its way counts as holding the connection.
    bool busyLocked() const { return m_holder != Holder::None || m_stopsInFlight > 0; }
    bool runningStatementLocked() const;
    bool workerMayTakeLocked() const;
    std::unique_ptr<TmySQLClientTaskData> takeLocked();
    // Waits until no thread uses the connection. A statement still running after the grace
    // period has its connection shut down under it, so the wait always ends.
    void waitForConnectionLocked(std::unique_lock<std::mutex> &lock, bool cutOff = true);
    // Shuts the connection's socket down while a statement runs on it.
    void interruptLocked();
    void releaseConnection();

    TmySQLMailbox *const m_mailbox;
    TmySQLConnection *m_connection = nullptr;

    mutable std::mutex m_lock;
    std::condition_variable m_wake; // the worker waits here
    std::condition_variable m_free; // waits for the connection to be free
    std::deque<std::unique_ptr<TmySQLClientTaskData>> m_queue;
    bool m_threaded = true;
    Worker m_worker = Worker::Asleep; // created asleep: it first runs when woken
    Holder m_holder = Holder::None;
    TmySQLClientTaskData *m_running = nullptr; // while m_holder is Task
    std::uint64_t m_runningSerial = 0, m_lastSerial = 0;
    bool m_dropRunningReport = false; // the running read was cut off for a close
    // Threads that go before the worker: an inline run for its whole length, a direct call
    // while it waits for the connection.
    int m_claims = 0;
    int m_stopsInFlight = 0;
    std::thread m_thread;
};

// The hidden window: a QObject on the window thread whose event handler is the message procedure.
class TmySQLClientTaskWindow : public QObject
{
public:
    explicit TmySQLClientTaskWindow(TmySQLClientTaskHandler *handler) : FHandler(handler) {}
    bool event(QEvent *e) override;
    TmySQLClientTaskHandler *FHandler;
};

// The window thread's side: runs the queue (inline, or by waking the worker) and delivers every
// finished task to its step, with the status events around it.
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
    void DropPostedMessages() { FMailbox->Drop(); }
    // Delivers every waiting message in order; called for the window's event, and before the
    // queue is run inline so that earlier reports come first.
    void DeliverMessages();
    // The window's wake-up event: answered, then every waiting message delivered.
    void WakeUp();
    // The message procedure: one finished task (1025 done, 1026 failed).
    void WndProc(int Msg, std::unique_ptr<TmySQLClientTaskData> Task);
    // A batch of a stream's rows (1027), to the stream's requester.
    void DeliverRows(std::unique_ptr<TmySQLRowMail> rows);

    // Reported around every task delivered (window thread).
    TmySQLClientTask_OnStatus FOnStatus;
    std::function<void(QObject *Sender)> FOnTaskDone;

    // True while a delivery or an inline run of this handler is on the call stack: its owner is
    // then being destroyed from inside one of its own events and must not free it at once.
    bool InUse() const { return FDepth > 0; }
    // Stops the worker, drops every waiting task and report and detaches every hook, so the
    // frames still on the stack return without touching their owner.
    void Abandon();
    bool Abandoned() const { return FLife != Life::Serving; }
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
    enum class Life
    {
        Serving,
        Abandoned, // its owner went away: nothing more is run or delivered
        Orphaned,  // abandoned, and frees itself when its last frame returns
    };
    void MailTimer();
    void RunInline(bool closing);
    // Inline: hands a finished task to its step and reports around it.
    void NotifyComplete(std::unique_ptr<TmySQLClientTaskData> task);
    void NotifyError(std::unique_ptr<TmySQLClientTaskData> task);

    std::unique_ptr<TmySQLClientTaskWindow> FWindow;
    std::unique_ptr<TmySQLMailbox> FMailbox;
    std::unique_ptr<TmySQLClientThread> FThread;
    QTimer FMailTimer;
    bool FThreaded = false;
    int FDepth = 0;
    Life FLife = Life::Serving;
};
