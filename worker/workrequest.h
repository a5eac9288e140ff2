#pragma once

// The inputs of one job as a value: the front end builds it, requestWork copies it under the
// worker's lock, and the job reads only its own copy. A flag set for one job cannot reach the next.

#include "jobcodes.h"

#include <QString>

#include <array>

namespace orvo {

/// The text of a manual address entry that is not in use.
inline const QString kUnusedAddress = QStringLiteral("000.000.000.000");

/// The four manually entered addresses of the network scan, in dotted form.
using ManualAddresses = std::array<QString, 4>;
inline ManualAddresses unusedManualAddresses()
{
    return { kUnusedAddress, kUnusedAddress, kUnusedAddress, kUnusedAddress };
}

struct WorkRequest
{
    JobMode mode = JobMode::ScanNetwork;
    int selectedDevice = 0;         ///< index into the worker's device list (the last scan's)
    int deviceType = 0;             ///< device type of the selected device
    int panelIndex = 0;             ///< catalogue position of the chosen board
    bool forceUpdate = false;       ///< auto update: treat every board as out of date
    bool checkAfterReset = false;   ///< reset: check the board once it has restarted
    bool refreshDeviceInfo = false; ///< after an update: ask the device for its record again
    ManualAddresses manualIp = unusedManualAddresses();
    bool manualIpEnabled = false; ///< the scan probes only the manual addresses
    QString newDeviceName;        ///< rename: at most kDeviceNameMaxChars characters

    /// A copy for another job: the selection and the scan's addresses stay, the job's own inputs
    /// (the one-shot flags, the new name) start afresh.
    WorkRequest forJob(JobMode job) const
    {
        WorkRequest next;
        next.mode = job;
        next.selectedDevice = selectedDevice;
        next.deviceType = deviceType;
        next.panelIndex = panelIndex;
        next.manualIp = manualIp;
        next.manualIpEnabled = manualIpEnabled;
        return next;
    }
};

} // namespace orvo
