// The main window's widgets, toolbar and control states, driven by object names.

#include "catalogue.h"
#include "clock.h"
#include "mainwindow.h"
#include "simulator.h"
#include "uitestsupport.h"
#include "worker.h"

#include <QAction>
#include <QClipboard>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QTextEdit>
#include <QToolBar>

using namespace orvo;
using namespace orvo::ui;

namespace {

using test::action;
using test::child;

OrvoDiscoveryInfo record(std::uint32_t type, const QByteArray &name, std::uint8_t last)
{
    OrvoDiscoveryInfo r;
    r.setType(type);
    r.setName(name);
    r.setMac({ { 0x0a, 0x1b, 0x2c, 0x3d, 0x4e, last } });
    r.setIp({ { 127, 0, 0, last } });
    return r;
}

/// The enabled and checked states that the control-state table speaks of. Controls of one
/// column share a value: 1 all on, 0 all off, -1 when they disagree.
struct Controls
{
    int scanAndIp;
    int renameIdentifyAuto;
    int advancedEnabled;
    int advancedChecked;
    int products;
    int devicesCombo;
    int advancedGroup;

    static int all(std::initializer_list<bool> states)
    {
        int on = 0;
        for (bool s : states)
            on += s;
        return on == 0 ? 0 : on == int(states.size()) ? 1 : -1;
    }
    static Controls of(MainWindow &w)
    {
        const auto on = [&](const char *text) { return action(w, QLatin1String(text))->isEnabled(); };
        return { all({ on("Scan Network"), on("Set IP") }),
                 all({ on("Rename"), on("Identify"), on("Auto Update") }),
                 all({ on("Advanced") }),
                 all({ action(w, QStringLiteral("Advanced"))->isChecked() }),
                 all({ child<QGroupBox>(w, "groupBox_Products")->isEnabled() }),
                 all({ child<QComboBox>(w, "comboBox_FoundDevices")->isEnabled() }),
                 all({ child<QGroupBox>(w, "groupBox_AdvOpt")->isEnabled() }) };
    }
    QByteArray text() const
    {
        return QByteArray::number(scanAndIp) + ' ' + QByteArray::number(renameIdentifyAuto) + ' '
            + QByteArray::number(advancedEnabled) + ' ' + QByteArray::number(advancedChecked) + ' '
            + QByteArray::number(products) + ' ' + QByteArray::number(devicesCombo) + ' '
            + QByteArray::number(advancedGroup);
    }
};

} // namespace

class MainWindowTest : public QObject
{
    Q_OBJECT

private slots:
    void initialState();
    void toolbar();
    void controlStates();
    void advancedShortcutsReachTheirButtons();
};

void MainWindowTest::initialState()
{
    MainWindow w;
    QCOMPARE(w.size(), QSize(721, 715));
    QCOMPARE(child<QLabel>(w, "label_DevInfo")->text(),
             QStringLiteral("Type:     [Scan not yet run] \nName:\nIP: \nMAC: \n"));
    for (const char *hidden : { "LogEdit", "progressBar", "progressBar_Auto", "Rename_Button" })
        QVERIFY2(child<QWidget>(w, hidden)->isHidden(), hidden);
    QVERIFY(!child<QWidget>(w, "Log_listWidget")->isHidden());
    QCOMPARE(child<QWidget>(w, "Log_listWidget")->geometry(), child<QWidget>(w, "LogEdit")->geometry());

    QStringList usable;
    for (QAction *a : w.findChild<QToolBar *>()->actions()) {
        if (!a->isSeparator() && !a->text().isEmpty() && a->isEnabled())
            usable << a->text();
    }
    QCOMPARE(usable, QStringList({ QStringLiteral("Scan Network"), QStringLiteral("Set IP"), QStringLiteral("About") }));
    QVERIFY(!child<QComboBox>(w, "comboBox_FoundDevices")->isEnabled());
    QVERIFY(!child<QGroupBox>(w, "groupBox_AdvOpt")->isEnabled());
    QVERIFY(!action(w, QStringLiteral("Advanced"))->isChecked());

    // Tab order through the controls, as the form sets it.
    QWidget *next = child<QWidget>(w, "comboBox_FoundDevices");
    QStringList order { next->objectName() };
    for (int i = 0; i < 6; ++i) {
        next = next->nextInFocusChain();
        while (next->focusPolicy() == Qt::NoFocus || next->objectName().isEmpty())
            next = next->nextInFocusChain();
        order << next->objectName();
    }
    QCOMPARE(order, QStringList({ "comboBox_FoundDevices", "comboBox_Panels", "GetVersions_Button", "Reset_Button",
                                  "CheckDevice_Button", "Bootload_Button", "LogEdit" }));
}

