#include "hexfile.h"
#include "hexrecords.h"
#include "protocol/bytes.h"

#include <QtTest>

using namespace orvo;
using namespace orvo::testing;

namespace {

// One produced record as text: "send 1d000000 t00 n04 01020300", "skip", "invalid".
// Every sent record's checksum is checked against its own bytes on the way.
QStringList produceAll(const QByteArray &content, std::uint32_t dMaxAdr, bool fpga = false)
{
    QStringList out;
    PanelBody body;
    body.fill(0xFF);
    RecordProducer::begin(body);
    RecordProducer producer(content, fpga, dMaxAdr);
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
        for (int i = fpga ? 15 : 9; i < 15 + n; ++i)
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

QByteArray lines(const std::vector<QByteArray> &l) { return joinLines(l); }

} // namespace

class tst_HexRecords : public QObject
{
    Q_OBJECT

private slots:
    void hexValue_data();
    void hexValue();
    void dMaxAdr_data();
    void dMaxAdr();
    void records_data();
    void records();
    void paddedChecksumBytes();
    void lineEndsAndCaseGiveSameRecords();
    void neverReadsPastTheContent();
    void fpgaChunks_data();
    void fpgaChunks();
};

void tst_HexRecords::hexValue_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("value");
    QTest::newRow("upper") << QByteArray("1D") << 2 << 0x1D;
    QTest::newRow("lower") << QByteArray("1d") << 2 << 0x1D;
    QTest::newRow("ff") << QByteArray("fF") << 2 << 0xFF;
    QTest::newRow("not a digit keeps its weight") << QByteArray("G7") << 2 << 0x07;
    QTest::newRow("not a digit low") << QByteArray("7:") << 2 << 0x70;
    QTest::newRow("low 8 bits") << QByteArray("1234") << 4 << 0x34;
    QTest::newRow("one") << QByteArray("a") << 1 << 0x0A;
}

void tst_HexRecords::hexValue()
{
    QFETCH(QByteArray, text);
    QFETCH(int, count);
    QFETCH(int, value);
    QCOMPARE(int(orvo::hexValue(count, text.constData())), value);
}

void tst_HexRecords::dMaxAdr_data()
{
    QTest::addColumn<int>("picType");
    QTest::addColumn<bool>("fpga");
    QTest::addColumn<uint>("expected");
    QTest::newRow("2048 EFG144") << 0 << false << uint(0x1D200000);
    QTest::newRow("1024 EFK144") << 1 << false << uint(0x1D100000);
    QTest::newRow("1024 EFF064") << 10 << false << uint(0x1D100000);
    QTest::newRow("2048 EFH100") << 11 << false << uint(0x1D200000);
    QTest::newRow("unknown") << 12 << false << uint(0x1D200000);
    QTest::newRow("fpga with a 1024 answer") << 2 << true << uint(0x1D200000);
}

void tst_HexRecords::dMaxAdr()
{
    QFETCH(int, picType);
    QFETCH(bool, fpga);
    QFETCH(uint, expected);
    QCOMPARE(uint(chooseDMaxAdr(std::uint8_t(picType), fpga)), expected);
}

