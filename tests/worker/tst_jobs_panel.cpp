// The board and device jobs (check, update, reset, rename, identify), driven through the host's
// request protocol against simulated devices, and the guard of every job against a selection
// that addresses nothing.

#include "catalogue.h"
#include "jobrig.h"

#include <QtTest>

using namespace orvo;
using namespace orvo::test;

Q_DECLARE_METATYPE(orvo::devsim::BoardConfig)

namespace {

const QString kAddress = QStringLiteral("127.0.0.2");

devsim::BoardConfig board(int version, devsim::BoardState state = devsim::BoardState::Running, int picVariant = 0)
{
    devsim::BoardConfig b;
    b.fitted = true;
    b.version = static_cast<std::uint8_t>(version);
    b.state = state;
    b.picVariant = picVariant;
    return b;
}

devsim::DeviceConfig device(int type, int position = -1, const devsim::BoardConfig &b = {})
{
    devsim::DeviceConfig c = devsim::defaultDevice(type, kAddress);
    c.name = "Unit";
    if (position >= 0)
        c.boards[static_cast<std::size_t>(position)] = b;
    return c;
}

const ProgressCall kHidden { false, 0, true, 0, 100 };

// The waiting values of a restart wait, which must rise and end as given.
bool waitingRisesTo(const QVector<ProgressCall> &calls, int last)
{
    int previous = -1;
    for (const ProgressCall &c : calls) {
        if (!c.visible || c.showText || c.min != 0 || c.max != 0 || c.value < previous)
            return false;
        previous = c.value;
    }
    return previous == last;
}

} // namespace

class tst_JobsPanel : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void checkPanel_data();
    void checkPanel();
    void updatePanel();
    void updatePanelWithMissingVariantFile();
    void updateInterfaceRefreshesDeviceInfo();
    void reset_data();
    void reset();
    void rename_data();
    void rename();
    void identify();
    void selectionThatAddressesNothing_data();
    void selectionThatAddressesNothing();

private:
    std::unique_ptr<DebugCapture> m_debug;
};

void tst_JobsPanel::initTestCase()
{
    qRegisterMetaType<devsim::BoardConfig>();
    m_debug = std::make_unique<DebugCapture>();
}

void tst_JobsPanel::cleanupTestCase()
{
    m_debug.reset();
}

void tst_JobsPanel::checkPanel_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("position");
    QTest::addColumn<devsim::BoardConfig>("config");
    QTest::addColumn<QStringList>("result");
    QTest::addColumn<int>("picQueries");

    QTest::newRow("running") << int(Console6170) << 16 << board(5)
                             << QStringList({ QStringLiteral("[2] Channel Meter 1-8 Found!  Firmware version: 5  (5)"),
                                              QStringLiteral("[2] Processor: PIC32MZ2048EFG144") })
                             << 1;
    QTest::newRow("boot loader") << int(Console6170) << 13 << board(9, devsim::BoardState::BootLoader, 2)
                                 << QStringList({ QStringLiteral("[4] Warning!  Channel AudioBoard 13-16 in BootMode!  "
                                                                 "Firmware version: 9 (10)"),
                                                  QStringLiteral("[2] Processor: PIC32MZ1024EFG144") })
                                 << 1;
    QTest::newRow("processor does not answer")
        << int(LumivoxKvr10) << 0 << board(11, devsim::BoardState::Running, -1)
        << QStringList({ QStringLiteral("[2] Interface Processor Found!  Firmware version: 11  (12)"),
                         QStringLiteral("[2] Processor: Original PIC32MZ2048EFG...") })
        << 10;
    QTest::newRow("FPGA") << int(Console6170) << 7 << board(13)
                          << QStringList({ QStringLiteral("[2] Channel Master FPGA 1-8 Found!  Firmware version: 13  (13)") })
                          << 0;
    // An FPGA reporting version 0 needs an update whatever its boot-mode flag says.
    QTest::newRow("FPGA version 0") << int(Qrt3350) << 2 << board(0, devsim::BoardState::BootLoader)
                                    << QStringList({ QStringLiteral("[4] Warning!  Digital Board FPGA requires firmware "
                                                                    "update!  Firmware version: 0 (10)") })
                                    << 0;
    QTest::newRow("FPGA in boot loader") << int(Qrt3350) << 4 << board(4, devsim::BoardState::BootLoader)
                                         << QStringList({ QStringLiteral("[2] Digital ADAT Board FPGA Found!  Firmware "
                                                                         "version: 4  (4)") })
                                         << 0;
    devsim::BoardConfig missing;
    missing.fitted = false;
    QTest::newRow("not fitted") << int(Console6170) << 17 << missing
                                << QStringList({ QStringLiteral("[4] Warning!  Failed to Connect to Channel Meter 9-16") })
                                << 0;
}

