// The main window without devices: its control states, the Advanced Options password, its
// settings and the manual IP dialog, and its log file: what a row writes, what it leaves out,
// and what happens when the file cannot be written.

#include "appidentity.h"
#include "joboutcome.h"
#include "mainwindow.h"
#include "setmanipdialog.h"
#include "uitestsupport.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QSettings>
#include <QToolButton>

using namespace orvo;
using namespace orvo::ui;
using test::action;
using test::child;
using test::controls;
using test::logPath;

namespace {

QString settingsPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + QStringLiteral("/AppSettings.ini");
}

void writeSettings(bool enabled, const QStringList &ips)
{
    QSettings s(settingsPath(), QSettings::IniFormat);
    s.setValue(QStringLiteral("OrvoUpdaterSettings/EnableIPScan"), enabled);
    for (int i = 0; i < 4; ++i)
        s.setValue(QStringLiteral("OrvoUpdaterSettings/ManIP%1").arg(i + 1), ips.at(i));
}

QStringList storedIps()
{
    QSettings s(settingsPath(), QSettings::IniFormat);
    QStringList ips;
    for (int i = 0; i < 4; ++i)
        ips << s.value(QStringLiteral("OrvoUpdaterSettings/ManIP%1").arg(i + 1)).toString();
    return ips;
}

const QString kNone = QStringLiteral("000.000.000.000");

QString logText()
{
    QFile file(logPath());
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

void addRow(MainWindow &w, int icon, const QString &text)
{
    QVERIFY(QMetaObject::invokeMethod(
        &w, "insertListItem", Q_ARG(orvo::RowIcon, RowIcon(icon)), Q_ARG(QString, text), Q_ARG(bool, false)));
}

int listedRows(MainWindow &w)
{
    return w.findChild<QListWidget *>(QStringLiteral("Log_listWidget"))->count();
}

/// A window whose log stamps read `start`, one millisecond later for every row.
std::unique_ptr<MainWindow> windowAt(const QDateTime &start)
{
    auto w = std::make_unique<MainWindow>();
    auto next = std::make_shared<qint64>(0);
    w->setWallClock([start, next] { return start.addMSecs((*next)++); });
    return w;
}

} // namespace

class MainWindowTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { setApplicationIdentity(); }
    void init()
    {
        QFile::remove(settingsPath());
        QFile::remove(logPath());
    }
    void controlStates();
    void advancedPassword_data();
    void advancedPassword();
    void settingsAtStartUp_data();
    void settingsAtStartUp();
    void manualIpDialog_data();
    void manualIpDialog();
    void logRowsAppendedAcrossRuns();
    void unwritableLogIsTriedAgain();
    void downloadPaceBesideThePercentage();
};

void MainWindowTest::controlStates()
{
    MainWindow w;
    OrvoDiscoveryInfo record;
    record.setName("Studio A");
    const auto devices = [&w](const DeviceList &list) {
        QVERIFY(QMetaObject::invokeMethod(&w, "updateDevicesCombo", Q_ARG(QVector<OrvoDiscoveryInfo>, list)));
    };
    const auto enable = [&w](bool on) { QVERIFY(QMetaObject::invokeMethod(&w, "EnableControls", Q_ARG(bool, on))); };

    QCOMPARE(child<QLabel>(w, "label_DevInfo")->text(),
        QStringLiteral("Type:     [Scan not yet run] \nName:\nIP: \nMAC: \n"));
    QCOMPARE(controls(w), QStringLiteral("11000001001")); // after construction
    devices({});
    QCOMPARE(controls(w), QStringLiteral("11000001001"));
    devices({ record });
    QCOMPARE(controls(w), QStringLiteral("11111101101"));
    enable(false); // a job runs
    QCOMPARE(controls(w), QStringLiteral("00000000001"));
    enable(true);
    QCOMPARE(controls(w), QStringLiteral("11111101101"));
    test::answerInputDialog(QStringLiteral("qel"));
    action(w, QStringLiteral("Advanced"))->trigger();
    QCOMPARE(controls(w), QStringLiteral("11111111111"));
    enable(false); // Advanced stays checked while its group is off
    QCOMPARE(controls(w), QStringLiteral("00000010001"));
    enable(true);
    QCOMPARE(controls(w), QStringLiteral("11111111111"));
}

void MainWindowTest::advancedPassword_data()
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

