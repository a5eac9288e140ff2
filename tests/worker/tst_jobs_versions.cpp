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

QString question(int pending)
{
    return QStringLiteral("The Console/Unit has ") + QString::number(pending)
        + QStringLiteral(" panels/boards that need updating.\nDo you wish to continue ?");
}

devsim::DeviceConfig console(std::uint32_t byData0)
{
    devsim::DeviceConfig c = devsim::defaultDevice(Console6170, kAddress);
    c.name = "Desk";
    c.byData[0] = byData0;
    return c;
}

void setVersion(devsim::DeviceConfig &c, int position, int version,
                devsim::BoardState state = devsim::BoardState::Running)
{
    c.boards[static_cast<std::size_t>(position)].version = static_cast<std::uint8_t>(version);
    c.boards[static_cast<std::size_t>(position)].state = state;
}

QVector<ProgressCall> scanProgress(const QVector<int> &values)
{
    QVector<ProgressCall> out;
    for (int v : values)
        out.append({ true, v, false, 0, 0 });
    out.append({ false, 0, true, 0, 100 });
    return out;
}

// The image a board holds must be the file's, byte for byte.
bool holdsImage(const devsim::BoardSnapshot &board, const FirmwareTree::Image &image)
{
    return board.hexImage == image.hex && board.fpgaImage == image.fpga;
}

} // namespace

class tst_JobsVersions : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void consoleWithMotorisedFaders();
    void consoleWithManualFaders();
    void qrtWithAdatOption();
    void qrtThatNeedsUpdateListsOnlyItsInterface();
    void autoUpdateAllCurrent();
    void autoUpdateCancelled_data();
    void autoUpdateCancelled();
    void monitorInterfaceInBootLoader();
    void twoBoardsFailTwice();
    void forceUpdateWritesCurrentBoards();
    void fpgaUpdatedDespiteFreshBuildVersion();
    void versionWarningAfterUpdate();
    void boardThatDoesNotAnswerCountsAsFailed();
    void abortEndsTheUpdateAtOnce();
    void abortDuringAnUpdateEndsItsAttempts();
    void refreshDeviceInfoAfterAutoUpdate();
    void fullConsoleUpdate();

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

void tst_JobsVersions::consoleWithMotorisedFaders()
{
    JobRig rig;
    devsim::DeviceConfig c = console(1);
    setVersion(c, 10, 9, devsim::BoardState::BootLoader); // Channel AudioBoard 1-4, parent of Meter 1-8
    setVersion(c, 21, 4);
    QVERIFY(rig.startWith(c));
    QVERIFY(rig.run(GetVersions, rig.select(0)));
    ORVO_CHECK_OUTCOMES(rig, JobEnd::Done);

    // No line for the manual master faders (19), which give way to the motorised ones; the
    // meter behind the audio board in its boot loader is not asked.
    QStringList expected = header(QStringLiteral("6170 Console [Desk]"), true);
    expected << scanLines(Console6170, positions(0, 24, 19), { { 16, 0 }, { 21, 4 } });
    expected[4 + 10] = required(Console6170, 10, 9, true);
    expected << QStringLiteral("[0] ") << QStringLiteral("[2] *** FIRMWARE VERSION SCAN FINISHED ***");
    ORVO_COMPARE_LINES(rig.front.lines, expected);

    QCOMPARE(rig.front.progress, scanProgress({ 0, 4, 8, 12, 16, 20, 25, 29, 33, 37, 41, 45, 50, 54, 58, 62, 66,
                                                70, 75, 79, 83, 87, 91, 95 }));
    QCOMPARE(rig.front.traceOf({ QStringLiteral("enable"), QStringLiteral("clear"), QStringLiteral("box") }),
             QStringList({ QStringLiteral("enable 0"), QStringLiteral("clear"), QStringLiteral("enable 1") }));
    QVERIFY(rig.front.progressAuto.isEmpty());
    const devsim::DeviceSnapshot s = rig.sim.snapshot(0);
    QCOMPARE(s.boards[19].statusQueries, 0);
    QCOMPARE(s.boards[16].statusQueries, 0);
    QCOMPARE(s.boards[20].statusQueries, 1);
    QCOMPARE(s.boards[23].statusQueries, 1);
    QCOMPARE(s.boards[21].enterRequests + s.boards[21].erases, 0);
    QVERIFY(rig.sim.violations().isEmpty());
    QCOMPARE(m_debug->matching(QStringLiteral("Checking Panel... Channel AudioBoard 1-4  ---")),
             QStringList({ QStringLiteral("Checking Panel... Channel AudioBoard 1-4  --- [Ch: 0, Panel: 0, Type: 2, "
                                          "Addr: 0]  ---  Panel Found: 1  BootMode: 1") }));
}

