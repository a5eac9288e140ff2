// The jobs as the window starts them, against simulated devices: the scan and the device list it
// leaves, every job control with its rows in the activity list and in the log file, the refusal
// of a second click, the Advanced Options password, renaming, and closing the window while a job
// still runs.

#include "../worker/simulation.h"
#include "appidentity.h"
#include "catalogue.h"
#include "clock.h"
#include "mainwindow.h"
#include "uitestsupport.h"
#include "worker.h"

#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTextStream>
#include <QThread>

#include <algorithm>
#include <atomic>

using namespace orvo;
using namespace orvo::ui;

namespace {

const QString kNoAddress = QStringLiteral("000.000.000.000");
const QString kScanningLabel = QStringLiteral("Type:     [No Orvo Products found] \nName:\nIP: \nMAC:\n");
// The window's log stamps come from this fixed time, so every logged row has a known prefix.
const QDateTime kStamp(QDate(2026, 5, 4), QTime(9, 8, 7, 6));
const QString kStampText = QStringLiteral("04/05/2026  09:08:07.006   ");
const QRegularExpression kDeleting(QStringLiteral("^Deleting thread and worker in Thread "));
const QRegularExpression kAborting(QStringLiteral("^Request worker aborting in Thread \\[abort\\(\\)\\] "));

using test::action;
using test::child;
using test::logPath;

qint64 logSize()
{
    return QFileInfo(logPath()).size();
}

/// The rows logged from byte `from` on, without their stamps; a line without the test's stamp
/// comes back whole, marked, so that a comparison shows it.
QStringList loggedRows(qint64 from)
{
    QFile file(logPath());
    QStringList rows;
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text) || !file.seek(from))
        return rows;
    QTextStream in(&file);
    in.setCodec("UTF-8");
    while (!in.atEnd()) {
        const QString line = in.readLine();
        rows << (line.startsWith(kStampText) ? line.mid(kStampText.size()) : QStringLiteral("NO STAMP: ") + line);
    }
    return rows;
}

QStringList listedRows(QWidget &w)
{
    auto *list = child<QListWidget>(w, "Log_listWidget");
    QStringList rows;
    for (int i = 0; i < list->count(); ++i)
        rows << list->item(i)->text();
    return rows;
}

QStringList comboRows(QWidget &w, const char *name)
{
    auto *combo = child<QComboBox>(w, name);
    QStringList rows;
    for (int i = 0; i < combo->count(); ++i)
        rows << combo->itemText(i);
    return rows;
}

/// Empty when every row of `wanted` starts a row of `rows`, in this order; else the first one
/// missing, with all rows.
QString missingInOrder(const QStringList &wanted, const QStringList &rows)
{
    auto from = rows.begin();
    for (const QString &w : wanted) {
        from = std::find_if(from, rows.end(), [&w](const QString &r) { return r.startsWith(w); });
        if (from == rows.end())
            return QStringLiteral("missing: ") + w + QStringLiteral("\n  in: ") + rows.join(QStringLiteral("\n      "));
        ++from;
    }
    return QString();
}

#define CHECK_IN_ORDER(wanted, rows)                                                                                   \
    do {                                                                                                               \
        const QString orvoMissing = missingInOrder((wanted), (rows));                                                  \
        QVERIFY2(orvoMissing.isEmpty(), qPrintable(orvoMissing));                                                      \
    } while (false)

/// What the device label shows for a device.
QString deviceLabel(int type, const QString &name, const QString &ip, const QString &mac, bool needsUpdate = false)
{
    return QStringLiteral("Type:\t ") + deviceTypeName(static_cast<std::uint32_t>(type)) + QStringLiteral("\nName:\t ")
        + name + QStringLiteral("\nIP:\t ") + ip + QStringLiteral("\nMAC:\t ") + mac + QStringLiteral("\nStatus:\t ")
        + (needsUpdate ? QStringLiteral("Interface Device requires firmware update") : QStringLiteral("OK"));
}

devsim::DeviceConfig device(int type, const char *address, const QByteArray &name)
{
    devsim::DeviceConfig c = devsim::defaultDevice(type, QLatin1String(address));
    c.name = name;
    return c;
}

/// Board `position` of `c` one version behind its build version.
void outOfDate(devsim::DeviceConfig &c, int position)
{
    devsim::BoardConfig &b = c.boards[static_cast<std::size_t>(position)];
    const int type = static_cast<int>(c.type);
    b.version = static_cast<std::uint8_t>(buildVersion(type, panelSlot(type, position).boardType) - 1);
}

/// The digest a board's image has once `image` is written to it.
QByteArray digestOf(const test::FirmwareTree::Image &image)
{
    devsim::BoardSnapshot board;
    board.hexImage = image.hex;
    board.fpgaImage = image.fpga;
    return devsim::imageDigest(board);
}

/// The window on a clock `speedUp` times faster than real time, its worker pointed at the
/// simulator and the firmware tree, scanning only the simulated devices' addresses.
class WindowRig
{
public:
    explicit WindowRig(double speedUp = 1000.0) : clock(speedUp), sim(1000.0) {}

