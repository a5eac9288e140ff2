#include "catalogue.h"
#include "clock.h"
#include "firmwarefiles.h"
#include "hexfile.h"
#include "hexrecords.h"
#include "imagecheck.h"
#include "panellink.h"
#include "simulator.h"
#include "updater.h"

#include <QtTest>

#include <functional>
#include <memory>

using namespace orvo;
using namespace orvo::testing;
using devsim::BoardState;
using devsim::FaultKind;

namespace {

// Time runs this much faster for the update and the simulated device alike, so a 30 s restart
// wait takes 30 ms.
constexpr double kSpeedUp = 1000.0;

// Console positions used below.
constexpr int kMonitorInterface = 0; // panel 2 channel 0: carries the device's network
constexpr int kChannelMaster = 4;    // HEX board, board type 1
constexpr int kChannelFpga = 7;      // FPGA board, board type 4

// Records the activity lines as "<icon> <text>" and the progress calls as
// { visible, value, showText, min, max }.
class Recorder : public UpdateReporter
{
public:
    QStringList lines;
    QList<QList<int>> progressCalls;
    std::function<void(const QString &)> onLine;
    std::function<void(const QList<int> &)> onProgress;

    void listLine(RowIcon icon, const QString &text) override
    {
        lines << QString::number(static_cast<int>(icon)) + QLatin1Char(' ') + text;
        if (onLine)
            onLine(text);
    }
    void progress(bool visible, int value, bool showText, int min, int max) override
    {
        progressCalls.append({ visible ? 1 : 0, value, showText ? 1 : 0, min, max });
        if (onProgress)
            onProgress(progressCalls.last());
    }
    int count(const QString &text) const
    {
        int n = 0;
        for (const QString &l : lines)
            n += l.mid(2) == text ? 1 : 0;
        return n;
    }
};

// A simulated device of one type on loopback, the link to it and a firmware folder.
struct Rig
{
    explicit Rig(int type = Console6170, const std::function<void(devsim::DeviceConfig &)> &tweak = {})
        : deviceType(type)
    {
        devsim::DeviceConfig config = devsim::defaultDevice(type, QStringLiteral("127.0.0.1"));
        if (tweak)
            tweak(config);
        sim.addDevice(config);
        started = sim.start(0, &error);
        link.setTarget({ QStringLiteral("127.0.0.1"), sim.port(0), std::uint16_t(type) });
        link.setCatalogueType(type);
        // A refused connection or a closed one without a reply is known at once; the 1 ms polls
        // that follow only cost time here, where every such case is a vanished device.
        ExchangeTimeouts t;
        t.panelConnectPolls = 20;
        t.panelWritePolls = 20;
        t.panelReplyPolls = 20;
        link.setTimeouts(t);
    }

    QString folder() const { return dir.path() + QStringLiteral("/HexFiles/"); }

    QByteArray write(const QString &relative, const QByteArray &content)
    {
        const QString path = folder() + relative;
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly))
            return QByteArray();
        f.write(content);
        return QFile::encodeName(path);
    }

    UpdateResult update(int position, const QByteArray &path, std::uint8_t picType = 0)
    {
        return updatePanelFirmware(link, rec,
            makePanelUpdateRequest(path, deviceType, position, panelSlot(deviceType, position), picType, true));
    }

    devsim::BoardSnapshot board(int position) const { return sim.snapshot(0).boards[std::size_t(position)]; }

    int deviceType;
    QTemporaryDir dir;
    ScaledClock clock { kSpeedUp };
    devsim::Simulator sim { kSpeedUp };
    bool abort = false;
    PanelLink link { clock, [this] { return abort; } };
    Recorder rec;
    bool started = false;
    QString error;
};

QString violationText(const Rig &rig)
{
    QStringList out;
    for (const devsim::Violation &v : rig.sim.violations())
        out << v.what;
    return out.join(QStringLiteral("; "));
}

