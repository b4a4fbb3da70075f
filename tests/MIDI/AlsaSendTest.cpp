// The ALSA backend's cases that a real sequencer cannot be made to show (tests/alsa has the
// others): which ports count as destinations, a failure on a given piece, a device closed before
// the first byte. Through a sequencer of the test's own, with a program's pace: the waits are
// short.

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
constexpr int Own = 128;

PortInfo port(int client, int number, std::string clientName, std::string portName,
    unsigned capability = Writable, unsigned type = SND_SEQ_PORT_TYPE_MIDI_GENERIC, int card = -1)
{
    return { { client, number }, std::move(clientName), std::move(portName), capability, type,
        client < Own, card };
}

// Microseconds, to the nearest, since the start of a clock of the test's own.
std::int64_t sinceStart(const timing::Clock& clock)
{
    return std::chrono::round<microseconds>(clock.now() - timing::Clock::TimePoint {}).count();
}

// One port, a program's unless the test makes it a card's; fails the sends named in failures
// (counted from 0) with their errno and records the pieces of the others, with when they went by
// clock when there is one.
struct FakeSequencer final : Sequencer {
    int ownClient() const override { return Own; }
    std::vector<PortInfo> ports() override { return { synth }; }
    int createPort(const std::string&) override { return 0; }
    void deletePort(int) override { }
    std::optional<PortInfo> port(Address) override { return synth; }
    int connect(int, Address) override { return ++connects, 0; }
    int disconnect(int, Address) override { return 0; }
    std::unique_ptr<Watch> watch(std::function<void()>, std::string&) override { return {}; }
    int sendSysex(int, Address, std::span<const std::uint8_t> piece) override
    {
        if (const auto failure = failures.find(calls++); failure != failures.end())
            return -failure->second;
        pieces.emplace_back(piece.begin(), piece.end());
        if (clock)
            times.push_back(sinceStart(*clock));
        return 0;
    }

