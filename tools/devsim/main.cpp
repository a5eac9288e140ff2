// orvo-devsim: simulated devices on the given addresses, for demos and manual tests.
// Usage and the configuration format: README.md next to this file.

#include "catalogue.h"
#include "config.h"
#include "simulator.h"
#include "versiontext.h"

#include <QFile>
#include <QHostAddress>
#include <QJsonDocument>
#include <QSaveFile>

#include <csignal>
#include <cstdio>
#include <pthread.h>

using namespace orvo::devsim;

namespace {

constexpr int kExitBadUsage = 2;

const char kUsage[] = "Usage: orvo-devsim [--config FILE] [--console ADDR] [--qrt ADDR] [--kvr10 ADDR] [--tx512 ADDR]\n"
                      "                   [--kvr30 ADDR] [--port N] [--speed-up F] [--state-out FILE] [-v]\n"
                      "       orvo-devsim --version\n"
                      "Simulated devices for Orvo Updater on TCP port N (default 51000) of each ADDR.\n"
                      "  --config FILE     devices from a JSON configuration (see tools/devsim/README.md)\n"
                      "  --console ADDR    a 6170 Console with every panel running its build version (also --qrt,\n"
                      "                    --kvr10, --tx512, --kvr30 for the other device types); repeatable\n"
                      "  --port N          common port of the devices without a port of their own (0: a free one)\n"
                      "  --speed-up F      run restarts and delays F times faster (F >= 1)\n"
                      "  --state-out FILE  write the JSON state to FILE at exit and on SIGUSR1\n"
                      "  -v                log each request on stderr\n"
                      "  --version         the program's version, build date and Qt version\n";

int usageError(const QString &message)
{
    std::fprintf(stderr, "orvo-devsim: %s\n%s", qPrintable(message), kUsage);
    return kExitBadUsage;
}

bool writeState(const Simulator &sim, const QString &path)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(QJsonDocument(sim.stateJson()).toJson(QJsonDocument::Indented));
    return file.commit();
}

} // namespace

int main(int argc, char **argv)
{
    SimulatorConfig config;
    QString stateOut;
    bool verbose = false;
    bool portGiven = false, speedGiven = false;
    std::uint16_t port = 51000;
    double speedUp = 1.0;

    for (int i = 1; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        const auto next = [&](QString *value) {
            if (i + 1 >= argc)
                return false;
            *value = QString::fromLocal8Bit(argv[++i]);
            return true;
        };
        QString value;
        if (arg == QLatin1String("-h") || arg == QLatin1String("--help")) {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (arg == QLatin1String("--version")) {
            std::fputs(qPrintable(orvo::versionText("orvo-devsim")), stdout);
            return 0;
        } else if (arg == QLatin1String("-v") || arg == QLatin1String("--verbose")) {
            verbose = true;
        } else if (arg == QLatin1String("--config")) {
            if (!next(&value))
                return usageError(QStringLiteral("--config needs a file"));
            QString error;
            SimulatorConfig fromFile;
            if (!loadConfigFile(value, &fromFile, &error)) {
                std::fprintf(stderr, "orvo-devsim: %s\n", qPrintable(error));
                return kExitBadUsage;
            }
            config.devices += fromFile.devices;
            for (const auto &f : fromFile.faults)
                config.faults.append({ f.first + config.devices.size() - fromFile.devices.size(), f.second });
            config.port = fromFile.port;
            config.speedUp = fromFile.speedUp;
        } else if (arg == QLatin1String("--port")) {
            bool ok = false;
            const uint n = next(&value) ? value.toUInt(&ok) : 0;
            if (!ok || n > 65535)
                return usageError(QStringLiteral("--port needs a port number 0..65535 (0: a free one)"));
            port = static_cast<std::uint16_t>(n);
            portGiven = true;
        } else if (arg == QLatin1String("--speed-up")) {
            bool ok = false;
            const double f = next(&value) ? value.toDouble(&ok) : 0;
            if (!ok || !(f >= 1.0))
                return usageError(QStringLiteral("--speed-up needs a factor of at least 1"));
            speedUp = f;
            speedGiven = true;
        } else if (arg == QLatin1String("--state-out")) {
            if (!next(&stateOut))
                return usageError(QStringLiteral("--state-out needs a file"));
        } else if (arg.startsWith(QLatin1String("--")) && deviceTypeFromText(arg.mid(2)) >= 0) {
            if (!next(&value))
                return usageError(arg + QStringLiteral(" needs an IPv4 address"));
            bool isIpv4 = false;
            QHostAddress(value).toIPv4Address(&isIpv4);
            if (!isIpv4)
                return usageError(arg + QStringLiteral(": not an IPv4 address: ") + value);
            config.devices.append(defaultDevice(deviceTypeFromText(arg.mid(2)), value));
        } else {
            return usageError(QStringLiteral("unknown argument ") + arg);
        }
    }
    if (config.devices.isEmpty())
        return usageError(
            QStringLiteral("no device: give --config FILE or a device shortcut such as --console 127.0.0.2"));
    if (portGiven)
        config.port = port;
    if (speedGiven)
        config.speedUp = speedUp;

    // The signals are taken with sigwait in this thread; block them before any thread starts so
    // that the simulator's thread inherits the mask.
    sigset_t sigs;
    sigemptyset(&sigs);
    sigaddset(&sigs, SIGINT);
    sigaddset(&sigs, SIGTERM);
    sigaddset(&sigs, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &sigs, nullptr);

    Simulator sim(config.speedUp);
    sim.setVerbose(verbose);
    for (const DeviceConfig &d : config.devices)
        sim.addDevice(d);
    QString error;
    if (!sim.start(config.port, &error)) {
        std::fprintf(stderr, "orvo-devsim: %s\n", qPrintable(error));
        return 1;
    }
    for (const auto &f : config.faults)
        sim.addFault(f.first, f.second);
    for (int i = 0; i < config.devices.size(); ++i) {
        const DeviceConfig &d = config.devices[i];
        std::printf("orvo-devsim: %s \"%s\" on %s:%u\n", qPrintable(orvo::deviceTypeName(d.type)), d.name.constData(),
            qPrintable(d.address), sim.port(i));
    }
    std::fflush(stdout);

    int status = 0;
    for (;;) {
        int sig = 0;
        if (sigwait(&sigs, &sig) != 0)
            continue;
        if (sig == SIGUSR1) {
            if (!stateOut.isEmpty() && !writeState(sim, stateOut))
                std::fprintf(stderr, "orvo-devsim: cannot write %s\n", qPrintable(stateOut));
            continue;
        }
        break;
    }
    sim.stop();
    if (!stateOut.isEmpty() && !writeState(sim, stateOut)) {
        std::fprintf(stderr, "orvo-devsim: cannot write %s\n", qPrintable(stateOut));
        status = 1;
    }
    const int violations = sim.violations().size();
    if (violations > 0)
        std::fprintf(stderr, "orvo-devsim: %d protocol violations recorded\n", violations);
    return status;
}
