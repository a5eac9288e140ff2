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

int build(int type, int position)
{
    return buildVersion(type, panelSlot(type, position).boardType);
}

QString upToDate(int type, int position)
{
    return QStringLiteral("[2] Firmware up to date: ") + boardStatusText(type, position, build(type, position));
}

QString required(int type, int position, int version, bool bootMode = false)
{
    return QStringLiteral("[4] Firmware update required: ") + boardStatusText(type, position, version, bootMode);
}

QString updating(int type, int position, int version, bool bootMode = false)
{
    return QStringLiteral("[2] Updating: ") + boardStatusText(type, position, version, bootMode);
}

QString succeeded(int type, int position)
{
    return QStringLiteral("[1]^ Update Successful!    ") + boardStatusText(type, position, build(type, position))
        + QStringLiteral("{T}");
}

QString notRequired(int type, int position)
{
    return QStringLiteral("[12]^ Firmware update not required. Panel/board is up to date!    ")
        + boardStatusText(type, position, build(type, position));
}

QList<int> positions(int from, int to, int leftOut = -1)
{
    QList<int> out;
    for (int i = from; i < to; ++i) {
        if (i != leftOut)
            out << i;
    }
    return out;
}

// The scan's lines for `visited` positions: up to date unless `outOfDate` names the version.
QStringList scanLines(int type, const QList<int> &visited, const QMap<int, int> &outOfDate = {})
{
    QStringList out;
    for (int i : visited)
        out << (outOfDate.contains(i) ? required(type, i, outOfDate.value(i)) : upToDate(type, i));
    return out;
}

QStringList header(const QString &deviceLine, bool scanOnly)
{
    return { QStringLiteral("[2] ") + deviceLine, QStringLiteral("[0] "),
             scanOnly ? QStringLiteral("[2] *** FIRMWARE VERSION SCAN ***")
                      : QStringLiteral("[2] *** AUTO UPDATE FIRMWARE ***"),
             QStringLiteral("[0] ") };
}

const QStringList kUpdatingBanner = { QStringLiteral("[0] "), QStringLiteral("[2] *** UPDATING CONSOLE/UNIT FIRMWARE ***"),
                                      QStringLiteral("[0] ") };
const QStringList kFinished = { QStringLiteral("[0] "), QStringLiteral("[2] *** FIRMWARE UPDATE FINISHED ***{TT}") };

// The lines of an auto update that went ahead: the scan, the updates, the end and the count of
// failed boards.
QStringList autoLines(const QString &deviceLine, const QStringList &scan, const QStringList &updates, int failed = 0)
{
    QStringList out = header(deviceLine, false) + scan + kUpdatingBanner + updates + kFinished;
    if (failed > 0)
        out << QStringLiteral("[0] ")
            << QStringLiteral("[3] WARNING!  Firmware update FAILED on %1 panels/boards!").arg(failed);
    return out;
}

// A board's two lines when its update succeeds.
QStringList written(int type, int position, int version, bool bootMode = false)
{
    return { updating(type, position, version, bootMode), succeeded(type, position) };
}

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
    void initTestCase();
    void cleanupTestCase();

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

void tst_JobsVersions::initTestCase()
{
    m_debug = std::make_unique<DebugCapture>();
}

void tst_JobsVersions::cleanupTestCase()
{
    m_debug.reset();
}

void tst_JobsVersions::versionScan_data()
{
    QTest::addColumn<devsim::DeviceConfig>("config");
    QTest::addColumn<QString>("deviceLine");
    QTest::addColumn<QStringList>("scan");
    QTest::addColumn<QVector<int>>("progress");
    QTest::addColumn<QList<int>>("asked"); // the boards asked once; the others never

    // No line for the manual master faders (19), which give way to the motorised ones; the
    // meter (16) behind the audio board in its boot loader is not asked.
    devsim::DeviceConfig motorised = console(1);
    setVersion(motorised, 10, 9, devsim::BoardState::BootLoader); // Channel AudioBoard 1-4
    setVersion(motorised, 21, 4);
    QStringList scan = scanLines(Console6170, positions(0, 24, 19), { { 16, 0 }, { 21, 4 } });
    scan[10] = required(Console6170, 10, 9, true);
    QList<int> asked = positions(0, 24, 19);
    asked.removeOne(16);
    QTest::newRow("console, motorised faders")
        << motorised << "6170 Console [Desk]" << scan
        << QVector<int> { 0, 4, 8, 12, 16, 20, 25, 29, 33, 37, 41, 45, 50, 54, 58, 62, 66, 70, 75, 79, 83, 87, 91, 95 }
        << asked;
    QTest::newRow("console, manual faders")
        << console(0) << "6170 Console [Desk]" << scanLines(Console6170, positions(0, 20))
        << QVector<int> { 0, 5, 10, 15, 20, 25, 30, 35, 40, 45, 50, 55, 60, 65, 70, 75, 80, 85, 90, 95 }
        << positions(0, 20);
    QTest::newRow("QRT with ADAT option") << qrt(0x08) << "3350 QRT [QRT]" << scanLines(Qrt3350, { 0, 3, 4 })
                                          << QVector<int> { 0, 20, 40, 60, 80 } << QList<int> { 0, 3, 4 };
    QTest::newRow("QRT that needs an update lists only its interface")
        << qrt(0x0A, 1) << "3350 QRT [QRT]" << scanLines(Qrt3350, { 0 }) << QVector<int> { 0 } << QList<int> { 0 };
}

