#include "updater.h"

#include "catalogue.h"
#include "clock.h"
#include "firmwarefiles.h"
#include "hexrecords.h"
#include "imagecheck.h"
#include "panellink.h"
#include "percent.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>

#include <chrono>

namespace orvo {

namespace {

constexpr int kWaitTicks = 3000;       // 30 s for a board that does not carry the network
constexpr int kProbeWaitTicks = 10500; // 105 s for one that does, probed every 3000 ticks
constexpr int kProbeEveryTicks = 3000;
constexpr int kFpgaEraseTicks = 1500; // the FPGA keeps erasing for 15 s after it answered
constexpr int kBootChecks = 11;       // counters start one above their number of rounds
constexpr int kEraseChecks = 15;
constexpr int kVerifyChecks = 11;
constexpr int kRecordAttempts = 25;

void sendWaiting(UpdateReporter &reporter, int i, int total)
{
    reporter.progress(true, progressPercent(i, total), false, 0, 0);
}

void hideProgress(UpdateReporter &reporter)
{
    reporter.progress(false, 0, true, 0, 100);
}

void sleepMs(PanelLink &link, int ms)
{
    link.clock().sleepFor(std::chrono::milliseconds(ms));
}

void debugLine(const QString &text)
{
    qDebug().noquote() << text;
}

// The state of one update; each stage returns false when the update goes to its outcome.
class PanelUpdate
{
public:
    PanelUpdate(PanelLink &link, UpdateReporter &reporter, const PanelUpdateRequest &request, UpdateFigures &figures)
        : m_link(link), m_reporter(reporter), m_req(request), m_figures(figures),
          m_fpga(isFpgaBoard(request.deviceType, request.slot.boardType)),
          m_restartWait(restartsNetwork(request.deviceType, request.slot))
    {
        clearReply();
    }

    UpdateResult run()
    {
        if (prepare() && contact() && enterBootLoader() && erase() && program() && leaveBootLoader())
            verify();
        return outcome();
    }

private:
    void line(RowIcon icon, const QString &text)
    {
        if (m_req.verbose)
            m_reporter.listLine(icon, text);
    }
    bool aborted() const { return m_link.abortRequested(); }
    std::uint8_t reply(std::size_t i) const { return m_reply[i]; }
    QString version() const { return QString::number(reply(BodyPayload)); }
    void clearReply() { m_reply.fill(0xFF); }
    void noteAnswerAfter()
    {
        m_figures.checked = true;
        m_figures.versionAfter = reply(BodyPayload);
        m_figures.bootModeAfter = reply(BodySubCommand) != StatusRunning;
    }

    // True when the request went out and, if its command expects one, a reply came; that reply
    // becomes the one the stages look at.
    bool send(const PanelRequest &request)
    {
        const PanelExchange exchange = m_link.exchangePanelPacket(request);
        if (exchange.reply)
            m_reply = *exchange.reply;
        return exchange.ok;
    }
    bool answered(std::uint8_t replyCode) const { return replyMatches(m_reply, replyCode, m_req.slot); }
    // Status query: true when the board answered with 'j'.
    bool statusAnswer() { return send(statusQueryRequest(m_req.slot)) && answered(ReplyStatus); }

    bool prepare();
    bool contact();
    bool enterBootLoader();
    bool erase();
    bool program();
    bool leaveBootLoader();
    void verify();
    UpdateResult outcome();
    bool checkManifest(const QString &path);

    PanelLink &m_link;
    UpdateReporter &m_reporter;
    const PanelUpdateRequest &m_req;
    UpdateFigures &m_figures;
    const bool m_fpga;
    const bool m_restartWait;
    std::uint32_t m_dMaxAdr = kFlashEnd2048;
    // The last reply the board gave, all 0xFF after a clear: a stage that finds no fresh answer
    // must not read an older one as its own.
    PanelBody m_reply;
    QByteArray m_content;
    ImageCheck m_damage; // fault of a file that was read but refused
    QString m_refusal;   // the manifest's reason to refuse a sound file

