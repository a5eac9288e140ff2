#include "clock.h"

#include <QtTest>

#include <ctime>

using namespace orvo;
using namespace std::chrono_literals;

namespace {
double cpuSeconds()
{
    return double(std::clock()) / CLOCKS_PER_SEC;
}
} // namespace

class tst_Clock : public QObject
{
    Q_OBJECT

private slots:
    void scaledClockRunsFaster();
    void realSocketWaitsAreKept();
    void tickWaitDoesNotSpin();
};

void tst_Clock::scaledClockRunsFaster()
{
    ScaledClock clock(1000);
    const auto start = clock.now();
    clock.sleepFor(10'500ms); // the longest restart wait
    QVERIFY(clock.elapsedMs(start) >= 10'500);
}

void tst_Clock::realSocketWaitsAreKept()
{
    RealClock real;
    QCOMPARE(real.socketWaitMs(5000), 5000);
    QCOMPARE(real.socketWaitMs(-3), 0);
}

void tst_Clock::tickWaitDoesNotSpin()
{
    // 20 real ticks of 10 ms: a busy wait would burn about 200 ms of CPU.
    Ticker ticker(Clock::real());
    const double cpu0 = cpuSeconds();
    for (int i = 1; i <= 20; ++i)
        ticker.waitTick(i);
    QVERIFY2(cpuSeconds() - cpu0 < 0.1, "ticks must sleep, not spin");
}

QTEST_GUILESS_MAIN(tst_Clock)
#include "tst_clock.moc"
