#include "clioptions.h"

#include "ipv4entry.h"

#include "catalogue.h"
#include "clock.h"
#include "devicetext.h"
#include "history.h"

namespace orvo::cli {

namespace {

struct CommandInfo
{
    Command command;
    const char *name;
    int arguments; ///< positional arguments after the command name
    const char *usage;
    const char *summary;
    const char *description;
};

const CommandInfo kCommands[] = {
    { Command::Scan, "scan", 0, "scan [--ip ADDR]...",
        "find devices at the given addresses, or sweep the local subnets",
        "Finds devices. With --ip (up to four times) only those addresses are asked; without it\n"
        "the /24 subnet of every IPv4 address of this computer is swept, host by host. The\n"
        "subnets are named before the sweep starts.\n" },
    { Command::Versions, "versions", 1, "versions DEVICE... | --all [--ip ADDR]... [--parallel N]",
        "list every board's firmware version",
        "Reads the firmware version of every board of the device and compares it with the\n"
        "version this release carries.\n" },
    { Command::AutoUpdate, "auto-update", 1,
        "auto-update DEVICE... | --all [--ip ADDR]... [--yes|--no] [--force] [--parallel N]",
        "update every out-of-date board",
        "Reads every board's version and, after asking, updates every board that is out of\n"
        "date, parents before children, each with up to two attempts.\n"
        "  --yes      answer the question Yes\n"
        "  --no       answer the question No (only the version scan runs)\n"
        "  --force    update every board, also those that report this release's version\n"
        "Without --yes or --no the question is asked on the terminal; without a terminal it is\n"
        "answered No. With several devices the question is asked once, for all of them.\n" },
    { Command::Check, "check", 2, "check DEVICE PANEL", "check one board",
        "Checks one board: whether it answers, boot mode, firmware version and processor.\n" },
    { Command::Update, "update", 2, "update DEVICE PANEL", "update one board",
        "Updates the firmware of one board through its boot loader.\n" },
    { Command::Reset, "reset", 2, "reset DEVICE PANEL [--check]", "reset one board",
        "Resets one board and waits for it to restart.\n"
        "  --check    check the board afterwards\n" },
    { Command::Rename, "rename", 2, "rename DEVICE NAME", "rename the device",
        "Gives the device a new name of at most {name-limit} characters, each one that Windows-1252\n"
        "holds (the devices' code page, whatever this computer's locale).\n" },
    { Command::Identify, "identify", 1, "identify DEVICE", "make the device identify itself",
        "Makes the device identify itself. The device does not acknowledge the request.\n" },
    { Command::Panels, "panels", 1, "panels TYPE", "list the catalogue positions of a device type",
        "Lists the catalogue positions of a device type: number, name, slot (panel, channel,\n"
        "board type, board address), firmware file and this release's version.\n"
        "TYPE: 0 \"6170 Console\", 1 \"3350 QRT\", 2 \"Lumivox KVR10\", 3 \"Lumivox TX512\",\n"
        "4 \"Lumivox KVR30\", or a unique part of the name (console, qrt, kvr10, ...).\n" },
    { Command::ReleaseCheck, "release check", 1, "release check [DIR]",
        "check a firmware release folder before updating from it",
        "Checks every file of the catalogue in DIR (default: the firmware folder): whether it is\n"
        "there, reads completely and fits its board (HEX memory map, FPGA size), and matches the\n"
        "folder's SHA256SUMS when there is one. Processor variant files are checked when they\n"
        "are there or the manifest names them. Prints one row per file (positions, file, status,\n"
        "the version the catalogue expects, SHA-256 prefix), the reasons, and a summary.\n"
        "Exit status 0: every file is there and sound; 6: every file that is there is sound,\n"
        "but some are missing (normal for a release of one device type); 1: a bad file or an\n"
        "unreadable manifest.\n" },
    { Command::ReleaseInstall, "release install", 1, "release install SRC [--force]",
        "install a release folder or archive into the firmware folder",
        "Unpacks SRC (a folder, or a .tar.gz, .tgz, .tar or .zip archive) into a new folder beside\n"
        "the firmware folder, refusing absolute paths, \"..\", links leading outside the release,\n"
        "devices and fifos; checks it as `release check` does; and only then puts it in place of\n"
        "the firmware folder with one rename. The replaced folder is kept as <folder>.previous.\n"
        "  --force    install a release whose check finds bad files\n"
        "--firmware DIR chooses the folder, for example a per-user one that needs no root.\n" },
    { Command::ReleaseRollback, "release rollback", 0, "release rollback",
        "go back to the release before the last install",
        "Swaps the firmware folder with <folder>.previous, the release the last install replaced\n"
        "(a second rollback returns to the newer one).\n" },
    { Command::History, "history", 0, "history [--device D] [--board B] [--since DATE] [--last] [--json|--csv]",
        "show the history of every board the jobs visited",
        "Prints the entries of the history file (every board a job of the window or of this\n"
        "program updated, checked, reset or scanned), oldest first.\n"
        "  --device D    only the device with this MAC, address or name (any case)\n"
        "  --board B     only the board at this catalogue position, or with this name (any case)\n"
        "  --since DATE  only entries from DATE on (2026-12-01, or 2026-12-01T14:00)\n"
        "  --last        each board's latest entry per device: what the devices have now\n"
        "  --json        the selected entries as a JSON array\n"
        "  --csv         the selected entries as CSV with a header row; text cells are quoted, and\n"
        "                one that starts with = + - @ starts with ' instead, so that no\n"
        "                spreadsheet runs it as a formula\n"
        "Lines of the file that are damaged or cut off are skipped, each named on stderr.\n" },
};

const char *const kProgram = "orvo-updater-cli";

const char *const kArgumentsHelp = "DEVICE  IPv4 address of the device; it is asked for its record first, and a\n"
                                   "        record that names another address is refused.\n"
                                   "DEVICE... versions and auto-update take several devices and run them in\n"
                                   "        parallel, each with its own worker; every line is prefixed with the\n"
                                   "        device's address, and a summary line ends the run.\n"
                                   "  --all         every device that a scan finds: the --ip addresses, or the\n"
                                   "                sweep of the local subnets without --ip\n"
                                   "  --parallel N  at most N devices at once, 1 to 16 (default: all of them, up\n"
                                   "                to 16; the others wait for a free place)\n"
                                   "PANEL   catalogue position number (see `panels`) or the board's name, any case.\n";

const char *const kOptionsHelp = "Options:\n"
                                 "  --port N        TCP port of the devices (default 51000)\n"
                                 "  --firmware DIR  firmware folder (default: HexFiles in the parent of the\n"
                                 "                  program's folder)\n"
                                 "  --log FILE      append the time-stamped activity lines to FILE\n"
                                 "  --json FILE     write a machine-readable report to FILE when the command ends\n"
                                 "  --history FILE  the history file that jobs append to and `history` reads\n"
                                 "                  (default: history.jsonl in the window's data folder)\n"
                                 "  --debug         show the worker's debug lines on stderr\n"
                                 "  --progress      when the output is not a terminal, also write the progress\n"
                                 "                  as \"progress: N%\" lines (a tenth of the way each, and one\n"
                                 "                  when a wait or download starts); a terminal shows a bar\n"
                                 "  -h, --help      this help; after a command, the command's help\n"
                                 "  --version       the program's version, build date and Qt version\n";

const char *const kExitHelp = "Exit status:\n"
                              "  0  the command did what was asked\n"
                              "  1  the job ran but failed: a board did not answer the check, the reset could\n"
                              "     not be sent, the rename was not confirmed, the device type has no\n"
                              "     catalogue, or the device's record names another address; a release\n"
                              "     check found a bad file; a release install or rollback was refused\n"
                              "  2  bad arguments, or --speed-up with an address outside 127.0.0.0/8 (nothing is\n"
                              "     sent)\n"
                              "  3  no device answered\n"
                              "  4  the update failed on N boards (N is printed)\n"
                              "  5  cancelled: the question was answered No, or Ctrl-C\n"
                              "  6  release check: every file that is there is sound, but some are missing\n"
                              "With several devices the status is the worst of the devices' statuses, in the\n"
                              "order 0, 5, 3, 1, 4 (best to worst).\n"
                              "Ctrl-C stops the running job at its next step; the job still sends its closing\n"
                              "lines (with several devices: every device's job). A second Ctrl-C ends the\n"
                              "program at once.\n";

const CommandInfo *findCommand(Command command)
{
    for (const CommandInfo &info : kCommands) {
        if (info.command == command)
            return &info;
    }
    return nullptr;
}

const CommandInfo *findCommand(const QString &name)
{
    for (const CommandInfo &info : kCommands) {
        if (name == QLatin1String(info.name))
            return &info;
    }
    return nullptr;
}

// The options that take a value.
// The options that take a value. `history` prints its entries as JSON to standard output, so
// there --json is a flag.
bool takesValue(const QString &name, Command command)
{
    static const QStringList names = { QStringLiteral("--port"), QStringLiteral("--firmware"), QStringLiteral("--log"),
        QStringLiteral("--json"), QStringLiteral("--speed-up"), QStringLiteral("--ip"), QStringLiteral("--history"),
        QStringLiteral("--device"), QStringLiteral("--board"), QStringLiteral("--since"),
        QStringLiteral("--parallel") };
    if (command == Command::History && name == QLatin1String("--json"))
        return false;
    return names.contains(name);
}

bool isFlag(const QString &name, Command command)
{
    static const QStringList names
        = { QStringLiteral("--yes"), QStringLiteral("--no"), QStringLiteral("--force"), QStringLiteral("--check"),
              QStringLiteral("--help"), QStringLiteral("-h"), QStringLiteral("--debug"), QStringLiteral("--progress"),
              QStringLiteral("--last"), QStringLiteral("--csv"), QStringLiteral("--all"), QStringLiteral("--version") };
    return names.contains(name) || (command == Command::History && name == QLatin1String("--json"));
}

std::optional<std::uint16_t> parsePort(const QString &text)
{
    bool ok = false;
    const uint value = text.toUInt(&ok, 10);
    if (!ok || value < 1 || value > 65535)
        return std::nullopt;
    return static_cast<std::uint16_t>(value);
}

// Which command an option belongs to; Command::None for the global ones.
Command ownerOf(const QString &option)
{
    if (option == QLatin1String("--ip"))
        return Command::Scan;
    if (option == QLatin1String("--yes") || option == QLatin1String("--no"))
        return Command::AutoUpdate;
    if (option == QLatin1String("--check"))
        return Command::Reset;
    static const QStringList history = { QStringLiteral("--device"), QStringLiteral("--board"),
        QStringLiteral("--since"), QStringLiteral("--last"), QStringLiteral("--csv") };
    if (history.contains(option))
        return Command::History;
    return Command::None;
}

} // namespace

bool talksToDevices(Command command)
{
    switch (command) {
    case Command::None:
    case Command::Panels:
    case Command::ReleaseCheck:
    case Command::ReleaseInstall:
    case Command::ReleaseRollback:
    case Command::History:
        return false;
    default:
        return true;
    }
}

bool severalDevices(const Options &o)
{
    return (o.command == Command::Versions || o.command == Command::AutoUpdate)
        && (o.devices.size() > 1 || o.allDevices || o.parallel > 0);
}

QString commandName(Command command)
{
    const CommandInfo *info = findCommand(command);
    return info ? QString::fromLatin1(info->name) : QString();
}

QString usageLine(Command command)
{
    const CommandInfo *info = findCommand(command);
    if (!info)
        return QStringLiteral("Usage: %1 [options] COMMAND [arguments]   (%1 --help for the commands)")
            .arg(QLatin1String(kProgram));
    return QStringLiteral("Usage: %1 [options] %2").arg(QLatin1String(kProgram), QLatin1String(info->usage));
}

QString helpText(Command command)
{
    const CommandInfo *info = findCommand(command);
    QString text;
    if (info) {
        text = usageLine(command) + QStringLiteral("\n\n")
            + QString::fromLatin1(info->description)
                  .replace(QLatin1String("{name-limit}"), QString::number(kDeviceNameMaxChars));
        if (info->arguments > 0 && talksToDevices(command))
            text += QStringLiteral("\n") + QLatin1String(kArgumentsHelp);
        return text + QStringLiteral("\n") + QLatin1String(kOptionsHelp) + QStringLiteral("\n")
            + QLatin1String(kExitHelp);
    }
    text = QStringLiteral("Usage: %1 [options] COMMAND [arguments]\n\n").arg(QLatin1String(kProgram));
    text += QStringLiteral("Finds Orvo devices on the network, reads and checks their boards and updates their\n"
                           "firmware, with the same jobs as the Orvo Updater window.\n\nCommands:\n");
    for (const CommandInfo &c : kCommands)
        text += QStringLiteral("  %1\n      %2\n").arg(QLatin1String(c.usage), QLatin1String(c.summary));
    text += QStringLiteral("\n") + QLatin1String(kArgumentsHelp) + QStringLiteral("\n") + QLatin1String(kOptionsHelp)
        + QStringLiteral("\n") + QLatin1String(kExitHelp);
    text += QStringLiteral("\n%1 COMMAND --help describes one command.\n").arg(QLatin1String(kProgram));
    return text;
}

QString speedUpRefusal(const Options &o)
{
    if (!(o.speedUp > 1.0) || !talksToDevices(o.command))
        return QString();
    const QString rule = QStringLiteral("--speed-up is for the device simulator only: it shortens the boards' restart "
                                        "and erase waits, so it is honoured only when every address the command "
                                        "talks to is a loopback address (127.0.0.0/8), and ");
    if (o.command == Command::Scan && o.scanAddresses.isEmpty())
        return rule + QStringLiteral("a scan without --ip sweeps the subnets of this computer; nothing was sent");
    if (o.allDevices && o.scanAddresses.isEmpty())
        return rule + QStringLiteral("--all without --ip sweeps the subnets of this computer; nothing was sent");
    const QStringList addresses = o.command == Command::Scan || o.allDevices
        ? o.scanAddresses
        : (o.devices.isEmpty() ? QStringList { o.device } : o.devices);
    for (const QString &a : addresses) {
        if (!isLoopbackAddress(a))
            return rule + a + QStringLiteral(" is not one; nothing was sent");
    }
    return QString();
}

std::optional<QString> normaliseDeviceAddress(const QString &text)
{
    // 0.0.0.0 would reach this computer and 255.255.255.255 marks an unused manual entry; neither
    // they nor the multicast range name one device.
    const std::optional<Ipv4Entry> entry = parseIpv4Entry(text);
    if (!entry || !namesOneDevice(*entry))
        return std::nullopt;
    return entry->address;
}

std::optional<int> resolveDeviceType(const QString &text)
{
    const QString wanted = text.trimmed();
    bool isNumber = false;
    const int number = wanted.toInt(&isNumber, 10);
    if (isNumber)
        return isKnownDeviceType(number) ? std::optional<int>(number) : std::nullopt;
    if (wanted.isEmpty())
        return std::nullopt;
    std::optional<int> found;
    for (int type = 0; type < DeviceTypeMax; ++type) {
        const QString name = deviceTypeName(type);
        if (name.compare(wanted, Qt::CaseInsensitive) == 0)
            return type;
        if (name.contains(wanted, Qt::CaseInsensitive)) {
            if (found)
                return std::nullopt; // ambiguous, such as "lumivox"
            found = type;
        }
    }
    return found;
}

std::optional<int> resolvePanel(int deviceType, const QString &text)
{
    const QString wanted = text.trimmed();
    bool isNumber = false;
    const int number = wanted.toInt(&isNumber, 10);
    if (isNumber)
        return isCataloguePosition(deviceType, number) ? std::optional<int>(number) : std::nullopt;
    for (int i = 0; i < slotCount(deviceType); ++i) {
        if (panelName(deviceType, i).compare(wanted, Qt::CaseInsensitive) == 0)
            return i;
    }
    return std::nullopt;
}

ParseResult parseArguments(const QStringList &arguments)
{
    ParseResult result;
    Options &o = result.options;
    QStringList positional;
    QStringList optionsSeen;
    bool yes = false;
    bool no = false;
    bool optionsEnded = false;
    const CommandInfo *info = nullptr;
    bool releaseWord = false; // "release" read, its sub-command not yet

    auto fail = [&result](const QString &error) {
        result.ok = false;
        // An argument quoted back cannot break the line or steer the terminal.
        result.error = visibleText(error);
        return result;
    };

    for (int i = 0; i < arguments.size(); ++i) {
        const QString &arg = arguments.at(i);
        if (optionsEnded || !arg.startsWith(QLatin1Char('-')) || arg == QLatin1String("-")) {
            if (!info) {
                if (arg == QLatin1String("release") && !releaseWord) {
                    releaseWord = true;
                    continue;
                }
                const QString name = releaseWord ? QStringLiteral("release ") + arg : arg;
                info = findCommand(name);
                if (!info)
                    return fail(QStringLiteral("unknown command '%1'").arg(name));
                o.command = info->command;
            } else {
                positional << arg;
            }
            continue;
        }
        if (arg == QLatin1String("--")) {
            optionsEnded = true;
            continue;
        }
        QString name = arg;
        QString value;
        bool hasValue = false;
        const int eq = arg.indexOf(QLatin1Char('='));
        if (arg.startsWith(QLatin1String("--")) && eq > 2) {
            name = arg.left(eq);
            value = arg.mid(eq + 1);
            hasValue = true;
        }
        const Command current = info ? info->command : Command::None;
        if (takesValue(name, current)) {
            if (!hasValue) {
                if (i + 1 >= arguments.size())
                    return fail(QStringLiteral("option %1 needs a value").arg(name));
                value = arguments.at(++i);
            }
        } else if (isFlag(name, current)) {
            if (hasValue)
                return fail(QStringLiteral("option %1 takes no value").arg(name));
        } else {
            return fail(QStringLiteral("unknown option '%1'").arg(arg));
        }
        optionsSeen << name;

        if (name == QLatin1String("--json") && current == Command::History) {
            o.historyJson = true;
        } else if (name == QLatin1String("--help") || name == QLatin1String("-h")) {
            o.help = true;
        } else if (name == QLatin1String("--version")) {
            o.version = true;
        } else if (name == QLatin1String("--debug")) {
            o.debug = true;
        } else if (name == QLatin1String("--progress")) {
            o.progressLines = true;
        } else if (name == QLatin1String("--yes")) {
            yes = true;
        } else if (name == QLatin1String("--no")) {
            no = true;
        } else if (name == QLatin1String("--force")) {
            o.force = true;
        } else if (name == QLatin1String("--check")) {
            o.checkAfterReset = true;
        } else if (name == QLatin1String("--port")) {
            const auto port = parsePort(value);
            if (!port)
                return fail(QStringLiteral("--port needs a number from 1 to 65535, not '%1'").arg(value));
            o.port = *port;
        } else if (name == QLatin1String("--firmware")) {
            if (value.isEmpty())
                return fail(QStringLiteral("--firmware needs a folder"));
            o.firmwareDir = value;
        } else if (name == QLatin1String("--log")) {
            if (value.isEmpty())
                return fail(QStringLiteral("--log needs a file name"));
            o.logFile = value;
        } else if (name == QLatin1String("--json")) {
            if (value.isEmpty())
                return fail(QStringLiteral("--json needs a file name"));
            o.jsonFile = value;
        } else if (name == QLatin1String("--history")) {
            if (value.isEmpty())
                return fail(QStringLiteral("--history needs a file name"));
            o.historyFile = value;
        } else if (name == QLatin1String("--device")) {
            o.historyDevice = value.trimmed();
        } else if (name == QLatin1String("--board")) {
            o.historyBoard = value.trimmed();
        } else if (name == QLatin1String("--since")) {
            o.historySince = value;
        } else if (name == QLatin1String("--last")) {
            o.historyLast = true;
        } else if (name == QLatin1String("--csv")) {
            o.historyCsv = true;
        } else if (name == QLatin1String("--speed-up")) {
            bool ok = false;
            const double factor = value.toDouble(&ok);
            if (!ok || !(factor >= 1.0) || factor > 1.0e6)
                return fail(QStringLiteral("--speed-up needs a factor from 1 to 1000000, not '%1'").arg(value));
            o.speedUp = factor;
        } else if (name == QLatin1String("--all")) {
            o.allDevices = true;
        } else if (name == QLatin1String("--parallel")) {
            bool ok = false;
            const int n = value.toInt(&ok, 10);
            if (!ok || n < 1 || n > kMaxParallel)
                return fail(
                    QStringLiteral("--parallel needs a number from 1 to %1, not '%2'").arg(kMaxParallel).arg(value));
            o.parallel = n;
        } else if (name == QLatin1String("--ip")) {
            const auto address = normaliseDeviceAddress(value);
            if (!address)
                return fail(QStringLiteral("--ip needs the IPv4 address of a device, not '%1'").arg(value));
            o.scanAddresses << *address;
        }
    }

    // Help wins over everything else that is wrong, so that the user learns how to put it right.
    if (o.help || o.version) {
        result.ok = true;
        return result;
    }
    if (!info && releaseWord)
        return fail(QStringLiteral("'release' needs check, install or rollback"));
    if (!info)
        return fail(QStringLiteral("no command given"));

    const bool severalDevices = o.command == Command::Versions || o.command == Command::AutoUpdate;
    for (const QString &option : qAsConst(optionsSeen)) {
        if (option == QLatin1String("--all") || option == QLatin1String("--parallel")) {
            if (!severalDevices)
                return fail(
                    QStringLiteral("option %1 belongs to the commands 'versions' and 'auto-update'").arg(option));
            continue;
        }
        if (option == QLatin1String("--ip") && o.allDevices)
            continue; // the addresses of the scan that --all runs
        const Command owner = ownerOf(option);
        if (owner != Command::None && owner != o.command)
            return fail(QStringLiteral("option %1 belongs to the command '%2'").arg(option, commandName(owner)));
    }
    if (o.force && o.command != Command::AutoUpdate && o.command != Command::ReleaseInstall)
        return fail(QStringLiteral("option --force belongs to the commands 'auto-update' and 'release install'"));
    if (yes && no)
        return fail(QStringLiteral("--yes and --no exclude each other"));
    if (o.historyJson && o.historyCsv)
        return fail(QStringLiteral("--json and --csv exclude each other"));
    if (!o.historySince.isEmpty() && !parseHistoryDate(o.historySince))
        return fail(QStringLiteral("--since needs a date such as 2026-12-01 or 2026-12-01T14:00, not '%1'")
                        .arg(o.historySince));
    o.answer = yes ? Answer::Yes : (no ? Answer::No : Answer::Ask);
    if (o.scanAddresses.size() > kMaxManualAddresses)
        return fail(QStringLiteral("at most %1 addresses can be scanned with --ip").arg(kMaxManualAddresses));

    // The folder of `release check` may be left out: it is the firmware folder then.
    const bool optionalArgument = (o.command == Command::ReleaseCheck && positional.isEmpty()) || o.allDevices;
    if (o.allDevices && !positional.isEmpty())
        return fail(QStringLiteral("--all takes the devices a scan finds: no DEVICE with it"));
    if (severalDevices && positional.size() > kMaxDevices)
        return fail(QStringLiteral("at most %1 devices at once").arg(kMaxDevices));
    if (severalDevices) {
        for (const QString &p : qAsConst(positional)) {
            const auto address = normaliseDeviceAddress(p);
            if (!address)
                return fail(QStringLiteral("DEVICE must be the IPv4 address of a device, not '%1'").arg(p));
            if (o.devices.contains(*address))
                return fail(QStringLiteral("the device %1 is named twice").arg(*address));
            o.devices << *address;
        }
        positional = o.devices.mid(0, 1);
    }
    if (positional.size() < info->arguments && !optionalArgument)
        return fail(QStringLiteral("'%1' needs %2").arg(commandName(o.command), QLatin1String(info->usage)));
    if (positional.size() > info->arguments)
        return fail(QStringLiteral("unexpected argument '%1'").arg(positional.at(info->arguments)));

    if (o.command == Command::ReleaseCheck || o.command == Command::ReleaseInstall) {
        o.releaseSource = positional.value(0);
        if (o.command == Command::ReleaseInstall && o.releaseSource.isEmpty())
            return fail(QStringLiteral("SRC is empty"));
    } else if (o.command == Command::Panels) {
        const auto type = resolveDeviceType(positional.at(0));
        if (!type)
            return fail(QStringLiteral("unknown or ambiguous device type '%1'").arg(positional.at(0)));
        o.deviceType = *type;
    } else if (info->arguments > 0 && !positional.isEmpty()) {
        const auto address = normaliseDeviceAddress(positional.at(0));
        if (!address)
            return fail(QStringLiteral("DEVICE must be the IPv4 address of a device, not '%1'").arg(positional.at(0)));
        o.device = *address;
        if (o.command == Command::Rename) {
            o.newName = positional.at(1);
            if (o.newName.isEmpty())
                return fail(QStringLiteral("the new name is empty"));
            // Checked here, so that a name the device cannot hold is refused before anything is sent.
            const DeviceNameBytes name = encodeDeviceName(o.newName);
            if (!name.ok())
                return fail(name.error);
        } else if (info->arguments > 1) {
            o.panel = positional.at(1);
            if (o.panel.trimmed().isEmpty())
                return fail(QStringLiteral("PANEL is empty"));
        }
    }
    if (const QString refusal = speedUpRefusal(o); !refusal.isEmpty())
        return fail(refusal);
    result.ok = true;
    return result;
}

} // namespace orvo::cli
