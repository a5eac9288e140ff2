// The release commands of orvo-updater-cli run as a process: `release check` on a folder with a
// flipped byte and a missing file and an auto update from it, `release install` of hostile
// archives (built here with libarchive) and of a good one, and `release rollback`.

#include "childfds.h"
#include "demofirmware.h"
#include "manifest.h"
#include "simulator.h"

#include <QtTest>

#include <archive.h>
#include <archive_entry.h>

#include <algorithm>
#include <vector>

using namespace orvo;

namespace {

struct Run
{
    int exitCode = -1;
    QStringList lines;
};

Run runCli(const QStringList &arguments)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral(ORVO_CLI_PATH), arguments);
    if (!p.waitForFinished(120000)) {
        p.kill();
        p.waitForFinished();
    }
    Run run;
    run.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    run.lines = QString::fromLocal8Bit(p.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    return run;
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Flips the low bit of byte `at` and gives the file's content from before.
QByteArray flipByte(const QString &path, int at)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadWrite))
        return QByteArray();
    const QByteArray before = f.readAll();
    QByteArray after = before;
    after[at] = char(after.at(at) ^ 0x01);
    return f.seek(0) && f.write(after) == after.size() ? before : QByteArray();
}

// Every file below `folder` (links as their target text) with its SHA-256.
QMap<QString, QByteArray> tree(const QString &folder)
{
    QMap<QString, QByteArray> out;
    QDirIterator it(
        folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        const QString name = it.filePath().mid(folder.size() + 1);
        if (it.fileInfo().isSymLink())
            out.insert(name, "link " + it.fileInfo().symLinkTarget().toUtf8());
        else if (it.fileInfo().isFile())
            out.insert(name, sha256Hex(readFile(it.filePath())));
    }
    return out;
}

struct Entry
{
    Entry(const QByteArray &n = {}, const QByteArray &d = {}, unsigned t = AE_IFREG, const QByteArray &l = {})
        : name(n), data(d), type(t), link(l)
    { }
    QByteArray name;
    QByteArray data;
    unsigned type;
    QByteArray link; // symbolic link target
};

} // namespace

Q_DECLARE_METATYPE(Entry)

namespace {

// A .tar.gz, or a .zip when `path` ends so.
bool writeArchive(const QString &path, const std::vector<Entry> &entries)
{
    archive *a = archive_write_new();
    if (path.endsWith(QLatin1String(".zip"))) {
        archive_write_set_format_zip(a);
    } else {
        archive_write_add_filter_gzip(a);
        archive_write_set_format_pax_restricted(a);
    }
    bool ok = archive_write_open_filename(a, QFile::encodeName(path).constData()) == ARCHIVE_OK;
    for (const Entry &e : entries) {
        archive_entry *entry = archive_entry_new();
        archive_entry_set_pathname(entry, e.name.constData());
        archive_entry_set_filetype(entry, e.type);
        archive_entry_set_perm(entry, 0644);
        archive_entry_set_size(entry, e.type == AE_IFREG ? e.data.size() : 0);
        if (!e.link.isEmpty())
            archive_entry_set_symlink(entry, e.link.constData());
        ok = ok && archive_write_header(a, entry) == ARCHIVE_OK;
        if (e.type == AE_IFREG && !e.data.isEmpty())
            ok = ok && archive_write_data(a, e.data.constData(), std::size_t(e.data.size())) == e.data.size();
        archive_entry_free(entry);
    }
    ok = archive_write_close(a) == ARCHIVE_OK && ok;
    archive_write_free(a);
    return ok;
}

} // namespace

class tst_CliRelease : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        // The auto update's boards go to the board history in the data folder: the test's own.
        qputenv("XDG_DATA_HOME", m_dir.filePath(QStringLiteral("data")).toUtf8());
    }
    void flippedByteAndMissingFile();
    void installRefusesEscapes_data();
    void installRefusesEscapes();
    void installThenRollback();

private:
    // A demo release in `name` (below the test's folder unless absolute).
    QString demoFolder(const QString &name, int hexRecords = 4, int fpgaChunks = 2)
    {
        QString error;
        const QString folder = QDir(m_dir.path()).filePath(name);
        return demo::writeDemoFirmware(folder, &error, hexRecords, fpgaChunks) > 0 ? folder : error;
    }

    QTemporaryDir m_dir;
};

