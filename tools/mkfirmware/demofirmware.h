#pragma once

// A firmware folder for demonstrations and tests: every file the catalogue names, as small but
// complete images, so that the simulator's boards can be updated end to end.

#include <QByteArray>
#include <QString>

namespace orvo::demo {

/// Writes into `folder` (created when missing) one file for every firmware file of the
/// catalogue, plus the processor-variant HEX files: Intel HEX images with `hexRecords` data
/// records of 16 bytes in the program flash and one configuration record outside it, and raw
/// FPGA images of `fpgaChunks` × 49 bytes. Returns the number of files written, or -1 with
/// `error` set.
int writeDemoFirmware(const QString &folder, QString *error, int hexRecords = 64, int fpgaChunks = 20);

constexpr int kMaxImageRecords = 1 << 20; // 16 MiB of program: more than any part holds

/// Writes a program image alone to `path` (its folder made when missing): `records` (at most
/// kMaxImageRecords) data records of 16 bytes from the start of the program flash, CR LF line
/// ends, as large images for timing and screenshots. Written piece by piece, so that a
/// benchmark's memory peak does not count it. False with `error` set when it cannot be written.
bool writeProgramImage(const QString &path, int records, QString *error);

} // namespace orvo::demo
