// libFuzzer target: the release manifest (SHA256SUMS) over arbitrary contents.
//
// Beyond the sanitizers' findings, it stops on a broken promise: an entry whose path could leave
// the firmware folder, a refusal without a reason, or a file let through by a manifest that is
// unreadable or that gives it another hash.

#include "manifest.h"

#include <QByteArray>
#include <QStringList>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void fail(const char *what)
{
    std::fprintf(stderr, "manifest fuzz: %s\n", what);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size > std::size_t(orvo::kMaxManifestSize) + 1)
        return 0;
    const QByteArray text = QByteArray::fromRawData(reinterpret_cast<const char *>(data), int(size));
    const orvo::Manifest m = orvo::Manifest::parse(text);
    if (m.state() == orvo::Manifest::State::Unreadable && m.fault().isEmpty())
        fail("unreadable without a reason");
    const QByteArray other(64, '0');
    for (const orvo::ManifestEntry &e : m.entries()) {
        if (e.path.startsWith(QLatin1Char('/')) || e.path.split(QLatin1Char('/')).contains(QStringLiteral("..")))
            fail("an entry that leaves the folder");
        if (e.sha256.isEmpty() == e.fault.isEmpty())
            fail("an entry with both a hash and a fault, or neither");
        const orvo::ManifestCheck c = orvo::checkAgainstManifest(m, e.path, e.sha256.isEmpty() ? other : e.sha256);
        if (c.ok() != (m.state() == orvo::Manifest::State::Read && !e.sha256.isEmpty()))
            fail("a file let through wrongly");
        if (!c.ok() && c.errorLine(m).isEmpty())
            fail("a refusal without a line");
    }
    return 0;
}