#define VERIFY_RIG(rig) QVERIFY2((rig).started, qPrintable((rig).error))
#define VERIFY_NO_VIOLATION(rig) QVERIFY2((rig).sim.violations().isEmpty(), qPrintable(violationText(rig)))

using Image = std::map<std::uint32_t, std::uint8_t>;

// A small image of 20 data records of 16 bytes from just below 0x1D100000 across it.
QByteArray edgeImage(std::uint32_t dMaxAdr, Image *expected)
{
    return makeHexImage(20, 16, dMaxAdr, expected, 0x1D0FFF80);
}

} // namespace

class tst_Updater : public QObject
{
    Q_OBJECT

private slots:
    void hexBoard_data();
    void hexBoard();
    void fpgaBoard();
    void checksumRefusals_data();
    void checksumRefusals();
    void eraseRetries_data();
    void eraseRetries();
    void endings_data();
    void endings();
    void restartWaitProbe();
    void aborts_data();
    void aborts();
    void damagedFiles_data();
    void damagedFiles();
    void cutAtEveryStep();
};

void tst_Updater::hexBoard_data()
{
    QTest::addColumn<int>("picType");
    QTest::addColumn<QString>("file");
    QTest::newRow("2048 part") << 0 << "CentralProcessorPIC.hex";
    QTest::newRow("1024 part, LF lines") << 2 << "CentralProcessorPIC_PIC32MZ1024EFG144.hex";
    QTest::newRow("part that did not answer") << 12 << "CentralProcessorPIC.hex"; // as a 2048 part
}

void tst_Updater::hexBoard()
{
    QFETCH(int, picType);
    QFETCH(QString, file);
    Rig rig;
    VERIFY_RIG(rig);
    const std::uint32_t dMaxAdr = picType == 2 ? kFlashEnd1024 : kFlashEnd2048;
    Image expected;
    QByteArray content = edgeImage(dMaxAdr, &expected);
    if (picType == 2)
        content.replace("\r\n", "\n");
    const QByteArray path = rig.write(QStringLiteral("6170/") + file, content);
    QCOMPARE(int(rig.update(kChannelMaster, path, std::uint8_t(picType))), int(UpdateResult::Successful));

    const devsim::BoardSnapshot b = rig.board(kChannelMaster);
    QCOMPARE(b.hexImage, expected);
    QVERIFY(b.hexImage.rbegin()->first < dMaxAdr); // nothing at or above the window end
    QCOMPARE(b.enterRequests, 1);
    QCOMPARE(b.erases, 1);
    QCOMPARE(b.leaveRequests, 1);
    QCOMPARE(b.state, BoardState::Running);
    QCOMPARE(rig.rec.lines,
        QStringList({ "2 Updating firmware on Channel Master 1-8...", "2 Initialising firmware update...",
            "2 Firmware file: " + file + " (13)", "2 Contacting panel/board...",
            "2 Panel/board found!  Firmware version: 13", "2 Panel/board is not in Boot mode",
            "2 Panel/board will now enter Boot mode...  Please wait!", "2 Erasing program memory...  Please wait!",
            "2 Successfully erased program memory!", "2 Updating program memory...  Please wait!",
            "2 Finishing firmware update...", "2 Panel/board will now exit Boot mode...  Please wait!",
            "2 Contacting panel/board...", "2 Panel/board found!  Firmware version: 13", "0 " }));
    // The update ends with the programming bar full and then hidden.
    QCOMPARE(rig.rec.progressCalls.last(), QList<int>({ 0, 0, 1, 0, 100 }));
    QVERIFY(rig.rec.progressCalls.contains(QList<int>({ 1, 100, 1, 0, 100 })));
    VERIFY_NO_VIOLATION(rig);
}

