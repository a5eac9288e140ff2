// Get Versions and Auto Update, driven through the host's request protocol against simulated
// devices: the activity lines, the progress values, the message boxes (answered here), the order
// in which the boards were written and the boards each job left alone. How one board is written
// is tst_updater's concern.

#include "catalogue.h"
#include "jobrig.h"

#include <QtTest>

#include <atomic>
#include <numeric>

using namespace orvo;
using namespace orvo::test;

namespace {

const QString kAddress = QStringLiteral("127.0.0.2");

// The scan's verdicts on current boards, of which a test counts only how many there are.
const QString kCurrent = QStringLiteral("[2] Firmware up to date: ");

QStringList withoutCurrent(const QStringList &lines)
{
    QStringList out;
    for (const QString &l : lines) {
        if (!l.startsWith(kCurrent))
            out << l;
    }
    return withoutTimes(out);
}

const QStringList kAutoHeader = { "[2] 6170 Console [Desk]", "[0] ", "[2] *** AUTO UPDATE FIRMWARE ***", "[0] " };
const QStringList kUpdatingBanner = { "[0] ", "[2] *** UPDATING CONSOLE/UNIT FIRMWARE ***", "[0] " };
const QStringList kFinished = { "[0] ", "[2] *** FIRMWARE UPDATE FINISHED ***" };

QString question(int pending)
{
    return QStringLiteral("4/14000 Auto Update: The Console/Unit has %1 panels/boards that need updating.\n"
                          "Do you wish to continue ?")
        .arg(pending);
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

void setVersion(
    devsim::DeviceConfig &c, int position, int version, devsim::BoardState state = devsim::BoardState::Running)
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

} // namespace

Q_DECLARE_METATYPE(orvo::devsim::DeviceConfig)

class tst_JobsVersions : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { quietDebugLines(); }

    void versionScan_data();
    void versionScan();
    void currentConsole_data();
    void currentConsole();
    void stoppedAtTheQuestion_data();
    void stoppedAtTheQuestion();
    void monitorInterfaceInBootLoader();
    void failedBoards();
    void abortDuringAnUpdateEndsTheJobAndOnlyIt();
};

void tst_JobsVersions::versionScan_data()
{
    QTest::addColumn<devsim::DeviceConfig>("config");
    QTest::addColumn<QStringList>("lines"); // all but the verdicts on current boards
    QTest::addColumn<int>("current");
    QTest::addColumn<QVector<int>>("progress");
    QTest::addColumn<QList<int>>("asked"); // the boards asked once; the others never

    const QStringList consoleHeader
        = { "[2] 6170 Console [Desk]", "[0] ", "[2] *** FIRMWARE VERSION SCAN ***", "[0] " };
    const QStringList qrtHeader = { "[2] 3350 QRT [QRT]", "[0] ", "[2] *** FIRMWARE VERSION SCAN ***", "[0] " };
    const QStringList end = { "[0] ", "[2] *** FIRMWARE VERSION SCAN FINISHED ***" };
    // No line for the manual master faders (19), which give way to the motorised ones; the
    // meter (16) behind the audio board in its boot loader is not asked.
    devsim::DeviceConfig motorised = console(1);
    setVersion(motorised, 10, 9, devsim::BoardState::BootLoader); // Channel AudioBoard 1-4
    setVersion(motorised, 21, 4);
    QTest::newRow("console, motorised faders")
        << motorised
        << consoleHeader
            + QStringList { "[4] Firmware update required: Channel AudioBoard 1-4   Version: 9 [BootMode]  (10)",
                  "[4] Firmware update required: Channel Meter 1-8   Version: 0  (5)",
                  "[4] Firmware update required: Channel Faders 9-16   Version: 4  (10)" }
            + end
        << 20
        << QVector<int> { 0, 4, 8, 12, 16, 20, 25, 29, 33, 37, 41, 45, 50, 54, 58, 62, 66, 70, 75, 79, 83, 87, 91, 95 }
        << QList<int> { 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 17, 18, 20, 21, 22, 23 };
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
    QVERIFY(rig.run(JobMode::GetVersions, rig.select(0)));
    QCOMPARE(rig.ended(), QStringLiteral("done 0"));

    QCOMPARE(withoutCurrent(rig.front.lines), lines);
    QCOMPARE(rig.front.lines.filter(kCurrent).size(), current);
    QStringList calls;
    for (int v : progress)
        calls << QStringLiteral("1,%1,0,0,0").arg(v);
    QCOMPARE(rig.front.progress, calls << "0,0,1,0,100");
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
}

