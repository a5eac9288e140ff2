#pragma once

// One worker with its host and a recording front end, against simulated devices, on a clock
// that runs 1000 times faster than real time (the simulator's restarts run at the same speed).

#include "clock.h"
#include "simulation.h"
#include "testfrontend.h"
#include "workerhost.h"

#include <QStringList>

namespace orvo::test {

class JobRig
{
public:
    static constexpr double kSpeedUp = 1000.0;

    JobRig() : clock(kSpeedUp), sim(kSpeedUp), host(clock, &front) { }

    ScaledClock clock;
    devsim::Simulator sim;
    FirmwareTree firmware;
    TestFrontEnd front;
    WorkerHost host; // last: its destructor waits for the worker thread before the rest goes

    Worker &worker() { return *host.worker(); }

    /// Starts the simulator and writes the firmware tree; the worker talks to both.
    bool start() { return startSimulation(sim, firmware, worker()); }

    /// Adds one device, starts, and finds the device as the window would before any device job.
    bool startWith(const devsim::DeviceConfig &device)
    {
        sim.addDevice(device);
        return start() && discover();
    }

    /// Runs one job through the request protocol; see runJob.
    bool run(JobMode mode, const Inputs &setInputs = {})
    {
        lastMode = int(mode);
        return runJob(host, mode, setInputs);
    }
    int lastMode = -1;

    /// How the last job ended, as "<end> <failed boards>" ("done 0"); "N job ends" unless one.
    QString ended() const
    {
        if (front.jobEnds.size() != 1 || front.jobEnds.first().mode != lastMode)
            return QStringLiteral("%1 job ends").arg(front.jobEnds.size());
        static const char *const names[] = { "done", "refused", "cancelled", "aborted" };
        const JobOutcome &job = front.jobEnds.first();
        return QStringLiteral("%1 %2").arg(QLatin1String(names[int(job.end)])).arg(job.failedBoards);
    }

    /// A manual scan of the given entries (unused ones "000.000.000.000").
    bool scan(const QStringList &entries)
    {
        return run(JobMode::ScanNetwork, [entries](WorkRequest &r) {
            r.manualIpEnabled = true;
            for (int i = 0; i < entries.size() && i < 4; ++i)
                r.manualIp[std::size_t(i)] = entries.at(i);
        });
    }

    /// Finds the simulated devices with a manual scan of their addresses (at most four) and
    /// forgets what the scan reported, so that a test sees only its own job.
    bool discover()
    {
        QStringList addresses;
        for (int d = 0; d < sim.deviceCount() && d < 4; ++d)
            addresses << sim.address(d);
        const bool ok = scan(addresses);
        front.reset();
        return ok && worker().knownDevices().size() == addresses.size();
    }

    /// Index in the worker's list of simulated device `device`, -1 when it was not found.
    int listIndexOf(int device)
    {
        const QString address = sim.address(device);
        const QVector<OrvoDiscoveryInfo> &devices = worker().knownDevices();
        for (int i = 0; i < devices.size(); ++i) {
            if (ipText(devices.at(i)) == address)
                return i;
        }
        return -1;
    }

    /// Stores the selection the window would store for device `device` and position `panel`.
    Inputs select(int device, int panelIndex = 0, const Inputs &more = {})
    {
        const int index = listIndexOf(device);
        const int type = index >= 0 ? static_cast<int>(worker().knownDevices().at(index).type()) : 0;
        return [index, type, panelIndex, more](WorkRequest &r) {
            r.selectedDevice = index;
            r.deviceType = type;
            r.panelIndex = panelIndex;
            if (more)
                more(r);
        };
    }
};

} // namespace orvo::test
