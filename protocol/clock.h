#pragma once

#include <chrono>
#include <cstdint>

class QString;

namespace orvo {

/// The one source of time for the transports, the firmware update and the jobs.
///
/// Every sleep, 10 ms tick and socket wait goes through a Clock so that tests can run the
/// device's 105 s restart wait in milliseconds. Time points are on a monotonic clock; a scaled
/// clock runs its own time `factor` times faster than real time.
class Clock
{
public:
    using time_point = std::chrono::steady_clock::time_point;
    using milliseconds = std::chrono::milliseconds;

    virtual ~Clock() = default;

    /// Current time of this clock (monotonic).
    virtual time_point now() const = 0;

    /// Blocks the calling thread until `deadline` of this clock has passed; returns at once
    /// for a deadline in the past. Never spins.
    virtual void sleepUntil(time_point deadline) = 0;

    /// Real milliseconds to give a blocking socket wait that stands for `ms` of this clock's time
    /// (at least 0). A scaled clock shortens the wait but keeps a floor, so that a loopback peer
    /// under a sanitizer still has time to answer.
    virtual int socketWaitMs(int ms) const = 0;

    /// How many times faster than real time this clock runs: 1 for real time.
    virtual double factor() const { return 1.0; }

    void sleepFor(milliseconds d) { sleepUntil(now() + d); }

    /// Milliseconds of this clock's time since `since`.
    std::int64_t elapsedMs(time_point since) const
    {
        return std::chrono::duration_cast<milliseconds>(now() - since).count();
    }

    /// The process-wide real-time clock, the default of every component.
    static Clock &real();
};

/// Real time: sleeps are real, socket waits are passed through unchanged.
class RealClock final : public Clock
{
public:
    time_point now() const override;
    void sleepUntil(time_point deadline) override;
    int socketWaitMs(int ms) const override { return ms < 0 ? 0 : ms; }
};

/// A clock whose time runs `factor` times faster than real time, for tests and demos.
/// With factor 1000 the 10,500 ticks of a restart wait take about 105 ms.
class ScaledClock final : public Clock
{
public:
    /// `factor` >= 1; `minSocketWaitMs` is the real floor of a shortened socket wait.
    explicit ScaledClock(double factor, int minSocketWaitMs = 250);

    time_point now() const override;
    void sleepUntil(time_point deadline) override;
    int socketWaitMs(int ms) const override;

    double factor() const override { return m_factor; }

private:
    time_point m_origin;
    double m_factor;
    int m_minSocketWaitMs;
};

/// Whether `address` (dotted IPv4 text) lies in 127.0.0.0/8, where the device simulator runs.
///
/// A clock faster than real time cuts a board's restart and erase waits and every reply
/// time-out by its factor; a real board needs them in full, or it is left half-written. So a
/// faster clock may drive exchanges with these addresses only: the front ends refuse anything
/// else before a byte is sent, and the worker refuses such a job again on its own.
bool isLoopbackAddress(const QString &address);

/// Ten-millisecond ticks against absolute deadlines: tick i ends at start + i * 10 ms, so a late
/// wake-up is made up by the next tick instead of stretching the whole wait.
class Ticker
{
public:
    explicit Ticker(Clock &clock) : m_clock(clock), m_start(clock.now()) { }

    /// Sleeps until the end of tick `i` (1-based) counted from construction.
    void waitTick(int i) { m_clock.sleepUntil(m_start + std::chrono::milliseconds(10) * i); }

private:
    Clock &m_clock;
    Clock::time_point m_start;
};

} // namespace orvo
