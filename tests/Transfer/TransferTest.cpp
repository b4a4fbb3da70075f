#include "Transfer/Transfer.h"

#include "Fakes.h"
#include "support/Smf.h"
#include "support/TempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using testing::ElementsAre;
using testing::ElementsAreArray;
using testing::HasSubstr;
using testsupport::Bytes;
using testsupport::SmfBuilder;
using transfer::FileProblem;
using transfer::Outcome;

namespace {

// Records the sleeps asked for instead of sleeping; the hook sees each before it is recorded.
class RecordingClock : public transfer::Clock {
public:
    std::vector<std::uint32_t> sleeps;
    std::function<void(std::uint32_t)> hook;
    bool stop = false;

    bool sleep(std::uint32_t microseconds) override
    {
        if (hook)
            hook(microseconds);
        sleeps.push_back(microseconds);
        return !stop;
    }
    bool stopRequested() const override { return stop; }
};

// Division 48 and a tempo of 48,000 µs a quarter: one tick is one millisecond.
SmfBuilder msFile()
{
    return std::move(SmfBuilder().tempo(0, 48000));
}

class TransferRun : public testing::Test {
protected:
    testsupport::TempDir dir;
    transferfakes::RecordingSheet sheet;
    transferfakes::RecordingPort port;
    RecordingClock clock;
    std::atomic<bool> cancel { false };

    TransferRun() { sheet.folder = dir.path().string(); }

    void write(const std::string& name, const SmfBuilder& file) const
    {
        dir.write(name, file.file());
    }

    Outcome run(std::vector<std::string> files)
    {
        transfer::Transfer transfer(
            sheet, port, clock, std::move(files), { "Synth A", "Synth B" }, cancel);
        return transfer.run();
    }

    std::vector<Bytes> sentBytes() const
    {
        std::vector<Bytes> bytes;
        for (const auto& sent : port.sent)
            bytes.push_back(sent.bytes);
        return bytes;
    }

    // Cancels when the sheet writes this line.
    void cancelAt(const std::string& line)
    {
        sheet.hook = [this, line](const std::string& written) {
            if (written == line)
                cancel = true;
        };
    }

    std::string lastBar() const
    {
        std::string bar;
        for (const auto& line : sheet.log)
            if (line.starts_with("bar "))
                bar = line;
        return bar;
    }