void tst_Updater::fpgaBoard()
{
    Rig rig;
    VERIFY_RIG(rig);
    const QByteArray image = patternBytes(1000, 5);
    const QByteArray path = rig.write(QStringLiteral("6170/CentralProcessorFPGA.bin"), image);
    QCOMPARE(int(rig.update(kChannelFpga, path)), int(UpdateResult::Successful));
    const devsim::BoardSnapshot b = rig.board(kChannelFpga);
    QCOMPARE(b.fpgaImage, image);
    QCOMPARE(b.recordsAccepted, 21); // 20 x 49 + 20
    QCOMPARE(b.enterRequests, 0);
    QCOMPARE(b.leaveRequests, 1);
    const QStringList texts = rig.rec.lines;
    QVERIFY(texts.filter("Boot mode").isEmpty());
    QCOMPARE(texts.filter("Firmware version: ").size(), 2);
    // 1500 waiting ticks after the erase, then the bar is hidden.
    const QList<int> firstTick { 1, 0, 0, 0, 0 };
    const int start = rig.rec.progressCalls.indexOf(firstTick);
    QVERIFY(start >= 0);
    QCOMPARE(rig.rec.progressCalls.at(start + 1499), QList<int>({ 1, 100, 0, 0, 0 }));
    QCOMPARE(rig.rec.progressCalls.at(start + 1500), QList<int>({ 0, 0, 1, 0, 100 }));
    VERIFY_NO_VIOLATION(rig);
}

void tst_Updater::checksumRefusals_data()
{
    QTest::addColumn<int>("refusals");
    QTest::addColumn<int>("result");
    QTest::newRow("3") << 3 << int(UpdateResult::Successful);
    QTest::newRow("24: the 25th request is accepted") << 24 << int(UpdateResult::Successful);
    QTest::newRow("25: given up") << 25 << int(UpdateResult::Failed);
}

void tst_Updater::checksumRefusals()
{
    QFETCH(int, refusals);
    QFETCH(int, result);
    Rig rig;
    VERIFY_RIG(rig);
    Image expected;
    const QByteArray path = rig.write(QStringLiteral("a.hex"), edgeImage(kFlashEnd2048, &expected));
    rig.sim.addFault(0, { FaultKind::ChecksumRefusals, kChannelMaster, 1, -1, refusals });
    QCOMPARE(int(rig.update(kChannelMaster, path)), result);
    QCOMPARE(rig.rec.count("Firmware download checksum error!"), refusals);
    const devsim::BoardSnapshot b = rig.board(kChannelMaster);
    if (result == int(UpdateResult::Successful)) {
        QCOMPARE(b.hexImage, expected);
    } else {
        QCOMPARE(b.recordsAccepted, 0);
        QCOMPARE(b.leaveRequests, 0);
        QCOMPARE(rig.rec.lines.last(), QStringLiteral("3 *** Error: Firmware update failed!"));
    }
    VERIFY_NO_VIOLATION(rig);
}

void tst_Updater::eraseRetries_data()
{
    QTest::addColumn<int>("unconfirmed"); // -1: never
    QTest::addColumn<int>("result");
    QTest::newRow("13 then Y") << 13 << int(UpdateResult::Successful);
    QTest::newRow("14") << 14 << int(UpdateResult::ConnectionProblem);
    QTest::newRow("never") << -1 << int(UpdateResult::ConnectionProblem);
}

void tst_Updater::eraseRetries()
{
    QFETCH(int, unconfirmed);
    QFETCH(int, result);
    // A board left in its boot loader by an earlier update starts at the erase.
    Rig rig(Console6170, [](devsim::DeviceConfig &c) { c.boards[kChannelMaster].state = BoardState::BootLoader; });
    VERIFY_RIG(rig);
    Image expected;
    const QByteArray path = rig.write(QStringLiteral("a.hex"), edgeImage(kFlashEnd2048, &expected));
    // The status query comes first.
    rig.sim.addFault(0, { FaultKind::EraseNeverConfirmed, kChannelMaster, 2, unconfirmed });
    QCOMPARE(int(rig.update(kChannelMaster, path)), result);
    QCOMPARE(rig.rec.lines.at(5), QStringLiteral("2 Panel/board is in Boot mode!"));
    const devsim::BoardSnapshot b = rig.board(kChannelMaster);
    QCOMPARE(b.enterRequests, 0);
    if (result == int(UpdateResult::Successful)) {
        QCOMPARE(b.hexImage, expected);
    } else {
        QCOMPARE(b.requests, 1 + 14);
        QCOMPARE(b.recordsAccepted, 0);
        QCOMPARE(rig.rec.lines.last(), QStringLiteral("3 *** Error: Could not connect/find the panel/board!"));
    }
    VERIFY_NO_VIOLATION(rig);
}

