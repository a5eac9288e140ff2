#pragma once

// What a command on one device needs, whether it runs alone or beside others: the scan that
// looks the device up, the check of its answer, the request the window's handlers would make,
// and the exit status of a version scan or an auto update.

#include "clifrontend.h"
#include "clioptions.h"
#include "joboutcome.h"
#include "workrequest.h"

#include <optional>

namespace orvo::cli {

/// A manual scan of `address` alone: how a command finds the device it was given.
WorkRequest lookUpRequest(const QString &address);

/// Where `address` is in the list the look-up scan brought back. When it is not, says why on
/// `frontEnd` and returns the exit status in `status`: a record that names another address is
/// refused (ExitJobFailed; the jobs take their address from the record, so acting on it would
/// reach a host the user never named), and no answer is ExitNoDevice.
std::optional<int> askedDevice(ConsoleFrontEnd &frontEnd, const QString &address, std::uint16_t port, int &status);

/// The request the window's handler makes for `command` on the device at `selected` of the
/// list, whose record is `record`; none for a command that runs no device job.
std::optional<WorkRequest> deviceJobRequest(
    Command command, const Options &options, int selected, const OrvoDiscoveryInfo &record, int panelIndex = 0);

/// The exit status of a version scan (GetVersions) or an auto update that ran to its end.
int scanJobStatus(JobMode mode, const JobOutcome &job);

/// The device's record as the job left it, when the job asked for it again.
std::optional<OrvoDiscoveryInfo> recordAfter(const ConsoleFrontEnd &frontEnd, const OrvoDiscoveryInfo &before);

/// The history file of `options` (--history), else the default beside the window's log.
QString historyFilePath(const Options &options);

} // namespace orvo::cli
