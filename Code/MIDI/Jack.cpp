// JACK output: the client, the destinations it lists and the port that sends to them. The port
// queues each message with the frame it belongs at and returns; the process thread (JackOutbox)
// writes it in that frame's cycle and keeps count of what became of it, which settle() reports.
// JACK never splits an event and never acknowledges one: a message that cannot fit a cycle's
// buffer is refused at once, and one whose cycle was disturbed is reported as uncertain.

#include "Jack.h"

#include "JackCommon.h"
#include "JackOutbox.h"
#include "MIDI/JackPairing.h"
#include "MIDI/Rejoiner.h"
#include "Monitor/JackInput.h"
#include "ServiceThread.h"
#include "Text/Printable.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <dlfcn.h>
#include <functional>
#include <mutex>
#include <optional>
#include <string_view>
#include <thread>
#include <unistd.h>
#include <vector>

namespace midi::jack {

namespace {

// A cycle normally comes every few milliseconds; a server that runs none for this long has
// stopped.
constexpr auto StallLimit = std::chrono::seconds(2);

// A message is placed one period and a margin after the instant it was due: the cycle under way
// at its send may have been served already, the sending thread may wake late, and a cycle may
// begin earlier than the server's clock foretold, by as much as the server thread's wake-ups
// wander on a busy machine. The margin is one more period, and never less than this.
constexpr double Seconds_MinimumMargin = 0.002;

jack_nframes_t latency(jack_client_t* client)
{
    const jack_nframes_t period = jack_get_buffer_size(client);
    return period
        + std::max(period,
            static_cast<jack_nframes_t>(
                std::ceil(Seconds_MinimumMargin * jack_get_sample_rate(client))));
}

class ServerClock final : public FrameClock {
public:
    jack_nframes_t frameOf(jack_client_t* client, timing::Clock::TimePoint due,
        std::optional<timing::Clock::TimePoint> settled) override
    {
        const double rate = jack_get_sample_rate(client);
        const auto framesIn = [rate](std::chrono::duration<double> span) {
            return static_cast<jack_nframes_t>(std::llround(span.count() * rate));
        };
        // The server's estimate of now, less how long ago due was. The first message of a run
        // that is more than a second late goes out at once either way: the bound keeps one due
        // long ago from taking the frame counter round.
        const std::chrono::duration<double> ago = std::chrono::steady_clock::now() - due;
        jack_nframes_t estimated = estimate(client, jack_get_time())
            - framesIn(settled ? std::chrono::duration<double>(std::clamp(ago.count(), -1.0, 1.0))
                               : ago);
        if (!settled && mAnchor) {
            const jack_nframes_t scheduled = mAnchor->frame + framesIn(due - mAnchor->due);
            if (framesFrom(scheduled, estimated) <= static_cast<std::int32_t>(latency(client)))
                return remember(due, scheduled);
        }
        // A run's first message never follows the last of the run before sooner than it was due
        // after the settle between them. The settle's own wait for the server is not counted, so
        // that a lagging server's lag does not add up from one run to the next.
        if (settled && mLast) {
            const auto from = std::max(mLast->due, *settled);
            const jack_nframes_t least
                = mLast->frame + framesIn(std::max(due - from, timing::Clock::TimePoint::duration {}));
            if (framesFrom(least, estimated) < 0)
                estimated = least;
        }
        mAnchor = Mark { due, estimated };
        return remember(due, estimated);
    }

private:
    static jack_nframes_t estimate(jack_client_t* client, jack_time_t now)
    {
        jack_nframes_t frames = 0;
        jack_time_t current = 0;
        jack_time_t next = 0;
        float periodUsecs = 0.0f;
        if (jack_get_cycle_times(client, &frames, &current, &next, &periodUsecs) != 0)
            return jack_frame_time(client);
        const jack_nframes_t period = jack_get_buffer_size(client);
        const double nominal = 1e6 * period / jack_get_sample_rate(client);
        const auto span = static_cast<double>(static_cast<std::int64_t>(next - current));
        // After a late cycle jack2 restarts its clock at the moment it noticed and keeps the old
        // forecast of the next cycle until that cycle begins: the forecast may then lie in the
        // past, and jack_frame_time() runs far ahead. The next cycle begins at once.
        if (span < nominal / 2 || span > nominal * 2)
            return frames + period;
        const auto since = static_cast<double>(static_cast<std::int64_t>(now - current));
        return frames + static_cast<jack_nframes_t>(std::lround(since / span * period));
    }

