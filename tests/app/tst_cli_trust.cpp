// orvo-updater-cli against devices that send what they should not: control characters in a
// name, a record for another address, and names outside the workstation's locale.

#include "catalogue.h"
#include "simulator.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTextCodec>
#include <QtTest>

using namespace orvo;
using namespace orvo::devsim;

namespace {

const QByteArray kHostileName("\x1b]0;PWNED\x07\x1b[2J\x1b[31m X\r\n#9: fake");
const QString kHostileShown = QStringLiteral("\\x1B]0;PWNED\\x07\\x1B[2J\\x1B[31m X\\x0D\\x0A#9: fake");

DeviceConfig kvr10(const char *address, const QByteArray &name = "Lumivox KVR10")
{
    DeviceConfig d = defaultDevice(LumivoxKvr10, QLatin1String(address));
    d.name = name;
    return d;
}

} // namespace

class tst_CliTrust : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void hostileNameStaysOnItsLine();
    void recordForAnotherAddressIsRefused();
    void renameSendsWindows1252();

private:
    bool start(const QList<DeviceConfig> &devices);
    /// Runs the program; its stdout lines (percentages left out) and the log file's rows without stamps.
    int cli(QStringList arguments, QStringList *out, QStringList *logRows = nullptr, QString *err = nullptr);

    QTemporaryDir m_dir;
    std::unique_ptr<Simulator> m_sim;
};

void tst_CliTrust::initTestCase()
{
    // Arguments go out, and output comes back, as UTF-8, whatever this machine's locale.
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("UTF-8"));
    QVERIFY(m_dir.isValid());
}

bool tst_CliTrust::start(const QList<DeviceConfig> &devices)
{
    m_sim.reset();
    m_sim = std::make_unique<Simulator>();
    for (const DeviceConfig &d : devices)
        m_sim->addDevice(d);
    return m_sim->start();
}

int tst_CliTrust::cli(QStringList arguments, QStringList *out, QStringList *logRows, QString *err)
{
    const QString log = m_dir.filePath(QStringLiteral("log.txt"));
    QFile::remove(log);
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(ORVO_CLI_PATH),
            arguments << QStringLiteral("--port") << QString::number(m_sim->port()) << QStringLiteral("--log") << log);
    if (!p.waitForFinished(60000))
        p.kill();
    const QByteArray stdoutBytes = p.readAllStandardOutput();
    *out = QString::fromUtf8(stdoutBytes).split(QLatin1Char('\n')).filter(QRegularExpression(QStringLiteral("^(?!progress: )")));
    if (err)
        *err = QString::fromUtf8(p.readAllStandardError());
    // Not a terminal: no byte of the output is a control character but the line ends.
    if (stdoutBytes.contains('\x1b') || stdoutBytes.contains('\r') || stdoutBytes.contains('\x07'))
        return -2;
    QFile file(log);
    if (logRows)
        logRows->clear();
    if (logRows && file.open(QIODevice::ReadOnly)) {
        const QRegularExpression stamp(QStringLiteral("^\\d\\d/\\d\\d/\\d{4}  \\d\\d:\\d\\d:\\d\\d\\.\\d{3}   "));
        for (const QByteArray &line : file.readAll().split('\n'))
            *logRows << QString::fromUtf8(line).remove(stamp);
    }
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

