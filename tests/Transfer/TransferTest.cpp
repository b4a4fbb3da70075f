#include "Transfer/Transfer.h"

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
#include <thread>
#include <unistd.h>
#include <utility>

using testing::ElementsAre;
using testing::HasSubstr;
using testsupport::SmfBuilder;
using transfer::Outcome;
using enum transfer::Outcome::End;
using Ms = std::chrono::milliseconds;

namespace {

// A transfer's folder, and its sheet, port and clock at once. It writes down as lines what the
// tests look at: the files taken up, the questions, statuses, percent texts, the port's pace and
// sharing, waits, the alert and the end; when it writes the line "at", it runs "action", to cancel
// or change files at a chosen moment. Its time moves only by the waits asked for. It keeps each
// message it is given, unless the send, by its number from 0, has a fault other than Uncertain (a
// message handed over but possibly lost). The destination is 1; a tab in its name shows as \t.
class Scene : public transfer::Sheet, public midi::OutputPort, public timing::Clock {
public:
    // With a voice, the device talks back, in the order given: after the nth message sent (from
    // 1), that much later, these bytes.
    using Said = std::tuple<std::size_t, Ms, smf::Bytes>;

    testsupport::TempDir dir;
    std::atomic<bool> cancel { false };
    bool stopped = false; // the clock's stop request
    bool answer = false; // to whichever question the sheet is asked
    std::vector<std::string> others; // what otherSenders answers
    std::map<std::size_t, midi::SendResult> faults;
    midi::Settled settled; // what the next settle reports
    std::vector<Said> voice;
    // How long each message is still on its way after its send, as on a wire.
    std::chrono::microseconds onItsWay { 0 };
    std::vector<std::string> log;
    std::string at;
    std::function<void()> action;
    std::vector<smf::Bytes> sent;
    std::vector<TimePoint> sendTimes;

    Outcome run(std::vector<std::string> files, double pace = 1)
    {
        transfer::Listen listen;
        if (!voice.empty())
            listen = [this](std::size_t /*to*/) -> midi::WayBackResult {
                auto ear = std::make_unique<Ear>();
                ear->scene = this;
                return std::unique_ptr<midi::WayBack>(std::move(ear));
            };
        return transfer::Transfer(*this, *this, *this, std::move(files),
            { { "Synth A", "a" }, { "Synth\tB", "b", 1000 } }, cancel, pace, std::move(listen))
            .run();
    }

    std::string folderText() override { return dir.path().string(); }
    void setFileText(const std::string& name) override { note("file ", name); }
    bool sendDamaged(const std::string& why) override { return note("damaged ", why), answer; }
    bool shareDestination(const std::string& why) override { return note("shared ", why), answer; }
    void showStatus(const std::string& text) override { note("status ", text); }
    void startSending() override { }
    void setProgress(double /*percent*/) override { }
    void setPercentText(const std::string& text) override { note("percent ", text); }
    void showRemaining(const transfer::Remaining& /*remaining*/) override { }
    std::optional<std::size_t> selectedDestination() override { return 1; }
    void showAlert(
        const Outcome& outcome, const std::string& text, const std::string& heard) override
    {
        note("alert ", transfer::alertTitle(outcome), " | ", text,
            heard.empty() ? "" : " | heard: " + heard);
    }
    void end() override { note("end"); }

    midi::SendResult send(std::size_t to, std::span<const std::uint8_t> m, timing::Clock&) override
    {
        EXPECT_EQ(to, 1u);
        const auto fault = faults.find(mSends++);
        const midi::SendResult result = fault == faults.end() ? midi::SendResult {} : fault->second;
        if (result.ok() || result.error == midi::SendError::Uncertain) {
            sent.emplace_back(m.begin(), m.end());
            sendTimes.push_back(mNow);
        }
        return result;
    }
    midi::Settled settle() override { return std::exchange(settled, {}); }
    std::vector<std::string> otherSenders(std::size_t /*to*/) override { return others; }
    void shareDestination() override { note("sharing"); }
    void setSlower(double factor) override { note("slower ", factor); }
    TimePoint nextDelayFrom(const timing::Clock& /*clock*/) const override
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

private:
    // The way back: what the voice says, each reply once its time has come.
    struct Ear final : midi::WayBack {
        Scene* scene = nullptr;
        void take(std::vector<smf::Bytes>& out) override { scene->hear(out); }
        std::uint64_t realTimeBytes() const override { return 0; }
    };

