// orvo-mkfirmware FOLDER: writes a demonstration firmware folder (every file of the catalogue)
// for the device simulator. The images are not firmware: a real board written with one would
// no longer start, so the folder and the program's output both say so.

#include "demofirmware.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStringList>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.size() != 1 || args.at(0).startsWith(QLatin1Char('-'))) {
        std::fprintf(stderr,
            "Usage: orvo-mkfirmware FOLDER\n"
            "Writes small but complete firmware images for every board of the catalogue into\n"
            "FOLDER, for use with the device simulator (orvo-devsim) only.\n"
            "These images are NOT firmware: never update a real device from FOLDER.\n");
        return args.size() == 1 && (args.at(0) == QLatin1String("-h") || args.at(0) == QLatin1String("--help")) ? 0 : 2;
    }
    QString error;
    const int files = orvo::cli::writeDemoFirmware(args.at(0), &error);
    if (files < 0) {
        std::fprintf(stderr, "orvo-mkfirmware: %s\n", qPrintable(error));
        return 1;
    }
    QFile note(QDir(args.at(0)).filePath(QStringLiteral("DEMO-FIRMWARE-SIMULATOR-ONLY.txt")));
    if (note.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
        note.write("The files in this folder were written by orvo-mkfirmware for the device simulator\n"
                   "(orvo-devsim). They are NOT firmware: never update a real device from this folder.\n");
        note.close();
    }
    std::printf("Wrote %d demonstration firmware files (for the simulator only, never for a real device) to %s\n",
        files, qPrintable(QDir(args.at(0)).absolutePath()));
    return 0;
}
