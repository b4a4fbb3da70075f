// morvex-send as a user runs it: its options, its dry run, and updates sent on a private JACK
// server to morvex-monitor. Nothing here asserts a time. A whole update's success is the ALSA
// machine's to show (tests/alsa), where no dummy backend misses deadlines.

#include "Process/FileDescriptor.h"
#include "Sample/SampleUpdate.h"
#include "Send/Options.h"
#include "support/Bytes.h"
#include "support/Jack.h"
#include "support/OutsideNames.h"
#include "support/SmfBuilder.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sstream>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <utility>

namespace {

using testsupport::JackMonitor;
using testsupport::readText;
using testsupport::SmfBuilder;
using testsupport::TempDir;

// morvex-send on a pseudo-terminal of its own, 80 columns wide, as a person runs it in a terminal
// window: its exit status (-1 when it did not exit) and all it wrote there, standard error too.
std::pair<int, std::string> onTerminal(std::vector<std::string> arguments)
{
    arguments.insert(arguments.begin(), MORVEX_SEND);
    std::vector<char*> argv;
    for (std::string& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    int master = -1;
    winsize size { 24, 80, 0, 0 };
    const pid_t pid = ::forkpty(&master, nullptr, nullptr, &size);
    if (pid == 0) {
        if (::prctl(PR_SET_PDEATHSIG, SIGTERM) == 0)
            ::execv(MORVEX_SEND, argv.data());
        ::_exit(127);
    }
    if (pid < 0)
        return { -1, std::strerror(errno) };
    const process::FileDescriptor terminal(master);
    std::string seen;
    // Until the terminal's other side closes (EIO), as it does when morvex-send ends.
    for (char buffer[4096];;) {
        pollfd ready { master, POLLIN, 0 };
        if (::poll(&ready, 1, 120000) != 1) {
            ADD_FAILURE() << "morvex-send neither wrote nor ended for two minutes";
            ::kill(pid, SIGKILL);
        }
        const ssize_t count = ::read(master, buffer, sizeof buffer);
        if (count <= 0)
            break;
        seen.append(buffer, static_cast<std::size_t>(count));
    }
    int status = 0;
    const bool exited = ::waitpid(pid, &status, 0) == pid && WIFEXITED(status);
    return { exited ? WEXITSTATUS(status) : -1, seen };
}

TEST(SendOptions, AcceptsTheThreeFormsAndRefusesWhatCannotBeMeant)
{
    const auto meaning = [](const std::vector<const char*>& arguments) -> std::string {
        const send::ParsedOptions parsed = send::parseOptions(arguments);
        if (!parsed.options)
            return "refused: " + parsed.error;
        const send::Options& options = *parsed.options;
        if (options.command != send::Options::Command::Send)
            return options.command == send::Options::Command::List ? "list" : "help";
        return (options.dryRun ? "dry run to '" : "send to '") + options.to + "' from '"
            + options.folder + "'" + (options.shareDestination ? ", shared" : "")
            + (options.slower != 1 ? " at " + testing::PrintToString(options.slower) : "");
    };
    const std::vector<std::pair<std::vector<const char*>, std::string>> cases {
        { { "--list" }, "list" },
        { { "--to", "Synth 1", "--", "-updates" }, "send to 'Synth 1' from '-updates'" },
        { { "--dry-run", "--to=2" }, "dry run to '2' from '.'" },
        { { "--to", "1", "--help" }, "help" },
        { {}, "refused: say where to send" },
        { { "updates" }, "refused: say where to send" },
        { { "--to" }, "refused: --to needs a value" },
        { { "--to=" }, "refused: --to needs a destination" },
        { { "--to", "1", "a", "b" }, "refused: one folder at most, not also \"b\"" },
        { { "--list", "--to", "1" }, "refused: --list takes nothing else" },
        { { "--share-destination", "--to", "1" }, "send to '1' from '.', shared" },
        { { "--verbose", "--to", "1" }, "refused: unknown option \"--verbose\"" },
        { { "--timeout", "0", "--list" }, "refused: --timeout takes whole seconds" },
        { { "--slower", "1.5", "--to", "1" }, "send to '1' from '.' at 1.5" },
        { { "--slower=10", "--dry-run" }, "dry run to '' from '.' at 10" },
        { { "--slower", "1", "--dry-run" }, "dry run to '' from '.'" },
        { { "--slower", "0.5", "--dry-run" }, "refused: --slower takes a number" },
        { { "--slower", "10.01", "--dry-run" }, "refused: --slower takes a number" },
        { { "--slower", "2x", "--dry-run" }, "refused: --slower takes a number" },
        { { "--slower", "1,5", "--dry-run" }, "refused: --slower takes a number" },
        { { "--list", "--slower", "2" }, "refused: --list takes nothing else" },
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

// At 48 ticks per quarter and the default 500,000 µs per quarter, 96 ticks are one second; --slower
// stretches delays and pauses alike. None of these needs a MIDI service. A folder that cannot be
// listed is named.
TEST(SendDryRun, FiguresAreTheFilesOwnDelaysAndPausesAndStatusesSayWhatWentWrong)
{
    TempDir folder;
    folder.write("a.mid",
        SmfBuilder(48)
            .sysexOfSize(0, 10)
            .sysexOfSize(96, 300, 1) // 1 s
            .tempo(0, 250000)
            .sysexOfSize(48, 20, 2) // 0.25 s at the new tempo
            .file());
    folder.write("B.mid", SmfBuilder(48).sysexOfSize(24, 7).file()); // 0.25 s, after a 2 s pause
    std::filesystem::create_directory(folder.path() / "c.mid"); // unreadable: skipped, no pause
    folder.write("d.MID", SmfBuilder(48).sysexOfSize(0, 5).file()); // a pause of 2 s only
    std::filesystem::create_directory(folder.path() / "none");
    const std::string path = folder.path().string();
    const std::tuple<std::vector<std::string>, int, std::string> cases[] = {
        { { "--dry-run", path }, 1,
            "a.mid: 3 messages, 330 bytes, 1.250 s\n"
            "B.mid: 1 messages, 7 bytes, 2.250 s\n"
            "c.mid: 0 messages, 0 bytes, 0.000 s\n"
            "d.MID: 1 messages, 5 bytes, 2.000 s\n"
            "Total: 4 files, 5 messages, 342 bytes, 5.500 s\n" // the end of standard output
            "The update would be incomplete:\nc.mid could not be read: it is a folder.\n" },
        { { "--dry-run", "--slower", "2", path }, 1,
            "Total: 4 files, 5 messages, 342 bytes, 11.000 s, 2\u00D7 slower\n" },
        { { "--dry-run", path + "/gone" }, 3, "Cannot list the folder “" + path + "/gone”" },
        { { "--dry-run", path + "/none" }, 3, "no \"mid\" file in " + path + "/none" },
        { { "--dry-run", "--slower", "twice", path }, 2,
            "morvex-send: --slower takes a number from 1 to 10 (1.5, say), not \"twice\"\n" },
        { { "--help" }, 0, "Exit status:" },
    };
    for (const auto& [arguments, status, said] : cases) {
        TempDir logs;
        std::vector<std::string> command { MORVEX_SEND };
        command.insert(command.end(), arguments.begin(), arguments.end());
        const auto run = testsupport::run(command, logs.path());
        EXPECT_EQ(run.status, status) << testing::PrintToString(arguments);
        EXPECT_THAT(run.out + run.err, testing::HasSubstr(said));
    }
}

// On a private JACK server, to morvex-monitor by its number in the list (there is no number 0): a
// damaged file stops the update before anything is sent, unless --send-damaged says to go on.
// Then, while morvex-send waits 3 s before b.mid's second message, the monitor goes: that is
// named. On a new one, a second morvex-send refuses, and Ctrl-C in the same wait lets that message
// out and nothing after it. The wait only makes room for the test to act: a machine that took
// longer would fail here, not pass wrongly.
TEST(Send, ADamagedFileAVanishedDestinationAndCtrlCInADelayEachEndItAsTheySay)
{
    MORVEX_SKIP_WITHOUT_JACK_SERVER();
    TempDir logs;
    TempDir folder;
    std::optional<JackMonitor> jack(std::in_place);
    const auto start = [&](std::vector<std::string> options) {
        options.insert(options.begin(), MORVEX_SEND);
        options.insert(options.end(), { "--to", "1", folder.path().string() });
        return testsupport::start(options, logs.path());
    };
    // morvex-send prints "Waiting" after the transfer's last cancel check before that wait.
    const auto waitingForTheSecondMessage = [&] {
        return testsupport::waitFor("morvex-send to wait before b.mid's second message", [&] {
            return readText(logs.path() / "out.txt").find("Waiting 3.000 s") != std::string::npos;
        });
    };
    std::filesystem::create_directory(folder.path() / "a.mid");
    const SmfBuilder b
        = SmfBuilder(48).sysexOfSize(0, 20).sysexOfSize(288, 30, 1).sysexOfSize(0, 40, 2);
    folder.write("b.mid", b.file());
    folder.write("c.mid", SmfBuilder(48).sysexOfSize(0, 50).file());
    // Numbers count from 1: 0 names nothing, even in a dry run.
    const auto none = testsupport::run(
        { MORVEX_SEND, "--dry-run", "--to", "0", folder.path().string() }, logs.path());
    EXPECT_EQ(none.status, 3);
    EXPECT_THAT(none.err, testing::HasSubstr("there is no destination 0: 1 are listed"));
    auto declined = start({});
    const auto refused = testsupport::finish(declined, logs.path());
    EXPECT_EQ(refused.status, 1);
    EXPECT_THAT(refused.err, testing::StartsWith("Nothing was sent: these files are damaged"));

    auto vanished = start({ "--send-damaged" });
    ASSERT_TRUE(waitingForTheSecondMessage());
    EXPECT_EQ(jack->received(1), b.messages()[0]) << "the file after the unreadable one still goes";
    const auto run = testsupport::finish(vanished, logs.path());
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.err,
        testing::HasSubstr("Update Incomplete\na.mid could not be read: it is a folder.\nb.mid: 2 "
                           "of 3 messages were not delivered to monitor:Monitor"));

    // A second morvex-send to the same destination meanwhile names the first and sends nothing.
    jack.emplace();
    auto cancelled = start({ "--send-damaged" });
    ASSERT_TRUE(waitingForTheSecondMessage());
    TempDir secondLogs;
    const auto second = testsupport::run(
        { MORVEX_SEND, "--send-damaged", "--to", "1", folder.path().string() }, secondLogs.path());
    EXPECT_EQ(second.status, 1);
    EXPECT_THAT(second.err,
        testing::HasSubstr("Nothing was sent: Also sending to monitor:Monitor: Morvex:Morvex "
                           "Output Port. Their messages would be mixed into the update. "
                           "(--share-destination sends the update all the same)"));
    const int status = cancelled.stop(SIGINT);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 130) << status;
    EXPECT_THAT(readText(logs.path() / "err.txt"),
        testing::AllOf(testing::HasSubstr("cancelling after the message under way"),
            testing::HasSubstr("cancelled after 50 of 140 bytes")));
    EXPECT_EQ(jack->received(2), testsupport::joined({ b.messages()[0], b.messages()[1] }));
}

// --slower 2: two messages a second apart arrive whole, two seconds or more of the server's frames
// apart (the transfer's own tests show the pause between files stretched alike). Nothing here is
// timed: the gap is the server's frames.
TEST(Send, TwiceAsSlowDoublesTheDelay)
{
    MORVEX_SKIP_WITHOUT_JACK_SERVER();
    testsupport::JackServer server;
    const testsupport::ScopedVariable jack("MORVEX_MIDI", "jack");
    testsupport::JackReceiver receiver("receiver", "in");
    TempDir folder;
    TempDir logs;
    const SmfBuilder update = SmfBuilder(48).sysexOfSize(0, 20).sysexOfSize(96, 30, 1);
    folder.write("a.mid", update.file());
    const auto sent = testsupport::run(
        { MORVEX_SEND, "--to", "receiver:in", "--slower", "2", folder.path().string() },
        logs.path());
    EXPECT_EQ(sent.status, 0) << sent.err;
    const auto& arrived = receiver.waitFor(2);
    ASSERT_EQ(arrived.size(), 2u);
    EXPECT_EQ(arrived[0].bytes, update.messages()[0]);
    EXPECT_EQ(arrived[1].bytes, update.messages()[1]);
    EXPECT_GE(std::int32_t(arrived[1].frame - arrived[0].frame), 2 * 48000) << "at 48 kHz";
}

// Update folders come from the internet. On a terminal, a file named to set the terminal's title,
// colour its text and fake a line of its own, and the longest name Linux allows with the other
// controls and bytes that are not UTF-8, show escaped, each on its one line: in the dry run whole,
// in the progress line cut in the middle to fit 80 columns, in the end report whole. A destination
// whose name would fake an entry of --list shows escaped there. No control reaches the terminal but
// morvex-send's own line feeds and line redraws, and the files still arrive whole.
TEST(Send, OnATerminalNamesShowEscapedOnTheirOwnLineAndTheirFilesStillArriveWhole)
{
    MORVEX_SKIP_WITHOUT_JACK_SERVER();
    using testsupport::HostileShown;
    using testsupport::LongShown;
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
    EXPECT_THAT(lines(onTerminal({ "--list" }).second),
        testing::Contains(testing::EndsWith("  Evil\\n1  Serial MIDI (UART16550A):in")));
    const std::string remark = HostileShown
        + " has no end of track after its last message (byte 124); its messages are whole.";

    const auto [dryRunStatus, dryRun] = onTerminal(
        { "--dry-run", "--to", "Evil\\n1  Serial MIDI (UART16550A):in", folder.path().string() });
    EXPECT_EQ(dryRunStatus, 0);
    EXPECT_THAT(lines(dryRun),
        testing::ElementsAre(LongShown + ": 2 messages, 500 bytes, 0.000 s",
            HostileShown + ": 1 messages, 100 bytes, 2.000 s",
            "Total: 2 files, 3 messages, 600 bytes, 2.000 s", remark));

    const auto [status, seen] = onTerminal({ "--to", "monitor:Monitor", folder.path().string() });
    EXPECT_EQ(status, 0) << seen;
    const std::vector<std::string> shown = lines(seen);
    ASSERT_GE(shown.size(), 2u);
    EXPECT_THAT(
        std::vector(shown.end() - 2, shown.end()), testing::ElementsAre("Complete Update", remark));
    // Every line before is the progress line, each name cut in the middle to fit.
    std::size_t perFile[2] = {};
    for (const std::string& line : std::vector(shown.begin(), shown.end() - 2)) {
        EXPECT_LT(line.size(), 80u) << line; // in bytes: no character takes more columns
        const bool first = line.starts_with("[1/2] \\t\\r\\x7F\\x9B\\xFF ")
            && line.find("x.mid  ") != std::string::npos;
        const bool second = line.starts_with("[2/2] a\\e]0;PWNED\\a")
            && line.find("Update.mid  ") != std::string::npos;
        EXPECT_TRUE((first || second) && line.find("…") != std::string::npos) << line;
        ++perFile[second];
    }
    EXPECT_TRUE(perFile[0] > 0 && perFile[1] > 0);
    EXPECT_EQ(jack.received(3),
        testsupport::joined({ first.messages()[0], first.messages()[1], second.messages()[0] }));
}

// A JACK server stopped dead (SIGSTOP), in a /dev/shm of the test's own (tests/support/private-shm
// runs this): morvex-send names it and ends with "nothing was sent" once its --timeout has passed,
// for a list and a send alike, and Ctrl-C or SIGTERM ends one that waits for it at once, without
// the sentence about a message under way.
TEST(FrozenServer, SendNamesTheServerThatDoesNotAnswerAndSignalsEndItsWait)
{
    MORVEX_SKIP_WITHOUT_JACK_SERVER();
    MORVEX_SKIP_WITHOUT_PRIVATE_SHM();
    testsupport::JackServer server;
    const testsupport::ScopedVariable jack("MORVEX_MIDI", "jack");
    TempDir logs;
    TempDir folder;
    folder.write("a.mid", SmfBuilder(48).sysexOfSize(0, 20).file());
    const std::string to = folder.path().string();
    server.freeze();
    const std::vector<std::string> commands[] = { { MORVEX_SEND, "--list", "--timeout", "1" },
        { MORVEX_SEND, "--to", "1", "--timeout", "1", to } };
    for (const auto& command : commands) {
        const auto run = testsupport::run(command, logs.path());
        EXPECT_EQ(run.status, 3) << command[1];
        EXPECT_THAT(run.err,
            testing::HasSubstr("The JACK server \"" + server.name()
                + "\" does not answer (Morvex gave up after 1 s)"))
            << command[1];
    }
#ifdef __SANITIZE_THREAD__
    // ThreadSanitizer's own thread makes the thread count no sign that morvex-send's signal thread
    // has started: a signal could come before it is taken.
    return;
#endif
    for (const int signal : { SIGINT, SIGTERM }) {
        auto waiting
            = testsupport::start({ MORVEX_SEND, "--to", "1", "--timeout", "600", to }, logs.path());
        // Its signal thread is the first it starts: from then on a signal is its own to take.
        ASSERT_TRUE(testsupport::waitUntil(
            std::chrono::seconds(60), [&] { return waiting.threads() >= 2; }));
        const int status = waiting.stop(signal);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 130) << status;
        EXPECT_THAT(readText(logs.path() / "err.txt"),
            testing::AllOf(testing::HasSubstr("cancelled; nothing was sent"),
                testing::Not(testing::HasSubstr("under way"))));
    }
}

// The device talks back: morvex-monitor answering as told, on a server of its own for each way
// it answers. The listing says which destination can answer; --identify shows the monitor's ID.
// ACK to every message of the sample update is counted, and a 100 kB reply after the fifth is
// kept whole among them. The dummy backend may miss a deadline on a busy machine, which makes
// some message uncertain: then that, and only that, makes the update incomplete.
TEST(SendHeard, AckedEveryMessageIdentifiedAndALongReplyKept)
{
    MORVEX_SKIP_WITHOUT_JACK_SERVER();
    TempDir logs;
    TempDir folder;
    for (const sample::UpdateFile& file : sample::makeUpdate({}))
        folder.write(file.name, file.bytes);
    JackMonitor jack({ "--ack", "--dump", "5:100000" });
    const testsupport::JackReceiver deaf("deaf", "In");
    const auto list = testsupport::run({ MORVEX_SEND, "--list" }, logs.path());
    EXPECT_THAT(list.out,
        testing::AllOf(testing::HasSubstr("  monitor:Monitor  (can answer)\n"),
            testing::HasSubstr("  deaf:In\n")));
    const auto identified
        = testsupport::run({ MORVEX_SEND, "--identify", "--to", "monitor:Monitor" }, logs.path());
    EXPECT_EQ(identified.status, 0) << identified.err;
    EXPECT_EQ(identified.out,
        "Device ID 10: manufacturer 7D, family 4D 56 (11085), model 01 00 (1), software revision "
        "00 00 00 01 (0.0.0.1)\n");
    const auto cannot
        = testsupport::run({ MORVEX_SEND, "--identify", "--to", "deaf:In" }, logs.path());
    EXPECT_EQ(cannot.status, 3);
    EXPECT_THAT(cannot.err, testing::HasSubstr("\"deaf:In\" cannot answer"));

    const auto sent = testsupport::run(
        { MORVEX_SEND, "--to", "monitor:Monitor", folder.path().string() }, logs.path());
    // Which message a reply followed depends on how fast it came back: here only the count, and
    // that the last ACK came last.
    const auto heard = testing::AllOf(
        testing::HasSubstr("The device answered 318 times: 317 ACK, 1 other. The last:\n"),
        testing::EndsWith("-settings-tempo-change.mid: F0 7E 10 7F 3C F7\n"));
    if (sent.status == 0) {
        EXPECT_THAT(sent.out, testing::HasSubstr("Complete Update\nThe device answered"));
        EXPECT_THAT(sent.out, heard);
    } else {
        EXPECT_EQ(sent.status, 1);
        EXPECT_THAT(sent.err,
            testing::AllOf(testing::HasSubstr("may not have arrived"),
                testing::Not(testing::HasSubstr("refused")), heard));
    }
    EXPECT_EQ(jack.received(318).size(), 6 + 109824u) << "the Identity Request, then the update";
}

// A loaded machine's dummy JACK driver falls behind at short periods, and the frames at which
// messages are placed with it, until an answer takes longer to come back than any delay: at
// 1,024 frames it keeps up.
constexpr unsigned AnswerPeriod = 1024;

// 36 messages in a burst, then one a second, longer than any answer takes to come back. A NAK to
// the 37th stops the update before the 38th, and the end names the message refused.
// A WAIT to the 37th holds the 38th until the ACK the monitor sends a second later.
TEST(SendHeard, ARefusalStopsTheUpdateAndAWaitHoldsIt)
{
    MORVEX_SKIP_WITHOUT_JACK_SERVER();
    TempDir logs;
    TempDir folder;
    SmfBuilder update(48);
    for (std::uint8_t i = 0; i < 40; ++i)
        update.sysexOfSize(i < 36 ? 0 : 96, 20, i); // 96 ticks: 1 s
    folder.write("02 System.mid", update.file());
    const auto send = [&] {
        return testsupport::run(
            { MORVEX_SEND, "--to", "monitor:Monitor", folder.path().string() }, logs.path());
    };
    {
        JackMonitor jack({ "--ack", "--at", "37:nak" }, AnswerPeriod);
        const auto refused = send();
        EXPECT_EQ(refused.status, 1);
        EXPECT_THAT(refused.err,
            testing::AllOf(testing::HasSubstr("Update Incomplete\nThe device refused message 37 "
                                              "of 02 System.mid (NAK). Nothing was sent after it"),
                testing::HasSubstr("37 times: 36 ACK, 1 NAK")));
        EXPECT_EQ(jack.received(37).size(), 37u * 20) << "nothing after the 37th";
    }

    JackMonitor jack({ "--ack", "--at", "37:wait", "--hold", "1000" }, AnswerPeriod);
    const auto held = send();
    EXPECT_THAT(held.out + held.err,
        testing::AllOf(testing::HasSubstr("Waiting for the device..."),
            testing::HasSubstr("The device answered 41 times: 40 ACK, 1 WAIT.")));
    EXPECT_EQ(jack.received(40).size(), 40u * 20);
    const std::vector<std::uint64_t> arrivals = jack.arrivals();
    ASSERT_EQ(arrivals.size(), 40u);
    EXPECT_GE(arrivals[37] - arrivals[36], 1000000u) << "the 38th went before the ACK";
}

} // namespace
