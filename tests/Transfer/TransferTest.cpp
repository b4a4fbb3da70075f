#include "Transfer/Transfer.h"

#include "Transfer/Heard.h"
#include "Transfer/Identify.h"
#include "Transfer/UpdateFolder.h"
#include "support/ChildProcess.h"
#include "support/SmfBuilder.h"
#include "support/TempDir.h"

#include <filesystem>
#include <functional>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <map>
#include <sstream>
#include <sys/prctl.h>
#include <thread>
#include <unistd.h>
#include <utility>

using testing::ElementsAre;
using testsupport::SmfBuilder;
using transfer::Outcome;
using enum transfer::Outcome::End;

namespace {

// A transfer's folder, and its sheet, port and clock at once. Every call to the sheet and every
// sleep is written down as a line, so that a test compares the whole order at once; when it writes
// the line "at", it runs "action": to cancel or change files at a chosen moment. Its time moves
// only by the sleeps asked for. It keeps each message it is given, unless the send, by its number
// from 0, has a fault other than Uncertain (a message handed over but possibly lost). Destination 1
// is a wire of 1,000 bytes a second: a byte takes a millisecond; a tab in its name shows as \t.
class Scene : public transfer::Sheet, public midi::OutputPort, public timing::Clock {
public:
    testsupport::TempDir dir;
    std::atomic<bool> cancel { false };
    bool sendAnyway = false;
    bool shareAnyway = false;
    std::vector<std::string> others; // what otherSenders answers
    bool shared = false; // shareDestination was called
    std::vector<std::string> log;
    std::string at;
    std::function<void()> action;
    bool stopped = false; // the clock's stop request
    std::vector<smf::Bytes> sent;
    std::map<std::size_t, midi::SendResult> faults;
    midi::Settled settled; // what the next settle reports
    // With a voice, the device talks back: after the nth message sent (from 1), that much later.
    struct Said {
        std::size_t after;
        std::chrono::milliseconds later;
        std::vector<std::uint8_t> bytes;
    };
    std::optional<std::vector<Said>> voice;
    std::uint64_t realTimeBytes = 0;
    std::vector<TimePoint> sendTimes;
    // How long each message is still on its way after its send, as on a wire.
    std::chrono::microseconds onItsWay { 0 };

    Outcome run(std::vector<std::string> files, double slower = 1)
    {
        transfer::Listen listen;
        if (voice)
            listen = [this](std::size_t to) -> midi::WayBackResult { return listenTo(to); };
        return transfer::Transfer(*this, *this, *this, std::move(files),
            { { "Synth A", "a" }, { "Synth\tB", "b", 1000 } }, cancel, slower, std::move(listen))
            .run();
    }

    std::string folderText() override { return note("folder"), dir.path().string(); }
    void setFileText(const std::string& name) override { note("file ", name); }
    bool sendDamaged(const std::string& why) override { return note("damaged ", why), sendAnyway; }
    bool shareDestination(const std::string& why) override
    {
        return note("shared ", why), shareAnyway;
    }
    void showStatus(const std::string& text) override { note("status ", text); }
    void startSending() override { note("sending"); }
    void setProgress(double percent) override { note("bar ", percent); }
    void setPercentText(const std::string& text) override { note("percent ", text); }
    void showRemaining(const transfer::Remaining& r) override
    {
        note("left ", r.microseconds / 1000, " ms, ", r.bytesSent, "/", r.bytesTotal,
            r.waiting ? ", wait " + std::to_string(r.waiting / 1000) : "");
    }
    std::optional<std::size_t> selectedDestination() override { return note("destination"), 1; }
    void showAlert(const transfer::Outcome& outcome, const std::string& text,
        const std::string& heard) override
    {
        note("alert ", transfer::alertTitle(outcome), " | ", text,
            heard.empty() ? "" : " | heard: " + heard);
    }
    void end() override { note("end"); }

    midi::SendResult send(std::size_t to, std::span<const std::uint8_t> m, timing::Clock&) override
    {
        const auto fault = faults.find(mSends++);
        const midi::SendResult result = fault == faults.end() ? midi::SendResult {} : fault->second;
        if (result.ok() || result.error == midi::SendError::Uncertain) {
            sent.emplace_back(m.begin(), m.end());
            sendTimes.push_back(mNow);
        }
        EXPECT_EQ(to, 1u);
        return result;
    }

