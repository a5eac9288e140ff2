#pragma once

// Pieces shared by the single-board update job and the auto update.

#include "catalogue.h"
#include "firmwarefiles.h"
#include "updater.h"
#include "worker.h"

namespace orvo {

/// Firmware file of catalogue position `panelIndex` of the worker's device type, asking the
/// board for its PIC32MZ variant when the file is a HEX image; writes the "file: " debug line.
inline FirmwareFileChoice resolveFirmwareFile(Worker &worker, int panelIndex, const PanelSlot &slot)
{
    return firmwareFilePath(worker.firmwareFolder(), worker.job().deviceType, panelIndex, slot,
        [&worker](const PanelSlot &asked) { return worker.link().queryPicType(asked); });
}

} // namespace orvo
