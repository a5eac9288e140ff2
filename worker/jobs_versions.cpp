// The version scan of every board of the selected device and the auto update that brings the
// out-of-date boards to this release's firmware, parents before children.

#include "catalogue.h"
#include "clock.h"
#include "jobhelpers.h"
#include "percent.h"

#include <QDebug>

#include <algorithm>
#include <vector>

namespace orvo {

namespace {

constexpr int kAttemptsPerBoard = 2;
// Bits of the 3350 QRT's optionMask that say which optional boards are fitted.
constexpr std::uint32_t kQrtDigitalFitted = 0x02;
constexpr std::uint32_t kQrtAdatFitted = 0x08;

// Positions of the device that the scan visits; a position beyond it is not in the list.
int visitedCount(int deviceType, const OrvoDiscoveryInfo &record)
{
    switch (deviceType) {
    case Console6170:
        return record.byData(0) == 1 ? 24 : 20;
    case Qrt3350:
        return record.needsUpdate() == 0 && record.optionMask() != 0 ? 5 : 1;
    default:
        return 1;
    }
}

// Positions within the count that the device does not carry: they keep result 4, without a line.
bool isLeftOut(int deviceType, int count, const OrvoDiscoveryInfo &record, int position)
{
    if (deviceType == Console6170)
        return count == 24 && position == 19; // the manual master faders give way to the motorised ones
    if (deviceType == Qrt3350) {
        if ((position == 1 || position == 2) && !(record.optionMask() & kQrtDigitalFitted))
            return true;
        if ((position == 3 || position == 4) && !(record.optionMask() & kQrtAdatFitted))
            return true;
    }
    return false;
}

// The positions that carry the way to `position`: a board is asked only after all of them
// answered with their application running.
std::vector<int> parentsOf(int deviceType, int position)
{
    std::vector<int> parents;
    if (deviceType == Console6170) {
        if (position >= 1)
            parents.push_back(0);
        if (position >= 2)
            parents.push_back(1);
        switch (position) {
        case 7:
        case 10:
        case 11:
        case 16:
            parents.push_back(4);
            break;
        case 8:
        case 12:
        case 13:
        case 17:
            parents.push_back(5);
            break;
        case 9:
        case 14:
        case 15:
        case 18:
            parents.push_back(6);
            break;
        default:
            break;
        }
        if (position == 16)
            parents.push_back(10);
        else if (position == 17)
            parents.push_back(12);
        else if (position == 18)
            parents.push_back(14);
    } else if (deviceType == Qrt3350) {
        if (position >= 1)
            parents.push_back(0);
        if (position == 2)
            parents.push_back(1);
        else if (position == 4)
            parents.push_back(3);
    }
    return parents;
}

bool isPending(UpdateResult result)
{
    return result != UpdateResult::PanelNotFound && result != UpdateResult::NotRequired;
}

} // namespace

QString Worker::panelStatusText(const PanelStatus &status) const
{
    QString text = panelName(m_job.deviceType, status.panelIndex) + QStringLiteral("   Version: ")
        + QString::number(status.version);
    if (status.bootMode)
        text += QStringLiteral(" [BootMode]");
    return text + QStringLiteral("  (") + QString::number(buildVersion(m_job.deviceType, status.slot.boardType))
        + QStringLiteral(")");
}

UpdateResult Worker::scanPanel(PanelStatus &status, std::optional<bool> *found)
{
    if (isAbortRequested())
        return UpdateResult::NotRequired;
    const std::uint8_t boardType = status.slot.boardType;
    // A board that does not answer reports version 0 and so counts as needing an update: its
    // update then fails and the summary counts it, instead of the device passing as current.
    const PanelCheck check = link().checkPanel(status.slot);
    const bool bootMode = check.bootMode;
    const std::uint8_t version = check.version;
    if (found)
        *found = check.found;
    status.version = version;
    status.bootMode = bootMode;
    if (bootMode || version != buildVersion(m_job.deviceType, boardType))
        return UpdateResult::Pending;
    return UpdateResult::NotRequired;
}

bool Worker::updateOnePanel(PanelStatus &status, UpdateFigures *figures)
{
    const PanelSlot slot = status.slot;
    const FirmwareFileChoice file = resolveFirmwareFile(*this, status.panelIndex, slot);
    setCurrentFirmwareFile(file.path);
    PanelUpdateRequest request
        = makePanelUpdateRequest(file.path, m_job.deviceType, status.panelIndex, slot, file.picType, false);
    request.firmwareFolder = m_firmwareFolder;
    m_downloadPosition = status.panelIndex;
    UpdateFigures attempt;
    status.result = updatePanelFirmware(link(), *this, request, &attempt);
    if (figures) {
        figures->records += attempt.records;
        figures->downloadMs += attempt.downloadMs;
        figures->refusal = attempt.refusal;
        if (!attempt.sha256.isEmpty()) {
            figures->file = attempt.file;
            figures->sha256 = attempt.sha256;
            figures->manifest = attempt.manifest;
        }
    }

    if (isAbortRequested())
        return false;
    const PanelCheck check = link().checkPanel(status.slot);
    const bool bootMode = check.bootMode;
    if (!check.found)
        return false;
    status.version = check.version;
    status.bootMode = bootMode;

    switch (status.result) {
    case UpdateResult::Successful:
        return true;
    case UpdateResult::ConnectionProblem:
    case UpdateResult::PanelNotFound:
    case UpdateResult::FileMissing:
        return false;
    default:
        break;
    }
    if (bootMode) {
        status.result = UpdateResult::StillInBootMode;
        return false;
    }
    if (status.result == UpdateResult::Failed)
        return false;
    // Still-in-boot-mode from the update, but the board has started its application since.
    status.result = UpdateResult::Successful;
    return true;
}

void Worker::scanAndUpdateDevice(bool scanOnly, bool confirm)
{
    if (!prepareSelection(false))
        return;
    const OrvoDiscoveryInfo device = foundDevices.at(m_job.selectedDevice);

    if (confirm)
        emit frW_ClearList();
    else
        blank();
    line(RowIcon::Information,
        deviceTypeName(m_job.deviceType) + QStringLiteral(" [") + device.visibleName() + QStringLiteral("]"));
    blank();
    line(RowIcon::Information,
        scanOnly ? QStringLiteral("*** FIRMWARE VERSION SCAN ***") : QStringLiteral("*** AUTO UPDATE FIRMWARE ***"));
    blank();
    Clock::time_point jobStart = clock().now();

    DeviceScan scan;
    if (!scanBoards(device, scan))
        return; // aborted
    emit frWorker_updateProgressBar(false, 0, true, 0, 100);
    const int pending = static_cast<int>(std::count_if(
        scan.boards.begin(), scan.boards.end(), [](const PanelStatus &s) { return isPending(s.result); }));

    if (scanOnly) {
        blank();
        line(RowIcon::Information, QStringLiteral("*** FIRMWARE VERSION SCAN FINISHED ***"));
        return;
    }
    if (pending == 0) {
        blank();
        line(RowIcon::Information, QStringLiteral("*** YOUR CONSOLE/UNIT'S FIRMWARE IS UP TO DATE ***"));
    } else {
        if (confirm && !confirmUpdate(pending))
            return;
        jobStart = clock().now();
        blank();
        line(RowIcon::Information, QStringLiteral("*** UPDATING CONSOLE/UNIT FIRMWARE ***"));
        blank();
    }

    if (!updateBoards(scan))
        return; // aborted
    finishUpdate(scan, jobStart, confirm);
}

bool Worker::scanBoards(const OrvoDiscoveryInfo &device, DeviceScan &scan)
{
    const int count = visitedCount(m_job.deviceType, device);
    scan.boards.reserve(static_cast<std::size_t>(count));
    scan.outcomes.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        if (isAbortRequested())
            return false;
        emit frWorker_updateProgressBar(true, progressPercent(i, count), false, 0, 0);

        PanelStatus status;
        status.panelIndex = static_cast<std::uint8_t>(i);
        status.slot = panelSlot(m_job.deviceType, i);
        BoardOutcome outcome = visitOf(i);
        if (isLeftOut(m_job.deviceType, count, device, i)) {
            scan.boards.push_back(status);
            scan.outcomes.push_back(outcome);
            continue;
        }

        bool parentsReady = true;
        for (int parent : parentsOf(m_job.deviceType, i)) {
            const PanelStatus &p = scan.boards.at(static_cast<std::size_t>(parent));
            if (p.bootMode || p.version == 0)
                parentsReady = false;
        }
        // A board behind a parent that is not running its application cannot be reached; it is
        // listed as needing an update and asked afresh once its parents have been updated.
        const UpdateResult boardClass = parentsReady ? scanPanel(status, &outcome.found) : UpdateResult::Pending;
        status.result = m_job.forceUpdate ? UpdateResult::Pending : boardClass;
        scan.boards.push_back(status);

        if (status.result == UpdateResult::NotRequired)
            line(RowIcon::Information, QStringLiteral("Firmware up to date: ") + panelStatusText(status));
        else
            line(RowIcon::Warning, QStringLiteral("Firmware update required: ") + panelStatusText(status));
        outcome.upToDate = status.result == UpdateResult::NotRequired;
        outcome.versionBefore = status.version;
        outcome.bootModeBefore = status.bootMode;
        scan.outcomes.push_back(outcome);
        emit frW_boardUpdated(outcome);
    }
    return true;
}

