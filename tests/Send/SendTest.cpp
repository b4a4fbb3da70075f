// morvex-send against a private JACK server, the monitor as its destination: both run as
// processes, as a user runs them. Nothing here asserts a time. The dummy backend of a loaded
// machine misses deadlines now and then; a send the JACK layer then cannot vouch for goes on and
// the file is named "may not have arrived" at the end, with status 1. Where a test expects
// "Complete Update" it accepts that status only when those are the only reasons, and checks every
// byte that arrived either way.

#include "Input.h"
#include "SendRun.h"
#include "support/ChildProcess.h"
#include "support/JackServer.h"
#include "support/Smf.h"
#include "support/TempDir.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <optional>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using sendtest::readText;
using sendtest::runSend;
using testsupport::ChildProcess;
using testsupport::SmfBuilder;
using testsupport::TempDir;

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> all;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        all.push_back(line);
    return all;
}

// Status 0, or 1 where every reason is a send the JACK server could not vouch for.
void expectComplete(const sendtest::SendRun& run)
{
    if (run.status == 0) {
        EXPECT_NE(run.out.find("Complete Update\n"), std::string::npos) << run.out;
        return;
    }
    ASSERT_EQ(run.status, 1) << run.err;
    const auto reasons = lines(run.err);
    ASSERT_FALSE(reasons.empty());
    EXPECT_EQ(reasons.front(), "Update Incomplete");
    for (std::size_t i = 1; i < reasons.size(); ++i)
        EXPECT_NE(reasons[i].find("may not have arrived"), std::string::npos) << reasons[i];
}

