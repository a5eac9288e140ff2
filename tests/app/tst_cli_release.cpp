// The release commands of orvo-updater-cli run as a process: `release check` on a folder with a
// flipped byte and a missing file, `release install` of hostile archives (built here with
// libarchive) and of a good one, `release rollback`, and the report of an update's file and hash.

#include "../common/childfds.h"
#include "demofirmware.h"
#include "manifest.h"
#include "simulator.h"

#include <QCryptographicHash>
#include <QDirIterator>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <archive.h>
#include <archive_entry.h>

#include <vector>

using namespace orvo;
using namespace orvo::testing;

namespace {

constexpr int kProcessTimeoutMs = 120000;

struct Run
{
    int exitCode = -1;
    QStringList lines;
};

Run runCli(const QStringList &arguments)
{
    QProcess p;
    p.setProgram(QStringLiteral(ORVO_CLI_PATH));
    p.setArguments(arguments);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start();
    if (!p.waitForFinished(kProcessTimeoutMs)) {
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

// Every file below `folder` (links as their target text) with its SHA-256.
QMap<QString, QByteArray> tree(const QString &folder)
{
    QMap<QString, QByteArray> out;
    QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        const QString name = it.filePath().mid(folder.size() + 1);
        if (it.fileInfo().isSymLink()) {
            out.insert(name, "link " + it.fileInfo().symLinkTarget().toUtf8());
        } else if (it.fileInfo().isFile()) {
            out.insert(name, QCryptographicHash::hash(readFile(it.filePath()), QCryptographicHash::Sha256).toHex());
        }
    }
    return out;
}

struct Entry
{
    QByteArray name;
    QByteArray data;
    unsigned type = AE_IFREG;
    QByteArray link; // symbolic link target
};

Entry regular(const QByteArray &name, const QByteArray &data)
{
    Entry e;
    e.name = name;
    e.data = data;
    return e;
}

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
        archive_entry_set_perm(entry, e.type == AE_IFDIR ? 0755 : 0644);
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

// The files of `folder` as archive entries under `top`.
std::vector<Entry> entriesOf(const QString &folder, const QByteArray &top)
{
    std::vector<Entry> out;
    QDirIterator it(folder, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        out.push_back(regular(top + it.filePath().mid(folder.size()).toUtf8(), readFile(it.filePath())));
    }
    return out;
}

// Flips the low bit of byte `at`; `before` and `after` receive the file's two contents.
bool flipByte(const QString &path, int at, QByteArray *before = nullptr, QByteArray *after = nullptr)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadWrite))
        return false;
    QByteArray content = f.readAll();
    if (before)
        *before = content;
    content[at] = char(content.at(at) ^ 0x01);
    if (after)
        *after = content;
    return f.seek(0) && f.write(content) == content.size();
}

} // namespace

class tst_CliRelease : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void checkNamesBadAndMissingFiles();
    void installRefusesEscapes_data();
    void installRefusesEscapes();
    void installThenRollback();
    void updateReportsFileAndHash();
    void autoUpdateRefusesFlippedImage();

private:
    QTemporaryDir m_dir;
};

void tst_CliRelease::initTestCase()
{
    QVERIFY(m_dir.isValid());
    keepDescriptorsFromChildren();
}

