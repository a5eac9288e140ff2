#include "bytes.h"
#include "hexfile.h"
#include "hexrecords.h"

#include <QtTest>

using namespace orvo;
using namespace orvo::testing;

namespace {

// One produced record as text: "send 1d000000 t00 n04 01020300", "skip", "invalid".
// Every sent record's checksum is checked against its own bytes on the way.
QStringList produceAll(const QByteArray &content, std::uint32_t dMaxAdr)
{
    QStringList out;
    PanelBody body;
    body.fill(0xFF);
    RecordProducer::begin(body);
    RecordProducer producer(content, false, dMaxAdr);
    for (int guard = 0; guard < 10000; ++guard) {
        const RecordStep step = producer.next(body);
        if (producer.position() > producer.length())
            return { "position past the end" };
        if (step == RecordStep::Finished)
            return out;
        if (step == RecordStep::Invalid) {
            out << "invalid";
            return out;
        }
        if (step == RecordStep::Skip) {
            out << "skip";
            continue;
        }
        const int n = body[9];
        if (n > 49)
            return { "length past the body" };
        unsigned sum = 0;
        for (int i = 9; i < 15 + n; ++i)
            sum += body[std::size_t(i)];
        if ((sum & 0xFF) != body[8])
            out << "bad checksum";
        const QByteArray data(reinterpret_cast<const char *>(body.data()) + 15, n);
        out << QStringLiteral("send %1 t%2 n%3 %4")
                   .arg(getU32le(body.data() + 10), 8, 16, QLatin1Char('0'))
                   .arg(body[14], 2, 16, QLatin1Char('0'))
                   .arg(n, 2, 16, QLatin1Char('0'))
                   .arg(QString::fromLatin1(data.toHex()));
    }
    return { "no end" };
}

QByteArray lines(const std::vector<QByteArray> &l)
{
    return joinLines(l);
}

} // namespace

class tst_HexRecords : public QObject
{
    Q_OBJECT

private slots:
    void records_data();
    void records();
    void neverReadsPastTheContent();
};

