// The network scan: the manual addresses or a sweep of the workstation's /24 subnets, then the
// new device list and its summary.

#include "catalogue.h"
#include "clock.h"
#include "worker.h"

#include <QDebug>
#include <QHostAddress>
#include <QNetworkInterface>
#include <QStringList>

#include <chrono>

namespace orvo {

namespace {

constexpr int kManualScanPauseMs = 150;

// The two texts that mark a manual entry as not in use.
const QString kUnusedEntryZero = QStringLiteral("000.000.000.000");
const QString kUnusedEntryBroadcast = QStringLiteral("255.255.255.255");

// "192.168.001.020" -> "192.168.1.20". Empty when the entry is not four decimal fields of 0..255:
// anything else could make the resolver look a name up instead of connecting to an address.
QString manualEntryAddress(const QString &entry)
{
    const QStringList fields = entry.split(QLatin1Char('.'));
    if (fields.size() != 4)
        return QString();
    QStringList numbers;
    for (const QString &field : fields) {
        const QString digits = field.trimmed();
        if (digits.isEmpty())
            return QString();
        for (const QChar c : digits) {
            if (c < QLatin1Char('0') || c > QLatin1Char('9'))
                return QString();
        }
        // Extra leading zeros are still the same number ("0127" is 127); a value too large for
        // the conversion fails it rather than reading as 0.
        bool converted = false;
        const uint value = digits.toUInt(&converted);
        if (!converted || value > 255)
            return QString();
        numbers << QString::number(value);
    }
    return numbers.join(QLatin1Char('.'));
}

bool isUnusedEntry(const QString &entry)
{
    return entry == kUnusedEntryZero || entry == kUnusedEntryBroadcast;
}

// True when the last entry in use cannot be probed: the manual scan then ends on its warning.
bool lastManualEntryIsInvalid(const QString (&entries)[4])
{
    for (int i = 3; i >= 0; --i) {
        if (!isUnusedEntry(entries[i]))
            return manualEntryAddress(entries[i]).isEmpty();
    }
    return false;
}

// Whole percentage of host `n` out of 254, truncated; 100 once it passes 99.
int sweepPercent(int n)
{
    const int p = static_cast<int>(static_cast<double>(n) * 100.0 / 254.0);
    return p > 99 ? 100 : p;
}

} // namespace

void Worker::jobScanNetwork()
{
    emit frW_ClearList();
    line(2, QStringLiteral("Scanning Network for Orvo Products..."));
    foundDevices.clear();
    m_scanWarnings.clear();
    bool replaceLast = false;
    emit frWorker_updateProgressBar(true, 0, true, 0, 100);

    if (manualIpEnabled)
        manualScan(replaceLast);
    else
        subnetScan(replaceLast);

    emit frWorker_updateDevicesCombo(foundDevices);
    // The closing line replaces the last progress line of the scan, but not a warning about a
    // manual entry: that must stay readable.
    const bool keepLastLine = manualIpEnabled && lastManualEntryIsInvalid(manualIp);
    emit frW_insertListItem(2, QStringLiteral("Finished Network Scan"), 0, !keepLastLine);
    line(2, QStringLiteral("Orvo Products Found: ") + QString::number(foundDevices.size()));
    for (int k = 0; k < foundDevices.size(); ++k) {
        const OrvoDiscoveryInfo &record = foundDevices.at(k);
        const QString text = QStringLiteral("#") + QString::number(k + 1) + QStringLiteral(":  ")
            + QStringLiteral("Type: ") + deviceTypeName(record.type()) + QStringLiteral("  |  ") + record.visibleName()
            + QStringLiteral("  |  IP: ") + ipText(record);
        line(2, text);
        qDebug().noquote() << text + QStringLiteral("    (devs.byData[0] = ") + QString::number(record.byData(0))
                + QStringLiteral(")   ") + QStringLiteral("    (devs.byData[1] = ") + QString::number(record.byData(1))
                + QStringLiteral(")   ");
    }
    // After the summary: the progress lines above replace one another, and would take a
    // warning with them.
    for (const QString &warning : qAsConst(m_scanWarnings))
        line(4, warning);
    m_scanWarnings.clear();
    emit frWorker_updateProgressBar(false, 0, true, 0, 100);
}

void Worker::manualScan(bool &replaceLast)
{
    line(2, QStringLiteral("Manual IP Scan Enabled."));
    // No abort poll here: four entries and their pauses end by themselves.
    for (int i = 0; i < 4; ++i) {
        const QString &entry = manualIp[i];
        if (!isUnusedEntry(entry)) {
            const QString address = manualEntryAddress(entry);
            if (address.isEmpty()) {
                // The settings file may hold anything; such an entry is named and skipped.
                emit frW_insertListItem(4,
                    QStringLiteral("Warning!  Manual IP address '") + entry
                        + QStringLiteral("' is not a valid IPv4 address - skipped"),
                    0, replaceLast);
                replaceLast = false;
            } else {
                qDebug().noquote() << QStringLiteral("* Manual ip4: ") + address;
                emit frW_insertListItem(
                    2, QStringLiteral("Scanning IP address: ") + address + QStringLiteral(" ..."), 0, replaceLast);
                replaceLast = true;
                probeDeviceAt(address, true);
            }
        }
        emit frWorker_updateProgressBar(true, i * 25, true, 0, 100);
        clock().sleepFor(std::chrono::milliseconds(kManualScanPauseMs));
    }
}

QString Worker::offLoopbackScanTarget() const
{
    if (!manualIpEnabled)
        return QStringLiteral("a scan without manual addresses sweeps the subnets of this computer");
    for (const QString &entry : manualIp) {
        const QString address = isUnusedEntry(entry) ? QString() : manualEntryAddress(entry);
        if (!address.isEmpty() && !isLoopbackAddress(address))
            return address + QStringLiteral(" is not one");
    }
    return QString();
}

QVector<SweepAddress> sweepAddresses()
{
    QVector<SweepAddress> result;
    QStringList seen;
    for (const QNetworkInterface &iface : QNetworkInterface::allInterfaces()) {
        const QNetworkInterface::InterfaceFlags flags = iface.flags();
        if (!iface.isValid() || !(flags & QNetworkInterface::IsRunning) || (flags & QNetworkInterface::IsLoopBack)
            || (flags & QNetworkInterface::IsPointToPoint))
            continue;
        // Every qualifying interface reads the addresses of all interfaces, so each workstation
        // address is swept once, on the first qualifying interface.
        for (const QHostAddress &address : QNetworkInterface::allAddresses()) {
            if (address == QHostAddress(QHostAddress::LocalHost))
                continue;
            bool isIpv4 = false;
            const quint32 ipv4 = address.toIPv4Address(&isIpv4);
            if (!isIpv4 || ipv4 == 0)
                continue;
            const QString text = address.toString();
            if (text.isEmpty() || seen.contains(text))
                continue;
            seen << text;
            result.append({ iface.humanReadableName(), text, ipv4 });
        }
    }
    return result;
}

void Worker::subnetScan(bool &replaceLast)
{
    for (const SweepAddress &own : sweepAddresses()) {
        qDebug().noquote() << QStringLiteral("possible address: ") + own.interfaceName + QStringLiteral("->")
                + own.address;
        emit frW_insertListItem(
            2, QStringLiteral("Found an IP address associated with this computer: ") + own.address, 0, replaceLast);
        replaceLast = false;

        const quint32 subnet = own.ipv4 & 0xFFFFFF00u;
        const int ownHost = static_cast<int>(own.ipv4 & 0xFFu);
        for (int n = 1; n <= 254; ++n) {
            if (n == ownHost)
                continue;
            if (isAbortRequested())
                break;
            probeDeviceAt(QHostAddress(subnet | static_cast<quint32>(n)).toString(), true);
            replaceLast = true;
            emit frWorker_updateProgressBar(true, sweepPercent(n), true, 0, 100);
        }
    }
}

} // namespace orvo
