#include "clireport.h"

#include "catalogue.h"

#include <QJsonArray>

namespace orvo::cli {

namespace {

template <typename T>
QJsonValue optionalJson(const std::optional<T> &value)
{
    return value ? QJsonValue(static_cast<double>(*value)) : QJsonValue(QJsonValue::Null);
}

QJsonValue optionalJson(const std::optional<bool> &value)
{
    return value ? QJsonValue(*value) : QJsonValue(QJsonValue::Null);
}

QString restartWaitName(RestartWaitEnd end)
{
    switch (end) {
    case RestartWaitEnd::DeviceAnswered:
        return QStringLiteral("device answered");
    case RestartWaitEnd::Stopped:
        return QStringLiteral("stopped");
    case RestartWaitEnd::Waited:
        break;
    }
    return QStringLiteral("waited");
}

} // namespace

QJsonValue manifestJson(const Manifest &manifest)
{
    switch (manifest.state()) {
    case Manifest::State::Absent:
        return QStringLiteral("absent");
    case Manifest::State::Read:
        return QJsonObject { { QStringLiteral("state"), QStringLiteral("present") },
            { QStringLiteral("entries"), manifest.entries().size() } };
    case Manifest::State::Unreadable:
        break;
    }
    return QJsonObject { { QStringLiteral("state"), QStringLiteral("unreadable") },
        { QStringLiteral("fault"), manifest.fault() } };
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

QJsonObject boardJson(int deviceType, const BoardOutcome &board)
{
    QJsonObject o;
    o[QStringLiteral("position")] = board.position;
    o[QStringLiteral("name")] = panelName(deviceType, board.position);
    o[QStringLiteral("address")] = slotJson(board.slot);
    o[QStringLiteral("buildVersion")] = buildVersion(deviceType, board.slot.boardType);
    o[QStringLiteral("found")] = optionalJson(board.found);
    o[QStringLiteral("upToDate")] = optionalJson(board.upToDate);
    o[QStringLiteral("versionBefore")] = optionalJson(board.versionBefore);
    o[QStringLiteral("bootModeBefore")] = optionalJson(board.bootModeBefore);
    o[QStringLiteral("versionAfter")] = optionalJson(board.versionAfter);
    o[QStringLiteral("bootModeAfter")] = optionalJson(board.bootModeAfter);
    o[QStringLiteral("result")] = optionalJson(board.result);
    o[QStringLiteral("resultText")]
        = board.result ? QJsonValue(updateResultMessage(*board.result).trimmed()) : QJsonValue(QJsonValue::Null);
    o[QStringLiteral("attempts")] = optionalJson(board.attempts);
    o[QStringLiteral("durationMs")] = optionalJson(board.durationMs);
    if (board.resetSent)
        o[QStringLiteral("resetSent")] = *board.resetSent;
    if (board.restartWait)
        o[QStringLiteral("restartWait")] = restartWaitName(*board.restartWait);
    if (board.picType)
        o[QStringLiteral("processor")]
            = *board.picType < kPicUnknown ? picPart(*board.picType) : QStringLiteral("Original PIC32MZ2048EFG...");
    if (!board.firmwareSha256.isEmpty()) {
        o[QStringLiteral("file")] = board.firmwareFile;
        o[QStringLiteral("sha256")] = QString::fromLatin1(board.firmwareSha256);
        o[QStringLiteral("manifest")] = manifestVerdictName(board.manifest.value_or(ManifestVerdict::Absent));
    }
    if (!board.refusal.isEmpty())
        o[QStringLiteral("refusal")] = board.refusal;
    if (board.records > 0) {
        o[QStringLiteral("records")] = board.records;
        o[QStringLiteral("downloadMs")] = static_cast<double>(board.downloadMs);
        o[QStringLiteral("recordsPerSecond")] = board.downloadMs > 0
            ? QJsonValue(qRound(board.records * 10000.0 / static_cast<double>(board.downloadMs)) / 10.0)
            : QJsonValue(QJsonValue::Null);
    }
    return o;
}

QString exitStatusText(int status)
{
    switch (status) {
    case ExitOk:
        return QStringLiteral("ok");
    case ExitJobFailed:
        return QStringLiteral("job failed");
    case ExitBadArguments:
        return QStringLiteral("bad arguments");
    case ExitNoDevice:
        return QStringLiteral("no device answered");
    case ExitUpdateFailed:
        return QStringLiteral("update failed");
    case ExitCancelled:
        return QStringLiteral("cancelled");
    default:
        return QString();
    }
}

} // namespace orvo::cli
