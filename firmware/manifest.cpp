#include "manifest.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>

namespace orvo {

namespace {

constexpr int kHashDigits = 64;

bool isLowerHex(const QByteArray &text)
{
    return text.size() == kHashDigits && std::all_of(text.begin(), text.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
    });
}

bool hasControl(const QByteArray &line)
{
    return std::any_of(line.begin(), line.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u < 0x20 || u == 0x7F;
    });
}

// Why `path` cannot name a file inside the folder, or empty when it can.
QString unsafePath(const QString &path)
{
    if (path.isEmpty())
        return QStringLiteral("no file name");
    if (path.contains(QChar::ReplacementCharacter))
        return QStringLiteral("file name is not UTF-8");
    if (path.startsWith(QLatin1Char('/')))
        return QStringLiteral("absolute path");
    if (path.contains(QLatin1Char('\\')))
        return QStringLiteral("backslash in the path");
    const QStringList parts = path.split(QLatin1Char('/'));
    for (const QString &part : parts) {
        if (part == QLatin1String(".."))
            return QStringLiteral("path with \"..\"");
        if (part.isEmpty() || part == QLatin1String("."))
            return QStringLiteral("path that is not plain");
    }
    // Only control characters below 0x80 are seen by the byte check; these are the rest.
    for (const QChar c : path) {
        if (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format)
            return QStringLiteral("control character in the path");
    }
    return QString();
}

} // namespace

void Manifest::fail(int line, const QString &why)
{
    if (m_state == State::Unreadable)
        return; // the first fault is the one worth mending first
    m_state = State::Unreadable;
    m_fault = line > 0 ? QStringLiteral("line %1: %2").arg(line).arg(why) : why;
}

Manifest Manifest::parse(const QByteArray &text)
{
    Manifest m;
    m.m_state = State::Read;
    if (text.size() > kMaxManifestSize) {
        m.fail(0, QStringLiteral("larger than 1 MiB"));
        return m;
    }
    int lineNumber = 0;
    int start = 0;
    while (start < text.size()) {
        ++lineNumber;
        int end = text.indexOf('\n', start);
        if (end < 0)
            end = text.size();
        QByteArray line = text.mid(start, end - start);
        start = end + 1;
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.isEmpty())
            continue;
        if (line.size() > kMaxManifestLine) {
            m.fail(lineNumber, QStringLiteral("line longer than %1 bytes").arg(kMaxManifestLine));
            continue;
        }
        if (hasControl(line)) {
            m.fail(lineNumber, QStringLiteral("control character"));
            continue;
        }
        if (line.startsWith('\\')) {
            m.fail(lineNumber, QStringLiteral("escaped file name"));
            continue;
        }
        // hash, then "  " (text) or " *" (binary), then the path
        const int space = line.indexOf(' ');
        if (space < 0 || space + 1 >= line.size() || (line.at(space + 1) != ' ' && line.at(space + 1) != '*')) {
            m.fail(lineNumber, QStringLiteral("not \"HASH  FILE\""));
            continue;
        }
        QString path = QString::fromUtf8(line.mid(space + 2));
        if (path.startsWith(QLatin1String("./")))
            path = path.mid(2);
        const QString unsafe = unsafePath(path);
        if (!unsafe.isEmpty()) {
            m.fail(lineNumber, unsafe);
            continue;
        }
        ManifestEntry entry;
        entry.path = path;
        entry.line = lineNumber;
        const QByteArray hash = line.left(space).toLower();
        if (isLowerHex(hash))
            entry.sha256 = hash;
        else
            entry.fault = QStringLiteral("line %1: hash is not 64 hexadecimal digits").arg(lineNumber);

        const auto known = m.m_index.constFind(path);
        if (known == m.m_index.constEnd()) {
            m.m_index.insert(path, m.m_entries.size());
            m.m_entries.append(entry);
            continue;
        }
        ManifestEntry &first = m.m_entries[*known];
        if (first.fault.isEmpty() && !entry.fault.isEmpty())
            first.fault = entry.fault;
        else if (first.fault.isEmpty() && first.sha256 != entry.sha256)
            first.fault = QStringLiteral("lines %1 and %2 give different hashes").arg(first.line).arg(lineNumber);
        if (!first.fault.isEmpty())
            first.sha256.clear();
    }
    return m;
}

Manifest Manifest::read(const QString &folder)
{
    const QString path = QDir(folder).filePath(manifestFileName());
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return Manifest();
    Manifest m;
    m.m_state = State::Read;
    if (!info.isFile()) {
        m.fail(0, QStringLiteral("not a regular file"));
        return m;
    }
    if (info.size() > kMaxManifestSize) {
        m.fail(0, QStringLiteral("larger than 1 MiB"));
        return m;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        m.fail(0, QStringLiteral("cannot be read"));
        return m;
    }
    // The file may grow after the size query; one byte over the limit is enough to say so.
    const QByteArray text = file.read(kMaxManifestSize + 1);
    if (file.error() != QFileDevice::NoError) {
        m.fail(0, QStringLiteral("cannot be read"));
        return m;
    }
    return parse(text);
}

