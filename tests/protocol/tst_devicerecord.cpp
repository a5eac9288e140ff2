#include "devicerecord.h"
#include "devicetext.h"
#include "packet.h"

#include <QtTest>

using namespace orvo;

namespace {

OrvoDiscoveryInfo makeRecord(std::uint16_t headerType, std::uint32_t type, std::uint8_t macLast,
    std::array<std::uint8_t, 4> ip, const QByteArray &name = "Desk")
{
    OrvoDiscoveryInfo r;
    r.setHeader(111, kMagic, KindDeviceInfo, headerType);
    r.setType(type);
    r.setName(name);
    r.setMac({ { 0x00, 0x1a, 0x2b, 0x3c, 0x4d, macLast } });
    r.setIp(ip);
    return r;
}

std::optional<OrvoDiscoveryInfo> accept(const QByteArray &bytes)
{
    return acceptDeviceRecord(reinterpret_cast<const std::uint8_t *>(bytes.constData()), std::size_t(bytes.size()));
}

} // namespace

class tst_DeviceRecord : public QObject
{
    Q_OBJECT

private slots:
    void fieldsAtTheirOffsets();
    void textForms();
    void names();
    void acceptance_data();
    void acceptance();
    void addOrReplaceKeepsOneEntryPerMac();
    // Names travel in Windows-1252 and are shown as data, never as terminal control.
    void nameShownAsData();
    void everyPrintableByteComesBack();
    void newName();
};

void tst_DeviceRecord::fieldsAtTheirOffsets()
{
    OrvoDiscoveryInfo r;
    r.setType(0x04030201);
    r.setNeedsUpdate(1);
    r.setOptionMask(0x0A);
    r.setByData(0, 1);
    r.setByData(7, 0xA1B2C3D4);
    const auto &b = r.bytes();
    QCOMPARE(int(b[12]), 1);
    QCOMPARE(int(b[15]), 4);
    QCOMPARE(int(b[58]), 1);
    QCOMPARE(int(b[75]), 0x0A);
    QCOMPARE(int(b[91]), 1);
    QCOMPARE(int(b[119]), 0xD4);
    QCOMPARE(int(b[122]), 0xA1);
    QCOMPARE(r.type(), 0x04030201u);
    QCOMPARE(r.requestDeviceType(), std::uint16_t(0x0201));
    QCOMPARE(r.byData(0), 1u);
    QCOMPARE(r.byData(7), 0xA1B2C3D4u);
    QCOMPARE(r.byData(8), 0u);
    QCOMPARE(r.byData(-1), 0u);
}

void tst_DeviceRecord::textForms()
{
    OrvoDiscoveryInfo r;
    r.setMac({ { 0x00, 0x1a, 0xff, 0x01, 0x02, 0x03 } });
    r.setIp({ { 10, 0, 0, 255 } });
    QCOMPARE(macText(r), QStringLiteral("00:1a:ff:01:02:03"));
    QCOMPARE(ipText(r), QStringLiteral("10.0.0.255"));
}

void tst_DeviceRecord::names()
{
    OrvoDiscoveryInfo r;
    r.setName(QByteArray(40, 'N'));
    r.setMac({ { 0xEE, 0, 0, 0, 0, 0 } }); // the byte after the name field is not a zero
    QCOMPARE(r.nameBytes(), QByteArray(31, 'N'));
    QCOMPARE(r.name(), QString(31, QLatin1Char('N')));
    r.setName(QByteArray("Studio\0junk", 11));
    QCOMPARE(r.name(), QStringLiteral("Studio"));
}

void tst_DeviceRecord::acceptance_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("accepted");
    QByteArray good = makeRecord(1, 1, 1, { { 127, 0, 0, 2 } }).toByteArray();
    for (int i : { 16, 59, 70, 74, 79, 90 })
        good[i] = char(0x80 | i); // uninterpreted bytes travel on unchanged
    QTest::newRow("valid") << good << true;
    QTest::newRow("122 bytes") << good.left(122) << false;
    QTest::newRow("124 bytes") << good + 'x' << false;
    QByteArray kind3 = good;
    kind3[8] = 3;
    QTest::newRow("kind 3") << kind3 << false;
    QByteArray magic = good;
    magic[7] = 0x0E;
    QTest::newRow("wrong magic") << magic << false;
    QTest::newRow("header type 5") << makeRecord(5, 1, 1, { { 127, 0, 0, 2 } }).toByteArray() << false;
    QTest::newRow("header type 0xFFFF") << makeRecord(0xFFFF, 1, 1, { { 127, 0, 0, 2 } }).toByteArray() << false;
    // The record's own type field is not compared with the header.
    QTest::newRow("type field 9") << makeRecord(4, 9, 1, { { 127, 0, 0, 2 } }).toByteArray() << true;
}

