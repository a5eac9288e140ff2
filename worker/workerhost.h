#pragma once

#include "worker.h"

#include <QObject>
#include <QPointer>
#include <QThread>

#include <type_traits>

namespace orvo {

/// The window's side of the worker signals. The GUI, the command-line front end and the tests
/// implement it; WorkerHost makes the connections in one place for all of them.
class WorkerFrontEnd : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    /// Called in the front end's thread while the worker thread waits; returns the button that
    /// answered the box.
    virtual BoxButton messageBox(BoxIcon icon, const QString &textTitle, const QString &textMsg, BoxButtons flagBtn)
        = 0;

public slots:
    virtual void insertListItem(orvo::RowIcon icon, QString text, bool bRemoveLastItem) = 0;
    virtual void clearList() = 0;
    virtual void updateProgressBar(bool bVisible, int nValue, bool bShowText, int nMin, int nMax) = 0;
    virtual void updateProgressBarAuto(bool bVisible, int nValue, bool bShowText, int nMin, int nMax) = 0;
    virtual void updateDevicesCombo(QVector<OrvoDiscoveryInfo> dev) = 0;
    virtual void enableControls(bool bEnable) = 0;
    // The jobs' outcomes as data; a front end that keeps no record (the window) ignores them.
    virtual void boardOutcome(orvo::BoardOutcome) { }
    virtual void jobEnded(orvo::JobOutcome) { }
    virtual void downloadProgress(orvo::DownloadProgress) { }
};

/// Lets the worker thread run Qt's plain poll() event dispatcher instead of the GLib one: it has
/// no GLib sources to serve, and with GLib each panel exchange costs four more eventfd writes,
/// a read and a poll (about 13 instead of 18 system calls per exchange). The main thread, where
/// the window and its platform integration live, keeps its dispatcher. Qt reads the setting from
/// the environment whenever a thread starts, so this is called at the top of main(), before any
/// thread exists; a value the user has set is kept.
void preferPlainWorkerEventLoop();

/// Owns the worker and its thread, makes the connections of the request protocol and of the
/// front end, and on destruction asks a running job to abort and waits for the thread.
class WorkerHost : public QObject
{
    Q_OBJECT

public:
    /// `clock` must outlive the host; `frontEnd` may be null (connect later with attach).
    explicit WorkerHost(Clock &clock, WorkerFrontEnd *frontEnd = nullptr, QObject *parent = nullptr);
    ~WorkerHost() override;

    Worker *worker() const { return m_worker; }
    QThread *thread() const { return m_thread; }

    /// Connects the worker's signals to `frontEnd` (once).
    void attach(WorkerFrontEnd *frontEnd);

    /// The request protocol of every handler: refuses with the debug line "worker still busy"
    /// when a job runs; otherwise waits for the previous job's thread, lets `complete` finish the
    /// request (a prompt that may come only once the job can run), and requests it. A `complete`
    /// that returns bool may decline with false (a prompt the user cancelled): then nothing is
    /// requested. Returns whether the job was requested.
    template <typename Complete>
    bool request(WorkRequest request, Complete &&complete)
    {
        if (!beginRequest())
            return false;
        if constexpr (std::is_same_v<decltype(complete(request)), bool>) {
            if (!complete(request))
                return false;
        } else {
            complete(request);
        }
        m_worker->requestWork(request);
        return true;
    }
    bool request(const WorkRequest &request)
    {
        return this->request(request, [](WorkRequest &) {});
    }

    /// Blocks until the running job (if any) has ended and its thread has stopped.
    void waitForIdle();

    /// For a front end that is closing: asks a running job to abort, waits for its thread, and
    /// then delivers the calls the job made until it ended (in the calling thread, which must
    /// be the front end's). The host stays usable; its destructor does the same but the last step.
    void shutDown();

private:
    bool beginRequest();
    /// Lets a job's pending or coming question return unanswered, once nobody will answer it.
    void withdrawMessageBoxes();

    QThread *m_thread = nullptr;
    Worker *m_worker = nullptr;
    QPointer<WorkerFrontEnd> m_frontEnd;      ///< the one front end attached, if any
    QPointer<QObject> m_calls;                ///< carries the other calls into the front end's thread
    QPointer<QObject> m_messageBoxRelay;      ///< receives the worker's questions in the front end's thread
    QMetaObject::Connection m_messageBoxCall; ///< the blocking connection to it
};

} // namespace orvo
