// Get Versions and Auto Update, driven through the host's request protocol against simulated
// devices: the exact activity lines, the progress values, the message boxes (answered here) and
// what the simulated boards went through.

#include "catalogue.h"
#include "jobrig.h"

#include <QtTest>

#include <atomic>

using namespace orvo;
using namespace orvo::test;

namespace {

const QString kAddress = QStringLiteral("127.0.0.2");

// The scan's verdicts on current boards, of which a test counts only how many there are.
const QString kCurrent = QStringLiteral("[2] Firmware up to date: ");

int currentCount(const QStringList &lines)
{
    return int(std::count_if(lines.begin(), lines.end(), [](const QString &l) { return l.startsWith(kCurrent); }));
}

QStringList withoutCurrent(const QStringList &lines)
{
    QStringList out;
    for (const QString &l : lines) {
        if (!l.startsWith(kCurrent))
            out << l;
    }
    return out;
}

const QStringList kAutoHeader = { "[2] 6170 Console [Desk]", "[0] ", "[2] *** AUTO UPDATE FIRMWARE ***", "[0] " };
const QStringList kUpdatingBanner = { "[0] ", "[2] *** UPDATING CONSOLE/UNIT FIRMWARE ***", "[0] " };
const QStringList kFinished = { "[0] ", "[2] *** FIRMWARE UPDATE FINISHED ***{TT}" };

// Each message box as "icon/buttons title: text".
QStringList boxesOf(const TestFrontEnd &front)
{
    QStringList out;
    for (const BoxCall &b : front.boxes)
        out << QStringLiteral("%1/%2 %3: %4").arg(b.icon).arg(b.buttons, 0, 16).arg(b.title, b.text);
    return out;
}

QString question(int pending)
{
    return QStringLiteral("4/14000 Auto Update: The Console/Unit has ") + QString::number(pending)
        + QStringLiteral(" panels/boards that need updating.\nDo you wish to continue ?");
}

const QString kDone = QStringLiteral("1/400 Auto Update: Auto Update has finished!");

devsim::DeviceConfig console(std::uint32_t byData0)
{
    devsim::DeviceConfig c = devsim::defaultDevice(Console6170, kAddress);
    c.name = "Desk";
    c.byData[0] = byData0;
    return c;
}

devsim::DeviceConfig qrt(std::uint32_t optionMask, int needsUpdate = 0)
{
    devsim::DeviceConfig c = devsim::defaultDevice(Qrt3350, kAddress);
    c.name = "QRT";
    c.optionMask = optionMask;
    c.needsUpdate = static_cast<std::uint8_t>(needsUpdate);
    return c;
}

void setVersion(devsim::DeviceConfig &c, int position, int version,
                devsim::BoardState state = devsim::BoardState::Running)
{
    c.boards[static_cast<std::size_t>(position)].version = static_cast<std::uint8_t>(version);
    c.boards[static_cast<std::size_t>(position)].state = state;
}

// Positions in the order the simulator saw them erased first.
QList<int> erasedInOrder(const devsim::Simulator &sim)
{
    QList<int> out;
    for (const devsim::Event &e : sim.events()) {
        if (e.what == QLatin1String("erase") && !out.contains(e.position))
            out << e.position;
    }
    return out;
}

// Empty when every listed board holds its file's image byte for byte, runs, and was erased
// `erases` times; else the first board that does not.
QString imagesMismatch(JobRig &rig, int type, const QList<int> &positions, int erases = 1)
{
    const devsim::DeviceSnapshot s = rig.sim.snapshot(0);
    for (int i : positions) {
        const devsim::BoardSnapshot &b = s.boards[static_cast<std::size_t>(i)];
        const FirmwareTree::Image image = rig.firmware.image(type, i);
        if (b.hexImage != image.hex || b.fpgaImage != image.fpga || b.erases != erases
            || b.state != devsim::BoardState::Running)
            return panelName(type, i);
    }
    return QString();
}

} // namespace

Q_DECLARE_METATYPE(orvo::devsim::DeviceConfig)

