#pragma once

// A front end for driving the Worker in tests: records every signal the worker sends, in order,
// and answers the worker's message boxes from a queue. Pair it with WorkerHost (which makes the
// connections) and runJob() below, which requests a job and keeps the event loop turning until
// the job's thread has ended, so that blocking message boxes are answered meanwhile.

#include "debugcapture.h"
#include "workerhost.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QQueue>
#include <QRegularExpression>
#include <QStringList>
#include <QTest>
#include <QThread>
#include <QVector>

#include <algorithm>
#include <functional>

namespace orvo::test {

/// Standard button values of the message boxes.
constexpr int kYes = 0x4000;
constexpr int kNo = 0x10000;

struct ProgressCall
{
    bool visible = false;
    int value = 0;
    bool showText = false;
    int min = 0;
    int max = 0;
    friend bool operator==(const ProgressCall &a, const ProgressCall &b)
    {
        return a.visible == b.visible && a.value == b.value && a.showText == b.showText && a.min == b.min
            && a.max == b.max;
    }
};

struct BoxCall
{
    int icon = 0;
    QString title;
    QString text;
    uint buttons = 0;
};

class TestFrontEnd : public WorkerFrontEnd
{
public:
    using WorkerFrontEnd::WorkerFrontEnd;

    /// Every activity line as "[icon] text", or "[icon]^ text" when it replaces the last line.
    QStringList lines;
    /// Everything in order: "clear", "line", "progress", "auto", "devices", "enable 0/1", "box".
    QStringList trace;
    QVector<ProgressCall> progress;
    QVector<ProgressCall> progressAuto;
    QVector<DeviceList> deviceLists;
    QVector<bool> enables;
    QVector<BoxCall> boxes;
    /// Answers for the coming message boxes; a box without a queued answer gets 0 (closed).
    QQueue<int> answers;
    /// Every board outcome and job end the worker reported, in order (not in `trace`, whose
    /// comparisons are about what the window sees).
    QVector<BoardOutcome> outcomes;
    QVector<JobOutcome> jobEnds;
    /// Runs while a box is open, before it is answered: the worker thread waits meanwhile, so a
    /// test can change the devices or request an abort at a known point of the job.
    std::function<void(const BoxCall &)> onBox;

    void reset()
    {
        lines.clear();
        trace.clear();
        progress.clear();
        progressAuto.clear();
        deviceLists.clear();
        enables.clear();
        boxes.clear();
        answers.clear();
        outcomes.clear();
        jobEnds.clear();
    }

    int messageBox(int icon, const QString &textTitle, const QString &textMsg, uint flagBtn) override
    {
        boxes.append({ icon, textTitle, textMsg, flagBtn });
        trace << QStringLiteral("box");
        if (onBox)
            onBox(boxes.last());
        return answers.isEmpty() ? 0 : answers.dequeue();
    }

    void insertListItem(int icon, QString text, int, bool bRemoveLastItem) override
    {
        lines << QStringLiteral("[%1]%2 %3").arg(icon).arg(bRemoveLastItem ? QStringLiteral("^") : QString(), text);
        trace << QStringLiteral("line");
    }
    void clearList() override { trace << QStringLiteral("clear"); }
    void updateProgressBar(bool bVisible, int nValue, bool bShowText, int nMin, int nMax) override
    {
        progress.append({ bVisible, nValue, bShowText, nMin, nMax });
        trace << QStringLiteral("progress");
    }
    void updateProgressBarAuto(bool bVisible, int nValue, bool bShowText, int nMin, int nMax) override
    {
        progressAuto.append({ bVisible, nValue, bShowText, nMin, nMax });
        trace << QStringLiteral("auto");
    }
    void updateDevicesCombo(QVector<OrvoDiscoveryInfo> dev) override
    {
        deviceLists.append(dev);
        trace << QStringLiteral("devices");
    }
    void enableControls(bool bEnable) override
    {
        enables.append(bEnable);
        trace << (bEnable ? QStringLiteral("enable 1") : QStringLiteral("enable 0"));
    }

    void boardOutcome(BoardOutcome outcome) override { outcomes.append(outcome); }
    void jobEnded(JobOutcome outcome) override { jobEnds.append(outcome); }

