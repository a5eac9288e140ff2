// orvo-updater-cli as a program: each command run once as a process against simulated devices on
// loopback, checked by what only the program adds to the jobs: its arguments, exit status, JSON
// report, log file and terminal output (devices' texts made harmless there). What the jobs do is
// the worker's tests' concern.

#include "catalogue.h"
#include "childfds.h"
#include "clirun.h"
#include "demofirmware.h"
#include "simulator.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTextCodec>
#include <QtTest>

#include <csignal>
#include <memory>

using namespace orvo;
using namespace orvo::devsim;

namespace {

// Device time runs this much faster in the program and in the simulator alike, so that
// restart waits of 30 s and 105 s take tens of milliseconds.
constexpr double kSpeedUp = 500.0;

const QString kDevice = QStringLiteral("127.0.0.2");
const QString kSecond = QStringLiteral("127.0.0.3");
const QString kSilent = QStringLiteral("127.0.0.9"); // nothing listens there

} // namespace

Q_DECLARE_METATYPE(QList<orvo::devsim::DeviceConfig>)

class tst_Cli : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void badArguments_data();
    void badArguments();
    void help();
    void command_data();
    void command();
    void updateWithLogFileAndProgressLines();
    void interruptDuringRestartWait();
    void history();

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
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("UTF-8")); // for the arguments
    QVERIFY(m_dir.isValid());
    // The programs' data folder, where the board history goes by default, is the test's own.
    qputenv("XDG_DATA_HOME", m_dir.filePath(QStringLiteral("data")).toUtf8());
    m_firmware = m_dir.filePath(QStringLiteral("HexFiles"));
    QString error;
    // Small images keep the downloads short; the records still cross every stage.
    QVERIFY2(demo::writeDemoFirmware(m_firmware, &error, 8, 3) > 0, qPrintable(error));
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
    return { QStringLiteral("--port"), QString::number(m_sim ? m_sim->port() : 1), QStringLiteral("--speed-up"),
        QString::number(kSpeedUp), QStringLiteral("--firmware"), m_firmware };
}

CliRun tst_Cli::cli(const QStringList &arguments, bool withCommon)
{
    QProcess p;
    start(p, withCommon ? arguments + common() : arguments);
    return p.waitForStarted() ? finish(p) : CliRun();
}

void tst_Cli::badArguments_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("message");
    QTest::newRow("no command") << QStringList() << "no command given";
    QTest::newRow("unknown command") << QStringList { "upgrade", "127.0.0.2" } << "unknown command 'upgrade'";
    QTest::newRow("unknown option") << QStringList { "versions", "127.0.0.2", "--fast" } << "unknown option '--fast'";
    QTest::newRow("missing panel") << QStringList { "check", "127.0.0.2" } << "'check' needs check DEVICE PANEL";
    QTest::newRow("not an address") << QStringList { "versions", "console-a" }
                                    << "DEVICE must be the IPv4 address of a device, not 'console-a'";
    QTest::newRow("field above 255") << QStringList { "scan", "--ip", "192.168.1.256" }
                                     << "--ip needs the IPv4 address of a device, not '192.168.1.256'";
    QTest::newRow("five addresses") << QStringList { "scan", "--ip", "10.0.0.1", "--ip", "10.0.0.2", "--ip", "10.0.0.3",
        "--ip", "10.0.0.4", "--ip", "10.0.0.5" }
                                    << "at most 4 addresses can be scanned with --ip";
    QTest::newRow("yes and no") << QStringList { "auto-update", "127.0.0.2", "--yes", "--no" }
                                << "--yes and --no exclude each other";
    QTest::newRow("option of another command") << QStringList { "update", "127.0.0.2", "0",
        "--force" } << "option --force belongs to the commands 'auto-update' and 'release install'";
    QTest::newRow("port 0") << QStringList { "versions", "127.0.0.2", "--port", "0" }
                            << "--port needs a number from 1 to 65535, not '0'";
    QTest::newRow("name of 22 characters")
        << QStringList { "rename", "127.0.0.2", "ABCDEFGHIJKLMNOPQRSTUV" } << "Name cannot be more than 21 characters";
    QTest::newRow("name outside Windows-1252") << QStringList { "rename", "127.0.0.2",
        "Studio Ω" } << "Name cannot contain \"Ω\" (U+03A9): devices keep names in Windows-1252";
    QTest::newRow("ambiguous type") << QStringList { "panels", "lumivox" }
                                    << "unknown or ambiguous device type 'lumivox'";
    QTest::newRow("parallel 17") << QStringList { "versions", "127.0.0.2", "127.0.0.3", "--parallel", "17" }
                                 << "--parallel needs a number from 1 to 16, not '17'";
    QTest::newRow("all with a device") << QStringList { "auto-update", "--all", "127.0.0.2" }
                                       << "--all takes the devices a scan finds: no DEVICE with it";
    QTest::newRow("all of another command") << QStringList { "check", "127.0.0.2", "0", "--all" }
                                            << "option --all belongs to the commands 'versions' and 'auto-update'";
    QTest::newRow("a device twice") << QStringList { "versions", "127.0.0.2", "127.0.0.02" }
                                    << "the device 127.0.0.2 is named twice";
    QTest::newRow("sweep sped up") << QStringList { "versions", "--all", "--speed-up", "10" }
                                   << "--speed-up is for the device simulator only: it shortens the boards' restart "
                                      "and erase waits, so it is honoured only when every address the command talks "
                                      "to is a loopback address (127.0.0.0/8), and --all without --ip sweeps the "
                                      "subnets of this computer; nothing was sent";
    QTest::newRow("firmware folder missing") << QStringList { "versions", "127.0.0.2", "--firmware",
        "/nonexistent/HexFiles" } << "--firmware: '/nonexistent/HexFiles' is not a folder";
}

