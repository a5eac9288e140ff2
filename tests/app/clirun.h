#pragma once

// Running orvo-updater-cli as a process from a test, and reading its report.

#include "childfds.h"
#include "simulator.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QVariantMap>

constexpr int kProcessTimeoutMs = 120000;

struct CliRun
{
    int exitCode = -1;
    QStringList lines; // stdout without the percentage lines
    QStringList all;   // stdout as printed
    QString err;
};

inline void start(QProcess &p, const QStringList &arguments)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8")); // names outside Latin-1
    p.setProcessEnvironment(env);
    p.setProgram(QStringLiteral(ORVO_CLI_PATH));
    p.setArguments(arguments);
    p.setStandardInputFile(QProcess::nullDevice());
    keepDescriptorsFromChildren();
    p.start();
}

inline CliRun finish(QProcess &p)
{
    CliRun run;
    if (!p.waitForFinished(kProcessTimeoutMs)) {
        p.kill();
        p.waitForFinished();
    }
    run.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    run.all = QString::fromUtf8(p.readAllStandardOutput()).split(QLatin1Char('\n'));
    run.lines = run.all.filter(QRegularExpression(QStringLiteral("^(?!progress: |overall progress: )")));
    run.err = QString::fromUtf8(p.readAllStandardError());
    return run;
}

inline QJsonObject readJson(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QJsonObject();
    return QJsonDocument::fromJson(file.readAll()).object();
}

// Empty when each "path" of the object holds its value (a number picks an array's element,
// "board:N" the board at position N, "<null>" stands for a JSON null); else the first that does not.
inline QString jsonMismatch(const QJsonObject &object, const QVariantMap &expected)
{
    for (auto it = expected.begin(); it != expected.end(); ++it) {
        QJsonValue v = object;
        for (const QString &key : it.key().split(QLatin1Char('/'))) {
            QJsonValue next = v.isArray() ? v.toArray().at(key.toInt()) : v.toObject().value(key);
            for (const QJsonValue b : v.toObject().value(QStringLiteral("boards")).toArray()) {
                if (key == QStringLiteral("board:%1").arg(b.toObject().value(QStringLiteral("position")).toInt()))
                    next = b;
            }
            v = next;
        }
        const bool null
            = it.value().userType() == QMetaType::QString && it.value().toString() == QLatin1String("<null>");
        const bool same = null ? v.isNull() : v.toVariant() == it.value();
        if (!same)
            return it.key() + QStringLiteral(": ") + QString::fromUtf8(QJsonDocument(QJsonArray { v }).toJson());
    }
    return QString();
}

inline orvo::devsim::DeviceConfig outdated(orvo::devsim::DeviceConfig device, int position)
{
    orvo::devsim::BoardConfig &b = device.boards[static_cast<std::size_t>(position)];
    b.version = static_cast<std::uint8_t>(b.version - 1);
    return device;
}