    ScaledClock clock;
    devsim::Simulator sim;
    test::FirmwareTree firmware;
    std::unique_ptr<MainWindow> window; // last: it waits for the worker before the rest goes

    MainWindow &w() { return *window; }
    Worker *worker() const { return window->worker(); }

    bool start()
    {
        window = std::make_unique<MainWindow>(clock);
        window->setWallClock([] { return kStamp; });
        Worker *wk = worker();
        if (!startSimulation(sim, firmware, *wk))
            return false;
        wk->manualIpEnabled = true;
        for (int i = 0; i < 4; ++i)
            wk->manualIp[i] = i < sim.deviceCount() ? sim.address(i) : kNoAddress;
        window->show();
        return QTest::qWaitForWindowExposed(window.get());
    }

    /// True once no job runs, its thread has ended and the rows it sent are listed.
    bool idle()
    {
        const bool ended = QTest::qWaitFor(
            [this] { return !worker()->isWorking() && !worker()->thread()->isRunning(); }, 30000);
        QCoreApplication::processEvents();
        return ended;
    }

    /// Scans from the toolbar; true once every simulated device is listed.
    bool scan()
    {
        action(w(), "Scan Network")->trigger();
        return idle() && child<QComboBox>(w(), "comboBox_FoundDevices")->count() == sim.deviceCount();
    }

    /// Opens the Advanced Options with one of the codes.
    bool unlock()
    {
        test::answerInputDialog(QStringLiteral("qel"));
        action(w(), "Advanced")->trigger();
        QApplication::setActiveWindow(window.get()); // back from the password dialog
        return child<QGroupBox>(w(), "groupBox_AdvOpt")->isEnabled();
    }

    void selectDevice(int row) { child<QComboBox>(w(), "comboBox_FoundDevices")->setCurrentIndex(row); }
    void selectPanel(int position) { child<QComboBox>(w(), "comboBox_Panels")->setCurrentIndex(position); }
    void clearList() { child<QListWidget>(w(), "Log_listWidget")->clear(); }

    /// Empty when every control a finished job gives back is usable again; else the first that is not.
    QString unusableControl()
    {
        for (const char *a : { "Scan Network", "Set IP", "Rename", "Identify", "Auto Update", "Advanced" }) {
            if (!action(w(), a)->isEnabled())
                return QLatin1String(a);
        }
        for (const char *g : { "groupBox_Products", "comboBox_FoundDevices" }) {
            if (!child(w(), g)->isEnabled())
                return QLatin1String(g);
        }
        if (action(w(), "Advanced")->isChecked() && !child(w(), "groupBox_AdvOpt")->isEnabled())
            return QStringLiteral("groupBox_AdvOpt");
        return QString();
    }
};

enum Control { PressGetVersions, PressCheck, PressUpdate, PressReset, PressResetWithAlt, PressIdentify };
enum CloseDuring { DuringScan, DuringDownload, DuringRestartWait, DuringQuestion };

} // namespace

Q_DECLARE_METATYPE(Control)
Q_DECLARE_METATYPE(CloseDuring)

class WindowJobsTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { setApplicationIdentity(); }
    void init() { QFile::remove(logPath()); }
    void scanListsTheDevices_data();
    void scanListsTheDevices();
    void jobControls_data();
    void jobControls();
    void autoUpdate_data();
    void autoUpdate();
    void autoUpdateKeys_data();
    void autoUpdateKeys();
    void secondClickDuringAJob_data();
    void secondClickDuringAJob();
    void advancedPassword_data();
    void advancedPassword();
    void rename_data();
    void rename();
    void closeDuringAJob_data();
    void closeDuringAJob();
};

void WindowJobsTest::scanListsTheDevices_data()
{
    QTest::addColumn<int>("typeA");
    QTest::addColumn<int>("typeB");
    QTest::addColumn<int>("panelsB");
    QTest::newRow("console and 3350 QRT") << int(Console6170) << int(Qrt3350) << 5;
    QTest::newRow("KVR10 and TX512") << int(LumivoxKvr10) << int(LumivoxTx512) << 1;
    QTest::newRow("KVR30 and console") << int(LumivoxKvr30) << int(Console6170) << 24;
}