void tst_HexRecords::records_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<uint>("dMaxAdr");
    QTest::addColumn<QStringList>("expected");

    const auto bytes = [](const char *hex) { return QByteArray::fromHex(hex); };
    const uint k1024 = kFlashEnd1024;
    const uint k2048 = kFlashEnd2048;

    QTest::newRow("3 bytes padded to 4")
        << lines({ extendedAddress(0x1D00), hexRecord(0, 0, bytes("010203")), endOfFile() }) << k2048
        << QStringList { "skip", "send 1d000000 t00 n04 01020300", "skip" };
    QTest::newRow("13 bytes padded to 16")
        << lines({ extendedAddress(0x1D00), hexRecord(0x10, 0, bytes("0102030405060708090a0b0c0d")) }) << k2048
        << QStringList { "skip", "send 1d000010 t00 n10 0102030405060708090a0b0c0d000000" };
    QTest::newRow("17 bytes stay 17")
        << lines({ extendedAddress(0x1D00), hexRecord(0x20, 0, bytes("0102030405060708090a0b0c0d0e0f1011")) })
        << k2048 << QStringList { "skip", "send 1d000020 t00 n11 0102030405060708090a0b0c0d0e0f1011" };
    QTest::newRow("49 bytes fill the body")
        << lines({ extendedAddress(0x1D00), hexRecord(0, 0, QByteArray(49, '\x5A')) }) << k2048
        << QStringList { "skip", "send 1d000000 t00 n31 " + QStringLiteral("5a").repeated(49) };
    QTest::newRow("no type 04 yet: address 0 skipped")
        << lines({ hexRecord(0, 0, bytes("01020304")), extendedAddress(0x1D00), hexRecord(0, 0, bytes("01020304")) })
        << k2048 << QStringList { "skip", "skip", "send 1d000000 t00 n04 01020304" };
    QTest::newRow("0x1D100000 on a 1024 part")
        << lines({ extendedAddress(0x1D10), hexRecord(0, 0, bytes("01020304")) }) << k1024
        << QStringList { "skip", "skip" };
    QTest::newRow("0x1D100000 on a 2048 part")
        << lines({ extendedAddress(0x1D10), hexRecord(0, 0, bytes("01020304")) }) << k2048
        << QStringList { "skip", "send 1d100000 t00 n04 01020304" };
    QTest::newRow("16 bytes ending at the window end are sent whole")
        << lines({ extendedAddress(0x1D0F), hexRecord(0xFFF0, 0, QByteArray(16, '\x11')) }) << k1024
        << QStringList { "skip", "send 1d0ffff0 t00 n10 " + QString(32, QLatin1Char('1')) };
    QTest::newRow("a start just inside is sent although it ends outside")
        << lines({ extendedAddress(0x1D1F), hexRecord(0xFFFC, 0, QByteArray(8, '\x22')) }) << k2048
        << QStringList { "skip", "send 1d1ffffc t00 n08 " + QString(16, QLatin1Char('2')) };
    QTest::newRow("below the window")
        << lines({ extendedAddress(0x1CFF), hexRecord(0xFFF0, 0, QByteArray(16, '\x11')) }) << k2048
        << QStringList { "skip", "skip" };
    QTest::newRow("boot flash and configuration words skipped")
        << lines({ extendedAddress(0x1FC0), hexRecord(0, 0, bytes("00000000")),
                   hexRecord(0xFFC0, 0, bytes("FFFFFFCF")), endOfFile() })
        << k2048 << QStringList { "skip", "skip", "skip", "skip" };
    QTest::newRow("other record types skipped, address kept")
        << lines({ extendedAddress(0x1D00), hexRecord(0, 5, bytes("1D001000")), hexRecord(0, 2, bytes("1000")),
                   hexRecord(4, 0, bytes("AABBCCDD")) })
        << k2048 << QStringList { "skip", "skip", "skip", "send 1d000004 t00 n04 aabbccdd" };
    QTest::newRow("end-of-file record does not end the parsing")
        << lines({ extendedAddress(0x1D00), endOfFile(), hexRecord(0, 0, bytes("01020304")) }) << k2048
        << QStringList { "skip", "skip", "send 1d000000 t00 n04 01020304" };
    QTest::newRow("text before and between records is skipped")
        << QByteArray("junk\n" + extendedAddress(0x1D00) + "  trailing\r\n" + hexRecord(0, 0, bytes("01020304")))
        << k2048 << QStringList { "skip", "send 1d000000 t00 n04 01020304" };
    QTest::newRow("empty content") << QByteArray() << k2048 << QStringList {};
    QTest::newRow("no colon") << QByteArray("hello\r\n") << k2048 << QStringList {};
    QTest::newRow("colon as last byte") << QByteArray(":") << k2048 << QStringList {};
    QTest::newRow("cut in the header") << QByteArray(":0400") << k2048 << QStringList { "invalid" };
    QTest::newRow("cut in the data")
        << QByteArray(extendedAddress(0x1D00) + "\n:04000000010203") << k2048 << QStringList { "skip", "invalid" };
    QTest::newRow("data complete, checksum cut")
        << QByteArray(extendedAddress(0x1D00) + "\n:0400000001020304") << k2048
        << QStringList { "skip", "send 1d000000 t00 n04 01020304" };
    QTest::newRow("50 data bytes")
        << lines({ extendedAddress(0x1D00), hexRecord(0, 0, QByteArray(50, '\x01')) }) << k2048
        << QStringList { "skip", "invalid" };
    QTest::newRow("255 data bytes")
        << lines({ extendedAddress(0x1D00), hexRecord(0, 0, QByteArray(255, '\x01')) }) << k2048
        << QStringList { "skip", "invalid" };
}

