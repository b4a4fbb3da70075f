// The ALSA backend's rules through a sequencer and a clock of the test's own: the build machines
// have no sequencer, and pacing is checked against recorded time, never slept.

#include "Alsa.h"

#include <alsa/asoundlib.h>
#include <cerrno>
#include <gtest/gtest.h>
#include <map>

namespace {

using midi::alsa::Address;
using midi::alsa::PortInfo;

constexpr unsigned Writable = SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE;
constexpr unsigned Midi = SND_SEQ_PORT_TYPE_MIDI_GENERIC;
constexpr int Own = 128;

struct FakeClock final : midi::Clock {
    TimePoint time {};
    TimePoint now() const override { return time; }
    void sleepUntil(TimePoint when) override { time = std::max(time, when); }
};

struct Piece {
    Address to;
    std::vector<std::uint8_t> bytes;
    midi::Clock::TimePoint at;
};

// Records what reaches it; fails the calls named in failures (counted from 0) with their errno.
struct FakeSequencer final : midi::alsa::Sequencer {
    explicit FakeSequencer(const FakeClock& clock)
        : clock(clock)
    {
    }
    int ownClient() const override { return Own; }
    std::vector<PortInfo> ports() override { return listed; }
    int createPort(const std::string&) override { return 0; }
    void deletePort(int) override { }
    int connect(int, Address) override { return ++connects, 0; }
    int disconnect(int, Address) override { return 0; }
    int sendSysex(int, Address to, std::span<const std::uint8_t> piece) override
    {
        if (const auto failure = failures.find(calls++); failure != failures.end())
            return -failure->second;
        pieces.push_back({ to, { piece.begin(), piece.end() }, clock.now() });
        return 0;
    }

    const FakeClock& clock;
    std::vector<PortInfo> listed;
    std::map<int, int> failures;
    int calls = 0;
    int connects = 0;
    std::vector<Piece> pieces;
};

PortInfo port(int client, int number, std::string clientName, std::string portName,
    unsigned capability = Writable, unsigned type = Midi, int card = -1)
{
    return { { client, number }, std::move(clientName), std::move(portName), capability, type,
        client < Own, card };
}

std::vector<std::uint8_t> sysex(std::size_t size)
{
    std::vector<std::uint8_t> bytes(size, 0x11);
    bytes.front() = 0xF0;
    bytes.back() = 0xF7;
    return bytes;
}

class AlsaSend : public ::testing::Test {
protected:
    AlsaSend()
    {
        auto clock = std::make_unique<FakeClock>();
        mClock = clock.get();
        auto sequencer = std::make_unique<FakeSequencer>(*clock);
        mSequencer = sequencer.get();
        mSequencer->listed = { port(14, 0, "Midi Through", "Midi Through Port-0"),
            port(20, 0, "UM-ONE", "UM-ONE MIDI 1", Writable, Midi, 1),
            port(Own + 1, 0, "Synth", "in") };
        mClient = midi::alsa::openClient(std::move(sequencer), std::move(clock));
        mPort = mClient->createOutputPort("Morvex Output Port").port;
    }

    static constexpr std::size_t Hardware = 0;
    static constexpr std::size_t Software = 2;