void tst_JobsVersions::currentConsole_data()
{
    QTest::addColumn<bool>("force");
    QTest::addColumn<QStringList>("last"); // the last lines, without the verdicts on current boards
    QTest::addColumn<QStringList>("boxes");
    QTest::addColumn<QList<int>>("written");
    QTest::newRow("nothing to update") << false
                                       << QStringList { "[0] ",
                                              "[2] *** YOUR CONSOLE/UNIT'S FIRMWARE IS UP TO DATE ***" }
            + kFinished << QStringList { kDone }
                                       << QList<int>();
    // Forced, every board is written, in the order of the catalogue, each download ending
    // before the next begins; the manual master faders give way to the motorised ones.
    QTest::newRow("forced") << true
                            << QStringList { "[2] Updating: Master Faders [Mot]   Version: 10  (10)",
                                   "[1]^ Update Successful!    Master Faders [Mot]   Version: 10  (10)" }
            + kFinished << QStringList { question(23), kDone }
                            << QList<int> { 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 20, 21,
                                   22, 23 };
}

void tst_JobsVersions::currentConsole()
{
    QFETCH(bool, force);
    QFETCH(QStringList, last);
    QFETCH(QStringList, boxes);
    QFETCH(QList<int>, written);
    // The device flagged an interface update: its record is asked for again at the end.
    JobRig rig;
    QVERIFY(rig.startWith(console(1)));
    rig.front.answers.enqueue(kYes);
    QVERIFY(rig.run(JobMode::AutoUpdate, rig.select(0, 0, [force](WorkRequest &w) {
        w.forceUpdate = force;
        w.refreshDeviceInfo = true;
    })));
    QCOMPARE(rig.ended(), QStringLiteral("done 0"));

    const QStringList lines = withoutCurrent(rig.front.lines);
    QCOMPARE(lines.mid(lines.size() - last.size()), last);
    QCOMPARE(lines.filter(QStringLiteral("[1]^ Update Successful!")).size(), written.size());
    QCOMPARE(rig.front.lines.filter(kCurrent).size(), force ? 0 : 23);
    QCOMPARE(rig.front.boxes, boxes);
    QCOMPARE(rig.front.traceOf({ QStringLiteral("box"), QStringLiteral("devices"), QStringLiteral("enable") }),
        QStringList({ "enable 0" }) + (boxes.size() == 2 ? QStringList({ "box", "box" }) : QStringList({ "box" }))
            + QStringList({ "devices", "enable 1" }));
    QCOMPARE(rig.sim.events().last().what, QStringLiteral("info"));
    QList<int> order;
    for (const devsim::Event &e : rig.sim.events()) {
        if ((e.what == QLatin1String("erase") || e.what == QLatin1String("record")) && e.position >= 0
            && (order.isEmpty() || order.last() != e.position))
            order << e.position;
    }
    QCOMPARE(order, written);
    QCOMPARE(rig.sim.snapshot(0).boards[19].statusQueries, 0);
    QVERIFY(rig.sim.violations().isEmpty());
}

