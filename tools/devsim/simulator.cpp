#include "simulator.h"

#include "catalogue.h"
#include "simulatorimpl.h"

#include <QJsonArray>

#include <cmath>
#include <cstdio>
#include <future>

namespace orvo::devsim {

namespace {

constexpr int kMaxEvents = 200000;

} // namespace

SteadyClock::duration Simulator::Impl::realDuration(double simMs) const
{
    const double us = simMs < 0 ? 0 : simMs * 1000.0 / speedUp;
    return std::chrono::microseconds(static_cast<std::int64_t>(std::llround(us)));
}

qint64 Simulator::Impl::simNow() const
{
    const auto real = std::chrono::duration_cast<std::chrono::microseconds>(SteadyClock::now() - origin);
    return static_cast<qint64>(static_cast<double>(real.count()) * speedUp / 1000.0);
}

void Simulator::Impl::event(int dev, int position, const QString &what)
{
    Event e;
    e.timeMs = simNow();
    e.device = devices[static_cast<std::size_t>(dev)]->config.address;
    e.position = position;
    e.what = what;
    if (verbose.load()) {
        const QByteArray line = QStringLiteral("devsim %1 ms  %2  pos %3  %4\n")
                                    .arg(e.timeMs)
                                    .arg(e.device)
                                    .arg(position)
                                    .arg(what)
                                    .toLocal8Bit();
        std::fputs(line.constData(), stderr);
    }
    if (events.size() >= kMaxEvents)
        events.removeFirst();
    events.append(e);
}

void Simulator::Impl::violation(int dev, const QString &what, const QByteArray &bytes)
{
    violations.append({ devices[static_cast<std::size_t>(dev)]->config.address, what, bytes });
    event(dev, -1, QStringLiteral("violation: ") + what);
}

void Simulator::Impl::closeAll()
{
    for (auto &dp : devices) {
        closeAcceptor(*dp);
        closeConnections(*dp);
        if (dp->rebindTimer)
            dp->rebindTimer->cancel();
        for (BoardRt &b : dp->boards) {
            if (b.restartTimer)
                b.restartTimer->cancel();
        }
    }
    for (auto &[id, f] : faults) {
        if (f.vanishTimer)
            f.vanishTimer->cancel();
    }
}

DeviceRt *Simulator::Impl::device(int index) const
{
    if (index < 0 || index >= static_cast<int>(devices.size()))
        return nullptr;
    return devices[static_cast<std::size_t>(index)].get();
}

Simulator::Simulator(double speedUp) : d(std::make_unique<Impl>(speedUp)) { }

Simulator::~Simulator()
{
    stop();
}

bool Simulator::start(std::uint16_t commonPort, QString *error)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    if (d->started) {
        if (error)
            *error = QStringLiteral("already started");
        return false;
    }
    // Devices with their own port first: their failure is final.
    for (auto &dev : d->devices) {
        if (dev->config.port != 0 && !d->openAcceptor(*dev, dev->config.port, error)) {
            d->closeAll();
            return false;
        }
    }
    // The others share one port: the first picks it, the rest follow; a clash means a new port.
    bool ok = true;
    for (int attempt = 0; attempt < 50; ++attempt) {
        ok = true;
        std::uint16_t port = commonPort;
        for (auto &dev : d->devices) {
            if (dev->config.port != 0)
                continue;
            if (!d->openAcceptor(*dev, port, error)) {
                ok = false;
                break;
            }
            port = dev->port;
        }
        if (ok || commonPort != 0)
            break;
        for (auto &dev : d->devices) {
            if (dev->config.port == 0)
                d->closeAcceptor(*dev);
        }
    }
    if (!ok) {
        d->closeAll();
        return false;
    }
    d->origin = SteadyClock::now();
    d->started = true;
    for (int i = 0; i < static_cast<int>(d->devices.size()); ++i) {
        d->event(i, -1, QStringLiteral("listening"));
        d->accept(i, d->devices[static_cast<std::size_t>(i)]->acceptor);
    }
    d->work.emplace(asio::make_work_guard(d->io));
    d->thread = std::thread([this] { d->io.run(); });
    return true;
}

void Simulator::stop()
{
    {
        std::lock_guard<std::mutex> lock(d->mutex);
        if (!d->started || d->stopping)
            return;
        d->stopping = true;
    }
    asio::post(d->io, [this] {
        std::lock_guard<std::mutex> lock(d->mutex);
        d->closeAll();
        d->io.stop();
    });
    d->work.reset();
    if (d->thread.joinable())
        d->thread.join();
}

std::uint16_t Simulator::port(int device) const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    const DeviceRt *dev = d->device(device);
    return dev ? dev->port : 0;
}

int Simulator::deviceCount() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return static_cast<int>(d->devices.size());
}