void tst_JobsPanel::checkPanel()
{
    QFETCH(int, type);
    QFETCH(int, position);
    QFETCH(devsim::BoardConfig, config);
    QFETCH(QStringList, result);
    QFETCH(int, picQueries);

    JobRig rig;
    devsim::DeviceConfig c = device(type, position, config);
    c.optionMask = 0x0A;
    QVERIFY(rig.startWith(c));
    QVERIFY(rig.run(CheckPanel, rig.select(0, position)));
    QCOMPARE(rig.ended(), QStringLiteral("done 0"));

    const QStringList expected = QStringList({ QStringLiteral("[0] "), QStringLiteral("[2] Contacting ")
                                                   + panelName(type, position) + QStringLiteral("...") })
        + result;
    ORVO_COMPARE_LINES(rig.front.lines, expected);
    QCOMPARE(rig.front.enables, QVector<bool>({ false, true }));
    QCOMPARE(rig.sim.snapshot(0).boards[static_cast<std::size_t>(position)].picQueries, picQueries);
}

void tst_JobsPanel::updatePanel()
{
    JobRig rig;
    QVERIFY(rig.startWith(device(Console6170, 16, board(4))));
    QVERIFY(rig.run(UpdatePanel, rig.select(0, 16)));
    QCOMPARE(rig.ended(), QStringLiteral("done 0"));

    const QStringList &lines = rig.front.lines;
    QVERIFY(lines.size() > 4);
    QCOMPARE(lines.mid(0, 3), QStringList({ QStringLiteral("[0] "), QStringLiteral("[0] "),
                                            QStringLiteral("[2] Updating firmware on Channel Meter 1-8...") }));
    ORVO_COMPARE_LINES(lines.mid(lines.size() - 2),
                       QStringList({ QStringLiteral("[0] "), QStringLiteral("[6] Channel Meter 1-8:  Update Successful! {T}") }));
    QCOMPARE(rig.front.enables, QVector<bool>({ false, true }));
    QVERIFY(rig.front.deviceLists.isEmpty());

    const devsim::DeviceSnapshot s = rig.sim.snapshot(0);
    QCOMPARE(s.boards[16].version, std::uint8_t(5));
    QCOMPARE(s.boards[16].state, devsim::BoardState::Running);
    QCOMPARE(s.boards[16].hexImage, rig.firmware.image(Console6170, 16).hex);
    QCOMPARE(rig.worker().currentFirmwareFile(), rig.firmware.path(QStringLiteral("6170/MetersPIC.hex")).toLocal8Bit());
    QVERIFY(rig.sim.violations().isEmpty());
}

void tst_JobsPanel::updatePanelWithMissingVariantFile()
{
    JobRig rig;
    QVERIFY(rig.startWith(device(Console6170, 16, board(4, devsim::BoardState::Running, 2))));
    QVERIFY(rig.run(UpdatePanel, rig.select(0, 16)));
    QCOMPARE(rig.ended(), QStringLiteral("done 1")); // the board without its file counts as failed

    const QString variant = rig.firmware.path(QStringLiteral("6170/MetersPIC_PIC32MZ1024EFG144.hex"));
    ORVO_COMPARE_LINES(rig.front.lines.mid(rig.front.lines.size() - 3),
                       QStringList({ QStringLiteral("[3] *** Error: Could not open/find the firmware file!"),
                                     QStringLiteral("[2] *** Please make sure the file: '") + variant
                                         + QStringLiteral("' exists"),
                                     QStringLiteral("[11] Channel Meter 1-8:  Update firmware file missing! {T}") }));
    QCOMPARE(rig.worker().currentFirmwareFile(), variant.toLocal8Bit());
    QCOMPARE(rig.sim.snapshot(0).boards[16].statusQueries, 0);
}