void tst_JobsVersions::consoleWithManualFaders()
{
    JobRig rig;
    QVERIFY(rig.startWith(console(0)));
    QVERIFY(rig.run(GetVersions, rig.select(0)));
    ORVO_CHECK_OUTCOMES(rig, JobEnd::Done);

    QStringList expected = header(QStringLiteral("6170 Console [Desk]"), true);
    expected << scanLines(Console6170, positions(0, 20));
    expected << QStringLiteral("[0] ") << QStringLiteral("[2] *** FIRMWARE VERSION SCAN FINISHED ***");
    ORVO_COMPARE_LINES(rig.front.lines, expected);
    QCOMPARE(rig.front.progress, scanProgress({ 0, 5, 10, 15, 20, 25, 30, 35, 40, 45, 50, 55, 60, 65, 70, 75, 80, 85,
                                                90, 95 }));
    const devsim::DeviceSnapshot s = rig.sim.snapshot(0);
    QCOMPARE(s.boards[19].statusQueries, 1);
    for (int i = 20; i < 24; ++i)
        QCOMPARE(s.boards[static_cast<std::size_t>(i)].statusQueries, 0);
}

void tst_JobsVersions::qrtWithAdatOption()
{
    JobRig rig;
    devsim::DeviceConfig qrt = devsim::defaultDevice(Qrt3350, kAddress);
    qrt.name = "QRT";
    qrt.optionMask = 0x08;
    QVERIFY(rig.startWith(qrt));
    QVERIFY(rig.run(GetVersions, rig.select(0)));
    ORVO_CHECK_OUTCOMES(rig, JobEnd::Done);

    QStringList expected = header(QStringLiteral("3350 QRT [QRT]"), true);
    expected << upToDate(Qrt3350, 0) << upToDate(Qrt3350, 3) << upToDate(Qrt3350, 4) << QStringLiteral("[0] ")
             << QStringLiteral("[2] *** FIRMWARE VERSION SCAN FINISHED ***");
    ORVO_COMPARE_LINES(rig.front.lines, expected);
    QCOMPARE(rig.front.progress, scanProgress({ 0, 20, 40, 60, 80 }));
    const devsim::DeviceSnapshot s = rig.sim.snapshot(0);
    QCOMPARE(s.boards[1].statusQueries, 0);
    QCOMPARE(s.boards[2].statusQueries, 0);
    QCOMPARE(s.boards[4].statusQueries, 1);
}

void tst_JobsVersions::qrtThatNeedsUpdateListsOnlyItsInterface()
{
    JobRig rig;
    devsim::DeviceConfig qrt = devsim::defaultDevice(Qrt3350, kAddress);
    qrt.name = "QRT";
    qrt.optionMask = 0x0A;
    qrt.needsUpdate = 1;
    QVERIFY(rig.startWith(qrt));
    QVERIFY(rig.run(GetVersions, rig.select(0)));
    ORVO_CHECK_OUTCOMES(rig, JobEnd::Done);

    QStringList expected = header(QStringLiteral("3350 QRT [QRT]"), true);
    expected << upToDate(Qrt3350, 0) << QStringLiteral("[0] ")
             << QStringLiteral("[2] *** FIRMWARE VERSION SCAN FINISHED ***");
    ORVO_COMPARE_LINES(rig.front.lines, expected);
    QCOMPARE(rig.front.progress, scanProgress({ 0 }));
    for (int i = 1; i < 5; ++i)
        QCOMPARE(rig.sim.snapshot(0).boards[static_cast<std::size_t>(i)].statusQueries, 0);
}

