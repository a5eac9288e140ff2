// The window's wiring of the jobs, against simulated devices: one run per control with its rows
// in the activity list and the log file, and what only the window does (the device list and
// label, the refusal of a second click, the Advanced Options password, the rename prompt, and
// closing the window while a job still runs). What the jobs themselves do is the worker tests'.

#include "../worker/simulation.h"
#include "appidentity.h"
#include "clock.h"
#include "mainwindow.h"
#include "uitestsupport.h"
#include "worker.h"

#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTextStream>
#include <QThread>

#include <atomic>

using namespace orvo;
using namespace orvo::ui;

namespace {

// The window's log stamps come from this fixed time, so every logged row has a known prefix.
const QDateTime kStamp(QDate(2026, 5, 4), QTime(9, 8, 7, 6));
const QString kStampText = QStringLiteral("04/05/2026  09:08:07.006   ");
constexpr int kMeters = 16; // console "Channel Meter 1-8", build 5

using test::logPath;

/// The rows logged from byte `from` on, without their stamps; a row without the stamp is marked.
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

/// Empty when every row of `wanted` starts a row of `rows`, in this order; else the first missing.
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

devsim::DeviceConfig device(int type, const char *address, const QByteArray &name, int outOfDate = -1,
                            int version = 4)
{
    devsim::DeviceConfig c = devsim::defaultDevice(type, QLatin1String(address));
    c.name = name;
    if (outOfDate >= 0)
        c.boards[static_cast<std::size_t>(outOfDate)].version = static_cast<std::uint8_t>(version);
    return c;
}

/// The window on a fast clock, its worker pointed at the simulator and the firmware tree.
class WindowRig
{
public:
    explicit WindowRig(double speedUp = 1000.0) : clock(speedUp), sim(1000.0) {}

    ScaledClock clock;
    devsim::Simulator sim;
    test::FirmwareTree firmware;
    std::unique_ptr<MainWindow> window; // after the simulator: it waits for the worker first
    std::unique_ptr<test::WindowDriver> driver;

    MainWindow &w() { return *window; }
    Worker *worker() const { return window->worker(); }
    test::WindowDriver &d() { return *driver; }

    bool start()
    {
        window = std::make_unique<MainWindow>(clock);
        window->setWallClock([] { return kStamp; });
        driver = std::make_unique<test::WindowDriver>(*window);
        if (!startSimulation(sim, firmware, *worker()))
            return false;
        window->show();
        return QTest::qWaitForWindowExposed(window.get());
    }

    bool scan()
    {
        QStringList addresses;
        for (int i = 0; i < sim.deviceCount(); ++i)
            addresses << sim.address(i);
        return d().scan(addresses, sim.port());
    }

    bool unlock()
    {
        test::answerInputDialog(QStringLiteral("qel"));
        d().action(QStringLiteral("Advanced"))->trigger();
        QApplication::setActiveWindow(window.get()); // back from the password dialog
        return d().child<QGroupBox>("groupBox_AdvOpt")->isEnabled();
    }

    void press(const char *button) { d().child<QPushButton>(button)->click(); }
    void clearList() { d().child<QListWidget>("Log_listWidget")->clear(); }

    /// Empty when every control a finished job gives back is usable again; else the first that is not.
    QString unusableControl()
    {
        for (const char *a : { "Scan Network", "Set IP", "Rename", "Identify", "Auto Update", "Advanced" }) {
            if (!d().action(QLatin1String(a))->isEnabled())
                return QLatin1String(a);
        }
        for (const char *g : { "groupBox_Products", "comboBox_FoundDevices" }) {
            if (!d().child(g)->isEnabled())
                return QLatin1String(g);
        }
        if (d().action(QStringLiteral("Advanced"))->isChecked() && !d().child("groupBox_AdvOpt")->isEnabled())
            return QStringLiteral("groupBox_AdvOpt");
        return QString();
    }
};

enum Control { PressGetVersions, PressCheck, PressUpdate, PressReset, PressResetWithAlt, PressIdentify };
enum CloseDuring { DuringDownload, DuringQuestion };

} // namespace