    struct Mark {
        timing::Clock::TimePoint due;
        jack_nframes_t frame;
    };

    jack_nframes_t remember(timing::Clock::TimePoint due, jack_nframes_t frame)
    {
        mLast = Mark { due, frame };
        return frame;
    }

    std::optional<Mark> mAnchor; // the first send of the run, or where the schedule last moved on
    std::optional<Mark> mLast; // the last send
};

struct DestinationPort {
    Destination destination;
    std::string portName; // the full "client:port" name JACK connects by
    std::string wayBack; // the port the device answers by; empty when none is certain
};

// JACK's own "client:port" name, which no other port on the server can have. A device port (one
// of the server's physical ports) is known by its first alias, where the backend gave it one:
// jack2's ALSA backends put the card's name there. Pretty names from JACK's metadata are not
// used: jack2 keeps them after their port has gone, and a later port with the same id would show
// another's name.
PortFacts factsOf(jack_port_t* port)
{
    PortFacts facts { jack_port_name(port), {}, (jack_port_flags(port) & JackPortIsPhysical) != 0 };
    std::vector<char> first(static_cast<std::size_t>(jack_port_name_size()));
    std::vector<char> second(first.size());
    char* aliases[] = { first.data(), second.data() };
    const int count = jack_port_get_aliases(port, aliases);
    for (int i = 0; i < count && i < 2; ++i)
        facts.aliases.emplace_back(aliases[i]);
    return facts;
}

std::string nameOf(const PortFacts& port)
{
    if (port.physical && !port.aliases.empty() && !port.aliases.front().empty())
        return port.aliases.front();
    return port.name;
}

// The MIDI ports of the server that flags describe, as facts, leaving out the client's own.
std::vector<PortFacts> portsOf(jack_client_t* client, unsigned long flags)
{
    std::vector<PortFacts> ports;
    const char** names = jack_get_ports(client, nullptr, JACK_DEFAULT_MIDI_TYPE, flags);
    for (const char** name = names; name && *name; ++name) {
        jack_port_t* port = jack_port_by_name(client, *name);
        if (port && !jack_port_is_mine(client, port))
            ports.push_back(factsOf(port));
    }
    jack_free(names);
    return ports;
}

std::vector<DestinationPort> listDestinations(jack_client_t* client)
{
    std::vector<DestinationPort> targets;
    std::vector<bool> physical;
    const std::vector<PortFacts> outputs = portsOf(client, JackPortIsOutput);
    for (const PortFacts& port : portsOf(client, JackPortIsInput)) {
        std::string wayBack = pairedCapture(port, outputs);
        const bool answers = !wayBack.empty();
        targets.push_back(
            { { nameOf(port), port.name, 0, answers }, port.name, std::move(wayBack) });
        physical.push_back(port.physical);
    }
    // Devices before programs, each group in the server's order.
    std::vector<DestinationPort> ordered;
    for (const bool wanted : { true, false })
        for (std::size_t i = 0; i < targets.size(); ++i)
            if (physical[i] == wanted)
                ordered.push_back(std::move(targets[i]));
    return ordered;
}

SendResult failed(SendError error, std::string reason)
{
    return { error, 0, std::move(reason) };
}

// The process thread's running totals, as the sender last saw them.
struct Totals {
    std::uint64_t notConnected = 0;
    std::uint64_t notConnectedBytes = 0;
    std::uint64_t tooLarge = 0;
    std::uint64_t tooLargeBytes = 0;
    std::array<std::uint64_t, 4> uncertain {};

    static Totals of(const Outbox& outbox)
    {
        Totals totals { outbox.notConnected.load(), outbox.notConnectedBytes.load(),
            outbox.tooLarge.load(), outbox.tooLargeBytes.load(), {} };
        for (std::size_t i = 0; i < totals.uncertain.size(); ++i)
            totals.uncertain[i] = outbox.uncertain[i].load();
        return totals;
    }