bool Worker::confirmUpdate(int pending)
{
    const BoxButton answer = ask(BoxIcon::Question, QStringLiteral("Auto Update"),
        QStringLiteral("The Console/Unit has ") + QString::number(pending)
            + QStringLiteral(" panels/boards that need updating.\nDo you wish to continue ?"),
        BoxButtons::YesNo);
    if (answer == BoxButton::Yes)
        return true;
    blank();
    line(RowIcon::Information, QStringLiteral("*** FIRMWARE UPDATE CANCELLED ***"));
    m_outcome.end = JobEnd::Cancelled;
    return false;
}

bool Worker::updateBoards(DeviceScan &scan)
{
    const int total = static_cast<int>(scan.boards.size());
    for (int k = 0; k < total; ++k) {
        if (isAbortRequested())
            return false;
        PanelStatus &status = scan.boards[static_cast<std::size_t>(k)];
        if (!isPending(status.result))
            continue;
        emit frWorker_updateProgressBarAuto(true, progressPercent(k, total), false, 0, 0);
        updateScannedBoard(status, scan.outcomes[static_cast<std::size_t>(k)]);
    }
    return !isAbortRequested();
}

void Worker::updateScannedBoard(PanelStatus &status, BoardOutcome &outcome)
{
    line(RowIcon::Information, QStringLiteral("Updating: ") + panelStatusText(status));

    // An FPGA image cannot be told from the version the board reports before the update,
    // so a board the scan found in need is written whatever the fresh query says.
    const bool fpga = isFpgaBoard(m_job.deviceType, status.slot.boardType);
    const UpdateResult fresh = scanPanel(status, &outcome.found);
    if (fresh != UpdateResult::Pending && !m_job.forceUpdate && !fpga) {
        status.result = UpdateResult::NotRequired;
        replaceLine(rowIconFor(UpdateResult::NotRequired),
            QStringLiteral("Firmware update not required. Panel/board is up to date! ") + QStringLiteral("   ")
                + panelStatusText(status));
        outcome.result = int(status.result);
        outcome.versionAfter = status.version;
        outcome.bootModeAfter = status.bootMode;
        outcome.attempts = 0;
        outcome.durationMs = 0;
        emit frW_boardUpdated(outcome);
        return;
    }

    const Clock::time_point boardStart = clock().now();
    int attempts = 0;
    UpdateFigures figures;
    while (attempts < kAttemptsPerBoard) {
        // A second attempt after an abort would ask the board for its PIC part again, and
        // that query does not heed the abort: up to ten exchanges while the window closes.
        if (attempts > 0 && isAbortRequested())
            break;
        ++attempts;
        if (updateOnePanel(status, &figures))
            break;
    }
    const qint64 boardMs = clock().elapsedMs(boardStart);
    if (status.result == UpdateResult::Successful) {
        replaceLine(RowIcon::Success,
            QStringLiteral("Update Successful! ") + QStringLiteral("   ") + panelStatusText(status)
                + panelTimeText(boardMs));
        const std::uint8_t build = buildVersion(m_job.deviceType, status.slot.boardType);
        if (status.version != build)
            line(RowIcon::Warning,
                QStringLiteral("Warning: ") + panelName(m_job.deviceType, status.panelIndex)
                    + QStringLiteral(" firmware version (") + QString::number(status.version) + QStringLiteral(") ")
                    + QStringLiteral("differs from build version ") + QStringLiteral("(") + QString::number(build)
                    + QStringLiteral(")"));
    } else {
        replaceLine(rowIconFor(status.result),
            updateResultMessage(static_cast<int>(status.result)) + QStringLiteral("   ") + panelStatusText(status));
        // The auto update shows no step lines; a file refused for its manifest or its memory
        // map must still say why, or "file missing" would send the user looking for a file
        // that is there.
        if (!figures.refusal.isEmpty())
            line(RowIcon::Error, figures.refusal);
    }
    outcome.result = int(status.result);
    outcome.versionAfter = status.version;
    outcome.bootModeAfter = status.bootMode;
    outcome.attempts = attempts;
    outcome.durationMs = boardMs;
    outcome.records = figures.records;
    outcome.downloadMs = figures.downloadMs;
    outcome.noteFile(figures);
    emit frW_boardUpdated(outcome);
}

void Worker::finishUpdate(const DeviceScan &scan, Clock::time_point jobStart, bool confirm)
{
    emit frWorker_updateProgressBarAuto(false, 0, true, 0, 100);
    const int failed = static_cast<int>(std::count_if(scan.boards.begin(), scan.boards.end(),
        [](const PanelStatus &s) { return isPending(s.result) && s.result != UpdateResult::Successful; }));
    m_outcome.failedBoards = failed;
    blank();
    line(RowIcon::Information,
        QStringLiteral("*** FIRMWARE UPDATE FINISHED ***") + totalTimeText(clock().elapsedMs(jobStart)));
    if (failed > 0) {
        const QString warning = QStringLiteral("WARNING!  Firmware update FAILED on ") + QString::number(failed)
            + QStringLiteral(" panels/boards!");
        blank();
        line(RowIcon::Error, warning);
        ask(BoxIcon::Critical, QStringLiteral("Auto Update"), warning, BoxButtons::Ok);
    } else if (confirm) {
        ask(BoxIcon::Information, QStringLiteral("Auto Update"), QStringLiteral("Auto Update has finished!"),
            BoxButtons::Ok);
    }
}

} // namespace orvo
