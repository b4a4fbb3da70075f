// The JACK output against a private server and a real receiving client. Times are measured and
// printed, never asserted: the machines are shared.

#include "JackInput.h"
#include "Midi.h"
#include "support/ChildProcess.h"
#include "support/JackReceiver.h"
#include "support/JackServer.h"
#include "support/TempDir.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <iostream>
#include <jack/jack.h>
#include <optional>
#include <sstream>
#include <thread>
#include <unistd.h>

namespace {

using testsupport::JackReceiver;
using testsupport::JackServer;

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

std::string unique(const std::string& name)
{
    return name + "-" + std::to_string(::getpid());
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
    void openMorvex()
    {
        mClient = midi::Client::open("Morvex");
        ASSERT_EQ(mClient->serviceName(), "JACK") << mClient->problem();
        auto created = mClient->createOutputPort("Morvex Output Port");
        ASSERT_TRUE(created.port) << created.error;
        mPort = std::move(created.port);
    }

    std::size_t indexOf(const std::string& name) const
    {
        const auto& all = mClient->destinations();
        const auto found = std::find_if(all.begin(), all.end(),
            [&](const midi::Destination& destination) { return destination.name == name; });
        return static_cast<std::size_t>(found - all.begin());
    }

    static std::uint64_t microsecondsSince(std::chrono::steady_clock::time_point start)
    {
        return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
            std::chrono::steady_clock::now() - start)
                                              .count());
    }

    // Declared in the order they start; they stop the other way round: port, client, server.
    std::optional<JackServer> mServer;
    std::unique_ptr<midi::Client> mClient;
    std::unique_ptr<midi::OutputPort> mPort;
};

TEST(JackService, WithoutAServerThereIsNoServiceAndNoHang)
{
    ::setenv("MORVEX_MIDI", "jack", 1);
    ::setenv("JACK_DEFAULT_SERVER", unique("morvex-test-nobody").c_str(), 1);
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

TEST_F(JackOutput, ListsEveryInputPortOnceWithDuplicateNamesKept)
{
    JackReceiver first("first", "in", "Synth");
    JackReceiver second("second", "in", "Synth");
    JackReceiver plain("plain", "midi in");
    openMorvex();
    std::vector<std::string> names;
    ASSERT_FALSE(mClient->destinations().empty());
    for (const auto& destination : mClient->destinations())
        names.push_back(destination.name);
    EXPECT_EQ(std::count(names.begin(), names.end(), "Synth"), 2);
    EXPECT_EQ(std::count(names.begin(), names.end(), "plain:midi in"), 1);
    EXPECT_EQ(std::count_if(names.begin(), names.end(),
                  [](const std::string& name) { return name.starts_with("Morvex"); }),
        0);
    const auto again = midi::Client::open("Morvex");
    ASSERT_EQ(again->destinations().size(), names.size()) << "the order is stable";
    for (std::size_t i = 0; i < names.size(); ++i)
        EXPECT_EQ(again->destinations()[i].name, names[i]);
}

TEST_F(JackOutput, ThousandMessagesArriveWholeAndInOrder)
{
    JackReceiver receiver("receiver", "in");
    openMorvex();
    const std::size_t to = indexOf("receiver:in");
    constexpr unsigned Count = 1000;
    std::vector<jack_time_t> sentAt;
    unsigned uncertain = 0;
    for (unsigned i = 0; i < Count; ++i) {
        sentAt.push_back(jack_get_time());
        const auto result = mPort->send(to, sysex(256, i));
        ASSERT_TRUE(handedOver(result)) << "message " << i << ": " << result.reason;
        uncertain += result.error == midi::SendError::Uncertain;
    }
    const auto& received = receiver.waitFor(Count);
    ASSERT_EQ(received.size(), Count);
    std::vector<std::uint64_t> latency;
    for (unsigned i = 0; i < Count; ++i) {
        ASSERT_EQ(received[i].bytes, sysex(256, i)) << "message " << i;
        latency.push_back(received[i].microseconds - sentAt[i]);
    }
    std::sort(latency.begin(), latency.end());
    std::cout << "send-to-arrival at period 32 (0.67 ms), microseconds: min " << latency.front()
              << ", median " << latency[Count / 2] << ", 99th percentile "
              << latency[Count * 99 / 100] << ", max " << latency.back() << "; uncertain sends "
              << uncertain << " of " << Count << "\n";
}

TEST_F(JackOutput, LargestMessageArrivesWholeAndOneByteMoreIsRefusedAtOnce)
{
    JackReceiver receiver("receiver", "in");
    openMorvex();
    const std::size_t to = indexOf("receiver:in");
    // JACK's limit is a property of the port's buffer: find it from above. Every refusal is
    // immediate and sends nothing.
    std::size_t size = 40000;
    midi::SendResult result = mPort->send(to, sysex(size, 1));
    while (result.error == midi::SendError::TooLarge && size > 256) {
        EXPECT_EQ(result.bytesSent, 0u);
        result = mPort->send(to, sysex(--size, 1));
    }
    ASSERT_TRUE(handedOver(result)) << result.reason;
    EXPECT_EQ(mPort->send(to, sysex(size + 1, 1)).error, midi::SendError::TooLarge);
    const auto& received = receiver.waitFor(1);
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].bytes, sysex(size, 1));
    std::cout << "largest message that arrived whole: " << size << " bytes\n";
}

