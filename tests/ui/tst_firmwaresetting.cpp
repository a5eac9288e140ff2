// The window's one setting for firmware releases: the firmware folder of a user without root.
// Absent, the installed folder applies as always; a value that names no folder is not used.

#include "appidentity.h"
#include "appsettings.h"
#include "firmwarefiles.h"
#include "mainwindow.h"
#include "uitestsupport.h"
#include "worker.h"

#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>

using namespace orvo;
using namespace orvo::ui;

namespace {

QString settingsPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + QStringLiteral("/AppSettings.ini");
}

} // namespace

class FirmwareSettingTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        setApplicationIdentity();
        QVERIFY(m_own.isValid());
    }
    void init() { QFile::remove(settingsPath()); }
    void folderOfTheWorker_data();
    void folderOfTheWorker();

private:
    QTemporaryDir m_own;
};

void FirmwareSettingTest::folderOfTheWorker_data()
{
    QTest::addColumn<QString>("value"); // "-": no key at all
    QTest::addColumn<bool>("own");      // the worker takes the user's folder
    QTest::addColumn<QString>("refusal");

    QTest::newRow("no key: the installed folder") << "-" << false << "";
    QTest::newRow("empty: the installed folder") << "" << false << "";
    QTest::newRow("a folder of the user's") << m_own.path() << true << "";
    QTest::newRow("with a trailing slash") << m_own.path() + "/" << true << "";
    QTest::newRow("relative") << "HexFiles" << false << "not an absolute path";
    QTest::newRow("no such folder") << m_own.path() + "/gone" << false << "no such folder";
    QTest::newRow("control character") << m_own.path() + "/\x1b[2J" << false << "control character";
}

void FirmwareSettingTest::folderOfTheWorker()
{
    QFETCH(QString, value);
    QFETCH(bool, own);
    QFETCH(QString, refusal);
    if (value != QLatin1String("-")) {
        QSettings s(settingsPath(), QSettings::IniFormat);
        s.setValue(QStringLiteral("OrvoUpdaterSettings/FirmwareFolder"), value);
    }
    QString why;
    readFirmwareFolderSetting(settingsPath(), &why);
    QCOMPARE(why, refusal);

    MainWindow w;
    QCOMPARE(w.worker()->firmwareFolder, own ? m_own.path() + QStringLiteral("/") : firmwareFolderPath());
    // The window only reads the key; the manual addresses it writes leave it as it was.
    QSettings after(settingsPath(), QSettings::IniFormat);
    QCOMPARE(after.contains(QStringLiteral("OrvoUpdaterSettings/FirmwareFolder")), value != QLatin1String("-"));
}

ORVO_UI_TEST_MAIN(FirmwareSettingTest)
#include "tst_firmwaresetting.moc"
