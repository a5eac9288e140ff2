// libFuzzer target: the board history file (history.jsonl) over arbitrary contents, as the history
// command reads and prints it.
//
// Beyond the sanitizers' findings, it stops on a broken promise: more warnings than the reader
// gives, or a control character in the table or the CSV, where it would reach a terminal.

#include "history.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryFile>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void fail(const char *what)
{
    std::fprintf(stderr, "history fuzz: %s\n", what);
    std::abort();
}

bool hasControl(QString text)
{
    static const QRegularExpression control(QStringLiteral("[\\x00-\\x1f\\x7f-\\x9f]"));
    return text.remove(QStringLiteral("\r\n")).remove(QLatin1Char('\n')).contains(control);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static QTemporaryFile file;
    if (!file.isOpen() && !file.open())
        fail("no temporary file");
    file.resize(0);
    file.seek(0);
    file.write(reinterpret_cast<const char *>(data), qint64(size));
    file.flush();

    orvo::HistoryFilter filter;
    filter.latestOnly = size > 0 && (data[0] & 1);
    const orvo::HistoryRead read = orvo::readHistory(file.fileName(), filter);
    if (read.warnings.size() > 11)
        fail("more warnings than promised");
    for (const QJsonObject &e : read.entries) {
        if (hasControl(orvo::historyRow(orvo::HistoryView::Table, e))
            || hasControl(orvo::historyRow(orvo::HistoryView::Csv, e)))
            fail("a control character in the output");
    }
    return 0;
}
