// One window per user: the program started as processes, looked at and answered through its
// test control on standard input.

#include "uitestsupport.h"

#include <QElapsedTimer>
#include <QProcess>

namespace {

/// One run of the program, in the throw-away home of this test (its environment is inherited).
class Instance
{
public:
    Instance()
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("ORVO_TEST_CONTROL"), QStringLiteral("1"));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        m_process.setProcessEnvironment(env);
        m_process.start(QStringLiteral(ORVO_GUI_PATH), QStringList());
    }
    ~Instance()
    {
        m_process.kill();
        m_process.waitForFinished(10000);
    }

    /// Sends one command; returns its answer lines (without the closing "end").
    QStringList command(const QByteArray &text)
    {
        m_process.write(text + '\n');
        QStringList lines;
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < 30000) {
            while (m_process.canReadLine()) {
                const QString line = QString::fromUtf8(m_process.readLine()).trimmed();
                if (line == QLatin1String("end"))
                    return lines;
                lines << line;
            }
            if (!m_process.waitForReadyRead(1000) && m_process.state() == QProcess::NotRunning)
                break;
        }
        return lines << QStringLiteral("(no end)");
    }

    /// Asks for the visible windows until they contain `wanted` (at most 30 s).
    QString waitForWindow(const QString &wanted)
    {
        QString windows;
        for (int i = 0; i < 300 && !windows.contains(wanted); ++i) {
            if (i > 0)
                QTest::qWait(100);
            windows = command("windows").join('\n');
        }
        return windows;
    }

    /// The exit code once the program has ended by itself; -1 when it crashed or still runs.
    int exitCode()
    {
        if (!m_process.waitForFinished(30000) || m_process.exitStatus() != QProcess::NormalExit)
            return -1;
        return m_process.exitCode();
    }

private:
    QProcess m_process;
};

const QString kTitle = QStringLiteral("Orvo Updater  [7.35]");
const QString kWarning = QStringLiteral("You already have the Orvo Updater app open. Please switch to the open app.");

} // namespace

class SingleInstanceTest : public QObject
{
    Q_OBJECT

private slots:
    void secondStartOnlyWarns();
};

void SingleInstanceTest::secondStartOnlyWarns()
{
    const QString lockPath = qEnvironmentVariable("TMPDIR") + QStringLiteral("/OrvoUpdaterKvw.lock");
    Instance first;
    QVERIFY(first.waitForWindow(kTitle).contains(kTitle));
    QVERIFY(QFile::exists(lockPath));
    // The test control reads the progress bars: hidden and never set before any job.
    QCOMPARE(first.command("value progressBar"), QStringList { QStringLiteral("value -1 0 100 hidden") });

    Instance second;
    const QString shown = second.waitForWindow(kWarning);
    QVERIFY2(
        shown.startsWith(QStringLiteral("window QMessageBox")) && shown.endsWith(kWarning) && !shown.contains('\n'),
        qPrintable(shown)); // the warning alone, no frame
    QCOMPARE(second.command("answer"), QStringList { QStringLiteral("answered OK") });
    QCOMPARE(second.exitCode(), 1);

    // The first one did not notice; closed, it frees the lock for the next start.
    QVERIFY(first.command("windows").join('\n').contains(kTitle));
    first.command("close");
    QCOMPARE(first.exitCode(), 0);
    QVERIFY(!QFile::exists(lockPath));
}

ORVO_UI_TEST_MAIN(SingleInstanceTest)
#include "tst_singleinstance.moc"