void WindowJobsTest::scanListsTheDevices()
{
    QFETCH(int, typeA);
    QFETCH(int, typeB);
    QFETCH(int, panelsB);
    WindowRig rig;
    devsim::DeviceConfig a = device(typeA, "127.0.0.71", "Studio 71");
    a.mac = { { 0x0a, 0xbc, 0x2d, 0x3e, 0x4f, 0x07 } };
    rig.sim.addDevice(a);
    devsim::DeviceConfig b = device(typeB, "127.0.0.72", "Rack 72");
    b.mac = { { 0xf0, 0x01, 0xe2, 0x0d, 0xc3, 0xab } };
    rig.sim.addDevice(b);
    QVERIFY(rig.start());
    const qint64 logFrom = logSize();

    action(rig.w(), "Scan Network")->trigger();
    QCOMPARE(child<QLabel>(rig.w(), "label_DevInfo")->text(), kScanningLabel);
    QVERIFY(rig.idle());

    const QString nameA = deviceTypeName(static_cast<std::uint32_t>(typeA));
    const QString nameB = deviceTypeName(static_cast<std::uint32_t>(typeB));
    QCOMPARE(comboRows(rig.w(), "comboBox_FoundDevices"),
             QStringList({ QStringLiteral("Type: ") + nameA + QStringLiteral("  |  Studio 71"),
                           QStringLiteral("Type: ") + nameB + QStringLiteral("  |  Rack 72") }));
    QCOMPARE(child<QComboBox>(rig.w(), "comboBox_FoundDevices")->currentIndex(), 0);
    QCOMPARE(child<QLabel>(rig.w(), "label_DevInfo")->text(),
             deviceLabel(typeA, QStringLiteral("Studio 71"), QStringLiteral("127.0.0.71"),
                         QStringLiteral("0A:BC:2D:3E:4F:07")));
    QVERIFY(rig.unusableControl().isEmpty());
    const QStringList rows = listedRows(rig.w());
    CHECK_IN_ORDER(QStringList({ QStringLiteral("Scanning Network for Orvo Products..."),
                                 QStringLiteral("Finished Network Scan"), QStringLiteral("Orvo Products Found: 2"),
                                 QStringLiteral("#1:  Type: ") + nameA
                                     + QStringLiteral("  |  Studio 71  |  IP: 127.0.0.71"),
                                 QStringLiteral("#2:  Type: ") + nameB
                                     + QStringLiteral("  |  Rack 72  |  IP: 127.0.0.72") }),
                   rows);
    CHECK_IN_ORDER(rows, loggedRows(logFrom));

    rig.selectDevice(1);
    QCOMPARE(child<QLabel>(rig.w(), "label_DevInfo")->text(),
             deviceLabel(typeB, QStringLiteral("Rack 72"), QStringLiteral("127.0.0.72"),
                         QStringLiteral("F0:01:E2:0D:C3:AB")));
    QStringList panels;
    for (int i = 0; i < panelsB; ++i)
        panels << panelName(typeB, i);
    QCOMPARE(comboRows(rig.w(), "comboBox_Panels"), panels);
    QCOMPARE(rig.worker()->selectedDevice, 1);
    QCOMPARE(rig.worker()->deviceType, typeB);

    // A new scan empties the list at once; afterwards the first device is selected again.
    action(rig.w(), "Scan Network")->trigger();
    QCOMPARE(child<QLabel>(rig.w(), "label_DevInfo")->text(), kScanningLabel);
    QCOMPARE(child<QComboBox>(rig.w(), "comboBox_FoundDevices")->count(), 0);
    QVERIFY(rig.idle());
    QCOMPARE(child<QComboBox>(rig.w(), "comboBox_FoundDevices")->currentIndex(), 0);
    QCOMPARE(rig.worker()->selectedDevice, 0);
    QVERIFY(child<QLabel>(rig.w(), "label_DevInfo")->text().contains(QStringLiteral("Studio 71")));
}

void WindowJobsTest::jobControls_data()
{
    QTest::addColumn<Control>("control");
    QTest::addColumn<QStringList>("rows");

    // Channel Meter 1-8 of the console, one version behind.
    constexpr int kMeters = 16;
    const QString meters = panelName(Console6170, kMeters);
    const QString versions = QStringLiteral("   Version: 4  (5)");
    QTest::newRow("Get Versions") << PressGetVersions
                                  << QStringList({ QStringLiteral("6170 Console [Studio 73]"),
                                                   QStringLiteral("*** FIRMWARE VERSION SCAN ***"),
                                                   QStringLiteral("Firmware up to date: ") + panelName(Console6170, 0),
                                                   QStringLiteral("Firmware update required: ") + meters + versions,
                                                   QStringLiteral("*** FIRMWARE VERSION SCAN FINISHED ***") });
    QTest::newRow("Check") << PressCheck
                           << QStringList({ QStringLiteral("Contacting ") + meters + QStringLiteral("..."),
                                            meters + QStringLiteral(" Found!  Firmware version: 4  (5)"),
                                            QStringLiteral("Processor: ") });
    QTest::newRow("Update") << PressUpdate
                            << QStringList({ QStringLiteral("Updating firmware on ") + meters + QStringLiteral("..."),
                                             meters + QStringLiteral(":  Update Successful!") });
    QTest::newRow("Reset") << PressReset
                           << QStringList({ QStringLiteral("Resetting ") + meters + QStringLiteral("...") });
    QTest::newRow("Reset with Alt") << PressResetWithAlt
                                    << QStringList({ QStringLiteral("Resetting ") + meters + QStringLiteral("..."),
                                                     QStringLiteral("Contacting ") + meters + QStringLiteral("..."),
                                                     meters + QStringLiteral(" Found!  Firmware version: 4  (5)") });
    QTest::newRow("Identify") << PressIdentify << QStringList();
}

