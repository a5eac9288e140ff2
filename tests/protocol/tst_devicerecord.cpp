#include "devicerecord.h"
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

QByteArray wire(const OrvoDiscoveryInfo &r)
{
    return r.toByteArray();
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
    void textForms_data();
    void textForms();
    void nameWithoutTerminator();
    void nameStopsAtFirstZero();
    void acceptance_data();
    void acceptance();
    void acceptedRecordIsKeptUnchanged();
    void addOrReplaceKeepsOneEntryPerMac();
    void metaTypeName();
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
    QCOMPARE(r.byData(7), 0xA1B2C3D4u);
    QCOMPARE(r.byData(8), 0u);
    QCOMPARE(r.byData(-1), 0u);
}

void tst_DeviceRecord::textForms_data()
{
    QTest::addColumn<QByteArray>("mac");
    QTest::addColumn<QByteArray>("ip");
    QTest::addColumn<QString>("macText");
    QTest::addColumn<QString>("ipText");
    QTest::newRow("example") << QByteArray::fromHex("001aff010203") << QByteArray::fromHex("0a000007")
                             << "00:1a:ff:01:02:03" << "10.0.0.7";
    QTest::newRow("ascending") << QByteArray::fromHex("0a1b2c3d4e5f") << QByteArray::fromHex("c0a80114")
                               << "0a:1b:2c:3d:4e:5f" << "192.168.1.20";
    QTest::newRow("all ones") << QByteArray::fromHex("ffffffffffff") << QByteArray::fromHex("ffffffff")
                              << "ff:ff:ff:ff:ff:ff" << "255.255.255.255";
}

void tst_DeviceRecord::textForms()
{
    QFETCH(QByteArray, mac);
    QFETCH(QByteArray, ip);
    QFETCH(QString, macText);
    QFETCH(QString, ipText);
    OrvoDiscoveryInfo r;
    std::array<std::uint8_t, 6> m;
    std::array<std::uint8_t, 4> a;
    std::copy(mac.begin(), mac.end(), m.begin());
    std::copy(ip.begin(), ip.end(), a.begin());
    r.setMac(m);
    r.setIp(a);
    QCOMPARE(orvo::macText(r), macText);
    QCOMPARE(orvo::ipText(r), ipText);
}

void tst_DeviceRecord::nameWithoutTerminator()
{
    OrvoDiscoveryInfo r;
    r.setName(QByteArray(40, 'N'));
    r.setMac({ { 0xEE, 0, 0, 0, 0, 0 } }); // the byte after the name field is not a zero
    QCOMPARE(r.nameBytes(), QByteArray(31, 'N'));
    QCOMPARE(r.name(), QString(31, QLatin1Char('N')));
}

void tst_DeviceRecord::nameStopsAtFirstZero()
{
    OrvoDiscoveryInfo r;
    r.setName(QByteArray("Studio\0junk", 11));
    QCOMPARE(r.name(), QStringLiteral("Studio"));
}

void tst_DeviceRecord::acceptance_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("accepted");
    const QByteArray good = wire(makeRecord(1, 1, 1, { { 127, 0, 0, 2 } }));
    QTest::newRow("valid") << good << true;
    QTest::newRow("122 bytes") << good.left(122) << false;
    QTest::newRow("124 bytes") << good + 'x' << false;
    QTest::newRow("empty") << QByteArray() << false;
    QByteArray kind3 = good;
    kind3[8] = 3;
    QTest::newRow("kind 3") << kind3 << false;
    QByteArray magic = good;
    magic[7] = 0x0E;
    QTest::newRow("wrong magic") << magic << false;
    QTest::newRow("header type 5") << wire(makeRecord(5, 1, 1, { { 127, 0, 0, 2 } })) << false;
    QTest::newRow("header type 0xFFFF") << wire(makeRecord(0xFFFF, 1, 1, { { 127, 0, 0, 2 } })) << false;
    // The record's own type field is not compared with the header.
    QTest::newRow("type field 9") << wire(makeRecord(4, 9, 1, { { 127, 0, 0, 2 } })) << true;
}

void tst_DeviceRecord::acceptance()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, accepted);
    QCOMPARE(accept(bytes).has_value(), accepted);
}

void tst_DeviceRecord::acceptedRecordIsKeptUnchanged()
{
    QByteArray bytes = wire(makeRecord(0, 0, 7, { { 10, 0, 0, 7 } }));
    for (int i : { 16, 59, 70, 74, 79, 90 })
        bytes[i] = char(0x80 | i); // uninterpreted bytes travel on unchanged
    const auto r = accept(bytes);
    QVERIFY(r);
    QCOMPARE(r->toByteArray(), bytes);
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

void tst_DeviceRecord::metaTypeName()
{
    registerMetaTypes();
    const int id = QMetaType::type("QVector <OrvoDiscoveryInfo>");
    QVERIFY(id != QMetaType::UnknownType);
    QCOMPARE(id, qMetaTypeId<DeviceList>());
}

QTEST_GUILESS_MAIN(tst_DeviceRecord)
#include "tst_devicerecord.moc"
