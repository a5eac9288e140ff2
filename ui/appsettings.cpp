#include "appsettings.h"

#include "ipv4entry.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStringList>

#include <algorithm>

namespace orvo::ui {

namespace {

const QString kSettingsGroup = QStringLiteral("OrvoUpdaterSettings/");

QString entryKey(int i)
{
    return kSettingsGroup + QStringLiteral("ManIP%1").arg(i + 1);
}

} // namespace

bool isUsableIpEntry(const QString &text)
{
    return parseIpv4Entry(text).has_value();
}

ManualIpSettings readManualIpSettings(const QString &path)
{
    ManualIpSettings result;
    if (!QFileInfo::exists(path))
        return result;
    QSettings settings(path, QSettings::IniFormat);
    result.enabled = settings.value(kSettingsGroup + QStringLiteral("EnableIPScan"), false).toBool();
    bool valid = true;
    for (int i = 0; i < 4; ++i) {
        result.address[i] = settings.value(entryKey(i), kUnusedAddress).toString();
        valid = valid && isUsableIpEntry(result.address[i]);
    }
    if (!valid) {
        for (int i = 0; i < 4; ++i) {
            result.address[i] = kUnusedAddress;
            settings.setValue(entryKey(i), kUnusedAddress);
        }
    }
    return result;
}

QString readFirmwareFolderSetting(const QString &path, QString *refusal)
{
    if (!QFileInfo::exists(path))
        return QString();
    const QSettings settings(path, QSettings::IniFormat);
    const QString folder = settings.value(kSettingsGroup + QStringLiteral("FirmwareFolder")).toString();
    if (folder.isEmpty())
        return QString();
    QString why;
    if (folder.size() > 1024)
        why = QStringLiteral("longer than 1024 characters");
    else if (std::any_of(folder.begin(), folder.end(), [](QChar c) { return c.category() == QChar::Other_Control; }))
        why = QStringLiteral("control character");
    else if (!QDir::isAbsolutePath(folder))
        why = QStringLiteral("not an absolute path");
    else if (!QFileInfo(folder).isDir())
        why = QStringLiteral("no such folder");
    if (!why.isEmpty()) {
        if (refusal)
            *refusal = why;
        return QString();
    }
    return QDir::cleanPath(folder) + QLatin1Char('/');
}

void writeManualIpSettings(const QString &path, const ManualIpSettings &s)
{
    QSettings settings(path, QSettings::IniFormat);
    settings.setValue(kSettingsGroup + QStringLiteral("EnableIPScan"), s.enabled);
    for (int i = 0; i < 4; ++i)
        settings.setValue(entryKey(i), s.address[i]);
}

} // namespace orvo::ui
