#include "Alsa.h"

#include "MIDI/Rejoiner.h"
#include "Text/Printable.h"

#include <algorithm>
#include <alsa/asoundlib.h>
#include <cerrno>
#include <limits>
#include <mutex>
#include <optional>
#include <thread>

namespace midi::alsa {

namespace {

constexpr int SystemClient = 0; // the sequencer's own timer and announce ports

} // namespace

std::string displayName(const PortInfo& port)
{
    // A port named after its client ("UM-ONE MIDI 1" of "UM-ONE") would say the name twice.
    std::string portName = port.portName;
    if (portName.size() > port.clientName.size() && portName.starts_with(port.clientName)
        && portName[port.clientName.size()] == ' ')
        portName.erase(0, port.clientName.size() + 1);
    return port.clientName + ": " + portName;
}

namespace {

std::string bytesOf(std::size_t sent, std::size_t size)
{
    return std::to_string(sent) + " of " + std::to_string(size) + " bytes went out";
}

struct Meaning {
    SendError kind;
    std::string why;
};

// What a failed send means. EINVAL comes back for a port whose device went between the listing
// and the send: the events themselves are always well formed.
Meaning meaning(int error)
{
    switch (-error) {
    case ENOENT:
    case ENXIO:
    case ENODEV:
    case EINVAL:
        return { SendError::DestinationGone, "the destination was closed or unplugged" };
    case EPERM:
        return { SendError::NotConnected, "the destination does not accept data" };
    case EAGAIN:
    case ENOMEM:
        return { SendError::Overloaded,
            "the destination's input queue was full, so it may have lost data it had "
            "already received" };
    default:
        return { SendError::Failed, std::string("the ALSA sequencer said ") + snd_strerror(error) };
    }
}

// What a failed connection means, in words a person can act on. EBUSY is not among them: it says
// that the connection is already there.
Meaning connectMeaning(int error)
{
    switch (-error) {
    case ENOENT:
    case ENXIO:
    case ENODEV:
    case EINVAL:
        return { SendError::DestinationGone, "it was unplugged or closed" };
    case EAGAIN:
        return { SendError::NotConnected,
            "another program is using the device; close that program and try again" };
    case EPERM:
        return { SendError::NotConnected, "it does not accept data from other programs" };
    default:
        return { SendError::NotConnected,
            std::string("the ALSA sequencer said ") + snd_strerror(error) };
    }
}

class AlsaOutputPort final : public OutputPort {
public:
    AlsaOutputPort(Sequencer& sequencer, int port, const std::vector<DestinationPort>& destinations,
        std::unique_ptr<Departures> departures)
        : mSequencer(sequencer)
        , mPort(port)
        , mDestinations(destinations)
        , mDepartures(std::move(departures))
    {
    }

    ~AlsaOutputPort() override
    {
        release();
        mSequencer.deletePort(mPort);
    }

    SendResult send(
        std::size_t index, std::span<const std::uint8_t> message, timing::Clock& clock) override
    {
        if (index >= mDestinations.size())
            return { SendError::NoSuchDestination, 0,
                "There is no MIDI destination number " + std::to_string(index + 1) + "." };
        const DestinationPort& to = mDestinations[index];
        if (auto subscribed = subscribe(index); !subscribed.ok())
            return subscribed;

        bool resubscribed = false;
        std::size_t sent = 0;
        while (sent < message.size()) {
            const auto piece = message.subspan(sent, std::min(PieceSize, message.size() - sent));
            if (!clock.sleepUntil(mPacer.readyFor(piece.size())))
                return stoppedAt(to, message, sent);
            if (auto held = stillOurs(to, message, sent); !held.ok())
                return held;
            if (!to.hardware)
                if (auto room = roomFor(to, message, sent, piece.size(), clock); !room.ok())
                    return room;
            const int error = mSequencer.sendSysex(mPort, to.address, piece);
            if (error == -ENODEV && sent == 0 && !resubscribed) {
                // A hardware port opens its device only while subscribed; if that lapsed
                // before the first byte, subscribing again loses nothing.
                resubscribed = true;
                mSubscribed.reset();
                if (auto again = subscribe(index); !again.ok())
                    return again;
                continue;
            }
            if (error < 0) {
                auto [kind, why] = meaning(error);
                if (kind == SendError::DestinationGone && takenAway(to)) {
                    kind = SendError::NotConnected;
                    why = "another program ended Morvex's connection to it, or took the device "
                          "for itself";
                    // Connected again for the F7, where it can be: the device would take what
                    // comes next as part of the message.
                    (void)mSequencer.connect(mPort, to.address);
                }
                endSysex(to, message, sent);
                return { kind, static_cast<std::uint32_t>(sent),
                    "Sending to " + text::quoted(to.destination.name) + " failed: " + why + " ("
                        + bytesOf(sent, message.size()) + ")." };
            }
            mPacer.sent(clock.now(), piece.size());
            sent += piece.size();
        }
        return {};
    }

