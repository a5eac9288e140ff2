#pragma once

// A HexFiles tree of small, distinct firmware images for every catalogue file, written into a
// temporary folder.

#include "catalogue.h"
#include "hexfile.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QTemporaryDir>

#include <cstdint>

namespace orvo::test {

class FirmwareTree
{
public:
    /// Writes every catalogue file of every device type under <temp>/HexFiles/: a HEX file of six
    /// 16-byte records (each file at its own addresses), or an FPGA image of a few chunks, the
    /// last one short.
    bool create()
    {
        if (!m_dir.isValid())
            return false;
        std::uint32_t seed = 1;
        for (int type = 0; type < DeviceTypeMax; ++type) {
            for (int i = 0; i < kPanelPositions; ++i) {
                const QString file = firmwareFile(type, i);
                if (file.isEmpty() || QFile::exists(path(file)))
                    continue;
                const bool fpga = file.endsWith(QLatin1String(".bin"));
                if (!write(file, fpga ? testing::patternBytes(3 * 49 + 11 + int(seed % 7), seed) : hexImage(seed)))
                    return false;
                ++seed;
            }
        }
        return true;
    }

    /// The folder to give the worker, ending in "/".
    QString folder() const { return m_dir.path() + QStringLiteral("/HexFiles/"); }
    QString path(const QString &relative) const { return folder() + relative; }

    bool remove(const QString &relative) const { return QFile::remove(path(relative)); }

    /// The image of file number `seed`, `records` records long.
    static QByteArray hexImage(std::uint32_t seed, int records = 6)
    {
        return testing::makeHexImage(records, 16, 0x1D200000, nullptr, 0x1D000000 + 0x100 * seed, seed);
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
};

} // namespace orvo::test
