#include "devicerecord.h"
#include "devicetext.h"

#include <QtTest>

using namespace orvo;

class tst_DeviceText : public QObject
{
    Q_OBJECT

private slots:
    void shownAsData();
    void everyPrintableByteComesBack();
    void newName();
};

void tst_DeviceText::shownAsData()
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

void tst_DeviceText::everyPrintableByteComesBack()
{
    for (int b = 0x20; b <= 0xFF; ++b) {
        const QByteArray byte(1, static_cast<char>(b));
        const DeviceNameBytes encoded = encodeDeviceName(decodeDeviceText(byte));
        const bool control = b == 0x7F || b == 0x81 || b == 0x8D || b == 0x8F || b == 0x90 || b == 0x9D;
        QVERIFY2(encoded.ok() != control && (control || encoded.bytes == byte), qPrintable(QString::number(b, 16)));
    }
}

void tst_DeviceText::newName()
{
    QCOMPARE(encodeDeviceName(QStringLiteral("Café Å")).bytes, QByteArray("\x43\x61\x66\xe9\x20\xc5"));
    QCOMPARE(encodeDeviceName(QStringLiteral("e\u0301")).bytes, QByteArray("\xe9")); // composed first
    QCOMPARE(encodeDeviceName(QString(21, QChar(0xE9))).bytes, QByteArray(21, '\xe9'));
    QCOMPARE(encodeDeviceName(QString(22, QLatin1Char('a'))).error, QStringLiteral("Name cannot be more than 21 characters"));
    QCOMPARE(encodeDeviceName(QStringLiteral("A\U0001F600")).error,
             QStringLiteral("Name cannot contain \"\U0001F600\" (U+1F600): devices keep names in Windows-1252"));
    QCOMPARE(encodeDeviceName(QStringLiteral("A\nB")).error,
             QStringLiteral("Name cannot contain the control character \\x0A (U+000A)"));
}

QTEST_GUILESS_MAIN(tst_DeviceText)
#include "tst_devicetext.moc"