Q_DECLARE_METATYPE(devsim::FaultKind)

void tst_Updater::endings_data()
{
    QTest::addColumn<int>("position");
    QTest::addColumn<bool>("inBootLoader");
    QTest::addColumn<int>("newVersion"); // what the board reports after its new image, 0: build version
    QTest::addColumn<FaultKind>("fault");
    QTest::addColumn<int>("startAt"); // 0: no fault
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("result");
    QTest::addColumn<int>("requests"); // requests the board received, -1: not checked
    QTest::addColumn<QStringList>("lastLines");

    // Status, enter, then no answer to any of the ten boot-mode checks.
    QTest::newRow("no boot loader after the enter request")
        << kChannelMaster << false << 0 << FaultKind::NeverAnswer << 3 << -1 << int(UpdateResult::Failed) << 2 + 10
        << QStringList { "0 ", "3 *** Error: Firmware update failed!" };
    QTest::newRow("back in the boot loader after leaving")
        << kChannelMaster << false << 0 << FaultKind::StayInBootLoader << 1 << -1 << int(UpdateResult::Failed) << -1
        << QStringList { "4 Panel/board is in Boot mode!", "0 ", "3 *** Error: Firmware update failed!" };
    // Status, erase, 20 records, leave: no answer in the ten verify rounds, then the re-check
    // finds the application running.
    QTest::newRow("verify rounds silent, re-check finds the application")
        << kChannelMaster << true << 0 << FaultKind::NeverAnswer << 1 + 1 + 20 + 1 + 1 << 10
        << int(UpdateResult::StillInBootMode) << -1
        << QStringList { "2 Panel/board found!  Firmware version: 13", "4 Panel/board is in Boot mode!", "0 ",
               "4 *** Warning: Panel/board is still in Boot mode!  Please try the update again." };
    QTest::newRow("FPGA reports version 0")
        << kChannelFpga << false << 0 << FaultKind::VersionZeroAfterImage << 1 << -1 << int(UpdateResult::Failed) << -1
        << QStringList { "4 Panel/board failed to update!  Firmware version: 0", "0 ",
               "3 *** Error: Panel/board failed to update!  Please try the update again." };
    QTest::newRow("another version than the build's")
        << kChannelMaster << false << 16 << FaultKind::NeverAnswer << 0 << 0 << int(UpdateResult::Successful) << -1
        << QStringList { "4 Warning: Panel/board firmware version (16) differs from build version (13)" };
}

void tst_Updater::endings()
{
    QFETCH(int, position);
    QFETCH(bool, inBootLoader);
    QFETCH(int, newVersion);
    QFETCH(FaultKind, fault);
    QFETCH(int, startAt);
    QFETCH(int, count);
    QFETCH(int, result);
    QFETCH(int, requests);
    QFETCH(QStringList, lastLines);
    Rig rig(Console6170, [&](devsim::DeviceConfig &c) {
        if (inBootLoader)
            c.boards[std::size_t(position)].state = BoardState::BootLoader;
        if (newVersion)
            c.boards[std::size_t(position)].newVersion = std::uint8_t(newVersion);
    });
    VERIFY_RIG(rig);
    const QByteArray path = position == kChannelFpga
        ? rig.write(QStringLiteral("f.bin"), patternBytes(300, 1))
        : rig.write(QStringLiteral("a.hex"), edgeImage(kFlashEnd2048, nullptr));
    if (startAt)
        rig.sim.addFault(0, { fault, position, startAt, count });
    QCOMPARE(int(rig.update(position, path)), result);
    if (requests >= 0)
        QCOMPARE(rig.board(position).requests, requests);
    const QStringList texts = rig.rec.lines;
    QCOMPARE(texts.mid(texts.size() - lastLines.size()), lastLines);
    VERIFY_NO_VIOLATION(rig);
}