void WindowJobsTest::jobControls()
{
    QFETCH(Control, control);
    QFETCH(QStringList, rows);
    constexpr int kMeters = 16;
    WindowRig rig;
    devsim::DeviceConfig console = device(Console6170, "127.0.0.73", "Studio 73");
    outOfDate(console, kMeters);
    rig.sim.addDevice(console);
    QVERIFY(rig.start());
    QVERIFY(rig.scan());
    QVERIFY(rig.unlock());
    rig.selectPanel(kMeters);
    QCOMPARE(rig.worker()->panelIndex, kMeters);
    rig.clearList();
    const devsim::DeviceSnapshot before = rig.sim.snapshot(0);
    const qint64 logFrom = logSize();

    switch (control) {
    case PressGetVersions:
        child<QPushButton>(rig.w(), "GetVersions_Button")->click();
        break;
    case PressCheck:
        child<QPushButton>(rig.w(), "CheckDevice_Button")->click();
        break;
    case PressUpdate:
        child<QPushButton>(rig.w(), "Bootload_Button")->click();
        break;
    case PressReset:
        child<QPushButton>(rig.w(), "Reset_Button")->click();
        break;
    case PressResetWithAlt:
        // The handler asks for the keys held at that moment, not for the click's modifiers:
        // hold Alt, click without modifiers, let go.
        QTest::keyPress(&rig.w(), Qt::Key_Alt, Qt::AltModifier);
        child<QPushButton>(rig.w(), "Reset_Button")->click();
        QTest::keyRelease(&rig.w(), Qt::Key_Alt, Qt::NoModifier);
        break;
    case PressIdentify:
        action(rig.w(), "Identify")->trigger();
        break;
    }
    // A short job may already be over here: only its end is waited for.
    QVERIFY(rig.idle());

    const QString unusable = rig.unusableControl();
    QVERIFY2(unusable.isEmpty(), qPrintable(unusable));
    QVERIFY(child(rig.w(), "progressBar")->isHidden());
    const QStringList listed = listedRows(rig.w());
    CHECK_IN_ORDER(rows, listed);
    CHECK_IN_ORDER(listed, loggedRows(logFrom));

    const devsim::DeviceSnapshot after = rig.sim.snapshot(0);
    const devsim::BoardSnapshot &meters = after.boards[kMeters];
    const bool reset = control == PressReset || control == PressResetWithAlt;
    QCOMPARE(meters.resets - before.boards[kMeters].resets, reset ? 1 : 0);
    QCOMPARE(after.identifies - before.identifies, control == PressIdentify ? 1 : 0);
    QCOMPARE(meters.recordsAccepted > 0, control == PressUpdate);
    if (control == PressReset)
        QCOMPARE(meters.statusQueries, before.boards[kMeters].statusQueries); // no check after a plain reset
    if (control == PressUpdate) {
        QCOMPARE(devsim::imageDigest(meters), digestOf(rig.firmware.image(Console6170, kMeters)));
        QCOMPARE(meters.state, devsim::BoardState::Running);
    }
    QVERIFY(rig.sim.violations().isEmpty());
}

void WindowJobsTest::autoUpdate_data()
{
    QTest::addColumn<int>("answer");
    QTest::addColumn<bool>("needsUpdate");
    QTest::newRow("Yes") << int(QMessageBox::Yes) << false;
    QTest::newRow("No") << int(QMessageBox::No) << false;
    QTest::newRow("Yes, interface update") << int(QMessageBox::Yes) << true;
    QTest::newRow("No, interface update") << int(QMessageBox::No) << true;
}

