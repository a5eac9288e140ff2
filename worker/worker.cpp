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

void Worker::setDevicePort(std::uint16_t port)
{
    m_devicePort = port;
}

void Worker::setFirmwareFolder(const QString &folder)
{
    m_firmwareFolder = folder;
}

void Worker::requestWork(const WorkRequest &request)
{
    {
        AnnotatedLock locker(mutex);
        working = true;
        abortRequested = false;
        m_pending = request;
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
    {
        AnnotatedLock locker(mutex);
        m_job = m_pending;
    }
    const JobMode requested = m_job.mode;
    m_outcome = JobOutcome();
    m_outcome.mode = int(requested);

    // The device and panel jobs bracket themselves with the enable/disable of the window's
    // controls (the reset job has its own exceptions); the version scan is framed here because
    // the auto update's device refresh belongs inside the same frame.
    const QString offLoopback = offLoopbackTarget(requested);
    if (!offLoopback.isEmpty())
        refuseOffLoopback(requested, offLoopback);
    else
        switch (requested) {
        case JobMode::ScanNetwork:
            jobScanNetwork();
            break;
        case JobMode::AutoUpdate:
        case JobMode::GetVersions:
            emit frW_EnableControls(false);
            scanAndUpdateDevice(requested == JobMode::GetVersions, true);
            // After an abort the window is closing: asking a device that may be gone for its record
            // would hold the close for up to the blocking client's 27 s.
            if (requested == JobMode::AutoUpdate && m_job.refreshDeviceInfo && !isAbortRequested())
                RequestInfo();
            emit frW_EnableControls(true);
            break;
        case JobMode::CheckPanel:
            jobCheckPanel();
            break;
        case JobMode::UpdatePanel:
            jobUpdatePanel();
            break;
        case JobMode::ResetPanel:
            jobResetPanel();
            break;
        case JobMode::RenameDevice:
            jobRenameDevice();
            break;
        case JobMode::IdentifyDevice:
            jobIdentifyDevice();
            break;
        default:
            break; // no job: only the closing steps
        }
    if (isJobMode(int(requested))) {
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

QString Worker::offLoopbackTarget(JobMode mode) const
{
    if (m_loopbackOnly.isEmpty())
        return QString();
    if (mode == JobMode::ScanNetwork)
        return offLoopbackScanTarget();
    // Every device job talks to the selected record's address, and only to it.
    const int selected = m_job.selectedDevice;
    if (!isJobMode(int(mode)) || selected < 0 || selected >= foundDevices.size())
        return QString();
    const QString address = ipText(foundDevices.at(selected));
    return isLoopbackAddress(address) ? QString() : address + QStringLiteral(" is not one");
}

void Worker::refuseOffLoopback(JobMode mode, const QString &target)
{
    const QString text = m_loopbackOnly
        + QStringLiteral(" is for the device simulator only: jobs may then talk only to loopback addresses "
                         "(127.0.0.0/8), and ")
        + target + QStringLiteral(". The job was not started; nothing was sent.");
    debugLine(QStringLiteral("Job refused: ") + text);
    m_outcome.end = JobEnd::Refused;
    // The window disabled its controls for the scan itself and takes them back with the list.
    if (mode != JobMode::ScanNetwork)
        emit frW_EnableControls(false);
    line(RowIcon::Error, QStringLiteral("Error!  ") + text);
    ask(BoxIcon::Critical, QStringLiteral("Orvo Updater"), text, BoxButtons::Ok);
    if (mode == JobMode::ScanNetwork)
        emit frWorker_updateDevicesCombo(foundDevices);
    else
        emit frW_EnableControls(true);
}

bool Worker::probeDeviceAt(const QString &ip, bool addToList)
{
    DeviceTarget target = m_link->target();
    target.port = m_devicePort;
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
    if (m_job.selectedDevice >= 0 && m_job.selectedDevice < foundDevices.size()) {
        const OrvoDiscoveryInfo selected = foundDevices.at(m_job.selectedDevice);
        m_link->setTarget(targetOf(selected, m_devicePort));
        if (const auto record = m_link->requestInfo()) {
            debugLine(QStringLiteral("RequestInfo(): ") + ipText(*record) + QStringLiteral("   ")
                + deviceTypeName(record->type()));
            for (const QString &warning : keepRecord(*record, ipText(selected)))
                line(RowIcon::Warning, warning);
        }
    }
    emit frWorker_updateDevicesCombo(foundDevices);
}

bool Worker::prepareSelection(bool needPanel)
{
    QString refusal;
    if (m_job.selectedDevice < 0 || m_job.selectedDevice >= foundDevices.size())
        refusal = QStringLiteral("Warning!  No device selected");
    else if (!isKnownDeviceType(m_job.deviceType))
        refusal = QStringLiteral("Warning!  Unknown device type ") + QString::number(m_job.deviceType);
    else if (needPanel && !isCataloguePosition(m_job.deviceType, m_job.panelIndex))
        refusal = QStringLiteral("Warning!  No panel selected");
    if (!refusal.isEmpty()) {
        line(RowIcon::Warning, refusal);
        m_outcome.end = JobEnd::Refused;
        return false;
    }
    m_outcome.device = foundDevices.at(m_job.selectedDevice);
    m_outcome.deviceType = m_job.deviceType;
    m_link->setTarget(targetOf(foundDevices.at(m_job.selectedDevice), m_devicePort));
    m_link->setCatalogueType(m_job.deviceType);
    return true;
}

BoardOutcome Worker::visitOf(int position) const
{
    BoardOutcome outcome;
    outcome.mode = m_outcome.mode;
    outcome.position = position;
    outcome.slot = panelSlot(m_job.deviceType, position);
    return outcome;
}

void Worker::listLine(RowIcon icon, const QString &text)
{
    line(icon, text);
}

BoxButton Worker::ask(BoxIcon icon, const QString &title, const QString &text, BoxButtons buttons)
{
    // A box withdrawn while the window closes leaves no answer behind, not the last box's.
    msgBoxResult = BoxButton::None;
    emit frWorker_showMessageBox(icon, title, text, buttons);
    return msgBoxResult;
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
