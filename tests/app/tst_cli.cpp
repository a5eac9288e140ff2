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

QString statusText(int type, int position, int version, bool bootMode = false)
{
    return panelName(type, position) + QStringLiteral("   Version: ") + QString::number(version)
        + (bootMode ? QStringLiteral(" [BootMode]") : QString()) + QStringLiteral("  (")
        + QString::number(buildVersion(type, panelSlot(type, position).boardType)) + QStringLiteral(")");
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

} // namespace

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
    void unknownPanel();
    void versions();
    void autoUpdateRefused_data();
    void autoUpdateRefused();
    void autoUpdate();
    void autoUpdateFails();
    void updateOneBoard();
    void updateFails();
    void check_data();
    void check();
    void resetAndCheck();
    void renameAndIdentify();
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
    CliRun run = cli({ QStringLiteral("--help") }, false);
    QCOMPARE(run.exitCode, 0);
    const QString text = run.all.join(QLatin1Char('\n'));
    for (const char *c : { "scan [--ip ADDR]...", "versions DEVICE", "auto-update DEVICE [--yes|--no] [--force]",
                           "check DEVICE PANEL", "update DEVICE PANEL", "reset DEVICE PANEL [--check]",
                           "rename DEVICE NAME", "identify DEVICE", "panels TYPE", "3  no device answered",
                           "4  the update failed on N boards", "5  cancelled", "2  bad arguments" })
        QVERIFY2(text.contains(QLatin1String(c)), c);

    run = cli({ QStringLiteral("auto-update"), QStringLiteral("--help") }, false);
    QCOMPARE(run.exitCode, 0);
    QVERIFY(run.lines.first().startsWith(QLatin1String("Usage: orvo-updater-cli [options] auto-update DEVICE")));
    QVERIFY(run.all.join(QLatin1Char('\n')).contains(QLatin1String("--force")));
}

void tst_Cli::panels()
{
    CliRun run = cli({ QStringLiteral("panels"), QStringLiteral("QRT") }, false);
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.lines.at(0), QStringLiteral("3350 QRT: 5 positions"));
    QVERIFY(run.lines.at(4).contains(QRegularExpression(
        QStringLiteral("^  2  Digital Board FPGA +1 +0 +3 +0 +%1  3350QRT/3350QRTDigitalFPGA.bin$")
            .arg(buildVersion(Qrt3350, 3)))));
    QCOMPARE(run.lines.size(), 2 + 5 + 1); // heading, table head, five rows, the final newline

    run = cli({ QStringLiteral("panels"), QStringLiteral("0") }, false);
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.lines.at(0), QStringLiteral("6170 Console: 24 positions"));
}

void tst_Cli::scanManualAddresses()
{
    startSimulator({ defaultDevice(Console6170, kDevice), defaultDevice(LumivoxKvr10, kSecond) });
    const QString json = m_dir.filePath(QStringLiteral("scan.json"));
    const CliRun run = cli({ QStringLiteral("scan"), QStringLiteral("--ip"), kDevice, QStringLiteral("--ip"), kSilent,
                             QStringLiteral("--ip"), QStringLiteral("127.000.000.003"), QStringLiteral("--json"), json });
    QCOMPARE(run.exitCode, 0);
    QVERIFY(run.has(QStringLiteral("[..] Manual IP Scan Enabled.")));
    QVERIFY(run.has(QStringLiteral("[..] Scanning IP address: 127.0.0.9 ...")));
    QVERIFY(run.has(QStringLiteral("[..] Orvo Products Found: 2")));
    QVERIFY(run.has(QStringLiteral("[..] #1:  Type: 6170 Console  |  6170 Console  |  IP: 127.0.0.2")));
    QVERIFY(run.has(QStringLiteral("[..] #2:  Type: Lumivox KVR10  |  Lumivox KVR10  |  IP: 127.0.0.3")));
    // Not a terminal: percentage lines, each value once.
    QCOMPARE(run.all.filter(QStringLiteral("progress: 25%")).size(), 1);

    const QJsonObject report = readJson(json);
    QCOMPARE(report.value(QStringLiteral("exitStatus")).toInt(), 0);
    const QJsonArray devices = report.value(QStringLiteral("devices")).toArray();
    QCOMPARE(devices.size(), 2);
    QCOMPARE(devices.at(1).toObject().value(QStringLiteral("typeName")).toString(), QStringLiteral("Lumivox KVR10"));
    QCOMPARE(devices.at(0).toObject().value(QStringLiteral("ip")).toString(), kDevice);
}

