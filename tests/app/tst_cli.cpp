// orvo-updater-cli as a program: every command run as a process against simulated devices on
// loopback, checked by its output lines, its exit status, its log file, its JSON report and
// what the simulated devices saw.

#include "catalogue.h"
#include "demofirmware.h"
#include "simulator.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <algorithm>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <QDir>

#include <csignal>
#include <fcntl.h>
#include <memory>

using namespace orvo;
using namespace orvo::devsim;

namespace {

// Device time runs this much faster in the program and in the simulator alike, so that
// restart waits of 30 s and 105 s take tens of milliseconds.
constexpr double kSpeedUp = 500.0;
constexpr int kProcessTimeoutMs = 120000;

const QString kDevice = QStringLiteral("127.0.0.2");
const QString kSecond = QStringLiteral("127.0.0.3");
const QString kSilent = QStringLiteral("127.0.0.9"); // nothing listens there

struct CliRun
{
    int exitCode = -1;
    QStringList lines; // stdout without the percentage lines
    QStringList all;   // stdout as printed
    QString err;

    bool has(const QString &line) const { return lines.contains(line); }
    /// A board's result line ends in the time its job took, which depends on the machine's speed.
    bool hasStart(const QString &start) const
    {
        return std::any_of(lines.begin(), lines.end(), [&start](const QString &l) { return l.startsWith(start); });
    }
    int indexOf(const QString &line) const { return lines.indexOf(line); }
};

// The simulator's sockets are not opened close-on-exec; a program started from this process
// would inherit its listening socket and keep the port taken (and accept connections into a
// backlog nobody reads) while a simulated device restarts its network.
void keepDescriptorsFromChildren()
{
    const QStringList fds = QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System);
    for (const QString &entry : fds) {
        bool ok = false;
        const int fd = entry.toInt(&ok);
        if (!ok || fd <= 2)
            continue;
        const int flags = ::fcntl(fd, F_GETFD);
        if (flags >= 0)
            ::fcntl(fd, F_SETFD, flags | FD_CLOEXEC);
    }
}

CliRun finish(QProcess &p)
{
    CliRun run;
    if (!p.waitForFinished(kProcessTimeoutMs)) {
        p.kill();
        p.waitForFinished();
    }
    run.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    run.all = QString::fromLocal8Bit(p.readAllStandardOutput()).split(QLatin1Char('\n'));
    for (const QString &l : qAsConst(run.all)) {
        if (!l.startsWith(QLatin1String("progress: ")) && !l.startsWith(QLatin1String("overall progress: ")))
            run.lines << l;
    }
    run.err = QString::fromLocal8Bit(p.readAllStandardError());
    return run;
}

DeviceConfig outdated(DeviceConfig device, int position)
{
    BoardConfig &b = device.boards[static_cast<std::size_t>(position)];
    b.version = static_cast<std::uint8_t>(b.version - 1);
    return device;
}

QJsonObject readJson(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QJsonObject();
    return QJsonDocument::fromJson(file.readAll()).object();
}

QJsonObject boardAt(const QJsonObject &report, int position)
{
    for (const QJsonValue v : report.value(QStringLiteral("boards")).toArray()) {
        if (v.toObject().value(QStringLiteral("position")).toInt() == position)
            return v.toObject();
    }
    return QJsonObject();
}

const QVariant kNull = QStringLiteral("<null>");

// Empty when each "path" of the report holds its value ("board:N" picks the board at position N,
// kNull stands for a JSON null); else the first that does not.
QString jsonMismatch(const QJsonObject &report, const QVariantMap &expected)
{
    for (auto it = expected.begin(); it != expected.end(); ++it) {
        QJsonValue v = report;
        for (const QString &key : it.key().split(QLatin1Char('/'))) {
            v = key.startsWith(QLatin1String("board:")) ? QJsonValue(boardAt(v.toObject(), key.mid(6).toInt()))
                                                         : v.toObject().value(key);
        }
        const bool null = it.value().userType() == QMetaType::QString && it.value().toString() == kNull.toString();
        const bool same = null ? v.isNull() : v.toVariant() == it.value();
        if (!same)
            return it.key() + QStringLiteral(": ") + QString::fromUtf8(QJsonDocument(QJsonArray { v }).toJson());
    }
    return QString();
}

