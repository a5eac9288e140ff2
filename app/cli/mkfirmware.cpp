// orvo-mkfirmware FOLDER: writes a demonstration firmware folder (every file of the catalogue)
// for the device simulator.

#include "demofirmware.h"

#include <QCoreApplication>
#include <QDir>
#include <QStringList>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.size() != 1 || args.at(0).startsWith(QLatin1Char('-'))) {
        std::fprintf(stderr, "Usage: orvo-mkfirmware FOLDER\n"
                             "Writes small but complete firmware images for every board of the catalogue into\n"
                             "FOLDER, for use with the device simulator (orvo-devsim).\n");
        return args.size() == 1 && (args.at(0) == QLatin1String("-h") || args.at(0) == QLatin1String("--help")) ? 0 : 2;
    }
    QString error;
    const int files = orvo::cli::writeDemoFirmware(args.at(0), &error);
    if (files < 0) {
        std::fprintf(stderr, "orvo-mkfirmware: %s\n", qPrintable(error));
        return 1;
    }
    std::printf("Wrote %d firmware files to %s\n", files, qPrintable(QDir(args.at(0)).absolutePath()));
    return 0;
}