void tst_JobsVersions::versionScan()
{
    QFETCH(devsim::DeviceConfig, config);
    QFETCH(QString, deviceLine);
    QFETCH(QStringList, scan);
    QFETCH(QVector<int>, progress);
    QFETCH(QList<int>, asked);
    JobRig rig;
    QVERIFY(rig.startWith(config));
    QVERIFY(rig.run(GetVersions, rig.select(0)));
    ORVO_CHECK_OUTCOMES(rig, JobEnd::Done);

    ORVO_COMPARE_LINES(rig.front.lines, header(deviceLine, true) + scan
                           + QStringList({ QStringLiteral("[0] "), QStringLiteral("[2] *** FIRMWARE VERSION SCAN FINISHED ***") }));
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
    m_debug->clear();
    QVERIFY(rig.run(AutoUpdate, rig.select(0, 0, [](Worker &w) { w.refreshDeviceInfo = true; })));
    ORVO_CHECK_OUTCOMES(rig, JobEnd::Done);

    QStringList expected = header(QStringLiteral("6170 Console [Desk]"), false);
    expected << scanLines(Console6170, positions(0, 24, 19));
    expected << QStringLiteral("[0] ") << QStringLiteral("[2] *** YOUR CONSOLE/UNIT'S FIRMWARE IS UP TO DATE ***")
             << kFinished;
    ORVO_COMPARE_LINES(rig.front.lines, expected);
    QCOMPARE(boxesOf(rig.front), QStringList { kDone });
    QCOMPARE(rig.front.progressAuto, QVector<ProgressCall>({ { false, 0, true, 0, 100 } }));
    QCOMPARE(rig.front.traceOf({ QStringLiteral("enable"), QStringLiteral("box"), QStringLiteral("devices") }),
             QStringList({ QStringLiteral("enable 0"), QStringLiteral("box"), QStringLiteral("devices"),
                           QStringLiteral("enable 1") }));
    QCOMPARE(rig.front.deviceLists.size(), 1);
    QCOMPARE(rig.front.deviceLists.first().first().nameBytes(), QByteArray("Desk"));
    QCOMPARE(m_debug->matching(QStringLiteral("RequestInfo(): ")),
             QStringList { QStringLiteral("RequestInfo(): 127.0.0.2   6170 Console") });
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
    ORVO_CHECK_OUTCOMES(rig, abort ? JobEnd::Aborted : JobEnd::Cancelled);

    QStringList expected = header(QStringLiteral("6170 Console [Desk]"), false);
    for (int i : positions(0, 20))
        expected << required(Console6170, i, i == 16 ? 4 : build(Console6170, i));
    expected << (abort ? kUpdatingBanner
                       : QStringList({ QStringLiteral("[0] "), QStringLiteral("[2] *** FIRMWARE UPDATE CANCELLED ***") }));
    ORVO_COMPARE_LINES(rig.front.lines, expected);
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
    ORVO_CHECK_OUTCOMES(rig, JobEnd::Done);

    QStringList scan { required(Console6170, 0, 3, true) };
    QStringList updates = written(Console6170, 0, 3, true);
    for (int i = 1; i < 20; ++i) {
        scan << required(Console6170, i, 0);
        // The FPGAs were found in need and are written whatever they report now.
        updates << updating(Console6170, i, 0)
                << (isFpgaBoard(Console6170, panelSlot(Console6170, i).boardType) ? succeeded(Console6170, i)
                                                                                  : notRequired(Console6170, i));
    }
    ORVO_COMPARE_LINES(rig.front.lines, autoLines(QStringLiteral("6170 Console [Desk]"), scan, updates));

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
    QVERIFY(rig.firmware.remove(firmwareFile(Console6170, 2)));
    QVERIFY(rig.firmware.remove(firmwareFile(Console6170, 3)));
    // The meter board refuses the first record 25 times: its first attempt fails and leaves it
    // in its boot loader, the second goes through.
    devsim::Fault refusals;
    refusals.kind = devsim::FaultKind::ChecksumRefusals;
    refusals.position = 16;
    refusals.param = 25;
    rig.sim.addFault(0, refusals);
    QVERIFY(rig.discover());
    rig.front.answers.enqueue(kYes);
    QVERIFY(rig.run(AutoUpdate, rig.select(0)));
    ORVO_CHECK_OUTCOMES(rig, JobEnd::Done);

    const QString missing = QStringLiteral("[11]^ Update firmware file missing!    ");
    const QStringList updates
        = QStringList { updating(Console6170, 2, 10), missing + boardStatusText(Console6170, 2, 10),
                        updating(Console6170, 3, 6), missing + boardStatusText(Console6170, 3, 6) }
        + written(Console6170, 16, 4)
        + QStringList { updating(Console6170, 17, 0),
                        QStringLiteral("[8]^ There was a problem connecting to the panel/board!    ")
                            + boardStatusText(Console6170, 17, 0) };
    ORVO_COMPARE_LINES(rig.front.lines,
                       autoLines(QStringLiteral("6170 Console [Desk]"),
                                 scanLines(Console6170, positions(0, 20), { { 2, 10 }, { 3, 6 }, { 16, 4 }, { 17, 0 } }),
                                 updates, 3));
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
    QCOMPARE(m_debug->matching(QStringLiteral("nRW: ")).size(), 25);
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
    ORVO_CHECK_OUTCOMES(rig, JobEnd::Done);

    ORVO_COMPARE_LINES(rig.front.lines,
                       autoLines(QStringLiteral("6170 Console [Desk]"),
                                 scanLines(Console6170, positions(0, 20), { { 7, 12 }, { 16, 4 } }),
                                 written(Console6170, 7, 12)
                                     + QStringList { updating(Console6170, 16, 4), notRequired(Console6170, 16) }));
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
    ORVO_CHECK_OUTCOMES(rig, JobEnd::Done);

    ORVO_COMPARE_LINES(
        rig.front.lines,
        autoLines(QStringLiteral("Lumivox KVR10 [Booth]"), { required(LumivoxKvr10, 0, 10) },
                  { updating(LumivoxKvr10, 0, 10),
                    QStringLiteral("[1]^ Update Successful!    ") + boardStatusText(LumivoxKvr10, 0, 11) + QStringLiteral("{T}"),
                    QStringLiteral("[4] Warning: Interface Processor firmware version (11) differs from build version (12)") }));
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
    ORVO_CHECK_OUTCOMES(rig, JobEnd::Aborted);
    QVERIFY(aborted);

    // The interrupted board keeps the result of its only attempt; nothing follows it.
    QStringList expected = header(QStringLiteral("6170 Console [Desk]"), false);
    expected << scanLines(Console6170, positions(0, 20), { { 16, 4 }, { 17, 4 } }) << kUpdatingBanner
             << updating(Console6170, 16, 4)
             << QStringLiteral("[7]^ ") + updateResultMessage(UpdateStillInBootMode) + QStringLiteral("   ")
            + boardStatusText(Console6170, 16, 4);
    ORVO_COMPARE_LINES(rig.front.lines, expected);
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
    ORVO_CHECK_OUTCOMES(rig, JobEnd::Done);

    const QList<int> visited = positions(0, 24, 19);
    QStringList scan, updates;
    for (int i : visited) {
        scan << required(Console6170, i, build(Console6170, i));
        updates << written(Console6170, i, build(Console6170, i));
    }
    ORVO_COMPARE_LINES(rig.front.lines, autoLines(QStringLiteral("6170 Console [Desk]"), scan, updates));
    QCOMPARE(boxesOf(rig.front), QStringList({ question(23), kDone }));
    QVERIFY(!rig.worker().forceUpdate); // both used up by the job
    QVERIFY(!rig.worker().refreshDeviceInfo);
    QCOMPARE(rig.front.traceOf({ QStringLiteral("box"), QStringLiteral("devices"), QStringLiteral("enable") }),
             QStringList({ QStringLiteral("enable 0"), QStringLiteral("box"), QStringLiteral("box"),
                           QStringLiteral("devices"), QStringLiteral("enable 1") }));
    QCOMPARE(rig.sim.events().last().what, QStringLiteral("info"));
    QCOMPARE(rig.front.deviceLists.size(), 1);

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
    QCOMPARE(rig.worker().currentFirmwareFile(), rig.firmware.path(firmwareFile(Console6170, 23)).toLocal8Bit());
}

QTEST_GUILESS_MAIN(tst_JobsVersions)
#include "tst_jobs_versions.moc"
