#include "Send/Options.h"

namespace send {

const std::string_view Usage = R"(Usage: morvex-send --list
       morvex-send --to DEVICE [--dry-run] [FOLDER]
       morvex-send --dry-run [FOLDER]

Sends the System Exclusive messages of every "mid" file in FOLDER (default: the current folder)
to one MIDI destination, as the Morvex window does: the files in the order the window lists them,
each message after its own delay, a 2-second pause before every file but the first. The MIDI
client is "Morvex" and its output port "Morvex Output Port".

  --list         print the MIDI destinations, numbered from 1 in the order of the window's
                 device pop-up: 1 is the entry just under the separator, 2 the next one
  --to DEVICE    send to DEVICE: its number from --list (digits only), or its whole name
  --dry-run      send nothing: print for each file its messages, its bytes and the time it
                 takes (its delays, and its pause), then the total
  --help         show this text

On a terminal one line shows the file in hand, the percentage, the bytes and the time left;
otherwise plain lines are printed as the update goes.
Ctrl-C cancels: the message whose delay is under way still goes out, nothing after it.
A second Ctrl-C, or SIGTERM, quits at once: the wait under way is cut short, nothing more is sent.

Exit status:
  0    "Complete Update": every file was read alike twice and every message delivered
  1    "Update Incomplete": some file could not be read or sent whole (the reasons on standard
       error); for --dry-run, some file could not be read whole
  2    bad usage
  3    nothing was sent: no MIDI service, no such destination, or a folder that cannot be listed
       or holds no "mid" file
  130  cancelled by Ctrl-C, or quit by a second Ctrl-C or SIGTERM
)";

ParsedOptions parseOptions(std::span<const char* const> arguments)
{
    Options options;
    bool list = false;
    bool folderGiven = false;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string_view argument = arguments[i];
        if (optionsEnded || !argument.starts_with("-") || argument == "-") {
            if (folderGiven)
                return { std::nullopt,
                    "one folder at most, not also \"" + std::string(argument) + "\"" };
            options.folder = argument;
            folderGiven = true;
        } else if (argument == "--") {
            optionsEnded = true;
        } else if (argument == "--help") {
            options.command = Options::Command::Help;
            return { options, {} };
        } else if (argument == "--list") {
            list = true;
        } else if (argument == "--dry-run") {
            options.dryRun = true;
        } else if (argument == "--to" || argument.starts_with("--to=")) {
            if (argument == "--to" && i + 1 == arguments.size())
                return { std::nullopt, "--to needs a destination's number or name" };
            options.to = argument == "--to" ? arguments[++i] : argument.substr(5);
            if (options.to.empty())
                return { std::nullopt, "--to needs a destination's number or name" };
        } else {
            return { std::nullopt, "unknown option \"" + std::string(argument) + "\"" };
        }
    }
    if (list) {
        if (!options.to.empty() || options.dryRun || folderGiven)
            return { std::nullopt, "--list takes nothing else" };
        options.command = Options::Command::List;
        return { options, {} };
    }
    if (options.to.empty() && !options.dryRun)
        return { std::nullopt, "say where to send with --to, or use --list or --dry-run" };
    return { options, {} };
}

} // namespace send
