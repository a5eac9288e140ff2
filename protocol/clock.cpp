#include "clock.h"

#include <QHostAddress>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <thread>

namespace orvo {

Clock &Clock::real()
{
    static RealClock clock;
    return clock;
}

Clock::time_point RealClock::now() const
{
    return std::chrono::steady_clock::now();
}

void RealClock::sleepUntil(time_point deadline)
{
    std::this_thread::sleep_until(deadline);
}

ScaledClock::ScaledClock(double factor, int minSocketWaitMs)
    : m_origin(std::chrono::steady_clock::now()), m_factor(factor < 1.0 ? 1.0 : factor),
      m_minSocketWaitMs(std::max(0, minSocketWaitMs))
{ }

Clock::time_point ScaledClock::now() const
{
    const auto real = std::chrono::steady_clock::now() - m_origin;
    const auto scaled = std::chrono::duration<double, std::nano>(real) * m_factor;
    return m_origin + std::chrono::duration_cast<std::chrono::nanoseconds>(scaled);
}

void ScaledClock::sleepUntil(time_point deadline)
{
    // Map the deadline of scaled time back onto the real monotonic clock and sleep until then.
    const auto scaled = std::chrono::duration<double, std::nano>(deadline - m_origin);
    const auto real = std::chrono::duration_cast<std::chrono::nanoseconds>(scaled / m_factor);
    std::this_thread::sleep_until(m_origin + real);
}

int ScaledClock::socketWaitMs(int ms) const
{
    if (ms <= 0)
        return 0;
    const int scaled = static_cast<int>(std::ceil(ms / m_factor));
    return std::min(ms, std::max(scaled, m_minSocketWaitMs));
}

bool isLoopbackAddress(const QString &address)
{
    // Dotted decimal only: QHostAddress also reads forms such as "127.1" or a bare number, which
    // no device record or normalised entry produces.
    const QStringList fields = address.split(QLatin1Char('.'));
    if (fields.size() != 4)
        return false;
    QHostAddress host;
    return host.setAddress(address) && host.protocol() == QAbstractSocket::IPv4Protocol
        && (host.toIPv4Address() >> 24) == 127;
}

} // namespace orvo
