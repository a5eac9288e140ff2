#pragma once

#include "devicerecord.h"
#include "packet.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

class QTcpSocket;

namespace orvo {

class Clock;

/// Where the exchanges go: the selected device's address, the port, and the device type that
/// goes into every request header.
struct DeviceTarget
{
    QString host;                       ///< IPv4 text (ipText of the record)
    std::uint16_t port = kDevicePort;   ///< 51000 in the product; tests and tools set their own
    std::uint16_t headerDeviceType = 0; ///< low 16 bits of the record's type field
};

/// Time-outs of the exchanges, in milliseconds of the link's clock.
struct ExchangeTimeouts
{
    int panelConnectMs = 3000; ///< first blocking connect wait; then up to 2999 polls of 1 ms
    int panelConnectPolls = 2999;
    int panelWriteMs = 1500; ///< then up to 1499 polls
    int panelWritePolls = 1499;
    int panelReplyMs = 5000; ///< reply wait of a command that expects one; then up to 7499 polls
    int panelReplyPolls = 7499;
    int serviceConnectMs = 5000;
    int serviceWriteMs = 7000;
    int serviceReadMs = 15000;
    int probeConnectMs = 30;
};

/// What one panel exchange brought back.
struct PanelExchange
{
    /// The request went out and, when its command expects a reply, exactly 76 valid bytes came
    /// back within the waits.
    bool ok = false;
    std::optional<PanelBody> reply; ///< the body of that reply
};

/// What a status query found of one board. A board that did not answer is not in boot mode and
/// has version 0.
struct PanelCheck
{
    bool found = false;
    bool bootMode = false;
    std::uint8_t version = 0;
};

/// Carries panel commands to one device.
///
/// Used only from the worker thread. Each exchange returns its own reply; the link keeps none.
class PanelLink
{
public:
    /// `abortRequested` is polled in every wait of exchangePanelPacket; it may be empty.
    PanelLink(Clock &clock, std::function<bool()> abortRequested);
    ~PanelLink();

    PanelLink(const PanelLink &) = delete;
    PanelLink &operator=(const PanelLink &) = delete;

    void setTarget(const DeviceTarget &target) { m_target = target; }
    const DeviceTarget &target() const { return m_target; }
    /// Device type 0..4 whose catalogue names the panels in debug lines.
    void setCatalogueType(int deviceType) { m_catalogueType = deviceType; }
    int catalogueType() const { return m_catalogueType; }
    void setTimeouts(const ExchangeTimeouts &t) { m_timeouts = t; }
    const ExchangeTimeouts &timeouts() const { return m_timeouts; }
    Clock &clock() const { return m_clock; }
    bool abortRequested() const { return m_abort && m_abort(); }

    /// Routes 4, 5 and 6 over a QTcpSocket with 1 ms polls that honour the abort request.
    PanelExchange exchangePanelPacket(const PanelRequest &request);

    /// Status query of the board at `slot`; writes the "Checking Panel... " debug line for
    /// catalogue addresses.
    PanelCheck checkPanel(const PanelSlot &slot);

    /// PIC32MZ variant 0..11 of the board at `slot`, 12 when ten attempts gave no valid answer.
    std::uint8_t queryPicType(const PanelSlot &slot);

    /// Asks the board at `slot` to restart; true once the request is written (the board sends
    /// nothing back). Ignores the abort request.
    bool resetBoard(const PanelSlot &slot);

    /// Asks `host` for its device record with the short probe connect time-out and header type
    /// 0xFFFF; the record when a valid one came back. Writes "*** Found Device: " on success.
    std::optional<OrvoDiscoveryInfo> probeDevice(const QString &host);

    /// Asks the target for its record with the normal time-outs (header type from the target).
    std::optional<OrvoDiscoveryInfo> requestInfo();

    /// Sends a rename request to the target and returns the record it answers with.
    std::optional<OrvoDiscoveryInfo> rename(const QByteArray &name8bit);

    /// Sends an identify request to the target; true when written.
    bool identify();

    /// The socket of the exchange in progress, null between exchanges.
    QTcpSocket *currentSocket() const { return m_socket; }

private:
    bool waitPolls(int polls, const std::function<bool()> &done);
    /// Route 8 over BlockingTcpClient with fixed time-outs; ignores the abort request. A reset
    /// reads no reply and is ok once written.
    PanelExchange exchangeServicePacket(const PanelSlot &slot, ServiceCommand command);
    /// The socket object of the panel exchanges, made on first use in the calling thread.
    QTcpSocket &panelSocket();

    Clock &m_clock;
    std::function<bool()> m_abort;
    DeviceTarget m_target;
    int m_catalogueType = 0;
    ExchangeTimeouts m_timeouts;
    QTcpSocket *m_socket = nullptr;
    // One socket object for all panel exchanges: each exchange still makes and ends its own
    // connection on it, but the object with its buffers, proxy setting and connect timer is made
    // once instead of once per record of a download.
    std::unique_ptr<QTcpSocket> m_panelSocket;
};

} // namespace orvo
