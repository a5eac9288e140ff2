// The jobs that act on the selected device or on one of its boards: check, update, reset,
// rename and identify.

#include "catalogue.h"
#include "clock.h"
#include "devicetext.h"
#include "jobhelpers.h"

#include <QDebug>

#include <algorithm>

namespace orvo {

bool Worker::beginPanelJob()
{
    emit frW_EnableControls(false);
    if (prepareSelection(true))
        return true;
    emit frW_EnableControls(true);
    return false;
}

void Worker::jobCheckPanel(BoardOutcome *afterReset)
{
    if (!beginPanelJob())
        return;
    const QString name = panelName(m_job.deviceType, m_job.panelIndex);
    const PanelSlot slot = panelSlot(m_job.deviceType, m_job.panelIndex);
    const Clock::time_point start = clock().now();
    BoardOutcome own = visitOf(m_job.panelIndex);
    BoardOutcome &outcome = afterReset ? *afterReset : own;
    // Reported once the check has decided, whichever way it leaves.
    auto report = [&](bool found, std::uint8_t version, bool bootMode) {
        outcome.found = found;
        if (found) {
            (afterReset ? outcome.versionAfter : outcome.versionBefore) = version;
            (afterReset ? outcome.bootModeAfter : outcome.bootModeBefore) = bootMode;
        }
        outcome.durationMs = outcome.durationMs.value_or(0) + clock().elapsedMs(start);
        emit frW_boardUpdated(outcome);
        emit frW_EnableControls(true);
    };
    blank();
    line(RowIcon::Information, QStringLiteral("Contacting ") + name + QStringLiteral("..."));

    const PanelCheck check = link().checkPanel(slot);
    const bool bootMode = check.bootMode;
    const std::uint8_t version = check.version;
    const std::uint8_t boardType = slot.boardType;
    if (!check.found) {
        line(RowIcon::Warning, QStringLiteral("Warning!  Failed to Connect to ") + name);
        report(false, 0, false);
        return;
    }

    const QString versionText = QString::number(version);
    const QString buildText = QString::number(buildVersion(m_job.deviceType, boardType));
    const QString foundLine = name + QStringLiteral(" Found!  Firmware version: ") + versionText + QStringLiteral("  (")
        + buildText + QStringLiteral(")");
    if (isFpgaBoard(m_job.deviceType, boardType)) {
        // An FPGA has no boot loader of its own to report, and no processor to name.
        if (version != 0)
            line(RowIcon::Information, foundLine);
        else
            line(RowIcon::Warning,
                QStringLiteral("Warning!  ") + name + QStringLiteral(" requires firmware update!  Firmware version: ")
                    + versionText + QStringLiteral(" (") + buildText + QStringLiteral(")"));
    } else {
        if (!bootMode)
            line(RowIcon::Information, foundLine);
        else
            line(RowIcon::Warning,
                QStringLiteral("Warning!  ") + name + QStringLiteral(" in BootMode!  Firmware version: ") + versionText
                    + QStringLiteral(" (") + buildText + QStringLiteral(")"));
        const std::uint8_t picType = link().queryPicType(slot);
        if (picType < kPicUnknown)
            line(RowIcon::Information, QStringLiteral("Processor: ") + picPart(picType));
        else
            line(RowIcon::Information, QStringLiteral("Processor: Original PIC32MZ2048EFG..."));
        outcome.picType = picType;
    }
    report(true, version, bootMode);
}

void Worker::jobUpdatePanel()
{
    if (!beginPanelJob())
        return;
    const PanelSlot slot = panelSlot(m_job.deviceType, m_job.panelIndex);
    const FirmwareFileChoice file = resolveFirmwareFile(*this, m_job.panelIndex, slot);
    setCurrentFirmwareFile(file.path);
    blank();
    blank();

    const Clock::time_point start = clock().now();
    PanelUpdateRequest request
        = makePanelUpdateRequest(file.path, m_job.deviceType, m_job.panelIndex, slot, file.picType, true);
    request.firmwareFolder = m_firmwareFolder;
    m_downloadPosition = m_job.panelIndex;
    UpdateFigures figures;
    const UpdateResult result = updatePanelFirmware(link(), *this, request, &figures);
    const qint64 elapsedMs = clock().elapsedMs(start);

    line(rowIconFor(result),
        panelName(m_job.deviceType, m_job.panelIndex) + QStringLiteral(":  ") + updateResultMessage(int(result))
            + panelTimeText(elapsedMs));
    BoardOutcome outcome = visitOf(m_job.panelIndex);
    if (result != UpdateResult::FileMissing) // a file that is missing or refused ends the update before it asks
        outcome.found = figures.found;
    if (figures.found) {
        outcome.versionBefore = figures.versionBefore;
        outcome.bootModeBefore = figures.bootModeBefore;
    }
    if (figures.checked) {
        outcome.versionAfter = figures.versionAfter;
        outcome.bootModeAfter = figures.bootModeAfter;
    }
    outcome.result = int(result);
    outcome.attempts = 1;
    outcome.durationMs = elapsedMs;
    outcome.records = figures.records;
    outcome.downloadMs = figures.downloadMs;
    outcome.noteFile(figures);
    emit frW_boardUpdated(outcome);
    m_outcome.failedBoards = result == UpdateResult::Successful ? 0 : 1;
    if (m_job.refreshDeviceInfo)
        RequestInfo();
    emit frW_EnableControls(true);
}

void Worker::jobResetPanel()
{
    if (!beginPanelJob())
        return;
    const QString name = panelName(m_job.deviceType, m_job.panelIndex);
    const PanelSlot slot = panelSlot(m_job.deviceType, m_job.panelIndex);
    blank();
    line(RowIcon::Information, QStringLiteral("Resetting ") + name + QStringLiteral("..."));

    const Clock::time_point start = clock().now();
    BoardOutcome outcome = visitOf(m_job.panelIndex);
    outcome.resetSent = link().resetBoard(slot);
    if (!*outcome.resetSent) {
        line(RowIcon::Warning, QStringLiteral("Warning!  Failed to Reset ") + name);
    } else {
        // The board whose restart takes the device's network down is waited for with probes.
        outcome.restartWait = restartWait(link(), *this, restartsNetwork(m_job.deviceType, slot));
        emit frWorker_updateProgressBar(false, 0, true, 0, 100);
    }
    outcome.durationMs = clock().elapsedMs(start);

    if (m_job.checkAfterReset) {
        jobCheckPanel(&outcome);
    } else {
        emit frW_boardUpdated(outcome);
        emit frW_EnableControls(true);
    }
}

void Worker::jobRenameDevice()
{
    emit frW_EnableControls(false);
    // The device keeps the first 21 characters (the front ends refuse a longer name before they
    // ask). A character its code page cannot hold is refused, never replaced on its way there.
    const QVector<uint> characters = m_job.newDeviceName.normalized(QString::NormalizationForm_C).toUcs4();
    const DeviceNameBytes name
        = encodeDeviceName(QString::fromUcs4(characters.constData(), std::min(characters.size(), kDeviceNameMaxChars)));
    if (!name.ok()) {
        line(RowIcon::Warning, QStringLiteral("Warning!  ") + name.error);
        m_outcome.end = JobEnd::Refused;
    } else if (prepareSelection(false)) {
        const QString asked = ipText(foundDevices.at(m_job.selectedDevice));
        const std::optional<OrvoDiscoveryInfo> reply = link().rename(name.bytes);
        m_outcome.delivered = reply.has_value();
        if (reply) {
            qDebug().noquote() << QStringLiteral("Renamed Device: ") + ipText(*reply) + QStringLiteral("   ")
                    + deviceTypeName(reply->type());
            for (const QString &warning : keepRecord(*reply, asked))
                line(RowIcon::Warning, warning);
        }
    }
    emit frWorker_updateDevicesCombo(foundDevices);
    emit frW_EnableControls(true);
}

void Worker::jobIdentifyDevice()
{
    emit frW_EnableControls(false);
    if (prepareSelection(false))
        m_outcome.delivered = link().identify();
    emit frW_EnableControls(true);
}

} // namespace orvo
