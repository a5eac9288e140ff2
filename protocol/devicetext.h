#pragma once

// Text that comes from a device, and names that go to one.
//
// A device keeps its name as zero-terminated 8-bit text in Windows-1252, the code page the
// updater has always written it in, whatever the workstation's locale. Anyone on the studio
// network can answer a discovery probe, so what a device sends is shown as data: its control
// characters never reach a terminal, a log file or a list as control.

#include <QByteArray>
#include <QString>

namespace orvo {

/// Most characters a device keeps of its name; one character is one byte in its code page.
constexpr int kDeviceNameMaxChars = 21;

/// Device text bytes as Windows-1252. The five bytes the code page leaves undefined (0x81, 0x8D,
/// 0x8F, 0x90, 0x9D) become the C1 code points of the same value, so every byte has a character
/// and nothing is lost or replaced.
QString decodeDeviceText(const QByteArray &bytes);

/// `text` with each control character (C0 including CR and LF, DEL, C1) written as "\xHH" with
/// two upper-case hex digits; all else unchanged, so a second application changes nothing.
/// Every text from a device passes through it before a terminal, a log file or the window
/// shows it. A backslash is left as it is: ordinary names must look as they always did, and the
/// exact bytes stay in the record and the JSON report.
QString visibleText(const QString &text);

/// A new device name as the bytes to send, or the user's message why it cannot be one.
struct DeviceNameBytes
{
    QByteArray bytes; ///< Windows-1252, at most kDeviceNameMaxChars, no terminating zero
    QString error;    ///< empty when `bytes` may be sent

    bool ok() const { return error.isEmpty(); }
};

/// Encodes `name` (composed to NFC first, so "e" + combining accent counts as one "é") after
/// checking it: at most kDeviceNameMaxChars characters, each one Windows-1252 holds and none a
/// control character. The message names the first character at fault.
DeviceNameBytes encodeDeviceName(const QString &name);

} // namespace orvo
