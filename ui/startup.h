#pragma once

#include <memory>

class QApplication;
class QString;

namespace orvo {
class Clock;
}

namespace orvo::ui {

class FramelessWindow;

/// Registers the program's resource bundle (the library is linked statically).
void initResources();

/// Path of the single-instance lock: the user's temporary folder + "/OrvoUpdaterKvw.lock".
QString lockFilePath();

/// The main window in its frame, titled, with its icon, its size fixed and centred on the first
/// screen, not yet shown. The worker runs on `clock`, or on real time when it is null.
std::unique_ptr<FramelessWindow> createMainFrame(Clock *clock = nullptr);

/// The program after its application object exists: meta types, dark style, identity, the
/// single-instance lock, then the main window in its frame until the last window closes.
/// Returns the exit code: the event loop's result, or 1 when another instance holds the lock.
int runApplication(QApplication &app);

} // namespace orvo::ui
