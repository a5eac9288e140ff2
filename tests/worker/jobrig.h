#pragma once

// One worker with its host and a recording front end, against simulated devices, on a clock
// that runs 1000 times faster than real time (the simulator's restarts run at the same speed).

#include "clock.h"
#include "simulation.h"
#include "testfrontend.h"
#include "workerhost.h"

#include <QStringList>

namespace orvo::test {

/// "Name   Version: v [BootMode]  (build)": how the version scan names a board.
inline QString boardStatusText(int type, int position, int version, bool bootMode = false)
{
    return panelName(type, position) + QStringLiteral("   Version: ") + QString::number(version)
        + (bootMode ? QStringLiteral(" [BootMode]") : QString()) + QStringLiteral("  (")
        + QString::number(buildVersion(type, panelSlot(type, position).boardType)) + QStringLiteral(")");
}

/// The activity lines a board's outcome stands for, in their order; each is the start of a line
/// (result lines end in a time text). `forbidden` gets lines that must not appear.
inline QStringList linesOfOutcome(int type, const BoardOutcome &o, QStringList &forbidden)
{
    const QString name = panelName(type, o.position);
    const int build = buildVersion(type, o.slot.boardType);
    const int vb = o.versionBefore.value_or(0), va = o.versionAfter.value_or(0);
    const bool bb = o.bootModeBefore.value_or(false), ba = o.bootModeAfter.value_or(false);
    const bool fpga = isFpgaBoard(type, o.slot.boardType);
    QStringList out;
    switch (o.mode) {
    case GetVersions:
    case AutoUpdate:
        out << (*o.upToDate ? QStringLiteral("[2] Firmware up to date: ") : QStringLiteral("[4] Firmware update required: "))
                + boardStatusText(type, o.position, vb, bb);
        if (!o.result)
            break;
        out << QStringLiteral("[2] Updating: ") + boardStatusText(type, o.position, vb, bb);
        if (*o.result == UpdateSuccessful)
            out << QStringLiteral("[1]^ Update Successful!    ") + boardStatusText(type, o.position, va, ba);
        else
            out << QStringLiteral("[%1]^ ").arg(*o.attempts == 0 ? 12 : *o.result + 5)
                    + (*o.attempts == 0 ? QStringLiteral("Firmware update not required. Panel/board is up to date! ")
                                        : updateResultMessage(*o.result))
                    + QStringLiteral("   ") + boardStatusText(type, o.position, va, ba);
        break;
    case UpdatePanel:
        if (o.found.value_or(false))
            out << QStringLiteral("[2] Panel/board found!  Firmware version: %1").arg(vb);
        if (*o.result == UpdateSuccessful)
            out << QStringLiteral("[2] Panel/board found!  Firmware version: %1").arg(va);
        out << QStringLiteral("[%1] %2:  %3").arg(*o.result + 5).arg(name, updateResultMessage(*o.result));
        break;
    case ResetPanel:
    case CheckPanel: {
        if (o.mode == ResetPanel) {
            out << QStringLiteral("[2] Resetting ") + name + QStringLiteral("...");
            (*o.resetSent ? forbidden : out) << QStringLiteral("[4] Warning!  Failed to Reset ") + name;
            if (!o.found)
                break; // no check followed
        }
        const int v = o.mode == ResetPanel ? va : vb;
        const bool boot = o.mode == ResetPanel ? ba : bb;
        out << QStringLiteral("[2] Contacting ") + name + QStringLiteral("...");
        if (!*o.found)
            out << QStringLiteral("[4] Warning!  Failed to Connect to ") + name;
        else if ((fpga && v == 0) || (!fpga && boot))
            out << QStringLiteral("[4] Warning!  ") + name
                    + (fpga ? QStringLiteral(" requires firmware update!") : QStringLiteral(" in BootMode!"))
                    + QStringLiteral("  Firmware version: %1 (%2)").arg(v).arg(build);
        else
            out << QStringLiteral("[2] ") + name + QStringLiteral(" Found!  Firmware version: %1  (%2)").arg(v).arg(build);
        if (o.picType)
            out << QStringLiteral("[2] Processor: ")
                    + (*o.picType < kPicUnknown ? picPart(*o.picType) : QStringLiteral("Original PIC32MZ2048EFG..."));
        break;
    }
    default:
        break;
    }
    return out;
}

class JobRig
{
public:
    static constexpr double kSpeedUp = 1000.0;

    JobRig() : clock(kSpeedUp), sim(kSpeedUp), host(clock, &front) {}

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
    bool run(int mode, const std::function<void(Worker &)> &setInputs = {})
    {
        lastMode = mode;
        return runJob(host, mode, setInputs);
    }
    int lastMode = -1;