void tst_HexRecords::records()
{
    QFETCH(QByteArray, content);
    QFETCH(uint, dMaxAdr);
    QFETCH(QStringList, expected);
    QCOMPARE(produceAll(content, dMaxAdr), expected);
}

void tst_HexRecords::paddedChecksumBytes()
{
    // Bytes 8..18 of the body for a 3-byte record at 0x1D000000, worked out by hand: the
    // checksum 0x27 is 04 + 00 + 00 + 00 + 1D + 00 + 01 + 02 + 03 + 00 (the padding byte).
    const QByteArray content = lines({ extendedAddress(0x1D00), hexRecord(0, 0, QByteArray::fromHex("010203")) });
    PanelBody body;
    body.fill(0xFF);
    RecordProducer::begin(body);
    RecordProducer producer(content, false, kFlashEnd2048);
    QCOMPARE(producer.next(body), RecordStep::Skip);
    QCOMPARE(producer.next(body), RecordStep::Send);
    const QByteArray got(reinterpret_cast<const char *>(body.data()) + 8, 11);
    QCOMPARE(got.toHex(), QByteArray("2704000000" "1d00" "01020300"));
    // Bytes 19..30 were cleared for the padding, the rest keeps its last value.
    QCOMPARE(int(body[30]), 0);
    QCOMPARE(int(body[31]), 0xFF);
    QCOMPARE(producer.next(body), RecordStep::Finished);
    QCOMPARE(producer.position(), producer.length());
}

void tst_HexRecords::lineEndsAndCaseGiveSameRecords()
{
    std::map<std::uint32_t, std::uint8_t> unused;
    const QByteArray crlf = makeHexImage(40, 16, kFlashEnd2048, &unused, 0x1D00FF00);
    QByteArray lf = crlf;
    lf.replace("\r\n", "\n");
    const QByteArray lower = lf.toLower();
    const QStringList expected = produceAll(crlf, kFlashEnd2048);
    QCOMPARE(expected.count(QStringLiteral("skip")), 7);
    QCOMPARE(expected.size(), 47);
    QCOMPARE(produceAll(lf, kFlashEnd2048), expected);
    QCOMPARE(produceAll(lower, kFlashEnd2048), expected);
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

void tst_HexRecords::fpgaChunks_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<QList<int>>("chunks");
    QTest::newRow("100") << 100 << QList<int> { 49, 49, 2 };
    QTest::newRow("98") << 98 << QList<int> { 49, 49 };
    QTest::newRow("1") << 1 << QList<int> { 1 };
    QTest::newRow("0") << 0 << QList<int> {};
}

void tst_HexRecords::fpgaChunks()
{
    QFETCH(int, size);
    QFETCH(QList<int>, chunks);
    const QByteArray image = patternBytes(size, 3);
    PanelBody body;
    body.fill(0xFF);
    RecordProducer::begin(body);
    RecordProducer producer(image, true, kFlashEnd2048);
    QByteArray joined;
    QList<int> got;
    RecordStep step;
    while ((step = producer.next(body)) == RecordStep::Send) {
        const int n = body[9];
        got << n;
        unsigned sum = 0;
        for (int i = 0; i < n; ++i)
            sum += body[std::size_t(15 + i)];
        QCOMPARE(int(body[8]), int(sum & 0xFF));
        QCOMPARE(int(body[10]), 0xFF);
        QCOMPARE(int(body[11]), 0xFF);
        QCOMPARE(int(body[12]), 0);
        QCOMPARE(int(body[13]), 0);
        QCOMPARE(int(body[14]), 0xFF);
        joined.append(reinterpret_cast<const char *>(body.data()) + 15, n);
        QCOMPARE(producer.position(), std::size_t(joined.size()));
    }
    QCOMPARE(step, RecordStep::Finished);
    QCOMPARE(got, chunks);
    QCOMPARE(joined, image);
}

QTEST_GUILESS_MAIN(tst_HexRecords)
#include "tst_hexrecords.moc"