    std::uint64_t uncertainSince(const Totals& before, Evidence evidence) const
    {
        const auto i = static_cast<std::size_t>(evidence);
        return uncertain[i] - before.uncertain[i];
    }
};

// Whether the port a sender follows, its destination, has been unregistered since it began to
// follow it: a port of that name that comes later belongs to another program or device, whoever
// connects Morvex to it. Told on JACK's notification thread.
class Departures {
public:
    void follow(jack_port_t* port)
    {
        mLeft.store(false);
        mFollowed.store(port);
    }
    bool left() const { return mLeft.load(); }
    void unregistered(jack_port_t* port)
    {
        if (port && port == mFollowed.load())
            mLeft.store(true);
    }

private:
    std::atomic<jack_port_t*> mFollowed { nullptr };
    std::atomic<bool> mLeft { false };
};

class JackOutputPort final : public OutputPort {
public:
    JackOutputPort(jack_client_t* client, ServiceThread& calls, Outbox& outbox, jack_port_t* port,
        const std::vector<DestinationPort>& targets, FrameClock& clock, Departures& departures)
        : mClient(client)
        , mCalls(calls)
        , mOutbox(outbox)
        , mPort(port)
        , mDestinationPorts(targets)
        , mClock(clock)
        , mDepartures(departures)
    {
    }

    // The process callback lets go of the port; the port itself stays registered until the client
    // closes, which takes it with the client's other ports once JACK's threads have stopped.
    // Unregistering it here, while the client is active, has libjack take it off the client's port
    // list while its notification thread may be walking that list for the server's latency
    // notifications, which no lock guards.
    ~JackOutputPort() override
    {
        mOutbox.port.store(nullptr);
        while (mOutbox.inProcess.load())
            std::this_thread::yield();
    }

    SendResult send(
        std::size_t index, std::span<const std::uint8_t> message, timing::Clock& clock) override
    {
        if (index >= mDestinationPorts.size())
            return failed(SendError::NoSuchDestination,
                "There is no MIDI destination number " + std::to_string(index + 1) + ".");
        if (mStopped || mOutbox.shutDown.load())
            return stopped();
        if (message.empty())
            return {};
        const std::size_t limit
            = std::min<std::size_t>(mOutbox.largest.load(), Outbox::QueueBytes / 2);
        if (message.size() > limit)
            return failed(SendError::TooLarge,
                "The message of " + std::to_string(message.size())
                    + " bytes is larger than JACK carries whole (" + std::to_string(limit)
                    + " bytes).");
        // A message known to be lost ends the run it belongs to, as a failed send would.
        if (auto lost = lostSinceSettled(); !lost.ok())
            return lost;
        const DestinationPort& target = mDestinationPorts[index];
        if (mFollowing == target.portName && mDepartures.left())
            return failed(SendError::DestinationGone,
                text::quoted(target.destination.name)
                    + " was closed or unplugged during the update: nothing more goes to a port "
                      "that takes its name.");
        if (auto connected = connect(target); !connected.ok())
            return connected;
        if (mFollowing != target.portName) {
            mDepartures.follow(jack_port_by_name(mClient, target.portName.c_str()));
            mFollowing = target.portName;
        }
        mTarget = target;
        if (!mShared)
            if (const auto others = otherSenders(index); !others.empty())
                return failed(SendError::Shared, sharedReason(target.destination.name, others, {}));

        const timing::Clock::TimePoint due = clock.due();
        jack_nframes_t frame = mClock.frameOf(mClient, due,
                                   mFresh ? std::optional(mSettledAt) : std::nullopt)
            + latency(mClient);
        // The server's clock may step back a little between cycles; order is kept regardless.
        if (!mFresh && framesFrom(mLastFrame, frame) < 0)
            frame = mLastFrame;
        const auto size = static_cast<std::uint32_t>(message.size());
        const Parcel parcel { mLastId + 1, frame, size, mFresh };
        const std::initializer_list<std::span<const std::byte>> parts {
            std::as_bytes(std::span(&parcel, 1)), std::as_bytes(message)
        };
        bool queued = mOutbox.queue.write(parts);
        if (!queued)
            waitFor([&] { return queued || (queued = mOutbox.queue.write(parts)); });
        if (!queued)
            return stopped();
        mLastId = parcel.id;
        mLastFrame = frame;
        mLastDue = due;
        mFresh = false;
        mQueuedBytes += size;
        return {};
    }

