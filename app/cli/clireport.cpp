#include "clireport.h"

#include "catalogue.h"

#include <QJsonArray>
#include <QRegularExpression>

namespace orvo::cli {

namespace {

const QString kUpToDate = QStringLiteral("Firmware up to date: ");
const QString kUpdateRequired = QStringLiteral("Firmware update required: ");
const QString kNotFound = QStringLiteral("Error:  Panel/board not found!  ");
const QString kUpdating = QStringLiteral("Updating: ");
const QString kNotFoundInUpdate = QStringLiteral("Warning!  Panel/board not found!   ");
const QString kFailedOn = QStringLiteral("WARNING!  Firmware update FAILED on ");
const QString kBoardFound = QStringLiteral("Panel/board found!  Firmware version: ");
const QString kBoardFailed = QStringLiteral("Panel/board failed to update!  Firmware version: ");
const QString kInBootMode = QStringLiteral("Panel/board is in Boot mode!");
const QString kNotInBootMode = QStringLiteral("Panel/board is not in Boot mode");
const QString kFinishing = QStringLiteral("Finishing firmware update...");

template <typename T>
QJsonValue optionalJson(const std::optional<T> &value)
{
    return value ? QJsonValue(static_cast<double>(*value)) : QJsonValue(QJsonValue::Null);
}

QJsonValue optionalJson(const std::optional<bool> &value)
{
    return value ? QJsonValue(*value) : QJsonValue(QJsonValue::Null);
}

// The number at the end of "... Firmware version: 5" or in "... version: 5 (7)".
std::optional<int> leadingNumber(const QString &text)
{
    static const QRegularExpression number(QStringLiteral("^(\\d+)"));
    const QRegularExpressionMatch m = number.match(text);
    if (!m.hasMatch())
        return std::nullopt;
    return m.captured(1).toInt();
}

// The result code whose text starts `text`, followed by the three blanks of the result lines.
std::optional<int> resultOfLine(const QString &text)
{
    for (int r = UpdateFailed; r <= UpdateNotRequired; ++r) {
        if (text.startsWith(updateResultMessage(r) + QStringLiteral("   ")))
            return r;
    }
    return std::nullopt;
}

} // namespace

QString lineMark(int icon)
{
    switch (icon) {
    case 0:
        return QString();
    case 1:
        return QStringLiteral("[ok]");
    case 3:
        return QStringLiteral("[!!]");
    case 4:
        return QStringLiteral("[w!]");
    case 5 + UpdateFailed:
        return QStringLiteral("[!! failed]");
    case 5 + UpdateSuccessful:
        return QStringLiteral("[ok updated]");
    case 5 + UpdateStillInBootMode:
        return QStringLiteral("[!! boot mode]");
    case 5 + UpdateConnectionProblem:
        return QStringLiteral("[!! connection]");
    case 5 + UpdatePanelNotFound:
        return QStringLiteral("[!! not found]");
    case 5 + UpdatePending:
        return QStringLiteral("[w! pending]");
    case 5 + UpdateFileMissing:
        return QStringLiteral("[!! no file]");
    case 5 + UpdateNotRequired:
        return QStringLiteral("[ok up to date]");
    default:
        return QStringLiteral("[..]"); // information, and every unknown code, as in the window
    }
}

QString logFileLine(const QDateTime &when, const QString &text)
{
    return when.toString(QStringLiteral("dd/MM/yyyy  hh:mm:ss.zzz   ")) + text;
}

bool isLoggedRow(const QString &text)
{
    return !text.contains(QLatin1String("Scanning IP addresses:"));
}

JobTracker::JobTracker(Command command, int deviceType, int panelIndex)
    : m_command(command), m_deviceType(deviceType), m_panelIndex(panelIndex)
{
}

BoardReport &JobTracker::board(int position)
{
    for (BoardReport &b : m_boards) {
        if (b.position == position)
            return b;
    }
    BoardReport b;
    b.position = position;
    m_boards.append(b);
    return m_boards.last();
}

std::optional<int> JobTracker::positionOfName(const QString &name) const
{
    for (int i = 0; i < kPanelPositions; ++i) {
        if (!name.isEmpty() && panelName(m_deviceType, i) == name)
            return i;
    }
    return std::nullopt;
}

// name + "   Version: " + v + [" [BootMode]"] + "  (" + build + ")" [+ time text]
bool JobTracker::statusText(const QString &text, int &position, int &version, bool &bootMode) const
{
    static const QRegularExpression pattern(
        QStringLiteral("^(.*)   Version: (\\d+)( \\[BootMode\\])?  \\((\\d+)\\)"));
    const QRegularExpressionMatch m = pattern.match(text);
    if (!m.hasMatch())
        return false;
    const auto p = positionOfName(m.captured(1));
    if (!p)
        return false;
    position = *p;
    version = m.captured(2).toInt();
    bootMode = !m.captured(3).isEmpty();
    return true;
}

void JobTracker::line(int icon, const QString &text, qint64 nowMs)
{
    if (text.startsWith(QLatin1String("Warning!  No device selected"))
        || text.startsWith(QLatin1String("Warning!  Unknown device type"))
        || text.startsWith(QLatin1String("Warning!  No panel selected"))) {
        m_refused = true;
        return;
    }
    switch (m_command) {
    case Command::Versions:
    case Command::AutoUpdate:
        versionLines(icon, text, nowMs);
        break;
    case Command::Update:
        updateLines(icon, text, nowMs);
        break;
    case Command::Check:
        checkLines(icon, text, false);
        break;
    case Command::Reset:
        if (text.startsWith(QLatin1String("Resetting "))) {
            board(m_panelIndex).resetSent = true;
        } else if (text.startsWith(QLatin1String("Warning!  Failed to Reset "))) {
            board(m_panelIndex).resetSent = false;
        } else {
            checkLines(icon, text, true);
        }
        break;
    default:
        break;
    }
}

void JobTracker::versionLines(int icon, const QString &text, qint64 nowMs)
{
    int position = -1;
    int version = 0;
    bool bootMode = false;
    if (text == QLatin1String("*** FIRMWARE VERSION SCAN FINISHED ***")) {
        m_scanFinished = true;
    } else if (text.startsWith(QLatin1String("*** FIRMWARE UPDATE FINISHED ***"))) {
        m_updateFinished = true;
    } else if (text == QLatin1String("*** FIRMWARE UPDATE CANCELLED ***")) {
        m_updateCancelled = true;
    } else if (text.startsWith(kFailedOn)) {
        m_failedBoards = leadingNumber(text.mid(kFailedOn.size()));
    } else if (text.startsWith(kUpToDate) || text.startsWith(kUpdateRequired) || text.startsWith(kNotFound)) {
        const bool upToDate = text.startsWith(kUpToDate);
        const bool notFound = text.startsWith(kNotFound);
        const QString rest = text.mid(upToDate ? kUpToDate.size() : (notFound ? kNotFound.size() : kUpdateRequired.size()));
        if (statusText(rest, position, version, bootMode)) {
            BoardReport &b = board(position);
            b.upToDate = upToDate;
            b.versionBefore = version;
            b.bootModeBefore = bootMode;
            if (notFound)
                b.found = false;
        }
    } else if (text.startsWith(kUpdating)) {
        if (statusText(text.mid(kUpdating.size()), position, version, bootMode)) {
            m_current = position;
            m_startMs = nowMs;
        }
    } else if (m_current >= 0 && (icon == 1 || (icon >= 5 && icon <= 12))) {
        const auto result = resultOfLine(text);
        if (result && statusText(text.mid(updateResultMessage(*result).size() + 3), position, version, bootMode)
            && position == m_current) {
            BoardReport &b = board(position);
            b.result = *result;
            b.versionAfter = version;
            b.bootModeAfter = bootMode;
            // The worker's own report (boardUpdated) follows and replaces these estimates.
            if (!b.durationMs)
                b.durationMs = nowMs - m_startMs;
            m_current = -1;
        }
    } else if (m_current >= 0 && icon == 4 && text.startsWith(kNotFoundInUpdate)) {
        BoardReport &b = board(m_current);
        b.result = UpdatePending;
        b.found = false;
        m_current = -1;
    }
}

void JobTracker::boardUpdated(const PanelStatus &status, int attempts, qint64 durationMs)
{
    BoardReport &b = board(status.panelIndex);
    b.result = static_cast<int>(status.result);
    b.versionAfter = status.version;
    b.bootModeAfter = status.bootMode;
    b.attempts = attempts;
    b.durationMs = durationMs;
}

void JobTracker::updateLines(int icon, const QString &text, qint64 nowMs)
{
    BoardReport &b = board(m_panelIndex);
    if (m_startMs < 0)
        m_startMs = nowMs;
    if (text == kFinishing) {
        m_finishing = true;
    } else if (text.startsWith(kBoardFound) || text.startsWith(kBoardFailed)) {
        const bool failed = text.startsWith(kBoardFailed);
        const auto version = leadingNumber(text.mid(failed ? kBoardFailed.size() : kBoardFound.size()));
        if (!m_finishing) {
            b.found = true;
            if (!b.versionBefore)
                b.versionBefore = version;
        } else {
            b.versionAfter = version;
        }
    } else if (text == kInBootMode || text == kNotInBootMode) {
        const bool inBootMode = text == kInBootMode;
        if (!m_finishing)
            b.bootModeBefore = inBootMode;
        else
            b.bootModeAfter = inBootMode;
    } else if (icon >= 5 && icon <= 12
               && text.startsWith(panelName(m_deviceType, m_panelIndex) + QStringLiteral(":  "))) {
        b.result = icon - 5;
        b.attempts = 1;
        b.durationMs = nowMs - m_startMs;
        if (b.versionAfter && !b.bootModeAfter)
            b.bootModeAfter = false;
    }
}

void JobTracker::checkLines(int icon, const QString &text, bool afterReset)
{
    Q_UNUSED(icon)
    const QString name = panelName(m_deviceType, m_panelIndex);
    BoardReport &b = board(m_panelIndex);
    auto store = [&b, afterReset](const QString &rest, bool bootMode) {
        b.found = true;
        if (afterReset) {
            b.versionAfter = leadingNumber(rest);
            b.bootModeAfter = bootMode;
        } else {
            b.versionBefore = leadingNumber(rest);
            b.bootModeBefore = bootMode;
        }
    };
    const QString found = name + QStringLiteral(" Found!  Firmware version: ");
    const QString bootMode = QStringLiteral("Warning!  ") + name + QStringLiteral(" in BootMode!  Firmware version: ");
    const QString required = QStringLiteral("Warning!  ") + name
        + QStringLiteral(" requires firmware update!  Firmware version: ");
    if (text == QStringLiteral("Warning!  Failed to Connect to ") + name)
        b.found = false;
    else if (text.startsWith(found))
        store(text.mid(found.size()), false);
    else if (text.startsWith(bootMode))
        store(text.mid(bootMode.size()), true);
    else if (text.startsWith(required))
        store(text.mid(required.size()), false);
    else if (text.startsWith(QLatin1String("Processor: ")))
        b.processor = text.mid(11);
}

int JobTracker::boardsFailed() const
{
    int failed = 0;
    for (const BoardReport &b : m_boards) {
        if (b.result && *b.result != UpdateSuccessful && *b.result != UpdatePanelNotFound
            && *b.result != UpdateNotRequired)
            ++failed;
    }
    return failed;
}

QJsonObject deviceJson(const OrvoDiscoveryInfo &record)
{
    QJsonObject o;
    o[QStringLiteral("type")] = static_cast<double>(record.type());
    o[QStringLiteral("typeName")] = deviceTypeName(record.type());
    o[QStringLiteral("name")] = record.name();
    o[QStringLiteral("ip")] = ipText(record);
    o[QStringLiteral("mac")] = macText(record);
    o[QStringLiteral("needsUpdate")] = record.needsUpdate();
    o[QStringLiteral("optionMask")] = static_cast<double>(record.optionMask());
    QJsonArray byData;
    for (int i = 0; i < static_cast<int>(OrvoDiscoveryInfo::kByDataWords); ++i)
        byData.append(static_cast<double>(record.byData(i)));
    o[QStringLiteral("byData")] = byData;
    o[QStringLiteral("record")] = QString::fromLatin1(record.toByteArray().toHex());
    return o;
}

QJsonObject slotJson(const PanelSlot &slot)
{
    QJsonObject address;
    address[QStringLiteral("panel")] = slot.panel;
    address[QStringLiteral("channel")] = slot.channel;
    address[QStringLiteral("boardType")] = slot.boardType;
    address[QStringLiteral("boardAddress")] = slot.boardAddress;
    return address;
}

QJsonObject boardJson(int deviceType, const BoardReport &board)
{
    const PanelSlot slot = panelSlot(deviceType, board.position);
    QJsonObject o;
    o[QStringLiteral("position")] = board.position;
    o[QStringLiteral("name")] = panelName(deviceType, board.position);
    o[QStringLiteral("address")] = slotJson(slot);
    o[QStringLiteral("buildVersion")] = buildVersion(deviceType, slot.boardType);
    o[QStringLiteral("found")] = optionalJson(board.found);
    o[QStringLiteral("upToDate")] = optionalJson(board.upToDate);
    o[QStringLiteral("versionBefore")] = optionalJson(board.versionBefore);
    o[QStringLiteral("bootModeBefore")] = optionalJson(board.bootModeBefore);
    o[QStringLiteral("versionAfter")] = optionalJson(board.versionAfter);
    o[QStringLiteral("bootModeAfter")] = optionalJson(board.bootModeAfter);
    o[QStringLiteral("result")] = optionalJson(board.result);
    o[QStringLiteral("resultText")] = board.result ? QJsonValue(updateResultMessage(*board.result).trimmed())
                                                   : QJsonValue(QJsonValue::Null);
    o[QStringLiteral("attempts")] = optionalJson(board.attempts);
    o[QStringLiteral("durationMs")] = optionalJson(board.durationMs);
    if (board.resetSent)
        o[QStringLiteral("resetSent")] = *board.resetSent;
    if (!board.processor.isEmpty())
        o[QStringLiteral("processor")] = board.processor;
    return o;
}

} // namespace orvo::cli
