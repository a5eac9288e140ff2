#include "catalogue.h"
#include "firmwarefiles.h"

#include <QtTest>

using namespace orvo;

class tst_FirmwareFiles : public QObject
{
    Q_OBJECT

private slots:
    void folder();
    void filePath_data();
    void filePath();
    void load_data();
    void load();
};

void tst_FirmwareFiles::folder()
{
    const QString folder = firmwareFolderPath();
    QVERIFY(QFileInfo(folder).isAbsolute());
    QCOMPARE(folder, QDir::cleanPath(QCoreApplication::applicationDirPath() + "/../HexFiles") + "/");
}

void tst_FirmwareFiles::filePath_data()
{
    QTest::addColumn<int>("deviceType");
    QTest::addColumn<int>("panelIndex");
    QTest::addColumn<int>("answer"); // what the PIC query answers
    QTest::addColumn<bool>("queried");
    QTest::addColumn<QString>("file"); // relative to the folder
    QTest::addColumn<int>("picType");

    QTest::newRow("2048 EFG144 keeps the name") << 0 << 0 << 0 << true << "6170/MonInterfacePIC.hex" << 0;
    QTest::newRow("unknown keeps the name") << 0 << 0 << 12 << true << "6170/MonInterfacePIC.hex" << 12;
    QTest::newRow("1024 EFG144 suffixed") << 0 << 0 << 2 << true << "6170/MonInterfacePIC_PIC32MZ1024EFG144.hex" << 2;
    QTest::newRow("2048 EFH100 suffixed")
        << 2 << 0 << 11 << true << "KVR10/KVR10InterfacePIC_PIC32MZ2048EFH100.hex" << 11;
    QTest::newRow("FPGA image never asks") << 0 << 7 << 2 << false << "6170/CentralProcessorFPGA.bin" << 12;
}

void tst_FirmwareFiles::filePath()
{
    QFETCH(int, deviceType);
    QFETCH(int, panelIndex);
    QFETCH(int, answer);
    QFETCH(bool, queried);
    QFETCH(QString, file);
    QFETCH(int, picType);

    const PanelSlot slot = panelSlot(deviceType, panelIndex);
    int calls = 0;
    const PicTypeQuery query = [&](const PanelSlot &asked) {
        ++calls;
        // The query is asked with the board's own address.
        if (asked != slot)
            return std::uint8_t(99);
        return std::uint8_t(answer);
    };
    const QString folder = QStringLiteral("/opt/orvo/bin/../HexFiles/");
    const FirmwareFileChoice choice = firmwareFilePath(folder, deviceType, panelIndex, slot, query);
    QCOMPARE(calls, queried ? 1 : 0);
    QCOMPARE(QString::fromLatin1(choice.path), folder + file);
    QCOMPARE(int(choice.picType), picType);
}

void tst_FirmwareFiles::load_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("fpga");
    QTest::addColumn<int>("status");
    QTest::newRow("HEX file") << "file" << false << int(LoadStatus::Loaded);
    QTest::newRow("FPGA image") << "file" << true << int(LoadStatus::Loaded);
    QTest::newRow("missing") << "missing" << false << int(LoadStatus::Missing);
    QTest::newRow("empty") << "empty" << true << int(LoadStatus::Missing);
    QTest::newRow("directory") << "directory" << false << int(LoadStatus::Missing);
}

void tst_FirmwareFiles::load()
{
    QFETCH(QString, kind);
    QFETCH(bool, fpga);
    QFETCH(int, status);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("fw ü.hex")); // outside ASCII on purpose
    static const char raw[] = "\x00\x01:020000041D00DD\r\n\xFF";
    const QByteArray bytes(raw, int(sizeof raw) - 1); // NUL bytes and a non-ASCII byte kept
    if (kind == QLatin1String("file") || kind == QLatin1String("empty")) {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        if (kind != QLatin1String("empty"))
            f.write(bytes);
        f.close();
    } else if (kind == QLatin1String("directory")) {
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("fw ü.hex")));
    }
    QByteArray content("left over");
    QCOMPARE(int(loadFirmwareFile(QFile::encodeName(path), fpga, content)), status);
    QCOMPARE(content, status == int(LoadStatus::Loaded) ? bytes : QByteArray());
}

QTEST_GUILESS_MAIN(tst_FirmwareFiles)
#include "tst_firmwarefiles.moc"