void tst_JobsVersions::autoUpdateAllCurrent()
{
    JobRig rig;
    QVERIFY(rig.startWith(console(1)));
    QVERIFY(rig.run(AutoUpdate, rig.select(0)));
    ORVO_CHECK_OUTCOMES(rig, JobEnd::Done);

    QStringList expected = header(QStringLiteral("6170 Console [Desk]"), false);
    expected << scanLines(Console6170, positions(0, 24, 19));
    expected << QStringLiteral("[0] ") << QStringLiteral("[2] *** YOUR CONSOLE/UNIT'S FIRMWARE IS UP TO DATE ***")
             << kFinished;
    ORVO_COMPARE_LINES(rig.front.lines, expected);
    QCOMPARE(rig.front.boxes.size(), 1);
    QCOMPARE(rig.front.boxes[0].icon, 1);
    QCOMPARE(rig.front.boxes[0].title, QStringLiteral("Auto Update"));
    QCOMPARE(rig.front.boxes[0].text, QStringLiteral("Auto Update has finished!"));
    QCOMPARE(rig.front.boxes[0].buttons, 0x400u);
    QCOMPARE(rig.front.progressAuto, QVector<ProgressCall>({ { false, 0, true, 0, 100 } }));
    QCOMPARE(rig.front.traceOf({ QStringLiteral("enable"), QStringLiteral("box") }),
             QStringList({ QStringLiteral("enable 0"), QStringLiteral("box"), QStringLiteral("enable 1") }));
    for (int i = 0; i < 24; ++i)
        QCOMPARE(rig.sim.snapshot(0).boards[static_cast<std::size_t>(i)].erases, 0);
}

void tst_JobsVersions::autoUpdateCancelled_data()
{
    QTest::addColumn<int>("answer");
    QTest::newRow("No") << kNo;
    QTest::newRow("box closed") << 0;
}

