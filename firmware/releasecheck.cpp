#include "releasecheck.h"

#include "catalogue.h"
#include "firmwarefiles.h"
#include "hexrecords.h"
#include "imagecheck.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>

namespace orvo {

namespace {

// The program-flash end a file is made for: a variant's own part, else a 2048 part (which is
// also what an unknown part gets).
std::uint32_t flashEndOf(int picType)
{
    if (picType >= 0 && picType < kPicTypes && picPart(picType).contains(QLatin1String("PIC32MZ1024")))
        return kFlashEnd1024;
    return kFlashEnd2048;
}

QString refusalReason(const Manifest &manifest, const ManifestCheck &check)
{
    const QString actual = QStringLiteral("actual ") + QString::fromLatin1(check.actual);
    switch (check.verdict) {
    case ManifestVerdict::NoEntry:
        return QStringLiteral("not listed in ") + manifestFileName() + QStringLiteral(" (") + actual + QLatin1Char(')');
    case ManifestVerdict::Mismatch:
        return QStringLiteral("does not match ") + manifestFileName() + QStringLiteral(": expected ")
            + QString::fromLatin1(check.expected) + QStringLiteral(", ") + actual;
    case ManifestVerdict::Malformed: {
        const ManifestEntry *entry = manifest.find(check.file);
        return QStringLiteral("damaged entry in ") + manifestFileName() + QStringLiteral(" (")
            + (entry ? entry->fault : QString()) + QLatin1Char(')');
    }
    default:
        break;
    }
    return manifestFileName() + QStringLiteral(" cannot be trusted (") + manifest.fault() + QLatin1Char(')');
}

void checkFile(const QString &folder, const Manifest &manifest, ReleaseFile &f, bool fpga)
{
    const QString path = QDir(folder).filePath(f.file);
    const QFileInfo info(path);
    if (!info.isFile()) {
        f.status = ReleaseFileStatus::Missing;
        f.reason = info.exists() ? QStringLiteral("not a regular file") : QStringLiteral("not in the folder");
        return;
    }
    f.size = info.size();
    QByteArray content;
    ImageCheck check;
    switch (loadFirmwareFile(QFile::encodeName(path), fpga, content)) {
    case LoadStatus::Missing:
        f.status = ReleaseFileStatus::Damaged;
        f.reason = QStringLiteral("empty, or it cannot be read");
        return;
    case LoadStatus::TooLarge:
        check = checkFirmwareSize(kMaxFirmwareFileSize + 1);
        break;
    case LoadStatus::Loaded:
        check = checkFirmwareImage(content, fpga);
        if (check.ok && !fpga)
            check = checkMemoryMap(content, flashEndOf(f.picType));
        break;
    }
    if (!content.isEmpty())
        f.sha256 = sha256Hex(content);
    if (!check.ok) {
        f.status = check.unfit ? ReleaseFileStatus::Unfit : ReleaseFileStatus::Damaged;
        f.reason = (check.line > 0 ? QStringLiteral("line %1: ").arg(check.line) : QString()) + check.fault;
        return;
    }
    const ManifestCheck vouched = checkAgainstManifest(manifest, f.file, f.sha256);
    f.manifest = vouched.verdict;
    if (!vouched.ok()) {
        f.status = ReleaseFileStatus::Refused;
        f.reason = refusalReason(manifest, vouched);
        return;
    }
    f.status = ReleaseFileStatus::Sound;
}

} // namespace

QString releaseStatusName(ReleaseFileStatus status)
{
    switch (status) {
    case ReleaseFileStatus::Sound:
        return QStringLiteral("ok");
    case ReleaseFileStatus::Missing:
        return QStringLiteral("MISSING");
    case ReleaseFileStatus::Damaged:
        return QStringLiteral("DAMAGED");
    case ReleaseFileStatus::Unfit:
        return QStringLiteral("UNFIT");
    case ReleaseFileStatus::Refused:
        break;
    }
    return QStringLiteral("REFUSED");
}

QString positionsText(const QVector<CataloguePosition> &positions)
{
    QStringList parts;
    for (int i = 0; i < positions.size();) {
        int j = i;
        while (j + 1 < positions.size() && positions.at(j + 1).position == positions.at(j).position + 1)
            ++j;
        parts << (j > i ? QStringLiteral("%1-%2").arg(positions.at(i).position).arg(positions.at(j).position)
                        : QString::number(positions.at(i).position));
        i = j + 1;
    }
    return parts.join(QLatin1Char(','));
}

ReleaseReport checkRelease(const QString &folder)
{
    ReleaseReport report;
    report.folder = folder;
    report.manifest = Manifest::read(folder);

    QHash<QString, int> byFile;
    QVector<QPair<int, int>> variantOf; // (variant, its base file), both indexes into files
    for (int type = 0; type < DeviceTypeMax; ++type) {
        for (int position = 0; position < slotCount(type); ++position) {
            const QString file = firmwareFile(type, position);
            if (file.isEmpty())
                continue;
            const auto known = byFile.constFind(file);
            if (known != byFile.constEnd()) {
                report.files[*known].positions.append({ type, position });
                continue;
            }
            const bool fpga = isFpgaBoard(type, panelSlot(type, position).boardType);
            ReleaseFile base;
            base.file = file;
            base.positions = { { type, position } };
            base.expectedVersion = buildVersion(type, panelSlot(type, position).boardType);
            byFile.insert(file, report.files.size());
            report.files.append(base);
            if (fpga)
                continue;
            // A variant's image is optional: a release need not serve every processor. One that
            // is there, or that the manifest names, is checked as strictly as the base file.
            for (int pic = 0; pic < kPicTypes; ++pic) {
                if (!hasOwnImage(static_cast<std::uint8_t>(pic)))
                    continue;
                ReleaseFile variant = base;
                variant.file = variantFileName(file, static_cast<std::uint8_t>(pic));
                variant.picType = pic;
                const bool named = report.manifest.find(variant.file) != nullptr;
                if (!named && !QFileInfo::exists(QDir(folder).filePath(variant.file)))
                    continue;
                byFile.insert(variant.file, report.files.size());
                variantOf.append({ report.files.size(), byFile.value(file) });
                report.files.append(variant);
            }
        }
    }
    // Variants take the positions of their base file, known only once the catalogue is walked.
    for (const auto &[variant, base] : qAsConst(variantOf))
        report.files[variant].positions = report.files.at(base).positions;

    for (ReleaseFile &f : report.files) {
        const CataloguePosition &first = f.positions.first();
        checkFile(folder, report.manifest, f,
            isFpgaBoard(first.deviceType, panelSlot(first.deviceType, first.position).boardType));
        if (f.status == ReleaseFileStatus::Sound)
            ++report.sound;
        else if (f.status == ReleaseFileStatus::Missing)
            ++report.missing;
        else
            ++report.bad;
    }
    return report;
}

} // namespace orvo
