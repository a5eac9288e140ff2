// The version scan of every board of the selected device and the auto update that brings the
// out-of-date boards to this release's firmware, parents before children.

#include "catalogue.h"
#include "clock.h"
#include "jobhelpers.h"

#include <QDebug>

#include <vector>

namespace orvo {

namespace {

constexpr uint kButtonYes = 0x4000;
constexpr uint kButtonsYesNo = 0x14000;
constexpr uint kButtonOk = 0x400;
constexpr int kIconError = 3;
constexpr int kIconInformation = 1;
constexpr int kIconQuestion = 4;
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

// Whole percentage of `done` out of `count`, in single precision and truncated; 100 above 99.
int jobPercent(int done, int count)
{
    if (count <= 0)
        return 0;
    const int p = static_cast<int>(static_cast<float>(done) / static_cast<float>(count) * 100.0f);
    return p > 99 ? 100 : p;
}

bool isPending(std::uint32_t result)
{
    return result != UpdatePanelNotFound && result != UpdateNotRequired;
}

} // namespace

QString Worker::panelStatusText(const PanelStatus &status) const
{
    QString text
        = panelName(deviceType, status.panelIndex) + QStringLiteral("   Version: ") + QString::number(status.version);
    if (status.bootMode)
        text += QStringLiteral(" [BootMode]");
    return text + QStringLiteral("  (") + QString::number(buildVersion(deviceType, status.boardType))
        + QStringLiteral(")");
}

std::uint32_t Worker::scanPanel(PanelStatus &status, std::optional<bool> *found)
{
    if (isAbortRequested())
        return UpdateNotRequired;
    const std::uint8_t boardType = status.boardType;
    // A board that does not answer reports version 0 and so counts as needing an update: its
    // update then fails and the summary counts it, instead of the device passing as current.
    const PanelCheck check = link().checkPanel({ status.panel, status.channel, boardType, status.boardAddress });
    const bool bootMode = check.bootMode;
    const std::uint8_t version = check.version;
    if (found)
        *found = check.found;
    status.version = version;
    status.bootMode = bootMode;
    if (bootMode || version != buildVersion(deviceType, boardType))
        return UpdatePending;
    return UpdateNotRequired;
}

bool Worker::updateOnePanel(PanelStatus &status, UpdateFigures *figures)
{
    const PanelSlot slot { status.panel, status.channel, status.boardType, status.boardAddress };
    const FirmwareFileChoice file = resolveFirmwareFile(*this, status.panelIndex, slot);
    setCurrentFirmwareFile(file.path);
    PanelUpdateRequest request
        = makePanelUpdateRequest(file.path, deviceType, status.panelIndex, slot, file.picType, false);
    request.firmwareFolder = firmwareFolder;
    m_downloadPosition = status.panelIndex;
    UpdateFigures attempt;
    status.result = static_cast<std::uint32_t>(updatePanelFirmware(link(), *this, request, &attempt));
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
    const PanelCheck check = link().checkPanel(slot);
    const bool bootMode = check.bootMode;
    if (!check.found)
        return false;
    status.version = check.version;
    status.bootMode = bootMode;

    switch (status.result) {
    case UpdateSuccessful:
        return true;
    case UpdateConnectionProblem:
    case UpdatePanelNotFound:
    case UpdateFileMissing:
        return false;
    default:
        break;
    }
    if (bootMode) {
        status.result = UpdateStillInBootMode;
        return false;
    }
    if (status.result == UpdateFailed)
        return false;
    // Still-in-boot-mode from the update, but the board has started its application since.
    status.result = UpdateSuccessful;
    return true;
}

void Worker::scanAndUpdateDevice(bool scanOnly, bool confirm)
{
    if (!prepareSelection(false)) {
        // The request's one-shot flag must not carry over into a later version scan.
        forceUpdate = false;
        return;
    }
    const OrvoDiscoveryInfo device = foundDevices.at(selectedDevice);
    const int count = visitedCount(deviceType, device);

    if (confirm)
        emit frW_ClearList();
    else
        blank();
    line(2, deviceTypeName(deviceType) + QStringLiteral(" [") + device.visibleName() + QStringLiteral("]"));
    blank();
    line(
        2, scanOnly ? QStringLiteral("*** FIRMWARE VERSION SCAN ***") : QStringLiteral("*** AUTO UPDATE FIRMWARE ***"));
    blank();
    Clock::time_point jobStart = clock().now();

    std::vector<PanelStatus> boards;
    boards.reserve(static_cast<std::size_t>(count));
    std::vector<BoardOutcome> outcomes; // beside `boards`, same index
    outcomes.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        if (isAbortRequested())
            return;
        emit frWorker_updateProgressBar(true, jobPercent(i, count), false, 0, 0);

        PanelStatus status;
        const PanelSlot slot = panelSlot(deviceType, i);
        status.panelIndex = static_cast<std::uint8_t>(i);
        status.panel = slot.panel;
        status.channel = slot.channel;
        status.boardType = slot.boardType;
        status.boardAddress = slot.boardAddress;
        BoardOutcome outcome = visitOf(i);
        if (isLeftOut(deviceType, count, device, i)) {
            boards.push_back(status);
            outcomes.push_back(outcome);
            continue;
        }

        bool parentsReady = true;
        for (int parent : parentsOf(deviceType, i)) {
            const PanelStatus &p = boards.at(static_cast<std::size_t>(parent));
            if (p.bootMode || p.version == 0)
                parentsReady = false;
        }
        // A board behind a parent that is not running its application cannot be reached; it is
        // listed as needing an update and asked afresh once its parents have been updated.
        const std::uint32_t boardClass
            = parentsReady ? scanPanel(status, &outcome.found) : std::uint32_t(UpdatePending);
        status.result = forceUpdate ? std::uint32_t(UpdatePending) : boardClass;
        boards.push_back(status);

        if (status.result == UpdateNotRequired)
            line(2, QStringLiteral("Firmware up to date: ") + panelStatusText(status));
        else
            line(4, QStringLiteral("Firmware update required: ") + panelStatusText(status));
        outcome.upToDate = status.result == UpdateNotRequired;
        outcome.versionBefore = status.version;
        outcome.bootModeBefore = status.bootMode;
        outcomes.push_back(outcome);
        emit frW_boardUpdated(outcome);
    }
    emit frWorker_updateProgressBar(false, 0, true, 0, 100);

