#include "Transfer/Transfer.h"

#include "SMF/SmfWriter.h"
#include "Transfer/UpdateFolder.h"
#include "support/TempDir.h"

#include <filesystem>
#include <functional>
#include <future>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <map>
#include <sstream>
#include <sys/prctl.h>
#include <thread>
#include <unistd.h>

using smf::SmfWriter;
using testing::ElementsAre;
using transfer::Outcome;

namespace {

// The sheet, the port and the clock of a transfer at once. Every call to the sheet and every sleep
// is written down as a line, so that a test compares the whole order at once; when it writes the
// line "at", it runs "action": to cancel or change files at a chosen moment. Its time moves only by
// the sleeps asked for. It keeps each message it is given, unless the send, by its number from 0,
// has a fault other than Uncertain (a message handed over but possibly lost).
class Recorder : public transfer::Sheet, public midi::OutputPort, public timing::Clock {
public:
    std::string folder;
    bool sendAnyway = false;
    std::vector<std::string> log;
    std::string at;
    std::function<void()> action;
    std::vector<smf::Bytes> sent;
    std::map<std::size_t, midi::SendResult> faults;

    std::string folderText() override { return note("folder"), folder; }
    void setFileText(const std::string& name) override { note("file " + name); }
    bool sendDamaged(const std::string& reasons) override
    {
        return note("damaged " + reasons), sendAnyway;
    }
    void showStatus(const std::string& text) override { note("status " + text); }
    void startSending() override { note("sending"); }
    void setProgress(double percent) override
    {
        note((std::ostringstream() << "bar " << percent).str());
    }
    void setPercentText(const std::string& text) override { note("percent " + text); }
    void showRemaining(const transfer::Remaining& r) override
    {
        note("left " + std::to_string(r.microseconds / 1000) + " ms, " + std::to_string(r.bytesSent)
            + "/" + std::to_string(r.bytesTotal)
            + (r.waiting ? ", wait " + std::to_string(r.waiting / 1000) : ""));
    }
    std::optional<std::size_t> selectedDestination() override { return note("destination"), 1; }
    void showAlert(const std::string& title, const std::string& message) override
    {
        note("alert " + title + " | " + message);
    }
    void end() override { note("end"); }

    midi::SendResult send(
        std::size_t destination, std::span<const std::uint8_t> message, timing::Clock&) override
    {
        const auto fault = faults.find(mSends++);
        const midi::SendResult result = fault == faults.end() ? midi::SendResult {} : fault->second;
        if (result.ok() || result.error == midi::SendError::Uncertain)
            sent.emplace_back(message.begin(), message.end());
        EXPECT_EQ(destination, 1u);
        return result;
    }

    TimePoint now() const override { return mNow; }
    bool sleepUntil(TimePoint when) override
    {
        note("sleep " + std::to_string((when - mNow) / std::chrono::microseconds(1)));
        mNow = when;
        return true;
    }
    bool stopRequested() const override { return false; }

    // The lines that start with one of prefixes, joined with ", ".
    std::string linesOf(std::initializer_list<std::string_view> prefixes) const
    {
        std::string lines;
        for (const std::string& line : log)
            if (std::ranges::any_of(
                    prefixes, [&](auto prefix) { return line.starts_with(prefix); }))
                lines += (lines.empty() ? "" : ", ") + line;
        return lines;
    }

private:
    void note(const std::string& line)
    {
        log.push_back(line);
        if (line == at)
            action();
    }

    std::size_t mSends = 0;
    TimePoint mNow;
};

// Division 48 and a tempo of 48,000 µs a quarter: one tick is one millisecond.
SmfWriter msFile()
{
    return std::move(SmfWriter().tempo(0, 48000));
}

class TransferRun : public testing::Test {
protected:
    testsupport::TempDir dir;
    Recorder recorder;
    std::atomic<bool> cancel { false };

    TransferRun() { recorder.folder = dir.path().string(); }

