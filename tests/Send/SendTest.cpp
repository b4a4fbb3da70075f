// morvex-send as a user runs it: its options, its dry run, and updates sent on a private JACK
// server to morvex-monitor. Nothing here asserts a time. A whole update's success is the ALSA
// machine's to show (tests/alsa), where no dummy backend misses deadlines.

#include "Process/FileDescriptor.h"
#include "SMF/SmfWriter.h"
#include "Send/Options.h"
#include "support/Controls.h"
#include "support/Jack.h"

#include <cerrno>
#include <cstring>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <utility>

namespace {

using smf::SmfWriter;
using testsupport::JackMonitor;
using testsupport::readText;
using testsupport::TempDir;

struct OnTerminal {
    int status = -1; // the exit status; -1 when it did not exit
    std::string seen; // everything written to the terminal, standard error included
};

// morvex-send on a pseudo-terminal of its own, 80 columns wide, as a person runs it in a terminal
// window. Waits up to two minutes for it to end: bounded only so that a hang fails.
OnTerminal onTerminal(std::vector<std::string> arguments)
{
    arguments.insert(arguments.begin(), MORVEX_SEND);
    std::vector<char*> argv;
    for (std::string& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    winsize size {};
    size.ws_row = 24;
    size.ws_col = 80;
    int master = -1;
    const pid_t pid = ::forkpty(&master, nullptr, nullptr, &size);
    if (pid == 0) {
        if (::prctl(PR_SET_PDEATHSIG, SIGTERM) == 0)
            ::execv(MORVEX_SEND, argv.data());
        ::_exit(127);
    }
    OnTerminal result;
    if (pid < 0) {
        ADD_FAILURE() << "no pseudo-terminal: " << std::strerror(errno);
        return result;
    }
    const process::FileDescriptor terminal(master);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
    // Read until the terminal's other side has closed (EIO), which it does when morvex-send ends.
    for (char buffer[4096];;) {
        pollfd ready { terminal.get(), POLLIN, 0 };
        if (std::chrono::steady_clock::now() > deadline) {
            ADD_FAILURE() << "morvex-send had not ended after two minutes";
            ::kill(pid, SIGKILL);
            break;
        }
        if (::poll(&ready, 1, 100) <= 0)
            continue;
        const ssize_t count = ::read(terminal.get(), buffer, sizeof buffer);
        if (count <= 0)
            break;
        result.seen.append(buffer, static_cast<std::size_t>(count));
    }
    int status = 0;
    if (::waitpid(pid, &status, 0) == pid && WIFEXITED(status))
        result.status = WEXITSTATUS(status);
    return result;
}

TEST(SendOptions, AcceptsTheThreeFormsAndRefusesWhatCannotBeMeant)
{
    const auto meaning = [](const std::vector<const char*>& arguments) -> std::string {
        const send::ParsedOptions parsed = send::parseOptions(arguments);
        if (!parsed.options)
            return parsed.error.empty() ? "refused without a reason" : "refused";
        const send::Options& options = *parsed.options;
        if (options.command != send::Options::Command::Send)
            return options.command == send::Options::Command::List ? "list" : "help";
        return (options.dryRun ? "dry run to '" : "send to '") + options.to + "' from '"
            + options.folder + "'";
    };
    const std::vector<std::pair<std::vector<const char*>, std::string>> cases {
        { { "--list" }, "list" },
        { { "--to", "Synth 1", "--", "-updates" }, "send to 'Synth 1' from '-updates'" },
        { { "--dry-run", "--to=2" }, "dry run to '2' from '.'" },
        { { "--to", "1", "--help" }, "help" },
        { {}, "refused" },
        { { "updates" }, "refused" },
        { { "--to" }, "refused" },
        { { "--to=" }, "refused" },
        { { "--to", "1", "a", "b" }, "refused" },
        { { "--list", "--to", "1" }, "refused" },
        { { "--list", "updates" }, "refused" },
        { { "--verbose", "--to", "1" }, "refused" },
    };
    for (const auto& [arguments, expected] : cases)
        EXPECT_EQ(meaning(arguments), expected) << testing::PrintToString(arguments);
}

// At 48 ticks per quarter and the default 500,000 µs per quarter, 96 ticks are one second. None of
// these needs a MIDI service. A folder that cannot be listed is named.
TEST(SendDryRun, FiguresAreTheFilesOwnDelaysAndPausesAndStatusesSayWhatWentWrong)
{
    TempDir folder;
    folder.write("a.mid",
        SmfWriter(48)
            .sysexOfSize(0, 10)
            .sysexOfSize(96, 300, 1) // 1 s
            .tempo(0, 250000)
            .sysexOfSize(48, 20, 2) // 0.25 s at the new tempo
            .file());
    folder.write("B.mid", SmfWriter(48).sysexOfSize(24, 7).file()); // 0.25 s, after a 2 s pause
    std::filesystem::create_directory(folder.path() / "c.mid"); // unreadable: skipped, no pause
    folder.write("d.MID", SmfWriter(48).sysexOfSize(0, 5).file()); // a pause of 2 s only
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
        { { "--dry-run", path + "/gone" }, 3, "Cannot list the folder “" + path + "/gone”" },
        { { "--dry-run", path + "/none" }, 3, "no \"mid\" file in " + path + "/none" },
        { { "--to" }, 2, "Try \"morvex-send --help\"" },
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

// On a private JACK server, to morvex-monitor by its number in the list: a damaged file stops the
// update before anything is sent, unless --send-damaged says to go on. Then, while morvex-send
// waits 3 s before b.mid's second message, the monitor goes: that is named. On a new one, Ctrl-C in
// the same wait lets that message out and nothing after it. The wait only makes room for the test
// to act: a machine that took longer would fail here, not pass wrongly.
TEST(Send, ADamagedFileAVanishedDestinationAndCtrlCInADelayEachEndItAsTheySay)
{
    MORVEX_SKIP_WITHOUT_JACKD();
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
        return testsupport::waitUntil(std::chrono::minutes(2), [&] {
            return readText(logs.path() / "out.txt").find("Waiting 3.000 s") != std::string::npos;
        });
    };
    std::filesystem::create_directory(folder.path() / "a.mid");
    const SmfWriter b
        = SmfWriter(48).sysexOfSize(0, 20).sysexOfSize(288, 30, 1).sysexOfSize(0, 40, 2);
    folder.write("b.mid", b.file());
    folder.write("c.mid", SmfWriter(48).sysexOfSize(0, 50).file());
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

    jack.emplace();
    auto cancelled = start({ "--send-damaged" });
    ASSERT_TRUE(waitingForTheSecondMessage());
    const int status = cancelled.stop(SIGINT);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 130) << status;
    EXPECT_THAT(
        readText(logs.path() / "err.txt"), testing::HasSubstr("cancelled after 50 of 140 bytes"));
    smf::Bytes firstTwo = b.messages()[0];
    firstTwo.insert(firstTwo.end(), b.messages()[1].begin(), b.messages()[1].end());
    EXPECT_EQ(jack->received(2), firstTwo);
}

// Update folders come from the internet. On a terminal, a file named to set the terminal's title,
// colour its text and fake a line of its own, and the longest name Linux allows with the other
// controls and bytes that are not UTF-8, show escaped, each on its one line: in the dry run whole,
// in the progress line cut in the middle to fit 80 columns, in the end report whole. A destination
// whose name would fake an entry of --list shows escaped there. No control reaches the terminal but
// morvex-send's own line feeds and line redraws, and the files still arrive whole.
TEST(Send, OnATerminalNamesShowEscapedOnTheirOwnLineAndTheirFilesStillArriveWhole)
{
    MORVEX_SKIP_WITHOUT_JACKD();
    const std::string hostile = "a\033]0;PWNED\007\033[31mred\033[0m\nFAKE: Complete Update.mid";
    const std::string hostileShown = "a\\e]0;PWNED\\a\\e[31mred\\e[0m\\nFAKE: Complete Update.mid";
    const std::string start = "\t\r\x7F\x9B\xFF "; // a C1 byte alone, and a byte never in UTF-8
    const std::string longName = start + std::string(255 - start.size() - 4, 'x') + ".mid";
    const std::string longShown
        = "\\t\\r\\x7F\\x9B\\xFF " + std::string(255 - start.size() - 4, 'x') + ".mid";
    TempDir folder;
    const SmfWriter first = SmfWriter(48).sysexOfSize(0, 300).sysexOfSize(0, 200, 1);
    folder.write(longName, first.file());
    // Without its End of Track, so that the end report names it and the update is still complete.
    const SmfWriter second = SmfWriter(48).sysexOfSize(0, 100, 2);
    smf::Bytes track = second.track();
    track.resize(track.size() - 4);
    folder.write(hostile, smf::smfFile(0, 1, 48, track));
    // Each line of the terminal: no control is left once line ends and redraws are taken away.
    const auto lines = [](std::string seen) {
        std::vector<std::string> lines;
        for (std::size_t redraw; (redraw = seen.find("\x1b[K")) != std::string::npos;)
            seen.erase(redraw, 3);
        EXPECT_EQ(testsupport::controlsIn(seen, "\r\n"), "");
        std::string line;
        for (const char c : seen + '\n') {
            if (c != '\r' && c != '\n')
                line += c;
            else if (!line.empty())
                lines.push_back(std::exchange(line, {}));
        }
        return lines;
    };

    JackMonitor jack;
    const testsupport::JackReceiver faker("Evil\n1  Serial MIDI (UART16550A)", "in");
    EXPECT_THAT(lines(onTerminal({ "--list" }).seen),
        testing::Contains(testing::EndsWith("  Evil\\n1  Serial MIDI (UART16550A):in")));

    const OnTerminal dryRun = onTerminal({ "--dry-run", folder.path().string() });
    EXPECT_EQ(dryRun.status, 0);
    EXPECT_THAT(lines(dryRun.seen),
        testing::ElementsAre(longShown + ": 2 messages, 500 bytes, 0.000 s",
            hostileShown + ": 1 messages, 100 bytes, 2.000 s",
            "Total: 2 files, 3 messages, 600 bytes, 2.000 s",
            hostileShown
                + " has no end of track after its last message (byte 124); its messages "
                  "are whole."));

    const OnTerminal sent = onTerminal({ "--to", "monitor:Monitor", folder.path().string() });
    EXPECT_EQ(sent.status, 0) << sent.seen;
    const std::vector<std::string> shown = lines(sent.seen);
    ASSERT_GE(shown.size(), 2u);
    EXPECT_THAT(std::vector(shown.end() - 2, shown.end()),
        testing::ElementsAre("Complete Update",
            hostileShown
                + " has no end of track after its last message (byte 124); its messages "
                  "are whole."));
    // The name as each progress line shows it, between the file's count and the figures.
    std::size_t progressLines[2] = {};
    for (const std::string& line : std::vector(shown.begin(), shown.end() - 2)) {
        EXPECT_LT(line.size(), 80u) << line; // in bytes: no character takes more columns
        const std::string name = line.substr(6, line.find("  ") - 6);
        if (line.starts_with("[1/2] ")) {
            ++progressLines[0];
            EXPECT_THAT(name,
                testing::AllOf(testing::StartsWith("\\t\\r\\x7F\\x9B\\xFF "),
                    testing::HasSubstr("…x"), testing::EndsWith("xx.mid")));
        } else if (line.starts_with("[2/2] ")) {
            ++progressLines[1];
            EXPECT_THAT(name,
                testing::AllOf(testing::StartsWith("a\\e]0;PWNED"), testing::HasSubstr("…"),
                    testing::EndsWith("Update.mid")));
        } else {
            ADD_FAILURE() << "a line of its own: " << line;
        }
    }
    EXPECT_TRUE(progressLines[0] > 0 && progressLines[1] > 0);
    smf::Bytes all;
    for (const smf::Bytes& message : first.messages())
        all.insert(all.end(), message.begin(), message.end());
    all.insert(all.end(), second.messages()[0].begin(), second.messages()[0].end());
    EXPECT_EQ(jack.received(3), all);
}

} // namespace
