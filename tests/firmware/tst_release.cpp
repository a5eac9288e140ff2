// A release that can be trusted: the manifest's parser, the memory-map refusals and the check of
// a whole release folder. That a refused file never reaches a board is shown by the command
// line's auto update against the device simulator.

#include "hexfile.h"
#include "hexrecords.h"
#include "imagecheck.h"
#include "manifest.h"
#include "releasecheck.h"

#include <QtTest>

using namespace orvo;
using namespace orvo::testing;

namespace {

const QByteArray kHashA = QByteArray(64, 'a');
const QByteArray kHashB = QByteArray(64, 'b');

bool writeFile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(content) == content.size();
}

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
    void releaseFolder();
};

void tst_Release::manifestLines_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("lookup");   // empty: the whole manifest is refused
    QTest::addColumn<QString>("expected"); // the manifest's fault, or the entry's hash or fault

    QTest::newRow("text, binary, CR LF and ./")
        << QByteArray(kHashA + "  6170/A.hex\r\n" + kHashB.toUpper() + " *./6170/B.bin\n\n") << "6170/B.bin"
        << QString::fromLatin1(kHashB);
    QTest::newRow("file not listed") << QByteArray(kHashB + "  6170/B.bin\n") << "6170/A.hex"
                                     << "no entry";
    QTest::newRow("dot-dot") << QByteArray(kHashA + "  6170/../../x.hex\n") << ""
                             << "line 1: path with \"..\"";
    QTest::newRow("absolute") << QByteArray(kHashB + "  6170/A.hex\n" + kHashA + "  /etc/passwd\n") << ""
                              << "line 2: absolute path";
    QTest::newRow("escape sequence") << QByteArray(kHashA + "  6170/\x1b[2JA.hex\n") << ""
                                     << "line 1: control character";
    QTest::newRow("C1 control in UTF-8") << QByteArray(kHashA
        + "  6170/\xc2\x9b"
          "A.hex\n") << ""
                                         << "line 1: control character in the path";
    QTest::newRow("overlong line") << QByteArray(kHashA + "  " + QByteArray(5000, 'x') + "\n") << ""
                                   << "line 1: line longer than 4096 bytes";
    QTest::newRow("no separator") << QByteArray("not a manifest\n") << ""
                                  << "line 1: not \"HASH  FILE\"";
    QTest::newRow("larger than 1 MiB") << QByteArray(1024 * 1024 + 1, '\n') << ""
                                       << "larger than 1 MiB";
    QTest::newRow("short hash: that file only")
        << QByteArray(kHashA.left(63) + "  6170/A.hex\n" + kHashB + "  6170/B.bin\n") << "6170/A.hex"
        << "line 1: hash is not 64 hexadecimal digits";
    QTest::newRow("two hashes for one file")
        << QByteArray(kHashA + "  6170/A.hex\n" + kHashB + "  6170/A.hex\n") << "6170/A.hex"
        << "lines 1 and 2 give different hashes";
}

void tst_Release::manifestLines()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, lookup);
    QFETCH(QString, expected);
    const Manifest m = Manifest::parse(text);
    QCOMPARE(m.state(), lookup.isEmpty() ? Manifest::State::Unreadable : Manifest::State::Read);
    if (lookup.isEmpty()) {
        QCOMPARE(m.fault(), expected);
    } else {
        const ManifestEntry *e = m.find(lookup);
        QCOMPARE(!e                  ? QStringLiteral("no entry")
                : e->fault.isEmpty() ? QString::fromLatin1(e->sha256)
                                     : e->fault,
            expected);
    }
    // Only a sound entry vouches for a file: neither a faulty entry nor a manifest refused as a
    // whole lets a file through, even one whose hash it lists.
    const QString file = lookup.isEmpty() ? QStringLiteral("6170/A.hex") : lookup;
    QCOMPARE(checkAgainstManifest(m, file, kHashB).ok(), expected == QLatin1String(kHashB));
}

