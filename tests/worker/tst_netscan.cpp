// The subnet sweep of the network scan, run between two network namespaces that the test
// creates for itself (netns/netscan.sh): the sweep never touches the machine's own network.

#include <QProcess>
#include <QtTest>

class tst_NetScan : public QObject
{
    Q_OBJECT

private slots:
    void sweepFindsTheDevicesOfItsOwnSubnet();
};

void tst_NetScan::sweepFindsTheDevicesOfItsOwnSubnet()
{
    QProcess script;
    script.setProgram(QStringLiteral(ORVO_NETSCAN_SCRIPT));
    script.setArguments({ QStringLiteral(ORVO_NETSCAN_HELPER), QStringLiteral(ORVO_DEVSIM) });
    script.start();
    QVERIFY(script.waitForStarted());
    // 253 absent hosts at 30 ms each, plus setting up; the script bounds the sweep itself.
    if (!script.waitForFinished(200000)) {
        script.terminate(); // lets the script remove its namespaces
        script.waitForFinished(10000);
        QFAIL("the sweep did not end");
    }
    const QString err = QString::fromLocal8Bit(script.readAllStandardError());
    if (script.exitCode() == 77)
        QSKIP(qPrintable(QStringLiteral("network namespaces are not available here: ") + err.trimmed()));
    QVERIFY2(script.exitStatus() == QProcess::NormalExit && script.exitCode() == 0, qPrintable(err));

    QStringList lines, progress, found;
    QString ownConnections;
    int lists = 0;
    for (const QString &l : QString::fromLocal8Bit(script.readAllStandardOutput()).split(QLatin1Char('\n'))) {
        if (l.startsWith(QLatin1String("LINE ")))
            lines << l.mid(5);
        else if (l.startsWith(QLatin1String("PROGRESS ")))
            progress << l.mid(9);
        else if (l.startsWith(QLatin1String("FOUND ")))
            found << l.mid(6);
        else if (l.startsWith(QLatin1String("LIST ")))
            ++lists;
        else if (l.startsWith(QLatin1String("OWNCONN ")))
            ownConnections = l.mid(8);
    }

    // Found: .20 and .30 of its own /24. Not found: the device on its own address (.1), the
    // host .255 of the /16, and the host outside its /24.
    QCOMPARE(found, QStringList({ QStringLiteral("10.213.7.20"), QStringLiteral("10.213.7.30") }));
    QCOMPARE(lists, 1);
    QCOMPARE(ownConnections, QStringLiteral("0"));
    QCOMPARE(lines,
        QStringList({
            QStringLiteral("[2] Scanning Network for Orvo Products..."),
            QStringLiteral("[2] Found an IP address associated with this computer: 10.213.7.1"),
            QStringLiteral("[2]^ Finished Network Scan"),
            QStringLiteral("[2] Orvo Products Found: 2"),
            QStringLiteral("[2] #1:  Type: Lumivox KVR10  |  Lumivox KVR10  |  IP: 10.213.7.20"),
            QStringLiteral("[2] #2:  Type: Lumivox KVR10  |  Lumivox KVR10  |  IP: 10.213.7.30"),
        }));

    // The start, one value per probed host 2..254 (host 1 is its own) and the end.
    QCOMPARE(progress.size(), 1 + 253 + 1);
    QCOMPARE(progress.mid(0, 3), QStringList({ "1,0,1,0,100", "1,0,1,0,100", "1,1,1,0,100" }));
    QCOMPARE(progress.at(127), QStringLiteral("1,50,1,0,100"));
    QCOMPARE(progress.mid(252), QStringList({ "1,99,1,0,100", "1,100,1,0,100", "0,0,1,0,100" }));
}

QTEST_GUILESS_MAIN(tst_NetScan)
#include "tst_netscan.moc"