    midi::Settled settle() override { return std::exchange(settled, {}); }
    std::vector<std::string> otherSenders(std::size_t to) override
    {
        EXPECT_EQ(to, 1u);
        return others;
    }
    void shareDestination() override { shared = true; }
    void setSlower(double factor) override { note("slower ", factor); }
    TimePoint nextDelayFrom(const timing::Clock&) const override
    {
        return sendTimes.empty() ? mNow : std::max(mNow, sendTimes.back() + onItsWay);
    }

    TimePoint now() const override { return mNow; }
    bool waitUntil(TimePoint when) override
    {
        note("sleep ", (when - mNow) / std::chrono::microseconds(1));
        mNow = when;
        return !stopped;
    }
    bool stopRequested() const override { return stopped; }

    // The lines that start with one of prefixes, joined with ", ".
    std::string linesOf(std::initializer_list<std::string_view> prefixes) const
    {
        std::string lines;
        for (const std::string& line : log)
            if (std::ranges::any_of(prefixes, [&](auto p) { return line.starts_with(p); }))
                lines += (lines.empty() ? "" : ", ") + line;
        return lines;
    }

    std::unique_ptr<midi::WayBack> listenTo(std::size_t destination)
    {
        EXPECT_EQ(destination, 1u);
        return std::make_unique<Device>(*this);
    }

private:
    // What the scene's voice says, each reply once its time has come.
    class Device final : public midi::WayBack {
    public:
        explicit Device(Scene& scene)
            : mScene(scene)
        {
        }
        void take(std::vector<std::vector<std::uint8_t>>& out) override
        {
            auto& said = *mScene.voice;
            const auto& times = mScene.sendTimes;
            for (auto it = said.begin(); it != said.end();)
                if (times.size() >= it->after && mScene.mNow >= times[it->after - 1] + it->later) {
                    out.push_back(it->bytes);
                    it = said.erase(it);
                } else {
                    ++it;
                }
        }
        std::uint64_t realTimeBytes() const override { return mScene.realTimeBytes; }

    private:
        Scene& mScene;
    };

    template <typename... Parts> void note(const Parts&... parts)
    {
        log.push_back((std::ostringstream() << ... << parts).str());
        if (log.back() == at)
            action();
    }

    std::size_t mSends = 0;
    TimePoint mNow;
};

// Division 48 and a tempo of 48,000 µs a quarter: one tick is one millisecond.
SmfBuilder msFile()
{
    return std::move(SmfBuilder().tempo(0, 48000));
}

// The bar keeps the fraction; the percent text truncates it, so 99.9 never shows as done. The time
// left is the plan's, delays, pauses and wire time, counted down as they pass. An empty list goes
// straight to a complete update.
TEST(Transfer, SendsEveryMessageWholeInOrderAfterItsDelayWithTheSheetInStep)
{
    Scene s;
    const auto a = msFile().sysexOfSize(5, 999, 1).sysexOfSize(0, 999, 2);
    const auto b = msFile().sysexOfSize(7, 2, 3);
    s.dir.write("A.mid", a.file());
    s.dir.write("B.mid", b.file());

    const int slack = ::prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
    EXPECT_EQ(s.run({ "A.mid", "B.mid" }).end, Completed);
    EXPECT_EQ(::prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0), slack) << "timer slack not given back";
    EXPECT_THAT(s.sent, ElementsAre(a.messages()[0], a.messages()[1], b.messages()[0]));
    EXPECT_THAT(s.log,
        ElementsAre("folder", "file A.mid", "folder", "file B.mid", "status Sending...", "sending",
            "bar 0", "percent 0 %", "destination", "slower 1", "left 4012 ms, 0/2000", "folder",
            "file A.mid", "left 4012 ms, 0/2000, wait 5", "sleep 5000", "bar 49.95", "percent 49 %",
            "left 3008 ms, 999/2000", "sleep 0", "bar 99.9", "percent 99 %",
            "left 2009 ms, 1998/2000", "folder", "file B.mid", "left 2009 ms, 1998/2000, wait 2000",
            "sleep 2000000", "left 9 ms, 1998/2000, wait 7", "sleep 7000", "bar 100",
            "percent 100 %", "left 0 ms, 2000/2000", "alert Complete Update | ", "end"));