    /// Empty when the last job's outcome data agree with its activity lines and, for a job that
    /// was not stopped, with what the simulated boards went through; else a report.
    QString outcomeMismatch(JobEnd expectedEnd)
    {
        const TestFrontEnd &f = front;
        if (f.jobEnds.size() != 1)
            return QStringLiteral("%1 job ends reported").arg(f.jobEnds.size());
        const JobOutcome &job = f.jobEnds.first();
        if (job.mode != lastMode || job.end != expectedEnd)
            return QStringLiteral("job end: mode %1, end %2").arg(job.mode).arg(int(job.end));
        const int type = worker().deviceType;
        int device = 0;
        while (device + 1 < sim.deviceCount() && listIndexOf(device) != worker().selectedDevice)
            ++device;
        const devsim::DeviceSnapshot state = sim.snapshot(device);
        // Every line that gives a board's verdict stands for an outcome, and the other way round.
        static const QRegularExpression verdict(QStringLiteral(
            "^(\\[2\\] Firmware up to date: |\\[4\\] Firmware update required: |\\[2\\] Updating: |"
            "\\[2\\] Contacting (?!panel/board)|\\[2\\] Resetting |\\[([5-9]|1[0-2])\\] [^:]+:  )"));
        int verdicts = 0, rendered = 0;
        for (const QString &l : f.lines)
            verdicts += verdict.match(l).hasMatch() ? 1 : 0;
        int failed = 0, records = 0;
        for (const BoardOutcome &o : f.latestOutcomes()) {
            records += o.records;
            const QString board = panelName(type, o.position);
            if (o.mode != lastMode || !(o.slot == panelSlot(type, o.position)))
                return board + QStringLiteral(": mode or slot");
            QStringList forbidden;
            auto from = f.lines.begin(); // a board's lines come in their order
            for (const QString &l : linesOfOutcome(type, o, forbidden)) {
                from = std::find_if(from, f.lines.end(), [&l](const QString &line) { return line.startsWith(l); });
                if (from == f.lines.end())
                    return board + QStringLiteral(": no line ") + l + QStringLiteral("\n  ")
                        + f.lines.join(QStringLiteral("\n  "));
                rendered += verdict.match(*from).hasMatch() ? 1 : 0;
                ++from;
            }
            for (const QString &l : forbidden) {
                if (f.lines.contains(l))
                    return board + QStringLiteral(": line ") + l;
            }
            if (o.result && *o.result != UpdateSuccessful && *o.result != UpdatePanelNotFound
                && *o.result != UpdateNotRequired)
                ++failed;
            // The boards as the simulator left them.
            const devsim::BoardSnapshot &b = state.boards[static_cast<std::size_t>(o.position)];
            if (expectedEnd == JobEnd::Aborted)
                continue;
            // A board may be fitted and still not answer (a device that refuses connections).
            if (o.found.value_or(false) && !b.fitted)
                return board + QStringLiteral(": found, but not fitted");
            if (o.records != b.recordsAccepted)
                return board + QStringLiteral(": %1 records, %2 accepted").arg(o.records).arg(b.recordsAccepted);
            if (o.resetSent && int(*o.resetSent) != b.resets)
                return board + QStringLiteral(": reset sent %1, %2 resets").arg(*o.resetSent).arg(b.resets);
            const bool after = o.versionAfter.has_value();
            if (!o.found.value_or(false) && !after)
                continue;
            if (!b.fitted)
                continue; // the job's record keeps what it last saw of a board that does not answer
            const int version = after ? *o.versionAfter : *o.versionBefore;
            const bool boot = after ? *o.bootModeAfter : *o.bootModeBefore;
            if (version != b.version || (b.state != devsim::BoardState::Erased && boot != (b.state != devsim::BoardState::Running)))
                return board + QStringLiteral(": version %1 boot %2, simulator %3 state %4")
                                   .arg(version).arg(boot).arg(b.version).arg(int(b.state));
        }
        if (records != f.downloadReports)
            return QStringLiteral("%1 records in the outcomes, %2 download reports").arg(records).arg(f.downloadReports);
        if (rendered != verdicts)
            return QStringLiteral("%1 verdict lines, %2 of them from outcomes:\n  %3")
                .arg(verdicts).arg(rendered).arg(f.lines.join(QStringLiteral("\n  ")));
        if (job.failedBoards != failed && expectedEnd == JobEnd::Done && (lastMode == AutoUpdate || lastMode == UpdatePanel))
            return QStringLiteral("%1 failed boards reported, %2 in the outcomes").arg(job.failedBoards).arg(failed);
        return QString();
    }

    /// Finds the simulated devices with a manual scan of their addresses (at most four) and
    /// forgets what the scan reported, so that a test sees only its own job.
    bool discover()
    {
        QStringList addresses;
        for (int d = 0; d < sim.deviceCount() && d < 4; ++d)
            addresses << sim.address(d);
        const bool ok = run(ScanNetwork, [&](Worker &w) {
            w.manualIpEnabled = true;
            for (int i = 0; i < 4; ++i)
                w.manualIp[i] = i < addresses.size() ? addresses.at(i) : QStringLiteral("000.000.000.000");
        });
        front.reset();
        return ok && worker().foundDevices.size() == addresses.size();
    }

    /// Index in the worker's list of simulated device `device`, -1 when it was not found.
    int listIndexOf(int device)
    {
        const QString address = sim.address(device);
        for (int i = 0; i < worker().foundDevices.size(); ++i) {
            if (ipText(worker().foundDevices.at(i)) == address)
                return i;
        }
        return -1;
    }

    /// Stores the selection the window would store for device `device` and position `panel`.
    std::function<void(Worker &)> select(int device, int panelIndex = 0,
                                         const std::function<void(Worker &)> &more = {})
    {
        const int index = listIndexOf(device);
        return [this, index, panelIndex, more](Worker &w) {
            w.selectedDevice = index;
            w.deviceType = index >= 0 ? static_cast<int>(w.foundDevices.at(index).type()) : 0;
            w.panelIndex = panelIndex;
            if (more)
                more(w);
        };
    }
};

#define ORVO_CHECK_OUTCOMES(rig, end)                                                                                 \
    do {                                                                                                             \
        const QString orvoOutcome = (rig).outcomeMismatch(end);                                                      \
        QVERIFY2(orvoOutcome.isEmpty(), qPrintable(orvoOutcome));                                                    \
    } while (false)

} // namespace orvo::test
