// The ALSA backend's rules through a sequencer and a clock of the test's own: the build machines
// have no sequencer, and pacing is checked against recorded time, never slept.

#include "Alsa.h"

#include <alsa/asoundlib.h>
#include <cerrno>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <optional>

namespace {

using midi::SendError;
using midi::alsa::Address;
using Bytes = std::vector<std::uint8_t>;

constexpr unsigned Writable = SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE;
constexpr int Own = 128;

// Time passes only by its sleeps; a stop requested at stopAt cuts the sleep that reaches it.
struct FakeClock final : timing::Clock {
    TimePoint time {};
    std::optional<TimePoint> stopAt;
    TimePoint now() const override { return time; }
    bool sleepUntil(TimePoint when) override
    {
        if (stopAt && when >= *stopAt) {
            time = std::max(time, *stopAt);
            return false;
        }
        time = std::max(time, when);
        return true;
    }
    bool stopRequested() const override { return stopAt && time >= *stopAt; }
};

struct Piece {
    Address to;
    Bytes bytes;
    timing::Clock::TimePoint at;
};

// Records what reaches it; fails the sends named in failures (counted from 0) with their errno.
struct FakeSequencer final : midi::alsa::Sequencer {
    int ownClient() const override { return Own; }
    std::vector<midi::alsa::PortInfo> ports() override { return listed; }
    int createPort(const std::string&) override { return 0; }
    void deletePort(int) override { }
    std::optional<midi::alsa::PortInfo> port(Address address) override
    {
        for (const auto& port : listed)
            if (port.address == address)
                return port;
        return std::nullopt;
    }
    int connect(int, Address) override { return ++connects, -connectError; }
    std::unique_ptr<midi::alsa::Watch> watch(std::function<void()>, std::string&) override
    {
        return nullptr;
    }
    int disconnect(int, Address) override { return 0; }
    int sendSysex(int, Address to, std::span<const std::uint8_t> piece) override
    {
        if (const auto failure = failures.find(calls++); failure != failures.end())
            return -failure->second;
        pieces.push_back({ to, { piece.begin(), piece.end() }, clock->now() });
        return 0;
    }

    const FakeClock* clock = nullptr;
    std::vector<midi::alsa::PortInfo> listed;
    std::map<int, int> failures;
    int connectError = 0;
    int calls = 0;
    int connects = 0;
    std::vector<Piece> pieces;
};

midi::alsa::PortInfo port(int client, int number, std::string clientName, std::string portName,
    unsigned capability = Writable, unsigned type = SND_SEQ_PORT_TYPE_MIDI_GENERIC, int card = -1)
{
    return { { client, number }, std::move(clientName), std::move(portName), capability, type,
        client < Own, card };
}

Bytes sysex(std::size_t size)
{
    Bytes bytes(size, 0x11);
    bytes.front() = 0xF0;
    bytes.back() = 0xF7;
    return bytes;
}

// Destination 0 is a card's port (hardware pacing), 1 a program's (software pacing).
class AlsaSend : public ::testing::Test {
protected:
    AlsaSend()
    {
        auto sequencer = std::make_unique<FakeSequencer>();
        sequencer->clock = &mClock;
        sequencer->listed = mListed;
        mSequencer = sequencer.get();
        mClient = midi::alsa::openClient(std::move(sequencer));
        mPort = mClient->createOutputPort("Morvex Output Port").port;
    }

