#include "catalogue.h"

#include <QtTest>

using namespace orvo;

class tst_Catalogue : public QObject
{
    Q_OBJECT

private slots:
    void everyPositionIsConsistent();
    void deviceTypeNames();
    void outOfRangeLookupsAreEmpty();
};

void tst_Catalogue::everyPositionIsConsistent()
{
    // A fitted position names its board, a file of the right kind and a build version, and a
    // lookup by its address leads back to it (or the probe names the wrong board); the
    // positions after the last are empty.
    int fpgaPositions = 0;
    for (int type = 0; type < DeviceTypeMax; ++type) {
        QVERIFY(slotCount(type) >= 1 && slotCount(type) <= kPanelPositions);
        for (int i = 0; i < kPanelPositions; ++i) {
            const PanelSlot s = panelSlot(type, i);
            const QString name = panelName(type, i);
            if (i >= slotCount(type)) {
                QVERIFY(name.isEmpty() && firmwareFile(type, i).isEmpty() && !isCataloguePosition(type, i));
                QCOMPARE(s, PanelSlot {});
                continue;
            }
            const bool fpga = isFpgaBoard(type, s.boardType);
            QVERIFY(isCataloguePosition(type, i));
            QVERIFY2(!name.isEmpty() && firmwareFile(type, i).contains(QLatin1Char('/')), qPrintable(name));
            QVERIFY2(
                firmwareFile(type, i).endsWith(fpga ? QLatin1String(".bin") : QLatin1String(".hex")), qPrintable(name));
            QVERIFY2(s.boardType >= 1 && buildVersion(type, s.boardType) > 0, qPrintable(name));
            QCOMPARE(findPanelIndex(type, s).value_or(-1), i);
            fpgaPositions += fpga;
        }
    }
    QCOMPARE(fpgaPositions, 5); // three channel-master FPGAs, two on the 3350 QRT
}

void tst_Catalogue::deviceTypeNames()
{
    QCOMPARE(deviceTypeName(0), QStringLiteral("6170 Console"));
    QCOMPARE(deviceTypeName(5), QStringLiteral("DeviceTypeMax"));
    QCOMPARE(deviceTypeName(6), QStringLiteral("Unknown device type 6"));
    QCOMPARE(deviceTypeName(0xFFFFFFFFll), QStringLiteral("Unknown device type 4294967295"));
}

void tst_Catalogue::outOfRangeLookupsAreEmpty()
{
    // Device types and positions come from the network and the command line.
    QVERIFY(panelName(0, 24).isEmpty());
    QVERIFY(panelName(0, -1).isEmpty());
    QVERIFY(firmwareFile(9, 0).isEmpty());
    QCOMPARE(slotCount(5), 0);
    QCOMPARE(slotCount(-1), 0);
    QVERIFY(picPart(12).isEmpty());
    QCOMPARE(buildVersion(0, 12), std::uint8_t(0));
    QCOMPARE(buildVersion(0, -1), std::uint8_t(0));
    QCOMPARE(buildVersion(5, 1), std::uint8_t(0));
    QVERIFY(updateResultMessage(8).isEmpty());
    // Addresses that name no board of the device, as a reply may carry them.
    QVERIFY(!findPanelIndex(0, PanelSlot { 9, 9, 9, 9 }));
    QVERIFY(!findPanelIndex(1, PanelSlot { 2, 0, 5, 0 })); // a console-only board on a 3350 QRT
    QVERIFY(!findPanelIndex(7, PanelSlot { 0, 0, 1, 0 }));
}

QTEST_GUILESS_MAIN(tst_Catalogue)
#include "tst_catalogue.moc"
