// The history file's safety: two processes appending at once lose and mix no line, and a line cut
// off by a crash, or one too long to be ours, is skipped by readers and does not spoil the next
// append. What the front ends write there is the command line's and the window's tests'.

#include "history.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <cstring>
#include <numeric>

using namespace orvo;

namespace {

QJsonObject entry(const QString &writer, int position)
{
    // Long enough that two writers' bytes, were they mixed, could not pass for a line.
    return { { "v", 1 }, { "position", position }, { "deviceName", writer },
        { "sha256", QString(512, QLatin1Char('a')) } };
}

int appendEntries(const QString &path, const QString &writer, int count)
{
    for (int i = 0; i < count; ++i) {
        if (!appendHistory(path, { entry(writer, i) }).isEmpty())
            return 1;
    }
    return 0;
}

QVector<int> positions(const QVector<QJsonObject> &entries, const QString &writer = QString())
{
    QVector<int> list;
    for (const QJsonObject &e : entries) {
        if (writer.isEmpty() || e.value(QStringLiteral("deviceName")).toString() == writer)
            list << e.value(QStringLiteral("position")).toInt();
    }
    return list;
}

} // namespace

class tst_History : public QObject
{
    Q_OBJECT

private slots:
    void concurrentAppends();
    void tornLine();

private:
    QTemporaryDir m_dir;
};

void tst_History::concurrentAppends()
{
    constexpr int kEach = 1000;
    const QString path = m_dir.filePath(QStringLiteral("concurrent.jsonl"));
    QProcess a;
    QProcess b;
    for (QProcess *p : { &a, &b })
        p->start(
            QCoreApplication::applicationFilePath(), { "--append", path, p == &a ? "A" : "B", QString::number(kEach) });
    for (QProcess *p : { &a, &b }) {
        QVERIFY(p->waitForFinished(120000));
        QCOMPARE(p->exitCode(), 0);
    }
    const HistoryRead read = readHistory(path, {});
    QCOMPARE(read.warnings, QStringList());
    QCOMPARE(read.entries.size(), 2 * kEach);
    QVector<int> expected(kEach);
    std::iota(expected.begin(), expected.end(), 0);
    QCOMPARE(positions(read.entries, "A"), expected);
    QCOMPARE(positions(read.entries, "B"), expected);
}

void tst_History::tornLine()
{
    const QString path = m_dir.filePath(QStringLiteral("torn.jsonl"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QJsonDocument(entry("X", 1)).toJson(QJsonDocument::Compact) + '\n');
    file.write(QByteArray(kHistoryMaxLineBytes + 10, 'x') + '\n');
    file.write(R"({"v":1,"position":2,"deviceNa)"); // the power failed here
    file.close();

    QCOMPARE(appendHistory(path, { entry("X", 3) }), QString());
    QVERIFY(file.open(QIODevice::Append));
    file.write(R"({"v":1,"pos)");
    file.close();

    const HistoryRead read = readHistory(path, {});
    QCOMPARE(positions(read.entries), QVector<int>({ 1, 3 }));
    QCOMPARE(read.warnings,
        QStringList({ "line 2: longer than 65536 bytes, skipped", "line 3: not a history entry, skipped",
            "line 5: incomplete (a write that did not finish), skipped" }));
}

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc == 5 && std::strcmp(argv[1], "--append") == 0)
        return appendEntries(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]), std::atoi(argv[4]));
    tst_History test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_history.moc"