#define CHECK_JSON(path, ...)                                                                                        \
    do {                                                                                                             \
        const QString jsonBad = jsonMismatch(readJson(path), QVariantMap(__VA_ARGS__));                               \
        QVERIFY2(jsonBad.isEmpty(), qPrintable(jsonBad));                                                            \
    } while (false)

} // namespace

Q_DECLARE_METATYPE(orvo::devsim::DeviceConfig)

class tst_Cli : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void badArguments_data();
    void badArguments();
    void help();
    void panels();
    void scanManualAddresses();
    void noDeviceAnswers();
    void autoUpdateRefused_data();
    void autoUpdateRefused();
    void autoUpdate();
    void autoUpdateFails();
    void updateOneBoard();
    void updateFails();
    void command_data();
    void command();
    void interruptDuringRestartWait();

private:
    /// Starts a simulator with `devices`; the program then reaches them on its port.
    void startSimulator(const QList<DeviceConfig> &devices);
    QStringList common() const;
    CliRun cli(const QStringList &arguments, bool withCommon = true);

    QTemporaryDir m_dir;
    QString m_firmware;
    std::unique_ptr<Simulator> m_sim;
};

void tst_Cli::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_firmware = m_dir.filePath(QStringLiteral("HexFiles"));
    QString error;
    // Small images keep the downloads short; the records still cross every stage.
    QVERIFY2(cli::writeDemoFirmware(m_firmware, &error, 8, 3) > 0, qPrintable(error));
}

void tst_Cli::startSimulator(const QList<DeviceConfig> &devices)
{
    m_sim.reset(); // the previous test's devices go first, so their addresses are free again
    m_sim = std::make_unique<Simulator>(kSpeedUp);
    for (const DeviceConfig &d : devices)
        m_sim->addDevice(d);
    QString error;
    QVERIFY2(m_sim->start(0, &error), qPrintable(error));
}

QStringList tst_Cli::common() const
{
    return { QStringLiteral("--port"), QString::number(m_sim ? m_sim->port() : 1),
             QStringLiteral("--speed-up"), QString::number(kSpeedUp),
             QStringLiteral("--firmware"), m_firmware };
}

CliRun tst_Cli::cli(const QStringList &arguments, bool withCommon)
{
    QProcess p;
    p.setProgram(QStringLiteral(ORVO_CLI_PATH));
    p.setArguments(withCommon ? arguments + common() : arguments);
    p.setStandardInputFile(QProcess::nullDevice());
    keepDescriptorsFromChildren();
    p.start();
    if (!p.waitForStarted())
        return CliRun();
    return finish(p);
}

void tst_Cli::badArguments_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("message");
    QTest::newRow("no command") << QStringList() << "no command given";
    QTest::newRow("unknown command") << QStringList { "upgrade", "127.0.0.2" } << "unknown command 'upgrade'";
    QTest::newRow("unknown option") << QStringList { "versions", "127.0.0.2", "--fast" } << "unknown option '--fast'";
    QTest::newRow("missing panel") << QStringList { "check", "127.0.0.2" } << "'check' needs check DEVICE PANEL";
    QTest::newRow("extra argument") << QStringList { "identify", "127.0.0.2", "now" } << "unexpected argument 'now'";
    QTest::newRow("not an address") << QStringList { "versions", "console-a" }
                                    << "DEVICE must be the IPv4 address of a device, not 'console-a'";
    QTest::newRow("field above 255") << QStringList { "scan", "--ip", "192.168.1.256" }
                                     << "--ip needs the IPv4 address of a device, not '192.168.1.256'";
    QTest::newRow("unused-entry marker") << QStringList { "scan", "--ip", "0.0.0.0" }
                                         << "--ip needs the IPv4 address of a device, not '0.0.0.0'";
    QTest::newRow("five addresses") << QStringList { "scan", "--ip", "10.0.0.1", "--ip", "10.0.0.2", "--ip", "10.0.0.3",
                                                     "--ip", "10.0.0.4", "--ip", "10.0.0.5" }
                                    << "at most 4 addresses can be scanned with --ip";
    QTest::newRow("yes and no") << QStringList { "auto-update", "127.0.0.2", "--yes", "--no" }
                                << "--yes and --no exclude each other";
    QTest::newRow("option of another command") << QStringList { "update", "127.0.0.2", "0", "--force" }
                                               << "option --force belongs to the command 'auto-update'";
    QTest::newRow("port 0") << QStringList { "versions", "127.0.0.2", "--port", "0" }
                            << "--port needs a number from 1 to 65535, not '0'";
    QTest::newRow("missing value") << QStringList { "versions", "127.0.0.2", "--log" } << "option --log needs a value";
    QTest::newRow("name of 22 characters") << QStringList { "rename", "127.0.0.2", "ABCDEFGHIJKLMNOPQRSTUV" }
                                           << "Name cannot be more than 21 characters";
    QTest::newRow("ambiguous type") << QStringList { "panels", "lumivox" } << "unknown or ambiguous device type 'lumivox'";
    QTest::newRow("firmware folder missing")
        << QStringList { "versions", "127.0.0.2", "--firmware", "/nonexistent/HexFiles" }
        << "--firmware: '/nonexistent/HexFiles' is not a folder";
}

