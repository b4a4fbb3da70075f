// The JACK output against a private server and a real receiving client. Times are measured and
// printed, never asserted: the machines are shared.

#include "MIDI/Midi.h"
#include "support/ChildProcess.h"
#include "support/JackReceiver.h"
#include "support/JackServer.h"
#include "support/TempDir.h"

#include <algorithm>
#include <cstdlib>
#include <gtest/gtest.h>
#include <iostream>
#include <jack/jack.h>
#include <optional>
#include <sstream>
#include <unistd.h>

namespace {

using testsupport::JackReceiver;

std::vector<std::uint8_t> sysex(std::size_t size, unsigned seed)
{
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<std::uint8_t>((i * 7 + seed) & 0x7F);
    bytes.front() = 0xF0;
    bytes.back() = 0xF7;
    return bytes;
}

// A missed deadline makes a send uncertain; under jackd -S nothing is lost by it, and the
// receiver checks the bytes.
bool handedOver(const midi::SendResult& result)
{
    return result.ok() || result.error == midi::SendError::Uncertain;
}

class JackOutput : public ::testing::Test {
protected:
    void SetUp() override
    {
        MORVEX_SKIP_WITHOUT_JACKD();
        ::setenv("MORVEX_MIDI", "jack", 1);
        mServer.emplace();
    }

    void TearDown() override { ::unsetenv("MORVEX_MIDI"); }

    // Opens Morvex's client and port now, so the destinations are those open at this moment.
    // Destinations are told apart by their place, never their names: JACK keeps pretty names in
    // one store for all of a user's servers, keyed by ids every fresh server hands out alike, so
    // a test on a server beside ours can rename our ports.
    void openMorvex(std::size_t destinations)
    {
        mClient = midi::Client::open("Morvex");
        ASSERT_EQ(mClient->serviceName(), "JACK") << mClient->problem();
        ASSERT_EQ(mClient->destinations().size(), destinations);
        auto created = mClient->createOutputPort("Morvex Output Port");
        ASSERT_TRUE(created.port) << created.error;
        mPort = std::move(created.port);
    }

    // Declared in the order they start; they stop the other way round: port, client, server.
    std::optional<testsupport::JackServer> mServer;
    std::unique_ptr<midi::Client> mClient;
    std::unique_ptr<midi::OutputPort> mPort;
    timing::SteadyClock mClock;
};

TEST(JackService, WithoutAServerThereIsNoServiceAndNoHang)
{
    ::setenv("MORVEX_MIDI", "jack", 1);
    ::setenv(
        "JACK_DEFAULT_SERVER", ("morvex-test-nobody-" + std::to_string(::getpid())).c_str(), 1);
    const auto client = midi::Client::open("Morvex");
    EXPECT_EQ(client->serviceName(), "none");
    EXPECT_NE(client->problem().find("no JACK server is running"), std::string::npos)
        << client->problem();
    EXPECT_TRUE(client->destinations().empty());
    EXPECT_FALSE(client->createOutputPort("Morvex Output Port").port);

    ::setenv("MORVEX_MIDI", "coreaudio", 1);
    EXPECT_NE(midi::Client::open("Morvex")->problem().find("MORVEX_MIDI"), std::string::npos);
    ::unsetenv("MORVEX_MIDI");
    ::unsetenv("JACK_DEFAULT_SERVER");
}

TEST_F(JackOutput, ListsEveryInputPortOnceInAStableOrderWithDuplicateNamesKept)
{
    JackReceiver first("first", "in", "Synth");
    JackReceiver second("second", "in", "Synth");
    JackReceiver plain("plain", "midi in");
    openMorvex(3); // not Morvex's own port
    std::vector<std::string> names;
    for (const auto& destination : mClient->destinations())
        names.push_back(destination.name);
    EXPECT_EQ(names, (std::vector<std::string> { "Synth", "Synth", "plain:midi in" }));
    const auto again = midi::Client::open("Morvex");
    for (std::size_t i = 0; i < names.size(); ++i)
        EXPECT_EQ(again->destinations().at(i).name, names[i]);
}

TEST_F(JackOutput, ThousandMessagesArriveWholeAndInOrder)
{
    JackReceiver receiver("receiver", "in");
    openMorvex(1);
    constexpr unsigned Count = 1000;
    std::vector<jack_time_t> sentAt;
    for (unsigned i = 0; i < Count; ++i) {
        sentAt.push_back(jack_get_time());
        const auto result = mPort->send(0, sysex(256, i), mClock);
        ASSERT_TRUE(handedOver(result)) << "message " << i << ": " << result.reason;
    }
    const auto& received = receiver.waitFor(Count);
    ASSERT_EQ(received.size(), Count);
    std::vector<std::uint64_t> latency;
    for (unsigned i = 0; i < Count; ++i) {
        ASSERT_EQ(received[i].bytes, sysex(256, i)) << "message " << i;
        latency.push_back(received[i].microseconds - sentAt[i]);
    }
    std::sort(latency.begin(), latency.end());
    std::cout << "send-to-arrival at period 32 (0.67 ms), microseconds: median "
              << latency[Count / 2] << ", max " << latency.back() << "\n";
}

TEST_F(JackOutput, LargestMessageArrivesWholeAndOneByteMoreIsRefusedAtOnce)
{
    JackReceiver receiver("receiver", "in");
    openMorvex(1);
    // JACK's limit is a property of the port's buffer: find it from above. Every refusal is
    // immediate and sends nothing.
    std::size_t size = 40000;
    midi::SendResult result = mPort->send(0, sysex(size, 1), mClock);
    while (result.error == midi::SendError::TooLarge && size > 256) {
        EXPECT_EQ(result.bytesSent, 0u);
        result = mPort->send(0, sysex(--size, 1), mClock);
    }
    ASSERT_TRUE(handedOver(result)) << result.reason;
    EXPECT_EQ(mPort->send(0, sysex(size + 1, 1), mClock).error, midi::SendError::TooLarge);
    const auto& received = receiver.waitFor(1);
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].bytes, sysex(size, 1));
    std::cout << "largest message that arrived whole: " << size << " bytes\n";
}

