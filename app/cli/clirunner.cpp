#include "clirunner.h"

#include "appidentity.h"

#include "catalogue.h"
#include "clirelease.h"
#include "clock.h"
#include "devicejob.h"
#include "devicetext.h"
#include "firmwarefiles.h"
#include "history.h"
#include "multidevice.h"
#include "releaseinstall.h"
#include "workerhost.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>
#include <QSocketNotifier>
#include <QThread>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace orvo::cli {

namespace {

int g_interruptPipe[2] = { -1, -1 };
volatile std::sig_atomic_t g_interrupts = 0;

extern "C" void onInterruptSignal(int)
{
    const int savedErrno = errno;
    ++g_interrupts;
    if (g_interrupts >= 2) {
        static const char message[] = "\norvo-updater-cli: interrupted again, ending at once\n";
        [[maybe_unused]] const ssize_t n = ::write(2, message, sizeof(message) - 1);
        ::_exit(130);
    }
    const char c = 'i';
    [[maybe_unused]] const ssize_t n = ::write(g_interruptPipe[1], &c, 1);
    errno = savedErrno;
}

// The subnets the sweep of the network scan will visit, from the scan's own list.
QStringList sweepSubnets()
{
    QStringList subnets;
    for (const SweepAddress &own : sweepAddresses())
        subnets << QHostAddress(own.ipv4 & 0xFFFFFF00u).toString() + QStringLiteral("/24 (this computer: ")
                + own.address + QStringLiteral(")");
    return subnets;
}

// Whether `path` can be written, without leaving a new empty file behind.
bool canWrite(const QString &path, bool append)
{
    const bool existed = QFileInfo::exists(path);
    QFile file(path);
    if (!file.open(append ? QIODevice::Append : QIODevice::ReadWrite))
        return false;
    file.close();
    if (!existed && !append)
        QFile::remove(path);
    return true;
}

} // namespace

