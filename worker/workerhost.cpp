#include "workerhost.h"

#include "devicerecord.h"
#include "tsanannotations.h"

#include <QCoreApplication>
#include <QEvent>
#include <QtDebug>

#include <deque>
#include <functional>
#include <mutex>

namespace orvo {

namespace {

/// Receives the blocking message-box call in the front end's thread. The call reads its
/// arguments from the worker thread's stack; the event queue that hands the call over and the
/// semaphore that keeps the worker waiting until it is done both synchronise inside Qt, out of
/// the sanitizer's sight. The acquire before and the release after the whole call, paired with
/// a release and an acquire in the worker thread around the emission, state that ordering.
class MessageBoxRelay : public QObject
{
public:
    explicit MessageBoxRelay(QObject *parent) : QObject(parent) { }

    bool event(QEvent *e) override
    {
        const bool call = e->type() == QEvent::MetaCall;
        if (call)
            tsanAcquire(this);
        const bool handled = QObject::event(e);
        if (call)
            tsanRelease(this);
        return handled;
    }
};

/// Carries the worker's other calls into the front end's thread, in the order they were made.
/// A queued connection would copy each call's arguments inside Qt after the emission and hand
/// them over through Qt's own event queue, a hand-over that a sanitizer build cannot see. Here
/// the call, its arguments copied, goes into a queue under a standard mutex; each posted event
/// takes exactly one call out, so the calls keep their place among the other events of that
/// thread (a question, for one).
class CallMailbox : public QObject
{
public:
    explicit CallMailbox(QObject *parent) : QObject(parent) { }

    void deliver(std::function<void()> call)
    {
        if (QThread::currentThread() == thread()) {
            call(); // emitted in the front end's own thread: called at once, as a direct connection would
            return;
        }
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_calls.push_back(std::move(call));
        }
        QCoreApplication::postEvent(this, new QEvent(kCallEvent));
    }

    bool event(QEvent *e) override
    {
        if (e->type() != kCallEvent)
            return QObject::event(e);
        std::function<void()> call;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_calls.empty())
                return true;
            call = std::move(m_calls.front());
            m_calls.pop_front();
        }
        call();
        return true;
    }

    static constexpr QEvent::Type kCallEvent = QEvent::User;

private:
    std::mutex m_mutex;
    std::deque<std::function<void()>> m_calls;
};

/// Connects `signal` to the front end's `slot` through `mailbox`. The connection belongs to the
/// mailbox, so it ends with the front end.
template <typename... SignalArgs, typename... SlotArgs>
void relayToFrontEnd(Worker *w, void (Worker::*signal)(SignalArgs...), CallMailbox *mailbox, WorkerFrontEnd *frontEnd,
    void (WorkerFrontEnd::*slot)(SlotArgs...))
{
    QObject::connect(
        w, signal, mailbox,
        [mailbox, frontEnd, slot](
            SignalArgs... args) { mailbox->deliver([frontEnd, slot, args...] { (frontEnd->*slot)(args...); }); },
        Qt::DirectConnection);
}

} // namespace

void preferPlainWorkerEventLoop()
{
    if (!qEnvironmentVariableIsSet("QT_NO_THREADED_GLIB"))
        qputenv("QT_NO_THREADED_GLIB", "1");
}

WorkerHost::WorkerHost(Clock &clock, WorkerFrontEnd *frontEnd, QObject *parent) : QObject(parent)
{
    // The device list and the jobs' outcomes cross from the worker thread in queued signals.
    registerMetaTypes();
    qRegisterMetaType<orvo::BoardOutcome>();
    qRegisterMetaType<orvo::JobOutcome>();
    qRegisterMetaType<orvo::DownloadProgress>();
    qRegisterMetaType<orvo::RowIcon>();
    qRegisterMetaType<orvo::BoxIcon>();
    qRegisterMetaType<orvo::BoxButtons>();

    m_thread = new QThread;
    m_worker = new Worker(clock);
    m_worker->moveToThread(m_thread);

    // The thread runs only while a job runs: a request starts it, its start runs the job, and
    // the end of the job quits it (directly, in the worker thread, before its event loop ever
    // starts, so the thread ends as soon as doWork returns).
    connect(m_worker, &Worker::workRequested, m_thread, [thread = m_thread] { thread->start(); });
    connect(m_thread, &QThread::started, m_worker, &Worker::doWork);
    connect(m_worker, &Worker::finished, m_thread, &QThread::quit, Qt::DirectConnection);

    if (frontEnd)
        attach(frontEnd);
}

