#pragma once

// A listener on 127.0.0.1 that never accepts, for what the device simulator cannot do at the
// TCP level: with its one queue place taken by a filler connection the kernel drops further
// SYNs, so a connect to it stays pending until the client gives up; without the filler a
// connect completes but nothing is ever read.

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>

#include <cstdint>

namespace orvo::test {

class StuckListener
{
public:
    explicit StuckListener(bool queueFull = true) : m_acceptor(m_io), m_filler(m_io)
    {
        namespace ip = boost::asio::ip;
        const ip::tcp::endpoint any(ip::make_address("127.0.0.1"), 0);
        m_acceptor.open(any.protocol());
        m_acceptor.bind(any);
        m_acceptor.listen(0);
        if (queueFull)
            m_filler.connect(m_acceptor.local_endpoint());
    }

    std::uint16_t port() const { return m_acceptor.local_endpoint().port(); }

private:
    boost::asio::io_context m_io;
    boost::asio::ip::tcp::acceptor m_acceptor;
    boost::asio::ip::tcp::socket m_filler;
};

} // namespace orvo::test