    // Twice as slow: every delay and the pause last twice as long, the wire is told to take
    // bytes at half its pace, and the time left counts all of it so.
    s.log.clear();
    EXPECT_EQ(s.run({ "A.mid", "B.mid" }, 2).end, Completed);
    EXPECT_EQ(s.linesOf({ "slower", "sleep", "left" }),
        "slower 2, left 8024 ms, 0/2000, left 8024 ms, 0/2000, wait 10, sleep 10000, "
        "left 6016 ms, 999/2000, sleep 0, left 4018 ms, 1998/2000, "
        "left 4018 ms, 1998/2000, wait 4000, sleep 4000000, left 18 ms, 1998/2000, wait 14, "
        "sleep 14000, left 0 ms, 2000/2000");

    // Messages still on their way: a delay, and the pause, count from when the last one has gone;
    // a message with none follows at once.
    s.log.clear();
    s.sendTimes.clear();
    s.onItsWay = std::chrono::milliseconds(999);
    EXPECT_EQ(s.run({ "A.mid", "B.mid" }).end, Completed);
    EXPECT_EQ(s.linesOf({ "sleep" }), "sleep 5000, sleep 0, sleep 2999000, sleep 7000");

    s.log.clear();
    EXPECT_EQ(s.run({}).end, Completed) << "an empty list";
    EXPECT_EQ(s.linesOf({ "left", "alert" }), "left 0 ms, 0/0, alert Complete Update | ");
}

// Cancel is looked at before each file of each pass, after the size pass, before each message and
// before the alert, never during a wait: a message whose delay has begun still goes out. A stop
// request (quitting) cuts the wait short instead, and that message never goes.
TEST(Transfer, CancelAndStopEndItAtTheNextCheckWithoutAlert)
{
    // Cancels, or stops, when this line is written; how many messages went; the file, status and
    // end lines.
    const std::tuple<const char*, Outcome::End, std::size_t, const char*> cases[] = {
        { "file A", Cancelled, 0, "file A, end" },
        { "status Sending...", Cancelled, 0, "file A, file B, status Sending..., end" },
        { "sleep 2000", Cancelled, 2, "file A, file B, status Sending..., file A, end" },
        { "sleep 2000", Stopped, 1, "file A, file B, status Sending..., file A, end" },
        { "percent 75 %", Cancelled, 3, "file A, file B, status Sending..., file A, end" },
        { "sleep 2000000", Cancelled, 3, "file A, file B, status Sending..., file A, file B, end" },
        { "percent 100 %", Cancelled, 4, "file A, file B, status Sending..., file A, file B, end" },
    };
    for (const auto& [line, end, sent, seen] : cases) {
        SCOPED_TRACE(line);
        Scene s;
        s.dir.write("A", msFile().sysexOfSize(1, 10).sysexOfSize(2, 10).sysexOfSize(3, 10).file());
        s.dir.write("B", msFile().sysexOfSize(4, 10).file());
        s.at = line;
        s.action = [&s, end = end] {
            s.stopped = end == Stopped;
            s.cancel = end == Cancelled;
        };
        EXPECT_EQ(s.run({ "A", "B" }).end, end);
        EXPECT_EQ(s.sent.size(), sent);
        EXPECT_EQ(s.linesOf({ "file", "status", "alert", "end" }), seen);
    }
}