void tst_HexRecords::records_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<uint>("dMaxAdr");
    QTest::addColumn<QStringList>("expected");

    const auto bytes = [](const char *hex) { return QByteArray::fromHex(hex); };
    const uint k1024 = kFlashEnd1024;
    const uint k2048 = kFlashEnd2048;

    QTest::newRow("3 bytes padded to 4") << lines({ extendedAddress(0x1D00), hexRecord(0, 0, bytes("010203")),
        endOfFile() }) << k2048 << QStringList { "skip", "send 1d000000 t00 n04 01020300", "skip" };
    QTest::newRow("lower case") << lines(
        { extendedAddress(0x1D00).toLower(), hexRecord(0, 0, bytes("0a0b0c0d")).toLower() })
                                << k2048 << QStringList { "skip", "send 1d000000 t00 n04 0a0b0c0d" };
    QTest::newRow("13 bytes padded to 16")
        << lines({ extendedAddress(0x1D00), hexRecord(0x10, 0, bytes("0102030405060708090a0b0c0d")) }) << k2048
        << QStringList { "skip", "send 1d000010 t00 n10 0102030405060708090a0b0c0d000000" };
    QTest::newRow("17 bytes stay 17") << lines(
        { extendedAddress(0x1D00), hexRecord(0x20, 0, bytes("0102030405060708090a0b0c0d0e0f1011")) })
                                      << k2048
                                      << QStringList { "skip",
                                             "send 1d000020 t00 n11 0102030405060708090a0b0c0d0e0f1011" };
    QTest::newRow("49 bytes fill the body")
        << lines({ extendedAddress(0x1D00), hexRecord(0, 0, QByteArray(49, '\x5A')) }) << k2048
        << QStringList { "skip", "send 1d000000 t00 n31 " + QStringLiteral("5a").repeated(49) };
    QTest::newRow("no type 04 yet: address 0 skipped")
        << lines({ hexRecord(0, 0, bytes("01020304")), extendedAddress(0x1D00), hexRecord(0, 0, bytes("01020304")) })
        << k2048 << QStringList { "skip", "skip", "send 1d000000 t00 n04 01020304" };
    QTest::newRow("0x1D100000 on a 1024 part") << lines({ extendedAddress(0x1D10), hexRecord(0, 0, bytes("01020304")) })
                                               << k1024 << QStringList { "skip", "skip" };
    QTest::newRow("0x1D100000 on a 2048 part") << lines({ extendedAddress(0x1D10), hexRecord(0, 0, bytes("01020304")) })
                                               << k2048 << QStringList { "skip", "send 1d100000 t00 n04 01020304" };
    QTest::newRow("16 bytes ending at the window end are sent whole")
        << lines({ extendedAddress(0x1D0F), hexRecord(0xFFF0, 0, QByteArray(16, '\x11')) }) << k1024
        << QStringList { "skip", "send 1d0ffff0 t00 n10 " + QString(32, QLatin1Char('1')) };
    QTest::newRow("a start just inside is sent although it ends outside")
        << lines({ extendedAddress(0x1D1F), hexRecord(0xFFFC, 0, QByteArray(8, '\x22')) }) << k2048
        << QStringList { "skip", "send 1d1ffffc t00 n08 " + QString(16, QLatin1Char('2')) };
    QTest::newRow("below the window") << lines(
        { extendedAddress(0x1CFF), hexRecord(0xFFF0, 0, QByteArray(16, '\x11')) })
                                      << k2048 << QStringList { "skip", "skip" };
    QTest::newRow("boot flash and configuration words skipped") << lines(
        { extendedAddress(0x1FC0), hexRecord(0, 0, bytes("00000000")), hexRecord(0xFFC0, 0, bytes("FFFFFFCF")),
            endOfFile() }) << k2048 << QStringList { "skip", "skip", "skip", "skip" };
    QTest::newRow("other record types skipped, address kept")
        << lines({ extendedAddress(0x1D00), hexRecord(0, 5, bytes("1D001000")), hexRecord(0, 2, bytes("1000")),
               hexRecord(4, 0, bytes("AABBCCDD")) })
        << k2048 << QStringList { "skip", "skip", "skip", "send 1d000004 t00 n04 aabbccdd" };
    QTest::newRow("end-of-file record does not end the parsing")
        << lines({ extendedAddress(0x1D00), endOfFile(), hexRecord(0, 0, bytes("01020304")) }) << k2048
        << QStringList { "skip", "skip", "send 1d000000 t00 n04 01020304" };
    QTest::newRow("empty content") << QByteArray() << k2048 << QStringList {};
    QTest::newRow("cut in the header") << QByteArray(":0400") << k2048 << QStringList { "invalid" };
    QTest::newRow("cut in the data") << QByteArray(extendedAddress(0x1D00) + "\n:04000000010203") << k2048
                                     << QStringList { "skip", "invalid" };
    QTest::newRow("data complete, checksum cut") << QByteArray(extendedAddress(0x1D00) + "\n:0400000001020304") << k2048
                                                 << QStringList { "skip", "send 1d000000 t00 n04 01020304" };
    QTest::newRow("50 data bytes") << lines({ extendedAddress(0x1D00), hexRecord(0, 0, QByteArray(50, '\x01')) })
                                   << k2048 << QStringList { "skip", "invalid" };
}

void tst_HexRecords::records()
{
    QFETCH(QByteArray, content);
    QFETCH(uint, dMaxAdr);
    QFETCH(QStringList, expected);
    QCOMPARE(produceAll(content, dMaxAdr), expected);
}

void tst_HexRecords::neverReadsPastTheContent()
{
    // Every prefix of a file ends in Finished or Invalid, with the position inside the content.
    // The producer reads the prefix through a buffer of exactly that size, so ASan sees any
    // read past it.
    const QByteArray file = lines({ extendedAddress(0x1D00), hexRecord(0x10, 0, QByteArray::fromHex("0102030405")),
        hexRecord(0x20, 0, QByteArray(49, '\x7F')), endOfFile() });
    for (int n = 0; n <= file.size(); ++n) {
        QByteArray prefix(file.constData(), n);
        prefix.squeeze();
        const QStringList got = produceAll(prefix, kFlashEnd2048);
        QVERIFY2(!got.contains("position past the end") && !got.contains("no end"), qPrintable(QString::number(n)));
    }
}

QTEST_GUILESS_MAIN(tst_HexRecords)
#include "tst_hexrecords.moc"