    PortInfo synth = ::port(Own + 1, 0, "Synth", "in");
    const timing::Clock* clock = nullptr;
    std::vector<std::int64_t> times; // µs
    std::map<int, int> failures;
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

Opened open(std::optional<PortInfo> synth = std::nullopt)
{
    auto owned = std::make_unique<FakeSequencer>();
    FakeSequencer* sequencer = owned.get();
    if (synth)
        sequencer->synth = *synth;
    auto client = openClient(std::move(owned));
    auto port = client->createOutputPort("Morvex Output Port").port;
    return { sequencer, std::move(client), std::move(port) };
}

TEST(AlsaDestinations, AreWritableMidiPortsOfOthersHardwareFirst)
{
    const auto targets = listDestinations(
        { port(0, 1, "System", "Announce"), port(14, 0, "Midi Through", "Midi Through Port-0"),
            port(20, 0, "UM-ONE", "UM-ONE MIDI 1", Writable, SND_SEQ_PORT_TYPE_MIDI_GENERIC, 1),
            port(20, 2, "UM-ONE", "No subs", SND_SEQ_PORT_CAP_WRITE),
            port(Own, 0, "Morvex", "Morvex Output Port"), port(Own + 1, 0, "Synth", "in"),
            port(Own + 1, 1, "Synth", "hidden", Writable | SND_SEQ_PORT_CAP_NO_EXPORT),
            port(Own + 1, 2, "Synth", "audio", Writable, 0),
            port(Own + 3, 0, "Keys", "Keys Bluetooth", Writable,
                SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_HARDWARE) },
        Own);
    // A kernel port, or one that says it is hardware, is paced as a wire.
    std::vector<std::string> listed;
    for (const auto& target : targets)
        listed.push_back(target.destination.name + (target.hardware ? ", paced" : ""));
    EXPECT_EQ(listed,
        (std::vector<std::string> { "UM-ONE: MIDI 1, paced", "Midi Through: Port-0, paced",
            "Synth: in", "Keys: Bluetooth, paced" }));
}

// A failure on a piece ends the message with F7 and is named for what it means. A device closed
// before the first byte is reopened, once: nothing of the message is lost by that.
TEST(AlsaSend, AFailureEndsTheMessageWithF7AndADeviceClosedBeforeTheFirstByteIsReopenedOnce)
{
    const Opened opened = open();
    FakeSequencer& sequencer = *opened.sequencer;
    const auto& output = opened.port;
    timing::SteadyClock clock;
    const std::pair<int, SendError> cases[]
        = { { ENOENT, SendError::DestinationGone }, { ENXIO, SendError::DestinationGone },
              { ENODEV, SendError::DestinationGone }, { EPERM, SendError::NotConnected },
              { EAGAIN, SendError::Overloaded }, { ENOMEM, SendError::Overloaded },
              { EINVAL, SendError::DestinationGone }, { EIO, SendError::Failed } };
    for (const auto& [error, meaning] : cases) {
        sequencer.pieces.clear();
        sequencer.failures = { { sequencer.calls + 3, error } };
        const auto result = output->send(0, sysex(2000), clock);
        EXPECT_EQ(result.error, meaning) << error;
        EXPECT_EQ(result.bytesSent, 3u * 256) << "a device never reopens once bytes went";
        ASSERT_EQ(sequencer.pieces.size(), 4u) << error;
        EXPECT_EQ(sequencer.pieces.back(), Bytes { 0xF7 });
    }
    EXPECT_EQ(output->send(1, sysex(10), clock).error, SendError::NoSuchDestination);

    sequencer.failures = { { sequencer.calls, ENODEV } };
    const int connects = sequencer.connects;
    EXPECT_TRUE(output->send(0, sysex(600), clock).ok());
    EXPECT_EQ(sequencer.connects, connects + 1);
    sequencer.failures = { { sequencer.calls, ENODEV }, { sequencer.calls + 1, ENODEV } };
    EXPECT_EQ(output->send(0, sysex(600), clock).error, SendError::DestinationGone);
}

// A program's port takes 1 KiB at once, then a piece whenever one has left at its pace; a backlog
// outlasts its message. A hardware port's send returns once the last byte has left the wire, so
// that the device's quiet time starts then, at half the wire's pace when asked to go twice as
// slowly. A stop while pacing ends the message with F7.
TEST(AlsaSend, PacesToItsBacklogWaitsOutTheWireAndEndsAStoppedMessageWithF7)
{
    const Opened program = open();
    RecordingClock clock;
    program.sequencer->clock = &clock;
    ASSERT_TRUE(program.port->send(0, sysex(2000), clock).ok());
    ASSERT_TRUE(program.port->send(0, sysex(256), clock).ok());
    // 256 bytes take 8 ms at 32,000 bytes a second; the last piece of 208 bytes needs less room.
    EXPECT_EQ(program.sequencer->times,
        (std::vector<std::int64_t> { 0, 0, 0, 0, 8000, 16000, 24000, 30500, 38500 }));

    const Opened card
        = open(port(20, 0, "UM-ONE", "UM-ONE MIDI 1", Writable, SND_SEQ_PORT_TYPE_MIDI_GENERIC, 1));
    RecordingClock wire;
    ASSERT_TRUE(card.port->send(0, sysex(600), wire).ok());
    // 11 bits a byte at 31,250 baud.
    EXPECT_EQ(sinceStart(wire), 600 * 11 * 32);
    // Twice as slow on request: the wire is fed at half its pace.
    card.port->setSlower(2);
    ASSERT_TRUE(card.port->send(0, sysex(600), wire).ok());
    EXPECT_EQ(sinceStart(wire), 3 * 600 * 11 * 32);

    const Opened stopped = open();
    RecordingClock quitting;
    quitting.stopAt = 4; // the first four pieces fit the backlog, the fifth waits
    const auto result = stopped.port->send(0, sysex(2000), quitting);
    EXPECT_EQ(result.error, SendError::Stopped);
    EXPECT_EQ(result.bytesSent, 4u * 256);
    ASSERT_EQ(stopped.sequencer->pieces.size(), 5u);
    EXPECT_EQ(stopped.sequencer->pieces.back(), Bytes { 0xF7 });
}

} // namespace