class tst_JobsVersions : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { m_debug = std::make_unique<DebugCapture>(); } // keeps the log quiet
    void cleanupTestCase() { m_debug.reset(); }

    void versionScan_data();
    void versionScan();
    void autoUpdateAllCurrent();
    void stoppedAtTheQuestion_data();
    void stoppedAtTheQuestion();
    void monitorInterfaceInBootLoader();
    void failedBoards();
    void fpgaUpdatedDespiteFreshBuildVersion();
    void versionWarningAfterUpdate();
    void abortDuringAnUpdateEndsItsAttempts();
    void forcedFullConsoleUpdate();

private:
    std::unique_ptr<DebugCapture> m_debug;
};

void tst_JobsVersions::versionScan_data()
{
    QTest::addColumn<devsim::DeviceConfig>("config");
    QTest::addColumn<QStringList>("lines"); // all but the verdicts on current boards
    QTest::addColumn<int>("current");
    QTest::addColumn<QVector<int>>("progress");
    QTest::addColumn<QList<int>>("asked"); // the boards asked once; the others never

    const QStringList consoleHeader = { "[2] 6170 Console [Desk]", "[0] ", "[2] *** FIRMWARE VERSION SCAN ***", "[0] " };
    const QStringList qrtHeader = { "[2] 3350 QRT [QRT]", "[0] ", "[2] *** FIRMWARE VERSION SCAN ***", "[0] " };
    const QStringList end = { "[0] ", "[2] *** FIRMWARE VERSION SCAN FINISHED ***" };
    // No line for the manual master faders (19), which give way to the motorised ones; the
    // meter (16) behind the audio board in its boot loader is not asked.
    devsim::DeviceConfig motorised = console(1);
    setVersion(motorised, 10, 9, devsim::BoardState::BootLoader); // Channel AudioBoard 1-4
    setVersion(motorised, 21, 4);
    QList<int> asked;
    for (int i = 0; i < 24; ++i) {
        if (i != 16 && i != 19)
            asked << i;
    }
    QTest::newRow("console, motorised faders")
        << motorised
        << consoleHeader + QStringList { "[4] Firmware update required: Channel AudioBoard 1-4   Version: 9 [BootMode]  (10)",
                                         "[4] Firmware update required: Channel Meter 1-8   Version: 0  (5)",
                                         "[4] Firmware update required: Channel Faders 9-16   Version: 4  (10)" } + end
        << 20 << QVector<int> { 0, 4, 8, 12, 16, 20, 25, 29, 33, 37, 41, 45, 50, 54, 58, 62, 66, 70, 75, 79, 83, 87, 91, 95 }
        << asked;
    QTest::newRow("console, manual faders")
        << console(0) << consoleHeader + end << 20
        << QVector<int> { 0, 5, 10, 15, 20, 25, 30, 35, 40, 45, 50, 55, 60, 65, 70, 75, 80, 85, 90, 95 }
        << QList<int> { 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19 };
    QTest::newRow("QRT with ADAT option")
        << qrt(0x08) << qrtHeader + end << 3 << QVector<int> { 0, 20, 40, 60, 80 } << QList<int> { 0, 3, 4 };
    QTest::newRow("QRT that needs an update lists only its interface")
        << qrt(0x0A, 1) << qrtHeader + end << 1 << QVector<int> { 0 } << QList<int> { 0 };
}

void tst_JobsVersions::versionScan()
{
    QFETCH(devsim::DeviceConfig, config);
    QFETCH(QStringList, lines);
    QFETCH(int, current);
    QFETCH(QVector<int>, progress);
    QFETCH(QList<int>, asked);
    JobRig rig;
    QVERIFY(rig.startWith(config));
    QVERIFY(rig.run(GetVersions, rig.select(0)));
    QCOMPARE(rig.ended(), QStringLiteral("done 0"));

    ORVO_COMPARE_LINES(withoutCurrent(rig.front.lines), lines);
    QCOMPARE(currentCount(rig.front.lines), current);
    QVector<ProgressCall> calls;
    for (int v : progress)
        calls.append({ true, v, false, 0, 0 });
    calls.append({ false, 0, true, 0, 100 });
    QCOMPARE(rig.front.progress, calls);
    QCOMPARE(rig.front.traceOf({ QStringLiteral("enable"), QStringLiteral("clear"), QStringLiteral("box") }),
             QStringList({ QStringLiteral("enable 0"), QStringLiteral("clear"), QStringLiteral("enable 1") }));
    QVERIFY(rig.front.progressAuto.isEmpty());
    QVERIFY(rig.front.deviceLists.isEmpty());
    const devsim::DeviceSnapshot s = rig.sim.snapshot(0);
    for (int i = 0; i < kPanelPositions; ++i) {
        const devsim::BoardSnapshot &b = s.boards[static_cast<std::size_t>(i)];
        QVERIFY2(b.statusQueries == (asked.contains(i) ? 1 : 0), qPrintable(QString::number(i)));
        QCOMPARE(b.enterRequests + b.erases, 0);
    }
    QVERIFY(rig.sim.violations().isEmpty());
}