void tst_Cli::badArguments()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);
    const CliRun run = cli(arguments, false);
    QCOMPARE(run.exitCode, 2);
    QVERIFY2(run.err.startsWith(QStringLiteral("orvo-updater-cli: ") + message + "\n"), qPrintable(run.err));
    QVERIFY(run.all.join(QString()).isEmpty()); // nothing was done
}

void tst_Cli::help()
{
    const CliRun run = cli({ "--help" }, false);
    QCOMPARE(run.exitCode, 0);
    for (const char *c :
        { "scan [--ip ADDR]...", "auto-update DEVICE... | --all [--ip ADDR]... [--yes|--no] [--force] [--parallel N]",
            "reset DEVICE PANEL [--check]", "panels TYPE", "3  no device answered", "4  the update failed on N boards",
            "5  cancelled" })
        QVERIFY2(run.all.join('\n').contains(QLatin1String(c)), c);
}

void tst_Cli::command_data()
{
    QTest::addColumn<QList<DeviceConfig>>("devices");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("lines");  // printed in this order, maybe with others between
    QTest::addColumn<QVariantMap>("report"); // fields of the JSON report
    QTest::addColumn<QVariantMap>("after");  // fields of the simulated device's state after the run

    const QList<DeviceConfig> console { defaultDevice(Console6170, kDevice) };
    const QList<DeviceConfig> kvr10 { defaultDevice(LumivoxKvr10, kDevice) };
    QTest::newRow("panels") << console << QStringList { "panels", "QRT" } << 0
                            << QStringList { "3350 QRT: 5 positions",
                                   "  2  Digital Board FPGA             1    0    3    0       10  "
                                   "3350QRT/3350QRTDigitalFPGA.bin" }
                            << QVariantMap() << QVariantMap();
    QTest::newRow("scan") << QList<DeviceConfig> { defaultDevice(Console6170, kDevice),
        defaultDevice(LumivoxKvr10, kSecond) }
                          << QStringList { "scan", "--ip", kDevice, "--ip", kSilent, "--ip", "127.000.000.003" } << 0
                          << QStringList { "[..] Manual IP Scan Enabled.", "[..] Scanning IP address: 127.0.0.9 ...",
                                 "[..] Orvo Products Found: 2",
                                 "[..] #1:  Type: 6170 Console  |  6170 Console  |  IP: 127.0.0.2",
                                 "[..] #2:  Type: Lumivox KVR10  |  Lumivox KVR10  |  IP: 127.0.0.3" }
                          << QVariantMap { { "exitStatus", 0 }, { "devices/1/typeName", "Lumivox KVR10" } }
                          << QVariantMap();
    QTest::newRow("versions, no device answers")
        << console << QStringList { "versions", kSilent } << 3
        << QStringList { "[..] Orvo Products Found: 0", "-- No device answered at 127.0.0.9 (port {port})" }
        << QVariantMap { { "outcome", "no device answered" }, { "device", "<null>" } } << QVariantMap();
    QTest::newRow("versions") << QList<DeviceConfig> { outdated(defaultDevice(Qrt3350, kDevice), 0) }
                              << QStringList { "versions", kDevice } << 0
                              << QStringList { "[..] *** FIRMWARE VERSION SCAN ***",
                                     "[w!] Firmware update required: Interface Processor   Version: 12  (13)",
                                     "[..] *** FIRMWARE VERSION SCAN FINISHED ***" }
                              << QVariantMap { { "board:0/name", "Interface Processor" },
                                     { "board:0/versionBefore", 12 }, { "board:0/upToDate", false },
                                     { "board:0/result", "<null>" } }
                              << QVariantMap { { "board:0/enterRequests", 0 } };
    const QList<DeviceConfig> kvr30 { outdated(defaultDevice(LumivoxKvr30, kDevice), 0) };
    QTest::newRow("auto-update --no")
        << kvr30 << QStringList { "auto-update", kDevice, "--no" } << 5
        << QStringList { "[?] Auto Update: The Console/Unit has 1 panels/boards that need updating.",
               "    Do you wish to continue ?", "    answered No (--no)", "[..] *** FIRMWARE UPDATE CANCELLED ***" }
        << QVariantMap { { "jobEnd", "cancelled" }, { "exitStatus", 5 } }
        << QVariantMap { { "board:0/enterRequests", 0 } };
    QTest::newRow("auto-update without a terminal")
        << kvr30 << QStringList { "auto-update", kDevice } << 5
        << QStringList { "    answered No: no terminal to ask, and neither --yes nor --no was given" }
        << QVariantMap { { "jobEnd", "cancelled" } } << QVariantMap();
    QTest::newRow("auto-update --yes")
        << QList<DeviceConfig> { outdated(defaultDevice(Console6170, kDevice), 16) }
        << QStringList { "auto-update", kDevice, "--yes" } << 0
        << QStringList { "    answered Yes (--yes)", "[..] Updating: Channel Meter 1-8   Version: 4  (5)",
               "[i] Auto Update: Auto Update has finished!" }
        << QVariantMap { { "outcome", "ok" }, { "failedBoards", 0 }, { "device/typeName", "6170 Console" },
               { "board:16/versionBefore", 4 }, { "board:16/versionAfter", 5 }, { "board:16/result", 1 },
               { "board:16/resultText", "Update Successful!" }, { "board:16/attempts", 1 },
               { "board:16/address/panel", 1 }, { "board:0/upToDate", true }, { "board:0/result", "<null>" },
               { "manifest/state", "present" }, { "board:16/file", "6170/MetersPIC.hex" },
               { "board:16/manifest", "matched" } }
        << QVariantMap { { "board:16/version", 5 } };
    // A board that does not answer is tried and counted as failed.
    DeviceConfig missing = defaultDevice(Console6170, kDevice);
    missing.boards[17].fitted = false;
    QTest::newRow("auto-update fails") << QList<DeviceConfig> { missing }
                                       << QStringList { "auto-update", kDevice, "--yes" } << 4
                                       << QStringList { "[!!] WARNING!  Firmware update FAILED on 1 panels/boards!",
                                              "[!!] Auto Update: WARNING!  Firmware update FAILED on 1 panels/boards!",
                                              "-- Update failed on 1 boards" }
                                       << QVariantMap { { "failedBoards", 1 },
                                              { "board:17/result", int(UpdateResult::ConnectionProblem) } }
                                       << QVariantMap();
    QTest::newRow("check, no panel of the device")
        << QList<DeviceConfig> { defaultDevice(LumivoxTx512, kDevice) }
        << QStringList { "check", kDevice, "Monitor Master" } << 2
        << QStringList { "-- 'Monitor Master' is no panel of a Lumivox TX512; `orvo-updater-cli panels 3` lists them" }
        << QVariantMap() << QVariantMap { { "board:0/statusQueries", 0 } };
    // The Monitor Master carries the network: the wait ends when the device answers a probe.
    QTest::newRow("reset, then check") << console << QStringList { "reset", kDevice, "Monitor Master", "--check" } << 0
                                       << QStringList { "[..] Resetting Monitor Master...",
                                              "[..] Contacting Monitor Master..." }
                                       << QVariantMap { { "board:1/resetSent", true },
                                              { "board:1/restartWait", "device answered" },
                                              { "board:1/versionAfter", 13 } }
                                       << QVariantMap { { "board:1/resets", 1 } };
    QTest::newRow("rename") << kvr10 << QStringList { "rename", kDevice, "Café Å" } << 0
                            << QStringList { "-- Renamed the device at 127.0.0.2 to \"Café Å\"" }
                            << QVariantMap { { "device/name", "Lumivox KVR10" }, { "deviceAfter/name", "Café Å" } }
                            << QVariantMap { { "renames", 1 } };
    // The request gets no reply: the device may read it after the program has ended.
    QTest::newRow("identify")
        << kvr10 << QStringList { "identify", kDevice } << 0
        << QStringList { "-- Identify request sent to 127.0.0.2 (the device does not acknowledge it)" } << QVariantMap()
        << QVariantMap { { "identifies", 1 } };
    // A device's name goes to the terminal with its control characters escaped; the report keeps it.
    DeviceConfig hostile = defaultDevice(Console6170, kDevice);
    hostile.name = QByteArray("\x1b]0;PWNED\x07\x1b[2J X\r\n#9: fake");
    QTest::newRow("name with control characters")
        << QList<DeviceConfig> { hostile } << QStringList { "scan", "--ip", kDevice } << 0
        << QStringList { "[..] #1:  Type: 6170 Console  |  \\x1B]0;PWNED\\x07\\x1B[2J X\\x0D\\x0A#9: fake  |  IP: "
                         "127.0.0.2" }
        << QVariantMap { { "devices/0/name", QString::fromLatin1(hostile.name) } } << QVariantMap();
    // The jobs take their address from the record: acting on it would reach a host never named.
    DeviceConfig liar = defaultDevice(LumivoxKvr10, kDevice);
    liar.recordAddress = kSecond;
    QTest::newRow("record for another address")
        << QList<DeviceConfig> { liar, defaultDevice(LumivoxKvr10, kSecond) } << QStringList { "update", kDevice, "0" }
        << 1
        << QStringList { "[w!] Warning!  The device at 127.0.0.2 sends a record for 127.0.0.3: its jobs go to "
                         "127.0.0.3",
               "[!!] *** Error: The device at 127.0.0.2 sends a record for 127.0.0.3: refused, nothing is "
               "sent to 127.0.0.3" }
        << QVariantMap { { "jobEnd", "refused" } } << QVariantMap { { "requests", 1 } };
}