    bool m_fileOk = false;
    bool m_contacted = false;
    bool m_succeeded = false;
    bool m_inBootMode = false;
};

bool PanelUpdate::prepare()
{
    m_dMaxAdr = chooseDMaxAdr(m_req.picType, m_fpga);

    const QString path = QFile::decodeName(m_req.path);
    line(RowIcon::Information,
        QStringLiteral("Updating firmware on ") + panelName(m_req.deviceType, m_req.panelIndex)
            + QStringLiteral("..."));
    line(RowIcon::Information, QStringLiteral("Initialising firmware update..."));
    line(RowIcon::Information,
        QStringLiteral("Firmware file: ") + QFileInfo(path).fileName() + QStringLiteral(" (")
            + QString::number(buildVersion(m_req.deviceType, m_req.slot.boardType)) + QStringLiteral(")"));

    // The whole file is read and checked before the board is touched: a damaged or cut-off file
    // would otherwise leave the board erased, or running half an image.
    switch (loadFirmwareFile(m_req.path, m_fpga, m_content)) {
    case LoadStatus::Missing:
        return false;
    case LoadStatus::TooLarge:
        m_damage = checkFirmwareSize(kMaxFirmwareFileSize + 1);
        return false;
    case LoadStatus::Loaded:
        break;
    }
    m_damage = checkFirmwareImage(m_content, m_fpga);
    // A well-formed file that the board cannot start from is refused as firmly as a damaged one: the
    // erase would otherwise leave the board in its boot loader with nothing, or half, to run.
    if (m_damage.ok && !m_fpga) {
        m_damage = checkMemoryMap(m_content, m_dMaxAdr);
        if (!m_damage.ok)
            m_figures.refusal = m_damage.errorLine();
    }
    if (!m_damage.ok) {
        debugLine(QStringLiteral("refused firmware file: ") + path + QStringLiteral(" ") + m_damage.errorLine());
        m_content.clear();
        return false;
    }
    if (!checkManifest(path)) {
        m_content.clear();
        return false;
    }
    m_fileOk = true;
    return true;
}

bool PanelUpdate::checkManifest(const QString &path)
{
    // The hash is taken of the very bytes that will be sent, not of the file read once more.
    const QString inFolder = m_req.firmwareFolder.isEmpty() ? QString() : pathInFolder(m_req.firmwareFolder, path);
    m_figures.file = inFolder.isEmpty() ? QFileInfo(path).fileName() : inFolder;
    m_figures.sha256 = sha256Hex(m_content);
    debugLine(
        QStringLiteral("sha256: ") + QString::fromLatin1(m_figures.sha256) + QStringLiteral("  ") + m_figures.file);
    if (m_req.firmwareFolder.isEmpty())
        return true;
    const Manifest manifest = Manifest::read(m_req.firmwareFolder);
    const ManifestCheck check = checkAgainstManifest(manifest, m_figures.file, m_figures.sha256);
    m_figures.manifest = check.verdict;
    if (check.ok())
        return true;
    m_refusal = check.errorLine(manifest);
    m_figures.refusal = m_refusal;
    debugLine(QStringLiteral("refused firmware file: ") + path + QStringLiteral(" ") + m_refusal);
    return false;
}

bool PanelUpdate::contact()
{
    line(RowIcon::Information, QStringLiteral("Contacting panel/board..."));
    if (!send(statusQueryRequest(m_req.slot)))
        return false;
    if (!answered(ReplyStatus)) {
        line(RowIcon::Warning, QStringLiteral("Panel/board not found!"));
        line(RowIcon::Warning, QStringLiteral("Error: Failed to connect to panel/board!"));
        return false;
    }
    line(RowIcon::Information, QStringLiteral("Panel/board found!  Firmware version: ") + version());
    m_figures.found = true;
    m_figures.versionBefore = reply(BodyPayload);
    m_figures.bootModeBefore = reply(BodySubCommand) == StatusBootLoader;
    if (m_fpga) {
        // An FPGA board takes its image without a boot loader of its own.
        m_inBootMode = true;
    } else {
        m_inBootMode = reply(BodySubCommand) == StatusBootLoader;
        line(RowIcon::Information,
            m_inBootMode ? QStringLiteral("Panel/board is in Boot mode!")
                         : QStringLiteral("Panel/board is not in Boot mode"));
    }
    m_contacted = true;
    return true;
}

bool PanelUpdate::enterBootLoader()
{
    if (m_inBootMode)
        return true; // a board left in its boot loader by an earlier update starts at the erase
    line(RowIcon::Information,
        m_restartWait
            ? QStringLiteral("Panel/board will now enter Boot mode and reconnect to the network...  Please wait!")
            : QStringLiteral("Panel/board will now enter Boot mode...  Please wait!"));
    if (!send(enterBootLoaderRequest(m_req.slot)))
        return false;
    restartWait(m_link, m_reporter, m_restartWait);

    int counter = kBootChecks;
    while (--counter > 0) {
        if (aborted())
            break;
        clearReply();
        if (statusAnswer())
            m_inBootMode = reply(BodySubCommand) == StatusBootLoader;
        sleepMs(m_link, counter >= 10 ? 255 : 1000);
        if (m_inBootMode)
            break;
    }
    hideProgress(m_reporter);
    debugLine(QStringLiteral("Enter Boot mode downloadattempts (10/20): ") + QString::number(counter));
    return m_inBootMode;
}

bool PanelUpdate::erase()
{
    if (aborted())
        return false;
    m_contacted = false;
    clearReply();
    line(RowIcon::Information, QStringLiteral("Erasing program memory...  Please wait!"));
    sleepMs(m_link, 255);

    bool erased = false;
    int counter = kEraseChecks;
    while (--counter > 0) {
        if (aborted())
            break;
        if (send(eraseRequest(m_req.slot)) && answered(ReplyStatus) && reply(BodySubCommand) == StatusErased) {
            erased = true;
            break;
        }
        sleepMs(m_link, 1000);
    }
    if (erased) {
        if (m_fpga) {
            Ticker ticker(m_link.clock());
            for (int i = 1; i <= kFpgaEraseTicks; ++i) {
                if (aborted())
                    break;
                sendWaiting(m_reporter, i, kFpgaEraseTicks);
                ticker.waitTick(i);
            }
            hideProgress(m_reporter);
        }
        line(RowIcon::Information, QStringLiteral("Successfully erased program memory!"));
        m_contacted = true;
    }
    m_succeeded = m_contacted;
    debugLine(QStringLiteral("ERASE downloadattempts (15/255): ") + QString::number(counter));
    return erased;
}

bool PanelUpdate::program()
{
    if (aborted()) {
        m_succeeded = false;
        return false;
    }
    line(RowIcon::Information, QStringLiteral("Updating program memory...  Please wait!"));
    sleepMs(m_link, 125);
    PanelBody record;
    record.fill(0xFF);
    RecordProducer::begin(record);
    RecordProducer producer(m_content, m_fpga, m_dMaxAdr);
    const Clock::time_point downloadStart = m_link.clock().now();

    bool stopped = false;
    while (producer.position() < producer.length()) {
        if (!m_succeeded)
            return false;
        if (aborted()) {
            stopped = true;
            break;
        }
        const RecordStep step = producer.next(record);
        if (step == RecordStep::Finished)
            break;
        if (step == RecordStep::Invalid) {
            // The file check refuses such files; should one get here, the rest of the image is
            // unknown and the board must not be started on half of it.
            debugLine(QStringLiteral("invalid record at ") + QString::number(producer.position()));
            m_succeeded = false;
            return false;
        }
        if (step == RecordStep::Send) {
            m_succeeded = false;
            clearReply();
            int nRW = 0;
            while (true) {
                const bool exchanged = send(programDataRequest(m_req.slot, record));
                if (exchanged && answered(ReplyAccepted)) {
                    m_succeeded = true;
                    ++m_figures.records;
                    m_figures.downloadMs = m_link.clock().elapsedMs(downloadStart);
                    m_reporter.downloadProgress(m_figures.records, m_figures.downloadMs,
                        static_cast<std::int64_t>(producer.position()), static_cast<std::int64_t>(producer.length()));
                    break;
                }
                if (exchanged) {
                    line(RowIcon::Warning,
                        reply(BodyRoute) == ReplyChecksum ? QStringLiteral("Firmware download checksum error!")
                                                          : QStringLiteral("Incorrect response from panel/board!"));
                }
                ++nRW;
                debugLine(QStringLiteral("nRW: ") + QString::number(nRW));
                // A stop request must not wait for the remaining repeats: against a board that
                // has gone quiet each one costs a full reply wait, two minutes in all, and the
                // record stays unacknowledged either way.
                if (aborted())
                    break;
                sleepMs(m_link, 500);
                if (nRW >= kRecordAttempts)
                    break;
            }
        }
        m_reporter.progress(true, downloadPercent(producer.position(), producer.length()), true, 0, 100);
    }
    if (!m_succeeded)
        return false;
    // Stopped by an abort: the board stays in its boot loader and gets no leave request.
    return !(stopped || aborted());
}

bool PanelUpdate::leaveBootLoader()
{
    m_reporter.progress(true, 100, true, 0, 100);
    line(RowIcon::Information, QStringLiteral("Finishing firmware update..."));
    if (!m_fpga) {
        line(RowIcon::Information,
            m_restartWait
                ? QStringLiteral("Panel/board will now exit Boot mode and reconnect to the network...  Please wait!")
                : QStringLiteral("Panel/board will now exit Boot mode...  Please wait!"));
    }
    sleepMs(m_link, 1000);
    if (!send(leaveBootLoaderRequest(m_req.slot))) {
        m_succeeded = false;
        return false;
    }
    restartWait(m_link, m_reporter, m_restartWait);
    return true;
}

void PanelUpdate::verify()
{
    line(RowIcon::Information, QStringLiteral("Contacting panel/board..."));
    int counter = kVerifyChecks;
    while (--counter > 0) {
        if (aborted())
            break;
        m_succeeded = false;
        clearReply();
        if (statusAnswer()) {
            m_succeeded = true;
            m_inBootMode = reply(BodySubCommand) != StatusRunning;
            noteAnswerAfter();
            break;
        }
    }
    hideProgress(m_reporter);
    debugLine(QStringLiteral("Exit Boot mode downloadattempts/i (10/20): ") + QString::number(counter));

    if (m_inBootMode && !aborted()) {
        sleepMs(m_link, 3000);
        m_succeeded = false;
        clearReply();
        debugLine(QStringLiteral("re-check"));
        if (statusAnswer()) {
            m_contacted = true;
            m_succeeded = reply(BodySubCommand) != StatusBootLoader;
            noteAnswerAfter();
        }
    }

    if (m_succeeded) {
        if (m_fpga && reply(BodyPayload) == 0)
            line(RowIcon::Warning, QStringLiteral("Panel/board failed to update!  Firmware version: ") + version());
        else
            line(RowIcon::Information, QStringLiteral("Panel/board found!  Firmware version: ") + version());
    }
    if (m_inBootMode)
        line(RowIcon::Warning, QStringLiteral("Panel/board is in Boot mode!"));
}

UpdateResult PanelUpdate::outcome()
{
    m_content.clear();
    m_content.squeeze();
    if (m_req.verbose)
        m_reporter.listLine(RowIcon::Blank, QString());

    UpdateResult result = UpdateResult::Successful;
    if (!m_fileOk && (!m_damage.ok || !m_refusal.isEmpty())) {
        // The file is there but must not reach the board: say what is wrong with it, not that
        // it could not be found.
        line(RowIcon::Error, m_damage.ok ? m_refusal : m_damage.errorLine());
        line(RowIcon::Information,
            QStringLiteral("*** Please replace the file: '") + QFile::decodeName(m_req.path) + QStringLiteral("'"));
        result = UpdateResult::FileMissing;
    } else if (!m_fileOk) {
        line(RowIcon::Error, QStringLiteral("*** Error: Could not open/find the firmware file!"));
        line(RowIcon::Information,
            QStringLiteral("*** Please make sure the file: '") + QFile::decodeName(m_req.path)
                + QStringLiteral("' exists"));
        result = UpdateResult::FileMissing;
    } else if (!m_contacted) {
        line(RowIcon::Error, QStringLiteral("*** Error: Could not connect/find the panel/board!"));
        result = UpdateResult::ConnectionProblem;
    } else if (!m_succeeded) {
        line(RowIcon::Error, QStringLiteral("*** Error: Firmware update failed!"));
        result = UpdateResult::Failed;
    } else if (m_fpga && reply(BodyPayload) == 0) {
        line(RowIcon::Error, QStringLiteral("*** Error: Panel/board failed to update!  Please try the update again."));
        result = UpdateResult::Failed;
    } else if (m_inBootMode) {
        line(RowIcon::Warning,
            QStringLiteral("*** Warning: Panel/board is still in Boot mode!  Please try the update again."));
        result = UpdateResult::StillInBootMode;
    } else {
        const std::uint8_t build = buildVersion(m_req.deviceType, m_req.slot.boardType);
        if (reply(BodyPayload) != build) {
            line(RowIcon::Warning,
                QStringLiteral("Warning: Panel/board firmware version (") + version() + QStringLiteral(") ")
                    + QStringLiteral("differs from build version ") + QStringLiteral("(") + QString::number(build)
                    + QStringLiteral(")"));
        }
    }
    hideProgress(m_reporter);
    return result;
}

} // namespace

PanelUpdateRequest makePanelUpdateRequest(
    const QByteArray &path, int deviceType, int panelIndex, const PanelSlot &slot, std::uint8_t picType, bool verbose)
{
    PanelUpdateRequest request;
    request.path = path;
    request.deviceType = deviceType;
    request.panelIndex = panelIndex;
    request.slot = slot;
    request.picType = picType;
    request.verbose = verbose;
    return request;
}

UpdateResult updatePanelFirmware(
    PanelLink &link, UpdateReporter &reporter, const PanelUpdateRequest &request, UpdateFigures *figures)
{
    UpdateFigures own;
    PanelUpdate update(link, reporter, request, figures ? *figures : own);
    return update.run();
}

RestartWaitEnd restartWait(PanelLink &link, UpdateReporter &reporter, bool probeDevice)
{
    const int waitTicks = probeDevice ? kProbeWaitTicks : kWaitTicks;
    Ticker ticker(link.clock());
    for (int i = 1; i <= waitTicks; ++i) {
        if (link.abortRequested())
            return RestartWaitEnd::Stopped;
        sendWaiting(reporter, i, waitTicks);
        ticker.waitTick(i);
        if (probeDevice && i % kProbeEveryTicks == 0 && link.probeDevice(link.target().host)) {
            const int p = progressPercent(i, waitTicks); // at most 85: the probes come at 30 %, 60 % and 85 %
            debugLine(QStringLiteral("[Device is running! ") + QString::number(p) + QStringLiteral("%]"));
            for (int v = p + 1; v <= 99; ++v) {
                if (link.abortRequested())
                    break;
                reporter.progress(true, v, false, 0, 0);
            }
            return RestartWaitEnd::DeviceAnswered;
        }
    }
    return RestartWaitEnd::Waited;
}

} // namespace orvo