void tst_JobsVersions::autoUpdateAllCurrent()
{
    // Nothing to update; the device record is still asked for again at the end, when the
    // device flagged an interface update.
    JobRig rig;
    QVERIFY(rig.startWith(console(1)));
    const int infoBefore = rig.sim.snapshot(0).infoRequests;
    QVERIFY(rig.run(AutoUpdate, rig.select(0, 0, [](Worker &w) { w.refreshDeviceInfo = true; })));
    QCOMPARE(rig.ended(), QStringLiteral("done 0"));

    ORVO_COMPARE_LINES(withoutCurrent(rig.front.lines),
                       kAutoHeader + QStringList { "[0] ", "[2] *** YOUR CONSOLE/UNIT'S FIRMWARE IS UP TO DATE ***" }
                           + kFinished);
    QCOMPARE(currentCount(rig.front.lines), 23);
    QCOMPARE(boxesOf(rig.front), QStringList { kDone });
    QCOMPARE(rig.front.progressAuto, QVector<ProgressCall>({ { false, 0, true, 0, 100 } }));
    QCOMPARE(rig.front.traceOf({ QStringLiteral("enable"), QStringLiteral("box"), QStringLiteral("devices") }),
             QStringList({ QStringLiteral("enable 0"), QStringLiteral("box"), QStringLiteral("devices"),
                           QStringLiteral("enable 1") }));
    QCOMPARE(rig.front.deviceLists.size(), 1);
    QCOMPARE(rig.front.deviceLists.first().first().nameBytes(), QByteArray("Desk"));
    QCOMPARE(rig.sim.snapshot(0).infoRequests, infoBefore + 1);
    QVERIFY(!rig.worker().refreshDeviceInfo);
    QVERIFY(erasedInOrder(rig.sim).isEmpty());
}

void tst_JobsVersions::stoppedAtTheQuestion_data()
{
    QTest::addColumn<int>("answer");
    QTest::addColumn<bool>("abort");
    QTest::newRow("answered No") << kNo << false;
    QTest::newRow("box closed") << 0 << false;
    // The window asks for an abort only when it closes; here it comes while the question is open.
    QTest::newRow("aborted while it is open") << kYes << true;
}

void tst_JobsVersions::stoppedAtTheQuestion()
{
    QFETCH(int, answer);
    QFETCH(bool, abort);
    JobRig rig;
    devsim::DeviceConfig c = console(0);
    setVersion(c, 16, 4);
    QVERIFY(rig.startWith(c));
    if (abort)
        rig.front.onBox = [&](const BoxCall &) { rig.worker().abort(); };
    rig.front.answers.enqueue(answer);
    QVERIFY(rig.run(AutoUpdate, rig.select(0, 0, [](Worker &w) { w.forceUpdate = true; })));
    QCOMPARE(rig.ended(), abort ? QStringLiteral("aborted 0") : QStringLiteral("cancelled 0"));

    // Forced, every board is listed as in need, the current ones with their build version.
    const QStringList lines = rig.front.lines;
    QCOMPARE(lines.size(), 4 + 20 + 2 + (abort ? 1 : 0));
    QCOMPARE(lines.mid(0, 5), kAutoHeader + QStringList { "[4] Firmware update required: Monitor Interface   Version: 12  (12)" });
    QCOMPARE(lines.at(4 + 16), QStringLiteral("[4] Firmware update required: Channel Meter 1-8   Version: 4  (5)"));
    QCOMPARE(lines.mid(24), abort ? kUpdatingBanner : QStringList({ "[0] ", "[2] *** FIRMWARE UPDATE CANCELLED ***" }));
    QCOMPARE(boxesOf(rig.front), QStringList { question(20) });
    QVERIFY(rig.front.progressAuto.isEmpty());
    QCOMPARE(rig.worker().forceUpdate, abort); // an aborted job leaves it, a cancelled one uses it up
    QCOMPARE(rig.front.enables, QVector<bool>({ false, true }));
    const devsim::DeviceSnapshot s = rig.sim.snapshot(0);
    QCOMPARE(s.boards[16].version, std::uint8_t(4));
    QCOMPARE(s.boards[16].enterRequests + s.boards[16].erases + s.boards[16].recordsAccepted, 0);
}

