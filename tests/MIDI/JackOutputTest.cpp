// The JACK output against a private server (jackd -S, or PipeWire through its libjack) and real
// receiving clients, one server for all that needs one. Nothing here asserts a time: where timing
// matters it is counted in the server's frames.

#include "Jack.h"
#include "MIDI/Midi.h"
#include "Transfer/Transfer.h"
#include "support/Bytes.h"
#include "support/Jack.h"
#include "support/QuietSheet.h"
#include "support/SmfBuilder.h"

#include <atomic>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <jack/midiport.h>
#include <numeric>
#include <thread>

namespace {

using testsupport::Bytes;
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

    jack_nframes_t frameOf(jack_client_t* client, timing::Clock::TimePoint,
        std::optional<timing::Clock::TimePoint>) override
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

// Morvex's client and its port on the running server; the destinations are those open now.
struct Morvex {
    std::unique_ptr<midi::Client> client;
    std::unique_ptr<midi::OutputPort> port;
    timing::SteadyClock clock;

    explicit Morvex(std::shared_ptr<midi::jack::FrameClock> frames = midi::jack::serverClock())
        : client(testsupport::taken(midi::jack::openOutputClient("Morvex", std::move(frames))))
        , port(testsupport::taken(client->createOutputPort("Morvex Output Port")))
    {
    }
    midi::SendResult send(std::size_t to, std::span<const std::uint8_t> m)
    {
        return port->send(to, m, clock);
    }
};

// A client of the test's own, name, with one MIDI output "out" that sends nothing (jackd -S waits
// in every cycle for each client's process callback), noting the largest event its buffer takes.
// Constructed once its first cycle has run.
struct SilentOutput {
    std::atomic<std::size_t> largest { 0 };
    jack_port_t* port = nullptr;
    testsupport::JackClient client; // closed first, while what its cycles touch is still there

