#include "JackInput.h"

#include "JackCommon.h"

#include <atomic>
#include <jack/metadata.h>
#include <jack/midiport.h>

namespace midi::jack {

namespace {

// Room for several seconds of the fastest sending, so the reading thread may be slow.
constexpr std::size_t RingBytes = 8 * 1024 * 1024;

struct Header {
    std::uint64_t microseconds;
    std::uint32_t size;
};

// What the process callback shares with the reading thread; it outlives the client handle.
struct Inbox {
    RingHandle ring { jack_ringbuffer_create(RingBytes) };
    std::atomic<jack_port_t*> port { nullptr };
    std::atomic<std::uint64_t> lost { 0 };

    static int process(jack_nframes_t frames, void* self) noexcept
    {
        auto& inbox = *static_cast<Inbox*>(self);
        jack_port_t* port = inbox.port.load();
        if (!port)
            return 0;
        void* buffer = jack_port_get_buffer(port, frames);
        const jack_time_t now = jack_get_time();
        const std::uint32_t count = jack_midi_get_event_count(buffer);
        for (std::uint32_t i = 0; i < count; ++i) {
            jack_midi_event_t event;
            if (jack_midi_event_get(&event, buffer, i) != 0)
                continue;
            const Header header { now, static_cast<std::uint32_t>(event.size) };
            if (jack_ringbuffer_write_space(inbox.ring.get()) < sizeof header + event.size) {
                inbox.lost.fetch_add(1);
                continue;
            }
            jack_ringbuffer_write(
                inbox.ring.get(), reinterpret_cast<const char*>(&header), sizeof header);
            jack_ringbuffer_write(
                inbox.ring.get(), reinterpret_cast<const char*>(event.buffer), event.size);
        }
        return 0;
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

    // jack2 keeps metadata in one store for all servers and does not drop a port's when the
    // port goes, so a later port with the same id would inherit this name.
    ~JackInput() override
    {
        if (mNamed)
            jack_remove_property(
                mClient.get(), jack_port_uuid(mInbox->port.load()), JACK_METADATA_PRETTY_NAME);
    }

    void setPrettyName(const std::string& name, std::string& error)
    {
        mNamed = jack_set_property(mClient.get(), jack_port_uuid(mInbox->port.load()),
                     JACK_METADATA_PRETTY_NAME, name.c_str(), "text/plain")
            == 0;
        if (!mNamed)
            error = "Cannot name the JACK input port \"" + name + "\".";
    }

    std::string portName() const override { return mPortName; }
    std::uint64_t lost() const override { return mInbox->lost.load(); }

    void take(std::vector<Received>& out) override
    {
        jack_ringbuffer_t* ring = mInbox->ring.get();
        Header header;
        while (jack_ringbuffer_read_space(ring) >= sizeof header) {
            jack_ringbuffer_peek(ring, reinterpret_cast<char*>(&header), sizeof header);
            if (jack_ringbuffer_read_space(ring) < sizeof header + header.size)
                return; // the callback is still writing it
            jack_ringbuffer_read_advance(ring, sizeof header);
            Received message { header.microseconds, std::vector<std::uint8_t>(header.size) };
            jack_ringbuffer_read(ring, reinterpret_cast<char*>(message.bytes.data()), header.size);
            out.push_back(std::move(message));
        }
    }

private:
    std::unique_ptr<Inbox> mInbox; // declared first, so the client closes before it goes
    ClientHandle mClient;
    std::string mPortName;
    bool mNamed = false;
};

} // namespace

std::unique_ptr<Input> openInput(const std::string& clientName, const std::string& portName,
    const std::string& prettyName, std::string& error)
{
    auto inbox = std::make_unique<Inbox>();
    auto client = openClient(clientName, error);
    if (!client)
        return nullptr;
    jack_port_t* port = jack_port_register(
        client.get(), portName.c_str(), JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
    if (!port || !inbox->ring) {
        error = "Cannot create the JACK input port \"" + portName + "\".";
        return nullptr;
    }
    inbox->port.store(port);
    if (jack_set_process_callback(client.get(), Inbox::process, inbox.get()) != 0
        || jack_activate(client.get()) != 0) {
        error = "Cannot start the JACK client \"" + clientName + "\".";
        return nullptr;
    }
    const Inbox& callbackArgument = *inbox;
    auto input = std::make_unique<JackInput>(
        std::move(inbox), std::move(client), jack_port_name(callbackArgument.port.load()));
    if (!prettyName.empty())
        input->setPrettyName(prettyName, error);
    if (!error.empty())
        return nullptr;
    return input;
}

} // namespace midi::jack
