// JACK output: the transfer thread queues one message at a time into a ring that the process
// callback empties into the port's buffer, then waits for the cycle that wrote it. JACK never
// splits an event and never acknowledges one, so a message is refused when it cannot fit a
// cycle's buffer, and made uncertain when the server missed a deadline around it.

#include "Jack.h"

#include "JackCommon.h"
#include "SpscRing.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <jack/metadata.h>
#include <jack/midiport.h>
#include <optional>
#include <semaphore.h>
#include <thread>
#include <vector>

namespace midi::jack {

namespace {

// A wait that JACK's threads can end: sem_post is safe in the process callback and even in a
// signal handler, which is how JACK may call the shutdown callback.
class Wakeup {
public:
    Wakeup() { sem_init(&mSemaphore, 0, 0); }
    ~Wakeup() { sem_destroy(&mSemaphore); }
    Wakeup(const Wakeup&) = delete;
    Wakeup& operator=(const Wakeup&) = delete;

    void post() { sem_post(&mSemaphore); }

    // False when deadline passed first.
    bool waitUntil(std::chrono::steady_clock::time_point deadline)
    {
        const auto since = deadline.time_since_epoch();
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(since);
        const timespec until { static_cast<time_t>(seconds.count()),
            static_cast<long>(std::chrono::nanoseconds(since - seconds).count()) };
        // steady_clock is CLOCK_MONOTONIC with libstdc++.
        while (sem_clockwait(&mSemaphore, CLOCK_MONOTONIC, &until) != 0)
            if (errno != EINTR)
                return false;
        return true;
    }

private:
    sem_t mSemaphore;
};

enum class Outcome : int { Written, NotConnected, TooLarge };

// Ahead of each message in the ring.
struct Header {
    std::uint64_t id;
    std::uint32_t size;
};

// A cycle normally comes every few milliseconds; a server that runs none for this long has
// stopped.
constexpr auto StallLimit = std::chrono::seconds(2);
// The most a message may be: jack2 gives a port 32 KiB whatever the period.
constexpr std::size_t RingBytes = 64 * 1024;

// What the sending thread and JACK's threads share. It outlives the client handle, so no
// callback can run once it is gone.
struct Shared {
    SpscRing ring { RingBytes };
    std::atomic<jack_port_t*> port { nullptr };
    std::atomic<bool> inProcess { false };
    std::atomic<std::uint64_t> cycles { 0 };
    std::atomic<std::uint64_t> xruns { 0 };
    std::atomic<bool> shutDown { false };
    std::atomic<bool> waiting { false };
    std::atomic<std::uint32_t> maxEventSize { 0 };
    std::atomic<std::uint64_t> doneId { 0 };
    std::atomic<Outcome> doneOutcome { Outcome::Written };
    std::atomic<std::uint64_t> doneCycle { 0 };
    Wakeup wakeup;

    // The process thread: one message per cycle at most, so the sender can tell which cycle
    // carried it. No lock, no allocation.
    void serve(jack_port_t* output, jack_nframes_t frames) noexcept
    {
        void* buffer = jack_port_get_buffer(output, frames);
        bufferTaken(buffer);
        fill(output, buffer);
        bufferDone(buffer);
    }

    void fill(jack_port_t* output, void* buffer) noexcept
    {
        jack_midi_clear_buffer(buffer);
        if (maxEventSize.load() == 0)
            maxEventSize.store(static_cast<std::uint32_t>(jack_midi_max_event_size(buffer)));
        Header header;
        if (ring.readable() < sizeof header)
            return;
        ring.peek(std::as_writable_bytes(std::span(&header, 1)));
        Outcome outcome = Outcome::NotConnected;
        if (jack_port_connected(output) > 0) {
            outcome = Outcome::TooLarge;
            if (auto* event = jack_midi_event_reserve(buffer, 0, header.size)) {
                ring.peek(std::as_writable_bytes(std::span(event, header.size)), sizeof header);
                outcome = Outcome::Written;
            }
        }
        ring.consume(sizeof header + header.size);
        doneOutcome.store(outcome);
        doneCycle.store(cycles.load());
        doneId.store(header.id);
    }

    static int process(jack_nframes_t frames, void* self) noexcept
    {
        auto& shared = *static_cast<Shared*>(self);
        shared.inProcess.store(true);
        if (jack_port_t* output = shared.port.load())
            shared.serve(output, frames);
        shared.inProcess.store(false);
        shared.cycles.fetch_add(1);
        if (shared.waiting.load())
            shared.wakeup.post();
        return 0;
    }

    static int xrun(void* self) noexcept
    {
        static_cast<Shared*>(self)->xruns.fetch_add(1);
        return 0;
    }

