// --speed-up of orvo-updater-cli reaches loopback addresses only. Run in a network namespace of
// its own (only lo up), so that even a broken refusal sends nothing to 192.0.2.x anywhere.

#include <QProcess>
#include <QtTest>

namespace {

constexpr int kProcessTimeoutMs = 60000;

const QString kRule = QStringLiteral(
    "--speed-up is for the device simulator only: it shortens the boards' restart and erase waits, so it is "
    "honoured only when every address the command talks to is a loopback address (127.0.0.0/8), and ");

struct Run
{
    int exitCode = -1;
    QStringList out;
    QStringList err;
};

Run cli(const QStringList &arguments)
{
    QProcess p;
    p.start(QStringLiteral(ORVO_CLI_PATH), arguments);
    Run run;
    if (!p.waitForFinished(kProcessTimeoutMs)) {
        p.kill();
        p.waitForFinished();
        return run;
    }
    run.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    run.out = QString::fromLocal8Bit(p.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    run.err = QString::fromLocal8Bit(p.readAllStandardError()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    return run;
}

} // namespace

class tst_CliSpeedUp : public QObject
{
    Q_OBJECT

private slots:
    void refusedBeforeAnythingIsSent_data();
    void refusedBeforeAnythingIsSent();
};

void tst_CliSpeedUp::refusedBeforeAnythingIsSent_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("error");
    QTest::newRow("device") << QStringList { "check", "192.0.2.10", "0" }
                            << kRule + "192.0.2.10 is not one; nothing was sent";
    QTest::newRow("one of the scan's addresses") << QStringList { "scan", "--ip", "127.0.0.2", "--ip", "192.0.2.11" }
                                                 << kRule + "192.0.2.11 is not one; nothing was sent";
    QTest::newRow("sweep") << QStringList { "scan" }
                           << kRule + "a scan without --ip sweeps the subnets of this computer; nothing was sent";
}

void tst_CliSpeedUp::refusedBeforeAnythingIsSent()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, error);
    const Run run = cli(arguments + QStringList { "--speed-up", "50", "--debug" });
    QCOMPARE(run.exitCode, 2);
    QCOMPARE(run.out, QStringList());
    // The refusal and the usage line, and not one debug line of the worker: no job was requested.
    QCOMPARE(run.err.size(), 2);
    QCOMPARE(run.err.first(), QStringLiteral("orvo-updater-cli: ") + error);
    QVERIFY(run.err.last().startsWith(QStringLiteral("Usage: orvo-updater-cli [options] ")));
}

QTEST_GUILESS_MAIN(tst_CliSpeedUp)
#include "tst_cli_speedup.moc"
