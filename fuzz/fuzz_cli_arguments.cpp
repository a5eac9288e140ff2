// libFuzzer target: the command line of orvo-updater-cli. The input is split at zero bytes into
// up to 16 arguments (UTF-8). Beyond the sanitizers' findings it checks that whatever the parser
// accepts is what the runner relies on: normalised addresses, a known command, a short name,
// a factor in range, and the same answer for the same arguments.

#include "clioptions.h"
#include "devicetext.h"

#include "catalogue.h"

#include <QRegularExpression>
#include <QStringList>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void fail(const char *what)
{
    std::fprintf(stderr, "cli arguments fuzz: %s\n", what);
    std::abort();
}

bool isNormalAddress(const QString &a)
{
    static const QRegularExpression re(QStringLiteral("^(0|[1-9][0-9]{0,2})(\\.(0|[1-9][0-9]{0,2})){3}$"));
    return re.match(a).hasMatch() && orvo::cli::normaliseDeviceAddress(a) == a;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    QStringList arguments;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= size && arguments.size() < 16; ++i) {
        if (i == size || data[i] == 0) {
            arguments << QString::fromUtf8(reinterpret_cast<const char *>(data + start), int(i - start));
            start = i + 1;
        }
    }
    using namespace orvo::cli;
    const ParseResult r = parseArguments(arguments);
    const ParseResult again = parseArguments(arguments);
    if (r.ok != again.ok || r.error != again.error)
        fail("two parses of the same arguments differ");
    if (!r.ok) {
        if (r.error.isEmpty())
            fail("a refusal without a reason");
        for (const QChar c : r.error) {
            if (c.unicode() < 0x20 || (c.unicode() >= 0x7F && c.unicode() <= 0x9F))
                fail("a control character in the refusal (a line break, or a terminal sequence)");
        }
        return 0;
    }
    const Options &o = r.options;
    if (o.help)
        return 0;
    if (o.command == Command::None || commandName(o.command).isEmpty())
        fail("accepted without a command");
    if (o.scanAddresses.size() > kMaxManualAddresses)
        fail("more scan addresses than the scan has entries");
    for (const QString &a : o.scanAddresses) {
        if (!isNormalAddress(a))
            fail("a scan address that is not normalised");
    }
    if (!o.device.isEmpty() && !isNormalAddress(o.device))
        fail("a device address that is not normalised");
    if (o.command == Command::Rename
        && (o.newName.isEmpty()
            || o.newName.normalized(QString::NormalizationForm_C).size() > orvo::kDeviceNameMaxChars))
        fail("a rename name that is empty or too long");
    if (o.command == Command::Panels && !orvo::isKnownDeviceType(o.deviceType))
        fail("panels of an unknown type");
    if (!(o.speedUp >= 1.0 && o.speedUp <= 1.0e6))
        fail("a speed-up out of range");
    if (o.port == 0)
        fail("port 0");
    if (o.speedUp > 1.0 && o.command != Command::Panels) {
        if (!speedUpRefusal(o).isEmpty())
            fail("accepted with a speed-up it refuses");
        if (o.command == Command::Scan && o.scanAddresses.isEmpty())
            fail("a speed-up with a subnet sweep");
        for (const QString &a : o.command == Command::Scan ? o.scanAddresses : QStringList { o.device }) {
            if (!a.startsWith(QLatin1String("127.")))
                fail("a speed-up with an address outside 127.0.0.0/8");
        }
    }
    if (o.command == Command::Check || o.command == Command::Update || o.command == Command::Reset) {
        for (int type = 0; type < orvo::DeviceTypeMax; ++type)
            (void)resolvePanel(type, o.panel);
    }
    return 0;
}