void tst_Cli::command()
{
    QFETCH(QList<DeviceConfig>, devices);
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QStringList, lines);
    QFETCH(QVariantMap, report);
    QFETCH(QVariantMap, after);
    startSimulator(devices);
    const QString json = m_dir.filePath(QStringLiteral("report.json"));
    QFile::remove(json);
    const CliRun run = cli(arguments + QStringList { "--json", json });
    QVERIFY2(run.exitCode == exitCode, qPrintable(run.lines.join(QLatin1Char('\n')) + run.err));
    QVERIFY2(!run.all.join('\n').contains(QRegularExpression(QStringLiteral("[\\x00-\\x09\\x0b-\\x1f\\x7f-\\x9f]"))),
        "a control character reached the terminal");
    int at = 0;
    for (const QString &line : lines.replaceInStrings("{port}", QString::number(m_sim->port()))) {
        at = run.lines.indexOf(line, at) + 1;
        QVERIFY2(at > 0, qPrintable(line + QStringLiteral("\n\n") + run.lines.join(QLatin1Char('\n'))));
    }
    const QString bad = jsonMismatch(readJson(json), report);
    QVERIFY2(bad.isEmpty(), qPrintable(bad));
    const auto deviceState
        = [this] { return m_sim->stateJson().value(QStringLiteral("devices")).toArray().at(0).toObject(); };
    QTRY_VERIFY2(jsonMismatch(deviceState(), after).isEmpty(), qPrintable(jsonMismatch(deviceState(), after)));
}

