#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>

#include <cstddef>
#include <cstdint>
#include <string>

namespace orvo {

class Clock;

/// A one-exchange TCP client with a time-out on each of connect, write and read.
///
/// Every operation is started asynchronously and the I/O context is run for at most its
/// time-out; an operation that has not finished by then is cancelled by closing the socket and
/// counts as failed. Never throws, never retries: retries belong to the callers. Time-outs are
/// in milliseconds of the given clock.
class BlockingTcpClient
{
public:
    explicit BlockingTcpClient(Clock &clock);
    ~BlockingTcpClient();

    BlockingTcpClient(const BlockingTcpClient &) = delete;
    BlockingTcpClient &operator=(const BlockingTcpClient &) = delete;

    /// Resolves `host` (IPv4 text) and `service` (decimal port) and connects; true when the
    /// connection stands without error within `timeoutMs`.
    bool connect(const std::string &host, const std::string &service, int timeoutMs);
    /// Sends all `n` bytes; true only if all went out within `timeoutMs`.
    bool write(const std::uint8_t *data, std::size_t n, int timeoutMs);
    /// Receives exactly `n` bytes; returns `n` when all arrived within `timeoutMs`, else 0.
    std::size_t read(std::uint8_t *data, std::size_t n, int timeoutMs);
    /// Closes the socket if it is open.
    void close();

    bool isOpen() const { return m_socket.is_open(); }

private:
    bool run(int timeoutMs);

    Clock &m_clock;
    boost::asio::io_context m_io;
    boost::asio::ip::tcp::socket m_socket;
};

} // namespace orvo