    bool alerted() const
    {
        for (const auto& line : sheet.log)
            if (line.starts_with("alert"))
                return true;
        return false;
    }
};

TEST_F(TransferRun, SendsEveryMessageWholeInOrderAfterItsDelayWithTheSheetInStep)
{
    const auto a = msFile().sysexOfSize(5, 100, 1).sysexOfSize(0, 300, 2);
    const auto b = msFile().sysexOfSize(7, 100, 3);
    write("A.mid", a);
    write("B.mid", b);
    sheet.device = 3;

    const Outcome outcome = run({ "A.mid", "B.mid" });

    EXPECT_EQ(outcome.end, Outcome::End::Completed);
    EXPECT_TRUE(outcome.problems.empty());
    EXPECT_EQ(outcome.total, 500u);
    EXPECT_EQ(outcome.bytesSent, 500u);
    EXPECT_THAT(sentBytes(), ElementsAre(a.messages()[0], a.messages()[1], b.messages()[0]));
    for (const auto& sent : port.sent)
        EXPECT_EQ(sent.destination, 1u);
    EXPECT_THAT(clock.sleeps, ElementsAre(5000u, 0u, 2000000u, 7000u));
    EXPECT_THAT(sheet.log,
        ElementsAre("folder", "file A.mid", "folder", "file B.mid", "status Sending...", "stop",
            "determinate", "bar 0", "percent 0 %", "device", "folder", "file A.mid", "bar 20",
            "percent 20 %", "bar 80", "percent 80 %", "folder", "file B.mid", "bar 100",
            "percent 100 %", "alert Complete Update | ", "end"));
}

TEST_F(TransferRun, PausesTwoSecondsBeforeEveryFileButTheFirstListedOne)
{
    write("B.mid", msFile().sysexOfSize(1, 10));
    write("C.mid", msFile().sysexOfSize(2, 10));

    // The first listed file cannot be read: the others still pause, by their index.
    const Outcome outcome = run({ "A.mid", "B.mid", "C.mid" });
    EXPECT_THAT(clock.sleeps, ElementsAre(2000000u, 1000u, 2000000u, 2000u));
    EXPECT_EQ(port.sent.size(), 2u);
    EXPECT_EQ(outcome.end, Outcome::End::Incomplete);
    EXPECT_EQ(sheet.log.end()[-2], "alert Update Incomplete | A.mid could not be read.");

    clock.sleeps.clear();
    (void)run({ "B.mid" });
    EXPECT_THAT(clock.sleeps, ElementsAre(1000u));
}

TEST_F(TransferRun, CancelInTheSizePassSizesNoMoreAndSendsNothing)
{
    write("A.mid", msFile().sysexOfSize(0, 10));
    write("B.mid", msFile().sysexOfSize(0, 10));
    write("C.mid", msFile().sysexOfSize(0, 10));
    cancelAt("file B.mid");

    const Outcome outcome = run({ "A.mid", "B.mid", "C.mid" });

    EXPECT_EQ(outcome.end, Outcome::End::Cancelled);
    EXPECT_TRUE(port.sent.empty());
    EXPECT_THAT(sheet.log,
        ElementsAre("folder", "file A.mid", "folder", "file B.mid", "stop", "determinate", "bar 0",
            "percent 0 %", "device", "end"));
}

TEST_F(TransferRun, CancelDuringADelayStillSendsThatMessageAndNoLaterOne)
{
    const auto a = msFile().sysexOfSize(1, 10).sysexOfSize(2, 10).sysexOfSize(3, 10);
    write("A.mid", a);
    clock.hook = [this](std::uint32_t microseconds) { cancel = microseconds == 2000; };

    const Outcome outcome = run({ "A.mid" });

    EXPECT_EQ(outcome.end, Outcome::End::Cancelled);
    EXPECT_THAT(sentBytes(), ElementsAre(a.messages()[0], a.messages()[1]));
    EXPECT_EQ(sheet.log.end()[-2], "percent 66 %");
    EXPECT_EQ(sheet.log.back(), "end");
}

TEST_F(TransferRun, CancelDuringThePauseSendsNothingOfThatFile)
{
    write("A.mid", msFile().sysexOfSize(0, 10));
    write("B.mid", msFile().sysexOfSize(0, 10));
    clock.hook = [this](std::uint32_t microseconds) { cancel = microseconds == 2000000; };

    EXPECT_EQ(run({ "A.mid", "B.mid" }).end, Outcome::End::Cancelled);
    EXPECT_EQ(port.sent.size(), 1u);
    EXPECT_FALSE(alerted());
}

TEST_F(TransferRun, CancelAfterTheLastMessageShowsNoAlert)
{
    write("A.mid", msFile().sysexOfSize(0, 10));
    cancelAt("percent 100 %");

    EXPECT_EQ(run({ "A.mid" }).end, Outcome::End::Cancelled);
    EXPECT_EQ(port.sent.size(), 1u);
    EXPECT_EQ(sheet.log.back(), "end");
    EXPECT_FALSE(alerted());
}

TEST_F(TransferRun, PercentTextIsTruncatedWhileTheBarKeepsTheFraction)
{
    write("A.mid", msFile().sysexOfSize(0, 999).sysexOfSize(0, 999));
    write("B.mid", msFile().sysexOfSize(0, 2));

    (void)run({ "A.mid", "B.mid" });
    const std::vector<std::string> progress(sheet.log.end() - 11, sheet.log.end() - 2);
    EXPECT_THAT(progress,
        ElementsAre("file A.mid", "bar 49.95", "percent 49 %", "bar 99.9", "percent 99 %", "folder",
            "file B.mid", "bar 100", "percent 100 %"));
}

TEST_F(TransferRun, EmptyListGoesStraightToCompleteUpdate)
{
    EXPECT_EQ(run({}).end, Outcome::End::Completed);
    EXPECT_THAT(sheet.log,
        ElementsAre("status Sending...", "stop", "determinate", "bar 0", "percent 0 %", "device",
            "alert Complete Update | ", "end"));
}

TEST_F(TransferRun, StopRequestEndsAtOnceWithoutAlertButWithTheEnd)
{
    write("A.mid", msFile().sysexOfSize(1, 10).sysexOfSize(1, 10));
    clock.hook = [this](std::uint32_t) { clock.stop = true; };

    EXPECT_EQ(run({ "A.mid" }).end, Outcome::End::Stopped);
    EXPECT_TRUE(port.sent.empty());
    EXPECT_FALSE(alerted());
    EXPECT_EQ(sheet.log.back(), "end");
}

// A file that one pass can read and the other cannot, or that reads differently.
struct Change {
    const char* name;
    std::function<void(const testsupport::TempDir&)> change; // at "Sending..."
    std::size_t sent;
    const char* lastBar;

