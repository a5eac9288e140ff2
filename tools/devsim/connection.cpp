#include "simulatorimpl.h"

#ifndef _WIN32
#include <fcntl.h>
#endif

namespace orvo::devsim {

namespace {

constexpr auto kIdleTimeout = std::chrono::seconds(60); // a client that never completes its request
constexpr auto kRebindRetry = std::chrono::milliseconds(50);

// A program started by a test (or by the simulator's host) must not inherit the listening
// socket: it would keep the port bound after the device closed it for a restart.
template <typename Handle>
void closeOnExec(Handle fd)
{
#ifndef _WIN32
    const int flags = ::fcntl(fd, F_GETFD);
    if (flags >= 0)
        ::fcntl(fd, F_SETFD, flags | FD_CLOEXEC);
#else
    (void)fd; // Windows sockets are not inherited unless asked for
#endif
}

} // namespace

bool Simulator::Impl::openAcceptor(DeviceRt &d, std::uint16_t port, QString *error)
{
    boost::system::error_code ec;
    const auto address = asio::ip::make_address_v4(d.config.address.toStdString(), ec);
    if (ec) {
        if (error)
            *error = QStringLiteral("bad address %1").arg(d.config.address);
        return false;
    }
    auto acceptor = std::make_shared<tcp::acceptor>(io);
    const tcp::endpoint endpoint(address, port);
    acceptor->open(endpoint.protocol(), ec);
    if (!ec)
        closeOnExec(acceptor->native_handle());
    if (!ec)
        acceptor->set_option(tcp::acceptor::reuse_address(true), ec);
    if (!ec)
        acceptor->bind(endpoint, ec);
    if (!ec)
        acceptor->listen(asio::socket_base::max_listen_connections, ec);
    if (ec) {
        if (error)
            *error = QStringLiteral("cannot listen on %1:%2: %3")
                         .arg(d.config.address)
                         .arg(port)
                         .arg(QString::fromStdString(ec.message()));
        return false;
    }
    d.port = acceptor->local_endpoint().port();
    d.acceptor = acceptor;
    return true;
}

void Simulator::Impl::closeAcceptor(DeviceRt &d)
{
    if (!d.acceptor)
        return;
    boost::system::error_code ec;
    d.acceptor->close(ec);
    d.acceptor.reset();
}

void Simulator::Impl::closeConnections(DeviceRt &d)
{
    for (auto &weak : d.connectionsOpen) {
        if (auto c = weak.lock())
            closeSocket(*c);
    }
    d.connectionsOpen.clear();
}

void Simulator::Impl::updateListening(int dev)
{
    if (stopping || !started)
        return;
    DeviceRt &d = *devices[static_cast<std::size_t>(dev)];
    bool vanished = false;
    const bool blocked = listeningBlocked(dev, &vanished);
    const bool want = !blocked && d.networkDown == 0;
    if (!want && d.acceptor) {
        closeAcceptor(d);
        if (vanished)
            closeConnections(d);
        event(dev, -1,
            blocked ? (vanished ? QStringLiteral("vanished") : QStringLiteral("refusing"))
                    : QStringLiteral("network down"));
    } else if (want && !d.acceptor) {
        QString error;
        if (openAcceptor(d, d.port, &error)) {
            event(dev, -1, QStringLiteral("listening"));
            accept(dev, d.acceptor);
        } else if (!d.rebindTimer) {
            // The port can be held for a moment by a socket of the last life; try again.
            d.rebindTimer = std::make_shared<asio::steady_timer>(io);
            d.rebindTimer->expires_after(kRebindRetry);
            d.rebindTimer->async_wait([this, dev](const boost::system::error_code &ec) {
                std::lock_guard<std::mutex> lock(mutex);
                if (ec || stopping)
                    return;
                devices[static_cast<std::size_t>(dev)]->rebindTimer.reset();
                updateListening(dev);
            });
        }
    }
}

// A program started by a test (or by the simulator's host) must not inherit the listening
// socket: it would keep the port bound after the device closed it for a restart.

void Simulator::Impl::accept(int dev, const std::shared_ptr<tcp::acceptor> &acceptor)
{
    auto conn = std::make_shared<Connection>(io, dev);
    acceptor->async_accept(conn->socket, [this, dev, acceptor, conn](const boost::system::error_code &ec) {
        std::lock_guard<std::mutex> lock(mutex);
        if (stopping)
            return;
        DeviceRt &d = *devices[static_cast<std::size_t>(dev)];
        if (d.acceptor != acceptor)
            return; // closed since (restart, fault): this acceptor is done
        if (ec) {
            // A failed accept (say, out of descriptors) is retried after a pause, not in a loop.
            auto pause = std::make_shared<asio::steady_timer>(io, kRebindRetry);
            pause->async_wait([this, dev, acceptor, pause](const boost::system::error_code &ec2) {
                std::lock_guard<std::mutex> lock2(mutex);
                if (!ec2 && !stopping && devices[static_cast<std::size_t>(dev)]->acceptor == acceptor)
                    accept(dev, acceptor);
            });
            return;
        }
        closeOnExec(conn->socket.native_handle());
        ++d.connections;
        d.connectionsOpen.remove_if([](const std::weak_ptr<Connection> &w) { return w.expired(); });
        d.connectionsOpen.push_back(conn);
        startConnection(conn);
        accept(dev, acceptor);
    });
}

void Simulator::Impl::closeSocket(Connection &c)
{
    boost::system::error_code ec;
    c.reading = false;
    c.idleTimer.cancel();
    c.replyTimer.cancel();
    if (c.socket.is_open()) {
        c.socket.shutdown(tcp::socket::shutdown_both, ec);
        c.socket.close(ec);
    }
}

void Simulator::Impl::startConnection(const std::shared_ptr<Connection> &conn)
{
    conn->idleTimer.expires_after(kIdleTimeout);
    conn->idleTimer.async_wait([this, conn](const boost::system::error_code &ec) {
        std::lock_guard<std::mutex> lock(mutex);
        if (ec || stopping || !conn->reading)
            return;
        if (!conn->request.isEmpty())
            violation(conn->device, QStringLiteral("incomplete request, no more bytes for 60 s"), conn->request);
        closeSocket(*conn);
    });
    readPart(conn, wire::kHeaderSize);
}

// Reads until the request holds `total` bytes; a request may come in any number of segments.
void Simulator::Impl::readPart(const std::shared_ptr<Connection> &conn, int total)
{
    const std::size_t want = static_cast<std::size_t>(total - conn->request.size());
    asio::async_read(conn->socket, asio::buffer(conn->buffer.data(), want),
        [this, conn, total](const boost::system::error_code &ec, std::size_t n) {
            std::lock_guard<std::mutex> lock(mutex);
            if (stopping)
                return;
            conn->request.append(conn->buffer.data(), static_cast<int>(n));
            if (ec) {
                onShortRequest(conn);
                return;
            }
            if (conn->request.size() == wire::kHeaderSize)
                onHeader(conn);
            else
                onRequest(conn);
        });
}

void Simulator::Impl::onShortRequest(const std::shared_ptr<Connection> &conn)
{
    if (!conn->reading)
        return; // closed by us
    if (conn->request.isEmpty())
        event(conn->device, -1, QStringLiteral("closed without a request"));
    else
        violation(conn->device, QStringLiteral("short request: %1 bytes").arg(conn->request.size()), conn->request);
    closeSocket(*conn);
}

void Simulator::Impl::onHeader(const std::shared_ptr<Connection> &conn)
{
    const wire::Header h = wire::decodeHeader(conn->request);
    const int size = wire::requestSize(h.kind);
    if (h.magic != wire::kMagic || size == 0) {
        DeviceRt &d = *devices[static_cast<std::size_t>(conn->device)];
        ++d.requests;
        violation(conn->device, wire::checkRequest(conn->request, d.config.type), conn->request);
        closeSocket(*conn);
        return;
    }
    if (size > wire::kHeaderSize)
        readPart(conn, size);
    else
        onRequest(conn);
}

void Simulator::Impl::onRequest(const std::shared_ptr<Connection> &conn)
{
    conn->reading = false;
    conn->idleTimer.cancel();
    boost::system::error_code ec;
    const std::size_t extra = conn->socket.available(ec);
    const Plan plan = handle(conn->device, conn->request, !ec && extra > 0);
    if (!plan.hold && !plan.flood) {
        // Its reply is under way: a device that vanishes after this request still sends it.
        devices[static_cast<std::size_t>(conn->device)]->connectionsOpen.remove_if(
            [&conn](const std::weak_ptr<Connection> &w) { return w.lock() == conn; });
    }
    deliver(conn, plan);
    updateListening(conn->device);
}

void Simulator::Impl::deliver(const std::shared_ptr<Connection> &conn, const Plan &plan)
{
    if (plan.hold) {
        drain(conn);
        return;
    }
    if (plan.flood) {
        flood(conn, plan);
        return;
    }
    if (plan.reply.isEmpty()) {
        closeSocket(*conn);
        return;
    }
    conn->reply = plan.reply;
    conn->splitAt = plan.splitAt > 0 && plan.splitAt < plan.reply.size() ? plan.splitAt : 0;
    conn->splitDelay = realDuration(plan.splitDelayMs);
    if (plan.trickleMs >= 0) {
        conn->trickle = true;
        conn->splitDelay = realDuration(plan.trickleMs);
    }
    if (plan.delayMs > 0) {
        conn->replyTimer.expires_after(realDuration(plan.delayMs));
        conn->replyTimer.async_wait([this, conn](const boost::system::error_code &ec) {
            std::lock_guard<std::mutex> lock(mutex);
            if (ec || stopping)
                return;
            write(conn, 0);
        });
    } else {
        write(conn, 0);
    }
}

// Writes the reply from `from`; the first part of a split reply ends at splitAt.
void Simulator::Impl::write(const std::shared_ptr<Connection> &conn, int from)
{
    const int to = conn->trickle ? from + 1 : (from == 0 && conn->splitAt > 0) ? conn->splitAt : conn->reply.size();
    asio::async_write(conn->socket, asio::buffer(conn->reply.constData() + from, static_cast<std::size_t>(to - from)),
        [this, conn, to](const boost::system::error_code &ec, std::size_t) {
            std::lock_guard<std::mutex> lock(mutex);
            if (stopping)
                return;
            if (ec || to >= conn->reply.size()) {
                closeSocket(*conn);
                return;
            }
            conn->replyTimer.expires_after(conn->splitDelay);
            conn->replyTimer.async_wait([this, conn, to](const boost::system::error_code &ec2) {
                std::lock_guard<std::mutex> lock(mutex);
                if (ec2 || stopping)
                    return;
                write(conn, to);
            });
        });
}

} // namespace orvo::devsim
