#include "clirelease.h"

#include "catalogue.h"
#include "clioptions.h"
#include "clireport.h"
#include "devicetext.h"

#include <QJsonArray>

namespace orvo::cli {

namespace {

constexpr int kHashPrefix = 12;

QString manifestText(const Manifest &manifest)
{
    switch (manifest.state()) {
    case Manifest::State::Absent:
        return QStringLiteral("manifest: none");
    case Manifest::State::Read:
        return QStringLiteral("manifest %1: %2 entries").arg(manifestFileName()).arg(manifest.entries().size());
    case Manifest::State::Unreadable:
        break;
    }
    return QStringLiteral("manifest %1 UNREADABLE: %2").arg(manifestFileName(), manifest.fault());
}

} // namespace

QString releaseSummary(const ReleaseReport &report)
{
    return QStringLiteral("Summary: %1 sound, %2 bad, %3 missing of %4 files; %5")
        .arg(report.sound)
        .arg(report.bad)
        .arg(report.missing)
        .arg(report.files.size())
        .arg(manifestText(report.manifest));
}

QString releaseTable(const ReleaseReport &report)
{
    QString text = QStringLiteral("Release in %1\n").arg(visibleText(report.folder));
    text += QStringLiteral("%1 %2 %3 %4 %5  %6\n")
                .arg(QStringLiteral("Type"), -13)
                .arg(QStringLiteral("Positions"), -10)
                .arg(QStringLiteral("File"), -52)
                .arg(QStringLiteral("Status"), -7)
                .arg(QStringLiteral("Version"), 7)
                .arg(QStringLiteral("SHA-256"));
    QString reasons;
    for (const ReleaseFile &f : report.files) {
        text += QStringLiteral("%1 %2 %3 %4 %5  %6\n")
                    .arg(deviceTypeName(f.positions.first().deviceType), -13)
                    .arg(positionsText(f.positions), -10)
                    .arg(f.file, -52)
                    .arg(releaseStatusName(f.status), -7)
                    .arg(f.expectedVersion, 7)
                    .arg(QString::fromLatin1(f.sha256.left(kHashPrefix)));
        if (f.status != ReleaseFileStatus::Sound)
            reasons += QStringLiteral("  %1 %2: %3\n").arg(releaseStatusName(f.status), f.file, visibleText(f.reason));
    }
    return text + reasons + releaseSummary(report) + QLatin1Char('\n');
}

QJsonObject releaseJson(const ReleaseReport &report)
{
    QJsonArray files;
    for (const ReleaseFile &f : report.files) {
        QJsonArray positions;
        for (const CataloguePosition &p : f.positions)
            positions.append(p.position);
        files.append(QJsonObject {
            { QStringLiteral("file"), f.file },
            { QStringLiteral("deviceType"), f.positions.first().deviceType },
            { QStringLiteral("positions"), positions },
            { QStringLiteral("processor"),
                f.picType >= 0 ? QJsonValue(picPart(f.picType)) : QJsonValue(QJsonValue::Null) },
            { QStringLiteral("status"), releaseStatusName(f.status).toLower() },
            { QStringLiteral("reason"), f.reason },
            { QStringLiteral("expectedVersion"), f.expectedVersion },
            { QStringLiteral("sha256"),
                f.sha256.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(QString::fromLatin1(f.sha256)) },
            { QStringLiteral("size"), static_cast<double>(f.size) },
            // A file that was not read, or refused before the manifest was asked, has no verdict.
            { QStringLiteral("manifest"),
                f.sha256.isEmpty() || f.status == ReleaseFileStatus::Damaged || f.status == ReleaseFileStatus::Unfit
                    ? QJsonValue(QJsonValue::Null)
                    : QJsonValue(manifestVerdictName(f.manifest)) },
        });
    }
    return QJsonObject {
        { QStringLiteral("folder"), report.folder },
        { QStringLiteral("manifest"), manifestJson(report.manifest) },
        { QStringLiteral("files"), files },
        { QStringLiteral("sound"), report.sound },
        { QStringLiteral("bad"), report.bad },
        { QStringLiteral("missing"), report.missing },
    };
}

int releaseCheckStatus(const ReleaseReport &report)
{
    if (!report.presentSound())
        return ExitJobFailed;
    return report.missing > 0 ? ExitFilesMissing : ExitOk;
}

} // namespace orvo::cli