    // Destination 1 is a wire of 1,000 bytes a second: a byte takes a millisecond.
    Outcome run(std::vector<std::string> files, timing::Clock* clock = nullptr)
    {
        return transfer::Transfer(recorder, recorder, clock ? *clock : recorder, std::move(files),
            { { "Synth A", "a" }, { "Synth B", "b", 1000 } }, cancel)
            .run();
    }
};

// The bar keeps the fraction; the percent text truncates it, so 99.9 never shows as done. The time
// left is the plan's, delays, pauses and wire time, counted down as they pass. An empty list goes
// straight to a complete update.
TEST_F(TransferRun, SendsEveryMessageWholeInOrderAfterItsDelayWithTheSheetInStep)
{
    const auto a = msFile().sysexOfSize(5, 999, 1).sysexOfSize(0, 999, 2);
    const auto b = msFile().sysexOfSize(7, 2, 3);
    dir.write("A.mid", a.file());
    dir.write("B.mid", b.file());

    const Outcome outcome = run({ "A.mid", "B.mid" });

    EXPECT_EQ(outcome.end, Outcome::End::Completed);
    EXPECT_EQ(outcome.total, 2000u);
    EXPECT_EQ(outcome.bytesSent, 2000u);
    EXPECT_THAT(recorder.sent, ElementsAre(a.messages()[0], a.messages()[1], b.messages()[0]));
    EXPECT_THAT(recorder.log,
        ElementsAre("folder", "file A.mid", "folder", "file B.mid", "status Sending...", "sending",
            "bar 0", "percent 0 %", "destination", "left 4012 ms, 0/2000", "folder", "file A.mid",
            "left 4012 ms, 0/2000, wait 5", "sleep 5000", "bar 49.95", "percent 49 %",
            "left 3008 ms, 999/2000", "sleep 0", "bar 99.9", "percent 99 %",
            "left 2009 ms, 1998/2000", "folder", "file B.mid", "left 2009 ms, 1998/2000, wait 2000",
            "sleep 2000000", "left 9 ms, 1998/2000, wait 7", "sleep 7000", "bar 100",
            "percent 100 %", "left 0 ms, 2000/2000", "alert Complete Update | ", "end"));

    recorder.log.clear();
    EXPECT_EQ(run({}).end, Outcome::End::Completed) << "an empty list";
    EXPECT_THAT(recorder.log,
        ElementsAre("status Sending...", "sending", "bar 0", "percent 0 %", "destination",
            "left 0 ms, 0/0", "alert Complete Update | ", "end"));
}

// Cancel is looked at before each file of each pass, after the size pass, before each message and
// before the alert, never during a wait: a message whose delay has begun still goes out.
struct CancelPoint {
    const char* name;
    const char* line; // cancels when this line is written
    std::size_t sent;
    const char* seen; // the file, status, alert and end lines
};

class TransferCancel : public TransferRun, public testing::WithParamInterface<CancelPoint> { };

TEST_P(TransferCancel, StopsAtTheNextCheckWithoutAlert)
{
    dir.write("A.mid", msFile().sysexOfSize(1, 10).sysexOfSize(2, 10).sysexOfSize(3, 10).file());
    dir.write("B.mid", msFile().sysexOfSize(4, 10).file());
    recorder.at = GetParam().line;
    recorder.action = [this] { cancel = true; };
    EXPECT_EQ(run({ "A.mid", "B.mid" }).end, Outcome::End::Cancelled);
    EXPECT_EQ(recorder.sent.size(), GetParam().sent);
    EXPECT_EQ(recorder.linesOf({ "file", "status", "alert", "end" }), GetParam().seen);
}

INSTANTIATE_TEST_SUITE_P(Transfer, TransferCancel,
    testing::Values(CancelPoint { "InTheSizePass", "file A.mid", 0, "file A.mid, end" },
        CancelPoint { "AfterTheSizePass", "status Sending...", 0,
            "file A.mid, file B.mid, status Sending..., end" },
        CancelPoint { "DuringADelay", "sleep 2000", 2,
            "file A.mid, file B.mid, status Sending..., file A.mid, end" },
        CancelPoint { "BetweenFiles", "percent 75 %", 3,
            "file A.mid, file B.mid, status Sending..., file A.mid, end" },
        CancelPoint { "DuringThePause", "sleep 2000000", 3,
            "file A.mid, file B.mid, status Sending..., file A.mid, file B.mid, end" },
        CancelPoint { "AfterTheLastMessage", "percent 100 %", 4,
            "file A.mid, file B.mid, status Sending..., file A.mid, file B.mid, end" }),
    [](const auto& info) { return std::string(info.param.name); });

// A damaged file is caught before the first byte goes out: the person is asked, and unless they
// say to go on nothing is sent. A file that only lacks its End of Track is whole: it is sent, and
// named in a "Complete Update". A file too large to hold is named, never tried.
struct Damage {
    const char* name;
    const char* file; // in tests/data; none for a sparse file of 1 TiB
    bool sendAnyway;
    Outcome::End end;
    std::size_t sent; // of Cut.mid's whole messages and Fine.mid's one
    const char* seen; // what the person is asked, and the alert
};

class TransferDamage : public TransferRun, public testing::WithParamInterface<Damage> { };

TEST_P(TransferDamage, IsAskedAboutBeforeAnythingIsSent)
{
    if (GetParam().file)
        dir.copyData(GetParam().file, "Cut.mid");
    else
        ASSERT_EQ(::truncate(dir.write("Cut.mid", {}).c_str(), 1LL << 40), 0);
    dir.write("Fine.mid", msFile().sysexOfSize(0, 10).file());
    recorder.sendAnyway = GetParam().sendAnyway;
    EXPECT_EQ(run({ "Cut.mid", "Fine.mid" }).end, GetParam().end);
    EXPECT_EQ(recorder.sent.size(), GetParam().sent);
    EXPECT_EQ(recorder.linesOf({ "damaged", "alert" }), GetParam().seen);
}

INSTANTIATE_TEST_SUITE_P(Transfer, TransferDamage,
    testing::Values(Damage { "CutAndDeclined", "cut-in-event.mid", false, Outcome::End::Declined, 0,
                        "damaged Cut.mid ends before its end of track: it is cut off at byte 34." },
        Damage { "CutAndSentAnyway", "cut-in-event.mid", true, Outcome::End::Incomplete, 2,
            "damaged Cut.mid ends before its end of track: it is cut off at byte 34., alert Update "
            "Incomplete | Cut.mid ends before its end of track: it is cut off at byte 34." },
        Damage { "NotFormat0", "format-1.mid", false, Outcome::End::Declined, 0,
            "damaged Cut.mid is not a format-0 MIDI file with one track." },
        Damage { "TooLarge", nullptr, false, Outcome::End::Declined, 0,
            "damaged Cut.mid is too large to read: 1.0 TiB." },
        Damage { "NoEndOfTrackIsWhole", "no-end-of-track.mid", false, Outcome::End::Completed, 3,
            "alert Complete Update | Cut.mid has no end of track after its last message (byte "
            "46); its messages are whole." }),
    [](const auto& info) { return std::string(info.param.name); });

// A file that was read in the size pass and removed, or rewritten, before the send pass reads it
// has changed; the bar stops at 100 however much more was sent than counted. After a failed
// message the rest of that file is not sent, and the next file still is. An uncertain send was
// handed over: the file goes on, and is named at the end.
TEST_F(TransferRun, UpdateIncompleteNamesEveryFileThatWentWrong)
{
    for (const char* name : { "Gone.mid", "Grown.mid", "Fine.mid" })
        dir.write(name, msFile().sysexOfSize(0, 10).file());
    const auto fails = msFile().sysexOfSize(0, 10, 1).sysexOfSize(0, 10, 2).sysexOfSize(0, 10, 3);
    dir.write("Fails.mid", fails.file());
    // The first and second messages of Fails.mid.
    recorder.faults = { { 1, { midi::SendError::Uncertain, 10, "The server missed a deadline." } },
        { 2, { midi::SendError::DestinationGone, 0, "The destination closed." } } };
    recorder.at = "status Sending...";
    recorder.action = [this] {
        std::filesystem::remove(dir.path() / "Gone.mid");
        dir.write("Grown.mid", msFile().sysexOfSize(0, 100).file());
    };

    const Outcome outcome = run({ "Gone.mid", "Grown.mid", "Fails.mid", "Fine.mid" });
    EXPECT_EQ(outcome.end, Outcome::End::Incomplete);
    EXPECT_EQ(outcome.bytesSent, 120u) << "the uncertain message counts as sent";
    EXPECT_EQ(recorder.log.end()[-2],
        "alert Update Incomplete | Gone.mid changed during the update.\n"
        "Grown.mid changed during the update.\n"
        "Fails.mid: 2 of 3 messages were not delivered to Synth B. The destination closed.\n"
        "Fails.mid: 1 of 3 messages may not have arrived at Synth B. The server missed a "
        "deadline.");
    EXPECT_EQ(recorder.log.end()[-4], "percent 100 %");
    EXPECT_THAT(recorder.sent, ElementsAre(testing::_, fails.messages()[0], testing::_));
}

// On a thread of its own with the real clock, as the window and the command line run it: quitting
// from another thread cuts a delay short, and its message is never sent. The clock never wakes
// early, and once stopped never sleeps again.
TEST_F(TransferRun, StopRequestCutsADelayShortAndItsMessageIsNeverSent)
{
    timing::SteadyClock steady;
    const auto before = std::chrono::steady_clock::now();
    EXPECT_TRUE(steady.sleep(3000));
    EXPECT_GE(std::chrono::steady_clock::now() - before, std::chrono::microseconds(3000));
    // One tick a quarter note at the slowest tempo: a delay of about 56 minutes.
    dir.write("A.mid", SmfWriter(1).tempo(0, 0xFFFFFF).sysexOfSize(200, 10).file());
    std::promise<void> sending;
    recorder.at = "status Sending...";
    recorder.action = [&sending] { sending.set_value(); };
    Outcome outcome;
    std::thread transfer([&] {
        const int slack = ::prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
        outcome = run({ "A.mid" }, &steady);
        EXPECT_EQ(::prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0), slack) << "timer slack not restored";
    });
    sending.get_future().wait();
    steady.requestStop();
    transfer.join();

    EXPECT_EQ(outcome.end, Outcome::End::Stopped);
    EXPECT_TRUE(recorder.sent.empty());
    EXPECT_EQ(recorder.linesOf({ "alert", "end" }), "end");
    EXPECT_FALSE(steady.sleep(0));
    EXPECT_FALSE(steady.sleep(4000000000u));
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
}

} // namespace