void tst_Cli::updateWithLogFileAndProgressLines()
{
    startSimulator({ outdated(defaultDevice(Console6170, kDevice), 17) });
    // Without a release manifest the file is written as it is, and the report says so.
    QVERIFY(QFile::remove(m_firmware + QStringLiteral("/SHA256SUMS")));
    const QString json = m_dir.filePath(QStringLiteral("progress.json"));
    const QString log = m_dir.filePath(QStringLiteral("progress.log"));
    const CliRun run = cli({ "update", kDevice, "17", "--json", json, "--log", log, "--progress" });
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(
        run.lines
            .filter(QRegularExpression(QStringLiteral("^\\[ok updated\\] Channel Meter 9-16:  Update Successful! ")))
            .size(),
        1);
    QVERIFY(run.lines.contains("[..] Firmware file: MetersPIC.hex (5)"));
    const QString bad = jsonMismatch(readJson(json),
        { { "board:17/versionBefore", 4 }, { "board:17/bootModeBefore", false }, { "board:17/versionAfter", 5 },
            { "board:17/bootModeAfter", false }, { "board:17/attempts", 1 }, { "board:17/records", 8 },
            { "manifest", "absent" }, { "board:17/manifest", "absent" } });
    QVERIFY2(bad.isEmpty(), qPrintable(bad));
    QVERIFY(
        readJson(json).value(QStringLiteral("boards")).toArray().at(0)[QStringLiteral("recordsPerSecond")].toDouble()
        > 0);

    // The log holds every activity line, in the window's format, as the report lists them, but
    // the scan's running address line.
    QFile file(log);
    QVERIFY(file.open(QIODevice::ReadOnly | QIODevice::Text));
    const QStringList logLines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QStringList reported;
    for (const QJsonValue &line : readJson(json).value(QStringLiteral("lines")).toArray())
        reported << line.toObject().value(QStringLiteral("text")).toString();
    QCOMPARE(reported.removeAll(QStringLiteral("Scanning IP address: ") + kDevice + QStringLiteral(" ...")), 1);
    QCOMPARE(logLines.size(), reported.size());
    const QRegularExpression stamp(QStringLiteral("^\\d\\d/\\d\\d/\\d{4}  \\d\\d:\\d\\d:\\d\\d\\.\\d{3}   "));
    for (int i = 0; i < logLines.size(); ++i) {
        QVERIFY2(stamp.match(logLines.at(i)).hasMatch(), qPrintable(logLines.at(i)));
        QCOMPARE(logLines.at(i).mid(27), reported.at(i));
    }

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
    // Without --progress, no percentage lines at all.
    QVERIFY(cli({ "versions", kDevice }).all.filter(QStringLiteral("progress: ")).isEmpty());
}

