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

} // namespace

class tst_JobsPanel : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void checkPanel_data();
    void checkPanel();
    void updatePanel_data();
    void updatePanel();
    void reset_data();
    void reset();
    void rename_data();
    void rename();
    void identify();
    void selectionThatAddressesNothing_data();
    void selectionThatAddressesNothing();
};

void tst_JobsPanel::initTestCase()
{
    qRegisterMetaType<devsim::BoardConfig>();
    quietDebugLines();
}

void tst_JobsPanel::checkPanel_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("position");
    QTest::addColumn<devsim::BoardConfig>("config");
    QTest::addColumn<QStringList>("lines");

    QTest::newRow("running") << int(Console6170) << 16 << board(5)
                             << QStringList { "[2] Contacting Channel Meter 1-8...",
                                    "[2] Channel Meter 1-8 Found!  Firmware version: 5  (5)",
                                    "[2] Processor: PIC32MZ2048EFG144" };
    QTest::newRow("boot loader") << int(Console6170) << 13 << board(9, devsim::BoardState::BootLoader, 2)
                                 << QStringList { "[2] Contacting Channel AudioBoard 13-16...",
                                        "[4] Warning!  Channel AudioBoard 13-16 in BootMode!  Firmware version: 9 (10)",
                                        "[2] Processor: PIC32MZ1024EFG144" };
    QTest::newRow("processor does not answer") << int(LumivoxKvr10) << 0 << board(11, devsim::BoardState::Running, -1)
                                               << QStringList { "[2] Contacting Interface Processor...",
                                                      "[2] Interface Processor Found!  Firmware version: 11  (12)",
                                                      "[2] Processor: Original PIC32MZ2048EFG..." };
    // An FPGA reporting version 0 needs an update whatever its boot-mode flag says.
    QTest::newRow("FPGA version 0") << int(Qrt3350) << 2 << board(0, devsim::BoardState::BootLoader)
                                    << QStringList { "[2] Contacting Digital Board FPGA...",
                                           "[4] Warning!  Digital Board FPGA requires firmware update!  "
                                           "Firmware version: 0 (10)" };
    QTest::newRow("FPGA in boot loader") << int(Qrt3350) << 4 << board(4, devsim::BoardState::BootLoader)
                                         << QStringList { "[2] Contacting Digital ADAT Board FPGA...",
                                                "[2] Digital ADAT Board FPGA Found!  Firmware version: 4  (4)" };
    devsim::BoardConfig missing;
    missing.fitted = false;
    QTest::newRow("not fitted") << int(Console6170) << 17 << missing
                                << QStringList { "[2] Contacting Channel Meter 9-16...",
                                       "[4] Warning!  Failed to Connect to Channel Meter 9-16" };
}

void tst_JobsPanel::checkPanel()
{
    QFETCH(int, type);
    QFETCH(int, position);
    QFETCH(devsim::BoardConfig, config);
    QFETCH(QStringList, lines);

    JobRig rig;
    devsim::DeviceConfig c = device(type, position, config);
    c.optionMask = 0x0A;
    QVERIFY(rig.startWith(c));
    QVERIFY(rig.run(JobMode::CheckPanel, rig.select(0, position)));
    QCOMPARE(rig.ended(), QStringLiteral("done 0"));
    QCOMPARE(rig.front.lines, QStringList({ "[0] " }) + lines);
    QCOMPARE(rig.front.enables, QVector<bool>({ false, true }));
}

void tst_JobsPanel::updatePanel_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("position");
    QTest::addColumn<devsim::BoardConfig>("config");
    QTest::addColumn<bool>("refresh"); // the device flagged an interface update
    QTest::addColumn<QString>("ended");
    QTest::addColumn<QStringList>("last"); // the last lines, without the elapsed time
    QTest::addColumn<QString>("file");     // the firmware file the job chose
    QTest::addColumn<int>("versionAfter");

    QTest::newRow("meter") << int(Console6170) << 16 << board(4) << false << "done 0"
                           << QStringList { "[0] ", "[6] Channel Meter 1-8:  Update Successful! " }
                           << "6170/MetersPIC.hex" << 5;
    // The board without its processor's file counts as failed, and is never asked.
    QTest::newRow("meter with a 1024 part, its file missing")
        << int(Console6170) << 16 << board(4, devsim::BoardState::Running, 2) << false << "done 1"
        << QStringList { "[3] *** Error: Could not open/find the firmware file!",
               "[2] *** Please make sure the file: '{HexFiles}6170/MetersPIC_PIC32MZ1024EFG144.hex' exists",
               "[11] Channel Meter 1-8:  Update firmware file missing! " }
        << "6170/MetersPIC_PIC32MZ1024EFG144.hex" << 4;
    // The result line first, then the device's record is asked for again.
    QTest::newRow("interface, record refreshed")
        << int(LumivoxKvr30) << 0 << board(4) << true << "done 0"
        << QStringList { "[0] ", "[6] Interface Processor:  Update Successful! " } << "KVR30/KVR30InterfacePIC.hex"
        << 5;
}