Q_DECLARE_METATYPE(Control)
Q_DECLARE_METATYPE(CloseDuring)

class WindowJobsTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { setApplicationIdentity(); }
    void init() { QFile::remove(logPath()); }
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

void WindowJobsTest::scanListsTheDevices()
{
    WindowRig rig;
    devsim::DeviceConfig a = device(LumivoxKvr30, "127.0.0.71", "Studio 71");
    a.mac = { { 0x0a, 0xbc, 0x2d, 0x3e, 0x4f, 0x07 } };
    rig.sim.addDevice(a);
    devsim::DeviceConfig b = device(Qrt3350, "127.0.0.72", "Rack 72");
    b.mac = { { 0xf0, 0x01, 0xe2, 0x0d, 0xc3, 0xab } };
    rig.sim.addDevice(b);
    QVERIFY(rig.start());
    const qint64 logFrom = QFileInfo(logPath()).size();

    QVERIFY(rig.scan());
    QCOMPARE(rig.d().comboTexts("comboBox_FoundDevices"),
             QStringList({ "Type: Lumivox KVR30  |  Studio 71", "Type: 3350 QRT  |  Rack 72" }));
    auto *label = rig.d().child<QLabel>("label_DevInfo");
    QCOMPARE(label->text(), "Type:\t Lumivox KVR30\nName:\t Studio 71\nIP:\t 127.0.0.71\nMAC:\t 0A:BC:2D:3E:4F:07\n"
                            "Status:\t OK");
    QVERIFY(rig.unusableControl().isEmpty());
    const QStringList rows = rig.d().listTexts();
    CHECK_IN_ORDER(QStringList({ "Scanning Network for Orvo Products...", "Finished Network Scan",
                                 "Orvo Products Found: 2", "#1:  Type: Lumivox KVR30  |  Studio 71  |  IP: 127.0.0.71",
                                 "#2:  Type: 3350 QRT  |  Rack 72  |  IP: 127.0.0.72" }),
                   rows);
    CHECK_IN_ORDER(rows, loggedRows(logFrom));

    rig.d().child<QComboBox>("comboBox_FoundDevices")->setCurrentIndex(1);
    QCOMPARE(label->text(), "Type:\t 3350 QRT\nName:\t Rack 72\nIP:\t 127.0.0.72\nMAC:\t F0:01:E2:0D:C3:AB\n"
                            "Status:\t OK");
    QCOMPARE(rig.d().comboTexts("comboBox_Panels"),
             QStringList({ "Interface Processor", "Digital Board", "Digital Board FPGA", "Digital ADAT Board",
                           "Digital ADAT Board FPGA" }));
    QCOMPARE(rig.worker()->selectedDevice, 1);
    QCOMPARE(rig.worker()->deviceType, int(Qrt3350));

    // A new scan empties the list at once; afterwards the first device is selected again.
    rig.d().action(QStringLiteral("Scan Network"))->trigger();
    QCOMPARE(label->text(), QStringLiteral("Type:     [No Orvo Products found] \nName:\nIP: \nMAC:\n"));
    QCOMPARE(rig.d().child<QComboBox>("comboBox_FoundDevices")->count(), 0);
    QVERIFY(rig.d().idle());
    QCOMPARE(rig.worker()->selectedDevice, 0);
    QVERIFY(label->text().contains(QStringLiteral("Studio 71")));
}

