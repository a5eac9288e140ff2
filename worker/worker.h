#pragma once

#include "devicerecord.h"
#include "joboutcome.h"
#include "panellink.h"
#include "updater.h"

#include <QByteArray>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVector>

#include <cstdint>
#include <memory>

namespace orvo {

class Clock;

/// Job modes of requestWork.
enum JobMode : int {
    ScanNetwork = 0,
    AutoUpdate = 1,
    GetVersions = 2,
    CheckPanel = 3,
    UpdatePanel = 4,
    ResetPanel = 5,
    RenameDevice = 6,
    IdentifyDevice = 7,
};

/// One catalogue position visited by the version scan.
struct PanelStatus
{
    std::uint8_t panelIndex = 0;
    std::uint8_t panel = 0;
    std::uint8_t channel = 0;
    std::uint8_t boardType = 0;
    std::uint8_t boardAddress = 0;
    std::uint32_t result = 4; ///< update result code; 4 (panel not found) until visited
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
/// The owner (WorkerHost) moves it to a QThread that runs only while a job runs. The window
/// stores a job's inputs in the public fields while no job runs, then calls requestWork.
class Worker : public QObject, private UpdateReporter
{
    Q_OBJECT

public:
    /// `clock` drives every sleep, tick and socket wait; it must outlive the worker.
    explicit Worker(Clock &clock);
    Worker();
    ~Worker() override;

    // Job inputs, written by the window thread while no job runs.
    QVector<OrvoDiscoveryInfo> foundDevices;
    int selectedDevice = 0;
    int deviceType = 0;
    int panelIndex = 0;
    int msgBoxResult = 0;
    bool forceUpdate = false;
    bool checkAfterReset = false;
    bool refreshDeviceInfo = false;
    QString manualIp[4] = { QStringLiteral("000.000.000.000"), QStringLiteral("000.000.000.000"),
        QStringLiteral("000.000.000.000"), QStringLiteral("000.000.000.000") };
    bool manualIpEnabled = false;
    QString newDeviceName;

    /// TCP port of the devices: 51000 in the product, set by tests and tools.
    std::uint16_t devicePort = kDevicePort;
    /// Folder that holds the firmware files, ending in "/".
    QString firmwareFolder;

    /// Starts a job (window thread). The second argument is not used.
    void requestWork(int mode, int unused = 0);
    /// Asks a running job to stop; no effect when no job runs.
    void abort();
    bool isWorking() const;
    bool isAbortRequested() const;
    /// Path of the firmware file of the board being updated (the last one after the job).
    QByteArray currentFirmwareFile() const;

    Clock &clock() const { return m_clock; }
    PanelLink &link() { return *m_link; }

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
    std::uint32_t scanPanel(PanelStatus &status, std::optional<bool> *found = nullptr);
    /// `figures`, when given, adds up the records and download time of the attempt.
    bool updateOnePanel(PanelStatus &status, UpdateFigures *figures = nullptr);
    QString panelStatusText(const PanelStatus &status) const;

signals:
    void workRequested();
    void setLogEditText(QString value);
    void appendLogEditText(QString value);
    void ClearLogEdit();
    void frW_insertListItem(int icon, QString text, int nIndex, bool bRemoveLastItem);
    void frW_ClearList();
    void frWorker_updateProgressBarAuto(
        bool bVisible, int nValue = 0, bool bShowText = true, int nMin = 0, int nMax = 100);
    void frWorker_updateProgressBar(bool bVisible, int nValue = 0, bool bShowText = true, int nMin = 0, int nMax = 100);
    void frWorker_updateDevicesCombo(QVector<OrvoDiscoveryInfo> dev);
    /// Blocking: connected with Qt::BlockingQueuedConnection, so it returns after the window has
    /// stored the pressed button in msgBoxResult. Emitting it from the window's own thread
    /// deadlocks.
    void frWorker_showMessageBox(int icon, QString textTitle, QString textMsg, uint flagBtn);
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
    void listLine(int icon, const QString &text) override;
    void progress(bool visible, int value, bool showText, int min, int max) override;
    void downloadProgress(
        int records, std::int64_t elapsedMs, std::int64_t bytesDone, std::int64_t bytesTotal) override;

    void line(int icon, const QString &text) { emit frW_insertListItem(icon, text, 0, false); }
    void replaceLine(int icon, const QString &text) { emit frW_insertListItem(icon, text, 0, true); }
    void blank() { line(0, QString()); }

    /// Keeps `record`, the answer of the device asked at `askedAddress`, in foundDevices
    /// (addOrReplaceDevice) and returns the warning rows it calls for: a record that names
    /// another address than the one asked, and a record that takes the place of one that came
    /// from another address. Any host on the network can answer; the user must see both.
    QStringList keepRecord(const OrvoDiscoveryInfo &record, const QString &askedAddress);

    /// Points the link at the selected device; false (with a warning line) when
    /// selectedDevice, deviceType or, with `needPanel`, panelIndex address nothing.
    bool prepareSelection(bool needPanel);
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

    void manualScan(bool &replaceLast);
    void subnetScan(bool &replaceLast);

    /// What breaks the loopback-only rule in the job of `mode` ("192.0.2.10 is not one"), or
    /// empty when the job may go ahead.
    QString offLoopbackTarget(int mode) const;
    /// The scan's part of offLoopbackTarget.
    QString offLoopbackScanTarget() const;
    /// Ends the job of `mode` before anything is sent, saying why.
    void refuseOffLoopback(int mode, const QString &target);

    Clock &m_clock;
    std::unique_ptr<PanelLink> m_link;
    QString m_loopbackOnly; ///< why jobs may talk only to 127.0.0.0/8; empty: no such rule

    mutable QMutex mutex;
    bool abortRequested = false;
    bool working = false;
    int mode = -1;
    QByteArray m_currentFirmwareFile;

    // Worker thread only, during a job.
    JobOutcome m_outcome;        ///< how the running job ends, reported at its end
    QStringList m_scanWarnings;  ///< keepRecord's rows during a scan, shown after its summary
    int m_downloadPosition = -1; ///< board of the running download
};

} // namespace orvo
