// orvo-updater: the window.

#include "startup.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    return orvo::ui::runApplication(app);
}