void WindowJobsTest::jobControls_data()
{
    QTest::addColumn<Control>("control");
    QTest::addColumn<QStringList>("rows");
    QTest::newRow("Get Versions") << PressGetVersions
                                  << QStringList({ "6170 Console [Studio 73]", "*** FIRMWARE VERSION SCAN ***",
                                                   "Firmware up to date: Monitor Interface",
                                                   "Firmware update required: Channel Meter 1-8   Version: 4  (5)",
                                                   "*** FIRMWARE VERSION SCAN FINISHED ***" });
    QTest::newRow("Check") << PressCheck
                           << QStringList({ "Contacting Channel Meter 1-8...",
                                            "Channel Meter 1-8 Found!  Firmware version: 4  (5)",
                                            "Processor: PIC32MZ2048EFG144" });
    QTest::newRow("Update") << PressUpdate
                            << QStringList({ "Updating firmware on Channel Meter 1-8...",
                                             "Channel Meter 1-8:  Update Successful!" });
    QTest::newRow("Reset") << PressReset << QStringList({ "Resetting Channel Meter 1-8..." });
    QTest::newRow("Reset with Alt") << PressResetWithAlt
                                    << QStringList({ "Resetting Channel Meter 1-8...", "Contacting Channel Meter 1-8...",
                                                     "Channel Meter 1-8 Found!  Firmware version: 4  (5)" });
    QTest::newRow("Identify") << PressIdentify << QStringList();
}

void WindowJobsTest::jobControls()
{
    QFETCH(Control, control);
    QFETCH(QStringList, rows);
    WindowRig rig;
    rig.sim.addDevice(device(Console6170, "127.0.0.73", "Studio 73", kMeters));
    QVERIFY(rig.start());
    QVERIFY(rig.scan());
    QVERIFY(rig.unlock());
    rig.d().child<QComboBox>("comboBox_Panels")->setCurrentIndex(kMeters);
    QCOMPARE(rig.worker()->panelIndex, kMeters);
    rig.clearList();
    const devsim::DeviceSnapshot before = rig.sim.snapshot(0);
    const qint64 logFrom = QFileInfo(logPath()).size();

    QVERIFY(rig.d().runJob([&] {
        switch (control) {
        case PressGetVersions:
            return rig.press("GetVersions_Button");
        case PressCheck:
            return rig.press("CheckDevice_Button");
        case PressUpdate:
            return rig.press("Bootload_Button");
        case PressReset:
            return rig.press("Reset_Button");
        case PressResetWithAlt:
            // The handler asks for the keys held at that moment, not for the click's modifiers.
            QTest::keyPress(&rig.w(), Qt::Key_Alt, Qt::AltModifier);
            rig.press("Reset_Button");
            return QTest::keyRelease(&rig.w(), Qt::Key_Alt, Qt::NoModifier);
        case PressIdentify:
            return rig.d().action(QStringLiteral("Identify"))->trigger();
        }
    }));

    const QString unusable = rig.unusableControl();
    QVERIFY2(unusable.isEmpty(), qPrintable(unusable));
    QVERIFY(rig.d().child("progressBar")->isHidden());
    const QStringList listed = rig.d().listTexts();
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
    QVERIFY(rig.sim.violations().isEmpty());
}

void WindowJobsTest::autoUpdate_data()
{
    QTest::addColumn<bool>("yes");
    QTest::addColumn<bool>("needsUpdate");
    QTest::newRow("Yes") << true << false;
    QTest::newRow("No, interface update") << false << true;
}

