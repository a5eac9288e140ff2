#include "blockingtcpclient.h"

#include "clock.h"

#include <boost/asio/connect.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/write.hpp>

#include <chrono>

namespace orvo {

namespace asio = boost::asio;
using asio::ip::tcp;

BlockingTcpClient::BlockingTcpClient(Clock &clock) : m_clock(clock), m_socket(m_io) { }

BlockingTcpClient::~BlockingTcpClient()
{
    close();
}

bool BlockingTcpClient::run(int timeoutMs)
{
    // Give the pending operation at most its time-out. If it has not finished by then, closing
    // the socket cancels it; the context must still run until the cancelled handler has been
    // called, or the handler would fire later on a stack frame that no longer exists.
    m_io.restart();
    m_io.run_for(std::chrono::milliseconds(m_clock.socketWaitMs(timeoutMs)));
    if (m_io.stopped())
        return true;
    close();
    m_io.restart();
    m_io.run();
    return false;
}

bool BlockingTcpClient::connect(const std::string &host, const std::string &service, int timeoutMs)
{
    close();
    boost::system::error_code ec;
    // Numeric only: the host is always dotted decimal text, and a name must never turn into a
    // DNS query that blocks beyond the connect time-out.
    tcp::resolver resolver(m_io);
    const auto endpoints
        = resolver.resolve(host, service, tcp::resolver::numeric_host | tcp::resolver::numeric_service, ec);
    if (ec || endpoints.empty())
        return false;

    ec = asio::error::would_block;
    asio::async_connect(
        m_socket, endpoints, [&ec](const boost::system::error_code &result, const tcp::endpoint &) { ec = result; });
    if (!run(timeoutMs) || ec) {
        close();
        return false;
    }
    return m_socket.is_open();
}

bool BlockingTcpClient::write(const std::uint8_t *data, std::size_t n, int timeoutMs)
{
    if (!m_socket.is_open() || (!data && n > 0))
        return false;
    boost::system::error_code ec = asio::error::would_block;
    std::size_t written = 0;
    asio::async_write(
        m_socket, asio::buffer(data, n), [&ec, &written](const boost::system::error_code &result, std::size_t count) {
            ec = result;
            written = count;
        });
    return run(timeoutMs) && !ec && written == n;
}

std::size_t BlockingTcpClient::read(std::uint8_t *data, std::size_t n, int timeoutMs)
{
    if (!m_socket.is_open() || !data || n == 0)
        return 0;
    boost::system::error_code ec = asio::error::would_block;
    std::size_t received = 0;
    asio::async_read(m_socket, asio::buffer(data, n), asio::transfer_exactly(n),
        [&ec, &received](const boost::system::error_code &result, std::size_t count) {
            ec = result;
            received = count;
        });
    if (!run(timeoutMs) || ec || received != n)
        return 0;
    return n;
}

void BlockingTcpClient::close()
{
    if (!m_socket.is_open())
        return;
    boost::system::error_code ignored;
    m_socket.shutdown(tcp::socket::shutdown_both, ignored);
    m_socket.close(ignored);
}

} // namespace orvo
