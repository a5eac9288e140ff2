#pragma once

// AppSettings.ini: the manual IP addresses of the network scan. The file is the user's (or
// anyone's) to edit, so what it holds is checked before the scan uses it.

#include "workrequest.h"

#include <QString>

namespace orvo::ui {

struct ManualIpSettings
{
    bool enabled = false;
    ManualAddresses address = unusedManualAddresses();
};

/// An entry the manual scan can use: a dotted IPv4 address (parseIpv4Entry).
bool isUsableIpEntry(const QString &text);

/// Reads the settings file at `path`; defaults when it does not exist. When any of the four
/// entries is not a usable address, all four become kUnusedAddress, in the file too.
ManualIpSettings readManualIpSettings(const QString &path);
/// The firmware folder the window updates from, "OrvoUpdaterSettings/FirmwareFolder": for a
/// user who keeps releases in a folder of their own (`orvo-updater-cli release install
/// --firmware DIR`). Empty when the key is absent or empty: the installed folder applies. A
/// value that is not an absolute path to an existing folder (or is longer than 1024
/// characters, or holds a control character) is not used; `refusal` then says why. The
/// program never writes the key.
QString readFirmwareFolderSetting(const QString &path, QString *refusal = nullptr);

/// Writes the flag and the four entries to the settings file at `path`.
void writeManualIpSettings(const QString &path, const ManualIpSettings &settings);

} // namespace orvo::ui
