#include "worker.h"

#include "catalogue.h"
#include "clock.h"
#include "tsanannotations.h"

#include <QThread>
#include <QtDebug>

namespace orvo {

namespace {

void debugLine(const QString &text)
{
    qDebug("%s", qUtf8Printable(text));
}

DeviceTarget targetOf(const OrvoDiscoveryInfo &record, std::uint16_t port)
{
    DeviceTarget target;
    target.host = ipText(record);
    target.port = port;
    target.headerDeviceType = record.requestDeviceType();
    return target;
}

} // namespace

QString threadIdText()
{
    return QStringLiteral("0x") + QString::number(reinterpret_cast<quintptr>(QThread::currentThreadId()), 16);
}

Worker::Worker(Clock &clock)
    : QObject(nullptr), m_clock(clock),
      m_link(std::make_unique<PanelLink>(clock, [this] { return isAbortRequested(); }))
{
    // A faster clock cuts the boards' restart and erase waits: only the simulator may see it.
    if (clock.factor() > 1.0)
        m_loopbackOnly = QStringLiteral("The time factor ") + QString::number(clock.factor());
}

void Worker::setLoopbackOnly(const QString &reason)
{
    m_loopbackOnly = reason;
}

Worker::Worker() : Worker(Clock::real()) { }

Worker::~Worker() = default;

void Worker::requestWork(int mode, int /*unused*/)
{
    {
        AnnotatedLock locker(mutex);
        working = true;
        abortRequested = false;
        this->mode = mode;
        m_currentFirmwareFile.clear();
        debugLine(QStringLiteral("Request worker start in Thread [requestWork()] ") + threadIdText());
    }
    emit workRequested();
}

void Worker::abort()
{
    AnnotatedLock locker(mutex);
    if (working) {
        abortRequested = true;
        debugLine(QStringLiteral("Request worker aborting in Thread [abort()] ") + threadIdText());
    }
}

bool Worker::isWorking() const
{
    AnnotatedLock locker(mutex);
    return working;
}

bool Worker::isAbortRequested() const
{
    AnnotatedLock locker(mutex);
    return abortRequested;
}

QByteArray Worker::currentFirmwareFile() const
{
    AnnotatedLock locker(mutex);
    return m_currentFirmwareFile;
}

void Worker::setCurrentFirmwareFile(const QByteArray &path)
{
    AnnotatedLock locker(mutex);
    m_currentFirmwareFile = path;
}

void Worker::doWork()
{
    debugLine(QStringLiteral("Starting worker process in Thread [doWork()] ") + threadIdText());
    int requested = -1;
    {
        AnnotatedLock locker(mutex);
        requested = mode;
    }
    m_outcome = JobOutcome();
    m_outcome.mode = requested;

    // The device and panel jobs bracket themselves with the enable/disable of the window's
    // controls (the reset job has its own exceptions); the version scan is framed here because
    // the auto update's device refresh belongs inside the same frame.
    const QString offLoopback = offLoopbackTarget(requested);
    if (!offLoopback.isEmpty())
        refuseOffLoopback(requested, offLoopback);
    else
        switch (requested) {
        case ScanNetwork:
            jobScanNetwork();
            break;
        case AutoUpdate:
        case GetVersions:
            emit frW_EnableControls(false);
            scanAndUpdateDevice(requested == GetVersions, true);
            // After an abort the window is closing: asking a device that may be gone for its record
            // would hold the close for up to the blocking client's 27 s.
            if (requested == AutoUpdate && refreshDeviceInfo && !isAbortRequested()) {
                refreshDeviceInfo = false;
                RequestInfo();
            }
            emit frW_EnableControls(true);
            break;
        case CheckPanel:
            jobCheckPanel();
            break;
        case UpdatePanel:
            jobUpdatePanel();
            break;
        case ResetPanel:
            jobResetPanel();
            break;
        case RenameDevice:
            jobRenameDevice();
            break;
        case IdentifyDevice:
            jobIdentifyDevice();
            break;
        default:
            break; // no job: only the closing steps
        }
    if (requested >= ScanNetwork && requested <= IdentifyDevice) {
        // A job cut short inside the layers below (an update, a wait) ends its own way but was
        // still stopped by the abort.
        if (m_outcome.end == JobEnd::Done && isAbortRequested())
            m_outcome.end = JobEnd::Aborted;
        emit frW_jobEnded(m_outcome);
    }

    {
        AnnotatedLock locker(mutex);
        working = false;
    }
    debugLine(QStringLiteral("Worker process finished in Thread [doWork()] ") + threadIdText());
    emit finished();
    // Whoever has waited for this thread to end sees everything the job did.
    tsanRelease(this);
}

QString Worker::offLoopbackTarget(int mode) const
{
    if (m_loopbackOnly.isEmpty())
        return QString();
    if (mode == ScanNetwork)
        return offLoopbackScanTarget();
    // Every device job talks to the selected record's address, and only to it.
    if (mode < AutoUpdate || mode > IdentifyDevice || selectedDevice < 0 || selectedDevice >= foundDevices.size())
        return QString();
    const QString address = ipText(foundDevices.at(selectedDevice));
    return isLoopbackAddress(address) ? QString() : address + QStringLiteral(" is not one");
}

void Worker::refuseOffLoopback(int mode, const QString &target)
{
    const QString text = m_loopbackOnly
        + QStringLiteral(" is for the device simulator only: jobs may then talk only to loopback addresses "
                         "(127.0.0.0/8), and ")
        + target + QStringLiteral(". The job was not started; nothing was sent.");
    debugLine(QStringLiteral("Job refused: ") + text);
    m_outcome.end = JobEnd::Refused;
    // The window disabled its controls for the scan itself and takes them back with the list.
    if (mode != ScanNetwork)
        emit frW_EnableControls(false);
    line(3, QStringLiteral("Error!  ") + text);
    emit frWorker_showMessageBox(3, QStringLiteral("Orvo Updater"), text, 0x400);
    if (mode == ScanNetwork)
        emit frWorker_updateDevicesCombo(foundDevices);
    else
        emit frW_EnableControls(true);
}

bool Worker::probeDeviceAt(const QString &ip, bool addToList)
{
    DeviceTarget target = m_link->target();
    target.port = devicePort;
    m_link->setTarget(target);
    const auto record = m_link->probeDevice(ip);
    if (!record)
        return false;
    if (addToList)
        m_scanWarnings += keepRecord(*record, ip);
    return true;
}

QStringList Worker::keepRecord(const OrvoDiscoveryInfo &record, const QString &askedAddress)
{
    QStringList warnings;
    const QString claimed = ipText(record);
    if (claimed != askedAddress)
        warnings << QStringLiteral("Warning!  The device at %1 sends a record for %2: its jobs go to %2")
                        .arg(askedAddress, claimed);
    // The same device answering again where it was asked replaces its record silently.
    const std::optional<OrvoDiscoveryInfo> replaced = addOrReplaceDevice(foundDevices, record);
    if (replaced && ipText(*replaced) != askedAddress)
        warnings << QStringLiteral("Warning!  The record from %1 replaces the one for %2 (same MAC %3)")
                        .arg(askedAddress, ipText(*replaced), macText(record));
    return warnings;
}

void Worker::RequestInfo()
{
    if (selectedDevice >= 0 && selectedDevice < foundDevices.size()) {
        const OrvoDiscoveryInfo selected = foundDevices.at(selectedDevice);
        m_link->setTarget(targetOf(selected, devicePort));
        if (const auto record = m_link->requestInfo()) {
            debugLine(QStringLiteral("RequestInfo(): ") + ipText(*record) + QStringLiteral("   ")
                + deviceTypeName(record->type()));
            for (const QString &warning : keepRecord(*record, ipText(selected)))
                line(4, warning);
        }
    }
    emit frWorker_updateDevicesCombo(foundDevices);
}

bool Worker::prepareSelection(bool needPanel)
{
    QString refusal;
    if (selectedDevice < 0 || selectedDevice >= foundDevices.size())
        refusal = QStringLiteral("Warning!  No device selected");
    else if (!isKnownDeviceType(deviceType))
        refusal = QStringLiteral("Warning!  Unknown device type ") + QString::number(deviceType);
    else if (needPanel && !isCataloguePosition(deviceType, panelIndex))
        refusal = QStringLiteral("Warning!  No panel selected");
    if (!refusal.isEmpty()) {
        line(4, refusal);
        m_outcome.end = JobEnd::Refused;
        return false;
    }
    m_outcome.device = foundDevices.at(selectedDevice);
    m_outcome.deviceType = deviceType;
    m_link->setTarget(targetOf(foundDevices.at(selectedDevice), devicePort));
    m_link->setCatalogueType(deviceType);
    return true;
}

BoardOutcome Worker::visitOf(int position) const
{
    BoardOutcome outcome;
    outcome.mode = m_outcome.mode;
    outcome.position = position;
    outcome.slot = panelSlot(deviceType, position);
    return outcome;
}

void Worker::listLine(int icon, const QString &text)
{
    line(icon, text);
}

void Worker::progress(bool visible, int value, bool showText, int min, int max)
{
    emit frWorker_updateProgressBar(visible, value, showText, min, max);
}

void Worker::downloadProgress(int records, std::int64_t elapsedMs, std::int64_t bytesDone, std::int64_t bytesTotal)
{
    emit frW_downloadProgress({ m_downloadPosition, records, elapsedMs, bytesDone, bytesTotal });
}

} // namespace orvo
