#pragma once

// What the command-line front end makes of the worker's output: the mark in front of each
// activity line, and the record of the job's outcomes that the JSON report and the exit status
// are built from.

#include "catalogue.h"
#include "clioptions.h"
#include "devicerecord.h"
#include "joboutcome.h"
#include "manifest.h"

#include <QJsonObject>
#include <QString>
#include <QVector>

#include <optional>

namespace orvo::cli {

/// The report's "manifest": "absent", or {"state": "present", "entries": N}, or
/// {"state": "unreadable", "fault": "line 3: path with \"..\""}.
QJsonValue manifestJson(const Manifest &manifest);

/// The fields of a device record.
QJsonObject deviceJson(const OrvoDiscoveryInfo &record);

/// The four bytes that address a board inside its device.
QJsonObject slotJson(const PanelSlot &slot);

/// One board of the report, with its catalogue data.
QJsonObject boardJson(int deviceType, const BoardOutcome &board);

/// "ok", "update failed" ...: the report's word for an exit status.
QString exitStatusText(int status);

} // namespace orvo::cli