    // A device's quiet time after a message begins when its last byte has left the wire, not
    // when it was handed to the kernel: the delay before the next message is its to use (to write
    // a block to flash). The wait for the wire is the next delay's, not this send's, so that a
    // message with no delay joins the wire's backlog at once instead of after a wake-up, which
    // would leave the wire idle for a moment before every small message.
    timing::Clock::TimePoint nextDelayFrom(const timing::Clock& clock) const override
    {
        const timing::Clock::TimePoint now = clock.now();
        return mSubscribed && mSubscribed->hardware ? std::max(now, mPacer.idleAt()) : now;
    }

    std::vector<std::string> otherSenders(std::size_t index) override
    {
        if (index >= mDestinations.size())
            return {};
        std::vector<std::string> names;
        for (const Address sender : mSequencer.senders(mDestinations[index].address)) {
            if (sender == Address { mSequencer.ownClient(), mPort })
                continue;
            const std::optional<PortInfo> info = mSequencer.port(sender);
            names.push_back(info
                    ? displayName(*info)
                    : std::to_string(sender.client) + ":" + std::to_string(sender.port));
        }
        return names;
    }

    void shareDestination() override { mShared = true; }

    void endUpdate() override
    {
        release();
        mShared = false;
    }

    void setSlower(double factor) override
    {
        mSlower = std::max(factor, 1.0);
        if (mSubscribed)
            mPacer.setPace(paceOf(*mSubscribed));
    }

private:
    Pace paceOf(const DestinationPort& to) const
    {
        return to.hardware ? Pace { HardwarePace.bytesPerSecond / mSlower, HardwarePace.maxBacklog }
                           : SoftwarePace;
    }

    // Whether the address still holds the destination the person chose, and nobody else sends to
    // it, before each piece: a device swapped at its address, which someone connected at once,
    // never fails a send, and another sender's events would land between the pieces. A swapped
    // device gets nothing, not even the F7 that would close the message on the one that went.
    SendResult stillOurs(
        const DestinationPort& to, std::span<const std::uint8_t> message, std::size_t sent)
    {
        const auto gone = [&](const std::string& why) {
            return SendResult { SendError::DestinationGone, static_cast<std::uint32_t>(sent),
                "Sending to " + text::quoted(to.destination.name) + " failed: " + why + " ("
                    + bytesOf(sent, message.size()) + ")." };
        };
        // A device that left is gone for good, whatever comes back at its address: it may have
        // lost what it was given.
        mLeft = mLeft || mDepartures->ended(to.address);
        const std::optional<PortInfo> now = mSequencer.port(to.address);
        if (now && displayName(*now) != to.destination.name)
            return gone("its place is now taken by " + text::quoted(displayName(*now)));
        if (mLeft || !now)
            return gone(meaning(-ENOENT).why);
        if (mShared)
            return {};
        const std::vector<std::string> others = otherSenders(mSubscribedIndex);
        if (others.empty())
            return {};
        endSysex(to, message, sent);
        return { SendError::Shared, static_cast<std::uint32_t>(sent),
            sharedReason(to.destination.name, others, bytesOf(sent, message.size())) };
    }

