#pragma once

// The JSON configuration of orvo-devsim (format in README.md), also usable by tests.

#include "simulator.h"

#include <QList>
#include <QPair>
#include <QString>

namespace orvo::devsim {

struct SimulatorConfig
{
    std::uint16_t port = 51000; ///< the common port of devices without a port of their own
    double speedUp = 1.0;
    QList<DeviceConfig> devices;
    QList<QPair<int, Fault>> faults; ///< device index and fault
};

/// Device type from a config text: a number 0..4 or console, qrt, kvr10, tx512, kvr30; -1 if unknown.
int deviceTypeFromText(const QString &text);

/// Parses a JSON configuration into `out` (devices are appended). False with `error` naming the
/// field (e.g. "devices[1].boards[0].state: ...") when anything is wrong.
bool parseConfig(const QByteArray &json, SimulatorConfig *out, QString *error);

/// Reads and parses a configuration file.
bool loadConfigFile(const QString &path, SimulatorConfig *out, QString *error);

} // namespace orvo::devsim
