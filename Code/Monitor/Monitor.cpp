// morvex-monitor: a MIDI destination that prints what it receives, to rehearse an update without
// hardware and to let the tests see what arrived.

#include "MIDI/Midi.h"
#include "Monitor/AlsaInput.h"
#include "Monitor/Input.h"
#include "Monitor/JackInput.h"
#include "Morvex/Version.h"
#include "Process/CommandLine.h"
#include "Process/QuitSignals.h"
#include "Result/Result.h"

#include <algorithm>
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
  --answers NAME   answer as a device does, on JACK through an output port NAME of the client:
                   the one output a sender pairs with the input as the device's way back; on
                   the ALSA sequencer through the input port itself, which can then be read
                   from, as a USB device's port is (NAME is not used there). An Identity Request
                   (F0 7E 7F 06 01 F7, or to device ID 10) is answered with an Identity Reply:
                   manufacturer 7D, family 4D 56, model 01 00, device ID 10
  --ack            with --answers: answer every message with ACK (F0 7E 10 7F pp F7, pp the
                   message's number from 0, modulo 128)
  --at N:KIND      with --answers: answer the Nth message (from 1) with KIND instead, "nak",
                   "cancel" or "wait"
  --hold MS        after a WAIT, send ACK once MS milliseconds have passed (default 1000)
  --dump N:BYTES   with --answers: after answering the Nth message, send a SysEx of BYTES bytes
                   (F0 7D, then 0 to 7F over and over, F7), to rehearse a long reply
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
    std::string answers; // the output port's name; empty: no answers
    bool ack = false;
    std::uint32_t at = 0; // the message answered with atKind instead; 0 for none
    std::uint8_t atKind = 0;
    std::chrono::milliseconds hold { 1000 };
    std::uint32_t dumpAfter = 0; // 0 for none
    std::uint32_t dumpBytes = 0;
    bool version = false;
};

// The rehearsal device's own numbers, for its handshake and its Identity Reply.
constexpr std::uint8_t DeviceId = 0x10;
constexpr std::uint8_t Ack = 0x7F;
constexpr std::uint8_t Nak = 0x7E;
constexpr std::uint8_t Cancel = 0x7D;
constexpr std::uint8_t Wait = 0x7C;

// "N:WORD" as a number from 1 and what follows the colon.
std::optional<std::pair<std::uint32_t, std::string>> numbered(const std::string& text)
{
    const auto colon = text.find(':');
    if (colon == std::string::npos)
        return std::nullopt;
    const auto number = process::wholeNumber(std::string_view(text).substr(0, colon));
    if (!number || *number == 0)
        return std::nullopt;
    return std::pair { *number, text.substr(colon + 1) };
}

// What the rehearsal device says back: the handshake it was told to give, its identity, a long
// reply where asked.
class Answerer {
public:
    explicit Answerer(const Options& options)
        : mOptions(options)
    {
    }

    void heard(const std::vector<std::uint8_t>& message, std::chrono::steady_clock::time_point now,
        midi::Input& input)
    {
        const auto& m = message;
        if (m.size() == 6 && m[0] == 0xF0 && m[1] == 0x7E && (m[2] == 0x7F || m[2] == DeviceId)
            && m[3] == 0x06 && m[4] == 0x01 && m[5] == 0xF7) {
            send(input, identity());
            return;
        }
        ++mCount;
        const std::uint8_t packet = static_cast<std::uint8_t>((mCount - 1) & 0x7F);
        if (mCount == mOptions.at) {
            send(input, { 0xF0, 0x7E, DeviceId, mOptions.atKind, packet, 0xF7 });
            if (mOptions.atKind == Wait)
                mAckDue = { now + mOptions.hold, packet };
        } else if (mOptions.ack) {
            send(input, { 0xF0, 0x7E, DeviceId, Ack, packet, 0xF7 });
        }
        if (mCount == mOptions.dumpAfter) {
            std::vector<std::uint8_t> dump(mOptions.dumpBytes);
            for (std::size_t i = 0; i < dump.size(); ++i)
                dump[i] = static_cast<std::uint8_t>(i & 0x7F);
            dump.front() = 0xF0;
            dump[1] = 0x7D;
            dump.back() = 0xF7;
            send(input, dump);
        }
    }

    // The ACK that ends a WAIT, once its time has come.
    void tick(std::chrono::steady_clock::time_point now, midi::Input& input)
    {
        if (mAckDue && now >= mAckDue->first) {
            send(input, { 0xF0, 0x7E, DeviceId, Ack, mAckDue->second, 0xF7 });
            mAckDue.reset();
        }
    }

private:
    static std::vector<std::uint8_t> identity()
    {
        return { 0xF0, 0x7E, DeviceId, 0x06, 0x02, 0x7D, 0x4D, 0x56, 0x01, 0x00, 0x00, 0x00, 0x00,
            0x01, 0xF7 };
    }

    static void send(midi::Input& input, const std::vector<std::uint8_t>& message)
    {
        if (!input.answer(message))
            std::fprintf(stderr, "morvex-monitor: an answer of %zu bytes could not be sent\n",
                message.size());
    }

    const Options& mOptions;
    std::uint32_t mCount = 0; // messages heard, Identity Requests aside
    std::optional<std::pair<std::chrono::steady_clock::time_point, std::uint8_t>> mAckDue;
};

