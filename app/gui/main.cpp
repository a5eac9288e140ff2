// orvo-updater: the window.

#include "startup.h"
#include "versiontext.h"
#include "workerhost.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    // Answered before the application object exists: that one needs a display.
    if (orvo::asksForVersion(argc, argv)) {
        std::fputs(qPrintable(orvo::versionText("orvo-updater")), stdout);
        return 0;
    }
    orvo::preferPlainWorkerEventLoop();
    QApplication app(argc, argv);
    return orvo::ui::runApplication(app);
}