    static void shutdown(jack_status_t, const char*, void* self) noexcept
    {
        auto& shared = *static_cast<Shared*>(self);
        shared.shutDown.store(true);
        shared.wakeup.post();
    }

    // Waits on the sending thread until done holds; false when the server stopped or stalled.
    template <typename Done> bool waitFor(Done done)
    {
        waiting.store(true);
        const auto deadline = std::chrono::steady_clock::now() + StallLimit;
        bool result = true;
        while (!done()) {
            if (shutDown.load() || !wakeup.waitUntil(deadline)) {
                result = done();
                break;
            }
        }
        waiting.store(false);
        return result;
    }
};

struct Target {
    Destination destination;
    std::string portName; // the full "client:port" name JACK connects by
};

std::string nameOf(jack_port_t* port)
{
    char* type = nullptr;
    char* value = nullptr;
    if (jack_get_property(jack_port_uuid(port), JACK_METADATA_PRETTY_NAME, &value, &type) == 0) {
        takeString(type);
        if (auto pretty = takeString(value); !pretty.empty())
            return pretty;
    }
    std::vector<char> first(static_cast<std::size_t>(jack_port_name_size()));
    std::vector<char> second(first.size());
    char* aliases[] = { first.data(), second.data() };
    if (jack_port_get_aliases(port, aliases) > 0 && first[0] != '\0')
        return first.data();
    return jack_port_name(port);
}

std::vector<Target> listTargets(jack_client_t* client)
{
    std::vector<Target> targets;
    std::vector<bool> physical;
    const char** names = jack_get_ports(client, nullptr, JACK_DEFAULT_MIDI_TYPE, JackPortIsInput);
    for (const char** name = names; name && *name; ++name) {
        jack_port_t* port = jack_port_by_name(client, *name);
        if (!port || jack_port_is_mine(client, port))
            continue;
        targets.push_back({ { nameOf(port) }, *name });
        physical.push_back((jack_port_flags(port) & JackPortIsPhysical) != 0);
    }
    jack_free(names);
    // Devices before programs, each group in the server's order.
    std::vector<Target> ordered;
    for (const bool wanted : { true, false })
        for (std::size_t i = 0; i < targets.size(); ++i)
            if (physical[i] == wanted)
                ordered.push_back(std::move(targets[i]));
    return ordered;
}

SendResult failed(SendError error, std::uint32_t sent, std::string reason)
{
    return { error, sent, std::move(reason) };
}

class JackOutputPort final : public OutputPort {
public:
    JackOutputPort(jack_client_t* client, Shared& shared, jack_port_t* port,
        const std::vector<Target>& targets)
        : mClient(client)
        , mShared(shared)
        , mPort(port)
        , mTargets(targets)
    {
    }

    ~JackOutputPort() override
    {
        // The process callback must be done with the port before JACK forgets it.
        mShared.port.store(nullptr);
        while (mShared.inProcess.load())
            std::this_thread::yield();
        jack_port_unregister(mClient, mPort);
    }

    SendResult send(
        std::size_t index, std::span<const std::uint8_t> message, timing::Clock&) override
    {
        if (index >= mTargets.size())
            return failed(SendError::NoSuchDestination, 0,
                "There is no MIDI destination number " + std::to_string(index + 1) + ".");
        if (mStopped)
            return *mStopped;
        if (message.empty())
            return {};
        const auto size = static_cast<std::uint32_t>(message.size());
        const std::uint32_t limit
            = std::min<std::uint32_t>(mShared.maxEventSize.load(), RingBytes - sizeof(Header));
        if (message.size() > limit)
            return failed(SendError::TooLarge, 0,
                "The message of " + std::to_string(message.size())
                    + " bytes is larger than JACK carries whole (" + std::to_string(limit)
                    + " bytes).");
        const Target& target = mTargets[index];
        if (auto connected = connect(target); !connected.ok())
            return connected;

        const std::uint64_t xrunsBefore = mShared.xruns.load();
        const Header header { ++mLastId, size };
        // Always fits: one message at a time, and none larger than the ring.
        (void)mShared.ring.write({ std::as_bytes(std::span(&header, 1)), std::as_bytes(message) });
        if (!mShared.waitFor([&] { return mShared.doneId.load() == header.id; }))
            return stopped(0);
        switch (mShared.doneOutcome.load()) {
        case Outcome::NotConnected:
            if (!jack_port_by_name(mClient, target.portName.c_str()))
                return failed(SendError::DestinationGone, 0,
                    "\"" + target.destination.name
                        + "\" was closed before the message reached it.");
            return failed(SendError::NotConnected, 0,
                "The connection to \"" + target.destination.name + "\" was lost.");
        case Outcome::TooLarge:
            return failed(SendError::TooLarge, 0,
                "The message of " + std::to_string(size)
                    + " bytes did not fit JACK's buffer for one cycle.");
        case Outcome::Written:
            break;
        }
        // JACK reports a missed deadline late, if at all: two more cycles catch most of them.
        const std::uint64_t written = mShared.doneCycle.load();
        if (!mShared.waitFor([&] { return mShared.cycles.load() >= written + 3; }))
            return stopped(size);
        if (mShared.xruns.load() != xrunsBefore)
            return failed(SendError::Uncertain, size,
                "The JACK server missed a deadline while sending to \"" + target.destination.name
                    + "\": the message may not have arrived whole.");
        return {};
    }

private:
    SendResult connect(const Target& target)
    {
        if (jack_port_connected_to(mPort, target.portName.c_str())
            && jack_port_connected(mPort) == 1)
            return {};
        jack_port_disconnect(mClient, mPort); // only the chosen destination may hear us
        if (!jack_port_by_name(mClient, target.portName.c_str()))
            return failed(SendError::DestinationGone, 0,
                "\"" + target.destination.name
                    + "\" is no longer there: it was closed or unplugged.");
        const int error = jack_connect(mClient, jack_port_name(mPort), target.portName.c_str());
        if (error != 0 && error != EEXIST)
            return failed(SendError::NotConnected, 0,
                "JACK refused to connect to \"" + target.destination.name + "\".");
        if (!mShared.waitFor([&] { return jack_port_connected(mPort) > 0; }))
            return mShared.shutDown.load()
                ? stopped(0)
                : failed(SendError::NotConnected, 0,
                    "The connection to \"" + target.destination.name + "\" did not take effect.");
        return {};
    }