void WindowJobsTest::autoUpdate()
{
    QFETCH(int, answer);
    QFETCH(bool, needsUpdate);
    // The second device of the list, a 3350 QRT whose Interface Processor is out of date; with
    // its interface flag set the job asks for its record again and the list comes anew.
    WindowRig rig;
    rig.sim.addDevice(device(Console6170, "127.0.0.74", "Studio 74"));
    devsim::DeviceConfig qrt = device(Qrt3350, "127.0.0.75", "Rack 75");
    qrt.needsUpdate = needsUpdate ? 1 : 0;
    qrt.mac = { { 0x0a, 0x1b, 0x2c, 0x3d, 0x4e, 0x5f } };
    outOfDate(qrt, 0);
    rig.sim.addDevice(qrt);
    QVERIFY(rig.start());
    QVERIFY(rig.scan());
    rig.selectDevice(1);
    const int infoBefore = rig.sim.snapshot(1).infoRequests;
    const qint64 logFrom = logSize();

    QSignalSpy newList(child<QComboBox>(rig.w(), "comboBox_FoundDevices"),
                       QOverload<int>::of(&QComboBox::currentIndexChanged));
    QVector<test::SeenBox> boxes;
    const bool yes = answer == QMessageBox::Yes;
    test::answerMessageBoxes(yes ? QList<QMessageBox::StandardButton>({ QMessageBox::Yes, QMessageBox::Ok })
                                 : QList<QMessageBox::StandardButton>({ QMessageBox::No }),
                             &boxes);
    action(rig.w(), "Auto Update")->trigger();
    QVERIFY(rig.idle());
    QVERIFY(!rig.worker()->forceUpdate); // no keys held

    QCOMPARE(boxes.size(), yes ? 2 : 1);
    QCOMPARE(boxes.at(0).icon, int(QMessageBox::Question));
    QCOMPARE(boxes.at(0).title, QStringLiteral("Auto Update"));
    QCOMPARE(boxes.at(0).text,
             QStringLiteral("The Console/Unit has 1 panels/boards that need updating.\nDo you wish to continue ?"));
    if (yes) {
        QCOMPARE(boxes.at(1).icon, int(QMessageBox::Information));
        QCOMPARE(boxes.at(1).text, QStringLiteral("Auto Update has finished!"));
    }
    const QString interface = panelName(Qrt3350, 0);
    const QStringList listed = listedRows(rig.w());
    CHECK_IN_ORDER(yes ? QStringList({ QStringLiteral("3350 QRT [Rack 75]"),
                                       QStringLiteral("*** AUTO UPDATE FIRMWARE ***"),
                                       QStringLiteral("Firmware update required: ") + interface,
                                       QStringLiteral("*** UPDATING CONSOLE/UNIT FIRMWARE ***"),
                                       QStringLiteral("Update Successful!    ") + interface,
                                       QStringLiteral("*** FIRMWARE UPDATE FINISHED ***") })
                       : QStringList({ QStringLiteral("Firmware update required: ") + interface,
                                       QStringLiteral("*** FIRMWARE UPDATE CANCELLED ***") }),
                   listed);
    CHECK_IN_ORDER(listed, loggedRows(logFrom));
    const QString unusable = rig.unusableControl();
    QVERIFY2(unusable.isEmpty(), qPrintable(unusable));

    const devsim::DeviceSnapshot after = rig.sim.snapshot(1);
    if (yes)
        QCOMPARE(devsim::imageDigest(after.boards[0]), digestOf(rig.firmware.image(Qrt3350, 0)));
    else
        QCOMPARE(after.boards[0].recordsAccepted, 0);
    QCOMPARE(rig.sim.snapshot(0).boards[0].recordsAccepted, 0);
    // The record asked for again and the list sent anew only for the interface update; either
    // way the QRT is still the selected device.
    QCOMPARE(after.infoRequests > infoBefore, needsUpdate || yes); // the update's restart wait probes too
    QCOMPARE(!newList.isEmpty(), needsUpdate);
    QCOMPARE(child<QComboBox>(rig.w(), "comboBox_FoundDevices")->currentIndex(), 1);
    QCOMPARE(rig.worker()->selectedDevice, 1);
    QCOMPARE(child<QLabel>(rig.w(), "label_DevInfo")->text(),
             deviceLabel(Qrt3350, QStringLiteral("Rack 75"), QStringLiteral("127.0.0.75"),
                         QStringLiteral("0A:1B:2C:3D:4E:5F"), needsUpdate));
    QVERIFY(!rig.worker()->refreshDeviceInfo);
}

void WindowJobsTest::autoUpdateKeys_data()
{
    QTest::addColumn<int>("held");
    QTest::addColumn<bool>("forceUpdate");
    QTest::newRow("Ctrl+Alt") << int(Qt::ControlModifier | Qt::AltModifier) << true;
    QTest::newRow("Ctrl") << int(Qt::ControlModifier) << false;
    QTest::newRow("Alt") << int(Qt::AltModifier) << false;
    QTest::newRow("Ctrl+Alt+Shift") << int(Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier) << true;
}

void WindowJobsTest::autoUpdateKeys()
{
    QFETCH(int, held);
    QFETCH(bool, forceUpdate);
    WindowRig rig;
    devsim::DeviceConfig console = device(Console6170, "127.0.0.76", "Studio 76");
    outOfDate(console, 0);
    rig.sim.addDevice(console);
    QVERIFY(rig.start());
    QVERIFY(rig.scan());
    QVector<test::SeenBox> boxes;
    test::answerMessageBoxes({ QMessageBox::No }, &boxes);

    // The handler asks for the keys held at that moment, not for the trigger's modifiers: hold
    // them, trigger, let go.
    const Qt::KeyboardModifiers mods(held);
    Qt::KeyboardModifiers down;
    const std::pair<Qt::Key, Qt::KeyboardModifier> keys[] = { { Qt::Key_Control, Qt::ControlModifier },
                                                              { Qt::Key_Alt, Qt::AltModifier },
                                                              { Qt::Key_Shift, Qt::ShiftModifier } };
    for (const auto &[key, mod] : keys) {
        if (mods & mod)
            QTest::keyPress(&rig.w(), key, down |= mod);
    }
    action(rig.w(), "Auto Update")->trigger();
    for (const auto &[key, mod] : keys) {
        if (mods & mod)
            QTest::keyRelease(&rig.w(), key, down &= ~Qt::KeyboardModifiers(mod));
    }
    QVERIFY(rig.idle());
    // Forced, every fitted board counts as pending, not only the out-of-date one; the job clears
    // the one-shot flag when it ends.
    QCOMPARE(boxes.size(), 1);
    QCOMPARE(!boxes.first().text.startsWith(QStringLiteral("The Console/Unit has 1 panels/boards")), forceUpdate);
    QVERIFY(!rig.worker()->forceUpdate);
    QVERIFY(listedRows(rig.w()).contains(QStringLiteral("*** FIRMWARE UPDATE CANCELLED ***")));
}