void WindowJobsTest::autoUpdate()
{
    QFETCH(bool, yes);
    QFETCH(bool, needsUpdate);
    // The second device of the list, a 3350 QRT whose Interface Processor is out of date; with
    // its interface flag set the job asks for its record again and the list comes anew.
    WindowRig rig;
    rig.sim.addDevice(device(Console6170, "127.0.0.74", "Studio 74"));
    devsim::DeviceConfig qrt = device(Qrt3350, "127.0.0.75", "Rack 75", 0, 12);
    qrt.needsUpdate = needsUpdate ? 1 : 0;
    rig.sim.addDevice(qrt);
    QVERIFY(rig.start());
    QVERIFY(rig.scan());
    rig.d().child<QComboBox>("comboBox_FoundDevices")->setCurrentIndex(1);
    const qint64 logFrom = QFileInfo(logPath()).size();

    QSignalSpy newList(rig.d().child<QComboBox>("comboBox_FoundDevices"),
                       QOverload<int>::of(&QComboBox::currentIndexChanged));
    QVector<test::SeenBox> boxes;
    test::answerMessageBoxes(yes ? QList<QMessageBox::StandardButton>({ QMessageBox::Yes, QMessageBox::Ok })
                                 : QList<QMessageBox::StandardButton>({ QMessageBox::No }),
                             &boxes);
    QVERIFY(rig.d().runJob([&] { rig.d().action(QStringLiteral("Auto Update"))->trigger(); }));

    QCOMPARE(boxes.size(), yes ? 2 : 1);
    QCOMPARE(boxes.at(0).icon, int(QMessageBox::Question));
    QCOMPARE(boxes.at(0).title, QStringLiteral("Auto Update"));
    QCOMPARE(boxes.at(0).text,
             QStringLiteral("The Console/Unit has 1 panels/boards that need updating.\nDo you wish to continue ?"));
    if (yes) {
        QCOMPARE(boxes.at(1).icon, int(QMessageBox::Information));
        QCOMPARE(boxes.at(1).text, QStringLiteral("Auto Update has finished!"));
    }
    const QStringList listed = rig.d().listTexts();
    CHECK_IN_ORDER(yes ? QStringList({ "3350 QRT [Rack 75]", "*** AUTO UPDATE FIRMWARE ***",
                                       "Firmware update required: Interface Processor   Version: 12  (13)",
                                       "*** UPDATING CONSOLE/UNIT FIRMWARE ***",
                                       "Update Successful!    Interface Processor   Version: 13  (13)",
                                       "*** FIRMWARE UPDATE FINISHED ***" })
                       : QStringList({ "Firmware update required: Interface Processor",
                                       "*** FIRMWARE UPDATE CANCELLED ***" }),
                   listed);
    CHECK_IN_ORDER(listed, loggedRows(logFrom));
    const QString unusable = rig.unusableControl();
    QVERIFY2(unusable.isEmpty(), qPrintable(unusable));

    QCOMPARE(rig.sim.snapshot(1).boards[0].recordsAccepted > 0, yes);
    QCOMPARE(rig.sim.snapshot(0).boards[0].recordsAccepted, 0);
    // The list comes anew only for the interface update; either way the QRT stays selected.
    QCOMPARE(!newList.isEmpty(), needsUpdate);
    QCOMPARE(rig.d().child<QComboBox>("comboBox_FoundDevices")->currentIndex(), 1);
    QCOMPARE(rig.worker()->selectedDevice, 1);
    QVERIFY(rig.d().child<QLabel>("label_DevInfo")->text().endsWith(
        needsUpdate ? QStringLiteral("Status:\t Interface Device requires firmware update") : QStringLiteral("Status:\t OK")));
}

void WindowJobsTest::autoUpdateKeys_data()
{
    QTest::addColumn<int>("held");
    QTest::addColumn<bool>("forceUpdate");
    QTest::newRow("Ctrl+Alt") << int(Qt::ControlModifier | Qt::AltModifier) << true;
    QTest::newRow("Ctrl") << int(Qt::ControlModifier) << false;
}

void WindowJobsTest::autoUpdateKeys()
{
    QFETCH(int, held);
    QFETCH(bool, forceUpdate);
    WindowRig rig;
    rig.sim.addDevice(device(Console6170, "127.0.0.76", "Studio 76", 0, 10));
    QVERIFY(rig.start());
    QVERIFY(rig.scan());
    QVector<test::SeenBox> boxes;
    test::answerMessageBoxes({ QMessageBox::No }, &boxes);

    // The handler asks for the keys held at that moment: hold them, trigger, let go.
    QTest::keyPress(&rig.w(), Qt::Key_Control, Qt::ControlModifier);
    if (held & Qt::AltModifier)
        QTest::keyPress(&rig.w(), Qt::Key_Alt, Qt::ControlModifier | Qt::AltModifier);
    QVERIFY(rig.d().runJob([&] { rig.d().action(QStringLiteral("Auto Update"))->trigger(); }));
    if (held & Qt::AltModifier)
        QTest::keyRelease(&rig.w(), Qt::Key_Alt, Qt::ControlModifier);
    QTest::keyRelease(&rig.w(), Qt::Key_Control, Qt::NoModifier);
    // Forced, every fitted board counts as pending, not only the out-of-date one.
    QCOMPARE(boxes.size(), 1);
    QCOMPARE(boxes.first().text.section(QLatin1Char('\n'), 0, 0),
             forceUpdate ? QStringLiteral("The Console/Unit has 20 panels/boards that need updating.")
                         : QStringLiteral("The Console/Unit has 1 panels/boards that need updating."));
    QVERIFY(!rig.worker()->forceUpdate);
}

