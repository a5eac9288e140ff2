#pragma once

// Points a worker at simulated devices: the simulator listening on a port it chooses, and a
// firmware tree in a temporary folder.

#include "firmwaretree.h"
#include "simulator.h"
#include "worker.h"

#include <QtGlobal>

namespace orvo::test {

inline bool startSimulation(devsim::Simulator &sim, FirmwareTree &firmware, Worker &worker)
{
    QString error;
    if (!sim.start(0, &error)) {
        qWarning("simulator: %s", qPrintable(error));
        return false;
    }
    if (!firmware.create())
        return false;
    worker.setDevicePort(sim.port());
    worker.setFirmwareFolder(firmware.folder());
    return true;
}

} // namespace orvo::test