    // libjack's own copy of the server's graph: asking waits on no other process.
    std::vector<std::string> otherSenders(std::size_t index) override
    {
        if (index >= mDestinationPorts.size())
            return {};
        jack_port_t* destination
            = jack_port_by_name(mClient, mDestinationPorts[index].portName.c_str());
        if (!destination)
            return {};
        std::vector<std::string> names;
        const char** connected = jack_port_get_all_connections(mClient, destination);
        for (const char** name = connected; name && *name; ++name)
            if (std::string_view(*name) != jack_port_name(mPort))
                names.emplace_back(*name);
        jack_free(connected);
        return names;
    }

    void shareDestination() override { mShared = true; }
    // A device plugged in again, under the name of the one that went, may have the next update.
    // The connection goes, so that another program, another Morvex among them, may send to the
    // destination without this port named as sending to it too.
    void endUpdate() override
    {
        mShared = false;
        mFollowing.reset();
        (void)mCalls.call<int>(
            [client = mClient, port = mPort] { return jack_port_disconnect(client, port); });
    }

    // A message goes out at the frame of the instant it was due, however late its send ran: the
    // next delay counts from that instant, until the port settles.
    timing::Clock::TimePoint nextDelayFrom(const timing::Clock& clock) const override
    {
        return mFresh ? clock.now() : mLastDue;
    }

    Settled settle() override
    {
        const bool dealt
            = mLastId == mSettledId || waitFor([&] { return mOutbox.judgedId.load() >= mLastId; });
        Settled settled;
        const std::uint64_t dealtId = mOutbox.dealtId.load();
        std::uint64_t stopUncertain = 0;
        if (!dealt) {
            // The server stopped or stalled. What it wrote may have arrived, what it did not has
            // not; nothing more goes out, even if it wakes up.
            mOutbox.abandoned.store(true);
            for (int i = 0; i < 1000 && mOutbox.inProcess.load(); ++i)
                std::this_thread::yield();
            const std::uint64_t judged = std::min(mOutbox.judgedId.load(), mLastId);
            const std::uint64_t written = std::clamp(dealtId, judged, mLastId);
            stopUncertain = written - judged;
            settled.notDelivered = static_cast<std::uint32_t>(mLastId - written);
            settled.bytesNotDelivered = mQueuedBytes - mOutbox.dealtBytes.load();
            (void)stopped();
        }
        const Totals now = Totals::of(mOutbox);
        const std::uint64_t notConnected = now.notConnected - mSettled.notConnected;
        const std::uint64_t tooLarge = now.tooLarge - mSettled.tooLarge;
        settled.notDelivered += static_cast<std::uint32_t>(notConnected + tooLarge);
        settled.bytesNotDelivered += now.notConnectedBytes - mSettled.notConnectedBytes
            + now.tooLargeBytes - mSettled.tooLargeBytes;
        settled.gone = mStopped.has_value()
            || (notConnected > 0 && mTarget
                && !jack_port_by_name(mClient, mTarget->portName.c_str()));
        if (notConnected > 0)
            settled.notDeliveredReason = lostText();
        else if (tooLarge > 0)
            settled.notDeliveredReason = "A message did not fit JACK's buffer for one cycle.";
        else if (settled.notDelivered > 0)
            settled.notDeliveredReason = mStopped->reason;

        const auto byDisconnect = now.uncertainSince(mSettled, Evidence::Disconnected);
        const auto byStep = now.uncertainSince(mSettled, Evidence::OutOfStep);
        const auto byXrun = now.uncertainSince(mSettled, Evidence::Xrun);
        settled.uncertain
            = static_cast<std::uint32_t>(stopUncertain + byDisconnect + byStep + byXrun);
        const std::string to
            = mTarget ? text::quoted(mTarget->destination.name) : "the destination";
        if (stopUncertain > 0)
            settled.uncertainReason = mStopped->reason + " It had just sent them to " + to + ".";
        else if (byDisconnect > 0)
            settled.uncertainReason = to + " went away just after they were sent.";
        else if (byStep > 0)
            settled.uncertainReason = "The JACK server ran its cycles out of step with Morvex "
                                      "just after they were sent: "
                + to + " may have missed them or got them twice.";
        else if (byXrun > 0)
            settled.uncertainReason = "The JACK server reported a client that missed its cycle "
                                      "just after they were sent to "
                + to + ".";

        mSettled = now;
        mSettledId = mLastId;
        mFresh = true;
        mSettledAt = std::chrono::steady_clock::now();
        return settled;
    }

private:
    // Waits on the sending thread until done holds; false when the server stopped, or ran no
    // cycle for StallLimit.
    template <typename Done> bool waitFor(Done done)
    {
        mOutbox.waiting.store(true);
        std::uint64_t cycles = mOutbox.cycles.load();
        auto deadline = std::chrono::steady_clock::now() + StallLimit;
        bool result = true;
        while (!done()) {
            if (mOutbox.shutDown.load()) {
                result = done();
                break;
            }
            const bool woken = mOutbox.wakeup.waitUntil(deadline);
            const std::uint64_t now = mOutbox.cycles.load();
            if (now != cycles) {
                cycles = now;
                deadline = std::chrono::steady_clock::now() + StallLimit;
            } else if (!woken) {
                result = done();
                break;
            }
        }
        mOutbox.waiting.store(false);
        return result;
    }