// The whole milliseconds given to option name, unset when it is not given, or why they are not
// whole.
morvex::Result<std::chrono::milliseconds> takeMilliseconds(
    const process::CommandLine& line, std::string_view name, std::chrono::milliseconds unset)
{
    const auto text = line.value(name);
    if (!text)
        return unset;
    const auto milliseconds = process::wholeNumber(*text);
    if (!milliseconds)
        return morvex::Failure {
            std::string(name) + " takes whole milliseconds, not \"" + *text + "\"" };
    return std::chrono::milliseconds(*milliseconds);
}

// Options, or why the command line cannot be taken.
morvex::Result<Options> parse(std::span<const char* const> arguments)
{
    static constexpr process::CommandLine::Option Known[] = {
        { "--name", true },
        { "--client", true },
        { "--service", true },
        { "--syx", true },
        { "--slow", true },
        { "--answers", true },
        { "--ack" },
        { "--at", true },
        { "--hold", true },
        { "--dump", true },
        { "--version" },
    };
    const process::ParsedCommandLine parsed = process::CommandLine::parse(arguments, Known);
    if (!parsed.line || !parsed.line->operands().empty())
        return morvex::Failure {
            parsed.line ? "unexpected \"" + parsed.line->operands().front() + "\"" : parsed.error };
    Options options;
    for (const auto& [name, field] : { std::pair { "--name", &options.name },
             { "--client", &options.client }, { "--service", &options.service },
             { "--syx", &options.syx }, { "--answers", &options.answers } })
        *field = parsed.line->value(name).value_or(*field);
    options.version = parsed.line->has("--version");
    options.ack = parsed.line->has("--ack");
    if (const auto at = parsed.line->value("--at")) {
        const auto kind = numbered(*at);
        static const std::pair<const char*, std::uint8_t> Kinds[]
            = { { "nak", Nak }, { "cancel", Cancel }, { "wait", Wait } };
        const auto* found = kind ? std::ranges::find_if(Kinds,
                                [&](const auto& known) { return kind->second == known.first; })
                                 : std::end(Kinds);
        if (found == std::end(Kinds))
            return morvex::Failure { "--at takes N:nak, N:cancel or N:wait, not \"" + *at + "\"" };
        options.at = kind->first;
        options.atKind = found->second;
    }
    const auto hold = takeMilliseconds(*parsed.line, "--hold", options.hold);
    const auto slow = takeMilliseconds(*parsed.line, "--slow", options.slow);
    if (!hold || !slow)
        return morvex::Failure { (hold ? slow : hold).reason() };
    options.hold = hold.value();
    options.slow = slow.value();
    if (const auto dump = parsed.line->value("--dump")) {
        const auto size = numbered(*dump);
        const auto bytes = size ? process::wholeNumber(size->second) : std::nullopt;
        if (!bytes || *bytes < 3 || *bytes > 512 * 1024)
            return morvex::Failure {
                "--dump takes N:BYTES, BYTES from 3 to 524288, not \"" + *dump + "\"" };
        options.dumpAfter = size->first;
        options.dumpBytes = *bytes;
    }
    if (options.answers.empty() && (options.ack || options.at || options.dumpAfter))
        return morvex::Failure { "--ack, --at and --dump answer through the port --answers names" };
    return options;
}

// The input on the first service that opens one, or why the last one tried could not.
morvex::Result<std::unique_ptr<midi::Input>> open(const Options& options)
{
    const midi::ServiceChoice choice = midi::chooseServices(options.service);
    std::string error = choice.error;
    for (const midi::Service service : choice.order) {
        if (service == midi::Service::Jack && options.slow.count() > 0) {
            error = "--slow takes its time over the ALSA sequencer's events; JACK has none.";
            continue;
        }
        if (service == midi::Service::Alsa) {
            auto input = monitor::openAlsaInput(
                options.client, options.name, { options.slow, !options.answers.empty() });
            if (input)
                return input.take();
            error = input.reason();
            continue;
        }
        auto input = midi::jack::openInput(options.client, options.name, options.answers);
        if (input)
            return input.take();
        error = input.reason();
    }
    return morvex::Failure { error };
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
    auto parsed = parse(arguments);
    if (!parsed) {
        std::fprintf(stderr, "morvex-monitor: %s\n\n%s", parsed.reason().c_str(), Usage);
        return EXIT_FAILURE;
    }
    const Options options = parsed.take();
    if (options.version) {
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
    if (!options.syx.empty()) {
        syx.open(options.syx, std::ios::binary);
        if (!syx) {
            std::fprintf(stderr, "morvex-monitor: cannot write %s\n", options.syx.c_str());
            return EXIT_FAILURE;
        }
    }
    auto opened = open(options);
    if (!opened) {
        std::fprintf(stderr, "morvex-monitor: %s\n", opened.reason().c_str());
        return EXIT_FAILURE;
    }
    const auto input = opened.take();
    std::fprintf(stderr, "morvex-monitor: listening on %s\n", input->portName().c_str());

    std::optional<std::uint64_t> first;
    std::uint64_t lostReported = 0;
    std::vector<midi::Received> messages;
    Answerer answerer(options);
    const auto report = [&] {
        input->take(messages);
        const auto now = std::chrono::steady_clock::now();
        for (const auto& message : messages) {
            if (!options.answers.empty())
                answerer.heard(message.bytes, now, *input);
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
        answerer.tick(std::chrono::steady_clock::now(), *input);
    }
    // What arrived since the last poll is reported too, so that nothing received goes unsaid.
    report();
    if (syx.is_open() && !syx.flush()) {
        std::fprintf(stderr, "morvex-monitor: cannot write %s\n", options.syx.c_str());
        return EXIT_FAILURE;
    }
    return EXIT_SUCCESS;
}
