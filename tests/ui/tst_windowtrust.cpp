// The window against what comes from outside: a device name full of control characters, a
// record for another address than the one asked, a settings entry with a line break.

#include "../worker/simulation.h"
#include "appidentity.h"
#include "catalogue.h"
#include "clock.h"
#include "mainwindow.h"
#include "uitestsupport.h"
#include "worker.h"

#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QThread>

using namespace orvo;
using namespace orvo::test;

class tst_WindowTrust : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { setApplicationIdentity(); }
    void outsideTextIsShownAsData();
};

void tst_WindowTrust::outsideTextIsShownAsData()
{
    ScaledClock clock(1000.0);
    devsim::Simulator sim;
    FirmwareTree firmware;
    devsim::DeviceConfig hostile = devsim::defaultDevice(Console6170, QStringLiteral("127.0.0.152"));
    hostile.name = QByteArray("\x1b[2J\r\n#9: fake");
    devsim::DeviceConfig liar = devsim::defaultDevice(LumivoxKvr10, QStringLiteral("127.0.0.153"));
    liar.recordAddress = QStringLiteral("127.0.0.154");
    sim.addDevice(hostile);
    sim.addDevice(liar);
    ui::MainWindow window(clock);
    Worker &worker = *window.worker();
    QVERIFY(startSimulation(sim, firmware, worker));
    worker.manualIpEnabled = true;
    worker.manualIp[0] = QStringLiteral("127.0.0.152");
    worker.manualIp[1] = QStringLiteral("127.0.0.153");
    worker.manualIp[2] = QStringLiteral("x\r\nforged"); // the settings file may hold anything
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    action(window, QStringLiteral("Scan Network"))->trigger();
    QVERIFY(QTest::qWaitFor([&] { return !worker.isWorking() && !worker.thread()->isRunning(); }, 30000));
    QCoreApplication::processEvents();

    const QString shown = QStringLiteral("\\x1B[2J\\x0D\\x0A#9: fake");
    QCOMPARE(child<QComboBox>(window, "comboBox_FoundDevices")->itemText(0), "Type: 6170 Console  |  " + shown);
    QVERIFY(child<QLabel>(window, "label_DevInfo")->text().startsWith("Type:\t 6170 Console\nName:\t " + shown + "\n"));
    const QStringList rows = {
        "Warning!  Manual IP address 'x\\x0D\\x0Aforged' is not a valid IPv4 address - skipped",
        "Finished Network Scan", "Orvo Products Found: 2", "#1:  Type: 6170 Console  |  " + shown + "  |  IP: 127.0.0.152",
        "#2:  Type: Lumivox KVR10  |  Lumivox KVR10  |  IP: 127.0.0.154",
        "Warning!  The device at 127.0.0.153 sends a record for 127.0.0.154: its jobs go to 127.0.0.154"
    };
    auto *list = child<QListWidget>(window, "Log_listWidget");
    QStringList listed, logged;
    for (int i = 0; i < list->count(); ++i)
        listed << list->item(i)->text();
    QCOMPARE(listed.mid(listed.size() - rows.size()), rows);
    QFile log(logPath());
    QVERIFY(log.open(QIODevice::ReadOnly));
    for (const QByteArray &line : log.readAll().split('\n'))
        logged << QString::fromUtf8(line.mid(27)); // after the time stamp
    QCOMPARE(logged.mid(logged.size() - rows.size() - 1), rows + QStringList(QString()));

    // A name the devices cannot hold is refused before anything is sent.
    SeenBox box;
    answerInputDialog(QStringLiteral("Studio Ω"), true, nullptr, [&box] { answerMessageBox(QMessageBox::Ok, &box); });
    action(window, QStringLiteral("Rename"))->trigger();
    QCOMPARE(box.text, QStringLiteral("Name cannot contain \"Ω\" (U+03A9): devices keep names in Windows-1252"));
    QCOMPARE(sim.snapshot(0).renames, 0);
}

ORVO_UI_TEST_MAIN(tst_WindowTrust)
#include "tst_windowtrust.moc"