class Send : public ::testing::Test {
protected:
    void SetUp() override
    {
        MORVEX_SKIP_WITHOUT_JACKD();
        ::setenv("MORVEX_MIDI", "jack", 1);
        mServer.emplace();
        mMonitor.emplace(std::vector<std::string> { MORVEX_MONITOR, "--service", "jack", "--client",
                             "monitor-" + std::to_string(::getpid()), "--name", mName, "--syx",
                             (mLogs.path() / "received.syx").string() },
            mLogs.path() / "monitor.txt");
        // The monitor is a destination once morvex-send lists it.
        for (int tries = 0; tries < 500 && mNumber.empty(); ++tries) {
            for (const std::string& line : lines(runSend({ "--list" }, mLogs.path()).out))
                if (line.ends_with("  " + mName))
                    mNumber = line.substr(0, line.find(' '));
            if (mNumber.empty())
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        ASSERT_FALSE(mNumber.empty())
            << "the monitor never appeared in morvex-send --list\nmonitor:\n"
            << readText(mLogs.path() / "monitor.txt") << "jackd:\n"
            << mServer->log();
    }

    void TearDown() override { ::unsetenv("MORVEX_MIDI"); }

    // The monitor's lines, one per message, once count have come or the monitor has stopped.
    std::vector<std::string> received(std::size_t count)
    {
        std::vector<std::string> all;
        for (int tries = 0; tries < 2000; ++tries) {
            all = lines(readText(mLogs.path() / "monitor.txt"));
            std::erase_if(all,
                [](const std::string& line) { return line.find("crc32") == std::string::npos; });
            if (all.size() >= count || !mMonitor)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return all;
    }

    // Lines appear in the monitor's output as it polls; this waits for one that starts so.
    bool waitForLine(const std::filesystem::path& file, const std::string& start)
    {
        for (int tries = 0; tries < 2000; ++tries) {
            for (const std::string& line : lines(readText(file)))
                if (line.starts_with(start))
                    return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

    static void expectMessage(const std::string& line, const smf::Bytes& message)
    {
        char crc[16];
        std::snprintf(crc, sizeof crc, "crc32 %08X", midi::crc32(message));
        EXPECT_NE(line.find(crc), std::string::npos) << line;
        EXPECT_NE(line.find(" " + std::to_string(message.size()) + " bytes"), std::string::npos)
            << line;
    }

    const std::string mName = "Monitor " + std::to_string(::getpid());
    TempDir mLogs;
    TempDir mFolder;
    // Started in this order, stopped the other way round: monitor, then server.
    std::optional<testsupport::JackServer> mServer;
    std::optional<ChildProcess> mMonitor;
    std::string mNumber; // the monitor's number in morvex-send --list
};

TEST_F(Send, EveryMessageOfEveryFileArrivesWhole)
{
    const SmfBuilder first
        = SmfBuilder(48).sysexOfSize(0, 2).sysexOfSize(4, 300, 1).sysexOfSize(0, 3000, 2);
    const SmfBuilder second = SmfBuilder(48).sysexOfSize(2, 256, 3).sysexOfSize(2, 257, 4);
    // Sent in reading order: part2 before part10.
    mFolder.write("part10.mid", second.file());
    mFolder.write("part2.mid", first.file());
    const auto run = runSend({ "--to", mNumber, mFolder.path().string() }, mLogs.path());
    expectComplete(run);
    std::vector<smf::Bytes> sent = first.messages();
    sent.insert(sent.end(), second.messages().begin(), second.messages().end());
    const auto arrived = received(sent.size());
    ASSERT_EQ(arrived.size(), sent.size());
    smf::Bytes all;
    for (std::size_t i = 0; i < sent.size(); ++i) {
        expectMessage(arrived[i], sent[i]);
        all.insert(all.end(), sent[i].begin(), sent[i].end());
    }
    EXPECT_EQ(mMonitor->stop(SIGTERM), 0);
    const std::string syx = readText(mLogs.path() / "received.syx");
    EXPECT_EQ(smf::Bytes(syx.begin(), syx.end()), all);
}

TEST_F(Send, AFileThatCannotBeReadIsNamedAndTheOthersStillGo)
{
    const SmfBuilder readable = SmfBuilder(48).sysexOfSize(0, 40).sysexOfSize(1, 50, 1);
    mFolder.write("a.mid", readable.file());
    std::filesystem::create_directory(mFolder.path() / "b.mid");
    const auto run = runSend({ "--to", mName, mFolder.path().string() }, mLogs.path());
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("Update Incomplete\n"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("\nb.mid could not be read.\n"), std::string::npos) << run.err;
    const auto arrived = received(2);
    ASSERT_EQ(arrived.size(), 2u);
    expectMessage(arrived[0], readable.messages()[0]);
    expectMessage(arrived[1], readable.messages()[1]);
}

// The monitor goes while morvex-send waits 3 s before the second message. The wait only makes
// room for the test to stop it: a machine that took longer would deliver the message and fail
// here, not pass wrongly.
TEST_F(Send, ADestinationThatVanishesIsNamed)
{
    mFolder.write("a.mid", SmfBuilder(48).sysexOfSize(0, 20).sysexOfSize(288, 30).file());
    ChildProcess sender({ "sh", "-c", "e=$1; shift; \"$@\" 2>\"$e\"; echo \"exit $?\"", "sh",
                            (mLogs.path() / "err.txt").string(), MORVEX_SEND, "--to", mNumber,
                            mFolder.path().string() },
        mLogs.path() / "out.txt");
    ASSERT_TRUE(waitForLine(mLogs.path() / "out.txt", "Waiting 3.000 s"));
    EXPECT_EQ(mMonitor->stop(SIGTERM), 0);
    mMonitor.reset();
    for (int tries = 0; tries < 2000 && !sender.exited(); ++tries)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_NE(readText(mLogs.path() / "out.txt").find("exit 1\n"), std::string::npos);
    const std::string err = readText(mLogs.path() / "err.txt");
    EXPECT_NE(err.find("a.mid: 1 of 2 messages were not delivered to " + mName), std::string::npos)
        << err;
}

// "Waiting" is printed after the transfer's last cancel check before that wait: the Ctrl-C that
// follows it must let the message after the wait out, and nothing after that.
TEST_F(Send, CtrlCDuringADelayLetsThatMessageOutAndNothingAfter)
{
    const SmfBuilder file
        = SmfBuilder(48).sysexOfSize(0, 20).sysexOfSize(288, 30, 1).sysexOfSize(0, 40, 2);
    mFolder.write("a.mid", file.file());
    mFolder.write("b.mid", SmfBuilder(48).sysexOfSize(0, 50).file());
    // exec: the process that gets SIGINT is morvex-send itself, as with Ctrl-C.
    ChildProcess sender({ "sh", "-c", "e=$1; shift; exec \"$@\" 2>\"$e\"", "sh",
                            (mLogs.path() / "err.txt").string(), MORVEX_SEND, "--to", mNumber,
                            mFolder.path().string() },
        mLogs.path() / "out.txt");
    ASSERT_TRUE(waitForLine(mLogs.path() / "out.txt", "Waiting 3.000 s"));
    const int status = sender.stop(SIGINT);
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 130);
    const std::string err = readText(mLogs.path() / "err.txt");
    EXPECT_NE(err.find("cancelled after 50 of 140 bytes"), std::string::npos) << err;
    ASSERT_GE(received(2).size(), 2u);
    EXPECT_EQ(mMonitor->stop(SIGTERM), 0);
    mMonitor.reset();
    const auto atEnd = received(3);
    ASSERT_EQ(atEnd.size(), 2u) << "the first two messages, and not the third";
    expectMessage(atEnd[0], file.messages()[0]);
    expectMessage(atEnd[1], file.messages()[1]);
}

} // namespace
