// The ALSA backend's rules through a sequencer of the test's own (tests/alsa shows what only the
// kernel decides): which ports count as destinations, a program's and a wire's pace, what a failure
// on a given piece means, a device swapped or shared under a message. The waits are a recording
// clock's, or short.

#include "Alsa.h"
#include "support/Bytes.h"

#include <alsa/asoundlib.h>
#include <cerrno>
#include <gtest/gtest.h>
#include <map>
#include <optional>

namespace {

using midi::SendError;
using namespace midi::alsa;
using namespace testsupport;
using std::chrono::microseconds;

constexpr unsigned Writable = SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE;
constexpr unsigned Duplex = Writable | SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ;
constexpr int Own = 128;

PortInfo port(int client, int number, std::string clientName, std::string portName,
    unsigned capability = Writable, unsigned type = SND_SEQ_PORT_TYPE_MIDI_GENERIC, int card = -1)
{
    return { { client, number }, std::move(clientName), std::move(portName), capability, type,
        client < Own, card };
}

// Microseconds, to the nearest, since the start of a clock of the test's own.
std::int64_t sinceStart(timing::Clock::TimePoint when)
{
    return std::chrono::round<microseconds>(when - timing::Clock::TimePoint {}).count();
}

// One port, a program's unless the test makes it a card's; fails the sends named in failures
// (counted from 0) with their errno and records the pieces of the others.
struct FakeSequencer final : Sequencer {
    using Watching = morvex::Result<std::unique_ptr<Watch>>;

    int ownClient() const override { return Own; }
    std::vector<PortInfo> ports() override { return { synth }; }
    int createPort(const std::string&) override { return 0; }
    void deletePort(int) override { }
    std::optional<PortInfo> port(Address address) override
    {
        if (address == synth.address)
            return synth;
        const auto other = std::ranges::find(others, address, &PortInfo::address);
        return other == others.end() ? std::nullopt : std::optional(*other);
    }
    int connect(int, Address) override { return ++connects, 0; }
    int disconnect(int, Address) override { return 0; }
    Watching watch(std::function<void()>) override { return std::unique_ptr<Watch>(); }
    Watching hear(Address, Heard) override { return morvex::Failure { "not heard" }; }
    std::vector<Address> senders(Address) override { return subscribers; }
    std::optional<InputQueue> inputQueue(int) override
    {
        if (queue && reader)
            reader(*queue);
        return queue;
    }
    morvex::Result<std::unique_ptr<Departures>> departures() override
    {
        struct Told final : Departures {
            explicit Told(bool& departed)
                : departed(departed)
            {
            }
            bool ended(Address) override { return std::exchange(departed, false); }
            bool& departed;
        };
        return std::unique_ptr<Departures>(std::make_unique<Told>(departed));
    }
    int sendSysex(int, Address, std::span<const std::uint8_t> piece) override
    {
        if (const auto failure = failures.find(calls++); failure != failures.end())
            return -failure->second;
        pieces.emplace_back(piece.begin(), piece.end());
        if (afterPiece)
            afterPiece(pieces.size());
        return 0;
    }

    PortInfo synth = ::port(Own + 1, 0, "Synth", "in");
    std::map<int, int> failures;
    std::vector<PortInfo> others; // ports of other clients
    std::vector<Address> subscribers; // Morvex's own port is 0
    std::function<void(std::size_t pieces)> afterPiece;
    std::optional<InputQueue> queue; // the synth's input queue, when the sequencer tells it
    std::function<void(InputQueue&)> reader; // what the synth read since the last look
    bool departed = false; // the synth's client ended since the last look
    int calls = 0;
    int connects = 0;
    std::vector<Bytes> pieces;
};

// Its time moves only by the waits asked for, from 0; from wait number stopAt on (counted from 0)
// a stop request stands.
class RecordingClock final : public timing::Clock {
public:
    std::size_t stopAt = SIZE_MAX;

    TimePoint now() const override { return mNow; }
    bool stopRequested() const override { return mSleeps > stopAt; }

private:
    bool waitUntil(TimePoint when) override
    {
        if (mSleeps++ >= stopAt)
            return false;
        mNow = std::max(mNow, when);
        return true;
    }