    friend void PrintTo(const Change& change, std::ostream* out) { *out << change.name; }
};

class TransferChange : public TransferRun, public testing::WithParamInterface<Change> { };

TEST_P(TransferChange, IsReportedAsChangedAndTheRestIsStillSent)
{
    write("A.mid", msFile().sysexOfSize(0, 10));
    write("B.mid", msFile().sysexOfSize(0, 30));
    sheet.hook = [this](const std::string& line) {
        if (line == "status Sending...")
            GetParam().change(dir);
    };

    const Outcome outcome = run({ "A.mid", "B.mid" });

    EXPECT_EQ(outcome.end, Outcome::End::Incomplete);
    EXPECT_EQ(port.sent.size(), GetParam().sent);
    EXPECT_EQ(lastBar(), std::string("bar ") + GetParam().lastBar);
    EXPECT_EQ(sheet.log.end()[-2], "alert Update Incomplete | B.mid changed during the update.");
}

INSTANTIATE_TEST_SUITE_P(Transfer, TransferChange,
    testing::Values(
        Change { "Deleted", [](const auto& dir) { std::filesystem::remove(dir.path() / "B.mid"); },
            1, "25" },
        Change { "Rewritten",
            [](const auto& dir) { dir.write("B.mid", msFile().sysexOfSize(0, 20).file()); }, 2,
            "75" }),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(TransferRun, AFileThatAppearsAfterTheSizePassCountedNothingShowsAHundred)
{
    sheet.hook = [this](const std::string& line) {
        if (line == "status Sending...")
            write("A.mid", msFile().sysexOfSize(0, 20));
    };

    const Outcome outcome = run({ "A.mid" });
    EXPECT_EQ(outcome.total, 0u);
    EXPECT_EQ(port.sent.size(), 1u);
    EXPECT_EQ(lastBar(), "bar 100");
    EXPECT_EQ(sheet.log.end()[-3], "percent 100 %");
    EXPECT_EQ(sheet.log.end()[-2], "alert Update Incomplete | A.mid changed during the update.");
}

TEST_F(TransferRun, UpdateIncompleteNamesEveryFileThatWentWrong)
{
    write("Header.mid", msFile().sysexOfSize(0, 10));
    auto cut = msFile().sysexOfSize(0, 10).sysexOfSize(0, 10).file();
    cut.resize(cut.size() - 4); // loses End of Track
    dir.write("Cut.mid", cut);
    dir.write("Format1.mid", testsupport::smfFile(1, 1, 48, msFile().sysexOfSize(0, 10).track()));
    const auto failing = msFile().sysexOfSize(0, 10, 1).sysexOfSize(0, 10, 2).sysexOfSize(0, 10, 3);
    write("Fails.mid", failing);
    write("Fine.mid", msFile().sysexOfSize(0, 10));
    port.failing = { 4 }; // the second message of Fails.mid

    const Outcome outcome
        = run({ "Header.mid", "Cut.mid", "Missing.mid", "Format1.mid", "Fails.mid", "Fine.mid" });

    EXPECT_EQ(outcome.end, Outcome::End::Incomplete);
    std::vector<FileProblem::Kind> kinds;
    for (const auto& problem : outcome.problems)
        kinds.push_back(problem.kind);
    using Kind = FileProblem::Kind;
    EXPECT_THAT(
        kinds, ElementsAre(Kind::Truncated, Kind::Unreadable, Kind::NotFormat0, Kind::Undelivered));
    EXPECT_EQ(sheet.log.end()[-2],
        "alert Update Incomplete | Cut.mid ends before its end of track.\n"
        "Missing.mid could not be read.\n"
        "Format1.mid is not a format-0 MIDI file with one track.\n"
        "Fails.mid: 2 of 3 messages were not delivered to Synth A. The destination closed.");
    // What was read of the cut file still goes out; after a failed message the rest of that file
    // does not, and the next file is still sent.
    EXPECT_EQ(port.sent.size(), 5u);
    EXPECT_EQ(port.sent[3].bytes, failing.messages()[0]);
}

TEST_F(TransferRun, UncertainSendsGoOnAndAreNamedAtTheEnd)
{
    write("A.mid", msFile().sysexOfSize(0, 10, 1).sysexOfSize(0, 10, 2).sysexOfSize(0, 10, 3));
    port.uncertain = { 0, 2 };

    const Outcome outcome = run({ "A.mid" });
    EXPECT_EQ(outcome.end, Outcome::End::Incomplete);
    EXPECT_EQ(port.sent.size(), 3u);
    EXPECT_EQ(outcome.bytesSent, outcome.total);
    EXPECT_EQ(sheet.log.end()[-2],
        "alert Update Incomplete | A.mid: 2 of 3 messages may not have arrived at Synth A. The "
        "server missed a deadline.");
}

TEST_F(TransferRun, NoListedDestinationFailsEverySendByName)
{
    write("A.mid", msFile().sysexOfSize(0, 10));
    sheet.device = 0;
    port.failing = { 0 };

    const Outcome outcome = run({ "A.mid" });
    ASSERT_EQ(outcome.problems.size(), 1u);
    EXPECT_THAT(
        outcome.problems[0].text, HasSubstr("not delivered to a destination that is not listed"));
}

} // namespace
