#pragma once

// AppSettings.ini: the manual IP addresses of the network scan. The file is the user's (or
// anyone's) to edit, so what it holds is checked before the scan uses it.

#include <QString>

namespace orvo::ui {

/// The text of a manual entry that is not in use.
extern const QString kNoAddress;

struct ManualIpSettings
{
    bool enabled = false;
    QString address[4] = { kNoAddress, kNoAddress, kNoAddress, kNoAddress };
};

/// Four decimal parts below 256 separated by dots; an empty part counts as 0.
bool isValidIpText(const QString &text);
/// "010.001.000.100" as "10.1.0.100"; a text that is not four octets comes back unchanged.
QString normalizeIpText(const QString &text);
/// An entry that passes isValidIpText and reads as an IPv4 address.
bool isUsableIpEntry(const QString &text);

/// Reads the settings file at `path`; defaults when it does not exist. When any of the four
/// entries is not a usable address, all four become kNoAddress, in the file too.
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
