#pragma once

// The mailbox between the worker and the window thread. Private to the client.

#include <QEvent>

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

class QObject;
struct TmySQLClientTaskData;
struct TmySQLRowMail;

// Message numbers from the worker to the handler's window.
constexpr int WM_TASK_DONE = 1025;
constexpr int WM_TASK_FAILED = 1026;
constexpr int WM_TASK_ROWS = 1027; // a batch of a stream's rows; its task is still running

// Finished tasks on their way from the worker to the window thread, in the order the worker
// finished them. One posted event tells the window that mail is waiting, so a burst of finished
// tasks costs one wake-up of the window thread, not one each.
//
// The worker posts; everything else is called on the window thread. Its lock is its own; the
// queue may hold its lock while it posts (queue, then mailbox: never the other way round).
class TmySQLMailbox
{
public:
    struct Mail
    {
        int Message = 0;
        std::unique_ptr<TmySQLClientTaskData> Task;
        std::unique_ptr<TmySQLRowMail> Rows; // WM_TASK_ROWS
    };

    explicit TmySQLMailbox(QObject *window);
    ~TmySQLMailbox(); // frees what was never delivered
    TmySQLMailbox(const TmySQLMailbox &) = delete;
    TmySQLMailbox &operator=(const TmySQLMailbox &) = delete;

    // Worker: files a finished task and wakes the window for it. While the window polls and
    // more tasks follow (`more`), the wake-up is left to the poll or to the last task of the run.
    void Post(int message, std::unique_ptr<TmySQLClientTaskData> task, bool more);
    // A batch of rows, from the worker or an inline run: more always follows (its task's end).
    void PostRows(std::unique_ptr<TmySQLRowMail> rows);

    // The oldest mail, if any. When more is waiting, a wake-up is posted for it at once: the
    // handler of this one may wait in an event loop of its own for the next result.
    std::optional<Mail> Take();
    // The window's wake-up was answered: the next mail needs one of its own.
    void Answered();
    // A delivery is on the window thread's stack from Begin to End. A handler in it may wait in
    // a nested loop for the next result, and the polling timer cannot fire inside its own
    // timeout, so while one is, every result gets its own wake-up.
    void BeginDelivery();
    void EndDelivery();
    // The window thread looks for mail on a short timer (work is under way).
    void SetPolling(bool value);

    bool Empty() const;
    int Count() const;
    bool Holds(const std::function<bool(const TmySQLClientTaskData &)> &test) const;
    // Drops every waiting mail (freed outside the lock: a record frees its result through the
    // library).
    void Drop();
    // Makes the wake-up events the worker hands to Qt; called on the window thread, so that
    // every access to them is ordered by a lock the thread sanitizer sees (Qt's own queue lock
    // is invisible to it).
    void RefillSpareEvents();

private:
    void postWakeUpLocked(int message);

    QObject *const m_window;
    mutable std::mutex m_lock;
    std::deque<Mail> m_mail;
    bool m_posted = false; // a wake-up is on its way to the window
    bool m_polling = false;
    int m_deliveries = 0;
    QEvent *m_spare[2] = {nullptr, nullptr}; // one for each message number
};
