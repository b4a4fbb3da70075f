// The ALSA backend's cases that a real sequencer cannot be made to show (tests/alsa has the
// others): which ports count as destinations, a failure on a given piece, a device closed before
// the first byte. Through a sequencer of the test's own; the clock passes only by its sleeps.

#include "Alsa.h"
#include "support/Bytes.h"

#include <alsa/asoundlib.h>
#include <cerrno>
#include <gtest/gtest.h>
#include <map>
#include <optional>

namespace {

using midi::SendError;
using midi::alsa::Address;
using testsupport::Bytes;
using testsupport::sysex;

constexpr unsigned Writable = SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE;
constexpr int Own = 128;

struct FakeClock final : timing::Clock {
    TimePoint time {};
    TimePoint now() const override { return time; }
    bool sleepUntil(TimePoint when) override
    {
        time = std::max(time, when);
        return true;
    }
    bool stopRequested() const override { return false; }
};

// Records the pieces that reach it; fails the sends named in failures (counted from 0) with their
// errno.
struct FakeSequencer final : midi::alsa::Sequencer {
    int ownClient() const override { return Own; }
    std::vector<midi::alsa::PortInfo> ports() override { return listed; }
    int createPort(const std::string&) override { return 0; }
    void deletePort(int) override { }
    std::optional<midi::alsa::PortInfo> port(Address address) override
    {
        const auto found = std::ranges::find(listed, address, &midi::alsa::PortInfo::address);
        return found == listed.end() ? std::nullopt : std::optional(*found);
    }
    int connect(int, Address) override { return ++connects, 0; }
    std::unique_ptr<midi::alsa::Watch> watch(std::function<void()>, std::string&) override
    {
        return nullptr;
    }
    int disconnect(int, Address) override { return 0; }
    int sendSysex(int, Address, std::span<const std::uint8_t> piece) override
    {
        if (const auto failure = failures.find(calls++); failure != failures.end())
            return -failure->second;
        pieces.emplace_back(piece.begin(), piece.end());
        return 0;
    }

    std::vector<midi::alsa::PortInfo> listed;
    std::map<int, int> failures;
    int calls = 0;
    int connects = 0;
    std::vector<Bytes> pieces;
};

midi::alsa::PortInfo port(int client, int number, std::string clientName, std::string portName,
    unsigned capability = Writable, unsigned type = SND_SEQ_PORT_TYPE_MIDI_GENERIC, int card = -1)
{
    return { { client, number }, std::move(clientName), std::move(portName), capability, type,
        client < Own, card };
}

// One destination: a card's port.
class AlsaSend : public ::testing::Test {
protected:
    AlsaSend()
    {
        auto sequencer = std::make_unique<FakeSequencer>();
        sequencer->listed = { port(
            20, 0, "UM-ONE", "UM-ONE MIDI 1", Writable, SND_SEQ_PORT_TYPE_MIDI_GENERIC, 1) };
        mSequencer = sequencer.get();
        mClient = midi::alsa::openClient(std::move(sequencer));
        mPort = mClient->createOutputPort("Morvex Output Port").port;
    }

    FakeClock mClock;
    FakeSequencer* mSequencer;
    std::unique_ptr<midi::Client> mClient;
    std::unique_ptr<midi::OutputPort> mPort;
};

TEST(AlsaDestinations, AreWritableMidiPortsOfOthersHardwareFirst)
{
    const auto targets = midi::alsa::listDestinations(
        { port(0, 1, "System", "Announce"), port(14, 0, "Midi Through", "Midi Through Port-0"),
            port(20, 0, "UM-ONE", "UM-ONE MIDI 1", Writable, SND_SEQ_PORT_TYPE_MIDI_GENERIC, 1),
            port(20, 1, "UM-ONE", "Out only", SND_SEQ_PORT_CAP_READ),
            port(20, 2, "UM-ONE", "No subs", SND_SEQ_PORT_CAP_WRITE),
            port(Own, 0, "Morvex", "Morvex Output Port"), port(Own + 1, 0, "Synth", "in"),
            port(Own + 1, 1, "Synth", "hidden", Writable | SND_SEQ_PORT_CAP_NO_EXPORT),
            port(Own + 1, 2, "Synth", "audio", Writable, 0), port(Own + 2, 0, "Synth", "in"),
            port(Own + 3, 0, "Keys", "Keys Bluetooth", Writable,
                SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_HARDWARE) },
        Own);
    // A kernel port, or one that says it is hardware, is paced as a wire.
    std::vector<std::string> listed;
    for (const auto& target : targets)
        listed.push_back(target.destination.name + (target.hardware ? ", paced" : ""));
    EXPECT_EQ(listed,
        (std::vector<std::string> { "UM-ONE: MIDI 1, paced", "Midi Through: Port-0, paced",
            "Synth: in", "Synth: in", "Keys: Bluetooth, paced" }));
}

TEST_F(AlsaSend, FailureOnPieceKEndsWithF7AndIsNamedForWhatItMeans)
{
    const std::pair<int, SendError> cases[] = { { ENOENT, SendError::DestinationGone },
        { ENXIO, SendError::DestinationGone }, { ENODEV, SendError::DestinationGone },
        { EPERM, SendError::NotConnected }, { EAGAIN, SendError::Overloaded },
        { ENOMEM, SendError::Overloaded }, { EIO, SendError::Failed } };
    for (const auto& [error, meaning] : cases) {
        mSequencer->pieces.clear();
        mSequencer->failures = { { mSequencer->calls + 3, error } };
        const auto result = mPort->send(0, sysex(2000), mClock);
        EXPECT_EQ(result.error, meaning) << error;
        EXPECT_EQ(result.bytesSent, 3u * 256) << "a device never reopens once bytes went";
        EXPECT_NE(result.reason.find("768 of 2000 bytes"), std::string::npos) << result.reason;
        ASSERT_EQ(mSequencer->pieces.size(), 4u) << error;
        EXPECT_EQ(mSequencer->pieces.back(), Bytes { 0xF7 });
    }
    EXPECT_EQ(mPort->send(1, sysex(10), mClock).error, SendError::NoSuchDestination);
}

TEST_F(AlsaSend, DeviceClosedBeforeTheFirstByteIsReopenedOnce)
{
    mSequencer->failures = { { 0, ENODEV } };
    EXPECT_TRUE(mPort->send(0, sysex(600), mClock).ok());
    EXPECT_EQ(mSequencer->connects, 2);

    mSequencer->failures = { { mSequencer->calls, ENODEV }, { mSequencer->calls + 1, ENODEV } };
    EXPECT_EQ(mPort->send(0, sysex(600), mClock).error, SendError::DestinationGone);
}

} // namespace
