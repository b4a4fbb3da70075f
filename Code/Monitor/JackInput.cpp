#include "Monitor/JackInput.h"

#include "MIDI/JackCommon.h"
#include "MIDI/SpscRing.h"

#include <algorithm>
#include <atomic>
#include <jack/midiport.h>

namespace midi::jack {

namespace {

// Room for several seconds of the fastest sending, so the reading thread may be slow.
constexpr std::size_t RingBytes = std::size_t { 8 } * 1024 * 1024;
// Answers wait here for the process thread; a few large replies fit.
constexpr std::size_t AnswerRingBytes = std::size_t { 1 } * 1024 * 1024;
// An answer goes out in events of at most this size, as a device's MIDI interface cuts a long
// SysEx, so that the receiving side has to join it.
constexpr std::size_t AnswerPiece = 512;

struct Header {
    std::uint64_t microseconds;
    std::uint32_t frame;
    std::uint32_t size;
};

// What the process callback shares with the reading thread; it outlives the client handle.
struct Inbox {
    SpscRing ring { RingBytes };
    std::atomic<jack_client_t*> client { nullptr };
    std::atomic<jack_port_t*> port { nullptr };
    std::atomic<std::uint64_t> lost { 0 };
    // Answers, each a size and its bytes, and how far the process thread is into the first.
    SpscRing answers { AnswerRingBytes };
    std::atomic<jack_port_t*> answerPort { nullptr };
    std::uint32_t answerOffset = 0; // the process thread's only

    static int process(jack_nframes_t frames, void* self) noexcept
    {
        auto& inbox = *static_cast<Inbox*>(self);
        inbox.writeAnswers(frames);
        jack_port_t* port = inbox.port.load();
        jack_client_t* client = inbox.client.load();
        if (!port || !client)
            return 0;
        void* buffer = jack_port_get_buffer(port, frames);
        bufferTaken(buffer);
        const jack_time_t now = jack_get_time();
        // Each event's own frame, so that gaps between arrivals are exact whatever the period.
        const jack_nframes_t cycleStart = jack_last_frame_time(client);
        const std::uint32_t count = jack_midi_get_event_count(buffer);
        for (std::uint32_t i = 0; i < count; ++i) {
            jack_midi_event_t event;
            if (jack_midi_event_get(&event, buffer, i) != 0)
                continue;
            const Header header { now, cycleStart + event.time,
                static_cast<std::uint32_t>(event.size) };
            const std::span bytes(event.buffer, event.size);
            if (!inbox.ring.write({ std::as_bytes(std::span(&header, 1)), std::as_bytes(bytes) }))
                inbox.lost.fetch_add(1);
        }
        bufferDone(buffer);
        return 0;
    }

    // As many pieces of the waiting answers as this cycle's buffer takes; the rest next cycle.
    void writeAnswers(jack_nframes_t frames) noexcept
    {
        jack_port_t* port = answerPort.load();
        if (!port)
            return;
        void* buffer = jack_port_get_buffer(port, frames);
        bufferTaken(buffer);
        jack_midi_clear_buffer(buffer);
        std::uint32_t size = 0;
        while (answers.readable() >= sizeof size) {
            answers.peek(std::as_writable_bytes(std::span(&size, 1)));
            const std::size_t piece = std::min<std::size_t>(AnswerPiece, size - answerOffset);
            jack_midi_data_t* into = jack_midi_event_reserve(buffer, 0, piece);
            if (!into)
                break;
            answers.peek(
                std::as_writable_bytes(std::span(into, piece)), sizeof size + answerOffset);
            answerOffset += static_cast<std::uint32_t>(piece);
            if (answerOffset == size) {
                answers.consume(sizeof size + size);
                answerOffset = 0;
            }
        }
        bufferDone(buffer);
    }
};

class JackInput final : public Input {
public:
    JackInput(std::unique_ptr<Inbox> inbox, ClientHandle client, std::string portName)
        : mInbox(std::move(inbox))
        , mClient(std::move(client))
        , mPortName(std::move(portName))
    {
    }

    std::string portName() const override { return mPortName; }
    std::uint64_t lost() const override { return mInbox->lost.load(); }

    bool answer(std::span<const std::uint8_t> message) override
    {
        if (!mInbox->answerPort.load() || message.empty())
            return false;
        const auto size = static_cast<std::uint32_t>(message.size());
        return mInbox->answers.write(
            { std::as_bytes(std::span(&size, 1)), std::as_bytes(message) });
    }

    void take(std::vector<Received>& out) override
    {
        SpscRing& ring = mInbox->ring;
        Header header;
        while (ring.readable() >= sizeof header) {
            ring.peek(std::as_writable_bytes(std::span(&header, 1)));
            Received message { header.microseconds, std::vector<std::uint8_t>(header.size),
                header.frame };
            ring.peek(std::as_writable_bytes(std::span(message.bytes)), sizeof header);
            ring.consume(sizeof header + header.size);
            out.push_back(std::move(message));
        }
    }

private:
    std::unique_ptr<Inbox> mInbox; // declared first, so the client closes before it goes
    ClientHandle mClient;
    std::string mPortName;
};

} // namespace

morvex::Result<std::unique_ptr<Input>> openInput(
    const std::string& clientName, const std::string& portName, const std::string& answerName)
{
    auto inbox = std::make_unique<Inbox>();
    auto opened = openClient(clientName);
    if (!opened)
        return morvex::Failure { opened.reason() };
    ClientHandle client = opened.take();
    jack_port_t* port = jack_port_register(
        client.get(), portName.c_str(), JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
    if (!port)
        return morvex::Failure { "Cannot create the JACK input port \"" + portName + "\"." };
    if (!answerName.empty()) {
        jack_port_t* answers = jack_port_register(
            client.get(), answerName.c_str(), JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
        if (!answers)
            return morvex::Failure { "Cannot create the JACK output port \"" + answerName + "\"." };
        inbox->answerPort.store(answers);
    }
    inbox->client.store(client.get());
    inbox->port.store(port);
    if (jack_set_process_callback(client.get(), Inbox::process, inbox.get()) != 0
        || jack_activate(client.get()) != 0)
        return morvex::Failure { "Cannot start the JACK client \"" + clientName + "\"." };
    std::string name = jack_port_name(port);
    return std::unique_ptr<Input>(
        std::make_unique<JackInput>(std::move(inbox), std::move(client), std::move(name)));
}

} // namespace midi::jack
