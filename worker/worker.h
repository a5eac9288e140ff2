#pragma once

#include "clock.h"
#include "devicerecord.h"
#include "joboutcome.h"
#include "panellink.h"
#include "updater.h"
#include "workrequest.h"

#include <QByteArray>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVector>

#include <cstdint>
#include <memory>
#include <vector>

namespace orvo {

/// One catalogue position visited by the version scan.
struct PanelStatus
{
    std::uint8_t panelIndex = 0;
    PanelSlot slot;
    UpdateResult result = UpdateResult::PanelNotFound; ///< until visited
    bool bootMode = false;
    std::uint8_t version = 0;
};

/// A duration split into whole hours, minutes of the hour, seconds and milliseconds.
struct DurationParts
{
    qint64 hours = 0;
    qint64 minutes = 0;
    qint64 seconds = 0;
    qint64 milliseconds = 0;
};
DurationParts splitDuration(qint64 ms);
/// "   [h hrs, m mins, s secs]" (an hour or more), "   [m mins, s secs]", "   [s secs]" or empty: the
/// time suffix of one board's update.
QString panelTimeText(qint64 ms);
/// "     [h hrs, m mins, s secs]", "     [m mins, s secs]", "     [s secs]" or empty.
QString totalTimeText(qint64 ms);

/// A workstation address whose /24 subnet the network scan sweeps, and the interface it is
/// reported on.
struct SweepAddress
{
    QString interfaceName;
    QString address;  ///< dotted IPv4 text
    quint32 ipv4 = 0; ///< the same address as a number, first octet highest
};
/// The addresses the subnet sweep handles, in order: every IPv4 address of the workstation but
/// 127.0.0.1, once, on the first interface that is running, valid, not loopback and not
/// point-to-point; none when no interface qualifies.
QVector<SweepAddress> sweepAddresses();

/// Id of the calling thread as it appears in the worker's debug lines ("0x7f3a...").
QString threadIdText();

/// Runs every network job in its own thread and reports only through signals.
///
/// The owner (WorkerHost) moves it to a QThread that runs only while a job runs. A front end asks
/// for a job with requestWork and a WorkRequest; the worker answers only through signals.
class Worker : public QObject, private UpdateReporter
{
    Q_OBJECT

public:
    /// `clock` drives every sleep, tick and socket wait; it must outlive the worker.
    explicit Worker(Clock &clock);
    Worker();
    ~Worker() override;

    /// Starts the job `request` describes (front end's thread, while no job runs): the request
    /// is copied under the worker's lock and the job reads only that copy.
    void requestWork(const WorkRequest &request);
    /// Asks a running job to stop; no effect when no job runs.
    void abort();
    bool isWorking() const;
    bool isAbortRequested() const;
    /// Path of the firmware file of the board being updated (the last one after the job).
    QByteArray currentFirmwareFile() const;

    Clock &clock() const { return m_clock; }
    PanelLink &link() { return *m_link; }
    /// The running job's inputs (worker thread, during a job).
    const WorkRequest &job() const { return m_job; }

    // Settings of the worker rather than of a job: set while no job runs.
    /// TCP port of the devices: 51000 in the product, set by tests and tools.
    void setDevicePort(std::uint16_t port);
    std::uint16_t devicePort() const { return m_devicePort; }
    /// Folder that holds the firmware files, ending in "/".
    void setFirmwareFolder(const QString &folder);
    QString firmwareFolder() const { return m_firmwareFolder; }
    /// The devices the last scan found, as the jobs have kept them since (while no job runs).
    const QVector<OrvoDiscoveryInfo> &knownDevices() const { return foundDevices; }

    /// Stores the button that answered the box of frWorker_showMessageBox. Called by the front
    /// end's side of that blocking signal, while the worker thread waits in the emission.
    void answerMessageBox(BoxButton answer) { msgBoxResult = answer; }

    /// Lets jobs talk only to loopback addresses (127.0.0.0/8, where the device simulator runs):
    /// a job that would reach any other address is refused with a message box and an error line
    /// naming `reason` (for example "The test control"), and sends nothing. Empty: no such rule.
    /// A clock faster than real time sets the rule itself at construction. Window thread, while
    /// no job runs.
    void setLoopbackOnly(const QString &reason);
    QString loopbackOnlyReason() const { return m_loopbackOnly; }

    /// Asks one address for its record; adds or replaces it in foundDevices when addToList.
    bool probeDeviceAt(const QString &ip, bool addToList);
    /// Asks the selected device for its record again and always emits the device list.
    void RequestInfo();

