#include "catalogue.h"

#include <array>

namespace orvo {

namespace {

struct Position
{
    PanelSlot slot;
    const char *name;
    const char *file;
};

using PositionTable = std::array<Position, kPanelPositions>;

// Empty positions are value-initialised: slot 0,0,0,0 and null texts.
const PositionTable kConsole = { {
    { { 2, 0, 5, 0 }, "Monitor Interface", "6170/MonInterfacePIC.hex" },
    { { 2, 1, 6, 0 }, "Monitor Master", "6170/MonCentralProcessorPIC.hex" },
    { { 2, 2, 7, 0 }, "Monitor AudioBoard", "6170/MonAudioBoardPIC.hex" },
    { { 3, 0, 8, 0 }, "Monitor 3350 AudioBoard", "6170/Mon3350AudioBoardPIC.hex" },
    { { 0, 0, 1, 0 }, "Channel Master 1-8", "6170/CentralProcessorPIC.hex" },
    { { 0, 1, 1, 0 }, "Channel Master 9-16", "6170/CentralProcessorPIC.hex" },
    { { 0, 2, 1, 0 }, "Channel Master 17-24", "6170/CentralProcessorPIC.hex" },
    { { 0, 0, 4, 0 }, "Channel Master FPGA 1-8", "6170/CentralProcessorFPGA.bin" },
    { { 0, 1, 4, 0 }, "Channel Master FPGA 9-16", "6170/CentralProcessorFPGA.bin" },
    { { 0, 2, 4, 0 }, "Channel Master FPGA 17-24", "6170/CentralProcessorFPGA.bin" },
    { { 0, 0, 2, 0 }, "Channel AudioBoard 1-4", "6170/AudioBoardPIC.hex" },
    { { 0, 0, 2, 1 }, "Channel AudioBoard 5-8", "6170/AudioBoardPIC.hex" },
    { { 0, 1, 2, 0 }, "Channel AudioBoard 9-12", "6170/AudioBoardPIC.hex" },
    { { 0, 1, 2, 1 }, "Channel AudioBoard 13-16", "6170/AudioBoardPIC.hex" },
    { { 0, 2, 2, 0 }, "Channel AudioBoard 17-20", "6170/AudioBoardPIC.hex" },
    { { 0, 2, 2, 1 }, "Channel AudioBoard 21-24", "6170/AudioBoardPIC.hex" },
    { { 1, 0, 3, 0 }, "Channel Meter 1-8", "6170/MetersPIC.hex" },
    { { 1, 1, 3, 0 }, "Channel Meter 9-16", "6170/MetersPIC.hex" },
    { { 1, 2, 3, 0 }, "Channel Meter 17-24", "6170/MetersPIC.hex" },
    { { 4, 3, 9, 0 }, "Master Faders [Manual]", "6170/MasterFadersPIC.hex" },
    { { 4, 0, 10, 0 }, "Channel Faders 1-8", "6170/AutChannelFadersPIC.hex" },
    { { 4, 1, 10, 0 }, "Channel Faders 9-16", "6170/AutChannelFadersPIC.hex" },
    { { 4, 2, 10, 0 }, "Channel Faders 17-24", "6170/AutChannelFadersPIC.hex" },
    { { 4, 3, 11, 0 }, "Master Faders [Mot]", "6170/AutMasterFadersPIC.hex" },
} };

const PositionTable kQrt = { {
    { { 0, 0, 1, 0 }, "Interface Processor", "3350QRT/3350QRTInterfacePIC.hex" },
    { { 1, 0, 2, 0 }, "Digital Board", "3350QRT/3350QRTDigitalPIC.hex" },
    { { 1, 0, 3, 0 }, "Digital Board FPGA", "3350QRT/3350QRTDigitalFPGA.bin" },
    { { 1, 0, 4, 0 }, "Digital ADAT Board", "3350QRT/3350QRTDigitalADATPIC.hex" },
    { { 1, 0, 5, 0 }, "Digital ADAT Board FPGA", "3350QRT/3350QRTDigitalADATFPGA.bin" },
} };

const PositionTable kKvr10 = { { { { 0, 0, 1, 0 }, "Interface Processor", "KVR10/KVR10InterfacePIC.hex" } } };
const PositionTable kTx512 = { { { { 0, 0, 1, 0 }, "Interface Processor", "TX512/TX512InterfacePIC.hex" } } };
const PositionTable kKvr30 = { { { { 0, 0, 1, 0 }, "Interface Processor", "KVR30/KVR30InterfacePIC.hex" } } };

const std::array<const PositionTable *, 5> kPositions = { &kConsole, &kQrt, &kKvr10, &kTx512, &kKvr30 };

const std::array<const char *, 6> kDeviceTypeNames = {
    "6170 Console",
    "3350 QRT",
    "Lumivox KVR10",
    "Lumivox TX512",
    "Lumivox KVR30",
    "DeviceTypeMax",
};

const std::array<int, 5> kSlotCounts = { 24, 5, 1, 1, 1 };

const std::uint8_t kBuildVersions[5][kBoardTypes] = {
    { 0, 13, 10, 5, 13, 12, 13, 11, 7, 10, 10, 10 },
    { 0, 13, 10, 10, 4, 4, 0, 0, 0, 0, 0, 0 },
    { 0, 12, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0 },
    { 0, 7, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0 },
    { 0, 5, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0 },
};

const std::array<const char *, kPicTypes> kPicParts = {
    "PIC32MZ2048EFG144",
    "PIC32MZ1024EFK144",
    "PIC32MZ1024EFG144",
    "PIC32MZ1024EFE144",
    "PIC32MZ1024EFM144",
    "PIC32MZ2048EFG100",
    "PIC32MZ1024EFH100",
    "PIC32MZ1024EFK100",
    "PIC32MZ2048EFG064",
    "PIC32MZ1024EFK064",
    "PIC32MZ1024EFF064",
    "PIC32MZ2048EFH100",
};

const std::array<const char *, 8> kResultMessages = {
    "Update FAILED! ",
    "Update Successful! ",
    "Update FAILED! Panel/board still in Boot mode! ",
    "There was a problem connecting to the panel/board! ",
    "Panel/board not found! ",
    "Panel/board update did not finish - still pending... ",
    "Update firmware file missing! ",
    "Firmware update not required. Panel/board is up to date! ",
};

const Position *position(int deviceType, int panelIndex)
{
    if (!isKnownDeviceType(deviceType) || panelIndex < 0 || panelIndex >= kPanelPositions)
        return nullptr;
    return &(*kPositions[static_cast<std::size_t>(deviceType)])[static_cast<std::size_t>(panelIndex)];
}

} // namespace

bool isKnownDeviceType(int deviceType)
{
    return deviceType >= 0 && deviceType < DeviceTypeMax;
}

QString deviceTypeName(std::int64_t deviceType)
{
    if (deviceType >= 0 && deviceType <= DeviceTypeMax)
        return QString::fromLatin1(kDeviceTypeNames[static_cast<std::size_t>(deviceType)]);
    return QStringLiteral("Unknown device type ") + QString::number(deviceType);
}

int slotCount(int deviceType)
{
    return isKnownDeviceType(deviceType) ? kSlotCounts[static_cast<std::size_t>(deviceType)] : 0;
}

PanelSlot panelSlot(int deviceType, int panelIndex)
{
    const Position *p = position(deviceType, panelIndex);
    return p ? p->slot : PanelSlot {};
}

QString panelName(int deviceType, int panelIndex)
{
    const Position *p = position(deviceType, panelIndex);
    return p && p->name ? QString::fromLatin1(p->name) : QString();
}

QString firmwareFile(int deviceType, int panelIndex)
{
    const Position *p = position(deviceType, panelIndex);
    return p && p->file ? QString::fromLatin1(p->file) : QString();
}

bool isCataloguePosition(int deviceType, int panelIndex)
{
    return panelIndex >= 0 && panelIndex < slotCount(deviceType);
}

std::uint8_t buildVersion(int deviceType, int boardType)
{
    if (!isKnownDeviceType(deviceType) || boardType < 0 || boardType >= kBoardTypes)
        return 0;
    return kBuildVersions[deviceType][boardType];
}

QString picPart(int picType)
{
    if (picType < 0 || picType >= kPicTypes)
        return QString();
    return QString::fromLatin1(kPicParts[static_cast<std::size_t>(picType)]);
}

QString updateResultMessage(int result)
{
    if (result < 0 || result >= static_cast<int>(kResultMessages.size()))
        return QString();
    return QString::fromLatin1(kResultMessages[static_cast<std::size_t>(result)]);
}

std::optional<int> findPanelIndex(int deviceType, const PanelSlot &slot)
{
    if (!isKnownDeviceType(deviceType))
        return std::nullopt;
    for (int i = 0; i < kPanelPositions; ++i) {
        if (position(deviceType, i)->slot == slot)
            return i;
    }
    return std::nullopt;
}

bool isFpgaBoard(int deviceType, int boardType)
{
    return (deviceType == Console6170 && boardType == 4)
        || (deviceType == Qrt3350 && (boardType == 3 || boardType == 5));
}

bool restartsNetwork(int deviceType, const PanelSlot &slot)
{
    if (deviceType == Console6170)
        return slot.panel == 2 && (slot.channel == 0 || slot.channel == 1);
    return isKnownDeviceType(deviceType) && slot.panel == 0;
}

} // namespace orvo
