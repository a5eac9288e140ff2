#include "catalogue.h"

#include <QtTest>

using namespace orvo;

class tst_Catalogue : public QObject
{
    Q_OBJECT

private slots:
    void slotLookup_data();
    void slotLookup();
    void buildVersions_data();
    void buildVersions();
    void binFilesAreExactlyTheFpgaBoards();
    void positionsBeyondSlotCountAreEmpty();
    void fittedSlotsAreComplete();
    void slotsAreUniqueWithinADevice();
    void deviceTypeNames();
    void outOfRangeLookupsAreEmpty();
    void networkBoards();
    void resultTexts();
    void picParts();
};

void tst_Catalogue::slotLookup_data()
{
    QTest::addColumn<int>("deviceType");
    QTest::addColumn<int>("panel");
    QTest::addColumn<int>("channel");
    QTest::addColumn<int>("boardType");
    QTest::addColumn<int>("boardAddress");
    QTest::addColumn<int>("expected"); // -1: none

    QTest::newRow("console audio board 5-8") << 0 << 0 << 0 << 2 << 1 << 11;
    QTest::newRow("console channel master") << 0 << 0 << 0 << 1 << 0 << 4;
    for (int type = 1; type <= 4; ++type)
        QTest::addRow("type %d interface", type) << type << 0 << 0 << 1 << 0 << 0;
    QTest::newRow("qrt adat fpga") << 1 << 1 << 0 << 5 << 0 << 4;
    QTest::newRow("console unknown address") << 0 << 9 << 9 << 9 << 9 << -1;
    QTest::newRow("qrt console-only address") << 1 << 2 << 0 << 5 << 0 << -1;
    QTest::newRow("unknown device type") << 7 << 0 << 0 << 1 << 0 << -1;
}

void tst_Catalogue::slotLookup()
{
    QFETCH(int, deviceType);
    QFETCH(int, panel);
    QFETCH(int, channel);
    QFETCH(int, boardType);
    QFETCH(int, boardAddress);
    QFETCH(int, expected);
    const PanelSlot slot { std::uint8_t(panel), std::uint8_t(channel), std::uint8_t(boardType), std::uint8_t(boardAddress) };
    const auto found = findPanelIndex(deviceType, slot);
    QCOMPARE(found.value_or(-1), expected);
    if (found)
        QCOMPARE(panelSlot(deviceType, *found), slot);
}

void tst_Catalogue::buildVersions_data()
{
    QTest::addColumn<int>("deviceType");
    QTest::addColumn<int>("boardType");
    QTest::addColumn<int>("expected");
    QTest::newRow("3350 QRT digital ADAT board") << 1 << 4 << 4;
    QTest::newRow("console channel meter") << 0 << 3 << 5;
    QTest::newRow("board type out of range") << 0 << 12 << 0;
    QTest::newRow("negative board type") << 0 << -1 << 0;
    QTest::newRow("device type out of range") << 5 << 1 << 0;
}

void tst_Catalogue::buildVersions()
{
    QFETCH(int, deviceType);
    QFETCH(int, boardType);
    QFETCH(int, expected);
    QCOMPARE(int(buildVersion(deviceType, boardType)), expected);
}

void tst_Catalogue::binFilesAreExactlyTheFpgaBoards()
{
    int fpgaPositions = 0;
    for (int type = 0; type < DeviceTypeMax; ++type) {
        for (int i = 0; i < slotCount(type); ++i) {
            const bool bin = firmwareFile(type, i).endsWith(QLatin1String(".bin"));
            const bool fpga = isFpgaBoard(type, panelSlot(type, i).boardType);
            QVERIFY2(bin == fpga, qPrintable(panelName(type, i)));
            QVERIFY(bin || firmwareFile(type, i).endsWith(QLatin1String(".hex")));
            fpgaPositions += fpga;
        }
    }
    QCOMPARE(fpgaPositions, 5); // three channel-master FPGAs, two on the 3350 QRT
}