void tst_JobsPanel::updateInterfaceRefreshesDeviceInfo()
{
    JobRig rig;
    QVERIFY(rig.startWith(device(LumivoxKvr30, 0, board(4))));
    QVERIFY(rig.run(UpdatePanel, rig.select(0, 0, [](Worker &w) { w.refreshDeviceInfo = true; })));
    QCOMPARE(rig.ended(), QStringLiteral("done 0"));

    ORVO_COMPARE_LINES(rig.front.lines.mid(rig.front.lines.size() - 1),
                       QStringList({ QStringLiteral("[6] Interface Processor:  Update Successful! {T}") }));
    QCOMPARE(rig.front.traceOf({ QStringLiteral("devices"), QStringLiteral("enable") }),
             QStringList({ QStringLiteral("enable 0"), QStringLiteral("devices"), QStringLiteral("enable 1") }));
    QCOMPARE(rig.front.trace.at(rig.front.trace.size() - 3), QStringLiteral("line")); // the result line first
    QVERIFY(!rig.worker().refreshDeviceInfo);
    QCOMPARE(rig.sim.events().last().what, QStringLiteral("info"));
    QCOMPARE(rig.sim.snapshot(0).boards[0].version, std::uint8_t(5));
}

void tst_JobsPanel::reset_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("position");
    QTest::addColumn<bool>("refuse");      // the device refuses connections
    QTest::addColumn<bool>("check");       // checkAfterReset
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<int>("waitTicks");    // progress values of the restart wait, -1: not counted
    QTest::addColumn<int>("waitEnd");      // its last value
    QTest::addColumn<int>("probes");       // record requests after the reset

    const QString blank = QStringLiteral("[0] ");
    QTest::newRow("ordinary board: the full 30 s, without probes")
        << int(Console6170) << 16 << false << false
        << QStringList { blank, QStringLiteral("[2] Resetting Channel Meter 1-8...") } << 3000 << 100 << 0;
    // 3000 ticks of the 10500, then the bar fills up to 99 at once and is hidden.
    QTest::newRow("network board answering the first probe")
        << int(Console6170) << 0 << false << false
        << QStringList { blank, QStringLiteral("[2] Resetting Monitor Interface...") } << 3000 + 71 << 99 << 1;
    QTest::newRow("then check")
        << int(LumivoxTx512) << 0 << false << true
        << QStringList { blank, QStringLiteral("[2] Resetting Interface Processor..."), blank,
                         QStringLiteral("[2] Contacting Interface Processor..."),
                         QStringLiteral("[2] Interface Processor Found!  Firmware version: 7  (7)"),
                         QStringLiteral("[2] Processor: PIC32MZ2048EFG144") }
        << -1 << 99 << 1;
    // No wait after a reset that was not delivered.
    QTest::newRow("failed, then check")
        << int(Console6170) << 4 << true << true
        << QStringList { blank, QStringLiteral("[2] Resetting Channel Master 1-8..."),
                         QStringLiteral("[4] Warning!  Failed to Reset Channel Master 1-8"), blank,
                         QStringLiteral("[2] Contacting Channel Master 1-8..."),
                         QStringLiteral("[4] Warning!  Failed to Connect to Channel Master 1-8") }
        << 0 << 0 << 0;
}

