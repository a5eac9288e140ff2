#include "devsimclient.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

using namespace devsimtest;

namespace {

constexpr int kStartMs = 10000;

struct Listening
{
    QString type;
    QString address;
    std::uint16_t port = 0;
};

// Reads the "orvo-devsim: <type> "<name>" on <address>:<port>" lines of a started program.
QList<Listening> readListening(QProcess &p, int expected)
{
    QList<Listening> out;
    static const QRegularExpression line(QStringLiteral("^orvo-devsim: (.+) \".*\" on ([0-9.]+):([0-9]+)$"));
    QByteArray pending;
    while (out.size() < expected && p.waitForReadyRead(kStartMs)) {
        pending += p.readAllStandardOutput();
        while (pending.contains('\n')) {
            const int nl = pending.indexOf('\n');
            const QRegularExpressionMatch m = line.match(QString::fromLocal8Bit(pending.left(nl)));
            pending.remove(0, nl + 1);
            if (m.hasMatch())
                out.append({ m.captured(1), m.captured(2), static_cast<std::uint16_t>(m.captured(3).toUInt()) });
        }
    }
    return out;
}

} // namespace

class tst_DevsimProgram : public QObject
{
    Q_OBJECT

private slots:
    void readyConfigs_data();
    void readyConfigs();
    void badConfig_data();
    void badConfig();
};

void tst_DevsimProgram::readyConfigs_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("types");
    QTest::addColumn<QList<int>>("boards");
    const auto config = [](const char *file) {
        return QStringList { "--config", QStringLiteral(ORVO_DEVSIM_CONFIGS "/") + QLatin1String(file) };
    };
    QTest::newRow("console") << config("console.json") << QStringList { "6170 Console" } << QList<int> { 24 };
    QTest::newRow("3350 QRT") << config("qrt.json") << QStringList { "3350 QRT" } << QList<int> { 5 };
    QTest::newRow("Lumivox") << config("lumivox.json") << QStringList { "Lumivox KVR10", "Lumivox TX512", "Lumivox KVR30" }
                             << QList<int> { 1, 1, 1 };
    // Shortcuts, and -v logging each request on standard error.
    QTest::newRow("shortcuts, verbose") << QStringList { "--console", "127.78.0.2", "--kvr30", "127.78.0.3", "--speed-up", "100", "-v" }
                                        << QStringList { "6170 Console", "Lumivox KVR30" } << QList<int> { 24, 1 };
}

void tst_DevsimProgram::readyConfigs()
{
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, types);
    QFETCH(QList<int>, boards);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString state = dir.filePath(QStringLiteral("state.json"));

    QProcess p;
    p.start(QStringLiteral(ORVO_DEVSIM_PROGRAM), arguments + QStringList { "--port", "0", "--state-out", state });
    QVERIFY(p.waitForStarted());
    const QList<Listening> devices = readListening(p, types.size());
    QCOMPARE(devices.size(), types.size());
    for (int i = 0; i < devices.size(); ++i) {
        QCOMPARE(devices[i].type, types[i]);
        if (arguments.contains(QStringLiteral("-v")))
            QCOMPARE(devices[i].address, arguments.at(2 * i + 1));
        const Result r = exchange(devices[i].address, devices[i].port, header(0, 0, 0xFFFF));
        QCOMPARE(r.reply.size(), 123);
    }

    // SIGUSR1 writes the state while running; SIGTERM stops cleanly and writes it again.
    ::kill(static_cast<pid_t>(p.processId()), SIGUSR1);
    QTRY_VERIFY(QFile::exists(state));
    p.terminate();
    QVERIFY(p.waitForFinished(kStartMs));
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QCOMPARE(p.exitCode(), 0);
    const QByteArray log = p.readAllStandardError();
    QVERIFY2(log.contains("127.78.0.2  pos -1  info") == arguments.contains(QStringLiteral("-v")), log.constData());

    QFile f(state);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QJsonObject json = QJsonDocument::fromJson(f.readAll()).object();
    const QJsonArray list = json.value("devices").toArray();
    QCOMPARE(list.size(), types.size());
    for (int i = 0; i < list.size(); ++i) {
        QCOMPARE(list[i].toObject().value("boards").toArray().size(), boards[i]);
        QCOMPARE(list[i].toObject().value("infoRequests").toInt(), 1);
    }
    QVERIFY(json.value("violations").toArray().isEmpty());
}

