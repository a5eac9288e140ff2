#pragma once

#include "catalogue.h"

#include <QByteArray>
#include <QString>
#include <QVector>

#include <cstdint>
#include <functional>

namespace orvo {

/// Folder of the firmware files: "HexFiles" in the parent of the program's folder, absolute,
/// ending in "/".
QString firmwareFolderPath();

/// Asks the board at a slot for its PIC32MZ variant: 0..11, or 12 when no valid answer came. The
/// worker passes PanelLink::queryPicType.
using PicTypeQuery = std::function<std::uint8_t(const PanelSlot &)>;

/// Whether processor variant `picType` (0..11) needs an image of its own: the catalogue's names
/// are made for the 2048 parts 0, 5 and 8, and 12 (unknown) takes them too.
bool hasOwnImage(std::uint8_t picType);

/// The name of variant `picType`'s image beside the catalogue file `file`:
/// "6170/MonInterfacePIC.hex" -> "6170/MonInterfacePIC_PIC32MZ1024EFG144.hex".
QString variantFileName(const QString &file, std::uint8_t picType);

/// One processor variant's own image of a catalogue file.
struct VariantImage
{
    std::uint8_t picType = 0;
    QString file; ///< variantFileName(catalogue file, picType)
};

/// Every variant image that catalogue file `file` may have beside it, by ascending picType.
QVector<VariantImage> variantImages(const QString &file);

/// The file chosen for one board and the variant that chose it.
struct FirmwareFileChoice
{
    QByteArray path;           ///< full path, 8-bit (the file system's encoding)
    std::uint8_t picType = 12; ///< 0..11, 12 unknown or not asked
};

/// Firmware file of catalogue position `panelIndex` of `deviceType` under `folder` (ending in
/// "/"). A ".bin" image never queries the panel. For a queried variant other than 0, 5, 8 and
/// unknown, the name becomes <base>_<part name>.hex. Writes the debug line "file: " + path.
FirmwareFileChoice firmwareFilePath(
    const QString &folder, int deviceType, int panelIndex, const PanelSlot &slot, const PicTypeQuery &queryPicType);

/// How loading a firmware file ended.
enum class LoadStatus {
    Loaded,
    Missing,  ///< no such file, not a regular file, empty, or it could not be opened or read
    TooLarge, ///< larger than kMaxFirmwareFileSize; not read
};

/// Reads a whole firmware file. `content` holds the bytes actually read when Loaded and is
/// empty otherwise. HEX files are read as they are: the record producer does not depend on
/// line ends.
LoadStatus loadFirmwareFile(const QByteArray &path, bool fpgaBoard, QByteArray &content);

} // namespace orvo
