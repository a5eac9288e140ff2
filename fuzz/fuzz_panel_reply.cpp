// libFuzzer target: panel replies. The input's first byte picks the device type of the request
// (0..5, 5 standing for "any"); the rest is the reply as it came off the connection. Beyond the
// sanitizers' findings it checks the acceptance rule and every reading the program makes of an
// accepted body: the status query's found, boot mode and version, the PIC query's part, and the
// boot loader's answers to the erase and to a program record.

#include "catalogue.h"
#include "packet.h"

#include <QString>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

void fail(const char *what)
{
    std::fprintf(stderr, "panel reply fuzz: %s\n", what);
    std::abort();
}

void interpret(const orvo::PanelBody &body, int deviceType)
{
    for (int i = 0; i < orvo::slotCount(deviceType); ++i) {
        const orvo::PanelSlot s = orvo::panelSlot(deviceType, i);
        for (const std::uint8_t code :
            { orvo::ReplyStatus, orvo::ReplyAccepted, orvo::ReplyChecksum, orvo::ReplyPicType }) {
            if (!orvo::replyMatches(body, code, s))
                continue;
            if (body[orvo::BodyRoute] != code || body[orvo::BodySize] == 0 || body[orvo::BodyChannel] != s.channel
                || body[orvo::BodyPanel] != s.panel || body[orvo::BodyBoardType] != s.boardType
                || body[orvo::BodyBoardAddress] != s.boardAddress)
                fail("a reply that does not echo the slot matched");
            if (!orvo::findPanelIndex(deviceType, s))
                fail("a catalogue slot has no position");
            switch (code) {
            case orvo::ReplyStatus: {
                const bool bootMode = body[orvo::BodySubCommand] == orvo::StatusBootLoader;
                const bool erased = body[orvo::BodySubCommand] == orvo::StatusErased;
                if (bootMode && erased)
                    fail("boot mode and erased at once");
                (void)QString::asprintf(" Panel Found: %d  BootMode: %d", 1, bootMode ? 1 : 0);
                (void)orvo::buildVersion(deviceType, body[orvo::BodyBoardType]);
                break;
            }
            case orvo::ReplyPicType: {
                const std::uint8_t pic = body[orvo::BodyPayload];
                if ((pic < orvo::kPicTypes) == orvo::picPart(pic).isEmpty())
                    fail("a PIC part name for an unknown part, or none for a known one");
                break;
            }
            default:
                break;
            }
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::uint16_t requestType = static_cast<std::uint16_t>(data[0] % (orvo::DeviceTypeMax + 1));
    const std::uint8_t *reply = data + 1;
    const std::size_t n = size - 1;

    orvo::PanelBody body;
    body.fill(0xFF);
    const orvo::PanelBody before = body;
    const bool accepted = orvo::acceptPanelReply(reply, n, requestType, body);
    if (!accepted) {
        if (body != before)
            fail("a refused reply changed the body");
        return 0;
    }
    if (n != orvo::kPanelPacketSize)
        fail("a reply that is not 76 bytes was accepted");
    const orvo::PacketHeader h = orvo::PacketHeader::decode(reply);
    if (h.magic != orvo::kMagic || h.kind != orvo::KindPanelCommand)
        fail("a reply with a wrong magic or kind was accepted");
    if (requestType == orvo::DeviceTypeMax ? h.deviceType >= orvo::DeviceTypeMax : h.deviceType != requestType)
        fail("a reply for another device type was accepted");
    if (std::memcmp(body.data(), reply + orvo::kHeaderSize, orvo::kBodySize) != 0)
        fail("the body differs from the reply");
    interpret(body, requestType == orvo::DeviceTypeMax ? h.deviceType : requestType);
    return 0;
}
