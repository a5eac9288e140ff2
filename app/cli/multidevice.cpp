#include "multidevice.h"

#include "catalogue.h"
#include "clireport.h"
#include "clock.h"
#include "devicejob.h"
#include "devicetext.h"
#include "history.h"
#include "workerhost.h"

#include <QDateTime>
#include <QEventLoop>
#include <QJsonArray>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <sys/ioctl.h>
#include <unistd.h>

namespace orvo::cli {

namespace {

// The terminal is redrawn at most this often: a download reports every record.
constexpr int kRedrawMs = 100;

int statusRank(int status)
{
    switch (status) {
    case ExitOk:
        return 0;
    case ExitCancelled:
        return 1;
    case ExitNoDevice:
        return 2;
    case ExitJobFailed:
        return 3;
    default:
        return 4;
    }
}

void writeOut(const QString &text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stdout);
    std::fflush(stdout);
}

QString percentText(int value)
{
    return value < 0 ? QStringLiteral("   -") : QStringLiteral("%1%").arg(value, 3);
}

} // namespace

int worstStatus(int a, int b)
{
    return statusRank(b) > statusRank(a) ? b : a;
}

struct MultiDeviceRun::Device
{
    enum class Stage { Waiting, LookingUp, Working, Finished };

    QString address;
    Stage stage = Stage::Waiting;
    std::unique_ptr<ConsoleFrontEnd> frontEnd;
    std::unique_ptr<WorkerHost> host;
    JobRecord record;
    std::optional<OrvoDiscoveryInfo> before;
    std::optional<OrvoDiscoveryInfo> after;
    int deviceType = -1;
    int status = ExitOk;
    bool quiet = false;
    QString pending; ///< output up to the next line end
    int board = -1;  ///< the board last downloaded to, until its result comes
};

MultiDeviceRun::MultiDeviceRun(
    const Options &options, Clock &clock, ConsoleFrontEnd &main, const QString &firmwareFolder, QObject *parent)
    : QObject(parent), m_options(options), m_clock(clock), m_main(main), m_firmwareFolder(firmwareFolder)
{
    m_terminal = ::isatty(1) == 1;
    winsize size {};
    if (m_terminal && ::ioctl(1, TIOCGWINSZ, &size) == 0 && size.ws_col >= 20)
        m_columns = size.ws_col;
    m_redraw = new QTimer(this);
    m_redraw->setInterval(kRedrawMs);
    connect(m_redraw, &QTimer::timeout, this, [this] {
        if (m_dirty)
            drawRows();
    });
}

MultiDeviceRun::~MultiDeviceRun()
{
    // Each host's destructor stops its job and waits for its thread; the front ends go after.
    for (auto &d : m_devices)
        d->host.reset();
}

int MultiDeviceRun::run(const QStringList &addresses, QJsonObject &report)
{
    m_addresses = addresses;
    const int limit = m_options.parallel > 0 ? m_options.parallel : kMaxParallel;
    m_parallel = std::max(1, std::min<int>(limit, static_cast<int>(addresses.size())));
    report[QStringLiteral("parallel")] = m_parallel;

    if (m_options.command == Command::Versions) {
        runPhase(JobMode::GetVersions, Answer::No, QString(), false);
        return summarise(report);
    }
    Answer answer = m_options.answer;
    QString answeredBy;
    if (answer == Answer::Ask && ::isatty(0) == 1 && m_terminal) {
        // One question for the whole set: the versions are read first, quietly, so that it can
        // say how many boards of each device are out of date.
        if (!askOnce()) {
            for (auto &d : m_devices) {
                if (d->status == ExitOk)
                    d->status = ExitCancelled;
            }
            return summarise(report);
        }
        answer = Answer::Yes;
        answeredBy = QStringLiteral(" (the question above, for every device)");
    }
    if (!m_interrupted)
        runPhase(JobMode::AutoUpdate, answer, answeredBy, false);
    return summarise(report);
}