void tst_JobsVersions::monitorInterfaceInBootLoader()
{
    JobRig rig;
    devsim::DeviceConfig c = console(0);
    setVersion(c, 0, 3, devsim::BoardState::BootLoader);
    QVERIFY(rig.startWith(c));

    // While the question is open the scan is over: no board behind the Monitor Interface was asked.
    QVector<int> queriesAtQuestion;
    rig.front.onBox = [&](const BoxCall &) {
        const devsim::DeviceSnapshot s = rig.sim.snapshot(0);
        for (int i = 0; i < 20 && queriesAtQuestion.size() < 20; ++i)
            queriesAtQuestion << s.boards[static_cast<std::size_t>(i)].statusQueries;
    };
    rig.front.answers.enqueue(kYes);
    QVERIFY(rig.run(AutoUpdate, rig.select(0)));
    QCOMPARE(rig.ended(), QStringLiteral("done 0"));

    // The boards behind it were found in need with version 0; the FPGAs are written whatever
    // they report now, the others are found current on a fresh query.
    const QStringList lines = rig.front.lines;
    QCOMPARE(lines.mid(4, 3), QStringList({ "[4] Firmware update required: Monitor Interface   Version: 3 [BootMode]  (12)",
                                            "[4] Firmware update required: Monitor Master   Version: 0  (13)",
                                            "[4] Firmware update required: Monitor AudioBoard   Version: 0  (11)" }));
    ORVO_COMPARE_LINES(lines.mid(24, 9),
                       kUpdatingBanner + QStringList {
                           "[2] Updating: Monitor Interface   Version: 3 [BootMode]  (12)",
                           "[1]^ Update Successful!    Monitor Interface   Version: 12  (12){T}",
                           "[2] Updating: Monitor Master   Version: 0  (13)",
                           "[12]^ Firmware update not required. Panel/board is up to date!    Monitor Master   Version: 13  (13)",
                           "[2] Updating: Monitor AudioBoard   Version: 0  (11)",
                           "[12]^ Firmware update not required. Panel/board is up to date!    Monitor AudioBoard   Version: 11  (11)" });
    QCOMPARE(lines.filter(QStringLiteral("[1]^ Update Successful!")).size(), 4);
    QCOMPARE(lines.filter(QStringLiteral("[12]^ Firmware update not required.")).size(), 16);
    QCOMPARE(rig.outcomes().mid(0, 2), QStringList({ "0: v3 -> v12, result 1, attempts 1, records 6",
                                                     "1: v0 -> v13, result 7, attempts 0, records 0" }));
    QCOMPARE(rig.outcomes().at(7), QStringLiteral("7: v0 -> v13, result 1, attempts 1, records 4"));

    QVector<int> once(20, 0);
    once[0] = 1;
    QCOMPARE(queriesAtQuestion, once);
    QCOMPARE(boxesOf(rig.front), QStringList({ question(20), kDone }));
    QVector<ProgressCall> autoProgress;
    for (int k = 0; k < 20; ++k)
        autoProgress.append({ true, k * 5, false, 0, 0 });
    autoProgress.append({ false, 0, true, 0, 100 });
    QCOMPARE(rig.front.progressAuto, autoProgress);

    const devsim::DeviceSnapshot s = rig.sim.snapshot(0);
    QCOMPARE(s.boards[0].enterRequests, 0); // already in its boot loader
    QCOMPARE(s.boards[1].statusQueries, 1);
    QCOMPARE(erasedInOrder(rig.sim), QList<int>({ 0, 7, 8, 9 }));
    const QString wrong = imagesMismatch(rig, Console6170, { 0, 7, 8, 9 });
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
    QVERIFY(rig.sim.violations().isEmpty());
}