    TimePoint mNow {};
    std::size_t mSleeps = 0;
};

// Morvex's client and port on a sequencer whose one destination is synth.
struct Opened {
    FakeSequencer* sequencer;
    std::unique_ptr<midi::Client> client;
    std::unique_ptr<midi::OutputPort> port;
};

Opened open(const PortInfo& synth = port(Own + 1, 0, "Synth", "in"))
{
    auto owned = std::make_unique<FakeSequencer>();
    FakeSequencer* sequencer = owned.get();
    sequencer->synth = synth;
    auto client = openClient(std::move(owned));
    auto port = client->createOutputPort("Morvex Output Port").take();
    return { sequencer, std::move(client), std::move(port) };
}

TEST(AlsaDestinations, AreWritableMidiPortsOfOthersHardwareFirst)
{
    const auto targets = listDestinations(
        { port(0, 1, "System", "Announce"),
            port(14, 0, "Midi Through", "Midi Through Port-0", Duplex),
            port(20, 0, "UM-ONE", "UM-ONE MIDI 1", Duplex, SND_SEQ_PORT_TYPE_MIDI_GENERIC, 1),
            port(20, 2, "UM-ONE", "No subs", SND_SEQ_PORT_CAP_WRITE),
            port(Own, 0, "Morvex", "Morvex Output Port"), port(Own + 1, 0, "Synth", "in"),
            port(Own + 1, 1, "Synth", "hidden", Writable | SND_SEQ_PORT_CAP_NO_EXPORT),
            port(Own + 1, 2, "Synth", "audio", Writable, 0),
            port(Own + 3, 0, "Keys", "Keys Bluetooth", Duplex,
                SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_HARDWARE) },
        Own);
    // A kernel port, or one that says it is hardware, is paced as a wire. One that can be read
    // from answers, but Midi Through, which only gives back what it was sent.
    std::vector<std::string> listed;
    for (const auto& target : targets)
        listed.push_back(target.destination.name + (target.hardware ? ", paced" : "")
            + (target.destination.answers ? ", answers" : ""));
    EXPECT_EQ(listed,
        (std::vector<std::string> { "UM-ONE: MIDI 1, paced, answers", "Midi Through: Port-0, paced",
            "Synth: in", "Keys: Bluetooth, paced, answers" }));
}

// A failure on a piece ends the message with F7 and is named for what it means; a device still
// there without Morvex's connection was taken away by another program, and is connected again for
// the F7. A device closed before the first byte is reopened, once: nothing of the message is lost
// by that.
TEST(AlsaSend, AFailureEndsTheMessageWithF7AndADeviceClosedBeforeTheFirstByteIsReopenedOnce)
{
    const Opened opened = open();
    FakeSequencer& sequencer = *opened.sequencer;
    const auto& output = opened.port;
    timing::SteadyClock clock;
    EXPECT_EQ(output->send(1, sysex(10), clock).error, SendError::NoSuchDestination);
    // One errno of each meaning, and EINVAL, which a port whose device went gives.
    const std::pair<int, SendError> cases[] = { { ENODEV, SendError::DestinationGone },
        { EINVAL, SendError::DestinationGone }, { EPERM, SendError::NotConnected },
        { EAGAIN, SendError::Overloaded }, { EIO, SendError::Failed } };
    sequencer.subscribers = { { Own, 0 } }; // Morvex's connection stands
    for (const auto& [error, meaning] : cases) {
        sequencer.pieces.clear();
        sequencer.failures = { { sequencer.calls + 3, error } };
        EXPECT_EQ(output->send(0, sysex(2000), clock).error, meaning) << error;
        ASSERT_EQ(sequencer.pieces.size(), 4u) << error;
        EXPECT_EQ(sequencer.pieces.back(), Bytes { 0xF7 });
    }

    // The device still there without Morvex's connection: another program took it away. The
    // message is closed on a connection made again.
    sequencer.pieces.clear();
    sequencer.subscribers.clear();
    sequencer.failures = { { sequencer.calls + 3, ENODEV } };
    int connects = sequencer.connects;
    EXPECT_EQ(output->send(0, sysex(2000), clock).error, SendError::NotConnected);
    EXPECT_EQ(sequencer.connects, connects + 1);
    ASSERT_EQ(sequencer.pieces.size(), 4u);
    EXPECT_EQ(sequencer.pieces.back(), Bytes { 0xF7 });
    sequencer.subscribers = { { Own, 0 } };

    // Closed before the first byte: reopened once, not twice.
    sequencer.failures = { { sequencer.calls, ENODEV } };
    connects = sequencer.connects;
    EXPECT_TRUE(output->send(0, sysex(600), clock).ok());
    EXPECT_EQ(sequencer.connects, connects + 1);
    sequencer.failures = { { sequencer.calls, ENODEV }, { sequencer.calls + 1, ENODEV } };
    EXPECT_EQ(output->send(0, sysex(600), clock).error, SendError::DestinationGone);
}

// A program's port takes 1 KiB at once, then a piece whenever one has left at its pace; a backlog
// outlasts its message. After a hardware port's send, the next delay counts from the moment the
// last byte leaves the wire, so that the device's quiet time starts then, at half the wire's pace
// when asked to go twice as slowly. A stop while pacing ends the message with F7.
TEST(AlsaSend, PacesToItsBacklogWaitsOutTheWireAndEndsAStoppedMessageWithF7)
{
    const Opened program = open();
    RecordingClock clock;
    std::vector<std::int64_t> times; // µs
    program.sequencer->afterPiece = [&](std::size_t) { times.push_back(sinceStart(clock.now())); };
    ASSERT_TRUE(program.port->send(0, sysex(2000), clock).ok());
    ASSERT_TRUE(program.port->send(0, sysex(256), clock).ok());
    // 256 bytes take 8 ms at 32,000 bytes a second; the last piece of 208 bytes needs less room.
    EXPECT_EQ(times, (std::vector<std::int64_t> { 0, 0, 0, 0, 8000, 16000, 24000, 30500, 38500 }));

    const Opened card
        = open(port(20, 0, "UM-ONE", "UM-ONE MIDI 1", Writable, SND_SEQ_PORT_TYPE_MIDI_GENERIC, 1));
    RecordingClock wire;
    ASSERT_TRUE(card.port->send(0, sysex(600), wire).ok());
    // 11 bits a byte at 31,250 baud; 600 bytes fit the backlog, so the send itself waits not.
    EXPECT_EQ(sinceStart(wire.now()), 0);
    EXPECT_EQ(sinceStart(card.port->nextDelayFrom(wire)), 600 * 11 * 32);
    // Twice as slow on request: the wire is fed at half its pace.
    ASSERT_TRUE(wire.sleepUntil(card.port->nextDelayFrom(wire)));
    card.port->setSlower(2);
    ASSERT_TRUE(card.port->send(0, sysex(600), wire).ok());
    EXPECT_EQ(sinceStart(card.port->nextDelayFrom(wire)), 3 * 600 * 11 * 32);

    const Opened stopped = open();
    RecordingClock quitting;
    quitting.stopAt = 4; // the first four pieces fit the backlog, the fifth waits
    const auto result = stopped.port->send(0, sysex(2000), quitting);
    EXPECT_EQ(result.error, SendError::Stopped);
    EXPECT_EQ(result.bytesSent, 4u * 256);
    ASSERT_EQ(stopped.sequencer->pieces.size(), 5u);
    EXPECT_EQ(stopped.sequencer->pieces.back(), Bytes { 0xF7 });
}

// Before each piece, not only after a failure: the address must still hold the port chosen, and
// must not have been left by its client (a device unplugged and plugged in again, or another of
// the same name). A swapped device gets nothing more, not even an F7. Whatever came and went
// before the first byte harms nothing.
TEST(AlsaSend, ADeviceSwappedOrGoneAtItsAddressGetsNothingMoreEvenWhenHeld)
{
    timing::SteadyClock clock;
    // Whether the client's end is announced, and whether the port at the address then has another
    // name: the same device plugged in again, another device, another that came unannounced (the
    // announcements were lost).
    for (const auto& [announced, renamed] :
        { std::pair { true, false }, { true, true }, { false, true } }) {
        SCOPED_TRACE(std::to_string(announced) + std::to_string(renamed));
        const Opened opened = open();
        FakeSequencer& sequencer = *opened.sequencer;
        sequencer.departed = true;
        ASSERT_TRUE(opened.port->send(0, sysex(300), clock).ok());
        sequencer.afterPiece = [&](std::size_t pieces) {
            if (pieces == 4) {
                sequencer.departed = announced;
                if (renamed)
                    sequencer.synth.clientName = "Other";
            }
        };
        const std::string why = renamed ? "its place is now taken by \"Other: in\""
                                        : "the destination was closed or unplugged";
        const auto cut = opened.port->send(0, sysex(2000), clock);
        EXPECT_EQ(cut.error, SendError::DestinationGone);
        EXPECT_EQ(sequencer.pieces.size(), 4u) << "no F7 to the device that took the place";
        EXPECT_EQ(cut.reason,
            "Sending to \"Synth: in\" failed: " + why + " (512 of 2000 bytes went out).");
        sequencer.afterPiece = nullptr;
        EXPECT_EQ(opened.port->send(0, sysex(10), clock).error, SendError::DestinationGone);
        EXPECT_EQ(sequencer.pieces.size(), 4u);

        // Listed anew, another device at the address is a destination of its own; the same one
        // again may have the next update, not the rest of this one.
        sequencer.departed = false;
        opened.client->refreshDestinations();
        const int connects = sequencer.connects;
        EXPECT_EQ(opened.port->send(0, sysex(10), clock).ok(), renamed);
        opened.port->endUpdate();
        EXPECT_TRUE(opened.port->send(0, sysex(10), clock).ok());
        EXPECT_EQ(sequencer.connects, connects + (renamed ? 2 : 1)) << "each subscribed anew";
    }
}

// Other programs subscribed to the destination are named, Morvex's own port not among them. One
// that subscribes during a message stops it before the next piece, closed with F7; once the
// person agreed to share the destination, sends go on.
TEST(AlsaSend, AnotherSenderStopsTheMessageBeforeItsNextPieceUnlessShared)
{
    const Opened opened = open();
    FakeSequencer& sequencer = *opened.sequencer;
    timing::SteadyClock clock;
    sequencer.others = { port(Own + 2, 1, "Clock", "Clock out") };
    sequencer.subscribers = { { Own, 0 } };
    ASSERT_TRUE(opened.port->send(0, sysex(300), clock).ok());

    sequencer.afterPiece = [&](std::size_t pieces) {
        if (pieces == 5)
            sequencer.subscribers = { { Own, 0 }, { Own + 2, 1 }, { Own + 3, 0 } };
    };
    const auto cut = opened.port->send(0, sysex(2000), clock);
    EXPECT_EQ(cut.error, SendError::Shared);
    ASSERT_EQ(sequencer.pieces.size(), 6u);
    EXPECT_EQ(sequencer.pieces.back(), Bytes { 0xF7 });
    EXPECT_EQ(cut.reason,
        "Sending to \"Synth: in\" stopped: \"Clock: out\" and \"131:0\" began to send to it too, "
        "and their messages would be mixed into the update (768 of 2000 bytes went out).");

    opened.port->shareDestination();
    sequencer.afterPiece = nullptr;
    EXPECT_TRUE(opened.port->send(0, sysex(2000), clock).ok());
}

// A program that takes 50 ms over each event gets every piece, as slowly as it reads: a piece goes
// only when its input queue has room for it within the window (eight pieces, 88 cells of its 200).
// One that reads nothing for a while has stopped reading: the message ends there with F7.
TEST(AlsaSend, APieceToAProgramWaitsForRoomInItsInputQueue)
{
    const Opened opened = open();
    FakeSequencer& sequencer = *opened.sequencer;
    RecordingClock clock;
    sequencer.queue = InputQueue { 200, 0 };
    int most = 0;
    sequencer.afterPiece = [&](std::size_t) {
        sequencer.queue->used += cellsFor(PieceSize);
        most = std::max(most, sequencer.queue->used);
    };
    auto readAt = clock.now();
    sequencer.reader = [&](InputQueue& queue) {
        for (; clock.now() - readAt >= std::chrono::milliseconds(50) && queue.used > 0;
             readAt += std::chrono::milliseconds(50))
            queue.used -= cellsFor(PieceSize);
        if (queue.used == 0)
            readAt = clock.now();
    };
    const auto result = opened.port->send(0, sysex(32 * 256), clock);
    ASSERT_TRUE(result.ok()) << result.reason;
    EXPECT_EQ(sequencer.pieces.size(), 32u);
    EXPECT_EQ(most, ProgramWindow);
    EXPECT_GE(sinceStart(clock.now()), 24 * 50'000) << "as fast as the program reads, not faster";

    sequencer.pieces.clear();
    sequencer.reader = nullptr;
    sequencer.queue->used = 0;
    const auto stuck = opened.port->send(0, sysex(32 * 256), clock);
    EXPECT_EQ(stuck.error, SendError::Overloaded);
    EXPECT_EQ(stuck.bytesSent, 8u * 256);
    ASSERT_EQ(sequencer.pieces.size(), 9u);
    EXPECT_EQ(sequencer.pieces.back(), Bytes { 0xF7 });
}

} // namespace
