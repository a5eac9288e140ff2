// orvo-bench-history: the cost of the board history as it grows.
//
//  1. Reading 100,000 entries (console-sized, 25 devices) with a filter: one device (`--device`),
//     and each board's latest state of all devices (`--last`), against reading the same file's
//     lines without parsing them. Goal: under 1 s.
//  2. Appending one entry with its lock, its write and its sync (appendHistory), against a plain
//     write and sync of the same bytes to a file held open. Goal: under 5 ms.
//
// The file lives in a temporary folder of the current directory, so that the sync reaches the
// disk the data folder is on (a temporary folder in memory would make it free).
//
//   orvo-bench-history [entries (100000)] [appends (200)]

#include "benchsupport.h"
#include "history.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QTemporaryDir>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

using namespace orvo;
using namespace orvo::bench;

namespace {

QJsonObject consoleEntry(int device, int position)
{
    const QString mac = QStringLiteral("00:1a:2b:00:%1:%2")
                            .arg(device / 256, 2, 16, QLatin1Char('0'))
                            .arg(device % 256, 2, 16, QLatin1Char('0'));
    return { { "v", 1 }, { "time", "2026-12-08T03:35:21.461+01:00" }, { "program", "7.35" }, { "frontEnd", "cli" },
        { "job", "auto-update" }, { "jobEnd", "done" }, { "deviceType", 0 }, { "typeName", "6170 Console" },
        { "deviceName", QStringLiteral("Studio %1").arg(device) },
        { "address", QStringLiteral("10.0.0.%1").arg(device) }, { "mac", mac }, { "position", position },
        { "board", "Channel Master FPGA 17-24" }, { "found", true }, { "upToDate", false }, { "versionBefore", 12 },
        { "bootModeBefore", false }, { "versionAfter", 13 }, { "bootModeAfter", false },
        { "file", "6170/CentralProcessorFPGA.bin" }, { "sha256", QString(64, QLatin1Char('9')) }, { "records", 8192 },
        { "downloadMs", 61234 }, { "attempts", 1 }, { "durationMs", 95321 }, { "result", 1 },
        { "resultText", "Update Successful!" } };
}

double readSeconds(const QString &path, const HistoryFilter &filter, int *selected)
{
    const Wall::time_point start = Wall::now();
    // As the history command reads: each selected entry printed (here: formatted) as it comes.
    int count = 0;
    qint64 bytes = 0;
    readHistory(path, filter, [&count, &bytes](const QJsonObject &e) {
        ++count;
        bytes += historyRow(HistoryView::Table, e).size();
    });
    *selected = count;
    return seconds(start, Wall::now());
}

double plainReadSeconds(const QString &path)
{
    const Wall::time_point start = Wall::now();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    QByteArray buffer(kHistoryMaxLineBytes + 2, '\0');
    qint64 lines = 0;
    while (file.readLine(buffer.data(), buffer.size()) > 0)
        ++lines;
    return lines > 0 ? seconds(start, Wall::now()) : 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int entries = argc > 1 ? std::atoi(argv[1]) : 100000;
    const int appends = argc > 2 ? std::atoi(argv[2]) : 200;
    QTemporaryDir dir(QDir::currentPath() + QStringLiteral("/orvo-bench-history-XXXXXX"));
    if (!dir.isValid() || entries < 24 || appends < 1) {
        std::fprintf(stderr, "usage: orvo-bench-history [entries >= 24] [appends >= 1], in a writable folder\n");
        return 2;
    }

    // 1. Reading.
    const QString big = dir.filePath(QStringLiteral("big.jsonl"));
    QVector<QJsonObject> batch;
    for (int i = 0; i < entries; ++i) {
        batch << consoleEntry((i / 24) % 25, i % 24);
        if (batch.size() == 1000 || i + 1 == entries) {
            if (!appendHistory(big, batch).isEmpty())
                return 1;
            batch.clear();
        }
    }
    const double mb = double(QFileInfo(big).size()) / 1e6;
    const double plain = plainReadSeconds(big);
    int byDevice = 0;
    int latest = 0;
    const double device
        = readSeconds(big, { QStringLiteral("00:1a:2b:00:00:07"), QString(), std::nullopt, false }, &byDevice);
    const double last = readSeconds(big, { QString(), QString(), std::nullopt, true }, &latest);
    std::printf("read %d entries (%.1f MB): lines only %.0f ms\n", entries, mb, plain * 1e3);
    std::printf("  --device (selects %d): %.0f ms, %.1f x lines only   (goal: under 1000 ms)\n", byDevice, device * 1e3,
        device / plain);
    std::printf("  --last   (selects %d): %.0f ms, %.1f x lines only\n", latest, last * 1e3, last / plain);

    // 2. Appending.
    const QByteArray line = QJsonDocument(consoleEntry(1, 1)).toJson(QJsonDocument::Compact) + '\n';
    const QString plainPath = dir.filePath(QStringLiteral("plain.jsonl"));
    const int fd = ::open(QFile::encodeName(plainPath).constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    Wall::time_point start = Wall::now();
    for (int i = 0; i < appends; ++i) {
        if (::write(fd, line.constData(), size_t(line.size())) != line.size() || ::fsync(fd) != 0)
            return 1;
    }
    const double plainAppend = seconds(start, Wall::now()) / appends;
    ::close(fd);
    const QString small = dir.filePath(QStringLiteral("history.jsonl"));
    start = Wall::now();
    for (int i = 0; i < appends; ++i) {
        if (!appendHistory(small, { consoleEntry(1, i % 24) }).isEmpty())
            return 1;
    }
    const double append = seconds(start, Wall::now()) / appends;
    std::printf("append one entry (%d times): %.2f ms, %.2f x a plain write and sync (%.2f ms)   (goal: under 5 ms)\n",
        appends, append * 1e3, append / plainAppend, plainAppend * 1e3);
    return 0;
}
