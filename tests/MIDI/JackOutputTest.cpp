// The JACK output against a private server (jackd -S) and a real receiving client. Nothing here
// asserts a time: where timing matters it is counted in the server's frames.

#include "Jack.h"
#include "MIDI/Midi.h"
#include "support/Bytes.h"
#include "support/Jack.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <jack/metadata.h>
#include <numeric>
#include <optional>
#include <thread>
#include <unistd.h>

namespace {

using testsupport::JackReceiver;
using testsupport::sysex;

// Sends at frames of the test's choosing: the nth send happens at the nth frame of the script
// (the last one once the script runs out), counted from a start far enough ahead that every
// message is queued before its cycle comes.
class ScriptedClock final : public midi::jack::FrameClock {
public:
    explicit ScriptedClock(std::vector<jack_nframes_t> frames)
        : mFrames(std::move(frames))
    {
    }

    jack_nframes_t now(jack_client_t* client, bool) override
    {
        if (!mStart)
            mStart = jack_frame_time(client) + jack_get_sample_rate(client) / 5;
        return *mStart + mFrames[std::min(mNext++, mFrames.size() - 1)];
    }

private:
    std::vector<jack_nframes_t> mFrames;
    std::optional<jack_nframes_t> mStart;
    std::size_t mNext = 0;
};

class JackOutput : public ::testing::Test {
protected:
    void SetUp() override { start(32); }

    void start(unsigned period)
    {
        MORVEX_SKIP_WITHOUT_JACKD();
        mPort.reset();
        mClient.reset();
        mServer.reset();
        mServer.emplace(period);
    }

