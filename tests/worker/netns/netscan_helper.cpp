// Helper of tst_netscan, run only inside the network namespaces that netscan.sh creates.
//
//   netscan_helper <port> <own address>    the network scan without manual addresses, with a
//                                          simulated device on the program's own address
//
// The sweep probes every host of the /24 of each workstation address, so it refuses to run unless
// the only IPv4 address besides 127.0.0.1 is <own address>: that holds inside the test namespace
// and nowhere else.

#include "catalogue.h"
#include "clock.h"
#include "simulator.h"
#include "testfrontend.h"
#include "workerhost.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <QNetworkInterface>
#include <QTextStream>

#include <iostream>

using namespace orvo;

namespace {

QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

// True only when the workstation has no IPv4 address other than 127.0.0.1 and `own`.
bool insideTestNamespace(const QString &own)
{
    bool ownSeen = false;
    for (const QHostAddress &a : QNetworkInterface::allAddresses()) {
        if (a.protocol() != QAbstractSocket::IPv4Protocol)
            continue;
        if (a == QHostAddress(QHostAddress::LocalHost))
            continue;
        if (a.toString() != own) {
            std::cerr << "refusing to sweep: this host has the address " << a.toString().toStdString() << "\n";
            return false;
        }
        ownSeen = true;
    }
    if (!ownSeen)
        std::cerr << "refusing to sweep: " << own.toStdString() << " is not an address of this host\n";
    return ownSeen;
}

int runSweep(std::uint16_t port, const QString &own)
{
    if (!insideTestNamespace(own))
        return 3;
    // A device on the program's own address: a probe of the own host number would find it.
    devsim::Simulator ownDevice;
    ownDevice.addDevice(devsim::defaultDevice(LumivoxKvr10, own));
    QString error;
    if (!ownDevice.start(port, &error)) {
        std::cerr << "simulator: " << error.toStdString() << "\n";
        return 1;
    }

    registerMetaTypes();
    test::TestFrontEnd front;
    WorkerHost host(Clock::real(), &front); // real time: a host that is not there costs its 30 ms
    host.worker()->setDevicePort(port);
    const bool done = test::runJob(
        host, JobMode::ScanNetwork, [](WorkRequest &w) { w.manualIpEnabled = false; }, 170000);

    for (const QString &line : front.lines)
        out() << "LINE " << line << Qt::endl;
    for (const QString &p : front.progress)
        out() << "PROGRESS " << p << Qt::endl;
    for (const DeviceList &list : front.deviceLists) {
        out() << "LIST " << list.size() << Qt::endl;
        for (const OrvoDiscoveryInfo &record : list)
            out() << "FOUND " << ipText(record) << Qt::endl;
    }
    out() << "OWNCONN " << ownDevice.snapshot(0).connections << Qt::endl;
    out() << "ENABLES " << front.enables.size() << Qt::endl;
    return done ? 0 : 4;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    bool ok = false;
    const uint port = args.value(0).toUInt(&ok);
    if (args.size() != 2 || !ok || port == 0 || port > 65535) {
        std::cerr << "usage: netscan_helper <port> <own address>\n";
        return 2;
    }
    return runSweep(static_cast<std::uint16_t>(port), args.at(1));
}
