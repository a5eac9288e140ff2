#pragma once

// Small loopback peers for the transport tests, where the device simulator cannot misbehave
// at the TCP level: a scripted peer that answers one connection byte for byte, and a listener
// whose accept queue is full so that a connect to it hangs.

#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/write.hpp>

#include <QByteArray>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace orvo::test {

/// Accepts one connection on 127.0.0.1, reads `expect` bytes, then plays its steps: send some
/// bytes, pause, and finally close or hold the connection until destroyed.
class ScriptedPeer
{
public:
    struct Step
    {
        QByteArray send;
        int pauseMsBefore = 0; ///< real milliseconds before sending
    };

    ScriptedPeer(std::size_t expect, std::vector<Step> steps, bool holdOpen)
        : m_acceptor(m_io, boost::asio::ip::tcp::endpoint(boost::asio::ip::make_address("127.0.0.1"), 0))
        , m_expect(expect)
        , m_steps(std::move(steps))
        , m_hold(holdOpen)
    {
        m_port = m_acceptor.local_endpoint().port();
        m_thread = std::thread([this] { serve(); });
    }

    ~ScriptedPeer()
    {
        m_stop = true;
        // Unblock an accept that never got its client; a peer that is past its accept ignores
        // this connection. (The client of a test is gone by now, so no read is left blocking.)
        boost::system::error_code ignored;
        {
            boost::asio::io_context io;
            boost::asio::ip::tcp::socket poke(io);
            poke.connect({ boost::asio::ip::make_address("127.0.0.1"), m_port }, ignored);
        }
        m_thread.join();
    }

    std::uint16_t port() const { return m_port; }

    /// The bytes the peer received (at most `expect`).
    QByteArray received() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_received;
    }

private:
    void serve()
    {
        boost::system::error_code ec;
        boost::asio::ip::tcp::socket socket(m_io);
        m_acceptor.accept(socket, ec);
        if (ec || m_stop)
            return;
        std::vector<char> buf(m_expect);
        const std::size_t n = m_expect ? boost::asio::read(socket, boost::asio::buffer(buf), ec) : 0;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_received = QByteArray(buf.data(), static_cast<int>(n));
        }
        for (const Step &step : m_steps) {
            std::this_thread::sleep_for(std::chrono::milliseconds(step.pauseMsBefore));
            boost::asio::write(socket, boost::asio::buffer(step.send.constData(), step.send.size()), ec);
        }
        while (m_hold && !m_stop)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        socket.close(ec);
    }

    boost::asio::io_context m_io;
    boost::asio::ip::tcp::acceptor m_acceptor;
    std::size_t m_expect;
    std::vector<Step> m_steps;
    bool m_hold;
    std::uint16_t m_port = 0;
    std::atomic<bool> m_stop { false };
    mutable std::mutex m_mutex;
    QByteArray m_received;
    std::thread m_thread;
};

/// A listener on 127.0.0.1 with a backlog of 0 whose one queue place is taken by a filler
/// connection that is never accepted: the kernel drops further SYNs, so a connect to it stays
/// pending until the client gives up.
class StuckListener
{
public:
    StuckListener() : m_acceptor(m_io), m_filler(m_io)
    {
        namespace ip = boost::asio::ip;
        const ip::tcp::endpoint any(ip::make_address("127.0.0.1"), 0);
        m_acceptor.open(any.protocol());
        m_acceptor.bind(any);
        m_acceptor.listen(0);
        m_filler.connect(m_acceptor.local_endpoint());
    }

    std::uint16_t port() const { return m_acceptor.local_endpoint().port(); }

private:
    boost::asio::io_context m_io;
    boost::asio::ip::tcp::acceptor m_acceptor;
    boost::asio::ip::tcp::socket m_filler;
};

} // namespace orvo::test