void tst_JobsVersions::failedBoards()
{
    JobRig rig;
    devsim::DeviceConfig c = console(0);
    setVersion(c, 2, 10); // Monitor AudioBoard, build 11
    setVersion(c, 3, 6);  // Monitor 3350 AudioBoard, build 7
    setVersion(c, 16, 4); // Channel Meter 1-8, build 5
    // A board that does not answer the scan is listed as out of date with version 0, is tried,
    // and is counted as failed: the device never passes as up to date.
    c.boards[17].fitted = false;
    rig.sim.addDevice(c);
    QVERIFY(rig.start());
    QVERIFY(rig.firmware.remove(QStringLiteral("6170/MonAudioBoardPIC.hex")));
    QVERIFY(rig.firmware.remove(QStringLiteral("6170/Mon3350AudioBoardPIC.hex")));
    // The meter board refuses the first record 25 times: its first attempt fails and leaves it
    // in its boot loader, the second goes through.
    rig.sim.addFault(0, { devsim::FaultKind::ChecksumRefusals, 16, 1, -1, 25 });
    QVERIFY(rig.discover());
    rig.front.answers.enqueue(kYes);
    QVERIFY(rig.run(AutoUpdate, rig.select(0)));
    QCOMPARE(rig.ended(), QStringLiteral("done 3"));

    ORVO_COMPARE_LINES(
        withoutCurrent(rig.front.lines),
        kAutoHeader
            + QStringList { "[4] Firmware update required: Monitor AudioBoard   Version: 10  (11)",
                            "[4] Firmware update required: Monitor 3350 AudioBoard   Version: 6  (7)",
                            "[4] Firmware update required: Channel Meter 1-8   Version: 4  (5)",
                            "[4] Firmware update required: Channel Meter 9-16   Version: 0  (5)" }
            + kUpdatingBanner
            + QStringList {
                "[2] Updating: Monitor AudioBoard   Version: 10  (11)",
                "[11]^ Update firmware file missing!    Monitor AudioBoard   Version: 10  (11)",
                "[2] Updating: Monitor 3350 AudioBoard   Version: 6  (7)",
                "[11]^ Update firmware file missing!    Monitor 3350 AudioBoard   Version: 6  (7)",
                "[2] Updating: Channel Meter 1-8   Version: 4  (5)",
                "[1]^ Update Successful!    Channel Meter 1-8   Version: 5  (5){T}",
                "[2] Updating: Channel Meter 9-16   Version: 0  (5)",
                "[8]^ There was a problem connecting to the panel/board!    Channel Meter 9-16   Version: 0  (5)" }
            + kFinished + QStringList { "[0] ", "[3] WARNING!  Firmware update FAILED on 3 panels/boards!" });
    QCOMPARE(currentCount(rig.front.lines), 16);
    QCOMPARE(boxesOf(rig.front),
             QStringList({ question(4), QStringLiteral("3/400 Auto Update: WARNING!  Firmware update FAILED on 3 panels/boards!") }));

    const devsim::DeviceSnapshot s = rig.sim.snapshot(0);
    // Scan, fresh query, and one check after each of the two attempts; the PIC asked per attempt.
    QCOMPARE(s.boards[2].statusQueries, 4);
    QCOMPARE(s.boards[2].picQueries, 2);
    QCOMPARE(s.boards[3].statusQueries, 4);
    QCOMPARE(s.boards[16].checksumErrors, 25);
    QCOMPARE(s.boards[16].enterRequests, 1);
    QCOMPARE(erasedInOrder(rig.sim), QList<int>({ 16 }));
    const QString wrong = imagesMismatch(rig, Console6170, { 16 }, 2);
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
}