    explicit SilentOutput(const char* name)
        : client(testsupport::ownClient(name))
    {
        if (client)
            port = jack_port_register(
                client.get(), "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
        const auto process = [](jack_nframes_t frames, void* self) {
            auto& output = *static_cast<SilentOutput*>(self);
            void* buffer = jack_port_get_buffer(output.port, frames);
            jack_midi_clear_buffer(buffer);
            output.largest = jack_midi_max_event_size(buffer);
            return 0;
        };
        EXPECT_TRUE(port && testsupport::runEachCycle(client.get(), process, this)) << name;
        EXPECT_TRUE(testsupport::waitFor(
            std::string(name) + "'s first cycle", [&] { return largest != 0; }));
    }
};

// Takes what arrived at receiver since it was last asked and compares it with sent, both in
// order: every message arrives whole and in order, unless Morvex said of as many that they may
// not have arrived. PipeWire's libjack loses a cycle's MIDI now and then when a client runs late
// on a busy machine, and Morvex sees that cycle out of step. jackd -S waits for every client, so
// there no message may be called uncertain.
// checked: how many of receiver's messages were compared before; then, all it has.
void expectArrivedOrFlagged(JackReceiver& receiver, std::size_t& checked,
    const std::vector<Bytes>& sent, std::uint32_t flagged)
{
    EXPECT_TRUE(testsupport::onPipeWire() || flagged == 0) << flagged << " of " << sent.size();
    const std::size_t before = checked;
    const auto& received = receiver.waitFor(
        before + sent.size(), flagged > 0 ? std::optional(std::chrono::seconds(3)) : std::nullopt);
    checked = received.size();
    auto next = sent.begin();
    for (std::size_t i = before; i < received.size(); ++i) {
        next = std::find(next, sent.end(), received[i].bytes);
        ASSERT_NE(next++, sent.end()) << "message " << i << " was not sent, or not then";
    }
    const auto missing = sent.size() - (received.size() - before);
    EXPECT_LE(missing, flagged) << missing << " of " << sent.size() << " messages did not arrive";
}

// Each input port is listed by its own name, as its bytes (an escape among them).
// Every message arrives, or Morvex flags at least as many (expectArrivedOrFlagged). The largest
// message JACK carries, the largest event the port's buffer takes (on PipeWire, whose libjack
// crashes on that size, one byte less), arrives whole; one byte more is refused at once.
// A burst larger than a cycle carries is spread over the next ones (how far apart messages sent
// apart arrive is JackTiming's to show). A server that lags keeps sends as far apart as they were
// due. Losses are counted, and named, whatever is lost; a server that stops is known at once.
TEST(JackOutput, ListsPortsDeliversEveryMessageWholeInOrderAndCountsLosses)
{
    MORVEX_SKIP_WITHOUT_JACK_SERVER();
    testsupport::JackServer server;
    std::optional<JackReceiver> first(std::in_place, "fir\x1bst", "in");
    JackReceiver second("second", "midi in");
    // Gone before messages go: jackd -S waits for every client in each cycle, and on a busy machine
    // one more can make the server fall behind the dummy driver's schedule for good.
    const std::size_t largest = SilentOutput("probe").largest;
    std::optional<Morvex> morvex(std::in_place);
    std::vector<std::string> names;
    for (const auto& destination : morvex->client->destinations())
        names.push_back(destination.name);
    EXPECT_EQ(names, (std::vector<std::string> { "fir\x1bst:in", "second:midi in" }));

    // Each concern below is a lambda of its own: an ASSERT that fails ends that concern, and the
    // ones after it still run and report.
    std::vector<Bytes> sent;
    std::uint32_t flagged = 0;
    const auto settle = [&] {
        const midi::Settled settled = morvex->port->settle();
        EXPECT_EQ(settled.notDelivered, 0u) << sent.size() << ": " << settled.notDeliveredReason;
        flagged += settled.uncertain;
    };
    std::size_t checked = 0;
    [&] {
        for (unsigned i = 0; i < 2000; ++i) {
            sent.push_back(sysex(64, i));
            ASSERT_TRUE(morvex->send(1, sent.back()).ok());
            ASSERT_TRUE(morvex->clock.sleep(i % 5 * 300));
            if (i % 100 == 99)
                settle();
        }
        const std::size_t size = largest - (testsupport::onPipeWire() ? 1 : 0);
        const auto longest = sysex(size + 1, 1);
        EXPECT_EQ(morvex->send(1, longest).error, midi::SendError::TooLarge);
        const midi::SendResult result = morvex->send(1, std::span(longest).first(size));
        ASSERT_TRUE(result.ok()) << result.reason;
        sent.emplace_back(longest.begin(), longest.begin() + static_cast<std::ptrdiff_t>(size));
        settle();
        expectArrivedOrFlagged(second, checked, sent, flagged);
    }();

    // Bursts sent at one frame, more than PipeWire's libjack carries in one cycle (it drops a
    // cycle's MIDI whole past its limit, and these are within jack2's): each arrives whole and in
    // order, what a cycle cannot take going in the next ones.
    for (const auto& shape : { std::pair { 300u, 100u }, { 70u, 500u } })
        [&] {
            const auto [count, size] = shape;
            SCOPED_TRACE(std::to_string(count) + " x " + std::to_string(size));
            morvex.emplace(std::make_shared<ScriptedClock>(std::vector<jack_nframes_t> { 0 }));
            sent.clear();
            flagged = 0;
            for (unsigned i = 0; i < count; ++i) {
                sent.push_back(sysex(size, i));
                ASSERT_TRUE(morvex->send(1, sent.back()).ok());
            }
            settle();
            expectArrivedOrFlagged(second, checked, sent, flagged);
        }();

    // A server that falls behind (it waits for a client that takes 5 ms over each cycle of 32
    // frames, 0.67 ms) lets its frame counter lag the system clock. Sends due 3 ms apart are
    // still placed at least 3 ms, 144 frames, apart (more where the server's clock jumps on after
    // a late cycle).
    [&] {
        const testsupport::JackClient slow = testsupport::ownClient("slow");
        const auto late = [](jack_nframes_t, void*) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            return 0;
        };
        ASSERT_TRUE(slow && testsupport::runEachCycle(slow.get(), late, nullptr));
        const auto clock = midi::jack::serverClock();
        auto due = std::chrono::steady_clock::now();
        jack_nframes_t previous = clock->frameOf(slow.get(), due, due);
        for (int i = 0; i < 10; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(3));
            due += std::chrono::milliseconds(3);
            const jack_nframes_t frame = clock->frameOf(slow.get(), due, std::nullopt);
            EXPECT_GE(static_cast<std::int32_t>(frame - previous), 144) << "send " << i;
            previous = frame;
        }
    }();