void tst_DeviceRecord::acceptance()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, accepted);
    const auto record = accept(bytes);
    QCOMPARE(record.has_value(), accepted);
    if (record)
        QCOMPARE(record->toByteArray(), bytes);
}

void tst_DeviceRecord::addOrReplaceKeepsOneEntryPerMac()
{
    DeviceList list;
    addOrReplaceDevice(list, makeRecord(0, 0, 1, { { 10, 0, 0, 1 } }, "first"));
    addOrReplaceDevice(list, makeRecord(1, 1, 2, { { 10, 0, 0, 2 } }, "second"));
    addOrReplaceDevice(list, makeRecord(0, 0, 1, { { 10, 0, 0, 9 } }, "first again"));
    QCOMPARE(list.size(), 2);
    QCOMPARE(list[0].name(), QStringLiteral("first again"));
    QCOMPARE(ipText(list[0]), QStringLiteral("10.0.0.9"));
    QCOMPARE(list[1].name(), QStringLiteral("second"));
}

void tst_DeviceRecord::nameShownAsData()
{
    OrvoDiscoveryInfo record;
    const QByteArray hostile("\x1b]0;PWNED\x07\x1b[2J\x1b[31m X\r\n#9: fake"); // all 31 bytes, no zero
    record.setName(hostile);
    QCOMPARE(record.visibleName(), QStringLiteral("\\x1B]0;PWNED\\x07\\x1B[2J\\x1B[31m X\\x0D\\x0A#9: fake"));
    QCOMPARE(record.nameBytes(), hostile);
    record.setName("Caf\xe9 \xc5\\x41\t\x7f\x80\x9b\x81\x9d");
    QCOMPARE(record.visibleName(), QStringLiteral("Café Å\\x41\\x09\\x7F€›\\x81\\x9D"));
    QCOMPARE(visibleText(QStringLiteral("\u0085\\x85")), QStringLiteral("\\x85\\x85")); // C1; nothing changes twice
}

void tst_DeviceRecord::everyPrintableByteComesBack()
{
    for (int b = 0x20; b <= 0xFF; ++b) {
        const QByteArray byte(1, static_cast<char>(b));
        const DeviceNameBytes encoded = encodeDeviceName(decodeDeviceText(byte));
        const bool control = b == 0x7F || b == 0x81 || b == 0x8D || b == 0x8F || b == 0x90 || b == 0x9D;
        QVERIFY2(encoded.ok() != control && (control || encoded.bytes == byte), qPrintable(QString::number(b, 16)));
    }
}

void tst_DeviceRecord::newName()
{
    QCOMPARE(encodeDeviceName(QStringLiteral("Café Å")).bytes, QByteArray("\x43\x61\x66\xe9\x20\xc5"));
    QCOMPARE(encodeDeviceName(QStringLiteral("e\u0301")).bytes, QByteArray("\xe9")); // composed first
    QCOMPARE(encodeDeviceName(QString(21, QChar(0xE9))).bytes, QByteArray(21, '\xe9'));
    QCOMPARE(encodeDeviceName(QString(22, QLatin1Char('a'))).error,
        QStringLiteral("Name cannot be more than 21 characters"));
    QCOMPARE(encodeDeviceName(QStringLiteral("A\U0001F600")).error,
        QStringLiteral("Name cannot contain \"\U0001F600\" (U+1F600): devices keep names in Windows-1252"));
    QCOMPARE(encodeDeviceName(QStringLiteral("A\nB")).error,
        QStringLiteral("Name cannot contain the control character \\x0A (U+000A)"));
}

QTEST_GUILESS_MAIN(tst_DeviceRecord)
#include "tst_devicerecord.moc"
