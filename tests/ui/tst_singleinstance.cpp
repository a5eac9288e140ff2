// One window per user: the program started as processes, looked at and answered through its
// test control on standard input.

#include "uitestsupport.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QProcessEnvironment>

namespace {

/// One run of the program with the throw-away home of this test.
class Instance
{
public:
    explicit Instance(const QString &home)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("ORVO_TEST_CONTROL"), QStringLiteral("1"));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        for (const char *name : { "HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_RUNTIME_DIR", "TMPDIR" })
            env.insert(QLatin1String(name), qEnvironmentVariable(name));
        Q_UNUSED(home);
        m_process.setProcessEnvironment(env);
        m_process.setProgram(QStringLiteral(ORVO_GUI_PATH));
    }
    ~Instance()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(10000);
        }
    }

    bool start()
    {
        m_process.start();
        return m_process.waitForStarted(10000);
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

    /// Asks for the visible windows until one line contains `wanted` (at most 30 s).
    QStringList waitForWindow(const QString &wanted)
    {
        QStringList windows;
        for (int i = 0; i < 300; ++i) {
            windows = command("windows");
            if (windows.join('\n').contains(wanted))
                return windows;
            QTest::qWait(100);
        }
        return windows;
    }

    bool finished(int *exitCode)
    {
        if (!m_process.waitForFinished(30000))
            return false;
        *exitCode = m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
        return true;
    }
    bool running() const { return m_process.state() == QProcess::Running; }
    QString errors() { return QString::fromUtf8(m_process.readAllStandardError()); }

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
    const QString home = qEnvironmentVariable("HOME");
    const QString lockPath = qEnvironmentVariable("TMPDIR") + QStringLiteral("/OrvoUpdaterKvw.lock");

    Instance first(home);
    QVERIFY(first.start());
    QVERIFY(first.waitForWindow(kTitle).join('\n').contains(kTitle));
    QVERIFY(QFile::exists(lockPath));

    Instance second(home);
    QVERIFY(second.start());
    const QStringList shown = second.waitForWindow(kWarning);
    QCOMPARE(shown.size(), 1); // the warning alone, no frame
    QVERIFY2(shown.first().startsWith(QStringLiteral("window QMessageBox")), qPrintable(shown.first()));
    QVERIFY(shown.first().endsWith(kWarning));
    QCOMPARE(second.command("answer"), QStringList { QStringLiteral("answered OK") });
    int code = -1;
    QVERIFY(second.finished(&code));
    QCOMPARE(code, 1);
    QVERIFY2(second.errors().contains(QStringLiteral("lockFile: ") + lockPath), "no lockFile debug line");

    // The first one did not notice.
    QVERIFY(first.running());
    QVERIFY(first.command("windows").join('\n').contains(kTitle));
    first.command("close");
    QVERIFY(first.finished(&code));
    QCOMPARE(code, 0);
    QVERIFY(!QFile::exists(lockPath));

    // The lock is free again: the next start opens its window.
    Instance third(home);
    QVERIFY(third.start());
    QVERIFY(third.waitForWindow(kTitle).join('\n').contains(kTitle));
    third.command("close");
    QVERIFY(third.finished(&code));
    QCOMPARE(code, 0);
}

ORVO_UI_TEST_MAIN(SingleInstanceTest)
#include "tst_singleinstance.moc"