bool MultiDeviceRun::askOnce()
{
    m_main.note(QStringLiteral("Reading the versions of %1 devices before the question").arg(m_addresses.size()));
    runPhase(JobMode::GetVersions, Answer::No, QString(), true);
    if (m_interrupted)
        return false;
    QStringList rows;
    int total = 0;
    for (const auto &d : m_devices) {
        if (!d->before) {
            rows << QStringLiteral("%1: no answer, skipped").arg(d->address);
            continue;
        }
        int count = 0;
        for (const BoardOutcome &b : qAsConst(d->record.boards)) {
            if (m_options.force ? b.found.value_or(false) : !b.upToDate.value_or(true))
                ++count;
        }
        total += count;
        rows << QStringLiteral("%1 \"%2\" (%3): %4 of %5 boards to update")
                    .arg(d->address, d->before->visibleName(), deviceTypeName(d->deviceType))
                    .arg(count)
                    .arg(d->record.boards.size());
    }
    if (total == 0)
        return true; // each device's job finds nothing to do and asks nothing
    const BoxButton answer = m_main.messageBox(BoxIcon::Question, QStringLiteral("Auto Update"),
        QStringLiteral("Update %1 boards on %2 devices?\n").arg(total).arg(m_addresses.size())
            + rows.join(QLatin1Char('\n')),
        BoxButtons::YesNo);
    return answer == BoxButton::Yes && !m_interrupted;
}

void MultiDeviceRun::runPhase(JobMode mode, Answer answer, const QString &answeredBy, bool quiet)
{
    for (auto &d : m_devices)
        d->host.reset();
    m_devices.clear();
    m_mode = mode;
    m_running = 0;
    for (const QString &address : qAsConst(m_addresses)) {
        auto d = std::make_unique<Device>();
        d->address = address;
        d->quiet = quiet;
        Device *device = d.get();
        ConsoleFrontEnd::Settings settings;
        settings.outIsTerminal = false; // the rows below the lines are drawn here
        settings.progressLines = m_options.progressLines && !m_terminal && !quiet;
        settings.answer = answer;
        settings.answeredBy = answeredBy;
        settings.logFile = quiet ? QString() : m_options.logFile;
        settings.prefix = address + QStringLiteral(": ");
        settings.sink = [this, device](const QString &text) {
            if (device->quiet)
                return;
            device->pending += text;
            int end = 0;
            while ((end = device->pending.indexOf(QLatin1Char('\n'))) >= 0) {
                printLine(device->pending.left(end + 1));
                device->pending.remove(0, end + 1);
            }
        };
        if (m_terminal && !quiet) {
            settings.onProgress = [this, device] {
                m_dirty = true;
                if (device->frontEnd->progressView().download)
                    device->board = device->frontEnd->progressView().download->position;
            };
        }
        d->frontEnd = std::make_unique<ConsoleFrontEnd>(settings);
        d->frontEnd->setRecord(&d->record);
        m_devices.push_back(std::move(d));
    }
    if (m_terminal && !quiet)
        m_redraw->start();
    QEventLoop loop;
    m_loop = &loop;
    startMore();
    if (m_running > 0)
        loop.exec();
    m_loop = nullptr;
    m_redraw->stop();
    clearRows();
}

void MultiDeviceRun::startMore()
{
    for (auto &d : m_devices) {
        if (m_running >= m_parallel)
            break;
        if (d->stage != Device::Stage::Waiting)
            continue;
        if (m_interrupted) {
            d->stage = Device::Stage::Finished;
            d->status = ExitCancelled;
            d->frontEnd->note(QStringLiteral("Not started: interrupted"));
            continue;
        }
        start(*d);
    }
    if (m_running == 0 && m_loop)
        m_loop->quit();
}

void MultiDeviceRun::start(Device &d)
{
    ++m_running;
    d.stage = Device::Stage::LookingUp;
    d.host = std::make_unique<WorkerHost>(m_clock, d.frontEnd.get());
    Worker *worker = d.host->worker();
    worker->setDevicePort(m_options.port);
    worker->setFirmwareFolder(m_firmwareFolder);
    // The thread's end is queued behind every signal its job sent.
    connect(
        d.host->thread(), &QThread::finished, this,
        [this, device = &d] {
            if (device->stage == Device::Stage::LookingUp)
                lookedUp(*device);
            else if (device->stage == Device::Stage::Working)
                finished(*device);
        },
        Qt::QueuedConnection);
    // The worker's jobs address the devices of its own last scan: a manual scan of this one address.
    d.host->request(lookUpRequest(d.address));
}

