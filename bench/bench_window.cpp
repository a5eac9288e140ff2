// orvo-bench-window: the real window, offscreen, against the device simulator.
//
//  1. Start: from the process's start (and from main()) to the frame being exposed and first
//     painted, through the same steps as the program's own start (resources, meta types, dark
//     style, identity, the single-instance lock, createMainFrame, show). The forking of the
//     simulators before the application object exists is not part of the program and is left
//     out of the start figure (printed beside it). Goal: under 0.5 s.
//  2. GUI-thread lateness during a full-speed download: a repeating 10 ms precise timer in the
//     GUI thread while the Advanced group's Update button writes one board with an image of
//     about 120,000 records, whose every record sends a progress value to the window. Lateness
//     = actual interval - 10 ms; p50, p99 and max (goals: p99 under 20 ms, max under 100 ms).
//  3. Peak memory (VmHWM) and resident memory (VmRSS) at idle after the frame is shown, and
//     after an Auto Update of a 6170 Console whose 24 positions all run out-of-date firmware
//     (the question box answered Yes from a timer). Goal: peak under 80 MB.
//
// Every folder the window writes to (data, settings, temporary, lock) is a throw-away one. The
// simulators run in child processes, so that their record of the written images does not count
// in this process's memory; they answer at once (no reply delay), and their restarts and the
// window's waits both run 1000 times faster than real time. Devices live on 127.0.0.x and on
// ports the simulators choose; no subnet scan is run.
//
//   orvo-bench-window [--records N (120000)] [--wait-s S (900)]
//     --records: records of the downloaded image (shorter for a quick run)
//     --wait-s:  longest wait for the download job; the other jobs wait at most 300 s

#include "benchsupport.h"
#include "firmwaretree.h"
#include "uitestsupport.h"

#include "appidentity.h"
#include "catalogue.h"
#include "clock.h"
#include "darkstyle.h"
#include "devicerecord.h"
#include "framelesswindow.h"
#include "mainwindow.h"
#include "startup.h"
#include "worker.h"
#include "workerhost.h"

#include <QAction>
#include <QComboBox>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLockFile>
#include <QPushButton>

#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <functional>

using namespace orvo;
using namespace orvo::bench;

namespace {

constexpr int kPosition = 4; // console "Channel Master 1-8": a HEX board that does not carry the network
constexpr double kSpeedUp = 1000.0;
constexpr int kJobWaitMs = 300 * 1000;
constexpr int kTickMs = 10;
const QString kDownloadAddress = QStringLiteral("127.0.0.71");
const QString kAutoAddress = QStringLiteral("127.0.0.72");

/// Seconds since this process started: /proc/self/stat's start time (clock ticks after boot,
/// so 10 ms steps) against the boot-time clock; -1 when it cannot be read.
double secondsSinceProcessStart()
{
    QFile stat(QStringLiteral("/proc/self/stat"));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = stat.readAll();
    const int close = text.lastIndexOf(')');
    if (close < 0)
        return -1;
    // Fields after the command name start with field 3 (the state); the start time is field 22.
    const QList<QByteArray> fields = text.mid(close + 2).split(' ');
    if (fields.size() < 20)
        return -1;
    const double started = fields.at(19).toDouble() / double(sysconf(_SC_CLK_TCK));
    timespec now {};
    clock_gettime(CLOCK_BOOTTIME, &now);
    const double since = double(now.tv_sec) + double(now.tv_nsec) / 1e9 - started;
    return since >= 0 && since < 3600 ? since : -1;
}

/// One field of /proc/self/status in kB ("VmHWM", "VmRSS"), -1 when it cannot be read.
long statusKb(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray key = QByteArray(field) + ':';
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(key))
            return line.mid(key.size()).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

double mb(long kb)
{
    return kb < 0 ? -1.0 : double(kb) / 1024.0;
}

const char *verdict(bool met)
{
    return met ? "met" : "NOT met";
}

/// A console whose every position is fitted and runs firmware one version away from its build,
/// with the motorised master faders (all 24 positions in the scan).
devsim::DeviceConfig outOfDateConsole(const QString &address)
{
    devsim::DeviceConfig c = devsim::defaultDevice(Console6170, address);
    c.byData[0] = 1;
    for (int i = 0; i < slotCount(Console6170); ++i) {
        devsim::BoardConfig &b = c.boards[std::size_t(i)];
        b.version = std::uint8_t(b.version > 1 ? b.version - 1 : b.version + 1);
    }
    return c;
}

/// The lateness of a repeating 10 ms precise timer in the GUI thread, in ms per tick.
class LatenessProbe
{
public:
    LatenessProbe()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(kTickMs);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            const Wall::time_point now = Wall::now();
            m_lateMs.push_back(seconds(m_last, now) * 1000.0 - kTickMs);
            m_last = now;
        });
        m_lateMs.reserve(1 << 16);
    }
    void start()
    {
        m_lateMs.clear();
        m_last = Wall::now();
        m_timer.start();
    }
    void stop() { m_timer.stop(); }

    std::size_t ticks() const { return m_lateMs.size(); }
    /// The `q`-quantile (0..1) by nearest rank, 0 without ticks.
    double quantile(double q) const
    {
        if (m_lateMs.empty())
            return 0;
        std::vector<double> sorted = m_lateMs;
        std::sort(sorted.begin(), sorted.end());
        const std::size_t rank = std::size_t(q * double(sorted.size() - 1) + 0.5);
        return sorted[std::min(rank, sorted.size() - 1)];
    }