// Faults that stop or restart listening take effect before the call returns, so that a test's
// next connection already sees them. The acceptor belongs to the I/O thread, so the change is
// made there and waited for (bounded, in case the simulator is stopping).
void Simulator::updateListeningNow(int device)
{
    if (d->thread.get_id() == std::this_thread::get_id()) {
        std::lock_guard<std::mutex> lock(d->mutex);
        d->updateListening(device);
        return;
    }
    auto done = std::make_shared<std::promise<void>>();
    auto finished = done->get_future();
    asio::post(d->io, [this, device, done] {
        {
            std::lock_guard<std::mutex> lock(d->mutex);
            d->updateListening(device);
        }
        done->set_value();
    });
    finished.wait_for(std::chrono::seconds(2));
}

DeviceSnapshot Simulator::snapshot(int device) const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    DeviceSnapshot s;
    const DeviceRt *dev = d->device(device);
    if (!dev)
        return s;
    s.address = dev->config.address;
    s.name = dev->name;
    s.identifies = dev->identifies;
    s.renames = dev->renames;
    s.infoRequests = dev->infoRequests;
    s.connections = dev->connections;
    s.requests = dev->requests;
    s.listening = dev->acceptor != nullptr;
    s.port = dev->port;
    for (int i = 0; i < kPositions; ++i) {
        const BoardRt &b = dev->boards[static_cast<std::size_t>(i)];
        BoardSnapshot &o = s.boards[static_cast<std::size_t>(i)];
        o = b.counters;
        o.fitted = b.config.fitted;
        o.state = b.state;
        o.restarting = b.restarting;
        o.version = b.version;
    }
    return s;
}

QList<Violation> Simulator::violations() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->violations;
}

QList<Event> Simulator::events() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->events;
}

QJsonObject Simulator::stateJson() const
{
    QJsonArray devices;
    for (int i = 0; i < deviceCount(); ++i) {
        const DeviceSnapshot s = snapshot(i);
        QJsonArray boards;
        std::uint32_t type = 0;
        {
            std::lock_guard<std::mutex> lock(d->mutex);
            type = d->devices[static_cast<std::size_t>(i)]->config.type;
        }
        for (int p = 0; p < kPositions; ++p) {
            const BoardSnapshot &b = s.boards[static_cast<std::size_t>(p)];
            if (!b.fitted)
                continue;
            const int imageBytes = b.fpgaImage.isEmpty() ? static_cast<int>(b.hexImage.size()) : b.fpgaImage.size();
            boards.append(QJsonObject {
                { "position", p },
                { "name", panelName(static_cast<int>(type), p) },
                { "state", boardStateName(b.state) },
                { "restarting", b.restarting },
                { "version", b.version },
                { "statusQueries", b.statusQueries },
                { "enterRequests", b.enterRequests },
                { "erases", b.erases },
                { "recordsAccepted", b.recordsAccepted },
                { "checksumErrors", b.checksumErrors },
                { "leaveRequests", b.leaveRequests },
                { "picQueries", b.picQueries },
                { "resets", b.resets },
                { "requests", b.requests },
                { "imageBytes", imageBytes },
                { "imageDigest", QString::fromLatin1(imageDigest(b)) },
            });
            if (!b.expectedDigest.isEmpty()) {
                QJsonObject last = boards.last().toObject();
                last.insert(QStringLiteral("expectedDigest"), QString::fromLatin1(b.expectedDigest));
                last.insert(QStringLiteral("imageAsExpected"), imageAsExpected(b));
                boards.replace(boards.size() - 1, last);
            }
        }
        devices.append(QJsonObject {
            { "address", s.address },
            { "port", s.port },
            { "type", static_cast<qint64>(type) },
            { "name", QString::fromLatin1(s.name) },
            { "listening", s.listening },
            { "requests", s.requests },
            { "connections", s.connections },
            { "infoRequests", s.infoRequests },
            { "renames", s.renames },
            { "identifies", s.identifies },
            { "boards", boards },
        });
    }
    QJsonArray violations;
    for (const Violation &v : this->violations())
        violations.append(QJsonObject {
            { "device", v.device }, { "what", v.what }, { "bytes", QString::fromLatin1(v.bytes.toHex(' ')) } });
    QJsonArray events;
    for (const Event &e : this->events())
        events.append(QJsonObject {
            { "timeMs", e.timeMs }, { "device", e.device }, { "position", e.position }, { "what", e.what } });
    return QJsonObject { { "timeMs", nowMs() }, { "speedUp", speedUp() }, { "devices", devices },
        { "violations", violations }, { "events", events } };
}

void Simulator::setVerbose(bool on)
{
    d->verbose.store(on);
}

QString Simulator::address(int device) const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    const DeviceRt *dev = d->device(device);
    return dev ? dev->config.address : QString();
}

qint64 Simulator::nowMs() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->simNow();
}

double Simulator::speedUp() const
{
    return d->speedUp;
}

void Simulator::clearViolations()
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->violations.clear();
}

} // namespace orvo::devsim