    SendResult connect(const DestinationPort& target)
    {
        if (jack_port_connected_to(mPort, target.portName.c_str())
            && jack_port_connected(mPort) == 1)
            return {};
        // What is on its way to another destination goes there first.
        if (mTarget && mTarget->portName != target.portName
            && !waitFor([&] { return mOutbox.judgedId.load() >= mLastId; }))
            return stopped();
        if (!jack_port_by_name(mClient, target.portName.c_str()))
            return failed(SendError::DestinationGone,
                text::quoted(target.destination.name)
                    + " is no longer there: it was closed or unplugged.");
        // Both wait on the server's answer.
        const std::optional<int> error
            = mCalls.call<int>([client = mClient, port = mPort, to = target.portName] {
                  jack_port_disconnect(client, port); // only the chosen destination may hear us
                  return jack_connect(client, jack_port_name(port), to.c_str());
              });
        if (!error)
            return failed(SendError::ServiceStopped, notAnswering(mCalls));
        if (*error != 0 && *error != EEXIST)
            return failed(SendError::NotConnected,
                "JACK refused to connect to " + text::quoted(target.destination.name) + ".");
        // A connection shows within a cycle or two. One to a port that went just after it was
        // made never does, while the cycles go on: it is not waited for beyond StallLimit.
        const auto until = std::chrono::steady_clock::now() + StallLimit;
        waitFor([&] {
            return jack_port_connected(mPort) > 0 || std::chrono::steady_clock::now() >= until;
        });
        if (jack_port_connected(mPort) > 0)
            return {};
        if (mOutbox.shutDown.load())
            return stopped();
        if (!jack_port_by_name(mClient, target.portName.c_str()))
            return failed(SendError::DestinationGone,
                text::quoted(target.destination.name) + " went away as Morvex connected to it.");
        return failed(SendError::NotConnected,
            "The connection to " + text::quoted(target.destination.name) + " did not take effect.");
    }

    // Messages the process thread could not deliver since the last settle, as a send's failure.
    SendResult lostSinceSettled() const
    {
        const Totals now = Totals::of(mOutbox);
        if (now.notConnected != mSettled.notConnected)
            return failed(mTarget && !jack_port_by_name(mClient, mTarget->portName.c_str())
                    ? SendError::DestinationGone
                    : SendError::NotConnected,
                lostText());
        if (now.tooLarge != mSettled.tooLarge)
            return failed(
                SendError::TooLarge, "A message did not fit JACK's buffer for one cycle.");
        return {};
    }

    std::string lostText() const
    {
        if (!mTarget)
            return "The connection to the destination was lost.";
        if (!jack_port_by_name(mClient, mTarget->portName.c_str()))
            return text::quoted(mTarget->destination.name)
                + " was closed before the messages reached it.";
        return "The connection to " + text::quoted(mTarget->destination.name) + " was lost.";
    }