void WindowJobsTest::secondClickDuringAJob_data()
{
    QTest::addColumn<QString>("second");
    for (const char *control : { "CheckDevice_Button", "Bootload_Button", "GetVersions_Button", "Reset_Button" })
        QTest::newRow(control) << QString::fromLatin1(control);
    for (const char *control : { "Scan Network", "Auto Update", "Rename", "Identify" })
        QTest::newRow(control) << QString::fromLatin1(control);
}

void WindowJobsTest::secondClickDuringAJob()
{
    QFETCH(QString, second);
    constexpr int kMeters = 16;
    WindowRig rig;
    rig.sim.addDevice(device(Console6170, "127.0.0.73", "Studio 73"));
    QVERIFY(rig.start());
    QVERIFY(rig.scan());
    QVERIFY(rig.unlock());
    rig.selectPanel(kMeters);
    rig.clearList();
    const devsim::DeviceSnapshot before = rig.sim.snapshot(0);
    const QString label = child<QLabel>(rig.w(), "label_DevInfo")->text();

    // The reset's request marks the worker busy at once: the second click, in the same turn of
    // the event loop, meets a running job whatever the speed of the machine.
    test::ModalWatch watch;
    child<QPushButton>(rig.w(), "Reset_Button")->click();
    QTest::ignoreMessage(QtDebugMsg, "worker still busy");
    if (auto *button = rig.w().findChild<QPushButton *>(second))
        button->click();
    else
        action(rig.w(), qPrintable(second))->trigger();
    QVERIFY(rig.idle());

    QCOMPARE(watch.seen(), QStringList()); // the rename prompt, for one, is not shown
    const QString meters = panelName(Console6170, kMeters);
    QCOMPARE(listedRows(rig.w()),
             QStringList({ QString(), QStringLiteral("Resetting ") + meters + QStringLiteral("...") }));
    const devsim::DeviceSnapshot after = rig.sim.snapshot(0);
    QCOMPARE(after.boards[kMeters].resets, before.boards[kMeters].resets + 1);
    QCOMPARE(after.requests, before.requests + 1); // the reset alone
    QCOMPARE(after.connections, before.connections + 1);
    QCOMPARE(child<QComboBox>(rig.w(), "comboBox_FoundDevices")->count(), 1);
    QCOMPARE(child<QLabel>(rig.w(), "label_DevInfo")->text(), label);
    QVERIFY(!rig.worker()->checkAfterReset);
    const QString unusable = rig.unusableControl();
    QVERIFY2(unusable.isEmpty(), qPrintable(unusable));
}

void WindowJobsTest::advancedPassword_data()
{
    QTest::addColumn<QString>("code");
    QTest::addColumn<bool>("accept");
    QTest::addColumn<bool>("unlocks");
    QTest::newRow("cancelled") << QStringLiteral("Kobo?Lantern") << false << false;
    QTest::newRow("wrong case") << QStringLiteral("kobo?lantern") << true << false;
    QTest::newRow("trailing blank") << QStringLiteral("qel ") << true << false;
    QTest::newRow("empty") << QString() << true << false;
    QTest::newRow("Kobo?Lantern") << QStringLiteral("Kobo?Lantern") << true << true;
    QTest::newRow("qel") << QStringLiteral("qel") << true << true;
}

void WindowJobsTest::advancedPassword()
{
    QFETCH(QString, code);
    QFETCH(bool, accept);
    QFETCH(bool, unlocks);
    MainWindow w;
    OrvoDiscoveryInfo record;
    record.setType(LumivoxKvr10);
    record.setName("Booth");
    const QVector<OrvoDiscoveryInfo> list { record };
    QVERIFY(QMetaObject::invokeMethod(&w, "updateDevicesCombo", Q_ARG(QVector<OrvoDiscoveryInfo>, list)));
    QAction *advanced = action(w, "Advanced");
    auto *group = child<QGroupBox>(w, "groupBox_AdvOpt");
    QVERIFY(advanced->isEnabled());

    QVector<test::SeenBox> boxes;
    const bool warned = accept && !unlocks;
    std::function<void()> answerWarning;
    if (warned)
        answerWarning = [&boxes] { test::answerMessageBoxes({ QMessageBox::Ok }, &boxes); };
    test::answerInputDialog(code, accept, nullptr, answerWarning);
    advanced->trigger(); // the dialog and the warning are answered before this returns
    QCOMPARE(advanced->isChecked(), unlocks);
    QCOMPARE(group->isEnabled(), unlocks);
    QCOMPARE(boxes.size(), warned ? 1 : 0);
    if (warned) {
        QCOMPARE(boxes.first().icon, int(QMessageBox::Warning));
        QCOMPARE(boxes.first().title, QStringLiteral("Advanced Options"));
        QCOMPARE(boxes.first().text, QStringLiteral("Incorrect Password!"));
    }

    // Unlocked, the action toggles the group without asking; locked, it asks again.
    test::ModalWatch watch;
    if (unlocks) {
        for (bool checked : { false, true }) {
            advanced->trigger();
            QCOMPARE(advanced->isChecked(), checked);
            QCOMPARE(group->isEnabled(), checked);
        }
        QCOMPARE(watch.seen(), QStringList());
    } else {
        advanced->trigger();
        QCOMPARE(watch.seen(), QStringList({ QStringLiteral("QInputDialog") }));
        QVERIFY(!advanced->isChecked());
        QVERIFY(!group->isEnabled());
    }
}