    // The server went away or ran no cycle: nothing more will go out through this port.
    SendResult stopped(std::uint32_t sent)
    {
        mStopped = failed(SendError::ServiceStopped, 0,
            mShared.shutDown.load() ? "The JACK server stopped."
                                    : "The JACK server stopped running its cycles.");
        auto result = *mStopped;
        result.bytesSent = sent;
        if (sent > 0)
            result.reason += " The last message may not have arrived.";
        return result;
    }

    jack_client_t* mClient;
    Shared& mShared;
    jack_port_t* mPort;
    const std::vector<Target>& mTargets;
    std::uint64_t mLastId = 0;
    std::optional<SendResult> mStopped;
};

class JackClient final : public Client {
public:
    JackClient(std::unique_ptr<Shared> shared, ClientHandle client)
        : mShared(std::move(shared))
        , mClient(std::move(client))
        , mTargets(listTargets(mClient.get()))
    {
        for (const auto& target : mTargets)
            mDestinations.push_back(target.destination);
    }

    std::string serviceName() const override { return "JACK"; }
    std::string problem() const override { return {}; }
    const std::vector<Destination>& destinations() const override { return mDestinations; }

    PortResult createOutputPort(const std::string& name) override
    {
        if (mShared->port.load())
            return { nullptr, "This JACK client already has an output port." };
        jack_port_t* port = jack_port_register(
            mClient.get(), name.c_str(), JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
        if (!port)
            return { nullptr, "Cannot create the JACK port \"" + name + "\"." };
        auto result = std::make_unique<JackOutputPort>(mClient.get(), *mShared, port, mTargets);
        mShared->port.store(port);
        // The largest event is a property of a port's buffer, read in its first cycle.
        if (!mShared->waitFor([&] { return mShared->maxEventSize.load() > 0; }))
            return { nullptr, "The JACK server ran no cycle for the port \"" + name + "\"." };
        return { std::move(result), {} };
    }

private:
    std::unique_ptr<Shared> mShared; // declared first, so the client closes before it goes
    ClientHandle mClient;
    std::vector<Target> mTargets;
    std::vector<Destination> mDestinations;
};

} // namespace

std::unique_ptr<Client> openOutputClient(const std::string& name, std::string& error)
{
    auto shared = std::make_unique<Shared>(); // first, so that it outlives the handle
    auto client = openClient(name, error);
    if (!client)
        return nullptr;
    jack_client_t* handle = client.get();
    if (jack_set_process_callback(handle, Shared::process, shared.get()) != 0
        || jack_set_xrun_callback(handle, Shared::xrun, shared.get()) != 0) {
        error = "Cannot set up the JACK client \"" + name + "\".";
        return nullptr;
    }
    jack_on_info_shutdown(handle, Shared::shutdown, shared.get());
    if (jack_activate(handle) != 0) {
        error = "Cannot activate the JACK client \"" + name + "\".";
        return nullptr;
    }
    return std::make_unique<JackClient>(std::move(shared), std::move(client));
}

} // namespace midi::jack
