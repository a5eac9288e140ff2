#pragma once

// What every program prints for --version.

#include <QString>

namespace orvo {

/// "orvo-updater-cli 7.35\nbuilt 2026-12-08 with Qt 5.15.8, running on Qt 5.15.8\n": the
/// program's name, the release, the day it was built and the Qt it runs on, which may be newer
/// than the one it was built with. Needs no application object, so a window program can answer
/// without a display.
QString versionText(const char *program);

/// Whether the arguments (without the program's own name) are exactly "--version".
bool asksForVersion(int argc, char **argv);

} // namespace orvo