void WindowJobsTest::rename_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("21 characters") << QStringLiteral("Studio B Main Console") << true;
    QTest::newRow("22 characters") << QStringLiteral("Studio B Main Console2") << false;
}

void WindowJobsTest::rename()
{
    QFETCH(QString, name);
    QFETCH(bool, accepted);
    WindowRig rig;
    rig.sim.addDevice(device(Console6170, "127.0.0.76", "Studio 76"));
    rig.sim.addDevice(device(LumivoxTx512, "127.0.0.77", "Booth 77"));
    QVERIFY(rig.start());
    QVERIFY(rig.scan());
    rig.selectDevice(1);
    const devsim::DeviceSnapshot before = rig.sim.snapshot(1);

    QString offered;
    QVector<test::SeenBox> boxes;
    std::unique_ptr<test::ModalWatch> laterModals; // an accepted name asks nothing more
    test::onNextModal([&](QWidget *modal) {
        auto *dialog = qobject_cast<QInputDialog *>(modal);
        if (!dialog)
            return;
        offered = dialog->windowTitle() + QLatin1Char('|') + dialog->labelText() + QLatin1Char('|')
            + dialog->textValue();
        dialog->setTextValue(name);
        if (accepted)
            laterModals = std::make_unique<test::ModalWatch>();
        else
            test::answerMessageBoxes({ QMessageBox::Ok }, &boxes);
        dialog->accept();
    });
    action(rig.w(), "Rename")->trigger();
    QVERIFY(rig.idle());
    QCOMPARE(offered, QStringLiteral("Set Product Name|Name:|Booth 77"));

    const devsim::DeviceSnapshot after = rig.sim.snapshot(1);
    if (accepted) {
        QVERIFY(laterModals);
        QCOMPARE(laterModals->seen(), QStringList());
        QCOMPARE(after.name, name.toLatin1());
        QCOMPARE(comboRows(rig.w(), "comboBox_FoundDevices"),
                 QStringList({ QStringLiteral("Type: 6170 Console  |  Studio 76"),
                               QStringLiteral("Type: Lumivox TX512  |  ") + name }));
        QCOMPARE(child<QComboBox>(rig.w(), "comboBox_FoundDevices")->currentIndex(), 1);
        QCOMPARE(rig.worker()->selectedDevice, 1);
        QVERIFY(child<QLabel>(rig.w(), "label_DevInfo")->text().startsWith(
            QStringLiteral("Type:\t Lumivox TX512\nName:\t ") + name + QStringLiteral("\n")));
    } else {
        QCOMPARE(boxes.size(), 1); // answered before the handler returned
        QCOMPARE(boxes.first().icon, int(QMessageBox::Information));
        QCOMPARE(boxes.first().title, QStringLiteral("Set Product Name"));
        QCOMPARE(boxes.first().text, QStringLiteral("Name cannot be more than 21 characters"));
        QCOMPARE(after.connections, before.connections); // nothing sent
        QCOMPARE(after.name, QByteArray("Booth 77"));
        QCOMPARE(child<QComboBox>(rig.w(), "comboBox_FoundDevices")->currentIndex(), 1);
    }
    QCOMPARE(rig.sim.snapshot(0).renames, 0);
    const QString unusable = rig.unusableControl();
    QVERIFY2(unusable.isEmpty(), qPrintable(unusable));
}

void WindowJobsTest::closeDuringAJob_data()
{
    QTest::addColumn<CloseDuring>("during");
    QTest::addColumn<double>("speedUp");
    QTest::addColumn<QString>("closingLine"); // part of a line the job sends after the close
    QTest::newRow("scan") << DuringScan << 1000.0 << QStringLiteral("Finished Network Scan");
    QTest::newRow("download") << DuringDownload << 1000.0 << QStringLiteral("Update FAILED!");
    // Slower, so that the window is closed well before the wait's first probe (3 s here).
    QTest::newRow("restart wait") << DuringRestartWait << 10.0 << QString();
    QTest::newRow("question box open") << DuringQuestion << 1000.0 << QString();
}

