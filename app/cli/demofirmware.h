#pragma once

// A firmware folder for demonstrations and tests: every file the catalogue names, as small but
// complete images, so that the simulator's boards can be updated end to end.

#include <QString>

namespace orvo::cli {

/// Writes into `folder` (created when missing) one file for every firmware file of the
/// catalogue, plus the processor-variant HEX files: Intel HEX images with `hexRecords` data
/// records of 16 bytes in the program flash and one configuration record outside it, and raw
/// FPGA images of `fpgaChunks` × 49 bytes. Returns the number of files written, or -1 with
/// `error` set.
int writeDemoFirmware(const QString &folder, QString *error, int hexRecords = 64, int fpgaChunks = 20);

} // namespace orvo::cli
