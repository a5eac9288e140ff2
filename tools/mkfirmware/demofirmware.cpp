#include "demofirmware.h"

#include "catalogue.h"
#include "firmwarefiles.h"
#include "hexwriter.h"
#include "manifest.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <algorithm>
#include <cstdint>

namespace orvo::demo {

namespace {

constexpr int kFpgaChunkBytes = 49;
constexpr int kRecordBytes = 16;
constexpr std::uint32_t kProgramFlash = 0x1D000000;
// A configuration word outside the program flash: part of every real image, never sent.
constexpr std::uint32_t kConfigurationWord = 0x1FC0FFC0;

// Bytes that differ from file to file, so that a board's image tells which file it came from.
QByteArray pattern(const QString &name, int size, int offset)
{
    const uint seed = qHash(name);
    QByteArray data(size, '\0');
    for (int i = 0; i < size; ++i)
        data[i] = static_cast<char>((seed >> ((i % 4) * 8)) + static_cast<uint>(offset + i));
    return data;
}

QByteArray hexImage(const QString &name, int records)
{
    HexWriter hex;
    for (int i = 0; i < records; ++i)
        hex.addData(kProgramFlash + std::uint32_t(i * kRecordBytes), pattern(name, kRecordBytes, i * kRecordBytes));
    hex.addData(kConfigurationWord, QByteArray::fromHex("FFFFFFFF"));
    return hex.finish();
}

bool openForWriting(QFile &file, QString *error)
{
    if (!QDir().mkpath(QFileInfo(file.fileName()).absolutePath())) {
        if (error)
            *error = QStringLiteral("cannot create the folder of ") + file.fileName();
        return false;
    }
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        if (error)
            *error = QStringLiteral("cannot write ") + file.fileName();
        return false;
    }
    return true;
}

bool writeAll(QFile &file, const QByteArray &content, QString *error)
{
    if (file.write(content) == content.size())
        return true;
    if (error)
        *error = QStringLiteral("cannot write ") + file.fileName();
    return false;
}

bool writeFile(const QString &path, const QByteArray &content, QString *error)
{
    QFile file(path);
    return openForWriting(file, error) && writeAll(file, content, error);
}

} // namespace

bool writeProgramImage(const QString &path, int records, QString *error)
{
    constexpr int kRecordsPerPiece = 4096;
    QFile file(path);
    if (!openForWriting(file, error))
        return false;
    HexWriter hex(QByteArrayLiteral("\r\n"));
    QByteArray data(kRecordBytes, '\0');
    const int count = std::clamp(records, 0, kMaxImageRecords);
    for (int r = 0; r < count; ++r) {
        for (int i = 0; i < kRecordBytes; ++i)
            data[i] = static_cast<char>((r * 7 + i * 13) & 0xFF);
        hex.addData(kProgramFlash + std::uint32_t(r * kRecordBytes), data);
        if ((r + 1) % kRecordsPerPiece == 0 && !writeAll(file, hex.take(), error))
            return false;
    }
    return writeAll(file, hex.finish(), error);
}

int writeDemoFirmware(const QString &folder, QString *error, int hexRecords, int fpgaChunks)
{
    const QDir root(folder);
    QSet<QString> written;
    for (int type = 0; type < DeviceTypeMax; ++type) {
        for (int position = 0; position < slotCount(type); ++position) {
            const QString file = firmwareFile(type, position);
            if (file.isEmpty())
                continue;
            QStringList names { file };
            const bool fpga = file.endsWith(QLatin1String(".bin"));
            if (!fpga) {
                for (const VariantImage &variant : variantImages(file))
                    names << variant.file;
            }
            for (const QString &name : qAsConst(names)) {
                if (written.contains(name))
                    continue;
                const QByteArray content
                    = fpga ? pattern(name, fpgaChunks * kFpgaChunkBytes, 0) : hexImage(name, hexRecords);
                if (!writeFile(root.filePath(name), content, error))
                    return -1;
                written.insert(name);
            }
        }
    }
    // The demonstration runs as a real release does: with a manifest that vouches for each file.
    if (!writeManifest(folder, written.values(), error))
        return -1;
    return written.size();
}

} // namespace orvo::demo