    // The server went away or ran no cycle: nothing more will go out through this port.
    SendResult stopped()
    {
        if (!mStopped)
            mStopped = failed(SendError::ServiceStopped,
                mOutbox.shutDown.load() ? "The JACK server stopped."
                                        : "The JACK server stopped running its cycles.");
        return *mStopped;
    }

    jack_client_t* mClient;
    ServiceThread& mCalls;
    Outbox& mOutbox;
    jack_port_t* mPort;
    const std::vector<DestinationPort>& mDestinationPorts;
    FrameClock& mClock;

    std::uint64_t mLastId = 0; // the last message queued
    std::uint64_t mSettledId = 0; // the last message queued before the last settle
    jack_nframes_t mLastFrame = 0; // and its frame
    timing::Clock::TimePoint mLastDue {}; // and when it was due
    std::chrono::steady_clock::time_point mSettledAt {}; // when the last settle returned
    bool mFresh = true; // nothing queued since the last settle
    std::uint64_t mQueuedBytes = 0; // all messages' bytes so far
    // Where the messages since the last settle went: a copy, since the list may be read anew.
    std::optional<DestinationPort> mTarget;
    Totals mSettled; // the process thread's totals at the last settle
    std::optional<SendResult> mStopped;
    bool mShared = false; // the person agreed that others send to the destination too
    Departures& mDepartures;
    std::optional<std::string> mFollowing; // the port name whose departure mDepartures watches
};

// The port of the way back's client.
constexpr const char* WayBackPort = "Morvex Input Port";

// What the device says, from the receiving client: JACK carries a SysEx in as many events as the
// device's side cut it into. The client closes on the service thread, which may wait on the
// server.
class JackWayBack final : public WayBack {
public:
    JackWayBack(std::shared_ptr<Input> input, ServiceThread& calls)
        : mInput(std::move(input))
        , mCalls(calls)
    {
    }
    ~JackWayBack() override
    {
        mCalls.post([input = std::move(mInput)]() mutable { input.reset(); });
    }
    JackWayBack(const JackWayBack&) = delete;
    JackWayBack& operator=(const JackWayBack&) = delete;

    void take(std::vector<std::vector<std::uint8_t>>& out) override
    {
        mInput->take(mArrived);
        for (const Received& piece : mArrived)
            mRejoiner.feed(piece.bytes, out);
        mArrived.clear();
    }
    std::uint64_t realTimeBytes() const override { return mRejoiner.realTimeBytes(); }

private:
    std::shared_ptr<Input> mInput;
    ServiceThread& mCalls;
    std::vector<Received> mArrived;
    Rejoiner mRejoiner;
};

// Ports that come and go, told on JACK's notification thread (never the process thread), passed
// on to whoever watches. It outlives the client handle, so no callback can reach it once gone.
class PortWatch {
public:
    void set(std::function<void()> changed)
    {
        const std::lock_guard lock(mMutex);
        mChanged = std::move(changed);
    }

    void attach(jack_client_t* client) { mClient.store(client); }
    Departures& departures() { return mDepartures; }

    static void registered(jack_port_id_t id, int registering, void* self)
    {
        auto& watch = *static_cast<PortWatch*>(self);
        if (!registering)
            watch.mDepartures.unregistered(jack_port_by_id(watch.mClient.load(), id));
        watch.tell();
    }
    static void renamed(jack_port_id_t, const char*, const char*, void* self)
    {
        static_cast<PortWatch*>(self)->tell();
    }

private:
    void tell()
    {
        const std::lock_guard lock(mMutex);
        if (mChanged)
            mChanged();
    }

    std::mutex mMutex;
    std::function<void()> mChanged; // guarded by mMutex
    std::atomic<jack_client_t*> mClient { nullptr };
    Departures mDepartures;
};

// The handle and what JACK's threads call into, closed as one: whoever watched hears nothing more
// and JACK's threads stop calling in before the handle closes (taking the port with it), and what
// the callbacks touch goes only after that.
struct Connection {
    std::unique_ptr<Outbox> outbox;
    std::unique_ptr<PortWatch> watch;
    ClientHandle client; // declared last, so that it closes first