void tst_JobsPanel::updatePanel()
{
    QFETCH(int, type);
    QFETCH(int, position);
    QFETCH(devsim::BoardConfig, config);
    QFETCH(bool, refresh);
    QFETCH(QString, ended);
    QFETCH(QStringList, last);
    QFETCH(QString, file);
    QFETCH(int, versionAfter);

    JobRig rig;
    QVERIFY(rig.startWith(device(type, position, config)));
    QVERIFY(rig.run(
        JobMode::UpdatePanel, rig.select(0, position, [refresh](WorkRequest &w) { w.refreshDeviceInfo = refresh; })));
    QCOMPARE(rig.ended(), ended);

    const QStringList lines = withoutTimes(rig.front.lines);
    QCOMPARE(lines.mid(0, 3),
        QStringList({ "[0] ", "[0] ", "[2] Updating firmware on " + panelName(type, position) + "..." }));
    QCOMPARE(lines.mid(lines.size() - last.size()), last.replaceInStrings("{HexFiles}", rig.firmware.folder()));
    QCOMPARE(rig.front.traceOf({ QStringLiteral("devices"), QStringLiteral("enable") }),
        refresh ? QStringList({ "enable 0", "devices", "enable 1" }) : QStringList({ "enable 0", "enable 1" }));
    QCOMPARE(rig.worker().currentFirmwareFile(), rig.firmware.path(file).toLocal8Bit());
    QCOMPARE(int(rig.sim.snapshot(0).boards[static_cast<std::size_t>(position)].version), versionAfter);
    if (refresh)
        QCOMPARE(rig.sim.events().last().what, QStringLiteral("info"));
}

void tst_JobsPanel::reset_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("position");
    QTest::addColumn<bool>("refuse"); // the device refuses connections
    QTest::addColumn<bool>("check");  // checkAfterReset
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<int>("probes"); // record requests after the reset

    // Only a board that takes the device's network down with it is waited for with probes.
    QTest::newRow("ordinary board") << int(Console6170) << 16 << false << false
                                    << QStringList { "[0] ", "[2] Resetting Channel Meter 1-8..." } << 0;
    QTest::newRow("network board") << int(Console6170) << 0 << false << false
                                   << QStringList { "[0] ", "[2] Resetting Monitor Interface..." } << 1;
    QTest::newRow("then check") << int(LumivoxTx512) << 0 << false << true
                                << QStringList { "[0] ", "[2] Resetting Interface Processor...", "[0] ",
                                       "[2] Contacting Interface Processor...",
                                       "[2] Interface Processor Found!  Firmware version: 7  (7)",
                                       "[2] Processor: PIC32MZ2048EFG144" }
                                << 1;
    // No wait after a reset that was not delivered.
    QTest::newRow("failed, then check") << int(Console6170) << 4 << true << true
                                        << QStringList { "[0] ", "[2] Resetting Channel Master 1-8...",
                                               "[4] Warning!  Failed to Reset Channel Master 1-8", "[0] ",
                                               "[2] Contacting Channel Master 1-8...",
                                               "[4] Warning!  Failed to Connect to Channel Master 1-8" }
                                        << 0;
}

void tst_JobsPanel::reset()
{
    QFETCH(int, type);
    QFETCH(int, position);
    QFETCH(bool, refuse);
    QFETCH(bool, check);
    QFETCH(QStringList, lines);
    QFETCH(int, probes);

    JobRig rig;
    QVERIFY(rig.startWith(device(type)));
    const int infoBefore = rig.sim.snapshot(0).infoRequests;
    if (refuse)
        rig.sim.addFault(0, { devsim::FaultKind::RefuseConnections, -1, 1, -1, 0 });
    QVERIFY(
        rig.run(JobMode::ResetPanel, rig.select(0, position, [check](WorkRequest &w) { w.checkAfterReset = check; })));
    QCOMPARE(rig.ended(), QStringLiteral("done 0"));

    QCOMPARE(rig.front.lines, lines);
    QCOMPARE(rig.front.enables, check ? QVector<bool>({ false, false, true }) : QVector<bool>({ false, true }));
    QCOMPARE(rig.sim.snapshot(0).infoRequests, infoBefore + probes);
    QCOMPARE(rig.sim.snapshot(0).boards[static_cast<std::size_t>(position)].resets, refuse ? 0 : 1);
    QCOMPARE(rig.front.progress.isEmpty(), refuse);
}