int installInterruptPipe()
{
    if (g_interruptPipe[0] >= 0)
        return g_interruptPipe[0];
    if (::pipe(g_interruptPipe) != 0)
        return -1;
    for (int fd : g_interruptPipe) {
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    struct sigaction action = {};
    action.sa_handler = onInterruptSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0; // no SA_RESTART: a prompt waiting in poll() wakes up
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    ::sigaction(SIGPIPE, &ignore, nullptr);
    return g_interruptPipe[0];
}

Runner::Runner(const Options &options, int interruptFd, QObject *parent)
    : QObject(parent), m_options(options), m_interruptFd(interruptFd)
{ }

Runner::~Runner()
{
    // The host's destructor asks a running job to stop and waits for its thread; the front end
    // it reports to must outlive it.
    m_host.reset();
    m_frontEnd.reset();
}

bool Runner::checkFiles(QString &error) const
{
    // An install may create the folder it fills.
    if (!m_options.firmwareDir.isEmpty() && m_options.command != Command::ReleaseInstall
        && !QFileInfo(m_options.firmwareDir).isDir()) {
        error = QStringLiteral("--firmware: '%1' is not a folder").arg(m_options.firmwareDir);
        return false;
    }
    if (!m_options.logFile.isEmpty() && !canWrite(m_options.logFile, true)) {
        error = QStringLiteral("--log: cannot open '%1' for appending").arg(m_options.logFile);
        return false;
    }
    if (!m_options.jsonFile.isEmpty() && !canWrite(m_options.jsonFile, false)) {
        error = QStringLiteral("--json: cannot write '%1'").arg(m_options.jsonFile);
        return false;
    }
    return true;
}

int Runner::run()
{
    QString error;
    if (!checkFiles(error)) {
        std::fprintf(stderr, "orvo-updater-cli: %s\n", qPrintable(error));
        return ExitBadArguments;
    }

    if (m_options.speedUp > 1.0)
        m_ownClock = std::make_unique<ScaledClock>(m_options.speedUp);
    m_clock = m_ownClock ? m_ownClock.get() : &Clock::real();

    ConsoleFrontEnd::Settings settings;
    settings.out = stdout;
    settings.outIsTerminal = ::isatty(1) == 1;
    settings.progressLines = m_options.progressLines;
    settings.canPrompt = settings.outIsTerminal && ::isatty(0) == 1;
    settings.inputFd = 0;
    settings.interruptFd = m_interruptFd;
    settings.answer = m_options.answer;
    settings.logFile = m_options.logFile;
    m_frontEnd = std::make_unique<ConsoleFrontEnd>(settings);
    m_frontEnd->setInterruptHandler([this] { onInterrupt(); });

    if (m_interruptFd >= 0) {
        m_notifier = new QSocketNotifier(m_interruptFd, QSocketNotifier::Read, this);
        connect(m_notifier, &QSocketNotifier::activated, this, &Runner::onInterrupt);
    }

    m_report[QStringLiteral("program")] = QStringLiteral("orvo-updater-cli");
    m_report[QStringLiteral("version")] = kApplicationVersion;
    m_report[QStringLiteral("command")] = commandName(m_options.command);
    m_report[QStringLiteral("startedAt")] = QDateTime::currentDateTime().toString(Qt::ISODateWithMs);

    const int status = execute();
    const int final = m_interrupted ? int(ExitCancelled) : status;
    writeJson(final);
    return final;
}

int Runner::execute()
{
    if (m_options.command == Command::Panels)
        return listPanels();
    if (m_options.command == Command::History)
        return historyCommand();
    if (m_options.command == Command::ReleaseCheck || m_options.command == Command::ReleaseInstall
        || m_options.command == Command::ReleaseRollback)
        return releaseCommand();

    m_host = std::make_unique<WorkerHost>(*m_clock, m_frontEnd.get());
    Worker *worker = m_host->worker();
    worker->setDevicePort(m_options.port);
    worker->setFirmwareFolder(m_options.firmwareDir.isEmpty()
            ? firmwareFolderPath()
            : QDir(m_options.firmwareDir).absolutePath() + QLatin1Char('/'));
    m_report[QStringLiteral("firmwareFolder")] = worker->firmwareFolder();
    m_report[QStringLiteral("manifest")] = manifestJson(Manifest::read(worker->firmwareFolder()));
    m_report[QStringLiteral("port")] = m_options.port;

    if (m_options.command == Command::Scan)
        return scan();
    if (severalDevices(m_options))
        return severalDevicesCommand();
    return deviceCommand();
}

void Runner::onInterrupt()
{
    if (m_interruptFd >= 0) {
        char buffer[16];
        while (::read(m_interruptFd, buffer, sizeof buffer) > 0) { }
    }
    if (m_interrupted)
        return;
    m_interrupted = true;
    if (m_multi) {
        m_multi->interrupt();
        return;
    }
    if (m_host && m_host->worker()->isWorking()) {
        m_host->worker()->abort();
        m_frontEnd->note(QStringLiteral("Interrupted: the job stops at its next step and sends its closing lines "
                                        "(Ctrl-C again ends the program at once)"));
    } else {
        m_frontEnd->note(QStringLiteral("Interrupted"));
    }
}

void Runner::runJob(const WorkRequest &request)
{
    QEventLoop loop;
    // The thread's end is queued behind every signal the job sent, so when the loop quits the
    // front end has seen all of them.
    const QMetaObject::Connection done = connect(m_host->thread(), &QThread::finished, &loop, &QEventLoop::quit);
    if (m_host->request(request))
        loop.exec();
    disconnect(done);
}

std::optional<int> Runner::lookUpDevice(const QString &address, int &status)
{
    // The window's user scans first and picks the device from the list; here the scan asks the
    // one address, as a manual scan with a single entry.
    m_frontEnd->resetDevices();
    runJob(lookUpRequest(address));
    return askedDevice(*m_frontEnd, address, m_options.port, status);
}

int Runner::scan()
{
    QJsonArray addresses;
    for (const QString &a : qAsConst(m_options.scanAddresses))
        addresses.append(a);
    m_report[QStringLiteral("addresses")] = addresses;
    if (m_options.scanAddresses.isEmpty()) {
        const QStringList subnets = sweepSubnets();
        if (subnets.isEmpty()) {
            m_frontEnd->note(QStringLiteral("No IPv4 address of this computer to sweep: nothing will be asked"));
        } else {
            m_frontEnd->note(QStringLiteral("Sweeping the /24 subnet of each IPv4 address of this computer, one "
                                            "address after the other:"));
            for (const QString &s : subnets)
                m_frontEnd->note(QStringLiteral("  ") + s);
        }
    }
    WorkRequest scan;
    scan.mode = JobMode::ScanNetwork;
    scan.manualIpEnabled = !m_options.scanAddresses.isEmpty();
    for (int i = 0; i < m_options.scanAddresses.size() && i < kMaxManualAddresses; ++i)
        scan.manualIp[static_cast<std::size_t>(i)] = m_options.scanAddresses.at(i);
    runJob(scan);
    QJsonArray devices;
    for (const OrvoDiscoveryInfo &record : m_frontEnd->devices())
        devices.append(deviceJson(record));
    m_report[QStringLiteral("devices")] = devices;
    return m_frontEnd->devices().isEmpty() ? ExitNoDevice : ExitOk;
}

int Runner::deviceCommand()
{
    m_report[QStringLiteral("address")] = m_options.device;
    int lookUpStatus = ExitOk;
    const std::optional<int> index = lookUpDevice(m_options.device, lookUpStatus);
    if (m_interrupted)
        return ExitCancelled;
    if (!index) {
        // A record that names another address (nor checked as loopback for --speed-up) is
        // reported as the device that answered, refused.
        if (!m_frontEnd->devices().isEmpty()) {
            m_deviceBefore = m_frontEnd->devices().first();
            m_report[QStringLiteral("jobEnd")] = jobEndName(JobEnd::Refused);
        }
        return lookUpStatus;
    }
    const OrvoDiscoveryInfo record = m_frontEnd->devices().at(*index);
    m_deviceBefore = record;
    const int deviceType = static_cast<int>(record.type());

    int panelIndex = 0; // the window selects the first row of the panel list with the device
    const bool needsPanel = m_options.command == Command::Check || m_options.command == Command::Update
        || m_options.command == Command::Reset;
    if (needsPanel) {
        if (!isKnownDeviceType(deviceType)) {
            m_frontEnd->note(QStringLiteral("The device's type %1 has no panel catalogue").arg(deviceType));
            return ExitJobFailed;
        }
        const std::optional<int> panel = resolvePanel(deviceType, m_options.panel);
        if (!panel) {
            m_frontEnd->note(QStringLiteral("'%1' is no panel of a %2; `orvo-updater-cli panels %3` lists them")
                                 .arg(m_options.panel, deviceTypeName(deviceType))
                                 .arg(deviceType));
            return ExitBadArguments;
        }
        panelIndex = *panel;
    }

    m_record = JobRecord();
    m_frontEnd->setRecord(&m_record);
    m_frontEnd->resetDevices();

    // What each of the window's handlers stores before it requests its job.
    const std::optional<WorkRequest> request
        = deviceJobRequest(m_options.command, m_options, *index, record, panelIndex);
    if (!request)
        return ExitBadArguments;
    runJob(*request);
    m_frontEnd->setRecord(nullptr);
    return finishDeviceCommand(record, deviceType, panelIndex);
}

int Runner::severalDevicesCommand()
{
    QStringList addresses = m_options.devices;
    if (m_options.allDevices) {
        const int found = scan();
        m_report[QStringLiteral("found")] = m_report.take(QStringLiteral("devices"));
        if (found != ExitOk || m_interrupted) {
            m_frontEnd->note(QStringLiteral("No device found"));
            return found;
        }
        for (const OrvoDiscoveryInfo &record : m_frontEnd->devices()) {
            if (!addresses.contains(ipText(record)) && addresses.size() < kMaxDevices)
                addresses << ipText(record);
        }
    }
    QJsonArray list;
    for (const QString &a : qAsConst(addresses))
        list.append(a);
    m_report[QStringLiteral("addresses")] = list;
    MultiDeviceRun run(m_options, *m_clock, *m_frontEnd, m_host->worker()->firmwareFolder());
    m_multi = &run;
    const int status = run.run(addresses, m_report);
    m_multi = nullptr;
    return status;
}

void Runner::recordHistory()
{
    const QString warning
        = recordJobHistory(historyFilePath(m_options), m_record, QStringLiteral("cli"), QDateTime::currentDateTime());
    if (!warning.isEmpty())
        m_frontEnd->insertListItem(RowIcon::Warning, warning, false);
}

int Runner::historyCommand()
{
    const QString path = historyFilePath(m_options);
    const auto print = [](const QString &text, FILE *to) {
        const QByteArray bytes = text.toLocal8Bit();
        std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), to);
    };
    // Printed entry by entry: a history of any length needs no more memory than one line.
    const bool json = m_options.historyJson;
    const HistoryView view = m_options.historyCsv ? HistoryView::Csv : HistoryView::Table;
    print(json ? QStringLiteral("[") : historyHeader(view), stdout);
    bool first = true;
    const auto sink = [&](const QJsonObject &e) {
        if (json) {
            // Compact JSON escapes every control character, so the exact texts are safe to print.
            const QByteArray object = QJsonDocument(e).toJson(QJsonDocument::Compact);
            std::fputs(first ? "\n" : ",\n", stdout);
            std::fwrite(object.constData(), 1, static_cast<std::size_t>(object.size()), stdout);
        } else {
            print(historyRow(view, e), stdout);
        }
        first = false;
    };
    HistoryRead read;
    if (QFileInfo::exists(path)) {
        const HistoryFilter filter { m_options.historyDevice, m_options.historyBoard,
            m_options.historySince.isEmpty() ? std::nullopt : parseHistoryDate(m_options.historySince),
            m_options.historyLast };
        read = readHistory(path, filter, sink);
    } else {
        print(QStringLiteral("orvo-updater-cli: no history yet at %1\n").arg(visibleText(path)), stderr);
    }
    if (json)
        std::fputs("\n]\n", stdout);
    std::fflush(stdout);
    for (const QString &warning : qAsConst(read.warnings))
        print(QStringLiteral("orvo-updater-cli: %1 %2\n").arg(visibleText(path), warning), stderr);
    if (!read.error.isEmpty()) {
        print(QStringLiteral("orvo-updater-cli: cannot read %1: %2\n").arg(visibleText(path), read.error), stderr);
        return ExitJobFailed;
    }
    return ExitOk;
}