void tst_Cli::badArguments()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);
    const CliRun run = cli(arguments, false);
    QCOMPARE(run.exitCode, 2);
    QVERIFY2(run.err.contains(QStringLiteral("orvo-updater-cli: ") + message), qPrintable(run.err));
    QVERIFY(run.all.join(QString()).isEmpty()); // nothing was done
}

void tst_Cli::help()
{
    CliRun run = cli({ "--help" }, false);
    QCOMPARE(run.exitCode, 0);
    const QString text = run.all.join(QLatin1Char('\n'));
    for (const char *c : { "scan [--ip ADDR]...", "auto-update DEVICE [--yes|--no] [--force]", "reset DEVICE PANEL [--check]",
                           "panels TYPE", "3  no device answered", "4  the update failed on N boards", "5  cancelled" })
        QVERIFY2(text.contains(QLatin1String(c)), c);

    run = cli({ "auto-update", "--help" }, false);
    QCOMPARE(run.exitCode, 0);
    QVERIFY(run.lines.first().startsWith(QLatin1String("Usage: orvo-updater-cli [options] auto-update DEVICE")));
    QVERIFY(run.all.join(QLatin1Char('\n')).contains(QLatin1String("--force")));
}

void tst_Cli::panels()
{
    CliRun run = cli({ "panels", "QRT" }, false);
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.lines.at(0), QStringLiteral("3350 QRT: 5 positions"));
    QVERIFY(run.lines.at(4).contains(QRegularExpression(
        QStringLiteral("^  2  Digital Board FPGA +1 +0 +3 +0 +10  3350QRT/3350QRTDigitalFPGA.bin$"))));
    QCOMPARE(run.lines.size(), 2 + 5 + 1); // heading, table head, five rows, the final newline

    run = cli({ "panels", "0" }, false);
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.lines.at(0), QStringLiteral("6170 Console: 24 positions"));
    QCOMPARE(cli({ "panels", "kvr10" }, false).lines.at(0), QStringLiteral("Lumivox KVR10: 1 position"));
}

void tst_Cli::scanManualAddresses()
{
    startSimulator({ defaultDevice(Console6170, kDevice), defaultDevice(LumivoxKvr10, kSecond) });
    const QString json = m_dir.filePath(QStringLiteral("scan.json"));
    const CliRun run = cli({ "scan", "--ip", kDevice, "--ip", kSilent, "--ip", "127.000.000.003", "--json", json, "--progress" });
    QCOMPARE(run.exitCode, 0);
    for (const char *line : { "[..] Manual IP Scan Enabled.", "[..] Scanning IP address: 127.0.0.9 ...",
                              "[..] Orvo Products Found: 2",
                              "[..] #1:  Type: 6170 Console  |  6170 Console  |  IP: 127.0.0.2",
                              "[..] #2:  Type: Lumivox KVR10  |  Lumivox KVR10  |  IP: 127.0.0.3" })
        QVERIFY2(run.has(QLatin1String(line)), line);
    // Not a terminal, with --progress: percentage lines, each value once.
    QCOMPARE(run.all.filter(QStringLiteral("progress: 25%")).size(), 1);
    CHECK_JSON(json, { { "exitStatus", 0 } });
    const QJsonArray devices = readJson(json).value(QStringLiteral("devices")).toArray();
    QCOMPARE(devices.size(), 2);
    QCOMPARE(devices.at(1).toObject().value(QStringLiteral("typeName")).toString(), QStringLiteral("Lumivox KVR10"));
    QCOMPARE(devices.at(0).toObject().value(QStringLiteral("ip")).toString(), kDevice);
}

