#include "devicejob.h"

#include "catalogue.h"
#include "clireport.h"
#include "history.h"

namespace orvo::cli {

WorkRequest lookUpRequest(const QString &address)
{
    WorkRequest scan;
    scan.mode = JobMode::ScanNetwork;
    scan.manualIpEnabled = true;
    scan.manualIp[0] = address;
    return scan;
}

std::optional<int> askedDevice(ConsoleFrontEnd &frontEnd, const QString &address, std::uint16_t port, int &status)
{
    const DeviceList &devices = frontEnd.devices();
    for (int i = 0; i < devices.size(); ++i) {
        if (ipText(devices.at(i)) == address)
            return i;
    }
    if (!devices.isEmpty()) {
        status = ExitJobFailed;
        frontEnd.insertListItem(RowIcon::Error,
            QStringLiteral("*** Error: The device at %1 sends a record for %2: refused, "
                           "nothing is sent to %2")
                .arg(address, ipText(devices.first())),
            false);
    } else {
        status = ExitNoDevice;
        frontEnd.note(QStringLiteral("No device answered at %1 (port %2)").arg(address).arg(port));
    }
    return std::nullopt;
}

std::optional<WorkRequest> deviceJobRequest(
    Command command, const Options &options, int selected, const OrvoDiscoveryInfo &record, int panelIndex)
{
    const int deviceType = static_cast<int>(record.type());
    const bool needsUpdate = record.needsUpdate() != 0;
    WorkRequest request;
    request.selectedDevice = selected;
    request.deviceType = deviceType;
    request.panelIndex = panelIndex;
    switch (command) {
    case Command::Versions:
        request.mode = JobMode::GetVersions;
        break;
    case Command::AutoUpdate:
        request.mode = JobMode::AutoUpdate;
        request.refreshDeviceInfo = needsUpdate;
        request.forceUpdate = options.force;
        break;
    case Command::Check:
        request.mode = JobMode::CheckPanel;
        break;
    case Command::Update:
        request.mode = JobMode::UpdatePanel;
        request.refreshDeviceInfo = isKnownDeviceType(deviceType) && panelIndex == 0 && needsUpdate;
        break;
    case Command::Reset:
        request.mode = JobMode::ResetPanel;
        request.checkAfterReset = options.checkAfterReset;
        break;
    case Command::Rename:
        request.mode = JobMode::RenameDevice;
        request.newDeviceName = options.newName;
        break;
    case Command::Identify:
        request.mode = JobMode::IdentifyDevice;
        break;
    default:
        return std::nullopt;
    }
    return request;
}

int scanJobStatus(JobMode mode, const JobOutcome &job)
{
    if (job.end == JobEnd::Refused)
        return ExitJobFailed;
    if (mode == JobMode::AutoUpdate) {
        if (job.end == JobEnd::Cancelled)
            return ExitCancelled;
        if (job.failedBoards > 0)
            return ExitUpdateFailed;
    }
    return job.end == JobEnd::Done ? ExitOk : ExitJobFailed;
}

std::optional<OrvoDiscoveryInfo> recordAfter(const ConsoleFrontEnd &frontEnd, const OrvoDiscoveryInfo &before)
{
    std::optional<OrvoDiscoveryInfo> after;
    if (!frontEnd.devicesReceived())
        return after;
    for (const OrvoDiscoveryInfo &r : frontEnd.devices()) {
        if (r.mac() == before.mac())
            after = r;
    }
    return after;
}

QString historyFilePath(const Options &options)
{
    return options.historyFile.isEmpty() ? defaultHistoryPath() : options.historyFile;
}

} // namespace orvo::cli
