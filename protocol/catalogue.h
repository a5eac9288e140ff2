#pragma once

#include <QString>

#include <cstdint>
#include <optional>

namespace orvo {

/// Device types as carried in the 32-bit type field of a device record.
enum DeviceType : int {
    Console6170 = 0,
    Qrt3350 = 1,
    LumivoxKvr10 = 2,
    LumivoxTx512 = 3,
    LumivoxKvr30 = 4,
    DeviceTypeMax = 5,
};

/// Result of a panel update. The numbers travel in reports and the board history, and the
/// result messages are indexed by them.
enum class UpdateResult : int {
    Failed = 0,
    Successful = 1,
    StillInBootMode = 2,
    ConnectionProblem = 3,
    PanelNotFound = 4,
    Pending = 5,
    FileMissing = 6,
    NotRequired = 7,
};

constexpr int kPanelPositions = 24; ///< catalogue positions per device type
constexpr int kBoardTypes = 12;     ///< columns of the build version table
constexpr int kPicTypes = 12;       ///< known PIC32MZ parts; 12 means unknown
constexpr std::uint8_t kPicUnknown = 12;

/// Address of one board inside a device: the four bytes of every panel command.
struct PanelSlot
{
    std::uint8_t panel = 0;
    std::uint8_t channel = 0;
    std::uint8_t boardType = 0;
    std::uint8_t boardAddress = 0;

    friend bool operator==(const PanelSlot &a, const PanelSlot &b)
    {
        return a.panel == b.panel && a.channel == b.channel && a.boardType == b.boardType
            && a.boardAddress == b.boardAddress;
    }
    friend bool operator!=(const PanelSlot &a, const PanelSlot &b) { return !(a == b); }
};

/// True for device types 0..4 (the ones with a catalogue).
bool isKnownDeviceType(int deviceType);

/// Display name of a device type; 0..5 from the table, anything else "Unknown device type N".
QString deviceTypeName(std::int64_t deviceType);

/// Number of positions offered for a device type (24, 5, 1, 1, 1); 0 for an unknown type.
int slotCount(int deviceType);

/// Slot of a catalogue position; all zero for an empty or out-of-range position.
PanelSlot panelSlot(int deviceType, int panelIndex);

/// Catalogue name of a position; empty for an empty or out-of-range position.
QString panelName(int deviceType, int panelIndex);

/// Firmware file of a position relative to the firmware folder ("6170/MonInterfacePIC.hex");
/// empty for an empty or out-of-range position.
QString firmwareFile(int deviceType, int panelIndex);

/// True when `panelIndex` is a fitted catalogue position of `deviceType` (below its slot count).
bool isCataloguePosition(int deviceType, int panelIndex);

/// Firmware version this release carries for a board; 0 outside the table.
std::uint8_t buildVersion(int deviceType, int boardType);

/// PIC32MZ part name for `picType` 0..11; empty otherwise.
QString picPart(int picType);

/// Text of an update result code 0..7 (with its trailing blank); empty otherwise.
QString updateResultMessage(int result);

/// First position 0..23 of `deviceType` whose slot equals `slot`, if any.
std::optional<int> findPanelIndex(int deviceType, const PanelSlot &slot);

/// Boards that take a raw FPGA image: console board type 4, 3350 QRT board types 3 and 5.
bool isFpgaBoard(int deviceType, int boardType);

/// Boards whose restart also restarts the device's network: console panel 2 with channel 0
/// or 1; panel 0 on every other device type.
bool restartsNetwork(int deviceType, const PanelSlot &slot);

} // namespace orvo