void tst_Cli::noDeviceAnswers()
{
    startSimulator({ defaultDevice(Console6170, kDevice) });
    const QString json = m_dir.filePath(QStringLiteral("none.json"));
    CliRun run = cli({ QStringLiteral("versions"), kSilent, QStringLiteral("--json"), json });
    QCOMPARE(run.exitCode, 3);
    QVERIFY(run.has(QStringLiteral("[..] Orvo Products Found: 0")));
    QVERIFY(run.has(QStringLiteral("-- No device answered at 127.0.0.9 (port %1)").arg(m_sim->port())));
    QVERIFY(!run.lines.join(QString()).contains(QLatin1String("FIRMWARE")));
    const QJsonObject report = readJson(json);
    QCOMPARE(report.value(QStringLiteral("outcome")).toString(), QStringLiteral("no device answered"));
    QVERIFY(report.value(QStringLiteral("device")).isNull());

    run = cli({ QStringLiteral("scan"), QStringLiteral("--ip"), kSilent });
    QCOMPARE(run.exitCode, 3);
}

void tst_Cli::unknownPanel()
{
    startSimulator({ defaultDevice(LumivoxTx512, kDevice) });
    // The TX512 offers only position 0, so position 1 and a console board are refused.
    for (const QString &panel : { QStringLiteral("1"), QStringLiteral("Monitor Master") }) {
        const CliRun run = cli({ QStringLiteral("check"), kDevice, panel });
        QCOMPARE(run.exitCode, 2);
        QVERIFY(run.has(QStringLiteral("-- '%1' is no panel of a Lumivox TX512; `orvo-updater-cli panels 3` lists them")
                            .arg(panel)));
        QCOMPARE(m_sim->snapshot(0).boards[0].statusQueries, 0);
    }
}

void tst_Cli::versions()
{
    startSimulator({ outdated(defaultDevice(Qrt3350, kDevice), 0) });
    const QString json = m_dir.filePath(QStringLiteral("versions.json"));
    const CliRun run = cli({ QStringLiteral("versions"), kDevice, QStringLiteral("--json"), json });
    QCOMPARE(run.exitCode, 0);
    const int version = buildVersion(Qrt3350, 1) - 1;
    QVERIFY(run.has(QStringLiteral("[..] *** FIRMWARE VERSION SCAN ***")));
    QVERIFY(run.has(QStringLiteral("[w!] Firmware update required: ") + statusText(Qrt3350, 0, version)));
    QVERIFY(run.has(QStringLiteral("[..] *** FIRMWARE VERSION SCAN FINISHED ***")));

    const QJsonObject board = boardAt(readJson(json), 0);
    QCOMPARE(board.value(QStringLiteral("name")).toString(), QStringLiteral("Interface Processor"));
    QCOMPARE(board.value(QStringLiteral("versionBefore")).toInt(), version);
    QCOMPARE(board.value(QStringLiteral("upToDate")).toBool(), false);
    QVERIFY(board.value(QStringLiteral("result")).isNull());
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
    const CliRun run = cli(QStringList { QStringLiteral("auto-update"), kDevice } + answer);
    QCOMPARE(run.exitCode, 5);
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
    const CliRun run = cli({ QStringLiteral("auto-update"), kDevice, QStringLiteral("--yes"), QStringLiteral("--json"),
                             json, QStringLiteral("--log"), log });
    QCOMPARE(run.exitCode, 0);
    QVERIFY(run.has(QStringLiteral("    answered Yes (--yes)")));
    QVERIFY(run.has(QStringLiteral("[..] Updating: ") + statusText(Console6170, 7, 0)));
    QVERIFY(run.has(QStringLiteral("[..] Updating: ") + statusText(Console6170, 16, buildVersion(Console6170, 3) - 1)));
    const QStringList done = run.lines.filter(QRegularExpression(QStringLiteral("^\\[ok\\] Update Successful!    ")));
    QCOMPARE(done.size(), 2);
    QVERIFY(run.lines.filter(QRegularExpression(QStringLiteral("^\\[..\\] \\*\\*\\* FIRMWARE UPDATE FINISHED \\*\\*\\*")))
                .size() == 1);
    QVERIFY(run.has(QStringLiteral("[i] Auto Update: Auto Update has finished!")));
    QCOMPARE(m_sim->snapshot(0).boards[16].version, buildVersion(Console6170, 3));

    const QJsonObject report = readJson(json);
    QCOMPARE(report.value(QStringLiteral("outcome")).toString(), QStringLiteral("ok"));
    QCOMPARE(report.value(QStringLiteral("failedBoards")).toInt(), 0);
    QCOMPARE(report.value(QStringLiteral("device")).toObject().value(QStringLiteral("typeName")).toString(),
             QStringLiteral("6170 Console"));
    const QJsonObject meter = boardAt(report, 16);
    QCOMPARE(meter.value(QStringLiteral("versionBefore")).toInt(), buildVersion(Console6170, 3) - 1);
    QCOMPARE(meter.value(QStringLiteral("versionAfter")).toInt(), buildVersion(Console6170, 3));
    QCOMPARE(meter.value(QStringLiteral("result")).toInt(), 1);
    QCOMPARE(meter.value(QStringLiteral("resultText")).toString(), QStringLiteral("Update Successful!"));
    QCOMPARE(meter.value(QStringLiteral("attempts")).toInt(), 1);
    QVERIFY(meter.value(QStringLiteral("durationMs")).toDouble() > 0);
    QCOMPARE(meter.value(QStringLiteral("address")).toObject().value(QStringLiteral("panel")).toInt(), 1);
    QCOMPARE(boardAt(report, 0).value(QStringLiteral("upToDate")).toBool(), true);
    QVERIFY(boardAt(report, 0).value(QStringLiteral("result")).isNull());

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
    Fault fault;
    fault.kind = FaultKind::StayInBootLoader;
    fault.position = 0;
    m_sim->addFault(0, fault);
    const QString json = m_dir.filePath(QStringLiteral("fails.json"));
    const CliRun run = cli({ QStringLiteral("auto-update"), kDevice, QStringLiteral("--yes"), QStringLiteral("--json"), json });
    QCOMPARE(run.exitCode, 4);
    QVERIFY(run.has(QStringLiteral("[!!] WARNING!  Firmware update FAILED on 1 panels/boards!")));
    QVERIFY(run.has(QStringLiteral("[!!] Auto Update: WARNING!  Firmware update FAILED on 1 panels/boards!")));
    QVERIFY(run.has(QStringLiteral("-- Update failed on 1 boards")));
    const QJsonObject report = readJson(json);
    QCOMPARE(report.value(QStringLiteral("failedBoards")).toInt(), 1);
    const QJsonObject board = boardAt(report, 0);
    QCOMPARE(board.value(QStringLiteral("attempts")).toInt(), 2);
    QVERIFY(board.value(QStringLiteral("result")).toInt() != 1);
    QCOMPARE(board.value(QStringLiteral("bootModeAfter")).toBool(), true);
}