    // Whether a send that failed as if the destination went met a device that is still there, the
    // same, without Morvex's connection: another program took it from Morvex (a patchbay that
    // clears every connection, one that takes the device for itself).
    bool takenAway(const DestinationPort& to)
    {
        mLeft = mLeft || mDepartures->ended(to.address);
        const std::optional<PortInfo> now = mSequencer.port(to.address);
        const std::vector<Address> senders = mSequencer.senders(to.address);
        return !mLeft && now && displayName(*now) == to.destination.name
            && std::ranges::find(senders, Address { mSequencer.ownClient(), mPort })
            == senders.end();
    }

    SendResult stoppedAt(
        const DestinationPort& to, std::span<const std::uint8_t> message, std::size_t sent)
    {
        endSysex(to, message, sent);
        return { SendError::Stopped, static_cast<std::uint32_t>(sent),
            "Sending to " + text::quoted(to.destination.name) + " was stopped ("
                + bytesOf(sent, message.size()) + ")." };
    }

    // A program takes its events at its own speed, and its input queue is cleared whole when it
    // overflows: a piece goes only once the queue has room for it within the window. A program
    // that reads nothing for QueueStuck has stopped reading. Where the sequencer does not say how
    // full the queue is, the pace alone holds.
    SendResult roomFor(const DestinationPort& to, std::span<const std::uint8_t> message,
        std::size_t sent, std::size_t bytes, timing::Clock& clock)
    {
        const int needed = cellsFor(bytes);
        int least = std::numeric_limits<int>::max(); // the fewest cells waiting so far
        auto readAt = clock.now();
        for (;;) {
            const std::optional<InputQueue> queue = mSequencer.inputQueue(to.address.client);
            if (!queue)
                return {};
            if (queue->used + needed <= std::max(needed, std::min(queue->cells / 2, ProgramWindow)))
                return {};
            if (queue->used < least) {
                least = queue->used;
                readAt = clock.now();
            } else if (clock.now() - readAt >= QueueStuck) {
                endSysex(to, message, sent);
                return { SendError::Overloaded, static_cast<std::uint32_t>(sent),
                    "Sending to " + text::quoted(to.destination.name)
                        + " failed: it read nothing of its input for "
                        + std::to_string(QueueStuck.count()) + " s ("
                        + bytesOf(sent, message.size()) + ")." };
            }
            if (!clock.sleepUntil(clock.now() + QueueLook))
                return stoppedAt(to, message, sent);
        }
    }

    SendResult subscribe(std::size_t index)
    {
        // By address and name: a list read anew may hold another program at the same address.
        if (mSubscribed && mSubscribed->destination.id == mDestinations[index].destination.id)
            return {};
        release();
        const DestinationPort& to = mDestinations[index];
        // Whatever came and went at the address before its first byte harms nothing.
        (void)mDepartures->ended(to.address);
        // The list was read at start-up; since then the device may have gone, and another may
        // have taken its address.
        const std::optional<PortInfo> now = mSequencer.port(to.address);
        if (!now)
            return { SendError::DestinationGone, 0,
                text::quoted(to.destination.name)
                    + " is no longer there: it was unplugged or closed." };
        if (displayName(*now) != to.destination.name)
            return { SendError::DestinationGone, 0,
                text::quoted(to.destination.name)
                    + " is no longer there: its place is now taken by "
                    + text::quoted(displayName(*now)) + "." };
        if (const int error = mSequencer.connect(mPort, to.address); error < 0 && error != -EBUSY) {
            const auto [kind, why] = connectMeaning(error);
            return { kind, 0,
                "Cannot connect to " + text::quoted(to.destination.name) + ": " + why + "." };
        }
        mSubscribed = to;
        mSubscribedIndex = index;
        mLeft = false;
        mPacer = Pacer(paceOf(to));
        return {};
    }

