// The task handler and its hidden window: running the queue and delivering finished tasks on the
// window thread.
#include "mySQLQueue.h"

#include <QThread>

#include <algorithm>

bool TmySQLClientTaskWindow::event(QEvent *e)
{
    const int type = static_cast<int>(e->type());
    if (type != WM_TASK_DONE && type != WM_TASK_FAILED) return QObject::event(e);
    if (FHandler) FHandler->WakeUp();
    return true;
}

TmySQLClientTaskHandler::TmySQLClientTaskHandler(bool Threaded, QObject *parent)
    : QObject(parent), FWindow(std::make_unique<TmySQLClientTaskWindow>(this)),
      FMailbox(std::make_unique<TmySQLMailbox>(FWindow.get())),
      FThread(std::make_unique<TmySQLClientThread>(FMailbox.get()))
{
    setThreaded(Threaded);
    FMailTimer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&FMailTimer, &QTimer::timeout, this, [this] { MailTimer(); });
}

TmySQLClientTaskHandler::~TmySQLClientTaskHandler()
{
    FThread.reset();  // ends and joins the worker; waiting tasks are dropped unrun
    FMailbox.reset(); // reports never delivered go with it
    FWindow.reset();  // and the wake-ups still posted to the window
}

TmySQLClientTaskHandler::Frame::Frame(TmySQLClientTaskHandler *handler) : m_handler(handler)
{
    ++m_handler->FDepth;
}

TmySQLClientTaskHandler::Frame::~Frame()
{
    if (--m_handler->FDepth == 0 && m_handler->FLife == Life::Orphaned) delete m_handler;
}

void TmySQLClientTaskHandler::Orphan()
{
    Abandon();
    if (FDepth == 0)
        delete this;
    else
        FLife = Life::Orphaned;
}

void TmySQLClientTaskHandler::Abandon()
{
    FLife = Life::Abandoned;
    FMailTimer.stop();
    FThread->Stop();
    FThread->ClearTasks();
    FThread->setMySQL(nullptr);
    FMailbox->Drop();
    FOnStatus = nullptr;
    FOnTaskDone = nullptr;
    FWindow->FHandler = nullptr;
}

void TmySQLClientTaskHandler::setThreaded(bool value)
{
    FThreaded = value;
    FThread->setThreaded(value);
}

void TmySQLClientTaskHandler::ProcessTasks(bool closing)
{
    if (Abandoned()) return;
    if (FThreaded) {
        FMailbox->SetPolling(true);
        if (!FMailTimer.isActive()) FMailTimer.start(1);
        FThread->Wake();
    } else {
        RunInline(closing);
    }
}

// ---------------------------------------------------------------------------------------------
// Inline runs

void TmySQLClientTaskHandler::RunInline(bool closing)
{
    const Frame frame(this);
    FThread->BeginInlineRun();
    FThread->WaitIdle(closing);
    // Reports of tasks the worker ran before we took over come first, keeping task order.
    if (QThread::currentThread() == FWindow->thread()) DeliverMessages();
    while (!Abandoned()) {
        std::unique_ptr<TmySQLClientTaskData> task = FThread->TakeInline(closing);
        if (!task) break;
        const TmySQLOutcome outcome =
            RunLibraryCalls(task.get(), FThread->MySQL(), [this](std::unique_ptr<TmySQLRowMail> r) {
                FMailbox->PostRows(std::move(r));
            });
        FThread->FinishedInline(); // the steps below may run the queue again
        // A stream's batches, collected while it ran, come before its end.
        if (!FMailbox->Empty()) {
            DeliverMessages();
            if (Abandoned()) break;
        }
        if (outcome == TmySQLOutcome::Done)
            NotifyComplete(std::move(task));
        else if (outcome == TmySQLOutcome::Failed)
            NotifyError(std::move(task));
        // Our owner may have gone away inside a step: the handler (and the queue) live until
        // the frame ends, and nothing more is run.
    }
    FThread->EndInlineRun();
}