    Connection(
        std::unique_ptr<Outbox> outbox, std::unique_ptr<PortWatch> watch, ClientHandle client)
        : outbox(std::move(outbox))
        , watch(std::move(watch))
        , client(std::move(client))
    {
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    ~Connection()
    {
        watch->set({});
        jack_deactivate(client.get());
    }
};

class JackClient final : public Client {
public:
    JackClient(std::unique_ptr<Outbox> outbox, std::unique_ptr<PortWatch> watch,
        ClientHandle client, std::shared_ptr<FrameClock> clock, std::chrono::milliseconds limit)
        : mHandle(client.get())
        , mOutbox(*outbox)
        , mConnection(
              std::make_shared<Connection>(std::move(outbox), std::move(watch), std::move(client)))
        , mClock(std::move(clock))
        , mCalls(limit)
    {
        refreshDestinations();
    }

    ~JackClient() override { close(); }

    // Whoever watched hears nothing more from now on. The close waits on the server, so it is one
    // of the service thread's calls; one the server does not answer is left to it, with
    // everything the callbacks touch, behind any call given up on before.
    void close() override
    {
        if (!mConnection)
            return;
        mConnection->watch->set({});
        auto closing = [connection = std::move(mConnection)]() mutable {
            connection.reset();
            return true;
        };
        if (mCalls.answering())
            (void)mCalls.call<bool>(std::move(closing));
        else
            mCalls.post(std::move(closing));
    }
    JackClient(const JackClient&) = delete;
    JackClient& operator=(const JackClient&) = delete;

    std::string serviceName() const override { return "JACK"; }
    std::string problem() const override
    {
        return mCalls.answering() ? std::string() : notAnswering(mCalls);
    }
    bool leftWaiting() const override { return !mCalls.answering(); }
    const std::vector<Destination>& destinations() const override { return mDestinations; }

    void watchDestinations(std::function<void()> changed) override
    {
        mConnection->watch->set(std::move(changed));
    }

    // In place, so that a port keeps the list it was given. The list is libjack's own copy of
    // the server's graph: reading it waits on no other process.
    void refreshDestinations() override
    {
        mDestinationPorts = listDestinations(mHandle);
        mDestinations.clear();
        for (const auto& port : mDestinationPorts)
            mDestinations.push_back(port.destination);
    }

    // The way back is a receiving client of its own beside this one, so that the sending client's
    // cycle stays the sender's alone; it takes the one connection this makes.
    WayBackResult listen(std::size_t index) override
    {
        if (index >= mDestinationPorts.size() || mDestinationPorts[index].wayBack.empty())
            return noWayBack();
        using Opened = morvex::Result<std::shared_ptr<Input>>;
        const std::string clientName = std::string(jack_get_client_name(mHandle)) + " Input";
        std::optional<Opened> opened = mCalls.call<Opened>(
            [handle = mHandle, clientName, from = mDestinationPorts[index].wayBack]() -> Opened {
                auto input = openInput(clientName, WayBackPort);
                if (!input)
                    return morvex::Failure { input.reason() };
                if (jack_connect(handle, from.c_str(), input.value()->portName().c_str()) != 0)
                    return morvex::Failure {
                        "JACK refused to connect " + text::quoted(from) + " to Morvex." };
                return std::shared_ptr<Input>(input.take());
            });
        if (!opened)
            return morvex::Failure { notAnswering(mCalls) };
        if (!*opened)
            return morvex::Failure { opened->reason() };
        return std::unique_ptr<WayBack>(std::make_unique<JackWayBack>(opened->take(), mCalls));
    }