void tst_JobsVersions::stoppedAtTheQuestion_data()
{
    QTest::addColumn<int>("answer");
    QTest::addColumn<bool>("abort");
    QTest::newRow("answered No") << int(kNo) << false;
    QTest::newRow("box closed") << 0 << false;
    // The window asks for an abort only when it closes; here it comes while the question is open.
    QTest::newRow("aborted while it is open") << int(kYes) << true;
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
        rig.front.onBox = [&] { rig.worker().abort(); };
    rig.front.answers.enqueue(BoxButton(answer));
    QVERIFY(rig.run(JobMode::AutoUpdate, rig.select(0, 0, [](WorkRequest &w) { w.forceUpdate = true; })));
    QCOMPARE(rig.ended(), abort ? QStringLiteral("aborted 0") : QStringLiteral("cancelled 0"));

    // Forced, every board is listed as in need, the current ones with their build version.
    const QStringList lines = rig.front.lines;
    QCOMPARE(lines.size(), 4 + 20 + 2 + (abort ? 1 : 0));
    QCOMPARE(lines.mid(0, 5),
        kAutoHeader + QStringList({ "[4] Firmware update required: Monitor Interface   Version: 12  (12)" }));
    QCOMPARE(lines.at(4 + 16), QStringLiteral("[4] Firmware update required: Channel Meter 1-8   Version: 4  (5)"));
    QCOMPARE(lines.mid(24), abort ? kUpdatingBanner : QStringList({ "[0] ", "[2] *** FIRMWARE UPDATE CANCELLED ***" }));
    QCOMPARE(rig.front.boxes, QStringList({ question(20) }));
    QVERIFY(rig.front.progressAuto.isEmpty());
    QCOMPARE(rig.front.enables, QVector<bool>({ false, true }));
    QVERIFY(erasedInOrder(rig.sim).isEmpty());
    QCOMPARE(rig.sim.snapshot(0).boards[16].enterRequests, 0);
}

void tst_JobsVersions::monitorInterfaceInBootLoader()
{
    JobRig rig;
    devsim::DeviceConfig c = console(0);
    setVersion(c, 0, 3, devsim::BoardState::BootLoader);
    c.boards[9].newVersion = 12; // this release carries 13 for the Channel Master FPGA 17-24
    QVERIFY(rig.startWith(c));

    // While the question is open the scan is over: no board behind the Monitor Interface was asked.
    int queriesAtQuestion = -1;
    rig.front.onBox = [&] {
        const devsim::DeviceSnapshot s = rig.sim.snapshot(0);
        if (queriesAtQuestion < 0)
            queriesAtQuestion = std::accumulate(s.boards.begin(), s.boards.end(), 0,
                [](int n, const devsim::BoardSnapshot &b) { return n + b.statusQueries; });
    };
    rig.front.answers.enqueue(kYes);
    QVERIFY(rig.run(JobMode::AutoUpdate, rig.select(0)));
    QCOMPARE(rig.ended(), QStringLiteral("done 0"));
    QCOMPARE(queriesAtQuestion, 1);

    // The boards behind it were listed in need with version 0; the FPGAs are written whatever
    // they report now, the others are found current on a fresh query.
    const QStringList lines = withoutTimes(rig.front.lines);
    QCOMPARE(lines.mid(24, 9),
        kUpdatingBanner
            + QStringList({ "[2] Updating: Monitor Interface   Version: 3 [BootMode]  (12)",
                "[1]^ Update Successful!    Monitor Interface   Version: 12  (12)",
                "[2] Updating: Monitor Master   Version: 0  (13)",
                "[12]^ Firmware update not required. Panel/board is up to date!    Monitor Master   Version: 13  (13)",
                "[2] Updating: Monitor AudioBoard   Version: 0  (11)",
                "[12]^ Firmware update not required. Panel/board is up to date!    Monitor AudioBoard   Version: 11  "
                "(11)" }));
    QCOMPARE(lines.filter(QStringLiteral("[1]^ Update Successful!")).size(), 4);
    QCOMPARE(lines.filter(QStringLiteral("Warning:")),
        QStringList(
            { "[4] Warning: Channel Master FPGA 17-24 firmware version (12) differs from build version (13)" }));
    QCOMPARE(lines.filter(QStringLiteral("[12]^ Firmware update not required.")).size(), 16);
    QCOMPARE(rig.front.boxes, QStringList({ question(20), kDone }));
    QStringList autoProgress;
    for (int value : { 0, 5, 10, 15, 20, 25, 30, 35, 40, 45, 50, 55, 60, 65, 70, 75, 80, 85, 90, 95 })
        autoProgress << QStringLiteral("1,%1,0,0,0").arg(value);
    QCOMPARE(rig.front.progressAuto, autoProgress << "0,0,1,0,100");
    QCOMPARE(erasedInOrder(rig.sim), QList<int>({ 0, 7, 8, 9 }));
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
    // in its boot loader, the job's second attempt goes through.
    rig.sim.addFault(0, { devsim::FaultKind::ChecksumRefusals, 16, 1, -1, 25 });
    QVERIFY(rig.discover());
    rig.front.answers.enqueue(kYes);
    QVERIFY(rig.run(JobMode::AutoUpdate, rig.select(0)));
    QCOMPARE(rig.ended(), QStringLiteral("done 3"));

    // Tried in the catalogue's order; each board's result replaces its "Updating" line.
    QCOMPARE(withoutCurrent(rig.front.lines).filter(QRegularExpression("^\\[\\d+\\]\\^ |WARNING")),
        QStringList({ "[11]^ Update firmware file missing!    Monitor AudioBoard   Version: 10  (11)",
            "[11]^ Update firmware file missing!    Monitor 3350 AudioBoard   Version: 6  (7)",
            "[1]^ Update Successful!    Channel Meter 1-8   Version: 5  (5)",
            "[8]^ There was a problem connecting to the panel/board!    Channel Meter 9-16   Version: 0  (5)",
            "[3] WARNING!  Firmware update FAILED on 3 panels/boards!" }));
    QCOMPARE(rig.front.lines.filter("Firmware update required: Channel Meter 9-16"),
        QStringList { "[4] Firmware update required: Channel Meter 9-16   Version: 0  (5)" });
    QCOMPARE(rig.front.boxes,
        QStringList({ question(4),
            QStringLiteral("3/400 Auto Update: WARNING!  Firmware update FAILED on 3 panels/boards!") }));
    QCOMPARE(rig.sim.snapshot(0).boards[16].erases, 2);
    QCOMPARE(erasedInOrder(rig.sim), QList<int>({ 16 }));
}