void WindowJobsTest::secondClickDuringAJob_data()
{
    QTest::addColumn<QString>("second");
    QTest::newRow("Update") << QStringLiteral("Bootload_Button");
    QTest::newRow("Rename") << QStringLiteral("Rename");
    QTest::newRow("Scan Network") << QStringLiteral("Scan Network");
}

void WindowJobsTest::secondClickDuringAJob()
{
    QFETCH(QString, second);
    WindowRig rig;
    rig.sim.addDevice(device(Console6170, "127.0.0.73", "Studio 73"));
    QVERIFY(rig.start());
    QVERIFY(rig.scan());
    QVERIFY(rig.unlock());
    rig.d().child<QComboBox>("comboBox_Panels")->setCurrentIndex(kMeters);
    rig.clearList();
    const devsim::DeviceSnapshot before = rig.sim.snapshot(0);

    // The reset's request marks the worker busy at once: the second click, in the same turn of
    // the event loop, meets a running job whatever the speed of the machine.
    test::ModalWatch watch;
    rig.press("Reset_Button");
    if (auto *button = rig.w().findChild<QPushButton *>(second))
        button->click();
    else
        rig.d().action(second)->trigger();
    QVERIFY(rig.d().idle());

    QCOMPARE(watch.seen(), QStringList()); // the rename prompt, for one, is not shown
    QCOMPARE(rig.d().listTexts(), QStringList({ QString(), "Resetting Channel Meter 1-8..." }));
    const devsim::DeviceSnapshot after = rig.sim.snapshot(0);
    QCOMPARE(after.requests, before.requests + 1); // the reset alone
    QCOMPARE(rig.d().child<QComboBox>("comboBox_FoundDevices")->count(), 1);
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
    QAction *advanced = test::action(w, QStringLiteral("Advanced"));
    auto *group = test::child<QGroupBox>(w, "groupBox_AdvOpt");
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
    rig.d().child<QComboBox>("comboBox_FoundDevices")->setCurrentIndex(1);
    const devsim::DeviceSnapshot before = rig.sim.snapshot(1);

    QString offered;
    QVector<test::SeenBox> boxes;
    test::onNextModal([&](QWidget *modal) {
        auto *dialog = qobject_cast<QInputDialog *>(modal);
        if (!dialog)
            return;
        offered = dialog->windowTitle() + QLatin1Char('|') + dialog->labelText() + QLatin1Char('|')
            + dialog->textValue();
        dialog->setTextValue(name);
        if (!accepted)
            test::answerMessageBoxes({ QMessageBox::Ok }, &boxes);
        dialog->accept();
    });
    rig.d().action(QStringLiteral("Rename"))->trigger();
    QVERIFY(rig.d().idle());
    QCOMPARE(offered, QStringLiteral("Set Product Name|Name:|Booth 77"));

    const devsim::DeviceSnapshot after = rig.sim.snapshot(1);
    if (accepted) {
        QCOMPARE(after.name, name.toLatin1());
        QCOMPARE(rig.d().comboTexts("comboBox_FoundDevices"),
                 QStringList({ "Type: 6170 Console  |  Studio 76", "Type: Lumivox TX512  |  Studio B Main Console" }));
        QCOMPARE(rig.worker()->selectedDevice, 1);
        QVERIFY(rig.d().child<QLabel>("label_DevInfo")->text().startsWith(
            QStringLiteral("Type:\t Lumivox TX512\nName:\t Studio B Main Console\n")));
    } else {
        QCOMPARE(boxes.size(), 1); // answered before the handler returned
        QCOMPARE(boxes.first().icon, int(QMessageBox::Information));
        QCOMPARE(boxes.first().title, QStringLiteral("Set Product Name"));
        QCOMPARE(boxes.first().text, QStringLiteral("Name cannot be more than 21 characters"));
        QCOMPARE(after.connections, before.connections); // nothing sent
    }
    QCOMPARE(rig.d().child<QComboBox>("comboBox_FoundDevices")->currentIndex(), 1);
    const QString unusable = rig.unusableControl();
    QVERIFY2(unusable.isEmpty(), qPrintable(unusable));
}