void WindowJobsTest::closeDuringAJob()
{
    QFETCH(CloseDuring, during);
    QFETCH(double, speedUp);
    constexpr int kMeters = 16;
    constexpr int kBigImageRecords = 3000;
    WindowRig rig(speedUp);
    const int type = during == DuringQuestion ? LumivoxKvr10 : Console6170;
    devsim::DeviceConfig console = device(type, "127.0.0.78", "Studio 78");
    outOfDate(console, during == DuringQuestion ? 0 : kMeters);
    rig.sim.addDevice(console);
    if (during == DuringScan) {
        // A second address that takes the request and never answers holds the scan.
        rig.sim.addDevice(device(LumivoxKvr30, "127.0.0.79", "Silent 79"));
        devsim::Fault silent;
        silent.kind = devsim::FaultKind::AcceptNoAnswer;
        rig.sim.addFault(1, silent);
    }
    QVERIFY(rig.start());
    if (during == DuringDownload) {
        test::FirmwareTree::Image image;
        QFile big(rig.firmware.path(firmwareFile(Console6170, kMeters)));
        QVERIFY(big.open(QIODevice::WriteOnly | QIODevice::Truncate));
        const QByteArray content = test::FirmwareTree::makeHex(1, image, kBigImageRecords);
        QCOMPARE(big.write(content), qint64(content.size()));
        // Loopback is quick: each reply of the board comes 2 ms late, so that the download
        // still runs when the window closes.
        devsim::Fault slow;
        slow.kind = devsim::FaultKind::DelayReply;
        slow.position = kMeters;
        slow.param = static_cast<int>(2 * rig.sim.speedUp());
        rig.sim.addFault(0, slow);
    }
    if (during != DuringScan) {
        QVERIFY(rig.scan());
        QVERIFY(rig.unlock());
    }
    rig.clearList();
    const qint64 logFrom = logSize();
    QPointer<QThread> thread = rig.worker()->thread();
    std::atomic<bool> threadEnded { false }; // set in the worker thread as it ends
    QObject::connect(thread, &QThread::finished, thread, [&threadEnded] { threadEnded = true; }, Qt::DirectConnection);

    QVector<test::SeenBox> asked;
    switch (during) {
    case DuringScan:
        action(rig.w(), "Scan Network")->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(listedRows(rig.w()).contains(QStringLiteral("Scanning IP address: 127.0.0.79 ...")),
                                 20000);
        break;
    case DuringDownload:
        rig.selectPanel(kMeters);
        child<QPushButton>(rig.w(), "Bootload_Button")->click();
        QTRY_VERIFY_WITH_TIMEOUT(rig.sim.snapshot(0).boards[kMeters].recordsAccepted > 20, 20000);
        break;
    case DuringRestartWait:
        rig.selectPanel(0); // the board whose restart takes the network down: the long wait with probes
        child<QPushButton>(rig.w(), "Reset_Button")->click();
        QTRY_VERIFY_WITH_TIMEOUT(child(rig.w(), "progressBar")->isVisible(), 20000);
        break;
    case DuringQuestion:
        // The user closes every window while the question is open, as the window system would.
        test::onNextModal([&asked](QWidget *modal) {
            if (auto *box = qobject_cast<QMessageBox *>(modal))
                asked.append({ box->icon(), box->windowTitle(), box->text() });
            QApplication::closeAllWindows();
        });
        action(rig.w(), "Auto Update")->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(asked.size(), 1, 20000);
        QCOMPARE(asked.first().title, QStringLiteral("Auto Update"));
        QTRY_VERIFY(!QApplication::activeModalWidget());
        break;
    }
    const devsim::DeviceSnapshot atClose = rig.sim.snapshot(0);
    const QStringList listed = listedRows(rig.w());
    QVERIFY(!listed.isEmpty());

    if (during != DuringQuestion)
        QTest::ignoreMessage(QtDebugMsg, kAborting); // the job was still running
    QTest::ignoreMessage(QtDebugMsg, kDeleting);
    rig.window.reset();
    QVERIFY(thread.isNull());
    QVERIFY(threadEnded);
    // Every row listed until the close is in the log file.
    CHECK_IN_ORDER(listed, loggedRows(logFrom));
    // So are the lines the job sent while it wound down, after the window had begun to close.
    QFETCH(QString, closingLine);
    if (!closingLine.isEmpty()) {
        const auto closing = [&closingLine](const QStringList &rows) {
            return std::any_of(rows.begin(), rows.end(), [&](const QString &r) { return r.contains(closingLine); });
        };
        QVERIFY2(!closing(listed), qPrintable(listed.join('\n')));
        QVERIFY2(closing(loggedRows(logFrom)), qPrintable(loggedRows(logFrom).join('\n')));
    }

    const devsim::DeviceSnapshot after = rig.sim.snapshot(0);
    switch (during) {
    case DuringScan:
        break;
    case DuringDownload: {
        // Stopped inside the download: not all records sent, the boot loader never left.
        const devsim::BoardSnapshot &b = after.boards[kMeters];
        QVERIFY2(b.recordsAccepted < kBigImageRecords, qPrintable(QString::number(b.recordsAccepted)));
        QCOMPARE(b.leaveRequests, 0);
        QVERIFY(b.state != devsim::BoardState::Running); // no new firmware started
        break;
    }
    case DuringRestartWait:
        // Without the abort the wait would have probed the device at its 3000th tick.
        QCOMPARE(after.infoRequests, atClose.infoRequests);
        QCOMPARE(after.boards[0].resets, 1);
        break;
    case DuringQuestion:
        QCOMPARE(after.boards[0].recordsAccepted, 0); // closing the box is no Yes
        QCOMPARE(after.boards[0].enterRequests, 0);
        break;
    }
}

ORVO_UI_TEST_MAIN(WindowJobsTest)
#include "tst_windowjobs.moc"