void tst_JobsVersions::autoUpdateCancelled()
{
    QFETCH(int, answer);
    JobRig rig;
    devsim::DeviceConfig c = console(0);
    setVersion(c, 16, 4);
    QVERIFY(rig.startWith(c));
    rig.front.answers.enqueue(answer);
    QVERIFY(rig.run(AutoUpdate, rig.select(0, 0, [](Worker &w) { w.forceUpdate = false; })));
    ORVO_CHECK_OUTCOMES(rig, JobEnd::Cancelled);

    QStringList expected = header(QStringLiteral("6170 Console [Desk]"), false);
    expected << scanLines(Console6170, positions(0, 20), { { 16, 4 } });
    expected << QStringLiteral("[0] ") << QStringLiteral("[2] *** FIRMWARE UPDATE CANCELLED ***");
    ORVO_COMPARE_LINES(rig.front.lines, expected);
    QCOMPARE(rig.front.boxes.size(), 1);
    QCOMPARE(rig.front.boxes[0].icon, 4);
    QCOMPARE(rig.front.boxes[0].title, QStringLiteral("Auto Update"));
    QCOMPARE(rig.front.boxes[0].text, question(1));
    QCOMPARE(rig.front.boxes[0].buttons, 0x14000u);
    QVERIFY(rig.front.progressAuto.isEmpty());
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
        if (!queriesAtQuestion.isEmpty())
            return;
        const devsim::DeviceSnapshot s = rig.sim.snapshot(0);
        for (int i = 0; i < 20; ++i)
            queriesAtQuestion << s.boards[static_cast<std::size_t>(i)].statusQueries;
    };
    rig.front.answers.enqueue(kYes);
    QVERIFY(rig.run(AutoUpdate, rig.select(0)));
    ORVO_CHECK_OUTCOMES(rig, JobEnd::Done);

    QStringList expected = header(QStringLiteral("6170 Console [Desk]"), false);
    expected << required(Console6170, 0, 3, true);
    for (int i = 1; i < 20; ++i)
        expected << required(Console6170, i, 0);
    expected << kUpdatingBanner;
    expected << updating(Console6170, 0, 3, true) << succeeded(Console6170, 0);
    for (int i = 1; i < 20; ++i) {
        expected << updating(Console6170, i, 0);
        // The FPGAs were found in need and are written whatever they report now.
        expected << (isFpgaBoard(Console6170, panelSlot(Console6170, i).boardType) ? succeeded(Console6170, i)
                                                                                  : notRequired(Console6170, i));
    }
    expected << kFinished;
    ORVO_COMPARE_LINES(rig.front.lines, expected);

    QCOMPARE(queriesAtQuestion.size(), 20);
    QCOMPARE(queriesAtQuestion[0], 1);
    for (int i = 1; i < 20; ++i)
        QCOMPARE(queriesAtQuestion[i], 0);
    QCOMPARE(rig.front.boxes.size(), 2);
    QCOMPARE(rig.front.boxes[0].text, question(20));
    QCOMPARE(rig.front.boxes[1].text, QStringLiteral("Auto Update has finished!"));

    QVector<ProgressCall> autoProgress;
    for (int k = 0; k < 20; ++k)
        autoProgress.append({ true, k * 5, false, 0, 0 });
    autoProgress.append({ false, 0, true, 0, 100 });
    QCOMPARE(rig.front.progressAuto, autoProgress);

    const devsim::DeviceSnapshot s = rig.sim.snapshot(0);
    QCOMPARE(s.boards[0].enterRequests, 0); // already in its boot loader
    QCOMPARE(s.boards[0].erases, 1);
    QCOMPARE(s.boards[0].version, std::uint8_t(build(Console6170, 0)));
    QVERIFY(holdsImage(s.boards[0], rig.firmware.image(Console6170, 0)));
    QCOMPARE(s.boards[1].erases, 0);
    QCOMPARE(s.boards[1].statusQueries, 1);
    QCOMPARE(s.boards[7].erases, 1);
    QVERIFY(holdsImage(s.boards[7], rig.firmware.image(Console6170, 7)));
    QList<int> erased;
    for (const devsim::Event &e : rig.sim.events()) {
        if (e.what == QLatin1String("erase") && !erased.contains(e.position))
            erased << e.position;
    }
    QCOMPARE(erased, QList<int>({ 0, 7, 8, 9 }));
    QVERIFY(rig.sim.violations().isEmpty());
}

void tst_JobsVersions::twoBoardsFailTwice()
{
    JobRig rig;
    devsim::DeviceConfig c = console(0);
    setVersion(c, 2, 10); // Monitor AudioBoard, build 11
    setVersion(c, 3, 6);  // Monitor 3350 AudioBoard, build 7
    setVersion(c, 16, 4); // Channel Meter 1-8, build 5
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

    QStringList expected = header(QStringLiteral("6170 Console [Desk]"), false);
    expected << scanLines(Console6170, positions(0, 20), { { 2, 10 }, { 3, 6 }, { 16, 4 } });
    expected << kUpdatingBanner;
    expected << updating(Console6170, 2, 10)
             << QStringLiteral("[11]^ Update firmware file missing!    ") + boardStatusText(Console6170, 2, 10);
    expected << updating(Console6170, 3, 6)
             << QStringLiteral("[11]^ Update firmware file missing!    ") + boardStatusText(Console6170, 3, 6);
    expected << updating(Console6170, 16, 4) << succeeded(Console6170, 16);
    expected << kFinished << QStringLiteral("[0] ")
             << QStringLiteral("[3] WARNING!  Firmware update FAILED on 2 panels/boards!");
    ORVO_COMPARE_LINES(rig.front.lines, expected);

    QCOMPARE(rig.front.boxes.size(), 2);
    QCOMPARE(rig.front.boxes[0].text, question(3));
    QCOMPARE(rig.front.boxes[1].icon, 3);
    QCOMPARE(rig.front.boxes[1].title, QStringLiteral("Auto Update"));
    QCOMPARE(rig.front.boxes[1].text, QStringLiteral("WARNING!  Firmware update FAILED on 2 panels/boards!"));
    QCOMPARE(rig.front.boxes[1].buttons, 0x400u);

    const devsim::DeviceSnapshot s = rig.sim.snapshot(0);
    // Scan, fresh query, and one check after each of the two attempts; the PIC asked per attempt.
    QCOMPARE(s.boards[2].statusQueries, 4);
    QCOMPARE(s.boards[2].picQueries, 2);
    QCOMPARE(s.boards[2].erases, 0);
    QCOMPARE(s.boards[3].statusQueries, 4);
    QCOMPARE(s.boards[16].checksumErrors, 25);
    QCOMPARE(s.boards[16].enterRequests, 1);
    QCOMPARE(s.boards[16].erases, 2);
    QCOMPARE(s.boards[16].version, std::uint8_t(5));
    QVERIFY(holdsImage(s.boards[16], rig.firmware.image(Console6170, 16)));
    QCOMPARE(m_debug->matching(QStringLiteral("nRW: ")).size(), 25);
}

