// A release that can be trusted: the manifest's parser, the memory-map refusals, the manifest's
// check before a board is touched (against the device simulator, which is told the image it
// should end up with), and the check of a whole release folder.

#include "firmwarefiles.h"
#include "hexfile.h"
#include "hexrecords.h"
#include "imagecheck.h"
#include "manifest.h"
#include "protocol/catalogue.h"
#include "protocol/clock.h"
#include "protocol/panellink.h"
#include "releasecheck.h"
#include "simulator.h"
#include "updater.h"

#include <QtTest>

using namespace orvo;
using namespace orvo::testing;

namespace {

constexpr int kChannelMaster = 4; // console HEX board
constexpr int kChannelFpga = 7;   // console FPGA board

const QByteArray kHashA = QByteArray(64, 'a');
const QByteArray kHashB = QByteArray(64, 'b');

class Lines : public UpdateReporter
{
public:
    QStringList lines;
    void listLine(int, const QString &text) override { lines << text; }
    void progress(bool, int, bool, int, int) override {}
};

// One simulated console on loopback and a firmware folder to update it from.
struct Console
{
    Console()
    {
        sim.addDevice(devsim::defaultDevice(Console6170, QStringLiteral("127.0.0.1")));
        started = sim.start(0, &error);
        link.setTarget({ QStringLiteral("127.0.0.1"), sim.port(0), std::uint16_t(Console6170) });
        link.setCatalogueType(Console6170);
    }

    QString folder() const { return dir.path() + QStringLiteral("/HexFiles/"); }

    QByteArray put(const QString &relative, const QByteArray &content) const
    {
        const QString path = folder() + relative;
        QDir().mkpath(QFileInfo(path).path());
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(content) != content.size())
            return QByteArray();
        return QFile::encodeName(path);
    }

    int update(int position, const QByteArray &path, UpdateFigures *figures = nullptr)
    {
        PanelUpdateRequest r = makePanelUpdateRequest(path, Console6170, position, panelSlot(Console6170, position), 0, true);
        r.firmwareFolder = folder();
        return updatePanelFirmware(link, reporter, r, figures);
    }

    devsim::BoardSnapshot board(int position) const { return sim.snapshot(0).boards[std::size_t(position)]; }

    QTemporaryDir dir;
    ScaledClock clock { 1000.0 };
    devsim::Simulator sim { 1000.0 };
    PanelLink link { clock, [] { return false; } };
    Lines reporter;
    bool started = false;
    QString error;
};

QByteArray hexFile(const std::vector<QByteArray> &records)
{
    std::vector<QByteArray> lines = records;
    lines.push_back(endOfFile());
    return joinLines(lines);
}

} // namespace

class tst_Release : public QObject
{
    Q_OBJECT

private slots:
    void manifestLines_data();
    void manifestLines();
    void memoryMap_data();
    void memoryMap();
    void unfitFileNeverErases_data();
    void unfitFileNeverErases();
    void manifestDecidesBeforeContact();
    void releaseFolder();
};

void tst_Release::manifestLines_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("fault");    // of the whole manifest; empty: it can be read
    QTest::addColumn<QString>("lookup");   // a file to look up
    QTest::addColumn<QByteArray>("hash");  // its hash, when its entry is sound
    QTest::addColumn<QString>("entryFault");

    QTest::newRow("text, binary, CR LF and ./")
        << QByteArray(kHashA + "  6170/A.hex\r\n" + kHashB.toUpper() + " *./6170/B.bin\n\n") << QString()
        << "6170/B.bin" << kHashB << QString();
    QTest::newRow("dot-dot") << QByteArray(kHashA + "  ../evil\n") << "line 1: path with \"..\"" << "" << QByteArray()
                             << QString();
    QTest::newRow("dot-dot inside") << QByteArray(kHashA + "  6170/../../x.hex\n") << "line 1: path with \"..\"" << ""
                                    << QByteArray() << QString();
    QTest::newRow("absolute") << QByteArray(kHashB + "  6170/A.hex\n" + kHashA + "  /etc/passwd\n")
                              << "line 2: absolute path" << "" << QByteArray() << QString();
    QTest::newRow("escape sequence") << QByteArray(kHashA + "  6170/\x1b[2JA.hex\n") << "line 1: control character" << ""
                                     << QByteArray() << QString();
    QTest::newRow("C1 control in UTF-8") << QByteArray(kHashA + "  6170/\xc2\x9b" "A.hex\n")
                                         << "line 1: control character in the path" << "" << QByteArray() << QString();
    QTest::newRow("overlong line") << QByteArray(kHashA + "  " + QByteArray(5000, 'x') + "\n")
                                   << "line 1: line longer than 4096 bytes" << "" << QByteArray() << QString();
    QTest::newRow("no separator") << QByteArray("not a manifest\n") << "line 1: not \"HASH  FILE\"" << ""
                                  << QByteArray() << QString();
    QTest::newRow("larger than 1 MiB") << QByteArray(1024 * 1024 + 1, '\n') << "larger than 1 MiB" << "" << QByteArray()
                                       << QString();
    QTest::newRow("short hash: that file only")
        << QByteArray(kHashA.left(63) + "  6170/A.hex\n" + kHashB + "  6170/B.bin\n") << QString() << "6170/A.hex"
        << QByteArray() << "line 1: hash is not 64 hexadecimal digits";
    QTest::newRow("two hashes for one file") << QByteArray(kHashA + "  6170/A.hex\n" + kHashB + "  6170/A.hex\n")
                                             << QString() << "6170/A.hex" << QByteArray()
                                             << "lines 1 and 2 give different hashes";
}

