// libFuzzer target: AppSettings.ini. The input is written as the settings file and read as the
// window reads it at start-up. Beyond the sanitizers' findings it checks what the scan is then
// given: four usable addresses or four unused entries, never a mix, and a file that was put
// right reads the same the next time.

#include "appsettings.h"
#include "ipv4entry.h"

#include <QDir>
#include <QFile>
#include <QString>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <unistd.h>

namespace {

void fail(const char *what)
{
    std::fprintf(stderr, "settings fuzz: %s\n", what);
    std::abort();
}

bool allUnused(const orvo::ui::ManualIpSettings &s)
{
    for (const QString &a : s.address) {
        if (a != orvo::kUnusedAddress)
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    // QSettings keeps parsed files by path; a new name for every input keeps one from another.
    static unsigned serial = 0;
    const QString path
        = QDir::tempPath() + QStringLiteral("/orvo-fuzz-settings-%1-%2.ini").arg(::getpid()).arg(++serial);
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            return 0;
        file.write(reinterpret_cast<const char *>(data), static_cast<qint64>(size));
    }
    const orvo::ui::ManualIpSettings first = orvo::ui::readManualIpSettings(path);
    bool usable = true;
    for (const QString &a : first.address) {
        const std::optional<orvo::Ipv4Entry> entry = orvo::parseIpv4Entry(a);
        usable = usable && orvo::ui::isUsableIpEntry(a);
        if (entry && orvo::parseIpv4Entry(entry->address)->address != entry->address)
            fail("a usable entry reads as another address once normalised");
    }
    if (!usable && !allUnused(first))
        fail("an unusable entry reached the scan");
    const orvo::ui::ManualIpSettings second = orvo::ui::readManualIpSettings(path);
    for (int i = 0; i < 4; ++i) {
        if (first.address[i] != second.address[i])
            fail("the entries changed between two reads");
    }
    QString refusal;
    const QString folder = orvo::ui::readFirmwareFolderSetting(path, &refusal);
    if (!folder.isEmpty()
        && (!refusal.isEmpty() || !folder.startsWith(QLatin1Char('/')) || !folder.endsWith(QLatin1Char('/'))))
        fail("a firmware folder that is not an absolute folder path, or one with a refusal");
    QFile::remove(path);
    return 0;
}
