#pragma once

#include "MIDI/Midi.h"

#include <chrono>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace send {

// What morvex-send answers to a script. Cancelled is 128 + SIGINT, as a shell reports a command
// that Ctrl-C ended.
enum ExitStatus : int {
    Exit_Complete = 0, // "Complete Update"
    Exit_Incomplete = 1, // "Update Incomplete": the reasons went to standard error
    Exit_Usage = 2,
    Exit_Unavailable = 3, // nothing was sent: no service, no such destination, no files
    Exit_Cancelled = 130, // Ctrl-C (or SIGTERM, or a second Ctrl-C)
};

struct Options {
    enum class Command { Help, Version, List, Send, Identify };
    Command command = Command::Send;
    std::string to; // the destination's number from 1, or its name; empty for a dry run without
    std::string folder = ".";
    bool dryRun = false;
    bool sendDamaged = false; // send an update with damaged files as far as they can be read
    bool shareDestination = false; // send even while other programs send to the destination
    double slower = 1; // how many times slower than the files say (transfer::Factor_LeastSlower on)
    // How long any one request to the MIDI service may take before Morvex gives up on it.
    std::chrono::milliseconds limit = midi::DefaultServiceLimit;
};

struct [[nodiscard]] ParsedOptions {
    std::optional<Options> options;
    std::string error; // what is wrong with the command line, when options is empty
};

// arguments: the command line without the program's name.
ParsedOptions parseOptions(std::span<const char* const> arguments);

extern const std::string_view Usage;

} // namespace send