// Each is reported, never a hang: a hang would trip the test's time limit.
TEST_F(JackOutput, DestinationThatClosedIsReported)
{
    std::optional<JackReceiver> receiver(std::in_place, "receiver", "in");
    openMorvex(1);
    ASSERT_TRUE(handedOver(mPort->send(0, sysex(64, 0), mClock)));
    receiver.reset();
    const auto result = mPort->send(0, sysex(64, 1), mClock);
    EXPECT_TRUE(result.error == midi::SendError::DestinationGone
        || result.error == midi::SendError::NotConnected)
        << result.reason;
}

TEST_F(JackOutput, StoppedServerIsReportedAndStaysReported)
{
    JackReceiver receiver("receiver", "in");
    openMorvex(1);
    ASSERT_TRUE(handedOver(mPort->send(0, sysex(64, 0), mClock)));
    mServer->stopNow();
    const auto result = mPort->send(0, sysex(64, 1), mClock);
    EXPECT_FALSE(result.ok());
    EXPECT_EQ(mPort->send(0, sysex(64, 2), mClock).error, midi::SendError::ServiceStopped);
}

TEST_F(JackOutput, MonitorPrintsWhatArrivedWithItsCrc)
{
    testsupport::TempDir folder;
    const auto syx = folder.path() / "received.syx";
    const auto output = folder.path() / "monitor.txt";
    const auto lines = [&] {
        std::vector<std::string> all;
        std::istringstream text(testsupport::readText(output));
        for (std::string line; std::getline(text, line);)
            all.push_back(line);
        return all;
    };
    testsupport::ChildProcess monitor(
        { MORVEX_MONITOR, "--service", "jack", "--syx", syx.string() }, output);
    // Once it says where it listens, the monitor is the server's one destination.
    ASSERT_TRUE(testsupport::waitUntil(std::chrono::seconds(10),
        [&] { return testsupport::readText(output).find("listening on") != std::string::npos; }));
    openMorvex(1);
    std::vector<std::vector<std::uint8_t>> sent { sysex(2, 0), sysex(300, 1), sysex(5000, 2) };
    std::vector<std::uint8_t> all;
    for (const auto& message : sent) {
        ASSERT_TRUE(handedOver(mPort->send(0, message, mClock)));
        all.insert(all.end(), message.begin(), message.end());
    }
    // Lines appear within the monitor's 5 ms poll; give a loaded machine far longer.
    testsupport::waitUntil(std::chrono::seconds(5), [&] { return lines().size() > sent.size(); });
    EXPECT_EQ(monitor.stop(SIGTERM), 0) << "a clean exit on SIGTERM; it printed:\n"
                                        << testsupport::readText(output);
    const auto printed = lines();
    ASSERT_EQ(printed.size(), sent.size() + 1) << "one line to say where it listens, one a message";
    for (std::size_t i = 0; i < sent.size(); ++i) {
        char crc[16];
        std::snprintf(crc, sizeof crc, "crc32 %08X", midi::crc32(sent[i]));
        EXPECT_NE(printed[i + 1].find(crc), std::string::npos) << printed[i + 1];
        EXPECT_NE(
            printed[i + 1].find(" " + std::to_string(sent[i].size()) + " bytes"), std::string::npos)
            << printed[i + 1];
    }
    EXPECT_EQ(testsupport::readText(syx), std::string(all.begin(), all.end()));
}

} // namespace
