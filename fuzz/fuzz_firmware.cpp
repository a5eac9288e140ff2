// libFuzzer target: the whole-file check and the record producer over arbitrary file contents.
//
// Every input is taken both as a HEX file and as an FPGA image, and produced with both window
// ends. Beyond the sanitizers' findings, it stops on a broken promise: a body overrun, a
// position past the content, a wrong record checksum, a producer that does not end, or a file
// that passed the check and still gave an invalid record.

#include "hexrecords.h"
#include "imagecheck.h"

#include <QByteArray>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void fail(const char *what)
{
    std::fprintf(stderr, "firmware fuzz: %s\n", what);
    std::abort();
}

void produceAll(const QByteArray &content, bool fpga, std::uint32_t dMaxAdr, bool checkedOk)
{
    orvo::PanelBody body;
    body.fill(0xFF);
    orvo::RecordProducer::begin(body);
    orvo::RecordProducer producer(content, fpga, dMaxAdr);
    std::size_t last = 0;
    // Every record takes at least one byte, so the producer ends within length + 1 calls.
    for (std::size_t round = 0; round <= producer.length() + 1; ++round) {
        const orvo::RecordStep step = producer.next(body);
        if (producer.position() > producer.length())
            fail("position past the content");
        if (producer.position() < last)
            fail("position went back");
        last = producer.position();
        switch (step) {
        case orvo::RecordStep::Finished:
            return;
        case orvo::RecordStep::Invalid:
            if (checkedOk)
                fail("a file that passed the check gave an invalid record");
            return;
        case orvo::RecordStep::Skip:
            if (fpga)
                fail("an FPGA chunk was skipped");
            break;
        case orvo::RecordStep::Send: {
            const unsigned n = body[9];
            if (n > orvo::kMaxDataBytes || (fpga && n == 0))
                fail("data length outside the body");
            unsigned sum = 0;
            for (unsigned i = fpga ? 15 : 9; i < 15 + n; ++i)
                sum += body[i];
            if ((sum & 0xFF) != body[8])
                fail("record checksum");
            if (fpga && (body[10] != 0xFF || body[11] != 0xFF || body[12] != 0 || body[13] != 0 || body[14] != 0xFF))
                fail("FPGA chunk touched the address bytes");
            if (!fpga) {
                const std::uint32_t address = static_cast<std::uint32_t>(body[10]) | (std::uint32_t(body[11]) << 8)
                    | (std::uint32_t(body[12]) << 16) | (std::uint32_t(body[13]) << 24);
                if (body[14] != 0 || address < orvo::kFlashStart || address >= dMaxAdr)
                    fail("a record outside the window was sent");
            }
            break;
        }
        }
    }
    fail("the producer did not end");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size > std::size_t(orvo::kMaxFirmwareFileSize))
        return 0;
    // Not copied: the sanitizer sees any read past the input.
    const QByteArray content = QByteArray::fromRawData(reinterpret_cast<const char *>(data), int(size));
    for (const bool fpga : { false, true }) {
        const orvo::ImageCheck check = orvo::checkFirmwareImage(content, fpga);
        if (!check.ok && (check.fault.isEmpty() || check.line < 0))
            fail("a refusal without a fault");
        if (!check.ok)
            (void)check.errorLine();
        for (const std::uint32_t end : { orvo::kFlashEnd1024, orvo::kFlashEnd2048 }) {
            produceAll(content, fpga, end, check.ok);
            // The memory map is read only from files that passed the syntax check.
            const orvo::ImageCheck map = check.ok && !fpga ? orvo::checkMemoryMap(content, end) : orvo::ImageCheck {};
            if (!map.ok && (map.fault.isEmpty() || !map.unfit))
                fail("a memory-map refusal without a fault");
        }
    }
    return 0;
}