void tst_JobsPanel::rename_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("vanished"); // the device refuses connections by then
    QTest::addColumn<QByteArray>("stored");
    QTest::newRow("21 characters") << QStringLiteral("Studio B Main Console") << false
                                   << QByteArray("Studio B Main Console");
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
    const DeviceList before = rig.worker().knownDevices();
    if (vanished)
        rig.sim.addFault(1, { devsim::FaultKind::RefuseConnections, -1, 1, -1, 0 });
    QVERIFY(rig.run(JobMode::RenameDevice, rig.select(1, 0, [name](WorkRequest &w) { w.newDeviceName = name; })));
    QCOMPARE(rig.ended(), QStringLiteral("done 0"));
    QCOMPARE(rig.front.jobEnds.first().delivered.value_or(vanished), !vanished);

    QVERIFY(rig.front.lines.isEmpty());
    QCOMPARE(rig.front.traceOf({ QStringLiteral("devices"), QStringLiteral("enable") }),
        QStringList({ QStringLiteral("enable 0"), QStringLiteral("devices"), QStringLiteral("enable 1") }));
    QCOMPARE(rig.sim.snapshot(1).name, stored);
    const DeviceList list = rig.front.deviceLists.first();
    QCOMPARE(list.at(index).nameBytes(), stored);
    QCOMPARE(list.at(1 - index), before.at(1 - index));
    QCOMPARE(rig.worker().knownDevices(), list);
}

void tst_JobsPanel::identify()
{
    JobRig rig;
    QVERIFY(rig.startWith(device(Qrt3350)));
    QVERIFY(rig.run(JobMode::IdentifyDevice, rig.select(0)));
    QCOMPARE(rig.ended(), QStringLiteral("done 0"));
    QVERIFY(rig.front.jobEnds.first().delivered.value_or(false));
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

    const QString noDevice = QStringLiteral("[4] Warning!  No device selected");
    const QString noPanel = QStringLiteral("[4] Warning!  No panel selected");
    const struct
    {
        int mode;
        const char *name;
    } modes[] = { { int(JobMode::AutoUpdate), "auto update" }, { int(JobMode::GetVersions), "get versions" },
        { int(JobMode::CheckPanel), "check" }, { int(JobMode::UpdatePanel), "update" },
        { int(JobMode::ResetPanel), "reset" }, { int(JobMode::RenameDevice), "rename" },
        { int(JobMode::IdentifyDevice), "identify" } };
    for (const auto &m : modes) {
        QTest::addRow("%s, device beyond the list", m.name) << m.mode << 1 << 0 << 0 << noDevice;
        QTest::addRow("%s, no device", m.name) << m.mode << -1 << 0 << 0 << noDevice;
    }
    QTest::newRow("check, position beyond the device") << int(JobMode::CheckPanel) << 0 << 2 << 1 << noPanel;
    QTest::newRow("update, negative position") << int(JobMode::UpdatePanel) << 0 << 0 << -1 << noPanel;
    QTest::newRow("reset, position beyond the catalogue") << int(JobMode::ResetPanel) << 0 << 0 << 24 << noPanel;
    QTest::newRow("check, unknown device type")
        << int(JobMode::CheckPanel) << 0 << 7 << 0 << QStringLiteral("[4] Warning!  Unknown device type 7");
    QTest::newRow("auto update, unknown device type")
        << int(JobMode::AutoUpdate) << 0 << -1 << 0 << QStringLiteral("[4] Warning!  Unknown device type -1");
}

void tst_JobsPanel::selectionThatAddressesNothing()
{
    QFETCH(int, mode);
    QFETCH(int, selectedDevice);
    QFETCH(int, deviceType);
    QFETCH(int, panelIndex);
    QFETCH(QString, warning);

    JobRig rig;
    QVERIFY(rig.startWith(device(LumivoxKvr10)));
    const int requestsBefore = rig.sim.snapshot(0).requests;
    QVERIFY(rig.run(JobMode(mode), [&](WorkRequest &w) {
        w.selectedDevice = selectedDevice;
        w.deviceType = deviceType;
        w.panelIndex = panelIndex;
        w.checkAfterReset = true;
        w.forceUpdate = mode == int(JobMode::AutoUpdate);
        w.newDeviceName = QStringLiteral("x");
    }));
    QCOMPARE(rig.ended(), QStringLiteral("refused 0"));
    QCOMPARE(rig.front.lines, QStringList({ warning }));
    // A rename hands the window its (unchanged) list back, as after any rename.
    QCOMPARE(rig.front.trace,
        mode == int(JobMode::RenameDevice) ? QStringList({ "enable 0", "line", "devices", "enable 1" })
                                           : QStringList({ "enable 0", "line", "enable 1" }));
    QCOMPARE(rig.sim.snapshot(0).requests, requestsBefore); // nothing was sent anywhere
}

QTEST_GUILESS_MAIN(tst_JobsPanel)
#include "tst_jobs_panel.moc"
