// The window on a faster clock: its title says so, and a scan that would sweep the real
// subnets is refused with a message box. Run in a network namespace of its own (only lo up), so
// that even a broken refusal sweeps nothing.

#include "appidentity.h"
#include "clock.h"
#include "framelesswindow.h"
#include "mainwindow.h"
#include "startup.h"
#include "uitestsupport.h"
#include "worker.h"

#include <QLabel>
#include <QThread>

using namespace orvo;
using namespace orvo::ui;

class tst_WindowTimeFactor : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { setApplicationIdentity(); }
    void titleNamesTheFactor();
    void sweepRefusedWithAMessageBox();
};

void tst_WindowTimeFactor::titleNamesTheFactor()
{
    ScaledClock clock(50);
    const std::unique_ptr<FramelessWindow> frame = createMainFrame(&clock);
    QCOMPARE(frame->findChild<QLabel *>(QStringLiteral("titleText"))->text(),
             QStringLiteral("Orvo Updater  [7.35]  -  time factor 50, simulator only"));
}

void tst_WindowTimeFactor::sweepRefusedWithAMessageBox()
{
    ScaledClock clock(50);
    MainWindow window(clock);
    window.worker()->manualIpEnabled = false;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    test::SeenBox seen;
    test::answerMessageBox(QMessageBox::Ok, &seen);
    test::action(window, "Scan Network")->trigger();
    QVERIFY(QTest::qWaitFor([&] { return !window.worker()->isWorking() && !window.worker()->thread()->isRunning(); },
                            30000));
    QCoreApplication::processEvents();
    QCOMPARE(seen.text, QStringLiteral("The time factor 50 is for the device simulator only: jobs may then talk only "
                                       "to loopback addresses (127.0.0.0/8), and a scan without manual addresses "
                                       "sweeps the subnets of this computer. The job was not started; nothing was "
                                       "sent."));
    QCOMPARE(seen.icon, int(QMessageBox::Critical));
    QVERIFY(test::action(window, "Scan Network")->isEnabled()); // the window can scan again
}

ORVO_UI_TEST_MAIN(tst_WindowTimeFactor)
#include "tst_windowtimefactor.moc"