void WindowJobsTest::closeDuringAJob_data()
{
    QTest::addColumn<CloseDuring>("during");
    QTest::newRow("download") << DuringDownload;
    QTest::newRow("question box open") << DuringQuestion;
}

void WindowJobsTest::closeDuringAJob()
{
    QFETCH(CloseDuring, during);
    constexpr int kBigImageRecords = 3000;
    WindowRig rig;
    const bool download = during == DuringDownload;
    rig.sim.addDevice(download ? device(Console6170, "127.0.0.78", "Studio 78", kMeters)
                               : device(LumivoxKvr10, "127.0.0.78", "Studio 78", 0));
    QVERIFY(rig.start());
    if (download) {
        test::FirmwareTree::Image image;
        QFile big(rig.firmware.path(QStringLiteral("6170/MetersPIC.hex")));
        QVERIFY(big.open(QIODevice::WriteOnly | QIODevice::Truncate));
        const QByteArray content = test::FirmwareTree::makeHex(1, image, kBigImageRecords);
        QCOMPARE(big.write(content), qint64(content.size()));
        // Each reply of the board comes 2 ms late, so that the download still runs at the close.
        rig.sim.addFault(0, { devsim::FaultKind::DelayReply, kMeters, 1, -1, 2000 });
    }
    QVERIFY(rig.scan());
    QVERIFY(rig.unlock());
    rig.clearList();
    const qint64 logFrom = QFileInfo(logPath()).size();
    QPointer<QThread> thread = rig.worker()->thread();
    std::atomic<bool> threadEnded { false }; // set in the worker thread as it ends
    QObject::connect(thread, &QThread::finished, thread, [&threadEnded] { threadEnded = true; }, Qt::DirectConnection);

    if (download) {
        rig.d().child<QComboBox>("comboBox_Panels")->setCurrentIndex(kMeters);
        rig.press("Bootload_Button");
        QTRY_VERIFY_WITH_TIMEOUT(rig.sim.snapshot(0).boards[kMeters].recordsAccepted > 20, 20000);
    } else {
        // The user closes every window while the question is open, as the window system would.
        bool asked = false;
        test::onNextModal([&asked](QWidget *) {
            asked = true;
            QApplication::closeAllWindows();
        });
        rig.d().action(QStringLiteral("Auto Update"))->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(asked, 20000);
        QTRY_VERIFY(!QApplication::activeModalWidget());
    }
    const QStringList listed = rig.d().listTexts();

    rig.driver.reset();
    rig.window.reset();
    QVERIFY(thread.isNull());
    QVERIFY(threadEnded);
    // Every row listed until the close is in the log file, and so are the lines the job sent
    // while it wound down, after the window had begun to close.
    CHECK_IN_ORDER(listed, loggedRows(logFrom));
    const devsim::BoardSnapshot b = rig.sim.snapshot(0).boards[download ? kMeters : 0];
    if (download) {
        QVERIFY(!listed.join('\n').contains(QStringLiteral("Update FAILED!")));
        QVERIFY(loggedRows(logFrom).join('\n').contains(QStringLiteral("Update FAILED!")));
        // Stopped inside the download: not all records sent, the boot loader never left.
        QVERIFY2(b.recordsAccepted < kBigImageRecords, qPrintable(QString::number(b.recordsAccepted)));
        QCOMPARE(b.leaveRequests, 0);
    } else {
        QCOMPARE(b.enterRequests, 0); // closing the box is no Yes
    }
}

ORVO_UI_TEST_MAIN(WindowJobsTest)
#include "tst_windowjobs.moc"