void tst_JobsVersions::abortDuringAnUpdateEndsTheJobAndOnlyIt()
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
    QVERIFY(rig.run(JobMode::AutoUpdate, rig.select(0, 0, [](WorkRequest &w) { w.refreshDeviceInfo = true; })));
    QCOMPARE(rig.ended(), QStringLiteral("aborted 0"));
    QVERIFY(aborted);

    // The interrupted board keeps the result of its only attempt; nothing follows it.
    QCOMPARE(withoutCurrent(rig.front.lines).mid(6),
        kUpdatingBanner
            + QStringList({ "[2] Updating: Channel Meter 1-8   Version: 4  (5)",
                "[7]^ Update FAILED! Panel/board still in Boot mode!    Channel Meter 1-8   Version: 4  (5)" }));
    QCOMPARE(rig.front.boxes, QStringList({ question(2) }));
    const devsim::DeviceSnapshot s = rig.sim.snapshot(0);
    QCOMPARE(s.boards[16].picQueries, 1); // no second attempt
    QCOMPARE(erasedInOrder(rig.sim), QList<int>({ 16 }));
    QCOMPARE(s.infoRequests, infoRequestsBefore); // no record asked for on the way out
    QVERIFY(rig.worker().isAbortRequested());

    // The next request starts without the abort, and its job runs to its end.
    rig.front.reset();
    rig.front.answers.enqueue(kYes);
    QVERIFY(rig.run(JobMode::AutoUpdate, rig.select(0)));
    QCOMPARE(rig.ended(), QStringLiteral("done 0"));
    QCOMPARE(rig.sim.snapshot(0).boards[17].version, std::uint8_t(5));
}

QTEST_GUILESS_MAIN(tst_JobsVersions)
#include "tst_jobs_versions.moc"