// A damaged file is caught before the first byte goes out: the person is asked, and unless they
// say to go on nothing is sent. A file that only lacks its End of Track is whole: it is sent, and
// named in a "Complete Update". A file too large to hold is named, never tried.
TEST(Transfer, ADamagedFileIsAskedAboutBeforeAnythingIsSent)
{
    const std::string cut = "Cut.mid ends before its end of track: it is cut off at byte 34.";
    // A file of tests/data (none: a sparse file of 1 TiB), whether to send anyway, how the
    // transfer ends, how many of Cut.mid's whole messages and Fine.mid's one went, what is asked
    // and the alert.
    const std::tuple<const char*, bool, Outcome::End, std::size_t, std::string> cases[] = {
        { "cut-in-event.mid", false, Declined, 0, "damaged " + cut },
        { "cut-in-event.mid", true, Incomplete, 2,
            "damaged " + cut + ", alert Update Incomplete | " + cut },
        { "format-1.mid", false, Declined, 0,
            "damaged Cut.mid is not a format-0 MIDI file with one track." },
        { nullptr, false, Declined, 0, "damaged Cut.mid is too large to read: 1.0 TiB." },
        { "no-end-of-track.mid", false, Completed, 3,
            "alert Complete Update | Cut.mid has no end of track after its last message (byte "
            "46); its messages are whole." },
    };
    for (const auto& [file, sendAnyway, end, sent, seen] : cases) {
        SCOPED_TRACE(seen);
        Scene s;
        if (file)
            s.dir.copyData(file, "Cut.mid");
        else
            ASSERT_EQ(::truncate(s.dir.write("Cut.mid", {}).c_str(), 1LL << 40), 0);
        s.dir.write("Fine.mid", msFile().sysexOfSize(0, 10).file());
        s.sendAnyway = sendAnyway;
        EXPECT_EQ(s.run({ "Cut.mid", "Fine.mid" }).end, end);
        EXPECT_EQ(s.sent.size(), sent);
        EXPECT_EQ(s.linesOf({ "damaged", "alert" }), seen);
    }
}

// Another program that sends to the destination is named before the first byte, and nothing goes
// without a yes. One that begins to send during the update stops it at that message: nothing
// more goes, to any file, and without the pauses there would be no reason for.
TEST(Transfer, OtherSendersAreAskedAboutFirstAndOneThatJoinsStopsTheUpdate)
{
    for (const bool share : { false, true }) {
        Scene s;
        s.dir.write("One.mid", msFile().sysexOfSize(0, 10).file());
        s.others = { "Clock: out", "Patch\nbay" };
        s.shareAnyway = share;
        EXPECT_EQ(s.run({ "One.mid" }).end, share ? Completed : Declined);
        EXPECT_EQ(s.sent.size(), share ? 1u : 0u);
        EXPECT_EQ(s.shared, share);
        EXPECT_EQ(s.linesOf({ "shared" }),
            "shared Also sending to Synth\\tB: Clock: out, Patch\\nbay. Their messages would be "
            "mixed into the update.");
    }

    Scene s;
    s.dir.write(
        "A.mid", msFile().sysexOfSize(0, 10).sysexOfSize(0, 10, 1).sysexOfSize(0, 10, 2).file());
    s.dir.write("B.mid", msFile().sysexOfSize(0, 10).file());
    s.faults
        = { { 1, { midi::SendError::Shared, 3, "Sending stopped: \"Clock\" began to send." } } };
    const Outcome stopped = s.run({ "A.mid", "B.mid" });
    EXPECT_EQ(stopped.end, Incomplete);
    EXPECT_EQ(stopped.bytesSent, 10u);
    EXPECT_EQ(stopped.bytesCut, 3u) << "the part of the message that went out";
    EXPECT_EQ(s.sent.size(), 1u);
    EXPECT_EQ(s.linesOf({ "alert" }),
        "alert Update Incomplete | A.mid: 2 of 3 messages were not delivered to Synth\\tB. "
        "Sending stopped: \"Clock\" began to send.\n"
        "B.mid: 1 of 1 messages were not delivered to Synth\\tB. Nothing more was sent once "
        "another program sent to Synth\\tB.");
    EXPECT_EQ(std::ranges::count(s.log, "sleep 2000000"), 0) << "no pause before B.mid";
}