void tst_CliRelease::checkNamesBadAndMissingFiles()
{
    const QString folder = m_dir.filePath(QStringLiteral("check/HexFiles"));
    QString error;
    QVERIFY2(cli::writeDemoFirmware(folder, &error, 4, 2) > 0, qPrintable(error));
    Run run = runCli({ "release", "check", folder });
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.lines.last(), QStringLiteral("Summary: 163 sound, 0 bad, 0 missing of 163 files; manifest SHA256SUMS: 163 entries"));
    QVERIFY2(run.lines.contains(QStringLiteral(
                 "6170 Console  7-9        6170/CentralProcessorFPGA.bin                        ok           13  ")
                 + QString::fromLatin1(sha256Hex(readFile(folder + "/6170/CentralProcessorFPGA.bin")).left(12))),
             qPrintable(run.lines.mid(0, 12).join('\n')));

    const QString bin = folder + QStringLiteral("/6170/CentralProcessorFPGA.bin");
    QByteArray good, flipped;
    QVERIFY(flipByte(bin, 60, &good, &flipped));
    QVERIFY(QFile::remove(folder + QStringLiteral("/3350QRT/3350QRTDigitalPIC.hex")));

    const QString json = m_dir.filePath(QStringLiteral("check.json"));
    run = runCli({ "release", "check", "--firmware", folder, "--json", json });
    QCOMPARE(run.exitCode, 1);
    QStringList notSound;
    for (const QJsonValue v : QJsonDocument::fromJson(readFile(json)).object().value("release").toObject().value("files").toArray()) {
        const QJsonObject f = v.toObject();
        if (f.value("status").toString() != QLatin1String("ok"))
            notSound << f.value("file").toString() + ' ' + f.value("status").toString() + ' '
                    + f.value("manifest").toVariant().toString() + ' ' + f.value("sha256").toVariant().toString();
    }
    QCOMPARE(notSound, QStringList({ QStringLiteral("6170/CentralProcessorFPGA.bin refused mismatch ")
                                         + QString::fromLatin1(sha256Hex(flipped)),
                                     QStringLiteral("3350QRT/3350QRTDigitalPIC.hex missing  ") }));
    QVERIFY(run.lines.contains(QStringLiteral("  REFUSED 6170/CentralProcessorFPGA.bin: does not match SHA256SUMS: expected ")
                               + sha256Hex(good) + QStringLiteral(", actual ") + sha256Hex(flipped)));
    QVERIFY(run.lines.contains(QStringLiteral("  MISSING 3350QRT/3350QRTDigitalPIC.hex: not in the folder")));
    QCOMPARE(run.lines.last(), QStringLiteral("Summary: 161 sound, 1 bad, 1 missing of 163 files; manifest SHA256SUMS: 163 entries"));

    // Missing files alone are the normal state of a release for one device type.
    QFile restore(bin);
    QVERIFY(restore.open(QIODevice::WriteOnly) && restore.write(good) == good.size());
    restore.close();
    QCOMPARE(runCli({ "release", "check", folder }).exitCode, 6);
}

void tst_CliRelease::installRefusesEscapes_data()
{
    QTest::addColumn<QString>("archive");
    QTest::addColumn<QByteArray>("badName"); // an entry that must not be written
    QTest::addColumn<int>("badType");
    QTest::addColumn<QByteArray>("link");
    QTest::addColumn<QString>("error");

    const QByteArray absolute = QFile::encodeName(m_dir.filePath(QStringLiteral("absolute-evil")));
    QTest::newRow("../evil in a .tar.gz") << "evil.tar.gz" << QByteArray("../evil") << int(AE_IFREG) << QByteArray()
                                          << "*** Error: Release refused (entry 2 '../evil': path with \"..\"): nothing "
                                             "was installed";
    QTest::newRow("../evil in a .zip") << "evil.zip" << QByteArray("6170/../../evil") << int(AE_IFREG) << QByteArray()
                                       << "*** Error: Release refused (entry 2 '6170/../../evil': path with \"..\"): "
                                          "nothing was installed";
    QTest::newRow("absolute path") << "absolute.tar.gz" << absolute << int(AE_IFREG) << QByteArray()
                                   << "*** Error: Release refused (entry 2 '" + QString::fromUtf8(absolute)
                                          + "': absolute path): nothing was installed";
    QTest::newRow("link out of the release") << "link.tar.gz" << QByteArray("6170/MetersPIC.hex") << int(AE_IFLNK)
                                             << QByteArray("../../evil")
                                             << "*** Error: Release refused (entry 2 '6170/MetersPIC.hex': link "
                                                "pointing outside the release): nothing was installed";
    QTest::newRow("fifo") << "fifo.tar.gz" << QByteArray("6170/fifo") << int(AE_IFIFO) << QByteArray()
                          << "*** Error: Release refused (entry 2 '6170/fifo': neither a file nor a folder (a device, "
                             "fifo or socket)): nothing was installed";
}

