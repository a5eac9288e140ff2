#include "catalogue.h"
#include "simulatorimpl.h"

#include <QCryptographicHash>
#include <QHostAddress>

namespace orvo::devsim {

DeviceConfig defaultDevice(int type, const QString &address)
{
    DeviceConfig c;
    c.address = address;
    c.type = static_cast<std::uint32_t>(type);
    c.name = deviceTypeName(type).toLatin1();
    const QHostAddress host(address);
    const std::uint32_t ip4 = host.toIPv4Address();
    // A MAC derived from type and address keeps devices of one run apart in the program's list.
    c.mac = { { 0x00, 0x1a, 0x2b, static_cast<std::uint8_t>(type), static_cast<std::uint8_t>((ip4 >> 8) & 0xFF),
        static_cast<std::uint8_t>(ip4 & 0xFF) } };
    for (int i = 0; i < slotCount(type); ++i) {
        BoardConfig &b = c.boards[static_cast<std::size_t>(i)];
        b.fitted = true;
        b.state = BoardState::Running;
        b.version = buildVersion(type, panelSlot(type, i).boardType);
    }
    return c;
}

QByteArray imageDigest(const BoardSnapshot &board)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!board.fpgaImage.isEmpty()) {
        hash.addData(board.fpgaImage);
    } else {
        QByteArray pair(5, '\0');
        for (const auto &[address, value] : board.hexImage) {
            wire::putU32(pair, 0, address);
            pair[4] = static_cast<char>(value);
            hash.addData(pair);
        }
    }
    return hash.result().toHex();
}

QByteArray expectedImageDigest(const QByteArray &file, bool fpga, std::uint32_t flashEnd)
{
    BoardSnapshot image;
    if (fpga) {
        image.fpgaImage = file;
        return imageDigest(image);
    }
    const auto byteAt = [](const QByteArray &line, int i) -> int {
        if (1 + 2 * i + 2 > line.size())
            return -1;
        bool ok = false;
        const int v = line.mid(1 + 2 * i, 2).toInt(&ok, 16);
        return ok ? v : -1;
    };
    std::uint32_t upper = 0;
    for (QByteArray line : file.split('\n')) {
        line = line.trimmed();
        if (!line.startsWith(':'))
            continue;
        const int count = byteAt(line, 0);
        const int high = byteAt(line, 1);
        const int low = byteAt(line, 2);
        const int type = byteAt(line, 3);
        if (count < 0 || high < 0 || low < 0 || type < 0 || byteAt(line, 4 + count - 1) < 0)
            continue;
        if (type == 4 && count == 2) {
            upper = (std::uint32_t(byteAt(line, 4)) << 24) | (std::uint32_t(byteAt(line, 5)) << 16);
            continue;
        }
        const std::uint32_t address = upper | std::uint32_t(high << 8) | std::uint32_t(low);
        if (type != 0 || address < 0x1D000000u || address >= flashEnd)
            continue;
        const int padded = (count < 16 && count % 4 != 0) ? (count + 3) / 4 * 4 : count;
        for (int i = 0; i < padded; ++i)
            image.hexImage[address + std::uint32_t(i)] = i < count ? std::uint8_t(byteAt(line, 4 + i)) : 0;
    }
    return imageDigest(image);
}

bool imageAsExpected(const BoardSnapshot &board)
{
    return !board.expectedDigest.isEmpty() && imageDigest(board) == board.expectedDigest;
}

QString boardStateName(BoardState state)
{
    switch (state) {
    case BoardState::Running:
        return QStringLiteral("running");
    case BoardState::BootLoader:
        return QStringLiteral("bootloader");
    case BoardState::Erased:
        return QStringLiteral("erased");
    }
    return {};
}

int Simulator::addDevice(const DeviceConfig &config)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    if (d->started)
        return -1;
    auto dev = std::make_unique<DeviceRt>();
    dev->config = config;
    dev->name = config.name.left(wire::kNameFieldSize);
    const std::uint32_t ip4
        = QHostAddress(config.recordAddress.isEmpty() ? config.address : config.recordAddress).toIPv4Address();
    dev->ip = { { static_cast<std::uint8_t>(ip4 >> 24), static_cast<std::uint8_t>((ip4 >> 16) & 0xFF),
        static_cast<std::uint8_t>((ip4 >> 8) & 0xFF), static_cast<std::uint8_t>(ip4 & 0xFF) } };
    const int slotTotal = slotCount(static_cast<int>(config.type));
    for (int i = 0; i < kPositions; ++i) {
        BoardRt &b = dev->boards[static_cast<std::size_t>(i)];
        b.config = config.boards[static_cast<std::size_t>(i)];
        b.config.fitted = b.config.fitted && i < slotTotal;
        b.state = b.config.state;
        b.version = b.config.version;
        // A board found in its boot loader or erased has no valid image: the next leave brings one.
        b.erasedSinceLeave = b.state == BoardState::Erased;
    }
    d->devices.push_back(std::move(dev));
    return static_cast<int>(d->devices.size()) - 1;
}

bool Simulator::expectImage(int device, int position, const QByteArray &file)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    DeviceRt *dev = d->device(device);
    if (!dev || position < 0 || position >= slotCount(static_cast<int>(dev->config.type)))
        return false;
    BoardRt &b = dev->boards[static_cast<std::size_t>(position)];
    const int type = static_cast<int>(dev->config.type);
    const bool fpga = isFpgaBoard(type, panelSlot(type, position).boardType);
    const int pic = b.config.picVariant;
    const bool small = !fpga && pic >= 0 && pic < kPicTypes && picPart(pic).contains(QLatin1String("PIC32MZ1024"));
    b.counters.expectedDigest = expectedImageDigest(file, fpga, small ? 0x1D100000u : 0x1D200000u);
    return true;
}

void Simulator::setBoard(int device, int position, const BoardConfig &board)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    DeviceRt *dev = d->device(device);
    if (!dev || position < 0 || position >= kPositions)
        return;
    BoardRt &b = dev->boards[static_cast<std::size_t>(position)];
    b.config = board;
    b.config.fitted = board.fitted && position < slotCount(static_cast<int>(dev->config.type));
    b.state = board.state;
    b.version = board.version;
    b.erasedSinceLeave = board.state == BoardState::Erased;
    if (b.restarting) {
        ++b.restartGeneration; // the pending restart no longer applies
        Impl::endRestart(*dev, b);
    }
    d->event(device, position, QStringLiteral("set: ") + boardStateName(board.state));
    asio::post(d->io, [this, device] {
        std::lock_guard<std::mutex> lock(d->mutex);
        d->updateListening(device);
    });
}

} // namespace orvo::devsim
