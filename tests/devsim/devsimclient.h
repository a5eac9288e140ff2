#pragma once

// A minimal blocking client of the tests' own: plain POSIX sockets and hand-built bytes, so that
// the simulator is checked against neither the program's protocol code nor its own encoder.

#include <QByteArray>
#include <QList>
#include <QString>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>

namespace devsimtest {

inline void put16(QByteArray &b, int at, std::uint16_t v)
{
    b[at] = static_cast<char>(v & 0xFF);
    b[at + 1] = static_cast<char>(v >> 8);
}

inline void put32(QByteArray &b, int at, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

inline std::uint32_t get32(const QByteArray &b, int at)
{
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | static_cast<std::uint8_t>(b.at(at + i));
    return v;
}

inline std::uint16_t get16(const QByteArray &b, int at)
{
    return static_cast<std::uint16_t>(static_cast<std::uint8_t>(b.at(at)) | (static_cast<std::uint8_t>(b.at(at + 1)) << 8));
}

inline std::uint8_t byteAt(const QByteArray &b, int at)
{
    return static_cast<std::uint8_t>(b.at(at));
}

inline QByteArray header(std::uint32_t length, std::uint16_t kind, std::uint16_t deviceType)
{
    QByteArray b(12, '\0');
    put32(b, 0, length);
    put32(b, 4, 0x0DEFACED);
    put16(b, 8, kind);
    put16(b, 10, deviceType);
    return b;
}

struct Slot
{
    std::uint8_t panel, channel, boardType, boardAddress;
};

/// A route 4/6/8 panel command without payload bytes beyond the address.
inline QByteArray panelCommand(std::uint16_t type, std::uint8_t route, const Slot &s, std::uint8_t command,
                               std::uint8_t sub)
{
    QByteArray b = header(64, 3, type) + QByteArray(64, '\0');
    b[12] = 8;
    b[13] = static_cast<char>(route);
    b[14] = static_cast<char>(s.channel);
    b[15] = static_cast<char>(s.panel);
    b[16] = static_cast<char>(command);
    b[17] = static_cast<char>(sub);
    b[18] = static_cast<char>(s.boardType);
    b[19] = static_cast<char>(s.boardAddress);
    return b;
}

inline QByteArray statusQuery(std::uint16_t type, const Slot &s) { return panelCommand(type, 4, s, 0x55, 0); }
inline QByteArray erase(std::uint16_t type, const Slot &s) { return panelCommand(type, 4, s, 0xAA, 0x58); }
inline QByteArray leaveBootLoader(std::uint16_t type, const Slot &s) { return panelCommand(type, 6, s, 0, 0); }
inline QByteArray picQuery(std::uint16_t type, const Slot &s) { return panelCommand(type, 8, s, 0x2C, 2); }

/// A program-data request. HEX: `data` already padded, `address` the 32-bit target; FPGA: 0xFF in
/// body bytes 10, 11 and 14 as the program leaves them.
inline QByteArray programData(std::uint16_t type, const Slot &s, const QByteArray &data, std::uint32_t address,
                              bool fpga)
{
    QByteArray b = panelCommand(type, 5, s, 0, 0);
    b[12] = static_cast<char>(15 + data.size());
    QByteArray body(7, '\0'); // body bytes 8..14
    body[1] = static_cast<char>(data.size());
    if (fpga) {
        body[2] = body[3] = body[6] = static_cast<char>(0xFF);
    } else {
        put32(body, 2, address);
        body[6] = 0;
    }
    unsigned sum = 0;
    if (!fpga) {
        for (int i = 1; i < 7; ++i)
            sum += static_cast<std::uint8_t>(body.at(i));
    }
    for (char c : data)
        sum += static_cast<std::uint8_t>(c);
    body[0] = static_cast<char>(sum & 0xFF);
    b.replace(20, 7, body);
    b.replace(27, data.size(), data);
    return b;
}

struct Result
{
    bool connected = false;
    bool peerClosed = false;     // the device closed the connection (EOF or reset)
    QByteArray reply;
    QList<int> segments;         // bytes per read
};

/// Connects to addr:port, sends `request` and reads until the device closes or `waitMs` pass.
inline Result exchange(const QString &addr, std::uint16_t port, const QByteArray &request, int waitMs = 5000)
{
    Result r;
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return r;
    sockaddr_in sa {};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    ::inet_pton(AF_INET, addr.toLatin1().constData(), &sa.sin_addr);
    if (::connect(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0) {
        ::close(fd);
        return r;
    }
    r.connected = true;
    ::send(fd, request.constData(), static_cast<size_t>(request.size()), MSG_NOSIGNAL);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    char buf[512];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd p { fd, POLLIN, 0 };
        if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0)
            break;
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) {
            r.peerClosed = true;
            break;
        }
        r.reply.append(buf, static_cast<int>(n));
        r.segments.append(static_cast<int>(n));
    }
    ::close(fd);
    return r;
}

} // namespace devsimtest