void tst_Updater::restartWaitProbe()
{
    // The monitor interface carries the device's network: the device is gone while the board
    // restarts (2 s) and answers the probe at tick 3000 of 10500.
    Rig rig;
    VERIFY_RIG(rig);
    Image expected;
    const QByteArray path = rig.write(QStringLiteral("m.hex"), edgeImage(kFlashEnd2048, &expected));
    QCOMPARE(int(rig.update(kMonitorInterface, path)), int(UpdateResult::Successful));
    QCOMPARE(rig.board(kMonitorInterface).hexImage, expected);
    QCOMPARE(rig.rec.count("Panel/board will now enter Boot mode and reconnect to the network...  Please wait!"), 1);
    QCOMPARE(rig.rec.count("Panel/board will now exit Boot mode and reconnect to the network...  Please wait!"), 1);

    // Each wait: ticks 1..3000 (0..28 %), then the fill 29..99, then the next stage.
    QList<int> waiting;
    for (const QList<int> &c : rig.rec.progressCalls) {
        if (c.at(0) == 1 && c.at(2) == 0)
            waiting << c.at(1);
    }
    QCOMPARE(waiting.size(), 2 * (3000 + 71));
    for (int wait = 0; wait < 2; ++wait) {
        const QList<int> one = waiting.mid(wait * 3071, 3071);
        QCOMPARE(one.at(2999), 28);
        QCOMPARE(one.at(3000), 29);
        QCOMPARE(one.last(), 99);
    }
    VERIFY_NO_VIOLATION(rig);
}

void tst_Updater::aborts_data()
{
    QTest::addColumn<int>("position");
    QTest::addColumn<QString>("trigger"); // a list line, or "programming" for the programming bar at 30 %
    QTest::addColumn<int>("occurrence");
    QTest::addColumn<bool>("repeats"); // the first record is answered wrongly until the stop
    QTest::addColumn<int>("result");
    QTest::addColumn<int>("erases");
    QTest::addColumn<int>("leaves");

    QTest::newRow("restart wait before the boot-mode check")
        << kChannelMaster << "Panel/board will now enter Boot mode...  Please wait!" << 1 << false
        << int(UpdateResult::Failed) << 0 << 0;
    QTest::newRow("erase rounds") << kChannelMaster << "Erasing program memory...  Please wait!" << 1 << false
                                  << int(UpdateResult::ConnectionProblem) << 0 << 0;
    QTest::newRow("FPGA erase ticks") << kChannelFpga << "FPGA erase" << 1 << false << int(UpdateResult::Failed) << 1
                                      << 0;
    QTest::newRow("programming") << kChannelMaster << "programming" << 1 << false << int(UpdateResult::StillInBootMode)
                                 << 1 << 0;
    QTest::newRow("programming FPGA") << kChannelFpga << "programming" << 1 << false
                                      << int(UpdateResult::StillInBootMode) << 1 << 0;
    // A stop request during the repeats of one record ends them at once: the record stays
    // unacknowledged, the board in its boot loader without a leave request.
    QTest::newRow("repeats of a wrongly answered record")
        << kChannelMaster << "Incorrect response from panel/board!" << 1 << true << int(UpdateResult::Failed) << 1 << 0;
    QTest::newRow("restart wait after leaving")
        << kChannelMaster << "after leaving" << 1 << false << int(UpdateResult::StillInBootMode) << 1 << 1;
    QTest::newRow("verify rounds") << kChannelMaster << "Contacting panel/board..." << 2 << false
                                   << int(UpdateResult::StillInBootMode) << 1 << 1;
}

