// orvo-updater-cli against devices that send what they should not: control characters in a
// name, a record for another address or with another's MAC, and names outside the locale.

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

class tst_CliTrust : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void hostileNameStaysOnItsLine();
    void recordForAnotherAddressIsRefused();
    void renameSendsWindows1252();

private:
    /// Runs the program against `sim`: exit status, stdout lines without percentages (-2 when
    /// stdout holds a control character), the log file's rows without stamps, stderr.
    int cli(const Simulator &sim, QStringList args, QStringList *out, QStringList *log = nullptr, QString *err = nullptr);

    QTemporaryDir m_dir;
};

void tst_CliTrust::initTestCase()
{
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("UTF-8")); // for the arguments
}

int tst_CliTrust::cli(const Simulator &sim, QStringList args, QStringList *out, QStringList *log, QString *err)
{
    const QString path = m_dir.filePath(QStringLiteral("log.txt"));
    QFile::remove(path);
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(ORVO_CLI_PATH), args << "--port" << QString::number(sim.port()) << "--log" << path);
    p.waitForFinished(60000);
    const QByteArray bytes = p.readAllStandardOutput();
    *out = QString::fromUtf8(bytes).split('\n').filter(QRegularExpression(QStringLiteral("^(?!progress: )")));
    if (err)
        *err = QString::fromUtf8(p.readAllStandardError());
    QFile file(path);
    if (log && file.open(QIODevice::ReadOnly))
        *log = QString::fromUtf8(file.readAll()).remove(QRegularExpression(QStringLiteral("(?m)^.{27}"))).split('\n');
    if (QString::fromUtf8(bytes).contains(QRegularExpression(QStringLiteral("[\\x00-\\x09\\x0b-\\x1f\\x7f-\\x9f]"))))
        return -2;
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

void tst_CliTrust::hostileNameStaysOnItsLine()
{
    DeviceConfig hostile = defaultDevice(Console6170, QStringLiteral("127.0.0.150"));
    hostile.name = QByteArray("\x1b]0;PWNED\x07\x1b[2J\x1b[31m X\r\n#9: fake");
    Simulator sim;
    sim.addDevice(hostile);
    QVERIFY(sim.start());
    const QString json = m_dir.filePath(QStringLiteral("report.json"));
    QStringList out, log;
    QCOMPARE(cli(sim, { "scan", "--ip", "127.0.0.150", "--json", json }, &out, &log), 0);
    const QString shown = QStringLiteral("\\x1B]0;PWNED\\x07\\x1B[2J\\x1B[31m X\\x0D\\x0A#9: fake");
    const QString entry = "#1:  Type: 6170 Console  |  " + shown + "  |  IP: 127.0.0.150";
    QCOMPARE(log, QStringList({ "Scanning Network for Orvo Products...", "Manual IP Scan Enabled.",
                                "Scanning IP address: 127.0.0.150 ...", "Finished Network Scan",
                                "Orvo Products Found: 1", entry, "" }));
    QCOMPARE(out, QStringList(log.mid(0, 6)).replaceInStrings(QRegularExpression("^"), "[..] ") << "");
    QFile file(json);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QJsonObject report = QJsonDocument::fromJson(file.readAll()).object();
    QCOMPARE(report["devices"][0]["name"].toString(), QString::fromLatin1(hostile.name)); // exact
    QCOMPARE(report["lines"][5]["text"].toString(), entry);
    QCOMPARE(cli(sim, { "versions", "127.0.0.150" }, &out, &log), 0);
    QVERIFY(log.contains("6170 Console [" + shown + "]"));
}

void tst_CliTrust::recordForAnotherAddressIsRefused()
{
    DeviceConfig liar = defaultDevice(LumivoxKvr10, QStringLiteral("127.0.0.173"));
    liar.recordAddress = QStringLiteral("127.0.0.174");
    Simulator sim;
    sim.addDevice(liar);
    sim.addDevice(defaultDevice(LumivoxKvr10, QStringLiteral("127.0.0.174")));
    // Another device that claims the first one's MAC.
    DeviceConfig twin = defaultDevice(LumivoxKvr10, QStringLiteral("127.0.0.175"));
    twin.mac = liar.mac;
    sim.addDevice(twin);
    QVERIFY(sim.start());
    QStringList out, log;
    QCOMPARE(cli(sim, { "update", "127.0.0.173", "0" }, &out, &log), 1);
    const QStringList lines = { "Warning!  The device at 127.0.0.173 sends a record for 127.0.0.174: its jobs go to "
                                "127.0.0.174",
                                "*** Error: The device at 127.0.0.173 sends a record for 127.0.0.174: refused, "
                                "nothing is sent to 127.0.0.174" };
    QCOMPARE(log.mid(log.size() - 3), lines + QStringList(""));
    QCOMPARE(out.mid(out.size() - 3), QStringList({ "[w!] " + lines[0], "[!!] " + lines[1], "" }));
    QCOMPARE(sim.snapshot(0).requests, 1); // asked for its record, and nothing more
    QCOMPARE(sim.snapshot(1).connections, 0);

    QCOMPARE(cli(sim, { "scan", "--ip", "127.0.0.173", "--ip", "127.0.0.175" }, &out), 0);
    QCOMPARE(out.at(out.size() - 2), "[w!] Warning!  The record from 127.0.0.175 replaces the one for 127.0.0.174 "
                                     "(same MAC 00:1a:2b:02:00:ad)");
}

void tst_CliTrust::renameSendsWindows1252()
{
    Simulator sim;
    sim.addDevice(defaultDevice(LumivoxKvr10, QStringLiteral("127.0.0.151")));
    QVERIFY(sim.start());
    QStringList out;
    QString err;
    QCOMPARE(cli(sim, { "rename", "127.0.0.151", "Café Å" }, &out), 0);
    QCOMPARE(sim.snapshot(0).name, QByteArray("\x43\x61\x66\xe9\x20\xc5"));
    QCOMPARE(out.at(out.size() - 2), "-- Renamed the device at 127.0.0.151 to \"Café Å\"");
    QCOMPARE(cli(sim, { "rename", "127.0.0.151", "Studio Ω" }, &out, nullptr, &err), 2);
    QVERIFY(err.startsWith("orvo-updater-cli: Name cannot contain \"Ω\" (U+03A9): devices keep names in Windows-1252\n"));
    QCOMPARE(sim.snapshot(0).renames, 1);
}

QTEST_GUILESS_MAIN(tst_CliTrust)
#include "tst_cli_trust.moc"
