#include "releaseinstall.h"

#include "devicetext.h"
#include "imagecheck.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <archive.h>
#include <archive_entry.h>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <memory>

namespace orvo::cli {

namespace {

// What has been unpacked so far, against the bounds.
struct Budget
{
    std::int64_t bytes = 0;
    int entries = 0;
};

QString cleanTarget(const QString &target)
{
    return QDir::cleanPath(QFileInfo(target).absoluteFilePath());
}

// Why an entry's path cannot be placed inside the release, or empty. `path` has had a leading
// "./" removed.
QString unsafeEntryPath(const QString &path)
{
    if (path.size() > kMaxReleasePath)
        return QStringLiteral("path longer than %1 characters").arg(kMaxReleasePath);
    if (path.startsWith(QLatin1Char('/')))
        return QStringLiteral("absolute path");
    if (path.contains(QLatin1Char('\\')))
        return QStringLiteral("backslash in the path");
    for (const QChar c : path) {
        if (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format
            || c == QChar::ReplacementCharacter)
            return QStringLiteral("control character or invalid text in the path");
    }
    for (const QString &part : path.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (part == QLatin1String(".."))
            return QStringLiteral("path with \"..\"");
    }
    return QString();
}

QString plainPath(QString path)
{
    while (path.startsWith(QLatin1String("./")))
        path = path.mid(2);
    return QDir::cleanPath(path);
}

// Whether a link at `entry` (relative path inside the release) with `linkTarget` stays inside.
bool linkStaysInside(const QString &entry, const QString &linkTarget)
{
    if (linkTarget.isEmpty() || linkTarget.startsWith(QLatin1Char('/')))
        return false;
    const QString dir = QFileInfo(entry).path();
    const QString resolved
        = QDir::cleanPath((dir == QLatin1String(".") ? QString() : dir + QLatin1Char('/')) + linkTarget);
    return resolved != QLatin1String("..") && !resolved.startsWith(QLatin1String("../"));
}

// True when a folder on the way to `relative` inside `root` is a link: writing through it
// could leave the release.
bool passesThroughLink(const QString &root, const QString &relative)
{
    const QStringList parts = relative.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    QString path = root;
    for (int i = 0; i + 1 < parts.size(); ++i) {
        path += QLatin1Char('/') + parts.at(i);
        if (QFileInfo(path).isSymLink())
            return true;
    }
    return false;
}

// After unpacking: every link in the release must resolve to something inside it.
QString linkLeavingRelease(const QString &root)
{
    const QString base = QFileInfo(root).canonicalFilePath() + QLatin1Char('/');
    QDirIterator it(
        root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        const QFileInfo info = it.fileInfo();
        if (!info.isSymLink())
            continue;
        const QString resolved = info.canonicalFilePath();
        if (resolved.isEmpty() || !resolved.startsWith(base))
            return info.filePath().mid(root.size() + 1);
    }
    return QString();
}

class Unpacker
{
public:
    explicit Unpacker(const QString &root) : m_root(root) { }

    // Unpacks `archivePath` into the root; returns the refusal, or empty.
    QString unpack(const QString &archivePath)
    {
        std::unique_ptr<archive, decltype(&archive_read_free)> a(archive_read_new(), archive_read_free);
        archive_read_support_filter_gzip(a.get());
        archive_read_support_filter_bzip2(a.get());
        archive_read_support_filter_xz(a.get());
        archive_read_support_format_tar(a.get());
        archive_read_support_format_gnutar(a.get());
        archive_read_support_format_zip(a.get());
        if (archive_read_open_filename(a.get(), QFile::encodeName(archivePath).constData(), 64 * 1024) != ARCHIVE_OK)
            return QStringLiteral("cannot be read as a .tar.gz or .zip archive (") + errorText(a.get())
                + QLatin1Char(')');
        archive_entry *entry = nullptr;
        int number = 0;
        while (true) {
            const int r = archive_read_next_header(a.get(), &entry);
            if (r == ARCHIVE_EOF)
                break;
            if (r != ARCHIVE_OK && r != ARCHIVE_WARN)
                return QStringLiteral("damaged archive (") + errorText(a.get()) + QLatin1Char(')');
            ++number;
            if (++m_budget.entries > kMaxReleaseEntries)
                return QStringLiteral("more than %1 entries").arg(kMaxReleaseEntries);
            const char *utf8 = archive_entry_pathname_utf8(entry);
            const QString raw = utf8 ? QString::fromUtf8(utf8) : QString::fromLocal8Bit(archive_entry_pathname(entry));
            const QString refusal = placeEntry(a.get(), entry, raw);
            if (!refusal.isEmpty())
                return QStringLiteral("entry %1 '%2': %3").arg(number).arg(visible(raw), refusal);
        }
        return QString();
    }

