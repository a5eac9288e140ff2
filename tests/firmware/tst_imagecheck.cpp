#include "hexfile.h"
#include "hexrecords.h"
#include "imagecheck.h"

#include <QtTest>

using namespace orvo;
using namespace orvo::testing;

class tst_ImageCheck : public QObject
{
    Q_OBJECT

private slots:
    void check_data();
    void check();
};

void tst_ImageCheck::check_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("fpga");
    QTest::addColumn<int>("line");
    QTest::addColumn<QString>("fault"); // empty: accepted

    const QByteArray data4 = QByteArray::fromHex("01020304");
    std::vector<QByteArray> good { extendedAddress(0x1D00) };
    for (int i = 0; i < 12; ++i)
        good.push_back(hexRecord(std::uint16_t(i * 4), 0, data4));
    good.push_back(endOfFile());
    const QByteArray lf = joinLines(good);

    // The same file with one line (1-based) replaced.
    const auto withLine = [&](int line, const QByteArray &text) {
        std::vector<QByteArray> l = good;
        l[std::size_t(line - 1)] = text;
        return joinLines(l);
    };

    QTest::newRow("LF") << lf << false << 0 << QString();
    QTest::newRow("CRLF") << joinLines(good, "\r\n") << false << 0 << QString();
    QTest::newRow("lower case") << lf.toLower() << false << 0 << QString();
    QTest::newRow("no final line end") << lf.chopped(1) << false << 0 << QString();
    QTest::newRow("blank lines") << QByteArray("\n\r\n" + lf + "\n") << false << 0 << QString();
    QTest::newRow("49 data bytes") << withLine(2, hexRecord(0, 0, QByteArray(49, '\x01'))) << false << 0 << QString();

    QByteArray badSum = hexRecord(0x2C, 0, data4);
    badSum[badSum.size() - 1] = badSum.at(badSum.size() - 1) == '0' ? '1' : '0';
    QTest::newRow("checksum") << withLine(12, badSum) << false << 12 << "checksum mismatch";
    QTest::newRow("no colon") << withLine(3, hexRecord(4, 0, data4).mid(1)) << false << 3
                              << "record does not start with ':'";
    QByteArray notHex = hexRecord(4, 0, data4);
    notHex[10] = 'G';
    QTest::newRow("not hex") << withLine(4, notHex) << false << 4 << "character that is no hexadecimal digit";
    QTest::newRow("trailing blank") << withLine(4, hexRecord(4, 0, data4) + ' ') << false << 4
                                    << "character that is no hexadecimal digit";
    QTest::newRow("lone CR inside") << withLine(4, hexRecord(4, 0, data4) + "\r:00000001FF") << false << 4
                                    << "character that is no hexadecimal digit";
    QTest::newRow("too short") << withLine(5, ":00000001") << false << 5 << "record too short";
    QTest::newRow("odd digits") << withLine(5, hexRecord(4, 0, data4) + "0") << false << 5
                                << "byte count does not match the line";
    QByteArray countHigh = hexRecord(4, 0, data4);
    countHigh[2] = '5';
    QTest::newRow("count above the line")
        << withLine(6, countHigh) << false << 6 << "byte count does not match the line";
    QTest::newRow("50 data bytes") << withLine(2, hexRecord(0, 0, QByteArray(50, '\x01'))) << false << 2
                                   << "more than 49 data bytes";
    QTest::newRow("type 04 with one byte") << withLine(1, hexRecord(0, 4, QByteArray::fromHex("1D"))) << false << 1
                                           << "extended address record without two data bytes";
    QTest::newRow("cut off") << lf.left(lf.size() / 2) << false << 7 << "byte count does not match the line";
    QTest::newRow("no end-of-file record") << lf.left(lf.lastIndexOf(':')) << false << 0 << "no end-of-file record";
    QTest::newRow("empty HEX") << QByteArray() << false << 0 << "empty file";
    QTest::newRow("binary given as HEX") << patternBytes(200, 9) << false << 1 << "record does not start with ':'";

    QTest::newRow("FPGA image") << patternBytes(100, 1) << true << 0 << QString();
    QTest::newRow("FPGA image empty") << QByteArray() << true << 0 << "empty file";
}

void tst_ImageCheck::check()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, fpga);
    QFETCH(int, line);
    QFETCH(QString, fault);
    const ImageCheck c = checkFirmwareImage(content, fpga);
    QCOMPARE(c.fault, fault);
    QCOMPARE(c.ok, fault.isEmpty());
    QCOMPARE(c.line, line);
}

QTEST_GUILESS_MAIN(tst_ImageCheck)
#include "tst_imagecheck.moc"