void TmySQLClientTaskHandler::NotifyComplete(std::unique_ptr<TmySQLClientTaskData> task)
{
    // Inline, the worker is the sender, as the task ran on the calling thread in its place.
    QObject *sender = FThread.get();
    const bool reports = static_cast<bool>(FOnStatus);
    const QString name = reports ? QString::fromStdString(task->TaskName) : QString();
    const int left = reports ? FThread->TaskCount() : 0;
    const TmySQLClientTaskCompleteEvent step = std::move(task->OnTaskComplete);
    if (step) step(sender, task.release());
    if (Abandoned()) return;
    const auto done = FOnTaskDone;
    if (done) done(sender);
    if (Abandoned()) return;
    const auto status = FOnStatus;
    if (status) status(sender, stActive, name, left);
}

void TmySQLClientTaskHandler::NotifyError(std::unique_ptr<TmySQLClientTaskData> task)
{
    const TmySQLClientTaskErrorEvent step = std::move(task->OnTaskError);
    const QString text = QString::fromStdString(task->ErrorText);
    if (step) step(FThread.get(), task.release(), text);
}

// ---------------------------------------------------------------------------------------------
// Delivery

void TmySQLClientTaskHandler::MailTimer()
{
    const Frame frame(this);
    const bool hadMail = !FMailbox->Empty();
    if (hadMail) DeliverMessages();
    if (Abandoned()) return;
    // Only the window thread adds tasks: once nothing waits or runs, no mail can come unasked.
    if (FThread->Idle() && FMailbox->Empty()) {
        // Nothing under way: back to one posted wake-up per result.
        FMailbox->SetPolling(false);
        FMailTimer.stop();
        return;
    }
    // A long statement keeps the worker busy: look less often, but never later than a frame.
    const int interval = hadMail ? 1 : std::min(FMailTimer.interval() * 2, 16);
    if (interval != FMailTimer.interval()) FMailTimer.setInterval(interval);
}

void TmySQLClientTaskHandler::WakeUp()
{
    FMailbox->Answered();
    DeliverMessages();
}

void TmySQLClientTaskHandler::DeliverMessages()
{
    const Frame frame(this);
    FMailbox->RefillSpareEvents();
    FMailbox->BeginDelivery();
    while (!Abandoned()) {
        std::optional<TmySQLMailbox::Mail> mail = FMailbox->Take();
        if (!mail) break;
        if (mail->Message == WM_TASK_ROWS)
            DeliverRows(std::move(mail->Rows));
        else
            WndProc(mail->Message, std::move(mail->Task));
    }
    FMailbox->EndDelivery();
}

void TmySQLClientTaskHandler::WndProc(int Msg, std::unique_ptr<TmySQLClientTaskData> task)
{
    if (!task) return;
    if (Msg == WM_TASK_FAILED) {
        TmySQLClientTaskErrorEvent step = std::move(task->OnTaskError);
        if (step) {
            const QString text = QString::fromStdString(task->ErrorText);
            step(this, task.release(), text);
        }
        return;
    }
    const TmySQLTaskKind kind = task->TaskKind;
    if (const TmySQLClientTask_OnStatus report = FOnStatus) {
        // The step may free the task, so the report takes what it needs first.
        report(this, stActive, QString::fromStdString(task->TaskName), FThread->TaskCount() + 1);
        if (Abandoned()) return;
    }
    TmySQLClientTaskCompleteEvent step = std::move(task->OnTaskComplete);
    if (step) step(this, task.release());
    // The step's events may have destroyed our owner: then we are abandoned and stop here.
    if (Abandoned()) return;
    if (const auto done = FOnTaskDone) {
        done(this);
        if (Abandoned()) return;
    }
    if (FThread->TaskCount() != 0) return;
    if (const TmySQLClientTask_OnStatus after = FOnStatus) {
        if (kind == TmySQLTaskKind::Close)
            after(this, stNotConnected, QStringLiteral("[Session Closed]"), 0);
        else
            after(this, stIdle, QStringLiteral("[Idle]"), 0);
    }
}

void TmySQLClientTaskHandler::DeliverRows(std::unique_ptr<TmySQLRowMail> rows)
{
    if (!rows || !rows->OnRows || !*rows->OnRows) return;
    // A copy of the step: the batch (and the step with it) may be freed by what the step does.
    const std::shared_ptr<const TmySQLClientTask_OnRows> step = rows->OnRows;
    (*step)(this, rows->Batch);
}