void tst_Updater::aborts()
{
    QFETCH(int, position);
    QFETCH(QString, trigger);
    QFETCH(int, occurrence);
    QFETCH(bool, repeats);
    QFETCH(int, result);
    QFETCH(int, erases);
    QFETCH(int, leaves);
    Rig rig;
    VERIFY_RIG(rig);
    const bool fpga = position == kChannelFpga;
    const QByteArray path = rig.write(fpga ? QStringLiteral("f.bin") : QStringLiteral("a.hex"),
        fpga ? patternBytes(49 * 20, 2) : edgeImage(kFlashEnd2048, nullptr));
    // Status, enter, boot-mode check, erase, then the first record.
    if (repeats)
        rig.sim.addFault(0, { FaultKind::WrongReplyCode, position, 5 });
    int seen = 0;
    rig.rec.onLine = [&](const QString &text) {
        if (text == trigger && ++seen == occurrence)
            rig.abort = true;
    };
    rig.rec.onProgress = [&](const QList<int> &c) {
        if (trigger == QLatin1String("programming") && c.at(2) == 1 && c.at(0) == 1 && c.at(1) >= 30)
            rig.abort = true;
        // The FPGA's erase ticks are the waiting bar shown after the erase was confirmed.
        // The leave request is seen by the board before the wait's first tick.
        if (trigger == QLatin1String("after leaving") && c.at(2) == 0 && c.at(1) >= 10
            && rig.board(position).leaveRequests == 1)
            rig.abort = true;
        if (trigger == QLatin1String("FPGA erase") && c.at(2) == 0 && rig.board(position).erases == 1 && c.at(1) >= 10)
            rig.abort = true;
    };
    QCOMPARE(int(rig.update(position, path)), result);
    QVERIFY(rig.abort);
    const devsim::BoardSnapshot b = rig.board(position);
    QCOMPARE(b.erases, erases);
    QCOMPARE(b.leaveRequests, leaves);
    if (trigger == QLatin1String("programming")) {
        QVERIFY(b.recordsAccepted > 0);
        QVERIFY(b.recordsAccepted < 20);
    }
    if (seen)
        QCOMPARE(rig.rec.count(trigger), occurrence); // nothing repeated after the stop
    QCOMPARE(rig.rec.progressCalls.last(), QList<int>({ 0, 0, 1, 0, 100 }));
    QCOMPARE(rig.rec.lines.at(rig.rec.lines.size() - 2), QStringLiteral("0 "));
    VERIFY_NO_VIOLATION(rig);
}

void tst_Updater::damagedFiles_data()
{
    QTest::addColumn<int>("position");
    QTest::addColumn<QByteArray>("content"); // "huge": a sparse file over 64 MiB; "none": no file
    QTest::addColumn<QString>("damage");     // the damaged-file line, empty when only missing

    const QByteArray good = edgeImage(kFlashEnd2048, nullptr);
    QList<QByteArray> lines = good.split('\n');
    const auto replaced = [&](int line, const QByteArray &text) {
        QList<QByteArray> l = lines;
        l[line - 1] = text + '\r';
        return l.join('\n');
    };
    QByteArray badSum = lines.at(5).chopped(1);
    badSum[badSum.size() - 1] = badSum.at(badSum.size() - 1) == '0' ? '1' : '0';

    QTest::newRow("checksum") << kChannelMaster << replaced(6, badSum)
                              << "*** Error: Firmware file is damaged (line 6: checksum mismatch)!";
    QTest::newRow("too large") << kChannelFpga << QByteArray("huge")
                               << "*** Error: Firmware file is damaged (file larger than 64 MiB)!";
    QTest::newRow("missing") << kChannelMaster << QByteArray("none") << QString();
    // Sound files that would leave the board in its boot loader with nothing, or half, to run.
    QTest::newRow("no record in the flash window")
        << kChannelMaster
        << joinLines({ extendedAddress(0x1FC0), hexRecord(0, 0, QByteArray(16, '\x01')), endOfFile() })
        << "*** Error: Firmware file cannot be written to this board (no data record inside its program flash "
           "0x1D000000-0x1D1FFFFF)!";
    QTest::newRow("overlapping records")
        << kChannelMaster
        << joinLines({ extendedAddress(0x1D00), hexRecord(0, 0, QByteArray(16, '\x01')),
               hexRecord(8, 0, QByteArray(16, '\x02')), endOfFile() })
        << "*** Error: Firmware file cannot be written to this board (line 3: record overlaps the one on line 2 at "
           "0x1D000008)!";
}