int Runner::finishDeviceCommand(const OrvoDiscoveryInfo &record, int deviceType, int panelIndex)
{
    recordHistory();
    QJsonArray boards;
    for (const BoardOutcome &b : qAsConst(m_record.boards))
        boards.append(boardJson(deviceType, b));
    m_report[QStringLiteral("boards")] = boards;
    const JobOutcome job = m_record.ending();
    m_report[QStringLiteral("jobEnd")] = jobEndName(job.end);
    if (job.delivered)
        m_report[QStringLiteral("delivered")] = *job.delivered;
    const std::optional<OrvoDiscoveryInfo> after = recordAfter(*m_frontEnd, record);
    if (after)
        m_report[QStringLiteral("deviceAfter")] = deviceJson(*after);

    if (m_interrupted)
        return ExitCancelled;
    if (job.end == JobEnd::Refused)
        return ExitJobFailed;

    const BoardOutcome *board = m_record.board(panelIndex);
    switch (m_options.command) {
    case Command::Versions:
        return scanJobStatus(JobMode::GetVersions, job);
    case Command::AutoUpdate: {
        const int status = scanJobStatus(JobMode::AutoUpdate, job);
        if (job.end != JobEnd::Cancelled)
            m_report[QStringLiteral("failedBoards")] = job.failedBoards;
        if (status == ExitUpdateFailed)
            m_frontEnd->note(QStringLiteral("Update failed on %1 boards").arg(job.failedBoards));
        return status;
    }
    case Command::Check:
        return board && board->found.value_or(false) ? ExitOk : ExitJobFailed;
    case Command::Update:
        if (!board || !board->result)
            return ExitJobFailed;
        m_report[QStringLiteral("failedBoards")] = job.failedBoards;
        if (job.failedBoards == 0)
            return ExitOk;
        m_frontEnd->note(QStringLiteral("Update failed on 1 board"));
        return ExitUpdateFailed;
    case Command::Reset:
        if (!board || !board->resetSent.value_or(false))
            return ExitJobFailed;
        if (m_options.checkAfterReset && !board->found.value_or(false))
            return ExitJobFailed;
        return ExitOk;
    case Command::Rename: {
        // The job sends no line; the device's answer, the new record, tells whether it worked.
        if (after && after->nameBytes() == encodeDeviceName(m_options.newName).bytes) {
            m_frontEnd->note(
                QStringLiteral("Renamed the device at %1 to \"%2\"").arg(ipText(*after), after->visibleName()));
            return ExitOk;
        }
        m_frontEnd->note(QStringLiteral("The device did not confirm the new name"));
        return ExitJobFailed;
    }
    case Command::Identify:
        m_frontEnd->note(
            QStringLiteral("Identify request sent to %1 (the device does not acknowledge it)").arg(ipText(record)));
        return ExitOk;
    default:
        return ExitOk;
    }
}