    /// Each board's latest outcome, in the order the job first reported it.
    QVector<BoardOutcome> latestOutcomes() const
    {
        QVector<BoardOutcome> out;
        for (const BoardOutcome &o : outcomes) {
            auto it = std::find_if(out.begin(), out.end(), [&o](const BoardOutcome &b) { return b.position == o.position; });
            if (it == out.end())
                out.append(o);
            else
                *it = o;
        }
        return out;
    }

    /// The trace without the entries of the given kinds (to look at the order of a few kinds).
    QStringList traceOf(const QStringList &kinds) const
    {
        QStringList out;
        for (const QString &t : trace) {
            if (kinds.contains(t.section(QLatin1Char(' '), 0, 0)))
                out << t;
        }
        return out;
    }
};

/// Compares recorded lines with expected ones; empty when they match, else a report. In an
/// expected line "{T}" stands for a board's time text ("   [..]" or nothing) and "{TT}" for a
/// whole run's ("     [..]" or nothing), whose values depend on the speed of the machine.
inline QString linesMismatch(const QStringList &actual, const QStringList &expected)
{
    static const QRegularExpression token(QStringLiteral("\\{(TT|T)\\}"));
    const QString time = QStringLiteral("\\[(\\d+ hrs, )?(\\d+ mins, )?\\d+ secs\\])?");
    QString report;
    for (int i = 0; i < qMax(actual.size(), expected.size()) && report.isEmpty(); ++i) {
        if (i >= actual.size()) {
            report = QStringLiteral("missing line %1: %2").arg(i).arg(expected.at(i));
            break;
        }
        if (i >= expected.size()) {
            report = QStringLiteral("extra line %1: %2").arg(i).arg(actual.at(i));
            break;
        }
        QString pattern;
        int from = 0;
        auto it = token.globalMatch(expected.at(i));
        while (it.hasNext()) {
            const QRegularExpressionMatch m = it.next();
            pattern += QRegularExpression::escape(expected.at(i).mid(from, m.capturedStart() - from));
            pattern += (m.captured(1) == QLatin1String("TT") ? QStringLiteral("( {5}") : QStringLiteral("( {3}")) + time;
            from = m.capturedEnd();
        }
        pattern += QRegularExpression::escape(expected.at(i).mid(from));
        const QRegularExpression re(QStringLiteral("\\A") + pattern + QStringLiteral("\\z"));
        if (!re.match(actual.at(i)).hasMatch())
            report = QStringLiteral("line %1 differs\n  expected: %2\n  actual:   %3")
                         .arg(i)
                         .arg(expected.at(i), actual.at(i));
    }
    if (!report.isEmpty())
        report += QStringLiteral("\nall lines:\n  ") + actual.join(QStringLiteral("\n  "));
    return report;
}

#define ORVO_COMPARE_LINES(actual, ...)                                                                               \
    do {                                                                                                             \
        const QString orvoMismatch = ::orvo::test::linesMismatch((actual), (__VA_ARGS__));                            \
        if (!orvoMismatch.isEmpty())                                                                                 \
            qWarning("%s", qPrintable(orvoMismatch));                                                                \
        QVERIFY2(orvoMismatch.isEmpty(), "activity lines differ (see the warning above)");                          \
    } while (false)

/// Turns the event loop until the host's job thread has ended and every queued signal has
/// reached the front end; false when that takes more than `timeoutMs` real milliseconds.
inline bool waitForIdle(WorkerHost &host, int timeoutMs = 120000)
{
    QElapsedTimer timer;
    timer.start();
    while (host.thread()->isRunning() || host.worker()->isWorking()) {
        QTest::qWait(2);
        if (timer.elapsed() > timeoutMs)
            return false;
    }
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    return true;
}

/// Requests `mode` through the host's request protocol, then waits for the job as waitForIdle
/// does. False when the request was refused or the job did not end in time.
inline bool runJob(WorkerHost &host, int mode, const std::function<void(Worker &)> &setInputs = {},
                   int timeoutMs = 120000)
{
    return host.request(mode, [&](Worker &w) {
        if (setInputs)
            setInputs(w);
    }) && waitForIdle(host, timeoutMs);
}

} // namespace orvo::test