void tst_JobsVersions::forceUpdateWritesCurrentBoards()
{
    JobRig rig;
    devsim::DeviceConfig qrt = devsim::defaultDevice(Qrt3350, kAddress);
    qrt.name = "QRT";
    qrt.optionMask = 0x0A;
    QVERIFY(rig.startWith(qrt));
    rig.front.answers.enqueue(kYes);
    QVERIFY(rig.run(AutoUpdate, rig.select(0, 0, [](Worker &w) { w.forceUpdate = true; })));
    ORVO_CHECK_OUTCOMES(rig, JobEnd::Done);

    QStringList expected = header(QStringLiteral("3350 QRT [QRT]"), false);
    for (int i = 0; i < 5; ++i)
        expected << required(Qrt3350, i, build(Qrt3350, i));
    expected << kUpdatingBanner;
    for (int i = 0; i < 5; ++i)
        expected << updating(Qrt3350, i, build(Qrt3350, i)) << succeeded(Qrt3350, i);
    expected << kFinished;
    ORVO_COMPARE_LINES(rig.front.lines, expected);
    QCOMPARE(rig.front.boxes.size(), 2);
    QCOMPARE(rig.front.boxes[0].text, question(5));
    QCOMPARE(rig.front.boxes[1].text, QStringLiteral("Auto Update has finished!"));
    QVERIFY(!rig.worker().forceUpdate); // consumed by the job

    const devsim::DeviceSnapshot s = rig.sim.snapshot(0);
    for (int i = 0; i < 5; ++i) {
        QCOMPARE(s.boards[static_cast<std::size_t>(i)].erases, 1);
        QVERIFY(holdsImage(s.boards[static_cast<std::size_t>(i)], rig.firmware.image(Qrt3350, i)));
    }
    QVERIFY(rig.sim.violations().isEmpty());
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
        devsim::BoardConfig fpga;
        fpga.fitted = true;
        fpga.version = 13;
        rig.sim.setBoard(0, 7, fpga);
        devsim::BoardConfig meter;
        meter.fitted = true;
        meter.version = 5;
        rig.sim.setBoard(0, 16, meter);
    };
    rig.front.answers.enqueue(kYes);
    QVERIFY(rig.run(AutoUpdate, rig.select(0)));
    ORVO_CHECK_OUTCOMES(rig, JobEnd::Done);

    QStringList expected = header(QStringLiteral("6170 Console [Desk]"), false);
    expected << scanLines(Console6170, positions(0, 20), { { 7, 12 }, { 16, 4 } });
    expected << kUpdatingBanner;
    expected << updating(Console6170, 7, 12) << succeeded(Console6170, 7);
    expected << updating(Console6170, 16, 4) << notRequired(Console6170, 16);
    expected << kFinished;
    ORVO_COMPARE_LINES(rig.front.lines, expected);
    const devsim::DeviceSnapshot s = rig.sim.snapshot(0);
    QCOMPARE(s.boards[7].erases, 1);
    QVERIFY(holdsImage(s.boards[7], rig.firmware.image(Console6170, 7)));
    QCOMPARE(s.boards[16].erases, 0);
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

    QStringList expected = header(QStringLiteral("Lumivox KVR10 [Booth]"), false);
    expected << required(LumivoxKvr10, 0, 10) << kUpdatingBanner << updating(LumivoxKvr10, 0, 10)
             << QStringLiteral("[1]^ Update Successful!    ") + boardStatusText(LumivoxKvr10, 0, 11) + QStringLiteral("{T}")
             << QStringLiteral("[4] Warning: Interface Processor firmware version (11) differs from build version (12)")
             << kFinished;
    ORVO_COMPARE_LINES(rig.front.lines, expected);
    QCOMPARE(rig.front.boxes.last().text, QStringLiteral("Auto Update has finished!"));
}

