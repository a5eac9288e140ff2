// The window's settings and dialogs: the manual IP dialog and its settings file, the About
// dialog and its changelog, and the progress bars' looks.

#include "aboutdialog.h"
#include "appidentity.h"
#include "mainwindow.h"
#include "setmanipdialog.h"
#include "uitestsupport.h"
#include "worker.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QLabel>
#include <QProgressBar>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSettings>
#include <QStandardPaths>
#include <QSysInfo>
#include <QToolButton>

using namespace orvo;
using namespace orvo::ui;

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

} // namespace

class DialogsTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { setApplicationIdentity(); }
    void init() { QFile::remove(settingsPath()); }
    void settingsAtStartUp_data();
    void settingsAtStartUp();
    void manualIpDialog_data();
    void manualIpDialog();
    void ipTexts_data();
    void ipTexts();
    void aboutDialog();
    void progressBars();
};

void DialogsTest::settingsAtStartUp_data()
{
    QTest::addColumn<bool>("writeFile");
    QTest::addColumn<QStringList>("inFile");
    QTest::addColumn<QStringList>("inWorker");
    QTest::addColumn<QStringList>("fileAfter");

    const QStringList good { "192.168.001.010", "127.0.0.5", kNone, "10.0.0.1" };
    QTest::newRow("no file: defaults, nothing written") << false << QStringList() << QStringList { kNone, kNone, kNone, kNone }
                                                        << QStringList { "", "", "", "" };
    QTest::newRow("valid set kept as typed") << true << good << good << good;
    QTest::newRow("one bad address resets all four")
        << true << QStringList { "127.0.0.5", "127.0.0.6", "300.1.1.1", "127.0.0.8" }
        << QStringList { kNone, kNone, kNone, kNone } << QStringList { kNone, kNone, kNone, kNone };
}

void DialogsTest::settingsAtStartUp()
{
    QFETCH(bool, writeFile);
    QFETCH(QStringList, inFile);
    QFETCH(QStringList, inWorker);
    QFETCH(QStringList, fileAfter);
    if (writeFile)
        writeSettings(true, inFile);

    MainWindow w;
    QStringList seen;
    for (const QString &ip : w.worker()->manualIp)
        seen << ip;
    QCOMPARE(seen, inWorker);
    QCOMPARE(w.worker()->manualIpEnabled, writeFile); // the switch survives a reset of the addresses
    QCOMPARE(QFile::exists(settingsPath()), writeFile);
    if (writeFile)
        QCOMPARE(storedIps(), fileAfter);
}

void DialogsTest::manualIpDialog_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("stored");
    QTest::newRow("as typed, with its zeros") << "192168001010" << "192.168.001.010";
    QTest::newRow("only the first two groups") << "192.168.." << kNone;
}

void DialogsTest::manualIpDialog()
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
    QCOMPARE(w.worker()->manualIp[1], stored);
    QVERIFY(w.worker()->manualIpEnabled);
}

void DialogsTest::ipTexts_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QString>("normalized");
    QTest::newRow("leading zeros") << "010.001.000.100" << true << "10.1.0.100";
    QTest::newRow("empty parts count as 0") << "1..2.3" << true << "1..2.3";
    QTest::newRow("256") << "1.2.3.256" << false << "1.2.3.256";
    QTest::newRow("five parts") << "1.2.3.4.5" << false << "1.2.3.4.5";
    QTest::newRow("letters") << "1.2.x.4" << false << "1.2.x.4";
    QTest::newRow("empty") << "" << false << "";
}

void DialogsTest::ipTexts()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(QString, normalized);
    QCOMPARE(MainWindow::isValidIpText(text), valid);
    QCOMPARE(MainWindow::normalizeIpText(text), normalized);
    QVERIFY(QRegularExpression(SetManIP_Dialog::addressPattern()).match(QStringLiteral("255.0.09.1")).hasMatch());
}

void DialogsTest::aboutDialog()
{
    QTemporaryDir dir;
    QVERIFY(AboutDialog::readChangelog(dir.filePath(QStringLiteral("Changelog.txt"))).isEmpty());

    QFile file(dir.filePath(QStringLiteral("Changelog.txt")));
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Text));
    for (int i = 1; i <= 500; ++i)
        file.write(i % 7 ? QByteArray("line ") + QByteArray::number(i) + '\n' : QByteArray("\n"));
    file.close();

    AboutDialog dialog;
    dialog.changelogLines = AboutDialog::readChangelog(file.fileName());
    QCOMPARE(dialog.changelogLines.size(), 500);
    dialog.resize(854, 319);
    dialog.show();
    dialog.fillChangelog();
    auto *notes = dialog.findChild<QListWidget *>(QStringLiteral("About_Notes"));
    QCOMPARE(notes->count(), 500);
    QCOMPARE(notes->item(6)->text(), QString()); // empty lines stay rows
    QCOMPARE(notes->verticalScrollBar()->value(), 0);

    const QStringList values = dialog.findChild<QLabel *>(QStringLiteral("label_Info"))->text().split('\n');
    QCOMPARE(values.size(), 6);
    QCOMPARE(values.at(0), QStringLiteral("7.35"));
    QCOMPARE(values.at(1), QStringLiteral("09/10/2024"));
    QCOMPARE(values.at(4), QSysInfo::kernelType().toUpper() + " (" + QSysInfo::kernelVersion() + ")");
    QVERIFY(dialog.findChild<QLabel *>(QStringLiteral("About_VLabel"))->isHidden());
}

void DialogsTest::progressBars()
{
    MainWindow w;
    w.show();
    auto *bar = w.findChild<QProgressBar *>(QStringLiteral("progressBar"));
    const auto update = [&](bool visible, int value, bool text, int max) {
        QVERIFY(QMetaObject::invokeMethod(&w, "updateProgressBar", Q_ARG(bool, visible), Q_ARG(int, value),
                                          Q_ARG(bool, text), Q_ARG(int, 0), Q_ARG(int, max)));
    };
    update(true, 40, false, 0);
    QVERIFY(bar->isVisible());
    QCOMPARE(bar->value(), 40);
    QVERIFY(!bar->isTextVisible());
    QVERIFY(bar->styleSheet().contains(QStringLiteral("#666666")));
    update(true, 55, true, 0); // later calls only move the value
    QCOMPARE(bar->value(), 55);
    QVERIFY(!bar->isTextVisible());
    update(false, 0, true, 100);
    QVERIFY(!bar->isVisible());
    QVERIFY(bar->isTextVisible());
    QVERIFY(bar->styleSheet().isEmpty());

    update(true, 10, false, 100); // first shown with nMax 100: the plain look
    QVERIFY(bar->isVisible());
    QVERIFY(bar->styleSheet().isEmpty());
    QVERIFY(bar->isTextVisible());
}

ORVO_UI_TEST_MAIN(DialogsTest)
#include "tst_dialogs.moc"
