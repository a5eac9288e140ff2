// The window's one setting for firmware releases: the firmware folder of a user without root.
// Absent, the installed folder applies as always; a value that names no folder is not used.

#include "appidentity.h"
#include "appsettings.h"
#include "firmwarefiles.h"
#include "uitestsupport.h"

#include <QSettings>

using namespace orvo;
using namespace orvo::ui;

class FirmwareSettingTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        setApplicationIdentity();
        m_settings
            = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + QStringLiteral("/AppSettings.ini");
        QVERIFY(m_own.isValid());
    }
    void folderOfTheWorker_data();
    void folderOfTheWorker();

private:
    QTemporaryDir m_own;
    QString m_settings;
};

void FirmwareSettingTest::folderOfTheWorker_data()
{
    QTest::addColumn<QString>("value"); // "-": no key at all
    QTest::addColumn<bool>("own");      // the worker takes the user's folder
    QTest::addColumn<QString>("refusal");

    QTest::newRow("no key: the installed folder") << "-" << false << "";
    QTest::newRow("empty: the installed folder") << "" << false << "";
    QTest::newRow("a folder of the user's, with a trailing slash") << m_own.path() + "/" << true << "";
    QTest::newRow("relative") << "HexFiles" << false << "not an absolute path";
    QTest::newRow("no such folder") << m_own.path() + "/gone" << false << "no such folder";
    QTest::newRow("control character") << m_own.path() + "/\x1b[2J" << false << "control character";
}

void FirmwareSettingTest::folderOfTheWorker()
{
    QFETCH(QString, value);
    QFETCH(bool, own);
    QFETCH(QString, refusal);
    QFile::remove(m_settings);
    if (value != QLatin1String("-"))
        QSettings(m_settings, QSettings::IniFormat)
            .setValue(QStringLiteral("OrvoUpdaterSettings/FirmwareFolder"), value);
    QString why;
    readFirmwareFolderSetting(m_settings, &why);
    QCOMPARE(why, refusal);

    MainWindow w;
    QCOMPARE(w.worker()->firmwareFolder(), own ? m_own.path() + QStringLiteral("/") : firmwareFolderPath());
    // The window only reads the key; the manual addresses it writes leave it as it was.
    QCOMPARE(QSettings(m_settings, QSettings::IniFormat).contains(QStringLiteral("OrvoUpdaterSettings/FirmwareFolder")),
        value != QLatin1String("-"));
}

ORVO_UI_TEST_MAIN(FirmwareSettingTest)
#include "tst_firmwaresetting.moc"
