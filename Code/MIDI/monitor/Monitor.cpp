// morvex-monitor: a MIDI destination that prints what it receives, to rehearse an update without
// hardware and to let the tests see what arrived.

#include "AlsaInput.h"
#include "Input.h"
#include "JackInput.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iostream>
#include <optional>
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
  --help           show this text
Stops on Ctrl-C (SIGINT) or SIGTERM.
)";

struct Options {
    std::string name = "Morvex Monitor";
    std::string client = "morvex-monitor";
    std::string service;
    std::string syx;
};

std::optional<Options> parse(int argc, char** argv)
{
    Options options;
    if (const char* forced = std::getenv("MORVEX_MIDI"))
        options.service = forced;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        std::string* value = argument == "--name" ? &options.name
            : argument == "--client"              ? &options.client
            : argument == "--service"             ? &options.service
            : argument == "--syx"                 ? &options.syx
                                                  : nullptr;
        if (!value || i + 1 == argc)
            return std::nullopt;
        *value = argv[++i];
    }
    if (!options.service.empty() && options.service != "alsa" && options.service != "jack")
        return std::nullopt;
    return options;
}

std::unique_ptr<midi::Input> open(const Options& options, std::string& error)
{
    std::string alsaError;
    if (options.service != "jack")
        if (auto input = monitor::openAlsaInput(options.client, options.name, alsaError))
            return input;
    if (options.service == "alsa") {
        error = alsaError;
        return nullptr;
    }
    return midi::jack::openInput(options.client, options.name, error);
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
    const auto options = parse(argc, argv);
    if (!options) {
        std::fputs(Usage, argc > 1 && std::string(argv[1]) == "--help" ? stdout : stderr);
        return argc > 1 && std::string(argv[1]) == "--help" ? EXIT_SUCCESS : EXIT_FAILURE;
    }
    // Blocked before any thread starts, so every thread inherits the mask and the signals wait
    // for sigtimedwait below instead of running a handler.
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGINT);
    sigaddset(&stops, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stops, nullptr);

    std::ofstream syx;
    if (!options->syx.empty()) {
        syx.open(options->syx, std::ios::binary);
        if (!syx) {
            std::fprintf(stderr, "morvex-monitor: cannot write %s\n", options->syx.c_str());
            return EXIT_FAILURE;
        }
    }
    std::string error;
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
    const timespec poll { 0, 5'000'000 }; // how long a message may wait to be printed
    while (sigtimedwait(&stops, nullptr, &poll) < 0)
        report();
    // What arrived since the last poll is reported too, so that nothing received goes unsaid.
    report();
    if (syx.is_open() && !syx.flush()) {
        std::fprintf(stderr, "morvex-monitor: cannot write %s\n", options->syx.c_str());
        return EXIT_FAILURE;
    }
    return EXIT_SUCCESS;
}