void tst_CliRelease::installRefusesEscapes()
{
    QFETCH(QString, archive);
    QFETCH(QByteArray, badName);
    QFETCH(int, badType);
    QFETCH(QByteArray, link);
    QFETCH(QString, error);
    QTemporaryDir place(m_dir.filePath(QStringLiteral("place-XXXXXX")));
    const QString firmware = place.filePath(QStringLiteral("firmware/HexFiles"));
    QString text;
    QVERIFY2(cli::writeDemoFirmware(firmware, &text, 4, 2) > 0, qPrintable(text));
    const QMap<QString, QByteArray> before = tree(place.path());
    const QString path = place.filePath(archive);
    Entry bad = regular(badName, "evil");
    bad.type = unsigned(badType);
    bad.link = link;
    QVERIFY(writeArchive(path, { regular("6170/CentralProcessorFPGA.bin", QByteArray(98, 'x')), bad,
                                 regular("6170/MetersPIC.hex", ":00000001FF\n") }));

    const Run run = runCli({ "release", "install", path, "--firmware", firmware });
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.lines.last(), error);
    // Nothing outside the firmware folder, nothing inside it, and no half-unpacked folder left.
    QVERIFY(!QFileInfo::exists(m_dir.filePath(QStringLiteral("evil"))));
    QVERIFY(!QFileInfo::exists(place.filePath(QStringLiteral("evil"))));
    QVERIFY(!QFileInfo::exists(m_dir.filePath(QStringLiteral("absolute-evil"))));
    QMap<QString, QByteArray> after = tree(place.path());
    after.remove(archive);
    QCOMPARE(after, before);
}

void tst_CliRelease::installThenRollback()
{
    const QString base = m_dir.filePath(QStringLiteral("swap"));
    const QString firmware = base + QStringLiteral("/HexFiles");
    const QString newer = base + QStringLiteral("/release-7.36");
    QString error;
    QVERIFY2(cli::writeDemoFirmware(firmware, &error, 4, 2) > 0, qPrintable(error));
    QVERIFY2(cli::writeDemoFirmware(newer, &error, 6, 3) > 0, qPrintable(error));
    const QMap<QString, QByteArray> older = tree(firmware);
    const QMap<QString, QByteArray> release = tree(newer);
    QVERIFY(older != release);
    const QString archive = base + QStringLiteral("/release-7.36.tar.gz");
    QVERIFY(writeArchive(archive, entriesOf(newer, "release-7.36")));

    Run run = runCli({ "release", "install", archive, "--firmware", firmware });
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.lines.last(), QStringLiteral("Installed the release into %1; the previous one is kept in %1.previous "
                                              "(`release rollback` brings it back)")
                                   .arg(firmware));
    QCOMPARE(tree(firmware), release);
    QCOMPARE(tree(firmware + QStringLiteral(".previous")), older);

    run = runCli({ "release", "rollback", "--firmware", firmware });
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(tree(firmware), older);
    QCOMPARE(tree(firmware + QStringLiteral(".previous")), release);
    QCOMPARE(QDir(base).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
             QStringList({ "HexFiles", "HexFiles.previous", "release-7.36", "release-7.36.tar.gz" }));

    // A damaged release is not installed without --force.
    QVERIFY(flipByte(newer + QStringLiteral("/KVR10/KVR10InterfacePIC.hex"), 20));
    run = runCli({ "release", "install", newer, "--firmware", firmware });
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.lines.last(), QStringLiteral("*** Error: Release refused: its check found 1 bad files; nothing was "
                                              "installed (--force installs it all the same)"));
    QCOMPARE(tree(firmware), older);
}

void tst_CliRelease::updateReportsFileAndHash()
{
    constexpr double kSpeedUp = 500.0;
    const QString folder = m_dir.filePath(QStringLiteral("update/HexFiles"));
    QString error;
    QVERIFY2(cli::writeDemoFirmware(folder, &error, 4, 2) > 0, qPrintable(error));
    QVERIFY(QFile::remove(folder + QStringLiteral("/SHA256SUMS")));
    devsim::Simulator sim(kSpeedUp);
    sim.addDevice(devsim::defaultDevice(0, QStringLiteral("127.0.0.42")));
    QVERIFY2(sim.start(0, &error), qPrintable(error));
    keepDescriptorsFromChildren();
    const QString report = m_dir.filePath(QStringLiteral("update.json"));
    QCOMPARE(runCli({ "update", "127.0.0.42", "7", "--port", QString::number(sim.port()), "--speed-up",
                      QString::number(kSpeedUp), "--firmware", folder, "--json", report })
                 .exitCode,
             0);
    const QJsonObject o = QJsonDocument::fromJson(readFile(report)).object();
    const QJsonObject b = o.value("boards").toArray().first().toObject();
    QCOMPARE(QStringList({ o.value("manifest").toString(), b.value("file").toString(), b.value("sha256").toString(),
                           b.value("manifest").toString() }),
             QStringList({ "absent", "6170/CentralProcessorFPGA.bin",
                           sha256Hex(readFile(folder + QStringLiteral("/6170/CentralProcessorFPGA.bin"))), "absent" }));
}

