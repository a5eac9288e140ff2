#include "workerhost.h"

#include "devicerecord.h"
#include "tsanannotations.h"

#include <QCoreApplication>
#include <QEvent>
#include <QtDebug>

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
    MessageBoxRelay(const void *token, QObject *parent) : QObject(parent), m_token(token) {}

    bool event(QEvent *e) override
    {
        const bool call = e->type() == QEvent::MetaCall;
        if (call)
            tsanAcquire(m_token);
        const bool handled = QObject::event(e);
        if (call)
            tsanRelease(m_token);
        return handled;
    }

private:
    const void *m_token;
};

} // namespace

WorkerHost::WorkerHost(Clock &clock, WorkerFrontEnd *frontEnd, QObject *parent) : QObject(parent)
{
    // The device list and the jobs' outcomes cross from the worker thread in queued signals.
    registerMetaTypes();
    qRegisterMetaType<orvo::BoardOutcome>();
    qRegisterMetaType<orvo::JobOutcome>();
    qRegisterMetaType<orvo::DownloadProgress>();

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
    connect(w, &Worker::frW_insertListItem, frontEnd, &WorkerFrontEnd::insertListItem);
    connect(w, &Worker::frW_ClearList, frontEnd, &WorkerFrontEnd::clearList);
    connect(w, &Worker::frWorker_updateProgressBarAuto, frontEnd, &WorkerFrontEnd::updateProgressBarAuto);
    connect(w, &Worker::frWorker_updateProgressBar, frontEnd, &WorkerFrontEnd::updateProgressBar);
    connect(w, &Worker::frWorker_updateDevicesCombo, frontEnd, &WorkerFrontEnd::updateDevicesCombo);
    connect(w, &Worker::frW_EnableControls, frontEnd, &WorkerFrontEnd::enableControls);
    connect(w, &Worker::frW_boardUpdated, frontEnd, &WorkerFrontEnd::boardOutcome);
    connect(w, &Worker::frW_jobEnded, frontEnd, &WorkerFrontEnd::jobEnded);
    connect(w, &Worker::frW_downloadProgress, frontEnd, &WorkerFrontEnd::downloadProgress);
    // The one question the worker asks: the worker thread blocks in the emission until the
    // front end has answered and the answer is stored, which orders the write before the read.
    auto *relay = new MessageBoxRelay(&w->msgBoxResult, frontEnd);
    // Runs in the worker thread just before the call is handed over (connections run in order).
    connect(
        w, &Worker::frWorker_showMessageBox, w, [w] { tsanRelease(&w->msgBoxResult); }, Qt::DirectConnection);
    m_messageBoxRelay = relay;
    m_messageBoxCall = connect(
        w, &Worker::frWorker_showMessageBox, relay,
        [w, frontEnd](int icon, QString textTitle, QString textMsg, uint flagBtn) {
            w->msgBoxResult = frontEnd->messageBox(icon, textTitle, textMsg, flagBtn);
        },
        Qt::BlockingQueuedConnection);
    // Runs in the worker thread right after the blocking call above has returned.
    connect(
        w, &Worker::frWorker_showMessageBox, w, [w] { tsanAcquire(&w->msgBoxResult); }, Qt::DirectConnection);
}

void WorkerHost::withdrawMessageBoxes()
{
    // This thread is about to block until the job has ended, and a window that is closing has
    // already left its event loop: a question the job has asked, or asks from now on, would never
    // be answered, and the job would never reach its next abort check. Cut the connection (no new
    // call is queued once this returns) and drop a call still queued, which lets the emission
    // return unanswered with msgBoxResult unchanged. Only the relay's own thread may touch its
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
