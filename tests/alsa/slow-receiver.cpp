// slow-receiver: an ALSA sequencer client that spends a fixed time on every event it reads, as a
// slow software synthesizer does; for measuring how fast a sender may go to a software port.
//
//   slow-receiver [--per-event MS] [--quiet SECONDS] [--out FILE]
//
// Makes the port "Slow Receiver: Input", prints "ready CLIENT:PORT", then reads events until
// none came for SECONDS (default 3), appending the bytes of every SysEx event to FILE. Ends with
// a line "events E, sysex bytes B, overruns O". An overrun is the kernel telling it that its
// input queue overflowed and was cleared: what was in it is lost. Exit status 1 after an
// overrun, 2 when the sequencer fails or on bad usage.

#include <alsa/asoundlib.h>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <optional>
#include <poll.h>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace {

struct Options {
    std::chrono::milliseconds perEvent { 5 };
    int quietMilliseconds = 3000;
    std::string out;
};

std::optional<int> number(std::string_view text)
{
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < 0)
        return std::nullopt;
    return value;
}

std::optional<Options> parse(int argc, char** argv)
{
    Options options;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string_view name = argv[i];
        const std::string_view value = argv[i + 1];
        if (name == "--out") {
            options.out = value;
            continue;
        }
        const auto given = number(value);
        if (!given)
            return std::nullopt;
        if (name == "--per-event")
            options.perEvent = std::chrono::milliseconds(*given);
        else if (name == "--quiet")
            options.quietMilliseconds = *given * 1000;
        else
            return std::nullopt;
    }
    if (argc % 2 == 0)
        return std::nullopt;
    return options;
}

int fail(const char* what, int error)
{
    std::fprintf(stderr, "slow-receiver: %s: %s\n", what, snd_strerror(error));
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    const auto options = parse(argc, argv);
    if (!options) {
        std::fputs(
            "Usage: slow-receiver [--per-event MS] [--quiet SECONDS] [--out FILE]\n", stderr);
        return 2;
    }
    std::ofstream out;
    if (!options->out.empty()) {
        out.open(options->out, std::ios::binary);
        if (!out) {
            std::fprintf(stderr, "slow-receiver: cannot write %s\n", options->out.c_str());
            return 2;
        }
    }

    snd_seq_t* handle = nullptr;
    // Non-blocking: after an overrun the queue is empty, and a blocking read would wait for the
    // next event instead of reporting the loss.
    if (const int error = snd_seq_open(&handle, "default", SND_SEQ_OPEN_INPUT, SND_SEQ_NONBLOCK);
        error < 0)
        return fail("cannot open the ALSA sequencer", error);
    const std::unique_ptr<snd_seq_t, int (*)(snd_seq_t*)> sequencer(handle, snd_seq_close);
    if (const int error = snd_seq_set_client_name(handle, "Slow Receiver"); error < 0)
        return fail("cannot name the client", error);
    const int port = snd_seq_create_simple_port(handle, "Input",
        SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE,
        SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
    if (port < 0)
        return fail("cannot create the port", port);
    std::printf("ready %d:%d\n", snd_seq_client_id(handle), port);
    std::fflush(stdout);

    std::vector<pollfd> descriptors(
        static_cast<std::size_t>(snd_seq_poll_descriptors_count(handle, POLLIN)));
    snd_seq_poll_descriptors(
        handle, descriptors.data(), static_cast<unsigned>(descriptors.size()), POLLIN);

    long events = 0;
    long sysexBytes = 0;
    long overruns = 0;
    while (true) {
        // Fetching from the kernel is where an overrun shows: once, as -ENOSPC.
        const int pending = snd_seq_event_input_pending(handle, 1);
        if (pending == -ENOSPC) {
            ++overruns;
            continue;
        }
        if (pending < 0 && pending != -EAGAIN)
            return fail("cannot read events", pending);
        if (pending <= 0) {
            const int ready
                = poll(descriptors.data(), descriptors.size(), options->quietMilliseconds);
            if (ready == 0)
                break;
            if (ready < 0 && errno != EINTR)
                return fail("cannot wait for events", -errno);
            continue;
        }
        snd_seq_event_t* event = nullptr;
        const int result = snd_seq_event_input(handle, &event);
        if (result == -ENOSPC) {
            ++overruns;
            continue;
        }
        if (result == -EAGAIN)
            continue;
        if (result < 0)
            return fail("cannot read an event", result);
        ++events;
        if (event->type == SND_SEQ_EVENT_SYSEX) {
            sysexBytes += event->data.ext.len;
            if (out)
                out.write(static_cast<const char*>(event->data.ext.ptr),
                    static_cast<std::streamsize>(event->data.ext.len));
        }
        std::this_thread::sleep_for(options->perEvent);
    }
    std::printf("events %ld, sysex bytes %ld, overruns %ld\n", events, sysexBytes, overruns);
    return overruns > 0 ? 1 : 0;
}