void tst_CliRelease::autoUpdateRefusesFlippedImage()
{
    constexpr double kSpeedUp = 500.0;
    const QString folder = m_dir.filePath(QStringLiteral("auto/HexFiles"));
    QString error;
    QVERIFY2(cli::writeDemoFirmware(folder, &error, 4, 2) > 0, qPrintable(error));
    const QString bin = folder + QStringLiteral("/3350QRT/3350QRTDigitalFPGA.bin");
    QByteArray good, flipped;
    QVERIFY(flipByte(bin, 33, &good, &flipped));

    devsim::DeviceConfig qrt = devsim::defaultDevice(1, QStringLiteral("127.0.0.43"));
    qrt.optionMask = 0x0A; // digital and digital ADAT boards fitted
    devsim::Simulator sim(kSpeedUp);
    sim.addDevice(qrt);
    QVERIFY2(sim.start(0, &error), qPrintable(error));
    QVERIFY(sim.expectImage(0, 2, good));
    keepDescriptorsFromChildren();
    const QString report = m_dir.filePath(QStringLiteral("auto.json"));
    const Run run = runCli({ "auto-update", "127.0.0.43", "--yes", "--force", "--port", QString::number(sim.port()),
                             "--speed-up", QString::number(kSpeedUp), "--firmware", folder, "--json", report });
    QCOMPARE(run.exitCode, 4);
    const QString refusal = QStringLiteral("*** Error: Firmware file does not match the release manifest "
                                           "(3350QRT/3350QRTDigitalFPGA.bin: expected ")
        + sha256Hex(good) + QStringLiteral(", actual ") + sha256Hex(flipped) + QStringLiteral(")!");
    const int result = run.lines.indexOf(
        QStringLiteral("[!! no file] Update firmware file missing!    Digital Board FPGA   Version: 10  (10)"));
    QVERIFY2(result >= 0, qPrintable(run.lines.join('\n')));
    QCOMPARE(run.lines.value(result + 1), QStringLiteral("[!!] ") + refusal);

    const devsim::DeviceSnapshot s = sim.snapshot(0);
    for (int position = 0; position < 5; ++position)
        QCOMPARE(s.boards[std::size_t(position)].erases, position == 2 ? 0 : 1);
    QVERIFY(!devsim::imageAsExpected(s.boards[2]));
    const QJsonObject o = QJsonDocument::fromJson(readFile(report)).object();
    QCOMPARE(o.value("manifest").toObject().value("entries").toInt(), 163);
    QStringList boards;
    for (const QJsonValue v : o.value("boards").toArray()) {
        const QJsonObject b = v.toObject();
        boards << QStringLiteral("%1 %2 %3 %4 %5")
                      .arg(b.value("position").toInt())
                      .arg(b.value("file").toString(), b.value("manifest").toString(),
                           b.value("sha256").toString() == sha256Hex(readFile(folder + '/' + b.value("file").toString()))
                               ? QStringLiteral("hash of the file")
                               : b.value("sha256").toString(),
                           b.value("refusal").toString());
    }
    QCOMPARE(boards, QStringList({ "0 3350QRT/3350QRTInterfacePIC.hex matched hash of the file ",
                                   "1 3350QRT/3350QRTDigitalPIC.hex matched hash of the file ",
                                   "2 3350QRT/3350QRTDigitalFPGA.bin mismatch hash of the file " + refusal,
                                   "3 3350QRT/3350QRTDigitalADATPIC.hex matched hash of the file ",
                                   "4 3350QRT/3350QRTDigitalADATFPGA.bin matched hash of the file " }));
}

QTEST_GUILESS_MAIN(tst_CliRelease)
#include "tst_cli_release.moc"