    FakeClock* mClock;
    FakeSequencer* mSequencer;
    std::unique_ptr<midi::Client> mClient;
    std::unique_ptr<midi::OutputPort> mPort;
};

TEST(AlsaDestinations, AreWritableMidiPortsOfOthersHardwareFirst)
{
    const auto targets = midi::alsa::listTargets(
        { port(0, 1, "System", "Announce"), port(14, 0, "Midi Through", "Midi Through Port-0"),
            port(20, 0, "UM-ONE", "UM-ONE MIDI 1", Writable, Midi, 1),
            port(20, 1, "UM-ONE", "Out only", SND_SEQ_PORT_CAP_READ),
            port(20, 2, "UM-ONE", "No subs", SND_SEQ_PORT_CAP_WRITE),
            port(Own, 0, "Morvex", "Morvex Output Port"), port(Own + 1, 0, "Synth", "in"),
            port(Own + 1, 1, "Synth", "hidden", Writable | SND_SEQ_PORT_CAP_NO_EXPORT),
            port(Own + 1, 2, "Synth", "audio", Writable, 0), port(Own + 2, 0, "Synth", "in") },
        Own);
    std::vector<std::string> names;
    for (const auto& target : targets)
        names.push_back(target.destination.name);
    EXPECT_EQ(names,
        (std::vector<std::string> {
            "UM-ONE: MIDI 1", "Midi Through: Port-0", "Synth: in", "Synth: in" }));
    EXPECT_TRUE(targets[0].hardware);
    EXPECT_FALSE(targets[1].hardware);
}

TEST_F(AlsaSend, SplitsIntoPiecesThatRejoinWithF0FirstAndF7Last)
{
    for (const std::size_t size : { 2u, 255u, 256u, 257u, 1000u }) {
        mSequencer->pieces.clear();
        const auto message = sysex(size);
        ASSERT_TRUE(mPort->send(Software, message).ok());
        std::vector<std::uint8_t> joined;
        for (const auto& piece : mSequencer->pieces) {
            EXPECT_LE(piece.bytes.size(), 256u);
            EXPECT_EQ(piece.to, (Address { Own + 1, 0 })) << "addressed, never to subscribers";
            joined.insert(joined.end(), piece.bytes.begin(), piece.bytes.end());
        }
        EXPECT_EQ(mSequencer->pieces.size(), (size + 255) / 256) << size;
        EXPECT_EQ(joined, message) << size;
    }
}

TEST_F(AlsaSend, HardwareBacklogNeverPassesOneKibibyte)
{
    const auto message = sysex(16 * 1024);
    ASSERT_TRUE(mPort->send(Hardware, message).ok());
    ASSERT_TRUE(mPort->send(Hardware, message).ok()) << "the second starts on the first's backlog";
    // The wire empties at 31,250 baud, 11 bits a byte; the backlog is what went and has not left.
    constexpr double Rate = 31250.0 / 11;
    double backlog = 0;
    auto last = mSequencer->pieces.front().at;
    for (const auto& piece : mSequencer->pieces) {
        backlog = std::max(
            0.0, backlog - std::chrono::duration<double>(piece.at - last).count() * Rate);
        backlog += static_cast<double>(piece.bytes.size());
        last = piece.at;
        EXPECT_LE(backlog, 1024.01);
    }
    const double seconds = std::chrono::duration<double>(
        mSequencer->pieces.back().at - mSequencer->pieces.front().at)
                               .count();
    // Everything but the last kibibyte has left the wire before the last piece goes.
    EXPECT_NEAR(seconds, (2.0 * message.size() - 1024) / Rate, 0.2);
}

TEST_F(AlsaSend, SoftwareGetsOnePieceAMillisecond)
{
    ASSERT_TRUE(mPort->send(Software, sysex(2560)).ok());
    const auto& pieces = mSequencer->pieces;
    for (std::size_t i = 1; i < pieces.size(); ++i)
        EXPECT_GE(pieces[i].at - pieces[i - 1].at, std::chrono::microseconds(999));
}

TEST_F(AlsaSend, FailureOnPieceKStopsEndsWithF7AndSaysHowMuchWent)
{
    mSequencer->failures = { { 3, ENOENT } };
    const auto result = mPort->send(Hardware, sysex(2000));
    EXPECT_EQ(result.error, midi::SendError::DestinationGone);
    EXPECT_EQ(result.bytesSent, 3u * 256);
    EXPECT_NE(result.reason.find("768 of 2000 bytes"), std::string::npos) << result.reason;
    ASSERT_EQ(mSequencer->pieces.size(), 4u);
    EXPECT_EQ(mSequencer->pieces.back().bytes, std::vector<std::uint8_t> { 0xF7 });
}

TEST_F(AlsaSend, ErrorsAreNamedForWhatTheyMean)
{
    const std::pair<int, midi::SendError> cases[] = { { EAGAIN, midi::SendError::Overloaded },
        { ENOMEM, midi::SendError::Overloaded }, { EPERM, midi::SendError::NotConnected },
        { ENXIO, midi::SendError::DestinationGone }, { EIO, midi::SendError::Failed } };
    for (const auto& [error, meaning] : cases) {
        mSequencer->failures = { { mSequencer->calls, error } };
        const auto result = mPort->send(Software, sysex(100));
        EXPECT_EQ(result.error, meaning) << error;
        EXPECT_FALSE(result.reason.empty());
    }
    EXPECT_EQ(mPort->send(3, sysex(10)).error, midi::SendError::NoSuchDestination);
}

TEST_F(AlsaSend, ClosedDeviceIsReopenedOnceAndOnlyBeforeTheFirstByte)
{
    mSequencer->failures = { { 0, ENODEV } };
    EXPECT_TRUE(mPort->send(Hardware, sysex(600)).ok());
    EXPECT_EQ(mSequencer->connects, 2);

    mSequencer->failures = { { mSequencer->calls, ENODEV }, { mSequencer->calls + 1, ENODEV } };
    EXPECT_EQ(mPort->send(Hardware, sysex(600)).error, midi::SendError::DestinationGone);

    mSequencer->failures = { { mSequencer->calls + 1, ENODEV } };
    const auto result = mPort->send(Hardware, sysex(600));
    EXPECT_EQ(result.error, midi::SendError::DestinationGone);
    EXPECT_EQ(result.bytesSent, 256u);
}

} // namespace
