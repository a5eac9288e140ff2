#pragma once

// The one reader of a typed IPv4 address: the manual scan's entries, the window's IP dialog and
// settings, and the command line's DEVICE and --ip all go through it.

#include <QString>

#include <optional>

namespace orvo {

struct Ipv4Entry
{
    QString address;   ///< "a.b.c.d" without leading zeros
    quint32 value = 0; ///< the same address as a number, first octet highest
};

/// Four dot-separated fields of one to three decimal digits, each 0..255, with blanks around the
/// whole text ignored: "192.168.001.020" gives 192.168.1.20. Nothing else, so that a resolver is
/// never asked to look a name up instead of connecting to an address.
std::optional<Ipv4Entry> parseIpv4Entry(const QString &text);

/// A manual entry that is not in use: "000.000.000.000" (kUnusedAddress) or "255.255.255.255".
bool isUnusedEntry(const QString &entry);

/// Whether `entry` can name one device: not 0.x.x.x (this computer), not multicast or broadcast.
bool namesOneDevice(const Ipv4Entry &entry);

} // namespace orvo