    // Messages queued for frames a second ahead, and the destination or then the server gone
    // before their cycles come: the next send says so, and settle counts every message queued,
    // naming the destination escaped; never a hang (a hang would trip the test's time limit).
    // Destination 0 is first's port until it closes, then second's.
    for (const bool serverStops : { false, true })
        [&] {
            SCOPED_TRACE(serverStops ? "server stopped" : "destination closed");
            morvex.reset();
            morvex.emplace(std::make_shared<ScriptedClock>(std::vector<jack_nframes_t> { 48000 }));
            for (unsigned i = 0; i < 4; ++i)
                ASSERT_TRUE(morvex->send(0, sysex(100, i)).ok());
            serverStops ? server.stopNow() : first.reset();
            // The loss reaches the port a moment later; what is sent until then is queued.
            unsigned queued = 4;
            midi::SendResult next;
            while ((next = morvex->send(0, sysex(100, queued))).ok())
                ++queued;
            const midi::Settled lost = morvex->port->settle();
            EXPECT_EQ(lost.notDelivered, queued);
            EXPECT_EQ(lost.bytesNotDelivered, 100u * queued);
            EXPECT_EQ(lost.uncertain, 0u) << lost.uncertainReason;
            EXPECT_THAT(lost.notDeliveredReason,
                testing::HasSubstr(serverStops ? "The JACK server stopped" : "\"fir\\est:in\""));
            // PipeWire tells of the connection's end before it tells of the port's.
            if (serverStops || !testsupport::onPipeWire()) {
                EXPECT_TRUE(lost.gone);
                EXPECT_EQ(next.error,
                    serverStops ? midi::SendError::ServiceStopped
                                : midi::SendError::DestinationGone);
            }
        }();
}

// Another program's output connected to the destination is named, before the update and during
// it, Morvex's own connection never; the send after it joined stops, and once the person agreed
// to share the destination sends go on. A destination that goes, and whose name another port then
// takes, gets nothing more, even when a patchbay connects Morvex to that port at once. The
// destination is morvex-monitor, in a process of its own: with two senders connected, libjack
// mixes their buffers in the receiver's thread, and were the receiver a client of this process
// too, ThreadSanitizer, which cannot see the server's hand-over from one client's cycle to the
// next, would take that for a race.
TEST(JackOutput, NamesAnotherSenderAndNeverSendsToAPortThatTookTheDestinationsName)
{
    MORVEX_SKIP_WITHOUT_JACK_SERVER();
    testsupport::JackMonitor synth;
    SilentOutput clock("clock");
    ASSERT_EQ(jack_connect(clock.client.get(), "clock:out", "monitor:Monitor"), 0);
    Morvex morvex;
    const auto others = [&] { return morvex.port->otherSenders(0); };
    ASSERT_TRUE(testsupport::waitFor("Morvex to see clock:out", [&] { return !others().empty(); }));
    const midi::SendResult refused = morvex.send(0, sysex(10));
    EXPECT_EQ(refused.error, midi::SendError::Shared);
    EXPECT_EQ(refused.reason,
        "Sending to \"monitor:Monitor\" stopped: \"clock:out\" began to send to it too, and its "
        "messages would be mixed into the update.");

    ASSERT_EQ(jack_disconnect(clock.client.get(), "clock:out", "monitor:Monitor"), 0);
    ASSERT_TRUE(testsupport::waitFor("clock:out to go", [&] { return others().empty(); }));
    ASSERT_TRUE(morvex.send(0, sysex(10, 1)).ok());
    ASSERT_EQ(jack_connect(clock.client.get(), "clock:out", "monitor:Monitor"), 0);
    ASSERT_TRUE(testsupport::waitFor("clock:out to join", [&] { return !others().empty(); }));
    EXPECT_EQ(morvex.send(0, sysex(10, 2)).error, midi::SendError::Shared);
    morvex.port->shareDestination();
    ASSERT_TRUE(morvex.send(0, sysex(10, 3)).ok());
    EXPECT_EQ(morvex.port->settle().notDelivered, 0u);
    EXPECT_EQ(synth.received(2), testsupport::joined({ sysex(10, 1), sysex(10, 3) }));

    synth.restart();
    ASSERT_EQ(jack_connect(clock.client.get(), "Morvex:Morvex Output Port", "monitor:Monitor"), 0);
    ASSERT_TRUE(testsupport::waitFor("the patchbay's connection to the new monitor:Monitor", [&] {
        return jack_port_connected(
                   jack_port_by_name(clock.client.get(), "Morvex:Morvex Output Port"))
            > 0;
    }));
    EXPECT_EQ(morvex.send(0, sysex(10, 4)).error, midi::SendError::DestinationGone);
    (void)morvex.port->settle();
    std::this_thread::sleep_for(std::chrono::seconds(1));
    EXPECT_EQ(synth.messages(), 0u);
}

