#pragma once

// The command line of orvo-updater-cli: commands, options, their checks and the help texts.

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

namespace orvo::cli {

enum class Command {
    None,
    Scan,
    Versions,
    AutoUpdate,
    Check,
    Update,
    Reset,
    Rename,
    Identify,
    Panels,
    ReleaseCheck,
    ReleaseInstall,
    ReleaseRollback,
    History,
};

/// Exit status of the program; the same table is in --help and in the README.
enum ExitStatus : int {
    ExitOk = 0,           ///< the command did what was asked
    ExitJobFailed = 1,    ///< the job ran but did not do what was asked (see the help text)
    ExitBadArguments = 2, ///< usage error; nothing was sent to a device
    ExitNoDevice = 3,     ///< no device answered
    ExitUpdateFailed = 4, ///< the update failed on one or more boards
    ExitCancelled = 5,    ///< the question was answered No, or the job was interrupted
    ExitFilesMissing = 6, ///< release check: every file present is sound, but some are missing
};

/// How the auto update's question is answered.
enum class Answer { Ask, Yes, No };

constexpr int kMaxManualAddresses = 4;
/// Devices of one versions or auto-update run (a /24 subnet holds at most 254).
constexpr int kMaxDevices = 254;
/// Devices that run at once: each has a thread and one connection at a time; more than this
/// adds little, since the waits the boards need dominate.
constexpr int kMaxParallel = 16;

struct Options
{
    Command command = Command::None;
    bool help = false;
    bool version = false;

    QStringList scanAddresses; ///< scan --ip, normalised dotted decimal, at most four
    QString device;            ///< DEVICE, normalised dotted decimal
    QStringList devices;       ///< versions and auto-update: every DEVICE given (`device` is the first)
    bool allDevices = false;   ///< --all: the devices a scan finds (--ip, or the sweep)
    int parallel = 0;          ///< --parallel N; 0: all devices at once, up to kMaxParallel
    QString panel;             ///< PANEL as given; resolved once the device type is known
    QString newName;           ///< rename NAME
    int deviceType = -1;       ///< panels TYPE
    QString releaseSource;     ///< release check DIR (empty: the firmware folder), release install SRC

    Answer answer = Answer::Ask;
    bool force = false;           ///< auto-update --force, release install --force
    bool checkAfterReset = false; ///< reset --check

    std::uint16_t port = 51000;
    QString firmwareDir; ///< empty: the product's folder next to the program
    QString logFile;
    QString jsonFile;
    QString historyFile;   ///< empty: history.jsonl in the data folder, beside the window's log.txt
    QString historyDevice; ///< history --device
    QString historyBoard;  ///< history --board
    QString historySince;  ///< history --since, as given
    bool historyLast = false;
    bool historyJson = false;
    bool historyCsv = false;
    double speedUp = 1.0;       ///< hidden, for tests and demonstrations: the worker's clock runs faster
    bool debug = false;         ///< the worker's debug lines go to stderr
    bool progressLines = false; ///< not a terminal: write "progress: N%" lines all the same
};

struct ParseResult
{
    bool ok = false;
    Options options;
    QString error; ///< one line, without the usage text
};

/// Parses the arguments after the program name. Options may stand before or after the command;
/// "--name=value" and "--name value" are both accepted.
ParseResult parseArguments(const QStringList &arguments);

/// Why `--speed-up` cannot be honoured with these options, or empty when it can: a factor above
/// 1 only when every address the command talks to is a loopback address (127.0.0.0/8). A scan
/// without --ip sweeps this computer's own subnets, which never are.
QString speedUpRefusal(const Options &options);

/// Whether the command runs on several devices at once (several DEVICE, --all or --parallel).
bool severalDevices(const Options &options);

/// Whether the command reaches devices (all but panels, history and the release commands).
bool talksToDevices(Command command);

/// "auto-update" etc.; empty for Command::None.
QString commandName(Command command);

/// The general help (Command::None) or one command's help.
QString helpText(Command command);

/// One-line usage of a command, or the general usage line.
QString usageLine(Command command);

/// "192.168.001.020" -> "192.168.1.20"; nothing unless four decimal fields of 0..255 that name
/// a single host (not 0.x.x.x, not multicast or broadcast).
std::optional<QString> normaliseDeviceAddress(const QString &text);

/// A device type from its number 0..4, its name or a unique part of it, any case.
std::optional<int> resolveDeviceType(const QString &text);

/// A catalogue position offered for `deviceType` (what the window's panel list offers): its
/// number, or its panel name in any case.
std::optional<int> resolvePanel(int deviceType, const QString &text);

} // namespace orvo::cli