void tst_Updater::damagedFiles()
{
    QFETCH(int, position);
    QFETCH(QByteArray, content);
    QFETCH(QString, damage);
    Rig rig;
    VERIFY_RIG(rig);
    QByteArray path;
    if (content == "huge") {
        path = rig.write(QStringLiteral("huge.bin"), QByteArray());
        QFile f(QFile::decodeName(path));
        QVERIFY(f.resize(kMaxFirmwareFileSize + 1));
    } else if (content == "none") {
        path = QFile::encodeName(rig.folder() + QStringLiteral("none.hex"));
    } else {
        path = rig.write(QStringLiteral("file"), content);
    }
    QCOMPARE(int(rig.update(position, path)), int(UpdateResult::FileMissing));
    // A damaged file is named as damaged, not as missing; both end the same way, untouched.
    const QStringList expected = damage.isEmpty()
        ? QStringList { "0 ", "3 *** Error: Could not open/find the firmware file!",
              "2 *** Please make sure the file: '" + QFile::decodeName(path) + "' exists" }
        : QStringList { "0 ", "3 " + damage, "2 *** Please replace the file: '" + QFile::decodeName(path) + "'" };
    const QStringList texts = rig.rec.lines;
    QVERIFY2(texts.mid(3) == expected, qPrintable(texts.join('\n')));
    const devsim::DeviceSnapshot d = rig.sim.snapshot(0);
    QCOMPARE(d.connections, 0);
    QCOMPARE(d.requests, 0);
    VERIFY_NO_VIOLATION(rig);
}

void tst_Updater::cutAtEveryStep()
{
    // The device vanishes before the n-th request of the update: status (1), enter (2), the
    // first boot-mode check (3), erase (4), the 20 records (5..24), leave (25), the first
    // verify round (26). Each run ends with the result its stage gives, and a following update
    // with the device back brings the board to the new image.
    const auto expectedResult = [](int n) {
        if (n == 1)
            return int(UpdateResult::ConnectionProblem); // no answer to the first status query
        if (n == 4)
            return int(UpdateResult::ConnectionProblem); // erase not confirmed
        if (n <= 26)
            return int(UpdateResult::Failed); // enter not sent, no boot loader, record or leave not taken, no answer
                                              // after leaving
        return int(UpdateResult::Successful);
    };
    Image expected;
    const QByteArray image = edgeImage(kFlashEnd2048, &expected);
    for (int n = 1; n <= 27; ++n) {
        Rig rig;
        VERIFY_RIG(rig);
        const QByteArray path = rig.write(QStringLiteral("a.hex"), image);
        const int faultId = rig.sim.addFault(0, { FaultKind::Vanish, -1, n });
        const UpdateResult result = rig.update(kChannelMaster, path);
        QVERIFY2(int(result) == expectedResult(n),
            qPrintable(QStringLiteral("cut at %1: result %2").arg(n).arg(int(result))));
        QCOMPARE(rig.sim.snapshot(0).requests, std::min(n - 1, 26));

        rig.sim.removeFault(faultId);
        QTRY_VERIFY(rig.sim.snapshot(0).listening);
        rig.rec = Recorder();
        QVERIFY2(rig.update(kChannelMaster, path) == UpdateResult::Successful, qPrintable(rig.rec.lines.join('\n')));
        QCOMPARE(rig.board(kChannelMaster).hexImage, expected);
        QCOMPARE(rig.board(kChannelMaster).state, BoardState::Running);
        VERIFY_NO_VIOLATION(rig);
    }
}

QTEST_GUILESS_MAIN(tst_Updater)
#include "tst_updater.moc"