int Runner::listPanels()
{
    const int type = m_options.deviceType;
    const int count = slotCount(type);
    QString text = deviceTypeName(type)
        + (count == 1 ? QStringLiteral(": 1 position\n") : QStringLiteral(": %1 positions\n").arg(count));
    text += QStringLiteral(" No  Name                       Panel Chan Type Addr  Version  File\n");
    QJsonArray boards;
    for (int i = 0; i < count; ++i) {
        const PanelSlot slot = panelSlot(type, i);
        const int build = buildVersion(type, slot.boardType);
        text += QStringLiteral("%1  %2 %3 %4 %5 %6  %7  %8\n")
                    .arg(i, 3)
                    .arg(panelName(type, i), -26)
                    .arg(slot.panel, 5)
                    .arg(slot.channel, 4)
                    .arg(slot.boardType, 4)
                    .arg(slot.boardAddress, 4)
                    .arg(build, 7)
                    .arg(firmwareFile(type, i));
        QJsonObject b;
        b[QStringLiteral("position")] = i;
        b[QStringLiteral("name")] = panelName(type, i);
        b[QStringLiteral("address")] = slotJson(slot);
        b[QStringLiteral("file")] = firmwareFile(type, i);
        b[QStringLiteral("buildVersion")] = build;
        b[QStringLiteral("fpga")] = isFpgaBoard(type, slot.boardType);
        boards.append(b);
    }
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stdout);
    std::fflush(stdout);
    m_report[QStringLiteral("deviceType")] = type;
    m_report[QStringLiteral("typeName")] = deviceTypeName(type);
    m_report[QStringLiteral("panels")] = boards;
    return ExitOk;
}

