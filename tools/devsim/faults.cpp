#include "simulatorimpl.h"

#include <algorithm>

namespace orvo::devsim {

namespace {

constexpr int kSplitFirstPart = 40;
constexpr int kLongReplyExtra = 64 * 1024;
constexpr int kTrickleMs = 100;
constexpr int kFloodChunk = 64 * 1024; // one buffer, written again and again: the flood costs no memory

struct FaultName
{
    FaultKind kind;
    const char *name;
};

const FaultName kFaultNames[] = {
    { FaultKind::NeverAnswer, "NeverAnswer" },
    { FaultKind::WrongReplyCode, "WrongReplyCode" },
    { FaultKind::WrongEcho, "WrongEcho" },
    { FaultKind::ChecksumRefusals, "ChecksumRefusals" },
    { FaultKind::SplitReply, "SplitReply" },
    { FaultKind::DelayReply, "DelayReply" },
    { FaultKind::AcceptNoAnswer, "AcceptNoAnswer" },
    { FaultKind::EraseNeverConfirmed, "EraseNeverConfirmed" },
    { FaultKind::StayInBootLoader, "StayInBootLoader" },
    { FaultKind::VersionZeroAfterImage, "VersionZeroAfterImage" },
    { FaultKind::WrongLength, "WrongLength" },
    { FaultKind::WrongKind, "WrongKind" },
    { FaultKind::WrongDeviceType, "WrongDeviceType" },
    { FaultKind::DiscoveryType5, "DiscoveryType5" },
    { FaultKind::RefuseConnections, "RefuseConnections" },
    { FaultKind::Vanish, "Vanish" },
    { FaultKind::LongReply, "LongReply" },
    { FaultKind::AllBytesFF, "AllBytesFF" },
    { FaultKind::Trickle, "Trickle" },
    { FaultKind::Flood, "Flood" },
    { FaultKind::ForeignRecord, "ForeignRecord" },
};

} // namespace

QString faultKindName(FaultKind kind)
{
    for (const FaultName &f : kFaultNames) {
        if (f.kind == kind)
            return QString::fromLatin1(f.name);
    }
    return {};
}

bool faultKindFromName(const QString &name, FaultKind *kind)
{
    for (const FaultName &f : kFaultNames) {
        if (name.compare(QLatin1String(f.name), Qt::CaseInsensitive) == 0) {
            if (kind)
                *kind = f.kind;
            return true;
        }
    }
    return false;
}

std::vector<FaultRt *> Simulator::Impl::activeFaults(int dev, int position, int deviceRequest, int boardRequest)
{
    std::vector<FaultRt *> out;
    for (auto &[id, f] : faults) {
        if (f.device != dev)
            continue;
        int n = deviceRequest;
        if (f.fault.position >= 0) {
            if (f.fault.position != position)
                continue;
            n = boardRequest;
        }
        const bool on = n >= f.fault.startAt && (f.fault.count < 0 || n < f.fault.startAt + f.fault.count);
        if (on)
            out.push_back(&f);
    }
    return out;
}

FaultRt *Simulator::Impl::find(const std::vector<FaultRt *> &list, FaultKind kind)
{
    for (FaultRt *f : list) {
        if (f->fault.kind == kind)
            return f;
    }
    return nullptr;
}

// The device stops listening for a RefuseConnections or Vanish fault once `startAt` - 1 of its
// requests have been served.
bool Simulator::Impl::listeningBlocked(int dev, bool *vanished)
{
    DeviceRt &d = *devices[static_cast<std::size_t>(dev)];
    bool blocked = false;
    for (auto &[id, f] : faults) {
        if (f.device != dev)
            continue;
        if (f.fault.kind != FaultKind::RefuseConnections && f.fault.kind != FaultKind::Vanish)
            continue;
        if (d.requests < f.fault.startAt - 1)
            continue;
        blocked = true;
        if (f.fault.kind == FaultKind::Vanish) {
            *vanished = true;
            if (f.fault.param > 0 && !f.vanishTimerStarted)
                startVanishTimer(id, f);
        }
    }
    return blocked;
}

void Simulator::Impl::startVanishTimer(int faultId, FaultRt &f)
{
    f.vanishTimerStarted = true;
    f.vanishTimer = std::make_shared<asio::steady_timer>(io);
    f.vanishTimer->expires_after(realDuration(f.fault.param));
    f.vanishTimer->async_wait([this, faultId](const boost::system::error_code &ec) {
        std::lock_guard<std::mutex> lock(mutex);
        if (ec || stopping)
            return;
        auto it = faults.find(faultId);
        if (it == faults.end())
            return;
        const int dev = it->second.device;
        faults.erase(it);
        event(dev, -1, QStringLiteral("back"));
        updateListening(dev);
    });
}

void Simulator::Impl::applyReplyFaults(const std::vector<FaultRt *> &active, std::uint16_t kind, Plan *plan)
{
    QByteArray &r = plan->reply;
    const bool panel = kind == wire::KindPanel;
    if (FaultRt *f = find(active, FaultKind::WrongReplyCode); f && panel) {
        const std::uint8_t code = static_cast<std::uint8_t>(r.at(13));
        std::uint8_t other = f->fault.param > 0
            ? static_cast<std::uint8_t>(f->fault.param)
            : (code == wire::kReplyStatus ? wire::kReplyAccepted : wire::kReplyStatus);
        if (other == code)
            other = static_cast<std::uint8_t>(code + 1);
        r[13] = static_cast<char>(other);
    }
    if (FaultRt *f = find(active, FaultKind::WrongEcho); f && panel) {
        const int p = f->fault.param;
        const int index = (p == 2 || p == 3 || p == 6 || p == 7) ? p : 2;
        r[wire::kHeaderSize + index] = static_cast<char>(r.at(wire::kHeaderSize + index) + 1);
    }
    if (FaultRt *f = find(active, FaultKind::WrongKind)) {
        std::uint16_t other = static_cast<std::uint16_t>(f->fault.param);
        if (other == kind)
            other = kind == wire::KindPanel ? wire::KindInfo : wire::KindPanel;
        wire::putU16(r, 8, other);
    }
    if (FaultRt *f = find(active, FaultKind::WrongDeviceType)) {
        std::uint16_t other = static_cast<std::uint16_t>(f->fault.param);
        if (other == wire::getU16(r, 10))
            other = static_cast<std::uint16_t>(other + 1);
        wire::putU16(r, 10, other);
    }
    if (FaultRt *f = find(active, FaultKind::WrongLength)) {
        int length = f->fault.param > 0 ? f->fault.param : r.size() - 1;
        if (length == r.size())
            length = r.size() - 1;
        const int old = r.size();
        r.resize(length);
        for (int i = old; i < length; ++i)
            r[i] = '\0';
    }
    if (FaultRt *f = find(active, FaultKind::AllBytesFF)) {
        const int keep = f->fault.param == 1 ? wire::kHeaderSize : 0;
        for (int i = keep; i < r.size(); ++i)
            r[i] = '\xFF';
    }
    if (FaultRt *f = find(active, FaultKind::LongReply))
        r.append(QByteArray(f->fault.param > 0 ? f->fault.param : kLongReplyExtra, '\xA5'));
    if (FaultRt *f = find(active, FaultKind::Trickle))
        plan->trickleMs = f->fault.param > 0 ? f->fault.param : kTrickleMs;
    if (FaultRt *f = find(active, FaultKind::DelayReply))
        plan->delayMs = f->fault.param;
    if (FaultRt *f = find(active, FaultKind::SplitReply)) {
        plan->splitAt = std::min(kSplitFirstPart, r.size() - 1);
        plan->splitDelayMs = f->fault.param;
    }
}

// Sends copies of the reply (filler where no reply is due) until `floodBytes` have gone, then
// holds the connection open: it never ends from this side. Stops when the client goes away.
void Simulator::Impl::flood(const std::shared_ptr<Connection> &conn, const Plan &plan)
{
    const QByteArray unit = plan.reply.isEmpty() ? QByteArray(1, '\x5A') : plan.reply;
    conn->reply.clear();
    conn->reply.reserve(kFloodChunk);
    while (conn->reply.size() < kFloodChunk)
        conn->reply.append(unit);
    conn->reply.truncate(kFloodChunk);
    conn->floodLeft = plan.floodBytes > 0 ? plan.floodBytes : -1;
    floodWrite(conn);
}

void Simulator::Impl::floodWrite(const std::shared_ptr<Connection> &conn)
{
    if (conn->floodLeft == 0) {
        drain(conn);
        return;
    }
    const qint64 n = conn->floodLeft < 0 ? conn->reply.size() : std::min<qint64>(conn->floodLeft, conn->reply.size());
    asio::async_write(conn->socket, asio::buffer(conn->reply.constData(), static_cast<std::size_t>(n)),
        [this, conn, n](const boost::system::error_code &ec, std::size_t) {
            std::lock_guard<std::mutex> lock(mutex);
            if (!transferGoesOn(*conn, ec))
                return;
            if (conn->floodLeft > 0)
                conn->floodLeft -= n;
            floodWrite(conn);
        });
}

// Holds a connection without answering: reads and discards until the client goes away.
void Simulator::Impl::drain(const std::shared_ptr<Connection> &conn)
{
    conn->socket.async_read_some(
        asio::buffer(conn->buffer), [this, conn](const boost::system::error_code &ec, std::size_t) {
            std::lock_guard<std::mutex> lock(mutex);
            if (!transferGoesOn(*conn, ec))
                return;
            drain(conn);
        });
}

// The end of one write of a flood or one read of a drain: whether to start the next. A failed
// transfer means the client went away, and its socket is closed here.
bool Simulator::Impl::transferGoesOn(Connection &conn, const boost::system::error_code &ec)
{
    if (stopping)
        return false;
    if (ec) {
        closeSocket(conn);
        return false;
    }
    return true;
}

int Simulator::addFault(int device, const Fault &fault)
{
    std::unique_lock<std::mutex> lock(d->mutex);
    if (!d->device(device))
        return -1;
    const int id = d->nextFaultId++;
    FaultRt f;
    f.device = device;
    f.fault = fault;
    d->faults.emplace(id, std::move(f));
    d->event(device, fault.position, QStringLiteral("fault on: ") + faultKindName(fault.kind));
    lock.unlock();
    updateListeningNow(device);
    return id;
}

void Simulator::removeFault(int faultId)
{
    std::unique_lock<std::mutex> lock(d->mutex);
    auto it = d->faults.find(faultId);
    if (it == d->faults.end())
        return;
    const int device = it->second.device;
    d->event(device, it->second.fault.position, QStringLiteral("fault off: ") + faultKindName(it->second.fault.kind));
    d->faults.erase(it); // a pending vanish timer finds its fault gone
    lock.unlock();
    updateListeningNow(device);
}

void Simulator::clearFaults(int device)
{
    std::unique_lock<std::mutex> lock(d->mutex);
    for (auto it = d->faults.begin(); it != d->faults.end();) {
        if (it->second.device == device)
            it = d->faults.erase(it);
        else
            ++it;
    }
    if (!d->device(device))
        return;
    d->event(device, -1, QStringLiteral("faults cleared"));
    lock.unlock();
    updateListeningNow(device);
}

} // namespace orvo::devsim