    // The operations of the version scan and auto update.
    void scanAndUpdateDevice(bool scanOnly, bool confirm);
    /// `found`, when given, receives whether the board answered, if it was asked.
    UpdateResult scanPanel(PanelStatus &status, std::optional<bool> *found = nullptr);
    /// `figures`, when given, adds up the records and download time of the attempt.
    bool updateOnePanel(PanelStatus &status, UpdateFigures *figures = nullptr);
    QString panelStatusText(const PanelStatus &status) const;

signals:
    void workRequested();
    void frW_insertListItem(orvo::RowIcon icon, QString text, bool bRemoveLastItem);
    void frW_ClearList();
    void frWorker_updateProgressBarAuto(
        bool bVisible, int nValue = 0, bool bShowText = true, int nMin = 0, int nMax = 100);
    void frWorker_updateProgressBar(bool bVisible, int nValue = 0, bool bShowText = true, int nMin = 0, int nMax = 100);
    void frWorker_updateDevicesCombo(QVector<OrvoDiscoveryInfo> dev);
    /// Blocking: connected with Qt::BlockingQueuedConnection, so it returns after the front end
    /// has answered (answerMessageBox). Emitting it from the window's own thread deadlocks.
    void frWorker_showMessageBox(orvo::BoxIcon icon, QString textTitle, QString textMsg, orvo::BoxButtons flagBtn);
    void frW_EnableControls(bool bEnable);
    void finished();
    // Not connected by the window: the outcomes of the jobs as data, for front ends that keep a
    // record or decide on it. Queued receivers need the types registered (WorkerHost does).
    /// A board the job visited, at each point where the job decides about it (see BoardOutcome).
    void frW_boardUpdated(orvo::BoardOutcome outcome);
    /// Once per job, just before its thread ends: how it ended.
    void frW_jobEnded(orvo::JobOutcome outcome);
    /// After each download record a board accepted.
    void frW_downloadProgress(orvo::DownloadProgress progress);

public slots:
    void doWork();

private:
    // UpdateReporter
    void listLine(RowIcon icon, const QString &text) override;
    void progress(bool visible, int value, bool showText, int min, int max) override;
    void downloadProgress(
        int records, std::int64_t elapsedMs, std::int64_t bytesDone, std::int64_t bytesTotal) override;

    void line(RowIcon icon, const QString &text) { emit frW_insertListItem(icon, text, false); }
    void replaceLine(RowIcon icon, const QString &text) { emit frW_insertListItem(icon, text, true); }
    void blank() { line(RowIcon::Blank, QString()); }
    /// Asks the front end and returns its answer (BoxButton::None when nobody answered).
    BoxButton ask(BoxIcon icon, const QString &title, const QString &text, BoxButtons buttons);

    /// Keeps `record`, the answer of the device asked at `askedAddress`, in foundDevices
    /// (addOrReplaceDevice) and returns the warning rows it calls for: a record that names
    /// another address than the one asked, and a record that takes the place of one that came
    /// from another address. Any host on the network can answer; the user must see both.
    QStringList keepRecord(const OrvoDiscoveryInfo &record, const QString &askedAddress);

    /// Points the link at the selected device; false (with a warning line) when
    /// selectedDevice, deviceType or, with `needPanel`, panelIndex address nothing.
    bool prepareSelection(bool needPanel);
    /// The start of the jobs on one board: the controls disabled and the selection prepared;
    /// false (controls enabled again) when the selection addresses no board.
    bool beginPanelJob();
    void setCurrentFirmwareFile(const QByteArray &path);
    /// A fresh outcome record for catalogue position `position` of the running job.
    BoardOutcome visitOf(int position) const;

    // Jobs, one per mode.
    void jobScanNetwork();
    /// With `afterReset` the check completes the reset's record of the board and reports it.
    void jobCheckPanel(BoardOutcome *afterReset = nullptr);
    void jobUpdatePanel();
    void jobResetPanel();
    void jobRenameDevice();
    void jobIdentifyDevice();

    // The steps of scanAndUpdateDevice.
    /// The boards of one version scan and what the job found out about each, same index.
    struct DeviceScan
    {
        std::vector<PanelStatus> boards;
        std::vector<BoardOutcome> outcomes;
    };
    /// Asks every board of `device` for its version, parents first; false when aborted.
    bool scanBoards(const OrvoDiscoveryInfo &device, DeviceScan &scan);
    /// The question before the update; false (with the cancelled line) unless answered Yes.
    bool confirmUpdate(int pending);
    /// Updates every board the scan found in need, in catalogue order; false when aborted.
    bool updateBoards(DeviceScan &scan);
    /// One board of the auto update: a fresh query, then up to two attempts.
    void updateScannedBoard(PanelStatus &status, BoardOutcome &outcome);
    /// The summary, the time taken and the closing box.
    void finishUpdate(const DeviceScan &scan, Clock::time_point jobStart, bool confirm);

    void manualScan(bool &replaceLast);
    void subnetScan(bool &replaceLast);

    /// What breaks the loopback-only rule in the job of `mode` ("192.0.2.10 is not one"), or
    /// empty when the job may go ahead.
    QString offLoopbackTarget(JobMode mode) const;
    /// The scan's part of offLoopbackTarget.
    QString offLoopbackScanTarget() const;
    /// Ends the job of `mode` before anything is sent, saying why.
    void refuseOffLoopback(JobMode mode, const QString &target);

    Clock &m_clock;
    std::unique_ptr<PanelLink> m_link;
    QString m_loopbackOnly; ///< why jobs may talk only to 127.0.0.0/8; empty: no such rule

    std::uint16_t m_devicePort = kDevicePort;
    QString m_firmwareFolder;

    mutable QMutex mutex;
    bool abortRequested = false;
    bool working = false;
    WorkRequest m_pending; ///< the last request, until its job takes it
    QByteArray m_currentFirmwareFile;

    // Worker thread only, during a job (and the front end's while no job runs).
    QVector<OrvoDiscoveryInfo> foundDevices; ///< the last scan's devices, kept up to date by the jobs
    WorkRequest m_job;                       ///< the running job's inputs
    BoxButton msgBoxResult = BoxButton::None;

    // Worker thread only, during a job.
    JobOutcome m_outcome;        ///< how the running job ends, reported at its end
    QStringList m_scanWarnings;  ///< keepRecord's rows during a scan, shown after its summary
    int m_downloadPosition = -1; ///< board of the running download
};

} // namespace orvo