WorkerHost::~WorkerHost()
{
    m_worker->abort();
    withdrawMessageBoxes();
    waitForIdle();
    qDebug("%s", qUtf8Printable(QStringLiteral("Deleting thread and worker in Thread ") + threadIdText()));
    delete m_thread;
    delete m_worker;
}

void WorkerHost::attach(WorkerFrontEnd *frontEnd)
{
    if (!frontEnd || m_frontEnd)
        return;
    m_frontEnd = frontEnd;
    Worker *w = m_worker;
    auto *calls = new CallMailbox(frontEnd);
    m_calls = calls;
    relayToFrontEnd(w, &Worker::frW_insertListItem, calls, frontEnd, &WorkerFrontEnd::insertListItem);
    relayToFrontEnd(w, &Worker::frW_ClearList, calls, frontEnd, &WorkerFrontEnd::clearList);
    relayToFrontEnd(
        w, &Worker::frWorker_updateProgressBarAuto, calls, frontEnd, &WorkerFrontEnd::updateProgressBarAuto);
    relayToFrontEnd(w, &Worker::frWorker_updateProgressBar, calls, frontEnd, &WorkerFrontEnd::updateProgressBar);
    relayToFrontEnd(w, &Worker::frWorker_updateDevicesCombo, calls, frontEnd, &WorkerFrontEnd::updateDevicesCombo);
    relayToFrontEnd(w, &Worker::frW_EnableControls, calls, frontEnd, &WorkerFrontEnd::enableControls);
    relayToFrontEnd(w, &Worker::frW_boardUpdated, calls, frontEnd, &WorkerFrontEnd::boardOutcome);
    relayToFrontEnd(w, &Worker::frW_jobEnded, calls, frontEnd, &WorkerFrontEnd::jobEnded);
    relayToFrontEnd(w, &Worker::frW_downloadProgress, calls, frontEnd, &WorkerFrontEnd::downloadProgress);
    // The one question the worker asks: the worker thread blocks in the emission until the
    // front end has answered and the answer is stored, which orders the write before the read.
    // Its relay is its own, so that withdrawMessageBoxes drops only questions.
    auto *relay = new MessageBoxRelay(frontEnd);
    // Runs in the worker thread just before the call is handed over (connections run in order).
    connect(
        w, &Worker::frWorker_showMessageBox, w, [relay] { tsanRelease(relay); }, Qt::DirectConnection);
    m_messageBoxRelay = relay;
    m_messageBoxCall = connect(
        w, &Worker::frWorker_showMessageBox, relay,
        [w, frontEnd](BoxIcon icon, QString textTitle, QString textMsg, BoxButtons flagBtn) {
            w->answerMessageBox(frontEnd->messageBox(icon, textTitle, textMsg, flagBtn));
        },
        Qt::BlockingQueuedConnection);
    // Runs in the worker thread right after the blocking call above has returned.
    connect(
        w, &Worker::frWorker_showMessageBox, w, [relay] { tsanAcquire(relay); }, Qt::DirectConnection);
}

void WorkerHost::shutDown()
{
    m_worker->abort();
    withdrawMessageBoxes();
    waitForIdle();
    // The job's last calls (its closing lines, the controls enabled again) are still queued for
    // a front end that no longer runs its event loop: hand them over now, so that they reach
    // its list and its log file.
    if (m_calls && m_calls->thread() == QThread::currentThread())
        QCoreApplication::sendPostedEvents(m_calls, CallMailbox::kCallEvent);
}

void WorkerHost::withdrawMessageBoxes()
{
    // This thread is about to block until the job has ended, and a window that is closing has
    // already left its event loop: a question the job has asked, or asks from now on, would never
    // be answered, and the job would never reach its next abort check. Cut the connection (no new
    // call is queued once this returns) and drop a call still queued, which lets the emission
    // return unanswered (BoxButton::None). Only the relay's own thread may touch its
    // queue; a relay in the middle of its call answers it as usual.
    if (!m_messageBoxRelay || m_messageBoxRelay->thread() != QThread::currentThread())
        return;
    disconnect(m_messageBoxCall);
    QCoreApplication::removePostedEvents(m_messageBoxRelay, QEvent::MetaCall);
}

bool WorkerHost::beginRequest()
{
    if (m_worker->isWorking()) {
        qDebug("worker still busy");
        return false;
    }
    // No job runs, so this abort changes nothing; the wait covers the last moments of the
    // previous job, after it cleared its busy flag and before its thread ended.
    m_worker->abort();
    waitForIdle();
    return true;
}

void WorkerHost::waitForIdle()
{
    m_thread->wait();
    tsanAcquire(m_worker); // pairs with the release at the end of doWork
}

} // namespace orvo