void tst_Release::manifestLines()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, fault);
    QFETCH(QString, lookup);
    QFETCH(QByteArray, hash);
    QFETCH(QString, entryFault);
    const Manifest m = Manifest::parse(text);
    QCOMPARE(m.fault(), fault);
    QCOMPARE(m.state(), fault.isEmpty() ? Manifest::State::Read : Manifest::State::Unreadable);
    if (lookup.isEmpty())
        return;
    const ManifestEntry *e = m.find(lookup);
    QVERIFY(e);
    QCOMPARE(e->sha256, hash);
    QCOMPARE(e->fault, entryFault);
    const ManifestCheck check = checkAgainstManifest(m, lookup, kHashB);
    QCOMPARE(check.ok(), !hash.isEmpty() && hash == kHashB);
}

void tst_Release::memoryMap_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<uint>("dMaxAdr");
    QTest::addColumn<QString>("error"); // empty: the file fits

    const QByteArray data16(16, '\x11');
    QTest::newRow("boot flash only")
        << hexFile({ extendedAddress(0x1FC0), hexRecord(0, 0, data16) }) << uint(kFlashEnd2048)
        << "*** Error: Firmware file cannot be written to this board (no data record inside its program flash "
           "0x1D000000-0x1D1FFFFF)!";
    QTest::newRow("second MB on a 1 MB part")
        << hexFile({ extendedAddress(0x1D10), hexRecord(0, 0, data16) }) << uint(kFlashEnd1024)
        << "*** Error: Firmware file cannot be written to this board (no data record inside its program flash "
           "0x1D000000-0x1D0FFFFF)!";
    QTest::newRow("overlap, ascending")
        << hexFile({ extendedAddress(0x1D00), hexRecord(0, 0, data16), hexRecord(8, 0, data16) }) << uint(kFlashEnd2048)
        << "*** Error: Firmware file cannot be written to this board (line 3: record overlaps the one on line 2 at "
           "0x1D000008)!";
    QTest::newRow("overlap, later record lower")
        << hexFile({ extendedAddress(0x1D00), hexRecord(0x10, 0, data16), hexRecord(0x08, 0, data16) })
        << uint(kFlashEnd2048)
        << "*** Error: Firmware file cannot be written to this board (line 3: record overlaps the one on line 2 at "
           "0x1D000010)!";
    QTest::newRow("overlap across a type-04 record")
        << hexFile({ extendedAddress(0x1D00), hexRecord(0xFFF8, 0, data16), extendedAddress(0x1D01),
                     hexRecord(0x0000, 0, data16) })
        << uint(kFlashEnd2048)
        << "*** Error: Firmware file cannot be written to this board (line 4: record overlaps the one on line 2 at "
           "0x1D010000)!";
    // Bytes outside the window are never written, so they cannot overlap; touching is no overlap.
    QTest::newRow("adjacent, and a twin outside the window")
        << hexFile({ extendedAddress(0x1D00), hexRecord(0, 0, data16), hexRecord(16, 0, data16),
                     extendedAddress(0x1FC0), hexRecord(0, 0, data16), hexRecord(0, 0, data16) })
        << uint(kFlashEnd2048) << QString();
}