void MainWindowTest::toolbar()
{
    MainWindow w;
    auto *bar = w.findChild<QToolBar *>();
    QVERIFY(bar);
    QCOMPARE(bar->windowTitle(), QStringLiteral("Toolbar"));
    QCOMPARE(bar->iconSize(), QSize(32, 32));
    QVERIFY(!bar->isMovable());
    QCOMPARE(bar->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
    QCOMPARE(bar->contextMenuPolicy(), Qt::PreventContextMenu);

    // Separators as "|", the spacer as "<->", each action as text, tooltip and shortcut.
    QStringList items;
    for (QAction *a : bar->actions()) {
        if (a->isSeparator())
            items << QStringLiteral("|");
        else if (QWidget *widget = bar->widgetForAction(a); widget && !a->text().isEmpty())
            items << a->text() + QStringLiteral(" / ") + a->toolTip() + QStringLiteral(" / ")
                    + a->shortcut().toString() + (a->isCheckable() ? QStringLiteral(" / checkable") : QString())
                    + (a->icon().isNull() ? QStringLiteral(" / NO ICON") : QString());
        else
            items << QStringLiteral("<->");
    }
    const QStringList expected {
        "Scan Network / Scan the Network for Orvo Products / Ctrl+S",
        "|",
        "Set IP / Set Manual IPs / Ctrl+M",
        "|",
        "Rename / Rename the currently selected Orvo Product / Ctrl+N",
        "|",
        "Identify / Identify the currently selected Orvo Product / Ctrl+D",
        "<->",
        "Auto Update / Auto Update Firmware on all panels/boards for the selected Product / Ctrl+Shift+A",
        "|",
        "Advanced / Click to show Advanced Options / Ctrl+A / checkable",
        "|",
        "About / Click to show Changelog/Version information / Ctrl+I",
    };
    QCOMPARE(items, expected);
    QWidget *spacer = bar->findChild<QWidget *>(QStringLiteral("toolBarSpacer"));
    QVERIFY(spacer);
    QCOMPARE(spacer->sizePolicy().horizontalPolicy(), QSizePolicy::Expanding);
}

void MainWindowTest::controlStates()
{
    MainWindow w;
    const DeviceList two { record(0, "Studio A", 0x5f), record(2, "Booth", 0x60) };

    struct Row
    {
        const char *state;
        std::function<void()> drive;
        Controls expected;
    };
    const auto enable = [&](bool on) {
        return [&w, on] { QVERIFY(QMetaObject::invokeMethod(&w, "EnableControls", Q_ARG(bool, on))); };
    };
    const auto devices = [&](const DeviceList &list) {
        return [&w, list] {
            QVERIFY(QMetaObject::invokeMethod(&w, "updateDevicesCombo", Q_ARG(QVector<OrvoDiscoveryInfo>, list)));
        };
    };
    const auto unlock = [&] {
        test::answerInputDialog(QStringLiteral("qel"));
        action(w, QStringLiteral("Advanced"))->trigger();
    };
    const Row rows[] = {
        // state                                   scan/ip rio    adv    checked prod   combo  advgroup
        { "after construction", [] {}, { true, false, false, false, true, false, false } },
        { "device list arrived, empty", devices({}), { true, false, false, false, true, false, false } },
        { "device list arrived, not empty", devices(two), { true, true, true, false, true, true, false } },
        { "job running, Advanced unchecked", enable(false), { false, false, false, false, false, false, false } },
        { "job ended, Advanced unchecked", enable(true), { true, true, true, false, true, true, false } },
        { "Advanced checked, password right", unlock, { true, true, true, true, true, true, true } },
        { "job running, Advanced checked", enable(false), { false, false, false, true, false, false, false } },
        { "job ended, Advanced checked", enable(true), { true, true, true, true, true, true, true } },
    };
    for (const Row &row : rows) {
        row.drive();
        const Controls seen = Controls::of(w);
        const QByteArray message = row.state + QByteArray(": ") + seen.text() + " expected " + row.expected.text();
        QVERIFY2(seen.text() == row.expected.text(), message.constData());
        QVERIFY2(action(w, QStringLiteral("About"))->isEnabled(), row.state);
    }
}

void MainWindowTest::advancedShortcutsReachTheirButtons()
{
    // A console in the simulator, found by a manual scan of its address.
    ScaledClock clock(1000.0);
    devsim::Simulator sim(1000.0);
    sim.addDevice(devsim::defaultDevice(0, QStringLiteral("127.0.0.61")));
    QString error;
    QVERIFY2(sim.start(0, &error), qPrintable(error));

    MainWindow w(clock);
    Worker *worker = w.worker();
    worker->devicePort = sim.port();
    worker->manualIpEnabled = true;
    worker->manualIp[0] = QStringLiteral("127.0.0.61");
    w.show();
    QVERIFY(QTest::qWaitForWindowActive(&w));

    // Recorded in this thread, through the window as context: a signal spy would append in the
    // worker thread while this one reads.
    QVector<bool> enabled;
    QStringList texts;
    QObject::connect(worker, &Worker::frW_EnableControls, &w, [&enabled](bool on) { enabled << on; });
    QObject::connect(worker, &Worker::frW_insertListItem, &w,
                     [&texts](int, const QString &text, int, bool) { texts << text; });
    action(w, QStringLiteral("Scan Network"))->trigger();
    QTRY_COMPARE_WITH_TIMEOUT(child<QComboBox>(w, "comboBox_FoundDevices")->count(), 1, 20000);
    test::answerInputDialog(QStringLiteral("Kobo?Lantern"));
    action(w, QStringLiteral("Advanced"))->trigger();
    QVERIFY(child<QGroupBox>(w, "groupBox_AdvOpt")->isEnabled());

    QApplication::setActiveWindow(&w); // back from the password dialog
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QGuiApplication::clipboard()->setText(QStringLiteral("untouched"));
    enabled.clear();
    texts.clear();
    QTest::keyClick(&w, Qt::Key_C, Qt::ControlModifier);
    const auto jobEnded = [&] { return !enabled.isEmpty() && enabled.constLast(); };
    QTRY_VERIFY2_WITH_TIMEOUT(jobEnded(), qPrintable(texts.join('\n')), 20000);
    // The Check job's first line names the panel it contacts.
    QVERIFY2(texts.contains(QStringLiteral("Contacting ") + panelName(0, 0) + QStringLiteral("...")),
             qPrintable(texts.join('\n')));
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("untouched"));
}

ORVO_UI_TEST_MAIN(MainWindowTest)
#include "tst_mainwindow.moc"