    // Copies the folder `source` into the root; returns the refusal, or empty.
    QString copyFolder(const QString &source)
    {
        const QString base = QFileInfo(source).canonicalFilePath();
        QDirIterator it(source, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
            QDirIterator::Subdirectories);
        while (it.hasNext()) {
            it.next();
            const QFileInfo info = it.fileInfo();
            const QString relative = info.filePath().mid(source.size() + 1);
            if (++m_budget.entries > kMaxReleaseEntries)
                return QStringLiteral("more than %1 entries").arg(kMaxReleaseEntries);
            const QString unsafe = unsafeEntryPath(relative);
            if (!unsafe.isEmpty())
                return QStringLiteral("'%1': %2").arg(visible(relative), unsafe);
            if (info.isSymLink()) {
                const QString resolved = info.canonicalFilePath();
                if (resolved.isEmpty() || !resolved.startsWith(base + QLatin1Char('/')))
                    return QStringLiteral("'%1': link pointing outside the release").arg(visible(relative));
                if (info.isDir())
                    continue; // its content is inside the release and copied from there
            }
            if (info.isDir()) {
                if (!QDir().mkpath(m_root + QLatin1Char('/') + relative))
                    return QStringLiteral("cannot create ") + relative;
                continue;
            }
            if (!info.isFile())
                return QStringLiteral("'%1': neither a file nor a folder (a device, fifo or socket)")
                    .arg(visible(relative));
            QFile in(info.filePath());
            if (!in.open(QIODevice::ReadOnly))
                return QStringLiteral("'%1': cannot be read").arg(visible(relative));
            const QString refusal
                = writeFile(relative, [&in](char *buffer, qint64 size) { return in.read(buffer, size); });
            if (!refusal.isEmpty())
                return QStringLiteral("'%1': %2").arg(visible(relative), refusal);
        }
        return QString();
    }

private:
    static QString errorText(archive *a)
    {
        const char *e = archive_error_string(a);
        return e ? QString::fromLocal8Bit(e) : QStringLiteral("unknown error");
    }

    static QString visible(const QString &text) { return visibleText(text); }

    QString placeEntry(archive *a, archive_entry *entry, const QString &raw)
    {
        QString relative = raw;
        while (relative.startsWith(QLatin1String("./")))
            relative = relative.mid(2);
        const QString unsafe = unsafeEntryPath(relative);
        if (!unsafe.isEmpty())
            return unsafe;
        relative = plainPath(relative);
        if (relative.isEmpty() || relative == QLatin1String("."))
            return QString(); // the archive's own top folder
        if (passesThroughLink(m_root, relative))
            return QStringLiteral("path through a link");
        const QString path = m_root + QLatin1Char('/') + relative;

        if (const char *hard = archive_entry_hardlink(entry)) {
            const QString other = plainPath(QString::fromUtf8(hard));
            if (!unsafeEntryPath(other).isEmpty() || passesThroughLink(m_root, other)
                || !QFileInfo(m_root + QLatin1Char('/') + other).isFile())
                return QStringLiteral("hard link to something outside the release");
            QDir().mkpath(QFileInfo(path).path());
            return QFile::copy(m_root + QLatin1Char('/') + other, path) ? QString()
                                                                        : QStringLiteral("cannot be written");
        }
        switch (archive_entry_filetype(entry)) {
        case AE_IFDIR:
            return QDir().mkpath(path) ? QString() : QStringLiteral("cannot create the folder");
        case AE_IFLNK: {
            const char *target = archive_entry_symlink(entry);
            const QString linkTarget = target ? QString::fromUtf8(target) : QString();
            if (!linkStaysInside(relative, linkTarget) || !unsafeEntryPath(linkTarget).isEmpty())
                return QStringLiteral("link pointing outside the release");
            QDir().mkpath(QFileInfo(path).path());
            return QFile::link(linkTarget, path) ? QString() : QStringLiteral("cannot create the link");
        }
        case AE_IFREG:
            break;
        default:
            return QStringLiteral("neither a file nor a folder (a device, fifo or socket)");
        }
        if (archive_entry_size_is_set(entry) && archive_entry_size(entry) > kMaxFirmwareFileSize)
            return QStringLiteral("larger than 64 MiB");
        return writeFile(relative, [a](char *buffer, qint64 size) {
            return static_cast<qint64>(archive_read_data(a, buffer, static_cast<std::size_t>(size)));
        });
    }