    // Ends the subscription once what a hardware destination still holds has had its wire time:
    // the device closes with its last subscription, and an interface's driver may drop what it
    // has not yet sent (a serial one does). That is at most the backlog, about a third of a
    // second. The wait cannot be cut short, since a stop is what usually leads here and the
    // message's closing F7 is among those bytes. Deleting the port ends the subscription as well,
    // so a failed disconnect changes nothing.
    void release()
    {
        if (!mSubscribed)
            return;
        if (mSubscribed->hardware)
            std::this_thread::sleep_until(mPacer.idleAt());
        (void)mSequencer.disconnect(mPort, mSubscribed->address);
        mSubscribed.reset();
    }

    // A receiver left inside a cut SysEx would take whatever comes next as part of it.
    void endSysex(
        const DestinationPort& to, std::span<const std::uint8_t> message, std::size_t sent)
    {
        static constexpr std::uint8_t End[] = { 0xF7 };
        if (sent > 0 && message.front() == 0xF0 && message[sent - 1] != 0xF7)
            (void)mSequencer.sendSysex(mPort, to.address, End); // best effort: already failing
    }

    Sequencer& mSequencer;
    const int mPort;
    const std::vector<DestinationPort>& mDestinations;
    // A copy, which stays right when the list is read anew.
    std::optional<DestinationPort> mSubscribed;
    std::size_t mSubscribedIndex = 0;
    std::unique_ptr<Departures> mDepartures;
    bool mLeft = false; // the destination subscribed to ended since
    bool mShared = false; // the person agreed that others send to the destination too
    Pacer mPacer { SoftwarePace };
    double mSlower = 1; // how much more slowly than its pace a hardware wire is fed
};

// What the device says, heard on the sequencer's thread and taken on the caller's.
class AlsaWayBack final : public WayBack {
public:
    void heard(std::span<const std::uint8_t> bytes)
    {
        const std::lock_guard lock(mMutex);
        mRejoiner.feed(bytes, mMessages);
    }

    void take(std::vector<std::vector<std::uint8_t>>& out) override
    {
        const std::lock_guard lock(mMutex);
        std::ranges::move(mMessages, std::back_inserter(out));
        mMessages.clear();
    }

    std::uint64_t realTimeBytes() const override
    {
        const std::lock_guard lock(mMutex);
        return mRejoiner.realTimeBytes();
    }

    void hearThrough(std::unique_ptr<Watch> hearing) { mHearing = std::move(hearing); }

private:
    mutable std::mutex mMutex;
    Rejoiner mRejoiner; // guarded by mMutex
    std::vector<std::vector<std::uint8_t>> mMessages; // whole, not yet taken; guarded by mMutex
    std::unique_ptr<Watch> mHearing; // declared last: its thread ends before what it feeds goes
};

class AlsaClient final : public Client {
public:
    explicit AlsaClient(std::unique_ptr<Sequencer> sequencer)
        : mSequencer(std::move(sequencer))
    {
        refreshDestinations();
    }

    std::string serviceName() const override { return "ALSA"; }
    std::string problem() const override { return mProblem; }
    const std::vector<Destination>& destinations() const override { return mDestinations; }

    void watchDestinations(std::function<void()> changed) override
    {
        mWatch.reset();
        morvex::Result<std::unique_ptr<Watch>> watching = mSequencer->watch(std::move(changed));
        if (watching)
            mWatch = watching.take();
        else
            mProblem = watching.reason();
    }

    // In place, so that a port keeps the list it was given.
    void refreshDestinations() override
    {
        mPorts = listDestinations(mSequencer->ports(), mSequencer->ownClient());
        mDestinations.clear();
        for (const auto& port : mPorts)
            mDestinations.push_back(port.destination);
    }

