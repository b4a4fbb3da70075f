// morvex-send without a MIDI service: the dry run's figures and the statuses that need no device.

#include "SMF/SmfWriter.h"
#include "SendRun.h"
#include "support/TempDir.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace {

using sendtest::runSend;
using smf::SmfWriter;
using testsupport::TempDir;

// At 48 ticks per quarter and the default 500,000 µs per quarter, 96 ticks are one second.
TEST(SendDryRun, FiguresAreTheFilesOwnDelaysAndPauses)
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
    folder.write("notes.txt", {});
    TempDir logs;
    const auto run = runSend({ "--dry-run", folder.path().string() }, logs.path());
    EXPECT_EQ(run.out,
        "a.mid: 3 messages, 330 bytes, 1.250 s\n"
        "B.mid: 1 messages, 7 bytes, 2.250 s\n"
        "c.mid: 0 messages, 0 bytes, 0.000 s\n"
        "d.MID: 1 messages, 5 bytes, 2.000 s\n"
        "Total: 4 files, 5 messages, 342 bytes, 5.500 s\n");
    EXPECT_EQ(
        run.err, "The update would be incomplete:\nc.mid could not be read: it is a folder.\n");
    EXPECT_EQ(run.status, 1);
}

TEST(SendDryRun, StatusesSayWhatWentWrong)
{
    TempDir empty;
    TempDir logs;
    const auto nothing = runSend({ "--dry-run", empty.path().string() }, logs.path());
    EXPECT_EQ(nothing.status, 3);
    EXPECT_NE(nothing.err.find("no \"mid\" file in " + empty.path().string()), std::string::npos)
        << nothing.err;
    const auto missing = runSend({ "--dry-run", (empty.path() / "gone").string() }, logs.path());
    EXPECT_EQ(missing.status, 3);
    EXPECT_NE(missing.err.find("Cannot list the folder"), std::string::npos) << missing.err;

    const auto usage = runSend({ "--to" }, logs.path());
    EXPECT_EQ(usage.status, 2);
    EXPECT_NE(usage.err.find("--help"), std::string::npos) << usage.err;
    const auto help = runSend({ "--help" }, logs.path());
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("Exit status:"), std::string::npos);
}

} // namespace