// A file that was read in the size pass and removed, or rewritten, before the send pass reads it
// has changed; the bar stops at 100 however much more was sent than counted. After a failed
// message the rest of that file is not sent, and the next file still is tried, at once when the
// destination is known gone. An uncertain send was handed over: the file goes on, and is named
// at the end.
TEST(Transfer, UpdateIncompleteNamesEveryFileThatWentWrong)
{
    Scene s;
    for (const char* name : { "Gone.mid", "Grown.mid" })
        s.dir.write(name, msFile().sysexOfSize(0, 10).file());
    s.dir.write("Late.mid", msFile().sysexOfSize(500, 10).file());
    const auto fails = msFile().sysexOfSize(0, 10, 1).sysexOfSize(0, 10, 2).sysexOfSize(0, 10, 3);
    s.dir.write("Fails.mid", fails.file());
    // The first and second messages of Fails.mid, and Late.mid's.
    const midi::SendResult gone { midi::SendError::DestinationGone, 0, "The destination closed." };
    s.faults = { { 1, { midi::SendError::Uncertain, 10, "The server missed a deadline." } },
        { 2, gone }, { 3, gone } };
    s.at = "status Sending...";
    s.action = [&s] {
        std::filesystem::remove(s.dir.path() / "Gone.mid");
        s.dir.write("Grown.mid", msFile().sysexOfSize(0, 100).file());
    };

    const Outcome outcome = s.run({ "Gone.mid", "Grown.mid", "Fails.mid", "Late.mid" });
    EXPECT_EQ(outcome.end, Incomplete);
    EXPECT_EQ(outcome.bytesSent, 110u) << "the uncertain message counts as sent";
    EXPECT_EQ(s.log.end()[-2],
        "alert Update Incomplete | Gone.mid changed during the update.\n"
        "Grown.mid changed during the update.\n"
        "Fails.mid: 2 of 3 messages were not delivered to Synth\\tB. The destination closed.\n"
        "Fails.mid: 1 of 3 messages may not have arrived at Synth\\tB. The server missed a "
        "deadline.\n"
        "Late.mid: 1 of 1 messages were not delivered to Synth\\tB. The destination closed.");
    EXPECT_THAT(s.linesOf({ "percent" }), testing::EndsWith("percent 100 %"));
    EXPECT_THAT(s.sent, ElementsAre(testing::_, fails.messages()[0]));
    EXPECT_EQ(std::ranges::count(s.log, "sleep 2000000"), 2) << "no pause before Late.mid";
    EXPECT_EQ(std::ranges::count(s.log, "sleep 500000"), 0) << "nor its delay";

    // The one problem of an update, told by a send or by the settle after its file: an uncertain
    // message is never a "Complete Update", and a message lost after its send is not counted sent.
    const std::tuple<midi::SendResult, midi::Settled, std::uint64_t, const char*> alone[] = {
        { { midi::SendError::Uncertain, 10, "A cycle was late." }, {}, 20,
            "1 of 2 messages may not have arrived at Synth\\tB. A cycle was late." },
        { {}, { 0, 0, 1, false, {}, "A cycle was late." }, 20,
            "1 of 2 messages may not have arrived at Synth\\tB. A cycle was late." },
        { {}, { 1, 10, 0, false, "The destination closed.", {} }, 10,
            "1 of 2 messages were not delivered to Synth\\tB. The destination closed." },
    };
    for (const auto& [fault, settled, bytesSent, said] : alone) {
        SCOPED_TRACE(said);
        Scene one;
        one.dir.write("One.mid", msFile().sysexOfSize(0, 10).sysexOfSize(0, 10, 1).file());
        if (!fault.ok())
            one.faults = { { 0, fault } };
        one.settled = settled;
        const Outcome only = one.run({ "One.mid" });
        EXPECT_EQ(only.end, Incomplete);
        EXPECT_EQ(only.bytesSent, bytesSent);
        EXPECT_EQ(
            one.linesOf({ "alert" }), std::string("alert Update Incomplete | One.mid: ") + said);
    }
}

// The handshake as a device sends it, from device ID 00, for packet pp.
std::vector<std::uint8_t> handshake(std::uint8_t kind, std::uint8_t pp)
{
    return { 0xF0, 0x7E, 0x00, kind, pp, 0xF7 };
}
constexpr std::uint8_t Ack = 0x7F;
constexpr std::uint8_t Nak = 0x7E;
constexpr std::uint8_t Cancel = 0x7D;
constexpr std::uint8_t Wait = 0x7C;

