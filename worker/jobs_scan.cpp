// The network scan: the manual addresses or a sweep of the workstation's /24 subnets, then the
// new device list and its summary.

#include "catalogue.h"
#include "clock.h"
#include "ipv4entry.h"
#include "percent.h"
#include "worker.h"

#include <QDebug>
#include <QHostAddress>
#include <QNetworkInterface>
#include <QStringList>

#include <chrono>

namespace orvo {

namespace {

constexpr int kManualScanPauseMs = 150;

// True when the last entry in use cannot be probed: the manual scan then ends on its warning.
bool lastManualEntryIsInvalid(const ManualAddresses &entries)
{
    for (int i = 3; i >= 0; --i) {
        if (!isUnusedEntry(entries[i]))
            return !parseIpv4Entry(entries[i]);
    }
    return false;
}

} // namespace

void Worker::jobScanNetwork()
{
    emit frW_ClearList();
    line(RowIcon::Information, QStringLiteral("Scanning Network for Orvo Products..."));
    foundDevices.clear();
    m_scanWarnings.clear();
    bool replaceLast = false;
    emit frWorker_updateProgressBar(true, 0, true, 0, 100);

    if (m_job.manualIpEnabled)
        manualScan(replaceLast);
    else
        subnetScan(replaceLast);

    emit frWorker_updateDevicesCombo(foundDevices);
    // The closing line replaces the last progress line of the scan, but not a warning about a
    // manual entry: that must stay readable.
    const bool keepLastLine = m_job.manualIpEnabled && lastManualEntryIsInvalid(m_job.manualIp);
    emit frW_insertListItem(RowIcon::Information, QStringLiteral("Finished Network Scan"), !keepLastLine);
    line(RowIcon::Information, QStringLiteral("Orvo Products Found: ") + QString::number(foundDevices.size()));
    for (int k = 0; k < foundDevices.size(); ++k) {
        const OrvoDiscoveryInfo &record = foundDevices.at(k);
        const QString text = QStringLiteral("#") + QString::number(k + 1) + QStringLiteral(":  ")
            + QStringLiteral("Type: ") + deviceTypeName(record.type()) + QStringLiteral("  |  ") + record.visibleName()
            + QStringLiteral("  |  IP: ") + ipText(record);
        line(RowIcon::Information, text);
        qDebug().noquote() << text + QStringLiteral("    (devs.byData[0] = ") + QString::number(record.byData(0))
                + QStringLiteral(")   ") + QStringLiteral("    (devs.byData[1] = ") + QString::number(record.byData(1))
                + QStringLiteral(")   ");
    }
    // After the summary: the progress lines above replace one another, and would take a
    // warning with them.
    for (const QString &warning : qAsConst(m_scanWarnings))
        line(RowIcon::Warning, warning);
    m_scanWarnings.clear();
    emit frWorker_updateProgressBar(false, 0, true, 0, 100);
}

void Worker::manualScan(bool &replaceLast)
{
    line(RowIcon::Information, QStringLiteral("Manual IP Scan Enabled."));
    // No abort poll here: four entries and their pauses end by themselves.
    for (int i = 0; i < 4; ++i) {
        const QString &entry = m_job.manualIp[i];
        if (!isUnusedEntry(entry)) {
            const std::optional<Ipv4Entry> parsed = parseIpv4Entry(entry);
            if (!parsed) {
                // The settings file may hold anything; such an entry is named and skipped.
                emit frW_insertListItem(RowIcon::Warning,
                    QStringLiteral("Warning!  Manual IP address '") + entry
                        + QStringLiteral("' is not a valid IPv4 address - skipped"),
                    replaceLast);
                replaceLast = false;
            } else {
                const QString &address = parsed->address;
                qDebug().noquote() << QStringLiteral("* Manual ip4: ") + address;
                emit frW_insertListItem(RowIcon::Information,
                    QStringLiteral("Scanning IP address: ") + address + QStringLiteral(" ..."), replaceLast);
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
    if (!m_job.manualIpEnabled)
        return QStringLiteral("a scan without manual addresses sweeps the subnets of this computer");
    for (const QString &entry : m_job.manualIp) {
        const std::optional<Ipv4Entry> parsed = isUnusedEntry(entry) ? std::nullopt : parseIpv4Entry(entry);
        if (parsed && !isLoopbackAddress(parsed->address))
            return parsed->address + QStringLiteral(" is not one");
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
        emit frW_insertListItem(RowIcon::Information,
            QStringLiteral("Found an IP address associated with this computer: ") + own.address, replaceLast);
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
            emit frWorker_updateProgressBar(true, progressPercent(n, 254), true, 0, 100);
        }
    }
}

} // namespace orvo
