// libFuzzer target: discovery replies. The input is cut into replies of up to 123 bytes (its
// first byte says how long each one is, so that short, exact and long replies all occur); every
// reply goes through the acceptance rule, an accepted record through everything the scan does
// with it: its fields, its text forms, its summary line and the one-record-per-MAC list.

#include "catalogue.h"
#include "devicerecord.h"
#include "packet.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

void fail(const char *what)
{
    std::fprintf(stderr, "device record fuzz: %s\n", what);
    std::abort();
}

void checkRecord(const std::uint8_t *data, std::size_t n, const orvo::OrvoDiscoveryInfo &record)
{
    if (n != orvo::OrvoDiscoveryInfo::kSize)
        fail("a reply that is not 123 bytes was accepted");
    if (std::memcmp(record.bytes().data(), data, n) != 0 || record.toByteArray().size() != int(n))
        fail("the stored record differs from the bytes received");
    const orvo::PacketHeader h = orvo::PacketHeader::decode(data);
    if (h.magic != orvo::kMagic || h.kind != orvo::KindDeviceInfo || h.deviceType >= orvo::DeviceTypeMax)
        fail("a record with a wrong header was accepted");
    if (record.nameBytes().size() > int(orvo::OrvoDiscoveryInfo::kNameSize) || record.nameBytes().contains('\0'))
        fail("name runs past its field or holds a zero");
    if (record.name().size() > int(orvo::OrvoDiscoveryInfo::kNameSize))
        fail("the shown name is longer than its field");
    if (ipText(record).size() > 15 || macText(record).size() != 17)
        fail("address text of a wrong length");
    // What the scan's summary and debug lines make of it.
    const QString line = QStringLiteral("#1:  Type: ") + orvo::deviceTypeName(record.type()) + QStringLiteral("  |  ")
        + record.name() + QStringLiteral("  |  IP: ") + ipText(record);
    if (line.isEmpty() || orvo::deviceTypeName(record.type()).isEmpty())
        fail("empty summary line");
    for (int i = -1; i <= int(orvo::OrvoDiscoveryInfo::kByDataWords); ++i)
        (void)record.byData(i);
    (void)record.optionMask();
    (void)record.needsUpdate();
    (void)record.requestDeviceType();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    orvo::DeviceList list;
    const std::size_t cut = data[0] == 0 ? orvo::OrvoDiscoveryInfo::kSize : data[0];
    std::size_t at = 1;
    while (at < size) {
        const std::size_t n = std::min(cut, size - at);
        const auto record = orvo::acceptDeviceRecord(data + at, n);
        if (record) {
            checkRecord(data + at, n, *record);
            const int before = list.size();
            orvo::addOrReplaceDevice(list, *record);
            if (list.size() < before || list.size() > before + 1)
                fail("the list grew by more than one or shrank");
        }
        at += n;
    }
    for (int i = 0; i < list.size(); ++i) {
        for (int j = i + 1; j < list.size(); ++j) {
            if (list.at(i).mac() == list.at(j).mac())
                fail("two entries with one MAC");
        }
    }
    // The other entry points with lengths around the record's.
    for (const std::size_t n : { std::size_t(0), std::size_t(122), std::size_t(124) }) {
        if (n <= size && orvo::acceptDeviceRecord(data, n))
            fail("a reply that is not 123 bytes was accepted");
    }
    if (orvo::acceptDeviceRecord(nullptr, orvo::OrvoDiscoveryInfo::kSize))
        fail("a null reply was accepted");
    return 0;
}