void tst_CliTrust::hostileNameStaysOnItsLine()
{
    DeviceConfig hostile = defaultDevice(Console6170, QStringLiteral("127.0.0.150"));
    hostile.name = kHostileName;
    QVERIFY(start({ hostile }));
    const QString json = m_dir.filePath(QStringLiteral("report.json"));
    QStringList out, log;
    QCOMPARE(cli({ "scan", "--ip", "127.0.0.150", "--json", json }, &out, &log), 0);

    const QString entry = QStringLiteral("#1:  Type: 6170 Console  |  ") + kHostileShown + QStringLiteral("  |  IP: 127.0.0.150");
    const QStringList rows = { "Scanning Network for Orvo Products...", "Manual IP Scan Enabled.",
                               "Scanning IP address: 127.0.0.150 ...", "Finished Network Scan",
                               "Orvo Products Found: 1", entry, "" };
    QCOMPARE(log, rows);
    QStringList marked;
    for (const QString &row : rows.mid(0, 6))
        marked << QStringLiteral("[..] ") + row;
    QCOMPARE(out, marked << "");
    // The report keeps the exact name; its lines are the rows as shown.
    QFile file(json);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QJsonObject report = QJsonDocument::fromJson(file.readAll()).object();
    QCOMPARE(report[QStringLiteral("devices")].toArray().at(0)[QStringLiteral("name")].toString(),
             QString::fromLatin1(kHostileName));
    QCOMPARE(report[QStringLiteral("lines")].toArray().at(5)[QStringLiteral("text")].toString(), entry);
    // The version scan names the device too.
    QCOMPARE(cli({ "versions", "127.0.0.150" }, &out, &log), 0);
    QVERIFY(log.contains(QStringLiteral("6170 Console [") + kHostileShown + QStringLiteral("]")));
}

void tst_CliTrust::recordForAnotherAddressIsRefused()
{
    DeviceConfig liar = kvr10("127.0.0.173");
    liar.recordAddress = QStringLiteral("127.0.0.174");
    QVERIFY(start({ liar, kvr10("127.0.0.174") }));
    QStringList out, log;
    QCOMPARE(cli({ "update", "127.0.0.173", "0" }, &out, &log), 1);
    const QStringList tail = { "Warning!  The device at 127.0.0.173 sends a record for 127.0.0.174: its jobs go to 127.0.0.174",
                               "*** Error: The device at 127.0.0.173 sends a record for 127.0.0.174: refused, nothing is "
                               "sent to 127.0.0.174",
                               "" };
    QCOMPARE(log.mid(log.size() - 3), tail);
    QCOMPARE(out.mid(out.size() - 3), QStringList({ "[w!] " + tail[0], "[!!] " + tail[1], "" }));
    QCOMPARE(m_sim->snapshot(0).requests, 1); // the record, and nothing more
    QCOMPARE(m_sim->snapshot(1).connections, 0);

    // Two devices with one MAC: the list keeps the later, and says which one it dropped.
    DeviceConfig twin = kvr10("127.0.0.176");
    twin.mac = kvr10("127.0.0.175").mac;
    QVERIFY(start({ kvr10("127.0.0.175"), twin }));
    QStringList twinOut;
    QCOMPARE(cli({ "scan", "--ip", "127.0.0.175", "--ip", "127.0.0.176" }, &twinOut), 0);
    QCOMPARE(twinOut.mid(twinOut.size() - 3, 2),
             QStringList({ "[..] #1:  Type: Lumivox KVR10  |  Lumivox KVR10  |  IP: 127.0.0.176",
                           "[w!] Warning!  The record from 127.0.0.176 replaces the one for 127.0.0.175 (same MAC "
                           "00:1a:2b:02:00:af)" }));
}

void tst_CliTrust::renameSendsWindows1252()
{
    QVERIFY(start({ kvr10("127.0.0.151") }));
    QStringList out;
    QString err;
    QCOMPARE(cli({ "rename", "127.0.0.151", "Café Å" }, &out), 0);
    QCOMPARE(m_sim->snapshot(0).name, QByteArray("\x43\x61\x66\xe9\x20\xc5"));
    QVERIFY2(out.contains(QStringLiteral("-- Renamed the device at 127.0.0.151 to \"Café Å\"")), qPrintable(out.join('\n')));
    QCOMPARE(cli({ "scan", "--ip", "127.0.0.151" }, &out), 0);
    QVERIFY(out.contains(QStringLiteral("[..] #1:  Type: Lumivox KVR10  |  Café Å  |  IP: 127.0.0.151")));

    QCOMPARE(cli({ "rename", "127.0.0.151", "Studio Ω" }, &out, nullptr, &err), 2);
    QVERIFY2(err.contains(QStringLiteral("Name cannot contain \"Ω\" (U+03A9): devices keep names in Windows-1252")),
             qPrintable(err));
    QCOMPARE(m_sim->snapshot(0).renames, 1);
}

QTEST_GUILESS_MAIN(tst_CliTrust)
#include "tst_cli_trust.moc"