void MultiDeviceRun::lookedUp(Device &d)
{
    std::optional<int> index;
    if (m_interrupted)
        d.status = ExitCancelled;
    else
        index = askedDevice(*d.frontEnd, d.address, m_options.port, d.status);
    if (!index) {
        d.stage = Device::Stage::Working;
        finished(d);
        return;
    }
    const OrvoDiscoveryInfo record = d.frontEnd->devices().at(*index);
    d.before = record;
    d.deviceType = static_cast<int>(record.type());
    d.frontEnd->resetDevices();
    const Command command = m_mode == JobMode::AutoUpdate ? Command::AutoUpdate : Command::Versions;
    d.stage = Device::Stage::Working;
    d.host->request(*deviceJobRequest(command, m_options, *index, record));
}

void MultiDeviceRun::finished(Device &d)
{
    d.stage = Device::Stage::Finished;
    --m_running;
    if (d.before) {
        const JobOutcome job = d.record.ending();
        if (!d.quiet) {
            const QString warning = recordJobHistory(
                historyFilePath(m_options), d.record, QStringLiteral("cli"), QDateTime::currentDateTime());
            if (!warning.isEmpty())
                d.frontEnd->insertListItem(RowIcon::Warning, warning, false);
        }
        d.after = recordAfter(*d.frontEnd, *d.before);
        d.status = m_interrupted && job.end == JobEnd::Aborted ? ExitCancelled : scanJobStatus(m_mode, job);
        if (d.status == ExitUpdateFailed)
            d.frontEnd->note(QStringLiteral("Update failed on %1 boards").arg(job.failedBoards));
    }
    if (!d.quiet)
        d.frontEnd->note(QStringLiteral("Finished: %1").arg(exitStatusText(d.status)));
    startMore();
}

void MultiDeviceRun::interrupt()
{
    m_interrupted = true;
    printLine(QStringLiteral("-- Interrupted: every device stops at its next step and sends its closing lines "
                             "(Ctrl-C again ends the program at once)\n"));
    for (auto &d : m_devices) {
        if (d->host && d->host->worker()->isWorking())
            d->host->worker()->abort();
    }
}

int MultiDeviceRun::summarise(QJsonObject &report)
{
    int status = ExitOk;
    int updated = 0, unchanged = 0, failed = 0, skipped = 0;
    int boardsUpdated = 0, boardsFailed = 0, boardsOther = 0;
    QJsonArray sections;
    for (const auto &d : m_devices) {
        status = worstStatus(status, d->status);
        int deviceUpdated = 0;
        QJsonArray boards;
        for (const BoardOutcome &b : qAsConst(d->record.boards)) {
            boards.append(boardJson(d->deviceType, b));
            const auto is = [&b](UpdateResult r) { return b.result == static_cast<int>(r); };
            if (is(UpdateResult::Successful))
                ++deviceUpdated;
            else if (b.result && !is(UpdateResult::PanelNotFound) && !is(UpdateResult::NotRequired))
                ++boardsFailed;
            else
                ++boardsOther;
        }
        boardsUpdated += deviceUpdated;
        if (d->status == ExitCancelled)
            ++skipped;
        else if (d->status != ExitOk)
            ++failed;
        else if (deviceUpdated > 0)
            ++updated;
        else
            ++unchanged;

        QJsonObject s;
        s[QStringLiteral("address")] = d->address;
        s[QStringLiteral("device")] = d->before ? QJsonValue(deviceJson(*d->before)) : QJsonValue(QJsonValue::Null);
        if (d->after)
            s[QStringLiteral("deviceAfter")] = deviceJson(*d->after);
        s[QStringLiteral("boards")] = boards;
        if (d->before) {
            const JobOutcome job = d->record.ending();
            s[QStringLiteral("jobEnd")] = jobEndName(job.end);
            if (m_mode == JobMode::AutoUpdate)
                s[QStringLiteral("failedBoards")] = job.failedBoards;
        }
        s[QStringLiteral("exitStatus")] = d->status;
        s[QStringLiteral("outcome")] = exitStatusText(d->status);
        s[QStringLiteral("lines")] = d->frontEnd->lines();
        s[QStringLiteral("messageBoxes")] = d->frontEnd->boxes();
        sections.append(s);
    }
    report[QStringLiteral("devices")] = sections;
    QJsonObject summary;
    summary[QStringLiteral("devices")] = static_cast<int>(m_devices.size());
    summary[QStringLiteral("devicesUpdated")] = updated;
    summary[QStringLiteral("devicesUnchanged")] = unchanged;
    summary[QStringLiteral("devicesFailed")] = failed;
    summary[QStringLiteral("devicesSkipped")] = skipped;
    summary[QStringLiteral("boardsUpdated")] = boardsUpdated;
    summary[QStringLiteral("boardsFailed")] = boardsFailed;
    summary[QStringLiteral("boardsNotUpdated")] = boardsOther;
    summary[QStringLiteral("exitStatus")] = status;
    report[QStringLiteral("summary")] = summary;
    const bool versions = m_mode == JobMode::GetVersions && m_options.command == Command::Versions;
    m_main.note(
        QStringLiteral("%1 devices: %2 %3, %4 failed, %5 skipped or stopped; boards: %6 updated, %7 failed, %8 not "
                       "updated; exit status %9")
            .arg(m_devices.size())
            .arg(updated + (versions ? unchanged : 0))
            .arg(versions ? QStringLiteral("read") : QStringLiteral("updated, %1 up to date").arg(unchanged))
            .arg(failed)
            .arg(skipped)
            .arg(boardsUpdated)
            .arg(boardsFailed)
            .arg(boardsOther)
            .arg(status));
    return status;
}

