// morvex-send as a user runs it: its options, its dry run, and updates sent on a private JACK
// server to morvex-monitor. Nothing here asserts a time. A whole update's success is the ALSA
// machine's to show (tests/alsa), where no dummy backend misses deadlines.

#include "Send/Options.h"
#include "support/Bytes.h"
#include "support/Jack.h"
#include "support/OutsideNames.h"
#include "support/SmfBuilder.h"

#include <algorithm>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sstream>

namespace {

using testing::AllOf;
using testing::HasSubstr;
using testsupport::JackMonitor;
using testsupport::run;
using testsupport::SmfBuilder;
using testsupport::TempDir;

// morvex-send on a terminal of its own, 80 columns wide, as a person runs it in a terminal
// window (script(1) gives it one): its exit status, and all it wrote there in out.
testsupport::Finished onTerminal(const std::vector<std::string>& arguments, const TempDir& logs)
{
    std::string command = "stty cols 80 rows 24 && exec '" MORVEX_SEND "'";
    for (const std::string& argument : arguments)
        command += " '" + argument + "'"; // none holds a quote
    return run(
        { "sh", "-c", "exec script -qec \"$0\" /dev/null </dev/null", command }, logs.path());
}

TEST(SendOptions, AcceptsWhatCanBeMeantAndRefusesTheRestForItsReason)
{
    const auto meaning = [](const std::vector<const char*>& arguments) -> std::string {
        const send::ParsedOptions parsed = send::parseOptions(arguments);
        if (!parsed.options)
            return "refused: " + parsed.error;
        const send::Options& options = *parsed.options;
        return (options.dryRun ? "dry run to '" : "send to '") + options.to + "' from '"
            + options.folder + "'" + (options.shareDestination ? ", shared" : "")
            + (options.slower != 1 ? " at " + testing::PrintToString(options.slower) : "");
    };
    const std::vector<std::pair<std::vector<const char*>, std::string>> cases {
        { { "--to", "Synth 1", "updates" }, "send to 'Synth 1' from 'updates'" },
        { { "updates" }, "refused: say where to send" },
        { { "--to" }, "refused: --to needs a value" },
        { { "--to=" }, "refused: --to needs a destination" },
        { { "--to", "1", "a", "b" }, "refused: one folder at most, not also \"b\"" },
        { { "--list", "--to", "1" }, "refused: --list takes nothing else" },
        { { "--verbose", "--to", "1" }, "refused: unknown option \"--verbose\"" },
        { { "--share-destination", "--to", "1" }, "send to '1' from '.', shared" },
        { { "--slower", "1.5", "--to", "1" }, "send to '1' from '.' at 1.5" },
        { { "--slower=10", "--dry-run" }, "dry run to '' from '.' at 10" },
        { { "--slower", "0.5", "--dry-run" }, "refused: --slower takes a number" },
        { { "--slower", "10.01", "--dry-run" }, "refused: --slower takes a number" },
        { { "--slower", "2x", "--dry-run" }, "refused: --slower takes a number" },
    };
    // A refusal is told by the start of its reason, so that one for the wrong reason fails.
    for (const auto& [arguments, expected] : cases) {
        const std::string said = meaning(arguments);
        if (expected.starts_with("refused: "))
            EXPECT_THAT(said, testing::StartsWith(expected)) << testing::PrintToString(arguments);
        else
            EXPECT_EQ(said, expected) << testing::PrintToString(arguments);
    }
}

// On a private JACK server, to morvex-monitor by its number in the list (there is no number 0): a
// damaged file stops the update before anything is sent, unless --send-damaged says to go on.
// Then, while morvex-send waits 3 s before b.mid's second message (1.5 s at --slower 2), a second
// morvex-send to the same destination names the first and sends nothing, and Ctrl-C lets that
// message out and nothing after it. The wait only makes room for the test to act: a machine that
// took longer would fail here, not pass wrongly. (What a destination that goes is told is the
// JACK output's and the transfer's to show.)
TEST(Send, ADamagedFileAnotherSenderAndCtrlCInADelayEachEndItAsTheySay)
{
    MORVEX_SKIP_WITHOUT_JACK_SERVER();
    TempDir logs;
    TempDir folder;
    JackMonitor jack;
    std::vector<std::string> send { MORVEX_SEND, "--slower", "2", "--to", "1",
        folder.path().string() };
    std::filesystem::create_directory(folder.path() / "a.mid");
    const SmfBuilder b
        = SmfBuilder(48).sysexOfSize(0, 20).sysexOfSize(144, 30, 1).sysexOfSize(0, 40, 2);
    folder.write("b.mid", b.file());
    folder.write("c.mid", SmfBuilder(48).sysexOfSize(0, 50).file());
    const auto none
        = run({ MORVEX_SEND, "--dry-run", "--to", "0", folder.path().string() }, logs.path());
    EXPECT_EQ(none.status, 3);
    EXPECT_THAT(none.err, HasSubstr("there is no destination 0: 1 are listed"));
    const auto declined = run(send, logs.path());
    EXPECT_EQ(declined.status, 1);
    EXPECT_THAT(declined.err, testing::StartsWith("Nothing was sent: these files are damaged"));

    send.insert(send.begin() + 1, "--send-damaged");
    auto cancelled = testsupport::start(send, logs.path());
    // morvex-send prints "Waiting" after the transfer's last cancel check before that wait.
    ASSERT_TRUE(testsupport::waitFor("morvex-send to wait before b.mid's second message", [&] {
        return testsupport::readText(logs.path() / "out.txt").find("Waiting 3.000 s")
            != std::string::npos;
    }));
    TempDir secondLogs;
    const auto second = run(send, secondLogs.path());
    EXPECT_EQ(second.status, 1);
    EXPECT_THAT(second.err,
        HasSubstr("Nothing was sent: Also sending to monitor:Monitor: Morvex:Morvex Output Port."));
    const int status = cancelled.stop(SIGINT);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 130) << status;
    EXPECT_THAT(testsupport::readText(logs.path() / "err.txt"),
        HasSubstr("cancelled after 50 of 140 bytes"));
    EXPECT_EQ(jack.received(2), testsupport::joined({ b.messages()[0], b.messages()[1] }));
}