void tst_JobsVersions::boardThatDoesNotAnswerCountsAsFailed()
{
    // A board that does not answer the scan is listed as out of date with version 0, is tried
    // twice, and is counted as failed: the device never passes as up to date.
    JobRig rig;
    devsim::DeviceConfig c = console(0);
    c.boards[17].fitted = false;
    QVERIFY(rig.startWith(c));
    rig.front.answers.enqueue(kYes);
    QVERIFY(rig.run(AutoUpdate, rig.select(0)));
    ORVO_CHECK_OUTCOMES(rig, JobEnd::Done);

    QStringList expected = header(QStringLiteral("6170 Console [Desk]"), false);
    expected << scanLines(Console6170, positions(0, 20), { { 17, 0 } }) << kUpdatingBanner;
    expected << updating(Console6170, 17, 0)
             << QStringLiteral("[8]^ There was a problem connecting to the panel/board!    ")
            + boardStatusText(Console6170, 17, 0);
    expected << kFinished << QStringLiteral("[0] ")
             << QStringLiteral("[3] WARNING!  Firmware update FAILED on 1 panels/boards!");
    ORVO_COMPARE_LINES(rig.front.lines, expected);
    QCOMPARE(rig.front.boxes.size(), 2);
    QCOMPARE(rig.front.boxes[1].icon, 3);
}

void tst_JobsVersions::abortEndsTheUpdateAtOnce()
{
    JobRig rig;
    devsim::DeviceConfig c = console(0);
    setVersion(c, 16, 4);
    QVERIFY(rig.startWith(c));
    // The window asks for an abort only when it closes; here it comes while the question is open.
    rig.front.onBox = [&](const BoxCall &) { rig.worker().abort(); };
    rig.front.answers.enqueue(kYes);
    QVERIFY(rig.run(AutoUpdate, rig.select(0, 0, [](Worker &w) { w.forceUpdate = true; })));
    ORVO_CHECK_OUTCOMES(rig, JobEnd::Aborted);

    QStringList expected = header(QStringLiteral("6170 Console [Desk]"), false);
    for (int i : positions(0, 20))
        expected << required(Console6170, i, i == 16 ? 4 : build(Console6170, i));
    expected << kUpdatingBanner;
    ORVO_COMPARE_LINES(rig.front.lines, expected);
    QCOMPARE(rig.front.boxes.size(), 1);
    QVERIFY(rig.front.progressAuto.isEmpty());
    QVERIFY(rig.worker().forceUpdate); // an aborted job leaves it
    QCOMPARE(rig.front.enables, QVector<bool>({ false, true }));
    QCOMPARE(rig.sim.snapshot(0).boards[16].erases, 0);
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
    QCOMPARE(rig.front.boxes.size(), 1);

    const devsim::DeviceSnapshot s = rig.sim.snapshot(0);
    QCOMPARE(s.boards[16].picQueries, 1); // no second attempt
    QCOMPARE(s.boards[16].erases, 1);
    QCOMPARE(s.boards[17].statusQueries, 1); // the scan's query only
    QCOMPARE(s.boards[17].erases, 0);
    QCOMPARE(s.infoRequests, infoRequestsBefore); // no record asked for on the way out
}