void tst_JobsVersions::fpgaUpdatedDespiteFreshBuildVersion()
{
    JobRig rig;
    devsim::DeviceConfig c = console(0);
    setVersion(c, 7, 12);  // Channel Master FPGA 1-8, build 13
    setVersion(c, 16, 4);  // Channel Meter 1-8, build 5
    QVERIFY(rig.startWith(c));
    // Both boards report their build version by the time the update reaches them.
    rig.front.onBox = [&](const BoxCall &) {
        devsim::BoardConfig fresh;
        fresh.fitted = true;
        fresh.version = 13;
        rig.sim.setBoard(0, 7, fresh);
        fresh.version = 5;
        rig.sim.setBoard(0, 16, fresh);
    };
    rig.front.answers.enqueue(kYes);
    QVERIFY(rig.run(AutoUpdate, rig.select(0)));
    QCOMPARE(rig.ended(), QStringLiteral("done 0"));

    ORVO_COMPARE_LINES(
        withoutCurrent(rig.front.lines).mid(4),
        QStringList { "[4] Firmware update required: Channel Master FPGA 1-8   Version: 12  (13)",
                      "[4] Firmware update required: Channel Meter 1-8   Version: 4  (5)" }
            + kUpdatingBanner
            + QStringList { "[2] Updating: Channel Master FPGA 1-8   Version: 12  (13)",
                            "[1]^ Update Successful!    Channel Master FPGA 1-8   Version: 13  (13){T}",
                            "[2] Updating: Channel Meter 1-8   Version: 4  (5)",
                            "[12]^ Firmware update not required. Panel/board is up to date!    Channel Meter 1-8   Version: 5  (5)" }
            + kFinished);
    QCOMPARE(erasedInOrder(rig.sim), QList<int>({ 7 }));
    QVERIFY(imagesMismatch(rig, Console6170, { 7 }).isEmpty());
}

void tst_JobsVersions::versionWarningAfterUpdate()
{
    JobRig rig;
    devsim::DeviceConfig unit = devsim::defaultDevice(LumivoxKvr10, kAddress);
    unit.name = "Booth";
    unit.boards[0].version = 10;
    unit.boards[0].newVersion = 11; // this release carries 12
    QVERIFY(rig.startWith(unit));
    rig.front.answers.enqueue(kYes);
    QVERIFY(rig.run(AutoUpdate, rig.select(0)));
    QCOMPARE(rig.ended(), QStringLiteral("done 0"));

    ORVO_COMPARE_LINES(
        rig.front.lines.mid(4),
        QStringList { "[4] Firmware update required: Interface Processor   Version: 10  (12)" } + kUpdatingBanner
            + QStringList { "[2] Updating: Interface Processor   Version: 10  (12)",
                            "[1]^ Update Successful!    Interface Processor   Version: 11  (12){T}",
                            "[4] Warning: Interface Processor firmware version (11) differs from build version (12)" }
            + kFinished);
    QCOMPARE(boxesOf(rig.front), QStringList({ question(1), kDone }));
}

