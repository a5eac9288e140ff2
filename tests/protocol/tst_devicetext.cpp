#include "devicerecord.h"
#include "devicetext.h"

#include <QtTest>

using namespace orvo;

class tst_DeviceText : public QObject
{
    Q_OBJECT

private slots:
    void shownName_data();
    void shownName();
    void everyPrintableByteComesBack();
    void newName_data();
    void newName();
};

void tst_DeviceText::shownName_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("shown");
    QTest::newRow("terminal commands and a forged entry")
        << QByteArray("\x1b]0;PWNED\x07\x1b[2J\x1b[31m X\r\n#9: fake")
        << QStringLiteral("\\x1B]0;PWNED\\x07\\x1B[2J\\x1B[31m X\\x0D\\x0A#9: fake");
    QTest::newRow("Latin-1 text as before") << QByteArray("Caf\xe9 \xc5 \\x41") << QStringLiteral("Café Å \\x41");
    QTest::newRow("tab, DEL") << QByteArray("a\tb\x7f") << QStringLiteral("a\\x09b\\x7F");
    QTest::newRow("Windows-1252 and its undefined bytes")
        << QByteArray("\x80\x85\x9b\x81\x8d\x8f\x90\x9d\x9f") << QStringLiteral("€…›\\x81\\x8D\\x8F\\x90\\x9D\u0178");
}

void tst_DeviceText::shownName()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, shown);
    OrvoDiscoveryInfo record;
    record.setName(bytes);
    QCOMPARE(record.visibleName(), shown);
    QCOMPARE(visibleText(shown), shown);
    QCOMPARE(record.nameBytes(), bytes); // the record keeps what came
    QCOMPARE(visibleText(QStringLiteral("\u0085\u009b")), QStringLiteral("\\x85\\x9B")); // C1 as text
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

void tst_DeviceText::newName_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("error");
    QTest::newRow("Café Å") << QStringLiteral("Café Å") << QByteArray("\x43\x61\x66\xe9\x20\xc5") << QString();
    QTest::newRow("composed from e and an accent") << QStringLiteral("e\u0301") << QByteArray("\xe9") << QString();
    QTest::newRow("Windows-1252 only") << QStringLiteral("€ ‘x’") << QByteArray("\x80 \x91x\x92") << QString();
    QTest::newRow("21 characters of two UTF-8 bytes") << QString(21, QChar(0xE9)) << QByteArray(21, '\xe9') << QString();
    QTest::newRow("22 characters") << QString(22, QLatin1Char('a')) << QByteArray()
                                   << QStringLiteral("Name cannot be more than 21 characters");
    QTest::newRow("Greek") << QStringLiteral("Studio Ω") << QByteArray()
                           << QStringLiteral("Name cannot contain \"Ω\" (U+03A9): devices keep names in Windows-1252");
    QTest::newRow("outside the BMP") << QStringLiteral("A\U0001F600") << QByteArray()
                                     << QStringLiteral("Name cannot contain \"\U0001F600\" (U+1F600): devices keep "
                                                       "names in Windows-1252");
    QTest::newRow("line break") << QStringLiteral("A\nB") << QByteArray()
                                << QStringLiteral("Name cannot contain the control character \\x0A (U+000A)");
}

void tst_DeviceText::newName()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, error);
    const DeviceNameBytes encoded = encodeDeviceName(name);
    QCOMPARE(encoded.error, error);
    QCOMPARE(encoded.bytes, bytes);
}

QTEST_GUILESS_MAIN(tst_DeviceText)
#include "tst_devicetext.moc"