void tst_JobsVersions::refreshDeviceInfoAfterAutoUpdate()
{
    JobRig rig;
    devsim::DeviceConfig qrt = devsim::defaultDevice(Qrt3350, kAddress);
    qrt.name = "QRT";
    qrt.needsUpdate = 1;
    qrt.optionMask = 0x0A;
    qrt.boards[0].version = 11;
    QVERIFY(rig.startWith(qrt));
    rig.front.answers.enqueue(kYes);
    QVERIFY(rig.run(AutoUpdate, rig.select(0, 0, [](Worker &w) { w.refreshDeviceInfo = true; })));
    ORVO_CHECK_OUTCOMES(rig, JobEnd::Done);

    QStringList expected = header(QStringLiteral("3350 QRT [QRT]"), false);
    expected << required(Qrt3350, 0, 11) << kUpdatingBanner << updating(Qrt3350, 0, 11) << succeeded(Qrt3350, 0)
             << kFinished;
    ORVO_COMPARE_LINES(rig.front.lines, expected);
    QCOMPARE(rig.front.traceOf({ QStringLiteral("box"), QStringLiteral("devices"), QStringLiteral("enable") }),
             QStringList({ QStringLiteral("enable 0"), QStringLiteral("box"), QStringLiteral("box"),
                           QStringLiteral("devices"), QStringLiteral("enable 1") }));
    QVERIFY(!rig.worker().refreshDeviceInfo);
    // The device is asked for its record once more after everything else.
    QCOMPARE(rig.sim.events().last().what, QStringLiteral("info"));
    QCOMPARE(rig.front.deviceLists.size(), 1);
    QCOMPARE(rig.front.deviceLists.first().size(), 1);
}

void tst_JobsVersions::fullConsoleUpdate()
{
    JobRig rig;
    devsim::DeviceConfig c = console(1);
    for (int i = 0; i < 24; ++i)
        setVersion(c, i, build(Console6170, i) - 1);
    QVERIFY(rig.startWith(c));
    rig.front.answers.enqueue(kYes);
    QVERIFY(rig.run(AutoUpdate, rig.select(0)));
    ORVO_CHECK_OUTCOMES(rig, JobEnd::Done);

    const QList<int> visited = positions(0, 24, 19);
    QStringList expected = header(QStringLiteral("6170 Console [Desk]"), false);
    for (int i : visited)
        expected << required(Console6170, i, build(Console6170, i) - 1);
    expected << kUpdatingBanner;
    for (int i : visited)
        expected << updating(Console6170, i, build(Console6170, i) - 1) << succeeded(Console6170, i);
    expected << kFinished;
    ORVO_COMPARE_LINES(rig.front.lines, expected);
    QCOMPARE(rig.front.boxes.size(), 2);
    QCOMPARE(rig.front.boxes[0].text, question(23));
    QCOMPARE(rig.front.boxes[1].text, QStringLiteral("Auto Update has finished!"));

    const devsim::DeviceSnapshot s = rig.sim.snapshot(0);
    for (int i : visited) {
        const devsim::BoardSnapshot &b = s.boards[static_cast<std::size_t>(i)];
        QVERIFY2(b.version == build(Console6170, i), qPrintable(panelName(Console6170, i)));
        QVERIFY2(b.state == devsim::BoardState::Running, qPrintable(panelName(Console6170, i)));
        QVERIFY2(b.erases == 1, qPrintable(panelName(Console6170, i)));
        QVERIFY2(holdsImage(b, rig.firmware.image(Console6170, i)), qPrintable(panelName(Console6170, i)));
    }
    QCOMPARE(s.boards[19].erases, 0);
    QCOMPARE(s.boards[19].statusQueries, 0);

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