    // Opens Morvex's client and port now, so the destinations are those open at this moment.
    void openMorvex(std::size_t destinations,
        std::shared_ptr<midi::jack::FrameClock> clock = midi::jack::serverClock())
    {
        std::string error;
        mClient = midi::jack::openOutputClient("Morvex", error, std::move(clock));
        ASSERT_TRUE(mClient) << error;
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

TEST(JackService, WithoutAServerThereIsNoServiceNoHangAndNoWordFromLibjack)
{
    ::setenv("MORVEX_MIDI", "jack", 1);
    ::setenv(
        "JACK_DEFAULT_SERVER", ("morvex-test-nobody-" + std::to_string(::getpid())).c_str(), 1);
    testing::internal::CaptureStderr();
    testing::internal::CaptureStdout();
    const auto client = midi::Client::open("Morvex");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(client->serviceName(), "none");
    EXPECT_NE(client->problem().find("no JACK server is running"), std::string::npos)
        << client->problem();
    EXPECT_TRUE(client->destinations().empty());
    EXPECT_FALSE(client->createOutputPort("Morvex Output Port").port);
    ::unsetenv("MORVEX_MIDI");
    ::unsetenv("JACK_DEFAULT_SERVER");
}

// jack2 keeps pretty names in one store for every server, after their ports have gone; a name
// found there may belong to another port.
TEST_F(JackOutput, ListsEachInputPortByItsOwnName)
{
    JackReceiver first("first", "in");
    JackReceiver second("second", "midi in");
    const std::unique_ptr<jack_client_t, int (*)(jack_client_t*)> namer(
        jack_client_open("namer", JackNoStartServer, nullptr), jack_client_close);
    ASSERT_TRUE(namer);
    const jack_uuid_t uuid = jack_port_uuid(jack_port_by_name(namer.get(), "first:in"));
    ASSERT_EQ(
        jack_set_property(namer.get(), uuid, JACK_METADATA_PRETTY_NAME, "Monitor", nullptr), 0);
    ASSERT_NO_FATAL_FAILURE(openMorvex(2)); // not its own port
    jack_remove_property(namer.get(), uuid, JACK_METADATA_PRETTY_NAME);
    std::vector<std::string> names;
    for (const auto& destination : mClient->destinations())
        names.push_back(destination.name);
    EXPECT_EQ(names, (std::vector<std::string> { "first:in", "second:midi in" }));
}

// Each message goes out at the frame its send was made at, plus one fixed latency: messages
// sent together share a cycle in order, and a gap of any size survives the cycles it crosses.
TEST_F(JackOutput, ArrivalFramesAreAsFarApartAsTheSends)
{
    for (const jack_nframes_t period : { 32u, 1024u }) {
        SCOPED_TRACE("period " + std::to_string(period));
        start(period);
        // Gaps between sends, in frames: none, one, either side of a period and several periods.
        const std::vector<jack_nframes_t> gaps { 0, 0, 1, 2, 31, 32, 33, period - 1, period,
            period + 1, 3 * period + 7, 0, 5 };
        std::vector<jack_nframes_t> frames(gaps.size());
        std::partial_sum(gaps.begin(), gaps.end(), frames.begin());
        JackReceiver receiver("receiver", "in");
        ASSERT_NO_FATAL_FAILURE(openMorvex(1, std::make_shared<ScriptedClock>(frames)));
        for (std::size_t i = 0; i < frames.size(); ++i)
            ASSERT_TRUE(mPort->send(0, sysex(i % 3 == 0 ? 3000 : 6, unsigned(i)), mClock).ok());
        const midi::Settled settled = mPort->settle();
        EXPECT_EQ(settled.notDelivered + settled.uncertain, 0u) << settled.notDeliveredReason;

        const auto& received = receiver.waitFor(frames.size());
        ASSERT_EQ(received.size(), frames.size());
        for (std::size_t i = 0; i < received.size(); ++i) {
            EXPECT_EQ(received[i].bytes, sysex(i % 3 == 0 ? 3000 : 6, unsigned(i))) << i;
            EXPECT_EQ(received[i].frame - received[0].frame, frames[i]) << "message " << i;
        }
    }
}

// The server waits for every client in each cycle, so nothing can be lost between two of them,
// however late its cycles run on a busy machine: no message may be called uncertain. The largest
// message JACK carries, a property of the port's buffer found from above, arrives whole; one byte
// more is refused at once, and every refusal sends nothing.
TEST_F(JackOutput, InSyncModeNothingIsFlaggedWhereNothingWasLostUpToTheLargestMessage)
{
    JackReceiver receiver("receiver", "in");
    ASSERT_NO_FATAL_FAILURE(openMorvex(1));
    constexpr unsigned Runs = 20;
    constexpr unsigned Messages = 100;
    for (unsigned run = 0; run < Runs; ++run) {
        for (unsigned i = 0; i < Messages; ++i) {
            ASSERT_TRUE(mPort->send(0, sysex(64, run * Messages + i), mClock).ok());
            std::this_thread::sleep_for(std::chrono::microseconds(i % 5 * 300));
        }
        const midi::Settled settled = mPort->settle();
        EXPECT_EQ(settled.notDelivered, 0u) << "run " << run << ": " << settled.notDeliveredReason;
        EXPECT_EQ(settled.uncertain, 0u) << "run " << run << ": " << settled.uncertainReason;
    }
    const auto longest = sysex(40000, 1);
    std::size_t size = longest.size();
    midi::SendResult result = mPort->send(0, longest, mClock);
    while (result.error == midi::SendError::TooLarge && size > 256)
        result = mPort->send(0, std::span(longest).first(--size), mClock);
    ASSERT_TRUE(result.ok()) << result.reason;
    EXPECT_EQ(mPort->send(0, std::span(longest).first(size + 1), mClock).error,
        midi::SendError::TooLarge);
    const midi::Settled settled = mPort->settle();
    EXPECT_EQ(settled.notDelivered + settled.uncertain, 0u);
    std::cout << "largest message that arrived whole: " << size << " bytes\n";

    const auto& received = receiver.waitFor(Runs * Messages + 1);
    ASSERT_EQ(received.size(), Runs * Messages + 1);
    for (unsigned i = 0; i < Runs * Messages; ++i)
        ASSERT_EQ(received[i].bytes, sysex(64, i)) << "message " << i;
    EXPECT_TRUE(std::ranges::equal(received.back().bytes, std::span(longest).first(size)));
}

// Messages queued for frames a second ahead, and the destination or the server gone before
// their cycles come: the next send says so, and settle counts every message queued; never a hang
// (a hang would trip the test's time limit).
TEST_F(JackOutput, LossesAreReportedByTheNextSendAndBySettle)
{
    struct Case {
        const char* loss;
        midi::SendError nextSend;
        const char* reason;
    };
    for (const Case& loss : { Case { "destination closed", midi::SendError::DestinationGone,
                                  "\"receiver:in\" was closed before the messages reached it." },
             Case { "server stopped", midi::SendError::ServiceStopped,
                 "The JACK server stopped." } }) {
        SCOPED_TRACE(loss.loss);
        start(32);
        std::optional<JackReceiver> receiver(std::in_place, "receiver", "in");
        ASSERT_NO_FATAL_FAILURE(
            openMorvex(1, std::make_shared<ScriptedClock>(std::vector<jack_nframes_t> { 48000 })));
        for (unsigned i = 0; i < 4; ++i)
            ASSERT_TRUE(mPort->send(0, sysex(100, i), mClock).ok());
        if (loss.nextSend == midi::SendError::DestinationGone)
            receiver.reset();
        else
            mServer->stopNow();
        // The server's going reaches the port a moment later; what is sent until then is queued.
        unsigned queued = 4;
        midi::SendResult next;
        while ((next = mPort->send(0, sysex(100, queued), mClock)).ok())
            ++queued;
        EXPECT_EQ(next.error, loss.nextSend) << next.reason;
        const midi::Settled settled = mPort->settle();
        EXPECT_EQ(settled.notDelivered, queued);
        EXPECT_EQ(settled.bytesNotDelivered, 100u * queued);
        EXPECT_EQ(settled.uncertain, 0u) << settled.uncertainReason;
        EXPECT_EQ(settled.notDeliveredReason, loss.reason);
        if (receiver) {
            EXPECT_TRUE(receiver->waitFor(1, std::chrono::milliseconds(0)).empty());
        }
    }
}

} // namespace