void MainWindowTest::advancedPassword()
{
    QFETCH(QString, code);
    QFETCH(bool, accept);
    QFETCH(bool, unlocks);
    MainWindow w;
    QVERIFY(QMetaObject::invokeMethod(&w, "updateDevicesCombo", Q_ARG(QVector<OrvoDiscoveryInfo>, DeviceList(1))));

    QVector<test::SeenBox> boxes;
    const bool warned = accept && !unlocks;
    test::answerInputDialog(code, accept, [warned, &boxes] {
        if (warned)
            test::answerMessageBoxes({ QMessageBox::Ok }, &boxes);
    });
    action(w, QStringLiteral("Advanced"))->trigger(); // the dialog and the warning are answered before this returns
    QCOMPARE(controls(w), unlocks ? QStringLiteral("11111111111") : QStringLiteral("11111101101"));
    QCOMPARE(boxes.size(), warned ? 1 : 0);
    if (warned) {
        QCOMPARE(boxes.first().icon, int(QMessageBox::Warning));
        QCOMPARE(boxes.first().title, QStringLiteral("Advanced Options"));
        QCOMPARE(boxes.first().text, QStringLiteral("Incorrect Password!"));
    }

    // Unlocked, the action toggles the group off and on without asking; locked, it asks each time.
    test::BoxAnswerer watch;
    action(w, QStringLiteral("Advanced"))->trigger();
    action(w, QStringLiteral("Advanced"))->trigger();
    QCOMPARE(watch.seen, unlocks ? QStringList() : QStringList({ "QInputDialog", "QInputDialog" }));
    QCOMPARE(controls(w), unlocks ? QStringLiteral("11111111111") : QStringLiteral("11111101101"));
}

void MainWindowTest::settingsAtStartUp_data()
{
    QTest::addColumn<bool>("writeFile");
    QTest::addColumn<QStringList>("inFile");
    QTest::addColumn<QStringList>("inWorker");
    QTest::addColumn<QStringList>("fileAfter");

    const QStringList good { "192.168.001.010", "127.0.0.5", kNone, "10.0.0.1" };
    QTest::newRow("no file: defaults, nothing written")
        << false << QStringList() << QStringList { kNone, kNone, kNone, kNone } << QStringList { "", "", "", "" };
    QTest::newRow("valid set kept as typed") << true << good << good << good;
    QTest::newRow("one bad address resets all four")
        << true << QStringList { "127.0.0.5", "127.0.0.6", "300.1.1.1", "127.0.0.8" }
        << QStringList { kNone, kNone, kNone, kNone } << QStringList { kNone, kNone, kNone, kNone };
}

void MainWindowTest::settingsAtStartUp()
{
    QFETCH(bool, writeFile);
    QFETCH(QStringList, inFile);
    QFETCH(QStringList, inWorker);
    QFETCH(QStringList, fileAfter);
    if (writeFile)
        writeSettings(true, inFile);

    MainWindow w;
    QStringList seen;
    for (const QString &ip : w.jobInputs().manualIp)
        seen << ip;
    QCOMPARE(seen, inWorker);
    QCOMPARE(w.jobInputs().manualIpEnabled, writeFile); // the switch survives a reset of the addresses
    QCOMPARE(QFile::exists(settingsPath()), writeFile);
    if (writeFile)
        QCOMPARE(storedIps(), fileAfter);
}

void MainWindowTest::manualIpDialog_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("stored");
    QTest::newRow("as typed, with its zeros") << "192168001010"
                                              << "192.168.001.010";
    QTest::newRow("only the first two groups") << "192.168.." << kNone;
}

void MainWindowTest::manualIpDialog()
{
    QFETCH(QString, typed);
    QFETCH(QString, stored);

    MainWindow w;
    w.show();
    QStringList shown;
    bool shownSwitch = true;
    bool stillOpenAfterKeys = false;
    test::onNextModal([&](QWidget *frame) {
        auto *dialog = frame->findChild<SetManIP_Dialog *>();
        QVERIFY(dialog);
        for (int i = 1; i <= 4; ++i)
            shown << dialog->findChild<QLineEdit *>(QStringLiteral("ManIPDev%1").arg(i))->text();
        auto *box = dialog->findChild<QCheckBox *>(QStringLiteral("EnIP_checkBox"));
        shownSwitch = box->isChecked();
        box->setChecked(true);
        auto *field = dialog->findChild<QLineEdit *>(QStringLiteral("ManIPDev2"));
        field->setFocus();
        if (typed.contains('.')) { // a field left partly filled: the rest of the mask blank
            field->setText(typed);
        } else { // typed over the zeros, digit by digit, the mask skipping the dots
            field->setCursorPosition(0);
            QTest::keyClicks(field, typed);
        }
        for (Qt::Key key : { Qt::Key_Escape, Qt::Key_Return, Qt::Key_Enter })
            QTest::keyClick(field, key);
        stillOpenAfterKeys = frame->isVisible() && dialog->isVisible();
        QTest::mouseClick(frame->findChild<QToolButton *>(QStringLiteral("closeButton")), Qt::LeftButton);
    });
    QVERIFY(QMetaObject::invokeMethod(&w, "toolBarAct_IP"));

    QCOMPARE(shown, (QStringList { kNone, kNone, kNone, kNone }));
    QVERIFY(!shownSwitch);
    QVERIFY(stillOpenAfterKeys);
    QCOMPARE(storedIps(), (QStringList { kNone, stored, kNone, kNone }));
    QCOMPARE(w.jobInputs().manualIp[1], stored);
    QVERIFY(w.jobInputs().manualIpEnabled);
}

