#pragma once

// The release manifest: a SHA256SUMS file at the top of a firmware folder, in the format that
// `sha256sum` writes, and the check of a firmware file against it before a board is touched.
// Its content comes from whoever made the release folder: it is data, bounded and never trusted.

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>
#include <QVector>

#include <cstdint>

namespace orvo {

/// File name of the manifest inside a firmware folder.
inline QString manifestFileName()
{
    return QStringLiteral("SHA256SUMS");
}

constexpr std::int64_t kMaxManifestSize = 1024 * 1024; ///< a release of a few hundred files needs 40 kB
constexpr int kMaxManifestLine = 4096;                 ///< bytes of one line, without its line end

/// One line of the manifest that names a file.
struct ManifestEntry
{
    QString path;      ///< relative to the folder, '/' separated, without "./"
    QByteArray sha256; ///< lower-case hex, 64 digits; empty when `fault` is set
    int line = 0;      ///< 1-based
    QString fault;     ///< why this file's entry cannot be used ("hash is not 64 hexadecimal digits")
};

/// A parsed manifest. A fault that cannot be tied to one file (an unsafe path, a line that is
/// no entry at all, a file that is too large) makes the whole manifest unreadable: it then
/// vouches for nothing, and every file is refused while it is there.
class Manifest
{
public:
    enum class State { Absent, Read, Unreadable };

    /// Reads `folder`/SHA256SUMS. Absent when there is no such file; Unreadable when it is no
    /// regular file, larger than kMaxManifestSize, cannot be read or holds an unsafe line.
    static Manifest read(const QString &folder);
    /// Parses manifest text.
    static Manifest parse(const QByteArray &text);

    State state() const { return m_state; }
    /// Why the manifest is unreadable ("line 3: path with \"..\""); empty otherwise.
    QString fault() const { return m_fault; }
    const QVector<ManifestEntry> &entries() const { return m_entries; }
    /// The entry of `path` (relative, as in the catalogue), or null.
    const ManifestEntry *find(const QString &path) const;

private:
    void fail(int line, const QString &why);

    State m_state = State::Absent;
    QString m_fault;
    QVector<ManifestEntry> m_entries;
    QHash<QString, int> m_index;
};

/// What the manifest says about one file.
enum class ManifestVerdict { Absent, Matched, NoEntry, Mismatch, Malformed, Unreadable };

/// "absent", "matched", "no entry", "mismatch", "malformed entry", "unreadable".
QString manifestVerdictName(ManifestVerdict verdict);

struct ManifestCheck
{
    ManifestVerdict verdict = ManifestVerdict::Absent;
    QString file;        ///< relative path looked up
    QByteArray expected; ///< from the manifest; empty when it has none
    QByteArray actual;   ///< of the file's content

    /// Absent and Matched let the file through.
    bool ok() const { return verdict == ManifestVerdict::Absent || verdict == ManifestVerdict::Matched; }
    /// The activity line for a refused file, e.g. "*** Error: Firmware file does not match the
    /// release manifest (6170/MetersPIC.hex: expected 3f..., actual 9b...)!"; empty when ok().
    QString errorLine(const Manifest &manifest) const;
};

/// Checks a file's content (its lower-case hex SHA-256 `actual`) against `manifest`.
ManifestCheck checkAgainstManifest(const Manifest &manifest, const QString &file, const QByteArray &actual);

/// Lower-case hex SHA-256 of `content`.
QByteArray sha256Hex(const QByteArray &content);

/// `path` relative to `folder` when it lies inside it ('/' separated), else empty.
QString pathInFolder(const QString &folder, const QString &path);

/// Writes `folder`/SHA256SUMS for `files` (relative paths), in sorted order, as `sha256sum`
/// does in text mode. False with `error` set when a file cannot be read or the manifest written.
bool writeManifest(const QString &folder, QStringList files, QString *error);

} // namespace orvo