void tst_DevsimProgram::badConfig_data()
{
    QTest::addColumn<QByteArray>("config");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("message");
    const QByteArray device = R"({"type": "console", "address": "127.78.1.2"})";
    QTest::newRow("not JSON") << QByteArray("{ devices: ") << QStringList() << "not valid JSON";
    QTest::newRow("no devices") << QByteArray(R"({"devices": []})") << QStringList() << "devices:";
    QTest::newRow("unknown field") << QByteArray(R"({"devices": [{"type": 0, "address": "127.78.1.2", "nmae": "x"}]})")
                                   << QStringList() << "devices[0].nmae: unknown field";
    QTest::newRow("bad type") << QByteArray(R"({"devices": [{"type": 7, "address": "127.78.1.2"}]})") << QStringList()
                              << "devices[0].type";
    QTest::newRow("bad address") << QByteArray(R"({"devices": [{"type": 1, "address": "localhost"}]})")
                                 << QStringList() << "devices[0].address";
    QTest::newRow("bad state") << QByteArray(R"({"devices": [{"type": 0, "address": "127.78.1.2", "boards": [{"position": 3, "state": "asleep"}]}]})")
                               << QStringList() << "devices[0].boards[0].state";
    QTest::newRow("position beyond the catalogue")
        << QByteArray(R"({"devices": [{"type": 2, "address": "127.78.1.2", "boards": [{"position": 1}]}]})")
        << QStringList() << "devices[0].boards[0].position";
    QTest::newRow("bad version") << QByteArray(R"({"devices": [{"type": 0, "address": "127.78.1.2", "boards": [{"position": 3, "version": 256}]}]})")
                                 << QStringList() << "devices[0].boards[0].version";
    QTest::newRow("bad fault") << QByteArray(R"({"devices": [{"type": 0, "address": "127.78.1.2", "faults": [{"kind": "Explode"}]}]})")
                               << QStringList() << "devices[0].faults[0].kind";
    QTest::newRow("bad mac") << QByteArray(R"({"devices": [{"type": 0, "address": "127.78.1.2", "mac": "00:11"}]})")
                             << QStringList() << "devices[0].mac";
    QTest::newRow("same endpoint twice") << "{\"devices\": [" + device + ", " + device + "]}" << QStringList()
                                         << "devices[1].address";
    QTest::newRow("unknown argument") << QByteArray() << QStringList { "--frobnicate" } << "unknown argument";
    QTest::newRow("shortcut without address") << QByteArray() << QStringList { "--qrt" } << "--qrt";
    QTest::newRow("bad speed-up") << QByteArray() << QStringList { "--console", "127.78.1.2", "--speed-up", "0.5" }
                                  << "--speed-up";
    QTest::newRow("nothing to run") << QByteArray() << QStringList() << "no device";
}

void tst_DevsimProgram::badConfig()
{
    QFETCH(QByteArray, config);
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    if (!config.isEmpty()) {
        QFile f(dir.filePath(QStringLiteral("bad.json")));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(config);
        f.close();
        arguments << QStringLiteral("--config") << f.fileName();
    }
    QProcess p;
    p.start(QStringLiteral(ORVO_DEVSIM_PROGRAM), arguments);
    QVERIFY(p.waitForFinished(kStartMs));
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QCOMPARE(p.exitCode(), 2);
    const QString err = QString::fromLocal8Bit(p.readAllStandardError());
    QVERIFY2(err.contains(message), qPrintable(err));
}

QTEST_GUILESS_MAIN(tst_DevsimProgram)
#include "tst_devsimprogram.moc"
