#include "demofirmware.h"

#include "catalogue.h"
#include "firmwarefiles.h"
#include "manifest.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <cstdint>

namespace orvo::cli {

namespace {

constexpr int kFpgaChunkBytes = 49;

// ":" + count, address, type, data, checksum (two's complement of the byte sum).
QByteArray hexRecord(std::uint16_t address, std::uint8_t type, const QByteArray &data)
{
    QByteArray bytes;
    bytes.append(static_cast<char>(data.size()));
    bytes.append(static_cast<char>((address >> 8) & 0xFF));
    bytes.append(static_cast<char>(address & 0xFF));
    bytes.append(static_cast<char>(type));
    bytes.append(data);
    std::uint8_t sum = 0;
    for (const char c : bytes)
        sum = static_cast<std::uint8_t>(sum + static_cast<std::uint8_t>(c));
    bytes.append(static_cast<char>(static_cast<std::uint8_t>(0x100 - sum)));
    return ':' + bytes.toHex().toUpper() + '\n';
}

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
    QByteArray text;
    text += hexRecord(0, 4, QByteArray::fromHex("1D00")); // program flash, 0x1D000000
    for (int i = 0; i < records; ++i)
        text += hexRecord(static_cast<std::uint16_t>(i * 16), 0, pattern(name, 16, i * 16));
    // A configuration word outside the program flash: part of every real image, never sent.
    text += hexRecord(0, 4, QByteArray::fromHex("1FC0"));
    text += hexRecord(0xFFC0, 0, QByteArray::fromHex("FFFFFFFF"));
    text += hexRecord(0, 1, QByteArray());
    return text;
}

bool writeFile(const QString &path, const QByteArray &content, QString *error)
{
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
        if (error)
            *error = QStringLiteral("cannot create the folder of ") + path;
        return false;
    }
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(content) != content.size()) {
        if (error)
            *error = QStringLiteral("cannot write ") + path;
        return false;
    }
    return true;
}

} // namespace

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
                // The variants that need an image of their own: every part but 0, 5 and 8.
                for (int pic = 0; pic < kPicTypes; ++pic) {
                    if (hasOwnImage(static_cast<std::uint8_t>(pic)))
                        names << variantFileName(file, static_cast<std::uint8_t>(pic));
                }
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

} // namespace orvo::cli