void tst_Cli::interruptDuringRestartWait()
{
    startSimulator({ defaultDevice(Console6170, kDevice) });
    QProcess p;
    // Real time: the restart wait lasts 30 s, so Ctrl-C surely falls into it.
    start(p,
        { QStringLiteral("update"), kDevice, QStringLiteral("Channel Meter 1-8"), QStringLiteral("--port"),
            QString::number(m_sim->port()), QStringLiteral("--firmware"), m_firmware, QStringLiteral("--progress") });
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
    run.lines = QString::fromUtf8(seen).split(QLatin1Char('\n')) + run.lines;
    QCOMPARE(run.exitCode, 5);
    QVERIFY(run.lines.contains(QStringLiteral("-- Interrupted: the job stops at its next step and sends its closing "
                                              "lines (Ctrl-C again ends the program at once)")));
    // The update's closing lines: the outcome and the board's result line.
    QVERIFY(run.lines.contains(QStringLiteral("[!!] *** Error: Firmware update failed!")));
    QVERIFY(
        !run.lines.filter(QRegularExpression(QStringLiteral("^\\[!! failed\\] Channel Meter 1-8:  Update FAILED! ")))
             .isEmpty());
    QCOMPARE(m_sim->snapshot(0).boards[16].erases, 0);
}