TEST_F(JackOutput, DestinationThatClosedIsReported)
{
    std::optional<JackReceiver> receiver(std::in_place, "receiver", "in");
    openMorvex();
    const std::size_t to = indexOf("receiver:in");
    ASSERT_TRUE(handedOver(mPort->send(to, sysex(64, 0))));
    receiver.reset();
    const auto start = std::chrono::steady_clock::now();
    const auto result = mPort->send(to, sysex(64, 1));
    std::cout << "closed destination reported after " << microsecondsSince(start)
              << " us: " << result.reason << "\n";
    EXPECT_TRUE(result.error == midi::SendError::DestinationGone
        || result.error == midi::SendError::NotConnected)
        << result.reason;
}

TEST_F(JackOutput, StoppedServerIsReportedAndStaysReported)
{
    JackReceiver receiver("receiver", "in");
    openMorvex();
    const std::size_t to = indexOf("receiver:in");
    ASSERT_TRUE(handedOver(mPort->send(to, sysex(64, 0))));
    const auto start = std::chrono::steady_clock::now();
    mServer->stopNow();
    const auto result = mPort->send(to, sysex(64, 1));
    std::cout << "server stopped, reported after " << microsecondsSince(start)
              << " us: " << result.reason << "\n";
    EXPECT_FALSE(result.ok());
    EXPECT_EQ(mPort->send(to, sysex(64, 2)).error, midi::SendError::ServiceStopped);
}

TEST_F(JackOutput, MonitorPrintsWhatArrivedWithItsCrc)
{
    testsupport::TempDir folder;
    const auto syx = folder.path() / "received.syx";
    const std::string client = unique("monitor");
    testsupport::ChildProcess monitor(
        { MORVEX_MONITOR, "--service", "jack", "--client", client, "--name",
            unique("Morvex Monitor"), "--syx", syx.string() },
        folder.path() / "monitor.txt");
    // The monitor is a destination once its port exists.
    const std::string name = unique("Morvex Monitor");
    const auto listed = [&] {
        const auto all = midi::Client::open("Morvex")->destinations();
        return std::any_of(all.begin(), all.end(),
            [&](const midi::Destination& destination) { return destination.name == name; });
    };
    for (int tries = 0; tries < 1000 && !listed(); ++tries)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    openMorvex();
    const std::size_t to = indexOf(name);
    ASSERT_LT(to, mClient->destinations().size()) << "the monitor's port never appeared";
    std::vector<std::vector<std::uint8_t>> sent { sysex(2, 0), sysex(300, 1), sysex(5000, 2) };
    std::vector<std::uint8_t> all;
    for (const auto& message : sent) {
        ASSERT_TRUE(handedOver(mPort->send(to, message)));
        all.insert(all.end(), message.begin(), message.end());
    }
    // Lines appear within the monitor's 5 ms poll; give a loaded machine far longer.
    std::vector<std::string> lines;
    for (int tries = 0; tries < 500 && lines.size() < sent.size() + 1; ++tries) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::ifstream output(folder.path() / "monitor.txt");
        lines.clear();
        for (std::string line; std::getline(output, line);)
            lines.push_back(line);
    }
    EXPECT_EQ(monitor.stop(SIGTERM), 0) << "a clean exit on SIGTERM";
    ASSERT_EQ(lines.size(), sent.size() + 1) << "one line to say where it listens, one a message";
    for (std::size_t i = 0; i < sent.size(); ++i) {
        char crc[16];
        std::snprintf(crc, sizeof crc, "crc32 %08X", midi::crc32(sent[i]));
        EXPECT_NE(lines[i + 1].find(crc), std::string::npos) << lines[i + 1];
        EXPECT_NE(
            lines[i + 1].find(" " + std::to_string(sent[i].size()) + " bytes"), std::string::npos)
            << lines[i + 1];
    }
    std::ifstream file(syx, std::ios::binary);
    const std::vector<std::uint8_t> written((std::istreambuf_iterator<char>(file)), {});
    EXPECT_EQ(written, all);
}

} // namespace
