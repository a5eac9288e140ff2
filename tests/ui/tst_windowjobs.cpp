// The window's wiring of the jobs, against simulated devices: one run per control with its rows
// in the activity list, and what only the window does (the device list and label, a device's
// text shown as data, the keys held at a click, the rename prompt and no prompt for a refused
// rename, and closing the window while a job still runs). What the jobs themselves do is the
// worker tests'.

#include "appidentity.h"
#include "clock.h"
#include "history.h"
#include "mainwindow.h"
#include "simulation.h"
#include "uitestsupport.h"
#include "worker.h"

#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QThread>

#include <atomic>

using namespace orvo;
using namespace orvo::ui;

namespace {

constexpr int kMeters = 16; // console "Channel Meter 1-8", build 5

using test::logPath;

QString historyPath()
{
    return QFileInfo(logPath()).absolutePath() + QStringLiteral("/history.jsonl");
}

/// The rows logged from byte `from` on, without their time stamps.
QStringList loggedRows(qint64 from)
{
    QFile file(logPath());
    QStringList rows;
    if (file.open(QIODevice::ReadOnly) && file.seek(from)) {
        for (const QByteArray &line : file.readAll().split('\n'))
            rows << QString::fromUtf8(line.mid(27));
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
    QVERIFY2(missingInOrder(wanted, rows).isEmpty(), qPrintable(missingInOrder(wanted, rows)))

devsim::DeviceConfig device(int type, const char *address, const QByteArray &name, int outOfDate = -1, int version = 4)
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
    explicit WindowRig(double speedUp = 1000.0) : clock(speedUp), sim(1000.0) { }

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
};

enum Control { PressGetVersions, PressCheck, KeysCheck, PressUpdate, PressReset, PressResetWithAlt, PressIdentify };
enum CloseDuring { DuringDownload, DuringQuestion };

} // namespace

Q_DECLARE_METATYPE(Control)
Q_DECLARE_METATYPE(CloseDuring)

class WindowJobsTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { setApplicationIdentity(); }
    void init()
    {
        QFile::remove(logPath());
        QFile::remove(historyPath());
    }
    void scanListsTheDevices();
    void jobControls_data();
    void jobControls();
    void autoUpdate_data();
    void autoUpdate();
    void renameDuringAJob();
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
    // A name full of control characters: listed, labelled and logged escaped, never acted on.
    devsim::DeviceConfig b = device(Qrt3350, "127.0.0.72", "\x1b[2J\r\n#9: fake");
    b.mac = { { 0xf0, 0x01, 0xe2, 0x0d, 0xc3, 0xab } };
    rig.sim.addDevice(b);
    QVERIFY(rig.start());
    const qint64 logFrom = QFileInfo(logPath()).size();

    QVERIFY(rig.scan());
    const QString shown = QStringLiteral("\\x1B[2J\\x0D\\x0A#9: fake");
    QCOMPARE(rig.d().comboTexts("comboBox_FoundDevices"),
        QStringList({ "Type: Lumivox KVR30  |  Studio 71", "Type: 3350 QRT  |  " + shown }));
    auto *label = rig.d().child<QLabel>("label_DevInfo");
    QCOMPARE(label->text(),
        "Type:\t Lumivox KVR30\nName:\t Studio 71\nIP:\t 127.0.0.71\nMAC:\t 0A:BC:2D:3E:4F:07\n"
        "Status:\t OK");
    QCOMPARE(test::controls(rig.w()), QStringLiteral("11111101101"));
    const QStringList rows = rig.d().listTexts();
    CHECK_IN_ORDER(QStringList({ "Scanning Network for Orvo Products...", "Finished Network Scan",
                       "Orvo Products Found: 2", "#1:  Type: Lumivox KVR30  |  Studio 71  |  IP: 127.0.0.71",
                       "#2:  Type: 3350 QRT  |  " + shown + "  |  IP: 127.0.0.72" }),
        rows);
    CHECK_IN_ORDER(rows, loggedRows(logFrom));

    rig.d().child<QComboBox>("comboBox_FoundDevices")->setCurrentIndex(1);
    QCOMPARE(label->text(),
        "Type:\t 3350 QRT\nName:\t " + shown
            + "\nIP:\t 127.0.0.72\nMAC:\t F0:01:E2:0D:C3:AB\n"
              "Status:\t OK");
    QCOMPARE(rig.d().comboTexts("comboBox_Panels"),
        QStringList({ "Interface Processor", "Digital Board", "Digital Board FPGA", "Digital ADAT Board",
            "Digital ADAT Board FPGA" }));
    QCOMPARE(rig.w().jobInputs().selectedDevice, 1);
    QCOMPARE(rig.w().jobInputs().deviceType, int(Qrt3350));