void tst_JobsPanel::reset()
{
    QFETCH(int, type);
    QFETCH(int, position);
    QFETCH(bool, refuse);
    QFETCH(bool, check);
    QFETCH(QStringList, lines);
    QFETCH(int, waitTicks);
    QFETCH(int, waitEnd);
    QFETCH(int, probes);

    JobRig rig;
    QVERIFY(rig.startWith(device(type)));
    const int infoBefore = rig.sim.snapshot(0).infoRequests;
    if (refuse)
        rig.sim.addFault(0, { devsim::FaultKind::RefuseConnections, -1, 1, -1, 0 });
    QVERIFY(rig.run(ResetPanel, rig.select(0, position, [check](Worker &w) { w.checkAfterReset = check; })));
    QCOMPARE(rig.ended(), QStringLiteral("done 0"));

    ORVO_COMPARE_LINES(rig.front.lines, lines);
    QCOMPARE(rig.front.enables, check ? QVector<bool>({ false, false, true }) : QVector<bool>({ false, true }));
    QVERIFY(!rig.worker().checkAfterReset);
    QCOMPARE(rig.sim.snapshot(0).infoRequests, infoBefore + probes);
    QCOMPARE(rig.sim.snapshot(0).boards[static_cast<std::size_t>(position)].resets, refuse ? 0 : 1);
    if (waitTicks == 0) {
        QVERIFY(rig.front.progress.isEmpty());
        return;
    }
    QCOMPARE(rig.front.progress.last(), kHidden);
    const QVector<ProgressCall> waiting = rig.front.progress.mid(0, rig.front.progress.size() - 1);
    QVERIFY(waitTicks < 0 || waiting.size() == waitTicks);
    QVERIFY(waitingRisesTo(waiting, waitEnd));
}

void tst_JobsPanel::rename_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("vanished"); // the device refuses connections by then
    QTest::addColumn<QByteArray>("stored");
    QTest::newRow("21 characters") << QStringLiteral("Studio B Main Console") << false << QByteArray("Studio B Main Console");
    QTest::newRow("vanished device: the list unchanged") << QStringLiteral("Gone") << true << QByteArray("Unit");
}

void tst_JobsPanel::rename()
{
    QFETCH(QString, name);
    QFETCH(bool, vanished);
    QFETCH(QByteArray, stored);
    JobRig rig;
    rig.sim.addDevice(devsim::defaultDevice(LumivoxKvr10, QStringLiteral("127.0.0.3")));
    rig.sim.addDevice(device(Console6170));
    QVERIFY(rig.start());
    QVERIFY(rig.discover());
    const int index = rig.listIndexOf(1);
    const DeviceList before = rig.worker().foundDevices;
    if (vanished)
        rig.sim.addFault(1, { devsim::FaultKind::RefuseConnections, -1, 1, -1, 0 });
    QVERIFY(rig.run(RenameDevice, rig.select(1, 0, [name](Worker &w) { w.newDeviceName = name; })));
    QCOMPARE(rig.ended(), QStringLiteral("done 0"));
    QCOMPARE(rig.front.jobEnds.first().delivered.value_or(vanished), !vanished);

    QVERIFY(rig.front.lines.isEmpty());
    QCOMPARE(rig.front.traceOf({ QStringLiteral("devices"), QStringLiteral("enable") }),
             QStringList({ QStringLiteral("enable 0"), QStringLiteral("devices"), QStringLiteral("enable 1") }));
    QCOMPARE(rig.sim.snapshot(1).name, stored);
    QCOMPARE(rig.sim.snapshot(1).renames, vanished ? 0 : 1);
    QVERIFY(rig.sim.violations().isEmpty());
    const DeviceList list = rig.front.deviceLists.first();
    QCOMPARE(list.size(), 2);
    QCOMPARE(list.at(index).nameBytes(), stored);
    QCOMPARE(list.at(1 - index), before.at(1 - index));
    QCOMPARE(rig.worker().foundDevices, list);
    if (vanished)
        QCOMPARE(list, before);
}

void tst_JobsPanel::identify()
{
    JobRig rig;
    QVERIFY(rig.startWith(device(Qrt3350)));
    QVERIFY(rig.run(IdentifyDevice, rig.select(0)));
    QCOMPARE(rig.ended(), QStringLiteral("done 0"));
    QVERIFY(rig.front.jobEnds.first().delivered.value_or(false));
    QVERIFY(rig.front.lines.isEmpty());
    QCOMPARE(rig.front.trace, QStringList({ QStringLiteral("enable 0"), QStringLiteral("enable 1") }));
    // The request gets no reply: the job is done once it is written, which may be before the
    // simulator's thread has read it.
    QTRY_COMPARE(rig.sim.snapshot(0).identifies, 1);
    QVERIFY(rig.sim.violations().isEmpty());
}