// Three messages in A and one in B, 10 ms apart.
void writeFourMessages(Scene& s)
{
    s.dir.write(
        "A", msFile().sysexOfSize(10, 8).sysexOfSize(10, 8, 1).sysexOfSize(10, 8, 2).file());
    s.dir.write("B", msFile().sysexOfSize(10, 8, 3).file());
}

// NAK or CANCEL, heard before the next message, stops the update there: nothing more is sent, not
// even the next file, and the end names the message the device refused. One heard only after the
// last message, while Morvex still listens, is named too.
TEST(TransferHeard, ARefusalStopsTheUpdateBeforeItsNextMessageAndTheEndNamesIt)
{
    // The refusal, after which message it comes (from 1), and the message the end names.
    const std::tuple<std::uint8_t, std::size_t, std::string> cases[] = {
        { Nak, 2, "message 2 of A (NAK)" },
        { Cancel, 2, "message 2 of A (CANCEL)" },
        { Nak, 4, "message 1 of B (NAK)" },
    };
    for (const auto& [kind, after, named] : cases) {
        SCOPED_TRACE(named);
        Scene s;
        writeFourMessages(s);
        s.voice = { { 1, std::chrono::milliseconds(2), handshake(Ack, 0) },
            { after, std::chrono::milliseconds(5), handshake(kind, 1) } };
        EXPECT_EQ(s.run({ "A", "B" }).end, Incomplete);
        EXPECT_EQ(s.sent.size(), after);
        EXPECT_THAT(s.linesOf({ "alert" }),
            testing::StartsWith("alert Update Incomplete | The device refused " + named
                + ". Nothing was sent after it: a device that refused a message expects the whole "
                  "update again. | heard: The device answered 2 times: 1 ACK, 1 "));
    }
}

// WAIT holds the next message, its own delay counted from the one before, until the device says
// anything else; the sheet says so meanwhile. Cancel ends the hold as it ends a delay, and 30 s
// without a word stop the update.
TEST(TransferHeard, WaitHoldsTheNextMessageUntilTheDeviceSpeaksOrCancelOrSilenceEndsIt)
{
    Scene s;
    writeFourMessages(s);
    s.voice = { { 1, std::chrono::milliseconds(1), handshake(Wait, 0) },
        { 1, std::chrono::milliseconds(300), handshake(Ack, 0) } };
    EXPECT_EQ(s.run({ "A", "B" }).end, Completed);
    ASSERT_EQ(s.sendTimes.size(), 4u);
    EXPECT_GE(s.sendTimes[1] - s.sendTimes[0], std::chrono::milliseconds(300));
    EXPECT_LE(s.sendTimes[1] - s.sendTimes[0], std::chrono::milliseconds(305))
        << "the held message's delay ran during the hold";
    EXPECT_EQ(s.linesOf({ "status" }),
        "status Sending..., status Waiting for the device..., status Sending...");

    Scene cancelled;
    writeFourMessages(cancelled);
    cancelled.voice = { { 1, std::chrono::milliseconds(1), handshake(Wait, 0) } };
    cancelled.at = "sleep 5000"; // a look at the way back during the hold
    cancelled.action = [&cancelled] { cancelled.cancel = true; };
    EXPECT_EQ(cancelled.run({ "A", "B" }).end, Cancelled);
    EXPECT_EQ(cancelled.sent.size(), 1u);
    EXPECT_LT(cancelled.now() - cancelled.sendTimes[0], std::chrono::seconds(1))
        << "Cancel ended the hold at once";

    Scene silent;
    writeFourMessages(silent);
    silent.voice = { { 1, std::chrono::milliseconds(1), handshake(Wait, 0) } };
    EXPECT_EQ(silent.run({ "A", "B" }).end, Incomplete);
    EXPECT_EQ(silent.sent.size(), 1u);
    // From the WAIT, a millisecond after the message, to the end: the limit, and a look's step.
    EXPECT_THAT(silent.now() - silent.sendTimes[0] - std::chrono::milliseconds(1),
        testing::AllOf(testing::Ge(std::chrono::seconds(30)),
            testing::Le(std::chrono::seconds(30) + std::chrono::milliseconds(10))));
    EXPECT_THAT(silent.linesOf({ "alert" }),
        testing::StartsWith("alert Update Incomplete | The device asked Morvex to wait (WAIT) "
                            "after message 1 of A and then said nothing for 30 s."));
}