    int pending = 0;
    for (const PanelStatus &status : boards) {
        if (isPending(status.result))
            ++pending;
    }

    if (scanOnly) {
        blank();
        line(2, QStringLiteral("*** FIRMWARE VERSION SCAN FINISHED ***"));
        forceUpdate = false;
        return;
    }
    if (pending == 0) {
        blank();
        line(2, QStringLiteral("*** YOUR CONSOLE/UNIT'S FIRMWARE IS UP TO DATE ***"));
    } else {
        if (confirm) {
            emit frWorker_showMessageBox(kIconQuestion, QStringLiteral("Auto Update"),
                QStringLiteral("The Console/Unit has ") + QString::number(pending)
                    + QStringLiteral(" panels/boards that need updating.\nDo you wish to continue ?"),
                kButtonsYesNo);
            if (static_cast<uint>(msgBoxResult) != kButtonYes) {
                blank();
                line(2, QStringLiteral("*** FIRMWARE UPDATE CANCELLED ***"));
                m_outcome.end = JobEnd::Cancelled;
                forceUpdate = false;
                return;
            }
        }
        jobStart = clock().now();
        blank();
        line(2, QStringLiteral("*** UPDATING CONSOLE/UNIT FIRMWARE ***"));
        blank();
    }

    const int total = static_cast<int>(boards.size());
    for (int k = 0; k < total; ++k) {
        if (isAbortRequested())
            return;
        PanelStatus &status = boards[static_cast<std::size_t>(k)];
        BoardOutcome &outcome = outcomes[static_cast<std::size_t>(k)];
        if (!isPending(status.result))
            continue;
        emit frWorker_updateProgressBarAuto(true, jobPercent(k, total), false, 0, 0);
        line(2, QStringLiteral("Updating: ") + panelStatusText(status));

        // An FPGA image cannot be told from the version the board reports before the update,
        // so a board the scan found in need is written whatever the fresh query says.
        const bool fpga = isFpgaBoard(deviceType, status.boardType);
        const std::uint32_t fresh = scanPanel(status, &outcome.found);
        if (fresh != UpdatePending && !forceUpdate && !fpga) {
            status.result = UpdateNotRequired;
            replaceLine(12,
                QStringLiteral("Firmware update not required. Panel/board is up to date! ") + QStringLiteral("   ")
                    + panelStatusText(status));
            outcome.result = status.result;
            outcome.versionAfter = status.version;
            outcome.bootModeAfter = status.bootMode;
            outcome.attempts = 0;
            outcome.durationMs = 0;
            emit frW_boardUpdated(outcome);
            continue;
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
        const QString boardTime = panelTimeText(boardMs);
        if (status.result == UpdateSuccessful) {
            replaceLine(
                1, QStringLiteral("Update Successful! ") + QStringLiteral("   ") + panelStatusText(status) + boardTime);
            const std::uint8_t build = buildVersion(deviceType, status.boardType);
            if (status.version != build)
                line(4,
                    QStringLiteral("Warning: ") + panelName(deviceType, status.panelIndex)
                        + QStringLiteral(" firmware version (") + QString::number(status.version) + QStringLiteral(") ")
                        + QStringLiteral("differs from build version ") + QStringLiteral("(") + QString::number(build)
                        + QStringLiteral(")"));
        } else {
            replaceLine(static_cast<int>(status.result) + 5,
                updateResultMessage(static_cast<int>(status.result)) + QStringLiteral("   ") + panelStatusText(status));
            // The auto update shows no step lines; a file refused for its manifest or its memory
            // map must still say why, or "file missing" would send the user looking for a file
            // that is there.
            if (!figures.refusal.isEmpty())
                line(3, figures.refusal);
        }
        outcome.result = status.result;
        outcome.versionAfter = status.version;
        outcome.bootModeAfter = status.bootMode;
        outcome.attempts = attempts;
        outcome.durationMs = boardMs;
        outcome.records = figures.records;
        outcome.downloadMs = figures.downloadMs;
        outcome.noteFile(figures);
        emit frW_boardUpdated(outcome);
    }

    if (isAbortRequested())
        return;
    emit frWorker_updateProgressBarAuto(false, 0, true, 0, 100);
    int failed = 0;
    for (const PanelStatus &status : boards) {
        if (isPending(status.result) && status.result != UpdateSuccessful)
            ++failed;
    }
    m_outcome.failedBoards = failed;
    blank();
    line(2, QStringLiteral("*** FIRMWARE UPDATE FINISHED ***") + totalTimeText(clock().elapsedMs(jobStart)));
    if (failed > 0) {
        const QString warning = QStringLiteral("WARNING!  Firmware update FAILED on ") + QString::number(failed)
            + QStringLiteral(" panels/boards!");
        blank();
        line(3, warning);
        emit frWorker_showMessageBox(kIconError, QStringLiteral("Auto Update"), warning, kButtonOk);
    } else if (confirm) {
        emit frWorker_showMessageBox(
            kIconInformation, QStringLiteral("Auto Update"), QStringLiteral("Auto Update has finished!"), kButtonOk);
    }
    forceUpdate = false;
}

} // namespace orvo