void tst_JobsPanel::selectionThatAddressesNothing_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("selectedDevice");
    QTest::addColumn<int>("deviceType");
    QTest::addColumn<int>("panelIndex");
    QTest::addColumn<QString>("warning");
    QTest::addColumn<QStringList>("trace");

    const QString noDevice = QStringLiteral("[4] Warning!  No device selected");
    const QString noPanel = QStringLiteral("[4] Warning!  No panel selected");
    const QStringList plain = { QStringLiteral("enable 0"), QStringLiteral("line"), QStringLiteral("enable 1") };
    const QStringList withList = { QStringLiteral("enable 0"), QStringLiteral("line"), QStringLiteral("devices"),
                                   QStringLiteral("enable 1") };
    const struct
    {
        int mode;
        const char *name;
    } modes[] = { { AutoUpdate, "auto update" }, { GetVersions, "get versions" }, { CheckPanel, "check" },
                  { UpdatePanel, "update" },     { ResetPanel, "reset" },        { RenameDevice, "rename" },
                  { IdentifyDevice, "identify" } };
    for (const auto &m : modes) {
        const QStringList trace = m.mode == RenameDevice ? withList : plain;
        QTest::addRow("%s, device beyond the list", m.name) << m.mode << 1 << 0 << 0 << noDevice << trace;
        QTest::addRow("%s, no device", m.name) << m.mode << -1 << 0 << 0 << noDevice << trace;
    }
    QTest::newRow("check, position beyond the device") << int(CheckPanel) << 0 << 2 << 1 << noPanel << plain;
    QTest::newRow("update, negative position") << int(UpdatePanel) << 0 << 0 << -1 << noPanel << plain;
    QTest::newRow("reset, position beyond the catalogue") << int(ResetPanel) << 0 << 0 << 24 << noPanel << plain;
    QTest::newRow("check, unknown device type") << int(CheckPanel) << 0 << 7 << 0
                                                << QStringLiteral("[4] Warning!  Unknown device type 7") << plain;
    QTest::newRow("auto update, unknown device type") << int(AutoUpdate) << 0 << -1 << 0
                                                      << QStringLiteral("[4] Warning!  Unknown device type -1") << plain;
}

void tst_JobsPanel::selectionThatAddressesNothing()
{
    QFETCH(int, mode);
    QFETCH(int, selectedDevice);
    QFETCH(int, deviceType);
    QFETCH(int, panelIndex);
    QFETCH(QString, warning);
    QFETCH(QStringList, trace);

    JobRig rig;
    QVERIFY(rig.startWith(device(LumivoxKvr10)));
    const int requestsBefore = rig.sim.snapshot(0).requests;
    QVERIFY(rig.run(mode, [&](Worker &w) {
        w.selectedDevice = selectedDevice;
        w.deviceType = deviceType;
        w.panelIndex = panelIndex;
        w.checkAfterReset = true;
        w.refreshDeviceInfo = mode == UpdatePanel;
        w.forceUpdate = mode == AutoUpdate;
        w.newDeviceName = QStringLiteral("x");
    }));
    QCOMPARE(rig.ended(), QStringLiteral("refused 0"));
    QVERIFY(rig.front.outcomes.isEmpty());
    QCOMPARE(rig.front.lines, QStringList({ warning }));
    QCOMPARE(rig.front.trace, trace);
    QVERIFY(rig.front.boxes.isEmpty());
    QCOMPARE(rig.sim.snapshot(0).requests, requestsBefore); // nothing was sent anywhere
    QVERIFY(!rig.worker().isWorking());
    // One-shot flags of the request are used up even though nothing was done.
    QVERIFY(!rig.worker().forceUpdate);
    QVERIFY(!rig.worker().checkAfterReset || mode != ResetPanel);
}

QTEST_GUILESS_MAIN(tst_JobsPanel)
#include "tst_jobs_panel.moc"