    // One port in the client's life: the process thread's account of cycles and messages
    // belongs to it.
    PortResult createOutputPort(const std::string& name) override
    {
        if (mHadPort)
            return morvex::Failure { "This JACK client already has had an output port." };
        const std::optional<jack_port_t*> registered
            = mCalls.call<jack_port_t*>([handle = mHandle, name] {
                  return jack_port_register(
                      handle, name.c_str(), JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
              });
        if (!registered)
            return morvex::Failure { notAnswering(mCalls) };
        jack_port_t* port = *registered;
        if (!port)
            return morvex::Failure { "Cannot create the JACK port \"" + name + "\"." };
        mHadPort = true;
        auto result = std::make_unique<JackOutputPort>(mHandle, mCalls, mOutbox, port,
            mDestinationPorts, *mClock, mConnection->watch->departures());
        mOutbox.port.store(port);
        // The largest event is a property of a port's buffer, read in its first cycle.
        const auto deadline = std::chrono::steady_clock::now() + StallLimit;
        mOutbox.waiting.store(true);
        while (mOutbox.largest.load() == 0 && !mOutbox.shutDown.load()
            && mOutbox.wakeup.waitUntil(deadline)) { }
        mOutbox.waiting.store(false);
        if (mOutbox.largest.load() == 0)
            return morvex::Failure {
                "The JACK server ran no cycle for the port \"" + name + "\"." };
        return std::unique_ptr<OutputPort>(std::move(result));
    }

private:
    jack_client_t* const mHandle;
    Outbox& mOutbox;
    std::shared_ptr<Connection> mConnection;
    std::shared_ptr<FrameClock> mClock;
    std::vector<DestinationPort> mDestinationPorts;
    std::vector<Destination> mDestinations;
    bool mHadPort = false;
    // Declared last, so that it goes first: it ends once the close posted to it has run, or the
    // limit has passed.
    ServiceThread mCalls;
};

} // namespace

std::shared_ptr<FrameClock> serverClock()
{
    return std::make_shared<ServerClock>();
}

namespace {

// PipeWire's libjack stands in for jack2's under the same name (pw-jack, or a system set up so);
// its server is PipeWire itself, which keeps no registry of clients.
bool pipeWiresLibjack()
{
    Dl_info library {};
    return ::dladdr(reinterpret_cast<void*>(&jack_client_open), &library) != 0 && library.dli_fname
        && std::string_view(library.dli_fname).find("pipewire") != std::string_view::npos;
}

} // namespace

std::string notAnswering(const ServiceThread& calls)
{
    const std::string waited
        = "(Morvex gave up after " + std::to_string((calls.limit().count() + 999) / 1000) + " s)";
    const std::string what = ": it may be stopped, in a debugger or by SIGSTOP, or the machine may "
                             "be short of memory. Let it run again, or restart it.";
    if (pipeWiresLibjack())
        return "The PipeWire server does not answer " + waited + what;
    const char* named = std::getenv("JACK_DEFAULT_SERVER");
    const std::string server
        = "The JACK server \"" + std::string(named && *named ? named : "default") + "\"";
    // jack2's libjack waits on the registry's lock (a futex), or on the server's answer on its
    // socket.
    if (calls.waitsOnALock())
        return server
            + " cannot be reached: JACK's client registry is locked, so no JACK "
              "program can connect "
            + waited
            + ". A JACK program killed while it connected or closed leaves it so. Remove the "
              "folder /dev/shm/jack_db-"
            + std::to_string(::getuid())
            + ": the server may keep running. Stopping the server and starting it again clears "
              "it too, unless the server was killed.";
    return server + " does not answer " + waited + what;
}

morvex::Result<std::unique_ptr<Client>> openOutputClient(
    const std::string& name, std::shared_ptr<FrameClock> clock, std::chrono::milliseconds limit)
{
    // First, so that they outlive the handle.
    auto outbox = std::make_unique<Outbox>();
    auto watch = std::make_unique<PortWatch>();
    auto opened = openClient(name);
    if (!opened)
        return morvex::Failure { opened.reason() };
    ClientHandle client = opened.take();
    jack_client_t* handle = client.get();
    outbox->client.store(handle);
    watch->attach(handle);
    if (jack_set_process_callback(handle, Outbox::process, outbox.get()) != 0
        || jack_set_xrun_callback(handle, Outbox::xrun, outbox.get()) != 0
        || jack_set_port_registration_callback(handle, PortWatch::registered, watch.get()) != 0
        || jack_set_port_rename_callback(handle, PortWatch::renamed, watch.get()) != 0)
        return morvex::Failure { "Cannot set up the JACK client \"" + name + "\"." };
    jack_on_shutdown(handle, Outbox::shutdown, outbox.get());
    jack_on_info_shutdown(handle, Outbox::shutdownWithReason, outbox.get());
    if (jack_activate(handle) != 0)
        return morvex::Failure { "Cannot activate the JACK client \"" + name + "\"." };
    return std::unique_ptr<Client>(std::make_unique<JackClient>(
        std::move(outbox), std::move(watch), std::move(client), std::move(clock), limit));
}

} // namespace midi::jack