void tst_Release::memoryMap_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("error"); // empty: the file fits

    const QByteArray data16(16, '\x11');
    QTest::newRow("boot flash only")
        << hexFile({ extendedAddress(0x1FC0), hexRecord(0, 0, data16) })
        << "*** Error: Firmware file cannot be written to this board (no data record inside its program flash "
           "0x1D000000-0x1D1FFFFF)!";
    QTest::newRow("overlap, ascending")
        << hexFile({ extendedAddress(0x1D00), hexRecord(0, 0, data16), hexRecord(8, 0, data16) })
        << "*** Error: Firmware file cannot be written to this board (line 3: record overlaps the one on line 2 at "
           "0x1D000008)!";
    QTest::newRow("overlap across a type-04 record")
        << hexFile({ extendedAddress(0x1D00), hexRecord(0xFFF8, 0, data16), extendedAddress(0x1D01),
               hexRecord(0x0000, 0, data16) })
        << "*** Error: Firmware file cannot be written to this board (line 4: record overlaps the one on line 2 at "
           "0x1D010000)!";
    // Bytes outside the window are never written, so they cannot overlap; touching is no overlap.
    QTest::newRow("adjacent, and a twin outside the window")
        << hexFile({ extendedAddress(0x1D00), hexRecord(0, 0, data16), hexRecord(16, 0, data16),
               extendedAddress(0x1FC0), hexRecord(0, 0, data16), hexRecord(0, 0, data16) })
        << QString();
}

void tst_Release::memoryMap()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, error);
    QVERIFY(checkFirmwareImage(file, false).ok);
    const ImageCheck c = checkMemoryMap(file, kFlashEnd2048);
    QCOMPARE(c.ok ? QString() : c.errorLine(), error);
}

// The command line's test shows a flipped byte and a missing file; here the verdicts that only the
// content of a file decides, and the positions and version each file is checked for.
void tst_Release::releaseFolder()
{
    QTemporaryDir dir;
    const QString folder = dir.path() + QStringLiteral("/HexFiles/");
    const QByteArray hex = makeHexImage(4, 16, kFlashEnd2048);
    QVERIFY(writeFile(folder + "KVR10/KVR10InterfacePIC.hex", hex));
    QVERIFY(writeFile(folder + "KVR10/KVR10InterfacePIC_PIC32MZ1024EFG144.hex",
        makeHexImage(4, 16, kFlashEnd2048, nullptr, 0x1D100000))); // all beyond a 1 MB part
    QVERIFY(writeFile(folder + "6170/CentralProcessorFPGA.bin", patternBytes(200, 3)));
    QVERIFY(writeFile(folder + "6170/CentralProcessorPIC.hex", hex.left(hex.lastIndexOf(':'))));
    QVERIFY(writeFile(folder + "TX512/TX512InterfacePIC.hex", hex));

    const ReleaseReport report = checkRelease(folder);
    QMap<QString, QString> seen;
    for (const ReleaseFile &f : report.files) {
        if (f.status != ReleaseFileStatus::Missing)
            seen.insert(f.file,
                QStringLiteral("%1 %2 v%3: %4")
                    .arg(releaseStatusName(f.status), positionsText(f.positions))
                    .arg(f.expectedVersion)
                    .arg(f.reason));
    }
    const QMap<QString, QString> expected {
        { "KVR10/KVR10InterfacePIC.hex", "ok 0 v12: " },
        { "KVR10/KVR10InterfacePIC_PIC32MZ1024EFG144.hex",
            "UNFIT 0 v12: no data record inside its program flash 0x1D000000-0x1D0FFFFF" },
        { "6170/CentralProcessorFPGA.bin", "ok 7-9 v13: " },
        { "6170/CentralProcessorPIC.hex", "DAMAGED 4-6 v13: no end-of-file record" },
        { "TX512/TX512InterfacePIC.hex", "ok 0 v7: " },
    };
    QCOMPARE(seen, expected);
}

QTEST_GUILESS_MAIN(tst_Release)
#include "tst_release.moc"