    void hear(std::vector<smf::Bytes>& out)
    {
        for (; !voice.empty(); voice.erase(voice.begin())) {
            const auto& [after, later, bytes] = voice.front();
            if (sendTimes.size() < after || mNow < sendTimes[after - 1] + later)
                return;
            out.push_back(bytes);
        }
    }

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

// Every message goes whole and in order, each after its delay, and a 2 s pause before the second
// file. At a slower pace every delay and the pause last that much longer, and the port is told to
// take bytes so. A delay, and the pause, count from when the last message has gone off the wire; a
// message with none follows at once. The percent text truncates, so 99.9 never shows as done.
TEST(Transfer, SendsEveryMessageWholeInOrderAfterItsDelay)
{
    Scene s;
    const auto a = msFile().sysexOfSize(5, 999, 1).sysexOfSize(0, 999, 2);
    const auto b = msFile().sysexOfSize(7, 2, 3);
    s.dir.write("A.mid", a.file());
    s.dir.write("B.mid", b.file());

    EXPECT_EQ(s.run({ "A.mid", "B.mid" }).end, Completed);
    EXPECT_THAT(s.sent, ElementsAre(a.messages()[0], a.messages()[1], b.messages()[0]));
    EXPECT_EQ(s.linesOf({ "file", "percent", "sleep", "alert" }),
        "file A.mid, file B.mid, percent 0 %, file A.mid, sleep 5000, percent 49 %, sleep 0, "
        "percent 99 %, file B.mid, sleep 2000000, sleep 7000, percent 100 %, "
        "alert Complete Update | ");

    s.log.clear();
    EXPECT_EQ(s.run({ "A.mid", "B.mid" }, 2).end, Completed);
    EXPECT_EQ(s.linesOf({ "slower", "sleep" }),
        "slower 2, sleep 10000, sleep 0, sleep 4000000, sleep 14000");

    s.log.clear();
    s.sendTimes.clear();
    s.onItsWay = Ms(999);
    EXPECT_EQ(s.run({ "A.mid", "B.mid" }).end, Completed);
    EXPECT_EQ(s.linesOf({ "sleep" }), "sleep 5000, sleep 0, sleep 2999000, sleep 7000");
}

// A damaged file is caught before the first byte goes out: the person is asked, and unless they
// say to go on nothing is sent. A file too large to hold is named, never tried.
TEST(Transfer, ADamagedFileIsAskedAboutBeforeAnythingIsSent)
{
    const std::string cut = "Cut.mid ends before its end of track: it is cut off at byte 34.";
    // A file of tests/data (none: a sparse file of 1 TiB), whether to send anyway, how the
    // transfer ends, how many of Cut.mid's whole messages and Fine.mid's one went, what is asked
    // and the alert. (A file that only lacks its End of Track is whole: the window's and the
    // terminal sender's tests send it.)
    const std::tuple<const char*, bool, Outcome::End, std::size_t, std::string> cases[] = {
        { "cut-in-event.mid", false, Declined, 0, "damaged " + cut },
        { "cut-in-event.mid", true, Incomplete, 2,
            "damaged " + cut + ", alert Update Incomplete | " + cut },
        { nullptr, false, Declined, 0, "damaged Cut.mid is too large to read: 1.0 TiB." },
    };
    for (const auto& [file, sendAnyway, end, sent, seen] : cases) {
        SCOPED_TRACE(seen);
        Scene s;
        if (file)
            s.dir.copyData(file, "Cut.mid");
        else
            ASSERT_EQ(::truncate(s.dir.write("Cut.mid", {}).c_str(), 1LL << 40), 0);
        s.dir.write("Fine.mid", msFile().sysexOfSize(0, 10).file());
        s.answer = sendAnyway;
        EXPECT_EQ(s.run({ "Cut.mid", "Fine.mid" }).end, end);
        EXPECT_EQ(s.sent.size(), sent);
        EXPECT_EQ(s.linesOf({ "damaged", "alert" }), seen);
    }
}

// The handshake as a device sends it, from device ID 00, for packet pp.
smf::Bytes handshake(std::uint8_t kind, std::uint8_t pp = 0)
{
    return { 0xF0, 0x7E, 0x00, kind, pp, 0xF7 };
}
constexpr std::uint8_t Ack = 0x7F;
constexpr std::uint8_t Nak = 0x7E;
constexpr std::uint8_t Cancel = 0x7D;
constexpr std::uint8_t Wait = 0x7C;

// Sends three messages in A and one in B, each 10 ms after the one before, and checks how the
// update ended, how many messages went, and that the file, status, sharing, alert and end lines
// hold seen.
void sendFour(Scene& s, Outcome::End end, std::size_t sent, const std::string& seen)
{
    s.dir.write(
        "A", msFile().sysexOfSize(10, 8).sysexOfSize(10, 8, 1).sysexOfSize(10, 8, 2).file());
    s.dir.write("B", msFile().sysexOfSize(10, 8, 3).file());
    EXPECT_EQ(s.run({ "A", "B" }).end, end);
    EXPECT_EQ(s.sent.size(), sent);
    EXPECT_THAT(s.linesOf({ "file", "status", "shar", "alert", "end" }), HasSubstr(seen));
}

// Cancel is looked at before each file of each pass, after the size pass, before each message and
// before the alert, never during a wait: a message whose delay has begun still goes out. Cancel
// ends a hold of the device (WAIT) as well, at a look at the way back. A stop request (quitting)
// cuts the wait short instead, and that message never goes. Neither shows an alert.
TEST(Transfer, CancelAndStopEndItAtTheNextCheckWithoutAlert)
{
    // Cancels, or stops, when this line is written; what the device says; how many messages went;
    // the last lines.
    const std::tuple<const char*, Outcome::End, std::vector<Scene::Said>, std::size_t, const char*>
        cases[] = {
            { "file A", Cancelled, {}, 0, "file A, end" },
            { "status Sending...", Cancelled, {}, 0, "file B, status Sending..., end" },
            { "sleep 10000", Cancelled, {}, 1, "status Sending..., file A, end" },
            { "sleep 10000", Stopped, {}, 0, "status Sending..., file A, end" },
            { "percent 100 %", Cancelled, {}, 4, "file A, file B, end" },
            { "sleep 5000", Cancelled, { { 1, Ms(1), handshake(Wait) } }, 1,
                "status Waiting for the device..., end" },
        };
    for (const auto& [line, end, voice, sent, seen] : cases) {
        SCOPED_TRACE(line);
        Scene s;
        s.at = line;
        s.action = [&s, end = end] {
            s.stopped = end == Stopped;
            s.cancel = end == Cancelled;
        };
        s.voice = voice;
        sendFour(s, end, sent, seen);
    }
}

// Another program that sends to the destination is named before the first byte, and nothing goes
// without a yes, after which the port is told to share. One that begins to send during the update
// stops it at that message: nothing more goes, to any file.
TEST(Transfer, OtherSendersAreAskedAboutFirstAndOneThatJoinsStopsTheUpdate)
{
    const std::string asked = "shared Also sending to Synth\\tB: Clock: out, Patch\\nbay. Their "
                              "messages would be mixed into the update.";
    for (const bool share : { false, true }) {
        Scene s;
        s.others = { "Clock: out", "Patch\nbay" };
        s.answer = share;
        sendFour(s, share ? Completed : Declined, share ? 4 : 0,
            asked + (share ? ", sharing, file A" : ", end"));
    }

    Scene s;
    s.faults = { { 1, { midi::SendError::Shared, 3, "\"Clock\" began to send." } } };
    sendFour(s, Incomplete, 1,
        "A: 2 of 3 messages were not delivered to Synth\\tB. \"Clock\" began to send.\n"
        "B: 1 of 1 messages were not delivered to Synth\\tB. Nothing more was sent once another "
        "program sent to Synth\\tB.");
}

// A file that was read in the size pass and removed before the send pass reads it has changed.
// After a failed message the rest of that file is not sent, and the next file still is tried. An
// uncertain send was handed over: the file goes on, and is named at the end.
TEST(Transfer, UpdateIncompleteNamesEveryFileThatWentWrong)
{
    Scene s;
    s.dir.write("Gone.mid", msFile().sysexOfSize(0, 10).file());
    s.dir.write("Late.mid", msFile().sysexOfSize(500, 10).file());
    const auto fails = msFile().sysexOfSize(0, 10, 1).sysexOfSize(0, 10, 2).sysexOfSize(0, 10, 3);
    s.dir.write("Fails.mid", fails.file());
    // The first and second messages of Fails.mid, and Late.mid's.
    const midi::SendResult gone { midi::SendError::DestinationGone, 0, "The destination closed." };
    s.faults = { { 0, { midi::SendError::Uncertain, 10, "The server missed a deadline." } },
        { 1, gone }, { 2, gone } };
    s.at = "status Sending...";
    s.action = [&s] { std::filesystem::remove(s.dir.path() / "Gone.mid"); };
    EXPECT_EQ(s.run({ "Gone.mid", "Fails.mid", "Late.mid" }).end, Incomplete);
    EXPECT_EQ(s.linesOf({ "alert" }),
        "alert Update Incomplete | Gone.mid changed during the update.\n"
        "Fails.mid: 2 of 3 messages were not delivered to Synth\\tB. The destination closed.\n"
        "Fails.mid: 1 of 3 messages may not have arrived at Synth\\tB. The server missed a "
        "deadline.\n"
        "Late.mid: 1 of 1 messages were not delivered to Synth\\tB. The destination closed.");
    EXPECT_THAT(s.sent, ElementsAre(fails.messages()[0]));

    // The one problem of an update, told by the settle after its file rather than by a send: an
    // uncertain message is never a "Complete Update", nor is one lost after its send.
    const std::pair<midi::Settled, std::string> alone[] = {
        { { 0, 0, 1, false, {}, "A cycle was late." },
            "A: 1 of 3 messages may not have arrived at Synth\\tB. A cycle was late." },
        { { 1, 8, 0, false, "The destination closed.", {} },
            "A: 1 of 3 messages were not delivered to Synth\\tB. The destination closed." },
    };
    for (const auto& [settled, told] : alone) {
        SCOPED_TRACE(told);
        Scene one;
        one.settled = settled;
        sendFour(one, Incomplete, 4, "alert Update Incomplete | " + told);
    }
}

// NAK or CANCEL, heard before the next message, stops the update there: nothing more is sent, not
// even the next file, and the end names the message the device refused; one heard only after the
// last message, while Morvex still listens, is named too. A message the service could not vouch
// for is vouched for by a device that acknowledged every message it was sent; one acknowledgement
// short, and the doubt stands.
TEST(TransferHeard, ARefusalStopsTheUpdateAndAnAckForEveryMessageVouchesForIt)
{
    const std::string refused = "alert Update Incomplete | The device refused message ";
    const std::string doubt
        = "A: 1 of 3 messages may not have arrived at Synth\\tB. A cycle was late.";
    const auto ack = [](std::size_t after) {
        return Scene::Said { after, Ms(1), handshake(Ack, static_cast<std::uint8_t>(after)) };
    };
    // Whether the second message was handed over in doubt, what the device says, how the update
    // ends, how many messages went, and what is told.
    using Case = std::tuple<bool, std::vector<Scene::Said>, Outcome::End, std::size_t, std::string>;
    const Case cases[] = {
        { false, { { 1, Ms(2), handshake(Ack) }, { 2, Ms(5), handshake(Nak, 1) } }, Incomplete, 2,
            refused + "2 of A (NAK). Nothing was sent after" },
        { false, { { 2, Ms(5), handshake(Cancel, 1) } }, Incomplete, 2,
            refused + "2 of A (CANCEL). Nothing was sent after" },
        { false, { { 4, Ms(5), handshake(Nak, 1) } }, Incomplete, 4, refused + "1 of B (NAK)." },
        { true, { ack(1), ack(2), ack(3), ack(4) }, Completed, 4,
            doubt + " The device acknowledged every message it was sent: they arrived." },
        { true, { ack(1), ack(2), ack(3) }, Incomplete, 4, doubt + " |" },
    };
    for (const auto& [doubted, voice, end, sent, seen] : cases) {
        SCOPED_TRACE(seen);
        Scene s;
        if (doubted)
            s.faults = { { 1, { midi::SendError::Uncertain, 0, "A cycle was late." } } };
        s.voice = voice;
        sendFour(s, end, sent, seen);
    }
}

// WAIT holds the next message, its own delay counted from the one before, until the device says
// anything else; the sheet says so meanwhile. 30 s without a word stop the update.
TEST(TransferHeard, WaitHoldsTheNextMessageUntilTheDeviceSpeaksOrSilenceEndsIt)
{
    Scene s;
    s.voice = { { 1, Ms(1), handshake(Wait) }, { 1, Ms(300), handshake(Ack) } };
    sendFour(s, Completed, 4, "status Waiting for the device..., status Sending..., file B");
    EXPECT_GE(s.sendTimes.at(1) - s.sendTimes[0], Ms(300));
    EXPECT_LE(s.sendTimes.at(1) - s.sendTimes[0], Ms(305))
        << "the held message's delay ran during the hold";

    Scene silent;
    silent.voice = { { 1, Ms(1), handshake(Wait) } };
    sendFour(silent, Incomplete, 1,
        "The device asked Morvex to wait (WAIT) after message 1 of A and then said nothing for "
        "30 s.");
    // From the WAIT, a millisecond after the message, to the end: the limit, and a look's step.
    EXPECT_THAT(silent.now() - silent.sendTimes.at(0) - Ms(1),
        testing::AllOf(
            testing::Ge(std::chrono::seconds(30)), testing::Le(std::chrono::seconds(30) + Ms(10))));
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
    EXPECT_FALSE(steady.sleep(0));
}

// Every entry whose extension is "mid" in any case, files or not, hidden or not, in the order a
// person reads names, which is the order they are sent in: case ignored, digits by value however
// long. Leading zeros on either side never make the order depend on which name is asked first.
TEST(UpdateFolder, ListsTheMidEntriesInReadingOrder)
{
    testsupport::TempDir folder;
    for (const char* name : { "B.MID", "a.mid", "c.midi", ".h.mid", "part100000000000000000000.mid",
             "part99999999999999999999.mid" })
        folder.write(name, {});
    std::filesystem::create_directory(folder.path() / "x.mid");
    const transfer::MidiFileListing listing = transfer::listMidiFiles(folder.path().string());
    EXPECT_EQ(listing.error, "");
    EXPECT_EQ(listing.names,
        std::vector<std::string>({ ".h.mid", "a.mid", "B.MID", "part99999999999999999999.mid",
            "part100000000000000000000.mid", "x.mid" }));
    EXPECT_TRUE(transfer::readsBefore("a2b009", "a02b10"));
    EXPECT_FALSE(transfer::readsBefore("a02b10", "a2b009"));
}

} // namespace
