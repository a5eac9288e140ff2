#include "firmwarefiles.h"

#include "catalogue.h"
#include "imagecheck.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFile>
#include <QFileInfo>

namespace orvo {

QString firmwareFolderPath()
{
    QString folder = QCoreApplication::applicationDirPath();
    folder.append(QLatin1String("/../HexFiles/"));
    QString absolute = QFileInfo(folder).absoluteFilePath();
    if (!absolute.endsWith(QLatin1Char('/')))
        absolute += QLatin1Char('/');
    return absolute;
}

bool hasOwnImage(std::uint8_t picType)
{
    return picType < kPicUnknown && picType != 0 && picType != 5 && picType != 8;
}

QString variantFileName(const QString &file, std::uint8_t picType)
{
    QString path = file;
    const int dot = path.lastIndexOf(QLatin1Char('.'));
    if (dot >= 0)
        path.truncate(dot);
    return path + QLatin1Char('_') + picPart(picType) + QStringLiteral(".hex");
}

QVector<VariantImage> variantImages(const QString &file)
{
    QVector<VariantImage> images;
    for (int pic = 0; pic < kPicTypes; ++pic) {
        const auto picType = static_cast<std::uint8_t>(pic);
        if (hasOwnImage(picType))
            images.append({ picType, variantFileName(file, picType) });
    }
    return images;
}

FirmwareFileChoice firmwareFilePath(
    const QString &folder, int deviceType, int panelIndex, const PanelSlot &slot, const PicTypeQuery &queryPicType)
{
    QString path = folder + firmwareFile(deviceType, panelIndex);
    FirmwareFileChoice choice;
    const bool image = QFileInfo(path).suffix() == QLatin1String("bin");
    if (!image && queryPicType)
        choice.picType = queryPicType(slot);
    if (!image && hasOwnImage(choice.picType))
        path = variantFileName(path, choice.picType);
    // The file system's own encoding, so that a folder outside Latin-1 still opens.
    choice.path = QFile::encodeName(path);
    qDebug().noquote() << QStringLiteral("file: ") + path;
    return choice;
}

LoadStatus loadFirmwareFile(const QByteArray &path, bool fpgaBoard, QByteArray &content)
{
    content.clear();
    const QString name = QFile::decodeName(path);
    const QFileInfo info(name);
    if (!info.exists() || !info.isFile() || info.size() <= 0)
        return LoadStatus::Missing;
    if (!checkFirmwareSize(info.size()).ok)
        return LoadStatus::TooLarge;
    QFile file(name);
    // HEX files are read unchanged too: folding CR LF pairs would change nothing that the check
    // or the producer looks at, and it would make the two kinds of line end load differently.
    Q_UNUSED(fpgaBoard)
    if (!file.open(QIODevice::ReadOnly))
        return LoadStatus::Missing;
    // The file may grow between the size query and the read; never read more than the limit.
    content = file.read(kMaxFirmwareFileSize + 1);
    if (file.error() != QFileDevice::NoError || content.isEmpty()) {
        content.clear();
        return LoadStatus::Missing;
    }
    if (content.size() > kMaxFirmwareFileSize) {
        content.clear();
        return LoadStatus::TooLarge;
    }
    return LoadStatus::Loaded;
}

} // namespace orvo