void tst_JobsVersions::abortDuringAnUpdateEndsItsAttempts()
{
    JobRig rig;
    devsim::DeviceConfig c = console(0);
    setVersion(c, 16, 4); // Channel Meter 1-8, build 5
    setVersion(c, 17, 4); // Channel Meter 9-16, build 5
    QVERIFY(rig.startWith(c));
    // The window closes while the first board takes its image: the abort comes with the first
    // programming progress value, in the worker thread, so that it lands inside the attempt.
    std::atomic<bool> aborted { false };
    Worker &worker = rig.worker();
    QObject::connect(
        &worker, &Worker::frWorker_updateProgressBar, &worker,
        [&](bool visible, int, bool showText, int, int) {
            if (visible && showText && !aborted.exchange(true))
                worker.abort();
        },
        Qt::DirectConnection);
    rig.front.answers.enqueue(kYes);
    const int infoRequestsBefore = rig.sim.snapshot(0).infoRequests;
    // The device flagged an interface update: without the abort the job would ask for its record.
    QVERIFY(rig.run(AutoUpdate, rig.select(0, 0, [](Worker &w) { w.refreshDeviceInfo = true; })));
    QCOMPARE(rig.ended(), QStringLiteral("aborted 0"));
    QVERIFY(aborted);

    // The interrupted board keeps the result of its only attempt; nothing follows it.
    ORVO_COMPARE_LINES(withoutCurrent(rig.front.lines).mid(6),
                       kUpdatingBanner
                           + QStringList { "[2] Updating: Channel Meter 1-8   Version: 4  (5)",
                                           "[7]^ Update FAILED! Panel/board still in Boot mode!    Channel Meter 1-8   Version: 4  (5)" });
    QCOMPARE(boxesOf(rig.front), QStringList { question(2) });

    const devsim::DeviceSnapshot s = rig.sim.snapshot(0);
    QCOMPARE(s.boards[16].picQueries, 1); // no second attempt
    QCOMPARE(s.boards[16].erases, 1);
    QCOMPARE(s.boards[17].statusQueries, 1); // the scan's query only
    QCOMPARE(s.boards[17].erases, 0);
    QCOMPARE(s.infoRequests, infoRequestsBefore); // no record asked for on the way out
}

void tst_JobsVersions::forcedFullConsoleUpdate()
{
    // Every board is current: forced, the update writes all of them; the device flagged an
    // interface update, so its record is asked for at the end.
    JobRig rig;
    QVERIFY(rig.startWith(console(1)));
    rig.front.answers.enqueue(kYes);
    QVERIFY(rig.run(AutoUpdate, rig.select(0, 0, [](Worker &w) {
        w.forceUpdate = true;
        w.refreshDeviceInfo = true;
    })));
    QCOMPARE(rig.ended(), QStringLiteral("done 0"));

    const QStringList lines = rig.front.lines;
    QCOMPARE(lines.filter(QStringLiteral("[4] Firmware update required: ")).size(), 23);
    QCOMPARE(lines.filter(QStringLiteral("[1]^ Update Successful!")).size(), 23);
    QVERIFY(!lines.join('\n').contains(QStringLiteral("Master Faders [Manual]")));
    ORVO_COMPARE_LINES(lines.mid(lines.size() - 4),
                       QStringList({ "[2] Updating: Master Faders [Mot]   Version: 10  (10)",
                                     "[1]^ Update Successful!    Master Faders [Mot]   Version: 10  (10){T}" })
                           + kFinished);
    QCOMPARE(boxesOf(rig.front), QStringList({ question(23), kDone }));
    QVERIFY(!rig.worker().forceUpdate); // both used up by the job
    QVERIFY(!rig.worker().refreshDeviceInfo);
    QCOMPARE(rig.front.traceOf({ QStringLiteral("box"), QStringLiteral("devices"), QStringLiteral("enable") }),
             QStringList({ QStringLiteral("enable 0"), QStringLiteral("box"), QStringLiteral("box"),
                           QStringLiteral("devices"), QStringLiteral("enable 1") }));
    QCOMPARE(rig.sim.events().last().what, QStringLiteral("info"));

    QList<int> visited;
    for (int i = 0; i < 24; ++i) {
        if (i != 19)
            visited << i;
    }
    const QString wrong = imagesMismatch(rig, Console6170, visited);
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
    QCOMPARE(rig.sim.snapshot(0).boards[19].statusQueries, 0);
    // Written in the order of the catalogue: each board's download ends before the next begins.
    QList<int> order;
    for (const devsim::Event &e : rig.sim.events()) {
        if ((e.what == QLatin1String("erase") || e.what == QLatin1String("record")) && e.position >= 0
            && (order.isEmpty() || order.last() != e.position))
            order << e.position;
    }
    QCOMPARE(order, visited);
    QVERIFY(rig.sim.violations().isEmpty());
    QCOMPARE(rig.worker().currentFirmwareFile(), rig.firmware.path(QStringLiteral("6170/AutMasterFadersPIC.hex")).toLocal8Bit());
}

QTEST_GUILESS_MAIN(tst_JobsVersions)
#include "tst_jobs_versions.moc"