void tst_Cli::noDeviceAnswers()
{
    startSimulator({ defaultDevice(Console6170, kDevice) });
    const QString json = m_dir.filePath(QStringLiteral("none.json"));
    CliRun run = cli({ "versions", kSilent, "--json", json });
    QCOMPARE(run.exitCode, 3);
    QVERIFY(run.has(QStringLiteral("[..] Orvo Products Found: 0")));
    QVERIFY(run.has(QStringLiteral("-- No device answered at 127.0.0.9 (port %1)").arg(m_sim->port())));
    QVERIFY(!run.lines.join(QString()).contains(QLatin1String("FIRMWARE")));
    CHECK_JSON(json, { { "outcome", "no device answered" }, { "device", kNull } });

    run = cli({ "scan", "--ip", kSilent });
    QCOMPARE(run.exitCode, 3);
}

void tst_Cli::autoUpdateRefused_data()
{
    QTest::addColumn<QStringList>("answer");
    QTest::addColumn<QString>("answerLine");
    QTest::newRow("--no") << QStringList { QStringLiteral("--no") } << "    answered No (--no)";
    QTest::newRow("no terminal")
        << QStringList() << "    answered No: no terminal to ask, and neither --yes nor --no was given";
}

void tst_Cli::autoUpdateRefused()
{
    QFETCH(QStringList, answer);
    QFETCH(QString, answerLine);
    startSimulator({ outdated(defaultDevice(LumivoxKvr30, kDevice), 0) });
    const QString json = m_dir.filePath(QStringLiteral("refused.json"));
    const CliRun run = cli(QStringList { "auto-update", kDevice, "--json", json } + answer);
    QCOMPARE(run.exitCode, 5);
    CHECK_JSON(json, { { "jobEnd", "cancelled" }, { "exitStatus", 5 } });
    const int question = run.indexOf(QStringLiteral(
        "[?] Auto Update: The Console/Unit has 1 panels/boards that need updating."));
    QVERIFY(question > 0);
    QCOMPARE(run.lines.at(question + 1), QStringLiteral("    Do you wish to continue ?"));
    QCOMPARE(run.lines.at(question + 2), answerLine);
    QCOMPARE(run.lines.at(question + 4), QStringLiteral("[..] *** FIRMWARE UPDATE CANCELLED ***"));
    QCOMPARE(m_sim->snapshot(0).boards[0].enterRequests, 0);
}