    PortResult createOutputPort(const std::string& name) override
    {
        morvex::Result<std::unique_ptr<Departures>> departures = mSequencer->departures();
        if (!departures)
            return morvex::Failure { departures.reason() };
        const int port = mSequencer->createPort(name);
        if (port < 0)
            return morvex::Failure { "Cannot create the ALSA sequencer port \"" + name
                + "\": " + snd_strerror(port) + "." };
        return std::unique_ptr<OutputPort>(
            std::make_unique<AlsaOutputPort>(*mSequencer, port, mPorts, departures.take()));
    }

    WayBackResult listen(std::size_t index) override
    {
        if (index >= mPorts.size() || !mPorts[index].destination.answers)
            return noWayBack();
        auto wayBack = std::make_unique<AlsaWayBack>();
        morvex::Result<std::unique_ptr<Watch>> hearing = mSequencer->hear(mPorts[index].address,
            [&back = *wayBack](std::span<const std::uint8_t> bytes) { back.heard(bytes); });
        if (!hearing)
            return morvex::Failure { hearing.reason() };
        wayBack->hearThrough(hearing.take());
        return std::unique_ptr<WayBack>(std::move(wayBack));
    }

private:
    std::unique_ptr<Sequencer> mSequencer;
    std::vector<DestinationPort> mPorts;
    std::vector<Destination> mDestinations;
    std::string mProblem; // why destinations are not watched
    std::unique_ptr<Watch> mWatch; // declared last: it stops before the sequencer goes
};

} // namespace

namespace {

bool cardBacked(const std::vector<PortInfo>& ports, Address address)
{
    return std::any_of(ports.begin(), ports.end(), [&](const PortInfo& port) {
        return port.address == address && port.kernelClient && port.card >= 0;
    });
}

} // namespace

std::vector<DestinationPort> listDestinations(const std::vector<PortInfo>& ports, int ownClient)
{
    constexpr unsigned Writable = SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE;
    constexpr unsigned Readable = SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ;
    std::vector<DestinationPort> destinations;
    for (const auto& port : ports) {
        if (port.address.client == SystemClient || port.address.client == ownClient
            || (port.capability & Writable) != Writable
            || (port.capability & SND_SEQ_PORT_CAP_NO_EXPORT) != 0
            || (port.type & SND_SEQ_PORT_TYPE_MIDI_GENERIC) == 0)
            continue;
        const bool hardware = port.kernelClient || (port.type & SND_SEQ_PORT_TYPE_HARDWARE) != 0;
        // A kernel port with no card behind it is "Midi Through": what it is sent comes back.
        const bool echoes = port.kernelClient && port.card < 0;
        destinations.push_back(
            { { displayName(port),
                  std::to_string(port.address.client) + ":" + std::to_string(port.address.port)
                      + " " + displayName(port),
                  (hardware ? HardwarePace : SoftwarePace).bytesPerSecond,
                  (port.capability & Readable) == Readable && !echoes },
                port.address, hardware });
    }
    std::stable_partition(destinations.begin(), destinations.end(),
        [&](const DestinationPort& destination) { return cardBacked(ports, destination.address); });
    return destinations;
}

timing::Clock::TimePoint Pacer::readyFor(std::size_t bytes) const
{
    const std::size_t room = mPace.maxBacklog - std::min(bytes, mPace.maxBacklog);
    return mIdleAt - timeFor(static_cast<double>(room));
}

timing::Clock::TimePoint Pacer::idleAt() const
{
    return mIdleAt;
}

void Pacer::sent(timing::Clock::TimePoint at, std::size_t bytes)
{
    mIdleAt = std::max(mIdleAt, at) + timeFor(static_cast<double>(bytes));
}

std::chrono::steady_clock::duration Pacer::timeFor(double bytes) const
{
    return std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double>(bytes / mPace.bytesPerSecond));
}

std::unique_ptr<Client> openClient(std::unique_ptr<Sequencer> sequencer)
{
    return std::make_unique<AlsaClient>(std::move(sequencer));
}

} // namespace midi::alsa
