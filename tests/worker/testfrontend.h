#pragma once

// A front end for driving the Worker in tests: records every signal the worker sends, in order,
// and answers the worker's message boxes from a queue. Pair it with WorkerHost (which makes the
// connections) and runJob() below, which requests a job and keeps the event loop turning until
// the job's thread has ended, so that blocking message boxes are answered meanwhile.

#include "workerhost.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QQueue>
#include <QRegularExpression>
#include <QStringList>
#include <QTest>
#include <QThread>
#include <QVector>

#include <functional>

namespace orvo::test {

/// Keeps the jobs' debug lines (thousands in a console's update) out of the test log; warnings
/// still reach it.
inline void quietDebugLines()
{
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
}

constexpr BoxButton kYes = BoxButton::Yes;
constexpr BoxButton kNo = BoxButton::No;

class TestFrontEnd : public WorkerFrontEnd
{
public:
    using WorkerFrontEnd::WorkerFrontEnd;

    /// Every activity line as "[icon] text", or "[icon]^ text" when it replaces the last line.
    QStringList lines;
    /// Everything in order: "clear", "line", "progress", "auto", "devices", "enable 0/1", "box".
    QStringList trace;
    /// Progress values as "visible,value,showText,min,max" ("1,25,1,0,100").
    QStringList progress;
    QStringList progressAuto;
    QVector<DeviceList> deviceLists;
    QVector<bool> enables;
    /// Each message box as "icon/buttons title: text" ("4/14000 Auto Update: ...").
    QStringList boxes;
    /// Answers for the coming message boxes; a box without a queued answer is closed unanswered.
    QQueue<BoxButton> answers;
    /// Every job end the worker reported, in order (not in `trace`, whose comparisons are about
    /// what the window sees).
    QVector<JobOutcome> jobEnds;
    /// Runs while a box is open, before it is answered: the worker thread waits meanwhile, so a
    /// test can change the devices or request an abort at a known point of the job.
    std::function<void()> onBox;

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
        jobEnds.clear();
    }

    BoxButton messageBox(BoxIcon icon, const QString &textTitle, const QString &textMsg, BoxButtons flagBtn) override
    {
        boxes << QStringLiteral("%1/%2 %3: %4").arg(int(icon)).arg(quint32(flagBtn), 0, 16).arg(textTitle, textMsg);
        trace << QStringLiteral("box");
        if (onBox)
            onBox();
        return answers.isEmpty() ? BoxButton::None : answers.dequeue();
    }

    void insertListItem(RowIcon icon, QString text, bool bRemoveLastItem) override
    {
        lines
            << QStringLiteral("[%1]%2 %3").arg(int(icon)).arg(bRemoveLastItem ? QStringLiteral("^") : QString(), text);
        trace << QStringLiteral("line");
    }
    void clearList() override { trace << QStringLiteral("clear"); }
    void updateProgressBar(bool bVisible, int nValue, bool bShowText, int nMin, int nMax) override
    {
        progress << progressText(bVisible, nValue, bShowText, nMin, nMax);
        trace << QStringLiteral("progress");
    }
    void updateProgressBarAuto(bool bVisible, int nValue, bool bShowText, int nMin, int nMax) override
    {
        progressAuto << progressText(bVisible, nValue, bShowText, nMin, nMax);
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
    void jobEnded(JobOutcome outcome) override { jobEnds.append(outcome); }

    static QString progressText(bool bVisible, int nValue, bool bShowText, int nMin, int nMax)
    {
        return QStringLiteral("%1,%2,%3,%4,%5").arg(int(bVisible)).arg(nValue).arg(int(bShowText)).arg(nMin).arg(nMax);
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

/// The lines without the elapsed time at their end ("   [1 mins, 5 secs]" of a board, five spaces
/// before a run's), which depends on the speed of the machine.
inline QStringList withoutTimes(QStringList lines)
{
    static const QRegularExpression time(QStringLiteral(" {3}( {2})?\\[(\\d+ hrs, )?(\\d+ mins, )?\\d+ secs\\]$"));
    return lines.replaceInStrings(time, QString());
}

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

/// Fills in a job's inputs.
using Inputs = std::function<void(WorkRequest &)>;

/// Requests `mode` through the host's request protocol, then waits for the job as waitForIdle
/// does. False when the request was refused or the job did not end in time.
inline bool runJob(WorkerHost &host, JobMode mode, const Inputs &setInputs = {}, int timeoutMs = 120000)
{
    WorkRequest request;
    request.mode = mode;
    if (setInputs)
        setInputs(request);
    return host.request(request) && waitForIdle(host, timeoutMs);
}

} // namespace orvo::test