private:
    QTimer m_timer;
    Wall::time_point m_last;
    std::vector<double> m_lateMs;
};

/// The time of the first expose of any window and of the first paint of the main window.
class StartWatch : public QObject
{
public:
    Wall::time_point exposed, painted;
    bool wasExposed = false, wasPainted = false;
    QObject *mainWindow = nullptr;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Expose && !wasExposed && watched->isWindowType()) {
            exposed = Wall::now();
            wasExposed = true;
        } else if (event->type() == QEvent::Paint && !wasPainted && watched == mainWindow) {
            painted = Wall::now();
            wasPainted = true;
        }
        return false;
    }
};

} // namespace

int main(int argc, char **argv)
{
    const Wall::time_point mainEntry = Wall::now();
    const double processToMain = secondsSinceProcessStart();
    preferPlainWorkerEventLoop(); // as the program's main() does

    int records = 120000;
    int downloadWaitMs = 900 * 1000;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--records" && i + 1 < argc) {
            records = std::max(1, std::atoi(argv[++i]));
        } else if (arg == "--wait-s" && i + 1 < argc) {
            downloadWaitMs = std::max(1, std::atoi(argv[++i])) * 1000;
        } else {
            std::fprintf(stderr, "usage: orvo-bench-window [--records N] [--wait-s S]\n");
            return 2;
        }
    }
    // However the jobs go, the run ends: the waits are bounded, and this is the bound of them all.
    alarm(unsigned(downloadWaitMs / 1000 + 4 * kJobWaitMs / 1000 + 120));

    orvo::test::ThrowAwayHome home;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");

    // Before any thread exists: the simulators' processes.
    const Wall::time_point simulatorsStart = Wall::now();
    SimulatorProcess downloadSim, autoSim;
    if (!downloadSim.start(devsim::defaultDevice(Console6170, kDownloadAddress), kSpeedUp)
        || !autoSim.start(outOfDateConsole(kAutoAddress), kSpeedUp)) {
        std::fprintf(stderr, "could not start the simulators\n");
        return 1;
    }
    const Wall::time_point programStart = Wall::now();

    // --- 1. start, as the program's own start-up runs it
    QApplication app(argc, argv);
    StartWatch watch;
    app.installEventFilter(&watch);
    ui::initResources();
    registerMetaTypes();
    QApplication::setStyle(new ui::DarkStyle);
    setApplicationIdentity();
    QLockFile lock(ui::lockFilePath());
    if (!lock.tryLock(100)) {
        std::fprintf(stderr, "the lock file is held: %s\n", qPrintable(ui::lockFilePath()));
        return 1;
    }
    ScaledClock clock(kSpeedUp);
    const std::unique_ptr<ui::FramelessWindow> frame = ui::createMainFrame(&clock);
    auto *window = frame->findChild<ui::MainWindow *>();
    watch.mainWindow = window;
    frame->show();
    const bool exposed = QTest::qWaitForWindowExposed(frame.get(), 10000);
    const Wall::time_point exposedSeen = Wall::now();
    (void)QTest::qWaitFor([&] { return watch.wasPainted; }, 10000); // the figure says whether it came
    app.removeEventFilter(&watch);
    if (!exposed || !window) {
        std::fprintf(stderr, "the frame was not exposed\n");
        return 1;
    }
    const Wall::time_point exposedAt = watch.wasExposed ? watch.exposed : exposedSeen;
    const double simulatorsS = seconds(simulatorsStart, programStart);
    const double programS = seconds(programStart, exposedAt);
    const double startS = (processToMain >= 0 ? processToMain : 0) + seconds(mainEntry, exposedAt) - simulatorsS;

    // The worker's debug lines would bury the figures; warnings still go to stderr.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &text) {
        if (type != QtDebugMsg && type != QtInfoMsg)
            std::fprintf(stderr, "%s\n", qPrintable(text));
    });

    QTest::qWait(500); // settled at idle
    const long idleHwm = statusKb("VmHWM");
    const long idleRss = statusKb("VmRSS");

    std::printf("start (QT_QPA_PLATFORM=%s)\n", qgetenv("QT_QPA_PLATFORM").constData());
    if (processToMain >= 0)
        std::printf("  process start -> main():          %.3f s (10 ms steps)\n", processToMain);
    else
        std::printf("  process start -> main():          unknown (counted as 0)\n");
    std::printf("  main() -> frame exposed:          %.3f s, of which %.3f s forking the simulators (left out)\n",
        seconds(mainEntry, exposedAt), simulatorsS);
    std::printf("  application object -> exposed:    %.3f s\n", programS);
    if (watch.wasPainted)
        std::printf("  application object -> 1st paint:  %.3f s\n", seconds(programStart, watch.painted));
    std::printf("  start to the shown frame:         %.3f s (goal < 0.5 s: %s)\n", startS, verdict(startS < 0.5));
    std::printf("memory at idle after the frame is shown: VmHWM %.1f MB, VmRSS %.1f MB\n", mb(idleHwm), mb(idleRss));
    std::fflush(stdout);

    // --- 2. lateness during a full-speed download of one board
    orvo::test::WindowDriver driver(*window);
    QTemporaryDir largeDir;
    const QString largeFolder = largeDir.path() + QStringLiteral("/HexFiles/");
    if (!writeImage(largeFolder + firmwareFile(Console6170, kPosition), records)) {
        std::fprintf(stderr, "could not write the image\n");
        return 1;
    }
    driver.worker().setFirmwareFolder(largeFolder);
    if (!driver.scan({ kDownloadAddress }, downloadSim.port(), kJobWaitMs)) {
        std::fprintf(stderr, "the download console was not found\n");
        return 1;
    }
    orvo::test::answerInputDialog(QStringLiteral("Kobo?Lantern"));
    driver.action(QStringLiteral("Advanced"))->trigger();
    auto *panels = driver.child<QComboBox>("comboBox_Panels");
    auto *updateButton = driver.child<QPushButton>("Bootload_Button");
    if (!driver.child<QGroupBox>("groupBox_AdvOpt")->isEnabled() || !panels || !updateButton
        || panels->count() <= kPosition) {
        std::fprintf(stderr, "the Advanced group did not open\n");
        return 1;
    }
    panels->setCurrentIndex(kPosition);

    orvo::test::PaintCounter barPaints(driver.child<QWidget>("progressBar"));
    LatenessProbe probe;
    probe.start();
    const Wall::time_point downloadStart = Wall::now();
    const bool downloadEnded = driver.runJob([&] { updateButton->click(); }, downloadWaitMs);
    const double downloadS = seconds(downloadStart, Wall::now());
    probe.stop();
    const JobOutcome downloadOutcome = driver.lastOutcome();
    const QString downloadLine = driver.listTexts().value(driver.listTexts().size() - 1);
    SimulatorStats downloadStats;
    downloadSim.stats(kPosition, downloadStats);
    const long downloadHwm = statusKb("VmHWM");

    const double p50 = probe.quantile(0.50), p99 = probe.quantile(0.99), worst = probe.quantile(1.0);
    std::printf("download: Update of %s with %d records, %s in %.1f s (%.0f records/s including the restart)\n",
        qPrintable(panelName(Console6170, kPosition)), records, downloadEnded ? "ended" : "DID NOT END", downloadS,
        downloadS > 0 ? records / downloadS : 0.0);
    std::printf("  last line: \"%s\"; failed boards %d; simulator: %d records accepted, %d checksum errors\n",
        qPrintable(downloadLine), downloadOutcome.failedBoards, downloadStats.recordsAccepted,
        downloadStats.checksumErrors);
    std::printf("  GUI-thread lateness of a 10 ms precise timer over %zu ticks: p50 %.2f ms, p99 %.2f ms "
                "(goal < 20 ms: %s), max %.2f ms (goal < 100 ms: %s)\n",
        probe.ticks(), p50, p99, verdict(p99 < 20), worst, verdict(worst < 100));
    std::printf("  progress bar painted %d times\n", barPaints.paints);
    std::printf("  memory after the download: VmHWM %.1f MB, VmRSS %.1f MB\n", mb(downloadHwm), mb(statusKb("VmRSS")));
    std::fflush(stdout);

    // --- 3. memory after an Auto Update of every board of a console
    orvo::test::FirmwareTree tree;
    if (!tree.create()) {
        std::fprintf(stderr, "could not write the firmware tree\n");
        return 1;
    }
    driver.worker().setFirmwareFolder(tree.folder());
    if (!driver.scan({ kAutoAddress }, autoSim.port(), kJobWaitMs)) {
        std::fprintf(stderr, "the auto-update console was not found\n");
        return 1;
    }
    orvo::test::BoxAnswerer answerer;
    QAction *autoUpdate = driver.action(QStringLiteral("Auto Update"));
    const Wall::time_point autoStart = Wall::now();
    const bool autoEnded = driver.runJob([&] { autoUpdate->trigger(); }, kJobWaitMs);
    const double autoS = seconds(autoStart, Wall::now());
    const JobOutcome autoOutcome = driver.lastOutcome();
    int updated = 0;
    for (const QString &line : driver.listTexts())
        updated += line.startsWith(QLatin1String("Update Successful!")) ? 1 : 0;
    int accepted = 0;
    for (int p = 0; p < slotCount(Console6170); ++p) {
        SimulatorStats s;
        if (autoSim.stats(p, s) && s.recordsAccepted > 0)
            accepted += s.recordsAccepted;
    }
    const long autoHwm = statusKb("VmHWM");
    const long autoRss = statusKb("VmRSS");

    std::printf("auto update: 6170 Console, %d positions, %s in %.1f s; %d boards \"Update Successful!\", "
                "failed boards %d, %d records accepted\n",
        slotCount(Console6170), autoEnded ? "ended" : "DID NOT END", autoS, updated, autoOutcome.failedBoards,
        accepted);
    for (const QString &text : answerer.seen)
        std::printf("  answered: \"%s\"\n", qPrintable(text.section(QLatin1Char('\n'), 0, 0)));
    std::printf("  memory after the auto update: VmHWM %.1f MB (goal < 80 MB: %s), VmRSS %.1f MB\n", mb(autoHwm),
        verdict(autoHwm >= 0 && autoHwm < 80 * 1024), mb(autoRss));

    // The second child holds copies of the first one's pipe ends: it has to stop first, or the
    // first would never see the end of its pipe.
    const int autoViolations = autoSim.stop();
    const int violations = downloadSim.stop() + autoViolations;
    std::printf("simulator protocol violations: %d\n", violations);
    const bool ok = downloadEnded && autoEnded && downloadOutcome.failedBoards == 0 && autoOutcome.failedBoards == 0
        && downloadStats.recordsAccepted == records && violations == 0;
    return ok ? 0 : 1;
}
