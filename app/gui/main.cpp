// orvo-updater: the window.

#include "startup.h"
#include "workerhost.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    orvo::preferPlainWorkerEventLoop();
    QApplication app(argc, argv);
    return orvo::ui::runApplication(app);
}