// A message the service could not vouch for is vouched for by a device that acknowledged every
// message it was sent; one acknowledgement short, and the doubt stands.
TEST(TransferHeard, AnAckForEveryMessageSettlesWhatTheServiceCouldNotVouchFor)
{
    for (const std::size_t acks : { 4u, 3u }) {
        SCOPED_TRACE(std::to_string(acks) + " ACK");
        Scene s;
        writeFourMessages(s);
        s.faults = { { 1, { midi::SendError::Uncertain, 0, "A cycle was late." } } };
        s.voice.emplace();
        for (std::size_t after = 1; after <= acks; ++after)
            s.voice->push_back({ after, std::chrono::milliseconds(1),
                handshake(Ack, static_cast<std::uint8_t>(after)) });
        EXPECT_EQ(s.run({ "A", "B" }).end, acks == 4 ? Completed : Incomplete);
        EXPECT_THAT(s.linesOf({ "alert" }),
            testing::HasSubstr("A: 1 of 3 messages may not have arrived at Synth\\tB. A cycle was "
                               "late."
                + std::string(acks == 4
                        ? " The device acknowledged every message it was sent: they arrived. |"
                        : " |")));
    }
}

// An Identity Reply from device ID 10.
const std::vector<std::uint8_t> IdentityReply { 0xF0, 0x7E, 0x10, 0x06, 0x02, 0x7D, 0x4D, 0x56,
    0x01, 0x00, 0x00, 0x00, 0x00, 0x01, 0xF7 };

// Replies that are no refusal, and real-time bytes, change nothing: they are counted, the last
// few shown.
TEST(TransferHeard, OtherRepliesAreKeptAndShownButNeverActedUpon)
{
    Scene s;
    writeFourMessages(s);
    s.realTimeBytes = 5;
    s.voice = { { 1, std::chrono::milliseconds(1), { 0xF0, 0x7D, 0x01, 0xF7 } },
        { 2, std::chrono::milliseconds(1), { 0x90, 0x3C, 0x40 } },
        { 3, std::chrono::milliseconds(1), IdentityReply },
        { 4, std::chrono::milliseconds(1), std::vector<std::uint8_t>(40, 0x11) } };
    const Outcome outcome = s.run({ "A", "B" });
    EXPECT_EQ(outcome.end, Completed);
    EXPECT_EQ(s.sent.size(), 4u);
    EXPECT_EQ(outcome.heard.count(transfer::ReplyKind::IdentityReply), 1u);
    EXPECT_EQ(s.linesOf({ "alert" }),
        "alert Complete Update |  | heard: The device answered 4 times: 1 Identity Reply, 3 "
        "other. The last:\n"
        "message 2 of A: 90 3C 40\n"
        "message 3 of A: F0 7E 10 06 02 7D 4D 56 01 00 00 00 00 01 F7\n"
        "message 1 of B: 11 11 11 11 11 11 11 11 11 11 11 11 11 11 11 11 ... (40 bytes)\n"
        "The device sent 5 real-time bytes (clock, active sensing).");
}