void tst_Cli::autoUpdate()
{
    DeviceConfig console = outdated(defaultDevice(Console6170, kDevice), 16);
    console.boards[7].version = 0; // an FPGA board that lost its image
    startSimulator({ console });
    const QString json = m_dir.filePath(QStringLiteral("auto.json"));
    const QString log = m_dir.filePath(QStringLiteral("auto.log"));
    QFile::remove(log);
    const CliRun run = cli({ "auto-update", kDevice, "--yes", "--json", json, "--log", log });
    QCOMPARE(run.exitCode, 0);
    const int build = 5; // of the meter boards
    QVERIFY(run.has(QStringLiteral("    answered Yes (--yes)")));
    QVERIFY(run.has(QStringLiteral("[..] Updating: Channel Master FPGA 1-8   Version: 0  (13)")));
    QVERIFY(run.has(QStringLiteral("[..] Updating: Channel Meter 1-8   Version: 4  (5)")));
    QCOMPARE(run.lines.filter(QRegularExpression(QStringLiteral("^\\[ok\\] Update Successful!    "))).size(), 2);
    QCOMPARE(run.lines.filter(QRegularExpression(QStringLiteral("^\\[..\\] \\*\\*\\* FIRMWARE UPDATE FINISHED \\*\\*\\*"))).size(), 1);
    QVERIFY(run.has(QStringLiteral("[i] Auto Update: Auto Update has finished!")));
    QCOMPARE(m_sim->snapshot(0).boards[16].version, build);

    CHECK_JSON(json, { { "outcome", "ok" }, { "failedBoards", 0 }, { "device/typeName", "6170 Console" },
                       { "board:16/versionBefore", build - 1 }, { "board:16/versionAfter", build },
                       { "board:16/result", 1 }, { "board:16/resultText", "Update Successful!" },
                       { "board:16/attempts", 1 }, { "board:16/address/panel", 1 },
                       { "board:0/upToDate", true }, { "board:0/result", kNull } });
    const QJsonObject report = readJson(json);
    QVERIFY(boardAt(report, 16).value(QStringLiteral("durationMs")).toDouble() > 0);

    // The log holds every activity line, in the window's format, and no message box.
    QFile file(log);
    QVERIFY(file.open(QIODevice::ReadOnly | QIODevice::Text));
    const QStringList logLines = QString::fromLocal8Bit(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    const QJsonArray lines = report.value(QStringLiteral("lines")).toArray();
    QCOMPARE(logLines.size(), lines.size());
    const QRegularExpression stamp(QStringLiteral("^\\d\\d/\\d\\d/\\d{4}  \\d\\d:\\d\\d:\\d\\d\\.\\d{3}   "));
    for (int i = 0; i < logLines.size(); ++i) {
        QVERIFY2(stamp.match(logLines.at(i)).hasMatch(), qPrintable(logLines.at(i)));
        QCOMPARE(logLines.at(i).mid(27), lines.at(i).toObject().value(QStringLiteral("text")).toString());
    }
}

void tst_Cli::autoUpdateFails()
{
    startSimulator({ outdated(defaultDevice(Qrt3350, kDevice), 0) });
    m_sim->addFault(0, { FaultKind::StayInBootLoader, 0, 1, -1, 0 });
    const QString json = m_dir.filePath(QStringLiteral("fails.json"));
    const CliRun run = cli({ "auto-update", kDevice, "--yes", "--json", json });
    QCOMPARE(run.exitCode, 4);
    QVERIFY(run.has(QStringLiteral("[!!] WARNING!  Firmware update FAILED on 1 panels/boards!")));
    QVERIFY(run.has(QStringLiteral("[!!] Auto Update: WARNING!  Firmware update FAILED on 1 panels/boards!")));
    QVERIFY(run.has(QStringLiteral("-- Update failed on 1 boards")));
    QVERIFY(run.all.filter(QStringLiteral("progress: ")).isEmpty()); // no terminal and no --progress
    CHECK_JSON(json, { { "failedBoards", 1 }, { "board:0/attempts", 2 }, { "board:0/result", int(UpdateStillInBootMode) },
                       { "board:0/bootModeAfter", true } });
}

void tst_Cli::updateOneBoard()
{
    startSimulator({ outdated(defaultDevice(Console6170, kDevice), 17) });
    const QString json = m_dir.filePath(QStringLiteral("update.json"));
    const CliRun run = cli({ "update", kDevice, "channel meter 9-16", "--json", json, "--progress" });
    QCOMPARE(run.exitCode, 0);
    const int build = 5;
    QVERIFY(run.has(QStringLiteral("[..] Updating firmware on Channel Meter 9-16...")));
    QVERIFY(run.has(QStringLiteral("[..] Firmware file: MetersPIC.hex (5)")));
    QCOMPARE(run.lines.filter(QRegularExpression(
        QStringLiteral("^\\[ok updated\\] Channel Meter 9-16:  Update Successful! "))).size(), 1);
    QCOMPARE(m_sim->snapshot(0).boards[17].version, build);
    // The written board's download: every record the board accepted, and its rate.
    CHECK_JSON(json, { { "board:17/versionBefore", build - 1 }, { "board:17/bootModeBefore", false },
                       { "board:17/versionAfter", build }, { "board:17/bootModeAfter", false }, { "board:17/attempts", 1 },
                       { "board:17/records", m_sim->snapshot(0).boards[17].recordsAccepted } });
    QVERIFY(boardAt(readJson(json), 17).value(QStringLiteral("recordsPerSecond")).toDouble() > 0);

    // Without a terminal a bar is written once per tenth of the way, and again when a new wait or
    // download starts: the device look-up, two restart waits and a download, not hundreds of lines.
    const QStringList progress = run.all.filter(QRegularExpression(QStringLiteral("^progress: \\d+%$")));
    QVERIFY2(progress.size() >= 3 && progress.size() <= 4 + 3 * 11, qPrintable(progress.join(QLatin1Char(' '))));
    int last = -1;
    for (const QString &l : progress) {
        const int value = l.mid(10).chopped(1).toInt();
        QVERIFY2(last < 0 || value < last || value / 10 != last / 10, qPrintable(l));
        last = value;
    }
}

void tst_Cli::updateFails()
{
    startSimulator({ defaultDevice(Console6170, kDevice) });
    // Without its file the update ends before it touches the board.
    QTemporaryDir empty;
    const CliRun run = cli(QStringList { "update", kDevice, "3" } + common().mid(0, 4)
                               + QStringList { "--firmware", empty.path() },
                           false);
    QCOMPARE(run.exitCode, 4);
    QVERIFY(run.has(QStringLiteral("[!!] *** Error: Could not open/find the firmware file!")));
    QVERIFY(run.hasStart(QStringLiteral("[!! no file] Monitor 3350 AudioBoard:  Update firmware file missing! ")));
    QVERIFY(run.has(QStringLiteral("-- Update failed on 1 board")));
    QCOMPARE(m_sim->snapshot(0).boards[3].enterRequests, 0);
}

void tst_Cli::command_data()
{
    QTest::addColumn<DeviceConfig>("device");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("lines");  // printed in this order, maybe with others between
    QTest::addColumn<QVariantMap>("report"); // fields of the JSON report (none: no --json)
    QTest::addColumn<QVariantMap>("after");  // fields of the simulated device's state after the run

    // The TX512 offers only position 0, so position 1 and a console board are refused.
    QTest::newRow("check, no panel of the device")
        << defaultDevice(LumivoxTx512, kDevice) << QStringList { "check", kDevice, "Monitor Master" } << 2
        << QStringList { "-- 'Monitor Master' is no panel of a Lumivox TX512; `orvo-updater-cli panels 3` lists them" }
        << QVariantMap() << QVariantMap { { "board:0/statusQueries", 0 } };
    const int qrtVersion = 12;
    QTest::newRow("versions") << outdated(defaultDevice(Qrt3350, kDevice), 0) << QStringList { "versions", kDevice } << 0
                              << QStringList { "[..] *** FIRMWARE VERSION SCAN ***",
                                               "[w!] Firmware update required: Interface Processor   Version: 12  (13)",
                                               "[..] *** FIRMWARE VERSION SCAN FINISHED ***" }
                              << QVariantMap { { "board:0/name", "Interface Processor" },
                                               { "board:0/versionBefore", qrtVersion },
                                               { "board:0/upToDate", false }, { "board:0/result", kNull } }
                              << QVariantMap { { "board:0/enterRequests", 0 } };
    DeviceConfig console = defaultDevice(Console6170, kDevice);
    QTest::newRow("check, found") << console << QStringList { "check", kDevice, "11" } << 0
                                  << QStringList { "[..] Contacting Channel AudioBoard 5-8...",
                                                   "[..] Channel AudioBoard 5-8 Found!  Firmware version: 10  (10)",
                                                   "[..] Processor: PIC32MZ2048EFG144" }
                                  << QVariantMap() << QVariantMap { { "board:11/statusQueries", 1 } };
    // The Monitor Master carries the network: the wait ends when the device answers a probe.
    QTest::newRow("reset, then check")
        << console << QStringList { "reset", kDevice, "Monitor Master", "--check" } << 0
        << QStringList { "[..] Resetting Monitor Master...", "[..] Contacting Monitor Master..." }
        << QVariantMap { { "board:1/resetSent", true }, { "board:1/restartWait", "device answered" },
                         { "board:1/versionAfter", 13 } }
        << QVariantMap { { "board:1/resets", 1 } };
    console.boards[11].fitted = false;
    QTest::newRow("check, not fitted") << console << QStringList { "check", kDevice, "11" } << 1
                                       << QStringList { "[..] Contacting Channel AudioBoard 5-8...",
                                                        "[w!] Warning!  Failed to Connect to Channel AudioBoard 5-8" }
                                       << QVariantMap() << QVariantMap();
    const QString name = QStringLiteral("Stage Left Rack 21 ch"); // exactly 21 characters
    QTest::newRow("rename") << defaultDevice(LumivoxKvr10, kDevice) << QStringList { "rename", kDevice, name } << 0
                            << QStringList { QStringLiteral("-- Renamed the device at 127.0.0.2 to \"%1\"").arg(name) }
                            << QVariantMap { { "device/name", "Lumivox KVR10" }, { "deviceAfter/name", name } }
                            << QVariantMap { { "name", name } };
    // The request gets no reply: the device may read it after the program has ended.
    QTest::newRow("identify") << defaultDevice(LumivoxKvr10, kDevice) << QStringList { "identify", kDevice } << 0
                              << QStringList { "-- Identify request sent to 127.0.0.2 (the device does not acknowledge it)" }
                              << QVariantMap() << QVariantMap { { "identifies", 1 } };
}

void tst_Cli::command()
{
    QFETCH(DeviceConfig, device);
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QStringList, lines);
    QFETCH(QVariantMap, report);
    QFETCH(QVariantMap, after);
    startSimulator({ device });
    const QString json = m_dir.filePath(QStringLiteral("%1.json").arg(QTest::currentDataTag()));
    const CliRun run = cli(arguments + (report.isEmpty() ? QStringList() : QStringList { "--json", json }));
    QVERIFY2(run.exitCode == exitCode, qPrintable(run.lines.join(QLatin1Char('\n'))));
    int at = 0;
    for (const QString &line : lines) {
        at = run.lines.indexOf(line, at) + 1;
        QVERIFY2(at > 0, qPrintable(line + QStringLiteral("\n\n") + run.lines.join(QLatin1Char('\n'))));
    }
    if (!report.isEmpty())
        CHECK_JSON(json, report);
    const auto deviceState = [this] { return m_sim->stateJson().value(QStringLiteral("devices")).toArray().at(0).toObject(); };
    QTRY_VERIFY2(jsonMismatch(deviceState(), after).isEmpty(), qPrintable(jsonMismatch(deviceState(), after)));
}