void MainWindowTest::logRowsAppendedAcrossRuns()
{
    const QDateTime morning(QDate(2026, 3, 9), QTime(7, 5, 3, 42));
    {
        auto w = windowAt(morning);
        addRow(*w, 2, QStringLiteral("Scanning for Orvo devices ..."));
        addRow(*w, 2, QStringLiteral("Scanning IP address: 192.168.1.17 ..."));
        addRow(*w, 0, QString());
        addRow(*w, 1, QStringLiteral("Über-Konsole Studio 2 found"));
        QCOMPARE(listedRows(*w), 4); // the scan's running address line is listed, but not logged
    }
    {
        auto w = windowAt(QDateTime(QDate(2026, 12, 31), QTime(23, 59, 59, 999)));
        addRow(*w, 3, QStringLiteral("Second run"));
    }
    QCOMPARE(logText(),
        QStringLiteral("09/03/2026  07:05:03.042   Scanning for Orvo devices ...\n"
                       "09/03/2026  07:05:03.043   \n"
                       "09/03/2026  07:05:03.044   Über-Konsole Studio 2 found\n"
                       "31/12/2026  23:59:59.999   Second run\n"));
}

void MainWindowTest::unwritableLogIsTriedAgain()
{
    // A folder where the file should be cannot be opened for writing, even by root.
    QVERIFY(QDir().mkpath(logPath()));
    auto w = windowAt(QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5)));
    addRow(*w, 2, QStringLiteral("lost"));
    QCOMPARE(listedRows(*w), 1);

    QVERIFY(QDir(logPath()).removeRecursively());
    addRow(*w, 2, QStringLiteral("kept"));
    QCOMPARE(listedRows(*w), 2);
    QCOMPARE(logText(), QStringLiteral("02/01/2026  03:04:05.001   kept\n"));
}

void MainWindowTest::downloadPaceBesideThePercentage()
{
    MainWindow w;
    const auto *bar = child<QProgressBar>(w, "progressBar");
    const auto progress = [&w](bool visible, int value, bool showText, int max) {
        QVERIFY(QMetaObject::invokeMethod(&w, "updateProgressBar", Q_ARG(bool, visible), Q_ARG(int, value),
            Q_ARG(bool, showText), Q_ARG(int, 0), Q_ARG(int, max)));
    };
    // One record of a download of 1000 bytes, then its percentage, as the worker sends them;
    // the bar's text after them.
    const auto record = [&](int records, qint64 elapsedMs, qint64 done, int percent) {
        w.showDownloadPace(DownloadProgress { 4, records, elapsedMs, done, 1000 });
        progress(true, percent, true, 100);
        return bar->text();
    };
    const auto pace = [](const char *text) { return QString::fromUtf8(text).replace(QLatin1Char('|'), QChar(0xb7)); };

    progress(true, 40, false, 0); // the erase wait: a styled bar without text
    QCOMPARE(bar->format(), QStringLiteral("%p%"));
    // The first records, below 1 %: no pace yet.
    QCOMPARE(record(2, 1000, 1, 0), QStringLiteral("0%"));
    // 5950 records in 7 s: 850 a second; 490 bytes left after 510 in 7 s: 6.7 s, 0:07.
    QCOMPARE(record(5950, 7000, 510, 51), pace("51 %  |  850 rec/s  |  0:07 left"));
    // A record sent again brings a percentage without new figures: the pace stays.
    progress(true, 51, true, 100);
    QCOMPARE(bar->text(), pace("51 %  |  850 rec/s  |  0:07 left"));
    // Within the percentage another rate waits (856 a second here), and so does an estimate that
    // wavers back up a second later (0:08 here).
    record(6000, 7010, 511, 51);
    QCOMPARE(record(6001, 8100, 512, 51), pace("51 %  |  850 rec/s  |  0:07 left"));
    // The next percentage shows the average since the start, not the last records' pace.
    QCOMPARE(record(6100, 8200, 520, 52), pace("52 %  |  744 rec/s  |  0:08 left"));

    // A long download in minutes: a second on, with less time left, the percentage and its pace
    // stay until the next percentage.
    QCOMPARE(record(600, 60000, 100, 10), pace("10 %  |  10 rec/s  |  9:00 left"));
    QCOMPARE(record(610, 61000, 102, 10), pace("10 %  |  10 rec/s  |  9:00 left"));
    QCOMPARE(record(660, 66000, 110, 11), pace("11 %  |  10 rec/s  |  8:54 left"));

    // The last record: its pace is shown once; finishing is the percentage only.
    QCOMPARE(record(11667, 13725, 1000, 100), pace("100 %  |  850 rec/s  |  0:00 left"));
    progress(true, 100, true, 100);
    QCOMPARE(bar->text(), QStringLiteral("100%"));

    // The restart wait after a download shows no pace, nor does the next task after a hidden bar.
    record(100, 1000, 500, 50);
    progress(true, 30, false, 0);
    QCOMPARE(bar->format(), QStringLiteral("%p%"));
    progress(true, 31, false, 0);
    QCOMPARE(bar->format(), QStringLiteral("%p%"));
    record(100, 1000, 500, 50);
    progress(false, 0, true, 100);
    progress(true, 25, true, 100);
    QCOMPARE(bar->text(), QStringLiteral("25%"));
}

ORVO_UI_TEST_MAIN(MainWindowTest)
#include "tst_mainwindow.moc"
