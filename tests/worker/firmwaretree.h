#pragma once

// A HexFiles tree of small, distinct firmware images for every catalogue file, written into a
// temporary folder, with the image each file must leave on its board.

#include "../firmware/hexfile.h"
#include "catalogue.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QString>
#include <QTemporaryDir>

#include <cstdint>
#include <map>

namespace orvo::test {

class FirmwareTree
{
public:
    /// Expected content of a board after writing one file.
    struct Image
    {
        std::map<std::uint32_t, std::uint8_t> hex; ///< address -> byte (HEX files)
        QByteArray fpga;                           ///< bytes in order (FPGA images)
    };

    /// Writes every catalogue file of every device type under <temp>/HexFiles/.
    bool create()
    {
        if (!m_dir.isValid())
            return false;
        std::uint32_t seed = 1;
        for (int type = 0; type < DeviceTypeMax; ++type) {
            for (int i = 0; i < kPanelPositions; ++i) {
                const QString file = firmwareFile(type, i);
                if (file.isEmpty() || m_images.contains(file))
                    continue;
                Image image;
                const QByteArray content = file.endsWith(QLatin1String(".bin")) ? makeFpga(seed, image)
                                                                                  : makeHex(seed, image);
                if (!write(file, content))
                    return false;
                m_images.insert(file, image);
                ++seed;
            }
        }
        return true;
    }

    /// The folder to give the worker, ending in "/".
    QString folder() const { return m_dir.path() + QStringLiteral("/HexFiles/"); }
    QString path(const QString &relative) const { return folder() + relative; }

    /// Expected image of catalogue position `panelIndex` of `deviceType`.
    Image image(int deviceType, int panelIndex) const { return m_images.value(firmwareFile(deviceType, panelIndex)); }

    bool remove(const QString &relative) const { return QFile::remove(path(relative)); }

    /// One HEX file: an extended address record for the flash, `records` data records of 16
    /// bytes, a record above the flash window (configuration words, never sent) and the end.
    static QByteArray makeHex(std::uint32_t seed, Image &image, int records = 6)
    {
        QByteArray text;
        using testing::hexRecord;
        text += hexRecord(0x0000, 4, QByteArray::fromHex("1D00")) + "\r\n";
        for (int r = 0; r < records; ++r) {
            QByteArray data;
            const std::uint16_t address = static_cast<std::uint16_t>(0x0100 * seed + 16 * r);
            for (int b = 0; b < 16; ++b) {
                const auto v = static_cast<std::uint8_t>((seed * 37 + r * 16 + b * 7) & 0xFF);
                data.append(static_cast<char>(v));
                image.hex[0x1D000000u + address + static_cast<std::uint32_t>(b)] = v;
            }
            text += hexRecord(address, 0, data) + "\r\n";
        }
        text += hexRecord(0x0000, 4, QByteArray::fromHex("1FC0")) + "\r\n";
        text += hexRecord(0x2FF0, 0, QByteArray(8, '\x5A')) + "\r\n";
        text += hexRecord(0x0000, 1, QByteArray()) + "\r\n";
        return text;
    }

    /// One FPGA image: a few chunks, the last one short.
    static QByteArray makeFpga(std::uint32_t seed, Image &image)
    {
        QByteArray bytes;
        const int size = 3 * 49 + 11 + static_cast<int>(seed % 7);
        for (int i = 0; i < size; ++i)
            bytes.append(static_cast<char>((seed * 53 + static_cast<std::uint32_t>(i) * 11 + 1) & 0xFF));
        image.fpga = bytes;
        return bytes;
    }

private:
    bool write(const QString &relative, const QByteArray &content) const
    {
        const QString full = path(relative);
        if (!QDir().mkpath(QFileInfo(full).absolutePath()))
            return false;
        QFile f(full);
        return f.open(QIODevice::WriteOnly) && f.write(content) == content.size();
    }

    QTemporaryDir m_dir;
    QHash<QString, Image> m_images;
};

} // namespace orvo::test
