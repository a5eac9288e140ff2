// orvo-mkfirmware FOLDER: writes a demonstration firmware folder (every file of the catalogue)
// for the device simulator. orvo-mkfirmware --image RECORDS FILE: writes one large program
// image, for timing and screenshots. The images are not firmware: a real board written with one
// would no longer start, so the folder and the program's output both say so.

#include "demofirmware.h"
#include "versiontext.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStringList>

#include <cstdio>

namespace {

int writeImage(const QString &records, const QString &path)
{
    bool ok = false;
    const int count = records.toInt(&ok);
    if (!ok || count < 1 || count > orvo::demo::kMaxImageRecords) {
        std::fprintf(stderr, "orvo-mkfirmware: RECORDS must be a number from 1 to %d\n", orvo::demo::kMaxImageRecords);
        return 2;
    }
    QString error;
    if (!orvo::demo::writeProgramImage(path, count, &error)) {
        std::fprintf(stderr, "orvo-mkfirmware: %s\n", qPrintable(error));
        return 1;
    }
    std::printf("Wrote a demonstration program image of %d records (for the simulator only, never for a real "
                "device) to %s\n",
        count, qPrintable(QDir(path).absolutePath()));
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (orvo::asksForVersion(argc, argv)) {
        std::fputs(qPrintable(orvo::versionText("orvo-mkfirmware")), stdout);
        return 0;
    }
    if (args.size() == 3 && args.at(0) == QLatin1String("--image"))
        return writeImage(args.at(1), args.at(2));
    if (args.size() != 1 || args.at(0).startsWith(QLatin1Char('-'))) {
        std::fprintf(stderr,
            "Usage: orvo-mkfirmware FOLDER\n"
            "       orvo-mkfirmware --image RECORDS FILE\n"
            "       orvo-mkfirmware --version\n"
            "Writes small but complete firmware images for every board of the catalogue into\n"
            "FOLDER, or one program image of RECORDS 16-byte records into FILE, for use with the\n"
            "device simulator (orvo-devsim) only.\n"
            "These images are NOT firmware: never update a real device from them.\n");
        return args.size() == 1 && (args.at(0) == QLatin1String("-h") || args.at(0) == QLatin1String("--help")) ? 0 : 2;
    }
    QString error;
    const int files = orvo::demo::writeDemoFirmware(args.at(0), &error);
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