QString MultiDeviceRun::progressRow(const Device &d) const
{
    const ConsoleFrontEnd::ProgressView view = d.frontEnd->progressView();
    QString name = d.before ? d.before->visibleName() : QStringLiteral("(looking up)");
    QString board = QStringLiteral("-");
    QString pace;
    const BoardOutcome *last = d.board >= 0 ? d.record.board(d.board) : nullptr;
    if (view.download) {
        board = panelName(d.deviceType, view.download->position);
        if (const std::optional<DownloadPace> p = downloadPace(*view.download))
            pace = QStringLiteral("  ") + downloadPaceText(*p);
    } else if (d.board >= 0 && !(last && last->result)) {
        // After its download a board restarts; the next board's name is known only once its
        // own download begins.
        board = panelName(d.deviceType, d.board) + QStringLiteral(" (restart)");
    } else if (view.task >= 0) {
        board = QStringLiteral("(waiting)");
    }
    QString row = QStringLiteral("%1 %2 %3 overall %4 task %5%6")
                      .arg(d.address, -15)
                      .arg(name.left(21), -21)
                      .arg(board.left(30), -30)
                      .arg(percentText(view.overall), percentText(view.task), pace);
    return row.left(m_columns - 1);
}

void MultiDeviceRun::printLine(const QString &line)
{
    clearRows();
    writeOut(line);
    if (m_rowsDrawn == 0 && m_redraw->isActive())
        m_dirty = true; // drawn again with the next tick, not after every line
}

void MultiDeviceRun::clearRows()
{
    if (m_rowsDrawn > 0)
        writeOut(QStringLiteral("\x1b[%1A\r\x1b[J").arg(m_rowsDrawn));
    m_rowsDrawn = 0;
}

void MultiDeviceRun::drawRows()
{
    m_dirty = false;
    QString text;
    int rows = 0;
    for (const auto &d : m_devices) {
        if (d->stage == Device::Stage::LookingUp || d->stage == Device::Stage::Working) {
            text += QStringLiteral("\x1b[2K") + visibleText(progressRow(*d)) + QLatin1Char('\n');
            ++rows;
        }
    }
    if (m_rowsDrawn > 0)
        text.prepend(QStringLiteral("\x1b[%1A\r\x1b[J").arg(m_rowsDrawn));
    m_rowsDrawn = rows;
    writeOut(text);
}

} // namespace orvo::cli