    const std::vector<midi::alsa::PortInfo> mListed {
        port(20, 0, "UM-ONE", "UM-ONE MIDI 1", Writable, SND_SEQ_PORT_TYPE_MIDI_GENERIC, 1),
        port(Own + 1, 0, "Synth", "in")
    };
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
    std::vector<std::string> names;
    std::vector<bool> paced;
    for (const auto& target : targets) {
        names.push_back(target.destination.name);
        paced.push_back(target.hardware);
    }
    EXPECT_EQ(names,
        (std::vector<std::string> { "UM-ONE: MIDI 1", "Midi Through: Port-0", "Synth: in",
            "Synth: in", "Keys: Bluetooth" }));
    EXPECT_EQ(paced, (std::vector<bool> { true, true, false, false, true }))
        << "a kernel port, or one that says it is hardware, is paced as a wire";
}

TEST_F(AlsaSend, SplitsIntoPiecesThatRejoinWithF0FirstAndF7Last)
{
    for (const std::size_t size : { 2u, 255u, 256u, 257u, 1000u }) {
        mSequencer->pieces.clear();
        const auto message = sysex(size);
        ASSERT_TRUE(mPort->send(1, message, mClock).ok());
        const auto& pieces = mSequencer->pieces;
        Bytes joined;
        for (std::size_t i = 0; i < pieces.size(); ++i) {
            EXPECT_LE(pieces[i].bytes.size(), 256u);
            EXPECT_EQ(pieces[i].to, (Address { Own + 1, 0 })) << "addressed, never to subscribers";
            joined.insert(joined.end(), pieces[i].bytes.begin(), pieces[i].bytes.end());
        }
        EXPECT_EQ(pieces.size(), (size + 255) / 256) << size;
        EXPECT_EQ(joined, message) << size;
    }
}

// A card's buffer holds 4 KiB and the wire empties it at 31,250 baud, 11 bits a byte; a program's
// input queue is cleared whole when it overflows. At most 1 KiB, and one piece, may wait for them.
TEST_F(AlsaSend, PacingKeepsTheBacklogWithinWhatTheReceiverHolds)
{
    const struct {
        std::size_t destination;
        double bytesPerSecond;
        double limit;
    } cases[] = { { 0, 31250.0 / 11, 1024 }, { 1, 256000, 256 } };
    const auto message = sysex(16 * 1024);
    for (const auto& c : cases) {
        mSequencer->pieces.clear();
        ASSERT_TRUE(mPort->send(c.destination, message, mClock).ok());
        ASSERT_TRUE(mPort->send(c.destination, message, mClock).ok())
            << "starts on the first's backlog";
        // The backlog is what went and has not left yet.
        const auto& pieces = mSequencer->pieces;
        double backlog = 0;
        for (std::size_t i = 0; i < pieces.size(); ++i) {
            const auto gap = i > 0 ? pieces[i].at - pieces[i - 1].at : std::chrono::nanoseconds(0);
            backlog = std::max(
                0.0, backlog - std::chrono::duration<double>(gap).count() * c.bytesPerSecond);
            backlog += static_cast<double>(pieces[i].bytes.size());
            EXPECT_LE(backlog, c.limit + 0.01) << c.destination;
        }
        // Everything but the last piece's worth has left before the last piece goes.
        const double expected = (2.0 * message.size() - c.limit) / c.bytesPerSecond;
        EXPECT_NEAR(std::chrono::duration<double>(pieces.back().at - pieces.front().at).count(),
            expected, expected / 50)
            << c.destination;
    }
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
        EXPECT_EQ(mSequencer->pieces.back().bytes, Bytes { 0xF7 });
    }
    EXPECT_EQ(mPort->send(2, sysex(10), mClock).error, SendError::NoSuchDestination);
}

// A hardware send returns when its bytes have left the wire, so the delay after it is quiet time
// for the device; a stop ends a long message at once, closed with F7.
TEST_F(AlsaSend, AHardwareSendLastsItsWireTimeAndAStopCutsItShort)
{
    const auto start = mClock.time;
    ASSERT_TRUE(mPort->send(0, sysex(2840), mClock).ok());
    EXPECT_NEAR(
        std::chrono::duration<double>(mClock.time - start).count(), 11.0 * 2840 / 31250, 0.001);

    mClock.stopAt = mClock.time + std::chrono::seconds(1);
    const auto result = mPort->send(0, sysex(20000), mClock);
    EXPECT_EQ(result.error, SendError::Stopped);
    EXPECT_LT(result.bytesSent, 20000u);
    EXPECT_EQ(mSequencer->pieces.back().bytes, Bytes { 0xF7 });
}

// The list is read at start-up: before connecting, the address must still hold what was listed.
// A connection someone else already made is no failure.
TEST_F(AlsaSend, ConnectingChecksTheDeviceIsStillThereAndSaysWhatStopsIt)
{
    const struct {
        const char* name;
        std::function<void()> change;
        SendError error;
        const char* reason;
    } cases[] = {
        { "someone else connected us", [this] { mSequencer->connectError = EBUSY; },
            SendError::None, "" },
        { "unplugged", [this] { mSequencer->listed.pop_back(); }, SendError::DestinationGone,
            "\"Synth: in\" is no longer there: it was unplugged or closed." },
        { "replugged as another", [this] { mSequencer->listed.back().clientName = "Drum Machine"; },
            SendError::DestinationGone,
            "\"Synth: in\" is no longer there: its place is now taken by \"Drum Machine: in\"." },
        { "raw device held by another program", [this] { mSequencer->connectError = EAGAIN; },
            SendError::NotConnected,
            "Cannot connect to \"Synth: in\": another program is using the device; close that "
            "program and try again." },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        mSequencer->listed = mListed;
        mSequencer->connectError = 0;
        ASSERT_TRUE(mPort->send(0, sysex(10), mClock).ok()) << "first connects to destination 0";
        c.change();
        const auto result = mPort->send(1, sysex(10), mClock);
        EXPECT_EQ(result.error, c.error);
        EXPECT_EQ(result.reason, c.reason);
    }
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