// One release folder with a flipped byte in an FPGA image and a missing file: `release check`
// names both, and an auto update refuses that board before any erase and updates the others.
void tst_CliRelease::flippedByteAndMissingFile()
{
    const QString folder = demoFolder(QStringLiteral("flipped/HexFiles"));
    Run run = runCli({ "release", "check", folder });
    QCOMPARE(run.exitCode, 0);
    QVERIFY(run.lines.contains(
        QStringLiteral(
            "6170 Console  7-9        6170/CentralProcessorFPGA.bin                        ok           13  ")
        + QString::fromLatin1(sha256Hex(readFile(folder + "/6170/CentralProcessorFPGA.bin")).left(12))));

    const QString bin = folder + QStringLiteral("/3350QRT/3350QRTDigitalFPGA.bin");
    const QByteArray good = flipByte(bin, 33);
    const QByteArray flipped = readFile(bin);
    QVERIFY(QFile::remove(folder + QStringLiteral("/6170/MetersPIC.hex")));
    const QString json = m_dir.filePath(QStringLiteral("check.json"));
    run = runCli({ "release", "check", "--firmware", folder, "--json", json });
    QCOMPARE(run.exitCode, 1);
    QVERIFY(run.lines.contains(
        QStringLiteral("  REFUSED 3350QRT/3350QRTDigitalFPGA.bin: does not match SHA256SUMS: expected ")
        + sha256Hex(good) + QStringLiteral(", actual ") + sha256Hex(flipped)));
    QVERIFY(run.lines.contains(QStringLiteral("  MISSING 6170/MetersPIC.hex: not in the folder")));
    QCOMPARE(run.lines.last(),
        QStringLiteral("Summary: 161 sound, 1 bad, 1 missing of 163 files; manifest SHA256SUMS: 163 entries"));
    const QJsonArray files = QJsonDocument::fromJson(readFile(json))["release"]["files"].toArray();
    const auto refused
        = std::find_if(files.begin(), files.end(), [](const QJsonValue &f) { return f["status"] == "refused"; });
    QVERIFY(refused != files.end());
    QCOMPARE(QStringList(
                 { (*refused)["file"].toString(), (*refused)["manifest"].toString(), (*refused)["sha256"].toString() }),
        QStringList({ "3350QRT/3350QRTDigitalFPGA.bin", "mismatch", sha256Hex(flipped) }));

    constexpr double kSpeedUp = 500.0;
    devsim::DeviceConfig qrt = devsim::defaultDevice(1, QStringLiteral("127.0.0.43"));
    qrt.optionMask = 0x0A; // digital and digital ADAT boards fitted
    devsim::Simulator sim(kSpeedUp);
    sim.addDevice(qrt);
    QString error;
    QVERIFY2(sim.start(0, &error), qPrintable(error));
    QVERIFY(sim.expectImage(0, 1, readFile(folder + QStringLiteral("/3350QRT/3350QRTDigitalPIC.hex"))));
    keepDescriptorsFromChildren();
    const QString report = m_dir.filePath(QStringLiteral("auto.json"));
    run = runCli({ "auto-update", "127.0.0.43", "--yes", "--force", "--port", QString::number(sim.port()), "--speed-up",
        QString::number(kSpeedUp), "--firmware", folder, "--json", report });
    QCOMPARE(run.exitCode, 4);
    const QString refusal = QStringLiteral("*** Error: Firmware file does not match the release manifest "
                                           "(3350QRT/3350QRTDigitalFPGA.bin: expected ")
        + sha256Hex(good) + QStringLiteral(", actual ") + sha256Hex(flipped) + QStringLiteral(")!");
    QVERIFY2(run.lines.contains(QStringLiteral("[!!] ") + refusal), qPrintable(run.lines.join('\n')));

    // The refused board is never erased; the others are updated all the same, with their files.
    const devsim::DeviceSnapshot s = sim.snapshot(0);
    for (int position = 0; position < 5; ++position)
        QCOMPARE(s.boards[std::size_t(position)].erases, position == 2 ? 0 : 1);
    QVERIFY(devsim::imageAsExpected(s.boards[1]));
    QStringList boards;
    for (const QJsonValue v : QJsonDocument::fromJson(readFile(report)).object().value("boards").toArray()) {
        const QJsonObject b = v.toObject();
        const QString file = b.value("file").toString();
        QCOMPARE(b.value("sha256").toString(), QString::fromLatin1(sha256Hex(readFile(folder + '/' + file))));
        boards << file + ' ' + b.value("manifest").toString() + ' ' + b.value("refusal").toString();
    }
    QCOMPARE(boards,
        QStringList({ "3350QRT/3350QRTInterfacePIC.hex matched ", "3350QRT/3350QRTDigitalPIC.hex matched ",
            "3350QRT/3350QRTDigitalFPGA.bin mismatch " + refusal, "3350QRT/3350QRTDigitalADATPIC.hex matched ",
            "3350QRT/3350QRTDigitalADATFPGA.bin matched " }));

    // Missing files alone are the normal state of a release for one device type.
    QCOMPARE(flipByte(bin, 33), flipped);
    QCOMPARE(runCli({ "release", "check", folder }).exitCode, 6);
}

