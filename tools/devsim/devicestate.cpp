#include "catalogue.h"
#include "simulatorimpl.h"

namespace orvo::devsim {

namespace {

int findFittedBoard(const DeviceRt &d, const wire::PanelRequest &r)
{
    const int type = static_cast<int>(d.config.type);
    const PanelSlot slot { r.panel, r.channel, r.boardType, r.boardAddress };
    for (int i = 0; i < slotCount(type); ++i) {
        if (panelSlot(type, i) == slot)
            return d.boards[static_cast<std::size_t>(i)].config.fitted ? i : -1;
    }
    return -1;
}

std::uint8_t stateStatus(const BoardRt &b)
{
    return b.state == BoardState::Running ? wire::kStatusRunning : wire::kStatusBootLoader;
}

std::uint8_t replyByte8(const BoardRt &b, std::uint8_t code)
{
    if (code == wire::kReplyPic)
        return static_cast<std::uint8_t>(b.config.picVariant);
    return b.version;
}

std::uint8_t newVersion(int type, const BoardRt &b, const wire::PanelRequest &r)
{
    if (b.config.newVersion >= 0)
        return static_cast<std::uint8_t>(b.config.newVersion);
    return buildVersion(type, r.boardType);
}

} // namespace

Plan Simulator::Impl::handle(int dev, const QByteArray &request, bool trailingBytes)
{
    DeviceRt &d = *devices[static_cast<std::size_t>(dev)];
    ++d.requests;
    Plan plan;
    QString bad = wire::checkRequest(request, d.config.type);
    if (bad.isEmpty() && trailingBytes)
        bad = QStringLiteral("more bytes after the request");
    if (!bad.isEmpty()) {
        violation(dev, bad, request);
        return plan;
    }
    const wire::Header h = wire::decodeHeader(request);
    const std::uint16_t type16 = static_cast<std::uint16_t>(d.config.type & 0xFFFF);

    int position = -1;
    wire::PanelRequest panel;
    int boardRequest = 0;
    if (h.kind == wire::KindPanel) {
        panel = wire::decodePanelRequest(request);
        position = findFittedBoard(d, panel);
        if (position < 0) {
            event(dev, -1,
                QStringLiteral("no board at ch %1 panel %2 type %3 addr %4")
                    .arg(panel.channel)
                    .arg(panel.panel)
                    .arg(panel.boardType)
                    .arg(panel.boardAddress));
            return plan;
        }
        BoardRt &b = d.boards[static_cast<std::size_t>(position)];
        boardRequest = ++b.counters.requests;
    }
    const std::vector<FaultRt *> active = activeFaults(dev, position, d.requests, boardRequest);
    if (find(active, FaultKind::AcceptNoAnswer)) {
        event(dev, position, QStringLiteral("held without answer"));
        plan.hold = true;
        return plan;
    }
    if (find(active, FaultKind::NeverAnswer)) {
        event(dev, position, QStringLiteral("dropped"));
        return plan;
    }

    switch (h.kind) {
    case wire::KindInfo:
        ++d.infoRequests;
        event(dev, -1, QStringLiteral("info"));
        plan.reply = record(d, active);
        break;
    case wire::KindRename:
        ++d.renames;
        d.name = wire::renameName(request);
        event(dev, -1, QStringLiteral("rename"));
        plan.reply = record(d, active);
        break;
    case wire::KindIdentify:
        ++d.identifies;
        event(dev, -1, QStringLiteral("identify"));
        break;
    case wire::KindPanel: {
        BoardRt &b = d.boards[static_cast<std::size_t>(position)];
        if (b.restarting) {
            event(dev, position, QStringLiteral("ignored while restarting"));
            return plan;
        }
        std::uint8_t status = 0;
        const std::optional<std::uint8_t> code = boardRequestReply(dev, position, panel, active, &status);
        if (code)
            plan.reply
                = wire::encodePanelReply(type16, panel, *code, status ? status : stateStatus(b), replyByte8(b, *code));
        break;
    }
    default:
        break;
    }
    if (!plan.reply.isEmpty())
        applyReplyFaults(active, h.kind, &plan);
    if (FaultRt *f = find(active, FaultKind::Flood)) {
        event(dev, position, QStringLiteral("flooding"));
        plan.flood = true;
        plan.floodBytes = f->fault.param > 0 ? f->fault.param : 0;
    }
    return plan;
}

QByteArray Simulator::Impl::record(const DeviceRt &d, const std::vector<FaultRt *> &active)
{
    const std::uint16_t headerType
        = find(active, FaultKind::DiscoveryType5) ? 5 : static_cast<std::uint16_t>(d.config.type & 0xFFFF);
    if (FaultRt *f = find(active, FaultKind::ForeignRecord)) {
        if (const DeviceRt *other = device(f->fault.param)) {
            DeviceConfig config = d.config;
            config.mac = other->config.mac;
            return wire::encodeRecord(config, d.name, other->ip, headerType);
        }
    }
    return wire::encodeRecord(d.config, d.name, d.ip, headerType);
}

/// Acts on a panel command; returns the reply code, or nothing for no reply. `status` is set
/// when the reply carries another status than the board's state.
std::optional<std::uint8_t> Simulator::Impl::boardRequestReply(
    int dev, int position, const wire::PanelRequest &r, const std::vector<FaultRt *> &active, std::uint8_t *status)
{
    DeviceRt &d = *devices[static_cast<std::size_t>(dev)];
    BoardRt &b = d.boards[static_cast<std::size_t>(position)];
    const int type = static_cast<int>(d.config.type);
    const bool fpga = isFpgaBoard(type, r.boardType);
    switch (r.route) {
    case 4:
        if (r.command == 0x55) {
            ++b.counters.statusQueries;
            event(dev, position, QStringLiteral("status"));
            return wire::kReplyStatus;
        }
        if (r.subCommand == 0) {
            ++b.counters.enterRequests;
            event(dev, position, QStringLiteral("enter"));
            restart(dev, position, b.state == BoardState::Erased ? BoardState::Erased : BoardState::BootLoader,
                std::nullopt);
            return std::nullopt;
        }
        // An FPGA board takes its image without an enter request; a PIC board only in its boot loader.
        if (!fpga && b.state == BoardState::Running) {
            event(dev, position, QStringLiteral("erase refused: running"));
            return wire::kReplyStatus;
        }
        if (find(active, FaultKind::EraseNeverConfirmed)) {
            event(dev, position, QStringLiteral("erase not confirmed"));
            return wire::kReplyStatus;
        }
        ++b.counters.erases;
        b.state = BoardState::Erased;
        b.erasedSinceLeave = true;
        b.counters.hexImage.clear();
        b.counters.fpgaImage.clear();
        event(dev, position, QStringLiteral("erase"));
        *status = wire::kStatusErased;
        return wire::kReplyStatus;
    case 5:
        return programRecord(dev, position, r, active, fpga);
    case 6: {
        ++b.counters.leaveRequests;
        event(dev, position, QStringLiteral("leave"));
        if (!fpga && b.state == BoardState::Running) {
            restart(dev, position, BoardState::Running, std::nullopt);
            return std::nullopt;
        }
        if (find(active, FaultKind::StayInBootLoader)) {
            restart(dev, position, BoardState::BootLoader, std::nullopt);
            return std::nullopt;
        }
        std::optional<std::uint8_t> version;
        if (b.erasedSinceLeave) {
            version = find(active, FaultKind::VersionZeroAfterImage) ? std::uint8_t(0) : newVersion(type, b, r);
            b.erasedSinceLeave = false;
        }
        restart(dev, position, BoardState::Running, version);
        return std::nullopt;
    }
    case 8:
        if (r.command == 0x2C) {
            ++b.counters.picQueries;
            event(dev, position, QStringLiteral("pic"));
            if (b.config.picVariant < 0)
                return std::nullopt;
            return wire::kReplyPic;
        }
        ++b.counters.resets;
        event(dev, position, QStringLiteral("reset"));
        // Without an intact application the boot loader stays in charge after a reset.
        restart(dev, position,
            b.state == BoardState::Erased                                   ? BoardState::Erased
                : (b.state == BoardState::BootLoader && b.erasedSinceLeave) ? BoardState::BootLoader
                                                                            : BoardState::Running,
            std::nullopt);
        return std::nullopt;
    default:
        return std::nullopt;
    }
}

std::optional<std::uint8_t> Simulator::Impl::programRecord(
    int dev, int position, const wire::PanelRequest &r, const std::vector<FaultRt *> &active, bool fpga)
{
    BoardRt &b = devices[static_cast<std::size_t>(dev)]->boards[static_cast<std::size_t>(position)];
    if (!fpga && b.state == BoardState::Running) {
        event(dev, position, QStringLiteral("record refused: running"));
        return wire::kReplyStatus;
    }
    if (FaultRt *f = find(active, FaultKind::ChecksumRefusals); f && f->used < f->fault.param) {
        ++f->used;
        ++b.counters.checksumErrors;
        event(dev, position, QStringLiteral("record refused (fault)"));
        return wire::kReplyChecksum;
    }
    const auto at = [&r](int i) { return static_cast<std::uint8_t>(r.body.at(i)); };
    if (wire::recordChecksum(r.body, fpga) != at(8)) {
        ++b.counters.checksumErrors;
        event(dev, position, QStringLiteral("checksum error"));
        return wire::kReplyChecksum;
    }
    const int length = at(9);
    if (fpga) {
        b.counters.fpgaImage.append(r.body.mid(15, length));
    } else {
        const std::uint32_t address = wire::getU32(r.body, 10);
        for (int i = 0; i < length; ++i)
            b.counters.hexImage[address + static_cast<std::uint32_t>(i)] = at(15 + i);
    }
    ++b.counters.recordsAccepted;
    event(dev, position, QStringLiteral("record"));
    return wire::kReplyAccepted;
}

void Simulator::Impl::restart(int dev, int position, BoardState after, std::optional<std::uint8_t> version)
{
    DeviceRt &d = *devices[static_cast<std::size_t>(dev)];
    BoardRt &b = d.boards[static_cast<std::size_t>(position)];
    const PanelSlot slot = panelSlot(static_cast<int>(d.config.type), position);
    b.restarting = true;
    b.restartTakesNetwork = restartsNetwork(static_cast<int>(d.config.type), slot);
    const std::uint64_t generation = ++b.restartGeneration;
    if (b.restartTakesNetwork)
        ++d.networkDown;
    event(dev, position, QStringLiteral("restarting"));
    b.restartTimer = std::make_shared<asio::steady_timer>(io);
    b.restartTimer->expires_after(realDuration(b.config.restartMs));
    b.restartTimer->async_wait([this, dev, position, generation, after, version](const boost::system::error_code &ec) {
        std::lock_guard<std::mutex> lock(mutex);
        if (ec || stopping)
            return;
        DeviceRt &dd = *devices[static_cast<std::size_t>(dev)];
        BoardRt &bb = dd.boards[static_cast<std::size_t>(position)];
        if (bb.restartGeneration != generation || !bb.restarting)
            return; // overridden by setBoard
        endRestart(dd, bb);
        bb.state = after;
        if (version)
            bb.version = *version;
        event(dev, position, QStringLiteral("restarted: ") + boardStateName(after));
        updateListening(dev);
    });
    // updateListening() runs after the request, once the connection is dealt with.
}

void Simulator::Impl::endRestart(DeviceRt &d, BoardRt &b)
{
    b.restarting = false;
    if (b.restartTakesNetwork && d.networkDown > 0)
        --d.networkDown;
    b.restartTakesNetwork = false;
}

} // namespace orvo::devsim
