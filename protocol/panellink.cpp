#include "panellink.h"

#include "blockingtcpclient.h"
#include "catalogue.h"
#include "clock.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QNetworkProxy>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>
#include <QtDebug>

#include <array>
#include <chrono>
#include <memory>

namespace orvo {

namespace {

constexpr std::chrono::milliseconds kPollInterval { 1 };

const std::uint8_t *bytesOf(const QByteArray &a)
{
    return reinterpret_cast<const std::uint8_t *>(a.constData());
}

/// Lets this thread's event dispatcher look at the socket once without blocking. The worker
/// thread runs no event loop while a job runs, so without this a poll would never see the
/// connection complete, the request leave or the reply arrive.
void driveSocket()
{
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

bool isSettling(const QTcpSocket &socket)
{
    return socket.state() == QAbstractSocket::ConnectingState || socket.state() == QAbstractSocket::HostLookupState;
}

/// Waits up to `realMs` real milliseconds for a connection attempt to settle (connected or
/// failed). QAbstractSocket::waitForConnected gives up the attempt when it times out, which
/// would leave nothing for the following polls to find; a short local event loop waits for the
/// same notifier without that side effect. A connection that is already there (the usual case
/// on a LAN) is taken at once, so that the request follows the handshake without delay.
void waitForConnectionSettled(QTcpSocket &socket, int realMs)
{
    if (!isSettling(socket))
        return;
    driveSocket();
    if (!isSettling(socket))
        return;
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(&socket, &QAbstractSocket::stateChanged, &loop, [&loop](QAbstractSocket::SocketState s) {
        if (s == QAbstractSocket::ConnectedState || s == QAbstractSocket::UnconnectedState)
            loop.quit();
    });
    timer.start(realMs);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
}

/// The exchange of a request that went out and got the `n` bytes at `rx` (or none) back.
PanelExchange answeredWith(const std::uint8_t *rx, std::size_t n, std::uint16_t requestDeviceType)
{
    PanelExchange exchange;
    PanelBody body;
    if (acceptPanelReply(rx, n, requestDeviceType, body)) {
        exchange.ok = true;
        exchange.reply = body;
    }
    return exchange;
}

/// Ends an exchange's connection at once, connected or not, and leaves the socket unconnected
/// and closed with its buffers empty, ready for the next exchange's connection.
void endConnection(QTcpSocket &socket)
{
    socket.close(); // graceful when connected and nothing is left to write
    socket.abort(); // a connection attempt still in progress, or a close left pending
}

/// One device-level exchange over BlockingTcpClient: connect, write the request, and when
/// `expectRecord` read the 123-byte record and accept it. Empty on any failure.
std::optional<OrvoDiscoveryInfo> deviceExchange(Clock &clock, const QString &host, std::uint16_t port, int connectMs,
    const ExchangeTimeouts &t, const QByteArray &request, bool expectRecord, bool *written)
{
    if (written)
        *written = false;
    BlockingTcpClient client(clock);
    if (!client.connect(host.toStdString(), std::to_string(port), connectMs))
        return std::nullopt;
    if (!client.write(bytesOf(request), static_cast<std::size_t>(request.size()), t.serviceWriteMs))
        return std::nullopt;
    if (written)
        *written = true;
    if (!expectRecord)
        return std::nullopt;
    std::array<std::uint8_t, OrvoDiscoveryInfo::kSize> rx {};
    const std::size_t n = client.read(rx.data(), rx.size(), t.serviceReadMs);
    return acceptDeviceRecord(rx.data(), n);
}

} // namespace

PanelLink::PanelLink(Clock &clock, std::function<bool()> abortRequested)
    : m_clock(clock), m_abort(std::move(abortRequested))
{ }

PanelLink::~PanelLink() = default;

bool PanelLink::waitPolls(int polls, const std::function<bool()> &done)
{
    for (int i = 0; i < polls; ++i) {
        if (abortRequested())
            return false;
        m_clock.sleepFor(kPollInterval);
        driveSocket();
        if (done())
            return true;
    }
    return false;
}

PanelExchange PanelLink::exchangePanelPacket(const PanelRequest &panelRequest)
{
    const bool expectsReply = panelRequestExpectsReply(panelRequest);
    const QByteArray request = buildPanelRequest(m_target.headerDeviceType, panelRequest);

    QTcpSocket *const socket = &panelSocket();
    m_socket = socket;
    const auto connected = [socket] { return socket->state() == QAbstractSocket::ConnectedState; };

    const PanelExchange result = [&]() -> PanelExchange {
        socket->connectToHost(m_target.host, m_target.port, QIODevice::ReadWrite, QAbstractSocket::AnyIPProtocol);
        waitForConnectionSettled(*socket, m_clock.socketWaitMs(m_timeouts.panelConnectMs));
        if (!connected())
            waitPolls(m_timeouts.panelConnectPolls, connected);
        if (!connected())
            return {};

        socket->write(request);
        socket->flush();
        const auto allWritten = [socket] { return socket->bytesToWrite() == 0; };
        if (!allWritten()) {
            socket->waitForBytesWritten(m_clock.socketWaitMs(m_timeouts.panelWriteMs));
            if (!allWritten())
                waitPolls(m_timeouts.panelWritePolls, allWritten);
        }
        if (!expectsReply)
            return { true, std::nullopt };

        // A reply may reach us in more than one TCP segment: keep collecting until a whole
        // packet is there or the reply wait (the blocking wait, then the polls) has run out.
        const auto packetThere = [socket] { return socket->bytesAvailable() >= static_cast<qint64>(kPanelPacketSize); };
        // Part of a reply followed by the end of the connection can never become a packet:
        // that is the answer, as it was when the first data ended the wait.
        const auto replyOver = [socket, &packetThere, &connected] {
            return packetThere() || (socket->bytesAvailable() > 0 && !connected());
        };
        const QDeadlineTimer replyDeadline(m_clock.socketWaitMs(m_timeouts.panelReplyMs));
        while (!packetThere() && connected() && !replyDeadline.hasExpired())
            socket->waitForReadyRead(static_cast<int>(replyDeadline.remainingTime()));
        if (!replyOver())
            waitPolls(m_timeouts.panelReplyPolls, replyOver);

        if (socket->bytesAvailable() != static_cast<qint64>(kPanelPacketSize))
            return {}; // too little in time, or more than one packet: not a reply we know
        std::array<std::uint8_t, kPanelPacketSize> rx {};
        if (socket->read(reinterpret_cast<char *>(rx.data()), static_cast<qint64>(rx.size()))
            != static_cast<qint64>(rx.size()))
            return {};
        return answeredWith(rx.data(), rx.size(), m_target.headerDeviceType);
    }();

    m_socket = nullptr;
    endConnection(*socket);
    return result;
}

QTcpSocket &PanelLink::panelSocket()
{
    // A socket belongs to the thread that made it, and its notifiers and connect timer work only
    // there: a link used from another thread than before gets a socket of that thread.
    if (!m_panelSocket || m_panelSocket->thread() != QThread::currentThread()) {
        m_panelSocket = std::make_unique<QTcpSocket>();
        m_panelSocket->setProxy(QNetworkProxy::NoProxy);
        // One byte more than a reply: enough to tell a reply from one that runs on past its end,
        // and all the socket ever holds. Without a cap each read takes whatever the system has
        // queued, which a host that floods the connection fills to megabytes while the worker
        // is busy elsewhere.
        m_panelSocket->setReadBufferSize(static_cast<qint64>(kPanelPacketSize) + 1);
    }
    return *m_panelSocket;
}

PanelExchange PanelLink::exchangeServicePacket(const PanelSlot &slot, ServiceCommand command)
{
    const QByteArray request = buildServiceRequest(m_target.headerDeviceType, slot, command);
    BlockingTcpClient client(m_clock);
    if (!client.connect(m_target.host.toStdString(), std::to_string(m_target.port), m_timeouts.serviceConnectMs))
        return {};
    if (!client.write(bytesOf(request), static_cast<std::size_t>(request.size()), m_timeouts.serviceWriteMs))
        return {};
    if (command == ServiceCommand::Reset)
        return { true, std::nullopt }; // the board restarts; it sends nothing back
    std::array<std::uint8_t, kPanelPacketSize> rx {};
    const std::size_t n = client.read(rx.data(), rx.size(), m_timeouts.serviceReadMs);
    return answeredWith(rx.data(), n, m_target.headerDeviceType);
}

bool PanelLink::resetBoard(const PanelSlot &slot)
{
    return exchangeServicePacket(slot, ServiceCommand::Reset).ok;
}

PanelCheck PanelLink::checkPanel(const PanelSlot &slot)
{
    PanelCheck check;
    QString resultText;
    const QString label = QString::asprintf(
        "[Ch: %d, Panel: %d, Type: %d, Addr: %d]", slot.channel, slot.panel, slot.boardType, slot.boardAddress);
    const auto position = findPanelIndex(m_catalogueType, slot);

    const PanelExchange exchange = exchangePanelPacket(statusQueryRequest(slot));
    if (exchange.ok) {
        const PanelBody &reply = *exchange.reply;
        if (replyMatches(reply, ReplyStatus, slot)) {
            check.found = true;
            check.bootMode = reply[BodySubCommand] == StatusBootLoader;
            check.version = reply[BodyPayload];
            resultText = QString::asprintf(" Panel Found: %d  BootMode: %d", 1, check.bootMode ? 1 : 0);
        } else {
            resultText = QStringLiteral(" Panel Not Found !");
        }
    }

    if (position) {
        const QString line = QStringLiteral("Checking Panel... ") + panelName(m_catalogueType, *position)
            + QStringLiteral("  --- ") + label + QStringLiteral("  --- ") + resultText;
        qDebug("%s", qUtf8Printable(line));
    }
    return check;
}

std::uint8_t PanelLink::queryPicType(const PanelSlot &slot)
{
    constexpr int kAttempts = 10;
    std::uint8_t picType = kPicUnknown;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        const PanelExchange exchange = exchangeServicePacket(slot, ServiceCommand::PicQuery);
        if (exchange.ok && replyMatches(*exchange.reply, ReplyPicType, slot)
            && (*exchange.reply)[BodyPayload] < kPicTypes) {
            picType = (*exchange.reply)[BodyPayload];
            break;
        }
    }
    const QString name = picType < kPicTypes ? picPart(picType) : QStringLiteral("No Rx - Original PIC32MZ2048EFG...?");
    qDebug("%s", qUtf8Printable(QStringLiteral("PIC Type: ") + name));
    return picType;
}

std::optional<OrvoDiscoveryInfo> PanelLink::probeDevice(const QString &host)
{
    const auto record = deviceExchange(m_clock, host, m_target.port, m_timeouts.probeConnectMs, m_timeouts,
        buildDeviceInfoRequest(kUnknownDeviceType), true, nullptr);
    if (record) {
        qDebug("%s",
            qUtf8Printable(QStringLiteral("*** Found Device: ") + ipText(*record) + QStringLiteral("   ")
                + deviceTypeName(record->type())));
    }
    return record;
}

std::optional<OrvoDiscoveryInfo> PanelLink::requestInfo()
{
    return deviceExchange(m_clock, m_target.host, m_target.port, m_timeouts.serviceConnectMs, m_timeouts,
        buildDeviceInfoRequest(m_target.headerDeviceType), true, nullptr);
}

std::optional<OrvoDiscoveryInfo> PanelLink::rename(const QByteArray &name8bit)
{
    return deviceExchange(m_clock, m_target.host, m_target.port, m_timeouts.serviceConnectMs, m_timeouts,
        buildRenameRequest(m_target.headerDeviceType, name8bit), true, nullptr);
}

bool PanelLink::identify()
{
    bool written = false;
    deviceExchange(m_clock, m_target.host, m_target.port, m_timeouts.serviceConnectMs, m_timeouts,
        buildIdentifyRequest(m_target.headerDeviceType), false, &written);
    return written;
}

} // namespace orvo