void tst_Catalogue::positionsBeyondSlotCountAreEmpty()
{
    for (int type = 0; type < DeviceTypeMax; ++type) {
        QVERIFY(slotCount(type) >= 1 && slotCount(type) <= kPanelPositions);
        for (int i = slotCount(type); i < kPanelPositions; ++i) {
            QVERIFY(panelName(type, i).isEmpty());
            QVERIFY(firmwareFile(type, i).isEmpty());
            QCOMPARE(panelSlot(type, i), PanelSlot {});
            QVERIFY(!isCataloguePosition(type, i));
        }
    }
}

void tst_Catalogue::fittedSlotsAreComplete()
{
    for (int type = 0; type < DeviceTypeMax; ++type) {
        for (int i = 0; i < slotCount(type); ++i) {
            const PanelSlot s = panelSlot(type, i);
            QVERIFY(isCataloguePosition(type, i));
            QVERIFY(!panelName(type, i).isEmpty());
            QVERIFY(firmwareFile(type, i).contains(QLatin1Char('/')));
            QVERIFY2(s.boardType >= 1 && s.boardType < kBoardTypes, qPrintable(panelName(type, i)));
            QVERIFY2(buildVersion(type, s.boardType) > 0, qPrintable(panelName(type, i)));
        }
    }
}

void tst_Catalogue::slotsAreUniqueWithinADevice()
{
    // A lookup by address must lead back to the same position, or the probe names the wrong board.
    for (int type = 0; type < DeviceTypeMax; ++type)
        for (int i = 0; i < slotCount(type); ++i)
            QCOMPARE(findPanelIndex(type, panelSlot(type, i)).value_or(-1), i);
}

void tst_Catalogue::deviceTypeNames()
{
    QCOMPARE(deviceTypeName(0), QStringLiteral("6170 Console"));
    QCOMPARE(deviceTypeName(4), QStringLiteral("Lumivox KVR30"));
    QCOMPARE(deviceTypeName(5), QStringLiteral("DeviceTypeMax"));
    QCOMPARE(deviceTypeName(6), QStringLiteral("Unknown device type 6"));
    QCOMPARE(deviceTypeName(0xFFFFFFFFll), QStringLiteral("Unknown device type 4294967295"));
}

void tst_Catalogue::outOfRangeLookupsAreEmpty()
{
    QVERIFY(panelName(0, 24).isEmpty());
    QVERIFY(panelName(0, -1).isEmpty());
    QVERIFY(firmwareFile(9, 0).isEmpty());
    QCOMPARE(slotCount(5), 0);
    QCOMPARE(slotCount(-1), 0);
    QVERIFY(picPart(12).isEmpty());
    QVERIFY(updateResultMessage(8).isEmpty());
    QVERIFY(!isCataloguePosition(1, 5));
}

void tst_Catalogue::networkBoards()
{
    // Exactly the boards that carry the device's network connection restart it.
    QVERIFY(restartsNetwork(0, 2, 0));
    QVERIFY(restartsNetwork(0, 2, 1));
    QVERIFY(!restartsNetwork(0, 2, 2));
    QVERIFY(!restartsNetwork(0, 0, 0));
    for (int type = 1; type < DeviceTypeMax; ++type) {
        QVERIFY(restartsNetwork(type, 0, 0));
        QVERIFY(!restartsNetwork(type, 1, 0));
    }
    QVERIFY(!restartsNetwork(5, 0, 0));
}

void tst_Catalogue::resultTexts()
{
    for (int code = UpdateFailed; code <= UpdateNotRequired; ++code)
        QVERIFY(updateResultMessage(code).endsWith(QLatin1Char(' ')));
    QCOMPARE(updateResultMessage(UpdateFileMissing), QStringLiteral("Update firmware file missing! "));
}

void tst_Catalogue::picParts()
{
    // The file names of the catalogue are made for the three 2048 EFG parts.
    for (int t : { 0, 5, 8 })
        QVERIFY(picPart(t).startsWith(QLatin1String("PIC32MZ2048EFG")));
    int parts1024 = 0;
    for (int t = 0; t < kPicTypes; ++t) {
        QVERIFY(picPart(t).startsWith(QLatin1String("PIC32MZ")));
        parts1024 += picPart(t).contains(QLatin1String("PIC32MZ1024"));
    }
    QCOMPARE(parts1024, 8);
}

QTEST_GUILESS_MAIN(tst_Catalogue)
#include "tst_catalogue.moc"