void tst_Cli::interruptDuringRestartWait()
{
    startSimulator({ defaultDevice(Console6170, kDevice) });
    QProcess p;
    p.setProgram(QStringLiteral(ORVO_CLI_PATH));
    // Real time: the restart wait lasts 30 s, so Ctrl-C surely falls into it.
    p.setArguments({ QStringLiteral("update"), kDevice, QStringLiteral("Channel Meter 1-8"), QStringLiteral("--port"),
                     QString::number(m_sim->port()), QStringLiteral("--firmware"), m_firmware,
                     QStringLiteral("--progress") });
    p.setStandardInputFile(QProcess::nullDevice());
    keepDescriptorsFromChildren();
    p.start();
    QVERIFY(p.waitForStarted());

    // Read until the wait has begun: its first percentage line after the boot-mode line.
    QByteArray seen;
    bool waiting = false;
    while (!waiting && p.waitForReadyRead(kProcessTimeoutMs)) {
        seen += p.readAllStandardOutput();
        const int at = seen.indexOf("Panel/board will now enter Boot mode...  Please wait!\n");
        waiting = at >= 0 && seen.indexOf("progress: ", at) > at;
    }
    QVERIFY2(waiting, seen.constData());
    ::kill(static_cast<pid_t>(p.processId()), SIGINT);

    CliRun run = finish(p);
    run.lines = QString::fromLocal8Bit(seen).split(QLatin1Char('\n')) + run.lines;
    QCOMPARE(run.exitCode, 5);
    QVERIFY(run.has(QStringLiteral("-- Interrupted: the job stops at its next step and sends its closing lines (Ctrl-C "
                                   "again ends the program at once)")));
    // The update's closing lines: the outcome and the board's result line.
    QVERIFY(run.has(QStringLiteral("[!!] *** Error: Firmware update failed!")));
    QVERIFY(run.hasStart(QStringLiteral("[!! failed] Channel Meter 1-8:  Update FAILED! ")));
    QCOMPARE(m_sim->snapshot(0).boards[16].erases, 0);
}

QTEST_GUILESS_MAIN(tst_Cli)
#include "tst_cli.moc"
