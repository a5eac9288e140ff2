// The window against devices that send what they should not: a name full of control
// characters, and a record for another address than the one asked.

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
    void hostileDevicesAreShownAsData();
};

void tst_WindowTrust::hostileDevicesAreShownAsData()
{
    QFile::remove(logPath());
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
    auto *combo = child<QComboBox>(window, "comboBox_FoundDevices");
    QCOMPARE(combo->itemText(0), QStringLiteral("Type: 6170 Console  |  ") + shown);
    QVERIFY(child<QLabel>(window, "label_DevInfo")->text().startsWith(
        QStringLiteral("Type:\t 6170 Console\nName:\t ") + shown + QStringLiteral("\nIP:\t 127.0.0.152\n")));
    const QStringList lastRows = {
        QStringLiteral("#1:  Type: 6170 Console  |  ") + shown + QStringLiteral("  |  IP: 127.0.0.152"),
        QStringLiteral("#2:  Type: Lumivox KVR10  |  Lumivox KVR10  |  IP: 127.0.0.154"),
        QStringLiteral("Warning!  The device at 127.0.0.153 sends a record for 127.0.0.154: its jobs go to 127.0.0.154"),
    };
    auto *list = child<QListWidget>(window, "Log_listWidget");
    QStringList listed;
    for (int i = list->count() - 3; i < list->count(); ++i)
        listed << list->item(i)->text();
    QCOMPARE(listed, lastRows);
    QFile log(logPath());
    QVERIFY(log.open(QIODevice::ReadOnly));
    QStringList logged;
    for (const QByteArray &line : log.readAll().split('\n'))
        logged << QString::fromUtf8(line.mid(27)); // after the time stamp
    QCOMPARE(logged.mid(logged.size() - 4), lastRows + QStringList { QString() });
    const QString entryWarning
        = QStringLiteral("Warning!  Manual IP address 'x\\x0D\\x0Aforged' is not a valid IPv4 address - skipped");
    QVERIFY(logged.contains(entryWarning));
    QCOMPARE(list->findItems(entryWarning, Qt::MatchExactly).size(), 1);

    // A name the devices cannot hold is refused before anything is sent.
    QString seen;
    SeenBox box;
    answerInputDialog(QStringLiteral("Studio Ω"), true, &seen, [&box] { answerMessageBox(QMessageBox::Ok, &box); });
    action(window, QStringLiteral("Rename"))->trigger();
    QCOMPARE(box.text, QStringLiteral("Name cannot contain \"Ω\" (U+03A9): devices keep names in Windows-1252"));
    QCOMPARE(sim.snapshot(0).renames, 0);
}

ORVO_UI_TEST_MAIN(tst_WindowTrust)
#include "tst_windowtrust.moc"