void tst_Release::memoryMap()
{
    QFETCH(QByteArray, file);
    QFETCH(uint, dMaxAdr);
    QFETCH(QString, error);
    QVERIFY(checkFirmwareImage(file, false).ok);
    const ImageCheck c = checkMemoryMap(file, dMaxAdr);
    QCOMPARE(c.ok, error.isEmpty());
    if (!c.ok)
        QCOMPARE(c.errorLine(), error);
}

void tst_Release::unfitFileNeverErases_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("error");
    QTest::newRow("nothing in the program flash")
        << hexFile({ extendedAddress(0x1FC0), hexRecord(0, 0, QByteArray(16, '\x01')) })
        << "*** Error: Firmware file cannot be written to this board (no data record inside its program flash "
           "0x1D000000-0x1D1FFFFF)!";
    QTest::newRow("overlapping records")
        << hexFile({ extendedAddress(0x1D00), hexRecord(0x20, 0, QByteArray(16, '\x01')),
                     hexRecord(0x2C, 0, QByteArray(8, '\x02')) })
        << "*** Error: Firmware file cannot be written to this board (line 3: record overlaps the one on line 2 at "
           "0x1D00002C)!";
}

void tst_Release::unfitFileNeverErases()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, error);
    Console console;
    QVERIFY2(console.started, qPrintable(console.error));
    const QByteArray path = console.put(QStringLiteral("6170/CentralProcessorPIC.hex"), file);

    QCOMPARE(console.update(kChannelMaster, path), int(UpdateFileMissing));
    const QStringList tail = console.reporter.lines.mid(console.reporter.lines.size() - 2);
    QCOMPARE(tail, QStringList({ error, QStringLiteral("*** Please replace the file: '") + QFile::decodeName(path) + "'" }));
    const devsim::BoardSnapshot b = console.board(kChannelMaster);
    QCOMPARE(b.requests, 0);
    QCOMPARE(b.erases, 0);
}

void tst_Release::manifestDecidesBeforeContact()
{
    Console console;
    QVERIFY2(console.started, qPrintable(console.error));
    const QByteArray image = patternBytes(49 * 3 + 5, 7);
    QByteArray flipped = image;
    flipped[60] = char(flipped[60] ^ 0x01);
    const QByteArray hex = makeHexImage(12, 16, kFlashEnd2048);
    const QByteArray fpgaPath = console.put(QStringLiteral("6170/CentralProcessorFPGA.bin"), flipped);
    const QByteArray hexPath = console.put(QStringLiteral("6170/CentralProcessorPIC.hex"), hex);
    const QByteArray meterPath = console.put(QStringLiteral("6170/MetersPIC.hex"), hex);
    QFile sums(console.folder() + QStringLiteral("SHA256SUMS"));
    QVERIFY(sums.open(QIODevice::WriteOnly));
    sums.write(sha256Hex(image) + "  6170/CentralProcessorFPGA.bin\n" + sha256Hex(hex) + " *6170/CentralProcessorPIC.hex\n");
    sums.close();
    QVERIFY(console.sim.expectImage(0, kChannelFpga, image));
    QVERIFY(console.sim.expectImage(0, kChannelMaster, hex));

    // One flipped bit in an FPGA image, which has no checksum of its own.
    UpdateFigures figures;
    QCOMPARE(console.update(kChannelFpga, fpgaPath, &figures), int(UpdateFileMissing));
    QVERIFY(console.reporter.lines.contains(
        QStringLiteral("*** Error: Firmware file does not match the release manifest (6170/CentralProcessorFPGA.bin: "
                       "expected ")
        + sha256Hex(image) + QStringLiteral(", actual ") + sha256Hex(flipped) + QStringLiteral(")!")));
    QCOMPARE(figures.sha256, sha256Hex(flipped));
    QCOMPARE(figures.manifest, ManifestVerdict::Mismatch);
    QCOMPARE(console.board(kChannelFpga).erases, 0);
    QCOMPARE(console.board(kChannelFpga).requests, 0);

    // A sound file the manifest does not name.
    QCOMPARE(console.update(16, meterPath), int(UpdateFileMissing));
    QVERIFY(console.reporter.lines.contains(
        QStringLiteral("*** Error: Firmware file is not listed in the release manifest (6170/MetersPIC.hex: expected an "
                       "entry in SHA256SUMS, actual ")
        + sha256Hex(hex) + QStringLiteral(")!")));
    QCOMPARE(console.board(16).erases, 0);

    // The board whose file the manifest vouches for is written, and holds exactly that file.
    QCOMPARE(console.update(kChannelMaster, hexPath, &figures), int(UpdateSuccessful));
    QCOMPARE(figures.file, QStringLiteral("6170/CentralProcessorPIC.hex"));
    QCOMPARE(figures.manifest, ManifestVerdict::Matched);
    QVERIFY(devsim::imageAsExpected(console.board(kChannelMaster)));
    QVERIFY(!devsim::imageAsExpected(console.board(kChannelFpga)));
    QVERIFY(console.sim.violations().isEmpty());
}