    // A new scan empties the list at once; afterwards the first device is selected again.
    rig.d().action(QStringLiteral("Scan Network"))->trigger();
    QCOMPARE(label->text(), QStringLiteral("Type:     [No Orvo Products found] \nName:\nIP: \nMAC:\n"));
    QCOMPARE(rig.d().child<QComboBox>("comboBox_FoundDevices")->count(), 0);
    QVERIFY(rig.d().idle());
    QCOMPARE(rig.w().jobInputs().selectedDevice, 0);
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
    QTest::newRow("Check by Ctrl+C") << KeysCheck
                                     << QStringList({ "Contacting Channel Meter 1-8...",
                                            "Channel Meter 1-8 Found!  Firmware version: 4  (5)" });
    QTest::newRow("Update") << PressUpdate
                            << QStringList({ "Updating firmware on Channel Meter 1-8...",
                                   "Channel Meter 1-8:  Update Successful!" });
    QTest::newRow("Reset") << PressReset << QStringList({ "Resetting Channel Meter 1-8..." });
    QTest::newRow("Reset with Alt") << PressResetWithAlt
                                    << QStringList(
                                           { "Resetting Channel Meter 1-8...", "Contacting Channel Meter 1-8...",
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
    QCOMPARE(rig.w().jobInputs().panelIndex, kMeters);
    rig.clearList();
    const devsim::DeviceSnapshot before = rig.sim.snapshot(0);

    QVERIFY(rig.d().runJob([&] {
        switch (control) {
        case PressGetVersions:
            return rig.press("GetVersions_Button");
        case PressCheck:
            return rig.press("CheckDevice_Button");
        case KeysCheck:
            QVERIFY(QTest::qWaitForWindowActive(&rig.w()));
            return QTest::keyClick(&rig.w(), Qt::Key_C, Qt::ControlModifier);
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

    QCOMPARE(test::controls(rig.w()), QStringLiteral("11111111111"));
    QVERIFY(rig.d().child("progressBar")->isHidden());
    CHECK_IN_ORDER(rows, rig.d().listTexts());

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
    QTest::addColumn<int>("selected");
    QTest::addColumn<int>("held");
    QTest::addColumn<bool>("yes");
    QTest::addColumn<bool>("needsUpdate");
    QTest::addColumn<int>("pending");
    QTest::addColumn<QStringList>("rows");
    QTest::newRow("Yes") << 1 << 0 << true << false << 1
                         << QStringList({ "3350 QRT [Rack 75]", "*** AUTO UPDATE FIRMWARE ***",
                                "Firmware update required: Interface Processor   Version: 12  (13)",
                                "*** UPDATING CONSOLE/UNIT FIRMWARE ***",
                                "Update Successful!    Interface Processor   Version: 13  (13)",
                                "*** FIRMWARE UPDATE FINISHED ***" });
    QTest::newRow("No, interface update")
        << 1 << 0 << false << true << 1
        << QStringList({ "Firmware update required: Interface Processor", "*** FIRMWARE UPDATE CANCELLED ***" });
    // The console, one board out of date: forced, every board counts as pending.
    QTest::newRow("Ctrl+Alt, No") << 0 << int(Qt::ControlModifier | Qt::AltModifier) << false << false << 20
                                  << QStringList({ "*** FIRMWARE UPDATE CANCELLED ***" });
    QTest::newRow("Ctrl, No") << 0 << int(Qt::ControlModifier) << false << false << 1
                              << QStringList({ "*** FIRMWARE UPDATE CANCELLED ***" });
}

void WindowJobsTest::autoUpdate()
{
    QFETCH(int, selected);
    QFETCH(int, held);
    QFETCH(bool, yes);
    QFETCH(bool, needsUpdate);
    QFETCH(int, pending);
    QFETCH(QStringList, rows);
    // A console and a 3350 QRT, each with its first board out of date; with the QRT's interface
    // flag set the job asks for its record again and the list comes anew.
    WindowRig rig;
    rig.sim.addDevice(device(Console6170, "127.0.0.74", "Studio 74", 0, 10));
    devsim::DeviceConfig qrt = device(Qrt3350, "127.0.0.75", "Rack 75", 0, 12);
    qrt.needsUpdate = needsUpdate ? 1 : 0;
    rig.sim.addDevice(qrt);
    QVERIFY(rig.start());
    QVERIFY(rig.scan());
    rig.d().child<QComboBox>("comboBox_FoundDevices")->setCurrentIndex(selected);

    QSignalSpy newList(
        rig.d().child<QComboBox>("comboBox_FoundDevices"), QOverload<int>::of(&QComboBox::currentIndexChanged));
    QVector<test::SeenBox> boxes;
    test::answerMessageBoxes(yes ? QList<QMessageBox::StandardButton>({ QMessageBox::Yes, QMessageBox::Ok })
                                 : QList<QMessageBox::StandardButton>({ QMessageBox::No }),
        &boxes);
    // The handler asks for the keys held at that moment: hold them, trigger, let go.
    if (held & Qt::ControlModifier)
        QTest::keyPress(&rig.w(), Qt::Key_Control, Qt::ControlModifier);
    if (held & Qt::AltModifier)
        QTest::keyPress(&rig.w(), Qt::Key_Alt, Qt::ControlModifier | Qt::AltModifier);
    QVERIFY(rig.d().runJob([&] { rig.d().action(QStringLiteral("Auto Update"))->trigger(); }));
    if (held & Qt::AltModifier)
        QTest::keyRelease(&rig.w(), Qt::Key_Alt, Qt::ControlModifier);
    if (held & Qt::ControlModifier)
        QTest::keyRelease(&rig.w(), Qt::Key_Control, Qt::NoModifier);

    QCOMPARE(boxes.size(), yes ? 2 : 1);
    QCOMPARE(boxes.at(0).icon, int(QMessageBox::Question));
    QCOMPARE(boxes.at(0).title, QStringLiteral("Auto Update"));
    QCOMPARE(boxes.at(0).text,
        QStringLiteral("The Console/Unit has %1 panels/boards that need updating.\n"
                       "Do you wish to continue ?")
            .arg(pending));
    if (yes) {
        QCOMPARE(boxes.at(1).icon, int(QMessageBox::Information));
        QCOMPARE(boxes.at(1).text, QStringLiteral("Auto Update has finished!"));
    }
    CHECK_IN_ORDER(rows, rig.d().listTexts());
    QCOMPARE(test::controls(rig.w()), QStringLiteral("11111101101"));

    // The job's boards are in the history beside the log file, the cancelled scan's as well.
    const QJsonObject board0
        = readHistory(historyPath(), { rig.sim.address(selected), "0", std::nullopt, true }).entries.value(0);
    QCOMPARE(board0.value("frontEnd").toString(), "window");
    QCOMPARE(board0.value("jobEnd").toString(), yes ? "done" : "cancelled");
    QCOMPARE(board0.value("versionBefore").toInt(), selected == 1 ? 12 : 10);
    QCOMPARE(board0.value("versionAfter").toInt(-1), yes ? 13 : -1);

    QCOMPARE(rig.sim.snapshot(1).boards[0].recordsAccepted > 0, yes);
    QCOMPARE(rig.sim.snapshot(0).boards[0].recordsAccepted, 0);
    // The list comes anew only for the interface update; either way the device stays selected.
    QCOMPARE(!newList.isEmpty(), needsUpdate);
    QCOMPARE(rig.d().child<QComboBox>("comboBox_FoundDevices")->currentIndex(), selected);
    QCOMPARE(rig.w().jobInputs().selectedDevice, selected);
    QVERIFY(rig.d()
                .child<QLabel>("label_DevInfo")
                ->text()
                .endsWith(needsUpdate ? QStringLiteral("Status:\t Interface Device requires firmware update")
                                      : QStringLiteral("Status:\t OK")));
}

void WindowJobsTest::renameDuringAJob()
{
    // The refusal itself is the worker host's; the window must ask nothing for a refused job.
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
    test::BoxAnswerer watch;
    rig.press("Reset_Button");
    rig.d().action(QStringLiteral("Rename"))->trigger();
    QVERIFY(rig.d().idle());

    QCOMPARE(watch.seen, QStringList()); // no rename prompt
    QCOMPARE(rig.d().listTexts(), QStringList({ QString(), "Resetting Channel Meter 1-8..." }));
    QCOMPARE(rig.sim.snapshot(0).requests, before.requests + 1); // the reset alone
    QCOMPARE(test::controls(rig.w()), QStringLiteral("11111111111"));
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
        offered
            = dialog->windowTitle() + QLatin1Char('|') + dialog->labelText() + QLatin1Char('|') + dialog->textValue();
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
    } else {
        QCOMPARE(boxes.size(), 1); // answered before the handler returned
        QCOMPARE(boxes.first().icon, int(QMessageBox::Information));
        QCOMPARE(boxes.first().title, QStringLiteral("Set Product Name"));
        QCOMPARE(boxes.first().text, QStringLiteral("Name cannot be more than 21 characters"));
        QCOMPARE(after.connections, before.connections); // nothing sent
    }
    QCOMPARE(rig.d().child<QComboBox>("comboBox_FoundDevices")->currentIndex(), 1);
    QCOMPARE(test::controls(rig.w()), QStringLiteral("11111101101"));
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
        QFile big(rig.firmware.path(QStringLiteral("6170/MetersPIC.hex")));
        QVERIFY(big.open(QIODevice::WriteOnly | QIODevice::Truncate));
        const QByteArray content = test::FirmwareTree::hexImage(1, kBigImageRecords);
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
    QObject::connect(
        thread, &QThread::finished, thread, [&threadEnded] { threadEnded = true; }, Qt::DirectConnection);

    if (download) {
        rig.d().child<QComboBox>("comboBox_Panels")->setCurrentIndex(kMeters);
        rig.press("Bootload_Button");
        QTRY_VERIFY_WITH_TIMEOUT(rig.sim.snapshot(0).boards[kMeters].recordsAccepted > 20, 20000);
        QVERIFY(rig.d().child("progressBar")->isVisible());
        // The front end's wiring of the download's pace: beside the percentage while it runs.
        QTRY_VERIFY(rig.d().child<QProgressBar>("progressBar")->text().contains(QStringLiteral(" rec/s  \u00b7  ")));
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
