// morvex-monitor: a MIDI destination that prints what it receives, to rehearse an update without
// hardware and to let the tests see what arrived.

#include "MIDI/Midi.h"
#include "Monitor/AlsaInput.h"
#include "Monitor/Input.h"
#include "Monitor/JackInput.h"
#include "Morvex/Version.h"
#include "Process/CommandLine.h"
#include "Process/QuitSignals.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <poll.h>
#include <span>
#include <string>

namespace {

constexpr const char* Usage = R"(Usage: morvex-monitor [options]
Opens a MIDI input port and prints one line per message received:
  the arrival in microseconds since the first message, the size in bytes, the first and last
  bytes in hex and the CRC-32 of the whole message.
Options:
  --name NAME      the port's name (default "Morvex Monitor")
  --client NAME    the client's name (default "morvex-monitor")
  --service S      "alsa" or "jack" (default: MORVEX_MIDI, else the ALSA sequencer when the
                   machine has one, else JACK)
  --syx FILE       also write every byte received to FILE
  --slow MS        (ALSA) take MS milliseconds over every sequencer event, with the sequencer's
                   default input queue, as a slow synthesizer program does: to try whether a
                   sender's pace suits such a receiver ("messages lost" says it does not)
  --help           show this text
  --version        print the version
Stops on Ctrl-C (SIGINT), SIGTERM or SIGHUP.
)";

struct Options {
    std::string name = "Morvex Monitor";
    std::string client = "morvex-monitor";
    std::string service;
    std::string syx;
    std::chrono::milliseconds slow { 0 };
    bool version = false;
};

// Options, or why the command line cannot be taken.
std::optional<Options> parse(std::span<const char* const> arguments, std::string& error)
{
    static constexpr process::CommandLine::Option Known[] = {
        { "--name", true },
        { "--client", true },
        { "--service", true },
        { "--syx", true },
        { "--slow", true },
        { "--version" },
    };
    const process::ParsedCommandLine parsed = process::CommandLine::parse(arguments, Known);
    if (!parsed.line || !parsed.line->operands().empty()) {
        error
            = parsed.line ? "unexpected \"" + parsed.line->operands().front() + "\"" : parsed.error;
        return std::nullopt;
    }
    Options options;
    for (const auto& [name, field] :
        { std::pair { "--name", &options.name }, { "--client", &options.client },
            { "--service", &options.service }, { "--syx", &options.syx } })
        *field = parsed.line->value(name).value_or(*field);
    options.version = parsed.line->has("--version");
    if (const auto slow = parsed.line->value("--slow")) {
        const auto milliseconds = process::wholeNumber(*slow);
        if (!milliseconds) {
            error = "--slow takes whole milliseconds, not \"" + *slow + "\"";
            return std::nullopt;
        }
        options.slow = std::chrono::milliseconds(*milliseconds);
    }
    return options;
}

std::unique_ptr<midi::Input> open(const Options& options, std::string& error)
{
    const midi::ServiceChoice choice = midi::chooseServices(options.service);
    error = choice.error;
    for (const midi::Service service : choice.order) {
        if (service == midi::Service::Jack && options.slow.count() > 0) {
            error = "--slow takes its time over the ALSA sequencer's events; JACK has none.";
            continue;
        }
        auto input = service == midi::Service::Alsa
            ? monitor::openAlsaInput(options.client, options.name, options.slow, error)
            : midi::jack::openInput(options.client, options.name, error);
        if (input)
            return input;
    }
    return nullptr;
}

void print(const midi::Received& message, std::uint64_t first)
{
    const auto& bytes = message.bytes;
    std::printf("%10llu us %6zu bytes  %02X .. %02X  crc32 %08X\n",
        static_cast<unsigned long long>(message.microseconds - first), bytes.size(),
        bytes.empty() ? 0u : bytes.front(), bytes.empty() ? 0u : bytes.back(), midi::crc32(bytes));
}

} // namespace

int main(int argc, char** argv)
{
    const std::span<const char* const> arguments(argv + 1, static_cast<std::size_t>(argc - 1));
    if (arguments.size() == 1 && std::string_view(arguments[0]) == "--help") {
        std::fputs(Usage, stdout);
        return EXIT_SUCCESS;
    }
    std::string error;
    const auto options = parse(arguments, error);
    if (!options) {
        std::fprintf(stderr, "morvex-monitor: %s\n\n%s", error.c_str(), Usage);
        return EXIT_FAILURE;
    }
    if (options->version) {
        std::printf("morvex-monitor %s\n", morvex::Version);
        return EXIT_SUCCESS;
    }
    // Before any thread starts: every thread inherits the blocked signals.
    process::OpenedQuitSignals quit = process::QuitSignals::open();
    if (!quit.quitSignals) {
        std::fprintf(stderr, "morvex-monitor: %s\n", quit.error.c_str());
        return EXIT_FAILURE;
    }

    std::ofstream syx;
    if (!options->syx.empty()) {
        syx.open(options->syx, std::ios::binary);
        if (!syx) {
            std::fprintf(stderr, "morvex-monitor: cannot write %s\n", options->syx.c_str());
            return EXIT_FAILURE;
        }
    }
    const auto input = open(*options, error);
    if (!input) {
        std::fprintf(stderr, "morvex-monitor: %s\n", error.c_str());
        return EXIT_FAILURE;
    }
    std::fprintf(stderr, "morvex-monitor: listening on %s\n", input->portName().c_str());

    std::optional<std::uint64_t> first;
    std::uint64_t lostReported = 0;
    std::vector<midi::Received> messages;
    const auto report = [&] {
        input->take(messages);
        for (const auto& message : messages) {
            if (!first)
                first = message.microseconds;
            print(message, *first);
            syx.write(reinterpret_cast<const char*>(message.bytes.data()),
                static_cast<std::streamsize>(message.bytes.size()));
        }
        if (!messages.empty())
            std::fflush(stdout);
        messages.clear();
        if (const auto lost = input->lost(); lost != lostReported) {
            std::fprintf(stderr, "morvex-monitor: %llu messages lost: they came too fast\n",
                static_cast<unsigned long long>(lost - lostReported));
            lostReported = lost;
        }
    };
    // How long a message may wait to be printed.
    constexpr int Milliseconds_Poll = 5;
    pollfd signals { quit.quitSignals->descriptor(), POLLIN, 0 };
    while (!quit.quitSignals->take()) {
        (void)::poll(&signals, 1, Milliseconds_Poll); // an error only means looking again sooner
        report();
    }
    // What arrived since the last poll is reported too, so that nothing received goes unsaid.
    report();
    if (syx.is_open() && !syx.flush()) {
        std::fprintf(stderr, "morvex-monitor: cannot write %s\n", options->syx.c_str());
        return EXIT_FAILURE;
    }
    return EXIT_SUCCESS;
}