void tst_Cli::history()
{
    DeviceConfig console = outdated(defaultDevice(Console6170, kDevice), 16);
    console.name = "=1+2 Studio";
    startSimulator({ console });
    // By default the window's file, beside its log.txt.
    const QString file = m_dir.filePath(QStringLiteral("data/Orvo/Orvo Updater/history.jsonl"));
    QFile::remove(file); // the other tests' jobs
    QCOMPARE(cli({ "auto-update", kDevice, "--yes" }).exitCode, 0);
    QCOMPARE(cli({ "check", kDevice, "16", "--history", file }).exitCode, 0);
    const auto rows = [this](const QStringList &arguments) {
        QStringList lines = cli(QStringList { "history" } + arguments, false).lines;
        for (QString &l : lines)
            l = l.mid(21); // the time
        return lines;
    };

    const QStringList last = rows({ "--last", "--device", kDevice });
    QCOMPARE(last.size(), 1 + 20 + 1); // this console has 20 positions
    QCOMPARE(last.at(17),
        "=1+2 Studio           127.0.0.2        16 Channel Meter 1-8                5       - found       check (cli)");
    QCOMPARE(last.at(18),
        "=1+2 Studio           127.0.0.2        17 Channel Meter 9-16               5       - up to date  auto-update "
        "(cli)");
    QCOMPARE(rows({ "--board", "channel meter 1-8", "--since", "2000-01-01" }),
        QStringList(
            { "Device                Address         Pos Board                       Before   After Result      Job",
                "=1+2 Studio           127.0.0.2        16 Channel Meter 1-8                4       5 updated     "
                "auto-update (cli)",
                "=1+2 Studio           127.0.0.2        16 Channel Meter 1-8                5       - found       "
                "check (cli)",
                "" }));
    QCOMPARE(rows({ "--since", "2999-01-01" }).size(), 2);

    const QJsonArray json = QJsonDocument::fromJson(
        cli({ "history", "--board", "16", "--device", "00:1A:2B:00:00:02", "--json" }, false).all.join('\n').toUtf8())
                                .array();
    QCOMPARE(json.size(), 2);
    const QString bad = jsonMismatch(QJsonObject { { "e", json } },
        { { "e/0/v", 1 }, { "e/0/program", "7.35" }, { "e/0/frontEnd", "cli" }, { "e/0/job", "auto-update" },
            { "e/0/jobEnd", "done" }, { "e/0/typeName", "6170 Console" }, { "e/0/board", "Channel Meter 1-8" },
            { "e/0/versionBefore", 4 }, { "e/0/versionAfter", 5 }, { "e/0/bootModeAfter", false }, { "e/0/result", 1 },
            { "e/0/resultText", "Update Successful!" }, { "e/0/file", "6170/MetersPIC.hex" }, { "e/0/records", 8 },
            { "e/0/attempts", 1 }, { "e/1/job", "check" }, { "e/1/found", true } });
    QVERIFY2(bad.isEmpty(), qPrintable(bad));
    QVERIFY(
        QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}(Z|[+-]\\d\\d:\\d\\d)$"))
            .match(json.at(0)[QStringLiteral("time")].toString())
            .hasMatch());
    QCOMPARE(json.at(0)[QStringLiteral("sha256")].toString().size(), 64);
    // From a moment on: the check's entry only, not the whole day's.
    QCOMPARE(rows({ "--since", json.at(1)[QStringLiteral("time")].toString() }).size(), 1 + 1 + 1);

    // A spreadsheet would run the device's name as a formula: it starts with a quote mark.
    const QStringList csv = cli({ "history", "--board", "16", "--csv" }, false).all;
    QCOMPARE(csv.at(0),
        "time,program,frontEnd,job,jobEnd,deviceType,typeName,deviceName,address,mac,position,board,found,"
        "upToDate,versionBefore,bootModeBefore,versionAfter,bootModeAfter,file,sha256,records,downloadMs,"
        "attempts,durationMs,result,resultText,resetSent\r");
    QVERIFY2(
        csv.at(2).contains(",\"7.35\",\"cli\",\"check\",\"done\",0,\"6170 Console\",\"'=1+2 Studio\",\"127.0.0.2\","
                           "\"00:1a:2b:00:00:02\",16,\"Channel Meter 1-8\",true,,5,false,,,,,,,"),
        qPrintable(csv.at(2)));

    // A history that cannot be written costs one warning row, not the job.
    QFile plain(m_dir.filePath(QStringLiteral("plain")));
    QVERIFY(plain.open(QIODevice::WriteOnly));
    const CliRun unwritable = cli({ "versions", kDevice, "--history", plain.fileName() + "/history.jsonl" });
    QCOMPARE(unwritable.exitCode, 0);
    QCOMPARE(unwritable.lines.filter("history").size(), 1);
    QVERIFY(unwritable.lines.contains("[w!] Warning!  The board history could not be written to " + plain.fileName()
        + "/history.jsonl (Not a directory)"));
}

QTEST_GUILESS_MAIN(tst_Cli)
#include "tst_cli.moc"
