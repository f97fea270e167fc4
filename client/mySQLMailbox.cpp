// The mailbox between the worker and the window thread.
#include "mySQLMailbox.h"
#include "mySQLTask.h"

#include <QCoreApplication>

TmySQLMailbox::TmySQLMailbox(QObject *window) : m_window(window)
{
    RefillSpareEvents();
}

TmySQLMailbox::~TmySQLMailbox()
{
    Drop();
    for (QEvent *&spare : m_spare) {
        delete spare;
        spare = nullptr;
    }
}

void TmySQLMailbox::postWakeUpLocked(int message)
{
    if (m_posted || !m_window) return;
    m_posted = true;
    // Rows wake the window as a finished task does: the event only says that mail is waiting.
    const int slot = message == WM_TASK_FAILED ? 1 : 0;
    QEvent *&spare = m_spare[slot];
    QEvent *event =
        spare ? spare : new QEvent(static_cast<QEvent::Type>(slot ? WM_TASK_FAILED : WM_TASK_DONE));
    spare = nullptr;
    QCoreApplication::postEvent(m_window, event);
}

void TmySQLMailbox::Post(int message, std::unique_ptr<TmySQLClientTaskData> task, bool more)
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_mail.push_back({message, std::move(task), nullptr});
    if (m_polling && more && m_deliveries == 0) return;
    postWakeUpLocked(message);
}

void TmySQLMailbox::PostRows(std::unique_ptr<TmySQLRowMail> rows)
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_mail.push_back({WM_TASK_ROWS, nullptr, std::move(rows)});
    if (m_polling && m_deliveries == 0) return;
    postWakeUpLocked(WM_TASK_ROWS);
}

std::optional<TmySQLMailbox::Mail> TmySQLMailbox::Take()
{
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_mail.empty()) return std::nullopt;
    Mail mail = std::move(m_mail.front());
    m_mail.pop_front();
    if (!m_mail.empty()) postWakeUpLocked(m_mail.front().Message);
    return mail;
}

void TmySQLMailbox::Answered()
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_posted = false;
}

void TmySQLMailbox::BeginDelivery()
{
    std::lock_guard<std::mutex> lock(m_lock);
    ++m_deliveries;
}

void TmySQLMailbox::EndDelivery()
{
    std::lock_guard<std::mutex> lock(m_lock);
    --m_deliveries;
}

void TmySQLMailbox::SetPolling(bool value)
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_polling = value;
}

bool TmySQLMailbox::Empty() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_mail.empty();
}

int TmySQLMailbox::Count() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return static_cast<int>(m_mail.size());
}

bool TmySQLMailbox::Holds(const std::function<bool(const TmySQLClientTaskData &)> &test) const
{
    std::lock_guard<std::mutex> lock(m_lock);
    for (const Mail &mail : m_mail)
        if (mail.Task && test(*mail.Task)) return true;
    return false;
}

void TmySQLMailbox::Drop()
{
    std::deque<Mail> dropped;
    std::lock_guard<std::mutex> lock(m_lock);
    dropped.swap(m_mail);
    // `dropped` is destroyed after the lock is released (reverse order of declaration).
}

void TmySQLMailbox::RefillSpareEvents()
{
    bool wanted[2];
    {
        std::lock_guard<std::mutex> lock(m_lock);
        for (int i = 0; i < 2; ++i)
            wanted[i] = !m_spare[i];
    }
    for (int i = 0; i < 2; ++i) {
        if (!wanted[i]) continue;
        auto *event = new QEvent(static_cast<QEvent::Type>(i == 0 ? WM_TASK_DONE : WM_TASK_FAILED));
        std::lock_guard<std::mutex> lock(m_lock);
        if (m_spare[i])
            delete event;
        else
            m_spare[i] = event;
    }
}