// The real clock, waking late by 0, 5 or 10 ms in turn.
class LateClock final : public timing::Clock {
public:
    TimePoint now() const override { return mClock.now(); }
    bool stopRequested() const override { return mClock.stopRequested(); }

private:
    bool waitUntil(TimePoint when) override
    {
        return mClock.sleepUntil(when + std::chrono::milliseconds(mWaits++ % 3 * 5));
    }

    timing::SteadyClock mClock;
    unsigned mWaits = 0;
};

// Where a cycle is 1,024 frames long, under a clock of the test's own, each message goes out at
// the frame its send was made at plus one fixed latency: messages sent together share a cycle in
// order, and a gap of any size survives the cycles it crosses. The first is sent for a frame long
// past, so it goes out late, in the next cycle, and every later one as much later: the gaps stay
// as sent.
// Then a transfer whose clock wakes late, by up to 10 ms, less than the margin of such a period
// (21 ms): each message still goes out at the frame its delay ended at plus one fixed latency, so
// that the receiver's gaps are the file's delays to the frame (48 frames a millisecond), none of
// them lengthened by the wake-up before it nor shortened by the one after.
TEST(JackTiming, GapsAreAsSentAndTheDelaysToTheFrameWhenTheSendingThreadWakesLate)
{
    MORVEX_SKIP_WITHOUT_JACK_SERVER();
    testsupport::JackServer server(1024);
    JackReceiver receiver("receiver", "in");
    // Gaps between sends, in frames: from the late message to one 0.3 s after it; then none, one,
    // either side of the period of 32 and of 1024, and several periods.
    const std::vector<jack_nframes_t> gaps { 0, 14400, 0, 1, 2, 31, 32, 33, 103, 1023, 1024, 1025,
        0, 5 };
    std::vector<jack_nframes_t> frames(gaps.size());
    std::partial_sum(gaps.begin(), gaps.end(), frames.begin());
    // From 0.4 s before the clock's start, 0.2 s before now (frame counts wrap).
    for (jack_nframes_t& frame : frames)
        frame -= 19200;
    const auto message = [](std::size_t i) { return sysex(i % 3 == 0 ? 3000 : 6, unsigned(i)); };
    [&] {
        Morvex scripted(std::make_shared<ScriptedClock>(frames));
        for (std::size_t i = 0; i < frames.size(); ++i)
            ASSERT_TRUE(scripted.send(0, message(i)).ok());
        const auto& spaced = receiver.waitFor(frames.size());
        ASSERT_EQ(spaced.size(), frames.size());
        for (std::size_t i = 0; i < spaced.size(); ++i) {
            EXPECT_EQ(spaced[i].bytes, message(i)) << i;
            EXPECT_EQ(spaced[i].frame - spaced[0].frame, frames[i] - frames[0]) << "message " << i;
        }
    }();

    const std::size_t before = receiver.waitFor(0).size();
    const std::vector<std::uint32_t> delays { 0, 1, 0, 2, 7, 20, 3, 50, 1, 13, 0, 30, 5, 4 };
    testsupport::SmfBuilder file;
    file.tempo(0, 48000); // 48 ticks a quarter: a tick is a millisecond
    for (std::size_t i = 0; i < delays.size(); ++i)
        file.sysexOfSize(delays[i], 10, static_cast<std::uint8_t>(i));
    testsupport::TempDir folder;
    folder.write("a.mid", file.file());
    Morvex morvex;
    testsupport::QuietSheet sheet(folder.path().string());
    LateClock late;
    const std::atomic<bool> cancel { false };
    transfer::Transfer transfer(
        sheet, *morvex.port, late, { "a.mid" }, morvex.client->destinations(), cancel);
    ASSERT_EQ(transfer.run().end, transfer::Outcome::End::Completed);
    const auto& arrived = receiver.waitFor(before + delays.size());
    ASSERT_EQ(arrived.size(), before + delays.size());
    for (std::size_t i = before + 1; i < arrived.size(); ++i)
        EXPECT_EQ(std::int32_t(arrived[i].frame - arrived[i - 1].frame), delays[i - before] * 48)
            << "message " << i;
}

} // namespace
