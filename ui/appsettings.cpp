#include "appsettings.h"

#include <QDir>
#include <QFileInfo>
#include <QHostAddress>
#include <QRegularExpression>
#include <QSettings>
#include <QStringList>

#include <algorithm>

namespace orvo::ui {

const QString kNoAddress = QStringLiteral("000.000.000.000");

namespace {

const QString kSettingsGroup = QStringLiteral("OrvoUpdaterSettings/");

QString entryKey(int i)
{
    return kSettingsGroup + QStringLiteral("ManIP%1").arg(i + 1);
}

} // namespace

bool isValidIpText(const QString &text)
{
    if (text.isEmpty())
        return false;
    const QStringList parts = text.split(QLatin1Char('.'), Qt::KeepEmptyParts);
    if (parts.size() != 4)
        return false;
    for (const QString &part : parts) {
        for (QChar c : part) {
            if (c < QLatin1Char('0') || c > QLatin1Char('9'))
                return false;
        }
        bool ok = false;
        const uint value = part.toUInt(&ok);
        if (ok && value >= 256) // an empty part, or one too long to read, counts as 0
            return false;
    }
    return true;
}

QString normalizeIpText(const QString &text)
{
    static const QRegularExpression pattern(
        QStringLiteral("^(25[0-5]|2[0-4][0-9]|[01]?[0-9][0-9]?)\\.(25[0-5]|2[0-4][0-9]|[01]?[0-9][0-9]?)\\."
                       "(25[0-5]|2[0-4][0-9]|[01]?[0-9][0-9]?)\\.(25[0-5]|2[0-4][0-9]|[01]?[0-9][0-9]?)$"));
    const QRegularExpressionMatch m = pattern.match(text);
    if (!m.hasMatch())
        return text;
    return QStringLiteral("%1.%2.%3.%4")
        .arg(m.captured(1).toInt())
        .arg(m.captured(2).toInt())
        .arg(m.captured(3).toInt())
        .arg(m.captured(4).toInt());
}

bool isUsableIpEntry(const QString &text)
{
    return isValidIpText(text) && QHostAddress(normalizeIpText(text)).protocol() == QAbstractSocket::IPv4Protocol;
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
        result.address[i] = settings.value(entryKey(i), kNoAddress).toString();
        valid = valid && isUsableIpEntry(result.address[i]);
    }
    if (!valid) {
        for (int i = 0; i < 4; ++i) {
            result.address[i] = kNoAddress;
            settings.setValue(entryKey(i), kNoAddress);
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