void tst_Cli::updateOneBoard()
{
    startSimulator({ outdated(defaultDevice(Console6170, kDevice), 17) });
    const QString json = m_dir.filePath(QStringLiteral("update.json"));
    const CliRun run = cli({ QStringLiteral("update"), kDevice, QStringLiteral("channel meter 9-16"),
                             QStringLiteral("--json"), json });
    QCOMPARE(run.exitCode, 0);
    const int build = buildVersion(Console6170, 3);
    QVERIFY(run.has(QStringLiteral("[..] Updating firmware on Channel Meter 9-16...")));
    QVERIFY(run.has(QStringLiteral("[..] Firmware file: MetersPIC.hex (%1)").arg(build)));
    QVERIFY(run.lines.filter(QRegularExpression(
        QStringLiteral("^\\[ok updated\\] Channel Meter 9-16:  Update Successful! "))).size() == 1);
    const QJsonObject board = boardAt(readJson(json), 17);
    QCOMPARE(board.value(QStringLiteral("versionBefore")).toInt(), build - 1);
    QCOMPARE(board.value(QStringLiteral("bootModeBefore")).toBool(), false);
    QCOMPARE(board.value(QStringLiteral("versionAfter")).toInt(), build);
    QCOMPARE(board.value(QStringLiteral("bootModeAfter")).toBool(), false);
    QCOMPARE(board.value(QStringLiteral("attempts")).toInt(), 1);
    QCOMPARE(m_sim->snapshot(0).boards[17].version, build);
    // The written board's download: every record the board accepted, and its rate.
    QCOMPARE(board.value(QStringLiteral("records")).toInt(), m_sim->snapshot(0).boards[17].recordsAccepted);
    QVERIFY(board.value(QStringLiteral("recordsPerSecond")).toDouble() > 0);

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
    const QStringList arguments = QStringList { QStringLiteral("update"), kDevice, QStringLiteral("3") }
        + common().mid(0, 4) + QStringList { QStringLiteral("--firmware"), empty.path() };
    const CliRun run = cli(arguments, false);
    QCOMPARE(run.exitCode, 4);
    QVERIFY(run.has(QStringLiteral("[!!] *** Error: Could not open/find the firmware file!")));
    QVERIFY(run.has(QStringLiteral("[!! no file] Monitor 3350 AudioBoard:  Update firmware file missing! ")));
    QVERIFY(run.has(QStringLiteral("-- Update failed on 1 board")));
    QCOMPARE(m_sim->snapshot(0).boards[3].enterRequests, 0);
}