// Update folders come from the internet. On a terminal, a file named to set the terminal's title,
// colour its text and fake a line of its own, and the longest name Linux allows with the other
// controls and bytes that are not UTF-8, show escaped, each on its one line: in the progress line
// (cut to fit 80 columns) and in the end report. A destination whose name would fake an entry of
// --list shows escaped there. No control reaches the terminal but morvex-send's
// own line feeds and line redraws, and the files still arrive whole.
TEST(Send, OnATerminalNamesShowEscapedOnTheirOwnLineAndTheirFilesStillArriveWhole)
{
    MORVEX_SKIP_WITHOUT_JACK_SERVER();
    TempDir logs;
    TempDir folder;
    const SmfBuilder first = SmfBuilder(48).sysexOfSize(0, 300).sysexOfSize(0, 200, 1);
    folder.write(testsupport::LongName, first.file());
    // Without its End of Track, so that the end report names it and the update is still complete.
    const SmfBuilder second = SmfBuilder(48).sysexOfSize(0, 100, 2);
    smf::Bytes track = second.track();
    track.resize(track.size() - 4);
    folder.write(testsupport::HostileName, smf::smfFile(0, 1, 48, track));
    // The terminal's lines: no control is left once line ends and redraws are taken away.
    const auto lines = [](std::string seen) {
        for (std::size_t redraw; (redraw = seen.find("\x1b[K")) != std::string::npos;)
            seen.erase(redraw, 3);
        EXPECT_EQ(testsupport::controlsIn(seen, "\r\n"), "");
        std::replace(seen.begin(), seen.end(), '\r', '\n');
        std::vector<std::string> lines;
        std::istringstream text(seen);
        for (std::string line; std::getline(text, line);)
            if (!line.empty())
                lines.push_back(line);
        return lines;
    };

    JackMonitor jack;
    const testsupport::JackReceiver faker("Evil\n1  Serial MIDI (UART16550A)", "in");
    EXPECT_THAT(lines(onTerminal({ "--list" }, logs).out),
        testing::Contains(testing::EndsWith("  Evil\\n1  Serial MIDI (UART16550A):in")));

    const auto sent = onTerminal({ "--to", "monitor:Monitor", folder.path().string() }, logs);
    EXPECT_EQ(sent.status, 0) << sent.out;
    const std::vector<std::string> shown = lines(sent.out);
    ASSERT_GE(shown.size(), 3u);
    EXPECT_THAT(std::vector(shown.end() - 2, shown.end()),
        testing::ElementsAre("Complete Update",
            testsupport::HostileShown
                + " has no end of track after its last message (byte 124); its messages are "
                  "whole."));
    // Every line before is the progress line, each name escaped and cut in the middle to fit.
    for (const std::string& line : std::vector(shown.begin(), shown.end() - 2))
        EXPECT_THAT(line,
            AllOf(testing::AnyOf(testing::StartsWith("[1/2] \\t\\r\\x7F\\x9B\\xFF "),
                      testing::StartsWith("[2/2] a\\e]0;PWNED\\a")),
                HasSubstr("…"), testing::SizeIs(testing::Lt(80u))));
    EXPECT_EQ(jack.received(3),
        testsupport::joined({ first.messages()[0], first.messages()[1], second.messages()[0] }));
}

// The device talks back: morvex-monitor ACKs each message and WAITs to the 37th. 36 messages in
// a burst, then one a second, longer than any answer takes to come back: the WAIT holds the 38th
// until the ACK the monitor sends a second later. A 100 kB reply after the fifth is counted as one
// reply among the ACKs. (What each kind of answer does is the transfer's to show; this is the way
// back from a JACK destination.)
TEST(SendHeard, AWaitHoldsTheUpdateAndALongReplyIsOne)
{
    MORVEX_SKIP_WITHOUT_JACK_SERVER();
    TempDir logs;
    TempDir folder;
    SmfBuilder update(48);
    for (std::uint8_t i = 0; i < 40; ++i)
        update.sysexOfSize(i < 36 ? 0 : 96, 20, i); // 96 ticks: 1 s
    folder.write("02 System.mid", update.file());
    // A loaded machine's dummy JACK driver falls behind at short periods, and the frames at which
    // messages are placed with it, until an answer takes longer to come back than any delay: at
    // 1,024 frames it keeps up.
    JackMonitor jack({ "--ack", "--at", "37:wait", "--hold", "1000", "--dump", "5:100000" }, 1024);
    const auto held
        = run({ MORVEX_SEND, "--to", "monitor:Monitor", folder.path().string() }, logs.path());
    EXPECT_THAT(held.out + held.err,
        AllOf(HasSubstr("Waiting for the device..."),
            HasSubstr("The device answered 42 times: 40 ACK, 1 WAIT, 1 other.")));
    EXPECT_EQ(jack.received(40).size(), 40u * 20);
    const std::vector<std::uint64_t> arrivals = jack.arrivals();
    ASSERT_EQ(arrivals.size(), 40u);
    EXPECT_GE(arrivals[37] - arrivals[36], 1000000u) << "the 38th went before the ACK";
}

} // namespace
