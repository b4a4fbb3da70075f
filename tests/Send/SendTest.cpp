// morvex-send as a user runs it: its options, its dry run, and updates sent on a private JACK
// server to morvex-monitor. Nothing here asserts a time. A whole update's success is the ALSA
// machine's to show (tests/alsa), where no dummy backend misses deadlines.

#include "SMF/SmfWriter.h"
#include "Send/Options.h"
#include "support/Jack.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

namespace {

using smf::SmfWriter;
using testsupport::JackMonitor;
using testsupport::readText;
using testsupport::TempDir;

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
    EXPECT_THAT(readText(logs.path() / "err.txt"),
        testing::AllOf(testing::HasSubstr("cancelling after the message under way"),
            testing::HasSubstr("cancelled after 50 of 140 bytes")));
    smf::Bytes firstTwo = b.messages()[0];
    firstTwo.insert(firstTwo.end(), b.messages()[1].begin(), b.messages()[1].end());
    EXPECT_EQ(jack->received(2), firstTwo);
}

// A JACK server stopped dead (SIGSTOP), in a /dev/shm of the test's own (tests/support/private-shm
// runs this): morvex-send names it and ends with "nothing was sent" once its --timeout has passed,
// for a list and a send alike, and Ctrl-C or SIGTERM ends one that waits for it at once, without
// the sentence about a message under way.
TEST(FrozenServer, SendNamesTheServerThatDoesNotAnswerAndSignalsEndItsWait)
{
    MORVEX_SKIP_WITHOUT_JACKD();
    MORVEX_SKIP_WITHOUT_PRIVATE_SHM();
    testsupport::JackServer server;
    ::setenv("MORVEX_MIDI", "jack", 1);
    TempDir logs;
    TempDir folder;
    folder.write("a.mid", SmfWriter(48).sysexOfSize(0, 20).file());
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
    ::unsetenv("MORVEX_MIDI");
}

} // namespace