void tst_Cli::check_data()
{
    QTest::addColumn<bool>("fitted");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("expected");
    const int build = buildVersion(Console6170, 2);
    QTest::newRow("found") << true << 0
                           << QStringList { "[..] Contacting Channel AudioBoard 5-8...",
                                            QStringLiteral("[..] Channel AudioBoard 5-8 Found!  Firmware version: %1  (%1)")
                                                .arg(build),
                                            "[..] Processor: PIC32MZ2048EFG144" };
    QTest::newRow("not fitted") << false << 1
                                << QStringList { "[..] Contacting Channel AudioBoard 5-8...",
                                                 "[w!] Warning!  Failed to Connect to Channel AudioBoard 5-8" };
}

void tst_Cli::check()
{
    QFETCH(bool, fitted);
    QFETCH(int, exitCode);
    QFETCH(QStringList, expected);
    DeviceConfig console = defaultDevice(Console6170, kDevice);
    console.boards[11].fitted = fitted;
    startSimulator({ console });
    const CliRun run = cli({ QStringLiteral("check"), kDevice, QStringLiteral("11") });
    QCOMPARE(run.exitCode, exitCode);
    const int first = run.indexOf(expected.first());
    QVERIFY(first > 0);
    QCOMPARE(run.lines.mid(first, expected.size()), expected);
}

void tst_Cli::resetAndCheck()
{
    startSimulator({ defaultDevice(Console6170, kDevice) });
    const QString json = m_dir.filePath(QStringLiteral("reset.json"));
    const CliRun run = cli({ QStringLiteral("reset"), kDevice, QStringLiteral("Monitor Master"),
                             QStringLiteral("--check"), QStringLiteral("--json"), json });
    QVERIFY2(run.exitCode == 0, qPrintable(run.lines.join(QLatin1Char('\n'))));
    const int reset = run.indexOf(QStringLiteral("[..] Resetting Monitor Master..."));
    QVERIFY(reset > 0);
    QVERIFY(run.indexOf(QStringLiteral("[..] Contacting Monitor Master...")) > reset);
    QCOMPARE(m_sim->snapshot(0).boards[1].resets, 1);
    const QJsonObject board = boardAt(readJson(json), 1);
    QCOMPARE(board.value(QStringLiteral("resetSent")).toBool(), true);
    // The Monitor Master carries the network: the wait ends when the device answers a probe.
    QCOMPARE(board.value(QStringLiteral("restartWait")).toString(), QStringLiteral("device answered"));
    QCOMPARE(board.value(QStringLiteral("versionAfter")).toInt(), buildVersion(Console6170, 6));
}

void tst_Cli::renameAndIdentify()
{
    startSimulator({ defaultDevice(LumivoxKvr10, kDevice) });
    const QString json = m_dir.filePath(QStringLiteral("rename.json"));
    const QString name = QStringLiteral("Stage Left Rack 21 ch"); // exactly 21 characters
    CliRun run = cli({ QStringLiteral("rename"), kDevice, name, QStringLiteral("--json"), json });
    QCOMPARE(run.exitCode, 0);
    QVERIFY(run.has(QStringLiteral("-- Renamed the device at 127.0.0.2 to \"%1\"").arg(name)));
    QCOMPARE(m_sim->snapshot(0).name, name.toLatin1());
    const QJsonObject report = readJson(json);
    QCOMPARE(report.value(QStringLiteral("device")).toObject().value(QStringLiteral("name")).toString(),
             QStringLiteral("Lumivox KVR10"));
    QCOMPARE(report.value(QStringLiteral("deviceAfter")).toObject().value(QStringLiteral("name")).toString(), name);

    run = cli({ QStringLiteral("identify"), kDevice });
    QCOMPARE(run.exitCode, 0);
    QVERIFY(run.has(QStringLiteral("-- Identify request sent to 127.0.0.2 (the device does not acknowledge it)")));
    QTRY_COMPARE(m_sim->snapshot(0).identifies, 1);
}

void tst_Cli::interruptDuringRestartWait()
{
    startSimulator({ defaultDevice(Console6170, kDevice) });
    QProcess p;
    p.setProgram(QStringLiteral(ORVO_CLI_PATH));
    // Real time: the restart wait lasts 30 s, so Ctrl-C surely falls into it.
    p.setArguments({ QStringLiteral("update"), kDevice, QStringLiteral("Channel Meter 1-8"), QStringLiteral("--port"),
                     QString::number(m_sim->port()), QStringLiteral("--firmware"), m_firmware });
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
    QVERIFY(run.has(QStringLiteral("[!! failed] Channel Meter 1-8:  Update FAILED! ")));
    QCOMPARE(m_sim->snapshot(0).boards[16].erases, 0);
}

QTEST_GUILESS_MAIN(tst_Cli)
#include "tst_cli.moc"