const ManifestEntry *Manifest::find(const QString &path) const
{
    const auto it = m_index.constFind(path);
    return it == m_index.constEnd() ? nullptr : &m_entries.at(*it);
}

QString manifestVerdictName(ManifestVerdict verdict)
{
    switch (verdict) {
    case ManifestVerdict::Absent:
        return QStringLiteral("absent");
    case ManifestVerdict::Matched:
        return QStringLiteral("matched");
    case ManifestVerdict::NoEntry:
        return QStringLiteral("no entry");
    case ManifestVerdict::Mismatch:
        return QStringLiteral("mismatch");
    case ManifestVerdict::Malformed:
        return QStringLiteral("malformed entry");
    case ManifestVerdict::Unreadable:
        break;
    }
    return QStringLiteral("unreadable");
}

ManifestCheck checkAgainstManifest(const Manifest &manifest, const QString &file, const QByteArray &actual)
{
    ManifestCheck c;
    c.file = file;
    c.actual = actual;
    switch (manifest.state()) {
    case Manifest::State::Absent:
        c.verdict = ManifestVerdict::Absent;
        return c;
    case Manifest::State::Unreadable:
        c.verdict = ManifestVerdict::Unreadable;
        return c;
    case Manifest::State::Read:
        break;
    }
    const ManifestEntry *entry = manifest.find(file);
    if (!entry)
        c.verdict = ManifestVerdict::NoEntry;
    else if (!entry->fault.isEmpty())
        c.verdict = ManifestVerdict::Malformed;
    else {
        c.expected = entry->sha256;
        c.verdict = entry->sha256 == actual ? ManifestVerdict::Matched : ManifestVerdict::Mismatch;
    }
    return c;
}

QString ManifestCheck::errorLine(const Manifest &manifest) const
{
    const QString actualText = QStringLiteral(", actual ") + QString::fromLatin1(actual) + QStringLiteral(")!");
    switch (verdict) {
    case ManifestVerdict::Absent:
    case ManifestVerdict::Matched:
        return QString();
    case ManifestVerdict::NoEntry:
        return QStringLiteral("*** Error: Firmware file is not listed in the release manifest (") + file
            + QStringLiteral(": expected an entry in ") + manifestFileName() + actualText;
    case ManifestVerdict::Mismatch:
        return QStringLiteral("*** Error: Firmware file does not match the release manifest (") + file
            + QStringLiteral(": expected ") + QString::fromLatin1(expected) + actualText;
    case ManifestVerdict::Malformed: {
        const ManifestEntry *entry = manifest.find(file);
        return QStringLiteral("*** Error: Firmware file has a damaged entry in the release manifest (") + file
            + QStringLiteral(": ") + (entry ? entry->fault : QString()) + actualText;
    }
    case ManifestVerdict::Unreadable:
        break;
    }
    return QStringLiteral("*** Error: The release manifest cannot be trusted (") + file + QStringLiteral(": ")
        + manifestFileName() + QStringLiteral(" ") + manifest.fault() + actualText;
}

QByteArray sha256Hex(const QByteArray &content)
{
    return QCryptographicHash::hash(content, QCryptographicHash::Sha256).toHex();
}

QString pathInFolder(const QString &folder, const QString &path)
{
    const QString base = QDir::cleanPath(QFileInfo(folder).absoluteFilePath()) + QLatin1Char('/');
    const QString full = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    return full.startsWith(base) ? full.mid(base.size()) : QString();
}

bool writeManifest(const QString &folder, QStringList files, QString *error)
{
    std::sort(files.begin(), files.end());
    const QDir root(folder);
    QByteArray text;
    for (const QString &name : qAsConst(files)) {
        QFile file(root.filePath(name));
        QCryptographicHash hash(QCryptographicHash::Sha256);
        if (!file.open(QIODevice::ReadOnly) || !hash.addData(&file)) {
            if (error)
                *error = QStringLiteral("cannot read ") + file.fileName();
            return false;
        }
        text += hash.result().toHex() + "  " + name.toUtf8() + '\n';
    }
    QSaveFile out(root.filePath(manifestFileName()));
    if (!out.open(QIODevice::WriteOnly) || out.write(text) != text.size() || !out.commit()) {
        if (error)
            *error = QStringLiteral("cannot write ") + root.filePath(manifestFileName());
        return false;
    }
    return true;
}

} // namespace orvo