void tst_CliRelease::installRefusesEscapes_data()
{
    QTest::addColumn<Entry>("bad"); // an entry that must not be written
    QTest::addColumn<QString>("error");

    const QByteArray absolute = QFile::encodeName(m_dir.filePath(QStringLiteral("absolute-evil")));
    QTest::newRow("../evil") << Entry { "../evil",
        "evil" } << "*** Error: Release refused (entry 2 '../evil': path with \"..\"): nothing was installed";
    QTest::newRow("absolute path") << Entry { absolute, "evil" }
                                   << "*** Error: Release refused (entry 2 '" + QString::fromUtf8(absolute)
            + "': absolute path): nothing was installed";
    QTest::newRow("link out of the release") << Entry { "6170/MetersPIC.hex", "", AE_IFLNK, "../../evil" }
                                             << "*** Error: Release refused (entry 2 '6170/MetersPIC.hex': link "
                                                "pointing outside the release): nothing was installed";
    QTest::newRow("fifo") << Entry { "6170/fifo", "", AE_IFIFO }
                          << "*** Error: Release refused (entry 2 '6170/fifo': neither a file nor a folder (a device, "
                             "fifo or socket)): nothing was installed";
}

void tst_CliRelease::installRefusesEscapes()
{
    QFETCH(Entry, bad);
    QFETCH(QString, error);
    const QTemporaryDir place(m_dir.filePath(QStringLiteral("place-XXXXXX")));
    const QString firmware = demoFolder(place.filePath(QStringLiteral("firmware/HexFiles")));
    const QMap<QString, QByteArray> before = tree(place.path());
    const QString path = place.filePath(QStringLiteral("release.tar.gz"));
    QVERIFY(writeArchive(path,
        { { "6170/CentralProcessorFPGA.bin", QByteArray(98, 'x') }, bad, { "6170/MetersPIC.hex", ":00000001FF\n" } }));

    const Run run = runCli({ "release", "install", path, "--firmware", firmware });
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.lines.last(), error);
    // Nothing outside the firmware folder, nothing inside it, and no half-unpacked folder left.
    QVERIFY(!QFileInfo::exists(m_dir.filePath(QStringLiteral("absolute-evil"))));
    QMap<QString, QByteArray> after = tree(place.path());
    after.remove(QStringLiteral("release.tar.gz"));
    QCOMPARE(after, before);
}

void tst_CliRelease::installThenRollback()
{
    const QString firmware = demoFolder(QStringLiteral("swap/HexFiles"));
    const QString newer = demoFolder(QStringLiteral("swap/release-7.36"), 6, 3);
    const QMap<QString, QByteArray> older = tree(firmware);
    const QMap<QString, QByteArray> release = tree(newer);
    QVERIFY(older != release);
    std::vector<Entry> entries;
    for (auto it = release.cbegin(); it != release.cend(); ++it)
        entries.push_back({ "release-7.36/" + it.key().toUtf8(), readFile(newer + '/' + it.key()) });
    const QString archive = m_dir.filePath(QStringLiteral("swap/release-7.36.zip"));
    QVERIFY(writeArchive(archive, entries));

    Run run = runCli({ "release", "install", archive, "--firmware", firmware });
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.lines.last(),
        QStringLiteral("Installed the release into %1; the previous one is kept in %1.previous "
                       "(`release rollback` brings it back)")
            .arg(firmware));
    QCOMPARE(tree(firmware), release);

    run = runCli({ "release", "rollback", "--firmware", firmware });
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(tree(firmware), older);
    QCOMPARE(
        QDir(m_dir.filePath(QStringLiteral("swap"))).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
        QStringList({ "HexFiles", "HexFiles.previous", "release-7.36", "release-7.36.zip" }));

    // A damaged release is not installed without --force.
    QVERIFY(!flipByte(newer + QStringLiteral("/KVR10/KVR10InterfacePIC.hex"), 20).isEmpty());
    run = runCli({ "release", "install", newer, "--firmware", firmware });
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.lines.last(),
        QStringLiteral("*** Error: Release refused: its check found 1 bad files; nothing was "
                       "installed (--force installs it all the same)"));
    QCOMPARE(tree(firmware), older);
}

QTEST_GUILESS_MAIN(tst_CliRelease)
#include "tst_cli_release.moc"