void tst_Release::releaseFolder()
{
    QTemporaryDir dir;
    const QString folder = dir.path() + QStringLiteral("/HexFiles");
    const auto put = [&folder](const QString &relative, const QByteArray &content) {
        QDir().mkpath(QFileInfo(folder + "/" + relative).path());
        QFile f(folder + "/" + relative);
        return f.open(QIODevice::WriteOnly) && f.write(content) == content.size();
    };
    const QByteArray hex = makeHexImage(4, 16, kFlashEnd2048);
    const QByteArray bin = patternBytes(200, 3);
    QVERIFY(put(QStringLiteral("KVR10/KVR10InterfacePIC.hex"), hex));
    QVERIFY(put(QStringLiteral("KVR10/KVR10InterfacePIC_PIC32MZ1024EFG144.hex"),
                makeHexImage(4, 16, kFlashEnd2048, nullptr, 0x1D100000))); // all beyond a 1 MB part
    QVERIFY(put(QStringLiteral("6170/CentralProcessorFPGA.bin"), bin));
    QVERIFY(put(QStringLiteral("6170/CentralProcessorPIC.hex"), hex.left(hex.lastIndexOf(':'))));
    QVERIFY(put(QStringLiteral("TX512/TX512InterfacePIC.hex"), hex));
    QString error;
    QVERIFY2(writeManifest(folder, { "KVR10/KVR10InterfacePIC.hex", "6170/CentralProcessorFPGA.bin",
                                     "TX512/TX512InterfacePIC.hex", "TX512/TX512InterfacePIC_PIC32MZ1024EFK144.hex" },
                           &error) == false,
             "a file the manifest names must exist when it is written");
    QVERIFY2(writeManifest(folder, { "KVR10/KVR10InterfacePIC.hex", "6170/CentralProcessorFPGA.bin",
                                     "TX512/TX512InterfacePIC.hex" }, &error),
             qPrintable(error));
    QByteArray damaged = bin;
    damaged[10] = char(damaged[10] ^ 0x80);
    QVERIFY(put(QStringLiteral("6170/CentralProcessorFPGA.bin"), damaged));

    const ReleaseReport report = checkRelease(folder);
    QMap<QString, QString> seen;
    for (const ReleaseFile &f : report.files) {
        if (f.status != ReleaseFileStatus::Missing || f.file.startsWith(QLatin1String("KVR")))
            seen.insert(f.file, releaseStatusName(f.status) + QStringLiteral(" ") + positionsText(f.positions)
                                    + QStringLiteral(" v") + QString::number(f.expectedVersion) + QStringLiteral(": ")
                                    + f.reason);
    }
    const QMap<QString, QString> expected {
        { "KVR10/KVR10InterfacePIC.hex", "ok 0 v12: " },
        { "KVR10/KVR10InterfacePIC_PIC32MZ1024EFG144.hex",
          "UNFIT 0 v12: no data record inside its program flash 0x1D000000-0x1D0FFFFF" },
        { "6170/CentralProcessorFPGA.bin", "REFUSED 7-9 v13: does not match SHA256SUMS: expected "
                                               + QString::fromLatin1(sha256Hex(bin)) + ", actual "
                                               + QString::fromLatin1(sha256Hex(damaged)) },
        { "6170/CentralProcessorPIC.hex", "DAMAGED 4-6 v13: no end-of-file record" },
        { "TX512/TX512InterfacePIC.hex", "ok 0 v7: " },
        { "KVR30/KVR30InterfacePIC.hex", "MISSING 0 v5: not in the folder" },
    };
    QCOMPARE(seen, expected);
    QCOMPARE(report.sound, 2);
    QCOMPARE(report.bad, 3);
    QCOMPARE(report.sound + report.bad + report.missing, report.files.size());
    QVERIFY(!report.presentSound());
}

QTEST_GUILESS_MAIN(tst_Release)
#include "tst_release.moc"