int Runner::releaseCommand()
{
    const QString folder = m_options.firmwareDir.isEmpty() ? firmwareFolderPath() : m_options.firmwareDir;
    const auto print = [](const QString &text, FILE *to = stdout) {
        const QByteArray bytes = text.toLocal8Bit();
        std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), to);
        std::fflush(to);
    };
    if (m_options.command == Command::ReleaseCheck) {
        const QString dir = m_options.releaseSource.isEmpty() ? folder : m_options.releaseSource;
        if (!QFileInfo(dir).isDir()) {
            print(QStringLiteral("orvo-updater-cli: release check: '%1' is not a folder\n").arg(visibleText(dir)),
                stderr);
            return ExitBadArguments;
        }
        const ReleaseReport report = checkRelease(dir);
        print(releaseTable(report));
        m_report[QStringLiteral("release")] = releaseJson(report);
        m_report[QStringLiteral("manifest")] = manifestJson(report.manifest);
        return releaseCheckStatus(report);
    }

    const bool install = m_options.command == Command::ReleaseInstall;
    if (install)
        print(QStringLiteral("Checking the release %1 before it replaces %2\n")
                  .arg(visibleText(m_options.releaseSource), visibleText(folder)));
    const InstallOutcome outcome
        = install ? installRelease(m_options.releaseSource, folder, m_options.force) : rollbackRelease(folder);
    if (outcome.check) {
        print(releaseTable(*outcome.check));
        m_report[QStringLiteral("release")] = releaseJson(*outcome.check);
    }
    m_report[QStringLiteral("firmwareFolder")] = outcome.target;
    m_report[QStringLiteral("installed")] = outcome.installed;
    m_report[QStringLiteral("previous")]
        = outcome.previous.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(outcome.previous);
    if (!outcome.refusal.isEmpty()) {
        m_report[QStringLiteral("refusal")] = outcome.refusal;
        print(QStringLiteral("*** Error: ") + visibleText(outcome.refusal) + QLatin1Char('\n'));
        return ExitJobFailed;
    }
    if (install)
        print(QStringLiteral("Installed the release into %1").arg(outcome.target)
            + (outcome.previous.isEmpty() ? QString()
                                          : QStringLiteral("; the previous one is kept in %1 (`release rollback` "
                                                           "brings it back)")
                                                .arg(outcome.previous))
            + QLatin1Char('\n'));
    else
        print(QStringLiteral("Rolled back: %1 holds the previous release again; the one it replaced is kept in %2\n")
                  .arg(outcome.target, outcome.previous));
    return ExitOk;
}

void Runner::writeJson(int status)
{
    if (m_options.jsonFile.isEmpty())
        return;
    m_report[QStringLiteral("exitStatus")] = status;
    m_report[QStringLiteral("outcome")] = exitStatusText(status);
    m_report[QStringLiteral("interrupted")] = m_interrupted;
    m_report[QStringLiteral("finishedAt")] = QDateTime::currentDateTime().toString(Qt::ISODateWithMs);
    m_report[QStringLiteral("device")]
        = m_deviceBefore ? QJsonValue(deviceJson(*m_deviceBefore)) : QJsonValue(QJsonValue::Null);
    if (m_frontEnd) {
        m_report[QStringLiteral("lines")] = m_frontEnd->lines();
        m_report[QStringLiteral("messageBoxes")] = m_frontEnd->boxes();
    }
    QSaveFile file(m_options.jsonFile);
    if (!file.open(QIODevice::WriteOnly) || file.write(QJsonDocument(m_report).toJson()) < 0 || !file.commit())
        std::fprintf(stderr, "orvo-updater-cli: could not write the report to %s\n", qPrintable(m_options.jsonFile));
}

} // namespace orvo::cli
