#include "Send/Options.h"

#include "Process/CommandLine.h"
#include "Transfer/Plan.h"

namespace send {

const std::string_view Usage = R"(Usage: morvex-send --list [--timeout SECONDS]
       morvex-send --to DESTINATION [--dry-run] [--send-damaged] [--share-destination]
                   [--slower FACTOR] [--timeout SECONDS] [FOLDER]
       morvex-send --dry-run [--slower FACTOR] [FOLDER]
       morvex-send --identify --to DESTINATION [--timeout SECONDS]

Sends the System Exclusive messages of every "mid" file in FOLDER (default: the current folder)
to one MIDI destination, as the Morvex window does: the files in the order the window lists them,
each message after its own delay, a 2-second pause before every file but the first. The MIDI
client is "Morvex" and its output port "Morvex Output Port".

  --list              print the MIDI destinations, numbered from 1 in the order of the
                      window's device pop-up: 1 is the entry just under the separator;
                      the words (can answer) follow those that have a way back to Morvex
  --identify          ask DESTINATION who it is (the Identity Request F0 7E 7F 06 01 F7)
                      and print each Identity Reply that comes within 2 s: the device ID,
                      manufacturer, family, model and software revision
  --to DESTINATION    send to DESTINATION: its number from --list (digits only), or its
                      whole name
  --dry-run           send nothing: print for each file its messages, its bytes and the time
                      it takes (its delays, its pause and, with --to, its time on a hardware
                      wire), then the total
  --send-damaged      send an update even when some of its files are damaged (cannot be
                      read, are no format-0 MIDI file with one track, or are cut off), as far
                      as they can be read; without it such an update is not sent at all
  --share-destination send even while other programs send to DESTINATION too (a clock,
                      a patchbay's connection, another morvex-send): their messages are
                      mixed into the update. Without it such an update is not sent, and
                      one that another program joins stops before its next message
  --slower FACTOR     send FACTOR times slower than the files say, from 1 to 10 (1.5, say),
                      for a device or a route that needs it: every delay, the pause between
                      files and the time a hardware wire takes for each byte last FACTOR times
                      longer (default 1: as the files say)
  --timeout SECONDS   how long to wait for the MIDI service to answer any one request
                      (opening, connecting, closing) before giving up on it (default 5)
  --help              show this text
  --version           print the version

On a terminal one line shows the file in hand, the percentage, the bytes and the time left;
otherwise plain lines are printed as the update goes.
A destination that can answer is listened to during the update. NAK (F0 7E cc 7E pp F7) or
CANCEL (F0 7E cc 7D pp F7) from it stops the update before its next message, and the end names
the message refused; WAIT (F0 7E cc 7C pp F7) holds the next message until the device says
anything else ("Waiting for the device..."), for 30 s at most; ACK (F0 7E cc 7F pp F7) is
counted. The last lines say how many replies of each kind came, and show the last few in hex.
Ctrl-C cancels: the message whose delay is under way still goes out, nothing after it.
A second Ctrl-C, SIGTERM or SIGHUP quits at once: the wait under way is cut short, a message
being paced to a hardware port is ended there, and nothing more is sent. Before the first
message goes out (while the MIDI service opens, say), Ctrl-C and SIGTERM end it at once.

Exit status:
  0    "Complete Update": every file was read alike twice and every message delivered;
       for --identify, a device answered
  1    "Update Incomplete": some file could not be read or sent whole (the reasons on standard
       error), the device refused a message, or damaged files or other senders to the
       destination stopped the update before it began; for --dry-run, some file is damaged; for
       --identify, no device answered
  2    bad usage
  3    nothing was sent: no MIDI service (or one that did not answer in time), no such
       destination, or a folder that cannot be listed or holds no "mid" file
  130  cancelled by Ctrl-C, or quit by a second Ctrl-C or SIGTERM
)";

ParsedOptions parseOptions(std::span<const char* const> arguments)
{
    static constexpr process::CommandLine::Option Known[] = {
        { "--help" },
        { "--version" },
        { "--list" },
        { "--dry-run" },
        { "--send-damaged" },
        { "--share-destination" },
        { "--identify" },
        { "--to", true },
        { "--timeout", true },
        { "--slower", true },
    };
    const process::ParsedCommandLine parsed = process::CommandLine::parse(arguments, Known);
    if (!parsed.line)
        return { std::nullopt, parsed.error };
    const process::CommandLine& line = *parsed.line;
    Options options;
    if (line.has("--help")) {
        options.command = Options::Command::Help;
        return { options, {} };
    }
    if (line.has("--version")) {
        options.command = Options::Command::Version;
        return { options, {} };
    }
    if (line.operands().size() > 1)
        return { std::nullopt, "one folder at most, not also \"" + line.operands()[1] + "\"" };
    if (!line.operands().empty())
        options.folder = line.operands().front();
    options.dryRun = line.has("--dry-run");
    options.sendDamaged = line.has("--send-damaged");
    options.shareDestination = line.has("--share-destination");
    options.to = line.value("--to").value_or("");
    if (line.has("--to") && options.to.empty())
        return { std::nullopt, "--to needs a destination's number or name" };
    if (const auto timeout = line.value("--timeout")) {
        const auto seconds = process::wholeNumber(*timeout);
        if (!seconds || *seconds < 1 || *seconds > 3600)
            return { std::nullopt,
                "--timeout takes whole seconds from 1 to 3600, not \"" + *timeout + "\"" };
        options.limit = std::chrono::seconds(*seconds);
    }
    if (const auto slower = line.value("--slower")) {
        const std::optional<double> factor = process::decimalNumber(*slower);
        if (!factor || *factor < transfer::Factor_LeastSlower
            || *factor > transfer::Factor_MostSlower)
            return { std::nullopt,
                "--slower takes a number from 1 to 10 (1.5, say), not \"" + *slower + "\"" };
        options.slower = *factor;
    }
    if (line.has("--list")) {
        if (line.has("--to") || options.dryRun || options.sendDamaged || options.shareDestination
            || line.has("--slower") || !line.operands().empty())
            return { std::nullopt, "--list takes nothing else" };
        options.command = Options::Command::List;
        return { options, {} };
    }
    if (line.has("--identify")) {
        if (options.to.empty() || options.dryRun || options.sendDamaged || options.shareDestination
            || line.has("--slower") || !line.operands().empty())
            return { std::nullopt, "--identify takes --to and nothing else" };
        options.command = Options::Command::Identify;
        return { options, {} };
    }
    if (options.to.empty() && !options.dryRun)
        return { std::nullopt, "say where to send with --to, or use --list or --dry-run" };
    return { options, {} };
}

} // namespace send