    template <typename Read>
    QString writeFile(const QString &relative, Read read)
    {
        const QString path = m_root + QLatin1Char('/') + relative;
        if (!QDir().mkpath(QFileInfo(path).path()))
            return QStringLiteral("cannot create its folder");
        QFile out(path);
        // NewOnly: a second entry of the same name, or one over a link, is never written through.
        if (!out.open(QIODevice::WriteOnly | QIODevice::NewOnly))
            return QStringLiteral("listed twice, or cannot be written");
        char buffer[64 * 1024];
        std::int64_t fileBytes = 0;
        while (true) {
            const qint64 n = read(buffer, sizeof buffer);
            if (n < 0)
                return QStringLiteral("cannot be read to its end");
            if (n == 0)
                break;
            fileBytes += n;
            m_budget.bytes += n;
            if (fileBytes > kMaxFirmwareFileSize)
                return QStringLiteral("larger than 64 MiB");
            if (m_budget.bytes > kMaxReleaseBytes)
                return QStringLiteral("the release is larger than 1 GiB");
            if (out.write(buffer, n) != n)
                return QStringLiteral("cannot be written");
        }
        return out.flush() ? QString() : QStringLiteral("cannot be written");
    }

    QString m_root;
    Budget m_budget;
};

// An archive's single top folder is the release; a release's own files sit at its top.
QString releaseRoot(const QString &staging)
{
    const QFileInfoList top
        = QDir(staging).entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    if (top.size() == 1 && top.first().isDir() && !top.first().isSymLink())
        return top.first().filePath();
    return staging;
}

// Exchanges two paths in one step where the file system can, so that the firmware folder is
// never missing, not even for a moment; else two renames.
bool exchange(const QString &a, const QString &b)
{
    const QByteArray pa = QFile::encodeName(a);
    const QByteArray pb = QFile::encodeName(b);
#ifdef RENAME_EXCHANGE
    if (::renameat2(AT_FDCWD, pa.constData(), AT_FDCWD, pb.constData(), RENAME_EXCHANGE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
#endif
    const QByteArray aside = pb + ".swap";
    if (std::rename(pb.constData(), aside.constData()) != 0)
        return false;
    if (std::rename(pa.constData(), pb.constData()) != 0) {
        std::rename(aside.constData(), pb.constData());
        return false;
    }
    return std::rename(aside.constData(), pa.constData()) == 0;
}

// Moves `from` to `to`, replacing what `to` held.
bool replaceFolder(const QString &from, const QString &to)
{
    if (QFileInfo::exists(to) || QFileInfo(to).isSymLink()) {
        const QString trash = to + QStringLiteral(".old");
        QDir(trash).removeRecursively();
        if (std::rename(QFile::encodeName(to).constData(), QFile::encodeName(trash).constData()) != 0)
            return false;
        const bool moved = std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
        QDir(trash).removeRecursively();
        return moved;
    }
    return std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
}

} // namespace

QString previousFolderOf(const QString &target)
{
    return cleanTarget(target) + QStringLiteral(".previous");
}

InstallOutcome installRelease(const QString &source, const QString &target, bool force)
{
    InstallOutcome outcome;
    outcome.target = cleanTarget(target);
    const QFileInfo src(source);
    if (!src.exists()) {
        outcome.refusal = QStringLiteral("'%1' does not exist").arg(source);
        return outcome;
    }
    const QString parent = QFileInfo(outcome.target).path();
    if (!QDir().mkpath(parent)) {
        outcome.refusal = QStringLiteral("cannot create the folder ") + parent;
        return outcome;
    }
    // Beside the firmware folder, so that the final rename stays on one file system.
    QTemporaryDir staging(
        parent + QStringLiteral("/.") + QFileInfo(outcome.target).fileName() + QStringLiteral(".incoming-XXXXXX"));
    if (!staging.isValid()) {
        outcome.refusal = QStringLiteral("cannot create a folder beside ") + outcome.target;
        return outcome;
    }
    Unpacker unpacker(staging.path());
    const QString unsafe = src.isDir() ? unpacker.copyFolder(QDir::cleanPath(src.absoluteFilePath()))
                                       : unpacker.unpack(src.absoluteFilePath());
    if (!unsafe.isEmpty()) {
        outcome.refusal = QStringLiteral("Release refused (%1): nothing was installed").arg(unsafe);
        return outcome;
    }
    if (const QString link = linkLeavingRelease(staging.path()); !link.isEmpty()) {
        outcome.refusal = QStringLiteral("Release refused ('%1': link pointing outside the release): nothing was "
                                         "installed")
                              .arg(link);
        return outcome;
    }
    const QString root = releaseRoot(staging.path());
    outcome.check = checkRelease(root);
    const ReleaseReport &report = *outcome.check;
    if (!force && !report.presentSound()) {
        outcome.refusal = QStringLiteral("Release refused: its check found %1 bad files%2; nothing was installed "
                                         "(--force installs it all the same)")
                              .arg(report.bad)
                              .arg(report.manifest.state() == Manifest::State::Unreadable
                                      ? QStringLiteral(" and an unreadable manifest")
                                      : QString());
        return outcome;
    }
    if (!force && report.sound == 0) {
        outcome.refusal = QStringLiteral("Release refused: it holds no firmware file of the catalogue; nothing was "
                                         "installed (--force installs it all the same)");
        return outcome;
    }

    const QString previous = previousFolderOf(outcome.target);
    if (QFileInfo(outcome.target).isDir()) {
        if (!exchange(root, outcome.target)) {
            outcome.refusal = QStringLiteral("cannot put the release in place of ") + outcome.target;
            return outcome;
        }
        // `root` now holds the release that was replaced.
        if (!replaceFolder(root, previous)) {
            outcome.refusal
                = QStringLiteral("the release is installed, but the previous one could not be kept in ") + previous;
            outcome.installed = true;
            return outcome;
        }
        outcome.previous = previous;
    } else if (QFileInfo::exists(outcome.target) || QFileInfo(outcome.target).isSymLink()) {
        outcome.refusal = outcome.target + QStringLiteral(" is not a folder; nothing was installed");
        return outcome;
    } else if (std::rename(QFile::encodeName(root).constData(), QFile::encodeName(outcome.target).constData()) != 0) {
        outcome.refusal = QStringLiteral("cannot create ") + outcome.target;
        return outcome;
    }
    outcome.installed = true;
    return outcome;
}

InstallOutcome rollbackRelease(const QString &target)
{
    InstallOutcome outcome;
    outcome.target = cleanTarget(target);
    const QString previous = previousFolderOf(outcome.target);
    if (!QFileInfo(previous).isDir() || QFileInfo(previous).isSymLink()) {
        outcome.refusal
            = QStringLiteral("There is no previous release to go back to (%1 does not exist)").arg(previous);
        return outcome;
    }
    const bool swapped = QFileInfo(outcome.target).isDir()
        ? exchange(previous, outcome.target)
        : std::rename(QFile::encodeName(previous).constData(), QFile::encodeName(outcome.target).constData()) == 0;
    if (!swapped) {
        outcome.refusal = QStringLiteral("cannot put %1 in place of %2").arg(previous, outcome.target);
        return outcome;
    }
    outcome.installed = true;
    outcome.previous = QFileInfo(previous).isDir() ? previous : QString();
    outcome.check = checkRelease(outcome.target);
    return outcome;
}

} // namespace orvo::cli