// Identify sends the Identity Request once and shows each Identity Reply that comes within 2 s,
// passing over anything else; a second device has a quarter second after the first to answer
// too. Nothing within 2 s is said plainly.
TEST(Identify, ShowsEachReplyWithin2SecondsOrSaysThatNoneCame)
{
    // A second device of another maker, with a manufacturer ID of three bytes.
    const std::vector<std::uint8_t> second { 0xF0, 0x7E, 0x7F, 0x06, 0x02, 0x00, 0x20, 0x33, 0x7F,
        0x7F, 0x02, 0x00, 0x01, 0x02, 0x03, 0x04, 0xF7 };
    Scene s;
    s.voice = { { 1, std::chrono::milliseconds(1500), IdentityReply },
        { 1, std::chrono::milliseconds(1510), handshake(Ack, 0) },
        { 1, std::chrono::milliseconds(1700), second },
        { 1, std::chrono::milliseconds(1990), second } };
    const auto listening = s.listenTo(1);
    const transfer::Identified identified = transfer::identify(s, *listening, 1, s);
    EXPECT_THAT(s.sent, ElementsAre(smf::Bytes { 0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7 }));
    EXPECT_EQ(transfer::identifiedText(identified),
        "Device ID 10: manufacturer 7D, family 4D 56 (11085), model 01 00 (1), software revision "
        "00 00 00 01 (0.0.0.1)\n"
        "Device ID 7F: manufacturer 00 20 33, family 7F 7F (16383), model 02 00 (2), software "
        "revision 01 02 03 04 (1.2.3.4)");
    EXPECT_EQ(s.now() - s.sendTimes[0], std::chrono::milliseconds(1950)) << "a quarter second on";

    Scene silent;
    silent.voice = { { 1, std::chrono::milliseconds(2001), IdentityReply } };
    const auto deaf = silent.listenTo(1);
    EXPECT_EQ(transfer::identifiedText(transfer::identify(silent, *deaf, 1, silent)),
        "No answer within 2 s. Many devices do not answer while they wait for an update.");
}

// The real clock never wakes early, and a stop from another thread ends the wait under way and
// every later one. (The window's tests quit a transfer in a delay on its own thread.)
TEST(SteadyClock, NeverWakesEarlyAndAStopFromAnotherThreadEndsEveryWait)
{
    timing::SteadyClock steady;
    const auto before = std::chrono::steady_clock::now();
    EXPECT_TRUE(steady.sleep(3000));
    EXPECT_GE(std::chrono::steady_clock::now() - before, std::chrono::microseconds(3000));
    std::thread stopper([&] { steady.requestStop(); });
    const auto limit = std::chrono::microseconds(testsupport::WaitLimit).count();
    EXPECT_FALSE(steady.sleep(static_cast<std::uint32_t>(limit)))
        << "the stop from another thread did not end the wait";
    stopper.join();
    EXPECT_TRUE(steady.stopRequested());
    EXPECT_FALSE(steady.sleep(0));
}

// Every entry whose extension is "mid" in any case, files or not, hidden or not, in the order a
// person reads names: case ignored, digits by value however long, ties by bytes, UTF-8 after ASCII.
TEST(UpdateFolder, ListsTheMidEntriesInReadingOrder)
{
    testsupport::TempDir folder;
    for (const char* name : { "c.Mid", "a.mid", "B.MID", "d.midi", "e.txt", "mid", ".mid",
             "f.mid.bak", ".h.mid", "g.", "part10.mid", "Part1.mid", "part2.mid", "part02.mid",
             "A.mid", "part99999999999999999999.mid", "part100000000000000000000.mid",
             "\xC3\xA9.mid", "z.mid" })
        folder.write(name, {});
    std::filesystem::create_directory(folder.path() / "x.mid");
    const transfer::MidiFileListing listing = transfer::listMidiFiles(folder.path().string());
    EXPECT_EQ(listing.error, "");
    EXPECT_EQ(listing.names,
        std::vector<std::string>({ ".h.mid", "A.mid", "a.mid", "B.MID", "c.Mid", "Part1.mid",
            "part02.mid", "part2.mid", "part10.mid", "part99999999999999999999.mid",
            "part100000000000000000000.mid", "x.mid", "z.mid", "\xC3\xA9.mid" }));
    // Whichever side holds the leading zeros: the order does not depend on which is asked first.
    for (const auto& [first, second] : { std::pair { "part009.mid", "part10.mid" },
             std::pair { "part02.mid", "part2.mid" }, std::pair { "a2b009", "a02b10" } }) {
        EXPECT_TRUE(transfer::readsBefore(first, second)) << first << " before " << second;
        EXPECT_FALSE(transfer::readsBefore(second, first)) << first << " before " << second;
    }
}

} // namespace
